#include "settings/settings_memory.h"

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

struct FileMemory {
  WCHAR szPath[MAX_PATH];  // empty: the entry is free
  DWORD dwLastUse;
  KeyMemory keys[kSettingsMemoryKeys];
};

FileMemory gFiles[kSettingsMemoryFiles];
DWORD gUses = 0;
DWORD gKeptOrder = 0;

bool Fits(LPCWSTR psz, DWORD cch) { return lstrlenW(psz) < static_cast<int>(cch); }

bool HasKept(const FileMemory& file) {
  for (const KeyMemory& key : file.keys) {
    if (key.szKey[0] != 0 && key.szKept[0] != 0) {
      return true;
    }
  }
  return false;
}

// Whether a new file had better take candidate's entry than the one chosen so far: a free entry
// first, else the one used longest ago of those that keep nothing unwritten.
bool BetterPlace(const FileMemory& candidate, const FileMemory* pChosen) {
  if (candidate.szPath[0] == 0) {
    return pChosen == nullptr || pChosen->szPath[0] != 0;
  }
  return !HasKept(candidate) && (pChosen == nullptr || (pChosen->szPath[0] != 0 &&
                                                        candidate.dwLastUse < pChosen->dwLastUse));
}

// The file's entry; with fAdd, a new one when it has none and there is room. Lock held.
FileMemory* FindFile(LPCWSTR pszFile, bool fAdd) {
  if (pszFile == nullptr || !Fits(pszFile, MAX_PATH)) {
    return nullptr;
  }
  FileMemory* pFree = nullptr;
  for (FileMemory& file : gFiles) {
    if (file.szPath[0] != 0 && lstrcmpiW(file.szPath, pszFile) == 0) {
      file.dwLastUse = ++gUses;
      return &file;
    }
    if (BetterPlace(file, pFree)) {
      pFree = &file;
    }
  }
  if (!fAdd || pFree == nullptr) {
    return nullptr;
  }
  *pFree = FileMemory{};
  lstrcpyW(pFree->szPath, pszFile);
  pFree->dwLastUse = ++gUses;
  return pFree;
}

// The key's slot in the file's entry; with fAdd, a free one when it has none. Lock held.
KeyMemory* FindKey(LPCWSTR pszFile, LPCWSTR pszKey, bool fAdd) {
  if (pszKey == nullptr || !Fits(pszKey, kSettingsMemoryKeyChars)) {
    return nullptr;
  }
  FileMemory* pFile = FindFile(pszFile, fAdd);
  if (pFile == nullptr) {
    return nullptr;
  }
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

void Know(KeyMemory* pKey, UINT uValue, BOOL fFoundMissing) {
  pKey->fKnown = TRUE;
  pKey->fFoundMissing = fFoundMissing;
  pKey->uValue = uValue;
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
  const BOOL fKept = pFile != nullptr && HasKept(*pFile);
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
