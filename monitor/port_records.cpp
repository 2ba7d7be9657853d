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

// Port names reach the log as 8-bit text.
void LogOpenPortFailed(LPCWSTR pszPortName) {
  char szName[MAX_PATH] = "";
  if (pszPortName != nullptr) {
    WideCharToMultiByte(CP_ACP, 0, pszPortName, -1, szName, sizeof(szName), nullptr, nullptr);
    szName[sizeof(szName) - 1] = '\0';
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
        LogOpenPortFailed(pszPortName);
        EnterMonitorLock();
        DeletePortRecord(pIniPort);
        LeaveMonitorLock();
        LogMessage(LOG_INFORM, "**** PJLMonOpenPortEx Return\n");
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
