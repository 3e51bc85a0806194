# The shared library exports the public API and nothing else. NM is the
# toolchain's nm, which reads the target's objects in a cross build.
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
set(expected ZELK_VOICE_DecReset ZELK_VOICE_DecodeFrame ZELK_VOICE_EncReset
    ZELK_VOICE_EncodeFrame ZELK_VOICE_GetVersionNumber
    _Z19fnZelk_voice_enginev _ZN18CZelk_voice_engineC1Ev _ZN18CZelk_voice_engineC2Ev
    _ZN18CZelk_voice_engineaSERKS_ nZelk_voice_engine)
list(SORT expected)
if(NOT symbols STREQUAL expected)
  message(FATAL_ERROR "exported symbols differ:\n  got      ${symbols}\n  expected ${expected}")
endif()
message(STATUS "exports: ${symbols}")
