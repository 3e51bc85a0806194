// A-law <-> mu-law transcoding by the conversion tables of G.711 itself,
// which gateways between A-law and mu-law networks apply code by code.
//
// G.711 states its two tables on magnitudes, by decoder output value number:
// mu-law numbers 0..127 (0 decodes to zero), A-law numbers 1..128; the sign
// passes unchanged. The tables are not "decode, then encode the nearest
// value": where one law is finer than the other they are chosen so that a
// round trip through the coarser law and back is transparent, which places a
// few entries one step off the nearest value (the README lists the codes).
//
// Each table is a list of runs, as G.711 prints them: numbers first..last of
// the source law go to consecutive target numbers from `to`, advancing by
// halves/2 per source number (halves 1: two source numbers share a target;
// 2: one each; 4: every other target; 0: all share one).
#include <array>

#include "zelk_voice_rtp.h"

namespace zelk::rtp {
namespace {

struct Run {
  uint8_t first;
  uint8_t last;
  uint8_t to;
  uint8_t halves;
};

// Mu-law number -> A-law number (G.711 Table 3).
constexpr Run ULAW_TO_ALAW_RUNS[] = {
    {0, 15, 1, 1},     // 0,1 -> 1 .. 14,15 -> 8
    {16, 31, 9, 2},    // 16 -> 9 .. 31 -> 24
    {32, 35, 25, 4},   // 25, 27, 29, 31
    {36, 47, 33, 2},   // 36 -> 33 .. 47 -> 44
    {48, 49, 46, 4},   // 48 -> 46, 49 -> 48
    {50, 63, 49, 2},   // 50 -> 49 .. 63 -> 62
    {64, 80, 64, 2},   // 64 -> 64 .. 80 -> 80
    {81, 127, 82, 2},  // 81 -> 82 .. 127 -> 128
};

// A-law number -> mu-law number (G.711 Table 4).
constexpr Run ALAW_TO_ULAW_RUNS[] = {
    {1, 8, 1, 4},      // 1 -> 1, 2 -> 3 .. 8 -> 15
    {9, 24, 16, 2},    // 9 -> 16 .. 24 -> 31
    {25, 32, 32, 1},   // 25,26 -> 32 .. 31,32 -> 35
    {33, 44, 36, 2},   // 33 -> 36 .. 44 -> 47
    {45, 48, 48, 1},   // 45,46 -> 48; 47,48 -> 49
    {49, 62, 50, 2},   // 49 -> 50 .. 62 -> 63
    {63, 64, 64, 0},   // 63,64 -> 64
    {65, 80, 65, 2},   // 65 -> 65 .. 80 -> 80
    {81, 128, 80, 2},  // 81 -> 80 .. 128 -> 127
};

// Magnitude numbers of the two laws' codes: sign bit 1 for positive, then
// mu-law transmits the number inverted, A-law the number minus 1 with its
// even bits inverted.
constexpr int UlawNumber(int code) { return ~code & 0x7F; }
constexpr int AlawNumber(int code) { return ((code ^ 0x55) & 0x7F) + 1; }
constexpr int UlawCode(bool positive, int number) { return (positive ? 0xFF : 0x7F) ^ number; }
constexpr int AlawCode(bool positive, int number) {
  return (positive ? 0xD5 : 0x55) ^ (number - 1);
}

template <size_t N>
constexpr int Convert(const Run (&runs)[N], int number) {
  for (const Run& r : runs) {
    if (number >= r.first && number <= r.last) return r.to + (number - r.first) * r.halves / 2;
  }
  return -1;  // outside every run: caught at compile time below
}

constexpr std::array<uint8_t, 256> MakeUlawToAlaw() {
  std::array<uint8_t, 256> t{};
  for (int code = 0; code < 256; ++code) {
    const int a = Convert(ULAW_TO_ALAW_RUNS, UlawNumber(code));
    t[static_cast<size_t>(code)] = static_cast<uint8_t>(AlawCode(code >= 0x80, a));
  }
  return t;
}

constexpr std::array<uint8_t, 256> MakeAlawToUlaw() {
  std::array<uint8_t, 256> t{};
  for (int code = 0; code < 256; ++code) {
    const int u = Convert(ALAW_TO_ULAW_RUNS, AlawNumber(code));
    t[static_cast<size_t>(code)] = static_cast<uint8_t>(UlawCode(code >= 0x80, u));
  }
  return t;
}

constexpr std::array<uint8_t, 256> ULAW_TO_ALAW = MakeUlawToAlaw();
constexpr std::array<uint8_t, 256> ALAW_TO_ULAW = MakeAlawToUlaw();

// Every number of each law lies in exactly one run and lands on a number of
// the other law; a mu-law number of 16..127 (where A-law is no coarser)
// comes back from A-law unchanged.
template <size_t N>
constexpr bool RunsCover(const Run (&runs)[N], int lo, int hi, int targetLo, int targetHi) {
  int next = lo;
  for (const Run& r : runs) {
    if (r.first != next || r.last < r.first) return false;
    next = r.last + 1;
  }
  for (int n = lo; n <= hi; ++n) {
    const int to = Convert(runs, n);
    if (to < targetLo || to > targetHi) return false;
  }
  return next == hi + 1;
}
static_assert(RunsCover(ULAW_TO_ALAW_RUNS, 0, 127, 1, 128));
static_assert(RunsCover(ALAW_TO_ULAW_RUNS, 1, 128, 0, 127));
constexpr bool UlawRoundTripTransparent() {
  for (int n = 16; n <= 127; ++n) {
    if (Convert(ALAW_TO_ULAW_RUNS, Convert(ULAW_TO_ALAW_RUNS, n)) != n) return false;
  }
  return true;
}
static_assert(UlawRoundTripTransparent());

uint32_t Transcode(const std::array<uint8_t, 256>& table, const uint8_t* in, size_t count,
                   uint8_t* out, size_t outCapacity) noexcept {
  if (in == nullptr) return ZELK_RTP_ERR_NULL_INPUT;
  if (out == nullptr) return ZELK_RTP_ERR_NULL_OUTPUT;
  if (outCapacity < count) return ZELK_RTP_ERR_CAPACITY;
  for (size_t i = 0; i < count; ++i) out[i] = table[in[i]];  // in == out is fine
  return ZELK_RTP_OK;
}

}  // namespace
}  // namespace zelk::rtp

extern "C" {

uint32_t ZELK_RTP_CALL ZELK_RTP_AlawToUlaw(const uint8_t* in, size_t count, uint8_t* out,
                                           size_t outCapacity) {
  return zelk::rtp::Transcode(zelk::rtp::ALAW_TO_ULAW, in, count, out, outCapacity);
}

uint32_t ZELK_RTP_CALL ZELK_RTP_UlawToAlaw(const uint8_t* in, size_t count, uint8_t* out,
                                           size_t outCapacity) {
  return zelk::rtp::Transcode(zelk::rtp::ULAW_TO_ALAW, in, count, out, outCapacity);
}

}  // extern "C"
