// The x64 call probe (call_probe_x64.h) and its own test, which runs in every
// host program that links it.
#include "call_probe_x64.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <iterator>

// The probe saves the caller's callee-saved registers, builds the outgoing
// frame (home space, then the fifth to eighth arguments; 16-byte aligned at
// the call), loads the marks and the arguments, and after the call records
// everything before it trusts any register again. The record pointer and the
// stack pointer at the call live in static cells, since the stack pointer is
// the thing under test.
asm(R"(
  .text
  .globl ZelkProbeCall
ZelkProbeCall:
  pushq %rbx
  pushq %rbp
  pushq %rdi
  pushq %rsi
  pushq %r12
  pushq %r13
  pushq %r14
  pushq %r15
  subq $168, %rsp
  movdqu %xmm6, 0(%rsp)
  movdqu %xmm7, 16(%rsp)
  movdqu %xmm8, 32(%rsp)
  movdqu %xmm9, 48(%rsp)
  movdqu %xmm10, 64(%rsp)
  movdqu %xmm11, 80(%rsp)
  movdqu %xmm12, 96(%rsp)
  movdqu %xmm13, 112(%rsp)
  movdqu %xmm14, 128(%rsp)
  movdqu %xmm15, 144(%rsp)
  movq %rcx, zelk_probe_record(%rip)
  movq %rcx, %r11
  subq $64, %rsp
  movq 40(%r11), %rax
  movq %rax, 32(%rsp)
  movq 48(%r11), %rax
  movq %rax, 40(%rsp)
  movq 56(%r11), %rax
  movq %rax, 48(%rsp)
  movq 64(%r11), %rax
  movq %rax, 56(%rsp)
  movq %rsp, zelk_probe_rsp(%rip)
  movdqu 152(%r11), %xmm6
  movdqu 168(%r11), %xmm7
  movdqu 184(%r11), %xmm8
  movdqu 200(%r11), %xmm9
  movdqu 216(%r11), %xmm10
  movdqu 232(%r11), %xmm11
  movdqu 248(%r11), %xmm12
  movdqu 264(%r11), %xmm13
  movdqu 280(%r11), %xmm14
  movdqu 296(%r11), %xmm15
  movq 88(%r11), %rbx
  movq 96(%r11), %rbp
  movq 104(%r11), %rdi
  movq 112(%r11), %rsi
  movq 120(%r11), %r12
  movq 128(%r11), %r13
  movq 136(%r11), %r14
  movq 144(%r11), %r15
  movq 8(%r11), %rcx
  movq 16(%r11), %rdx
  movq 24(%r11), %r8
  movq 32(%r11), %r9
  movq 0(%r11), %rax
  cld
  call *%rax
  movq %rsp, %r10
  subq zelk_probe_rsp(%rip), %r10
  movq zelk_probe_rsp(%rip), %rsp
  movq zelk_probe_record(%rip), %r11
  movq %rax, 72(%r11)
  movq %r10, 80(%r11)
  movq %rbx, 88(%r11)
  movq %rbp, 96(%r11)
  movq %rdi, 104(%r11)
  movq %rsi, 112(%r11)
  movq %r12, 120(%r11)
  movq %r13, 128(%r11)
  movq %r14, 136(%r11)
  movq %r15, 144(%r11)
  movdqu %xmm6, 152(%r11)
  movdqu %xmm7, 168(%r11)
  movdqu %xmm8, 184(%r11)
  movdqu %xmm9, 200(%r11)
  movdqu %xmm10, 216(%r11)
  movdqu %xmm11, 232(%r11)
  movdqu %xmm12, 248(%r11)
  movdqu %xmm13, 264(%r11)
  movdqu %xmm14, 280(%r11)
  movdqu %xmm15, 296(%r11)
  addq $64, %rsp
  movdqu 0(%rsp), %xmm6
  movdqu 16(%rsp), %xmm7
  movdqu 32(%rsp), %xmm8
  movdqu 48(%rsp), %xmm9
  movdqu 64(%rsp), %xmm10
  movdqu 80(%rsp), %xmm11
  movdqu 96(%rsp), %xmm12
  movdqu 112(%rsp), %xmm13
  movdqu 128(%rsp), %xmm14
  movdqu 144(%rsp), %xmm15
  addq $168, %rsp
  popq %r15
  popq %r14
  popq %r13
  popq %r12
  popq %rsi
  popq %rdi
  popq %rbp
  popq %rbx
  ret
  .data
  .balign 8
zelk_probe_record: .quad 0
zelk_probe_rsp: .quad 0
  .text

  .globl ZelkBrokenCallee
ZelkBrokenCallee:
  movq 40(%rsp), %rax
  movl $1, %ebx
  movq 64(%rsp), %r12
  pxor %xmm6, %xmm6
  pcmpeqd %xmm15, %xmm15
  ret $8
)");

namespace zelk::probe {

Call MarkedCall(const void* fn, std::initializer_list<uint64_t> args) {
  Call call{};
  call.fn = fn;
  std::copy(args.begin(), args.end(), call.args);
  for (int i = 0; i < 8; ++i) call.gpr[i] = GprMark(i);
  for (int i = 0; i < 10; ++i) {
    for (int half = 0; half < 2; ++half) call.xmm[i][half] = XmmMark(i, half);
  }
  ZelkProbeCall(&call);
  return call;
}

Call CheckedCall(const char* name, const void* fn, std::initializer_list<uint64_t> args) {
  EXPECT_NE(fn, nullptr) << name;
  EXPECT_LE(args.size(), std::size(Call{}.args)) << name;
  if (fn == nullptr || args.size() > std::size(Call{}.args)) return Call{};
  Call call = MarkedCall(fn, args);
  EXPECT_EQ(call.rspDelta, 0) << name << " left the stack pointer moved";
  for (int i = 0; i < 8; ++i) {
    EXPECT_EQ(call.gpr[i], GprMark(i)) << name << " clobbered " << GPR_NAMES[i];
  }
  for (int i = 0; i < 10; ++i) {
    EXPECT_TRUE(call.xmm[i][0] == XmmMark(i, 0) && call.xmm[i][1] == XmmMark(i, 1))
        << name << " clobbered XMM" << i + 6;
  }
  return call;
}

namespace {

TEST(CallProbe, NoticesABrokenConvention) {
  const Call call =
      MarkedCall(reinterpret_cast<const void*>(&ZelkBrokenCallee),
                 {1, 2, 3, 4, 0x5555'0000'0000'5555ull, 6, 7, 0x8888'0000'0000'8888ull});
  EXPECT_EQ(call.rax, 0x5555'0000'0000'5555ull);     // the fifth argument, first on the stack
  EXPECT_EQ(call.gpr[4], 0x8888'0000'0000'8888ull);  // R12: the eighth, last on the stack
  EXPECT_EQ(call.rspDelta, 8);
  EXPECT_EQ(call.gpr[0], 1u);
  EXPECT_EQ(call.xmm[0][0] | call.xmm[0][1], 0u);
  EXPECT_EQ(call.xmm[9][0] & call.xmm[9][1], ~0ull);
  for (int i : {1, 2, 3, 5, 6, 7}) EXPECT_EQ(call.gpr[i], GprMark(i)) << GPR_NAMES[i];
  for (int i = 1; i < 9; ++i) {
    EXPECT_TRUE(call.xmm[i][0] == XmmMark(i, 0) && call.xmm[i][1] == XmmMark(i, 1)) << i;
  }
}

}  // namespace
}  // namespace zelk::probe
