// Pitch-period waveform substitution (see plc.h for the scheme).
#include "plc.h"

#include <cstring>

#include "rtp_math.h"

namespace zelk::rtp {
namespace {

constexpr int Overlap(int pitch) noexcept { return pitch / 4; }

constexpr int Min(int a, int b) noexcept { return a < b ? a : b; }

// Weight of the incoming signal at step i (0-based) of a fade of len steps,
// in Q15: rises linearly from 1/(len+1) to len/(len+1), never 0 or 1, so a
// fade never repeats the sample on either side of it.
constexpr int32_t FadeStep(int len) noexcept { return 32768 / (len + 1); }
constexpr int32_t FadeWeight(int i, int len) noexcept { return (i + 1) * FadeStep(len); }

// A smooth fade (smoothstep, 3t^2 - 2t^3) at step i of len, in Q15: the
// weight of the incoming signal, with zero slope at both ends.
constexpr int32_t SmoothWeight(int i, int len) noexcept {
  const int64_t t = FadeWeight(i, len);  // Q15
  return static_cast<int32_t>((t * t * (3 * 32768 - 2 * t)) >> 30);
}

// Appends n samples to the history ring, over its oldest ones.
void Remember(PlcState& s, const int16_t* pcm, int n) noexcept {
  if (n > PLC_HISTORY) {
    // Only the last PLC_HISTORY samples stay, where writing all n would put them.
    const int skip = n - PLC_HISTORY;
    pcm += skip;
    s.oldest = static_cast<int16_t>((s.oldest + skip) % PLC_HISTORY);
    n = PLC_HISTORY;
  }
  const int first = Min(n, PLC_HISTORY - s.oldest);
  std::memcpy(s.history + s.oldest, pcm, static_cast<size_t>(first) * sizeof(int16_t));
  std::memcpy(s.history, pcm + first, static_cast<size_t>(n - first) * sizeof(int16_t));
  const int next = s.oldest + n;
  s.oldest = static_cast<int16_t>(next >= PLC_HISTORY ? next - PLC_HISTORY : next);
}

// The run of a loop over the last `periods` periods of the source from
// position phase, n samples, moving phase on. Over the loop's last quarter
// period the signal fades into the samples that precede the loop's first one,
// so the jump back to the loop start joins two neighbouring samples of the
// history.
void LoopRun(const PlcState& s, int periods, int16_t& phase, int16_t* out, int n) noexcept {
  const int span = periods * s.pitch;
  const int overlap = Overlap(s.pitch);
  const int plainEnd = span - overlap;
  const int32_t step = FadeStep(overlap);
  const int16_t* loop = s.source + (PLC_HISTORY - span);
  int at = phase;
  while (n > 0) {
    int r;
    if (at < plainEnd) {
      r = Min(n, plainEnd - at);
      std::memcpy(out, loop + at, static_cast<size_t>(r) * sizeof(int16_t));
    } else {
      // loop - span + at >= source + PLC_HISTORY - 2 span + plainEnd
      //                  = source + PLC_HISTORY - span - overlap >= source.
      r = Min(n, span - at);
      const int16_t* a = loop + at;
      const int16_t* b = a - span;
      const int32_t first = at - plainEnd + 1;
      for (int i = 0; i < r; ++i) {
        out[i] = static_cast<int16_t>(MixQ15(a[i], b[i], (first + i) * step));
      }
    }
    out += r;
    n -= r;
    at += r;
    if (at == span) at = 0;
  }
  phase = static_cast<int16_t>(at);
}

// Level of the substitution at output sample t of the gap, in Q15: whole
// until PLC_FADE_START, then falling linearly to 0 at PLC_SILENT_FROM.
// (PLC_SILENT_FROM - t) * FADE_STEP_Q22 >> 7 is that fall in Q15 to within a
// part in 10^4; it lies below 32768 from PLC_FADE_START + 1 on, so the product
// with a sample stays in 32 bits and the gain in 16.
constexpr int32_t FADE_LENGTH = PLC_SILENT_FROM - PLC_FADE_START;
constexpr int32_t FADE_STEP_Q22 = ((1 << 22) + FADE_LENGTH - 1) / FADE_LENGTH;
constexpr int32_t GainQ15(int32_t t) noexcept {
  if (t <= PLC_FADE_START) return 32768;
  if (t >= PLC_SILENT_FROM) return 0;
  return ((PLC_SILENT_FROM - t) * FADE_STEP_Q22) >> 7;
}
static_assert(GainQ15(PLC_FADE_START + 1) < 32768 && GainQ15(PLC_SILENT_FROM - 1) > 0);

// The next n samples of the substitution on its own time line, which runs
// PLC_RAMP_LAG samples behind the output once the start ramp is over.
void Generate(PlcState& s, int16_t* out, int n) noexcept {
  const int overlap = Overlap(s.pitch);
  const int32_t step = FadeStep(overlap);
  while (n > 0) {
    const int32_t j = s.made;
    if (j + PLC_RAMP_LAG >= PLC_SILENT_FROM) {
      std::memset(out, 0, static_cast<size_t>(n) * sizeof(int16_t));
      s.made = j + n < PLC_LOST_CAP ? j + n : PLC_LOST_CAP;
      return;
    }
    if (s.periods < PLC_MAX_PERIODS && s.periods <= j / PLC_PERIOD_STEP) {
      // One period more: the new loop goes on at the same pitch phase, one
      // period further back, and the old one fades out over a quarter period.
      s.prevPeriods = s.periods;
      s.prevPhase = s.phase;
      s.periods = static_cast<int16_t>(s.periods + 1);
      s.switchLeft = static_cast<int16_t>(overlap);
    }
    // A run in which nothing changes but the positions.
    int r = Min(n, PLC_SILENT_FROM - PLC_RAMP_LAG - j);
    if (s.periods < PLC_MAX_PERIODS) r = Min(r, PLC_PERIOD_STEP - j % PLC_PERIOD_STEP);
    if (s.switchLeft > 0) r = Min(r, s.switchLeft);

    LoopRun(s, s.periods, s.phase, out, r);
    if (s.switchLeft > 0) {
      int16_t old[PLC_PITCH_MAX / 4];
      LoopRun(s, s.prevPeriods, s.prevPhase, old, r);
      const int32_t first = overlap - s.switchLeft + 1;
      for (int i = 0; i < r; ++i)
        out[i] = static_cast<int16_t>(MixQ15(old[i], out[i], (first + i) * step));
      s.switchLeft = static_cast<int16_t>(s.switchLeft - r);
    }
    for (int i = 0; i < r && j + i < overlap; ++i) {
      // The offset between the history and the copied period, fading out.
      const int64_t kept = 32768 - SmoothWeight(j + i, overlap);
      out[i] = Saturate16(out[i] + static_cast<int32_t>((s.startStep * kept) >> 15));
    }
    // The fade (j + i + PLC_RAMP_LAG < PLC_SILENT_FROM holds throughout the run).
    // The gain of GainQ15, below 32768 from PLC_FADE_START + 1 on, so in 16 bits.
    const int fadeFrom = PLC_FADE_START + 1 - PLC_RAMP_LAG - j;
    const int from = fadeFrom > 0 ? fadeFrom : 0;
    int32_t gain22 = (PLC_SILENT_FROM - PLC_RAMP_LAG - j - from) * FADE_STEP_Q22;
    for (int i = from; i < r; ++i, gain22 -= FADE_STEP_Q22) {
      out[i] = static_cast<int16_t>((out[i] * static_cast<int16_t>(gain22 >> 7)) >> 15);
    }
    s.made = j + r;
    out += r;
    n -= r;
  }
}

// The next sample of the substitution's time line not yet passed by a ramp.
int16_t PullNext(PlcState& s) noexcept {
  if (s.aheadNext <= PLC_RAMP_LAG) return s.ahead[s.aheadNext++];
  int16_t v;
  Generate(s, &v, 1);
  return v;
}

// Starts a speed ramp from the last sample played.
void StartRamp(PlcState& s, int16_t last) noexcept {
  int16_t next[PLC_RAMP_LAG + 1];
  next[0] = last;
  for (int k = 1; k <= PLC_RAMP_LAG; ++k) next[k] = PullNext(s);
  std::memcpy(s.ahead, next, sizeof next);
  s.aheadNext = 1;
  s.ramp = 0;
}

// The next n output samples of the gap: the rest of a ramp, then the time line.
void Synthesize(PlcState& s, int16_t* out, int n) noexcept {
  s.lost = s.lost + n < PLC_LOST_CAP ? s.lost + n : PLC_LOST_CAP;
  int i = 0;
  for (; i < n && s.ramp < PLC_RAMP; ++i) {
    // Ninths of a sample past ahead[0]: 1, 3, 6, .., 36 = 4 whole samples.
    const int ninths = (s.ramp + 1) * (s.ramp + 2) / 2;
    const int at = ninths / 9;
    const int frac = ninths % 9;
    s.ramp = static_cast<int16_t>(s.ramp + 1);
    s.aheadNext = static_cast<int16_t>(at + 1);
    out[i] = frac == 0
                 ? s.ahead[at]
                 : static_cast<int16_t>(MixQ15(s.ahead[at], s.ahead[at + 1], (frac * 32768) / 9));
  }
  for (; i < n && s.aheadNext <= PLC_RAMP_LAG; ++i) out[i] = s.ahead[s.aheadNext++];
  if (i < n) Generate(s, out + i, n - i);
}

// The pitch period of the last 20 ms of PLC_HISTORY samples (oldest first),
// PLC_PITCH_MIN..PLC_PITCH_MAX.
int PlcFindPitch(const int16_t* history) noexcept {
  // The window and the longest lag before it, cut to 11 bits so that every
  // sum of products below fits 32 bits: 160 * 2047^2 < 2^31.
  constexpr int SPAN = PLC_WINDOW + PLC_PITCH_MAX + 1;
  constexpr int WINDOW_AT = SPAN - PLC_WINDOW;
  const int16_t* region = history + (PLC_HISTORY - SPAN);
  int32_t peak = 0;
  for (int i = 0; i < SPAN; ++i) {
    const int32_t v = region[i];
    peak = peak > (v < 0 ? -v : v) ? peak : (v < 0 ? -v : v);
  }
  int shift = 0;
  while ((peak >> shift) > 2047) ++shift;
  int16_t x[SPAN];
  for (int i = 0; i < SPAN; ++i) x[i] = static_cast<int16_t>(region[i] >> shift);

  // Even lags on every other sample (x[1], x[3], ..), the window being
  // d[60..139]. A lag scores corr^2 / energy when corr > 0: the squared
  // normalised cross-correlation up to the window's own energy, which is the
  // same for every lag.
  constexpr int HALF = SPAN / 2;  // 140
  constexpr int D_WINDOW = PLC_WINDOW / 2;
  constexpr int D_AT = HALF - D_WINDOW;
  int16_t d[HALF];
  for (int k = 0; k < HALF; ++k) d[k] = x[2 * k + 1];
  auto better = [](int64_t corr, int64_t energy, int64_t& best) {
    if (corr <= 0 || energy == 0) return false;
    const int64_t score = corr * corr / energy;
    if (score <= best) return false;
    best = score;
    return true;
  };
  int coarse = PLC_PITCH_MAX;
  int64_t best = 0;
  int32_t energy = 0;
  const int16_t* past = d + D_AT - PLC_PITCH_MIN / 2;
  for (int k = 0; k < D_WINDOW; ++k) energy += past[k] * past[k];
  for (int m = PLC_PITCH_MIN / 2; m <= PLC_PITCH_MAX / 2; ++m) {
    past = d + D_AT - m;
    if (m > PLC_PITCH_MIN / 2) energy += past[0] * past[0] - past[D_WINDOW] * past[D_WINDOW];
    int32_t corr = 0;
    for (int k = 0; k < D_WINDOW; ++k) corr += d[D_AT + k] * past[k];
    if (better(corr, energy, best)) coarse = 2 * m;
  }

  // The neighbours of the best even lag, on every sample.
  int pitch = coarse;
  best = 0;
  for (int lag = coarse - 1; lag <= coarse + 1; ++lag) {
    if (lag < PLC_PITCH_MIN || lag > PLC_PITCH_MAX) continue;
    int32_t corr = 0, e = 0;
    const int16_t* p = x + WINDOW_AT - lag;
    for (int i = 0; i < PLC_WINDOW; ++i) {
      corr += x[WINDOW_AT + i] * p[i];
      e += p[i] * p[i];
    }
    if (better(corr, e, best)) pitch = lag;
  }
  return pitch;
}

// Starts a gap: the pitch of what was played, the loop of one period, the
// offset that the copy carries, and the ramp from the last sample played.
void StartGap(PlcState& s) noexcept {
  const auto older = static_cast<size_t>(PLC_HISTORY - s.oldest);
  std::memcpy(s.source, s.history + s.oldest, older * sizeof(int16_t));
  std::memcpy(s.source + older, s.history, static_cast<size_t>(s.oldest) * sizeof(int16_t));
  s.pitch = static_cast<int16_t>(PlcFindPitch(s.source));
  s.made = 0;
  s.periods = 1;
  s.phase = 0;
  s.prevPeriods = 1;
  s.prevPhase = 0;
  s.switchLeft = 0;
  // The loop starts at source[H - T], whose predecessor in the history is
  // source[H - T - 1]; the last sample played is source[H - 1].
  s.startStep = int32_t{s.source[PLC_HISTORY - 1]} - s.source[PLC_HISTORY - 1 - s.pitch];
  s.aheadNext = PLC_RAMP_LAG + 1;
  StartRamp(s, s.source[PLC_HISTORY - 1]);
}

}  // namespace

void PlcReset(PlcState& s) noexcept {
  std::memset(&s, 0, sizeof s);
  s.pitch = PLC_PITCH_MAX;
  s.periods = 1;
  s.prevPeriods = 1;
  s.ramp = PLC_RAMP;
  s.aheadNext = PLC_RAMP_LAG + 1;
}

bool PlcValid(const PlcState& s) noexcept {
  if (s.lost < 0 || s.lost > PLC_LOST_CAP) return false;
  if (s.made < 0 || s.made > PLC_LOST_CAP) return false;
  if (s.oldest < 0 || s.oldest >= PLC_HISTORY) return false;
  if (s.ramp < 0 || s.ramp > PLC_RAMP) return false;
  if (s.aheadNext < 1 || s.aheadNext > PLC_RAMP_LAG + 1) return false;
  if (s.pitch < PLC_PITCH_MIN || s.pitch > PLC_PITCH_MAX) return false;
  if (s.periods < 1 || s.periods > PLC_MAX_PERIODS) return false;
  if (s.prevPeriods < 1 || s.prevPeriods > PLC_MAX_PERIODS) return false;
  if (s.phase < 0 || s.phase >= s.periods * s.pitch) return false;
  if (s.prevPhase < 0 || s.prevPhase >= s.prevPeriods * s.pitch) return false;
  if (s.switchLeft < 0 || s.switchLeft > Overlap(s.pitch)) return false;
  return s.startStep >= -65535 && s.startStep <= 65535;
}

void PlcRecent(const PlcState& s, int back, int n, int16_t* out) noexcept {
  int at = s.oldest + PLC_HISTORY - back;
  if (at >= PLC_HISTORY) at -= PLC_HISTORY;
  for (int i = 0; i < n; ++i) {
    out[i] = s.history[at];
    if (++at == PLC_HISTORY) at = 0;
  }
}

void PlcConceal(PlcState& s, int16_t* out, int n) noexcept {
  if (s.lost == 0) StartGap(s);
  Synthesize(s, out, n);
  Remember(s, out, n);
}

void PlcReceive(PlcState& s, int16_t* pcm, int n) noexcept {
  if (s.lost > 0) {
    int len = Overlap(s.pitch) + PLC_JOIN_STEP * ((s.lost - 1) / PLC_PERIOD_STEP);
    if (len > PLC_JOIN_MAX) len = PLC_JOIN_MAX;
    if (len > n) len = n;  // a short G.711 packet joins within itself
    StartRamp(s, PlcLastSample(s));
    int16_t synthetic[PLC_JOIN_MAX];
    Synthesize(s, synthetic, len);
    for (int i = 0; i < len; ++i) {
      pcm[i] = static_cast<int16_t>(MixQ15(synthetic[i], pcm[i], SmoothWeight(i, len)));
    }
    s.lost = 0;
  }
  Remember(s, pcm, n);
}

void PlcResume(PlcState& s, const int16_t* pcm, int n) noexcept {
  s.lost = 0;
  Remember(s, pcm, n);
}

}  // namespace zelk::rtp
