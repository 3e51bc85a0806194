# The component's shared library exports its public functions and nothing else.
#   cmake -DLIBRARY=<libzelk_voice_rtp.so> -P check_exports.cmake
execute_process(COMMAND nm -D --defined-only --format=just-symbols ${LIBRARY}
                OUTPUT_VARIABLE out RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "nm failed on ${LIBRARY}")
endif()
string(REGEX REPLACE "\n$" "" out "${out}")
string(REPLACE "\n" ";" symbols "${out}")
list(FILTER symbols EXCLUDE REGEX "^(_init|_fini|__bss_start|_edata|_end|__odr_asan\\..*)$")
list(SORT symbols)
set(expected
    ZELK_RTP_AlawToUlaw ZELK_RTP_ConcealLoss ZELK_RTP_DecodePayload ZELK_RTP_EncodePayload
    ZELK_RTP_FrameToPayload ZELK_RTP_LoadRecord ZELK_RTP_PayloadBytes ZELK_RTP_PayloadSamples
    ZELK_RTP_PayloadToFrame ZELK_RTP_ReceiveFrame ZELK_RTP_ReceivePayload ZELK_RTP_ReceiverReset
    ZELK_RTP_SaveRecord ZELK_RTP_UlawToAlaw)
list(SORT expected)
if(NOT symbols STREQUAL expected)
  message(FATAL_ERROR "exported symbols differ:\n  got      ${symbols}\n  expected ${expected}")
endif()
message(STATUS "exports: ${symbols}")
