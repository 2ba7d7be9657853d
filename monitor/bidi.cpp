// Ink levels for Windows: the consumables part of the standard bidi schema, answered from the
// printer's status record against the limits of the model settings file. Every other request
// goes on to the port monitor below, when it has a bidi entry of its own.
//
// Answered values, for each ink of the installed cartridge (Yellow, Magenta, Cyan, or Black):
//   \Printer.Consumables.<Name>:Type       BIDI_ENUM    "Ink"
//   \Printer.Consumables.<Name>:Color      BIDI_STRING  the ink's colour, as its name
//   \Printer.Consumables.<Name>:Installed  BIDI_BOOL    a cartridge is in the printer
//   \Printer.Consumables.<Name>:Level      BIDI_INT     per cent of the limit left, -1 unknown
#include "diag/log.h"
#include "monitor/monitor.h"
#include "monitor/no_case_compare.h"
#include "platform/run_time_functions.h"
#include "prepare/ink_level.h"
#include "prepare/ink_limits.h"
#include "printer/status_reader.h"
#include "settings/settings_paths.h"

namespace {

// A fresh record between jobs may take this long; the caller is an application waiting.
constexpr DWORD kBidiStatusTimeoutMs = 1000;
constexpr DWORD kBidiContainerVersion = 1;
constexpr LONG kUnknownLevel = -1;

constexpr WCHAR kConsumablesSchema[] = WSTR("\\Printer.Consumables");
constexpr WCHAR kInkType[] = WSTR("Ink");

// Without a status record the cartridge is not known: every ink it could hold is reported.
constexpr DWORD kMaxConsumables = kInkColorCount;
// Each request has at most one answer per value; this many keeps their count within 32 bits.
constexpr DWORD kMostRequests = 0x10000;

enum Property : DWORD { kType, kColor, kInstalled, kLevel, kPropertyCount };
constexpr const WCHAR* kPropertyNames[kPropertyCount] = {WSTR("Type"), WSTR("Color"),
                                                         WSTR("Installed"), WSTR("Level")};

// "\Printer.Consumables." + name + ":" + property, with room to spare.
constexpr DWORD kSchemaChars = 64;

enum class Action { kGet, kGetAll, kEnumSchema };

struct Consumable {
  const WCHAR* pszName;
  BOOL fInstalled;
  LONG nLevel;
};

// What the printer reports now: the consumables, in the order answers list them.
struct InkReport {
  DWORD count;
  Consumable items[kMaxConsumables];
};

// The spooler's allocators for the answer; the caller frees what it gets.
struct BidiAllocators {
  PBIDI_RESPONSE_CONTAINER(WINAPI* pfnAllocContainer)(DWORD Count);
  PVOID(WINAPI* pfnAllocMem)(size_t NumBytes);
  DWORD(WINAPI* pfnFreeContainer)(PBIDI_RESPONSE_CONTAINER pData);
};

bool FindAllocators(BidiAllocators* pAllocators) {
  return FindSpoolerFunction("RouterAllocBidiResponseContainer", &pAllocators->pfnAllocContainer) &&
         FindSpoolerFunction("RouterAllocBidiMem", &pAllocators->pfnAllocMem) &&
         FindSpoolerFunction("RouterFreeBidiResponseContainer", &pAllocators->pfnFreeContainer);
}

bool MatchesAction(LPCWSTR pAction, Action* pWhich) {
  if (lstrcmpiW(pAction, BIDI_ACTION_GET) == 0) {
    *pWhich = Action::kGet;
  } else if (lstrcmpiW(pAction, BIDI_ACTION_GET_ALL) == 0) {
    *pWhich = Action::kGetAll;
  } else if (lstrcmpiW(pAction, BIDI_ACTION_ENUM_SCHEMA) == 0) {
    *pWhich = Action::kEnumSchema;
  } else {
    return false;
  }
  return true;
}

// Requests whose schema lies in \Printer.Consumables (that property itself, or anything below
// it) are the monitor's; a request without a schema is the monitor's to refuse.
bool IsConsumablesRequest(LPCWSTR pszSchema) {
  if (pszSchema == nullptr) {
    return true;
  }
  constexpr int cchSchema = static_cast<int>(sizeof(kConsumablesSchema) / sizeof(WCHAR)) - 1;
  // A schema that ends before the whole name differs at its NUL.
  if (!StartsWithNoCase(pszSchema, kConsumablesSchema, cchSchema)) {
    return false;
  }
  const WCHAR chNext = pszSchema[cchSchema];
  return chNext == 0 || chNext == WSTR('.') || chNext == WSTR(':');
}

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

// Whether a request names this value: exactly with Get; with GetAll and EnumSchema also through
// its consumable or the whole consumables property.
bool Covers(Action action, LPCWSTR pszSchema, const Consumable& item, DWORD property) {
  if (pszSchema == nullptr) {
    return false;
  }
  WCHAR szPath[kSchemaChars];
  ValuePath(item, property, szPath);
  if (lstrcmpiW(pszSchema, szPath) == 0) {
    return true;
  }
  if (action == Action::kGet) {
    return false;
  }
  ConsumablePath(item, szPath);
  return lstrcmpiW(pszSchema, szPath) == 0 || lstrcmpiW(pszSchema, kConsumablesSchema) == 0;
}

DWORD CoveredValues(Action action, LPCWSTR pszSchema, const InkReport& report) {
  DWORD count = 0;
  for (DWORD i = 0; i < report.count; ++i) {
    for (DWORD property = 0; property < kPropertyCount; ++property) {
      count += Covers(action, pszSchema, report.items[i], property) ? 1 : 0;
    }
  }
  return count;
}

// A request that names no value still gets its one answer: the reason.
DWORD ResponsesFor(Action action, const BIDI_REQUEST_DATA& request, const InkReport& report) {
  if (!IsConsumablesRequest(request.pSchema)) {
    return 1;
  }
  const DWORD covered = CoveredValues(action, request.pSchema, report);
  return covered != 0 ? covered : 1;
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
  if (pIniPort->szPrinterName[0] == 0) {
    return false;
  }
  HANDLE hPrinter = nullptr;
  if (!OpenPrinterW(pIniPort->szPrinterName, &hPrinter, nullptr)) {
    return false;
  }
  LPWSTR pszModelIni = GetModelSettingsPath(hPrinter);
  ClosePrinter(hPrinter);
  if (pszModelIni == nullptr) {
    return false;
  }
  *pdwLimit = ReadSpitLimit(pszModelIni, bCartType);
  GlobalFree(pszModelIni);
  return true;
}

void ReportInks(IniPort* pIniPort, InkReport* pReport) {
  StatusRecord status;
  if (!CurrentStatus(pIniPort, &status)) {
    pReport->count = kMaxConsumables;
    for (DWORD i = 0; i < kMaxConsumables; ++i) {
      pReport->items[i] = {kInkColors[i], FALSE, kUnknownLevel};
    }
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

// Fills a response container one answer at a time. Each answer is counted in as soon as it holds
// a block of its own, so that the container can be freed whole at any point.
class ResponseWriter {
 public:
  ResponseWriter(const BidiAllocators& allocators, PBIDI_RESPONSE_CONTAINER pContainer)
      : allocators_(allocators), pContainer_(pContainer) {}

  bool Add(DWORD dwResult, DWORD dwReqNumber, LPCWSTR pszSchema) {
    BIDI_RESPONSE_DATA& response = pContainer_->aData[pContainer_->Count];
    response = {};
    response.dwResult = dwResult;
    response.dwReqNumber = dwReqNumber;
    response.data.dwBidiType = BIDI_NULL;
    if (pszSchema != nullptr) {
      response.pSchema = Copy(pszSchema);
      if (response.pSchema == nullptr) {
        return false;
      }
    }
    ++pContainer_->Count;
    return true;
  }

  // The newest answer carries a value.
  bool SetText(DWORD dwType, LPCWSTR pszText) {
    BIDI_DATA& data = Last().data;
    data.u.sData = Copy(pszText);
    if (data.u.sData == nullptr) {
      return false;
    }
    data.dwBidiType = dwType;
    return true;
  }
  void SetBool(BOOL fValue) {
    Last().data.dwBidiType = BIDI_BOOL;
    Last().data.u.bData = fValue;
  }
  void SetInt(LONG nValue) {
    Last().data.dwBidiType = BIDI_INT;
    Last().data.u.iData = nValue;
  }

 private:
  BIDI_RESPONSE_DATA& Last() { return pContainer_->aData[pContainer_->Count - 1]; }

  LPWSTR Copy(LPCWSTR pszText) {
    const size_t cb = (static_cast<size_t>(lstrlenW(pszText)) + 1) * sizeof(WCHAR);
    auto pszCopy = static_cast<LPWSTR>(allocators_.pfnAllocMem(cb));
    if (pszCopy != nullptr) {
      lstrcpyW(pszCopy, pszText);
    }
    return pszCopy;
  }

  const BidiAllocators& allocators_;
  PBIDI_RESPONSE_CONTAINER pContainer_;
};

bool WriteValue(ResponseWriter& writer, DWORD dwReqNumber, const Consumable& item, DWORD property) {
  WCHAR szPath[kSchemaChars];
  ValuePath(item, property, szPath);
  if (!writer.Add(ERROR_SUCCESS, dwReqNumber, szPath)) {
    return false;
  }
  switch (property) {
    case kType:
      return writer.SetText(BIDI_ENUM, kInkType);
    case kColor:
      return writer.SetText(BIDI_STRING, item.pszName);
    case kInstalled:
      writer.SetBool(item.fInstalled);
      return true;
    default:
      writer.SetInt(item.nLevel);
      return true;
  }
}

// EnumSchema lists the schemas of the values, each as a string answer to the request's schema.
bool WriteSchema(ResponseWriter& writer, const BIDI_REQUEST_DATA& request, const Consumable& item,
                 DWORD property) {
  WCHAR szPath[kSchemaChars];
  ValuePath(item, property, szPath);
  return writer.Add(ERROR_SUCCESS, request.dwReqNumber, request.pSchema) &&
         writer.SetText(BIDI_STRING, szPath);
}

bool WriteAnswers(ResponseWriter& writer, Action action, const BIDI_REQUEST_DATA& request,
                  const InkReport& report) {
  if (request.pSchema == nullptr) {
    return writer.Add(ERROR_INVALID_PARAMETER, request.dwReqNumber, nullptr);
  }
  if (!IsConsumablesRequest(request.pSchema)) {
    return writer.Add(ERROR_NOT_SUPPORTED, request.dwReqNumber, request.pSchema);
  }
  if (CoveredValues(action, request.pSchema, report) == 0) {
    return writer.Add(ERROR_BIDI_SCHEMA_NOT_SUPPORTED, request.dwReqNumber, request.pSchema);
  }
  for (DWORD i = 0; i < report.count; ++i) {
    for (DWORD property = 0; property < kPropertyCount; ++property) {
      if (!Covers(action, request.pSchema, report.items[i], property)) {
        continue;
      }
      const bool fWritten =
          action == Action::kEnumSchema
              ? WriteSchema(writer, request, report.items[i], property)
              : WriteValue(writer, request.dwReqNumber, report.items[i], property);
      if (!fWritten) {
        return false;
      }
    }
  }
  return true;
}

DWORD AnswerConsumables(IniPort* pIniPort, Action action, const BIDI_REQUEST_CONTAINER& requests,
                        PBIDI_RESPONSE_CONTAINER* ppResData) {
  BidiAllocators allocators = {};
  if (!FindAllocators(&allocators)) {
    LogMessage(LOG_TRACE, "**** LANGMON: no bidi allocators in the spooler\n");
    return ERROR_NOT_SUPPORTED;
  }

  InkReport report = {};
  ReportInks(pIniPort, &report);

  DWORD cResponses = 0;
  for (DWORD i = 0; i < requests.Count; ++i) {
    cResponses += ResponsesFor(action, requests.aData[i], report);
  }
  PBIDI_RESPONSE_CONTAINER pContainer = allocators.pfnAllocContainer(cResponses);
  if (pContainer == nullptr) {
    return ERROR_NOT_ENOUGH_MEMORY;
  }
  pContainer->Version = kBidiContainerVersion;
  pContainer->Flags = 0;
  pContainer->Count = 0;

  ResponseWriter writer(allocators, pContainer);
  for (DWORD i = 0; i < requests.Count; ++i) {
    if (!WriteAnswers(writer, action, requests.aData[i], report)) {
      allocators.pfnFreeContainer(pContainer);
      return ERROR_NOT_ENOUGH_MEMORY;
    }
  }
  *ppResData = pContainer;
  return ERROR_SUCCESS;
}

// The port monitor's answer, or none: the request is not one the monitor knows.
DWORD PassOn(IniPort* pIniPort, DWORD dwAccessBit, LPCWSTR pAction,
             PBIDI_REQUEST_CONTAINER pReqData, PBIDI_RESPONSE_CONTAINER* ppResData) {
  if (pIniPort->pfnPortSendRecvBidi == nullptr) {
    return ERROR_NOT_SUPPORTED;
  }
  return pIniPort->pfnPortSendRecvBidi(pIniPort->hPort, dwAccessBit, pAction, pReqData, ppResData);
}

DWORD SendRecvBidi(HANDLE hPort, DWORD dwAccessBit, LPCWSTR pAction,
                   PBIDI_REQUEST_CONTAINER pReqData, PBIDI_RESPONSE_CONTAINER* ppResData) {
  if (!IsPortHandle(hPort)) {
    return ERROR_INVALID_HANDLE;
  }
  if (pAction == nullptr || pReqData == nullptr || ppResData == nullptr) {
    return ERROR_INVALID_PARAMETER;
  }
  *ppResData = nullptr;
  if (pReqData->Version != kBidiContainerVersion) {
    return ERROR_INVALID_DATA;
  }
  if (pReqData->Count == 0 || pReqData->Count > kMostRequests) {
    return ERROR_INVALID_PARAMETER;
  }
  IniPort* pIniPort = static_cast<IniPort*>(hPort);

  // A call that asks nothing of the consumables is the port monitor's, as it stands.
  Action action = Action::kGet;
  bool fOurs = false;
  for (DWORD i = 0; i < pReqData->Count && !fOurs; ++i) {
    fOurs = IsConsumablesRequest(pReqData->aData[i].pSchema);
  }
  if (!fOurs || !MatchesAction(pAction, &action)) {
    return PassOn(pIniPort, dwAccessBit, pAction, pReqData, ppResData);
  }
  return AnswerConsumables(pIniPort, action, *pReqData, ppResData);
}

}  // namespace

DWORD WINAPI PJLMonSendRecvBidiDataFromPort(HANDLE hPort, DWORD dwAccessBit, LPCWSTR pAction,
                                            PBIDI_REQUEST_CONTAINER pReqData,
                                            PBIDI_RESPONSE_CONTAINER* ppResData) {
  LogMessage(LOG_TRACE, "**** LANGMON: PJLMonSendRecvBidiDataFromPort Called\n");
  const DWORD dwResult = SendRecvBidi(hPort, dwAccessBit, pAction, pReqData, ppResData);
  LogMessage(LOG_TRACE, "**** LANGMON: PJLMonSendRecvBidiDataFromPort Returning %lu\n", dwResult);
  return dwResult;
}
