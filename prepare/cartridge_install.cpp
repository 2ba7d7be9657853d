#include "prepare/cartridge_install.h"

#include "diag/log.h"
#include "prepare/cartridges.h"
#include "prepare/unanswered_questions.h"
#include "printer/commands.h"
#include "printer/status_reader.h"
#include "settings/held_settings.h"
#include "settings/print_data.h"
#include "settings/settings_keys.h"

namespace {

constexpr DWORD kCartridgeSettlePauseMs = 4000;
constexpr DWORD kCartridgeStatusTimeoutMs = 10000;
constexpr WCHAR kWarnLevelReset[] = WSTR("1");

// A different yellow counter means a different cartridge: its family starts unwarned again.
void ResetWarnLevelIfCartridgeChanged(const IniJob* pIniJob, const StatusRecord& status,
                                      DWORD dwYellowAtStart) {
  HeldSettings printerIni;
  if (!HoldPrinterSettings(pIniJob->hPrinter, pIniJob->pszPrinterName, &printerIni)) {
    return;
  }
  if (YellowSpits(status) != dwYellowAtStart) {
    if (IsBlackFamily(status.bCartType)) {
      LogMessage(LOG_INFORM, "Resetting Black WarnLevel\n");
      WriteHeldSetting(&printerIni, kKeyWarnLevelBlack, kWarnLevelReset);
    } else {
      LogMessage(LOG_INFORM, "Resetting Color WarnLevel\n");
      WriteHeldSetting(&printerIni, kKeyWarnLevelColor, kWarnLevelReset);
    }
  }
  LogMessage(LOG_TRACE, ">>GlobalFree ptr specific ini %p\n",
             static_cast<void*>(printerIni.pszPath));
  ReleaseSettings(&printerIni);
}

}  // namespace

BOOL InstallCartridges(IniPort* pIniPort, IniJob* pIniJob, StatusRecord* pStatus,
                       BOOL fPromptFirst) {
  const DWORD dwYellowAtStart = YellowSpits(*pStatus);
  bool fFirstPass = true;
  DWORD cbWritten = 0;
  UnansweredQuestions unanswered;
  LogMessage(LOG_INFORM, "In InstallCartridges\n");

  while (true) {
    if (fFirstPass && !fPromptFirst) {
      fFirstPass = false;
    } else {
      WritePrinterCommand(pIniPort, kCartChangeStartCommand, &cbWritten);
      AskUser(pIniJob, IDS_CHANGE_CARTRIDGE, MB_SYSTEMMODAL | MB_ICONINFORMATION | MB_OK);
      LogMessage(LOG_INFORM, "Label terminating cart install\n");
      WritePrinterCommand(pIniPort, kCartChangeEndCommand, &cbWritten);
    }

    Sleep(kCartridgeSettlePauseMs);
    LogMessage(LOG_INFORM, "Checking cartridges\n");
    // Read into a record of our own: a wait that fails may leave a rejected record behind, and
    // such bytes must never be stored as counters or judged as a cartridge.
    StatusRecord fresh;
    if (!WaitForPrinterStatus(pIniPort, &fresh, kCartridgeStatusTimeoutMs, FALSE)) {
      LogMessage(LOG_INFORM, "Failed to get updated cartridge information\n");
      const int answer =
          AskUser(pIniJob, IDS_NO_CARTRIDGE_INFO, MB_SYSTEMMODAL | MB_ICONHAND | MB_RETRYCANCEL);
      if (answer == IDCANCEL || unanswered.LimitReached(answer)) {
        return FALSE;
      }
      continue;
    }
    *pStatus = fresh;

    SaveOffPrintData(pIniJob, pStatus);
    const INT cartridges = CheckCartridges(pStatus);
    LogMessage(LOG_INFORM, " **Check Cartridges %i\n", cartridges);
    if (cartridges == kCartridgesOk) {
      ResetWarnLevelIfCartridgeChanged(pIniJob, *pStatus, dwYellowAtStart);
      return TRUE;
    }

    const UINT uQuestion =
        cartridges == kCartridgeInvalid ? IDS_INVALID_CARTRIDGE : IDS_NO_CARTRIDGE;
    const int answer = AskUser(pIniJob, uQuestion, MB_SYSTEMMODAL | MB_ICONHAND | MB_OKCANCEL);
    if (answer == IDCANCEL) {
      LogMessage(LOG_INFORM, " **Check Cartridges user chose to cancel\n");
      return FALSE;
    }
    if (unanswered.LimitReached(answer)) {
      return FALSE;
    }
  }
}
