// The host's side of events: the virtual clock leaves real waits alone, open events are counted
// and Reset leaves them open.
#include <chrono>
#include <set>

#include "platform_fixture.h"

namespace {

using SyncHostTest = PlatformTest;

TEST_F(SyncHostTest, FiniteWaitsPassInRealTimeAndLeaveTheVirtualClock) {
  HANDLE event = CreateEventW(nullptr, FALSE, FALSE, nullptr);
  const DWORD ticks = GetTickCount();
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(WaitForSingleObject(event, 60), static_cast<DWORD>(WAIT_TIMEOUT));
  EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(55));
  EXPECT_EQ(GetTickCount(), ticks);
  CloseHandle(event);
}

TEST_F(SyncHostTest, OpenEventsAreCounted) {
  std::set<HANDLE> handles;
  for (int i = 0; i < 5; ++i) handles.insert(CreateEventW(nullptr, FALSE, FALSE, nullptr));
  EXPECT_EQ(host::OpenEvents(), 5);
  for (HANDLE handle : handles) EXPECT_TRUE(CloseHandle(handle));
  EXPECT_EQ(host::OpenEvents(), 0);
}

TEST_F(SyncHostTest, ResetLeavesOpenEventsAlone) {
  HANDLE event = CreateEventW(nullptr, TRUE, TRUE, nullptr);
  host::Reset();
  EXPECT_EQ(host::OpenEvents(), 1);
  EXPECT_EQ(WaitForSingleObject(event, 0), static_cast<DWORD>(WAIT_OBJECT_0));
  EXPECT_TRUE(CloseHandle(event));
}

}  // namespace
