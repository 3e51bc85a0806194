// The cases the 32- and 64-bit host tests of zelk_voice_engine.dll share,
// included by both inside their namespace: the including file defines the
// DllHost fixture (with Version(), GetVersionNumber through the probe) and the
// export names ENCODE .. VARIABLE in its machine's decoration.
#pragma once

TEST_F(DllHost, ExportedVariableIsZero) {
  const auto* variable = static_cast<const int*>(Find(VARIABLE));
  ASSERT_NE(variable, nullptr);
  EXPECT_EQ(*variable, 0);
}

DWORD WINAPI IdleThread(LPVOID) { return 7; }

TEST_F(DllHost, ReloadsAndSurvivesThreadAttach) {
  // The program also links the import library, so the module stays mapped:
  // loads, frees and a thread's start and end reach the module entry as
  // attach and detach notifications, which must change nothing.
  HMODULE again = LoadLibraryA(DLL_NAME);
  ASSERT_EQ(again, module_);
  FreeLibrary(again);
  HANDLE thread = CreateThread(nullptr, 0, IdleThread, nullptr, 0, nullptr);
  ASSERT_NE(thread, nullptr);
  ASSERT_EQ(WaitForSingleObject(thread, 10000), WAIT_OBJECT_0);
  CloseHandle(thread);
  FreeLibrary(module_);
  module_ = LoadLibraryA(DLL_NAME);
  ASSERT_NE(module_, nullptr);
  EXPECT_EQ(Version(), 131490225u);
}

// A MinGW host linking the import library with the public header reaches the
// same nine exports: the import library maps GCC's symbol names onto them.
TEST_F(DllHost, ImportLibraryResolvesToTheSameExports) {
  EXPECT_EQ(reinterpret_cast<const void*>(&ZELK_VOICE_EncodeFrame), Find(ENCODE));
  EXPECT_EQ(reinterpret_cast<const void*>(&ZELK_VOICE_DecodeFrame), Find(DECODE));
  EXPECT_EQ(reinterpret_cast<const void*>(&ZELK_VOICE_EncReset), Find(ENC_RESET));
  EXPECT_EQ(reinterpret_cast<const void*>(&ZELK_VOICE_DecReset), Find(DEC_RESET));
  EXPECT_EQ(reinterpret_cast<const void*>(&ZELK_VOICE_GetVersionNumber), Find(VERSION));
  EXPECT_EQ(reinterpret_cast<const void*>(&fnZelk_voice_engine), Find(FN));
  EXPECT_EQ(static_cast<const void*>(&nZelk_voice_engine), Find(VARIABLE));

  EXPECT_EQ(fnZelk_voice_engine(), 42);
  EXPECT_EQ(nZelk_voice_engine, 0);
  CZelk_voice_engine a;
  CZelk_voice_engine b;
  CZelk_voice_engine& result = (a = b);
  EXPECT_EQ(&result, &a);
}
