# What `cmake --install` puts under a prefix, and the Debian package made of
# it with `cpack -G DEB`. Targets are named here, not in their own folders, so
# the layout of the install is read in one place.
#
#   lib/libBrackwell.so.0.1, .so.0 (SONAME), .so
#   lib/pkgconfig/brackwell.pc         relocatable (paths from its own folder)
#   include/brackwell/                 the public C header(s)
#   bin/Lanternfly, brackwell-rx, brackwell-live
#   share/applications/lanternfly.desktop, share/icons/hicolor/scalable/apps/
#   share/man/man1/                    a page for each program
#
# The programs find the engine through a run path relative to themselves
# ($ORIGIN/../lib) first, then on the system's library path, so the whole
# tree can be moved.

# The libraries go to lib/ under every prefix (the .deb too), so that the
# programs' relative run path is the same everywhere.
set(CMAKE_INSTALL_LIBDIR lib CACHE PATH "Object code libraries (relative to the prefix)")
include(GNUInstallDirs)

# The public headers: the engine's include/brackwell folder, installed as
# include/brackwell/.
file(GLOB BW_PUBLIC_HEADERS CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/engine/include/brackwell/*.h)

set_target_properties(Brackwell PROPERTIES
  VERSION ${PROJECT_VERSION}
  SOVERSION ${PROJECT_VERSION_MAJOR})

file(RELATIVE_PATH bw_bin_to_lib
  ${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_BINDIR}
  ${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_LIBDIR})
set(bw_programs brackwell-rx brackwell-live)
if(TARGET Lanternfly)
  list(APPEND bw_programs Lanternfly)
endif()
set_target_properties(${bw_programs} PROPERTIES INSTALL_RPATH "\$ORIGIN/${bw_bin_to_lib}")

install(TARGETS Brackwell
  LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR})
install(FILES ${BW_PUBLIC_HEADERS}
  DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/brackwell)
install(TARGETS ${bw_programs}
  RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})

configure_file(${PROJECT_SOURCE_DIR}/packaging/brackwell.pc.in
  ${PROJECT_BINARY_DIR}/brackwell.pc @ONLY)
install(FILES ${PROJECT_BINARY_DIR}/brackwell.pc
  DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig)

set(bw_man_pages
  ${PROJECT_SOURCE_DIR}/packaging/man/brackwell-rx.1
  ${PROJECT_SOURCE_DIR}/packaging/man/brackwell-live.1)
if(TARGET Lanternfly)
  list(APPEND bw_man_pages ${PROJECT_SOURCE_DIR}/packaging/man/Lanternfly.1)
  install(FILES ${PROJECT_SOURCE_DIR}/packaging/lanternfly.desktop
    DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
  install(FILES ${PROJECT_SOURCE_DIR}/packaging/lanternfly.svg
    DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps)
endif()
install(FILES ${bw_man_pages} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)

# cpack -G DEB: one package with all of the above under /usr; its
# dependencies come from dpkg-shlibdeps.
set(CPACK_PACKAGE_NAME brackwell)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR "Brackwell")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY
  "Software-defined-radio receive engine with the Lanternfly console")
set(CPACK_PACKAGE_DESCRIPTION
  "libBrackwell.so receives from a sound-card I/Q front end (FFT tuning, \
sideband selection, band-pass filtering, automatic gain, squelch). Lanternfly \
is its Qt console; brackwell-rx runs I/Q recordings through the same chain and \
brackwell-live runs it from the command line.")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "Brackwell developers <brackwell@localhost>")
set(CPACK_DEBIAN_PACKAGE_SECTION hamradio)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS ON)
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS_POLICY ">=")
set(CPACK_STRIP_FILES ON)
include(CPack)
