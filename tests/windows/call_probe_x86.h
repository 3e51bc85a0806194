// The call probe of the 32-bit Windows host tests: calls a function through a
// raw pointer and records what the call did to the machine state, so that a
// test can check what a __stdcall (or __thiscall) name promises: the stack
// pointer is where the caller left it (the callee removed its own arguments)
// and EBX, ESI, EDI and EBP come back unchanged.
#pragma once

#include <cstddef>
#include <cstdint>
#include <initializer_list>

namespace zelk::probe {

// One call: fn is called with ECX = ecx and args[0..argc) pushed right to
// left; the probe stores EAX, the stack pointer's move over the call and the
// callee-saved registers as the callee left them.
struct Call {
  const void* fn;
  uint32_t ecx;
  uint32_t argc;
  uint32_t args[8];
  uint32_t eax;
  int32_t espDelta;
  uint32_t ebx, esi, edi, ebp;
};
static_assert(offsetof(Call, args) == 12 && offsetof(Call, eax) == 44 &&
              offsetof(Call, espDelta) == 48 && offsetof(Call, ebp) == 64);

constexpr uint32_t EBX_MARK = 0x0EB0EB0Bu;
constexpr uint32_t ESI_MARK = 0x51E51E51u;
constexpr uint32_t EDI_MARK = 0xD1ED1ED1u;
constexpr uint32_t EBP_MARK = 0xB0EB0EB0u;

// Calls fn (the export `name`) through the probe and adds a test failure for
// each promise of the convention it broke, or for a null fn (then nothing is
// called and the result is all zero).
Call CheckedCall(const char* name, const void* fn, uint32_t ecx,
                 std::initializer_list<uint32_t> args);

}  // namespace zelk::probe

extern "C" void ZelkProbeCall(zelk::probe::Call* call);
// Breaks both rules: returns its first argument, leaves all its arguments on
// the stack and puts the eighth into EBX.
extern "C" void ZelkBrokenCallee();
