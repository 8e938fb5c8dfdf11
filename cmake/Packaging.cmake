# Debian packages of the install (Install.cmake), one per component, split
# as Debian splits a library and its programs:
#
#   libbrackwell0     runtime   the engine, named after its SONAME
#   libbrackwell-dev  dev       headers, the libBrackwell.so link, brackwell.pc
#   brackwell         tools     brackwell-rx, brackwell-live
#   lanternfly        console   Lanternfly (when built)
#
# `cpack` in the build folder makes them under /usr; their dependencies on
# system libraries come from dpkg-shlibdeps. Each carries the copyright file
# and changelog Debian asks for in share/doc/PACKAGE (installed by
# `cmake --install` too).

set(BW_PACKAGE_MAINTAINER "Brackwell maintainers <maintainers@brackwell.example>"
  CACHE STRING "Maintainer of the Debian packages: Name <address>")

set(BW_PACKAGE_runtime libbrackwell${PROJECT_VERSION_MAJOR})
set(BW_PACKAGE_dev libbrackwell-dev)
set(BW_PACKAGE_tools brackwell)
set(BW_PACKAGE_console lanternfly)
set(bw_components runtime dev tools)
if(TARGET Lanternfly)
  list(APPEND bw_components console)
endif()

configure_file(${PROJECT_SOURCE_DIR}/packaging/debian/changelog.in
  ${PROJECT_BINARY_DIR}/packaging/changelog @ONLY)
bw_gzip(${PROJECT_BINARY_DIR}/packaging/changelog ${PROJECT_BINARY_DIR}/packaging/changelog.gz)
add_custom_target(bw_compressed ALL DEPENDS ${BW_COMPRESSED})

foreach(component IN LISTS bw_components)
  install(FILES ${PROJECT_SOURCE_DIR}/packaging/debian/copyright
      ${PROJECT_BINARY_DIR}/packaging/changelog.gz
    DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/doc/${BW_PACKAGE_${component}}
    COMPONENT ${component})
endforeach()

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME brackwell)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR "Brackwell")
set(CPACK_PACKAGE_CONTACT ${BW_PACKAGE_MAINTAINER})
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_COMPONENTS_ALL ${bw_components})
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SOURCE brackwell)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS ON)
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS_POLICY ">=")
# Dependencies between our packages, each on the same version: the -dev
# package for its link, the programs because they load the engine by its
# SONAME at run time (dpkg-shlibdeps cannot see that).
set(CPACK_DEBIAN_ENABLE_COMPONENT_DEPENDS ON)

# Descriptions: a synopsis, then lines of at most 80 characters.
set(bw_about "Brackwell receives from a sound-card I/Q front end: FFT tuning,
sideband selection, band-pass filtering, automatic gain and squelch.")

set(CPACK_DEBIAN_RUNTIME_PACKAGE_NAME ${BW_PACKAGE_runtime})
set(CPACK_DEBIAN_RUNTIME_PACKAGE_SECTION libs)
set(CPACK_DEBIAN_RUNTIME_DESCRIPTION "software-defined-radio receive engine
${bw_about}
This package holds the engine, libBrackwell.so.")
# ldconfig through dpkg's trigger rather than maintainer scripts; the
# scripts CPack writes for a library are taken out again afterwards.
set(CPACK_DEBIAN_RUNTIME_PACKAGE_CONTROL_EXTRA ${PROJECT_SOURCE_DIR}/packaging/debian/triggers)
set(CPACK_POST_BUILD_SCRIPTS ${PROJECT_SOURCE_DIR}/cmake/DebDropLdconfigScripts.cmake)

set(CPACK_DEBIAN_DEV_PACKAGE_NAME ${BW_PACKAGE_dev})
set(CPACK_DEBIAN_DEV_PACKAGE_SECTION libdevel)
set(CPACK_DEBIAN_DEV_DESCRIPTION "software-defined-radio receive engine (development files)
${bw_about}
This package holds the C headers, the link to the library and the
pkg-config file (brackwell) for building programs with the engine.")

set(CPACK_DEBIAN_TOOLS_PACKAGE_NAME ${BW_PACKAGE_tools})
set(CPACK_DEBIAN_TOOLS_PACKAGE_SECTION hamradio)
set(CPACK_DEBIAN_TOOLS_DESCRIPTION "software-defined-radio receiver, command-line programs
${bw_about}
brackwell-rx runs I/Q recordings (WAV) through the receive chain, faster
than real time; brackwell-live runs the receiver live from the command
line.")

set(CPACK_DEBIAN_CONSOLE_PACKAGE_NAME ${BW_PACKAGE_console})
set(CPACK_DEBIAN_CONSOLE_PACKAGE_SECTION hamradio)
set(CPACK_DEBIAN_CONSOLE_DESCRIPTION "software-defined-radio receiver console
${bw_about}
Lanternfly is its Qt console: a live spectrum picture, a signal readout,
tuning, and a waterfall window.")

include(CPack)
cpack_add_component(runtime)
cpack_add_component(dev DEPENDS runtime)
cpack_add_component(tools DEPENDS runtime)
if(TARGET Lanternfly)
  cpack_add_component(console DEPENDS runtime)
endif()
