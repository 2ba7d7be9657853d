// Job data on its way to the printer: passed through untouched, and cut so that every job
// header starts a write of its own, where the pre-job check runs before it is sent.
#include "diag/log.h"
#include "monitor/byte_search.h"
#include "monitor/monitor.h"
#include "prepare/pre_job_check.h"

namespace {

// Writes this short are never scanned.
constexpr DWORD kMinimumScannedWrite = 51;
constexpr BYTE kJobHeaderTrailer[4] = {0xA5, 0x00, 0x06, 0x40};

struct ScanResult {
  DWORD cbToSend;
  bool fHeaderAtStart;
};

bool IsJobHeader(const BYTE* p, const JobHeaderPattern& pattern) {
  const DWORD cbHeader = pattern.cbHeader;
  return p[1] == pattern.bStart[1] && p[2] == pattern.bStart[2] && p[3] == pattern.bStart[3] &&
         p[cbHeader - 4] == kJobHeaderTrailer[0] && p[cbHeader - 3] == kJobHeaderTrailer[1] &&
         p[cbHeader - 2] == kJobHeaderTrailer[2] && p[cbHeader - 1] == kJobHeaderTrailer[3];
}

// One forward pass over the escape bytes. A header at offset 0 is noted and passed over; a later
// header, or an escape byte too close to the end to be judged, ends the write just before it.
ScanResult ScanForJobHeader(const BYTE* pBuffer, DWORD cbBuf, const JobHeaderPattern& pattern) {
  ScanResult result = {cbBuf, false};
  // From here on no more than the header's length and one byte remain behind an escape.
  const DWORD cbHeader = pattern.cbHeader;
  const DWORD nearEnd = cbBuf > cbHeader && cbBuf - cbHeader > 1 ? cbBuf - cbHeader - 1 : 0;
  ByteFinder escapes(pBuffer, cbBuf, pattern.bStart[0]);
  for (DWORD i = escapes.Next(); i < cbBuf; i = escapes.Next()) {
    if (i >= nearEnd) {
      result.cbToSend = i;
      return result;
    }
    if (IsJobHeader(pBuffer + i, pattern)) {
      if (i > 0) {
        result.cbToSend = i;
        return result;
      }
      result.fHeaderAtStart = true;
    }
  }
  return result;
}

BOOL WriteJobData(IniPort* pIniPort, LPBYTE pBuffer, DWORD cbBuf, LPDWORD pcbWritten) {
  ScanResult scan = {cbBuf, false};
  if (PortStatusHas(pIniPort, PORT_FIRST_WRITE | PORT_NO_HEADER_SCAN)) {
    LogMessage(LOG_INFORM, "**** First Write - Do not look for Header\n");
  } else if (cbBuf >= kMinimumScannedWrite && pBuffer != nullptr &&
             pIniPort->HeaderPattern.cbHeader >= sizeof(pIniPort->HeaderPattern.bStart)) {
    // A port that never started a job has no pattern to look for, and is not scanned.
    scan = ScanForJobHeader(pBuffer, cbBuf, pIniPort->HeaderPattern);
  }

  if (scan.fHeaderAtStart) {
    IniJob* pIniJob = pIniPort->pIniJob;
    if (PortStatusHas(pIniPort, PORT_CHECK_FAILED)) {
      // The check refused this job and its jobs are deleted, but the spooler may offer the
      // header again (its delete may have failed): it never goes out unchecked.
      LogMessage(LOG_INFORM, "Header found -- the check failed on this port, not sent\n");
      LogMessage(LOG_TRACE, "**** LANGMON: PJLWritePort Returning\n");
      SetLastError(ERROR_PRINT_CANCELLED);
      return FALSE;
    }
    if (pIniJob == nullptr) {
      // The job started without a printer of its own to ask; there is nobody to check with.
      LogMessage(LOG_WARNING, "Header found -- no job record, sent without the check\n");
    } else {
      LogMessage(LOG_INFORM, "Header found -- Prepare for next print\n");
      if (!PrepareForNextPrint(pIniJob, pIniPort)) {
        SetPortStatus(pIniPort, PORT_CHECK_FAILED);
        AbortJobs(pIniPort);
        LogMessage(LOG_INFORM, "PrepareForNextPrint( ) failed!  Jobs Aborted\n");
        LogMessage(LOG_TRACE, "**** LANGMON: PJLWritePort Returning\n");
        // The jobs are gone: the spooler shows the job cancelled, not whatever failed last.
        SetLastError(ERROR_PRINT_CANCELLED);
        return FALSE;
      }
      LogMessage(LOG_INFORM, "PrepareForNextPrint( ) successful!\n");
    }
  }

  BOOL bResult = TRUE;
  if (scan.cbToSend == 0) {
    LogMessage(LOG_ERROR, "**** cbBuf==0\n");
  } else {
    bResult =
        pIniPort->PortMonitor.pfnWritePort(pIniPort->hPort, pBuffer, scan.cbToSend, pcbWritten);
    if (bResult) {
      // Only a job's first write finds the bit set; the others skip the locked update.
      if (PortStatusHas(pIniPort, PORT_FIRST_WRITE)) {
        ClearPortStatus(pIniPort, PORT_FIRST_WRITE);
      }
    } else {
      LogMessage(LOG_ERROR, "**** WritePort failed\n");
    }
  }
  LogMessage(LOG_TRACE, "**** LANGMON: PJLWritePort Returning\n");
  return bResult;
}

}  // namespace

BOOL WINAPI PJLWritePort(HANDLE hPort, LPBYTE pBuffer, DWORD cbBuf, LPDWORD pcbWritten) {
  LogMessage(LOG_TRACE, "**** LANGMON: PJLWritePort Called\n");
  return CallOnOpenPort(hPort, FALSE, [&](IniPort* pIniPort) {
    return WriteJobData(pIniPort, pBuffer, cbBuf, pcbWritten);
  });
}
