// Reads from the printer on the spooler's behalf: plain reads, and the vendor status query that
// returns the newest raw back-channel bytes between jobs.
#include "diag/log.h"
#include "monitor/monitor.h"

namespace {

constexpr DWORD kSnapshotReadSize = kStatusSnapshotSize - 1;
constexpr DWORD kDrainPauseMs = 100;

constexpr WCHAR kInstalledMemoryName[] = WSTR("Installed Memory");
constexpr WCHAR kAvailableMemoryName[] = WSTR("Available Memory");
constexpr WCHAR kVendorStatusName[] = WSTR("VELMORA");

// The read of an open port, once its handle has been taken.
BOOL ReadOpenPort(IniPort* pIniPort, LPBYTE pBuffer, DWORD cbBuffer, LPDWORD pcbRead) {
  LogMessage(LOG_TRACE, "**** PJLMonReadPort Returning\n");
  return pIniPort->PortMonitor.pfnReadPort(pIniPort->hPort, pBuffer, cbBuffer, pcbRead);
}

// A read of the status query, which holds the port already; logged as the spooler's reads are.
BOOL ReadForSnapshot(IniPort* pIniPort, LPBYTE pBuffer, DWORD cbBuffer, LPDWORD pcbRead) {
  LogMessage(LOG_TRACE, "**** LANGMON: PJLMonReadPort Called\n");
  return ReadOpenPort(pIniPort, pBuffer, cbBuffer, pcbRead);
}

// The newest piece of back-channel data that one call read, NUL-terminated.
struct Snapshot {
  DWORD cbData;
  BYTE bytes[kStatusSnapshotSize];
};

// Drains the back channel into the caller's snapshot, then stores it in the port as its latest.
// Queries on several spooler threads may drain one port at once: each answers from what it read
// itself, and the port's copy is only changed under the lock, so no query sees a mix of two.
BOOL ReadStatusSnapshot(IniPort* pIniPort, Snapshot* pSnapshot) {
  BOOL fGotData = FALSE;
  BYTE buffer[kStatusSnapshotSize];
  DWORD cbRead = 0;
  BOOL fRead = ReadForSnapshot(pIniPort, buffer, kSnapshotReadSize, &cbRead);
  while (fRead) {
    if (cbRead > 0) {
      // A port monitor that claims more than it was offered is held to what fits.
      const DWORD cbKept = cbRead < kSnapshotReadSize ? cbRead : kSnapshotReadSize;
      pSnapshot->cbData = cbKept;
      for (DWORD i = 0; i < cbKept; ++i) {
        pSnapshot->bytes[i] = buffer[i];
      }
      pSnapshot->bytes[cbKept] = 0;
      fGotData = TRUE;
    }
    if (cbRead != kSnapshotReadSize) {
      break;
    }
    // A full read means more is waiting: keep draining so the newest bytes win.
    Sleep(kDrainPauseMs);
    cbRead = 0;
    fRead = ReadForSnapshot(pIniPort, buffer, kSnapshotReadSize, &cbRead);
  }
  if (fGotData) {
    EnterMonitorLock();
    pIniPort->cbStatusSnapshot = pSnapshot->cbData;
    for (DWORD i = 0; i <= pSnapshot->cbData; ++i) {
      pIniPort->StatusSnapshot[i] = pSnapshot->bytes[i];
    }
    LeaveMonitorLock();
  }
  return fGotData;
}

}  // namespace

BOOL TakeStatusSnapshot(IniPort* pIniPort) {
  Snapshot snapshot{};
  return ReadStatusSnapshot(pIniPort, &snapshot);
}

namespace {

BOOL AnswerPrinterData(IniPort* pIniPort, DWORD ControlID, LPWSTR pValueName, LPWSTR lpInBuffer,
                       DWORD cbInBuffer, LPWSTR lpOutBuffer, DWORD cbOutBuffer,
                       LPDWORD lpcbReturned) {
  if (ControlID != 0) {
    if (pIniPort->PortMonitor.pfnGetPrinterDataFromPort == nullptr) {
      SetLastError(ERROR_INVALID_PARAMETER);
      return FALSE;
    }
    return pIniPort->PortMonitor.pfnGetPrinterDataFromPort(pIniPort->hPort, ControlID, pValueName,
                                                           lpInBuffer, cbInBuffer, lpOutBuffer,
                                                           cbOutBuffer, lpcbReturned);
  }

  if (pValueName == nullptr) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  const bool fMemoryName = lstrcmpiW(pValueName, kInstalledMemoryName) == 0 ||
                           lstrcmpiW(pValueName, kAvailableMemoryName) == 0;
  const bool fVendorName = !fMemoryName && lstrcmpiW(pValueName, kVendorStatusName) == 0;
  if (!fMemoryName && !fVendorName) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }

  // A job's own status conversation owns the back channel while it runs.
  BOOL fFresh = FALSE;
  Snapshot snapshot{};
  if (!PortStatusHas(pIniPort, PORT_IN_JOB)) {
    fFresh = ReadStatusSnapshot(pIniPort, &snapshot);
  }

  BOOL bResult = FALSE;
  if (!fVendorName || !fFresh || lpOutBuffer == nullptr) {
    SetLastError(ERROR_INVALID_PARAMETER);
  } else {
    const DWORD cbCopy = cbOutBuffer < snapshot.cbData ? cbOutBuffer : snapshot.cbData;
    if (lpcbReturned != nullptr) {
      *lpcbReturned = cbCopy;
    }
    OutputDebugStringA(reinterpret_cast<LPCSTR>(snapshot.bytes));
    BYTE* pOut = reinterpret_cast<BYTE*>(lpOutBuffer);
    for (DWORD i = 0; i < cbCopy; ++i) {
      pOut[i] = snapshot.bytes[i];
    }
    bResult = TRUE;
  }

  SetEvent(pIniPort->hEvent);
  return bResult;
}

}  // namespace

BOOL WINAPI PJLMonReadPort(HANDLE hPort, LPBYTE pBuffer, DWORD cbBuffer, LPDWORD pcbRead) {
  LogMessage(LOG_TRACE, "**** LANGMON: PJLMonReadPort Called\n");
  return CallOnOpenPort(hPort, FALSE, [&](IniPort* pIniPort) {
    return ReadOpenPort(pIniPort, pBuffer, cbBuffer, pcbRead);
  });
}

BOOL WINAPI GetPrinterDataFromPort(HANDLE hPort, DWORD ControlID, LPWSTR pValueName,
                                   LPWSTR lpInBuffer, DWORD cbInBuffer, LPWSTR lpOutBuffer,
                                   DWORD cbOutBuffer, LPDWORD lpcbReturned) {
  // Like every other entry, only an open port of ours is served.
  return CallOnOpenPort(hPort, FALSE, [&](IniPort* pIniPort) {
    return AnswerPrinterData(pIniPort, ControlID, pValueName, lpInBuffer, cbInBuffer, lpOutBuffer,
                             cbOutBuffer, lpcbReturned);
  });
}
