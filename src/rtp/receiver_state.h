// The private record of a concealing receiver, laid out in the caller's
// block of ZELK_RTP_RECEIVER_SIZE bytes. The magic and version at its start
// tell a block that ZELK_RTP_ReceiverReset prepared from one it never saw, and
// from one that another version of this component laid out differently.
#pragma once

#include <cstddef>
#include <cstdint>
#include <type_traits>

#include "ima_recovery.h"
#include "plc.h"
#include "zelk_voice_rtp.h"

namespace zelk::rtp {

inline constexpr uint32_t RECEIVER_MAGIC = 0x5A52'5852u;  // "RXRZ" in memory
inline constexpr uint16_t RECEIVER_VERSION = 1;

struct ReceiverRecord {
  uint32_t magic;
  uint16_t version;
  int16_t codec;            // G711_ALAW .. ADPCM_2BIT
  VoiceCodecState decoder;  // the engine decoder's block
  ImaRecovery ima;
  int32_t adpcm2Pending;  // concealed two-bit samples not yet run through the encoder, 0..79
  PlcState plc;
};

static_assert(std::is_trivially_copyable_v<ReceiverRecord>);
static_assert(sizeof(ReceiverRecord) <= ZELK_RTP_RECEIVER_SIZE,
              "the record must fit the caller's block");
static_assert(alignof(ReceiverRecord) <= 8, "the caller's block is 8-byte aligned");
static_assert(offsetof(ReceiverRecord, decoder) % 4 == 0, "the engine's block is 4-byte aligned");

}  // namespace zelk::rtp
