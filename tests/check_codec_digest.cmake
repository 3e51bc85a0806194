# Runs codec_digest (through the cross build's emulator, whose arguments arrive
# joined by "|") and fails unless it prints exactly the lines of EXPECTED, the
# committed digests; lines there that start with # are comments. With
# REFERENCE, the lines to match are what that program (the build machine's own
# codec_digest) prints, written to EXPECTED first. Outputs go to files, since
# Wine's server may hold on to pipes.
cmake_minimum_required(VERSION 3.25)
string(REPLACE "|" ";" emulator "${EMULATOR}")

if(REFERENCE)
  execute_process(COMMAND ${REFERENCE} OUTPUT_FILE ${EXPECTED} RESULT_VARIABLE reference_rc)
  if(NOT reference_rc EQUAL 0)
    message(FATAL_ERROR "the reference codec_digest failed (${reference_rc})")
  endif()
endif()

set(actual_file ${WORK_DIR}/codec_digest_actual.txt)
execute_process(COMMAND ${emulator} ${PROGRAM} OUTPUT_FILE ${actual_file}
                ERROR_FILE ${WORK_DIR}/codec_digest_stderr.txt RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "codec_digest failed (${rc}), see ${WORK_DIR}/codec_digest_stderr.txt")
endif()

# Lines of a file without comments, blank lines or Windows' carriage returns.
function(read_lines file out)
  file(STRINGS ${file} lines)
  set(kept "")
  foreach(line IN LISTS lines)
    string(REPLACE "\r" "" line "${line}")
    if(NOT line STREQUAL "" AND NOT line MATCHES "^#")
      list(APPEND kept "${line}")
    endif()
  endforeach()
  set(${out} "${kept}" PARENT_SCOPE)
endfunction()
read_lines(${EXPECTED} expected)
read_lines(${actual_file} actual)
list(LENGTH expected lines)
if(lines EQUAL 0)
  message(FATAL_ERROR "${EXPECTED} holds no digest lines")
endif()
if(NOT expected STREQUAL actual)
  set(report "")
  foreach(line IN LISTS expected)
    list(FIND actual "${line}" at)
    if(at LESS 0)
      string(APPEND report "  expected: ${line}\n")
    endif()
  endforeach()
  foreach(line IN LISTS actual)
    list(FIND expected "${line}" at)
    if(at LESS 0)
      string(APPEND report "  printed:  ${line}\n")
    endif()
  endforeach()
  message(FATAL_ERROR "codec_digest differs from ${EXPECTED}:\n${report}"
                      "(all of its output: ${actual_file})")
endif()
message(STATUS "${lines} digest lines match ${EXPECTED}")
