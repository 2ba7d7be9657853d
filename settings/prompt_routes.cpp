#include "settings/prompt_routes.h"

#include "diag/log.h"
#include "platform/run_time_functions.h"
#include "settings/held_settings.h"
#include "settings/settings_keys.h"
#include "settings/settings_memory.h"

namespace {

struct SessionPrompts {
  DWORD(WINAPI* pfnIsSessionZero)(HANDLE hPrinter, DWORD JobId, BOOL* pIsSessionZero);
  BOOL(WINAPI* pfnPromptInUsersSession)
  (HANDLE hPrinter, DWORD JobId, PSHOWUIPARAMS pUIParams, DWORD* pResponse);
};

bool FindSessionPrompts(SessionPrompts* pPrompts) {
  return FindSpoolerFunction("SplIsSessionZero", &pPrompts->pfnIsSessionZero) &&
         FindSpoolerFunction("SplPromptUIInUsersSession", &pPrompts->pfnPromptInUsersSession);
}

// The time-out when the printer's file cannot be used at all (its path cannot be built, or a part
// of it is never used): the value last read or written for the printer, else a bounded wait.
DWORD PromptTimeoutWithoutFile(const IniJob* pIniJob) {
  WCHAR szFileName[MAX_PATH];
  UINT uSeconds = kUnreadPromptTimeoutSeconds;
  const bool fNamed = lstrlenW(pIniJob->pszPrinterName) + lstrlenW(kPrinterSettingsExtension) <
                      static_cast<int>(MAX_PATH);
  if (fNamed) {
    lstrcpyW(szFileName, pIniJob->pszPrinterName);
    lstrcatW(szFileName, kPrinterSettingsExtension);
  }
  if (fNamed &&
      RecallSettingOfFileNamed(szFileName, kKeyPromptTimeout, kDefaultPromptTimeout, &uSeconds)) {
    LogMessage(LOG_INFORM,
               "ReadHeldSetting(): %ls of %ls cannot be read, %u as last read or written is "
               "used\n",
               kKeyPromptTimeout, szFileName, uSeconds);
  } else {
    LogMessage(LOG_INFORM,
               "ReadHeldSetting(): %ls of the settings of %ls cannot be read and was never read, "
               "%u is used\n",
               kKeyPromptTimeout, pIniJob->pszPrinterName, uSeconds);
  }
  return uSeconds;
}

// The printer's own time-out for questions in its owner's session, in seconds.
DWORD PromptTimeoutSeconds(const IniJob* pIniJob) {
  HeldSettings printerIni;
  if (!HoldPrinterSettings(pIniJob->hPrinter, pIniJob->pszPrinterName, &printerIni)) {
    return PromptTimeoutWithoutFile(pIniJob);
  }
  const UINT uSeconds = ReadHeldSettingUnknownAs(
      &printerIni, kKeyPromptTimeout, kDefaultPromptTimeout, kUnreadPromptTimeoutSeconds);
  ReleaseSettings(&printerIni);
  return uSeconds;
}

// The route a question of pIniJob takes; *ppszWhyNobody says why when it is Nobody.
PromptRoute ChooseRoute(const IniJob* pIniJob, SessionPrompts* pPrompts, LPCSTR* ppszWhyNobody) {
  if (pIniJob != nullptr && pIniJob->hPrinter != nullptr && FindSessionPrompts(pPrompts)) {
    BOOL fJobInSessionZero = TRUE;
    if (pPrompts->pfnIsSessionZero(pIniJob->hPrinter, pIniJob->JobId, &fJobInSessionZero) !=
        ERROR_SUCCESS) {
      *ppszWhyNobody = "the spooler does not know the job's session";
    } else if (!fJobInSessionZero) {
      return PromptRoute::JobOwner;
    } else {
      *ppszWhyNobody = "the job came from session 0";
    }
  } else if (pIniJob == nullptr || pIniJob->hPrinter == nullptr) {
    *ppszWhyNobody = "no job to show it with";
  } else {
    *ppszWhyNobody = "the spooler cannot show it in the job owner's session";
  }
  return MonitorInSessionZero() ? PromptRoute::Nobody : PromptRoute::Desktop;
}

int ShowInJobOwnersSession(const IniJob* pIniJob, const SessionPrompts& prompts, UINT uTextId,
                           LPCWSTR pszText, LPCWSTR pszCaption, UINT uType) {
  SHOWUIPARAMS params = {};
  params.UIType = kMessageBox;
  params.MessageBoxParams.cbSize = sizeof(MESSAGEBOX_PARAMS);
  params.MessageBoxParams.pTitle = const_cast<LPWSTR>(pszCaption);
  params.MessageBoxParams.pMessage = const_cast<LPWSTR>(pszText);
  params.MessageBoxParams.Style = uType;
  params.MessageBoxParams.dwTimeout = PromptTimeoutSeconds(pIniJob);
  params.MessageBoxParams.bWait = TRUE;

  DWORD dwResponse = 0;
  if (!prompts.pfnPromptInUsersSession(pIniJob->hPrinter, pIniJob->JobId, &params, &dwResponse)) {
    LogMessage(LOG_WARNING,
               "OemPtrMessageBox(): message %u could not be shown in the job owner's session "
               "(error %lu)\n",
               uTextId, GetLastError());
    return 0;
  }
  if (dwResponse == IDTIMEOUT) {
    LogMessage(LOG_WARNING,
               "OemPtrMessageBox(): message %u not answered within %lu s in the job owner's "
               "session\n",
               uTextId, params.MessageBoxParams.dwTimeout);
    return 0;
  }
  LogMessage(LOG_INFORM, "OemPtrMessageBox(): message %u answered %lu in the job owner's session\n",
             uTextId, dwResponse);
  return static_cast<int>(dwResponse);
}

}  // namespace

int ShowPrompt(const IniJob* pIniJob, HWND hWnd, UINT uTextId, LPCWSTR pszText, LPCWSTR pszCaption,
               UINT uType) {
  SessionPrompts prompts = {};
  LPCSTR pszWhyNobody = "";
  switch (ChooseRoute(pIniJob, &prompts, &pszWhyNobody)) {
    case PromptRoute::JobOwner:
      return ShowInJobOwnersSession(pIniJob, prompts, uTextId, pszText, pszCaption, uType);
    case PromptRoute::Nobody:
      LogMessage(LOG_WARNING,
                 "OemPtrMessageBox(): message %u not shown: nobody sees session 0 (%s)\n", uTextId,
                 pszWhyNobody);
      return 0;
    case PromptRoute::Desktop:
      break;
  }
  LogMessage(LOG_TRACE, "Calling MessageBox()\n");
  return MessageBoxW(hWnd, pszText, pszCaption, uType);
}
