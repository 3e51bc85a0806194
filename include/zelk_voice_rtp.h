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
 * sample count, the input data (frame, payload, record), output capacity.
 *
 * Arguments are taken whole: codecType is one of the engine's VoiceCodecType
 * values 1..4 and sampleCount a plain count, all 32 bits of them (the engine
 * looks at the low 16 bits only; this component ignores no bits). Sizes count
 * bytes for payloads, records and frames (a frame's size is 4 + 2 L bytes)
 * and samples for PCM buffers.
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
#define ZELK_RTP_ERR_FRAME 0xA1223021u /* not a frame of this codec (header, length, size) */
/* 0x03x: state blocks and records */
#define ZELK_RTP_ERR_RECORD 0xA1223031u      /* a record field (or state) out of range */
#define ZELK_RTP_ERR_RECORD_SIZE 0xA1223032u /* record size not the codec's */
#define ZELK_RTP_ERR_NOT_RESET 0xA1223033u   /* receiver never reset (or by another version) */
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

/* Payloads, by the engine's codec type, for a block of n samples. c[k] is the
 * code of sample k; bytes are numbered in the order they travel.
 *
 *   G711_ALAW (PCMA), G711_ULAW (PCMU): n bytes, byte k = c[k] (RFC 3551).
 *     n is any of 1..480 (G.711 keeps no state, so a block of any length is
 *     coded exactly; RFC 3551 peers send what their ptime gives).
 *
 *   IMA_ADPCM (DVI4, RFC 3551 4.5.1): 4 + n/2 bytes, n one of 80, 160, .., 480.
 *       byte 0..1  predicted value: the coder's predictor before the block,
 *                  big-endian signed 16-bit
 *       byte 2     step index before the block, 0..88
 *       byte 3     reserved, 0
 *       byte 4+j   c[2j] << 4 | c[2j+1] (the earlier sample in the high nibble)
 *
 *   ADPCM_2BIT (dynamic type): n/4 bytes, n one of 80, 160, .., 480. Four codes
 *   per byte, in time order, the earliest in the top two bits:
 *       bit      7 6   5 4   3 2   1 0
 *       byte j  c[4j] c[4j+1] c[4j+2] c[4j+3]
 *   e.g. codes 3, 0, 1, 2, 2, 1, 0, 3 travel as C6 93.
 *
 * IMA ADPCM and the two-bit coder carry their state from block to block, so
 * their payloads hold the engine's frame sizes only. */
#define ZELK_RTP_DVI4_HEADER_BYTES 4
#define ZELK_RTP_MAX_PAYLOAD_BYTES 480 /* the largest payload: G.711, 480 samples */

/* Codec records, as copied out of and loaded into an engine state block:
 * explicit little-endian bytes, the same on every host. G.711 keeps no
 * record (0 bytes).
 *   IMA_ADPCM   3 bytes: predictor (int16), step index (0..88)
 *   ADPCM_2BIT 50 bytes: the 23 int16 fields of the coder's record in their
 *               order in the state block (sr1, sr2, a1, a2, b1..b6, dq6..dq1,
 *               dms, dml, ap, yu, td, p1, p2), then yl (int32)
 * A record is accepted when every field lies where coding from the reset
 * keeps it: step index 0..88; yu 544..5120, yl 34816..327680, dms 0..3584,
 * dml 0..14336, ap 0..512, a1 -27648..27648, a2 -12288..12288, td 0 or 1,
 * dq1..dq6 of magnitude 3..7584; sr1, sr2, b1..b6, p1, p2 take any value. */
#define ZELK_RTP_IMA_RECORD_BYTES 3
#define ZELK_RTP_ADPCM2_RECORD_BYTES 50
#define ZELK_RTP_MAX_RECORD_BYTES 50

/* Engine state blocks. The payload and record functions read and write the
 * engine's state block (a VoiceCodecState, ZELK_VOICE_STATE_SIZE bytes) at the
 * places its documented layout gives, in host byte order: IMA ADPCM keeps its
 * predictor (int16) at byte 0 and its step index (int8) at byte 2; the two-bit
 * coder keeps its 23 int16 fields at bytes 0..45 and yl (int32) at byte 48.
 * Nothing else of a block is read or written (bytes 46..47 of a two-bit
 * block never). */

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
 * when this component takes no such block. */
ZELK_RTP_EXPORT size_t ZELK_RTP_CALL ZELK_RTP_PayloadBytes(int32_t codecType, int32_t sampleCount);

/* Samples that a payload of payloadBytes bytes of codecType carries, or 0 when
 * no payload of the codec has that size (the RTP timestamp advances by it). */
ZELK_RTP_EXPORT int32_t ZELK_RTP_CALL ZELK_RTP_PayloadSamples(int32_t codecType,
                                                              size_t payloadBytes);

/* Encodes sampleCount samples with the engine encoder in state (reset for
 * codecType, ZELK_VOICE_STATE_SIZE bytes) and writes the RTP payload. For
 * DVI4 the header holds the encoder's state from before the block; a state
 * whose step index lies outside 0..88 (a block never reset) is refused with
 * ZELK_RTP_ERR_RECORD. */
ZELK_RTP_EXPORT uint32_t ZELK_RTP_CALL ZELK_RTP_EncodePayload(void* state, const int16_t* pcm,
                                                              int32_t sampleCount,
                                                              int32_t codecType, uint8_t* payload,
                                                              size_t payloadCapacity,
                                                              size_t* payloadBytes);

/* Decodes one RTP payload with the engine decoder in state. For DVI4 the
 * header's predicted value and step index are loaded into the state first,
 * so the stream resynchronises on every packet: the samples depend on the
 * payload alone. A payload of a size the codec has not, a DVI4 step index
 * above 88 or a reserved byte other than 0 is refused (ZELK_RTP_ERR_
 * PAYLOAD_SIZE, _DVI4_INDEX, _DVI4_RESERVED, checked in that order). */
ZELK_RTP_EXPORT uint32_t ZELK_RTP_CALL ZELK_RTP_DecodePayload(void* state, const uint8_t* payload,
                                                              size_t payloadBytes,
                                                              int32_t codecType, int16_t* pcm,
                                                              size_t pcmCapacity,
                                                              size_t* sampleCount);

/* A VoiceFrame as an RTP payload. frameBytes is what may be read at frame: at
 * least the frame's 4 + 2 L bytes (more is ignored). Only what the engine's
 * decoder examines is checked: header bits 8-9 equal to 01, a length byte
 * that gives one of the codec's frame sizes (ZELK_RTP_ERR_FRAME otherwise).
 * DVI4 needs the encoder state from before the block was encoded (a copy of
 * the block taken before ZELK_VOICE_EncodeFrame); for the other codecs
 * encoderStateBefore is not read and may be null. That one null test follows
 * the codec type's. */
ZELK_RTP_EXPORT uint32_t ZELK_RTP_CALL ZELK_RTP_FrameToPayload(
    int32_t codecType, const uint16_t* frame, size_t frameBytes, const void* encoderStateBefore,
    uint8_t* payload, size_t payloadCapacity, size_t* payloadBytes);

/* An RTP payload as a VoiceFrame (the engine's frame sizes only, G.711 too).
 * For DVI4 the header is loaded into decoderState (the block the frame will
 * be decoded with); for the other codecs decoderState is not touched and may
 * be null. That one null test follows the codec type's. */
ZELK_RTP_EXPORT uint32_t ZELK_RTP_CALL ZELK_RTP_PayloadToFrame(
    int32_t codecType, const uint8_t* payload, size_t payloadBytes, void* decoderState,
    uint16_t* frame, size_t frameCapacity, size_t* frameBytes);

/* --- A-law <-> mu-law -------------------------------------------------- */

/* count codes, one per byte, through G.711's own conversion tables (those
 * of the Recommendation that international gateways apply), each sign kept;
 * in and out may be the same buffer. outCapacity must be at least count. */
ZELK_RTP_EXPORT uint32_t ZELK_RTP_CALL ZELK_RTP_AlawToUlaw(const uint8_t* in, size_t count,
                                                           uint8_t* out, size_t outCapacity);
ZELK_RTP_EXPORT uint32_t ZELK_RTP_CALL ZELK_RTP_UlawToAlaw(const uint8_t* in, size_t count,
                                                           uint8_t* out, size_t outCapacity);

/* --- codec records ----------------------------------------------------- */

/* Copies the codec record of an engine state block out as bytes (0 bytes for
 * G.711). A block whose record lies outside the accepted ranges (one never
 * reset) is refused with ZELK_RTP_ERR_RECORD, so every saved record loads. */
ZELK_RTP_EXPORT uint32_t ZELK_RTP_CALL ZELK_RTP_SaveRecord(const void* state, int32_t codecType,
                                                           uint8_t* record, size_t recordCapacity,
                                                           size_t* recordBytes);

/* Loads a record into an engine state block. recordBytes must be the codec's
 * record size (ZELK_RTP_ERR_RECORD_SIZE); a record with any field outside the
 * accepted ranges is refused (ZELK_RTP_ERR_RECORD) and the block left as it
 * was. Only the record's own bytes of the block are written. */
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
