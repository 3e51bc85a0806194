// The extractor on captures written here packet by packet: what it makes of
// announced streams, bad payloads, short captures and silence.
#include "extractor.h"

#include <gtest/gtest.h>
#include <unistd.h>
#include <zelk_voice_rtp.h>

#include <filesystem>
#include <fstream>

#include "packet_builder.h"

using namespace zv::extract;
using namespace zvtest;

namespace {

namespace fs = std::filesystem;
constexpr int64_t MS = 1'000'000;
constexpr int64_t T0 = 1'700'000'000'000'000'000;
const V4 A{10, 0, 0, 1};
const V4 B{10, 0, 0, 2};

class ExtractorTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = fs::temp_directory_path() /
           ("zelk_extract_" + std::to_string(getpid()) + "_" +
            ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(dir_);
    fs::create_directories(dir_ / "out");
  }
  void TearDown() override { fs::remove_all(dir_); }

  std::string Capture() const { return (dir_ / "c.pcap").string(); }

  Buffer RtpFrame(uint16_t seq, uint32_t ts, uint8_t pt, const Buffer& payload,
                  uint32_t ssrc = 0xBEEF, bool marker = false) const {
    return Ethernet(0x0800,
                    Ipv4(A, B, 17, Udp(4000, 4002, Rtp(seq, ts, ssrc, pt, marker, payload))));
  }

  Extractor& Run(ExtractSettings settings = {}) {
    settings.outputDir = (dir_ / "out").string();
    ex_ = std::make_unique<Extractor>(settings);
    CaptureFile f(Capture());
    ex_->Read(f);
    ex_->Finish();
    return *ex_;
  }

  static std::string Joined(const std::vector<std::string>& v) {
    std::string s;
    for (const auto& x : v) s += x + "\n";
    return s;
  }

  fs::path dir_;
  std::unique_ptr<Extractor> ex_;
};

TEST_F(ExtractorTest, AnnouncedStreamOfTwoPacketsIsFound) {
  {
    PcapWriter w(Capture(), 1);
    const std::string sdp =
        "v=0\r\nc=IN IP4 10.0.0.2\r\nm=audio 4002 RTP/AVP 96\r\na=rtpmap:96 "
        "ZELK-ADPCM2/8000\r\n";
    const std::string invite =
        "INVITE sip:b@x SIP/2.0\r\nCall-ID: 1\r\nContent-Type: "
        "application/sdp\r\nContent-Length: " +
        std::to_string(sdp.size()) + "\r\n\r\n" + sdp;
    w.Write(T0, Ethernet(0x0800, Ipv4(A, B, 17, Udp(5060, 5060, Text(invite)))));
    w.Write(T0 + 20 * MS, RtpFrame(1, 0, 96, Buffer(40, 0x1B)));
    w.Write(T0 + 40 * MS, RtpFrame(2, 160, 96, Buffer(40, 0x1B)));
  }
  Extractor& ex = Run();
  ASSERT_EQ(ex.Reports().size(), 1u) << Joined(ex.Errors());
  EXPECT_EQ(ex.Reports()[0].codec, "adpcm2");
  EXPECT_EQ(ex.Reports()[0].samples, 320);
  EXPECT_TRUE(fs::exists(dir_ / "out" / "0000beef-adpcm2.wav"));
  EXPECT_TRUE(ex.Errors().empty()) << Joined(ex.Errors());
}

TEST_F(ExtractorTest, BadPayloadsAreNamedByPacketAndConcealed) {
  {
    PcapWriter w(Capture(), 1);
    // DVI4: header (predictor 0, index 0, reserved 0) and 80 codes: 160 samples.
    Buffer good(4 + 80, 0x11);
    good[0] = good[1] = good[2] = good[3] = 0;
    Buffer reserved = good;
    reserved[3] = 1;
    Buffer index = good;
    index[2] = 89;
    const std::vector<Buffer> payloads = {good, good, good, good, Buffer(3), reserved, index, good};
    for (size_t i = 0; i < payloads.size(); ++i) {
      w.Write(T0 + static_cast<int64_t>(i) * 20 * MS,
              RtpFrame(static_cast<uint16_t>(i), static_cast<uint32_t>(160 * i), 5, payloads[i]));
    }
  }
  Extractor& ex = Run();
  ASSERT_EQ(ex.Reports().size(), 1u);
  const std::string errors = Joined(ex.Errors());
  EXPECT_NE(errors.find("c.pcap: packet 5: stream 0x0000BEEF (10.0.0.1:4000 -> 10.0.0.2:4002): "
                        "a DVI4 payload of 3 bytes does not fit the codec"),
            std::string::npos)
      << errors;
  EXPECT_NE(
      errors.find("packet 6: stream 0x0000BEEF (10.0.0.1:4000 -> 10.0.0.2:4002): ima "
                  "payload of 84 bytes refused: DVI4 header with a reserved byte other than 0"),
      std::string::npos)
      << errors;
  EXPECT_NE(errors.find("step index above 88"), std::string::npos) << errors;
  const StreamReport& r = ex.Reports()[0];
  EXPECT_EQ(r.samples, 8 * 160);    // the time line stays whole
  EXPECT_EQ(r.concealed, 3 * 160);  // the three bad packets
}

