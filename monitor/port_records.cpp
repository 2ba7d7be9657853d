// Opening and closing ports: the port records and the list that holds them.
#include "diag/log.h"
#include "monitor/monitor.h"

namespace {

// Read bounds keep status reads short; writes may wait for a slow label print.
constexpr COMMTIMEOUTS kPortTimeouts = {200, 0, 5000, 0, 120000};

bool HasRequiredEntries(const MONITOR* pMonitor) {
  return pMonitor != nullptr && pMonitor->pfnOpenPort != nullptr &&
         pMonitor->pfnStartDocPort != nullptr && pMonitor->pfnWritePort != nullptr &&
         pMonitor->pfnReadPort != nullptr && pMonitor->pfnClosePort != nullptr;
}

// Room for the port name in the failure line, behind the longest level prefix of a log line.
constexpr int kLongestLogPrefix = 25;
constexpr int kLoggedPortNameBytes =
    static_cast<int>(kLogLineBufferSize) - 1 - kLongestLogPrefix -
    static_cast<int>(sizeof("**** PjlMon: OpenPort  : Failed\n") - 1);

// Port names reach the log as 8-bit text, as much of the name as the log line holds.
void LogOpenPortFailed(LPCWSTR pszPortName) {
  char szName[kLoggedPortNameBytes + 1] = "";
  int cchName = pszPortName != nullptr ? lstrlenW(pszPortName) : 0;
  if (cchName > 0) {
    int cbName;
    // Shortened in proportion until the text fits; every round drops a character at least.
    while (cchName > 0 && (cbName = WideCharToMultiByte(CP_ACP, 0, pszPortName, cchName, nullptr, 0,
                                                        nullptr, nullptr)) > kLoggedPortNameBytes) {
      cchName = static_cast<int>(static_cast<long long>(cchName) * kLoggedPortNameBytes / cbName);
    }
    if (cchName > 0) {
      const int cbWritten = WideCharToMultiByte(CP_ACP, 0, pszPortName, cchName, szName,
                                                kLoggedPortNameBytes, nullptr, nullptr);
      szName[cbWritten > 0 ? cbWritten : 0] = '\0';
    }
  }
  LogMessage(LOG_INFORM, "**** PjlMon: OpenPort %s : Failed\n", szName);
}

}  // namespace

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

BOOL WINAPI PJLMonOpenPortEx(LPWSTR pszPortName, LPWSTR /*pszPrinterName*/, PHANDLE pHandle,
                             LPMONITOR pMonitor) {
  LogMessage(LOG_INFORM, "**** PJLMonOpenPortEx Called\n");
  BOOL bResult = FALSE;

  if (!HasRequiredEntries(pMonitor)) {
    SetLastError(ERROR_INVALID_PRINT_MONITOR);
    LogMessage(LOG_INFORM, "**** PjlMon: Invalid port monitors passed to OpenPortEx\n");
  } else if (pHandle == nullptr) {
    // Nowhere to hand the port back: refuse before anything is created.
    SetLastError(ERROR_INVALID_PARAMETER);
  } else {
    EnterMonitorLock();
    if (FindPortRecord(pszPortName) != nullptr) {
      LogMessage(LOG_INFORM, "**** PjlMon: Couldn't find port OpenPortEx\n");
      SetLastError(ERROR_BUSY);
      LeaveMonitorLock();
    } else {
      IniPort* pIniPort = CreatePortRecord(pszPortName);
      LeaveMonitorLock();
      if (pIniPort == nullptr) {
        LogOpenPortFailed(pszPortName);
        LogMessage(LOG_INFORM, "**** PJLMonOpenPortEx Return\n");
      } else if (!pMonitor->pfnOpenPort(pszPortName, &pIniPort->hPort)) {
        // The port monitor's reason is what the spooler gets, whatever the clean-up does.
        const DWORD dwError = GetLastError();
        LogOpenPortFailed(pszPortName);
        EnterMonitorLock();
        DeletePortRecord(pIniPort);
        LeaveMonitorLock();
        LogMessage(LOG_INFORM, "**** PJLMonOpenPortEx Return\n");
        SetLastError(dwError);
      } else {
        *pHandle = pIniPort;
        pIniPort->PortMonitor = *pMonitor;
        bResult = TRUE;
        COMMTIMEOUTS timeouts = kPortTimeouts;
        if (pIniPort->PortMonitor.pfnSetPortTimeOuts != nullptr &&
            !pIniPort->PortMonitor.pfnSetPortTimeOuts(pIniPort->hPort, &timeouts, 0)) {
          LogMessage(LOG_INFORM, "**** PjlMon: OpenPort unable to set timeouts\n");
        } else {
          LogMessage(LOG_INFORM, "**** PJLMonOpenPortEx Return\n");
        }
      }
    }
  }

  LogMessage(LOG_INFORM, "**** PJLMonOpenPortEx Return Cleanup\n");
  return bResult;
}

BOOL WINAPI PJLMonClosePort(HANDLE hPort) {
  LogMessage(LOG_INFORM, "**** PJLMonClosePort Called\n");
  if (!IsPortHandle(hPort)) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  IniPort* pIniPort = static_cast<IniPort*>(hPort);
  ClearPortStatus(pIniPort, PORT_IN_JOB);
  if (pIniPort->PortMonitor.pfnClosePort != nullptr) {
    pIniPort->PortMonitor.pfnClosePort(pIniPort->hPort);
  }
  EnterMonitorLock();
  DeletePortRecord(pIniPort);
  LeaveMonitorLock();
  LogMessage(LOG_INFORM, "**** PJLMonClosePort Returning\n");
  return TRUE;
}
