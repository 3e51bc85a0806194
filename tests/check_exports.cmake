# A shared library exports exactly EXPECTED (names separated by commas) and
# nothing else. NM is the toolchain's nm, which reads the target's objects in
# a cross build.
#   cmake -DLIBRARY=<lib.so> -DEXPECTED=a,b,c [-DNM=<nm>] -P check_exports.cmake
if(NOT NM)
  set(NM nm)
endif()
execute_process(COMMAND ${NM} -D --defined-only --format=just-symbols ${LIBRARY}
                OUTPUT_VARIABLE out RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "${NM} failed on ${LIBRARY}")
endif()
string(REGEX REPLACE "\n$" "" out "${out}")
string(REPLACE "\n" ";" symbols "${out}")
list(FILTER symbols EXCLUDE REGEX "^(_init|_fini|__bss_start|_edata|_end|__odr_asan\\..*)$")
list(SORT symbols)
string(REPLACE "," ";" expected "${EXPECTED}")
list(SORT expected)
if(NOT symbols STREQUAL expected)
  message(FATAL_ERROR "exported symbols differ:\n  got      ${symbols}\n  expected ${expected}")
endif()
message(STATUS "exports: ${symbols}")
