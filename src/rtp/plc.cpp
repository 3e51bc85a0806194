// Pitch-period waveform substitution (see plc.h for the scheme).
#include "plc.h"

#include <cstring>

#include "rtp_math.h"

namespace zelk::rtp {
namespace {

constexpr int Overlap(int pitch) noexcept { return pitch / 4; }

// Weight of the incoming signal at step i (0-based) of a fade of len steps,
// in Q15: rises linearly from 1/(len+1) to len/(len+1), never 0 or 1, so a
// fade never repeats the sample on either side of it.
constexpr int32_t FadeWeight(int i, int len) noexcept { return ((i + 1) * 32768) / (len + 1); }

// Appends n samples to the history, oldest out first.
void Remember(PlcState& s, const int16_t* pcm, int n) noexcept {
  if (n >= PLC_HISTORY) {
    std::memcpy(s.history, pcm + (n - PLC_HISTORY), sizeof s.history);
    return;
  }
  const auto keep = static_cast<size_t>(PLC_HISTORY - n);
  std::memmove(s.history, s.history + n, keep * sizeof(int16_t));
  std::memcpy(s.history + keep, pcm, static_cast<size_t>(n) * sizeof(int16_t));
}

// Correlation of the window with the samples lag earlier, scaled by the
// length of those samples (both in the 16-bit range): the normalised cross-
// correlation up to the window's own length, which is the same for every lag.
// step 2 reads every other sample. Energy 0 scores 0.
int64_t LagScore(const int16_t* x, int lag, int step) noexcept {
  int64_t corr = 0;
  int64_t energy = 0;
  for (int i = 0; i < PLC_WINDOW; i += step) {
    const int32_t past = x[i - lag];
    corr += int64_t{x[i]} * past;
    energy += int64_t{past} * past;
  }
  if (energy == 0) return 0;
  // corr < 2^38, so corr * 2^16 stays well inside 64 bits.
  return corr * 65536 / Sqrt64(static_cast<uint64_t>(energy));
}

// The sample of a loop over the last `periods` periods of the source at
// position phase. Over the loop's last quarter period the signal fades into
// the samples that precede the loop's first one, so the jump back to the loop
// start joins two neighbouring samples of the history.
int32_t LoopSample(const PlcState& s, int periods, int phase) noexcept {
  const int span = periods * s.pitch;
  const int at = PLC_HISTORY - span + phase;
  const int32_t v = s.source[at];
  const int overlap = Overlap(s.pitch);
  const int intoEnd = phase - (span - overlap);
  if (intoEnd < 0) return v;
  // at - span >= PLC_HISTORY - span - overlap >= 0 for span <= 3 * PLC_PITCH_MAX.
  return MixQ15(v, s.source[at - span], FadeWeight(intoEnd, overlap));
}

// Starts a gap: the pitch of what was played, the loop of one period, and the
// step that the first substituted sample would make after the last played one.
void StartGap(PlcState& s) noexcept {
  std::memcpy(s.source, s.history, sizeof s.source);
  s.pitch = static_cast<int16_t>(PlcFindPitch(s.history));
  s.periods = 1;
  s.phase = 0;
  s.prevPeriods = 1;
  s.prevPhase = 0;
  s.switchLeft = 0;
  // The loop starts at source[H - T], whose predecessor in the history is
  // source[H - T - 1]; the last sample played is source[H - 1].
  s.startStep = int32_t{s.source[PLC_HISTORY - 1]} - s.source[PLC_HISTORY - 1 - s.pitch];
}

// The level of the substitution at sample n of the gap, in Q15.
constexpr int32_t GainQ15(int32_t n) noexcept {
  if (n < PLC_FADE_START) return 32768;
  if (n >= PLC_SILENT_FROM) return 0;
  return ((PLC_SILENT_FROM - n) * 32768) / (PLC_SILENT_FROM - PLC_FADE_START);
}

// The next substituted sample; moves the gap on by one.
int16_t NextSample(PlcState& s) noexcept {
  const int32_t n = s.lost;
  s.lost = n < PLC_LOST_CAP ? n + 1 : n;
  if (n >= PLC_SILENT_FROM) return 0;

  const int overlap = Overlap(s.pitch);
  if (n > 0 && n % PLC_PERIOD_STEP == 0 && s.periods < PLC_MAX_PERIODS) {
    // One period more: the new loop goes on at the same pitch phase, one
    // period further back, and the old one fades out over a quarter period.
    s.prevPeriods = s.periods;
    s.prevPhase = s.phase;
    s.periods = static_cast<int16_t>(s.periods + 1);
    s.switchLeft = static_cast<int16_t>(overlap);
  }

  int32_t v = LoopSample(s, s.periods, s.phase);
  s.phase = static_cast<int16_t>((s.phase + 1) % (s.periods * s.pitch));
  if (s.switchLeft > 0) {
    const int32_t old = LoopSample(s, s.prevPeriods, s.prevPhase);
    v = MixQ15(old, v, FadeWeight(overlap - s.switchLeft, overlap));
    s.prevPhase = static_cast<int16_t>((s.prevPhase + 1) % (s.prevPeriods * s.pitch));
    s.switchLeft = static_cast<int16_t>(s.switchLeft - 1);
  }
  if (n < overlap) {
    // The start-of-gap correction, fading out: at n = 0 the output steps from
    // the last played sample as the history steps into the copied period.
    v += (s.startStep * (overlap - n)) / (overlap + 1);
  }
  const int32_t sample = Saturate16(v);
  const int32_t gain = GainQ15(n);
  return static_cast<int16_t>(gain == 32768 ? sample : (sample * gain) >> 15);
}

}  // namespace

void PlcReset(PlcState& s) noexcept {
  std::memset(&s, 0, sizeof s);
  s.pitch = PLC_PITCH_MAX;
  s.periods = 1;
  s.prevPeriods = 1;
}

bool PlcValid(const PlcState& s) noexcept {
  if (s.lost < 0 || s.lost > PLC_LOST_CAP) return false;
  if (s.pitch < PLC_PITCH_MIN || s.pitch > PLC_PITCH_MAX) return false;
  if (s.periods < 1 || s.periods > PLC_MAX_PERIODS) return false;
  if (s.prevPeriods < 1 || s.prevPeriods > PLC_MAX_PERIODS) return false;
  if (s.phase < 0 || s.phase >= s.periods * s.pitch) return false;
  if (s.prevPhase < 0 || s.prevPhase >= s.prevPeriods * s.pitch) return false;
  if (s.switchLeft < 0 || s.switchLeft > Overlap(s.pitch)) return false;
  return s.startStep >= -65535 && s.startStep <= 65535;
}

int PlcFindPitch(const int16_t* history) noexcept {
  const int16_t* x = history + (PLC_HISTORY - PLC_WINDOW);
  // Every other lag on every other sample, then the neighbours of the best
  // one on every sample.
  int coarse = PLC_PITCH_MAX;
  int64_t best = -1;
  for (int lag = PLC_PITCH_MIN; lag <= PLC_PITCH_MAX; lag += 2) {
    const int64_t score = LagScore(x, lag, 2);
    if (score > best) best = score, coarse = lag;
  }
  int pitch = coarse;
  best = -1;
  for (int lag = coarse - 1; lag <= coarse + 1; ++lag) {
    if (lag < PLC_PITCH_MIN || lag > PLC_PITCH_MAX) continue;
    const int64_t score = LagScore(x, lag, 1);
    if (score > best) best = score, pitch = lag;
  }
  return pitch;
}

void PlcConceal(PlcState& s, int16_t* out, int n) noexcept {
  if (s.lost == 0) StartGap(s);
  for (int i = 0; i < n; ++i) out[i] = NextSample(s);
  Remember(s, out, n);
}

void PlcReceive(PlcState& s, int16_t* pcm, int n) noexcept {
  if (s.lost > 0) {
    int len = Overlap(s.pitch) + PLC_JOIN_STEP * ((s.lost - 1) / PLC_PERIOD_STEP);
    if (len > PLC_JOIN_MAX) len = PLC_JOIN_MAX;
    for (int i = 0; i < len; ++i) {
      pcm[i] = Saturate16(MixQ15(NextSample(s), pcm[i], FadeWeight(i, len)));
    }
    s.lost = 0;
  }
  Remember(s, pcm, n);
}

}  // namespace zelk::rtp
