# The shared object offers the JVM its two native methods and nothing else,
# and refers to no varnel symbol: varnel is bound at run time only.
execute_process(COMMAND "${NM}" -D --defined-only "${LIBRARY}"
  OUTPUT_VARIABLE defined RESULT_VARIABLE status)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "nm failed on ${LIBRARY}")
endif()
string(REGEX MATCHALL "[^ \n]+\n" names "${defined}")
set(exports "")
foreach(line IN LISTS names)
  string(STRIP "${line}" name)
  list(APPEND exports "${name}")
endforeach()
list(SORT exports)
set(expected
  Java_com_ostrial_quessa_core_gcp_InteropMemDownload_Varnel
  Java_com_ostrial_quessa_core_gcp_InteropMemDownload_VarnelGetVersion)
if(NOT exports STREQUAL expected)
  message(FATAL_ERROR "exports are\n${defined}")
endif()

execute_process(COMMAND "${NM}" -D --undefined-only "${LIBRARY}" OUTPUT_VARIABLE undefined)
if(undefined MATCHES "(^| )(Varnel|VarnelGetVersion|FbFit|VarnelGetDriverData)\n")
  message(FATAL_ERROR "refers to varnel directly:\n${undefined}")
endif()
