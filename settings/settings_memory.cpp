#include "settings/settings_memory.h"

#include "diag/log.h"
#include "records/no_case_compare.h"
#include "records/records.h"
#include "settings/wide_number.h"

namespace {

struct KeyMemory {
  WCHAR szKey[kSettingsMemoryKeyChars];  // empty: the slot is free
  BOOL fKnown;                           // read or written by this process
  BOOL fFoundMissing;                    // the last read answered its default
  UINT uValue;
  WCHAR szKept[kSettingsMemoryValueChars];  // empty: nothing waits to be written
  DWORD dwKeptOrder;
};

// The file as a held handle showed it; unknown until a use finds the file there.
struct FileIdentity {
  BOOL fKnown;
  DWORD dwVolume;
  DWORD dwIndexHigh;
  DWORD dwIndexLow;
};

struct FileMemory {
  WCHAR szPath[MAX_PATH];  // empty: the entry is free
  DWORD dwLastUse;
  FileIdentity identity;
  KeyMemory keys[kSettingsMemoryKeys];
};

FileMemory gFiles[kSettingsMemoryFiles];
DWORD gUses = 0;
DWORD gKeptOrder = 0;

constexpr WCHAR kSeparator = WSTR('\\');

bool Fits(LPCWSTR psz, DWORD cch) { return lstrlenW(psz) < static_cast<int>(cch); }

DWORD KeptCount(const FileMemory& file) {
  DWORD cKept = 0;
  for (const KeyMemory& key : file.keys) {
    if (key.szKey[0] != 0 && key.szKept[0] != 0) {
      ++cKept;
    }
  }
  return cKept;
}

// Where the file's own name begins: behind the last separator.
DWORD FileNameStart(LPCWSTR pszPath) {
  DWORD start = 0;
  for (DWORD i = 0; pszPath[i] != 0; ++i) {
    if (pszPath[i] == kSeparator) {
      start = i + 1;
    }
  }
  return start;
}

// Whether the file lies in the folder named after the printer: its path ends "\<name>\<file>".
bool IsFileOfPrinter(LPCWSTR pszPath, LPCWSTR pszPrinterName) {
  if (pszPrinterName == nullptr || pszPrinterName[0] == 0) {
    return false;
  }
  const DWORD cchName = static_cast<DWORD>(lstrlenW(pszPrinterName));
  const DWORD fileStart = FileNameStart(pszPath);
  if (fileStart < cchName + 2) {
    return false;
  }
  const DWORD nameStart = fileStart - 1 - cchName;
  return pszPath[nameStart - 1] == kSeparator &&
         StartsWithNoCase(pszPath + nameStart, pszPrinterName, static_cast<int>(cchName));
}

// Whether a printer of the file has a port open or a job listed: its values are not pushed out.
bool InUse(const FileMemory& file) {
  for (const IniPort* pIniPort = pIniFirstPort; pIniPort != nullptr; pIniPort = pIniPort->pNext) {
    if (IsFileOfPrinter(file.szPath, pIniPort->szPrinterName)) {
      return true;
    }
    for (const IniJob* pIniJob = pIniPort->pIniJob; pIniJob != nullptr; pIniJob = pIniJob->pNext) {
      if (IsFileOfPrinter(file.szPath, pIniJob->pszPrinterName)) {
        return true;
      }
    }
  }
  return false;
}

bool FileGone(const FileMemory& file) {
  if (GetFileAttributesW(file.szPath) != INVALID_FILE_ATTRIBUTES) {
    return false;
  }
  const DWORD dwError = GetLastError();
  return dwError == ERROR_FILE_NOT_FOUND || dwError == ERROR_PATH_NOT_FOUND;
}

FileMemory* Older(FileMemory* pChosen, FileMemory& candidate) {
  return pChosen == nullptr || candidate.dwLastUse < pChosen->dwLastUse ? &candidate : pChosen;
}

// The entry a new file takes when it has none, emptied; NULL when every entry belongs to a
// printer in use. Lock held.
FileMemory* MakeRoom(LPCWSTR pszFile) {
  FileMemory* pKeepsNothing = nullptr;
  FileMemory* pKeeps = nullptr;
  for (FileMemory& file : gFiles) {
    if (file.szPath[0] == 0) {
      return &file;
    }
    if (InUse(file)) {
      continue;
    }
    if (KeptCount(file) == 0) {
      pKeepsNothing = Older(pKeepsNothing, file);
    } else {
      pKeeps = Older(pKeeps, file);
    }
  }
  if (pKeepsNothing != nullptr) {
    LogMessage(LOG_INFORM, "SettingsMemory(): values of %ls pushed out by %ls\n",
               pKeepsNothing->szPath, pszFile);
    return pKeepsNothing;
  }
  for (FileMemory& file : gFiles) {
    if (!InUse(file) && FileGone(file)) {
      LogMessage(LOG_INFORM,
                 "SettingsMemory(): values of %ls dropped, %lu still to be written: the file is "
                 "gone\n",
                 file.szPath, KeptCount(file));
      return &file;
    }
  }
  if (pKeeps != nullptr) {
    LogMessage(LOG_ERROR,
               "SettingsMemory(): values of %ls pushed out by %ls, %lu still to be written lost\n",
               pKeeps->szPath, pszFile, KeptCount(*pKeeps));
  }
  return pKeeps;
}

// The file's entry; with fAdd, a new one when it has none and there is room. Lock held.
FileMemory* FindFile(LPCWSTR pszFile, bool fAdd) {
  if (pszFile == nullptr || !Fits(pszFile, MAX_PATH)) {
    return nullptr;
  }
  for (FileMemory& file : gFiles) {
    if (file.szPath[0] != 0 && lstrcmpiW(file.szPath, pszFile) == 0) {
      file.dwLastUse = ++gUses;
      return &file;
    }
  }
  FileMemory* pFree = fAdd ? MakeRoom(pszFile) : nullptr;
  if (pFree == nullptr) {
    return nullptr;
  }
  *pFree = FileMemory{};
  lstrcpyW(pFree->szPath, pszFile);
  pFree->dwLastUse = ++gUses;
  return pFree;
}

// The key's slot in the file's entry; with fAdd, a free one when it has none.
KeyMemory* FindKeyIn(FileMemory* pFile, LPCWSTR pszKey, bool fAdd) {
  KeyMemory* pFree = nullptr;
  for (KeyMemory& key : pFile->keys) {
    if (key.szKey[0] != 0 && lstrcmpiW(key.szKey, pszKey) == 0) {
      return &key;
    }
    if (key.szKey[0] == 0 && pFree == nullptr) {
      pFree = &key;
    }
  }
  if (!fAdd || pFree == nullptr) {
    return nullptr;
  }
  *pFree = KeyMemory{};
  lstrcpyW(pFree->szKey, pszKey);
  return pFree;
}

// The key's slot of the file; with fAdd, made when there is none and there is room. Lock held.
KeyMemory* FindKey(LPCWSTR pszFile, LPCWSTR pszKey, bool fAdd) {
  if (pszKey == nullptr || !Fits(pszKey, kSettingsMemoryKeyChars)) {
    return nullptr;
  }
  FileMemory* pFile = FindFile(pszFile, fAdd);
  return pFile != nullptr ? FindKeyIn(pFile, pszKey, fAdd) : nullptr;
}

void Know(KeyMemory* pKey, UINT uValue, BOOL fFoundMissing) {
  pKey->fKnown = TRUE;
  pKey->fFoundMissing = fFoundMissing;
  pKey->uValue = uValue;
}

// The value a read would answer from the key's memory: a value kept first, then one known.
bool Recall(const KeyMemory* pKey, INT nDefault, UINT* puValue) {
  if (pKey == nullptr) {
    return false;
  }
  if (pKey->szKept[0] != 0) {
    *puValue = ParseDecimal(pKey->szKept);
    return true;
  }
  if (pKey->fKnown) {
    *puValue = pKey->fFoundMissing ? static_cast<UINT>(nDefault) : pKey->uValue;
    return true;
  }
  return false;
}

bool SameFile(const FileIdentity& identity, const BY_HANDLE_FILE_INFORMATION& info) {
  return identity.dwVolume == info.dwVolumeSerialNumber &&
         identity.dwIndexHigh == info.nFileIndexHigh && identity.dwIndexLow == info.nFileIndexLow;
}

}  // namespace

