#include "printer/status_reader.h"

#include "diag/log.h"
#include "resources/resource_ids.h"
#include "platform/run_time_functions.h"

namespace {

constexpr WCHAR kProgressText[] = WSTR("Aligning the printer...");

// A message that keeps coming back (a window that never validates itself) must not hold the wait:
// at most this many are handled per pause; the rest wait for the next one.
constexpr int kMaxMessagesPerPump = 64;

// Hands the thread's queued window messages to the progress dialog, so that it paints and is
// never taken for a hung window while the spooler thread waits for the printer.
void PumpDialogMessages(HWND hDlg) {
  if (hDlg == nullptr) {
    return;
  }
  MSG msg;
  for (int handled = 0; handled < kMaxMessagesPerPump; ++handled) {
    if (!PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
      break;
    }
    if (!IsDialogMessageW(hDlg, &msg)) {
      TranslateMessage(&msg);
      DispatchMessageW(&msg);
    }
  }
}

// The waits pause for their full length; messages are dispatched first.
void PauseServicingDialog(DWORD dwMilliseconds, HWND hDlg) {
  PumpDialogMessages(hDlg);
  Sleep(dwMilliseconds);
}

// Checks one attempt's record; logs the reason of a rejection. cbRead is what the port monitor
// reported, which is never trusted beyond the record's own size.
bool IsValidRecord(const StatusRecord& record, DWORD cbRead) {
  if (cbRead != kStatusRecordSize) {
    LogMessage(LOG_ERROR, "GetRoboStatusUSB: Wrong number of status bytes: %ld\n",
               static_cast<LONG>(cbRead));
    LogMessage(LOG_ERROR, "GetRoboStatusUSB: Correct number status bytes: %ld\n",
               static_cast<LONG>(kStatusRecordSize));
    return false;
  }
  LogMessage(LOG_TRACE, "GetRoboStatusUSB: Bytes Received from Printer = (%ldL)\n",
             static_cast<LONG>(cbRead));
  if (record.bStartChar != kStatusStartChar || record.bEndChar != kStatusEndChar) {
    LogMessage(LOG_ERROR, "GetRoboStatusUSB: Wrong Start or End Character.\n");
    return false;
  }
  if (record.bNumMesgBytes >= cbRead) {
    LogMessage(LOG_ERROR, "GetRoboStatusUSB: bNumMesgBytes too large: %ld\n",
               static_cast<LONG>(cbRead));
    return false;
  }
  if (StatusChecksum(record) != record.bChecksum) {
    LogMessage(LOG_ERROR, "CHECKSUM ERROR!! TRY AGAIN.\n");
    return false;
  }
  return true;
}

// GetRoboStatusUSB, with the progress dialog (if any) serviced during its pauses.
BOOL ReadFreshStatus(IniPort* pIniPort, StatusRecord* pRecord, DWORD dwTimeout, BOOL fSkipBusy,
                     HWND hDlg) {
  LogMessage(LOG_TRACE, "GetRoboStatusUSB: Called\n");
  bool fReferenceSeen = false;
  BYTE bReferenceNumber = 0;
  const DWORD dwStart = GetTickCount();

  for (;;) {
    LogMessage(LOG_TRACE, "GetRoboStatusUSB: Calling Readfile\n");
    DWORD cbRead = 0;
    const BOOL fRead = pIniPort->PortMonitor.pfnReadPort(
        pIniPort->hPort, reinterpret_cast<LPBYTE>(pRecord), kStatusRecordSize, &cbRead);
    LogMessage(LOG_TRACE, "GetRoboStatusUSB: Readfile Called\n");

    const bool fValid = fRead && IsValidRecord(*pRecord, cbRead);
    if (fValid && !(fSkipBusy && pRecord->bBusyChar == kStatusBusyChar)) {
      // Kept for whoever asks about the printer while the port is busy with a job.
      RememberPortStatus(pIniPort, *pRecord);
      if (!fReferenceSeen) {
        LogMessage(LOG_TRACE, "Got first Status - Record(%d)\n", pRecord->bRecordNumber);
        bReferenceNumber = pRecord->bRecordNumber;
        fReferenceSeen = true;
      } else if (pRecord->bRecordNumber != bReferenceNumber) {
        LogMessage(LOG_TRACE, "Got 2nd Status - Record(%d))\n", pRecord->bRecordNumber);
        LogMessage(LOG_TRACE, "OemPtrGetRoboStatus() returning (TRUE)\n");
        return TRUE;
      }
    }

    // Unsigned difference: a wrap of the tick count in between is harmless.
    if (GetTickCount() - dwStart > dwTimeout) {
      LogMessage(LOG_ERROR, "GetRoboStatusUSB: TIMED OUT.\n");
      if (fValid) {
        LogMessage(LOG_TRACE, "OemPtrGetRoboStatus() returning (TRUE)\n");
        return TRUE;
      }
      LogMessage(LOG_INFORM, "OemPtrGetRoboStatus() returning (FALSE)\n");
      return FALSE;
    }
    PauseServicingDialog(kStatusReadPause, hDlg);
  }
}

}  // namespace

