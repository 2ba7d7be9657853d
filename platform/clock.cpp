// The tick count (virtual or real), Sleep, and local time.
#include <atomic>
#include <chrono>
#include <cstdint>
#include <ctime>
#include <thread>

#include "platform/host.h"
#include "platform/host_state.h"

namespace {

struct ClockState {
  std::atomic<bool> isVirtual{true};
  std::atomic<DWORD> virtualTicks{0};
  std::atomic<DWORD> realOffset{0};  // AdvanceClock under the real clock
  std::atomic<bool> yieldOnVirtualSleep{true};
  platform_impl::Observer<void(DWORD)> onSleep;
  std::mutex timeMutex;
  SYSTEMTIME fixedTime{};  // wYear 0: the machine's local time
  // Set: local time is this moment plus the ticks since followedFromTicks.
  bool followsClock = false;
  int64_t followedFromMs = 0;  // milliseconds since 1970 of the local time's fields
  DWORD followedFromTicks = 0;
};

ClockState& State() {
  static ClockState* state = new ClockState;
  return *state;
}

DWORD RealTicks() {
  using namespace std::chrono;
  const auto elapsed = duration_cast<milliseconds>(steady_clock::now().time_since_epoch());
  return static_cast<DWORD>(static_cast<uint64_t>(elapsed.count())) +
         State().realOffset.load(std::memory_order_relaxed);
}

}  // namespace

DWORD WINAPI GetTickCount() {
  ClockState& state = State();
  return state.isVirtual.load() ? state.virtualTicks.load() : RealTicks();
}

VOID WINAPI Sleep(DWORD dwMilliseconds) {
  ClockState& state = State();
  DWORD now;
  if (state.isVirtual.load()) {
    now = state.virtualTicks.fetch_add(dwMilliseconds) + dwMilliseconds;
    if (state.yieldOnVirtualSleep.load(std::memory_order_relaxed)) {
      std::this_thread::yield();  // lets other threads' polling loops run, as a real sleep would
    }
  } else {
    std::this_thread::sleep_for(std::chrono::milliseconds(dwMilliseconds));
    now = RealTicks();
  }
  state.onSleep.Notify(now);
}

namespace {

// A SYSTEMTIME's fields as milliseconds since 1970, read as if they were UTC, and back: local
// time moved on by a number of milliseconds without the machine's time zone rules in between.
int64_t FieldsToMs(const SYSTEMTIME& time) {
  std::tm fields{};
  fields.tm_year = time.wYear - 1900;
  fields.tm_mon = time.wMonth - 1;
  fields.tm_mday = time.wDay;
  fields.tm_hour = time.wHour;
  fields.tm_min = time.wMinute;
  fields.tm_sec = time.wSecond;
  return static_cast<int64_t>(timegm(&fields)) * 1000 + time.wMilliseconds;
}

void FillFields(const std::tm& local, int64_t milliseconds, LPSYSTEMTIME lpSystemTime) {
  lpSystemTime->wYear = static_cast<WORD>(local.tm_year + 1900);
  lpSystemTime->wMonth = static_cast<WORD>(local.tm_mon + 1);
  lpSystemTime->wDayOfWeek = static_cast<WORD>(local.tm_wday);
  lpSystemTime->wDay = static_cast<WORD>(local.tm_mday);
  lpSystemTime->wHour = static_cast<WORD>(local.tm_hour);
  lpSystemTime->wMinute = static_cast<WORD>(local.tm_min);
  lpSystemTime->wSecond = static_cast<WORD>(local.tm_sec < 60 ? local.tm_sec : 59);
  lpSystemTime->wMilliseconds = static_cast<WORD>(milliseconds < 0 ? 0 : milliseconds);
}

}  // namespace

VOID WINAPI GetLocalTime(LPSYSTEMTIME lpSystemTime) {
  ClockState& state = State();
  {
    std::lock_guard<std::mutex> lock(state.timeMutex);
    if (state.fixedTime.wYear != 0) {
      *lpSystemTime = state.fixedTime;
      return;
    }
    if (state.followsClock) {
      const DWORD elapsed = GetTickCount() - state.followedFromTicks;
      const int64_t now = state.followedFromMs + elapsed;
      const std::time_t seconds = static_cast<std::time_t>(now / 1000);
      std::tm fields{};
      gmtime_r(&seconds, &fields);
      FillFields(fields, now % 1000, lpSystemTime);
      return;
    }
  }
  using namespace std::chrono;
  const auto now = system_clock::now();
  const std::time_t seconds = system_clock::to_time_t(now);
  const auto milliseconds =
      duration_cast<std::chrono::milliseconds>(now.time_since_epoch()).count() % 1000;
  std::tm local{};
  localtime_r(&seconds, &local);
  FillFields(local, milliseconds, lpSystemTime);
}

namespace platform_impl {

void ResetClock() {
  ClockState& state = State();
  state.isVirtual = true;
  state.virtualTicks = 0;
  state.realOffset = 0;
  state.yieldOnVirtualSleep = true;
  state.onSleep.Set(nullptr);
  std::lock_guard<std::mutex> lock(state.timeMutex);
  state.fixedTime = SYSTEMTIME{};
  state.followsClock = false;
}

}  // namespace platform_impl

namespace host {

void UseVirtualClock(DWORD startTicks) {
  ClockState& state = State();
  state.virtualTicks = startTicks;
  state.isVirtual = true;
}

void UseRealClock() {
  ClockState& state = State();
  state.realOffset = 0;
  state.isVirtual = false;
}

bool IsVirtualClock() { return State().isVirtual.load(); }

DWORD Ticks() { return GetTickCount(); }

void AdvanceClock(DWORD milliseconds) {
  ClockState& state = State();
  if (state.isVirtual.load()) {
    state.virtualTicks.fetch_add(milliseconds);
  } else {
    state.realOffset.fetch_add(milliseconds);
  }
}

void YieldOnVirtualSleep(bool yield) { State().yieldOnVirtualSleep = yield; }

void OnSleep(std::function<void(DWORD ticksNow)> observer) {
  State().onSleep.Set(std::move(observer));
}

void SetLocalTime(const SYSTEMTIME& time) {
  ClockState& state = State();
  std::lock_guard<std::mutex> lock(state.timeMutex);
  state.fixedTime = time;
  state.followsClock = false;
}

void LocalTimeFollowsClock(const SYSTEMTIME& start) {
  ClockState& state = State();
  std::lock_guard<std::mutex> lock(state.timeMutex);
  state.fixedTime = SYSTEMTIME{};
  state.followedFromMs = FieldsToMs(start);
  state.followedFromTicks = GetTickCount();
  state.followsClock = true;
}

}  // namespace host
