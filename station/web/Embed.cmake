# Turns the dashboard's files into one C++ source of string literals, so the
# binary serves them without touching the file system.
#   cmake -DSITE=<dir> -DOUTPUT=<file.cpp> -P Embed.cmake
cmake_minimum_required(VERSION 3.25)

set(delimiter "quorlan_asset")
file(GLOB_RECURSE files RELATIVE "${SITE}" "${SITE}/*")
list(SORT files)

set(literals "")
set(table "")
set(index 0)
foreach(file IN LISTS files)
  get_filename_component(extension "${file}" LAST_EXT)
  if(extension STREQUAL ".html")
    set(type "text/html; charset=utf-8")
  elseif(extension STREQUAL ".css")
    set(type "text/css; charset=utf-8")
  elseif(extension STREQUAL ".js")
    set(type "text/javascript; charset=utf-8")
  elseif(extension STREQUAL ".svg")
    set(type "image/svg+xml")
  else()
    message(FATAL_ERROR "${SITE}/${file}: no content type for '${extension}' files")
  endif()
  file(READ "${SITE}/${file}" content)
  string(FIND "${content}" ")${delimiter}\"" clash)
  if(NOT clash EQUAL -1)
    message(FATAL_ERROR "${SITE}/${file} contains the literal's delimiter")
  endif()
  string(APPEND literals "constexpr std::string_view kFile${index} = R\"${delimiter}(${content})${delimiter}\";\n")
  string(APPEND table "    {\"/${file}\", {\"${type}\", kFile${index}}},\n")
  math(EXPR index "${index} + 1")
endforeach()

set(source "// Generated at build time from station/web/site; edit those files instead.
#include \"web/EmbeddedFiles.h\"

namespace quorlan::station::web {

namespace {
${literals}
constexpr EmbeddedFile kFiles[] = {
${table}};
}  // namespace

const std::span<const EmbeddedFile> kEmbeddedFiles{kFiles};

}  // namespace quorlan::station::web
")

file(WRITE "${OUTPUT}" "${source}")
