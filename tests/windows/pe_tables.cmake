# Checks the export or import table of a PE file as objdump -p prints it.
#   cmake -DOBJDUMP=... -DDLL=... -DTABLE=<table> -P pe_tables.cmake
# <table>: exports or imports (varnel.dll), jvarnel-exports or
# jvarnel-imports (jvarnel.dll).
cmake_minimum_required(VERSION 3.25)
execute_process(COMMAND ${OBJDUMP} -p ${DLL} OUTPUT_VARIABLE dump RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "${OBJDUMP} -p ${DLL} failed (${rc})")
endif()

# Sets `names` to the exported names and `ordinals` to name@ordinal.
function(read_exports)
  # The name table prints each export's ordinal less the ordinal base in
  # brackets; the base itself stands in the export directory.
  string(REGEX MATCH "Ordinal Base[ \t]+([0-9]+)" base_line "${dump}")
  if(NOT base_line)
    message(FATAL_ERROR "no ordinal base in the export directory:\n${dump}")
  endif()
  set(base ${CMAKE_MATCH_1})
  string(REGEX MATCH "\\[Ordinal/Name Pointer\\] Table[^\n]*\n(([ \t]+\\[[ 0-9]+\\] [^\n]*\n)*)" table "${dump}")
  string(REGEX MATCHALL "\\[[ 0-9]+\\] [^\n]+" entries "${CMAKE_MATCH_1}")
  set(found_names "")
  set(found_ordinals "")
  foreach(entry IN LISTS entries)
    string(REGEX MATCH "\\[ *([0-9]+)\\] ([^ \t]+)" _ "${entry}")
    math(EXPR ordinal "${CMAKE_MATCH_1} + ${base}")
    list(APPEND found_names "${CMAKE_MATCH_2}")
    list(APPEND found_ordinals "${CMAKE_MATCH_2}@${ordinal}")
  endforeach()
  list(SORT found_names)
  list(SORT found_ordinals)
  set(names "${found_names}" PARENT_SCOPE)
  set(ordinals "${found_ordinals}" PARENT_SCOPE)
endfunction()

function(expect what found expected)
  list(SORT expected)
  if(NOT found STREQUAL expected)
    message(FATAL_ERROR "${what} are [${found}], expected [${expected}]")
  endif()
  message(STATUS "${what}: ${found}")
endfunction()

if(TABLE MATCHES "imports$")
  string(REGEX MATCHALL "DLL Name: [^\n]+" lines "${dump}")
  set(found "")
  foreach(line IN LISTS lines)
    string(REGEX REPLACE "DLL Name: ([^ \t\r]+).*" "\\1" dll "${line}")
    list(APPEND found "${dll}")
  endforeach()
  list(SORT found)
  # Everything else is linked in; jvarnel.dll in particular never imports
  # varnel.dll, which it loads by name at its first call.
  expect("imports" "${found}" "KERNEL32.dll;msvcrt.dll")
elseif(TABLE STREQUAL "exports")
  read_exports()
  expect("exports" "${ordinals}" "FbFit@1;Varnel@2;VarnelGetDriverData@3;VarnelGetVersion@4")
elseif(TABLE STREQUAL "jvarnel-exports")
  read_exports()
  expect("exports" "${names}"
    "Java_com_ostrial_quessa_core_gcp_InteropMemDownload_Varnel;Java_com_ostrial_quessa_core_gcp_InteropMemDownload_VarnelGetVersion")
else()
  message(FATAL_ERROR "unknown table ${TABLE}")
endif()
