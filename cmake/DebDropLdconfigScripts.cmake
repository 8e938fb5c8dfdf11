# Run by cpack after it made the packages (CPACK_POST_BUILD_SCRIPTS).
#
# CPack gives every package with a library in /usr/lib a postinst and a
# postrm that only call ldconfig, and offers no way to leave them out. A
# package that activates dpkg's ldconfig trigger (its control member
# "triggers") needs neither: this rebuilds such packages without those two
# scripts. A script that does anything besides calling ldconfig is kept.

find_program(BW_DPKG_DEB dpkg-deb REQUIRED)

# True when the script holds nothing but CPack's ldconfig boilerplate.
function(bw_only_calls_ldconfig script result)
  file(STRINGS ${script} lines)
  set(${result} FALSE PARENT_SCOPE)
  foreach(line IN LISTS lines)
    string(STRIP "${line}" line)
    if(NOT line MATCHES [[^(#!/bin/sh|set -e|if \[ "\$1" = "(configure|remove)" \]; then|ldconfig|fi|)$]])
      return()
    endif()
  endforeach()
  set(${result} TRUE PARENT_SCOPE)
endfunction()

foreach(deb IN LISTS CPACK_PACKAGE_FILES)
  if(NOT deb MATCHES "\\.deb$")
    continue()
  endif()
  set(tree ${deb}.tree)
  file(REMOVE_RECURSE ${tree})
  execute_process(COMMAND ${BW_DPKG_DEB} --raw-extract ${deb} ${tree}
    RESULT_VARIABLE status)
  if(NOT status EQUAL 0)
    message(FATAL_ERROR "dpkg-deb --raw-extract ${deb} failed")
  endif()
  set(changed FALSE)
  if(EXISTS ${tree}/DEBIAN/triggers)
    file(STRINGS ${tree}/DEBIAN/triggers triggers REGEX "^activate-noawait ldconfig$")
    if(triggers)
      foreach(script postinst postrm)
        if(EXISTS ${tree}/DEBIAN/${script})
          bw_only_calls_ldconfig(${tree}/DEBIAN/${script} drop)
          if(drop)
            file(REMOVE ${tree}/DEBIAN/${script})
            set(changed TRUE)
          endif()
        endif()
      endforeach()
    endif()
  endif()
  if(changed)
    execute_process(COMMAND ${BW_DPKG_DEB} --root-owner-group --build ${tree} ${deb}
      RESULT_VARIABLE status OUTPUT_QUIET)
    if(NOT status EQUAL 0)
      message(FATAL_ERROR "dpkg-deb --build ${deb} failed")
    endif()
  endif()
  file(REMOVE_RECURSE ${tree})
endforeach()
