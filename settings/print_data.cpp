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

// The three counters into a file held already; FALSE when there is none.
BOOL SaveCounters(HeldSettings* pHeld, const StatusRecord* pStatus) {
  if (pHeld == nullptr || pHeld->pszPath == nullptr || pStatus == nullptr) {
    LogMessage(LOG_INFORM, "Failed to save off printer data\n");
    return FALSE;
  }
  WriteCounter(pHeld, kKeyCyanSpits, CyanSpits(*pStatus), "Set CyanSpits FAILED\n");
  WriteCounter(pHeld, kKeyMagentaSpits, MagentaSpits(*pStatus), "Set MagentaSpits FAILED\n");
  WriteCounter(pHeld, kKeyYellowSpits, YellowSpits(*pStatus), "Set YellowSpits FAILED\n");
  return TRUE;
}

}  // namespace

BOOL SaveOffPrintDataTo(HeldSettings* pHeld, const StatusRecord* pStatus) {
  LogMessage(LOG_TRACE, "In SaveOffPrintData\n");
  return SaveCounters(pHeld, pStatus);
}

BOOL SaveOffPrintData(const IniJob* pIniJob, const StatusRecord* pStatus) {
  LogMessage(LOG_TRACE, "In SaveOffPrintData\n");
  HeldSettings held;
  if (pIniJob != nullptr && pStatus != nullptr) {
    HoldPrinterSettings(pIniJob->hPrinter, pIniJob->pszPrinterName, &held);
  }
  const BOOL fSaved = SaveCounters(&held, pStatus);
  if (held.pszPath != nullptr) {
    LogMessage(LOG_TRACE, ">>GlobalFree ptr %p\n", static_cast<void*>(held.pszPath));
  }
  ReleaseSettings(&held);
  return fSaved;
}
