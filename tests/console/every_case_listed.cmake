# Fails when the test program has a test function that lanternfly_cases does
# not run: its cases are listed by hand, one ctest test each.
#   cmake -DPROGRAM=path -DCASES="a;b;c" -P every_case_listed.cmake
cmake_minimum_required(VERSION 3.20)
execute_process(COMMAND ${PROGRAM} -functions OUTPUT_VARIABLE out RESULT_VARIABLE status)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "${PROGRAM} -functions exited with ${status}")
endif()
string(REGEX MATCHALL "[A-Za-z0-9_]+\\(\\)" functions "${out}")
foreach(f ${functions})
  string(REPLACE "()" "" name ${f})
  if(NOT name IN_LIST CASES)
    list(APPEND missing ${name})
  endif()
endforeach()
if(missing)
  message(FATAL_ERROR "not run by ctest (add to lanternfly_cases): ${missing}")
endif()
