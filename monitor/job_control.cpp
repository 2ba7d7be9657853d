// Start and end of a job on a port, the port's job list, and deleting a failed job's work.
#include <cstring>

#include "diag/log.h"
#include "monitor/monitor.h"
#include "records/no_case_compare.h"
#include "resources/resource_ids.h"
#include "settings/message_box.h"
#include "settings/quiet_mode.h"

namespace {

// The version this monitor reports when a job starts.
constexpr int kMonitorVersion = 8;

// Retires every job on the port, whatever its id.
constexpr DWORD kAllJobs = 0xFFFFFFFF;

// Print-to-file ports and the driver's own command documents carry no job header to check.
constexpr WCHAR kFilePortPrefix[] = WSTR("File");
constexpr int kFilePortPrefixChars = 4;
constexpr WCHAR kCommandDocumentName[] = WSTR("Brindlemarsten Command");
constexpr int kCommandDocumentChars = 20;

constexpr UINT kFailedStartBoxType = MB_SYSTEMMODAL | MB_ICONHAND | MB_OK;

bool SkipsHeaderScan(const IniPort* pIniPort, const DOC_INFO_1W* pDocInfo) {
  return StartsWithNoCase(pIniPort->pszPortName, kFilePortPrefix, kFilePortPrefixChars) ||
         StartsWithNoCase(pDocInfo->pDocName, kCommandDocumentName, kCommandDocumentChars);
}

// Tells the user once that the printer cannot be reached; later failures stay silent until a
// job starts again. The flag is set even when quiet mode swallows the box. The box follows the
// quiet mode this start read, fShowPrompts.
void WarnOnFailedStart(const IniJob* pIniJob, BOOL fShowPrompts, LPCWSTR pszPrinterName) {
  // Tested and set in one step: of starts failing at once on several ports, one tells the user.
  if (!fWarnedOnFailedStart.exchange(TRUE)) {
    OemPtrMessageBoxForStart(pIniJob, fShowPrompts, MAKEINTRESOURCEW(IDS_NO_COMMUNICATION),
                             pszPrinterName, kFailedStartBoxType);
    LogMessage(LOG_ERROR, "**** LANGMON: WARN and set fWarnedOnFailedStart\n");
  } else {
    LogMessage(LOG_ERROR, "**** LANGMON: DO NOT WARN\n");
  }
}

// The job's own record with its printer opened, or NULL when either cannot be had.
IniJob* CreateJobRecord(LPCWSTR pszPrinterName, DWORD JobId) {
  // The record carries its own copy of the printer name right behind it.
  const DWORD cbName = (static_cast<DWORD>(lstrlenW(pszPrinterName)) + 1) * sizeof(WCHAR);
  auto* pIniJob = static_cast<IniJob*>(AllocZeroed(sizeof(IniJob) + cbName));
  if (pIniJob == nullptr) {
    LogMessage(LOG_INFORM, "**** LANGMON: pIniJob = NULL\n");
    return nullptr;
  }
  pIniJob->pszPrinterName = reinterpret_cast<LPWSTR>(pIniJob + 1);
  lstrcpyW(pIniJob->pszPrinterName, pszPrinterName);
  pIniJob->JobId = JobId;

  if (!OpenPrinterW(pIniJob->pszPrinterName, &pIniJob->hPrinter, nullptr)) {
    LogMessage(LOG_ERROR, "**** LANGMON: PJLMonStartDocPort failed to open printer\n");
    pIniJob->hPrinter = nullptr;
    FreeJobRecord(pIniJob);
    return nullptr;
  }
  return pIniJob;
}

BOOL StartFailed(DWORD dwError) {
  LogMessage(LOG_INFORM, "**** PJLStartDocPortEx Return FALSE\n");
  SetLastError(dwError);
  return FALSE;
}

// Releases a chain of jobs that is no longer listed, telling the spooler each one is done.
void RetireChain(IniJob* pIniJob) {
  while (pIniJob != nullptr) {
    IniJob* pNext = pIniJob->pNext;
    ReportLastPageEjected(pIniJob);
    FreeJobRecord(pIniJob);
    pIniJob = pNext;
  }
}

BOOL ParamsInvalid() {
  SetLastError(ERROR_INVALID_PARAMETER);
  LogMessage(LOG_INFORM, "**** LANGMON: PJLMonStartDocPort params Invalid\n");
  return FALSE;
}

BOOL StartJob(IniPort* pIniPort, LPWSTR pszPrinterName, DWORD JobId, DWORD Level, LPBYTE pDocInfo) {
  if (pDocInfo == nullptr || pszPrinterName == nullptr || pszPrinterName[0] == 0) {
    return ParamsInvalid();
  }

  if (Level != 1) {
    SetLastError(ERROR_INVALID_LEVEL);
    LogMessage(LOG_INFORM, "**** LANGMON: Error dwLevel = %i\n", static_cast<int>(Level));
    return FALSE;
  }

  std::atomic_ref<BOOL>(pIniPort->fJobSeen).store(TRUE);

  // Testing the port and taking it are one step: of two starts that overlap, only one gets the
  // port and the other is told it is busy, as it would be a moment later. Two starts that both
  // got past a plain test would share the port, and the first job's end would retire the second
  // job's record while its data is still to come, unchecked.
  if (TestAndSetPortStatus(pIniPort, PORT_IN_JOB)) {
    SetLastError(ERROR_BUSY);
    LogMessage(LOG_INFORM, "**** LANGMON: PJLMonStartDocPort port busy\n");
    return FALSE;
  }

  // Without a record of our own the job is not held up: it starts at the port monitor like any
  // other, but nothing is listed, so the write path sends its data without the check.
  IniJob* pIniJob = CreateJobRecord(pszPrinterName, JobId);
  // The job keeps what its own printer says: other jobs starting meanwhile change only fShowUI.
  // Without a printer to ask there is nothing to read, and the quiet mode of every other printer
  // stays as the latest start left it.
  BOOL fShowPrompts = fShowUI.load();
  if (pIniJob != nullptr) {
    fShowPrompts = LoadQuietModeSetting(pIniJob->hPrinter);
    pIniJob->prompts = fShowPrompts ? JobPrompts::Shown : JobPrompts::Quiet;
  }

  const BOOL fStarted =
      pIniPort->PortMonitor.pfnStartDocPort(pIniPort->hPort, pszPrinterName, JobId, 1, pDocInfo);
  if (!fStarted) {
    // The port monitor's reason is what the spooler gets, whatever the box and clean-up do.
    const DWORD dwError = GetLastError();
    ClearPortStatus(pIniPort, PORT_IN_JOB);
    WarnOnFailedStart(pIniJob, fShowPrompts, pszPrinterName);
    LogMessage(LOG_ERROR, "**** LANGMON: pfnStartDocPort FAILED\n");
    if (pIniJob != nullptr) {
      FreeJobRecord(pIniJob);
    }
    return StartFailed(dwError);
  }

  fWarnedOnFailedStart = FALSE;
  // A new job: a header of it is checked again.
  ClearPortStatus(pIniPort, PORT_CHECK_FAILED);

  if (SkipsHeaderScan(pIniPort, reinterpret_cast<const DOC_INFO_1W*>(pDocInfo))) {
    SetPortStatus(pIniPort, PORT_NO_HEADER_SCAN);
  } else {
    ClearPortStatus(pIniPort, PORT_NO_HEADER_SCAN);
  }

  pIniPort->HeaderPattern.cbHeader = kJobHeaderLength;
  memcpy(pIniPort->HeaderPattern.bStart, kJobHeaderStart, sizeof(kJobHeaderStart));

  SetPortStatus(pIniPort, PORT_FIRST_WRITE);

  if (pIniJob != nullptr) {
    EnterMonitorLock();
    pIniJob->pNext = pIniPort->pIniJob;
    pIniPort->pIniJob = pIniJob;
    LeaveMonitorLock();
  }

  // Passes only when the port's previous job has ended.
  WaitForSingleObject(pIniPort->hEvent, INFINITE);

  LogMessage(LOG_INFORM, "**** PJLStartDocPortEx Return\n");
  LogMessage(LOG_INFORM, "**** PJLStartDocPortEx Return TRUE\n");
  return fStarted;
}

BOOL EndJob(IniPort* pIniPort) {
  // Only the id is kept: the record itself may be gone by the time the port monitor returns.
  bool fHaveJob = false;
  DWORD dwNewestJobId = 0;
  EnterMonitorLock();
  if (pIniPort->pIniJob != nullptr) {
    fHaveJob = true;
    dwNewestJobId = pIniPort->pIniJob->JobId;
  }
  LeaveMonitorLock();

  if (pIniPort->PortMonitor.pfnEndDocPort != nullptr) {
    pIniPort->PortMonitor.pfnEndDocPort(pIniPort->hPort);
  }

  if (fHaveJob) {
    RetireJobs(pIniPort, dwNewestJobId);
  }

  ClearPortStatus(pIniPort, PORT_IN_JOB);
  SetEvent(pIniPort->hEvent);

  LogMessage(LOG_INFORM, "**** PJLMonEndDocPort Returning\n");
  return TRUE;
}

}  // namespace

