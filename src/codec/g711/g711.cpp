#include "codec/g711/g711.h"

#include <array>
#include <cstddef>
#include <cstring>

#include "codec/fixed_point.h"
#include "codec/g711/g711_kernels.h"
#include "frame/voice_frame.h"

// The x86-64 levels need GCC-style target attributes and the CPU model that
// the runtime library fills in before main; elsewhere (32-bit Windows among
// others) only the portable level exists.
#if defined(__x86_64__) && defined(__linux__) && (defined(__GNUC__) || defined(__clang__))
#define ZELK_G711_X86_LEVELS 1
#include <immintrin.h>
#else
#define ZELK_G711_X86_LEVELS 0
#endif

// The loop bodies are written once and inlined into each level's function,
// where the compiler vectorises them for that level's instructions.
#if defined(__GNUC__) || defined(__clang__)
#define ZELK_G711_INLINE [[gnu::always_inline]] inline
#define ZELK_G711_NOINLINE [[gnu::noinline]]
#else
#define ZELK_G711_INLINE inline
#define ZELK_G711_NOINLINE
#endif

// GCC at -O2 vectorises only loops that need no remainder handling, which a
// frame's length does not promise; its -O3 cost model is asked for here so
// that every optimised build gets the vector loops. Clang vectorises at -O2.
#if defined(__GNUC__) && !defined(__clang__)
#define ZELK_G711_VECTORISE [[gnu::optimize("vect-cost-model=dynamic")]]
#else
#define ZELK_G711_VECTORISE
#endif

#if defined(__GNUC__) || defined(__clang__) || defined(_MSC_VER)
#define ZELK_G711_RESTRICT __restrict
#else
#define ZELK_G711_RESTRICT
#endif

