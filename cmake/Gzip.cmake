# cmake -DINPUT=FILE -DOUTPUT=FILE.gz -P Gzip.cmake: compresses at the best
# level without the file's name and time in the header (gzip -9n), so the
# same input gives the same bytes.
find_program(GZIP gzip REQUIRED)
execute_process(COMMAND ${GZIP} -9 -n -c ${INPUT}
  OUTPUT_FILE ${OUTPUT}.tmp RESULT_VARIABLE status)
if(NOT status EQUAL 0)
  file(REMOVE ${OUTPUT}.tmp)
  message(FATAL_ERROR "gzip ${INPUT} failed: ${status}")
endif()
file(RENAME ${OUTPUT}.tmp ${OUTPUT})
