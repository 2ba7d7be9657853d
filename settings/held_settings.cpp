#include "settings/held_settings.h"

#include "diag/log.h"
#include "platform/run_time_functions.h"
#include "records/records.h"
#include "settings/settings_keys.h"
#include "settings/settings_memory.h"
#include "settings/settings_paths.h"

namespace {

constexpr WCHAR kSeparator = WSTR('\\');

// Shared for reading and writing, so the profile functions can still open the file by name; never
// for delete, so no part can be renamed, removed or replaced while held.
constexpr DWORD kHeldSharing = FILE_SHARE_READ | FILE_SHARE_WRITE;
// The name itself, not where a link would lead; a folder opens only with backup semantics.
constexpr DWORD kHeldFlags = FILE_FLAG_OPEN_REPARSE_POINT | FILE_FLAG_BACKUP_SEMANTICS;

// A refused write is tried this many times, this far apart: about a second in all.
constexpr DWORD kWriteTries = 8;
constexpr DWORD kWriteRetryMs = 125;

enum class PathPart { kHeld, kMissing, kRefused, kLink, kManyNames, kNotDiskFile, kNotChecked };

bool IsMissing(DWORD dwError) {
  return dwError == ERROR_FILE_NOT_FOUND || dwError == ERROR_PATH_NOT_FOUND ||
         dwError == ERROR_INVALID_NAME;
}

// The part is there, but another process holds it without sharing what the monitor asks for, or
// its access list keeps the monitor out: it may open later.
bool IsOpenRefused(DWORD dwError) {
  return dwError == ERROR_SHARING_VIOLATION || dwError == ERROR_LOCK_VIOLATION ||
         dwError == ERROR_ACCESS_DENIED;
}

PathPart NotOpened(DWORD dwError) {
  return IsMissing(dwError)       ? PathPart::kMissing
         : IsOpenRefused(dwError) ? PathPart::kRefused
                                  : PathPart::kNotChecked;
}

// Opened for reading, not for attributes alone: a handle with no data access takes no part in
// sharing, and would keep nothing from being renamed or removed.
HANDLE OpenPart(LPCWSTR pszPart, DWORD dwAccess) {
  return CreateFileW(pszPart, dwAccess | FILE_READ_ATTRIBUTES, kHeldSharing, nullptr, OPEN_EXISTING,
                     kHeldFlags, nullptr);
}

// A folder as it is on its handle: held, a link, or no folder at all.
PathPart CheckFolder(HANDLE hFolder, DWORD* pdwError) {
  BY_HANDLE_FILE_INFORMATION info;
  if (!GetFileInformationByHandle(hFolder, &info)) {
    *pdwError = GetLastError();
    return PathPart::kNotChecked;
  }
  if ((info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) {
    return PathPart::kLink;
  }
  if ((info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0) {
    return PathPart::kMissing;  // a file where the folder should be: nothing lies below it
  }
  return PathPart::kHeld;
}

// A folder as it is, not where it may lead; *phFolder keeps it open when it is held.
PathPart HoldFolder(LPCWSTR pszFolder, HANDLE* phFolder, DWORD* pdwError) {
  const HANDLE hFolder = OpenPart(pszFolder, FILE_LIST_DIRECTORY);
  if (hFolder == INVALID_HANDLE_VALUE) {
    *pdwError = GetLastError();
    return NotOpened(*pdwError);
  }
  const PathPart part = CheckFolder(hFolder, pdwError);
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

// Keeps hFile in *phFile when it is a usable file, and closes it otherwise.
PathPart KeepCheckedFile(HANDLE hFile, HANDLE* phFile, DWORD* pdwError) {
  const PathPart part = CheckFile(hFile, pdwError);
  if (part == PathPart::kHeld) {
    *phFile = hFile;
  } else {
    CloseHandle(hFile);
  }
  return part;
}

PathPart HoldFile(LPCWSTR pszFile, HANDLE* phFile, DWORD* pdwError) {
  const HANDLE hFile = OpenPart(pszFile, FILE_READ_DATA);
  if (hFile == INVALID_HANDLE_VALUE) {
    *pdwError = GetLastError();
    return NotOpened(*pdwError);
  }
  return KeepCheckedFile(hFile, phFile, pdwError);
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

// The separator that ends the folder after position i of the path, or NULL past the last folder.
// A doubled separator names the folder before it again, and counts once.
LPWSTR NextFolderEnd(LPWSTR pszPath, DWORD* pi) {
  for (DWORD i = *pi; pszPath[i] != 0; ++i) {
    if (pszPath[i] == kSeparator && pszPath[i - 1] != kSeparator) {
      *pi = i + 1;
      return pszPath + i;
    }
  }
  return nullptr;
}

// The file's own name: what follows the last separator.
LPCWSTR FileNameOf(LPCWSTR pszPath) {
  LPCWSTR pszName = pszPath;
  for (LPCWSTR p = pszPath; *p != 0; ++p) {
    if (*p == kSeparator) {
      pszName = p + 1;
    }
  }
  return pszName;
}

// Nothing usable is held: a part could not be opened, for the reason given.
BOOL NotOpenedNow(HeldSettings* pHeld, LPCWSTR pszPart, DWORD dwError, bool fQuiet) {
  LetGoOfHandles(pHeld);
  pHeld->dwNotUsable = dwError;
  pHeld->fOpenRefused = TRUE;
  if (!fQuiet) {
    LogMessage(LOG_ERROR,
               "OemPtrGetDriverAppDataPath(): %ls cannot be opened (0x%lX), not used now\n",
               pszPart, dwError);
  }
  return TRUE;
}

// HoldSettingsPath; fQuiet leaves a part that cannot be opened unlogged (a write trying again).
BOOL HoldPath(LPWSTR pszPath, DWORD cchAppData, HeldSettings* pHeld, bool fQuiet) {
  *pHeld = HeldSettings{};
  pHeld->cchAppData = cchAppData;
  DWORD dwError = ERROR_SUCCESS;
  DWORD next = cchAppData + 1;
  for (LPWSTR pEnd = NextFolderEnd(pszPath, &next); pEnd != nullptr;
       pEnd = NextFolderEnd(pszPath, &next)) {
    *pEnd = 0;  // the path up to this folder, for a moment
    HANDLE hFolder = INVALID_HANDLE_VALUE;
    PathPart part = PathPart::kNotChecked;
    if (pHeld->cFolders < kHeldFolderLimit) {
      part = HoldFolder(pszPath, &hFolder, &dwError);
    } else {
      dwError = ERROR_TOO_MANY_OPEN_FILES;
    }
    const bool fRefused = Refused(part, pszPath, dwError);
    if (part == PathPart::kRefused) {
      NotOpenedNow(pHeld, pszPath, dwError, fQuiet);
    }
    *pEnd = kSeparator;
    if (fRefused) {
      LetGoOfHandles(pHeld);
      return FALSE;
    }
    if (part == PathPart::kRefused) {
      return TRUE;
    }
    if (part == PathPart::kMissing) {
      pHeld->fFolderMissing = TRUE;
      return TRUE;
    }
    pHeld->ahFolders[pHeld->cFolders++] = hFolder;
  }
  const PathPart file = HoldFile(pszPath, &pHeld->hFile, &dwError);
  if (file == PathPart::kRefused) {
    return NotOpenedNow(pHeld, pszPath, dwError, fQuiet);
  }
  if (Refused(file, pszPath, dwError)) {
    LetGoOfHandles(pHeld);
    return FALSE;
  }
  return TRUE;
}

// Tells the settings memory which file the path names now, or that it names none.
void NoteHeldFile(const HeldSettings* pHeld) {
  BY_HANDLE_FILE_INFORMATION info;
  if (pHeld->hFile == INVALID_HANDLE_VALUE) {
    NoteSettingsFile(pHeld->pszPath, nullptr);
  } else if (GetFileInformationByHandle(pHeld->hFile, &info)) {
    NoteSettingsFile(pHeld->pszPath, &info);
  }
}

// ---- Making a missing file ------------------------------------------------------------------

using NtCreateFileFunction = decltype(&NtCreateFile);
using NtStatusToErrorFunction = decltype(&RtlNtStatusToDosError);

// Opens, or with FILE_CREATE makes, the file of that name inside the folder the handle holds:
// relative to the handle, never by a path, so a junction made of the folder meanwhile cannot
// lead it elsewhere. INVALID_HANDLE_VALUE with *pdwError set.
HANDLE OpenInFolder(HANDLE hFolder, LPCWSTR pszName, ULONG ulDisposition, DWORD* pdwError) {
  NtCreateFileFunction pfnCreate = nullptr;
  NtStatusToErrorFunction pfnToError = nullptr;
  if (!FindNtdllFunction("NtCreateFile", &pfnCreate) ||
      !FindNtdllFunction("RtlNtStatusToDosError", &pfnToError)) {
    *pdwError = ERROR_PROC_NOT_FOUND;
    return INVALID_HANDLE_VALUE;
  }
  UNICODE_STRING name;
  name.Buffer = const_cast<PWSTR>(pszName);
  name.Length = static_cast<USHORT>(lstrlenW(pszName) * sizeof(WCHAR));
  name.MaximumLength = static_cast<USHORT>(name.Length + sizeof(WCHAR));
  OBJECT_ATTRIBUTES attributes = {};
  attributes.Length = sizeof(attributes);
  attributes.RootDirectory = hFolder;
  attributes.ObjectName = &name;
  attributes.Attributes = OBJ_CASE_INSENSITIVE;
  IO_STATUS_BLOCK io = {};
  HANDLE hFile = nullptr;
  // The access and sharing of every held part; the link itself, never where it leads.
  const NTSTATUS status = pfnCreate(
      &hFile, FILE_READ_DATA | FILE_READ_ATTRIBUTES | SYNCHRONIZE, &attributes, &io, nullptr,
      FILE_ATTRIBUTE_NORMAL, kHeldSharing, ulDisposition,
      FILE_NON_DIRECTORY_FILE | FILE_OPEN_REPARSE_POINT | FILE_SYNCHRONOUS_IO_NONALERT, nullptr, 0);
  if (!NT_SUCCESS(status)) {
    *pdwError = pfnToError(status);
    return INVALID_HANDLE_VALUE;
  }
  return hFile;
}

// Every held folder looked at again on its handle: an empty folder can be made a junction in
// place, which holding it does not stop, and the profile functions go by name.
PathPart FoldersUnchanged(HeldSettings* pHeld, DWORD* pdwError) {
  DWORD next = pHeld->cchAppData + 1;
  DWORD i = 0;
  for (LPWSTR pEnd = NextFolderEnd(pHeld->pszPath, &next); pEnd != nullptr && i < pHeld->cFolders;
       pEnd = NextFolderEnd(pHeld->pszPath, &next), ++i) {
    const PathPart part = CheckFolder(pHeld->ahFolders[i], pdwError);
    if (part != PathPart::kHeld) {
      *pEnd = 0;
      Refused(part == PathPart::kMissing ? PathPart::kNotDiskFile : part, pHeld->pszPath,
              *pdwError);
      *pEnd = kSeparator;
      return part;
    }
  }
  return PathPart::kHeld;
}

// Makes the missing file inside the innermost held folder (or opens it there, when someone made
// it since the use began), checks it on its handle and holds it, and then checks the folders
// again. FALSE, with the file not used for the rest of the use, when any of that fails.
BOOL MakeHeldFile(HeldSettings* pHeld) {
  const HANDLE hFolder = pHeld->ahFolders[pHeld->cFolders - 1];
  const LPCWSTR pszName = FileNameOf(pHeld->pszPath);
  DWORD dwError = ERROR_SUCCESS;
  HANDLE hFile = OpenInFolder(hFolder, pszName, FILE_CREATE, &dwError);
  if (hFile == INVALID_HANDLE_VALUE && dwError == ERROR_ALREADY_EXISTS) {
    hFile = OpenInFolder(hFolder, pszName, FILE_OPEN, &dwError);
  }
  PathPart part = hFile == INVALID_HANDLE_VALUE ? PathPart::kNotChecked
                                                : KeepCheckedFile(hFile, &pHeld->hFile, &dwError);
  if (!Refused(part, pHeld->pszPath, dwError)) {
    part = FoldersUnchanged(pHeld, &dwError);
  }
  if (part == PathPart::kHeld) {
    NoteHeldFile(pHeld);
    return TRUE;
  }
  LetGoOfHandles(pHeld);
  pHeld->dwNotUsable = ERROR_ACCESS_DENIED;
  return FALSE;
}

// ---- Writing -------------------------------------------------------------------------------

// One write of the key; ERROR_SUCCESS, or why it did not reach the file.
DWORD TryWrite(HeldSettings* pHeld, LPCWSTR pszKey, LPCWSTR pszValue) {
  if (pHeld->fFolderMissing) {
    return ERROR_PATH_NOT_FOUND;
  }
  if (pHeld->dwNotUsable == ERROR_SUCCESS && pHeld->hFile == INVALID_HANDLE_VALUE) {
    MakeHeldFile(pHeld);
  }
  if (pHeld->dwNotUsable != ERROR_SUCCESS) {
    return pHeld->dwNotUsable;
  }
  // Under the lock: a value kept for the key cannot be written after this newer one.
  EnterMonitorLock();
  DWORD dwError = ERROR_SUCCESS;
  if (WritePrivateProfileStringW(kSettingsSection, pszKey, pszValue, pHeld->pszPath)) {
    RememberWrittenSetting(pHeld->pszPath, pszKey, pszValue);
  } else {
    dwError = GetLastError() != ERROR_SUCCESS ? GetLastError() : ERROR_WRITE_FAULT;
  }
  LeaveMonitorLock();
  return dwError;
}

// Whether waiting may end what kept the write out: another process's handle.
bool MayPass(const HeldSettings* pHeld, DWORD dwError) {
  return pHeld->dwNotUsable != ERROR_SUCCESS
             ? pHeld->fOpenRefused != FALSE
             : dwError == ERROR_SHARING_VIOLATION || dwError == ERROR_LOCK_VIOLATION;
}

// Holds the path again from the start, quietly, keeping what the use has learned.
void HoldAgain(HeldSettings* pHeld) {
  const LPWSTR pszPath = pHeld->pszPath;
  const BOOL fWaited = pHeld->fWaitedToWrite;
  LetGoOfHandles(pHeld);
  if (!HoldPath(pszPath, pHeld->cchAppData, pHeld, true)) {
    pHeld->dwNotUsable = ERROR_ACCESS_DENIED;  // a part changed into what is never used
  }
  pHeld->pszPath = pszPath;
  pHeld->fWaitedToWrite = fWaited;
}

void LogFailedWrite(LPCWSTR pszKey, LPCWSTR pszFile, DWORD dwError, const char* pszOutcome) {
  LogMessage(LOG_ERROR, "WriteHeldSetting(): %ls of %ls not written (0x%lX)%s\n", pszKey, pszFile,
             dwError, pszOutcome);
}

// Writes one kept value into the held file; the writer of WriteKeptSettings.
BOOL WriteKept(LPCWSTR pszKey, LPCWSTR pszValue, void* pContext) {
  auto* pHeld = static_cast<HeldSettings*>(pContext);
  const DWORD dwError = TryWrite(pHeld, pszKey, pszValue);
  if (dwError != ERROR_SUCCESS) {
    LogFailedWrite(pszKey, pHeld->pszPath, dwError, ", kept for the next use");
    return FALSE;
  }
  LogMessage(LOG_INFORM, "WriteHeldSetting(): %ls of %ls written, kept since %ls was refused\n",
             pszKey, pHeld->pszPath, pszValue);
  return TRUE;
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
  LogMessage(LOG_TRACE, "OemPtrGetDriverAppDataPath() returning (0x%lX)\n",
             static_cast<DWORD>(reinterpret_cast<ULONG_PTR>(pszPath)));
  if (pHeld->dwNotUsable == ERROR_SUCCESS) {
    NoteHeldFile(pHeld);
    if (!pHeld->fFolderMissing && HasKeptSettings(pszPath)) {
      WriteKeptSettings(pszPath, WriteKept, pHeld);
    }
  }
  return TRUE;
}

}  // namespace

BOOL HoldSettingsPath(LPWSTR pszPath, DWORD cchAppData, HeldSettings* pHeld) {
  return HoldPath(pszPath, cchAppData, pHeld, false);
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

UINT ReadHeldSettingUnknownAs(const HeldSettings* pHeld, LPCWSTR pszKey, INT nDefault,
                              UINT uUnknown) {
  UINT uValue = static_cast<UINT>(nDefault);
  if (pHeld->pszPath == nullptr) {
    return uValue;
  }
  if (RecallKeptSetting(pHeld->pszPath, pszKey, &uValue)) {
    LogMessage(LOG_INFORM, "ReadHeldSetting(): %ls of %ls is still to be written, %u is used\n",
               pszKey, pHeld->pszPath, uValue);
    return uValue;
  }
  if (pHeld->dwNotUsable != ERROR_SUCCESS) {
    if (RecallSetting(pHeld->pszPath, pszKey, nDefault, &uValue)) {
      LogMessage(LOG_INFORM,
                 "ReadHeldSetting(): %ls of %ls cannot be read, %u as last read or written is "
                 "used\n",
                 pszKey, pHeld->pszPath, uValue);
      return uValue;
    }
    LogMessage(LOG_INFORM,
               "ReadHeldSetting(): %ls of %ls cannot be read and was never read, %u is used\n",
               pszKey, pHeld->pszPath, uUnknown);
    return uUnknown;
  }
  // A file that was not there when the use began was not checked: it is not read by name.
  if (pHeld->hFile == INVALID_HANDLE_VALUE) {
    return uValue;
  }
  uValue = GetPrivateProfileIntW(kSettingsSection, pszKey, nDefault, pHeld->pszPath);
  RememberReadSetting(pHeld->pszPath, pszKey, uValue, nDefault);
  return uValue;
}

UINT ReadHeldSetting(const HeldSettings* pHeld, LPCWSTR pszKey, INT nDefault) {
  return ReadHeldSettingUnknownAs(pHeld, pszKey, nDefault, static_cast<UINT>(nDefault));
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
  DWORD dwError = TryWrite(pHeld, pszKey, pszValue);
  for (DWORD dwTry = 1; dwError != ERROR_SUCCESS && MayPass(pHeld, dwError) &&
                        !pHeld->fWaitedToWrite && dwTry < kWriteTries;
       ++dwTry) {
    Sleep(kWriteRetryMs);
    if (pHeld->dwNotUsable != ERROR_SUCCESS) {
      HoldAgain(pHeld);
    }
    dwError = TryWrite(pHeld, pszKey, pszValue);
  }
  if (dwError == ERROR_SUCCESS) {
    return TRUE;
  }
  if (dwError == ERROR_PATH_NOT_FOUND && pHeld->fFolderMissing) {
    SetLastError(dwError);  // no settings folder: as for a write without settings
    return FALSE;
  }
  // Another process's doing, or a file that cannot be held: the value waits for the next use.
  if (MayPass(pHeld, dwError) || pHeld->dwNotUsable != ERROR_SUCCESS) {
    pHeld->fWaitedToWrite = TRUE;
    LogFailedWrite(pszKey, pHeld->pszPath, dwError,
                   KeepSetting(pHeld->pszPath, pszKey, pszValue)
                       ? ", kept for the next use"
                       : ", and no room to keep it: lost");
  } else {
    LogFailedWrite(pszKey, pHeld->pszPath, dwError, "");
  }
  SetLastError(dwError);
  return FALSE;
}
