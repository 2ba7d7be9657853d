// The calling thread's last-error code, and ntdll's translation of the native calls' statuses
// into it.
#include "platform/win32.h"

namespace {
thread_local DWORD tLastError = ERROR_SUCCESS;
}

DWORD WINAPI GetLastError() { return tLastError; }

VOID WINAPI SetLastError(DWORD dwErrCode) { tLastError = dwErrCode; }

// The statuses the stand-ins' native calls return, as Windows translates them; any other is
// ERROR_MR_MID_NOT_FOUND, as Windows answers for a status it has no error for.
ULONG WINAPI RtlNtStatusToDosError(NTSTATUS Status) {
  struct Translation {
    uint32_t status;
    ULONG error;
  };
  static constexpr Translation kTranslations[] = {
      {0x00000000, ERROR_SUCCESS},        {0xC0000002, ERROR_INVALID_FUNCTION},
      {0xC0000008, ERROR_INVALID_HANDLE}, {0xC000000D, ERROR_INVALID_PARAMETER},
      {0xC0000022, ERROR_ACCESS_DENIED},  {0xC0000033, ERROR_INVALID_NAME},
      {0xC0000034, ERROR_FILE_NOT_FOUND}, {0xC0000035, ERROR_ALREADY_EXISTS},
      {0xC000003A, ERROR_PATH_NOT_FOUND}, {0xC0000043, ERROR_SHARING_VIOLATION},
      {0xC00000BA, ERROR_ACCESS_DENIED},
  };
  for (const Translation& translation : kTranslations) {
    if (translation.status == static_cast<uint32_t>(Status)) return translation.error;
  }
  return ERROR_MR_MID_NOT_FOUND;
}
