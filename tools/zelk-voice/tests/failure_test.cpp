// Nothing fails silently and nothing is lost: damaged and cut inputs of every
// format, inputs too short to resample, full disks for every output format,
// outputs that are inputs, clipping, the two-bit codec's wrap-around, and
// signals. Every failure must leave no output and no temporary file, and an
// older file of the output's name exactly as it was.
#include <gtest/gtest.h>
#include <signal.h>
#include <sndfile.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cmath>
#include <functional>
#include <string>
#include <thread>

#include "test_signals.h"
#include "tool_runner.h"

namespace fs = std::filesystem;
using zelk::testing::MakeSignal;
using zelk::testing::Signal;
using zvtest::ReadBytes;
using zvtest::ReadPcm;
using zvtest::ToolResult;
using zvtest::WriteBytes;
using zvtest::WritePcmWav;
using zvtest::WriteSound;

namespace {

const std::vector<uint8_t> OLD = {'o', 'l', 'd'};

class FailureTest : public zvtest::ToolDirTest {
 protected:
  // The checks every failed run must pass for output `out`, which held OLD.
  void ExpectNothingWritten(const ToolResult& r, int status, const std::string& message,
                            const std::string& out) {
    EXPECT_EQ(r.status, status) << r.err;
    EXPECT_NE(r.err.find(message), std::string::npos) << r.err;
    EXPECT_EQ(ReadBytes(Path(out)), OLD) << out;
    EXPECT_TRUE(HiddenFiles().empty());
  }
};

std::vector<int16_t> Speech16k(size_t n) {
  std::vector<int16_t> real = zvtest::RealSpeech16k();
  if (real.empty()) real = MakeSignal(Signal::kSpeechLike, n, 9);
  std::vector<int16_t> out;
  for (size_t i = 0; i < n; ++i) out.push_back(real[i % real.size()]);
  return out;
}

void Cut(const fs::path& from, const fs::path& to, double keep) {
  auto b = ReadBytes(from);
  b.resize(static_cast<size_t>(static_cast<double>(b.size()) * keep));
  WriteBytes(to, b);
}

void Damage(const fs::path& from, const fs::path& to) {
  auto b = ReadBytes(from);
  for (size_t i = 0; i < 400; ++i) b[b.size() / 2 + i] ^= 0x5A;
  WriteBytes(to, b);
}

struct BadInput {
  std::string label;
  std::string file;  // written by `make`
  int format;        // libsndfile format of the good file it starts from
  std::function<void(const fs::path& good, const fs::path& bad)> spoil;
  std::string expect;  // part of the message
};

TEST_F(FailureTest, CutAndDamagedInputsOfEveryFormatAreErrorsWithAPosition) {
  const auto speech = Speech16k(96000);  // 6 s
  const BadInput cases[] = {
      {"FLAC cut", "x.flac", SF_FORMAT_FLAC | SF_FORMAT_PCM_16,
       [](auto& g, auto& b) { Cut(g, b, 0.6); }, "x.flac: decoding failed after sample"},
      {"FLAC with 400 damaged bytes", "x.flac", SF_FORMAT_FLAC | SF_FORMAT_PCM_16, Damage,
       "x.flac: decoding failed after sample"},
      {"Ogg cut", "x.ogg", SF_FORMAT_OGG | SF_FORMAT_VORBIS,
       [](auto& g, auto& b) { Cut(g, b, 0.6); }, "x.ogg: truncated: the Ogg page at byte"},
      {"Ogg with 400 damaged bytes", "x.ogg", SF_FORMAT_OGG | SF_FORMAT_VORBIS, Damage,
       "x.ogg: truncated or damaged: the audio stops after"},
      {"MP3 cut", "x.mp3", SF_FORMAT_MPEG | SF_FORMAT_MPEG_LAYER_III,
       [](auto& g, auto& b) { Cut(g, b, 0.6); },
       "x.mp3: truncated or damaged: the audio stops after"},
      {"WAV cut", "x.wav", SF_FORMAT_WAV | SF_FORMAT_PCM_16,
       [](auto& g, auto& b) { Cut(g, b, 0.6); },
       "x.wav: truncated: the data chunk declares 192000 bytes of audio from byte 44, but the file "
       "ends at byte 115226"},
      {"AU cut", "x.au", SF_FORMAT_AU | SF_FORMAT_PCM_16, [](auto& g, auto& b) { Cut(g, b, 0.6); },
       "x.au: truncated: the AU header declares 192000 bytes"},
      {"AIFF cut", "x.aiff", SF_FORMAT_AIFF | SF_FORMAT_PCM_16,
       [](auto& g, auto& b) { Cut(g, b, 0.6); }, "x.aiff: truncated: the SSND chunk declares"},
      {"raw PCM with half a sample", "x.raw", SF_FORMAT_RAW | SF_FORMAT_PCM_16,
       [](auto& g, auto& b) {
         auto bytes = ReadBytes(g);
         bytes.push_back(1);
         WriteBytes(b, bytes);
       },
       "x.raw: truncated: 1 bytes after the last whole frame"},
  };
  for (const BadInput& c : cases) {
    SCOPED_TRACE(c.label);
    fs::remove_all(dir_);
    fs::create_directories(dir_);
    WriteSound(Path("good"), speech, 16000, 1, c.format);
    c.spoil(Path("good"), Path(c.file));
    WriteBytes(Path("out.zvf"), OLD);
    std::vector<std::string> args = {"encode", "-c", "ima", c.file, "-o", "out.zvf"};
    if (c.file == "x.raw") args.insert(args.end(), {"--raw-rate", "16000"});
    ExpectNothingWritten(Run(args), 1, c.expect, "out.zvf");
    // The good file itself goes through.
    fs::rename(Path("good"), Path("good." + c.file.substr(2)));
    args[3] = "good." + c.file.substr(2);
    const auto r = Run(args);
    EXPECT_EQ(r.status, 0) << r.err;
  }
}

TEST_F(FailureTest, CutInputsOnAPipeAndCutG711FilesAreErrors) {
  WriteSound(Path("in.wav"), Speech16k(32000), 16000, 1, SF_FORMAT_WAV | SF_FORMAT_PCM_16);
  WriteBytes(Path("out.zvf"), OLD);
  // The header on the pipe promises 32000 samples; 20000 arrive.
  ExpectNothingWritten(Shell("head -c 40044 in.wav | \"$ZV\" encode -c ima - -o out.zvf"), 1,
                       "standard input: truncated or damaged: the audio stops after 20000 of the "
                       "32000 samples it declares",
                       "out.zvf");

  WriteSound(Path("g.wav"), Speech16k(8000), 8000, 1, SF_FORMAT_WAV | SF_FORMAT_ALAW);
  Cut(Path("g.wav"), Path("cut.wav"), 0.5);
  WriteBytes(Path("out.wav"), OLD);
  ExpectNothingWritten(Run({"decode", "cut.wav", "-o", "out.wav"}), 1,
                       "cut.wav: truncated: the data chunk declares 8000 bytes", "out.wav");
  ExpectNothingWritten(Shell("head -c 3000 g.wav | \"$ZV\" decode - -o out.wav"), 1,
                       "standard input: truncated: the codes stop after", "out.wav");
}

TEST_F(FailureTest, SizeFieldsThatDisagreeWithTheFileAreReported) {
  WritePcmWav(Path("in.wav"), Speech16k(8000), 8000);
  auto bytes = ReadBytes(Path("in.wav"));
  bytes.insert(bytes.end(), {'j', 'u', 'n', 'k', 0, 0, 0, 0});  // a chunk the RIFF size leaves out
  WriteBytes(Path("long.wav"), bytes);
  auto r = Run({"encode", "-c", "ima", "long.wav", "-o", "x.zvf"});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.err.find("zelk-voice: warning: long.wav: the RIFF header gives a file of 16044 "
                       "bytes, the file has 16052"),
            std::string::npos)
      << r.err;
  r = Run({"encode", "-q", "-c", "ima", "long.wav", "-o", "x.zvf"});
  EXPECT_EQ(r.err, "");
}

