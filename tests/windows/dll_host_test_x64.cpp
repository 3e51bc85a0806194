// zelk_voice_engine.dll as a 64-bit Windows host uses it: loaded by name, its
// functions looked up by their plain and Microsoft-decorated names and called
// through raw pointers in the x64 convention. Every call goes through the
// assembly probe (call_probe_x64.h), which checks what a Microsoft-compiled
// caller relies on: the stack pointer comes back where it was, and RBX, RBP,
// RDI, RSI, R12-R15 and XMM6-XMM15 come back unchanged.
#include <gtest/gtest.h>
#include <windows.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <set>
#include <string>
#include <vector>

#include "call_probe_x64.h"
#include "dll_host.h"
#include "zelk_voice_engine.h"

namespace zelk {
namespace {

constexpr const char* DLL_NAME = "zelk_voice_engine.dll";
constexpr const char* ENCODE = "ZELK_VOICE_EncodeFrame";
constexpr const char* DECODE = "ZELK_VOICE_DecodeFrame";
constexpr const char* ENC_RESET = "ZELK_VOICE_EncReset";
constexpr const char* DEC_RESET = "ZELK_VOICE_DecReset";
constexpr const char* VERSION = "ZELK_VOICE_GetVersionNumber";
constexpr const char* CONSTRUCTOR = "??0CZelk_voice_engine@@QEAA@XZ";
constexpr const char* ASSIGN = "??4CZelk_voice_engine@@QEAAAEAV0@AEBV0@@Z";
constexpr const char* FN = "?fnZelk_voice_engine@@YAHXZ";
constexpr const char* VARIABLE = "?nZelk_voice_engine@@3HA";
const std::set<std::string> EXPORTS = {ENCODE,      DECODE, ENC_RESET, DEC_RESET, VERSION,
                                       CONSTRUCTOR, ASSIGN, FN,        VARIABLE};

using probe::HIGH_GARBAGE;

uint64_t Arg(const void* p) { return reinterpret_cast<uintptr_t>(p); }

class DllHost : public host::LoadedDll {
 protected:
  DllHost() : LoadedDll(DLL_NAME) {}

  // Calls the export `name` through the probe and checks the convention.
  probe::Call Call(const char* name, std::initializer_list<uint64_t> args) {
    return probe::CheckedCall(name, Find(name), args);
  }

  // The status in EAX; RAX's upper half is undefined for a 32-bit result.
  uint32_t Status(const char* name, std::initializer_list<uint64_t> args) {
    return static_cast<uint32_t>(Call(name, args).rax);
  }

