// The last error, critical sections, events and handles.
#include <atomic>
#include <chrono>
#include <set>
#include <thread>
#include <vector>

#include "platform_fixture.h"

namespace {

using SyncTest = PlatformTest;

TEST_F(SyncTest, LastErrorIsPerThread) {
  DWORD seenAtStart = 99;
  DWORD seenAfterSet = 0;
  // Set and read here between starting and joining the other thread: those are system calls
  // that may change this thread's last error themselves.
  std::atomic<bool> mayStart{false};
  std::atomic<bool> otherHasSet{false};
  std::thread other([&] {
    while (!mayStart) {
    }
    seenAtStart = GetLastError();
    SetLastError(ERROR_SHARING_VIOLATION);
    seenAfterSet = GetLastError();
    otherHasSet = true;
  });
  SetLastError(ERROR_ACCESS_DENIED);
  mayStart = true;
  while (!otherHasSet) {
  }
  const DWORD seenHere = GetLastError();
  other.join();
  EXPECT_EQ(seenAtStart, static_cast<DWORD>(ERROR_SUCCESS));
  EXPECT_EQ(seenAfterSet, static_cast<DWORD>(ERROR_SHARING_VIOLATION));
  EXPECT_EQ(seenHere, static_cast<DWORD>(ERROR_ACCESS_DENIED));
}

TEST_F(SyncTest, CriticalSectionIsRecursiveAndExcludesOtherThreads) {
  CRITICAL_SECTION section;
  InitializeCriticalSection(&section);
  EnterCriticalSection(&section);
  EnterCriticalSection(&section);  // the same thread again: no deadlock
  LeaveCriticalSection(&section);
  LeaveCriticalSection(&section);

  long counter = 0;  // plain: only the section protects it
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([&] {
      for (int i = 0; i < 5000; ++i) {
        EnterCriticalSection(&section);
        EnterCriticalSection(&section);
        ++counter;
        LeaveCriticalSection(&section);
        LeaveCriticalSection(&section);
      }
    });
  }
  for (auto& thread : threads) thread.join();
  EXPECT_EQ(counter, 20000);
  DeleteCriticalSection(&section);
}

TEST_F(SyncTest, AutoResetEventLetsOneWaitThrough) {
  HANDLE event = CreateEventW(nullptr, FALSE, TRUE, nullptr);
  ASSERT_NE(event, nullptr);
  EXPECT_EQ(WaitForSingleObject(event, 0), static_cast<DWORD>(WAIT_OBJECT_0));
  EXPECT_EQ(WaitForSingleObject(event, 0), static_cast<DWORD>(WAIT_TIMEOUT));
  EXPECT_TRUE(SetEvent(event));
  EXPECT_EQ(WaitForSingleObject(event, INFINITE), static_cast<DWORD>(WAIT_OBJECT_0));
  EXPECT_EQ(WaitForSingleObject(event, 0), static_cast<DWORD>(WAIT_TIMEOUT));
  EXPECT_TRUE(CloseHandle(event));
}

TEST_F(SyncTest, ManualResetEventStaysSignalledUntilReset) {
  HANDLE event = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  EXPECT_EQ(WaitForSingleObject(event, 0), static_cast<DWORD>(WAIT_TIMEOUT));
  SetEvent(event);
  EXPECT_EQ(WaitForSingleObject(event, 0), static_cast<DWORD>(WAIT_OBJECT_0));
  EXPECT_EQ(WaitForSingleObject(event, 0), static_cast<DWORD>(WAIT_OBJECT_0));
  EXPECT_TRUE(ResetEvent(event));
  EXPECT_EQ(WaitForSingleObject(event, 0), static_cast<DWORD>(WAIT_TIMEOUT));
  CloseHandle(event);
}

TEST_F(SyncTest, InfiniteWaitEndsWhenAnotherThreadSignals) {
  HANDLE event = CreateEventW(nullptr, FALSE, FALSE, nullptr);
  std::atomic<bool> released{false};
  std::thread waiter([&] {
    EXPECT_EQ(WaitForSingleObject(event, INFINITE), static_cast<DWORD>(WAIT_OBJECT_0));
    released = true;
  });
  std::this_thread::sleep_for(std::chrono::milliseconds(20));
  EXPECT_FALSE(released.load());
  SetEvent(event);
  waiter.join();
  EXPECT_TRUE(released.load());
  EXPECT_EQ(WaitForSingleObject(event, 0), static_cast<DWORD>(WAIT_TIMEOUT));  // taken
  CloseHandle(event);
}

TEST_F(SyncTest, AutoResetReleasesOneWaiterPerSignal) {
  HANDLE event = CreateEventW(nullptr, FALSE, FALSE, nullptr);
  std::atomic<int> through{0};
  std::vector<std::thread> waiters;
  for (int i = 0; i < 2; ++i) {
    waiters.emplace_back([&] {
      if (WaitForSingleObject(event, 2000) == WAIT_OBJECT_0) ++through;
    });
  }
  std::this_thread::sleep_for(std::chrono::milliseconds(20));
  SetEvent(event);
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(1);
  while (through.load() == 0 && std::chrono::steady_clock::now() < deadline) {
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  EXPECT_EQ(through.load(), 1);
  SetEvent(event);
  for (auto& waiter : waiters) waiter.join();
  EXPECT_EQ(through.load(), 2);
  CloseHandle(event);
}

TEST_F(SyncTest, HandlesAreDistinct) {
  std::set<HANDLE> handles;
  for (int i = 0; i < 5; ++i) handles.insert(CreateEventW(nullptr, FALSE, FALSE, nullptr));
  EXPECT_EQ(handles.size(), 5u);
  EXPECT_EQ(handles.count(nullptr), 0u);
  EXPECT_EQ(handles.count(INVALID_HANDLE_VALUE), 0u);
  for (HANDLE handle : handles) EXPECT_TRUE(CloseHandle(handle));
}

TEST_F(SyncTest, InvalidHandlesFailWithInvalidHandle) {
  HANDLE event = CreateEventW(nullptr, FALSE, FALSE, nullptr);
  ASSERT_TRUE(CloseHandle(event));
  for (HANDLE bad : {event, static_cast<HANDLE>(nullptr)}) {
    SetLastError(0);
    EXPECT_FALSE(CloseHandle(bad));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
    SetLastError(0);
    EXPECT_FALSE(SetEvent(bad));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
    EXPECT_EQ(WaitForSingleObject(bad, 0), static_cast<DWORD>(WAIT_FAILED));
  }
  // INVALID_HANDLE_VALUE is the current process's pseudo handle: closing it does nothing, it is
  // no event, and the process is not signalled while it runs.
  EXPECT_TRUE(CloseHandle(INVALID_HANDLE_VALUE));
  SetLastError(0);
  EXPECT_FALSE(SetEvent(INVALID_HANDLE_VALUE));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
  EXPECT_EQ(WaitForSingleObject(INVALID_HANDLE_VALUE, 0), static_cast<DWORD>(WAIT_TIMEOUT));
}

}  // namespace
