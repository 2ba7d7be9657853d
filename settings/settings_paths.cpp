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

// ---- Links in the settings path ------------------------------------------------------------
// The monitor reads and writes the settings files as SYSTEM, and every user may create folders
// under the application-data folder. A junction or symbolic link planted in the path, or a hard
// link planted as the file, would lead those reads and writes to a file of that user's choosing;
// such a path is not used at all.

enum class PathPart { kPlain, kMissing, kLink, kManyNames, kNotChecked };

bool IsMissing(DWORD dwError) {
  return dwError == ERROR_FILE_NOT_FOUND || dwError == ERROR_PATH_NOT_FOUND ||
         dwError == ERROR_INVALID_NAME;
}

PathPart MissingOrNotChecked(DWORD* pdwError) {
  *pdwError = GetLastError();
  return IsMissing(*pdwError) ? PathPart::kMissing : PathPart::kNotChecked;
}

// A folder as it is, not where it may lead.
PathPart CheckFolder(LPCWSTR pszFolder, DWORD* pdwError) {
  const DWORD dwAttributes = GetFileAttributesW(pszFolder);
  if (dwAttributes == INVALID_FILE_ATTRIBUTES) {
    return MissingOrNotChecked(pdwError);
  }
  return (dwAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0 ? PathPart::kLink : PathPart::kPlain;
}

// The file itself, opened only to look at it: a link, or a file with another name elsewhere.
PathPart CheckFile(LPCWSTR pszFile, DWORD* pdwError) {
  const HANDLE hFile = CreateFileW(
      pszFile, FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
      nullptr, OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT | FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (hFile == INVALID_HANDLE_VALUE) {
    return MissingOrNotChecked(pdwError);
  }
  BY_HANDLE_FILE_INFORMATION info;
  PathPart part = PathPart::kPlain;
  if (!GetFileInformationByHandle(hFile, &info)) {
    *pdwError = GetLastError();
    part = PathPart::kNotChecked;
  } else if ((info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) {
    part = PathPart::kLink;
  } else if ((info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0 && info.nNumberOfLinks > 1) {
    part = PathPart::kManyNames;
  }
  CloseHandle(hFile);
  return part;
}

// Logs why the part of the path that ends at the NUL is not used; false for a usable part.
bool Refused(PathPart part, LPCWSTR pszPart, DWORD dwError) {
  switch (part) {
    case PathPart::kLink:
      LogMessage(LOG_ERROR, "OemPtrGetDriverAppDataPath(): %ls is a link, not used\n", pszPart);
      return true;
    case PathPart::kManyNames:
      LogMessage(LOG_ERROR, "OemPtrGetDriverAppDataPath(): %ls has more than one link, not used\n",
                 pszPart);
      return true;
    case PathPart::kNotChecked:
      LogMessage(LOG_ERROR,
                 "OemPtrGetDriverAppDataPath(): %ls cannot be checked (0x%lX), not used\n", pszPart,
                 dwError);
      return true;
    default:
      return false;
  }
}

// True when every folder below the application-data folder (its first cchAppData characters)
// and the file are plain or missing; a missing one ends the check, as nothing can lie below it.
bool IsPlainSettingsPath(LPWSTR pszPath, DWORD cchAppData) {
  DWORD dwError = ERROR_SUCCESS;
  for (DWORD i = cchAppData + 1; pszPath[i] != 0; ++i) {
    // Each folder once: a doubled separator names the folder before it again.
    if (pszPath[i] != kSeparator[0] || pszPath[i - 1] == kSeparator[0]) {
      continue;
    }
    pszPath[i] = 0;  // the path up to this folder, for a moment
    const PathPart part = CheckFolder(pszPath, &dwError);
    const bool fRefused = Refused(part, pszPath, dwError);
    pszPath[i] = kSeparator[0];
    if (fRefused) {
      return false;
    }
    if (part == PathPart::kMissing) {
      return true;
    }
  }
  return !Refused(CheckFile(pszPath, &dwError), pszPath, dwError);
}

// ---- Building the path -----------------------------------------------------------------------

// The path of pszFileName, then pszSuffix, in the printer's settings directory.
LPWSTR BuildSettingsPath(HANDLE hPrinter, LPCWSTR pszFileName, LPCWSTR pszSuffix) {
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
  AppendComponent(pszPath, pszPrinterName);
  AppendComponent(pszPath, pszFileName);
  lstrcatW(pszPath, pszSuffix);
  GlobalFree(pszPrinterName);

  if (!IsPlainSettingsPath(pszPath, cchAppData)) {
    return NoDriverPath(pszPath);
  }

  LogMessage(LOG_TRACE, "OemPtrGetDriverAppDataPath() returning (0x%lX)\n",
             static_cast<DWORD>(reinterpret_cast<ULONG_PTR>(pszPath)));
  return pszPath;
}

}  // namespace

LPWSTR OemPtrGetDriverAppDataPath(HANDLE hPrinter, LPCWSTR pszFileName) {
  return BuildSettingsPath(hPrinter, pszFileName, WSTR(""));
}

LPWSTR GetPrinterSettingsPath(HANDLE hPrinter, LPCWSTR pszPrinterName) {
  return BuildSettingsPath(hPrinter, pszPrinterName, kPrinterSettingsExtension);
}

LPWSTR GetModelSettingsPath(HANDLE hPrinter) {
  return OemPtrGetDriverAppDataPath(hPrinter, kModelSettingsFileName);
}
