# What a station installer and a host author take home, named and versioned
# from the project's one version:
# - Windows builds: the version resource of Quorlan.dll, and the `bundle`
#   target, the host author's zip (the DLL, the Pascal unit, the ABI, a readme);
# - builds with QUORLAN_PACKAGE (the `package` preset): the Debian packages
#   through CPack, `quorlan` (the command and its service), `quorlan-hq`
#   (head office, for the machine the stations report to) and
#   `libquorlan-dev` (the library for programs that embed it).
set(QUORLAN_PACKAGING_DIR ${PROJECT_SOURCE_DIR}/packaging)
math(EXPR QUORLAN_VERSION_MINOR "${PROJECT_VERSION_MINOR} + 0")  # no leading zero in a resource

if(WIN32)
  if(TARGET Quorlan)
    enable_language(RC)
    configure_file(${QUORLAN_PACKAGING_DIR}/windows/Quorlan.rc.in ${CMAKE_BINARY_DIR}/Quorlan.rc @ONLY)
    target_sources(Quorlan PRIVATE ${CMAKE_BINARY_DIR}/Quorlan.rc)

    set(bundle_name quorlan-dll-${PROJECT_VERSION}-win32)
    set(bundle_root ${CMAKE_BINARY_DIR}/bundle)
    set(bundle_stage ${bundle_root}/${bundle_name})
    set(QUORLAN_BUNDLE ${CMAKE_BINARY_DIR}/dist/${bundle_name}.zip)
    configure_file(${QUORLAN_PACKAGING_DIR}/windows/README.txt.in ${bundle_root}/README.txt @ONLY)
    add_custom_command(OUTPUT ${QUORLAN_BUNDLE}
      COMMAND ${CMAKE_COMMAND} -E rm -rf ${bundle_stage}
      COMMAND ${CMAKE_COMMAND} -E make_directory ${bundle_stage}/sdk/pascal ${bundle_stage}/docs
                                                 ${CMAKE_BINARY_DIR}/dist
      COMMAND ${CMAKE_COMMAND} -E copy $<TARGET_FILE:Quorlan> ${bundle_root}/README.txt ${bundle_stage}
      COMMAND ${CMAKE_COMMAND} -E copy ${PROJECT_SOURCE_DIR}/sdk/pascal/QuorlanDriver.pas
                                       ${bundle_stage}/sdk/pascal
      COMMAND ${CMAKE_COMMAND} -E copy ${PROJECT_SOURCE_DIR}/docs/abi.md ${bundle_stage}/docs
      COMMAND ${CMAKE_COMMAND} -E tar cf ${QUORLAN_BUNDLE} --format=zip -- ${bundle_name}
      WORKING_DIRECTORY ${bundle_root}
      DEPENDS Quorlan ${bundle_root}/README.txt ${PROJECT_SOURCE_DIR}/sdk/pascal/QuorlanDriver.pas
              ${PROJECT_SOURCE_DIR}/docs/abi.md
      COMMENT "Packing ${bundle_name}.zip")
    add_custom_target(bundle DEPENDS ${QUORLAN_BUNDLE})
  endif()
  return()
endif()

option(QUORLAN_PACKAGE "Install rules and CPack settings of the Debian packages" OFF)
if(NOT QUORLAN_PACKAGE)
  return()
endif()

include(GNUInstallDirs)
set(QUORLAN_PACKAGE_MAINTAINER "Quorlan maintainers <maintainers@quorlan.invalid>"
    CACHE STRING "Maintainer field of the Debian packages")
set(CPACK_DEBIAN_PACKAGE_RELEASE 1)  # the packaging's own revision of one version
set(QUORLAN_DEB_VERSION ${PROJECT_VERSION}-${CPACK_DEBIAN_PACKAGE_RELEASE})
string(TIMESTAMP QUORLAN_PACKAGE_DATE "%a, %d %b %Y %H:%M:%S +0000" UTC)  # honours SOURCE_DATE_EPOCH

