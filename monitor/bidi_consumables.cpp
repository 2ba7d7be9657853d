// Ink levels for Windows: the consumables part of the standard bidi schema, answered from the
// printer's status record against the limits of the model settings file.
//
// Answered values, for each ink of the installed cartridge (Yellow, Magenta, Cyan, or Black):
//   \Printer.Consumables.<Name>:Type       BIDI_ENUM    "Ink"
//   \Printer.Consumables.<Name>:Color      BIDI_STRING  the ink's colour, as its name
//   \Printer.Consumables.<Name>:Installed  BIDI_BOOL    a cartridge is in the printer
//   \Printer.Consumables.<Name>:Level      BIDI_INT     per cent of the limit left, -1 unknown
#include "monitor/bidi.h"
#include "prepare/ink_level.h"
#include "printer/status_reader.h"
#include "records/no_case_compare.h"
#include "settings/held_settings.h"
#include "settings/settings_keys.h"

namespace {

// A fresh record between jobs may take this long; the caller is an application waiting.
constexpr DWORD kBidiStatusTimeoutMs = 1000;
constexpr LONG kUnknownLevel = -1;

constexpr WCHAR kPrinterSchema[] = WSTR("\\Printer");
constexpr WCHAR kConsumablesSchema[] = WSTR("\\Printer.Consumables");
constexpr WCHAR kInkType[] = WSTR("Ink");

enum Property : DWORD { kType, kColor, kInstalled, kLevel, kPropertyCount };
constexpr const WCHAR* kPropertyNames[kPropertyCount] = {WSTR("Type"), WSTR("Color"),
                                                         WSTR("Installed"), WSTR("Level")};

// "\Printer.Consumables." + name + ":" + property, with room to spare.
constexpr DWORD kSchemaChars = 64;

// The counters the printer settings file keeps for the colour inks, in the order of kInkColors.
constexpr const WCHAR* kStoredCounterKeys[] = {kKeyYellowSpits, kKeyMagentaSpits, kKeyCyanSpits};
// Any type outside the black family: the limit of a colour cartridge.
constexpr BYTE kColourCartType = 0;

void ConsumablePath(const Consumable& item, LPWSTR pszPath) {
  lstrcpyW(pszPath, kConsumablesSchema);
  lstrcatW(pszPath, WSTR("."));
  lstrcatW(pszPath, item.pszName);
}

void ValuePath(const Consumable& item, DWORD property, LPWSTR pszPath) {
  ConsumablePath(item, pszPath);
  lstrcatW(pszPath, WSTR(":"));
  lstrcatW(pszPath, kPropertyNames[property]);
}

// The values of a report that a request names: exactly with Get; with GetAll also through their
// consumable, the whole consumables property, or the printer. Worked out once per request, each
// path built once: a large container asks about every value several times per request.
struct Coverage {
  bool fNamed[kMaxConsumables][kPropertyCount];
  DWORD count;
};

void FindCoverage(BidiAction action, LPCWSTR pszSchema, const InkReport& report,
                  Coverage* pCoverage) {
  const bool fGetAll = action == BidiAction::kGetAll;
  const bool fAll =
      fGetAll && (lstrcmpiW(pszSchema, kConsumablesSchema) == 0 || IsPrinterSchema(pszSchema));
  pCoverage->count = 0;
  for (DWORD i = 0; i < report.count; ++i) {
    WCHAR szPath[kSchemaChars];
    ConsumablePath(report.items[i], szPath);
    const bool fItem = fAll || (fGetAll && lstrcmpiW(pszSchema, szPath) == 0);
    const int cchItem = lstrlenW(szPath);
    for (DWORD property = 0; property < kPropertyCount; ++property) {
      lstrcpyW(szPath + cchItem, WSTR(":"));
      lstrcpyW(szPath + cchItem + 1, kPropertyNames[property]);
      const bool fNamed = fItem || lstrcmpiW(pszSchema, szPath) == 0;
      pCoverage->fNamed[i][property] = fNamed;
      pCoverage->count += fNamed ? 1 : 0;
    }
  }
}

void ReportUnknownInks(InkReport* pReport) {
  pReport->count = kMaxConsumables;
  for (DWORD i = 0; i < kMaxConsumables; ++i) {
    pReport->items[i] = {kInkColors[i], FALSE, kUnknownLevel};
  }
}

// One of the settings files of the printer the port was opened for, held for this answer; false
// (nothing held) when there is no printer or its settings cannot be used.
bool HoldSettingsFile(IniPort* pIniPort, bool fModel, HeldSettings* pHeld) {
  if (pIniPort->szPrinterName[0] == 0) {
    return false;
  }
  HANDLE hPrinter = nullptr;
  if (!OpenPrinterW(pIniPort->szPrinterName, &hPrinter, nullptr)) {
    return false;
  }
  const BOOL fHeld = fModel ? HoldModelSettings(hPrinter, pHeld)
                            : HoldPrinterSettings(hPrinter, pIniPort->szPrinterName, pHeld);
  ClosePrinter(hPrinter);
  return fHeld != FALSE;
}

// A counter the printer settings file keeps; false when it holds none. A missing key reads as
// the default given, so two different defaults tell it apart from any stored value.
bool ReadStoredCounter(const HeldSettings* pPrinterIni, LPCWSTR pszKey, DWORD* pdwSpits) {
  const UINT uFirst = ReadHeldSetting(pPrinterIni, pszKey, 0);
  const UINT uSecond = ReadHeldSetting(pPrinterIni, pszKey, 1);
  *pdwSpits = uFirst;
  return uFirst == uSecond;
}

// What the settings files tell without the printer: the counters the last check stored. They do
// not say which cartridge was in, so no ink is reported as installed; each colour ink's level is
// its counter against the colour limit, black's is unknown (it shares the yellow counter, and
// two limits apply to the black family).
void ReportStoredInks(IniPort* pIniPort, InkReport* pReport) {
  ReportUnknownInks(pReport);
  HeldSettings printerIni;
  HeldSettings modelIni;
  if (HoldSettingsFile(pIniPort, false, &printerIni) &&
      HoldSettingsFile(pIniPort, true, &modelIni)) {
    const DWORD dwLimit = ReadSpitLimit(&modelIni, kColourCartType);
    for (DWORD i = 0; i < sizeof(kStoredCounterKeys) / sizeof(kStoredCounterKeys[0]); ++i) {
      DWORD dwSpits = 0;
      if (ReadStoredCounter(&printerIni, kStoredCounterKeys[i], &dwSpits)) {
        pReport->items[i].nLevel = PercentOfLimitLeft(dwSpits, dwLimit);
      }
    }
  }
  ReleaseSettings(&modelIni);
  ReleaseSettings(&printerIni);
}

// Between jobs the printer is asked; during a job its conversation with the printer is the job's,
// and the newest record it has read stands in.
bool CurrentStatus(IniPort* pIniPort, StatusRecord* pStatus) {
  if (PortStatusHas(pIniPort, PORT_IN_JOB)) {
    return GetRememberedPortStatus(pIniPort, pStatus) != FALSE;
  }
  return GetRoboStatusUSB(pIniPort, pStatus, kBidiStatusTimeoutMs, TRUE) != FALSE;
}

// The limit the pre-job check would judge this cartridge by; FALSE when the printer's settings
// cannot be found.
bool ConfiguredLimit(IniPort* pIniPort, BYTE bCartType, DWORD* pdwLimit) {
  HeldSettings modelIni;
  if (!HoldSettingsFile(pIniPort, true, &modelIni)) {
    return false;
  }
  *pdwLimit = ReadSpitLimit(&modelIni, bCartType);
  ReleaseSettings(&modelIni);
  return true;
}

bool WriteValue(BidiAnswers* pAnswers, DWORD dwReqNumber, const Consumable& item, DWORD property) {
  WCHAR szPath[kSchemaChars];
  ValuePath(item, property, szPath);
  if (!AddBidiAnswer(pAnswers, ERROR_SUCCESS, dwReqNumber, szPath)) {
    return false;
  }
  switch (property) {
    case kType:
      return SetBidiText(pAnswers, BIDI_ENUM, kInkType);
    case kColor:
      return SetBidiText(pAnswers, BIDI_STRING, item.pszName);
    case kInstalled:
      SetBidiBool(pAnswers, item.fInstalled);
      return true;
    default:
      SetBidiInt(pAnswers, item.nLevel);
      return true;
  }
}

}  // namespace