BOOL WINAPI PJLMonStartDocPort(HANDLE hPort, LPWSTR pszPrinterName, DWORD JobId, DWORD Level,
                               LPBYTE pDocInfo) {
  LogMessage(LOG_INFORM, "**** LANGMON: PJLMonStartDocPort Called. Ver=%i\n", kMonitorVersion);
  IniPort* pIniPort = BeginPortCall(hPort);
  if (pIniPort == nullptr) {
    return ParamsInvalid();
  }
  const PortCallScope scope = {pIniPort};
  return StartJob(pIniPort, pszPrinterName, JobId, Level, pDocInfo);
}

BOOL WINAPI PJLMonEndDocPort(HANDLE hPort) {
  LogMessage(LOG_INFORM, "**** PJLMonEndDocPort Called\n");
  return CallOnOpenPort(hPort, FALSE, EndJob);
}

void ReportLastPageEjected(IniJob* pIniJob) {
  SetJobW(pIniJob->hPrinter, pIniJob->JobId, 0, nullptr, JOB_CONTROL_LAST_PAGE_EJECTED);
}

IniJob* FindJobById(IniPort* pIniPort, DWORD JobId, IniJob** ppPrevious) {
  IniJob* pFound = nullptr;
  IniJob* pFoundPrevious = nullptr;
  IniJob* pPrevious = nullptr;
  // The oldest job with the id wins, so the walk goes on to the end of the list.
  for (IniJob* pIniJob = pIniPort->pIniJob; pIniJob != nullptr; pIniJob = pIniJob->pNext) {
    if (pIniJob->JobId == JobId) {
      pFound = pIniJob;
      pFoundPrevious = pPrevious;
    }
    pPrevious = pIniJob;
  }
  if (ppPrevious != nullptr) {
    *ppPrevious = pFoundPrevious;
  }
  return pFound;
}