namespace zelk {
namespace {

template <uint8_t (*Compress)(int16_t)>
void CompressBlock(const int16_t* samples, uint16_t* codes, int32_t count) noexcept {
  const int n = LowSigned16(count);
  for (int i = 0; i < n; ++i) codes[i] = Compress(samples[i]);
}

void ExpandBlock(const std::array<int16_t, 256>& table, const uint16_t* codes, int16_t* samples,
                 int32_t count) noexcept {
  const int n = LowSigned16(count);
  for (int i = 0; i < n; ++i) samples[i] = table[codes[i]];
}

// Compression and packing in one pass: word i = c[2i] << 8 | c[2i+1]. The
// kernels' buffers never overlap (G711EncodeFrame and G711DecodeFrame see to
// that), which lets the compiler vectorise without checking.
template <uint16_t (*Compress)(int16_t)>
ZELK_G711_VECTORISE ZELK_G711_INLINE void EncodeWords(
    const int16_t* ZELK_G711_RESTRICT pcm, int words,
    uint16_t* ZELK_G711_RESTRICT payload) noexcept {
  for (int i = 0; i < words; ++i) {
    FrameStoreWord(payload + i,
                   static_cast<uint16_t>((Compress(pcm[2 * i]) << 8) | Compress(pcm[2 * i + 1])));
  }
}

// Unpacking and expansion in one pass, the high byte first.
template <int16_t (*Expand)(uint32_t)>
ZELK_G711_VECTORISE ZELK_G711_INLINE void DecodeWords(const uint16_t* ZELK_G711_RESTRICT payload,
                                                      int words,
                                                      int16_t* ZELK_G711_RESTRICT pcm) noexcept {
  for (int i = 0; i < words; ++i) {
    const uint32_t w = FrameLoadWord(payload + i);
    pcm[2 * i] = Expand(w >> 8);
    pcm[2 * i + 1] = Expand(w & 0xFF);
  }
}

// Without wide vectors a table read is the cheapest expansion.
void DecodeWordsByTable(const std::array<int16_t, 256>& table,
                        const uint16_t* ZELK_G711_RESTRICT payload, int words,
                        int16_t* ZELK_G711_RESTRICT pcm) noexcept {
  for (int i = 0; i < words; ++i) {
    const uint16_t w = FrameLoadWord(payload + i);
    pcm[2 * i] = table[w >> 8];
    pcm[2 * i + 1] = table[w & 0xFF];
  }
}

// --- portable level: any compiler, any CPU ------------------------------

bool PortableSupported() noexcept { return true; }
ZELK_G711_VECTORISE void PortableAlawEncode(const int16_t* pcm, int words,
                                            uint16_t* payload) noexcept {
  EncodeWords<G711AlawCompressLane>(pcm, words, payload);
}
ZELK_G711_VECTORISE void PortableUlawEncode(const int16_t* pcm, int words,
                                            uint16_t* payload) noexcept {
  EncodeWords<G711UlawCompressLane>(pcm, words, payload);
}
void PortableAlawDecode(const uint16_t* payload, int words, int16_t* pcm) noexcept {
  DecodeWordsByTable(G711_ALAW_EXPAND_TABLE, payload, words, pcm);
}
void PortableUlawDecode(const uint16_t* payload, int words, int16_t* pcm) noexcept {
  DecodeWordsByTable(G711_ULAW_EXPAND_TABLE, payload, words, pcm);
}

constexpr G711Kernels PORTABLE_KERNELS = {"portable",         PortableSupported,
                                          PortableAlawEncode, PortableUlawEncode,
                                          PortableAlawDecode, PortableUlawDecode};

#if ZELK_G711_X86_LEVELS

// --- AVX2 level: the lane forms, 16 samples per instruction --------------

#define ZELK_G711_AVX2 [[gnu::target("avx2")]]

bool Avx2Supported() noexcept { return __builtin_cpu_supports("avx2"); }
ZELK_G711_AVX2 ZELK_G711_VECTORISE void Avx2AlawEncode(const int16_t* pcm, int words,
                                                       uint16_t* payload) noexcept {
  EncodeWords<G711AlawCompressLane>(pcm, words, payload);
}
ZELK_G711_AVX2 ZELK_G711_VECTORISE void Avx2UlawEncode(const int16_t* pcm, int words,
                                                       uint16_t* payload) noexcept {
  EncodeWords<G711UlawCompressLane>(pcm, words, payload);
}
ZELK_G711_AVX2 ZELK_G711_VECTORISE void Avx2AlawDecode(const uint16_t* payload, int words,
                                                       int16_t* pcm) noexcept {
  DecodeWords<G711AlawExpandLane>(payload, words, pcm);
}
ZELK_G711_AVX2 ZELK_G711_VECTORISE void Avx2UlawDecode(const uint16_t* payload, int words,
                                                       int16_t* pcm) noexcept {
  DecodeWords<G711UlawExpandLane>(payload, words, pcm);
}

constexpr G711Kernels AVX2_KERNELS = {"avx2",         Avx2Supported,  Avx2AlawEncode,
                                      Avx2UlawEncode, Avx2AlawDecode, Avx2UlawDecode};

// --- AVX-512 level: 32 samples per instruction, byte-permute expansion ---

#define ZELK_G711_AVX512 [[gnu::target("avx512f,avx512bw,avx512vl,avx512vbmi")]]

bool Avx512Supported() noexcept {
  return __builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512bw") &&
         __builtin_cpu_supports("avx512vl") && __builtin_cpu_supports("avx512vbmi");
}

// Both laws are symmetric: the code without its sign bit gives the magnitude,
// the sign bit (set for non-negative) its sign. A 128-entry byte table fits in
// two 512-bit registers, which one byte permute reads 64 codes at a time, so
// the magnitudes are held as a low-byte and a high-byte plane.
struct alignas(64) G711BytePlanes {
  uint8_t low[128];
  uint8_t high[128];
};

constexpr G711BytePlanes MakeMagnitudePlanes(const std::array<int16_t, 256>& table) {
  G711BytePlanes planes{};
  for (size_t k = 0; k < 128; ++k) {
    const auto magnitude = static_cast<uint16_t>(table[k | 0x80]);
    planes.low[k] = static_cast<uint8_t>(magnitude & 0xFF);
    planes.high[k] = static_cast<uint8_t>(magnitude >> 8);
  }
  return planes;
}

constexpr G711BytePlanes G711_ALAW_MAGNITUDE_PLANES = MakeMagnitudePlanes(G711_ALAW_EXPAND_TABLE);
constexpr G711BytePlanes G711_ULAW_MAGNITUDE_PLANES = MakeMagnitudePlanes(G711_ULAW_EXPAND_TABLE);

// Byte indices for the permutes of one 64-code round:
//   swapPairs   payload byte order (c1 c0 c3 c2 ...) into sample order;
//   firstHalf   samples 0..31 as (low, high) byte pairs from the two planes;
//   secondHalf  samples 32..63 likewise (plane indices 64.. pick `high`).
struct alignas(64) G711PermuteIndices {
  uint8_t swapPairs[64];
  uint8_t firstHalf[64];
  uint8_t secondHalf[64];
};

constexpr G711PermuteIndices MakePermuteIndices() {
  G711PermuteIndices indices{};
  for (uint8_t j = 0; j < 64; ++j) indices.swapPairs[j] = j ^ 1;
  for (uint8_t j = 0; j < 32; ++j) {
    indices.firstHalf[2 * j] = j;
    indices.firstHalf[2 * j + 1] = static_cast<uint8_t>(64 + j);
    indices.secondHalf[2 * j] = static_cast<uint8_t>(32 + j);
    indices.secondHalf[2 * j + 1] = static_cast<uint8_t>(96 + j);
  }
  return indices;
}

constexpr G711PermuteIndices G711_PERMUTE_INDICES = MakePermuteIndices();

// The lowest `count` bits set, count 0..64.
constexpr uint64_t LowBits(int count) noexcept {
  return count >= 64 ? ~uint64_t{0} : (uint64_t{1} << count) - 1;
}

ZELK_G711_AVX512 __m512i Load512(const uint8_t* p) noexcept { return _mm512_load_si512(p); }

// 64 codes (32 payload words) per round; the last round reads and writes
// through masks, so nothing outside the frame and the output is touched. The
// payload is taken as bytes in memory order, which is the frame's own
// little-endian order on x86.
ZELK_G711_AVX512 void DecodeWordsByPermute(const G711BytePlanes& planes, const uint16_t* payload,
                                           int words, int16_t* pcm) noexcept {
  const __m512i low0 = Load512(planes.low);
  const __m512i low1 = Load512(planes.low + 64);
  const __m512i high0 = Load512(planes.high);
  const __m512i high1 = Load512(planes.high + 64);
  const __m512i swapPairs = Load512(G711_PERMUTE_INDICES.swapPairs);
  const __m512i firstHalf = Load512(G711_PERMUTE_INDICES.firstHalf);
  const __m512i secondHalf = Load512(G711_PERMUTE_INDICES.secondHalf);
  const __m512i signBits = _mm512_set1_epi8(static_cast<char>(0x80));
  const __m512i zero = _mm512_setzero_si512();
  for (int i = 0; i < words; i += 32) {
    const int samples = 2 * std::min(words - i, 32);
    const __m512i payloadBytes = _mm512_maskz_loadu_epi8(LowBits(samples), payload + i);
    const __m512i codes = _mm512_shuffle_epi8(payloadBytes, swapPairs);  // byte j: sample j
    const __m512i low = _mm512_permutex2var_epi8(low0, codes, low1);     // bit 7 ignored
    const __m512i high = _mm512_permutex2var_epi8(high0, codes, high1);
    const uint64_t negative = _mm512_testn_epi8_mask(codes, signBits);
    __m512i first = _mm512_permutex2var_epi8(low, firstHalf, high);
    __m512i second = _mm512_permutex2var_epi8(low, secondHalf, high);
    first = _mm512_mask_sub_epi16(first, static_cast<__mmask32>(negative), zero, first);
    second = _mm512_mask_sub_epi16(second, static_cast<__mmask32>(negative >> 32), zero, second);
    int16_t* out = pcm + 2 * i;
    _mm512_mask_storeu_epi16(out, static_cast<__mmask32>(LowBits(samples)), first);
    _mm512_mask_storeu_epi16(out + 32, static_cast<__mmask32>(LowBits(samples) >> 32), second);
  }
}

ZELK_G711_AVX512 ZELK_G711_VECTORISE void Avx512AlawEncode(const int16_t* pcm, int words,
                                                           uint16_t* payload) noexcept {
  EncodeWords<G711AlawCompressLane>(pcm, words, payload);
}
ZELK_G711_AVX512 ZELK_G711_VECTORISE void Avx512UlawEncode(const int16_t* pcm, int words,
                                                           uint16_t* payload) noexcept {
  EncodeWords<G711UlawCompressLane>(pcm, words, payload);
}
ZELK_G711_AVX512 void Avx512AlawDecode(const uint16_t* payload, int words, int16_t* pcm) noexcept {
  DecodeWordsByPermute(G711_ALAW_MAGNITUDE_PLANES, payload, words, pcm);
}
ZELK_G711_AVX512 void Avx512UlawDecode(const uint16_t* payload, int words, int16_t* pcm) noexcept {
  DecodeWordsByPermute(G711_ULAW_MAGNITUDE_PLANES, payload, words, pcm);
}

constexpr G711Kernels AVX512_KERNELS = {"avx512",         Avx512Supported,  Avx512AlawEncode,
                                        Avx512UlawEncode, Avx512AlawDecode, Avx512UlawDecode};

constexpr std::array<G711Kernels, 3> KERNEL_LEVELS = {AVX512_KERNELS, AVX2_KERNELS,
                                                      PORTABLE_KERNELS};
#else
constexpr std::array<G711Kernels, 1> KERNEL_LEVELS = {PORTABLE_KERNELS};
#endif

// Whether the byte ranges [a, a + aBytes) and [b, b + bBytes) share a byte.
// The addresses are compared as integers: the host's two buffers need not lie
// in one array, and comparing unrelated pointers directly is undefined.
bool RangesOverlap(const void* a, size_t aBytes, const void* b, size_t bBytes) noexcept {
  const auto start = reinterpret_cast<uintptr_t>(a);
  const auto otherStart = reinterpret_cast<uintptr_t>(b);
  return start < otherStart + bBytes && otherStart < start + aBytes;
}

// The overlapping cases, kept out of line so that their scratch areas do not
// deepen the usual calls' stack.
ZELK_G711_NOINLINE void EncodeViaScratch(G711EncodeKernel encode, const int16_t* pcm, int words,
                                         uint16_t* frame) noexcept {
  uint16_t scratch[FRAME_MAX_WORDS];
  FrameWriteHeader(scratch, words);
  encode(pcm, words, scratch + FRAME_PAYLOAD_OFFSET);
  std::memcpy(frame, scratch, static_cast<size_t>(FRAME_PAYLOAD_OFFSET + words) * sizeof(uint16_t));
}

ZELK_G711_NOINLINE void DecodeViaScratch(G711DecodeKernel decode, const uint16_t* payload,
                                         int words, int16_t* pcm) noexcept {
  int16_t scratch[FRAME_MAX_SAMPLES];
  decode(payload, words, scratch);
  std::memcpy(pcm, scratch, static_cast<size_t>(2 * words) * sizeof(int16_t));
}

}  // namespace

std::span<const G711Kernels> G711KernelLevels() noexcept { return KERNEL_LEVELS; }

const G711Kernels& G711ActiveKernels() noexcept {
  for (const G711Kernels& level : KERNEL_LEVELS) {
    if (level.supported()) return level;
  }
  return KERNEL_LEVELS.back();
}

void G711AlawCompress(const int16_t* samples, uint16_t* codes, int32_t count) noexcept {
  CompressBlock<G711AlawCompressSample>(samples, codes, count);
}

void G711UlawCompress(const int16_t* samples, uint16_t* codes, int32_t count) noexcept {
  CompressBlock<G711UlawCompressSample>(samples, codes, count);
}

void G711AlawExpand(const uint16_t* codes, int16_t* samples, int32_t count) noexcept {
  ExpandBlock(G711_ALAW_EXPAND_TABLE, codes, samples, count);
}

void G711UlawExpand(const uint16_t* codes, int16_t* samples, int32_t count) noexcept {
  ExpandBlock(G711_ULAW_EXPAND_TABLE, codes, samples, count);
}

// The kernels write while they still read. A host may hand in one buffer for
// both directions, or overlapping parts of one, and must get what separate
// buffers give: the frame, or the samples, are then built in scratch and
// copied out. (Copying the payload in before decoding would also do, but
// measured half as fast again: the vector loads wait on the fresh copy.)
// Buffers apart (the usual case) cost two comparisons.
void G711EncodeFrame(const int16_t* pcm, int n, int codecType, uint16_t* frame) noexcept {
  const int words = n / 2;
  const G711Kernels& kernels = G711ActiveKernels();
  const G711EncodeKernel encode = codecType == 1 ? kernels.alawEncode : kernels.ulawEncode;
  const auto frameBytes = static_cast<size_t>(FRAME_PAYLOAD_OFFSET + words) * sizeof(uint16_t);
  if (RangesOverlap(pcm, static_cast<size_t>(n) * sizeof(int16_t), frame, frameBytes)) {
    EncodeViaScratch(encode, pcm, words, frame);
    return;
  }
  FrameWriteHeader(frame, words);
  encode(pcm, words, frame + FRAME_PAYLOAD_OFFSET);
}

void G711DecodeFrame(const uint16_t* frame, int16_t* pcm, int codecType) noexcept {
  const G711Kernels& kernels = G711ActiveKernels();
  const G711DecodeKernel decode = codecType == 1 ? kernels.alawDecode : kernels.ulawDecode;
  const int words = FrameLengthByte(frame);
  const uint16_t* payload = frame + FRAME_PAYLOAD_OFFSET;
  const auto payloadBytes = static_cast<size_t>(words) * sizeof(uint16_t);
  if (RangesOverlap(payload, payloadBytes, pcm, 2 * payloadBytes)) {
    DecodeViaScratch(decode, payload, words, pcm);
    return;
  }
  decode(payload, words, pcm);
}

}  // namespace zelk
