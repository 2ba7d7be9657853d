#include "settings/quiet_mode.h"

#include "diag/log.h"
#include "records/records.h"
#include "settings/held_settings.h"
#include "settings/settings_keys.h"

namespace {

BOOL ReadShowUi(HANDLE hPrinter) {
  // Prompts stay on unless this printer's settings say otherwise.
  HeldSettings modelIni;
  if (!HoldModelSettings(hPrinter, &modelIni)) {
    return TRUE;
  }

  BOOL fShow = TRUE;
  if (ReadHeldSetting(&modelIni, kKeyShowUi, kDefaultShowUi) == 0) {
    fShow = FALSE;
    LogMessage(LOG_TRACE, "*** ******************** ***\n");
    LogMessage(LOG_TRACE, "*** Quiet Mode Requested ***\n");
  } else {
    LogMessage(LOG_TRACE, "*** SHOW_UI = 1 *** \n");
  }

  ReleaseSettings(&modelIni);
  return fShow;
}

}  // namespace

BOOL LoadQuietModeSetting(HANDLE hPrinter) {
  // Stored once, so that a question without a job on another thread never sees a passing value.
  const BOOL fShow = ReadShowUi(hPrinter);
  fShowUI = fShow;
  return fShow;
}
