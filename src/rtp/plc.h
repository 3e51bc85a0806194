// Packet-loss concealment by pitch-period waveform substitution, in the
// manner of G.711 Appendix I, without its added delay.
//
// The receiver keeps the last 48.75 ms it played. When a frame is lost, the
// pitch period T of that history is found by normalised cross-correlation,
// and the gap is filled by repeating the last period, then the last two, then
// the last three (after 10 and 20 ms), each change of loop cross-faded over
// T/4 samples and each loop closed smoothly on itself. The level holds for
// 5 ms, then falls linearly to silence at 60 ms (Appendix I holds it for
// 10 ms; starting the fall earlier costs 0.1 dB of spectral distance on single
// lost frames and makes the steps inside long gaps a tenth smaller).
//
// Appendix I delays its output by 3.75 ms so that it can cross-fade into the
// history at the start of a gap. Nothing is delayed here; instead the start is
// made to continue what was played:
//   - the copied period is pitch-aligned with the history, and the offset
//     between the last played sample and the sample before the copied period
//     is carried into the copy and faded out over T/4 samples;
//   - the substitution starts at the last played sample and its speed ramps up
//     from 1/9 to the full rate over 8 samples (a 0.5 ms lag), so the first
//     step is a ninth of the waveform's slope rather than a step of the full
//     slope in a new direction.
// The first good frame after a gap is joined with the same speed ramp on the
// continued substitution and a smooth (smoothstep) cross-fade of T/4 samples,
// 4 ms longer for every further 10 ms of loss, at most 10 ms.
//
// Everything is integer arithmetic, so the output is the same on every host.
#pragma once

#include <cstdint>

namespace zelk::rtp {

inline constexpr int PLC_PITCH_MIN = 40;   // 5 ms, 200 Hz
inline constexpr int PLC_PITCH_MAX = 120;  // 15 ms, 66.7 Hz
inline constexpr int PLC_WINDOW = 160;     // 20 ms matched against the past
inline constexpr int PLC_MAX_PERIODS = 3;
// Three of the longest periods and the quarter period that closes their loop.
inline constexpr int PLC_HISTORY = PLC_MAX_PERIODS * PLC_PITCH_MAX + PLC_PITCH_MAX / 4;  // 390
inline constexpr int PLC_PERIOD_STEP = 80;   // one more period in the loop every 10 ms
inline constexpr int PLC_FADE_START = 40;    // full level for the first 5 ms of a gap
inline constexpr int PLC_SILENT_FROM = 480;  // silence from 60 ms on
inline constexpr int PLC_JOIN_STEP = 32;     // 4 ms more join for every further 10 ms lost
inline constexpr int PLC_JOIN_MAX = 80;      // 10 ms
// The speed ramp: output step i of RAMP lies (i+1)(i+2)/2 ninths of a sample
// past the last one played, so after 8 steps it is 4 samples behind and moves
// at full speed again.
inline constexpr int PLC_RAMP = 8;
inline constexpr int PLC_RAMP_LAG = 4;
// Samples of a gap counted beyond silence are not needed; the count stops here.
inline constexpr int32_t PLC_LOST_CAP = 1 << 20;

static_assert(PLC_HISTORY >= PLC_WINDOW + PLC_PITCH_MAX + 1, "the pitch search reads this far");

struct PlcState {
  int32_t lost;                     // samples concealed in the current gap; 0 between gaps
  int32_t made;                     // samples of the substitution made in the gap, 0..PLC_LOST_CAP
  int32_t startStep;                // correction carried into the first samples of the gap
  int16_t pitch;                    // T, PLC_PITCH_MIN..PLC_PITCH_MAX, while lost > 0
  int16_t periods;                  // periods in the loop, 1..PLC_MAX_PERIODS
  int16_t phase;                    // position in the loop, 0..periods * T - 1
  int16_t prevPeriods;              // the loop being faded out after a change, and
  int16_t prevPhase;                //   its position
  int16_t switchLeft;               // samples of that fade still to play, 0..T/4
  int16_t ramp;                     // output steps of the speed ramp made, 0..PLC_RAMP (done)
  int16_t aheadNext;                // first entry of ahead not yet passed, 1..PLC_RAMP_LAG + 1
  int16_t ahead[PLC_RAMP_LAG + 1];  // the ramp's samples: the last one played, then
                                    //   the next PLC_RAMP_LAG of the substitution
  int16_t oldest;                   // where the oldest sample of history is, 0..PLC_HISTORY - 1
  int16_t history[PLC_HISTORY];     // ring of the last samples played
  int16_t source[PLC_HISTORY];      // history as it stood when the gap began
};

// Forgets everything: a silent history, no gap.
void PlcReset(PlcState& s) noexcept;

// Whether every field lies in the range the functions below keep it in, so
// that no index taken from the record can leave its array.
bool PlcValid(const PlcState& s) noexcept;

// Plays n samples in place of lost ones, n >= 1, and remembers them.
void PlcConceal(PlcState& s, int16_t* out, int n) noexcept;

// Takes n >= 1 samples of a good frame: after a gap, cross-fades
// the continued substitution into their start; then remembers them.
void PlcReceive(PlcState& s, int16_t* pcm, int n) noexcept;

// Takes n >= 1 samples of a good frame that must be played exactly as they
// are (a DVI4 packet, which carries the coder's state and so is the sender's
// signal from its first sample): ends any gap without a join, then remembers
// them.
void PlcResume(PlcState& s, const int16_t* pcm, int n) noexcept;

// n samples played, the first of them `back` samples before the end
// (n <= back <= PLC_HISTORY).
void PlcRecent(const PlcState& s, int back, int n, int16_t* out) noexcept;

// The last sample played.
inline int16_t PlcLastSample(const PlcState& s) noexcept {
  return s.history[s.oldest == 0 ? PLC_HISTORY - 1 : s.oldest - 1];
}

}  // namespace zelk::rtp
