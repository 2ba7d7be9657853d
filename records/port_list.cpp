// The list of open ports: its records made, found and released under the lock, and the newest
// status record each port keeps.
#include "records/records.h"

IniPort* CreatePortRecord(LPCWSTR pszPortName) {
  HANDLE hEvent = CreateEventW(nullptr, FALSE, TRUE, nullptr);
  if (hEvent == nullptr) {
    return nullptr;
  }
  HANDLE hCallsEnded = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  IniPort* pIniPort =
      hCallsEnded != nullptr ? static_cast<IniPort*>(AllocZeroed(sizeof(IniPort))) : nullptr;
  if (pIniPort != nullptr) {
    pIniPort->pszPortName = DupWideString(pszPortName);
  }
  if (pIniPort == nullptr || pIniPort->pszPortName == nullptr) {
    CloseHandle(hEvent);
    if (hCallsEnded != nullptr) {
      CloseHandle(hCallsEnded);
    }
    GlobalFree(pIniPort);
    return nullptr;
  }
  pIniPort->signature = kPortSignature;
  pIniPort->hEvent = hEvent;
  pIniPort->hCallsEnded = hCallsEnded;
  pIniPort->hSpoolerHandle = NextPortHandle();
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
  CloseHandle(pIniPort->hCallsEnded);
  FreePortJobs(pIniPort);
  GlobalFree(pIniPort->pszPortName);
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
