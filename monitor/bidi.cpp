// The MONITOR2 bidi entry. The monitor answers the schemas it supports, the consumables (see
// bidi_consumables.cpp), and passes every other request to the port monitor below in one call;
// both answers come back in one container from the spooler's allocator:
//   EnumSchema  the monitor's schemas, then the port monitor's own list
//   Get         each consumables value by the monitor, everything else by the port monitor
//   GetAll      the same; \Printer is asked of both, each answering its own values
//   Set         consumables are read only; everything else goes to the port monitor
// A call that asks nothing of the monitor, or with an action it does not know, goes to the port
// monitor as it stands.
#include <cstddef>

#include "diag/log.h"
#include "monitor/bidi.h"

namespace {

// Each request has at most one answer per value; this many keeps their count within 32 bits.
constexpr DWORD kMostRequests = 0x10000;
// The merged container's size must stay well within the spooler's own arithmetic, whatever
// count the port monitor's answer claims.
constexpr DWORD kMostAnswers = 0x1000000;

bool MatchesAction(LPCWSTR pAction, BidiAction* pWhich) {
  if (lstrcmpiW(pAction, BIDI_ACTION_GET) == 0) {
    *pWhich = BidiAction::kGet;
  } else if (lstrcmpiW(pAction, BIDI_ACTION_GET_ALL) == 0) {
    *pWhich = BidiAction::kGetAll;
  } else if (lstrcmpiW(pAction, BIDI_ACTION_SET) == 0) {
    *pWhich = BidiAction::kSet;
  } else if (lstrcmpiW(pAction, BIDI_ACTION_ENUM_SCHEMA) == 0) {
    *pWhich = BidiAction::kEnumSchema;
  } else {
    return false;
  }
  return true;
}

// A request without a schema is the monitor's to refuse: there is nothing to pass on.
bool MonitorAnswers(BidiAction action, LPCWSTR pszSchema) {
  return pszSchema == nullptr || IsConsumablesSchema(pszSchema) ||
         (action == BidiAction::kGetAll && IsPrinterSchema(pszSchema));
}

bool PortMonitorAnswers(BidiAction action, LPCWSTR pszSchema) {
  if (action == BidiAction::kEnumSchema) {
    return true;
  }
  return pszSchema != nullptr && !IsConsumablesSchema(pszSchema);
}

// What the port monitor said to the requests passed on to it.
struct PortMonitorPart {
  DWORD cPassed;
  DWORD dwResult;
  PBIDI_RESPONSE_CONTAINER pAnswers;  // only with ERROR_SUCCESS; may still be NULL
};

// The port monitor's answer to the requests that are its own: the container as it stands when
// they are all of it, else a container of just those requests, numbered as the caller numbered
// them. EnumSchema asks for the whole list whatever the requests say.
void AskPortMonitor(IniPort* pIniPort, DWORD dwAccessBit, LPCWSTR pAction, BidiAction action,
                    PBIDI_REQUEST_CONTAINER pReqData, PortMonitorPart* pPart) {
  *pPart = {0, ERROR_SUCCESS, nullptr};
  for (DWORD i = 0; i < pReqData->Count; ++i) {
    pPart->cPassed += PortMonitorAnswers(action, pReqData->aData[i].pSchema) ? 1 : 0;
  }
  if (pPart->cPassed == 0) {
    return;
  }
  if (pIniPort->pfnPortSendRecvBidi == nullptr) {
    pPart->dwResult = ERROR_NOT_SUPPORTED;
    return;
  }
  PBIDI_REQUEST_CONTAINER pPassed = pReqData;
  if (pPart->cPassed != pReqData->Count) {
    const DWORD cb = static_cast<DWORD>(offsetof(BIDI_REQUEST_CONTAINER, aData) +
                                        pPart->cPassed * sizeof(BIDI_REQUEST_DATA));
    pPassed = static_cast<PBIDI_REQUEST_CONTAINER>(AllocZeroed(cb));
    if (pPassed == nullptr) {
      pPart->dwResult = ERROR_NOT_ENOUGH_MEMORY;
      return;
    }
    pPassed->Version = pReqData->Version;
    pPassed->Flags = pReqData->Flags;
    for (DWORD i = 0; i < pReqData->Count; ++i) {
      if (PortMonitorAnswers(action, pReqData->aData[i].pSchema)) {
        pPassed->aData[pPassed->Count++] = pReqData->aData[i];
      }
    }
  }
  pPart->dwResult = pIniPort->pfnPortSendRecvBidi(pIniPort->hPort, dwAccessBit, pAction, pPassed,
                                                  &pPart->pAnswers);
  if (pPart->dwResult != ERROR_SUCCESS) {
    // What a failed call leaves in the pointer is no answer.
    pPart->pAnswers = nullptr;
    LogMessage(LOG_TRACE, "**** LANGMON: port monitor's bidi answer %lu\n", pPart->dwResult);
  }
  if (pPassed != pReqData) {
    GlobalFree(pPassed);
  }
}

// How many answers the port monitor's part adds: its own, or its refusal for each request it
// was to answer (the list of EnumSchema simply has nothing of its own then).
DWORD PortMonitorAnswerCount(BidiAction action, const PortMonitorPart& part) {
  if (part.pAnswers != nullptr) {
    return part.pAnswers->Count;
  }
  if (part.dwResult == ERROR_SUCCESS || action == BidiAction::kEnumSchema) {
    return 0;
  }
  return part.cPassed;
}

bool WritePortMonitorPart(BidiAnswers* pAnswers, BidiAction action,
                          const BIDI_REQUEST_CONTAINER& requests, PortMonitorPart* pPart) {
  if (pPart->pAnswers != nullptr) {
    TakeOverBidiAnswers(pAnswers, pPart->pAnswers);
    pPart->pAnswers = nullptr;
    return true;
  }
  if (PortMonitorAnswerCount(action, *pPart) == 0) {
    return true;
  }
  for (DWORD i = 0; i < requests.Count; ++i) {
    const BIDI_REQUEST_DATA& request = requests.aData[i];
    if (PortMonitorAnswers(action, request.pSchema) &&
        !AddBidiAnswer(pAnswers, pPart->dwResult, request.dwReqNumber, request.pSchema)) {
      return false;
    }
  }
  return true;
}

bool WriteMonitorPart(BidiAnswers* pAnswers, BidiAction action,
                      const BIDI_REQUEST_CONTAINER& requests, const InkReport& report) {
  if (action == BidiAction::kEnumSchema) {
    return WriteSchemaList(pAnswers, requests.aData[0].dwReqNumber, report);
  }
  for (DWORD i = 0; i < requests.Count; ++i) {
    const BIDI_REQUEST_DATA& request = requests.aData[i];
    if (MonitorAnswers(action, request.pSchema) &&
        !WriteConsumablesAnswers(pAnswers, action, request, report)) {
      return false;
    }
  }
  return true;
}

DWORD MonitorAnswerCount(BidiAction action, const BIDI_REQUEST_CONTAINER& requests,
                         const InkReport& report) {
  if (action == BidiAction::kEnumSchema) {
    return SchemaListCount(report);
  }
  DWORD count = 0;
  for (DWORD i = 0; i < requests.Count; ++i) {
    const BIDI_REQUEST_DATA& request = requests.aData[i];
    if (MonitorAnswers(action, request.pSchema)) {
      count += ConsumablesAnswerCount(action, request, report);
    }
  }
  return count;
}

DWORD AnswerShared(IniPort* pIniPort, DWORD dwAccessBit, LPCWSTR pAction, BidiAction action,
                   PBIDI_REQUEST_CONTAINER pReqData, PBIDI_RESPONSE_CONTAINER* ppResData) {
  BidiAllocators allocators = {};
  if (!FindBidiAllocators(&allocators)) {
    LogMessage(LOG_TRACE, "**** LANGMON: no bidi allocators in the spooler\n");
    return ERROR_NOT_SUPPORTED;
  }

  PortMonitorPart part;
  AskPortMonitor(pIniPort, dwAccessBit, pAction, action, pReqData, &part);

  // Nothing the monitor answers to a Set needs the printer.
  InkReport report = {};
  if (action != BidiAction::kSet) {
    ReportInks(pIniPort, &report);
  }

  const DWORD cOurs = MonitorAnswerCount(action, *pReqData, report);
  const DWORD cTheirs = PortMonitorAnswerCount(action, part);
  if (part.pAnswers != nullptr && cTheirs > kMostAnswers) {
    // No answer holds that many entries, and the spooler's free walks every entry a container
    // claims: only the container itself is released.
    part.pAnswers->Count = 0;
  }
  BidiAnswers answers = {};
  const bool fStarted =
      cTheirs <= kMostAnswers - cOurs && StartBidiAnswers(allocators, cOurs + cTheirs, &answers);
  const bool fWritten = fStarted && WriteMonitorPart(&answers, action, *pReqData, report) &&
                        WritePortMonitorPart(&answers, action, *pReqData, &part);
  if (part.pAnswers != nullptr) {
    allocators.pfnFreeContainer(part.pAnswers);
  }
  if (!fWritten) {
    if (fStarted) {
      allocators.pfnFreeContainer(answers.pContainer);
    }
    return ERROR_NOT_ENOUGH_MEMORY;
  }
  *ppResData = answers.pContainer;
  return ERROR_SUCCESS;
}

DWORD SendRecvBidi(IniPort* pIniPort, DWORD dwAccessBit, LPCWSTR pAction,
                   PBIDI_REQUEST_CONTAINER pReqData, PBIDI_RESPONSE_CONTAINER* ppResData) {
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

  BidiAction action = BidiAction::kGet;
  bool fOurs = false;
  if (MatchesAction(pAction, &action)) {
    fOurs = action == BidiAction::kEnumSchema;
    for (DWORD i = 0; i < pReqData->Count && !fOurs; ++i) {
      fOurs = MonitorAnswers(action, pReqData->aData[i].pSchema);
    }
  }
  if (fOurs) {
    return AnswerShared(pIniPort, dwAccessBit, pAction, action, pReqData, ppResData);
  }
  if (pIniPort->pfnPortSendRecvBidi == nullptr) {
    return ERROR_NOT_SUPPORTED;
  }
  return pIniPort->pfnPortSendRecvBidi(pIniPort->hPort, dwAccessBit, pAction, pReqData, ppResData);
}

}  // namespace

DWORD WINAPI PJLMonSendRecvBidiDataFromPort(HANDLE hPort, DWORD dwAccessBit, LPCWSTR pAction,
                                            PBIDI_REQUEST_CONTAINER pReqData,
                                            PBIDI_RESPONSE_CONTAINER* ppResData) {
  LogMessage(LOG_TRACE, "**** LANGMON: PJLMonSendRecvBidiDataFromPort Called\n");
  const DWORD dwResult =
      CallOnOpenPort(hPort, static_cast<DWORD>(ERROR_INVALID_HANDLE), [&](IniPort* pIniPort) {
        return SendRecvBidi(pIniPort, dwAccessBit, pAction, pReqData, ppResData);
      });
  LogMessage(LOG_TRACE, "**** LANGMON: PJLMonSendRecvBidiDataFromPort Returning %lu\n", dwResult);
  return dwResult;
}
