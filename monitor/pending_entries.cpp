// Spooler entries whose work is still being built: each refuses the call until it lands.
#include "monitor/monitor.h"

namespace {
BOOL NotYetAvailable() {
  SetLastError(ERROR_NOT_SUPPORTED);
  return FALSE;
}
}  // namespace

BOOL WINAPI PJLMonStartDocPort(HANDLE, LPWSTR, DWORD, DWORD, LPBYTE) { return NotYetAvailable(); }
BOOL WINAPI PJLMonEndDocPort(HANDLE) { return NotYetAvailable(); }
