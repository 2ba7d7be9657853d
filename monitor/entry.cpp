// The module's entry points, its one lock, and the two tables the spooler calls us through:
// MONITOREX for spoolers that use InitializePrintMonitor, MONITOR2 for the current ones.
#include <cstddef>

#include "diag/log.h"
#include "monitor/monitor.h"

namespace {

constexpr WCHAR kEojTimeoutValueName[] = WSTR("EOJTimeout");
constexpr DWORD kDefaultEojTimeout = 60000;
constexpr REGSAM kReadWriteAccess = KEY_READ | KEY_WRITE;

// Read from the registry and kept; nothing in the monitor acts on it.
DWORD dwEojTimeout = kDefaultEojTimeout;

}  // namespace

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

MONITOR2 MonitorTable2 = {
    sizeof(MONITOR2),
    nullptr,                         // pfnEnumPorts
    nullptr,                         // pfnOpenPort
    PJLMonOpenPortEx2,               // pfnOpenPortEx
    PJLMonStartDocPort,              // pfnStartDocPort
    PJLWritePort,                    // pfnWritePort
    PJLMonReadPort,                  // pfnReadPort
    PJLMonEndDocPort,                // pfnEndDocPort
    PJLMonClosePort,                 // pfnClosePort
    nullptr,                         // pfnAddPort
    nullptr,                         // pfnAddPortEx
    nullptr,                         // pfnConfigurePort
    nullptr,                         // pfnDeletePort
    GetPrinterDataFromPort,          // pfnGetPrinterDataFromPort
    nullptr,                         // pfnSetPortTimeOuts
    nullptr,                         // pfnXcvOpenPort
    nullptr,                         // pfnXcvDataPort
    nullptr,                         // pfnXcvClosePort
    PJLMonShutdown,                  // pfnShutdown
    PJLMonSendRecvBidiDataFromPort,  // pfnSendRecvBidiDataFromPort
    nullptr,                         // pfnNotifyUsedPorts
    nullptr,                         // pfnNotifyUnusedPorts
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
  }
  return TRUE;
}

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

namespace {

// Whether the spooler's registry table reaches as far as the entries the monitor calls.
bool HasValueFunctions(const MONITORREG* pReg) {
  constexpr size_t cbNeeded = offsetof(MONITORREG, fpQueryValue) + sizeof(pReg->fpQueryValue);
  return pReg != nullptr && pReg->cbSize >= cbNeeded && pReg->fpSetValue != nullptr &&
         pReg->fpQueryValue != nullptr;
}

// "EOJTimeout" under the monitor's key, through the spooler's own registry functions, by the
// rules of ReadOrCreateDwordValue. A spooler may not implement them; since nothing in the monitor
// reads the value, that is only logged.
void KeepEojTimeoutThroughSpooler(const MONITORINIT* pMonitorInit) {
  const MONITORREG* pReg = pMonitorInit->pMonitorReg;
  LONG status = ERROR_CALL_NOT_IMPLEMENTED;
  if (HasValueFunctions(pReg)) {
    DWORD dwValue = 0;
    DWORD dwType = REG_NONE;
    DWORD cbData = sizeof(DWORD);
    status = pReg->fpQueryValue(pMonitorInit->hckRegistryRoot, kEojTimeoutValueName, &dwType,
                                reinterpret_cast<PBYTE>(&dwValue), &cbData, pMonitorInit->hSpooler);
    if (status == ERROR_SUCCESS) {
      dwEojTimeout = dwValue;
    } else {
      dwEojTimeout = kDefaultEojTimeout;
      status = pReg->fpSetValue(pMonitorInit->hckRegistryRoot, kEojTimeoutValueName, REG_DWORD,
                                reinterpret_cast<const BYTE*>(&dwEojTimeout), sizeof(DWORD),
                                pMonitorInit->hSpooler);
    }
  }
  if (status != ERROR_SUCCESS) {
    LogMessage(LOG_WARNING, "**** LANGMON: EOJTimeout not kept, spooler registry error %ld\n",
               status);
  }
}

}  // namespace

extern "C" LPMONITOR2 WINAPI InitializePrintMonitor2(PMONITORINIT pMonitorInit, PHANDLE phMonitor) {
  LogMessage(LOG_INFORM, "**** LANGMON: InitializePrintMonitor2 Called\n");
  if (pMonitorInit == nullptr || pMonitorInit->cbSize < sizeof(MONITORINIT) ||
      phMonitor == nullptr) {
    SetLastError(ERROR_INVALID_PARAMETER);
    LogMessage(LOG_INFORM, "**** LANGMON: InitializePrintMonitor2 pMonitorInit invalid\n");
    return nullptr;
  }
  KeepEojTimeoutThroughSpooler(pMonitorInit);
  // One monitor per process: its handle only has to be distinct from NULL.
  *phMonitor = &MonitorTable2;
  return &MonitorTable2;
}

VOID WINAPI PJLMonShutdown(HANDLE /*hMonitor*/) {
  // Ports are closed by the spooler before it lets a monitor go; nothing is left to release.
  LogMessage(LOG_INFORM, "**** LANGMON: PJLMonShutdown Called\n");
}
