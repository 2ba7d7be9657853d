#include "settings/settings_paths.h"

#include "diag/log.h"
#include "settings/settings_keys.h"

namespace {

constexpr WCHAR kSeparator[] = WSTR("\\");

// Characters of a NUL-terminated constant array, without the NUL.
template <size_t N>
constexpr DWORD LengthOf(const WCHAR (&)[N]) {
  return static_cast<DWORD>(N - 1);
}

void AppendComponent(LPWSTR pszPath, LPCWSTR pszComponent) {
  lstrcatW(pszPath, kSeparator);
  lstrcatW(pszPath, pszComponent);
}

LPWSTR NoPrinterName() {
  LogMessage(LOG_TRACE, "OemPtrGetDriverPathName() returning (NULL)\n");
  return nullptr;
}

LPWSTR NoDriverPath(LPWSTR pszPath) {
  GlobalFree(pszPath);
  LogMessage(LOG_TRACE, "OemPtrGetDriverAppDataPath() returning (NULL)\n");
  return nullptr;
}

}  // namespace

LPWSTR OemPtrGetPrinterName(HANDLE hPrinter) {
  DWORD cbNeeded = 0;
  const BOOL fSized = GetPrinterW(hPrinter, 2, nullptr, 0, &cbNeeded);
  if ((!fSized && GetLastError() != ERROR_INSUFFICIENT_BUFFER) || cbNeeded == 0) {
    return NoPrinterName();
  }

  auto* pInfo = static_cast<PRINTER_INFO_2W*>(GlobalAlloc(GPTR, cbNeeded));
  if (pInfo == nullptr) {
    return NoPrinterName();
  }
  LogMessage(LOG_TRACE, "GLOBALALLOC: PRINTER_INFO_2 %ld bytes at %p\n",
             static_cast<LONG>(cbNeeded), static_cast<void*>(pInfo));

  if (!GetPrinterW(hPrinter, 2, reinterpret_cast<LPBYTE>(pInfo), cbNeeded, &cbNeeded) ||
      pInfo->pPrinterName == nullptr) {
    GlobalFree(pInfo);
    return NoPrinterName();
  }

  const SIZE_T cbName = (static_cast<SIZE_T>(lstrlenW(pInfo->pPrinterName)) + 1) * sizeof(WCHAR);
  auto pszName = static_cast<LPWSTR>(GlobalAlloc(GPTR, cbName));
  if (pszName != nullptr) {
    lstrcpyW(pszName, pInfo->pPrinterName);
  }
  GlobalFree(pInfo);

  LogMessage(LOG_TRACE, "OemPtrGetDriverPathName() returning (0x%lX)\n",
             static_cast<DWORD>(reinterpret_cast<ULONG_PTR>(pszName)));
  return pszName;
}

namespace {

// The path of pszFileName in the printer's settings directory, with room kept behind it for
// cchSuffix more characters that the caller appends in place.
LPWSTR BuildSettingsPath(HANDLE hPrinter, LPCWSTR pszFileName, DWORD cchSuffix) {
  LogMessage(LOG_TRACE, "OemPtrGetDriverAppDataPath() Called\n");

  auto pszPath = static_cast<LPWSTR>(GlobalAlloc(GPTR, kSettingsPathChars * sizeof(WCHAR)));
  if (pszPath == nullptr) {
    LogMessage(LOG_ERROR, "OemPtrGetDriverAppDataPath(): failed to allocate memory!\n");
    LogMessage(LOG_TRACE, "OemPtrGetDriverAppDataPath() returning (NULL)\n");
    return nullptr;
  }
  LogMessage(LOG_TRACE, ">>>PTR:GlobalAlloc DriverPath at %p \n", static_cast<void*>(pszPath));

  if (pszFileName == nullptr ||
      !SHGetSpecialFolderPathW(nullptr, pszPath, CSIDL_COMMON_APPDATA, TRUE)) {
    return NoDriverPath(pszPath);
  }

  LPWSTR pszPrinterName = OemPtrGetPrinterName(hPrinter);
  if (pszPrinterName == nullptr) {
    return NoDriverPath(pszPath);
  }

  // A name that cannot fit is refused rather than cut: a cut path would name some other
  // printer's file.
  const DWORD cchNeeded = static_cast<DWORD>(lstrlenW(pszPath)) + 1 + LengthOf(kVendorFolderName) +
                          1 + LengthOf(kDriversFolderName) + 1 +
                          static_cast<DWORD>(lstrlenW(pszPrinterName)) + 1 +
                          static_cast<DWORD>(lstrlenW(pszFileName)) + cchSuffix + 1;
  if (cchNeeded > kSettingsPathChars) {
    LogMessage(LOG_ERROR, "OemPtrGetDriverAppDataPath(): path too long!\n");
    GlobalFree(pszPrinterName);
    return NoDriverPath(pszPath);
  }

  AppendComponent(pszPath, kVendorFolderName);
  AppendComponent(pszPath, kDriversFolderName);
  AppendComponent(pszPath, pszPrinterName);
  AppendComponent(pszPath, pszFileName);
  GlobalFree(pszPrinterName);

  LogMessage(LOG_TRACE, "OemPtrGetDriverAppDataPath() returning (0x%lX)\n",
             static_cast<DWORD>(reinterpret_cast<ULONG_PTR>(pszPath)));
  return pszPath;
}

}  // namespace

LPWSTR OemPtrGetDriverAppDataPath(HANDLE hPrinter, LPCWSTR pszFileName) {
  return BuildSettingsPath(hPrinter, pszFileName, 0);
}

LPWSTR GetPrinterSettingsPath(HANDLE hPrinter, LPCWSTR pszPrinterName) {
  LPWSTR pszPath = BuildSettingsPath(hPrinter, pszPrinterName, LengthOf(kPrinterSettingsExtension));
  if (pszPath != nullptr) {
    lstrcatW(pszPath, kPrinterSettingsExtension);
  }
  return pszPath;
}

LPWSTR GetModelSettingsPath(HANDLE hPrinter) {
  return OemPtrGetDriverAppDataPath(hPrinter, kModelSettingsFileName);
}
