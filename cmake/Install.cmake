# What `cmake --install` puts under a prefix. Targets are named here, not in
# their own folders, so the layout of the install is read in one place; the
# Debian packages made of it are described in Packaging.cmake. LIBDIR below
# is lib/<multiarch triplet> (lib/x86_64-linux-gnu) on Debian and its
# derivatives, lib elsewhere.
#
#   LIBDIR/libBrackwell.so.0.1, .so.0 (SONAME)     component runtime
#   LIBDIR/libBrackwell.so, LIBDIR/pkgconfig/brackwell.pc,
#   include/brackwell/                             component dev
#   bin/brackwell-rx, brackwell-live,
#   share/man/man1/brackwell-*.1.gz                component tools
#   bin/Lanternfly, share/man/man1/Lanternfly.1.gz,
#   share/applications/, share/icons/hicolor/      component console
#   share/doc/PACKAGE/copyright, changelog.gz      each component, under its
#                                                  Debian package's name
#
# The programs find the engine through a run path relative to themselves
# ($ORIGIN/../LIBDIR) first, then on the system's library path, so the whole
# tree can be moved. brackwell.pc names the prefix it was installed under;
# after a move, give pkg-config the new one (--define-variable=prefix=DIR).

include(GNUInstallDirs)

# The same library folder under every prefix (the packages' /usr too), so the
# programs' relative run path is the same everywhere and the pkg-config file
# lies where a cross build's pkg-config looks for it. INTERNAL: read by
# scripts/test-install from the cache.
if(CMAKE_LIBRARY_ARCHITECTURE)
  set(BW_INSTALL_LIBDIR lib/${CMAKE_LIBRARY_ARCHITECTURE} CACHE INTERNAL "Library folder of the install")
else()
  set(BW_INSTALL_LIBDIR lib CACHE INTERNAL "Library folder of the install")
endif()

# The public headers: the engine's include/brackwell folder, installed as
# include/brackwell/.
file(GLOB BW_PUBLIC_HEADERS CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/engine/include/brackwell/*.h)

set_target_properties(Brackwell PROPERTIES
  VERSION ${PROJECT_VERSION}
  SOVERSION ${PROJECT_VERSION_MAJOR})

file(RELATIVE_PATH bw_bin_to_lib
  ${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_BINDIR}
  ${CMAKE_INSTALL_PREFIX}/${BW_INSTALL_LIBDIR})
set(bw_tools brackwell-rx brackwell-live)
set_target_properties(${bw_tools} PROPERTIES INSTALL_RPATH "\$ORIGIN/${bw_bin_to_lib}")
if(TARGET Lanternfly)
  set_target_properties(Lanternfly PROPERTIES INSTALL_RPATH "\$ORIGIN/${bw_bin_to_lib}")
endif()

install(TARGETS Brackwell
  LIBRARY DESTINATION ${BW_INSTALL_LIBDIR}
    COMPONENT runtime NAMELINK_COMPONENT dev)
install(FILES ${BW_PUBLIC_HEADERS}
  DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/brackwell COMPONENT dev)
install(TARGETS ${bw_tools} RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT tools)

# brackwell.pc is written at install time with the prefix in force then
# (`cmake --install --prefix`, or /usr when CPack installs for a package),
# so that it holds plain absolute paths.
install(CODE "
  set(bw_pc_prefix \"\${CMAKE_INSTALL_PREFIX}\")
  cmake_path(ABSOLUTE_PATH bw_pc_prefix NORMALIZE)
  string(REGEX REPLACE \"(.)/+$\" \"\\\\1\" BW_PC_PREFIX \"\${bw_pc_prefix}\")
  set(BW_INSTALL_LIBDIR \"${BW_INSTALL_LIBDIR}\")
  set(CMAKE_INSTALL_INCLUDEDIR \"${CMAKE_INSTALL_INCLUDEDIR}\")
  set(PROJECT_VERSION \"${PROJECT_VERSION}\")
  configure_file(\"${PROJECT_SOURCE_DIR}/packaging/brackwell.pc.in\"
    \"${PROJECT_BINARY_DIR}/packaging/brackwell.pc\" @ONLY)
  file(INSTALL DESTINATION \"\${CMAKE_INSTALL_PREFIX}/${BW_INSTALL_LIBDIR}/pkgconfig\"
    TYPE FILE FILES \"${PROJECT_BINARY_DIR}/packaging/brackwell.pc\")
  " COMPONENT dev)

# Manual pages (and the packages' changelog) go compressed, with gzip -9n:
# no name or time stamp inside, so the same input gives the same bytes.
# bw_gzip(INPUT OUTPUT) adds the step that makes OUTPUT from INPUT and lists
# OUTPUT in BW_COMPRESSED, which Packaging.cmake builds by default.
set(BW_COMPRESSED)
macro(bw_gzip input output)
  add_custom_command(OUTPUT ${output}
    COMMAND ${CMAKE_COMMAND} -DINPUT=${input} -DOUTPUT=${output}
      -P ${PROJECT_SOURCE_DIR}/cmake/Gzip.cmake
    DEPENDS ${input} ${PROJECT_SOURCE_DIR}/cmake/Gzip.cmake
    VERBATIM)
  list(APPEND BW_COMPRESSED ${output})
endmacro()

foreach(page brackwell-rx.1 brackwell-live.1 Lanternfly.1)
  bw_gzip(${PROJECT_SOURCE_DIR}/packaging/man/${page} ${PROJECT_BINARY_DIR}/packaging/${page}.gz)
endforeach()

install(FILES
  ${PROJECT_BINARY_DIR}/packaging/brackwell-rx.1.gz
  ${PROJECT_BINARY_DIR}/packaging/brackwell-live.1.gz
  DESTINATION ${CMAKE_INSTALL_MANDIR}/man1 COMPONENT tools)
if(TARGET Lanternfly)
  install(TARGETS Lanternfly RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT console)
  install(FILES ${PROJECT_BINARY_DIR}/packaging/Lanternfly.1.gz
    DESTINATION ${CMAKE_INSTALL_MANDIR}/man1 COMPONENT console)
  install(FILES ${PROJECT_SOURCE_DIR}/packaging/lanternfly.desktop
    DESTINATION ${CMAKE_INSTALL_DATADIR}/applications COMPONENT console)
  install(FILES ${PROJECT_SOURCE_DIR}/packaging/lanternfly.svg
    DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps COMPONENT console)
endif()
