// zelk-voice run as a program: its files against the library's own results,
// its refusals of bad input, and the quality it reports on the bundled sample.
#include <gtest/gtest.h>
#include <sndfile.h>
#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <functional>
#include <map>
#include <sstream>

#include "test_signals.h"
#include "tool_runner.h"

namespace fs = std::filesystem;
using zelk::testing::MakeSignal;
using zelk::testing::Signal;
using zvtest::CODECS;
using zvtest::ExpectedZvf;
using zvtest::LibraryDecode;
using zvtest::LibraryFrames;
using zvtest::ReadBytes;
using zvtest::ReadPcm;
using zvtest::RunTool;
using zvtest::WriteBytes;
using zvtest::WritePcmWav;

namespace {

using ToolTest = zvtest::ToolDirTest;

// An odd length, so every frame size ends on a padded frame.
std::vector<int16_t> Speech(uint32_t seed) {
  return MakeSignal(Signal::kSpeechLike, 8000 + 37, seed);
}

TEST_F(ToolTest, StreamsMatchTheLibraryByteForByteAndDecodeLikeIt) {
  const auto input = Speech(7);
  WritePcmWav(Path("in.wav"), input, 8000);
  for (const auto& codec : CODECS) {
    for (int ms : {10, 30, 60}) {
      SCOPED_TRACE(std::string(codec.name) + " " + std::to_string(ms) + " ms");
      const int spf = ms * 8;
      auto r = Run({"encode", "-q", "-c", codec.name, "--frame", std::to_string(ms), "in.wav", "-o",
                    "s.zvf"});
      ASSERT_EQ(r.status, 0) << r.err;
      const auto expected = ExpectedZvf(codec.type, spf, input);
      ASSERT_EQ(ReadBytes(Path("s.zvf")), expected);

      r = Run({"decode", "-q", "s.zvf", "-o", "d.wav"});
      ASSERT_EQ(r.status, 0) << r.err;
      const std::vector<uint8_t> frames(expected.begin() + 24, expected.end());
      EXPECT_EQ(ReadPcm(Path("d.wav")), LibraryDecode(codec.type, spf, frames, input.size()));
    }
  }
}

// Walks a RIFF file by hand, so libsndfile's reading is not the judge of its own writing.
struct WavFacts {
  int formatTag = 0, channels = 0, rate = 0, bits = 0;
  std::vector<uint8_t> data;
};
WavFacts ParseWav(const std::vector<uint8_t>& b) {
  auto u16 = [&](size_t p) { return b[p] | b[p + 1] << 8; };
  auto u32 = [&](size_t p) { return static_cast<uint32_t>(u16(p) | u16(p + 2) << 16); };
  WavFacts f;
  if (b.size() < 12 || std::string(b.begin(), b.begin() + 4) != "RIFF") return f;
  for (size_t p = 12; p + 8 <= b.size();) {
    const std::string id(b.begin() + p, b.begin() + p + 4);
    const uint32_t size = u32(p + 4);
    if (id == "fmt ") {
      f.formatTag = u16(p + 8), f.channels = u16(p + 10), f.rate = static_cast<int>(u32(p + 12));
      f.bits = u16(p + 22);
    } else if (id == "data") {
      f.data.assign(b.begin() + p + 8, b.begin() + std::min<size_t>(b.size(), p + 8 + size));
    }
    p += 8 + size + (size & 1);
  }
  return f;
}

TEST_F(ToolTest, G711WavsHoldTheLibraryCodesInSampleOrder) {
  // Every 16-bit value once, then one more so the last frame is padded.
  std::vector<int16_t> input;
  for (int v = -32768; v <= 32767; ++v) input.push_back(static_cast<int16_t>(v));
  input.push_back(1234);
  WritePcmWav(Path("sweep.wav"), input, 8000);
  for (const auto& codec : {CODECS[0], CODECS[1]}) {
    SCOPED_TRACE(codec.name);
    auto r = Run({"encode", "-q", "-c", codec.name, "sweep.wav", "-o", "g.wav"});
    ASSERT_EQ(r.status, 0) << r.err;
    const WavFacts wav = ParseWav(ReadBytes(Path("g.wav")));
    EXPECT_EQ(wav.formatTag, 5 + codec.type);  // 6 A-law, 7 mu-law
    EXPECT_EQ(wav.channels, 1);
    EXPECT_EQ(wav.rate, 8000);
    EXPECT_EQ(wav.bits, 8);
    // In a frame each word holds two codes, the earlier sample in the high byte.
    const auto frames = LibraryFrames(codec.type, 480, input);
    std::vector<uint8_t> codes;
    for (size_t f = 0; f < frames.size(); f += 4 + 480) {
      for (size_t b = f + 4; b < f + 4 + 480; b += 2)
        codes.insert(codes.end(), {frames[b + 1], frames[b]});
    }
    codes.resize(input.size());
    ASSERT_EQ(wav.data, codes);

    r = Run({"decode", "-q", "g.wav", "-o", "d.wav"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(ReadPcm(Path("d.wav")), LibraryDecode(codec.type, 480, frames, input.size()));
  }
}

TEST_F(ToolTest, RawInputEncodesLikeTheSameSamplesInAWav) {
  const auto input = Speech(11);
  std::vector<uint8_t> raw;
  for (int16_t s : input)
    raw.insert(raw.end(), {static_cast<uint8_t>(s & 0xFF), static_cast<uint8_t>((s >> 8) & 0xFF)});
  WriteBytes(Path("in.pcm"), raw);
  const auto r = Run({"encode", "-q", "-c", "ima", "--raw-rate", "8000", "in.pcm", "-o", "r.zvf"});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(ReadBytes(Path("r.zvf")), ExpectedZvf(3, 160, input));
}

TEST_F(ToolTest, StereoAt16kHzIsMixedToMonoAndResampled) {
  // Left carries a+b, right a-b: the mono mix is tone a alone.
  const int n = 32000;
  std::vector<int16_t> stereo, toneA;
  auto tone = [](double hz, double t) { return 8000.0 * std::sin(2 * M_PI * hz * t); };
  for (int i = 0; i < n; ++i) {
    const double t = i / 16000.0, a = tone(440, t), b = tone(1700, t);
    stereo.push_back(static_cast<int16_t>(std::lround(a + b)));
    stereo.push_back(static_cast<int16_t>(std::lround(a - b)));
  }
  for (int i = 0; i < n / 2; ++i)
    toneA.push_back(static_cast<int16_t>(std::lround(tone(440, i / 8000.0))));
  WritePcmWav(Path("st.wav"), stereo, 16000, 2);
  auto r = Run({"encode", "-q", "-c", "ulaw", "st.wav", "-o", "u.zvf"});
  ASSERT_EQ(r.status, 0) << r.err;
  r = Run({"decode", "-q", "u.zvf", "-o", "u.wav"});
  ASSERT_EQ(r.status, 0) << r.err;
  const auto out = ReadPcm(Path("u.wav"));
  ASSERT_EQ(out.size(), toneA.size());
  double sig = 0, err = 0;
  for (size_t i = 200; i + 200 < out.size(); ++i) {  // away from the resampler's edges
    sig += double(toneA[i]) * toneA[i];
    err += (double(toneA[i]) - out[i]) * (double(toneA[i]) - out[i]);
  }
  EXPECT_GT(10 * std::log10(sig / err), 30.0);
}

TEST_F(ToolTest, SeveralInputsRunTogetherAndOneBadInputSpoilsOnlyItself) {
  std::vector<std::vector<int16_t>> inputs;
  for (uint32_t seed : {1u, 2u, 3u}) {
    inputs.push_back(Speech(seed));
    WritePcmWav(Path("in" + std::to_string(seed) + ".wav"), inputs.back(), 8000);
  }
  WriteBytes(Path("broken.wav"), {'R', 'I', 'F', 'F', 1, 2, 3});
  const auto r = Run(
      {"encode", "-q", "-c", "adpcm2", "in1.wav", "broken.wav", "in2.wav", "in3.wav", "-o", "out"});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << r.err;
  EXPECT_NE(r.err.find("broken.wav"), std::string::npos) << r.err;
  EXPECT_FALSE(fs::exists(Path("out/broken.zvf")));
  for (int k = 0; k < 3; ++k) {
    EXPECT_EQ(ReadBytes(Path("out/in" + std::to_string(k + 1) + ".zvf")),
              ExpectedZvf(4, 160, inputs[k]));
  }
  EXPECT_TRUE(HiddenFiles().empty());
}

// ---- bad input -----------------------------------------------------------

struct BadCase {
  std::string label;
  std::function<void(ToolTest&)> make;  // writes the input(s)
  std::vector<std::string> args;
  std::string expect;  // part of the one-line message
  int status = 1;
};

std::vector<uint8_t> ValidStream() {
  return ExpectedZvf(3, 160, Speech(5));
}  // 51 frames of 84 bytes

std::function<void(ToolTest&)> Stream(std::function<void(std::vector<uint8_t>&)> edit) {
  return [edit](ToolTest& t) {
    auto s = ValidStream();
    edit(s);
    WriteBytes(t.dir_ / "x.zvf", s);
  };
}

constexpr size_t FRAME0 = 24, FRAME_BYTES = 84;

std::vector<BadCase> BadCases() {
  auto none = [](ToolTest&) {};
  auto emptyFile = [](ToolTest& t) { WriteBytes(t.dir_ / "x.zvf", {}); };
  auto pcmWav = [](ToolTest& t) { WritePcmWav(t.dir_ / "x.wav", Speech(1), 8000); };
  auto stereoAlaw = [](ToolTest& t) {
    WritePcmWav(t.dir_ / "x.wav", MakeSignal(Signal::kNoise, 800, 2), 8000, 2, SF_FORMAT_ALAW);
  };
  auto text = [](ToolTest& t) { WriteBytes(t.dir_ / "x.wav", {'h', 'e', 'l', 'l', 'o', '\n'}); };
  const std::vector<std::string> decode = {"decode", "x.zvf", "-o", "out.wav"};
  const std::vector<std::string> encode = {"encode", "-c", "alaw", "x.wav", "-o", "out.zvf"};
  auto at = [](size_t frame) {
    return "frame " + std::to_string(frame) + " at byte " +
           std::to_string(FRAME0 + frame * FRAME_BYTES);
  };
  return {
      {"missing input", none, encode, "x.wav: cannot open: No such file"},
      {"empty audio input", [](ToolTest& t) { WriteBytes(t.dir_ / "x.wav", {}); }, encode,
       "x.wav: file is empty"},
      {"text as audio", text, encode, "x.wav: not an audio file libsndfile can read"},
      {"empty stream", emptyFile, decode, "x.zvf: file is empty"},
      {"bad magic", Stream([](auto& s) { s[0] = 'X'; }), decode,
       "x.zvf: not a .zvf stream (bad magic)"},
      {"header cut short", Stream([](auto& s) { s.resize(20); }), decode,
       "x.zvf: truncated .zvf header (20 of 24 bytes)"},
      {"format version", Stream([](auto& s) { s[4] = 2; }), decode,
       "unsupported .zvf format version 2"},
      {"codec type", Stream([](auto& s) { s[6] = 5; }), decode, "codec type 5 is not 1..4"},
      {"frame size", Stream([](auto& s) { s[8] = 100; }), decode, "100 samples per frame"},
      {"reserved", Stream([](auto& s) { s[11] = 1; }), decode, "reserved field is 256"},
      {"sample rate", Stream([](auto& s) { s[12] = 0x80, s[13] = 0x3E; }), decode,
       "sample rate 16000 Hz"},
      {"zero samples", Stream([](auto& s) { std::fill(s.begin() + 16, s.begin() + 24, 0); }),
       decode, "total sample count is 0"},
      {"frame header bits", Stream([](auto& s) { s[FRAME0 + 3 * FRAME_BYTES + 1] = 0x02; }), decode,
       at(3) + ": bad frame header 0x0200"},
      {"length byte", Stream([](auto& s) { s[FRAME0 + 2 * FRAME_BYTES + 2] = 41; }), decode,
       at(2) + ": length byte 41 does not fit IMA ADPCM"},
      {"short last frame", Stream([](auto& s) { s.erase(s.end() - 10, s.end()); }), decode,
       at(50) + ": short frame (74 of 84 bytes)"},
      {"missing frames", Stream([](auto& s) { s.resize(FRAME0 + 7 * FRAME_BYTES); }), decode,
       at(7) + ": stream ends after 7 of 51 frames"},
      {"trailing bytes", Stream([](auto& s) { s.push_back(0); }), decode,
       "x.zvf: 1 unexpected bytes after the last frame"},
      {"sample count beyond frames",
       Stream([](auto& s) { s[16] = 0xFF, s[17] = 0xFF, s[18] = 0xFF; }), decode,
       "stream ends after 51 of"},
      {"info on corrupt frame",
       Stream([](auto& s) { s[FRAME0 + 2] = 0; }),
       {"info", "x.zvf"},
       at(0) + ": length byte 0"},
      {"decode a PCM wav",
       pcmWav,
       {"decode", "x.wav", "-o", "out.wav"},
       "x.wav: not an A-law or \u00b5-law file"},
      {"decode a stereo A-law wav",
       stereoAlaw,
       {"decode", "x.wav", "-o", "out.wav"},
       "x.wav: has 2 channels"},
      {"IMA into a WAV",
       pcmWav,
       {"encode", "-c", "ima", "x.wav", "-o", "out.wav"},
       "only A-law and \u00b5-law have a WAV form",
       2},
      {"unknown codec",
       pcmWav,
       {"encode", "-c", "gsm", "x.wav", "-o", "out.zvf"},
       "unknown codec 'gsm'",
       2},
      {"frame size not 10..60 ms",
       pcmWav,
       {"encode", "-c", "ulaw", "--frame", "25", "x.wav", "-o", "out.zvf"},
       "--frame",
       2},
      {"unwritable output",
       pcmWav,
       {"encode", "-c", "alaw", "x.wav", "-o", "no/such/dir/out.zvf"},
       "cannot create output",
       1},
  };
}

TEST_F(ToolTest, EveryBadInputGetsOneLineAStatusAndNoOutput) {
  for (const BadCase& c : BadCases()) {
    SCOPED_TRACE(c.label);
    fs::remove_all(dir_);
    fs::create_directories(dir_);
    c.make(*this);
    // An older output must survive a failed run untouched.
    WriteBytes(Path("out.wav"), {'o', 'l', 'd'});
    const auto r = Run(c.args);
    EXPECT_EQ(r.status, c.status);
    EXPECT_TRUE(r.err.starts_with("zelk-voice: ")) << r.err;
    EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << r.err;
    EXPECT_NE(r.err.find(c.expect), std::string::npos) << r.err;
    EXPECT_FALSE(fs::exists(Path("out.zvf")));
    EXPECT_EQ(ReadBytes(Path("out.wav")), (std::vector<uint8_t>{'o', 'l', 'd'}));
    EXPECT_TRUE(HiddenFiles().empty());
  }
}

// ---- roundtrip on the bundled sample ---------------------------------------

// Floors for the bundled sample at 20 ms frames, a little under the measured values
// (A-law 37.57/26.53 dB, mu-law 37.40/26.70, IMA ADPCM 18.32/18.96, two-bit 10.04/8.25).
struct QualityFloor {
  const char* codec;
  double kbitPerSecond;  // exact: frames of 4 + 2L bytes every 20 ms
  double ratio;
  double snrDb, segSnrDb;
};
const QualityFloor FLOORS[] = {
    {"alaw", 65.6, 320.0 / 164, 36.5, 25.5},
    {"ulaw", 65.6, 320.0 / 164, 36.5, 25.5},
    {"ima", 33.6, 320.0 / 84, 17.5, 18.0},
    {"adpcm2", 17.6, 320.0 / 44, 9.0, 7.5},
};

std::map<std::string, std::vector<std::string>> ParseCsv(const std::string& text) {
  std::map<std::string, std::vector<std::string>> rows;
  std::istringstream in(text);
  std::string line;
  std::getline(in, line);  // header
  while (std::getline(in, line)) {
    std::vector<std::string> cells;
    std::istringstream cs(line);
    for (std::string cell; std::getline(cs, cell, ',');) cells.push_back(cell);
    rows[cells.at(0)] = cells;
  }
  return rows;
}

TEST_F(ToolTest, RoundtripOnTheBundledSampleStaysAboveItsFloors) {
  const auto r =
      Run({"roundtrip", "--csv", "--time", "0.001", "-o", "decoded", "--plot", "snr.svg"});
  ASSERT_EQ(r.status, 0) << r.err;
  const auto rows = ParseCsv(r.out);
  ASSERT_EQ(rows.size(), std::size(FLOORS)) << r.out;
  for (const QualityFloor& f : FLOORS) {
    SCOPED_TRACE(f.codec);
    const auto& row = rows.at(f.codec);
    EXPECT_NEAR(std::stod(row.at(1)), f.kbitPerSecond, 1e-3);
    EXPECT_NEAR(std::stod(row.at(2)), f.ratio, 1e-3);
    const double snr = std::stod(row.at(3)), segSnr = std::stod(row.at(4));
    EXPECT_GT(snr, f.snrDb);
    EXPECT_GT(segSnr, f.segSnrDb);
    EXPECT_GT(std::stod(row.at(5)), 0.0);  // some encode speed was measured
    EXPECT_TRUE(fs::exists(Path(std::string("decoded/speech_sample.") + f.codec + ".wav")));
  }
  const auto svgBytes = ReadBytes(Path("snr.svg"));
  const std::string svg(svgBytes.begin(), svgBytes.end());
  EXPECT_TRUE(svg.starts_with("<svg"));
  size_t polylines = 0;
  for (size_t p = 0; (p = svg.find("<polyline", p)) != std::string::npos; ++p) ++polylines;
  EXPECT_EQ(polylines, std::size(FLOORS));
}

TEST_F(ToolTest, InfoDescribesAValidStream) {
  WriteBytes(Path("x.zvf"), ValidStream());
  const auto r = Run({"info", "x.zvf"});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.out.find("IMA ADPCM"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("all 51 frames valid"), std::string::npos) << r.out;
}

TEST_F(ToolTest, EverySubcommandHasHelp) {
  for (const char* sub : {"encode", "decode", "conceal", "roundtrip", "info", "bench"}) {
    const auto r = Run({sub, "--help"});
    EXPECT_EQ(r.status, 0) << sub;
    EXPECT_NE(r.out.find(std::string("Usage: zelk-voice ") + sub), std::string::npos) << r.out;
  }
}

}  // namespace