# The command and its service: component `station`, package `quorlan`.
set(generated ${CMAKE_BINARY_DIR}/packaging)
configure_file(${QUORLAN_PACKAGING_DIR}/debian/changelog.in ${generated}/changelog @ONLY)
add_custom_command(OUTPUT ${generated}/man.stamp ${generated}/changelog.Debian.gz
  COMMAND ${QUORLAN_PACKAGING_DIR}/man/make-man-pages.sh $<TARGET_FILE:quorlan> ${generated}/man
          ${PROJECT_VERSION}
  COMMAND gzip -9nc ${generated}/changelog > ${generated}/changelog.Debian.gz
  COMMAND ${CMAKE_COMMAND} -E touch ${generated}/man.stamp
  DEPENDS quorlan ${QUORLAN_PACKAGING_DIR}/man/make-man-pages.sh ${generated}/changelog
  COMMENT "Writing the manual pages from the command's --help")
add_custom_target(package_files ALL DEPENDS ${generated}/man.stamp)

install(TARGETS quorlan RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT station)
install(DIRECTORY ${generated}/man/ DESTINATION ${CMAKE_INSTALL_MANDIR}/man1 COMPONENT station)
install(FILES ${QUORLAN_PACKAGING_DIR}/bash-completion/quorlan
        DESTINATION ${CMAKE_INSTALL_DATADIR}/bash-completion/completions COMPONENT station)
install(FILES ${QUORLAN_PACKAGING_DIR}/debian/quorlan.service DESTINATION /lib/systemd/system
        COMPONENT station)
install(FILES ${QUORLAN_PACKAGING_DIR}/debian/station.toml
        DESTINATION ${CMAKE_INSTALL_FULL_SYSCONFDIR}/quorlan COMPONENT station)
install(FILES ${QUORLAN_PACKAGING_DIR}/debian/quorlan.logrotate
        DESTINATION ${CMAKE_INSTALL_FULL_SYSCONFDIR}/logrotate.d RENAME quorlan COMPONENT station)
install(FILES ${QUORLAN_PACKAGING_DIR}/debian/lintian-overrides
        DESTINATION ${CMAKE_INSTALL_DATADIR}/lintian/overrides RENAME quorlan COMPONENT station)
# Wireshark loads Lua dissectors from its global plugin folder, whatever its
# version (on Debian /usr/lib/x86_64-linux-gnu/wireshark/plugins).
install(FILES ${QUORLAN_PACKAGING_DIR}/wireshark/quorlan.lua
        DESTINATION ${CMAKE_INSTALL_LIBDIR}/wireshark/plugins COMPONENT station)
foreach(page cli.md service.md packaging.md tools.md)
  if(EXISTS ${PROJECT_SOURCE_DIR}/docs/${page})
    install(FILES ${PROJECT_SOURCE_DIR}/docs/${page} DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/quorlan
            COMPONENT station)
  endif()
endforeach()

