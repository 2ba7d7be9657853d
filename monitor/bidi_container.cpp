// The answer container of the bidi entry: every block in it comes from the spooler's allocator,
// so that the spooler frees it whole, whichever monitor filled which answer.
#include "monitor/bidi.h"
#include "platform/run_time_functions.h"

namespace {

BIDI_RESPONSE_DATA& Newest(BidiAnswers* pAnswers) {
  return pAnswers->pContainer->aData[pAnswers->pContainer->Count - 1];
}

LPWSTR CopyText(const BidiAllocators& allocators, LPCWSTR pszText) {
  const size_t cb = (static_cast<size_t>(lstrlenW(pszText)) + 1) * sizeof(WCHAR);
  auto pszCopy = static_cast<LPWSTR>(allocators.pfnAllocMem(cb));
  if (pszCopy != nullptr) {
    lstrcpyW(pszCopy, pszText);
  }
  return pszCopy;
}

}  // namespace

bool FindBidiAllocators(BidiAllocators* pAllocators) {
  return FindSpoolerFunction("RouterAllocBidiResponseContainer", &pAllocators->pfnAllocContainer) &&
         FindSpoolerFunction("RouterAllocBidiMem", &pAllocators->pfnAllocMem) &&
         FindSpoolerFunction("RouterFreeBidiResponseContainer", &pAllocators->pfnFreeContainer);
}

bool StartBidiAnswers(const BidiAllocators& allocators, DWORD cAnswers, BidiAnswers* pAnswers) {
  PBIDI_RESPONSE_CONTAINER pContainer = allocators.pfnAllocContainer(cAnswers);
  if (pContainer == nullptr) {
    return false;
  }
  pContainer->Version = kBidiContainerVersion;
  pContainer->Flags = 0;
  pContainer->Count = 0;
  *pAnswers = {&allocators, pContainer};
  return true;
}

bool AddBidiAnswer(BidiAnswers* pAnswers, DWORD dwResult, DWORD dwReqNumber, LPCWSTR pszSchema) {
  PBIDI_RESPONSE_CONTAINER pContainer = pAnswers->pContainer;
  BIDI_RESPONSE_DATA& response = pContainer->aData[pContainer->Count];
  response = {};
  response.dwResult = dwResult;
  response.dwReqNumber = dwReqNumber;
  response.data.dwBidiType = BIDI_NULL;
  if (pszSchema != nullptr) {
    response.pSchema = CopyText(*pAnswers->pAllocators, pszSchema);
    if (response.pSchema == nullptr) {
      return false;
    }
  }
  ++pContainer->Count;
  return true;
}

bool SetBidiText(BidiAnswers* pAnswers, DWORD dwType, LPCWSTR pszText) {
  BIDI_DATA& data = Newest(pAnswers).data;
  data.u.sData = CopyText(*pAnswers->pAllocators, pszText);
  if (data.u.sData == nullptr) {
    return false;
  }
  data.dwBidiType = dwType;
  return true;
}

void SetBidiBool(BidiAnswers* pAnswers, BOOL fValue) {
  Newest(pAnswers).data.dwBidiType = BIDI_BOOL;
  Newest(pAnswers).data.u.bData = fValue;
}

void SetBidiInt(BidiAnswers* pAnswers, LONG nValue) {
  Newest(pAnswers).data.dwBidiType = BIDI_INT;
  Newest(pAnswers).data.u.iData = nValue;
}

void TakeOverBidiAnswers(BidiAnswers* pAnswers, PBIDI_RESPONSE_CONTAINER pOther) {
  PBIDI_RESPONSE_CONTAINER pContainer = pAnswers->pContainer;
  for (DWORD i = 0; i < pOther->Count; ++i) {
    BIDI_RESPONSE_DATA& moved = pOther->aData[i];
    pContainer->aData[pContainer->Count++] = moved;
    // What is left behind owns nothing, so freeing it frees no block twice.
    moved.pSchema = nullptr;
    moved.data = {};
    moved.data.dwBidiType = BIDI_NULL;
  }
  pAnswers->pAllocators->pfnFreeContainer(pOther);
}
