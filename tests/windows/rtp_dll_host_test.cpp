// zelk_voice_rtp.dll as a 32-bit Windows host uses it: loaded by name (it
// brings zelk_voice_engine.dll along), every export looked up by its
// decorated name and called through a raw __stdcall pointer via the call
// probe, which checks that the callee removed exactly its arguments and kept
// EBX, ESI, EDI and EBP.
#include <gtest/gtest.h>
#include <windows.h>

#include <cstring>
#include <set>
#include <string>
#include <vector>

#include "call_probe.h"
#include "zelk_voice_rtp.h"

namespace {

constexpr const char* DLL_NAME = "zelk_voice_rtp.dll";
const std::set<std::string> EXPORTS = {
    "_ZELK_RTP_AlawToUlaw@16",    "_ZELK_RTP_ConcealLoss@20",    "_ZELK_RTP_DecodePayload@28",
    "_ZELK_RTP_EncodePayload@28", "_ZELK_RTP_FrameToPayload@28", "_ZELK_RTP_LoadRecord@16",
    "_ZELK_RTP_PayloadBytes@8",   "_ZELK_RTP_PayloadSamples@8",  "_ZELK_RTP_PayloadToFrame@28",
    "_ZELK_RTP_ReceiveFrame@28",  "_ZELK_RTP_ReceivePayload@28", "_ZELK_RTP_ReceiverReset@12",
    "_ZELK_RTP_SaveRecord@20",    "_ZELK_RTP_UlawToAlaw@16"};

uint32_t Arg(const void* p) { return static_cast<uint32_t>(reinterpret_cast<uintptr_t>(p)); }

class RtpDllHost : public ::testing::Test {
 protected:
  void SetUp() override {
    module_ = LoadLibraryA(DLL_NAME);
    ASSERT_NE(module_, nullptr) << "LoadLibrary failed: " << GetLastError();
  }
  void TearDown() override {
    if (module_ != nullptr) FreeLibrary(module_);
  }

  const void* Find(const char* name) const {
    return reinterpret_cast<const void*>(GetProcAddress(module_, name));
  }

  // Calls the export `name` through the probe, checks the convention and
  // notes the name as called.
  uint32_t Call(const char* name, std::initializer_list<uint32_t> args) {
    zelk::probe::Call call{};
    call.fn = Find(name);
    for (uint32_t a : args) call.args[call.argc++] = a;
    EXPECT_NE(call.fn, nullptr) << name;
    if (call.fn == nullptr) return 0;
    ZelkRtpProbeCall(&call);
    EXPECT_EQ(call.espDelta, 0) << name << " left the stack pointer moved";
    EXPECT_EQ(call.ebx, zelk::probe::EBX_MARK) << name << " clobbered EBX";
    EXPECT_EQ(call.esi, zelk::probe::ESI_MARK) << name << " clobbered ESI";
    EXPECT_EQ(call.edi, zelk::probe::EDI_MARK) << name << " clobbered EDI";
    EXPECT_EQ(call.ebp, zelk::probe::EBP_MARK) << name << " clobbered EBP";
    called_.insert(name);
    return call.eax;
  }

