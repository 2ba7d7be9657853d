// GetModuleHandleW and GetProcAddress: loaded modules by name, missing modules and functions.
#include "platform_fixture.h"

namespace {

using ModulesTest = PlatformTest;

TEST_F(ModulesTest, LoadedModulesAreFoundByNameWithoutRegardToCase) {
  HMODULE kernel = GetModuleHandleW(WSTR("kernel32.dll"));
  ASSERT_NE(kernel, nullptr);
  EXPECT_EQ(GetModuleHandleW(WSTR("KERNEL32.DLL")), kernel);
  EXPECT_EQ(GetModuleHandleW(WSTR("kernel32")), kernel);  // ".dll" is implied
  SetLastError(0);
  EXPECT_EQ(GetProcAddress(kernel, "NoSuchFunction"), nullptr);
  EXPECT_EQ(GetLastError(), 127u);  // ERROR_PROC_NOT_FOUND

  // A module that is not loaded is not found (winspool.drv: the monitor never loads it).
  SetLastError(0);
  EXPECT_EQ(GetModuleHandleW(WSTR("winspool.drv")), nullptr);
  EXPECT_EQ(GetLastError(), 126u);  // ERROR_MOD_NOT_FOUND
}

}  // namespace
