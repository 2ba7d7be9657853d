#include "settings/print_data.h"

#include "diag/log.h"
#include "settings/settings_keys.h"
#include "settings/settings_paths.h"
#include "settings/wide_number.h"

namespace {

void WriteCounter(LPCWSTR pszPath, LPCWSTR pszKey, DWORD dwValue, const char* pszFailure) {
  WCHAR szValue[kDecimalTextSize];
  FormatUnsignedDecimal(dwValue, szValue);
  if (!WritePrivateProfileStringW(kSettingsSection, pszKey, szValue, pszPath)) {
    LogMessage(LOG_ERROR, "%s", pszFailure);
  }
}

}  // namespace

BOOL SaveOffPrintData(const IniJob* pIniJob, const StatusRecord* pStatus) {
  LogMessage(LOG_TRACE, "In SaveOffPrintData\n");

  LPWSTR pszPath = nullptr;
  if (pIniJob != nullptr && pStatus != nullptr) {
    pszPath = GetPrinterSettingsPath(pIniJob->hPrinter, pIniJob->pszPrinterName);
  }
  if (pszPath == nullptr) {
    LogMessage(LOG_INFORM, "Failed to save off printer data\n");
    return FALSE;
  }

  WriteCounter(pszPath, kKeyCyanSpits, CyanSpits(*pStatus), "Set CyanSpits FAILED\n");
  WriteCounter(pszPath, kKeyMagentaSpits, MagentaSpits(*pStatus), "Set MagentaSpits FAILED\n");
  WriteCounter(pszPath, kKeyYellowSpits, YellowSpits(*pStatus), "Set YellowSpits FAILED\n");

  LogMessage(LOG_TRACE, ">>GlobalFree ptr %p\n", static_cast<void*>(pszPath));
  GlobalFree(pszPath);
  return TRUE;
}