  HMODULE module_ = nullptr;
  std::set<std::string> called_;
};

TEST(RtpCallProbe, NoticesABrokenConvention) {
  zelk::probe::Call call{};
  call.fn = reinterpret_cast<const void*>(&ZelkRtpBrokenCallee);
  call.argc = 7;
  for (uint32_t i = 0; i < 7; ++i) call.args[i] = 0x1000 + i;
  ZelkRtpProbeCall(&call);
  EXPECT_EQ(call.eax, 0x1000u);   // the first argument, pushed last
  EXPECT_EQ(call.espDelta, -28);  // all seven still on the stack
  EXPECT_EQ(call.ebx, 1u);
  EXPECT_EQ(call.ebp, zelk::probe::EBP_MARK);
}

TEST_F(RtpDllHost, ExportTableHoldsExactlyTheDecoratedNames) {
  const auto* base = reinterpret_cast<const uint8_t*>(module_);
  const auto* dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(base);
  const auto* nt = reinterpret_cast<const IMAGE_NT_HEADERS32*>(base + dos->e_lfanew);
  ASSERT_EQ(nt->FileHeader.Machine, IMAGE_FILE_MACHINE_I386);
  const IMAGE_DATA_DIRECTORY& dir = nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_EXPORT];
  ASSERT_NE(dir.VirtualAddress, 0u);
  const auto* exports = reinterpret_cast<const IMAGE_EXPORT_DIRECTORY*>(base + dir.VirtualAddress);
  EXPECT_STREQ(reinterpret_cast<const char*>(base + exports->Name), DLL_NAME);
  const auto* names = reinterpret_cast<const uint32_t*>(base + exports->AddressOfNames);
  std::set<std::string> found;
  for (DWORD i = 0; i < exports->NumberOfNames; ++i) {
    const char* name = reinterpret_cast<const char*>(base + names[i]);
    found.insert(name);
    if (i > 0) {  // the loader halves the table: it must be in byte order
      EXPECT_LT(std::strcmp(reinterpret_cast<const char*>(base + names[i - 1]), name), 0) << name;
    }
  }
  EXPECT_EQ(exports->NumberOfNames, EXPORTS.size());
  EXPECT_EQ(exports->NumberOfFunctions, EXPORTS.size());
  EXPECT_EQ(found, EXPORTS);
  for (const char* absent :
       {"ZELK_RTP_EncodePayload", "ZELK_RTP_EncodePayload@28", "_ZELK_RTP_EncodePayload",
        "ZELK_RTP_PayloadBytes", "DllMain", "_ZELK_VOICE_EncodeFrame@20"}) {
    EXPECT_EQ(Find(absent), nullptr) << absent;
  }
}

