// The module's entry points, its one lock, and the table the spooler calls us through.
#include "diag/log.h"
#include "monitor/monitor.h"

namespace {

constexpr WCHAR kEojTimeoutValueName[] = WSTR("EOJTimeout");
constexpr DWORD kDefaultEojTimeout = 60000;
constexpr REGSAM kReadWriteAccess = KEY_READ | KEY_WRITE;

// Read from the registry and kept; nothing in the monitor acts on it.
DWORD dwEojTimeout = kDefaultEojTimeout;

}  // namespace

CRITICAL_SECTION SpoolerSection;
IniPort* pIniFirstPort = nullptr;
HINSTANCE hInst = nullptr;
std::atomic<BOOL> fWarnedOnFailedStart{FALSE};
std::atomic<BOOL> fShowUI{TRUE};

MONITOREX MonitorTable = {
    sizeof(MONITOR),
    {
        nullptr,                 // pfnEnumPorts
        nullptr,                 // pfnOpenPort
        PJLMonOpenPortEx,        // pfnOpenPortEx
        PJLMonStartDocPort,      // pfnStartDocPort
        PJLWritePort,            // pfnWritePort
        PJLMonReadPort,          // pfnReadPort
        PJLMonEndDocPort,        // pfnEndDocPort
        PJLMonClosePort,         // pfnClosePort
        nullptr,                 // pfnAddPort
        nullptr,                 // pfnAddPortEx
        nullptr,                 // pfnConfigurePort
        nullptr,                 // pfnDeletePort
        GetPrinterDataFromPort,  // pfnGetPrinterDataFromPort
        nullptr,                 // pfnSetPortTimeOuts
        nullptr,                 // pfnXcvOpenPort
        nullptr,                 // pfnXcvDataPort
        nullptr,                 // pfnXcvClosePort
    },
};

extern "C" BOOL WINAPI DllMain(HINSTANCE hModule, DWORD dwReason, LPVOID /*lpReserved*/) {
  switch (dwReason) {
    case DLL_PROCESS_ATTACH:
      InitializeCriticalSection(&SpoolerSection);
      DisableThreadLibraryCalls(hModule);
      hInst = hModule;
      break;
    case DLL_PROCESS_DETACH:
      DeleteCriticalSection(&SpoolerSection);
      break;
    default:
      break;
  }
  return TRUE;
}

void EnterMonitorLock() { EnterCriticalSection(&SpoolerSection); }

void LeaveMonitorLock() { LeaveCriticalSection(&SpoolerSection); }

LONG ReadOrCreateDwordValue(HKEY hKey, LPCWSTR pszValueName, DWORD* pdwValue, DWORD dwDefault) {
  DWORD cbData = sizeof(DWORD);
  // Any type whose data fits the four bytes is accepted as it stands.
  LONG status = RegQueryValueExW(hKey, pszValueName, nullptr, nullptr,
                                 reinterpret_cast<LPBYTE>(pdwValue), &cbData);
  if (status == ERROR_SUCCESS) {
    return ERROR_SUCCESS;
  }
  *pdwValue = dwDefault;
  return RegSetValueExW(hKey, pszValueName, 0, REG_DWORD, reinterpret_cast<const BYTE*>(pdwValue),
                        sizeof(DWORD));
}

LONG UpdateTimeoutsFromRegistry(LPCWSTR pszRegistryRoot) {
  HKEY hKey = nullptr;
  LONG status = RegCreateKeyExW(HKEY_LOCAL_MACHINE, pszRegistryRoot, 0, nullptr, 0,
                                kReadWriteAccess, nullptr, &hKey, nullptr);
  if (status != ERROR_SUCCESS) {
    return status;
  }
  status = ReadOrCreateDwordValue(hKey, kEojTimeoutValueName, &dwEojTimeout, kDefaultEojTimeout);
  RegCloseKey(hKey);
  return status;
}

extern "C" LPMONITOREX WINAPI InitializePrintMonitor(LPWSTR pszRegistryRoot) {
  LogMessage(LOG_INFORM, "**** LANGMON: Initialize Print Monitor Called\n");
  if (pszRegistryRoot == nullptr || *pszRegistryRoot == 0) {
    SetLastError(ERROR_INVALID_PARAMETER);
    LogMessage(LOG_INFORM, "**** LANGMON: Initialize Print Monitor pszRegistryRoot = null\n");
    return nullptr;
  }
  if (UpdateTimeoutsFromRegistry(pszRegistryRoot) != ERROR_SUCCESS) {
    LogMessage(LOG_INFORM, "**** LANGMON: UpdateTimeoutsFromRegistry failed\n");
    return nullptr;
  }
  return &MonitorTable;
}
