#include "codec/adpcm2/adpcm2.h"

#include <cstring>

#include "codec/adpcm2/adpcm2_primitives.h"
#include "codec/fixed_point.h"
#include "frame/voice_frame.h"

namespace zelk {
namespace {

// Start-of-stream values. The signal and difference histories start at the
// small positive value 32, which enters the first predictions and sign tests.
constexpr int16_t RESET_HISTORY = 32;
constexpr int16_t YU_MIN = 544;
constexpr int16_t YU_MAX = 5120;
constexpr int32_t YL_RESET = 64 * YU_MIN;

// Thresholds of the adaptation.
constexpr int32_t AP_FULL = 256;          // speed control at or above this: pure fast factor
constexpr int32_t A2_TONE = -11776;       // a2 below this signals a tone
constexpr int32_t A1_LIMIT_BASE = 15360;  // |a1| <= 15360 - a2
constexpr int32_t TRANSITION_SCALE = 7147;
constexpr int32_t Y_FAST = 1536;  // scale factors below this adapt fast
constexpr int32_t POLE1_STEP = 192;
constexpr int32_t ZERO_STEP = 128;

// The record's fields in 32-bit locals for the length of one block; each
// holds its field's 16-bit value (yl its 32-bit value) between samples.
struct Work {
  int32_t sr1, sr2, a1, a2;
  int32_t b[6];  // b[0] = b1 .. b[5] = b6
  int32_t h[6];  // h[0] = dq1 (previous sample) .. h[5] = dq6
  int32_t dms, dml, ap, yu, td, p1, p2, yl;
};

Work Load(const void* block) noexcept {
  Adpcm2State s;
  std::memcpy(&s, block, ADPCM2_FIELDS16_BYTES);
  std::memcpy(&s.yl, static_cast<const unsigned char*>(block) + ADPCM2_YL_OFFSET, sizeof s.yl);
  return {s.sr1,
          s.sr2,
          s.a1,
          s.a2,
          {s.b1, s.b2, s.b3, s.b4, s.b5, s.b6},
          {s.dq1, s.dq2, s.dq3, s.dq4, s.dq5, s.dq6},
          s.dms,
          s.dml,
          s.ap,
          s.yu,
          s.td,
          s.p1,
          s.p2,
          s.yl};
}

// Every field already holds a 16-bit value; the narrowing only changes type.
void Store(const Work& w, void* block) noexcept {
  Adpcm2State s;
  s.sr1 = Wrap16(w.sr1);
  s.sr2 = Wrap16(w.sr2);
  s.a1 = Wrap16(w.a1);
  s.a2 = Wrap16(w.a2);
  s.b1 = Wrap16(w.b[0]);
  s.b2 = Wrap16(w.b[1]);
  s.b3 = Wrap16(w.b[2]);
  s.b4 = Wrap16(w.b[3]);
  s.b5 = Wrap16(w.b[4]);
  s.b6 = Wrap16(w.b[5]);
  s.dq1 = Wrap16(w.h[0]);
  s.dq2 = Wrap16(w.h[1]);
  s.dq3 = Wrap16(w.h[2]);
  s.dq4 = Wrap16(w.h[3]);
  s.dq5 = Wrap16(w.h[4]);
  s.dq6 = Wrap16(w.h[5]);
  s.dms = Wrap16(w.dms);
  s.dml = Wrap16(w.dml);
  s.ap = Wrap16(w.ap);
  s.yu = Wrap16(w.yu);
  s.td = Wrap16(w.td);
  s.p1 = Wrap16(w.p1);
  s.p2 = Wrap16(w.p2);
  s.yl = w.yl;
  std::memcpy(block, &s, ADPCM2_FIELDS16_BYTES);
  std::memcpy(static_cast<unsigned char*>(block) + ADPCM2_YL_OFFSET, &s.yl, sizeof s.yl);
}

// What a code source delivers for one sample.
struct CodeChoice {
  int code;        // 0..3
  int negative;    // 1 for codes 2 and 3
  int32_t dqln;    // the code's normalised log reconstruction level
};

// Sign test shared by the adaptations: zero counts as non-negative.
constexpr bool SameSign(int32_t x, int32_t y) noexcept { return (x < 0) == (y < 0); }

// One sample of the coder, for encoder and decoder alike. `source(se, y4)`
// delivers the code: the encoder quantises its input against the signal
// estimate se and the normalising term y4 = y >> 2, the decoder reads its
// next code. Everything else (prediction, reconstruction, adaptation) is this
// one computation. Returns the reconstructed signal sr.
template <typename CodeSource>
[[gnu::always_inline]] inline int32_t Step(Work& w, CodeSource source) noexcept {
  // Prediction: the zero section over the last six differences, then the two
  // poles over the last two reconstructed samples; sums wrap in 32 bits.
  int32_t sezi = 0;
  for (int i = 0; i < 6; ++i) sezi = Add32Wrap(sezi, Mul32Wrap(w.b[i], w.h[i]));
  const int32_t sez = ShiftRight(sezi, 14);
  const int32_t sei =
      Add32Wrap(Add32Wrap(sezi, Mul32Wrap(w.a1, w.sr1)), Mul32Wrap(w.a2, w.sr2));
  const int32_t se = ShiftRight(sei, 14);

  // Mixed scale factor. The whole sum is shifted once:
  // (yl + (yu - yl/64) * al) >> 6 rounds differently from yl/64 + (...) >> 6.
  const int32_t al = w.ap >= AP_FULL ? 64 : ShiftRight(w.ap, 2);
  const int32_t ylTrunc = ShiftRight(w.yl, 6);
  const int32_t y =
      ShiftRight(Add32Wrap(w.yl, Mul32Wrap(Sub16Wrap(w.yu, ylTrunc), al)), 6);
  const int32_t y4 = ShiftRight(y, 2);

  const CodeChoice c = source(se, y4);

  // Reconstruction.
  const int16_t dql = Add16Wrap(c.dqln, y4);
  const int32_t dq = Adpcm2Reconstruct(dql, c.negative);
  const int32_t sr = Add16Wrap(se, dq);
  const int32_t p = Add16Wrap(sez, dq);

  // Scale-factor adaptation.
  const int large = Adpcm2WeightIndex(c.code);
  const int32_t f = ADPCM2_F_TABLE[large];
  const int32_t wt = ADPCM2_W_TABLE[large];
  const int32_t dms = Add16Wrap(w.dms, ShiftRight(Sub16Wrap(512 * f, w.dms), 5));
  const int32_t dml = Add16Wrap(w.dml, ShiftRight(Sub16Wrap(2048 * f, w.dml), 7));
  const int32_t yu = Clamp(Add16Wrap(y, ShiftRight(Sub16Wrap(32 * wt, y), 5)), YU_MIN, YU_MAX);
  // The old yl's share leaves after the new yu enters: yl + yu - (yl >> 6),
  // not yl + yu + ((-yl) >> 6), which rounds the other way.
  const int32_t yl = Sub32Wrap(Add32Wrap(w.yl, yu), ylTrunc);

  // Transition: a tone seen at the previous sample clears the predictor. From
  // any state reached by coding the product test always holds.
  const bool tr = w.td == 1 && Mul32Wrap(dql, TRANSITION_SCALE) > w.yl;

  // Predictor adaptation, from the fields as they were before this sample.
  const int pSign = (p > 0) - (p < 0);
  const int32_t a2p = Adpcm2UpdatePole2(Wrap16(w.p1), Wrap16(w.p2), Wrap16(w.a2), Wrap16(w.a1),
                                        pSign);
  const int32_t u = p == 0 ? 0 : (SameSign(p, w.p1) ? POLE1_STEP : -POLE1_STEP);
  const int32_t a1ul = A1_LIMIT_BASE - a2p;
  const int32_t a1 = Clamp(Wrap16(w.a1 - ShiftRight(w.a1, 8) + u), -a1ul, a1ul);
  const bool tone = a2p < A2_TONE;

  // Speed control: fast on a change in the code statistics, at a small scale
  // factor or on a tone. ap - (ap >> 4) + 32, not ap + ((512 - ap) >> 4).
  const int32_t dmsDev = 4 * dms - dml;
  const bool fast =
      (dmsDev < 0 ? -dmsDev : dmsDev) >= ShiftRight(dml, 3) || y < Y_FAST || tone;
  const int32_t ap = Wrap16(w.ap - ShiftRight(w.ap, 4) + (fast ? 32 : 0));

  for (int i = 0; i < 6; ++i) {
    const int32_t inc = dq == 0 ? 0 : (SameSign(dq, w.h[i]) ? ZERO_STEP : -ZERO_STEP);
    w.b[i] = tr ? 0 : Wrap16(w.b[i] - ShiftRight(w.b[i], 8) + inc);
  }
  for (int i = 5; i > 0; --i) w.h[i] = w.h[i - 1];
  w.h[0] = Wrap16(dq);

  w.a1 = tr ? 0 : a1;
  w.a2 = tr ? 0 : a2p;
  w.td = tr ? 0 : (tone ? 1 : 0);
  w.ap = tr ? AP_FULL : ap;
  w.dms = dms;
  w.dml = dml;
  w.yu = yu;
  w.yl = yl;
  w.p2 = w.p1;
  w.p1 = p;
  w.sr2 = w.sr1;
  w.sr1 = sr;
  return sr;
}

}  // namespace

void Adpcm2Reset(void* stateBlock) noexcept {
  Work w{};
  w.sr1 = w.sr2 = RESET_HISTORY;
  for (int32_t& h : w.h) h = RESET_HISTORY;
  w.yu = YU_MIN;
  w.yl = YL_RESET;
  Store(w, stateBlock);
}

void Adpcm2EncodeBlock(const int16_t* pcm, uint8_t* codes, int32_t n, void* stateBlock) noexcept {
  const int count = LowSigned16(n);
  if (count <= 0) return;
  Work w = Load(stateBlock);
  for (int i = 0; i < count; ++i) {
    const int32_t s = pcm[i];
    Step(w, [&](int32_t se, int32_t y4) {
      // The difference wraps in 16 bits, so a large estimate against an input
      // of the other sign can flip its sign. The magnitude of -32768 is the
      // pattern 0x8000, which the logarithm ranks with 0.
      const int16_t d = Sub16Wrap(s, Wrap16(se));
      const int negative = d < 0 ? 1 : 0;
      const int16_t magnitude = negative != 0 ? Wrap16(-d) : d;
      const int16_t dln = Sub16Wrap(Adpcm2Log2(magnitude), y4);
      const Adpcm2Quantized q = Adpcm2Quantize(dln, negative);
      codes[i] = static_cast<uint8_t>(q.code);
      return CodeChoice{q.code, negative, q.dqln};
    });
  }
  Store(w, stateBlock);
}

void Adpcm2DecodeBlock(const uint8_t* codes, int16_t* pcm, int32_t n, void* stateBlock) noexcept {
  const int count = LowSigned16(n);
  if (count <= 0) return;
  Work w = Load(stateBlock);
  for (int i = 0; i < count; ++i) {
    const int code = codes[i] & 3;
    const int32_t sr = Step(w, [&](int32_t, int32_t) {
      return CodeChoice{code, code >> 1, ADPCM2_DQLN_TABLE[code]};
    });
    pcm[i] = Wrap16(sr);
  }
  Store(w, stateBlock);
}

void Adpcm2EncodeFrame(void* stateBlock, const int16_t* pcm, uint16_t* frame, int n) noexcept {
  uint8_t codes[FRAME_MAX_SAMPLES];
  Adpcm2EncodeBlock(pcm, codes, n, stateBlock);
  FramePackAdpcm2(codes, n, frame);
}

void Adpcm2DecodeFrame(void* stateBlock, const uint16_t* frame, int16_t* pcm) noexcept {
  uint8_t codes[FRAME_MAX_SAMPLES];
  const int n = 8 * FrameLengthByte(frame);
  FrameUnpackAdpcm2(frame, codes);
  Adpcm2DecodeBlock(codes, pcm, n, stateBlock);
}

}  // namespace zelk