// Every export, called as a host calls it, with arguments that make it work.
TEST_F(RtpDllHost, EveryExportIsStdcallAndWorks) {
  EXPECT_EQ(Call("_ZELK_RTP_PayloadBytes@8", {IMA_ADPCM, 160}), 84u);
  EXPECT_EQ(Call("_ZELK_RTP_PayloadSamples@8", {IMA_ADPCM, 84}), 160u);

  alignas(4) uint8_t enc[ZELK_VOICE_STATE_SIZE], dec[ZELK_VOICE_STATE_SIZE];
  ASSERT_EQ(ZELK_VOICE_EncReset(enc, IMA_ADPCM), VOICE_OK);
  std::memset(dec, 0xC3, sizeof dec);  // never reset: the DVI4 header fills it in
  int16_t ramp[80];
  for (int i = 0; i < 80; ++i) ramp[i] = static_cast<int16_t>(100 * i);
  uint8_t payload[ZELK_RTP_MAX_PAYLOAD_BYTES];
  size_t bytes = 0;
  EXPECT_EQ(Call("_ZELK_RTP_EncodePayload@28",
                 {Arg(enc), Arg(ramp), 80, IMA_ADPCM, Arg(payload), sizeof payload, Arg(&bytes)}),
            ZELK_RTP_OK);
  ASSERT_EQ(bytes, 44u);
  const uint8_t start[] = {0, 0, 0, 0, 0x07, 0x77, 0x76, 0x11};  // the ramp's first codes
  EXPECT_EQ(std::memcmp(payload, start, sizeof start), 0);

  int16_t pcm[ZELK_VOICE_MAX_SAMPLES];
  size_t count = 0;
  EXPECT_EQ(Call("_ZELK_RTP_DecodePayload@28",
                 {Arg(dec), Arg(payload), 44, IMA_ADPCM, Arg(pcm), 480, Arg(&count)}),
            ZELK_RTP_OK);
  EXPECT_EQ(count, 80u);
  EXPECT_EQ(pcm[4], 240);
  EXPECT_EQ(std::memcmp(dec, enc, 3), 0) << "decoder and encoder in step";

  uint16_t frame[ZELK_VOICE_MAX_FRAME_WORDS];
  size_t frameBytes = 0;
  EXPECT_EQ(Call("_ZELK_RTP_PayloadToFrame@28", {IMA_ADPCM, Arg(payload), 44, Arg(dec), Arg(frame),
                                                 sizeof frame, Arg(&frameBytes)}),
            ZELK_RTP_OK);
  EXPECT_EQ(frameBytes, 44u);
  alignas(4) uint8_t cleared[ZELK_VOICE_STATE_SIZE] = {};
  uint8_t again[ZELK_RTP_MAX_PAYLOAD_BYTES];
  EXPECT_EQ(Call("_ZELK_RTP_FrameToPayload@28", {IMA_ADPCM, Arg(frame), frameBytes, Arg(cleared),
                                                 Arg(again), sizeof again, Arg(&bytes)}),
            ZELK_RTP_OK);
  EXPECT_EQ(std::memcmp(again, payload, 44), 0);

  uint8_t codes[2] = {0xFF, 0x80}, out[2] = {};
  EXPECT_EQ(Call("_ZELK_RTP_UlawToAlaw@16", {Arg(codes), 2, Arg(out), 2}), ZELK_RTP_OK);
  EXPECT_EQ(out[0], 0xD5);
  EXPECT_EQ(out[1], 0xAA);
  EXPECT_EQ(Call("_ZELK_RTP_AlawToUlaw@16", {Arg(out), 2, Arg(out), 2}), ZELK_RTP_OK);
  EXPECT_EQ(out[0], 0xFE);
  EXPECT_EQ(out[1], 0x80);

  uint8_t record[ZELK_RTP_MAX_RECORD_BYTES];
  size_t recordBytes = 0;
  EXPECT_EQ(Call("_ZELK_RTP_SaveRecord@20",
                 {Arg(enc), IMA_ADPCM, Arg(record), sizeof record, Arg(&recordBytes)}),
            ZELK_RTP_OK);
  EXPECT_EQ(recordBytes, 3u);
  EXPECT_EQ(Call("_ZELK_RTP_LoadRecord@16", {Arg(cleared), IMA_ADPCM, Arg(record), 3}),
            ZELK_RTP_OK);
  EXPECT_EQ(std::memcmp(cleared, enc, 3), 0);
  record[2] = 89;
  EXPECT_EQ(Call("_ZELK_RTP_LoadRecord@16", {Arg(cleared), IMA_ADPCM, Arg(record), 3}),
            ZELK_RTP_ERR_RECORD);

  // The receiver: its pointer checks, whatever the rest of it does.
  ZelkRtpReceiver receiver;
  EXPECT_EQ(Call("_ZELK_RTP_ReceiverReset@12", {0, sizeof receiver, G711_ALAW}),
            ZELK_RTP_ERR_NULL_STATE);
  EXPECT_EQ(Call("_ZELK_RTP_ReceiveFrame@28",
                 {0, sizeof receiver, Arg(frame), frameBytes, Arg(pcm), 480, Arg(&count)}),
            ZELK_RTP_ERR_NULL_STATE);
  EXPECT_EQ(Call("_ZELK_RTP_ReceivePayload@28",
                 {Arg(&receiver), sizeof receiver, 0, 44, Arg(pcm), 480, Arg(&count)}),
            ZELK_RTP_ERR_NULL_INPUT);
  EXPECT_EQ(Call("_ZELK_RTP_ConcealLoss@20", {Arg(&receiver), sizeof receiver, 160, 0, 480}),
            ZELK_RTP_ERR_NULL_OUTPUT);

  EXPECT_EQ(called_, EXPORTS) << "an export went uncalled";
}

// A MinGW host linking the import library with the public header reaches the
// same exports: the import library maps GCC's symbols onto the decorated names.
TEST_F(RtpDllHost, ImportLibraryResolvesToTheSameExports) {
  EXPECT_EQ(reinterpret_cast<const void*>(&ZELK_RTP_EncodePayload),
            Find("_ZELK_RTP_EncodePayload@28"));
  EXPECT_EQ(reinterpret_cast<const void*>(&ZELK_RTP_PayloadBytes),
            Find("_ZELK_RTP_PayloadBytes@8"));
  EXPECT_EQ(reinterpret_cast<const void*>(&ZELK_RTP_ConcealLoss), Find("_ZELK_RTP_ConcealLoss@20"));
  EXPECT_EQ(ZELK_RTP_PayloadBytes(G711_ULAW, 240), 240u);
}

}  // namespace