bool IsConsumablesSchema(LPCWSTR pszSchema) {
  constexpr int cchSchema = static_cast<int>(sizeof(kConsumablesSchema) / sizeof(WCHAR)) - 1;
  // A schema that ends before the whole name differs at its NUL. Only the property itself and
  // what lies below it count: \Printer.Consumables:Count is a value of its own.
  if (!StartsWithNoCase(pszSchema, kConsumablesSchema, cchSchema)) {
    return false;
  }
  const WCHAR chNext = pszSchema[cchSchema];
  return chNext == 0 || chNext == WSTR('.');
}

bool IsPrinterSchema(LPCWSTR pszSchema) {
  return pszSchema != nullptr && lstrcmpiW(pszSchema, kPrinterSchema) == 0;
}

// The printer is read only when the monitor knows that no job is running on the port: from the
// first job start it has seen there. Before that it cannot tell (a spooler with the printer's
// bidirectional support switched off never calls the job entries), so the settings files answer.
void ReportInks(IniPort* pIniPort, InkReport* pReport) {
  if (!std::atomic_ref<BOOL>(pIniPort->fJobSeen).load()) {
    ReportStoredInks(pIniPort, pReport);
    return;
  }
  StatusRecord status;
  if (!CurrentStatus(pIniPort, &status)) {
    ReportUnknownInks(pReport);
    return;
  }
  CartridgeInk inks[kMaxCartridgeInks];
  pReport->count = GetCartridgeInks(status, inks);
  const BOOL fInstalled = CartState(status) != CART_STATE_MISSING;
  DWORD dwLimit = 0;
  const bool fLimit = fInstalled && ConfiguredLimit(pIniPort, status.bCartType, &dwLimit);
  for (DWORD i = 0; i < pReport->count; ++i) {
    const LONG nLevel = fLimit ? PercentOfLimitLeft(inks[i].dwSpits, dwLimit) : kUnknownLevel;
    pReport->items[i] = {inks[i].pszColor, fInstalled, nLevel};
  }
}

