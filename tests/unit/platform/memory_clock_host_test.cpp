// The host's side of memory, the clock, local time and the debugger output: counted and failing
// allocations, the virtual clock, a fixed local time, recorded debugger output.
#include <chrono>
#include <cstring>
#include <thread>
#include <vector>

#include "platform_fixture.h"

namespace {

using MemoryHostTest = PlatformTest;
using ClockTest = PlatformTest;
using DebugOutputTest = PlatformTest;

TEST_F(MemoryHostTest, BlocksAreCountedUntilReleased) {
  void* block = GlobalAlloc(GPTR, 64);
  ASSERT_NE(block, nullptr);
  EXPECT_EQ(host::LiveAllocations(), 1);
  EXPECT_EQ(GlobalFree(block), nullptr);
  EXPECT_EQ(host::LiveAllocations(), 0);
  EXPECT_EQ(host::AllocationCount(), 1u);
}

TEST_F(MemoryHostTest, NthAllocationFails) {
  host::FailAllocation(2);
  void* first = GlobalAlloc(GMEM_FIXED, 8);
  SetLastError(0);
  void* second = GlobalAlloc(GMEM_FIXED, 8);
  EXPECT_NE(first, nullptr);
  EXPECT_EQ(second, nullptr);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NOT_ENOUGH_MEMORY));
  void* third = GlobalAlloc(GMEM_FIXED, 8);  // the failure happens once
  EXPECT_NE(third, nullptr);
  EXPECT_EQ(host::AllocationCount(), 3u);
  EXPECT_EQ(host::LiveAllocations(), 2);
  GlobalFree(first);
  GlobalFree(third);

  host::FailAllocation(1);
  host::FailAllocation(0);  // disarmed
  void* fourth = GlobalAlloc(GMEM_FIXED, 8);
  EXPECT_NE(fourth, nullptr);
  GlobalFree(fourth);
}

TEST_F(MemoryHostTest, ResetKeepsLiveBlocksButRestartsTheCount) {
  void* block = GlobalAlloc(GMEM_FIXED, 4);
  host::FailAllocation(5);
  host::Reset();
  EXPECT_EQ(host::LiveAllocations(), 1);
  EXPECT_EQ(host::AllocationCount(), 0u);
  for (int i = 0; i < 6; ++i) {
    void* more = GlobalAlloc(GMEM_FIXED, 4);
    ASSERT_NE(more, nullptr);  // the armed failure went with the Reset
    GlobalFree(more);
  }
  GlobalFree(block);
}

TEST_F(ClockTest, VirtualByDefaultAndSleepAdvancesAtOnce) {
  EXPECT_TRUE(host::IsVirtualClock());
  EXPECT_EQ(GetTickCount(), 0u);
  const auto start = std::chrono::steady_clock::now();
  Sleep(180000);
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(1));
  EXPECT_EQ(GetTickCount(), 180000u);
  host::AdvanceClock(5);
  EXPECT_EQ(host::Ticks(), 180005u);
}

TEST_F(ClockTest, TickCountWrapsAround) {
  host::UseVirtualClock(0xFFFFFFF0u);
  const DWORD start = GetTickCount();
  Sleep(0x20);
  EXPECT_EQ(GetTickCount(), 0x10u);
  EXPECT_EQ(GetTickCount() - start, 0x20u);  // unsigned differences survive the wrap
}

TEST_F(ClockTest, SleepObserverSeesTheTicksAfterEachSleep) {
  host::UseVirtualClock(100);
  std::vector<DWORD> seen;
  host::OnSleep([&seen](DWORD ticks) { seen.push_back(ticks); });
  Sleep(50);
  Sleep(100);
  // Without the yield a sleep passes and is seen all the same.
  host::YieldOnVirtualSleep(false);
  Sleep(0);
  Sleep(7);
  host::YieldOnVirtualSleep(true);
  EXPECT_EQ(seen, (std::vector<DWORD>{150, 250, 250, 257}));
  host::Reset();  // the observer goes with it
  Sleep(1);
  EXPECT_EQ(seen.size(), 4u);
}

