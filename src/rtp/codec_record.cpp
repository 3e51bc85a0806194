// The codec record of an engine state block as bytes that mean the same on
// every host: little-endian fields in the block's order, the spare bytes of
// the two-bit block left out.
//
// Both directions refuse a record that coding from the reset cannot reach.
// The engine runs any record it is handed, but a host that carries state out
// of band wants a damaged or forged record stopped at the door, and a block
// that was never reset is better reported than saved.
#include "engine_block.h"
#include "zelk_voice_rtp.h"

namespace zelk::rtp {
namespace {

// Two-bit fields by their int16 index in the block.
enum Adpcm2Field : size_t {
  kA1 = 2,
  kA2 = 3,
  kDq6 = 10,
  kDq1 = 15,
  kDms = 16,
  kDml = 17,
  kAp = 18,
  kYu = 19,
  kTd = 20,
};

// Where coding from the reset keeps each field (the scale factors, averages
// and speed control are bounded by their updates, the pole coefficients by
// their limits, every quantised difference by the reconstruction's range).
constexpr int32_t YU_MIN = 544, YU_MAX = 5120;
constexpr int32_t YL_MIN = 64 * YU_MIN, YL_MAX = 64 * YU_MAX;
constexpr int32_t DMS_MAX = 3584, DML_MAX = 14336, AP_MAX = 512;
constexpr int32_t A1_LIMIT = 27648, A2_LIMIT = 12288;
constexpr int32_t DQ_MIN = 3, DQ_MAX = 7584;

constexpr bool Within(int32_t v, int32_t lo, int32_t hi) { return v >= lo && v <= hi; }

bool Adpcm2FieldsInRange(const int16_t (&f)[ADPCM2_FIELDS16], int32_t yl) {
  for (size_t i = kDq6; i <= kDq1; ++i) {
    const int32_t magnitude = f[i] < 0 ? -f[i] : f[i];
    if (!Within(magnitude, DQ_MIN, DQ_MAX)) return false;
  }
  return Within(f[kA1], -A1_LIMIT, A1_LIMIT) && Within(f[kA2], -A2_LIMIT, A2_LIMIT) &&
         Within(f[kDms], 0, DMS_MAX) && Within(f[kDml], 0, DML_MAX) && Within(f[kAp], 0, AP_MAX) &&
         Within(f[kYu], YU_MIN, YU_MAX) && Within(f[kTd], 0, 1) && Within(yl, YL_MIN, YL_MAX);
}

constexpr size_t RecordBytes(int32_t t) {
  return t == IMA_ADPCM ? ZELK_RTP_IMA_RECORD_BYTES
                        : (t == ADPCM_2BIT ? ZELK_RTP_ADPCM2_RECORD_BYTES : 0);
}

void PutLe16(uint8_t* p, int16_t v) { StoreLe16(p, static_cast<uint16_t>(v)); }

int16_t GetLe16(const uint8_t* p) { return static_cast<int16_t>(LoadLe16(p)); }

void PutLe32(uint8_t* p, int32_t v) {
  const auto u = static_cast<uint32_t>(v);
  for (int i = 0; i < 4; ++i) p[i] = static_cast<uint8_t>((u >> (8 * i)) & 0xFF);
}

int32_t GetLe32(const uint8_t* p) {
  uint32_t u = 0;
  for (int i = 0; i < 4; ++i) u |= static_cast<uint32_t>(p[i]) << (8 * i);
  return static_cast<int32_t>(u);
}

}  // namespace
}  // namespace zelk::rtp

using namespace zelk::rtp;

extern "C" {

uint32_t ZELK_RTP_CALL ZELK_RTP_SaveRecord(const void* state, int32_t codecType, uint8_t* record,
                                           size_t recordCapacity, size_t* recordBytes) {
  if (state == nullptr) return ZELK_RTP_ERR_NULL_STATE;
  if (record == nullptr || recordBytes == nullptr) return ZELK_RTP_ERR_NULL_OUTPUT;
  if (!IsCodecType(codecType)) return ZELK_RTP_ERR_CODEC;
  const size_t bytes = RecordBytes(codecType);
  if (codecType == IMA_ADPCM) {
    if (!IsImaStepIndex(LoadImaStepIndex(state))) return ZELK_RTP_ERR_RECORD;
    if (recordCapacity < bytes) return ZELK_RTP_ERR_CAPACITY;
    PutLe16(record, LoadInt16(state, IMA_PREDICTOR_AT));
    record[2] = static_cast<uint8_t>(LoadImaStepIndex(state));
  } else if (codecType == ADPCM_2BIT) {
    int16_t fields[ADPCM2_FIELDS16];
    for (size_t i = 0; i < ADPCM2_FIELDS16; ++i) fields[i] = LoadInt16(state, 2 * i);
    const int32_t yl = LoadInt32(state, ADPCM2_YL_AT);
    if (!Adpcm2FieldsInRange(fields, yl)) return ZELK_RTP_ERR_RECORD;
    if (recordCapacity < bytes) return ZELK_RTP_ERR_CAPACITY;
    for (size_t i = 0; i < ADPCM2_FIELDS16; ++i) PutLe16(record + 2 * i, fields[i]);
    PutLe32(record + 2 * ADPCM2_FIELDS16, yl);
  }
  *recordBytes = bytes;
  return ZELK_RTP_OK;
}

uint32_t ZELK_RTP_CALL ZELK_RTP_LoadRecord(void* state, int32_t codecType, const uint8_t* record,
                                           size_t recordBytes) {
  if (state == nullptr) return ZELK_RTP_ERR_NULL_STATE;
  if (record == nullptr) return ZELK_RTP_ERR_NULL_INPUT;
  if (!IsCodecType(codecType)) return ZELK_RTP_ERR_CODEC;
  if (recordBytes != RecordBytes(codecType)) return ZELK_RTP_ERR_RECORD_SIZE;
  if (codecType == IMA_ADPCM) {
    if (!IsImaStepIndex(record[2])) return ZELK_RTP_ERR_RECORD;
    StoreInt16(state, IMA_PREDICTOR_AT, GetLe16(record));
    StoreImaStepIndex(state, record[2]);
  } else if (codecType == ADPCM_2BIT) {
    int16_t fields[ADPCM2_FIELDS16];
    for (size_t i = 0; i < ADPCM2_FIELDS16; ++i) fields[i] = GetLe16(record + 2 * i);
    const int32_t yl = GetLe32(record + 2 * ADPCM2_FIELDS16);
    if (!Adpcm2FieldsInRange(fields, yl)) return ZELK_RTP_ERR_RECORD;
    for (size_t i = 0; i < ADPCM2_FIELDS16; ++i) StoreInt16(state, 2 * i, fields[i]);
    StoreInt32(state, ADPCM2_YL_AT, yl);
  }
  return ZELK_RTP_OK;
}

}  // extern "C"
