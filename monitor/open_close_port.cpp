// Opening and closing ports: the spooler's open, which makes a port record and opens the real
// port beneath it, and its close.
#include <cstddef>

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

namespace {

// A port monitor's table, whichever form it came in, reduced to what a port record keeps: the
// entries the monitor calls on a port have the same shape in both forms; only the open differs.
struct PortMonitorEntries {
  MONITOR Table;
  BOOL(WINAPI* pfnOpenPort2)(HANDLE hMonitor, LPWSTR pName, PHANDLE pHandle);
  HANDLE hMonitorPort;
  SendRecvBidiFn pfnSendRecvBidi;
};

// Whether a MONITOR2 table of cbSize bytes reaches as far as one of its entries.
#define MONITOR2_HAS(pMonitor2, entry) \
  ((pMonitor2)->cbSize >= offsetof(MONITOR2, entry) + sizeof((pMonitor2)->entry))

bool HasRequiredEntries2(const MONITOR2* pMonitor2) {
  return pMonitor2 != nullptr && MONITOR2_HAS(pMonitor2, pfnClosePort) &&
         pMonitor2->pfnOpenPort != nullptr && pMonitor2->pfnStartDocPort != nullptr &&
         pMonitor2->pfnWritePort != nullptr && pMonitor2->pfnReadPort != nullptr &&
         pMonitor2->pfnClosePort != nullptr;
}

// Entries past the table's own size are never read.
PortMonitorEntries EntriesOf(HANDLE hMonitorPort, const MONITOR2* pMonitor2) {
  PortMonitorEntries entries = {};
  entries.pfnOpenPort2 = pMonitor2->pfnOpenPort;
  entries.hMonitorPort = hMonitorPort;
  entries.Table.pfnStartDocPort = pMonitor2->pfnStartDocPort;
  entries.Table.pfnWritePort = pMonitor2->pfnWritePort;
  entries.Table.pfnReadPort = pMonitor2->pfnReadPort;
  entries.Table.pfnEndDocPort = pMonitor2->pfnEndDocPort;
  entries.Table.pfnClosePort = pMonitor2->pfnClosePort;
  if (MONITOR2_HAS(pMonitor2, pfnGetPrinterDataFromPort)) {
    entries.Table.pfnGetPrinterDataFromPort = pMonitor2->pfnGetPrinterDataFromPort;
  }
  if (MONITOR2_HAS(pMonitor2, pfnSetPortTimeOuts)) {
    entries.Table.pfnSetPortTimeOuts = pMonitor2->pfnSetPortTimeOuts;
  }
  if (MONITOR2_HAS(pMonitor2, pfnSendRecvBidiDataFromPort)) {
    entries.pfnSendRecvBidi = pMonitor2->pfnSendRecvBidiDataFromPort;
  }
  return entries;
}

#undef MONITOR2_HAS

BOOL OpenRealPort(const PortMonitorEntries& entries, LPWSTR pszPortName, IniPort* pIniPort) {
  if (entries.pfnOpenPort2 != nullptr) {
    return entries.pfnOpenPort2(entries.hMonitorPort, pszPortName, &pIniPort->hPort);
  }
  return entries.Table.pfnOpenPort(pszPortName, &pIniPort->hPort);
}

// The printer name is kept only for finding the printer's settings later; a name that does not
// fit is not kept, and those answers are then unknown.
void KeepPrinterName(IniPort* pIniPort, LPCWSTR pszPrinterName) {
  if (pszPrinterName != nullptr &&
      static_cast<DWORD>(lstrlenW(pszPrinterName)) < kPortPrinterNameChars) {
    lstrcpyW(pIniPort->szPrinterName, pszPrinterName);
  }
}

// Both tables' open: pEntries is NULL when the port monitor's table failed its check.
BOOL OpenPortRecord(LPWSTR pszPortName, LPWSTR pszPrinterName, PHANDLE pHandle,
                    const PortMonitorEntries* pEntries) {
  LogMessage(LOG_INFORM, "**** PJLMonOpenPortEx Called\n");
  BOOL bResult = FALSE;

  if (pEntries == nullptr) {
    SetLastError(ERROR_INVALID_PRINT_MONITOR);
    LogMessage(LOG_INFORM, "**** PjlMon: Invalid port monitors passed to OpenPortEx\n");
  } else if (pHandle == nullptr || pszPortName == nullptr || *pszPortName == 0) {
    // Nowhere to hand the port back, or no port to open: refuse before anything is created.
    SetLastError(ERROR_INVALID_PARAMETER);
  } else {
    EnterMonitorLock();
    if (FindPortRecord(pszPortName) != nullptr) {
      LogMessage(LOG_INFORM, "**** PjlMon: Couldn't find port OpenPortEx\n");
      SetLastError(ERROR_BUSY);
      LeaveMonitorLock();
    } else {
      IniPort* pIniPort = CreatePortRecord(pszPortName);
      // Kept while the lock is held: the settings memory reads it under the lock from the
      // moment the record is listed.
      if (pIniPort != nullptr) {
        KeepPrinterName(pIniPort, pszPrinterName);
      }
      LeaveMonitorLock();
      if (pIniPort == nullptr) {
        LogOpenPortFailed(pszPortName);
        LogMessage(LOG_INFORM, "**** PJLMonOpenPortEx Return\n");
      } else if (!OpenRealPort(*pEntries, pszPortName, pIniPort)) {
        // The port monitor's reason is what the spooler gets, whatever the clean-up does.
        const DWORD dwError = GetLastError();
        LogOpenPortFailed(pszPortName);
        EnterMonitorLock();
        DeletePortRecord(pIniPort);
        LeaveMonitorLock();
        LogMessage(LOG_INFORM, "**** PJLMonOpenPortEx Return\n");
        SetLastError(dwError);
      } else {
        *pHandle = pIniPort->hSpoolerHandle;
        pIniPort->PortMonitor = pEntries->Table;
        pIniPort->pfnPortSendRecvBidi = pEntries->pfnSendRecvBidi;
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

}  // namespace

BOOL WINAPI PJLMonOpenPortEx(LPWSTR pszPortName, LPWSTR pszPrinterName, PHANDLE pHandle,
                             LPMONITOR pMonitor) {
  if (!HasRequiredEntries(pMonitor)) {
    return OpenPortRecord(pszPortName, pszPrinterName, pHandle, nullptr);
  }
  PortMonitorEntries entries = {};
  entries.Table = *pMonitor;
  return OpenPortRecord(pszPortName, pszPrinterName, pHandle, &entries);
}

BOOL WINAPI PJLMonOpenPortEx2(HANDLE /*hMonitor*/, HANDLE hMonitorPort, LPWSTR pszPortName,
                              LPWSTR pszPrinterName, PHANDLE pHandle, LPMONITOR2 pMonitor2) {
  if (!HasRequiredEntries2(pMonitor2)) {
    return OpenPortRecord(pszPortName, pszPrinterName, pHandle, nullptr);
  }
  const PortMonitorEntries entries = EntriesOf(hMonitorPort, pMonitor2);
  return OpenPortRecord(pszPortName, pszPrinterName, pHandle, &entries);
}

BOOL WINAPI PJLMonClosePort(HANDLE hPort) {
  LogMessage(LOG_INFORM, "**** PJLMonClosePort Called\n");
  // From here on the port takes no new call, and a second close is refused; the calls already
  // under way end before anything of the record goes.
  IniPort* pIniPort = BeginPortClose(hPort);
  if (pIniPort == nullptr) {
    return FALSE;
  }
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
