#include "settings/settings_paths.h"

#include "diag/log.h"
#include "settings/held_settings.h"
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

// ---- Building the path -----------------------------------------------------------------------

WCHAR Upper(WCHAR c) { return c >= WSTR('a') && c <= WSTR('z') ? c - WSTR('a') + WSTR('A') : c; }

// Whether the first cch characters of pszName are the ASCII text pszWord, in any case.
bool IsWord(LPCWSTR pszName, DWORD cch, const char* pszWord) {
  DWORD i = 0;
  for (; i < cch && pszWord[i] != 0; ++i) {
    if (Upper(pszName[i]) != static_cast<WCHAR>(pszWord[i])) {
      return false;
    }
  }
  return i == cch && pszWord[i] == 0;
}

// The digits of COM and LPT devices: 1 to 9, and the superscripts one, two and three, which
// Windows reads as devices too.
bool IsDeviceDigit(WCHAR c) {
  return (c >= WSTR('1') && c <= WSTR('9')) || c == 0x00B9 || c == 0x00B2 || c == 0x00B3;
}

// A DOS device (CON, PRN, AUX, NUL, CONIN$, CONOUT$, COM1-COM9, LPT1-LPT9, COM and LPT with a
// superscript digit) whatever extension follows it: Windows opens the device for such a name in
// any folder. Blanks before the extension do not count.
bool IsDeviceName(LPCWSTR pszName) {
  DWORD cchBase = 0;
  while (pszName[cchBase] != 0 && pszName[cchBase] != WSTR('.')) {
    ++cchBase;
  }
  while (cchBase > 0 && pszName[cchBase - 1] == WSTR(' ')) {
    --cchBase;
  }
  static constexpr const char* kDevices[] = {"CON", "PRN", "AUX", "NUL", "CONIN$", "CONOUT$"};
  for (const char* pszDevice : kDevices) {
    if (IsWord(pszName, cchBase, pszDevice)) {
      return true;
    }
  }
  if (cchBase == 4 && IsDeviceDigit(pszName[3])) {
    return IsWord(pszName, 3, "COM") || IsWord(pszName, 3, "LPT");
  }
  return false;
}

// Whether Windows reads the name as one folder of that very name: not "." or "..", nothing it
// would drop from the end (a dot or a blank), no device.
bool IsOneFolderName(LPCWSTR pszName) {
  const DWORD cch = static_cast<DWORD>(lstrlenW(pszName));
  if (cch == 0) {
    return true;  // a doubled separator, as today: the folder before it again
  }
  const WCHAR last = pszName[cch - 1];
  return last != WSTR('.') && last != WSTR(' ') && !IsDeviceName(pszName);
}

// The path of pszFileName, then pszSuffix, in the printer's settings directory.
LPWSTR BuildSettingsPath(HANDLE hPrinter, LPCWSTR pszFileName, LPCWSTR pszSuffix,
                         DWORD* pcchAppData) {
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
  const DWORD cchAppData = static_cast<DWORD>(lstrlenW(pszPath));

  // A name that cannot fit is refused rather than cut: a cut path would name some other
  // printer's file.
  const DWORD cchNeeded =
      cchAppData + 1 + LengthOf(kVendorFolderName) + 1 + LengthOf(kDriversFolderName) + 1 +
      static_cast<DWORD>(lstrlenW(pszPrinterName)) + 1 + static_cast<DWORD>(lstrlenW(pszFileName)) +
      static_cast<DWORD>(lstrlenW(pszSuffix)) + 1;
  if (cchNeeded > kSettingsPathChars) {
    LogMessage(LOG_ERROR, "OemPtrGetDriverAppDataPath(): path too long!\n");
    GlobalFree(pszPrinterName);
    return NoDriverPath(pszPath);
  }

  AppendComponent(pszPath, kVendorFolderName);
  AppendComponent(pszPath, kDriversFolderName);
  const DWORD cchFolder = static_cast<DWORD>(lstrlenW(pszPath)) + 1;
  AppendComponent(pszPath, pszPrinterName);
  const DWORD cchFile = static_cast<DWORD>(lstrlenW(pszPath)) + 1;
  AppendComponent(pszPath, pszFileName);
  lstrcatW(pszPath, pszSuffix);
  GlobalFree(pszPrinterName);

  // Names Windows would read as a device or as some other folder lead nowhere the monitor may
  // write; each folder of the printer's name, and the file, are looked at.
  for (DWORD i = cchFolder; i < cchFile; ++i) {
    if (pszPath[i] != kSeparator[0]) {
      continue;
    }
    pszPath[i] = 0;  // the path up to this folder, for a moment
    DWORD start = i;
    while (start > cchFolder && pszPath[start - 1] != kSeparator[0]) {
      --start;
    }
    if (!IsOneFolderName(pszPath + start)) {
      LogMessage(LOG_ERROR, "OemPtrGetDriverAppDataPath(): %ls is not a folder name, not used\n",
                 pszPath);
      return NoDriverPath(pszPath);
    }
    pszPath[i] = kSeparator[0];
  }
  if (IsDeviceName(pszPath + cchFile)) {
    LogMessage(LOG_ERROR, "OemPtrGetDriverAppDataPath(): %ls is a device name, not used\n",
               pszPath);
    return NoDriverPath(pszPath);
  }

  *pcchAppData = cchAppData;
  return pszPath;
}

// The path, when every part below the application-data folder could be held and checked; all
// of it is let go of at once: a caller that uses the path later holds it again.
LPWSTR BuildCheckedSettingsPath(HANDLE hPrinter, LPCWSTR pszFileName, LPCWSTR pszSuffix) {
  DWORD cchAppData = 0;
  LPWSTR pszPath = BuildSettingsPath(hPrinter, pszFileName, pszSuffix, &cchAppData);
  if (pszPath == nullptr) {
    return nullptr;
  }
  HeldSettings held;
  if (!HoldSettingsPath(pszPath, cchAppData, &held)) {
    return NoDriverPath(pszPath);
  }
  LetGoOfHandles(&held);

  LogMessage(LOG_TRACE, "OemPtrGetDriverAppDataPath() returning (0x%lX)\n",
             static_cast<DWORD>(reinterpret_cast<ULONG_PTR>(pszPath)));
  return pszPath;
}

}  // namespace

LPWSTR OemPtrGetDriverAppDataPath(HANDLE hPrinter, LPCWSTR pszFileName) {
  return BuildCheckedSettingsPath(hPrinter, pszFileName, WSTR(""));
}

LPWSTR GetPrinterSettingsPath(HANDLE hPrinter, LPCWSTR pszPrinterName) {
  return BuildCheckedSettingsPath(hPrinter, pszPrinterName, kPrinterSettingsExtension);
}

LPWSTR ComposeSettingsPath(HANDLE hPrinter, LPCWSTR pszFileName, LPCWSTR pszSuffix,
                           DWORD* pcchAppData) {
  return BuildSettingsPath(hPrinter, pszFileName, pszSuffix, pcchAppData);
}

LPWSTR GetModelSettingsPath(HANDLE hPrinter) {
  return OemPtrGetDriverAppDataPath(hPrinter, kModelSettingsFileName);
}
