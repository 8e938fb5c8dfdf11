# Precompiled headers for the test programs (GoogleTest and the standard
# library) and the console (Qt). Most of a test file's compile time goes to
# parsing those headers; with them precompiled once, a build from scratch
# takes far less CPU time.
#
# A compiler launcher such as ccache caches nothing that includes a
# precompiled header unless it is set up for it (sloppiness pch_defines and
# time_macros), so a build configured with a launcher goes without them by
# default: there the cache does the saving.
if(CMAKE_CXX_COMPILER_LAUNCHER)
  set(bw_pch_default OFF)
else()
  set(bw_pch_default ON)
endif()
option(BW_PCH "Precompile the headers of the tests and the console" ${bw_pch_default})

# GCC takes a precompiled header only when it was made with the same code
# model: libraries compile as position-independent code (-fPIC), programs as
# position-independent executables (-fPIE). Each precompiled header is
# therefore made twice, once by a library and once by a program, and every
# other target reuses the one of its kind. Any other difference of options
# makes GCC refuse it with -Winvalid-pch, an error under BW_WERROR, so a
# mismatch never goes unnoticed.
set(bw_pch_dir ${CMAKE_BINARY_DIR}/pch)

# bw_pch_donors(NAME HEADERS... [LINK targets...]): makes the two targets,
# bw_pch_NAME_library and bw_pch_NAME_program, that precompile HEADERS with
# the include folders and definitions of the LINK targets.
function(bw_pch_donors name)
  cmake_parse_arguments(PARSE_ARGV 1 arg "" "" "HEADERS;LINK")
  if(NOT BW_PCH)
    return()
  endif()
  file(CONFIGURE OUTPUT ${bw_pch_dir}/${name}_library.cpp CONTENT "")
  file(CONFIGURE OUTPUT ${bw_pch_dir}/${name}_program.cpp CONTENT "int main() { return 0; }\n")
  add_library(bw_pch_${name}_library OBJECT ${bw_pch_dir}/${name}_library.cpp)
  add_executable(bw_pch_${name}_program ${bw_pch_dir}/${name}_program.cpp)
  foreach(donor bw_pch_${name}_library bw_pch_${name}_program)
    target_link_libraries(${donor} PRIVATE ${arg_LINK})
    target_precompile_headers(${donor} PRIVATE ${arg_HEADERS})
  endforeach()
endfunction()

# bw_use_pch(NAME TARGET...): each TARGET includes the precompiled headers of
# bw_pch_donors(NAME) that fit its kind. The reuse is set once every folder
# is read, so that a target may be named before its donors exist (the
# console's tests are read before the console).
function(bw_use_pch name)
  if(NOT BW_PCH)
    return()
  endif()
  foreach(target ${ARGN})
    get_target_property(type ${target} TYPE)
    if(type STREQUAL "EXECUTABLE")
      set(donor bw_pch_${name}_program)
    else()
      set(donor bw_pch_${name}_library)
    endif()
    # A deferred call reads its variables when it runs: EVAL puts the names
    # in now.
    cmake_language(EVAL CODE "cmake_language(DEFER DIRECTORY \"${CMAKE_SOURCE_DIR}\"
      CALL target_precompile_headers ${target} REUSE_FROM ${donor})")
  endforeach()
endfunction()
