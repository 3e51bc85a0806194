/*
 * zelk_voice_rtp: the engine's codecs on a real network.
 *
 * A component of its own on top of zelk_voice_engine.h, and only of that
 * header:
 *   - RFC 3551 RTP payloads for every codec, both directions: PCMU (payload
 *     type 0), PCMA (8), DVI4 at 8 kHz (5), and a payload for the two-bit codec
 *     under a dynamic payload type;
 *   - A-law <-> mu-law transcoding of code streams with G.711's own tables;
 *   - a concealing decoder ("receiver") that plays a lost frame from the
 *     decoded history and brings the stream back when frames return;
 *   - the codec record of a state block copied out and loaded back with
 *     validation, for hosts that carry decoder state out of band.
 *
 * Conventions, as in the engine: flat C functions, caller-owned state of a
 * documented fixed size, no heap, no globals, no logging, and a 32-bit status
 * for every outcome. Unlike the engine's frame API, every buffer comes with
 * its size, so untrusted data never decides how far the library reads or
 * writes. Every argument is checked before anything is written: a call that
 * fails leaves every output and every state block exactly as it was, counts
 * included (they are written only on success).
 *
 * Check order, for every function that has the arguments named: null
 * pointers (state, input, output, count), state block size, codec type,
 * sample count, the input data (frame or payload), output capacity.
 *
 * This header is valid C99 and C++.
 */
#ifndef ZELK_VOICE_RTP_H
#define ZELK_VOICE_RTP_H

#include <stddef.h>
#include <stdint.h>

#include "zelk_voice_engine.h"

/* Same calling convention as the engine: __stdcall on 32-bit Windows. */
#define ZELK_RTP_CALL ZELK_VOICE_CALL

/* ZELK_RTP_BUILDING is set only while the component itself is compiled;
 * ZELK_RTP_STATIC selects the static library. */
#if defined(ZELK_RTP_STATIC)
#define ZELK_RTP_EXPORT
#elif defined(_WIN32)
#if defined(ZELK_RTP_BUILDING)
#define ZELK_RTP_EXPORT
#else
#define ZELK_RTP_EXPORT __declspec(dllimport)
#endif
#elif defined(ZELK_RTP_BUILDING) && defined(__GNUC__)
#define ZELK_RTP_EXPORT __attribute__((visibility("default")))
#else
#define ZELK_RTP_EXPORT
#endif

/* Status codes. 0 is success; failures share the prefix 0xA1223 (the
 * engine's are 0xA1222) and are grouped by their last three hex digits. */
#define ZELK_RTP_OK 0x00000000u
/* 0x00x: arguments */
#define ZELK_RTP_ERR_CODEC 0xA1223001u      /* codec type not one this call takes */
#define ZELK_RTP_ERR_SAMPLES 0xA1223002u    /* sample count not one this call takes */
#define ZELK_RTP_ERR_CAPACITY 0xA1223003u   /* an output buffer too small for the result */
#define ZELK_RTP_ERR_STATE_SIZE 0xA1223004u /* a state block smaller than the call needs */
/* 0x01x: RTP payloads */
#define ZELK_RTP_ERR_PAYLOAD_SIZE 0xA1223011u  /* payload size does not fit the codec */
#define ZELK_RTP_ERR_DVI4_INDEX 0xA1223012u    /* DVI4 header: step index above 88 */
#define ZELK_RTP_ERR_DVI4_RESERVED 0xA1223013u /* DVI4 header: reserved byte not 0 */
/* 0x02x: VoiceFrames */
#define ZELK_RTP_ERR_FRAME 0xA1223021u /* not a frame of this codec: header bits, length
                                          byte or size wrong */
/* 0x03x: state blocks and records */
#define ZELK_RTP_ERR_RECORD 0xA1223031u      /* a record field outside its range */
#define ZELK_RTP_ERR_RECORD_SIZE 0xA1223032u /* record size not the codec's */
#define ZELK_RTP_ERR_NOT_RESET 0xA1223033u   /* a receiver block never reset, or reset
                                                 by another version of this component */