BOOL GetRoboStatusUSB(IniPort* pIniPort, StatusRecord* pRecord, DWORD dwTimeout, BOOL fSkipBusy) {
  return ReadFreshStatus(pIniPort, pRecord, dwTimeout, fSkipBusy, nullptr);
}

BOOL WaitForPrinterStatus(IniPort* pIniPort, StatusRecord* pRecord, DWORD dwTimeout,
                          BOOL fShowProgress) {
  LogMessage(LOG_TRACE, "WaitForPrinterStatus: Called\n");

  HWND hDlg = nullptr;
  // Nobody would see the dialog on the desktop of session 0.
  if (fShowProgress && MonitorInSessionZero()) {
    LogMessage(LOG_INFORM, "WaitForPrinterStatus: no progress dialog in session 0\n");
  } else if (fShowProgress) {
    hDlg = CreateDialogParamW(hInst, MAKEINTRESOURCEW(IDD_ALIGN_PROGRESS), nullptr,
                              OemDlgProcAlignProgress, 0);
    if (hDlg != nullptr) {
      ShowWindow(hDlg, SW_SHOW);
      SetDlgItemTextW(hDlg, IDC_ALIGN_PROGRESS_TEXT, kProgressText);
      PumpDialogMessages(hDlg);
    }
  }

  BOOL fResult = FALSE;
  const DWORD dwStart = GetTickCount();
  for (;;) {
    if (ReadFreshStatus(pIniPort, pRecord, dwTimeout, TRUE, hDlg)) {
      fResult = TRUE;
      break;
    }
    PauseServicingDialog(kStatusWaitPause, hDlg);
    if (GetTickCount() - dwStart > dwTimeout) {
      LogMessage(LOG_ERROR, "**** TIMED OUT Waiting for Status update\n");
      break;
    }
  }

  if (fShowProgress && hDlg != nullptr) {
    LogMessage(LOG_TRACE, "Closing GetStatus Dialog\n");
    DestroyWindow(hDlg);
  }
  LogMessage(LOG_TRACE, fResult ? "WaitForPrinterStatus: returning TRUE\n"
                                : "WaitForPrinterStatus: returning FALSE\n");
  return fResult ? 1 : 0;
}

INT_PTR CALLBACK OemDlgProcAlignProgress(HWND hDlg, UINT uMsg, WPARAM wParam, LPARAM lParam) {
  (void)lParam;
  switch (uMsg) {
    case WM_INITDIALOG:
      SetDlgItemTextW(hDlg, IDC_ALIGN_PROGRESS_TEXT, kProgressText);
      ShowWindow(GetDlgItem(hDlg, IDC_ALIGN_PROGRESS_TEXT), SW_SHOW);
      LogMessage(LOG_INFORM, "OemDlgProcAlignProgress(WM_INITDIALOG) Called\n");
      LogMessage(LOG_TRACE, "OemDlgProcAlignProgress() returning (TRUE)\n");
      return TRUE;
    case WM_COMMAND:
      if (LOWORD(wParam) == IDC_ALIGN_PROGRESS_TEXT) {
        LogMessage(LOG_TRACE, "OemDlgProcAlignProgress() returning (TRUE)\n");
        return TRUE;
      }
      LogMessage(LOG_TRACE, "OemDlgProcPrintProgress(WM_COMMAND:0x%lX) Called\n",
                 static_cast<DWORD>(wParam));
      return FALSE;
    default:
      return FALSE;
  }
}
