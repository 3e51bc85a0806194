# Starts or stops the Wine session the Windows tests run in.
#   cmake -DMODE=start|stop -DWINE=<wine> -DWINESERVER=<wineserver> -DWORK_DIR=<dir> -P wine_session.cmake
#
# Wine's server and its service processes inherit the output of the program
# that first needs them. Started from a test, they would hold CTest's pipe
# open after the test ends: seconds per test with the usual server, forever
# with a persistent one. So "start" brings up a persistent server and the
# services here, detached from every pipe, and "stop" ends the server again
# if "start" was the one to begin it.
cmake_minimum_required(VERSION 3.25)
set(marker ${WORK_DIR}/wine_session_started_here)
set(log ${WORK_DIR}/wine_session.log)

if(MODE STREQUAL "start")
  file(REMOVE ${marker})
  execute_process(COMMAND ${WINESERVER} -p INPUT_FILE /dev/null OUTPUT_FILE ${log} ERROR_FILE ${log}
                  RESULT_VARIABLE rc)
  if(rc EQUAL 0)
    file(TOUCH ${marker})
  endif()  # otherwise a server for this prefix runs already; it stays as it is
  # The first program creates the prefix if need be and starts the services.
  set(ENV{WINEDEBUG} -all)
  execute_process(COMMAND ${WINE} cmd /c exit INPUT_FILE /dev/null OUTPUT_FILE ${log}
                  ERROR_FILE ${log} RESULT_VARIABLE rc)
  if(NOT rc EQUAL 0)
    message(FATAL_ERROR "Wine does not start (${rc}); see ${log}")
  endif()
elseif(MODE STREQUAL "stop")
  if(EXISTS ${marker})
    execute_process(COMMAND ${WINESERVER} -k OUTPUT_QUIET ERROR_QUIET)
    file(REMOVE ${marker})
  endif()
else()
  message(FATAL_ERROR "wine_session.cmake: MODE must be start or stop")
endif()
