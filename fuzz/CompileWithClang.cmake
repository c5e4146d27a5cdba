# Compiles each of SOURCES with CLANGXX (syntax and semantics only, no code),
# with the folders of INCLUDE on the include path.
list(TRANSFORM INCLUDE PREPEND -I OUTPUT_VARIABLE include_flags)
foreach(source ${SOURCES})
  execute_process(COMMAND ${CLANGXX} -std=c++20 -Wall -Wextra -Werror -fsyntax-only
                          ${include_flags} ${source}
                  RESULT_VARIABLE result ERROR_VARIABLE errors)
  if(NOT result EQUAL 0)
    message(FATAL_ERROR "clang cannot compile ${source}:\n${errors}")
  endif()
endforeach()