  uint32_t Version() { return Status(VERSION, {}); }
};

TEST_F(DllHost, ExportTableHoldsExactlyTheNineNames) {
  ASSERT_EQ(EXPORTS.size(), 9u);
  ExpectExportTable(EXPORTS);
}

TEST_F(DllHost, ThirtyTwoBitAndInternalNamesAreNotExported) {
  const char* absent[] = {"_ZELK_VOICE_EncodeFrame@20",
                          "ZELK_VOICE_EncodeFrame@20",
                          "_ZELK_VOICE_EncodeFrame",
                          "_ZELK_VOICE_DecodeFrame@20",
                          "_ZELK_VOICE_EncReset@8",
                          "_ZELK_VOICE_DecReset@8",
                          "_ZELK_VOICE_GetVersionNumber@0",
                          "??0CZelk_voice_engine@@QAE@XZ",
                          "??4CZelk_voice_engine@@QAEAAV0@ABV0@@Z",
                          "?fnZelk_voice_engine@@YGHXZ",
                          "fnZelk_voice_engine",
                          "_Z19fnZelk_voice_enginev",
                          "nZelk_voice_engine",
                          "_ZN18CZelk_voice_engineC1Ev",
                          "_ZN18CZelk_voice_engineaSERKS_",
                          "_ZN4zelk14MsClassExports16DefaultConstructEv",
                          "_ZN4zelk14MsClassExports10CopyAssignEPKS0_",
                          "DllMain"};
  for (const char* name : absent) EXPECT_EQ(Find(name), nullptr) << name;
}

TEST_F(DllHost, PlainFunctionsLookAtTheLowHalvesOnly) {
  EXPECT_EQ(Status(VERSION, {}), 131490225u);
  EXPECT_EQ(Status(FN, {}), 42u);

  alignas(4) uint8_t state[ZELK_VOICE_STATE_SIZE];
  std::memset(state, 0xA5, sizeof state);
  EXPECT_EQ(Status(ENC_RESET, {Arg(state), HIGH_GARBAGE | 1}), VOICE_OK);
  EXPECT_EQ(Status(DEC_RESET, {Arg(state), HIGH_GARBAGE | 0x20002}), VOICE_OK);  // low half 2
  for (uint8_t b : state) ASSERT_EQ(b, 0xA5) << "G.711 reset touched the state block";
  EXPECT_EQ(Status(ENC_RESET, {Arg(state), HIGH_GARBAGE | 5}), VOICE_ERR_ENC_TYPE);
  EXPECT_EQ(Status(DEC_RESET, {Arg(state), HIGH_GARBAGE}), VOICE_ERR_DEC_TYPE);
  EXPECT_EQ(Status(DEC_RESET, {0, 3}), VOICE_ERR_NULL_STATE);
  // A pointer is all 64 bits: one with only its upper half set is not null.
  EXPECT_EQ(Status(ENC_RESET, {Arg(state), HIGH_GARBAGE | 3}), VOICE_OK);
  EXPECT_EQ(Status(DEC_RESET, {Arg(state), HIGH_GARBAGE | 4}), VOICE_OK);
}

// Encodes and decodes one 160-sample frame of every codec through raw
// pointers with the buffers at `memory`, which has room for the state blocks,
// the samples and the frames; returns what was written, for comparison.
struct RoundTrip {
  std::vector<uint16_t> frames;
  std::vector<int16_t> decoded;
};

class DllHostBuffers : public DllHost {
 protected:
  RoundTrip EncodeAndDecode(uint8_t* memory) {
    auto* enc = memory;
    auto* dec = memory + 64;
    auto* pcm = reinterpret_cast<int16_t*>(memory + 128);
    auto* frame = reinterpret_cast<uint16_t*>(memory + 128 + 2 * ZELK_VOICE_MAX_SAMPLES);
    auto* out = frame + ZELK_VOICE_MAX_FRAME_WORDS + 8;
    auto* count = out + ZELK_VOICE_MAX_SAMPLES;
    for (int i = 0; i < ZELK_VOICE_MAX_SAMPLES; ++i) pcm[i] = static_cast<int16_t>(i * 97 - 20000);
    // Payload words per sample count of 160: 80, 80, 40, 20 for types 1..4.
    const uint16_t payloadWords[] = {80, 80, 40, 20};
    RoundTrip made;
    for (uint32_t type = 1; type <= 4; ++type) {
      SCOPED_TRACE(type);
      EXPECT_EQ(Status(ENC_RESET, {Arg(enc), type}), VOICE_OK);
      EXPECT_EQ(Status(DEC_RESET, {Arg(dec), type}), VOICE_OK);
      std::fill(frame, frame + ZELK_VOICE_MAX_FRAME_WORDS + 1, uint16_t{0xEEEE});
      // Upper bits set on both 16-bit arguments, in the registers' upper
      // halves too: only the low 16 bits count. The codec type is the fifth
      // argument and travels on the stack.
      EXPECT_EQ(Status(ENCODE, {Arg(enc), Arg(pcm), Arg(frame), HIGH_GARBAGE | 0xABCD00A0u,
                                HIGH_GARBAGE | 0x7000'0000u | type}),
                VOICE_OK);
      const int words = 2 + payloadWords[type - 1];
      EXPECT_EQ(frame[0] & 0x0300, 0x0100);
      EXPECT_EQ(frame[1] & 0xFF, payloadWords[type - 1]);
      EXPECT_EQ(frame[words], 0xEEEE) << "encode wrote past its frame";
      made.frames.insert(made.frames.end(), frame, frame + words);

      // Here the count pointer is the fifth argument, on the stack.
      *count = -1;
      std::fill(out, out + ZELK_VOICE_MAX_SAMPLES, int16_t{0x5A5A});
      EXPECT_EQ(Status(DECODE, {Arg(dec), Arg(frame), Arg(out), HIGH_GARBAGE | type, Arg(count)}),
                VOICE_OK);
      EXPECT_EQ(*count, 160);
      EXPECT_EQ(out[160], 0x5A5A) << "decode wrote past its samples";
      made.decoded.insert(made.decoded.end(), out, out + 160);
    }
    frame[0] = 0x0100;
    frame[1] = 0;
    EXPECT_EQ(Status(ENCODE, {Arg(enc), Arg(pcm), Arg(frame), 81, 1}), VOICE_ERR_ENC_LENGTH);
    EXPECT_EQ(Status(ENCODE, {0, Arg(pcm), Arg(frame), 80, 1}), VOICE_ERR_NULL_STATE);
    EXPECT_EQ(Status(DECODE, {Arg(dec), Arg(frame), Arg(pcm), 1, Arg(count)}),
              VOICE_ERR_DEC_LENGTH);
    EXPECT_EQ(*count, 0);
    EXPECT_EQ(Status(DECODE, {Arg(dec), 0, Arg(pcm), 1, Arg(count)}), VOICE_ERR_NULL_INPUT);
    return made;
  }

  static constexpr size_t BUFFER_BYTES = 4096;
};

TEST_F(DllHostBuffers, EncodeAndDecodeThroughRawPointers) {
  alignas(16) static uint8_t memory[BUFFER_BYTES];
  const RoundTrip made = EncodeAndDecode(memory);
  EXPECT_EQ(made.frames.size(), 4u * 2 + 80 + 80 + 40 + 20);
  EXPECT_EQ(made.decoded.size(), 4u * 160);
}

// Every pointer the DLL receives lies above 4 GiB, where a pointer cut to 32
// bits anywhere on the way would fault or miss: the results must be those of
// buffers in the low part of the address space.
TEST_F(DllHostBuffers, BuffersAboveFourGigabytes) {
  alignas(16) static uint8_t low[BUFFER_BYTES];
  auto* high = static_cast<uint8_t*>(
      VirtualAlloc(nullptr, BUFFER_BYTES, MEM_RESERVE | MEM_COMMIT | MEM_TOP_DOWN, PAGE_READWRITE));
  ASSERT_NE(high, nullptr) << GetLastError();
  EXPECT_GT(reinterpret_cast<uintptr_t>(high), uintptr_t{0xFFFFFFFF});
  const RoundTrip fromLow = EncodeAndDecode(low);
  const RoundTrip fromHigh = EncodeAndDecode(high);
  EXPECT_EQ(fromHigh.frames, fromLow.frames);
  EXPECT_EQ(fromHigh.decoded, fromLow.decoded);
  VirtualFree(high, 0, MEM_RELEASE);
}

TEST_F(DllHost, ClassExportsTakeThisInRcxAndReturnIt) {
  // Objects of one byte between guard bytes.
  uint8_t bytes[5] = {0x11, 0xAB, 0x22, 0x5A, 0x33};
  uint8_t* target = &bytes[1];
  uint8_t* source = &bytes[3];

  probe::Call made = Call(CONSTRUCTOR, {Arg(target)});
  EXPECT_EQ(made.rax, Arg(target));
  EXPECT_EQ(bytes[1], 0xAB) << "the constructor has no member to set";

  probe::Call assigned = Call(ASSIGN, {Arg(target), Arg(source)});
  EXPECT_EQ(assigned.rax, Arg(target));
  const uint8_t after[5] = {0x11, 0x5A, 0x22, 0x5A, 0x33};
  EXPECT_EQ(std::memcmp(bytes, after, sizeof bytes), 0);
}

#include "dll_host_shared_tests.h"

#ifdef ZELK_MSVC_HOST_CALLS
// Code compiled as a Microsoft compiler would compile it (msvc_host_calls.cpp)
// links the DLL by the names it knows and gets the same frames and samples as
// the calls above.
extern "C" uint32_t MsvcHostRoundTrip(int32_t codecType, const int16_t* pcm, uint16_t* frame,
                                      int16_t* out, int16_t* count);
extern "C" int MsvcHostOtherExports(void);

TEST(MicrosoftCompiledHost, ReachesEveryExport) {
  EXPECT_EQ(MsvcHostOtherExports(), 0);
  int16_t pcm[160];
  for (int i = 0; i < 160; ++i) pcm[i] = static_cast<int16_t>(i * 331 - 26000);
  for (int32_t type = 1; type <= 4; ++type) {
    SCOPED_TRACE(type);
    uint16_t frame[ZELK_VOICE_MAX_FRAME_WORDS];
    uint16_t ours[ZELK_VOICE_MAX_FRAME_WORDS];
    int16_t out[ZELK_VOICE_MAX_SAMPLES];
    int16_t ourOut[ZELK_VOICE_MAX_SAMPLES];
    int16_t count = 0;
    int16_t ourCount = 0;
    ASSERT_EQ(MsvcHostRoundTrip(type, pcm, frame, out, &count), VOICE_OK);
    VoiceCodecState enc;
    VoiceCodecState dec;
    ASSERT_EQ(ZELK_VOICE_EncReset(&enc, type), VOICE_OK);
    ASSERT_EQ(ZELK_VOICE_DecReset(&dec, type), VOICE_OK);
    ASSERT_EQ(ZELK_VOICE_EncodeFrame(&enc, pcm, ours, 160, type), VOICE_OK);
    ASSERT_EQ(ZELK_VOICE_DecodeFrame(&dec, ours, ourOut, type, &ourCount), VOICE_OK);
    ASSERT_EQ(count, 160);
    ASSERT_EQ(ourCount, 160);
    EXPECT_EQ(std::memcmp(frame, ours, 2 * (2 + (ours[1] & 0xFF))), 0);
    EXPECT_EQ(std::memcmp(out, ourOut, sizeof(int16_t) * 160), 0);
  }
}
#endif

}  // namespace
}  // namespace zelk
