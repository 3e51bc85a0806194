# The export table every Windows DLL of the project must have, per ABI:
# ZELK_EXPORTS_<module>_<x86|x64>, the names as hosts look them up.
# A DLL joins by adding its two lists here.

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