set(CPACK_DEBIAN_STATION_PACKAGE_NAME quorlan)
set(CPACK_DEBIAN_STATION_PACKAGE_SECTION misc)
set(CPACK_DEBIAN_STATION_DESCRIPTION
    "drive Quorlan-protocol fuel dispensers; the station service
The quorlan command polls, prices, authorizes and stops fuel dispensers that
speak the Quorlan serial protocol, on serial lines or on its built-in
simulator. Its serve command is the station service, run by quorlan.service:
one process that owns the lines, keeps the price book and the fill journal in
SQLite, and offers an HTTP API with live events.")
set(CPACK_DEBIAN_STATION_PACKAGE_CONTROL_EXTRA
    ${QUORLAN_PACKAGING_DIR}/debian/conffiles ${QUORLAN_PACKAGING_DIR}/debian/postinst
    ${QUORLAN_PACKAGING_DIR}/debian/prerm ${QUORLAN_PACKAGING_DIR}/debian/postrm)

# Head office: component `hq`, package `quorlan-hq`. Its unit is not
# enabled on installation: it needs a broker and a database set up first.
if(TARGET quorlan-hq)
  set(fleet ${QUORLAN_PACKAGING_DIR}/fleet)
  add_custom_command(OUTPUT ${generated}/quorlan-hq.1.gz
    COMMAND gzip -9nc ${fleet}/quorlan-hq.1 > ${generated}/quorlan-hq.1.gz
    DEPENDS ${fleet}/quorlan-hq.1)
  add_custom_target(hq_package_files ALL DEPENDS ${generated}/quorlan-hq.1.gz)
  install(TARGETS quorlan-hq RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT hq)
  install(FILES ${generated}/quorlan-hq.1.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1 COMPONENT hq)
  install(FILES ${fleet}/quorlan-hq.service DESTINATION /lib/systemd/system COMPONENT hq)
  install(FILES ${fleet}/hq.toml.example DESTINATION ${CMAKE_INSTALL_FULL_SYSCONFDIR}/quorlan
          RENAME hq.toml COMPONENT hq)
  install(FILES ${fleet}/acl.example ${fleet}/passwords.example
          DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/quorlan-hq/examples COMPONENT hq)
  install(FILES ${PROJECT_SOURCE_DIR}/docs/fleet.md ${QUORLAN_PACKAGING_DIR}/debian/copyright
                ${generated}/changelog.Debian.gz
          DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/quorlan-hq COMPONENT hq)
  install(FILES ${QUORLAN_PACKAGING_DIR}/debian/lintian-overrides
          DESTINATION ${CMAKE_INSTALL_DATADIR}/lintian/overrides RENAME quorlan-hq COMPONENT hq)
  set(CPACK_DEBIAN_HQ_PACKAGE_NAME quorlan-hq)
  set(CPACK_DEBIAN_HQ_PACKAGE_SECTION net)
  set(CPACK_DEBIAN_HQ_DESCRIPTION
      "head office of a chain of Quorlan stations
quorlan-hq takes every station's sales, shift reports, alarms, price
outcomes, presence and live pump states from an MQTT broker (mosquitto) into
PostgreSQL, each record once, serves them over an HTTP API and pushes price
changes to the stations. Run by quorlan-hq.service once a broker and a
database are set up (see /usr/share/doc/quorlan-hq/fleet.md).")
  set(CPACK_DEBIAN_HQ_PACKAGE_CONTROL_EXTRA ${fleet}/debian/conffiles)
endif()

# The library: every other component, whatever the library's own install
# rules call it, goes to package `libquorlan-dev`.
get_cmake_property(QUORLAN_LIBRARY_COMPONENTS COMPONENTS)
list(REMOVE_ITEM QUORLAN_LIBRARY_COMPONENTS station hq)
# (Groups only once there are two: CPack makes a lone group one package
# without the group's settings.)
if(QUORLAN_LIBRARY_COMPONENTS)
  foreach(component ${QUORLAN_LIBRARY_COMPONENTS} development_documents)
    string(TOUPPER ${component} upper)
    set(CPACK_COMPONENT_${upper}_GROUP development)
  endforeach()
  set(CPACK_COMPONENT_STATION_GROUP station)
  set(CPACK_COMPONENT_HQ_GROUP hq)
endif()
set(CPACK_DEBIAN_DEVELOPMENT_PACKAGE_NAME libquorlan-dev)
set(CPACK_DEBIAN_DEVELOPMENT_PACKAGE_SECTION libdevel)
set(CPACK_DEBIAN_DEVELOPMENT_DESCRIPTION
    "Quorlan dispenser driver library: headers, CMake package, pkg-config
The driver core as a C++20 library for programs that drive Quorlan-protocol
fuel dispensers themselves: the quorlan::Driver facade, the serial
transport, the CMake package (find_package(quorlan)) and the pkg-config file.")

# Each package's copyright and changelog.
install(FILES ${QUORLAN_PACKAGING_DIR}/debian/copyright ${generated}/changelog.Debian.gz
        DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/quorlan COMPONENT station)
if(QUORLAN_LIBRARY_COMPONENTS)
  install(FILES ${QUORLAN_PACKAGING_DIR}/debian/copyright ${generated}/changelog.Debian.gz
          DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/libquorlan-dev COMPONENT development_documents)
  install(FILES ${QUORLAN_PACKAGING_DIR}/debian/lintian-overrides
          DESTINATION ${CMAKE_INSTALL_DATADIR}/lintian/overrides RENAME libquorlan-dev
          COMPONENT development_documents)
endif()

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME quorlan)
set(CPACK_PACKAGE_VENDOR "The Quorlan developers")
set(CPACK_PACKAGE_CONTACT ${QUORLAN_PACKAGE_MAINTAINER})
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_OUTPUT_FILE_PREFIX ${CMAKE_BINARY_DIR}/dist)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_COMPONENTS_ALL station)
if(TARGET quorlan-hq)
  list(APPEND CPACK_COMPONENTS_ALL hq)
endif()
if(QUORLAN_LIBRARY_COMPONENTS)
  list(APPEND CPACK_COMPONENTS_ALL ${QUORLAN_LIBRARY_COMPONENTS} development_documents)
endif()
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER ${QUORLAN_PACKAGE_MAINTAINER})
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
include(CPack)
