// The spooler's port handles: each is its port record's address. Calls on a port are counted so
// that its close waits for them before the record goes, and the addresses of closed ports are
// kept from new records, so that a closed handle is refused instead of reaching a later port.
#include <cstring>

#include "records/records.h"

namespace {

// The addresses of the latest closed ports, oldest overwritten first; only compared, never read
// through. Under the lock.
const void* ClosedPortAddresses[kRememberedClosedPorts];
DWORD cClosedPortAddresses = 0;
DWORD iNextClosedPortAddress = 0;

bool IsClosedPortAddress(const void* pBlock) {
  for (DWORD i = 0; i < cClosedPortAddresses; ++i) {
    if (ClosedPortAddresses[i] == pBlock) {
      return true;
    }
  }
  return false;
}

// A port on the list of open ports that still takes calls. The caller holds the lock.
IniPort* FindOpenPort(HANDLE handle) {
  if (handle == nullptr) {
    return nullptr;
  }
  for (IniPort* pIniPort = pIniFirstPort; pIniPort != nullptr; pIniPort = pIniPort->pNext) {
    if (pIniPort == handle) {
      return pIniPort->signature == kPortSignature && !PortClosing(pIniPort) ? pIniPort : nullptr;
    }
  }
  return nullptr;
}

}  // namespace

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

IniPort* AllocPortRecord() {
  // A block at a closed port's address is held while the next is taken, so that the allocator
  // cannot offer it again; the held blocks are chained through their own first bytes. Each is a
  // different remembered address, so this ends after kRememberedClosedPorts + 1 blocks at most.
  void* pHeld = nullptr;
  void* pBlock = AllocZeroed(sizeof(IniPort));
  while (pBlock != nullptr && IsClosedPortAddress(pBlock)) {
    memcpy(pBlock, &pHeld, sizeof(pHeld));
    pHeld = pBlock;
    pBlock = AllocZeroed(sizeof(IniPort));
  }
  while (pHeld != nullptr) {
    void* pNextHeld = nullptr;
    memcpy(&pNextHeld, pHeld, sizeof(pNextHeld));
    GlobalFree(pHeld);
    pHeld = pNextHeld;
  }
  return static_cast<IniPort*>(pBlock);
}

void RememberClosedPort(const IniPort* pIniPort) {
  ClosedPortAddresses[iNextClosedPortAddress] = pIniPort;
  iNextClosedPortAddress = (iNextClosedPortAddress + 1) % kRememberedClosedPorts;
  if (cClosedPortAddresses < kRememberedClosedPorts) {
    ++cClosedPortAddresses;
  }
}

void ForgetClosedPorts() {
  cClosedPortAddresses = 0;
  iNextClosedPortAddress = 0;
}