void RememberReadSetting(LPCWSTR pszFile, LPCWSTR pszKey, UINT uValue, INT nDefault) {
  EnterMonitorLock();
  if (KeyMemory* pKey = FindKey(pszFile, pszKey, true)) {
    Know(pKey, uValue, uValue == static_cast<UINT>(nDefault));
  }
  LeaveMonitorLock();
}

void RememberWrittenSetting(LPCWSTR pszFile, LPCWSTR pszKey, LPCWSTR pszValue) {
  EnterMonitorLock();
  if (KeyMemory* pKey = FindKey(pszFile, pszKey, true)) {
    Know(pKey, ParseDecimal(pszValue), FALSE);
    pKey->szKept[0] = 0;
  }
  LeaveMonitorLock();
}

BOOL RecallKeptSetting(LPCWSTR pszFile, LPCWSTR pszKey, UINT* puValue) {
  EnterMonitorLock();
  const KeyMemory* pKey = FindKey(pszFile, pszKey, false);
  const BOOL fKept = pKey != nullptr && pKey->szKept[0] != 0;
  if (fKept) {
    *puValue = ParseDecimal(pKey->szKept);
  }
  LeaveMonitorLock();
  return fKept;
}

BOOL RecallSetting(LPCWSTR pszFile, LPCWSTR pszKey, INT nDefault, UINT* puValue) {
  EnterMonitorLock();
  const KeyMemory* pKey = FindKey(pszFile, pszKey, false);
  const BOOL fKnown = pKey != nullptr && pKey->fKnown;
  if (fKnown) {
    *puValue = pKey->fFoundMissing ? static_cast<UINT>(nDefault) : pKey->uValue;
  }
  LeaveMonitorLock();
  return fKnown;
}

