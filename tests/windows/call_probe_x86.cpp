// The 32-bit call probe (call_probe_x86.h) and its own test, which runs in
// every host program that links it.
#include "call_probe_x86.h"

#include <gtest/gtest.h>

#include <iterator>

// The probe saves the caller's registers, loads the marks, records ESP before
// pushing the arguments and compares after the call. The record pointer and
// saved ESP live in static cells, since no register may be trusted across the
// callee and the stack pointer is the thing under test.
asm(R"(
  .text
  .globl _ZelkProbeCall
_ZelkProbeCall:
  pushl %ebp
  pushl %ebx
  pushl %esi
  pushl %edi
  cld
  movl 20(%esp), %eax
  movl %eax, zelk_probe_record
  movl %esp, zelk_probe_esp
  movl 8(%eax), %ecx
1:
  testl %ecx, %ecx
  jz 2f
  pushl 8(%eax,%ecx,4)
  decl %ecx
  jmp 1b
2:
  movl (%eax), %edx
  movl 4(%eax), %ecx
  movl $0x0EB0EB0B, %ebx
  movl $0x51E51E51, %esi
  movl $0xD1ED1ED1, %edi
  movl $0xB0EB0EB0, %ebp
  call *%edx
  movl %esp, %edx
  subl zelk_probe_esp, %edx
  movl zelk_probe_esp, %esp
  movl zelk_probe_record, %ecx
  movl %eax, 44(%ecx)
  movl %edx, 48(%ecx)
  movl %ebx, 52(%ecx)
  movl %esi, 56(%ecx)
  movl %edi, 60(%ecx)
  movl %ebp, 64(%ecx)
  popl %edi
  popl %esi
  popl %ebx
  popl %ebp
  ret
  .data
  .balign 4
zelk_probe_record: .long 0
zelk_probe_esp: .long 0
  .text

  .globl _ZelkBrokenCallee
_ZelkBrokenCallee:
  movl 32(%esp), %ebx
  movl 4(%esp), %eax
  ret
)");

namespace zelk::probe {

Call CheckedCall(const char* name, const void* fn, uint32_t ecx,
                 std::initializer_list<uint32_t> args) {
  Call call{};
  EXPECT_NE(fn, nullptr) << name;
  EXPECT_LE(args.size(), std::size(call.args)) << name;
  if (fn == nullptr || args.size() > std::size(call.args)) return call;
  call.fn = fn;
  call.ecx = ecx;
  for (uint32_t a : args) call.args[call.argc++] = a;
  ZelkProbeCall(&call);
  EXPECT_EQ(call.espDelta, 0) << name << " left the stack pointer moved";
  EXPECT_EQ(call.ebx, EBX_MARK) << name << " clobbered EBX";
  EXPECT_EQ(call.esi, ESI_MARK) << name << " clobbered ESI";
  EXPECT_EQ(call.edi, EDI_MARK) << name << " clobbered EDI";
  EXPECT_EQ(call.ebp, EBP_MARK) << name << " clobbered EBP";
  return call;
}

namespace {

TEST(CallProbe, NoticesABrokenConvention) {
  Call call{};
  call.fn = reinterpret_cast<const void*>(&ZelkBrokenCallee);
  call.argc = 8;
  for (uint32_t i = 0; i < 8; ++i) call.args[i] = 0x1000 + i;
  ZelkProbeCall(&call);
  EXPECT_EQ(call.eax, 0x1000u);   // the first argument, pushed last
  EXPECT_EQ(call.ebx, 0x1007u);   // the eighth, pushed first
  EXPECT_EQ(call.espDelta, -32);  // all eight still on the stack
  EXPECT_EQ(call.esi, ESI_MARK);
  EXPECT_EQ(call.edi, EDI_MARK);
  EXPECT_EQ(call.ebp, EBP_MARK);
}

}  // namespace
}  // namespace zelk::probe
