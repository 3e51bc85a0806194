#include "dll_host.h"

#include <cstdint>
#include <cstring>

namespace zelk::host {

void LoadedDll::SetUp() {
  module_ = LoadLibraryA(dllName_);
  ASSERT_NE(module_, nullptr) << "LoadLibrary(" << dllName_ << ") failed: " << GetLastError();
}

void LoadedDll::TearDown() {
  if (module_ != nullptr) FreeLibrary(module_);
}

const void* LoadedDll::Find(const char* name) const {
  return reinterpret_cast<const void*>(GetProcAddress(module_, name));
}

void LoadedDll::ExpectExportTable(const std::set<std::string>& expected) const {
  const auto* base = reinterpret_cast<const uint8_t*>(module_);
  const auto* dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(base);
  // IMAGE_NT_HEADERS is the 32- or 64-bit layout, as this program is built.
  const auto* nt = reinterpret_cast<const IMAGE_NT_HEADERS*>(base + dos->e_lfanew);
#ifdef _WIN64
  ASSERT_EQ(nt->FileHeader.Machine, IMAGE_FILE_MACHINE_AMD64);
  ASSERT_EQ(nt->OptionalHeader.Magic, IMAGE_NT_OPTIONAL_HDR64_MAGIC);
#else
  ASSERT_EQ(nt->FileHeader.Machine, IMAGE_FILE_MACHINE_I386);
  ASSERT_EQ(nt->OptionalHeader.Magic, IMAGE_NT_OPTIONAL_HDR32_MAGIC);
#endif
  const IMAGE_DATA_DIRECTORY& dir = nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_EXPORT];
  ASSERT_NE(dir.VirtualAddress, 0u);
  const auto* exports = reinterpret_cast<const IMAGE_EXPORT_DIRECTORY*>(base + dir.VirtualAddress);
  EXPECT_STREQ(reinterpret_cast<const char*>(base + exports->Name), dllName_);
  const auto* names = reinterpret_cast<const uint32_t*>(base + exports->AddressOfNames);
  std::set<std::string> found;
  for (DWORD i = 0; i < exports->NumberOfNames; ++i) {
    const char* name = reinterpret_cast<const char*>(base + names[i]);
    found.insert(name);
    // The loader finds names by halving the table: it must be in byte order.
    if (i > 0) {
      EXPECT_LT(std::strcmp(reinterpret_cast<const char*>(base + names[i - 1]), name), 0) << name;
    }
  }
  EXPECT_EQ(exports->NumberOfNames, expected.size());
  EXPECT_EQ(exports->NumberOfFunctions, expected.size());
  EXPECT_EQ(found, expected);
  for (const std::string& name : expected) EXPECT_NE(Find(name.c_str()), nullptr) << name;
}

}  // namespace zelk::host
