// What every host-style test of one of the project's DLLs starts from: the
// DLL loaded by name as a Windows host loads it, names looked up with
// GetProcAddress, and the export directory read from the loaded image
// (independently of objdump, which the link-time check reads).
#pragma once

#include <gtest/gtest.h>
#include <windows.h>

#include <set>
#include <string>

namespace zelk::host {

// A test whose every case runs with the DLL `dllName` loaded.
class LoadedDll : public ::testing::Test {
 protected:
  explicit LoadedDll(const char* dllName) : dllName_(dllName) {}
  void SetUp() override;
  void TearDown() override;

  const void* Find(const char* name) const;

  // The export directory is this machine's, names the module dllName, and
  // holds exactly `expected` (one function each) in the byte order the
  // loader's halving search needs; every name resolves.
  void ExpectExportTable(const std::set<std::string>& expected) const;

  const char* const dllName_;
  HMODULE module_ = nullptr;
};

}  // namespace zelk::host