TEST_F(FailureTest, InputsThatResampleToNothingFailAloneInABatch) {
  const auto good = Speech16k(16000);
  WritePcmWav(Path("good.wav"), good, 16000);
  WritePcmWav(Path("one48.wav"), {1000}, 48000);
  WritePcmWav(Path("one44.wav"), {1000}, 44100);
  WritePcmWav(Path("two44.wav"), {1000, -1000}, 44100, 1);
  auto r =
      Run({"encode", "-c", "ima", "one48.wav", "good.wav", "one44.wav", "two44.wav", "-o", "out"});
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("one48.wav: too short: 1 sample at 48000 Hz gives no sample at 8000 Hz"),
            std::string::npos)
      << r.err;
  EXPECT_NE(r.err.find("one44.wav: too short: 1 sample at 44100 Hz"), std::string::npos);
  EXPECT_NE(r.err.find("two44.wav: too short: 2 samples at 44100 Hz give no sample"),
            std::string::npos);
  EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 3) << r.err;
  EXPECT_TRUE(fs::exists(Path("out/good.zvf")));
  EXPECT_EQ(fs::directory_iterator(Path("out")) == fs::directory_iterator(), false);
  EXPECT_EQ(std::distance(fs::directory_iterator(Path("out")), fs::directory_iterator()), 1);

  // A one-sample stream: nothing at 1 kHz, six samples at 44.1 kHz (5.5 rounded up).
  WritePcmWav(Path("one8.wav"), {1000}, 8000);
  ASSERT_EQ(Run({"encode", "-q", "-c", "alaw", "one8.wav", "-o", "one.zvf"}).status, 0);
  WriteBytes(Path("out.wav"), OLD);
  ExpectNothingWritten(Run({"decode", "one.zvf", "-o", "out.wav", "--rate", "1000"}), 1,
                       "one.zvf: too short: 1 sample at 8000 Hz gives no sample at 1000 Hz",
                       "out.wav");
  r = Run({"decode", "-q", "one.zvf", "-o", "six.wav", "--rate", "44100"});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(ReadPcm(Path("six.wav")).size(), 6u);
}

