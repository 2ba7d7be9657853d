// Functions that only newer Windows offers, and ntdll's own: looked up when needed, never
// imported, so the monitor still loads where they are missing and imports no DLL but the
// documented system ones. Below every subsystem that uses them.
#pragma once

#include "platform/win32.h"

inline constexpr WCHAR kSpoolerModuleName[] = WSTR("spoolss.dll");
inline constexpr WCHAR kKernelModuleName[] = WSTR("kernel32.dll");
inline constexpr WCHAR kNtdllModuleName[] = WSTR("ntdll.dll");

// True when the module wszModule is loaded and exports pszName; *pfn then points at it.
template <class Function>
bool FindModuleFunction(LPCWSTR wszModule, LPCSTR pszName, Function* pfn) {
  const HMODULE hModule = GetModuleHandleW(wszModule);
  *pfn =
      hModule == nullptr
          ? nullptr
          : reinterpret_cast<Function>(reinterpret_cast<void*>(GetProcAddress(hModule, pszName)));
  return *pfn != nullptr;
}

// The spooler's own functions of newer spoolers (SplIsSessionZero, RouterAllocBidiMem, ...).
template <class Function>
bool FindSpoolerFunction(LPCSTR pszName, Function* pfn) {
  return FindModuleFunction(kSpoolerModuleName, pszName, pfn);
}

// kernel32's functions of newer Windows (GetTempPath2W).
template <class Function>
bool FindKernelFunction(LPCSTR pszName, Function* pfn) {
  return FindModuleFunction(kKernelModuleName, pszName, pfn);
}

// ntdll's native calls (NtCreateFile, RtlNtStatusToDosError): every process has ntdll loaded.
template <class Function>
bool FindNtdllFunction(LPCSTR pszName, Function* pfn) {
  return FindModuleFunction(kNtdllModuleName, pszName, pfn);
}

// True when the monitor's process runs in session 0, which no user's desktop shows.
inline bool MonitorInSessionZero() {
  DWORD dwSession = 0;
  return ProcessIdToSessionId(GetCurrentProcessId(), &dwSession) && dwSession == 0;
}
