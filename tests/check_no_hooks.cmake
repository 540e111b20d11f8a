# Reads a library's whole symbol table and fails when it names a test hook.
#   cmake -DNM=... -DLIBRARY=... -P check_no_hooks.cmake
cmake_minimum_required(VERSION 3.25)
execute_process(COMMAND "${NM}" "${LIBRARY}" OUTPUT_VARIABLE symbols ERROR_VARIABLE errors
                RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "${NM} ${LIBRARY} failed (${rc}): ${errors}")
endif()
# The table must be the whole one: the stages' entries are internal names.
foreach(internal RunPlanner RunLinker RunImageBuilder)
  if(NOT symbols MATCHES "${internal}")
    message(FATAL_ERROR "${LIBRARY} has no full symbol table (no ${internal}); nothing to check")
  endif()
endforeach()
foreach(hook InjectFault ClearFaults FailRpNodeAllocation ArmedFaults)
  string(REGEX MATCHALL "[^\n]*${hook}[^\n]*" found "${symbols}")
  if(found)
    message(FATAL_ERROR "${LIBRARY} holds the test hook ${hook}:\n${found}")
  endif()
endforeach()
