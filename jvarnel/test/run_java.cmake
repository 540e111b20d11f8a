# Runs one scenario of the Java test host in a fresh working directory:
#   BIN     library to put in place as bin/libvarnel.so (or empty)
#   SEARCH  library to offer as libvarnel.so on the loader's search path only
#   SPARE   library the host itself puts in place later (or empty)
# The build's own lib folder stays off the loader's path, and the run fails
# on anything -Xcheck:jni reports.
file(REMOVE_RECURSE "${WORK}")
file(MAKE_DIRECTORY "${WORK}/bin")
if(BIN)
  file(COPY_FILE "${BIN}" "${WORK}/bin/libvarnel.so")
endif()
set(search_env --unset=LD_LIBRARY_PATH)
if(SEARCH)
  file(MAKE_DIRECTORY "${WORK}/search")
  file(COPY_FILE "${SEARCH}" "${WORK}/search/libvarnel.so")
  set(search_env "LD_LIBRARY_PATH=${WORK}/search")
endif()

execute_process(
  COMMAND ${CMAKE_COMMAND} -E env ${search_env} LC_ALL=C.UTF-8
          "${JAVA}" -Xcheck:jni -cp "${CLASSES}"
          "-Djvarnel.library=${JVARNEL}" "-Djvarnel.spare=${SPARE}"
          jvarneltest.JvarnelTestHost "${SCENARIO}"
  WORKING_DIRECTORY "${WORK}"
  RESULT_VARIABLE status
  OUTPUT_VARIABLE output
  ERROR_VARIABLE output)
message("${output}")
if(NOT status EQUAL 0)
  message(FATAL_ERROR "the test host failed (${status})")
endif()
if(output MATCHES "WARNING|FATAL ERROR|Exception in thread")
  message(FATAL_ERROR "the JVM reported a fault")
endif()
