# Fails unless the shared library defines exactly the eight entry points.
execute_process(COMMAND ${NM} -D --defined-only ${LIB} OUTPUT_VARIABLE out RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "nm failed on ${LIB}")
endif()
string(REGEX MATCHALL "[^\n]+" lines "${out}")
set(names)
foreach(line IN LISTS lines)
  # Text, data and read-only symbols count; absolute version nodes do not.
  if(line MATCHES "^[0-9a-fA-F]* [TtDdBbRrVvWwiu] ([^ ]+)$")
    list(APPEND names ${CMAKE_MATCH_1})
  endif()
endforeach()
list(SORT names)
set(expected zv_rsfec_decode zv_rsfec_destory zv_rsfec_encode zv_rsfec_initilize
    zv_rsfec_is_initilized zv_rsfec_register_log_callback zv_rsfec_set_log_level
    zv_rsfec_version)
if(NOT names STREQUAL expected)
  message(FATAL_ERROR "exported: ${names}\nexpected: ${expected}")
endif()
message(STATUS "exports: ${names}")
