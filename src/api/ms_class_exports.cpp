// The class-style constructor and copy assignment in the form
// Microsoft-compiled hosts call them. On 32-bit x86 that is __thiscall: `this`
// in ECX, the object returned in EAX, the callee popping its stack arguments.
// x64 has one convention for members and functions alike, which GCC follows
// too: `this` in RCX, the argument in RDX, the object returned in RAX. Either
// way GCC's own constructor of CZelk_voice_engine returns nothing, so the
// decorated names in the .def files point at these two member functions.
#include <cstdint>

#if defined(__i386__)
#define ZELK_MS_MEMBER __attribute__((thiscall))
#else
#define ZELK_MS_MEMBER
#endif

namespace zelk {

// The layout of CZelk_voice_engine: one byte and nothing else.
struct MsClassExports {
  uint8_t byte;

  ZELK_MS_MEMBER MsClassExports* DefaultConstruct();
  ZELK_MS_MEMBER MsClassExports* CopyAssign(const MsClassExports* other);
};

// Constructs nothing: the class has no members to set.
MsClassExports* MsClassExports::DefaultConstruct() { return this; }

MsClassExports* MsClassExports::CopyAssign(const MsClassExports* other) {
  byte = other->byte;
  return this;
}

}  // namespace zelk
