#include "settings/print_data.h"

#include "diag/log.h"
#include "settings/settings_keys.h"
#include "settings/wide_number.h"

namespace {

void WriteCounter(HeldSettings* pHeld, LPCWSTR pszKey, DWORD dwValue, const char* pszFailure) {
  WCHAR szValue[kDecimalTextSize];
  FormatUnsignedDecimal(dwValue, szValue);
  if (!WriteHeldSetting(pHeld, pszKey, szValue)) {
    LogMessage(LOG_ERROR, "%s", pszFailure);
  }
}

}  // namespace

BOOL SaveOffPrintDataTo(HeldSettings* pHeld, const StatusRecord* pStatus) {
  LogMessage(LOG_TRACE, "In SaveOffPrintData\n");
  if (pHeld == nullptr || pHeld->pszPath == nullptr || pStatus == nullptr) {
    LogMessage(LOG_INFORM, "Failed to save off printer data\n");
    return FALSE;
  }
  WriteCounter(pHeld, kKeyCyanSpits, CyanSpits(*pStatus), "Set CyanSpits FAILED\n");
  WriteCounter(pHeld, kKeyMagentaSpits, MagentaSpits(*pStatus), "Set MagentaSpits FAILED\n");
  WriteCounter(pHeld, kKeyYellowSpits, YellowSpits(*pStatus), "Set YellowSpits FAILED\n");
  return TRUE;
}

BOOL SaveOffPrintData(const IniJob* pIniJob, const StatusRecord* pStatus) {
  HeldSettings held;
  if (pIniJob != nullptr && pStatus != nullptr) {
    HoldPrinterSettings(pIniJob->hPrinter, pIniJob->pszPrinterName, &held);
  }
  const BOOL fSaved = SaveOffPrintDataTo(&held, pStatus);
  ReleaseSettings(&held);
  return fSaved;
}