/* 0x10x: null pointers */
#define ZELK_RTP_ERR_NULL_STATE 0xA1223101u  /* state block (or receiver) is null */
#define ZELK_RTP_ERR_NULL_INPUT 0xA1223102u  /* input buffer is null */
#define ZELK_RTP_ERR_NULL_OUTPUT 0xA1223103u /* output buffer or count is null */

/* RFC 3551 static payload types, and the dynamic one this component suggests
 * for the two-bit codec (any of 96..127 works; both ends must agree, e.g. by
 * SDP "a=rtpmap:<pt> ZELK-ADPCM2/8000"). */
#define ZELK_RTP_PT_PCMU 0
#define ZELK_RTP_PT_DVI4 5
#define ZELK_RTP_PT_PCMA 8
#define ZELK_RTP_PT_ADPCM2_DEFAULT 96
#define ZELK_RTP_ADPCM2_ENCODING_NAME "ZELK-ADPCM2"

/* Payload sizes for n samples (n one of 80, 160, .., 480):
 *   PCMU, PCMA  n bytes, one code per byte in time order
 *   DVI4        4 + n/2 bytes: predicted value (big-endian int16), step index,
 *               a reserved 0 byte, then two codes per byte, the earlier sample
 *               in the high nibble
 *   two-bit     n/4 bytes, four codes per byte, the earliest sample in the
 *               top two bits
 */
#define ZELK_RTP_DVI4_HEADER_BYTES 4
#define ZELK_RTP_MAX_PAYLOAD_BYTES 484 /* room for any payload of 480 samples */

/* Codec records, as copied out of and loaded into a state block: explicit
 * little-endian bytes, the same on every host. G.711 keeps no record. */
#define ZELK_RTP_IMA_RECORD_BYTES 3     /* predictor (int16), step index (int8) */
#define ZELK_RTP_ADPCM2_RECORD_BYTES 50 /* the 23 int16 fields in order, then yl (int32) */
#define ZELK_RTP_MAX_RECORD_BYTES 50

/* A concealing decoder: one engine decoder state and the history that
 * concealment works from, in a caller-owned block of this size, 8-byte
 * aligned. ZelkRtpReceiver is such a block. */
#define ZELK_RTP_RECEIVER_SIZE 2048

typedef struct ZelkRtpReceiver {
  uint64_t opaque[ZELK_RTP_RECEIVER_SIZE / 8];
} ZelkRtpReceiver;

