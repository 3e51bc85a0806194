// How close a concealed signal comes to the loss-free decode, measured on the
// frames that were lost:
//
//   - the log-spectral distance of each lost frame: the power spectra of the
//     Hann-windowed frame of both signals (a power-of-two FFT of at least the
//     frame's length, zero-padded; 256 points for 20 ms), in dB floored at
//     0 dB so that silence has a finite level, their RMS difference over the
//     bins from 0 Hz to half the sample rate; averaged over the lost frames
//     whose loss-free RMS is at least 100 (quieter frames are left out: their
//     spectra are mostly the floor);
//   - the step between neighbouring samples at both edges of every lost frame
//     (the click a bad join makes), as a distribution.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

namespace zelk::quality {

// Lost frames quieter than this in the loss-free decode are left out of the
// log-spectral distance.
inline constexpr double LSD_MIN_REFERENCE_RMS = 100;

double Rms(std::span<const int16_t> x);  // 0 for no samples

// The mean log-spectral distance over lost frames.
class SpectralDistanceTally {
 public:
  // One lost frame; left out when its reference RMS is below LSD_MIN_REFERENCE_RMS.
  void AddFrame(std::span<const int16_t> reference, std::span<const int16_t> concealed);
  size_t Frames() const { return frames_; }  // frames counted
  double MeanDb() const;                     // 0 when none counted

 private:
  double sumDb_ = 0;
  size_t frames_ = 0;
};

// Steps between neighbouring samples (0..65535), kept as a histogram so that
// any number of them takes the same memory.
class JumpTally {
 public:
  JumpTally() : counts_(65536) {}
  void Add(int16_t before, int16_t after);
  uint64_t Count() const { return count_; }
  // The value at index count * percent / 100 of the steps sorted in rising
  // order (the 99th percentile for 99); 0 when there are none.
  int Percentile(int percent) const;

 private:
  std::vector<uint64_t> counts_;
  uint64_t count_ = 0;
};

}  // namespace zelk::quality
