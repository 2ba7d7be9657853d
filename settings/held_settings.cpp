#include "settings/held_settings.h"

#include "diag/log.h"
#include "settings/settings_keys.h"
#include "settings/settings_paths.h"

namespace {

constexpr WCHAR kSeparator = WSTR('\\');

// Shared for reading and writing, so the profile functions can still open the file by name; never
// for delete, so no part can be renamed, removed or replaced while held.
constexpr DWORD kHeldSharing = FILE_SHARE_READ | FILE_SHARE_WRITE;
// The name itself, not where a link would lead; a folder opens only with backup semantics.
constexpr DWORD kHeldFlags = FILE_FLAG_OPEN_REPARSE_POINT | FILE_FLAG_BACKUP_SEMANTICS;

enum class PathPart { kHeld, kMissing, kLink, kManyNames, kNotDiskFile, kNotChecked };

bool IsMissing(DWORD dwError) {
  return dwError == ERROR_FILE_NOT_FOUND || dwError == ERROR_PATH_NOT_FOUND ||
         dwError == ERROR_INVALID_NAME;
}

// Opened for reading, not for attributes alone: a handle with no data access takes no part in
// sharing, and would keep nothing from being renamed or removed.
HANDLE OpenPart(LPCWSTR pszPart, DWORD dwDisposition, DWORD dwAccess) {
  return CreateFileW(pszPart, dwAccess | FILE_READ_ATTRIBUTES, kHeldSharing, nullptr, dwDisposition,
                     kHeldFlags, nullptr);
}

// A folder as it is, not where it may lead; *phFolder keeps it open when it is held.
PathPart HoldFolder(LPCWSTR pszFolder, HANDLE* phFolder, DWORD* pdwError) {
  const HANDLE hFolder = OpenPart(pszFolder, OPEN_EXISTING, FILE_LIST_DIRECTORY);
  if (hFolder == INVALID_HANDLE_VALUE) {
    *pdwError = GetLastError();
    return IsMissing(*pdwError) ? PathPart::kMissing : PathPart::kNotChecked;
  }
  BY_HANDLE_FILE_INFORMATION info;
  PathPart part = PathPart::kHeld;
  if (!GetFileInformationByHandle(hFolder, &info)) {
    *pdwError = GetLastError();
    part = PathPart::kNotChecked;
  } else if ((info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) {
    part = PathPart::kLink;
  } else if ((info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0) {
    part = PathPart::kMissing;  // a file where the folder should be: nothing lies below it
  }
  if (part == PathPart::kHeld) {
    *phFolder = hFolder;
  } else {
    CloseHandle(hFolder);
  }
  return part;
}

// The file on its own handle: no link, a single name, a file on a disk.
PathPart CheckFile(HANDLE hFile, DWORD* pdwError) {
  BY_HANDLE_FILE_INFORMATION info;
  if (!GetFileInformationByHandle(hFile, &info)) {
    *pdwError = GetLastError();
    return PathPart::kNotChecked;
  }
  if ((info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) {
    return PathPart::kLink;
  }
  if ((info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
    return PathPart::kNotDiskFile;
  }
  if (info.nNumberOfLinks > 1) {
    return PathPart::kManyNames;
  }
  SetLastError(ERROR_SUCCESS);  // FILE_TYPE_UNKNOWN is an answer too
  const DWORD dwType = GetFileType(hFile);
  if (dwType == FILE_TYPE_UNKNOWN && GetLastError() != ERROR_SUCCESS) {
    *pdwError = GetLastError();
    return PathPart::kNotChecked;
  }
  return dwType == FILE_TYPE_DISK ? PathPart::kHeld : PathPart::kNotDiskFile;
}

// Opens (or, with CREATE_NEW, makes) the file and checks it; *phFile keeps it open when held.
PathPart HoldFile(LPCWSTR pszFile, DWORD dwDisposition, HANDLE* phFile, DWORD* pdwError) {
  HANDLE hFile = OpenPart(pszFile, dwDisposition, FILE_READ_DATA);
  if (hFile == INVALID_HANDLE_VALUE && dwDisposition == CREATE_NEW &&
      GetLastError() == ERROR_FILE_EXISTS) {
    // Made by someone else since: checked as if found at the start.
    hFile = OpenPart(pszFile, OPEN_EXISTING, FILE_READ_DATA);
  }
  if (hFile == INVALID_HANDLE_VALUE) {
    *pdwError = GetLastError();
    return IsMissing(*pdwError) && dwDisposition != CREATE_NEW ? PathPart::kMissing
                                                               : PathPart::kNotChecked;
  }
  const PathPart part = CheckFile(hFile, pdwError);
  if (part == PathPart::kHeld) {
    *phFile = hFile;
  } else {
    CloseHandle(hFile);
  }
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
    case PathPart::kNotDiskFile:
      LogMessage(LOG_ERROR, "OemPtrGetDriverAppDataPath(): %ls is not a disk file, not used\n",
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

BOOL Hold(BOOL fHeld, HeldSettings* pHeld) {
  if (!fHeld) {
    LetGoOfHandles(pHeld);
  }
  return fHeld;
}

BOOL HoldBuiltPath(LPWSTR pszPath, DWORD cchAppData, HeldSettings* pHeld) {
  *pHeld = HeldSettings{};
  if (pszPath == nullptr) {
    return FALSE;
  }
  if (!HoldSettingsPath(pszPath, cchAppData, pHeld)) {
    GlobalFree(pszPath);
    return FALSE;
  }
  pHeld->pszPath = pszPath;
  return TRUE;
}

}  // namespace

BOOL HoldSettingsPath(LPWSTR pszPath, DWORD cchAppData, HeldSettings* pHeld) {
  *pHeld = HeldSettings{};
  DWORD dwError = ERROR_SUCCESS;
  for (DWORD i = cchAppData + 1; pszPath[i] != 0; ++i) {
    // Each folder once: a doubled separator names the folder before it again.
    if (pszPath[i] != kSeparator || pszPath[i - 1] == kSeparator) {
      continue;
    }
    pszPath[i] = 0;  // the path up to this folder, for a moment
    HANDLE hFolder = INVALID_HANDLE_VALUE;
    PathPart part = PathPart::kNotChecked;
    if (pHeld->cFolders < kHeldFolderLimit) {
      part = HoldFolder(pszPath, &hFolder, &dwError);
    } else {
      dwError = ERROR_TOO_MANY_OPEN_FILES;
    }
    const bool fRefused = Refused(part, pszPath, dwError);
    pszPath[i] = kSeparator;
    if (fRefused) {
      return Hold(FALSE, pHeld);
    }
    if (part == PathPart::kMissing) {
      pHeld->fFolderMissing = TRUE;
      return TRUE;
    }
    pHeld->ahFolders[pHeld->cFolders++] = hFolder;
  }
  const PathPart file = HoldFile(pszPath, OPEN_EXISTING, &pHeld->hFile, &dwError);
  return Hold(!Refused(file, pszPath, dwError), pHeld);
}

void LetGoOfHandles(HeldSettings* pHeld) {
  if (pHeld->hFile != INVALID_HANDLE_VALUE) {
    CloseHandle(pHeld->hFile);
    pHeld->hFile = INVALID_HANDLE_VALUE;
  }
  // The innermost first, as they were opened the other way round.
  while (pHeld->cFolders > 0) {
    CloseHandle(pHeld->ahFolders[--pHeld->cFolders]);
  }
}

BOOL HoldPrinterSettings(HANDLE hPrinter, LPCWSTR pszPrinterName, HeldSettings* pHeld) {
  DWORD cchAppData = 0;
  LPWSTR pszPath =
      ComposeSettingsPath(hPrinter, pszPrinterName, kPrinterSettingsExtension, &cchAppData);
  return HoldBuiltPath(pszPath, cchAppData, pHeld);
}

BOOL HoldModelSettings(HANDLE hPrinter, HeldSettings* pHeld) {
  DWORD cchAppData = 0;
  LPWSTR pszPath = ComposeSettingsPath(hPrinter, kModelSettingsFileName, WSTR(""), &cchAppData);
  return HoldBuiltPath(pszPath, cchAppData, pHeld);
}

void ReleaseSettings(HeldSettings* pHeld) {
  LetGoOfHandles(pHeld);
  if (pHeld->pszPath != nullptr) {
    GlobalFree(pHeld->pszPath);
    pHeld->pszPath = nullptr;
  }
}

UINT ReadHeldSetting(const HeldSettings* pHeld, LPCWSTR pszKey, INT nDefault) {
  // A file that was not there when the use began was not checked: it is not read by name.
  if (pHeld->pszPath == nullptr || pHeld->hFile == INVALID_HANDLE_VALUE) {
    return static_cast<UINT>(nDefault);
  }
  return GetPrivateProfileIntW(kSettingsSection, pszKey, nDefault, pHeld->pszPath);
}

BOOL WriteHeldSetting(HeldSettings* pHeld, LPCWSTR pszKey, LPCWSTR pszValue) {
  if (pHeld->pszPath == nullptr) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  if (pHeld->fFolderMissing) {
    SetLastError(ERROR_PATH_NOT_FOUND);
    return FALSE;
  }
  if (pHeld->hFile == INVALID_HANDLE_VALUE) {
    DWORD dwError = ERROR_SUCCESS;
    const PathPart file = HoldFile(pHeld->pszPath, CREATE_NEW, &pHeld->hFile, &dwError);
    if (Refused(file, pHeld->pszPath, dwError)) {
      ReleaseSettings(pHeld);
      SetLastError(ERROR_ACCESS_DENIED);
      return FALSE;
    }
  }
  return WritePrivateProfileStringW(kSettingsSection, pszKey, pszValue, pHeld->pszPath);
}
