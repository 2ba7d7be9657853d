// A stand-in for the spooler's spoolss.dll, placed beside the bench host: the five functions the
// monitor imports, enough for a job to start on a printer that exists, with no settings of its own.
// (Wine's own spoolss.dll leaves them unimplemented.)
#define WIN32_LEAN_AND_MEAN
#include <windows.h>

namespace {
int printerToken;
}

extern "C" {

__declspec(dllexport) BOOL WINAPI OpenPrinterW(LPWSTR, LPHANDLE phPrinter, LPVOID) {
  *phPrinter = &printerToken;
  return TRUE;
}

__declspec(dllexport) BOOL WINAPI ClosePrinter(HANDLE) { return TRUE; }

__declspec(dllexport) BOOL WINAPI SetJobW(HANDLE, DWORD, DWORD, LPBYTE, DWORD) { return TRUE; }

// No printer or driver information: the monitor then runs with its default settings.
__declspec(dllexport) BOOL WINAPI GetPrinterW(HANDLE, DWORD, LPBYTE, DWORD, LPDWORD pcbNeeded) {
  if (pcbNeeded != nullptr) {
    *pcbNeeded = 0;
  }
  SetLastError(ERROR_NOT_SUPPORTED);
  return FALSE;
}

__declspec(dllexport) BOOL WINAPI
    GetPrinterDriverW(HANDLE, LPWSTR, DWORD, LPBYTE, DWORD, LPDWORD pcbNeeded) {
  if (pcbNeeded != nullptr) {
    *pcbNeeded = 0;
  }
  SetLastError(ERROR_NOT_SUPPORTED);
  return FALSE;
}

}  // extern "C"
