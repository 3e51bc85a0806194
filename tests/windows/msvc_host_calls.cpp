// Calls into zelk_voice_engine.dll as a Microsoft-compiled host makes them:
// this file is compiled by clang for the MSVC target (its own implementation of
// Microsoft's name decoration and calling convention, nothing of MinGW's), so
// it reaches the DLL only if the export table holds the names Microsoft's
// compiler gives the public header. dll_host_test links it and calls the two
// C functions below (x64), and check_msvc_names.cmake reads the names it
// imports (x86 and x64). No runtime library is used: the object is freestanding.
#include "zelk_voice_engine.h"

extern "C" {
uint32_t MsvcHostRoundTrip(int32_t codecType, const int16_t* pcm, uint16_t* frame, int16_t* out,
                           int16_t* count);
int MsvcHostOtherExports(void);
}

// Resets an encoder and a decoder for codecType, encodes 160 samples of pcm
// into frame and decodes it into out; returns the first status that is not
// VOICE_OK, or VOICE_OK.
uint32_t MsvcHostRoundTrip(int32_t codecType, const int16_t* pcm, uint16_t* frame, int16_t* out,
                           int16_t* count) {
  VoiceCodecState enc;
  VoiceCodecState dec;
  uint32_t status = ZELK_VOICE_EncReset(&enc, codecType);
  if (status == VOICE_OK) status = ZELK_VOICE_DecReset(&dec, codecType);
  if (status == VOICE_OK) status = ZELK_VOICE_EncodeFrame(&enc, pcm, frame, 160, codecType);
  if (status == VOICE_OK) status = ZELK_VOICE_DecodeFrame(&dec, frame, out, codecType, count);
  return status;
}

// The version, the class-style exports and the variable; returns 0 when each
// gives what it should, else the number of the first that does not.
int MsvcHostOtherExports(void) {
  if (ZELK_VOICE_GetVersionNumber() != ZELK_VOICE_VERSION_NUMBER) return 1;
  if (fnZelk_voice_engine() != 42) return 2;
  if (nZelk_voice_engine != 0) return 3;
  CZelk_voice_engine a;
  CZelk_voice_engine b;
  if (&(a = b) != &a) return 4;
  return 0;
}
