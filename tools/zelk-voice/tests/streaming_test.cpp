// zelk-voice in pipelines: standard input and output against sox both ways,
// the G.711 forms it reads and writes checked through sox's own G.711, split
// channels, and outputs that are not plain files.
#include <gtest/gtest.h>
#include <sndfile.h>
#include <sys/stat.h>

#include <cmath>
#include <string>

#include "test_signals.h"
#include "tool_runner.h"

namespace fs = std::filesystem;
using zvtest::LibraryDecode;
using zvtest::LibraryFrames;
using zvtest::ReadBytes;
using zvtest::ReadPcm;
using zvtest::WriteBytes;
using zvtest::WritePcmWav;
using zvtest::WriteSound;

namespace {

class StreamingTest : public zvtest::ToolDirTest {
 protected:
  void SetUp() override {
    ToolDirTest::SetUp();
    if (!zvtest::HaveProgram("sox")) GTEST_SKIP() << "sox is not installed";
  }

  // 16-bit little-endian samples from a raw byte string.
  static std::vector<int16_t> Samples(const std::string& bytes) {
    std::vector<int16_t> out(bytes.size() / 2);
    for (size_t i = 0; i < out.size(); ++i) {
      out[i] = static_cast<int16_t>(static_cast<uint8_t>(bytes[2 * i]) |
                                    static_cast<uint8_t>(bytes[2 * i + 1]) << 8);
    }
    return out;
  }
};

// Speech at 16 kHz in stereo: the real recording on the left, a seeded
// speech-like signal on the right.
std::vector<int16_t> StereoSpeech(size_t frames) {
  std::vector<int16_t> real = zvtest::RealSpeech16k();
  const auto synthetic = zelk::testing::MakeSignal(zelk::testing::Signal::kSpeechLike, frames, 3);
  if (real.empty()) real = synthetic;
  std::vector<int16_t> stereo;
  for (size_t i = 0; i < frames; ++i) {
    stereo.push_back(real[i % real.size()]);
    stereo.push_back(synthetic[i]);
  }
  return stereo;
}

std::vector<int16_t> MonoSpeech8k(size_t n) {
  std::vector<int16_t> real = zvtest::RealSpeech16k();
  std::vector<int16_t> out;
  for (size_t i = 0; i < n; ++i) {
    out.push_back(real.empty() ? static_cast<int16_t>(8000 * std::sin(i * 0.3))
                               : real[(2 * i) % real.size()]);
  }
  return out;
}

TEST_F(StreamingTest, SoxIntoStandardInputEncodesLikeTheFile) {
  WriteSound(Path("in.flac"), StereoSpeech(40000), 16000, 2, SF_FORMAT_FLAC | SF_FORMAT_PCM_16);
  auto r = Run({"encode", "-q", "-c", "ima", "in.flac", "-o", "direct.zvf"});
  ASSERT_EQ(r.status, 0) << r.err;
  const auto direct = ReadBytes(Path("direct.zvf"));

  r = Shell("sox in.flac -t wav - | \"$ZV\" encode -q -c ima - -o piped.zvf");
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(ReadBytes(Path("piped.zvf")), direct);

  // Out through a pipe too: a stream's header needs its length, which a pipe
  // that announced its own can give up front.
  r = Shell("sox in.flac -t wav - | \"$ZV\" encode -q -c ima - -o - | cat > both.zvf");
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(ReadBytes(Path("both.zvf")), direct);
}

TEST_F(StreamingTest, PipedWavsWithoutALengthAreReadToTheirEnd) {
  WriteSound(Path("in.wav"), StereoSpeech(30000), 16000, 2, SF_FORMAT_WAV | SF_FORMAT_PCM_16);
  auto r = Run({"encode", "-q", "-c", "adpcm2", "in.wav", "-o", "direct.zvf"});
  ASSERT_EQ(r.status, 0) << r.err;
  const auto direct = ReadBytes(Path("direct.zvf"));
  // The placeholders of writers that cannot seek back: ffmpeg's and sox's.
  for (uint32_t placeholder : {0xFFFFFFFFu, 0x7FFFF000u}) {
    SCOPED_TRACE(placeholder);
    auto wav = ReadBytes(Path("in.wav"));
    for (size_t at : {size_t{4}, size_t{40}}) {
      for (int k = 0; k < 4; ++k) wav[at + k] = static_cast<uint8_t>(placeholder >> (8 * k));
    }
    WriteBytes(Path("unsized.wav"), wav);
    // The length comes only at the end, so the stream waits in a spool file.
    r = Shell("cat unsized.wav | \"$ZV\" encode -q -c adpcm2 - -o - | cat > piped.zvf");
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(ReadBytes(Path("piped.zvf")), direct);
  }
}

TEST_F(StreamingTest, StandardOutputReadsBackInSox) {
  WritePcmWav(Path("in.wav"), MonoSpeech8k(12345), 8000);
  auto r = Run({"encode", "-q", "-c", "ima", "in.wav", "-o", "s.zvf"});
  ASSERT_EQ(r.status, 0) << r.err;
  for (const std::string rate : {"8000", "16000", "44100"}) {
    SCOPED_TRACE(rate);
    r = Run({"decode", "-q", "s.zvf", "-o", "file.wav", "--rate", rate});
    ASSERT_EQ(r.status, 0) << r.err;
    const auto expected = ReadPcm(Path("file.wav"));
    for (const std::string type : {"wav", "au"}) {
      SCOPED_TRACE(type);
      r = Shell("\"$ZV\" decode -q s.zvf --rate " + rate + " -t " + type + " -o - | sox -t " +
                type + " - -t raw -e signed -b 16 -L -");
      ASSERT_EQ(r.status, 0) << r.err;
      EXPECT_EQ(r.err, "");  // sox found nothing to warn about in the header
      EXPECT_EQ(Samples(r.out), expected);
    }
    r = Shell("\"$ZV\" decode -q s.zvf --rate " + rate + " -t raw -o -");
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(Samples(r.out), expected);
  }
}

// sox's own G.711 tables decode what the tool writes; the library's decoder
// must agree with them on every sample, which also proves the codes are in
// sample order in every container.
TEST_F(StreamingTest, G711OutputsDecodeInSoxLikeTheLibrary) {
  const auto input = MonoSpeech8k(8000 + 77);
  WritePcmWav(Path("in.wav"), input, 8000);
  struct Case {
    const char* codec;
    int type;
    const char* name;
    const char* soxType;
  };
  const Case cases[] = {{"alaw", 1, "x.wav", "wav"}, {"alaw", 1, "x.au", "au"},
                        {"alaw", 1, "x.al", "al"},   {"ulaw", 2, "x.wav", "wav"},
                        {"ulaw", 2, "x.au", "au"},   {"ulaw", 2, "x.ul", "ul"}};
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.codec) + " " + c.name);
    const auto expected =
        LibraryDecode(c.type, 160, LibraryFrames(c.type, 160, input), input.size());
    auto r = Run({"encode", "-q", "-c", c.codec, "in.wav", "-o", c.name});
    ASSERT_EQ(r.status, 0) << r.err;
    const std::string raw = std::string(c.soxType).size() == 2 ? " -r 8000 -c 1" : "";
    r = Shell(std::string("sox -t ") + c.soxType + raw + " " + c.name +
              " -t raw -e signed -b 16 -L -");
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(Samples(r.out), expected);
    // The same through standard output.
    r = Shell(std::string("\"$ZV\" encode -q -c ") + c.codec + " in.wav -t " + c.soxType +
              " -o - | sox -t " + c.soxType + raw + " - -t raw -e signed -b 16 -L -");
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(Samples(r.out), expected);
  }
}

