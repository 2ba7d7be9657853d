// Critical sections and events.
#include <chrono>
#include <condition_variable>
#include <new>
#include <thread>

#include "platform/host_state.h"

using platform_impl::ObjectKind;

// ---- Critical sections ---------------------------------------------------------------------

static_assert(sizeof(std::recursive_mutex) <= sizeof(CRITICAL_SECTION::opaque),
              "the critical section's storage cannot hold the lock");
static_assert(alignof(std::recursive_mutex) <= alignof(CRITICAL_SECTION),
              "the critical section's storage is not aligned for the lock");

namespace {
std::recursive_mutex* LockOf(LPCRITICAL_SECTION section) {
  return std::launder(reinterpret_cast<std::recursive_mutex*>(section->opaque));
}
}  // namespace

VOID WINAPI InitializeCriticalSection(LPCRITICAL_SECTION lpCriticalSection) {
  new (lpCriticalSection->opaque) std::recursive_mutex();
}

VOID WINAPI DeleteCriticalSection(LPCRITICAL_SECTION lpCriticalSection) {
  LockOf(lpCriticalSection)->~recursive_mutex();
}

VOID WINAPI EnterCriticalSection(LPCRITICAL_SECTION lpCriticalSection) {
  LockOf(lpCriticalSection)->lock();
}

VOID WINAPI LeaveCriticalSection(LPCRITICAL_SECTION lpCriticalSection) {
  LockOf(lpCriticalSection)->unlock();
}

// ---- Events --------------------------------------------------------------------------------

namespace {

struct Event : platform_impl::KernelObject {
  Event(bool manualReset, bool initialState)
      : KernelObject(ObjectKind::kEvent), manual(manualReset), signaled(initialState) {}
  std::mutex mutex;
  std::condition_variable changed;
  const bool manual;
  bool signaled;
};

std::shared_ptr<Event> FindEvent(HANDLE handle) {
  return platform_impl::FindObject<Event>(handle, ObjectKind::kEvent);
}

}  // namespace

// Names are not supported: a named event is a new unnamed one.
HANDLE WINAPI CreateEventW(LPSECURITY_ATTRIBUTES lpEventAttributes, BOOL bManualReset,
                           BOOL bInitialState, LPCWSTR lpName) {
  (void)lpEventAttributes;
  (void)lpName;
  HANDLE handle = platform_impl::AddHandle(
      std::make_shared<Event>(bManualReset != FALSE, bInitialState != FALSE));
  SetLastError(ERROR_SUCCESS);
  return handle;
}

BOOL WINAPI SetEvent(HANDLE hEvent) {
  auto event = FindEvent(hEvent);
  if (!event) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  {
    std::lock_guard<std::mutex> lock(event->mutex);
    event->signaled = true;
  }
  if (event->manual) {
    event->changed.notify_all();
  } else {
    event->changed.notify_one();
  }
  return TRUE;
}

BOOL WINAPI ResetEvent(HANDLE hEvent) {
  auto event = FindEvent(hEvent);
  if (!event) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  std::lock_guard<std::mutex> lock(event->mutex);
  event->signaled = false;
  return TRUE;
}

// Waits in real time whatever the clock: a finite wait lasts that many real milliseconds.
DWORD WINAPI WaitForSingleObject(HANDLE hHandle, DWORD dwMilliseconds) {
  auto event = FindEvent(hHandle);
  if (!event) {
    // A file handle is signalled whenever no I/O is pending, which is always here.
    if (platform_impl::FindHandle(hHandle, ObjectKind::kFile)) return WAIT_OBJECT_0;
    // INVALID_HANDLE_VALUE is the current process's pseudo handle, signalled only when the
    // process has ended: a wait on it lasts its whole time.
    if (hHandle == INVALID_HANDLE_VALUE) {
      if (dwMilliseconds == INFINITE) {
        for (;;) std::this_thread::sleep_for(std::chrono::hours(1));
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(dwMilliseconds));
      return WAIT_TIMEOUT;
    }
    SetLastError(ERROR_INVALID_HANDLE);
    return WAIT_FAILED;
  }
  std::unique_lock<std::mutex> lock(event->mutex);
  auto isSignaled = [&event] { return event->signaled; };
  if (dwMilliseconds == INFINITE) {
    event->changed.wait(lock, isSignaled);
  } else if (!event->changed.wait_for(lock, std::chrono::milliseconds(dwMilliseconds),
                                      isSignaled)) {
    return WAIT_TIMEOUT;
  }
  if (!event->manual) event->signaled = false;
  return WAIT_OBJECT_0;
}
