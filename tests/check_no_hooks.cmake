# Reads a library's whole symbol table and fails when it names a test hook
# or one of the seams the tests look into the stages through.  The core the
# tests link must hold every entry of them, so that a renamed one cannot
# leave the list looking for a name nothing carries.
#   cmake -DNM=... -DLIBRARY=... -DTESTING_CORE=... -P check_no_hooks.cmake
cmake_minimum_required(VERSION 3.25)

set(test_only_entries
  # the fault hook
  InjectFault ClearFaults FailRpNodeAllocation
  # the seams
  SetStageEntries LastPlanParams LinkedImageUsed LinkerModuleCounter CurrentModuleStatus)
# The fault hook's list of armed faults: a class whose members the compiler
# may inline away, so even the core the tests link need not name it.
set(test_only_names ${test_only_entries} ArmedFaults)

function(read_symbols file out)
  execute_process(COMMAND "${NM}" "${file}" OUTPUT_VARIABLE symbols ERROR_VARIABLE errors
                  RESULT_VARIABLE rc)
  if(NOT rc EQUAL 0)
    message(FATAL_ERROR "${NM} ${file} failed (${rc}): ${errors}")
  endif()
  set(${out} "${symbols}" PARENT_SCOPE)
endfunction()

read_symbols("${TESTING_CORE}" testing_symbols)
foreach(name IN LISTS test_only_entries)
  if(NOT testing_symbols MATCHES "${name}")
    message(FATAL_ERROR "${TESTING_CORE} holds no ${name}: the list of test-only names is stale")
  endif()
endforeach()

read_symbols("${LIBRARY}" symbols)
# The table must be the whole one: the stages' entries are internal names.
foreach(internal RunPlanner RunLinker RunImageBuilder)
  if(NOT symbols MATCHES "${internal}")
    message(FATAL_ERROR "${LIBRARY} has no full symbol table (no ${internal}); nothing to check")
  endif()
endforeach()
foreach(name IN LISTS test_only_names)
  string(REGEX MATCHALL "[^\n]*${name}[^\n]*" found "${symbols}")
  if(found)
    message(FATAL_ERROR "${LIBRARY} holds the test-only ${name}:\n${found}")
  endif()
endforeach()