#ifdef __cplusplus
extern "C" {
#endif

/* --- payloads ---------------------------------------------------------- */

/* Bytes of the payload that carries sampleCount samples of codecType, or 0
 * when the engine takes no such frame. */
ZELK_RTP_EXPORT size_t ZELK_RTP_CALL ZELK_RTP_PayloadBytes(int32_t codecType, int32_t sampleCount);

/* Encodes sampleCount samples with the engine encoder in state and writes the
 * RTP payload. For DVI4 the header holds the encoder's state from before the
 * block. */
ZELK_RTP_EXPORT uint32_t ZELK_RTP_CALL ZELK_RTP_EncodePayload(void* state, const int16_t* pcm,
                                                              int32_t sampleCount,
                                                              int32_t codecType,
                                                              uint8_t* payload,
                                                              size_t payloadCapacity,
                                                              size_t* payloadBytes);

/* Decodes one RTP payload with the engine decoder in state. For DVI4 the
 * header's predicted value and step index are loaded into the state first,
 * so the stream resynchronises on every packet. */
ZELK_RTP_EXPORT uint32_t ZELK_RTP_CALL ZELK_RTP_DecodePayload(void* state, const uint8_t* payload,
                                                              size_t payloadBytes,
                                                              int32_t codecType, int16_t* pcm,
                                                              size_t pcmCapacity,
                                                              size_t* sampleCount);

/* A VoiceFrame as an RTP payload. DVI4 needs the encoder state from before the
 * block was encoded (a copy of the block taken before ZELK_VOICE_EncodeFrame);
 * for the other codecs encoderStateBefore is not read and may be null. */
ZELK_RTP_EXPORT uint32_t ZELK_RTP_CALL ZELK_RTP_FrameToPayload(
    int32_t codecType, const uint16_t* frame, size_t frameBytes, const void* encoderStateBefore,
    uint8_t* payload, size_t payloadCapacity, size_t* payloadBytes);

/* An RTP payload as a VoiceFrame. For DVI4 the header is loaded into
 * decoderState (the block the frame will be decoded with); for the other
 * codecs decoderState is not touched and may be null. */
ZELK_RTP_EXPORT uint32_t ZELK_RTP_CALL ZELK_RTP_PayloadToFrame(int32_t codecType,
                                                               const uint8_t* payload,
                                                               size_t payloadBytes,
                                                               void* decoderState, uint16_t* frame,
                                                               size_t frameCapacity,
                                                               size_t* frameBytes);

/* --- A-law <-> mu-law -------------------------------------------------- */

/* count codes, one per byte, through G.711's conversion tables; in and out
 * may be the same buffer. */
ZELK_RTP_EXPORT uint32_t ZELK_RTP_CALL ZELK_RTP_AlawToUlaw(const uint8_t* in, size_t count,
                                                           uint8_t* out, size_t outCapacity);
ZELK_RTP_EXPORT uint32_t ZELK_RTP_CALL ZELK_RTP_UlawToAlaw(const uint8_t* in, size_t count,
                                                           uint8_t* out, size_t outCapacity);

/* --- codec records ----------------------------------------------------- */

/* Copies the codec record of an engine state block out as bytes. */
ZELK_RTP_EXPORT uint32_t ZELK_RTP_CALL ZELK_RTP_SaveRecord(const void* state, int32_t codecType,
                                                           uint8_t* record, size_t recordCapacity,
                                                           size_t* recordBytes);

/* Loads a record into an engine state block. A record with any field outside
 * the range that coding reaches is refused and the block left as it was. */
ZELK_RTP_EXPORT uint32_t ZELK_RTP_CALL ZELK_RTP_LoadRecord(void* state, int32_t codecType,
                                                           const uint8_t* record,
                                                           size_t recordBytes);

/* --- the concealing decoder -------------------------------------------- */

/* Starts a receiver for codecType in a block of receiverSize bytes (at least
 * ZELK_RTP_RECEIVER_SIZE). */
ZELK_RTP_EXPORT uint32_t ZELK_RTP_CALL ZELK_RTP_ReceiverReset(void* receiver, size_t receiverSize,
                                                              int32_t codecType);

/* Decodes one received VoiceFrame. While nothing is lost the samples are the
 * engine decoder's, bit for bit; after a loss the first frames are joined
 * smoothly to the concealed signal and brought back to the sender's signal. */
ZELK_RTP_EXPORT uint32_t ZELK_RTP_CALL ZELK_RTP_ReceiveFrame(void* receiver, size_t receiverSize,
                                                             const uint16_t* frame,
                                                             size_t frameBytes, int16_t* pcm,
                                                             size_t pcmCapacity,
                                                             size_t* sampleCount);

/* The same for one RTP payload (DVI4 for IMA ADPCM, which resynchronises on
 * its header). */
ZELK_RTP_EXPORT uint32_t ZELK_RTP_CALL ZELK_RTP_ReceivePayload(void* receiver, size_t receiverSize,
                                                               const uint8_t* payload,
                                                               size_t payloadBytes, int16_t* pcm,
                                                               size_t pcmCapacity,
                                                               size_t* sampleCount);

/* Plays sampleCount samples (1..480) in place of a lost frame, from the
 * decoded history; call it again for a longer gap. The signal fades to
 * silence by 60 ms of continuous loss. */
ZELK_RTP_EXPORT uint32_t ZELK_RTP_CALL ZELK_RTP_ConcealLoss(void* receiver, size_t receiverSize,
                                                            int32_t sampleCount, int16_t* pcm,
                                                            size_t pcmCapacity);

#ifdef __cplusplus
} /* extern "C" */
#endif

#endif /* ZELK_VOICE_RTP_H */