TEST_F(ClockTest, RealClockSleepsForReal) {
  host::UseRealClock();
  EXPECT_FALSE(host::IsVirtualClock());
  const DWORD start = GetTickCount();
  Sleep(30);
  EXPECT_GE(GetTickCount() - start, 25u);
  host::Reset();
  EXPECT_TRUE(host::IsVirtualClock());
}

TEST_F(ClockTest, LocalTimeCanBeFixed) {
  SYSTEMTIME fixed{};
  fixed.wYear = 2024;
  fixed.wMonth = 3;
  fixed.wDay = 2;
  fixed.wHour = 9;
  fixed.wMinute = 5;
  fixed.wSecond = 3;
  fixed.wMilliseconds = 7;
  host::SetLocalTime(fixed);
  SYSTEMTIME now{};
  GetLocalTime(&now);
  EXPECT_EQ(std::memcmp(&now, &fixed, sizeof(now)), 0);

  host::SetLocalTime(SYSTEMTIME{});
  GetLocalTime(&now);
  EXPECT_GE(now.wYear, 2024);
  EXPECT_GE(now.wMonth, 1);
  EXPECT_LE(now.wMonth, 12);
  EXPECT_LE(now.wMilliseconds, 999);
}

TEST_F(ClockTest, LocalTimeFollowsTheVirtualClockAcrossAYear) {
  SYSTEMTIME start{};
  start.wYear = 2024;
  start.wMonth = 12;
  start.wDay = 31;
  start.wHour = 23;
  start.wMinute = 59;
  start.wSecond = 58;
  start.wMilliseconds = 500;
  Sleep(70000);  // ticks before the start do not count
  host::LocalTimeFollowsClock(start);
  SYSTEMTIME now{};
  GetLocalTime(&now);
  EXPECT_EQ(now.wSecond, 58);
  Sleep(2000);
  GetLocalTime(&now);
  EXPECT_EQ((std::vector<int>{now.wYear, now.wMonth, now.wDay, now.wDayOfWeek, now.wHour,
                              now.wMinute, now.wSecond, now.wMilliseconds}),
            (std::vector<int>{2025, 1, 1, 3, 0, 0, 0, 500}));
  host::AdvanceClock(3600000 + 250);
  GetLocalTime(&now);
  EXPECT_EQ((std::vector<int>{now.wHour, now.wMinute, now.wSecond, now.wMilliseconds}),
            (std::vector<int>{1, 0, 0, 750}));
  host::Reset();
  GetLocalTime(&now);
  EXPECT_GE(now.wYear, 2026);  // the machine's time again
}

TEST_F(DebugOutputTest, RecordedInOrderAndObserved) {
  std::vector<std::string> observed;
  host::OnDebugOutput([&observed](const std::string& text) { observed.push_back(text); });
  OutputDebugStringA("first\n");
  OutputDebugStringA("second\n");
  EXPECT_EQ(host::DebugOutput(), (std::vector<std::string>{"first\n", "second\n"}));
  EXPECT_EQ(observed, host::DebugOutput());
  host::ClearDebugOutput();
  EXPECT_TRUE(host::DebugOutput().empty());
}

TEST_F(DebugOutputTest, RecordingCanBeSwitchedOff) {
  std::vector<std::string> observed;
  host::OnDebugOutput([&observed](const std::string& text) { observed.push_back(text); });
  host::RecordDebugOutput(false);
  OutputDebugStringA("not kept");
  EXPECT_TRUE(host::DebugOutput().empty());
  EXPECT_EQ(observed.size(), 1u);  // observers still see it
  host::Reset();
  OutputDebugStringA("kept");
  EXPECT_EQ(host::DebugOutput(), (std::vector<std::string>{"kept"}));
}

TEST_F(DebugOutputTest, ThreadsDoNotMixTheirTexts) {
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([t] {
      const std::string text = "thread " + std::to_string(t) + " line\n";
      for (int i = 0; i < 200; ++i) OutputDebugStringA(text.c_str());
    });
  }
  for (auto& thread : threads) thread.join();
  const auto texts = host::DebugOutput();
  ASSERT_EQ(texts.size(), 800u);
  for (const auto& text : texts) EXPECT_EQ(text.size(), std::string("thread 0 line\n").size());
}

}  // namespace
