// The spooler's port handles: each is a serial number of its own, found on the list of open
// ports. Calls on a port are counted so that its close waits for them before the record goes; a
// closed port's number is never given again, so its handle is refused instead of reaching a
// later port, however often ports open and close and wherever their records are allocated.
#include "records/records.h"

namespace {

// Below this no handle is given: small numbers are what a stray integer would be.
constexpr ULONG_PTR kFirstPortHandle = 0x10000;

// The last number given; under the lock. Not reset at process attach: a handle kept from an
// earlier load of the module must not reach a port of this one.
ULONG_PTR gLastPortHandle = kFirstPortHandle - 1;

HANDLE AsHandle(ULONG_PTR value) { return reinterpret_cast<HANDLE>(value); }

// The port with the handle, whether or not it still takes calls. The caller holds the lock.
IniPort* FindPortByHandle(HANDLE handle) {
  if (handle == nullptr) {
    return nullptr;
  }
  for (IniPort* pIniPort = pIniFirstPort; pIniPort != nullptr; pIniPort = pIniPort->pNext) {
    if (pIniPort->hSpoolerHandle == handle) {
      return pIniPort;
    }
  }
  return nullptr;
}

// A port on the list of open ports that still takes calls. The caller holds the lock.
IniPort* FindOpenPort(HANDLE handle) {
  IniPort* pIniPort = FindPortByHandle(handle);
  return pIniPort != nullptr && pIniPort->signature == kPortSignature && !PortClosing(pIniPort)
             ? pIniPort
             : nullptr;
}

}  // namespace

HANDLE NextPortHandle() {
  // Only a 32-bit count can come round; a number still open is passed over then.
  do {
    gLastPortHandle =
        gLastPortHandle >= ~static_cast<ULONG_PTR>(0) - 1 ? kFirstPortHandle : gLastPortHandle + 1;
  } while (FindPortByHandle(AsHandle(gLastPortHandle)) != nullptr);
  return AsHandle(gLastPortHandle);
}

IniPort* BeginPortCall(HANDLE handle) {
  EnterMonitorLock();
  IniPort* pIniPort = FindOpenPort(handle);
  if (pIniPort != nullptr) {
    std::atomic_ref<DWORD>(pIniPort->dwCalls).fetch_add(1);
  }
  LeaveMonitorLock();
  if (pIniPort == nullptr) {
    SetLastError(ERROR_INVALID_PARAMETER);
  }
  return pIniPort;
}

void EndPortCall(IniPort* pIniPort) {
  // The last call out of a closing port lets the close go on; until then the record stays, so
  // the event can still be read from it.
  if (std::atomic_ref<DWORD>(pIniPort->dwCalls).fetch_sub(1) == (kPortClosing | 1)) {
    const DWORD dwError = GetLastError();
    SetEvent(pIniPort->hCallsEnded);
    SetLastError(dwError);
  }
}

IniPort* BeginPortClose(HANDLE handle) {
  EnterMonitorLock();
  IniPort* pIniPort = FindOpenPort(handle);
  DWORD dwCalls = 0;
  if (pIniPort != nullptr) {
    dwCalls = std::atomic_ref<DWORD>(pIniPort->dwCalls).fetch_or(kPortClosing);
  }
  LeaveMonitorLock();
  if (pIniPort == nullptr) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  // A call may be a pre-job check waiting for label stock or for an answer: the close waits as
  // long as it does, while every other port goes on.
  if (dwCalls != 0) {
    WaitForSingleObject(pIniPort->hCallsEnded, INFINITE);
  }
  return pIniPort;
}

IniPort* PortOfHandle(HANDLE handle) {
  EnterMonitorLock();
  IniPort* pIniPort = FindOpenPort(handle);
  LeaveMonitorLock();
  return pIniPort;
}