BOOL RecallSettingOfFileNamed(LPCWSTR pszFileName, LPCWSTR pszKey, INT nDefault, UINT* puValue) {
  if (pszFileName == nullptr || pszKey == nullptr) {
    return FALSE;
  }
  EnterMonitorLock();
  FileMemory* pNewest = nullptr;
  UINT uNewest = 0;
  for (FileMemory& file : gFiles) {
    UINT uValue = 0;
    if (file.szPath[0] != 0 && (pNewest == nullptr || file.dwLastUse > pNewest->dwLastUse) &&
        lstrcmpiW(file.szPath + FileNameStart(file.szPath), pszFileName) == 0 &&
        Recall(FindKeyIn(&file, pszKey, false), nDefault, &uValue)) {
      pNewest = &file;
      uNewest = uValue;
    }
  }
  if (pNewest != nullptr) {
    *puValue = uNewest;
  }
  LeaveMonitorLock();
  return pNewest != nullptr;
}

BOOL KeepSetting(LPCWSTR pszFile, LPCWSTR pszKey, LPCWSTR pszValue) {
  if (pszValue == nullptr || !Fits(pszValue, kSettingsMemoryValueChars)) {
    return FALSE;
  }
  EnterMonitorLock();
  KeyMemory* pKey = FindKey(pszFile, pszKey, true);
  if (pKey != nullptr) {
    lstrcpyW(pKey->szKept, pszValue);
    pKey->dwKeptOrder = ++gKeptOrder;
  }
  LeaveMonitorLock();
  return pKey != nullptr;
}

void NoteSettingsFile(LPCWSTR pszFile, const BY_HANDLE_FILE_INFORMATION* pInfo) {
  EnterMonitorLock();
  // A file that is there is remembered from its first use, so that values kept for it later
  // belong to it alone.
  FileMemory* pFile = FindFile(pszFile, pInfo != nullptr);
  if (pFile != nullptr && pFile->identity.fKnown &&
      (pInfo == nullptr || !SameFile(pFile->identity, *pInfo))) {
    // What was known or kept belongs to a file that is no more; this one starts from itself.
    LogMessage(LOG_INFORM,
               "SettingsMemory(): values of %ls dropped, %lu still to be written: the file is %s\n",
               pszFile, KeptCount(*pFile), pInfo == nullptr ? "gone" : "made anew");
    const DWORD dwLastUse = pFile->dwLastUse;
    *pFile = FileMemory{};
    if (pInfo != nullptr) {
      lstrcpyW(pFile->szPath, pszFile);
      pFile->dwLastUse = dwLastUse;
    }
  }
  if (pFile != nullptr && pFile->szPath[0] != 0 && pInfo != nullptr) {
    pFile->identity = {TRUE, pInfo->dwVolumeSerialNumber, pInfo->nFileIndexHigh,
                       pInfo->nFileIndexLow};
  }
  LeaveMonitorLock();
}

DWORD WriteKeptSettings(LPCWSTR pszFile, KeptSettingWriter pfnWrite, void* pContext) {
  EnterMonitorLock();
  DWORD cWritten = 0;
  for (;;) {
    FileMemory* pFile = FindFile(pszFile, false);
    KeyMemory* pOldest = nullptr;
    for (DWORD i = 0; pFile != nullptr && i < kSettingsMemoryKeys; ++i) {
      KeyMemory& key = pFile->keys[i];
      if (key.szKey[0] != 0 && key.szKept[0] != 0 &&
          (pOldest == nullptr || key.dwKeptOrder < pOldest->dwKeptOrder)) {
        pOldest = &key;
      }
    }
    // The writer may note the value itself: it gets copies.
    KeyMemory taken = pOldest != nullptr ? *pOldest : KeyMemory{};
    if (pOldest == nullptr || !pfnWrite(taken.szKey, taken.szKept, pContext)) {
      break;
    }
    Know(pOldest, ParseDecimal(taken.szKept), FALSE);
    pOldest->szKept[0] = 0;
    ++cWritten;
  }
  LeaveMonitorLock();
  return cWritten;
}

BOOL HasKeptSettings(LPCWSTR pszFile) {
  EnterMonitorLock();
  const FileMemory* pFile = FindFile(pszFile, false);
  const BOOL fKept = pFile != nullptr && KeptCount(*pFile) != 0;
  LeaveMonitorLock();
  return fKept;
}

void ForgetSettingsMemory() {
  EnterMonitorLock();
  for (FileMemory& file : gFiles) {
    file = FileMemory{};
  }
  gUses = 0;
  gKeptOrder = 0;
  LeaveMonitorLock();
}
