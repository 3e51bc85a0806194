// main() of the GoogleTest programs in the Windows build. A crash must fail
// its test, but Wine ends some crashed processes with status 0 once its
// debugger has run (a call into an import it could not resolve, for one).
// An unhandled exception therefore ends the process here, with a status that
// says so.
#include <gtest/gtest.h>
#include <windows.h>

#include <cstdio>

namespace {

constexpr UINT CRASH_STATUS = 3;

LONG WINAPI FailOnCrash(EXCEPTION_POINTERS* info) {
  std::fprintf(stderr, "unhandled exception 0x%08lx at %p\n",
               static_cast<unsigned long>(info->ExceptionRecord->ExceptionCode),
               info->ExceptionRecord->ExceptionAddress);
  std::fflush(stderr);
  std::fflush(stdout);
  TerminateProcess(GetCurrentProcess(), CRASH_STATUS);
  return EXCEPTION_EXECUTE_HANDLER;
}

}  // namespace

int main(int argc, char** argv) {
  SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOGPFAULTERRORBOX);
  SetUnhandledExceptionFilter(FailOnCrash);
  testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
