#include "settings/quiet_mode.h"

#include "diag/log.h"
#include "monitor/monitor.h"
#include "settings/settings_keys.h"
#include "settings/settings_paths.h"

void LoadQuietModeSetting(HANDLE hPrinter) {
  // Prompts stay on unless this printer's settings say otherwise.
  fShowUI = TRUE;

  LPWSTR pszPath = GetModelSettingsPath(hPrinter);
  if (pszPath == nullptr) {
    return;
  }

  if (GetPrivateProfileIntW(kSettingsSection, kKeyShowUi, kDefaultShowUi, pszPath) == 0) {
    fShowUI = FALSE;
    LogMessage(LOG_TRACE, "*** ******************** ***\n");
    LogMessage(LOG_TRACE, "*** Quiet Mode Requested ***\n");
  } else {
    LogMessage(LOG_TRACE, "*** SHOW_UI = 1 *** \n");
  }

  GlobalFree(pszPath);
}
