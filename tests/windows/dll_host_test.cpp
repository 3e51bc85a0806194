// zelk_voice_engine.dll as a 32-bit Windows host uses it: loaded by name, its
// functions looked up by their decorated names and called through raw
// __stdcall and __thiscall pointers. Every call goes through the assembly
// probe (call_probe_x86.h), which checks what the names promise: the stack
// pointer is where the caller left it (the callee removed its own arguments)
// and EBX, ESI, EDI and EBP come back unchanged.
#include "dll_host.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <iterator>
#include <set>
#include <string>

#include "call_probe_x86.h"
#include "zelk_voice_engine.h"

namespace zelk {
namespace {

constexpr const char* DLL_NAME = "zelk_voice_engine.dll";
constexpr const char* ENCODE = "_ZELK_VOICE_EncodeFrame@20";
constexpr const char* DECODE = "_ZELK_VOICE_DecodeFrame@20";
constexpr const char* ENC_RESET = "_ZELK_VOICE_EncReset@8";
constexpr const char* DEC_RESET = "_ZELK_VOICE_DecReset@8";
constexpr const char* VERSION = "_ZELK_VOICE_GetVersionNumber@0";
constexpr const char* CONSTRUCTOR = "??0CZelk_voice_engine@@QAE@XZ";
constexpr const char* ASSIGN = "??4CZelk_voice_engine@@QAEAAV0@ABV0@@Z";
constexpr const char* FN = "?fnZelk_voice_engine@@YGHXZ";
constexpr const char* VARIABLE = "?nZelk_voice_engine@@3HA";
const std::set<std::string> EXPORTS = {ENCODE,      DECODE, ENC_RESET, DEC_RESET, VERSION,
                                       CONSTRUCTOR, ASSIGN, FN,        VARIABLE};

uint32_t Arg(const void* p) { return static_cast<uint32_t>(reinterpret_cast<uintptr_t>(p)); }

class DllHost : public host::LoadedDll {
 protected:
  DllHost() : LoadedDll(DLL_NAME) {}

  // Calls the export `name` through the probe and checks the convention.
  probe::Call Call(const char* name, uint32_t ecx, std::initializer_list<uint32_t> args) {
    return probe::CheckedCall(name, Find(name), ecx, args);
  }

