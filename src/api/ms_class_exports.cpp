// The class-style constructor and copy assignment in the form
// Microsoft-compiled hosts call them: `this` in ECX, the object returned in
// EAX, the callee popping its stack arguments (__thiscall). GCC's own
// constructor of CZelk_voice_engine returns nothing, so the decorated names in
// the .def file point at these two member functions instead.
#include <cstdint>

namespace zelk {

// The layout of CZelk_voice_engine: one byte and nothing else.
struct MsClassExports {
  uint8_t byte;

  __attribute__((thiscall)) MsClassExports* DefaultConstruct();
  __attribute__((thiscall)) MsClassExports* CopyAssign(const MsClassExports* other);
};

// Constructs nothing: the class has no members to set.
MsClassExports* MsClassExports::DefaultConstruct() { return this; }

MsClassExports* MsClassExports::CopyAssign(const MsClassExports* other) {
  byte = other->byte;
  return this;
}

}  // namespace zelk
