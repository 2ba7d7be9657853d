// Functions that only newer spoolers export from spoolss.dll. They are looked up when needed,
// never imported, so the monitor still loads where they are missing.
#pragma once

#include "platform/win32.h"

inline constexpr WCHAR kSpoolerModuleName[] = WSTR("spoolss.dll");

// True when spoolss.dll is loaded and exports pszName; *pfn then points at it.
template <class Function>
bool FindSpoolerFunction(LPCSTR pszName, Function* pfn) {
  const HMODULE hSpooler = GetModuleHandleW(kSpoolerModuleName);
  *pfn =
      hSpooler == nullptr
          ? nullptr
          : reinterpret_cast<Function>(reinterpret_cast<void*>(GetProcAddress(hSpooler, pszName)));
  return *pfn != nullptr;
}
