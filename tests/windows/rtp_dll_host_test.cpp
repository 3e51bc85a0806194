// zelk_voice_rtp.dll as a Windows host uses it, 32-bit or x64 as this program
// is built: loaded by name (it brings zelk_voice_engine.dll along), every
// export looked up by the machine's name for it and called through a raw
// pointer via the machine's call probe. On x86 that checks __stdcall (the
// callee removed exactly its arguments and kept EBX, ESI, EDI and EBP); on
// x64 that the stack pointer and RBX, RBP, RDI, RSI, R12-R15 and XMM6-XMM15
// come back unchanged, while every 32-bit argument travels with garbage in
// its register's upper half and every buffer lies above 4 GiB.
#include <gtest/gtest.h>
#include <windows.h>

#include <cstdint>
#include <cstring>
#include <iterator>
#include <new>
#include <set>
#include <string>

#include "dll_host.h"
#include "zelk_voice_rtp.h"
#ifdef _WIN64
#include "call_probe_x64.h"
#else
#include "call_probe_x86.h"
#endif

namespace zelk {
namespace {

constexpr const char* DLL_NAME = "zelk_voice_rtp.dll";

// Every function of the header with its 32-bit export name ("_name@bytes",
// every argument 32 bits); on x64 the export name is the function's own.
struct ExportName {
  const char* function;
  const char* x86;
};
constexpr ExportName EXPORT_NAMES[] = {
    {"ZELK_RTP_PayloadBytes", "_ZELK_RTP_PayloadBytes@8"},
    {"ZELK_RTP_PayloadSamples", "_ZELK_RTP_PayloadSamples@8"},
    {"ZELK_RTP_EncodePayload", "_ZELK_RTP_EncodePayload@28"},
    {"ZELK_RTP_DecodePayload", "_ZELK_RTP_DecodePayload@28"},
    {"ZELK_RTP_FrameToPayload", "_ZELK_RTP_FrameToPayload@28"},
    {"ZELK_RTP_PayloadToFrame", "_ZELK_RTP_PayloadToFrame@28"},
    {"ZELK_RTP_AlawToUlaw", "_ZELK_RTP_AlawToUlaw@16"},
    {"ZELK_RTP_UlawToAlaw", "_ZELK_RTP_UlawToAlaw@16"},
    {"ZELK_RTP_SaveRecord", "_ZELK_RTP_SaveRecord@20"},
    {"ZELK_RTP_LoadRecord", "_ZELK_RTP_LoadRecord@16"},
    {"ZELK_RTP_ReceiverReset", "_ZELK_RTP_ReceiverReset@12"},
    {"ZELK_RTP_ReceiveFrame", "_ZELK_RTP_ReceiveFrame@28"},
    {"ZELK_RTP_ReceivePayload", "_ZELK_RTP_ReceivePayload@28"},
    {"ZELK_RTP_ConcealLoss", "_ZELK_RTP_ConcealLoss@20"},
};
constexpr size_t EXPORT_COUNT = std::size(EXPORT_NAMES);

#ifdef _WIN64
using Word = uint64_t;  // one argument or result register
const char* MachineName(const ExportName& e) { return e.function; }
const char* OtherMachineName(const ExportName& e) { return e.x86; }
// An int32_t argument: only the low half of its register is the argument.
constexpr Word I32(uint32_t v) { return probe::HIGH_GARBAGE | v; }
Word ProbedCall(const char* name, const void* fn, std::initializer_list<Word> args) {
  return probe::CheckedCall(name, fn, args).rax;
}
#else
using Word = uint32_t;
const char* MachineName(const ExportName& e) { return e.x86; }
const char* OtherMachineName(const ExportName& e) { return e.function; }
constexpr Word I32(uint32_t v) { return v; }
Word ProbedCall(const char* name, const void* fn, std::initializer_list<Word> args) {
  return probe::CheckedCall(name, fn, 0, args).eax;
}
#endif

Word Arg(const void* p) { return static_cast<Word>(reinterpret_cast<uintptr_t>(p)); }

std::set<std::string> MachineNames() {
  std::set<std::string> names;
  for (const ExportName& e : EXPORT_NAMES) names.insert(MachineName(e));
  return names;
}

class RtpDllHost : public host::LoadedDll {
 protected:
  RtpDllHost() : LoadedDll(DLL_NAME) {}

  // Calls `function` by the machine's export name through the probe, checks
  // the convention and notes the function as called; returns the whole
  // result register.
  Word Call(const char* function, std::initializer_list<Word> args) {
    const char* name = nullptr;
    for (const ExportName& e : EXPORT_NAMES) {
      if (std::strcmp(e.function, function) == 0) name = MachineName(e);
    }
    EXPECT_NE(name, nullptr) << function << " is not in the table";
    if (name == nullptr) return 0;
    called_.insert(name);
    return ProbedCall(name, Find(name), args);
  }