// Every format the tool writes, into a file limited to 20 KiB: libsndfile's
// own list of the formats it writes, the tool's PCM writers, and the encoder's
// outputs.
TEST_F(FailureTest, AFullDiskFailsEveryOutputFormatAndLeavesNoFile) {
  WritePcmWav(Path("in.wav"), Speech16k(160000), 16000);  // 10 s
  ASSERT_EQ(Run({"encode", "-q", "-c", "ulaw", "in.wav", "-o", "s.zvf"}).status, 0);
  std::vector<std::string> decodeTypes = {"wav", "au", "raw", "mp3", "ogg"};
  int count = 0;
  sf_command(nullptr, SFC_GET_FORMAT_MAJOR_COUNT, &count, sizeof count);
  for (int i = 0; i < count; ++i) {
    SF_FORMAT_INFO fi{};
    fi.format = i;
    sf_command(nullptr, SFC_GET_FORMAT_MAJOR, &fi, sizeof fi);
    if (fi.extension != nullptr) decodeTypes.push_back(fi.extension);
  }
  int tested = 0;
  const std::string limit = "ulimit -f 40; ";  // 40 blocks of 512 bytes
  for (const std::string& ext : decodeTypes) {
    SCOPED_TRACE(ext);
    const std::string out = "out." + ext;
    const auto free = Run({"decode", "-q", "s.zvf", "-o", out});
    if (free.status == 2) continue;  // a format libsndfile cannot write as mono 16-bit
    ASSERT_EQ(free.status, 0) << free.err;
    ASSERT_GT(fs::file_size(Path(out)), 20480u);
    WriteBytes(Path(out), OLD);
    ExpectNothingWritten(Shell(limit + "\"$ZV\" decode s.zvf -o " + out), 1,
                         out + ": write failed: File too large", out);
    ++tested;
  }
  EXPECT_GE(tested, 15);
  for (const std::string ext : {"zvf", "wav", "au", "ul"}) {
    SCOPED_TRACE(ext);
    const std::string out = "enc." + ext;
    WriteBytes(Path(out), OLD);
    ExpectNothingWritten(Shell(limit + "\"$ZV\" encode -c ulaw in.wav -o " + out), 1,
                         out + ": write failed: File too large", out);
  }
  // Standard output onto a full device.
  auto r = Shell("\"$ZV\" decode s.zvf -o - > /dev/full");
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("standard output: write failed: No space left on device"), std::string::npos)
      << r.err;
  r = Shell("\"$ZV\" encode -c ulaw in.wav -o - > /dev/full");
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("standard output: write failed"), std::string::npos) << r.err;
}

