#include "prepare/alignment.h"

#include "diag/log.h"
#include "prepare/unanswered_questions.h"
#include "printer/commands.h"
#include "printer/print_file.h"
#include "printer/status_reader.h"
#include "settings/message_box.h"
#include "settings/print_data.h"

namespace {

constexpr DWORD kAlignPrintSettlePauseMs = 5000;
constexpr DWORD kAlignStatusTimeoutMs = 180000;

}  // namespace

BOOL AlignMarksValid(const StatusRecord* pStatus, BOOL fCheckMarks) {
  if (!fCheckMarks) {
    return TRUE;
  }
  return !(pStatus->bAlignMarkA == kAlignMarkInvalid && pStatus->bAlignMarkB == kAlignMarkInvalid);
}

BOOL OemPtrAlignPrinter(IniPort* pIniPort, IniJob* pIniJob, DWORD dwCartType) {
  const UINT uPrintFileId = IsBlackFamily(dwCartType) ? IDS_ALIGN_FILE_BLACK : IDS_ALIGN_FILE_COLOR;
  LogMessage(LOG_TRACE, "In OemPtrAlignPrinter\n");
  // Once a status asked for the marks to be checked, every later attempt checks them too.
  BOOL fCheckMarks = FALSE;
  LogMessage(LOG_TRACE, "Sending alignment print\n");

  StatusRecord status;
  UnansweredQuestions unanswered;
  while (true) {
    if (!OemPtrOutputFileUSB(pIniJob->hPrinter, pIniPort, pIniJob->pszPrinterName,
                             MAKEINTRESOURCEW(uPrintFileId))) {
      LogMessage(LOG_INFORM, "UNABLE TO SEND ALIGNMENT PRINT\n");
      return FALSE;
    }
    Sleep(kAlignPrintSettlePauseMs);
    LogMessage(LOG_TRACE, " ** Getting NVRAM Data after alignment print\n");
    // The progress dialog is part of the job's prompts: none in its quiet mode.
    if (!WaitForPrinterStatus(pIniPort, &status, kAlignStatusTimeoutMs, PromptsShownFor(pIniJob))) {
      LogMessage(LOG_INFORM, "UNABLE TO GET ALIGNMENT VALUES\n");
      return FALSE;
    }
    LogMessage(LOG_INFORM, "ALIGNMENT SUCCESSFUL\n");
    if (CartState(status) == CART_STATE_CHECK_ALIGN_MARKS) {
      fCheckMarks = TRUE;
    }
    if (AlignMarksValid(&status, fCheckMarks)) {
      break;
    }
    // Cancel keeps the printer's default values; without an answer the defaults are kept too
    // rather than printing alignment pages without end.
    const int answer =
        AskUser(pIniJob, IDS_ALIGN_VALUES_INVALID, MB_SYSTEMMODAL | MB_ICONHAND | MB_OKCANCEL);
    if (answer == IDCANCEL || unanswered.LimitReached(answer)) {
      break;
    }
    LogMessage(LOG_TRACE, "Sending alignment print\n");
  }

  DWORD cbWritten = 0;
  WritePrinterCommand(pIniPort, kAlignFinishCommand, &cbWritten);
  SaveOffPrintData(pIniJob, &status);
  return TRUE;
}
