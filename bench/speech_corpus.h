// Real recorded speech for the quality program: the 8 kHz recordings of
// Debian's codec2-examples, and the 16 kHz recordings of pocketsphinx-testdata
// resampled to 8 kHz with libsoxr. Files that are not installed are skipped.
#pragma once

#include <sndfile.h>
#include <soxr.h>

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "raw_recording.h"

namespace zelk::bench {

struct Recording {
  std::string name;
  std::vector<int16_t> pcm;  // 8 kHz mono
};

inline constexpr const char* CODEC2_RAW_DIR = "/usr/share/codec2/raw/";
inline constexpr const char* CODEC2_SPEECH[] = {"hts1a",      "hts2a", "forig",    "morig",
                                                "big_dog",    "cross", "kristoff", "mmt1",
                                                "ve9qrp_10s", "vk5qi"};
inline constexpr const char* POCKETSPHINX_DIR = "/usr/share/pocketsphinx/test/data/";
inline constexpr const char* POCKETSPHINX_SPEECH[] = {
    "librivox/sense_and_sensibility_01_austen_64kb-0870.wav",
    "librivox/sense_and_sensibility_01_austen_64kb-0880.wav",
    "librivox/sense_and_sensibility_01_austen_64kb-0890.wav",
    "librivox/sense_and_sensibility_01_austen_64kb-0920.wav",
    "librivox/sense_and_sensibility_01_austen_64kb-0930.wav",
    "cards/001.wav",
    "cards/002.wav",
    "cards/003.wav",
    "cards/004.wav",
    "cards/005.wav"};

// A sound file read by libsndfile, mixed to mono and resampled to 8 kHz.
inline std::vector<int16_t> ReadResampled(const std::string& path) {
  SF_INFO info{};
  SNDFILE* f = sf_open(path.c_str(), SFM_READ, &info);
  if (f == nullptr) return {};
  std::vector<float> frames(static_cast<size_t>(info.frames * info.channels));
  sf_readf_float(f, frames.data(), info.frames);
  sf_close(f);
  std::vector<float> mono(static_cast<size_t>(info.frames));
  for (size_t i = 0; i < mono.size(); ++i) {
    float sum = 0;
    for (int c = 0; c < info.channels; ++c)
      sum += frames[i * static_cast<size_t>(info.channels) + c];
    mono[i] = sum / static_cast<float>(info.channels);
  }
  std::vector<float> out(mono.size() * 8000 / static_cast<size_t>(info.samplerate) + 64);
  size_t done = 0;
  const soxr_quality_spec_t quality = soxr_quality_spec(SOXR_HQ, 0);
  if (soxr_oneshot(info.samplerate, 8000, 1, mono.data(), mono.size(), nullptr, out.data(),
                   out.size(), &done, nullptr, &quality, nullptr) != nullptr) {
    return {};
  }
  std::vector<int16_t> pcm(done);
  for (size_t i = 0; i < done; ++i) {
    pcm[i] = static_cast<int16_t>(
        std::lround(std::fmax(-32768.0, std::fmin(32767.0, out[i] * 32768.0))));
  }
  return pcm;
}

inline std::vector<Recording> LoadSpeech() {
  std::vector<Recording> all;
  for (const char* name : CODEC2_SPEECH) {
    auto pcm = zelk::testing::ReadRawRecording(std::string(CODEC2_RAW_DIR) + name + ".raw");
    if (!pcm.empty()) all.push_back({name, std::move(pcm)});
  }
  for (const char* name : POCKETSPHINX_SPEECH) {
    auto pcm = ReadResampled(std::string(POCKETSPHINX_DIR) + name);
    if (!pcm.empty()) all.push_back({name, std::move(pcm)});
  }
  return all;
}

}  // namespace zelk::bench
