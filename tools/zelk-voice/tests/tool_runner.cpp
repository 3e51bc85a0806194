#include "tool_runner.h"

#include <sndfile.h>
#include <sys/wait.h>
#include <unistd.h>
#include <zelk_voice_engine.h>

#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <sstream>
#include <stdexcept>

namespace zvtest {

namespace {

std::string Quote(const std::string& s) {
  std::string q(1, '\'');
  for (char c : s) {
    if (c == '\'') {
      q.append("'\\''");
    } else {
      q.push_back(c);
    }
  }
  q.push_back('\'');
  return q;
}

std::string ReadText(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// Runs `shellLine` (with `cd dir && ` before it) through std::system,
// capturing both streams in files of the work folder.
ToolResult RunCaptured(const std::filesystem::path& dir, const std::string& shellLine) {
  const auto outPath = dir / "tool.stdout.txt";
  const auto errPath = dir / "tool.stderr.txt";
  std::string cmd("cd ");
  cmd.append(Quote(dir.string())).append(" && ").append(shellLine);
  cmd.append(" >").append(Quote(outPath.string()));
  cmd.append(" 2>").append(Quote(errPath.string())).append(" </dev/null");
  const int raw = std::system(cmd.c_str());
  ToolResult r;
  r.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : 128 + WTERMSIG(raw);
  r.out = ReadText(outPath);
  r.err = ReadText(errPath);
  std::filesystem::remove(outPath);
  std::filesystem::remove(errPath);
  return r;
}

}  // namespace

ToolResult RunTool(const std::filesystem::path& dir, const std::vector<std::string>& args) {
  std::string line = Quote(ZELK_VOICE_EXE);
  for (const auto& a : args) line.append(" ").append(Quote(a));
  return RunCaptured(dir, line);
}

ToolResult RunShell(const std::filesystem::path& dir, const std::string& command) {
  // In a subshell, so that the capture applies to the whole command line.
  const std::string line = "ZV=" + Quote(ZELK_VOICE_EXE) + " && export ZV && (" + command + ")";
  return RunCaptured(dir, line);
}

bool HaveProgram(const std::string& name) {
  return std::system(("command -v " + Quote(name) + " >/dev/null 2>&1").c_str()) == 0;
}

void ToolDirTest::SetUp() {
  const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
  dir_ = std::filesystem::temp_directory_path() /
         (std::string("zelk_voice_") + info->test_suite_name() + "_" + info->name() + "_" +
          std::to_string(getpid()));
  std::filesystem::remove_all(dir_);
  std::filesystem::create_directories(dir_);
}

void ToolDirTest::TearDown() { std::filesystem::remove_all(dir_); }

std::vector<std::string> ToolDirTest::HiddenFiles() const {
  std::vector<std::string> hidden;
  for (const auto& e : std::filesystem::recursive_directory_iterator(dir_)) {
    if (e.path().filename().string().starts_with(".")) hidden.push_back(e.path().string());
  }
  return hidden;
}

std::vector<int16_t> RealSpeech16k() {
  const char* path =
      "/usr/share/pocketsphinx/test/data/librivox/sense_and_sensibility_01_austen_64kb-0920.wav";
  if (!std::filesystem::exists(path)) return {};
  return ReadPcm(path);
}

std::vector<uint8_t> ReadBytes(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

void WriteBytes(const std::filesystem::path& path, const std::vector<uint8_t>& bytes) {
  std::ofstream(path, std::ios::binary)
      .write(reinterpret_cast<const char*>(bytes.data()),
             static_cast<std::streamsize>(bytes.size()));
}

void WritePcmWav(const std::filesystem::path& path, const std::vector<int16_t>& samples, int rate,
                 int channels, int subtype) {
  WriteSound(path, samples, rate, channels, SF_FORMAT_WAV | (subtype ? subtype : SF_FORMAT_PCM_16));
}

void WriteSound(const std::filesystem::path& path, const std::vector<int16_t>& samples, int rate,
                int channels, int format) {
  SF_INFO info{};
  info.samplerate = rate;
  info.channels = channels;
  info.format = format;
  SNDFILE* sf = sf_open(path.c_str(), SFM_WRITE, &info);
  if (!sf) throw std::runtime_error("cannot write " + path.string());
  sf_writef_short(sf, samples.data(), static_cast<sf_count_t>(samples.size()) / channels);
  sf_close(sf);
}

std::vector<int16_t> ReadPcm(const std::filesystem::path& path, int* rate) {
  SF_INFO info{};
  SNDFILE* sf = sf_open(path.c_str(), SFM_READ, &info);
  if (!sf) throw std::runtime_error("cannot read " + path.string());
  std::vector<int16_t> samples(static_cast<size_t>(info.frames * info.channels));
  sf_readf_short(sf, samples.data(), info.frames);
  sf_close(sf);
  if (rate) *rate = info.samplerate;
  return samples;
}

std::vector<uint8_t> LibraryFrames(int codecType, int samplesPerFrame,
                                   const std::vector<int16_t>& samples) {
  VoiceCodecState state{};
  ZELK_VOICE_EncReset(&state, codecType);
  std::vector<uint8_t> bytes;
  for (size_t start = 0; start < samples.size(); start += samplesPerFrame) {
    std::vector<int16_t> block(samplesPerFrame, 0);
    for (size_t i = 0; i < block.size() && start + i < samples.size(); ++i) {
      block[i] = samples[start + i];
    }
    uint16_t frame[ZELK_VOICE_MAX_FRAME_WORDS];
    if (ZELK_VOICE_EncodeFrame(&state, block.data(), frame, samplesPerFrame, codecType) != 0) {
      throw std::runtime_error("library encode failed");
    }
    // Frames hold their little-endian bytes; L is the third of them.
    const auto* frameBytes = reinterpret_cast<const uint8_t*>(frame);
    bytes.insert(bytes.end(), frameBytes, frameBytes + 4 + 2 * frameBytes[2]);
  }
  return bytes;
}

std::vector<int16_t> LibraryDecode(int codecType, int samplesPerFrame,
                                   const std::vector<uint8_t>& frames, size_t total) {
  VoiceCodecState state{};
  ZELK_VOICE_DecReset(&state, codecType);
  std::vector<int16_t> out;
  size_t pos = 0;
  while (pos < frames.size()) {
    const size_t words = 2 + frames[pos + 2];
    std::vector<uint16_t> frame(words);
    std::memcpy(frame.data(), frames.data() + pos, 2 * words);
    int16_t pcm[ZELK_VOICE_MAX_SAMPLES];
    int16_t got = 0;
    if (ZELK_VOICE_DecodeFrame(&state, frame.data(), pcm, codecType, &got) != 0 ||
        got != samplesPerFrame) {
      throw std::runtime_error("library decode failed");
    }
    out.insert(out.end(), pcm, pcm + got);
    pos += 2 * words;
  }
  out.resize(total);
  return out;
}

std::vector<uint8_t> ExpectedZvf(int codecType, int samplesPerFrame,
                                 const std::vector<int16_t>& samples) {
  std::vector<uint8_t> out = {'Z',
                              'V',
                              'F',
                              0x1A,
                              1,
                              0,
                              static_cast<uint8_t>(codecType),
                              0,
                              static_cast<uint8_t>(samplesPerFrame & 0xFF),
                              static_cast<uint8_t>(samplesPerFrame >> 8),
                              0,
                              0,
                              0x40,
                              0x1F,
                              0,
                              0};  // 8000 Hz
  for (int i = 0; i < 8; ++i)
    out.push_back(static_cast<uint8_t>(uint64_t{samples.size()} >> 8 * i));
  const auto frames = LibraryFrames(codecType, samplesPerFrame, samples);
  out.insert(out.end(), frames.begin(), frames.end());
  return out;
}

}  // namespace zvtest
