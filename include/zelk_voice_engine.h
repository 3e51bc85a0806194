/*
 * zelk_voice_engine: telephone-band speech codecs behind a flat C API.
 *
 * A host hands the library one block of 80..480 samples (16-bit PCM, 8 kHz)
 * and gets back one VoiceFrame, or the reverse. Every stream keeps its state
 * in a caller-owned block; the library allocates nothing, keeps nothing
 * between calls and reports every outcome as a 32-bit status code.
 *
 * This header is valid C99 and C++.
 */
#ifndef ZELK_VOICE_ENGINE_H
#define ZELK_VOICE_ENGINE_H

#include <stdint.h>

/* Calling convention: the Windows standard convention (callee pops its
 * arguments) on 32-bit Windows, nothing elsewhere. */
#if defined(_WIN32) && !defined(_WIN64)
#define ZELK_VOICE_CALL __stdcall
#else
#define ZELK_VOICE_CALL
#endif

/* Symbol export. ZELK_VOICE_BUILDING is set only while the library itself is
 * compiled. On Windows the DLL's export table comes from a module-definition
 * file, so the build side adds nothing; a host that links the import library
 * imports. ZELK_VOICE_STATIC selects the static library. */
#if defined(ZELK_VOICE_STATIC)
#define ZELK_VOICE_EXPORT
#elif defined(_WIN32)
#if defined(ZELK_VOICE_BUILDING)
#define ZELK_VOICE_EXPORT
#else
#define ZELK_VOICE_EXPORT __declspec(dllimport)
#endif
#elif defined(ZELK_VOICE_BUILDING) && defined(__GNUC__)
#define ZELK_VOICE_EXPORT __attribute__((visibility("default")))
#else
#define ZELK_VOICE_EXPORT
#endif

/* Value returned by ZELK_VOICE_GetVersionNumber. */
#define ZELK_VOICE_VERSION_NUMBER 0x07D661B1u /* 131490225 */

/* Codec selector, passed as the codecType argument. Only the low 16 bits of
 * the argument are examined, as a signed number. */
typedef enum VoiceCodecType {
  G711_ALAW = 1, /* G.711 A-law, 8 bits per sample, 64 kbit/s */
  G711_ULAW = 2, /* G.711 mu-law, 8 bits per sample, 64 kbit/s */
  IMA_ADPCM = 3, /* IMA ADPCM, 4 bits per sample, 32 kbit/s */
  ADPCM_2BIT = 4 /* two-bit adaptive ADPCM, 2 bits per sample, 16 kbit/s */
} VoiceCodecType;

/* Status codes. 0 is success; failures share the prefix 0xA1222 and are
 * grouped by their last three hex digits. */
#define VOICE_OK 0x00000000u
/* 0x00x: encoder faults */
#define VOICE_ERR_ENC_TYPE 0xA1222001u   /* codec type not 1..4 */
#define VOICE_ERR_ENC_LENGTH 0xA1222002u /* sample count not 80, 160, .., 480 */
/* 0x01x: decoder faults */
#define VOICE_ERR_DEC_TYPE 0xA1222011u   /* codec type not 1..4 */
#define VOICE_ERR_DEC_LENGTH 0xA1222012u /* length byte 0 or not 80..480 samples */
#define VOICE_ERR_DEC_HEADER 0xA1222013u /* header bits 8-9 not 01 */
/* 0x10x: null pointers */
#define VOICE_ERR_NULL_STATE 0xA1222101u  /* state block is null */
#define VOICE_ERR_NULL_INPUT 0xA1222102u  /* input buffer is null */
#define VOICE_ERR_NULL_OUTPUT 0xA1222103u /* output buffer (or count) is null */

/* Sizes. A state block must hold at least ZELK_VOICE_STATE_SIZE bytes and be
 * 4-byte aligned; VoiceCodecState is such a block. */
#define ZELK_VOICE_STATE_SIZE 52
#define ZELK_VOICE_MIN_SAMPLES 80
#define ZELK_VOICE_MAX_SAMPLES 480
#define ZELK_VOICE_SAMPLE_STEP 80
#define ZELK_VOICE_MAX_FRAME_WORDS 242 /* header + length + 240 payload */

typedef struct VoiceCodecState {
  uint32_t opaque[ZELK_VOICE_STATE_SIZE / 4];
} VoiceCodecState;

#ifdef __cplusplus
extern "C" {
#endif

/* Encodes sampleCount samples (80..480, a multiple of 80) into one
 * VoiceFrame of exactly 2 + L words, L being the low byte of word 1 (the
 * frame's third byte). Frame words are little-endian on every host; PCM is in
 * host order. pcm and frame may overlap: the result is that of separate
 * buffers. */
ZELK_VOICE_EXPORT uint32_t ZELK_VOICE_CALL ZELK_VOICE_EncodeFrame(void* state, const int16_t* pcm,
                                                                  uint16_t* frame,
                                                                  int32_t sampleCount,
                                                                  int32_t codecType);

/* Decodes one VoiceFrame into pcm (room for 480 samples) and stores the
 * number of samples written in *sampleCountOut. frame and pcm may overlap. */
ZELK_VOICE_EXPORT uint32_t ZELK_VOICE_CALL ZELK_VOICE_DecodeFrame(void* state,
                                                                  const uint16_t* frame,
                                                                  int16_t* pcm, int32_t codecType,
                                                                  int16_t* sampleCountOut);

/* Bring a state block to the start of a stream for codecType. The two
 * functions differ only in the code returned for a bad codec type. */
ZELK_VOICE_EXPORT uint32_t ZELK_VOICE_CALL ZELK_VOICE_EncReset(void* state, int32_t codecType);
ZELK_VOICE_EXPORT uint32_t ZELK_VOICE_CALL ZELK_VOICE_DecReset(void* state, int32_t codecType);

/* Returns ZELK_VOICE_VERSION_NUMBER. */
ZELK_VOICE_EXPORT uint32_t ZELK_VOICE_CALL ZELK_VOICE_GetVersionNumber(void);

#ifdef __cplusplus
} /* extern "C" */

/* Class-style exports kept for hosts that link them by name; they carry no
 * function of their own. */
class ZELK_VOICE_EXPORT CZelk_voice_engine {
 public:
  CZelk_voice_engine();
  CZelk_voice_engine(const CZelk_voice_engine&) = default;
  CZelk_voice_engine& operator=(const CZelk_voice_engine& other);
};

/* Returns 42. */
ZELK_VOICE_EXPORT int ZELK_VOICE_CALL fnZelk_voice_engine(void);

/* Initialised to 0 and never written by the library. */
extern ZELK_VOICE_EXPORT int nZelk_voice_engine;
#endif /* __cplusplus */

#endif /* ZELK_VOICE_ENGINE_H */
