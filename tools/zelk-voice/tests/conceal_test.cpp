// zelk-voice conceal run as a program: its output against encode and decode
// and against the library's own decoder, silence and fading where frames are
// lost, the --lose forms good and bad, the loss models against their
// documented definition and rates, every codec over both transports, pipes,
// the figures recomputed from the files, and failures that leave nothing.
#include <gtest/gtest.h>
#include <zelk_voice_engine.h>

#include <algorithm>
#include <cmath>
#include <complex>
#include <cstring>
#include <fstream>
#include <map>
#include <numbers>
#include <random>
#include <sstream>
#include <string>

#include "test_signals.h"
#include "tool_runner.h"

namespace fs = std::filesystem;
using zvtest::CODECS;
using zvtest::LibraryDecode;
using zvtest::LibraryFrames;
using zvtest::ReadBytes;
using zvtest::ReadPcm;
using zvtest::ToolResult;
using zvtest::WriteBytes;
using zvtest::WritePcmWav;

namespace {

constexpr const char* TRANSPORTS[] = {"frame", "rtp"};
const std::vector<uint8_t> OLD = {'o', 'l', 'd'};

using ConcealTest = zvtest::ToolDirTest;

// Real speech at 8 kHz (Debian's codec2-examples), or a speech-like signal.
std::vector<int16_t> Speech(size_t n) {
  std::vector<int16_t> real;
  if (std::ifstream in("/usr/share/codec2/raw/hts1a.raw", std::ios::binary); in) {
    for (char b[2]; in.read(b, 2);) {
      real.push_back(static_cast<int16_t>(static_cast<uint8_t>(b[0]) | b[1] << 8));
    }
  }
  if (real.empty()) real = zelk::testing::MakeSignal(zelk::testing::Signal::kSpeechLike, n, 4);
  std::vector<int16_t> out;
  for (size_t i = 0; i < n; ++i) out.push_back(real[i % real.size()]);
  return out;
}

// The one data row of --csv, by column name.
std::map<std::string, std::string> CsvRow(const std::string& text) {
  std::istringstream in(text);
  std::string header, row;
  std::getline(in, header);
  std::getline(in, row);
  auto cells = [](const std::string& line) {
    std::vector<std::string> out;
    std::string cell;
    bool quoted = false;
    for (char c : line) {
      if (c == '"') {
        quoted = !quoted;
      } else if (c == ',' && !quoted) {
        out.push_back(cell);
        cell.clear();
      } else {
        cell += c;
      }
    }
    out.push_back(cell);
    return out;
  };
  const auto names = cells(header), values = cells(row);
  std::map<std::string, std::string> m;
  for (size_t i = 0; i < names.size() && i < values.size(); ++i) m[names[i]] = values[i];
  return m;
}

// The library decoding `frames`, the lost ones skipped: the decoder goes on
// from where the last frame that arrived left it, and plays silence instead.
std::vector<int16_t> DecodeSkipping(int codecType, int spf, const std::vector<uint8_t>& frames,
                                    const std::vector<bool>& lost, size_t total) {
  VoiceCodecState state{};
  ZELK_VOICE_DecReset(&state, codecType);
  const size_t frameBytes = 4 + 2 * static_cast<size_t>(frames[2]);
  std::vector<int16_t> out;
  for (size_t f = 0; f * frameBytes < frames.size(); ++f) {
    std::vector<int16_t> pcm(static_cast<size_t>(spf), 0);
    if (!lost[f]) {
      std::vector<uint16_t> words(frameBytes / 2);
      std::memcpy(words.data(), frames.data() + f * frameBytes, frameBytes);
      int16_t got = 0;
      EXPECT_EQ(ZELK_VOICE_DecodeFrame(&state, words.data(), pcm.data(), codecType, &got), 0u);
    }
    out.insert(out.end(), pcm.begin(), pcm.end());
  }
  out.resize(total);
  return out;
}

std::vector<bool> Mask(size_t frames, std::initializer_list<size_t> lost) {
  std::vector<bool> m(frames);
  for (size_t f : lost) m[f] = true;
  return m;
}

// Which frames came out as all zeros.
std::vector<bool> SilentFrames(const std::vector<int16_t>& x, size_t spf) {
  std::vector<bool> m;
  for (size_t s = 0; s < x.size(); s += spf) {
    const auto end = x.begin() + static_cast<std::ptrdiff_t>(std::min(x.size(), s + spf));
    m.push_back(std::all_of(x.begin() + static_cast<std::ptrdiff_t>(s), end,
                            [](int16_t v) { return v == 0; }));
  }
  return m;
}

double Rms(const std::vector<int16_t>& x, size_t from, size_t n) {
  double sum = 0;
  for (size_t i = from; i < from + n; ++i) sum += double(x[i]) * x[i];
  return std::sqrt(sum / static_cast<double>(n));
}

TEST_F(ConcealTest, TheOutputHasTheInputsLengthAtEveryFrameSize) {
  const auto input = Speech(8000 + 37);  // every frame size ends on a padded frame
  WritePcmWav(Path("in.wav"), input, 8000);
  for (int ms : {10, 20, 30, 40, 50, 60}) {
    SCOPED_TRACE(ms);
    const size_t spf = static_cast<size_t>(ms) * 8;
    const size_t frames = (input.size() + spf - 1) / spf;
    // The first frame, one in the middle and the padded last one lost.
    const std::string lose = "0," + std::to_string(frames / 2) + "," + std::to_string(frames - 1);
    const auto r = Run({"conceal", "in.wav", "-c", "ima", "--frame", std::to_string(ms), "--lose",
                        lose, "--csv", "-o", "out.wav"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(ReadPcm(Path("out.wav")).size(), input.size());
    const auto row = CsvRow(r.out);
    EXPECT_EQ(row.at("samples"), std::to_string(input.size()));
    EXPECT_EQ(row.at("frames"), std::to_string(frames));
    EXPECT_EQ(row.at("lost_frames"), "3");
  }
  // Resampled and mixed like encode: as long as what encode and decode give.
  std::vector<int16_t> stereo;
  for (int16_t s : Speech(16000 * 2 + 11)) stereo.insert(stereo.end(), {s, int16_t(s / 2)});
  WritePcmWav(Path("st.wav"), stereo, 16000, 2);
  ASSERT_EQ(Run({"encode", "-q", "-c", "alaw", "st.wav", "-o", "st.zvf"}).status, 0);
  ASSERT_EQ(Run({"decode", "-q", "st.zvf", "-o", "st.dec.wav"}).status, 0);
  ASSERT_EQ(
      Run({"conceal", "-q", "st.wav", "-c", "alaw", "--lose", "4", "-o", "st.out.wav"}).status, 0);
  EXPECT_EQ(ReadPcm(Path("st.out.wav")).size(), ReadPcm(Path("st.dec.wav")).size());
}

TEST_F(ConcealTest, NothingLostIsExactlyThePlainDecode) {
  const auto input = Speech(6000 + 13);
  WritePcmWav(Path("in.wav"), input, 8000);
  for (const auto& codec : CODECS) {
    SCOPED_TRACE(codec.name);
    ASSERT_EQ(
        Run({"encode", "-q", "-c", codec.name, "--frame", "30", "in.wav", "-o", "s.zvf"}).status,
        0);
    ASSERT_EQ(Run({"decode", "-q", "s.zvf", "-o", "plain.wav"}).status, 0);
    const auto plain = ReadPcm(Path("plain.wav"));
    ASSERT_EQ(plain,
              LibraryDecode(codec.type, 240, LibraryFrames(codec.type, 240, input), input.size()));
    for (const char* transport : TRANSPORTS) {
      for (const char* lose : {"", "none", "random:0", "bursty:0:3"}) {
        SCOPED_TRACE(std::string(transport) + " --lose '" + lose + "'");
        const auto r = Run({"conceal", "in.wav", "-c", codec.name, "--frame", "30", "--transport",
                            transport, "--lose", lose, "--csv", "-o", "c.wav"});
        ASSERT_EQ(r.status, 0) << r.err;
        EXPECT_EQ(ReadPcm(Path("c.wav")), plain);
        const auto row = CsvRow(r.out);
        EXPECT_EQ(row.at("lost_frames"), "0");
        EXPECT_EQ(row.at("snr_db"), "inf");
        EXPECT_EQ(row.at("lost_snr_db"), "-");
      }
    }
  }
}

TEST_F(ConcealTest, WithoutConcealmentLostFramesAreSilenceAndTheRestThePlainDecoder) {
  const auto input = Speech(16 * 160 + 50);
  WritePcmWav(Path("in.wav"), input, 8000);
  const auto lost = Mask(17, {2, 5, 6, 7, 12, 16});
  for (const auto& codec : CODECS) {
    const auto frames = LibraryFrames(codec.type, 160, input);
    for (const char* transport : TRANSPORTS) {
      SCOPED_TRACE(std::string(codec.name) + " over " + transport);
      const auto r = Run({"conceal", "-q", "in.wav", "-c", codec.name, "--transport", transport,
                          "--lose", "2,5-7,12,16", "--plc", "off", "-o", "off.wav"});
      ASSERT_EQ(r.status, 0) << r.err;
      const auto out = ReadPcm(Path("off.wav"));
      // G.711 keeps no state, and a DVI4 header resynchronises the IMA
      // decoder: the frames that arrive decode exactly as without loss. Over
      // VoiceFrames the ADPCM decoders go on from the last frame that arrived.
      std::vector<int16_t> expected;
      const bool stateless =
          codec.type <= 2 || (codec.type == 3 && std::string(transport) == "rtp");
      if (stateless) {
        expected = LibraryDecode(codec.type, 160, frames, input.size());
        for (size_t f = 0; f < lost.size(); ++f) {
          if (!lost[f]) continue;
          for (size_t i = f * 160; i < std::min(input.size(), (f + 1) * 160); ++i) expected[i] = 0;
        }
      } else {
        expected = DecodeSkipping(codec.type, 160, frames, lost, input.size());
      }
      EXPECT_EQ(out, expected);
      EXPECT_EQ(SilentFrames(out, 160), lost);
    }
  }
}

TEST_F(ConcealTest, ConcealmentFillsAGapAndFadesToSilenceBy60Ms) {
  const auto input = Speech(24000);
  WritePcmWav(Path("in.wav"), input, 8000);
  // The gap starts where the speech before it is loudest, on a boundary of
  // every frame size tried, and lasts 240 ms.
  size_t start = 960;
  for (size_t s = 960; s + 4000 < input.size(); s += 960) {
    if (Rms(input, s - 480, 480) > Rms(input, start - 480, 480)) start = s;
  }
  const size_t gap = 1920;
  for (const auto& codec : CODECS) {
    for (int ms : {10, 20, 30, 40, 60}) {
      SCOPED_TRACE(std::string(codec.name) + " " + std::to_string(ms) + " ms");
      const size_t spf = static_cast<size_t>(ms) * 8;
      const auto plain =
          LibraryDecode(codec.type, static_cast<int>(spf),
                        LibraryFrames(codec.type, static_cast<int>(spf), input), input.size());
      const std::string lose =
          std::to_string(start / spf) + "-" + std::to_string((start + gap) / spf - 1);
      const auto r = Run({"conceal", "-q", "in.wav", "-c", codec.name, "--frame",
                          std::to_string(ms), "--lose", lose, "-o", "on.wav"});
      ASSERT_EQ(r.status, 0) << r.err;
      const auto out = ReadPcm(Path("on.wav"));
      ASSERT_EQ(out.size(), input.size());
      // Before the gap: the decoder's own samples.
      EXPECT_TRUE(std::equal(out.begin(), out.begin() + long(start), plain.begin()));
      // Every 20 ms of the first 60 ms carries sound, at first near the level before the gap.
      EXPECT_GT(Rms(out, start, 160), 0.25 * Rms(out, start - 160, 160));
      for (size_t k = 0; k < 3; ++k) EXPECT_GT(Rms(out, start + k * 160, 160), 0.0) << k;
      // From 60 ms of loss on, exact silence until the gap ends.
      const auto silent =
          std::all_of(out.begin() + long(start + 480), out.begin() + long(start + gap),
                      [](int16_t v) { return v == 0; });
      EXPECT_TRUE(silent);
    }
  }
}

TEST_F(ConcealTest, ListsLoseExactlyTheFramesTheyName) {
  WritePcmWav(Path("c.wav"), std::vector<int16_t>(50 * 160, 1000), 8000);  // 50 frames
  struct Case {
    std::string losses;
    std::vector<bool> lost;
    std::string described;
  };
  const Case cases[] = {
      {"3,7-9", Mask(50, {3, 7, 8, 9}), "loss frames 3, 7-9: 4 of 50 frames lost"},
      {" 8 , 7-9,3,3", Mask(50, {3, 7, 8, 9}), "loss frames 3, 7-9: 4 of 50"},  // union
      {"0-1,2-3,49", Mask(50, {0, 1, 2, 3, 49}), "loss frames 0-3, 49: 5 of 50"},
      {"none", Mask(50, {}), "loss none: no frame lost"},
      {"random:100", std::vector<bool>(50, true), "50 of 50 frames lost (100.00%) in 1 burst"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.losses);
    const auto r = Run(
        {"conceal", "c.wav", "-c", "ulaw", "--plc", "off", "--lose", c.losses, "-o", "out.wav"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(SilentFrames(ReadPcm(Path("out.wav")), 160), c.lost);
    EXPECT_NE(r.out.find(c.described), std::string::npos) << r.out;
    EXPECT_EQ(r.err, "");
  }
  // Frames past the end are named in a warning; the ones before them are lost.
  auto r = Run({"conceal", "c.wav", "-c", "ulaw", "--plc", "off", "--lose", "3,48-60,100-200",
                "--csv", "-o", "out.wav"});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(SilentFrames(ReadPcm(Path("out.wav")), 160), Mask(50, {3, 48, 49}));
  EXPECT_EQ(r.err,
            "zelk-voice: warning: c.wav: --lose names frames past the end of the stream (50 "
            "frames, 0-49), which were not lost: 50-60, 100-200\n");
  EXPECT_EQ(CsvRow(r.out).at("lost_frames"), "3");
  // A seed gives the same frames every time; another seed others.
  std::vector<std::vector<int16_t>> runs;
  for (const char* losses : {"random:30:5", "random:30:5", "random:30:6"}) {
    ASSERT_EQ(Run({"conceal", "-q", "c.wav", "-c", "ulaw", "--plc", "off", "--lose", losses, "-o",
                   "out.wav"})
                  .status,
              0);
    runs.push_back(ReadPcm(Path("out.wav")));
  }
  EXPECT_EQ(runs[0], runs[1]);
  EXPECT_NE(runs[0], runs[2]);
}

TEST_F(ConcealTest, BadLossArgumentsAreUsageErrorsThatWriteNothing) {
  WritePcmWav(Path("in.wav"), Speech(8000), 8000);
  const std::pair<std::string, std::string> cases[] = {
      {"3-", "'3-' is not a frame index or range"},
      {"3--4", "'-4': frame indices count from 0 and have no sign"},
      {"-3", "'-3': frame indices count from 0 and have no sign"},
      {"a", "'a' is not a frame index or range"},
      {"3,,4", "an empty item in the list"},
      {"3,", "an empty item in the list"},
      {"9-7", "the range 9-7 runs backwards (write 7-9)"},
      {"99999999999999999999", "frame index 99999999999999999999 is too large"},
      {"random", "'random' is not a frame index"},
      {"random:", "PERCENT '' is not a number"},
      {"random:101", "PERCENT 101 is not between 0 and 100"},
      {"random:-1", "PERCENT -1 is not between 0 and 100"},
      {"random:5%", "PERCENT '5%' is not a number"},
      {"random:1e1", "PERCENT '1e1' is not a number"},
      {"random:5:x", "SEED 'x' is not a whole number"},
      {"random:5:4294967296", "SEED '4294967296' is not a whole number from 0 to 4294967295"},
      {"random:5:1:2", "write random:PERCENT or random:PERCENT:SEED"},
      {"bursty:10", "write bursty:PERCENT:MEANBURST"},
      {"bursty:10:0.5", "MEANBURST 0.5 is below 1"},
      {"bursty:10:0", "MEANBURST 0 is below 1"},
      {"bursty:90:3", "MEANBURST 3 allows at most 75% of the frames to be lost"},
      {"bursty:100:3", "MEANBURST 3 allows at most 75%"},
      {"bursty:60:1", "MEANBURST 1 allows at most 50%"},
      {"bursty:80:3.5", "MEANBURST 3.5 allows at most 77.78%"},
      {"gilbert:5:3", "unknown loss model 'gilbert'"},
  };
  for (const auto& [losses, message] : cases) {
    SCOPED_TRACE(losses);
    WriteBytes(Path("out.wav"), OLD);
    const auto r = Run({"conceal", "in.wav", "-c", "ulaw", "--lose=" + losses, "-o", "out.wav"});
    EXPECT_EQ(r.status, 2);
    EXPECT_TRUE(r.err.starts_with("zelk-voice: --lose " + losses + ": ")) << r.err;
    EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << r.err;
    EXPECT_NE(r.err.find(message), std::string::npos) << r.err;
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(ReadBytes(Path("out.wav")), OLD);
    EXPECT_TRUE(HiddenFiles().empty());
  }
}

// The loss models as the README defines them, written out here from that
// text: u_k from MT19937, random losses below P, a Gilbert model with
// p = 1/MEANBURST and q = p P / (1 - P).
double DocumentedUniform(std::mt19937& rng) {
  const double a = rng();
  const double b = rng();
  const double u = (a + b * 4294967296.0) / 18446744073709551616.0;
  return std::min(u, std::nextafter(1.0, 0.0));
}

std::vector<bool> DocumentedLoss(size_t frames, double percent, double meanBurst, uint32_t seed) {
  std::mt19937 rng(seed);
  const double p = percent / 100, leave = 1 / meanBurst, enter = leave * p / (1 - p);
  std::vector<bool> lost;
  bool bad = false;
  for (size_t k = 0; k < frames; ++k) {
    const double u = DocumentedUniform(rng);
    if (meanBurst == 0) {
      lost.push_back(u < p);
    } else {
      bad = bad ? !(u < leave) : u < enter;
      lost.push_back(bad);
    }
  }
  return lost;
}

TEST_F(ConcealTest, LossModelsFollowTheirDefinitionAndReachTheirRates) {
  constexpr size_t FRAMES = 20000;  // 10 ms frames: 200 s
  WritePcmWav(Path("c.wav"), std::vector<int16_t>(FRAMES * 80, 1000), 8000);
  struct Case {
    std::string losses;
    double percent, meanBurst;  // meanBurst 0: independent losses
    uint32_t seed;
  };
  const Case cases[] = {{"random:5", 5, 0, 1},       {"random:20:7", 20, 0, 7},
                        {"random:2.5:3", 2.5, 0, 3}, {"bursty:10:3", 10, 3, 1},
                        {"bursty:30:5:9", 30, 5, 9}, {"bursty:50:1:2", 50, 1, 2}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.losses);
    const auto r = Run({"conceal", "c.wav", "-c", "ulaw", "--frame", "10", "--plc", "off", "--lose",
                        c.losses, "--csv", "-o", "out.wav"});
    ASSERT_EQ(r.status, 0) << r.err;
    const auto lost = SilentFrames(ReadPcm(Path("out.wav")), 80);
    ASSERT_EQ(lost, DocumentedLoss(FRAMES, c.percent, c.meanBurst, c.seed));
    size_t count = 0, bursts = 0;
    for (size_t f = 0; f < FRAMES; ++f) {
      count += lost[f];
      bursts += lost[f] && (f == 0 || !lost[f - 1]);
    }
    const auto row = CsvRow(r.out);
    EXPECT_EQ(row.at("lost_frames"), std::to_string(count));
    EXPECT_EQ(row.at("bursts"), std::to_string(bursts));
    // The rates the models promise, within four standard deviations of what
    // FRAMES draws give: a two-state chain whose second eigenvalue is
    // 1 - enter - leave spreads the share of losses by (1 + l) / (1 - l).
    const double p = c.percent / 100;
    const double leave = c.meanBurst > 0 ? 1 / c.meanBurst : 1 - p;
    const double enter = c.meanBurst > 0 ? leave * p / (1 - p) : p;
    const double l = 1 - enter - leave;
    const double rateSd = std::sqrt(p * (1 - p) / FRAMES * (1 + l) / (1 - l));
    EXPECT_NEAR(static_cast<double>(count) / FRAMES, p, 4 * rateSd);
    // Bursts are geometric with mean 1 / leave (and that standard deviation, about).
    const double meanBurst = static_cast<double>(count) / static_cast<double>(bursts);
    EXPECT_NEAR(meanBurst, 1 / leave, 4 / leave / std::sqrt(static_cast<double>(bursts)));
  }
}

TEST_F(ConcealTest, EveryCodecRunsOverEveryTransport) {
  const auto input = Speech(24000);
  WritePcmWav(Path("in.wav"), input, 8000);
  const std::string lose = "20,40-42,75-76,120";
  const std::vector<size_t> after = {21, 43, 77, 121};  // the first frames that arrive again
  for (const auto& codec : CODECS) {
    const auto plain =
        LibraryDecode(codec.type, 160, LibraryFrames(codec.type, 160, input), input.size());
    std::map<std::string, std::vector<int16_t>> outputs;
    for (const char* transport : TRANSPORTS) {
      for (const char* plc : {"on", "off"}) {
        const std::string label = std::string(codec.name) + " " + transport + " plc " + plc;
        SCOPED_TRACE(label);
        const auto r = Run({"conceal", "in.wav", "-c", codec.name, "--transport", transport,
                            "--plc", plc, "--lose", lose, "-o", "out.wav"});
        ASSERT_EQ(r.status, 0) << r.err;
        const std::string payload[] = {"", "RTP PCMA (payload type 8)", "RTP PCMU (payload type 0)",
                                       "RTP DVI4 (payload type 5)",
                                       "RTP ZELK-ADPCM2 (dynamic payload type)"};
        EXPECT_NE(r.out.find(std::string(transport) == "rtp" ? payload[codec.type] : "VoiceFrames"),
                  std::string::npos)
            << r.out;
        outputs[label] = ReadPcm(Path("out.wav"));
        ASSERT_EQ(outputs[label].size(), input.size());
      }
    }
    const std::string name = codec.name;
    // The two transports carry the same codes; only DVI4's header tells the
    // receiver more. With it, every frame that arrives is exact again.
    auto frameAfterGap = [&](const std::string& label, size_t f) {
      const auto& out = outputs.at(label);
      return std::vector<int16_t>(out.begin() + long(f * 160), out.begin() + long(f * 160 + 160));
    };
    auto plainFrame = [&](size_t f) {
      return std::vector<int16_t>(plain.begin() + long(f * 160),
                                  plain.begin() + long(f * 160 + 160));
    };
    if (codec.type != 3) {
      EXPECT_EQ(outputs.at(name + " frame plc on"), outputs.at(name + " rtp plc on")) << name;
      EXPECT_EQ(outputs.at(name + " frame plc off"), outputs.at(name + " rtp plc off")) << name;
    } else {
      size_t exactOverFrames = 0;
      for (size_t f : after) {
        EXPECT_EQ(frameAfterGap("ima rtp plc on", f), plainFrame(f)) << f;
        EXPECT_EQ(frameAfterGap("ima rtp plc off", f), plainFrame(f)) << f;
        exactOverFrames += frameAfterGap("ima frame plc on", f) == plainFrame(f);
      }
      EXPECT_LT(exactOverFrames, after.size());
    }
  }
}

TEST_F(ConcealTest, ReadsStandardInputAndWritesStandardOutput) {
  WritePcmWav(Path("in.wav"), Speech(8000), 8000);
  auto r = Run({"conceal", "in.wav", "-c", "ulaw", "--lose", "3,9-11", "-o", "file.wav"});
  ASSERT_EQ(r.status, 0) << r.err;
  const auto fromFile = ReadPcm(Path("file.wav"));
  EXPECT_NE(r.out.find("in.wav: 1.00 s, 50 frames of 20 ms"), std::string::npos) << r.out;

  r = Shell("cat in.wav | \"$ZV\" conceal - -c ulaw --lose 3,9-11 -o - > piped.wav");
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(ReadPcm(Path("piped.wav")), fromFile);
  // The table goes beside the audio, to stderr; -q silences it.
  EXPECT_NE(r.err.find("standard input: 1.00 s, 50 frames"), std::string::npos) << r.err;
  r = Shell("\"$ZV\" -q conceal - -c ulaw --lose 3,9-11 -o - -t raw < in.wav > piped.raw");
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.err, "");
  const auto raw = ReadBytes(Path("piped.raw"));
  ASSERT_EQ(raw.size(), 2 * fromFile.size());
  for (size_t i = 0; i < fromFile.size(); ++i) {
    ASSERT_EQ(static_cast<int16_t>(raw[2 * i] | raw[2 * i + 1] << 8), fromFile[i]) << i;
  }
  // Headerless input, as encode reads it.
  r = Shell(
      "tail -c 16000 in.wav > in.pcm && \"$ZV\" conceal in.pcm --raw-rate 8000 -c ulaw "
      "--lose 3,9-11 -o raw.wav --json");
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(ReadPcm(Path("raw.wav")), fromFile);
  EXPECT_TRUE(
      r.out.starts_with("{\"input\": \"in.pcm\", \"output\": \"raw.wav\", \"codec\": "
                        "\"ulaw\""))
      << r.out;
}

// --- the figures, computed here from the files --------------------------------------

// Segmental SNR over the 20 ms segments of the signal, each clamped to
// -10..35 dB, counting only the samples of `part` (frames of `spf`).
double SegmentalSnr(const std::vector<int16_t>& ref, const std::vector<int16_t>& out,
                    const std::vector<bool>& part, size_t spf) {
  double sum = 0;
  size_t segments = 0;
  for (size_t s = 0; s + 160 <= ref.size(); s += 160) {
    double signal = 0, error = 0;
    bool any = false;
    for (size_t i = s; i < s + 160; ++i) {
      if (!part[i / spf]) continue;
      any = true;
      signal += double(ref[i]) * ref[i];
      error += (double(ref[i]) - out[i]) * (double(ref[i]) - out[i]);
    }
    if (!any) continue;
    const double db = error == 0 ? 35 : signal == 0 ? -10 : 10 * std::log10(signal / error);
    sum += std::clamp(db, -10.0, 35.0);
    ++segments;
  }
  return sum / static_cast<double>(segments);
}

double Snr(const std::vector<int16_t>& ref, const std::vector<int16_t>& out,
           const std::vector<bool>& part, size_t spf) {
  double signal = 0, error = 0;
  for (size_t i = 0; i < ref.size(); ++i) {
    if (!part[i / spf]) continue;
    signal += double(ref[i]) * ref[i];
    error += (double(ref[i]) - out[i]) * (double(ref[i]) - out[i]);
  }
  return 10 * std::log10(signal / error);
}

// Power spectrum in dB by a plain DFT (not the FFT the tool uses), floored at 0 dB.
std::vector<double> DftDb(const int16_t* x, size_t n, size_t points) {
  std::vector<double> w(n);
  double power = 0;
  for (size_t i = 0; i < n; ++i) {
    w[i] = std::pow(std::sin(std::numbers::pi * (double(i) + 0.5) / double(n)), 2);  // Hann
    power += w[i] * w[i];
  }
  std::vector<double> db;
  for (size_t k = 0; k <= points / 2; ++k) {
    std::complex<double> sum;
    for (size_t i = 0; i < n; ++i) {
      sum += w[i] * x[i] * std::polar(1.0, -2 * std::numbers::pi * double(k * i) / double(points));
    }
    db.push_back(10 * std::log10(std::max(1.0, std::norm(sum) / power)));
  }
  return db;
}

TEST_F(ConcealTest, TheFiguresAreWhatTheFilesGive) {
  const auto input = Speech(24000);
  WritePcmWav(Path("in.wav"), input, 8000);
  const size_t spf = 160, frames = 150;
  for (const char* plc : {"on", "off"}) {
    SCOPED_TRACE(plc);
    const auto r = Run({"conceal", "in.wav", "-c", "alaw", "--plc", plc, "--lose", "bursty:15:2",
                        "--csv", "-o", "out.wav"});
    ASSERT_EQ(r.status, 0) << r.err;
    const auto row = CsvRow(r.out);
    const auto out = ReadPcm(Path("out.wav"));
    const auto ref = LibraryDecode(1, 160, LibraryFrames(1, 160, input), input.size());
    const auto lost = DocumentedLoss(frames, 15, 2, 1);
    const std::vector<bool> all(frames, true);
    size_t lostCount = 0, longest = 0, run = 0;
    for (bool l : lost) {
      lostCount += l;
      run = l ? run + 1 : 0;
      longest = std::max(longest, run);
    }
    ASSERT_GT(lostCount, 10u);
    EXPECT_EQ(row.at("lost_frames"), std::to_string(lostCount));
    EXPECT_EQ(row.at("longest_burst"), std::to_string(longest));
    EXPECT_NEAR(std::stod(row.at("snr_db")), Snr(ref, out, all, spf), 0.001);
    EXPECT_NEAR(std::stod(row.at("lost_snr_db")), Snr(ref, out, lost, spf), 0.001);
    EXPECT_NEAR(std::stod(row.at("segmental_snr_db")), SegmentalSnr(ref, out, all, spf), 0.001);
    EXPECT_NEAR(std::stod(row.at("lost_segmental_snr_db")), SegmentalSnr(ref, out, lost, spf),
                0.001);
    if (std::string(plc) == "off") {
      EXPECT_EQ(row.at("lost_snr_db"), "0.000");  // silence leaves the signal as the error
    }
    // Edge jumps: both edges of every lost frame, sorted, the value at 99%.
    std::vector<int> jumps;
    double lsd = 0;
    size_t lsdFrames = 0;
    for (size_t f = 0; f < frames; ++f) {
      if (!lost[f]) continue;
      const size_t s = f * spf;
      if (s > 0) jumps.push_back(std::abs(out[s] - out[s - 1]));
      if (s + spf < out.size()) jumps.push_back(std::abs(out[s + spf] - out[s + spf - 1]));
      if (Rms(ref, s, spf) < 100) continue;
      const auto a = DftDb(&ref[s], spf, 256), b = DftDb(&out[s], spf, 256);
      double d = 0;
      for (size_t k = 0; k < a.size(); ++k) d += (a[k] - b[k]) * (a[k] - b[k]);
      lsd += std::sqrt(d / double(a.size()));
      ++lsdFrames;
    }
    std::sort(jumps.begin(), jumps.end());
    EXPECT_EQ(row.at("edges"), std::to_string(jumps.size()));
    EXPECT_EQ(row.at("edge_jump_p99"), std::to_string(jumps[jumps.size() * 99 / 100]));
    EXPECT_EQ(row.at("lsd_frames"), std::to_string(lsdFrames));
    EXPECT_NEAR(std::stod(row.at("lsd_db")), lsd / double(lsdFrames), 0.001);
  }
}

TEST_F(ConcealTest, FailuresLeaveNoFile) {
  WritePcmWav(Path("in.wav"), Speech(80000), 8000);  // 10 s
  const std::vector<std::string> conceal = {"conceal", "-c", "ulaw", "--lose", "random:10"};
  auto args = [&](std::vector<std::string> more) {
    std::vector<std::string> a = conceal;
    a.insert(a.end(), more.begin(), more.end());
    return a;
  };
  auto expectNothing = [&](const ToolResult& r, int status, const std::string& message,
                           const std::string& out) {
    EXPECT_EQ(r.status, status) << r.err;
    EXPECT_NE(r.err.find(message), std::string::npos) << r.err;
    EXPECT_EQ(ReadBytes(Path(out)), OLD);
    EXPECT_TRUE(HiddenFiles().empty());
  };
  // The input itself, also through a link.
  const auto original = ReadBytes(Path("in.wav"));
  fs::create_symlink("in.wav", Path("link.wav"));
  for (const std::string out : {"in.wav", "link.wav", "./in.wav"}) {
    const auto r = Run(args({"in.wav", "-o", out}));
    EXPECT_EQ(r.status, 2);
    EXPECT_NE(r.err.find("this output is the input"), std::string::npos) << r.err;
    EXPECT_EQ(ReadBytes(Path("in.wav")), original);
  }
  // A full disk, for the tool's own writers and a libsndfile one.
  for (const std::string ext : {"wav", "au", "raw", "flac"}) {
    WriteBytes(Path("out." + ext), OLD);
    expectNothing(
        Shell("ulimit -f 40; \"$ZV\" conceal -c ulaw --lose random:10 in.wav -o out." + ext), 1,
        "out." + ext + ": write failed: File too large", "out." + ext);
  }
  // A cut input, and the output half written by then.
  auto bytes = ReadBytes(Path("in.wav"));
  bytes.resize(bytes.size() / 2);
  WriteBytes(Path("cut.wav"), bytes);
  WriteBytes(Path("out.wav"), OLD);
  expectNothing(Run(args({"cut.wav", "-o", "out.wav"})), 1, "cut.wav: truncated", "out.wav");
  // Bad options.
  expectNothing(Run({"conceal", "in.wav", "-c", "gsm", "--lose", "1", "-o", "out.wav"}), 2,
                "unknown codec 'gsm'", "out.wav");
  expectNothing(Run(args({"in.wav", "--plc", "maybe", "-o", "out.wav"})), 2, "--plc", "out.wav");
  expectNothing(Run(args({"in.wav", "--transport", "udp", "-o", "out.wav"})), 2, "--transport",
                "out.wav");
  expectNothing(Run({"conceal", "in.wav", "-c", "ulaw", "-o", "out.wav"}), 2, "--lose is required",
                "out.wav");
  expectNothing(Run(args({"in.wav", "--csv", "--json", "-o", "out.wav"})), 2, "--json", "out.wav");
  expectNothing(Run(args({"in.wav", "-o", "out.wav", "-t", "au"})), 2,
                "extension does not match --type au", "out.wav");
}

}  // namespace
