# The export table every Windows DLL of the project must have, per ABI:
# ZELK_EXPORTS_<module>_<x86|x64>, the names as hosts look them up; and what a
# DLL imports from the project's other DLLs: ZELK_DLL_DEPENDS_<module> names
# those modules, ZELK_IMPORTS_<module>_<dependency>_<x86|x64> the names it
# imports from each (every one of them in the dependency's own table). A DLL
# joins by adding its lists here; whatever else it imports must be a system DLL.

# 32-bit x86: the C functions are __stdcall (callee pops; "@<bytes>" names),
# the class-style names are Microsoft's 32-bit decorations (__thiscall members).
set(ZELK_EXPORTS_zelk_voice_engine_x86
    "_ZELK_VOICE_EncodeFrame@20"
    "_ZELK_VOICE_DecodeFrame@20"
    "_ZELK_VOICE_EncReset@8"
    "_ZELK_VOICE_DecReset@8"
    "_ZELK_VOICE_GetVersionNumber@0"
    "??0CZelk_voice_engine@@QAE@XZ"
    "??4CZelk_voice_engine@@QAEAAV0@ABV0@@Z"
    "?fnZelk_voice_engine@@YGHXZ"
    "?nZelk_voice_engine@@3HA")

# x64: one calling convention, so the C functions keep their plain names; the
# class-style names are Microsoft's x64 decorations: "E" marks the 64-bit
# `this` and references, and every function is __cdecl ("A"), __stdcall
# included. The variable's name has no pointer in it and stays as on x86.
set(ZELK_EXPORTS_zelk_voice_engine_x64
    "ZELK_VOICE_EncodeFrame"
    "ZELK_VOICE_DecodeFrame"
    "ZELK_VOICE_EncReset"
    "ZELK_VOICE_DecReset"
    "ZELK_VOICE_GetVersionNumber"
    "??0CZelk_voice_engine@@QEAA@XZ"
    "??4CZelk_voice_engine@@QEAAAEAV0@AEBV0@@Z"
    "?fnZelk_voice_engine@@YAHXZ"
    "?nZelk_voice_engine@@3HA")

# zelk_voice_rtp.dll: the RTP component's __stdcall functions. On x86 each is
# "_name@bytes" with every argument 32 bits (size_t and pointers included).
set(ZELK_EXPORTS_zelk_voice_rtp_x86
    "_ZELK_RTP_PayloadBytes@8"
    "_ZELK_RTP_PayloadSamples@8"
    "_ZELK_RTP_EncodePayload@28"
    "_ZELK_RTP_DecodePayload@28"
    "_ZELK_RTP_FrameToPayload@28"
    "_ZELK_RTP_PayloadToFrame@28"
    "_ZELK_RTP_AlawToUlaw@16"
    "_ZELK_RTP_UlawToAlaw@16"
    "_ZELK_RTP_SaveRecord@20"
    "_ZELK_RTP_LoadRecord@16"
    "_ZELK_RTP_ReceiverReset@12"
    "_ZELK_RTP_ReceiveFrame@28"
    "_ZELK_RTP_ReceivePayload@28"
    "_ZELK_RTP_ConcealLoss@20")
# On x64, the plain names.
set(ZELK_EXPORTS_zelk_voice_rtp_x64
    "ZELK_RTP_PayloadBytes"
    "ZELK_RTP_PayloadSamples"
    "ZELK_RTP_EncodePayload"
    "ZELK_RTP_DecodePayload"
    "ZELK_RTP_FrameToPayload"
    "ZELK_RTP_PayloadToFrame"
    "ZELK_RTP_AlawToUlaw"
    "ZELK_RTP_UlawToAlaw"
    "ZELK_RTP_SaveRecord"
    "ZELK_RTP_LoadRecord"
    "ZELK_RTP_ReceiverReset"
    "ZELK_RTP_ReceiveFrame"
    "ZELK_RTP_ReceivePayload"
    "ZELK_RTP_ConcealLoss")
# It calls the engine's encoder, decoder and decoder reset through zelk_voice_engine.dll.
set(ZELK_DLL_DEPENDS_zelk_voice_rtp zelk_voice_engine)
set(ZELK_IMPORTS_zelk_voice_rtp_zelk_voice_engine_x86
    "_ZELK_VOICE_EncodeFrame@20"
    "_ZELK_VOICE_DecodeFrame@20"
    "_ZELK_VOICE_DecReset@8")
set(ZELK_IMPORTS_zelk_voice_rtp_zelk_voice_engine_x64
    "ZELK_VOICE_EncodeFrame"
    "ZELK_VOICE_DecodeFrame"
    "ZELK_VOICE_DecReset")