TEST_F(FailureTest, AnOutputThatIsAnInputIsRefused) {
  WritePcmWav(Path("same.wav"), Speech16k(8000), 8000);
  const auto original = ReadBytes(Path("same.wav"));
  fs::create_symlink("same.wav", Path("link.wav"));
  fs::create_hard_link(Path("same.wav"), Path("hard.wav"));
  fs::create_directories(Path("sub"));
  fs::create_symlink("same.wav", Path("link.svg"));
  const std::vector<std::vector<std::string>> runs = {
      {"encode", "-c", "alaw", "same.wav", "-o", "same.wav"},
      {"encode", "-c", "alaw", "same.wav", "-o", "./same.wav"},
      {"encode", "-c", "alaw", "same.wav", "-o", "link.wav"},
      {"encode", "-c", "alaw", "same.wav", "-o", "hard.wav"},
      {"encode", "-c", "alaw", "-t", "wav", "same.wav", "-o", "."},
      {"encode", "-c", "alaw", "-t", "wav", "sub/../same.wav", "-o", "sub/.."},
      {"roundtrip", "same.wav", "--plot", "link.svg"},
  };
  for (const auto& args : runs) {
    SCOPED_TRACE(args.back());
    const auto r = Run(args);
    EXPECT_EQ(r.status, 2) << r.err;
    EXPECT_NE(r.err.find("this output is the input"), std::string::npos) << r.err;
    EXPECT_EQ(ReadBytes(Path("same.wav")), original);
  }
  ASSERT_EQ(Run({"encode", "-q", "-c", "alaw", "same.wav", "-o", "g.wav"}).status, 0);
  const auto coded = ReadBytes(Path("g.wav"));
  const auto r = Run({"decode", "g.wav", "-o", "g.wav"});
  EXPECT_EQ(r.status, 2);
  EXPECT_EQ(ReadBytes(Path("g.wav")), coded);
  EXPECT_TRUE(HiddenFiles().empty());
}

TEST_F(FailureTest, ClippedSamplesAreCountedLikeSoxCountsThem) {
  if (!zvtest::HaveProgram("sox")) GTEST_SKIP() << "sox is not installed";
  // A full-scale square overshoots when resampled: about half its samples clip.
  auto r = Shell(
      "sox -n -r 48000 -b 16 square.wav synth 1 square 500 && "
      "sox square.wav -D sox8k.wav rate -h 8000");
  ASSERT_EQ(r.status, 0) << r.err;
  const size_t soxAt = r.err.find("rate clipped ");
  ASSERT_NE(soxAt, std::string::npos) << r.err;
  const long soxClipped = std::stol(r.err.substr(soxAt + 13));

  r = Run({"encode", "-c", "ima", "square.wav", "-o", "x.zvf"});
  ASSERT_EQ(r.status, 0) << r.err;
  const std::string prefix = "zelk-voice: warning: square.wav: ";
  ASSERT_TRUE(r.err.starts_with(prefix)) << r.err;
  EXPECT_NE(r.err.find(" of 8000 samples ("), std::string::npos) << r.err;
  EXPECT_NE(r.err.find("%) clipped to the 16-bit range by resampling from 48000 Hz"),
            std::string::npos)
      << r.err;
  EXPECT_NEAR(std::stol(r.err.substr(prefix.size())), soxClipped, soxClipped / 100 + 1);
  r = Run({"encode", "-q", "-c", "ima", "square.wav", "-o", "x.zvf"});
  EXPECT_EQ(r.err, "");

  // Speech well below full scale clips nothing and says nothing.
  WritePcmWav(Path("speech.wav"), Speech16k(16000), 16000);
  r = Run({"encode", "-c", "ima", "speech.wav", "-o", "y.zvf"});
  EXPECT_EQ(r.err, "");
}

