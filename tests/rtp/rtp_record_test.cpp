// Codec records: the byte layout worked out by hand, a stream carried on by a
// decoder that only ever saw a loaded record, every state that coding
// reaches accepted, every field one past its range refused, and nothing of a
// block written but the record's own bytes.
#include <gtest/gtest.h>

#include <array>
#include <cstring>
#include <vector>

#include "rtp_test_support.h"
#include "test_signals.h"

namespace {

using zelk::rtp_test::Block;

std::vector<uint8_t> Save(const Block& block, int32_t codec) {
  std::vector<uint8_t> record(ZELK_RTP_MAX_RECORD_BYTES + 8, 0x5A);
  size_t bytes = 0;
  EXPECT_EQ(ZELK_RTP_SaveRecord(block.bytes, codec, record.data(), record.size(), &bytes),
            ZELK_RTP_OK);
  for (size_t i = bytes; i < record.size(); ++i) EXPECT_EQ(record[i], 0x5A) << i;
  record.resize(bytes);
  return record;
}

TEST(Record, ResetRecordsByHand) {
  EXPECT_EQ(Save(Block::EncReset(IMA_ADPCM), IMA_ADPCM), std::vector<uint8_t>({0, 0, 0}));
  // All little-endian, written out whole (GCC 12 on s390x takes inserts into
  // a short vector for overruns).
  const std::vector<uint8_t> adpcm2 = {
      0x20, 0,    0x20, 0,                                                    // sr1 sr2 = 32
      0,    0,    0,    0,   0,    0, 0,    0, 0,    0, 0,    0, 0, 0, 0, 0,  // a1 a2 b1..b6 = 0
      0x20, 0,    0x20, 0,   0x20, 0, 0x20, 0, 0x20, 0, 0x20, 0,              // dq6..dq1 = 32
      0,    0,    0,    0,   0,    0,                                         // dms dml ap = 0
      0x20, 0x02,                                                             // yu = 544
      0,    0,    0,    0,   0,    0,                                         // td p1 p2 = 0
      0x00, 0x88, 0x00, 0x00};                                                // yl = 34816
  ASSERT_EQ(adpcm2.size(), size_t{ZELK_RTP_ADPCM2_RECORD_BYTES});
  EXPECT_EQ(Save(Block::EncReset(ADPCM_2BIT), ADPCM_2BIT), adpcm2);
  // G.711 keeps nothing: an empty record, and loading one changes nothing.
  EXPECT_TRUE(Save(Block(), G711_ALAW).empty());
  Block g711;
  const uint8_t none = 0;
  EXPECT_EQ(ZELK_RTP_LoadRecord(g711.data(), G711_ULAW, &none, 0), ZELK_RTP_OK);
  EXPECT_TRUE(g711 == Block());
}

TEST(Record, FieldsTravelLittleEndian) {
  Block ima = Block::EncReset(IMA_ADPCM);
  const int16_t predictor = -300;  // 0xFED4
  std::memcpy(ima.bytes, &predictor, 2);
  ima.bytes[2] = 88;
  EXPECT_EQ(Save(ima, IMA_ADPCM), std::vector<uint8_t>({0xD4, 0xFE, 88}));

  Block two = Block::EncReset(ADPCM_2BIT);
  const int16_t sr1 = 0x1234;
  const int32_t yl = 0x0004F00D;
  std::memcpy(two.bytes, &sr1, 2);
  std::memcpy(two.bytes + 48, &yl, 4);
  two.bytes[46] = 0xEE;  // the spare bytes are not part of the record
  two.bytes[47] = 0xEE;
  const std::vector<uint8_t> record = Save(two, ADPCM_2BIT);
  EXPECT_EQ(record[0], 0x34);
  EXPECT_EQ(record[1], 0x12);
  EXPECT_EQ(std::vector<uint8_t>(record.begin() + 46, record.end()),
            std::vector<uint8_t>({0x0D, 0xF0, 0x04, 0x00}));
}

// A decoder that starts from nothing but the encoder's saved record decodes
// the rest of the stream exactly like one that saw every frame; the load
// writes the record's bytes and nothing else of the block.
TEST(Record, LoadedDecoderCarriesTheStreamOn) {
  for (int32_t codec : {IMA_ADPCM, ADPCM_2BIT}) {
    SCOPED_TRACE(codec);
    const std::vector<int16_t> pcm =
        zelk::testing::MakeSignal(zelk::testing::Signal::kSpeechLike, 160 * 50, 21);
    Block enc = Block::EncReset(codec), dec = Block::DecReset(codec);
    Block loaded(0x3C);
    std::vector<uint8_t> record;
    for (size_t k = 0; k < 50; ++k) {
      uint16_t frame[ZELK_VOICE_MAX_FRAME_WORDS];
      ASSERT_EQ(ZELK_VOICE_EncodeFrame(enc.data(), &pcm[160 * k], frame, 160, codec), VOICE_OK);
      if (k == 25) {
        ASSERT_EQ(ZELK_RTP_LoadRecord(loaded.data(), codec, record.data(), record.size()),
                  ZELK_RTP_OK);
        for (size_t i = 0; i < sizeof loaded.bytes; ++i) {
          const bool owned = codec == IMA_ADPCM ? i <= 2 : (i <= 45 || (i >= 48 && i <= 51));
          if (owned) {
            EXPECT_EQ(loaded.bytes[i], dec.bytes[i]) << i;
          } else {
            EXPECT_EQ(loaded.bytes[i], 0x3C) << i;
          }
        }
      }
      int16_t a[480], b[480], count = 0;
      ASSERT_EQ(ZELK_VOICE_DecodeFrame(dec.data(), frame, a, codec, &count), VOICE_OK);
      if (k >= 25) {
        ASSERT_EQ(ZELK_VOICE_DecodeFrame(loaded.data(), frame, b, codec, &count), VOICE_OK);
        ASSERT_EQ(std::memcmp(a, b, sizeof(int16_t) * 160), 0) << k;
      }
      if (k == 24) record = Save(enc, codec);
    }
  }
}

// Every record that coding reaches is accepted: saved after every frame of
// streams that drive the coders to their limits (full-scale squares, noise,
// a constant that keeps firing the two-bit coder's tone transition).
TEST(Record, EveryStateCodingReachesIsAccepted) {
  using zelk::testing::Signal;
  for (int32_t codec : {IMA_ADPCM, ADPCM_2BIT}) {
    for (Signal kind : zelk::testing::ALL_SIGNALS) {
      SCOPED_TRACE(testing::Message() << codec << " " << zelk::testing::SignalName(kind));
      std::vector<int16_t> pcm = zelk::testing::MakeSignal(kind, 480 * 40, 33);
      if (kind == Signal::kConstant) std::fill(pcm.begin(), pcm.end(), int16_t{20000});
      Block enc = Block::EncReset(codec);
      for (size_t at = 0; at < pcm.size(); at += 480) {
        uint16_t frame[ZELK_VOICE_MAX_FRAME_WORDS];
        ASSERT_EQ(ZELK_VOICE_EncodeFrame(enc.data(), &pcm[at], frame, 480, codec), VOICE_OK);
        const std::vector<uint8_t> record = Save(enc, codec);
        ASSERT_FALSE(record.empty());
        Block copy = Block::DecReset(codec);
        ASSERT_EQ(ZELK_RTP_LoadRecord(copy.data(), codec, record.data(), record.size()),
                  ZELK_RTP_OK);
        ASSERT_EQ(std::memcmp(copy.bytes, enc.bytes, codec == IMA_ADPCM ? 3 : 46), 0);
      }
    }
  }
}

// Each bounded field: its ends load, one past them is refused and the block
// keeps every byte. Little-endian record offsets of the two-bit fields.
TEST(Record, OutOfRangeFieldsAreRefused) {
  struct Bound {
    const char* field;
    size_t at;
    int32_t lo, hi;
  };
  const Bound bounds[] = {
      {"a1", 4, -27648, 27648}, {"a2", 6, -12288, 12288},  {"dms", 32, 0, 3584},
      {"dml", 34, 0, 14336},    {"ap", 36, 0, 512},        {"yu", 38, 544, 5120},
      {"td", 40, 0, 1},         {"yl", 46, 34816, 327680},
  };
  const std::vector<uint8_t> reset = Save(Block::EncReset(ADPCM_2BIT), ADPCM_2BIT);
  const auto with = [&](size_t at, int32_t v, bool wide) {
    std::vector<uint8_t> r = reset;
    for (size_t i = 0; i < (wide ? 4u : 2u); ++i) {
      r[at + i] = static_cast<uint8_t>((static_cast<uint32_t>(v) >> (8 * i)) & 0xFF);
    }
    return r;
  };
  const auto loads = [](const std::vector<uint8_t>& r) {
    Block target(0x3C);
    const uint32_t status = ZELK_RTP_LoadRecord(target.data(), ADPCM_2BIT, r.data(), r.size());
    if (status != ZELK_RTP_OK) {
      EXPECT_TRUE(target == Block(0x3C)) << "refused, yet written";
    }
    return status;
  };
  for (const Bound& b : bounds) {
    SCOPED_TRACE(b.field);
    const bool wide = b.at == 46;
    EXPECT_EQ(loads(with(b.at, b.lo, wide)), ZELK_RTP_OK);
    EXPECT_EQ(loads(with(b.at, b.hi, wide)), ZELK_RTP_OK);
    EXPECT_EQ(loads(with(b.at, b.lo - 1, wide)), ZELK_RTP_ERR_RECORD);
    EXPECT_EQ(loads(with(b.at, b.hi + 1, wide)), ZELK_RTP_ERR_RECORD);
  }
  // dq6..dq1 (offsets 20..31): magnitude 3..7584, of either sign, never 0.
  for (size_t at = 20; at <= 30; at += 2) {
    SCOPED_TRACE(at);
    for (int32_t v : {3, -3, 7584, -7584}) EXPECT_EQ(loads(with(at, v, false)), ZELK_RTP_OK) << v;
    for (int32_t v : {0, 2, -2, 7585, -7585, -32768}) {
      EXPECT_EQ(loads(with(at, v, false)), ZELK_RTP_ERR_RECORD) << v;
    }
  }
  // sr1, sr2, b1..b6, p1, p2 wrap freely: any value loads.
  for (size_t at : {0, 2, 8, 10, 12, 14, 16, 18, 42, 44}) {
    EXPECT_EQ(loads(with(at, -32768, false)), ZELK_RTP_OK) << at;
    EXPECT_EQ(loads(with(at, 32767, false)), ZELK_RTP_OK) << at;
  }

  Block ima(0x3C);
  const uint8_t good[3] = {0x00, 0x80, 88}, bad[3] = {0x00, 0x80, 89};
  EXPECT_EQ(ZELK_RTP_LoadRecord(ima.data(), IMA_ADPCM, bad, 3), ZELK_RTP_ERR_RECORD);
  EXPECT_TRUE(ima == Block(0x3C));
  EXPECT_EQ(ZELK_RTP_LoadRecord(ima.data(), IMA_ADPCM, good, 3), ZELK_RTP_OK);
  int16_t predictor = 0;
  std::memcpy(&predictor, ima.bytes, 2);
  EXPECT_EQ(predictor, -32768);
  EXPECT_EQ(ima.bytes[2], 88);
  EXPECT_EQ(ima.bytes[3], 0x3C);
}

TEST(Record, RefusedCallsWriteNothing) {
  const std::vector<uint8_t> imaRecord(3, 0), twoRecord = Save(Block::EncReset(4), 4);
  Block block(0x3C);
  const Block untouched(0x3C);
  EXPECT_EQ(ZELK_RTP_LoadRecord(nullptr, 3, imaRecord.data(), 3), ZELK_RTP_ERR_NULL_STATE);
  EXPECT_EQ(ZELK_RTP_LoadRecord(block.data(), 3, nullptr, 3), ZELK_RTP_ERR_NULL_INPUT);
  EXPECT_EQ(ZELK_RTP_LoadRecord(block.data(), 0, imaRecord.data(), 3), ZELK_RTP_ERR_CODEC);
  EXPECT_EQ(ZELK_RTP_LoadRecord(block.data(), 0x10003, imaRecord.data(), 3), ZELK_RTP_ERR_CODEC);
  for (size_t size : {0, 2, 4, 50}) {
    EXPECT_EQ(ZELK_RTP_LoadRecord(block.data(), 3, twoRecord.data(), size),
              ZELK_RTP_ERR_RECORD_SIZE);
  }
  for (size_t size : {0, 3, 49, 51}) {
    EXPECT_EQ(ZELK_RTP_LoadRecord(block.data(), 4, twoRecord.data(), size),
              ZELK_RTP_ERR_RECORD_SIZE);
  }
  EXPECT_EQ(ZELK_RTP_LoadRecord(block.data(), 1, imaRecord.data(), 1), ZELK_RTP_ERR_RECORD_SIZE);
  EXPECT_TRUE(block == untouched);

  // Saving: a block never reset is refused, and so is a short buffer.
  zelk::rtp_test::Guarded<uint8_t> out(ZELK_RTP_MAX_RECORD_BYTES, 0x5A);
  size_t bytes = 0xDEAD;
  EXPECT_EQ(ZELK_RTP_SaveRecord(nullptr, 3, out.data(), 50, &bytes), ZELK_RTP_ERR_NULL_STATE);
  EXPECT_EQ(ZELK_RTP_SaveRecord(block.data(), 3, nullptr, 50, &bytes), ZELK_RTP_ERR_NULL_OUTPUT);
  EXPECT_EQ(ZELK_RTP_SaveRecord(block.data(), 3, out.data(), 50, nullptr),
            ZELK_RTP_ERR_NULL_OUTPUT);
  EXPECT_EQ(ZELK_RTP_SaveRecord(block.data(), 5, out.data(), 50, &bytes), ZELK_RTP_ERR_CODEC);
  const Block neverReset;  // step index byte 0xA5 (-91), yu 0xA5A5
  EXPECT_EQ(ZELK_RTP_SaveRecord(neverReset.bytes, 3, out.data(), 50, &bytes), ZELK_RTP_ERR_RECORD);
  EXPECT_EQ(ZELK_RTP_SaveRecord(neverReset.bytes, 4, out.data(), 50, &bytes), ZELK_RTP_ERR_RECORD);
  const Block ima = Block::EncReset(3), two = Block::EncReset(4);
  EXPECT_EQ(ZELK_RTP_SaveRecord(ima.bytes, 3, out.data(), 2, &bytes), ZELK_RTP_ERR_CAPACITY);
  EXPECT_EQ(ZELK_RTP_SaveRecord(two.bytes, 4, out.data(), 49, &bytes), ZELK_RTP_ERR_CAPACITY);
  EXPECT_TRUE(out.Untouched());
  EXPECT_EQ(bytes, 0xDEADu);
}

}  // namespace