  uint32_t Version() { return Call(VERSION, 0, {}).eax; }
};

TEST_F(DllHost, ExportTableHoldsExactlyTheNineNames) {
  ASSERT_EQ(EXPORTS.size(), 9u);
  ExpectExportTable(EXPORTS);
}

TEST_F(DllHost, UndecoratedAndInternalNamesAreNotExported) {
  const char* absent[] = {"ZELK_VOICE_EncodeFrame",
                          "ZELK_VOICE_EncodeFrame@20",
                          "_ZELK_VOICE_EncodeFrame",
                          "ZELK_VOICE_DecodeFrame",
                          "ZELK_VOICE_DecodeFrame@20",
                          "ZELK_VOICE_EncReset",
                          "ZELK_VOICE_EncReset@8",
                          "ZELK_VOICE_DecReset",
                          "ZELK_VOICE_DecReset@8",
                          "ZELK_VOICE_GetVersionNumber",
                          "ZELK_VOICE_GetVersionNumber@0",
                          "fnZelk_voice_engine",
                          "_Z19fnZelk_voice_enginev@0",
                          "nZelk_voice_engine",
                          "_ZN18CZelk_voice_engineC1Ev",
                          "_ZN18CZelk_voice_engineaSERKS_",
                          "_ZN4zelk14MsClassExports16DefaultConstructEv",
                          "DllMain",
                          "DllMain@12"};
  for (const char* name : absent) EXPECT_EQ(Find(name), nullptr) << name;
}

TEST_F(DllHost, PlainFunctionsAreStdcall) {
  EXPECT_EQ(Call(VERSION, 0, {}).eax, 131490225u);
  EXPECT_EQ(Call(FN, 0, {}).eax, 42u);

  alignas(4) uint8_t state[ZELK_VOICE_STATE_SIZE];
  std::memset(state, 0xA5, sizeof state);
  EXPECT_EQ(Call(ENC_RESET, 0, {Arg(state), 1}).eax, VOICE_OK);
  EXPECT_EQ(Call(DEC_RESET, 0, {Arg(state), 0x20002}).eax, VOICE_OK);  // low half 2
  for (uint8_t b : state) ASSERT_EQ(b, 0xA5) << "G.711 reset touched the state block";
  EXPECT_EQ(Call(ENC_RESET, 0, {Arg(state), 5}).eax, VOICE_ERR_ENC_TYPE);
  EXPECT_EQ(Call(DEC_RESET, 0, {Arg(state), 0}).eax, VOICE_ERR_DEC_TYPE);
  EXPECT_EQ(Call(DEC_RESET, 0, {0, 3}).eax, VOICE_ERR_NULL_STATE);
  EXPECT_EQ(Call(ENC_RESET, 0, {Arg(state), 3}).eax, VOICE_OK);
  EXPECT_EQ(Call(DEC_RESET, 0, {Arg(state), 4}).eax, VOICE_OK);
}

TEST_F(DllHost, EncodeAndDecodeThroughRawPointers) {
  alignas(4) uint8_t enc[ZELK_VOICE_STATE_SIZE] = {};
  alignas(4) uint8_t dec[ZELK_VOICE_STATE_SIZE] = {};
  int16_t pcm[ZELK_VOICE_MAX_SAMPLES];
  for (int i = 0; i < ZELK_VOICE_MAX_SAMPLES; ++i) pcm[i] = static_cast<int16_t>(i * 97 - 20000);
  // Payload words per sample count of 160: 80, 80, 40, 20 for types 1..4.
  const uint32_t payloadWords[] = {80, 80, 40, 20};
  for (uint32_t type = 1; type <= 4; ++type) {
    SCOPED_TRACE(type);
    ASSERT_EQ(Call(ENC_RESET, 0, {Arg(enc), type}).eax, VOICE_OK);
    ASSERT_EQ(Call(DEC_RESET, 0, {Arg(dec), type}).eax, VOICE_OK);
    uint16_t frame[ZELK_VOICE_MAX_FRAME_WORDS + 1];
    std::fill(std::begin(frame), std::end(frame), uint16_t{0xEEEE});
    // Upper halves set on both 16-bit arguments: only the low halves count.
    EXPECT_EQ(
        Call(ENCODE, 0, {Arg(enc), Arg(pcm), Arg(frame), 0xABCD00A0u, 0x7000'0000u | type}).eax,
        VOICE_OK);
    const uint32_t words = 2 + payloadWords[type - 1];
    EXPECT_EQ(frame[0] & 0x0300, 0x0100);
    EXPECT_EQ(frame[1] & 0xFF, payloadWords[type - 1]);
    EXPECT_EQ(frame[words], 0xEEEE) << "encode wrote past its frame";

    int16_t out[ZELK_VOICE_MAX_SAMPLES];
    int16_t count = -1;
    EXPECT_EQ(Call(DECODE, 0, {Arg(dec), Arg(frame), Arg(out), type, Arg(&count)}).eax, VOICE_OK);
    EXPECT_EQ(count, 160);
  }
  int16_t count = -1;
  uint16_t frame[ZELK_VOICE_MAX_FRAME_WORDS] = {0x0100, 0};
  EXPECT_EQ(Call(ENCODE, 0, {Arg(enc), Arg(pcm), Arg(frame), 81, 1}).eax, VOICE_ERR_ENC_LENGTH);
  EXPECT_EQ(Call(ENCODE, 0, {0, Arg(pcm), Arg(frame), 80, 1}).eax, VOICE_ERR_NULL_STATE);
  EXPECT_EQ(Call(DECODE, 0, {Arg(dec), Arg(frame), Arg(pcm), 1, Arg(&count)}).eax,
            VOICE_ERR_DEC_LENGTH);
  EXPECT_EQ(count, 0);
  EXPECT_EQ(Call(DECODE, 0, {Arg(dec), 0, Arg(pcm), 1, Arg(&count)}).eax, VOICE_ERR_NULL_INPUT);
}

TEST_F(DllHost, ClassExportsAreThiscallAndReturnTheObject) {
  // Objects of one byte between guard bytes.
  uint8_t bytes[5] = {0x11, 0xAB, 0x22, 0x5A, 0x33};
  uint8_t* target = &bytes[1];
  uint8_t* source = &bytes[3];

  probe::Call made = Call(CONSTRUCTOR, Arg(target), {});
  EXPECT_EQ(made.eax, Arg(target));
  EXPECT_EQ(bytes[1], 0xAB) << "the constructor has no member to set";

  probe::Call assigned = Call(ASSIGN, Arg(target), {Arg(source)});  // pops its one argument
  EXPECT_EQ(assigned.eax, Arg(target));
  const uint8_t after[5] = {0x11, 0x5A, 0x22, 0x5A, 0x33};
  EXPECT_EQ(std::memcmp(bytes, after, sizeof bytes), 0);
}

#include "dll_host_shared_tests.h"

}  // namespace
}  // namespace zelk