// G.711 made by sox, in every form the tool reads, from files and from a
// pipe, decodes to what sox's own decoder makes of it.
TEST_F(StreamingTest, G711FromSoxDecodesLikeSoxInEveryForm) {
  WritePcmWav(Path("in.wav"), MonoSpeech8k(9000), 8000);
  for (const std::string law : {"a-law", "u-law"}) {
    SCOPED_TRACE(law);
    const std::string headerless = law == "a-law" ? "al" : "ul";
    // Without dither, so that every container holds the same codes.
    ASSERT_EQ(Shell("sox -D in.wav -e " + law + " g.wav && sox -D in.wav -e " + law +
                    " g.au && sox -D in.wav -t " + headerless + " g." + headerless + " && cp g." +
                    headerless + " g.bin")
                  .status,
              0);
    const auto r0 = Shell("sox g.wav -t raw -e signed -b 16 -L -");
    ASSERT_EQ(r0.status, 0) << r0.err;
    const auto expected = Samples(r0.out);
    const std::string commands[] = {
        "\"$ZV\" decode -q g.wav -o - -t raw",
        "\"$ZV\" decode -q g.au -o - -t raw",
        "\"$ZV\" decode -q g." + headerless + " -o - -t raw",
        "\"$ZV\" decode -q -t " + (law == "a-law" ? std::string("alaw") : "ulaw") +
            " g.bin -o - -t raw",
        "cat g.wav | \"$ZV\" decode -q - -o - -t raw",
        "cat g.au | \"$ZV\" decode -q - -o - -t raw",
        "cat g.bin | \"$ZV\" decode -q -t " + headerless + " - -t raw -o -",
    };
    for (const std::string& command : commands) {
      SCOPED_TRACE(command);
      const auto r = Shell(command);
      ASSERT_EQ(r.status, 0) << r.err;
      EXPECT_EQ(Samples(r.out), expected);
    }
  }
}

