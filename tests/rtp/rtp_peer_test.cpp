// The payloads and tables against spandsp, a peer nobody here wrote: its DVI4
// encoder and decoder (RFC 3551) on long streams of real speech and hard
// synthetic signals at every frame size, and its A-law/mu-law tables.
#include <gtest/gtest.h>

#include <vector>

#include "rtp_test_support.h"
#include "spandsp_peer.h"
#include "test_signals.h"

namespace {

using zelk::rtp_test::Block;
using zelk::rtp_test::FRAME_SIZES;

// Every codec2 recording there is, then noise, a full-scale square and a
// clipped sine: some 40 s in all.
std::vector<int16_t> LongStream() {
  std::vector<int16_t> all;
  for (const char* name : {"hts1a", "hts2a", "forig", "morig", "vk5qi", "ve9qrp_10s"}) {
    const std::string path = std::string("/usr/share/codec2/raw/") + name + ".raw";
    if (FILE* f = std::fopen(path.c_str(), "rb")) {
      int16_t s;
      while (std::fread(&s, sizeof s, 1, f) == 1) all.push_back(s);
      std::fclose(f);
    }
  }
  using zelk::testing::Signal;
  for (Signal kind : {Signal::kNoise, Signal::kSquareFullScale, Signal::kClipping}) {
    const std::vector<int16_t> s = zelk::testing::MakeSignal(kind, 48000, 77);
    all.insert(all.end(), s.begin(), s.end());
  }
  return all;
}

TEST(Dvi4Peer, EncoderIsByteIdenticalToSpandsp) {
  const std::vector<int16_t> stream = LongStream();
  ASSERT_GT(stream.size(), size_t{8000 * 30}) << "codec2-examples recordings missing";
  for (int32_t n : FRAME_SIZES) {
    SCOPED_TRACE(n);
    zelk::peer::Dvi4 peer;
    Block enc = Block::EncReset(IMA_ADPCM);
    size_t packets = 0;
    for (size_t at = 0; at + static_cast<size_t>(n) <= stream.size();
         at += static_cast<size_t>(n)) {
      std::vector<uint8_t> ours(ZELK_RTP_MAX_PAYLOAD_BYTES);
      size_t bytes = 0;
      ASSERT_EQ(ZELK_RTP_EncodePayload(enc.data(), &stream[at], n, IMA_ADPCM, ours.data(),
                                       ours.size(), &bytes),
                ZELK_RTP_OK);
      ours.resize(bytes);
      ASSERT_EQ(ours, peer.Encode(&stream[at], static_cast<size_t>(n))) << "packet at " << at;
      ++packets;
    }
    EXPECT_GT(packets, size_t{600});
  }
}

// Each side decodes the other's packets as its own, also when packets are
// lost: spandsp too loads every header.
TEST(Dvi4Peer, DecodersAgreeOnEachOthersPackets) {
  const std::vector<int16_t> stream = LongStream();
  for (int32_t n : FRAME_SIZES) {
    SCOPED_TRACE(n);
    zelk::peer::Dvi4 peerEnc, peerDec;
    Block enc = Block::EncReset(IMA_ADPCM), dec = Block::DecReset(IMA_ADPCM);
    size_t k = 0;
    for (size_t at = 0; at + static_cast<size_t>(n) <= stream.size();
         at += static_cast<size_t>(n), ++k) {
      std::vector<uint8_t> ours(ZELK_RTP_MAX_PAYLOAD_BYTES);
      size_t bytes = 0;
      ASSERT_EQ(ZELK_RTP_EncodePayload(enc.data(), &stream[at], n, IMA_ADPCM, ours.data(),
                                       ours.size(), &bytes),
                ZELK_RTP_OK);
      ours.resize(bytes);
      const std::vector<uint8_t> theirs = peerEnc.Encode(&stream[at], static_cast<size_t>(n));
      if (k % 7 == 3) continue;  // lost on the way to both decoders
      // Alternate whose packet each decoder gets.
      const std::vector<uint8_t>& packet = k % 2 == 0 ? ours : theirs;
      std::vector<int16_t> decoded(ZELK_VOICE_MAX_SAMPLES);
      size_t count = 0;
      ASSERT_EQ(ZELK_RTP_DecodePayload(dec.data(), packet.data(), packet.size(), IMA_ADPCM,
                                       decoded.data(), decoded.size(), &count),
                ZELK_RTP_OK);
      decoded.resize(count);
      ASSERT_EQ(decoded, peerDec.Decode(packet)) << "packet " << k;
    }
  }
}

TEST(TranscodePeer, TablesMatchSpandspForAllCodes) {
  for (int c = 0; c < 256; ++c) {
    const auto code = static_cast<uint8_t>(c);
    uint8_t u = 0, a = 0;
    ASSERT_EQ(ZELK_RTP_AlawToUlaw(&code, 1, &u, 1), ZELK_RTP_OK);
    ASSERT_EQ(ZELK_RTP_UlawToAlaw(&code, 1, &a, 1), ZELK_RTP_OK);
    EXPECT_EQ(u, zelk::peer::AlawToUlaw(code)) << "A-law code " << c;
    EXPECT_EQ(a, zelk::peer::UlawToAlaw(code)) << "mu-law code " << c;
  }
}

}  // namespace
