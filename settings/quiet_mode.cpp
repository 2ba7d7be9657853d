#include "settings/quiet_mode.h"

#include "diag/log.h"
#include "monitor/monitor.h"
#include "settings/settings_keys.h"
#include "settings/settings_paths.h"

namespace {

BOOL ReadShowUi(HANDLE hPrinter) {
  // Prompts stay on unless this printer's settings say otherwise.
  LPWSTR pszPath = GetModelSettingsPath(hPrinter);
  if (pszPath == nullptr) {
    return TRUE;
  }

  BOOL fShow = TRUE;
  if (GetPrivateProfileIntW(kSettingsSection, kKeyShowUi, kDefaultShowUi, pszPath) == 0) {
    fShow = FALSE;
    LogMessage(LOG_TRACE, "*** ******************** ***\n");
    LogMessage(LOG_TRACE, "*** Quiet Mode Requested ***\n");
  } else {
    LogMessage(LOG_TRACE, "*** SHOW_UI = 1 *** \n");
  }

  GlobalFree(pszPath);
  return fShow;
}

}  // namespace

BOOL LoadQuietModeSetting(HANDLE hPrinter) {
  // Stored once, so that a question without a job on another thread never sees a passing value.
  const BOOL fShow = ReadShowUi(hPrinter);
  fShowUI = fShow;
  return fShow;
}
