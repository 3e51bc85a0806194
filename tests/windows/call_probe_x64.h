// The call probe of the x64 Windows host tests: calls a function through a raw
// pointer in the Microsoft x64 convention (the first four arguments in RCX,
// RDX, R8 and R9, the rest on the stack above 32 bytes of home space, the
// result in RAX, the caller removing everything) and records what the call
// did to the machine state, so that a test can check what a
// Microsoft-compiled caller relies on: the stack pointer comes back where it
// was, and RBX, RBP, RDI, RSI, R12-R15 and XMM6-XMM15 come back unchanged.
#pragma once

#include <cstddef>
#include <cstdint>
#include <initializer_list>

namespace zelk::probe {

// One call: fn is called with args[0..3] in RCX, RDX, R8, R9 and args[4..7]
// on the stack, and with the callee-saved registers holding gpr[] and xmm[].
// The probe stores RAX, the stack pointer's move over the call, and the
// callee-saved registers as the callee left them.
struct Call {
  const void* fn;
  uint64_t args[8];
  uint64_t rax;
  int64_t rspDelta;
  uint64_t gpr[8];      // RBX, RBP, RDI, RSI, R12, R13, R14, R15
  uint64_t xmm[10][2];  // XMM6..XMM15, low quadword first
};
static_assert(offsetof(Call, args) == 8 && offsetof(Call, rax) == 72 &&
              offsetof(Call, rspDelta) == 80 && offsetof(Call, gpr) == 88 &&
              offsetof(Call, xmm) == 152 && sizeof(Call) == 312);

constexpr const char* GPR_NAMES[8] = {"RBX", "RBP", "RDI", "RSI", "R12", "R13", "R14", "R15"};

// Marks that no register holds by chance: a distinct pattern per register.
constexpr uint64_t GprMark(int i) {
  return 0x6A09E667F3BCC908ull ^ (0x0101010101010101ull * static_cast<uint64_t>(i + 1));
}
constexpr uint64_t XmmMark(int i, int half) {
  return 0xBB67AE8584CAA73Bull ^ (0x0011001100110011ull * static_cast<uint64_t>(2 * i + half + 1));
}

// A 32-bit argument whose register half above it holds garbage, which the
// convention allows: the callee may look at the low 32 bits only.
constexpr uint64_t HIGH_GARBAGE = 0xDEADBEEF00000000ull;

// Calls fn with the callee-saved registers holding their marks; checks nothing.
Call MarkedCall(const void* fn, std::initializer_list<uint64_t> args);

// Calls fn (the export `name`) through the probe and adds a test failure for
// each promise of the convention it broke, or for a null fn (then nothing is
// called and the result is all zero).
Call CheckedCall(const char* name, const void* fn, std::initializer_list<uint64_t> args);

}  // namespace zelk::probe

extern "C" void ZelkProbeCall(zelk::probe::Call* call);
// Breaks the rules: returns its fifth argument, clobbers RBX, R12 (with its
// eighth argument), XMM6 and XMM15, and removes 8 bytes of stack as it returns.
extern "C" void ZelkBrokenCallee();
