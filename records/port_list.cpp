// The list of open ports: its records made, found, checked and released under the lock, and the
// newest status record each port keeps.
#include "records/records.h"

IniPort* CreatePortRecord(LPCWSTR pszPortName) {
  HANDLE hEvent = CreateEventW(nullptr, FALSE, TRUE, nullptr);
  if (hEvent == nullptr) {
    return nullptr;
  }
  IniPort* pIniPort = static_cast<IniPort*>(AllocZeroed(sizeof(IniPort)));
  if (pIniPort == nullptr) {
    CloseHandle(hEvent);
    return nullptr;
  }
  pIniPort->pszPortName = DupWideString(pszPortName);
  if (pIniPort->pszPortName == nullptr) {
    CloseHandle(hEvent);
    GlobalFree(pIniPort);
    return nullptr;
  }
  pIniPort->signature = kPortSignature;
  pIniPort->hEvent = hEvent;
  pIniPort->pNext = pIniFirstPort;
  pIniFirstPort = pIniPort;
  return pIniPort;
}

IniPort* FindPortRecord(LPCWSTR pszPortName) {
  if (pszPortName == nullptr || *pszPortName == 0) {
    return nullptr;
  }
  for (IniPort* pIniPort = pIniFirstPort; pIniPort != nullptr; pIniPort = pIniPort->pNext) {
    if (lstrcmpiW(pIniPort->pszPortName, pszPortName) == 0) {
      return pIniPort;
    }
  }
  return nullptr;
}

bool IsPortHandle(HANDLE handle) {
  if (handle == nullptr) {
    return false;
  }
  // Compared by address only: a handle already closed points at freed memory.
  bool fOpen = false;
  EnterMonitorLock();
  for (const IniPort* pIniPort = pIniFirstPort; pIniPort != nullptr; pIniPort = pIniPort->pNext) {
    if (pIniPort == handle) {
      fOpen = pIniPort->signature == kPortSignature;
      break;
    }
  }
  LeaveMonitorLock();
  return fOpen;
}

void DeletePortRecord(IniPort* pIniPort) {
  if (pIniFirstPort == pIniPort) {
    pIniFirstPort = pIniPort->pNext;
  } else {
    IniPort* pPrevious = pIniFirstPort;
    while (pPrevious != nullptr && pPrevious->pNext != pIniPort) {
      pPrevious = pPrevious->pNext;
    }
    if (pPrevious == nullptr) {
      return;  // not ours to release
    }
    pPrevious->pNext = pIniPort->pNext;
  }
  CloseHandle(pIniPort->hEvent);
  FreePortJobs(pIniPort);
  GlobalFree(pIniPort->pszPortName);
  // A handle the spooler still holds must not pass the signature test after this.
  pIniPort->signature = 0;
  GlobalFree(pIniPort);
}

void RememberPortStatus(IniPort* pIniPort, const StatusRecord& record) {
  EnterMonitorLock();
  pIniPort->LastStatus = record;
  pIniPort->fHaveLastStatus = TRUE;
  LeaveMonitorLock();
}

BOOL GetRememberedPortStatus(IniPort* pIniPort, StatusRecord* pRecord) {
  EnterMonitorLock();
  const BOOL fHave = pIniPort->fHaveLastStatus;
  if (fHave) {
    *pRecord = pIniPort->LastStatus;
  }
  LeaveMonitorLock();
  return fHave;
}
