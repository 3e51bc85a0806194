// Bringing an IMA ADPCM decoder back after lost VoiceFrames, which carry no
// state of their own.
//
// A lost frame leaves the decoder with the wrong predictor and the wrong step
// index. Nothing in the following codes tells the index: IMA ADPCM is
// scale-invariant, so any index decodes them into a self-consistent signal,
// only larger or smaller, until the true index reaches 0 in silence. The index
// is therefore chosen by level continuity: of all 89, the one that decodes the
// first 10 ms after the gap at the level (AC energy) of the last 10 ms played
// before it. With that index every later sample carries the same constant
// error in the predictor; it is estimated as the mean of the decoded samples
// since the gap less the long-term mean of the stream before it, and removed
// from the decoder's predictor after every frame for two seconds, the output
// of the frame ramping to the new correction so that nothing steps.
#pragma once

#include <cstdint>

#include "zelk_voice_engine.h"

namespace zelk::rtp {

inline constexpr int32_t IMA_RECOVERY_SAMPLES = 16000;  // two seconds
// The level is compared over this many samples on either side of a gap (10 ms).
inline constexpr int IMA_LEVEL_SAMPLES = 80;

struct ImaRecovery {
  int64_t sum;        // sum of the decoded samples since the gap, corrections added back
  int32_t meanQ8;     // long-term mean of the samples played, Q8
  int32_t gapMeanQ8;  // meanQ8 when the gap ended
  int32_t removed;    // correction taken off the predictor so far
  int32_t decoded;    // samples decoded since the gap, 0..IMA_RECOVERY_SAMPLES
  int32_t active;     // 1 while the estimate runs
};

void ImaRecoveryReset(ImaRecovery& r) noexcept;
bool ImaRecoveryValid(const ImaRecovery& r) noexcept;

// The first frame after a gap (n samples, validated) is about to be decoded
// with decoder: sets its step index by level continuity with before, the last
// IMA_LEVEL_SAMPLES played before the gap, and its predictor to the stream's mean.
void ImaRecoveryStart(ImaRecovery& r, VoiceCodecState& decoder, const uint16_t* frame,
                      const int16_t* before) noexcept;

// After a frame of n samples was decoded into pcm: moves the estimate of the
// predictor's error on, takes it off the decoder and ramps pcm to it.
void ImaRecoveryFrame(ImaRecovery& r, VoiceCodecState& decoder, int16_t* pcm, int n) noexcept;

// Every frame played, after the above: the long-term mean follows it.
void ImaRecoveryTrack(ImaRecovery& r, const int16_t* pcm, int n) noexcept;

}  // namespace zelk::rtp