DWORD ConsumablesAnswerCount(BidiAction action, const BIDI_REQUEST_DATA& request,
                             const InkReport& report) {
  if (request.pSchema == nullptr || action == BidiAction::kSet) {
    return 1;
  }
  Coverage coverage;
  FindCoverage(action, request.pSchema, report, &coverage);
  return coverage.count != 0 ? coverage.count : 1;
}

bool WriteConsumablesAnswers(BidiAnswers* pAnswers, BidiAction action,
                             const BIDI_REQUEST_DATA& request, const InkReport& report) {
  if (request.pSchema == nullptr) {
    return AddBidiAnswer(pAnswers, ERROR_INVALID_PARAMETER, request.dwReqNumber, nullptr);
  }
  // The levels are the printer's to change, never an application's.
  if (action == BidiAction::kSet) {
    return AddBidiAnswer(pAnswers, ERROR_BIDI_SCHEMA_READ_ONLY, request.dwReqNumber,
                         request.pSchema);
  }
  Coverage coverage;
  FindCoverage(action, request.pSchema, report, &coverage);
  if (coverage.count == 0) {
    return AddBidiAnswer(pAnswers, ERROR_BIDI_SCHEMA_NOT_SUPPORTED, request.dwReqNumber,
                         request.pSchema);
  }
  for (DWORD i = 0; i < report.count; ++i) {
    for (DWORD property = 0; property < kPropertyCount; ++property) {
      if (coverage.fNamed[i][property] &&
          !WriteValue(pAnswers, request.dwReqNumber, report.items[i], property)) {
        return false;
      }
    }
  }
  return true;
}

DWORD SchemaListCount(const InkReport& report) { return report.count * kPropertyCount; }

bool WriteSchemaList(BidiAnswers* pAnswers, DWORD dwReqNumber, const InkReport& report) {
  for (DWORD i = 0; i < report.count; ++i) {
    for (DWORD property = 0; property < kPropertyCount; ++property) {
      WCHAR szPath[kSchemaChars];
      ValuePath(report.items[i], property, szPath);
      if (!AddBidiAnswer(pAnswers, ERROR_SUCCESS, dwReqNumber, nullptr) ||
          !SetBidiText(pAnswers, BIDI_TEXT, szPath)) {
        return false;
      }
    }
  }
  return true;
}
