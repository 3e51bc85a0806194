# Runs the reference codec_digest (build machine) and the Windows one (through
# the emulator, whose arguments arrive joined by "|") and fails unless both
# print the same lines. Outputs go to files: Wine's server may hold on to pipes.
cmake_minimum_required(VERSION 3.25)
string(REPLACE "|" ";" emulator "${EMULATOR}")

execute_process(COMMAND ${REFERENCE} OUTPUT_FILE ${WORK_DIR}/digest_reference.txt
                RESULT_VARIABLE reference_rc)
execute_process(COMMAND ${emulator} ${PROGRAM} OUTPUT_FILE ${WORK_DIR}/digest_windows.txt
                ERROR_FILE ${WORK_DIR}/digest_windows_stderr.txt RESULT_VARIABLE windows_rc)
if(NOT reference_rc EQUAL 0 OR NOT windows_rc EQUAL 0)
  message(FATAL_ERROR "codec_digest failed: reference ${reference_rc}, Windows ${windows_rc}")
endif()

# Lines of a file, without the carriage returns of Windows text output.
function(read_lines file out)
  file(READ ${file} text)
  string(REPLACE "\r" "" text "${text}")
  string(STRIP "${text}" text)
  string(REPLACE "\n" ";" text "${text}")
  set(${out} "${text}" PARENT_SCOPE)
endfunction()
read_lines(${WORK_DIR}/digest_reference.txt reference)
read_lines(${WORK_DIR}/digest_windows.txt windows)
list(LENGTH reference lines)
if(lines EQUAL 0)
  message(FATAL_ERROR "the reference codec_digest printed nothing")
endif()
if(NOT reference STREQUAL windows)
  set(report "")
  foreach(line IN LISTS reference)
    list(FIND windows "${line}" at)
    if(at LESS 0)
      string(APPEND report "  differs: ${line}\n")
    endif()
  endforeach()
  message(FATAL_ERROR "the DLL's digest differs from the reference:\n${report}"
                      "see ${WORK_DIR}/digest_*.txt")
endif()
message(STATUS "${lines} digest lines match the reference")