  // A 32-bit result (a status): only the low half of the register.
  uint32_t Status(const char* function, std::initializer_list<Word> args) {
    return static_cast<uint32_t>(Call(function, args));
  }

  std::set<std::string> called_;
};

TEST_F(RtpDllHost, ExportTableHoldsExactlyTheMachinesNames) {
  ASSERT_EQ(MachineNames().size(), EXPORT_COUNT);
  ExpectExportTable(MachineNames());
}

TEST_F(RtpDllHost, OtherNamesAreNotExported) {
  for (const ExportName& e : EXPORT_NAMES) {
    // The other machine's name, and GCC's own symbol for a __stdcall function.
    EXPECT_EQ(Find(OtherMachineName(e)), nullptr) << OtherMachineName(e);
    const std::string gccSymbol = std::string(e.x86).substr(1);
    EXPECT_EQ(Find(gccSymbol.c_str()), nullptr) << gccSymbol;
  }
  for (const char* absent : {"DllMain", "_ZELK_VOICE_EncodeFrame@20", "ZELK_VOICE_EncodeFrame"}) {
    EXPECT_EQ(Find(absent), nullptr) << absent;
  }
}

// Everything the calls below read and write, in one block placed as high in
// the address space as the system gives (above 4 GiB on x64, where a pointer
// cut to 32 bits anywhere on the way would miss).
struct Buffers {
  alignas(8) uint8_t enc[ZELK_VOICE_STATE_SIZE];
  alignas(8) uint8_t dec[ZELK_VOICE_STATE_SIZE];
  alignas(8) uint8_t cleared[ZELK_VOICE_STATE_SIZE];
  int16_t ramp[80];
  int16_t pcm[ZELK_VOICE_MAX_SAMPLES];
  uint16_t frame[ZELK_VOICE_MAX_FRAME_WORDS];
  uint8_t payload[ZELK_RTP_MAX_PAYLOAD_BYTES];
  uint8_t again[ZELK_RTP_MAX_PAYLOAD_BYTES];
  uint8_t record[ZELK_RTP_MAX_RECORD_BYTES];
  uint8_t codes[2];
  uint8_t out[2];
  size_t bytes;
  size_t count;
  size_t frameBytes;
  size_t recordBytes;
  ZelkRtpReceiver receiver;
};

// Every export, called as a host calls it, with arguments that make it work.
TEST_F(RtpDllHost, EveryExportKeepsTheConventionAndWorks) {
  void* high = VirtualAlloc(nullptr, sizeof(Buffers), MEM_RESERVE | MEM_COMMIT | MEM_TOP_DOWN,
                            PAGE_READWRITE);
  ASSERT_NE(high, nullptr) << GetLastError();
#ifdef _WIN64
  EXPECT_GT(reinterpret_cast<uintptr_t>(high), uintptr_t{0xFFFFFFFF});
#endif
  Buffers& b = *new (high) Buffers{};

  EXPECT_EQ(Call("ZELK_RTP_PayloadBytes", {I32(IMA_ADPCM), I32(160)}), Word{84});
  EXPECT_EQ(Status("ZELK_RTP_PayloadSamples", {I32(IMA_ADPCM), 84}), 160u);

  ASSERT_EQ(ZELK_VOICE_EncReset(b.enc, IMA_ADPCM), VOICE_OK);
  std::memset(b.dec, 0xC3, sizeof b.dec);  // never reset: the DVI4 header fills it in
  for (int i = 0; i < 80; ++i) b.ramp[i] = static_cast<int16_t>(100 * i);
  EXPECT_EQ(Status("ZELK_RTP_EncodePayload", {Arg(b.enc), Arg(b.ramp), I32(80), I32(IMA_ADPCM),
                                              Arg(b.payload), sizeof b.payload, Arg(&b.bytes)}),
            ZELK_RTP_OK);
  ASSERT_EQ(b.bytes, 44u);
  const uint8_t start[] = {0, 0, 0, 0, 0x07, 0x77, 0x76, 0x11};  // the ramp's first codes
  EXPECT_EQ(std::memcmp(b.payload, start, sizeof start), 0);

  EXPECT_EQ(Status("ZELK_RTP_DecodePayload", {Arg(b.dec), Arg(b.payload), 44, I32(IMA_ADPCM),
                                              Arg(b.pcm), 480, Arg(&b.count)}),
            ZELK_RTP_OK);
  EXPECT_EQ(b.count, 80u);
  EXPECT_EQ(b.pcm[4], 240);
  EXPECT_EQ(std::memcmp(b.dec, b.enc, 3), 0) << "decoder and encoder in step";

  EXPECT_EQ(Status("ZELK_RTP_PayloadToFrame", {I32(IMA_ADPCM), Arg(b.payload), 44, Arg(b.dec),
                                               Arg(b.frame), sizeof b.frame, Arg(&b.frameBytes)}),
            ZELK_RTP_OK);
  EXPECT_EQ(b.frameBytes, 44u);
  EXPECT_EQ(
      Status("ZELK_RTP_FrameToPayload", {I32(IMA_ADPCM), Arg(b.frame), b.frameBytes, Arg(b.cleared),
                                         Arg(b.again), sizeof b.again, Arg(&b.bytes)}),
      ZELK_RTP_OK);
  EXPECT_EQ(std::memcmp(b.again, b.payload, 44), 0);

  b.codes[0] = 0xFF;
  b.codes[1] = 0x80;
  EXPECT_EQ(Status("ZELK_RTP_UlawToAlaw", {Arg(b.codes), 2, Arg(b.out), 2}), ZELK_RTP_OK);
  EXPECT_EQ(b.out[0], 0xD5);
  EXPECT_EQ(b.out[1], 0xAA);
  EXPECT_EQ(Status("ZELK_RTP_AlawToUlaw", {Arg(b.out), 2, Arg(b.out), 2}), ZELK_RTP_OK);
  EXPECT_EQ(b.out[0], 0xFE);
  EXPECT_EQ(b.out[1], 0x80);

  EXPECT_EQ(Status("ZELK_RTP_SaveRecord", {Arg(b.enc), I32(IMA_ADPCM), Arg(b.record),
                                           sizeof b.record, Arg(&b.recordBytes)}),
            ZELK_RTP_OK);
  EXPECT_EQ(b.recordBytes, 3u);
  EXPECT_EQ(Status("ZELK_RTP_LoadRecord", {Arg(b.cleared), I32(IMA_ADPCM), Arg(b.record), 3}),
            ZELK_RTP_OK);
  EXPECT_EQ(std::memcmp(b.cleared, b.enc, 3), 0);
  b.record[2] = 89;
  EXPECT_EQ(Status("ZELK_RTP_LoadRecord", {Arg(b.cleared), I32(IMA_ADPCM), Arg(b.record), 3}),
            ZELK_RTP_ERR_RECORD);

  // The receiver: its pointer checks, whatever the rest of it does.
  const size_t receiverSize = sizeof b.receiver;
  EXPECT_EQ(Status("ZELK_RTP_ReceiverReset", {0, receiverSize, I32(G711_ALAW)}),
            ZELK_RTP_ERR_NULL_STATE);
  EXPECT_EQ(Status("ZELK_RTP_ReceiveFrame",
                   {0, receiverSize, Arg(b.frame), b.frameBytes, Arg(b.pcm), 480, Arg(&b.count)}),
            ZELK_RTP_ERR_NULL_STATE);
  EXPECT_EQ(Status("ZELK_RTP_ReceivePayload",
                   {Arg(&b.receiver), receiverSize, 0, 44, Arg(b.pcm), 480, Arg(&b.count)}),
            ZELK_RTP_ERR_NULL_INPUT);
  EXPECT_EQ(Status("ZELK_RTP_ConcealLoss", {Arg(&b.receiver), receiverSize, I32(160), 0, 480}),
            ZELK_RTP_ERR_NULL_OUTPUT);

  EXPECT_EQ(called_, MachineNames()) << "an export went uncalled";
  VirtualFree(high, 0, MEM_RELEASE);
}

// A MinGW host linking the import library with the public header reaches the
// same exports: the import library maps GCC's symbols onto the exported names.
TEST_F(RtpDllHost, ImportLibraryResolvesToTheSameExports) {
  const void* const linked[] = {reinterpret_cast<const void*>(&ZELK_RTP_PayloadBytes),
                                reinterpret_cast<const void*>(&ZELK_RTP_PayloadSamples),
                                reinterpret_cast<const void*>(&ZELK_RTP_EncodePayload),
                                reinterpret_cast<const void*>(&ZELK_RTP_DecodePayload),
                                reinterpret_cast<const void*>(&ZELK_RTP_FrameToPayload),
                                reinterpret_cast<const void*>(&ZELK_RTP_PayloadToFrame),
                                reinterpret_cast<const void*>(&ZELK_RTP_AlawToUlaw),
                                reinterpret_cast<const void*>(&ZELK_RTP_UlawToAlaw),
                                reinterpret_cast<const void*>(&ZELK_RTP_SaveRecord),
                                reinterpret_cast<const void*>(&ZELK_RTP_LoadRecord),
                                reinterpret_cast<const void*>(&ZELK_RTP_ReceiverReset),
                                reinterpret_cast<const void*>(&ZELK_RTP_ReceiveFrame),
                                reinterpret_cast<const void*>(&ZELK_RTP_ReceivePayload),
                                reinterpret_cast<const void*>(&ZELK_RTP_ConcealLoss)};
  static_assert(std::size(linked) == EXPORT_COUNT);
  for (size_t i = 0; i < EXPORT_COUNT; ++i) {
    EXPECT_EQ(linked[i], Find(MachineName(EXPORT_NAMES[i]))) << EXPORT_NAMES[i].function;
  }
  EXPECT_EQ(ZELK_RTP_PayloadBytes(G711_ULAW, 240), 240u);
}

}  // namespace
}  // namespace zelk
