// IMA ADPCM recovery after lost frames (see ima_recovery.h).
#include "ima_recovery.h"

#include <cstring>

#include "engine_block.h"
#include "rtp_math.h"

namespace zelk::rtp {
namespace {

constexpr int32_t MEAN_SPAN = 8192;              // the long-term mean forgets over about a second
constexpr int64_t SUM_LIMIT = int64_t{1} << 36;  // (16000 + 480) * (32768 + 2^17) < 2^32
constexpr int32_t REMOVED_LIMIT = 1 << 17;

constexpr int64_t Clamp64(int64_t v, int64_t lo, int64_t hi) noexcept {
  return v < lo ? lo : (v > hi ? hi : v);
}

// The documented record at the start of an IMA ADPCM state block.
void StoreIma(VoiceCodecState& s, int16_t predictor, int32_t index) noexcept {
  StoreInt16(&s, IMA_PREDICTOR_AT, predictor);
  StoreImaStepIndex(&s, index);
}

// n times the variance of n samples: n * sum(x^2) - sum(x)^2, at most 2^43.
int64_t Spread(const int16_t* x, int n) noexcept {
  int64_t sum = 0, squares = 0;
  for (int i = 0; i < n; ++i) {
    sum += x[i];
    squares += int64_t{x[i]} * x[i];
  }
  return n * squares - sum * sum;
}

// log2(v + 1) in Q8: the exponent, and the 8 bits after the leading one as a
// linear fraction. Enough to rank levels about 0.03 dB apart.
int32_t Log2Q8(int64_t v) noexcept {
  auto u = static_cast<uint64_t>(v) + 1;
  int32_t e = 0;
  while (u >> (e + 1)) ++e;
  const auto frac = static_cast<int32_t>(e >= 8 ? (u >> (e - 8)) & 0xFF : (u << (8 - e)) & 0xFF);
  return e * 256 + frac;
}

}  // namespace

void ImaRecoveryReset(ImaRecovery& r) noexcept { std::memset(&r, 0, sizeof r); }

bool ImaRecoveryValid(const ImaRecovery& r) noexcept {
  if (r.active != 0 && r.active != 1) return false;
  if (r.decoded < 0 || r.decoded > IMA_RECOVERY_SAMPLES + ZELK_VOICE_MAX_SAMPLES) return false;
  if (r.sum < -SUM_LIMIT || r.sum > SUM_LIMIT) return false;
  if (r.removed < -REMOVED_LIMIT || r.removed > REMOVED_LIMIT) return false;
  constexpr int32_t MEAN_LIMIT = 32768 * 256;
  return r.meanQ8 >= -MEAN_LIMIT && r.meanQ8 <= MEAN_LIMIT && r.gapMeanQ8 >= -MEAN_LIMIT &&
         r.gapMeanQ8 <= MEAN_LIMIT;
}

void ImaRecoveryStart(ImaRecovery& r, VoiceCodecState& decoder, const uint16_t* frame,
                      const int16_t* before) noexcept {
  const int16_t mean = Saturate16((r.meanQ8 + 128) >> 8);
  const int32_t current = LoadImaStepIndex(&decoder);

  // The frame's first 10 ms as a frame of their own, decoded with every index.
  constexpr int LEVEL_SAMPLES = IMA_LEVEL_SAMPLES;
  uint16_t head[2 + LEVEL_SAMPLES / 4];
  WriteFrameHeader(head, LEVEL_SAMPLES / 4);
  std::memcpy(head + 2, frame + 2, sizeof head - 2 * sizeof(uint16_t));
  const int32_t target = Log2Q8(Spread(before, LEVEL_SAMPLES));
  int32_t best = current;
  int64_t bestCost = INT64_MAX;
  for (int32_t index = 0; index <= IMA_STEP_INDEX_MAX; ++index) {
    VoiceCodecState trial{};
    StoreIma(trial, mean, index);
    int16_t pcm[LEVEL_SAMPLES];
    int16_t count = 0;
    ZELK_VOICE_DecodeFrame(&trial, head, pcm, IMA_ADPCM, &count);
    const int32_t level = Log2Q8(Spread(pcm, LEVEL_SAMPLES));
    const int32_t miss = level > target ? level - target : target - level;
    // Level and index, as Gaussian guesses: the level of speech moves about 4
    // index steps (70 in Q8 of energy) over the gap, the index itself about 10;
    // cost = (miss / 70)^2 / 4^2 + distance^2 / 10^2, times 4900 * 1600.
    const int32_t distance = index > current ? index - current : current - index;
    const int64_t cost = int64_t{miss} * miss * 100 + int64_t{distance} * distance * 78400;
    if (cost < bestCost) {
      bestCost = cost;
      best = index;
    }
  }
  StoreIma(decoder, mean, best);
  r.gapMeanQ8 = r.meanQ8;
  r.sum = 0;
  r.removed = 0;
  r.decoded = 0;
  r.active = 1;
}

void ImaRecoveryFrame(ImaRecovery& r, VoiceCodecState& decoder, int16_t* pcm, int n) noexcept {
  if (!r.active) return;
  int64_t sum = 0;
  for (int i = 0; i < n; ++i) sum += pcm[i];
  r.sum += sum + int64_t{r.removed} * n;
  r.decoded += n;

  // The predictor's error: what the samples since the gap average above the
  // stream's mean, in whole units.
  const int64_t errorQ8 = (r.sum * 256) / r.decoded - r.gapMeanQ8;
  const auto error =
      static_cast<int32_t>(Clamp64((errorQ8 + 128) >> 8, -REMOVED_LIMIT, REMOVED_LIMIT));
  const int16_t predictor = LoadInt16(&decoder, IMA_PREDICTOR_AT);
  const int16_t corrected = Saturate16(predictor - (error - r.removed));
  const int32_t change = predictor - corrected;  // what saturation let through
  for (int i = 0; i < n; ++i) pcm[i] = Saturate16(pcm[i] - (change * (i + 1)) / n);
  StoreInt16(&decoder, IMA_PREDICTOR_AT, corrected);
  r.removed = Clamp(r.removed + change, -REMOVED_LIMIT, REMOVED_LIMIT);
  if (r.decoded >= IMA_RECOVERY_SAMPLES) r.active = 0;
}

void ImaRecoveryTrack(ImaRecovery& r, const int16_t* pcm, int n) noexcept {
  int64_t sum = 0;
  for (int i = 0; i < n; ++i) sum += pcm[i];
  const int64_t frameMeanQ8 = sum * 256 / n;
  r.meanQ8 = static_cast<int32_t>(r.meanQ8 + (frameMeanQ8 - r.meanQ8) * n / MEAN_SPAN);
}

}  // namespace zelk::rtp
