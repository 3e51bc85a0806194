// A call probe for 32-bit Windows host tests: calls a function through a raw
// pointer and records what the call did to the machine state, so that a test
// can check what a __stdcall (or __thiscall) name promises: the stack pointer
// is where the caller left it (the callee removed its own arguments) and EBX,
// ESI, EDI and EBP come back unchanged. Include it in one file per program.
#pragma once

#include <cstddef>
#include <cstdint>

namespace zelk::probe {

// fn is called with ECX = ecx and args pushed right to left; the probe stores
// EAX, the stack pointer's move over the call and the callee-saved registers
// as the callee left them.
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

}  // namespace zelk::probe

extern "C" void ZelkRtpProbeCall(zelk::probe::Call* call);
extern "C" void ZelkRtpBrokenCallee();

// The probe saves the caller's registers, loads the marks, records ESP before
// pushing the arguments and compares after the call. The record pointer and
// saved ESP live in static cells, since no register may be trusted across the
// callee and the stack pointer is the thing under test.
asm(R"(
  .text
  .globl _ZelkRtpProbeCall
_ZelkRtpProbeCall:
  pushl %ebp
  pushl %ebx
  pushl %esi
  pushl %edi
  cld
  movl 20(%esp), %eax
  movl %eax, zelk_rtp_probe_record
  movl %esp, zelk_rtp_probe_esp
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
  subl zelk_rtp_probe_esp, %edx
  movl zelk_rtp_probe_esp, %esp
  movl zelk_rtp_probe_record, %ecx
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
zelk_rtp_probe_record: .long 0
zelk_rtp_probe_esp: .long 0
  .text

# A callee that breaks both rules: leaves its arguments and clobbers EBX.
  .globl _ZelkRtpBrokenCallee
_ZelkRtpBrokenCallee:
  movl $1, %ebx
  movl 4(%esp), %eax
  ret
)");
