# The installable package: the core and the serial transport as
# quorlan::core and quorlan::serial for find_package(quorlan), the public
# headers, and a pkg-config file. Not for the Windows DLL's cross build.
if(CMAKE_CROSSCOMPILING OR NOT TARGET quorlan_serial)
  return()
endif()

include(GNUInstallDirs)
include(CMakePackageConfigHelpers)

set(QUORLAN_CMAKE_DIR ${CMAKE_INSTALL_LIBDIR}/cmake/quorlan)

install(TARGETS quorlan_core quorlan_serial EXPORT quorlanTargets
        ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR}
        INCLUDES DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})
install(DIRECTORY ${PROJECT_SOURCE_DIR}/include/quorlan ${PROJECT_BINARY_DIR}/include/quorlan
        DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})
install(EXPORT quorlanTargets NAMESPACE quorlan:: DESTINATION ${QUORLAN_CMAKE_DIR})

configure_package_config_file(${CMAKE_CURRENT_LIST_DIR}/quorlanConfig.cmake.in
                              ${PROJECT_BINARY_DIR}/quorlanConfig.cmake
                              INSTALL_DESTINATION ${QUORLAN_CMAKE_DIR})
write_basic_package_version_file(${PROJECT_BINARY_DIR}/quorlanConfigVersion.cmake
                                 COMPATIBILITY SameMajorVersion)
install(FILES ${PROJECT_BINARY_DIR}/quorlanConfig.cmake
              ${PROJECT_BINARY_DIR}/quorlanConfigVersion.cmake
        DESTINATION ${QUORLAN_CMAKE_DIR})

# The pkg-config file finds the prefix from where it lies, so that
# `cmake --install --prefix` anywhere gives a working file.
file(RELATIVE_PATH QUORLAN_PC_TO_PREFIX /prefix/${CMAKE_INSTALL_LIBDIR}/pkgconfig /prefix)
configure_file(${CMAKE_CURRENT_LIST_DIR}/quorlan.pc.in ${PROJECT_BINARY_DIR}/quorlan.pc @ONLY)
install(FILES ${PROJECT_BINARY_DIR}/quorlan.pc DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig)