TEST_F(ExtractorTest, SnapshotLengthCutsAreWarnedAndConcealed) {
  {
    PcapWriter w(Capture(), 1);
    for (uint16_t i = 0; i < 6; ++i) {
      const Buffer f = RtpFrame(i, 160u * i, 0, Buffer(160, 0xFF));
      w.Write(T0 + i * 20 * MS, f, i == 4 ? 100 : f.size());
    }
  }
  Extractor& ex = Run();
  ASSERT_EQ(ex.Reports().size(), 1u);
  EXPECT_TRUE(ex.Errors().empty()) << Joined(ex.Errors());
  EXPECT_NE(Joined(ex.Warnings()).find("packet 5: stream 0x0000BEEF"), std::string::npos);
  EXPECT_EQ(ex.Reports()[0].concealed, 160);
  EXPECT_EQ(ex.Reports()[0].samples, 6 * 160);
}

TEST_F(ExtractorTest, ComfortNoiseIsSilenceAndTheMarkerStartsATalkspurt) {
  {
    PcapWriter w(Capture(), 1);
    for (uint16_t i = 0; i < 4; ++i)
      w.Write(T0 + i * 20 * MS, RtpFrame(i, 160u * i, 8, Buffer(160, 0xD5 ^ 0x55)));
    w.Write(T0 + 80 * MS, RtpFrame(4, 640, 13, Buffer(1, 40)));  // CN, then 1 s of nothing
    w.Write(T0 + 1080 * MS, RtpFrame(5, 640 + 8000, 8, Buffer(160, 0x80), 0xBEEF, true));
  }
  Extractor& ex = Run();
  ASSERT_EQ(ex.Reports().size(), 1u);
  const StreamReport& r = ex.Reports()[0];
  EXPECT_EQ(r.codec, "alaw");
  EXPECT_EQ(r.silence, 8000);
  EXPECT_EQ(r.concealed, 0);
  EXPECT_EQ(r.samples, 5 * 160 + 8000);
}

TEST_F(ExtractorTest, UnknownAndUnsupportedPayloadTypesAreErrorsWithTheirFix) {
  {
    PcapWriter w(Capture(), 1);
    for (uint16_t i = 0; i < 5; ++i) {
      w.Write(T0 + i * 20 * MS, RtpFrame(i, 160u * i, 111, Buffer(160)));
      w.Write(T0 + i * 20 * MS + MS, RtpFrame(i, 160u * i, 18, Buffer(20), 0xCAFE));  // G.729
    }
  }
  Extractor& ex = Run();
  const std::string errors = Joined(ex.Errors());
  EXPECT_NE(errors.find("payload type 111 has no codec: no SDP a=rtpmap maps it (name one with "
                        "--pt 111=CODEC)"),
            std::string::npos)
      << errors;
  EXPECT_NE(errors.find("payload type 18 is G729, which zelk-voice does not decode"),
            std::string::npos)
      << errors;
  EXPECT_TRUE(fs::is_empty(dir_ / "out"));
  // Named on the command line, the first one decodes.
  ExtractSettings s;
  s.payloadTypes[111] = PayloadKind::PCMU;
  Extractor& again = Run(s);
  EXPECT_TRUE(fs::exists(dir_ / "out" / "0000beef-ulaw.wav"));
  EXPECT_EQ(again.Errors().size(), 1u);  // G.729 is still G.729
}

TEST_F(ExtractorTest, OneSsrcOnTwoPortsGetsTwoFiles) {
  {
    PcapWriter w(Capture(), 1);
    for (uint16_t i = 0; i < 5; ++i) {
      w.Write(T0 + i * 20 * MS, RtpFrame(i, 160u * i, 0, Buffer(160, 0x7F)));
      w.Write(T0 + i * 20 * MS + MS,
              Ethernet(0x0800, Ipv4(A, B, 17,
                                    Udp(4010, 4012,
                                        Rtp(i, 160u * i, 0xBEEF, 0, false, Buffer(160, 0x7F))))));
    }
  }
  Extractor& ex = Run();
  ASSERT_EQ(ex.Reports().size(), 2u);
  EXPECT_TRUE(fs::exists(dir_ / "out" / "0000beef-ulaw.wav"));
  EXPECT_TRUE(fs::exists(dir_ / "out" / "0000beef-ulaw-2.wav"));
}

}  // namespace
