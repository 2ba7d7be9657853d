// Memory blocks of the port and job records.
#include "records/records.h"

LPVOID AllocZeroed(DWORD cb) { return GlobalAlloc(GMEM_FIXED | GMEM_ZEROINIT, cb); }

LPWSTR DupWideString(LPCWSTR psz) {
  if (psz == nullptr) {
    return nullptr;
  }
  const DWORD cch = static_cast<DWORD>(lstrlenW(psz)) + 1;
  LPWSTR pszCopy = static_cast<LPWSTR>(AllocZeroed(cch * sizeof(WCHAR)));
  if (pszCopy != nullptr) {
    lstrcpyW(pszCopy, psz);
  }
  return pszCopy;
}

void FreeJobRecord(IniJob* pIniJob) {
  if (pIniJob->hPrinter != nullptr) {
    ClosePrinter(pIniJob->hPrinter);
  }
  GlobalFree(pIniJob);
}

void FreePortJobs(IniPort* pIniPort) {
  EnterMonitorLock();
  IniJob* pIniJob = pIniPort->pIniJob;
  pIniPort->pIniJob = nullptr;
  while (pIniJob != nullptr) {
    IniJob* pNext = pIniJob->pNext;
    FreeJobRecord(pIniJob);
    pIniJob = pNext;
  }
  LeaveMonitorLock();
}