void RetireJobs(IniPort* pIniPort, DWORD JobId) {
  EnterMonitorLock();

  IniJob* pFirst = nullptr;
  if (JobId == kAllJobs) {
    pFirst = pIniPort->pIniJob;
    pIniPort->pIniJob = nullptr;
  } else {
    IniJob* pPrevious = nullptr;
    pFirst = FindJobById(pIniPort, JobId, &pPrevious);
    if (pFirst != nullptr) {
      // The job and everything older leave the list together.
      if (pPrevious == nullptr) {
        pIniPort->pIniJob = nullptr;
      } else {
        pPrevious->pNext = nullptr;
      }
    }
  }
  RetireChain(pFirst);

  LeaveMonitorLock();
}

void AbortJobs(IniPort* pIniPort) {
  LogMessage(LOG_INFORM, "Deleting the print job(s) in AbortJobs()\n");

  EnterMonitorLock();
  IniJob* pIniJob = pIniPort->pIniJob;
  pIniPort->pIniJob = nullptr;
  while (pIniJob != nullptr) {
    IniJob* pNext = pIniJob->pNext;
    if (!SetJobW(pIniJob->hPrinter, pIniJob->JobId, 0, nullptr, JOB_CONTROL_DELETE)) {
      LogMessage(LOG_WARNING, "SetJob failed with last error %lu\n", GetLastError());
    }
    FreeJobRecord(pIniJob);
    pIniJob = pNext;
  }
  LeaveMonitorLock();

  LogMessage(LOG_INFORM, "Leaving AbortJobs()\n");
}