TEST_F(StreamingTest, StreamsFromStandardInputDecodeAndCheckLikeFiles) {
  WritePcmWav(Path("in.wav"), MonoSpeech8k(5000), 8000);
  ASSERT_EQ(Run({"encode", "-q", "-c", "adpcm2", "in.wav", "-o", "s.zvf"}).status, 0);
  ASSERT_EQ(Run({"decode", "-q", "s.zvf", "-o", "file.wav"}).status, 0);
  auto r = Shell("cat s.zvf | \"$ZV\" decode -q - -o piped.wav");
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(ReadBytes(Path("piped.wav")), ReadBytes(Path("file.wav")));
  r = Shell("cat s.zvf | \"$ZV\" info -");
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.out.find("all 32 frames valid"), std::string::npos) << r.out;
  // A cut stream on a pipe is refused like a cut file.
  r = Shell("head -c 500 s.zvf | \"$ZV\" decode - -o cut.wav");
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("standard input: frame 10 at byte 464: short frame (36 of 44 bytes)"),
            std::string::npos)
      << r.err;
  EXPECT_FALSE(fs::exists(Path("cut.wav")));
}

TEST_F(StreamingTest, SplitCodesEachChannelAndChannelPicksOne) {
  const size_t n = 12000;
  const auto stereo = StereoSpeech(n);
  std::vector<int16_t> left, right;
  for (size_t i = 0; i < n; ++i) {
    left.push_back(stereo[2 * i]);
    right.push_back(stereo[2 * i + 1]);
  }
  WritePcmWav(Path("call.wav"), stereo, 16000, 2);
  WritePcmWav(Path("left.wav"), left, 16000);
  WritePcmWav(Path("right.wav"), right, 16000);
  for (const char* name : {"left", "right"}) {
    ASSERT_EQ(Run({"encode", "-q", "-c", "ulaw", std::string(name) + ".wav", "-o",
                   std::string(name) + ".zvf"})
                  .status,
              0);
  }
  auto r = Run({"encode", "-c", "ulaw", "--split", "call.wav", "-o", "parts/"});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.out.find("parts/call.ch2.zvf"), std::string::npos) << r.out;
  EXPECT_EQ(ReadBytes(Path("parts/call.ch1.zvf")), ReadBytes(Path("left.zvf")));
  EXPECT_EQ(ReadBytes(Path("parts/call.ch2.zvf")), ReadBytes(Path("right.zvf")));

  r = Run({"encode", "-q", "-c", "ulaw", "--channel", "2", "call.wav", "-o", "two.zvf"});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(ReadBytes(Path("two.zvf")), ReadBytes(Path("right.zvf")));

  r = Run({"encode", "-c", "ulaw", "--channel", "3", "call.wav", "-o", "three.zvf"});
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("call.wav: has 2 channels; there is no channel 3"), std::string::npos);
  EXPECT_FALSE(fs::exists(Path("three.zvf")));
  r = Run({"encode", "-c", "ulaw", "--split", "call.wav", "-o", "-"});
  EXPECT_EQ(r.status, 2);
  EXPECT_TRUE(HiddenFiles().empty());
}

TEST_F(StreamingTest, AFifoIsWrittenInPlaceNotReplaced) {
  WritePcmWav(Path("in.wav"), MonoSpeech8k(4000), 8000);
  ASSERT_EQ(Run({"encode", "-q", "-c", "ima", "in.wav", "-o", "file.zvf"}).status, 0);
  ASSERT_EQ(mkfifo(Path("fifo").c_str(), 0600), 0);
  // Should the tool fail, opening the FIFO once more releases the reader.
  const auto r = Shell(
      "cat fifo > got.zvf & \"$ZV\" encode -q -c ima -t zvf in.wav -o fifo; s=$?; "
      "[ $s -eq 0 ] || : > fifo; wait; exit $s");
  ASSERT_EQ(r.status, 0) << r.err;
  struct stat st {};
  ASSERT_EQ(lstat(Path("fifo").c_str(), &st), 0);
  EXPECT_TRUE(S_ISFIFO(st.st_mode));
  EXPECT_EQ(ReadBytes(Path("got.zvf")), ReadBytes(Path("file.zvf")));
}

TEST_F(StreamingTest, ATrailingSlashNamesADirectoryToCreate) {
  WritePcmWav(Path("in.wav"), MonoSpeech8k(4000), 8000);
  auto r = Run({"encode", "-q", "-c", "alaw", "in.wav", "-o", "new/deeper/"});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_TRUE(fs::is_regular_file(Path("new/deeper/in.zvf")));
  r = Run({"decode", "-q", "new/deeper/in.zvf", "-o", "pcm/", "-t", "flac"});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_TRUE(fs::is_regular_file(Path("pcm/in.flac")));
}

}  // namespace
