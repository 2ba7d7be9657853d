// GlobalAlloc and GlobalFree.
#include "platform_fixture.h"

namespace {

using MemoryTest = PlatformTest;

TEST_F(MemoryTest, ZeroInitialisedBlocksAndRelease) {
  auto* block = static_cast<unsigned char*>(GlobalAlloc(GPTR, 64));
  ASSERT_NE(block, nullptr);
  for (int i = 0; i < 64; ++i) EXPECT_EQ(block[i], 0);
  EXPECT_EQ(GlobalFree(block), nullptr);
}

TEST_F(MemoryTest, FreeingAnUnknownBlockFails) {
  int notABlock = 0;
  SetLastError(0);
  EXPECT_EQ(GlobalFree(&notABlock), static_cast<HGLOBAL>(&notABlock));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
  EXPECT_EQ(GlobalFree(nullptr), nullptr);
}

}  // namespace
