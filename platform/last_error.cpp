// The calling thread's last-error code.
#include "platform/win32.h"

namespace {
thread_local DWORD tLastError = ERROR_SUCCESS;
}

DWORD WINAPI GetLastError() { return tLastError; }

VOID WINAPI SetLastError(DWORD dwErrCode) { tLastError = dwErrCode; }