// Decoded samples that step by more than half the 16-bit range: the sign of
// a loud sample flipped.
size_t Wraps(const std::vector<int16_t>& x) {
  size_t wraps = 0;
  for (size_t i = 1; i < x.size(); ++i) wraps += std::abs(x[i] - x[i - 1]) > 32768;
  return wraps;
}

std::vector<int16_t> AtPeakDb(const std::vector<int16_t>& x, double db) {
  int peak = 1;
  for (int16_t s : x) peak = std::max(peak, std::abs(int{s}));
  const double gain = 32767.0 * std::pow(10.0, db / 20.0) / peak;
  std::vector<int16_t> out;
  for (int16_t s : x) {
    out.push_back(static_cast<int16_t>(std::lround(std::clamp(s * gain, -32768.0, 32767.0))));
  }
  return out;
}

TEST_F(FailureTest, TwoBitCodecWarnsWhereItsWrapAroundBegins) {
  const auto real = zvtest::RealSpeech16k();
  if (real.empty()) GTEST_SKIP() << "pocketsphinx-testdata is not installed";
  std::vector<int16_t> speech;
  for (size_t i = 0; i < real.size(); i += 2) speech.push_back(real[i]);  // 8 kHz, same peaks
  struct Level {
    double db;
    bool warned;
  };
  for (const Level level : {Level{0.0, true}, Level{-0.5, true}, Level{-1.5, false}}) {
    SCOPED_TRACE(level.db);
    WritePcmWav(Path("in.wav"), AtPeakDb(speech, level.db), 8000);
    auto r = Run({"encode", "-c", "adpcm2", "in.wav", "-o", "x.zvf"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.err.find("two-bit ADPCM can wrap around") != std::string::npos, level.warned)
        << r.err;
    r = Run({"encode", "-c", "ima", "in.wav", "-o", "y.zvf"});
    EXPECT_EQ(r.err, "");
    ASSERT_EQ(Run({"decode", "-q", "x.zvf", "-o", "x.wav"}).status, 0);
    // The warning is there for a reason: at full scale this recording wraps,
    // below the warning level it does not.
    if (level.db == 0.0) {
      EXPECT_GT(Wraps(ReadPcm(Path("x.wav"))), 0u);
    }
    if (!level.warned) {
      EXPECT_EQ(Wraps(ReadPcm(Path("x.wav"))), 0u);
    }
  }
  const auto help = Run({"encode", "--help"});
  EXPECT_NE(help.out.find("wrap around"), std::string::npos) << help.out;
}

// The tool reading a slow pipe, killed by `sig` while its output is half written.
TEST_F(FailureTest, EveryTerminatingSignalRemovesTheTemporaryFile) {
  for (int sig : {SIGINT, SIGTERM, SIGHUP, SIGQUIT, SIGPIPE}) {
    SCOPED_TRACE(strsignal(sig));
    WriteBytes(Path("out.zvf"), OLD);
    int feed[2];
    ASSERT_EQ(pipe(feed), 0);
    const pid_t pid = fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
      dup2(feed[0], STDIN_FILENO);
      close(feed[0]);
      close(feed[1]);
      const rlimit noCore{0, 0};
      setrlimit(RLIMIT_CORE, &noCore);
      if (chdir(dir_.c_str()) != 0) _exit(127);
      execl(ZELK_VOICE_EXE, ZELK_VOICE_EXE, "encode", "-q", "-c", "ima", "-", "-o", "out.zvf",
            static_cast<char*>(nullptr));
      _exit(127);
    }
    close(feed[0]);
    // A WAV header promising 10 s at 8 kHz, then the first second.
    WritePcmWav(Path("whole.wav"), std::vector<int16_t>(80000, 100), 8000);
    const auto wav = ReadBytes(Path("whole.wav"));
    ASSERT_EQ(write(feed[1], wav.data(), 44 + 16000), 44 + 16000);
    bool started = false;
    for (int i = 0; i < 500 && !started; ++i) {
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
      started = !HiddenFiles().empty();
    }
    EXPECT_TRUE(started);
    kill(pid, sig);
    int status = 0;
    waitpid(pid, &status, 0);
    close(feed[1]);
    EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == sig) << status;
    EXPECT_TRUE(HiddenFiles().empty());
    EXPECT_EQ(ReadBytes(Path("out.zvf")), OLD);
  }
}

}  // namespace
