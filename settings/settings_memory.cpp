#include "settings/settings_memory.h"

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
  MonitorLock lock;
  if (KeyMemory* pKey = FindKey(pszFile, pszKey, true)) {
    Know(pKey, uValue, uValue == static_cast<UINT>(nDefault));
  }
}

void RememberWrittenSetting(LPCWSTR pszFile, LPCWSTR pszKey, LPCWSTR pszValue) {
  MonitorLock lock;
  if (KeyMemory* pKey = FindKey(pszFile, pszKey, true)) {
    Know(pKey, ParseDecimal(pszValue), FALSE);
    pKey->szKept[0] = 0;
  }
}

BOOL RecallKeptSetting(LPCWSTR pszFile, LPCWSTR pszKey, UINT* puValue) {
  MonitorLock lock;
  const KeyMemory* pKey = FindKey(pszFile, pszKey, false);
  if (pKey == nullptr || pKey->szKept[0] == 0) {
    return FALSE;
  }
  *puValue = ParseDecimal(pKey->szKept);
  return TRUE;
}

BOOL RecallSetting(LPCWSTR pszFile, LPCWSTR pszKey, INT nDefault, UINT* puValue) {
  MonitorLock lock;
  const KeyMemory* pKey = FindKey(pszFile, pszKey, false);
  if (pKey == nullptr || !pKey->fKnown) {
    return FALSE;
  }
  *puValue = pKey->fFoundMissing ? static_cast<UINT>(nDefault) : pKey->uValue;
  return TRUE;
}

BOOL KeepSetting(LPCWSTR pszFile, LPCWSTR pszKey, LPCWSTR pszValue) {
  if (pszValue == nullptr || !Fits(pszValue, kSettingsMemoryValueChars)) {
    return FALSE;
  }
  MonitorLock lock;
  KeyMemory* pKey = FindKey(pszFile, pszKey, true);
  if (pKey == nullptr) {
    return FALSE;
  }
  lstrcpyW(pKey->szKept, pszValue);
  pKey->dwKeptOrder = ++gKeptOrder;
  return TRUE;
}

DWORD WriteKeptSettings(LPCWSTR pszFile, KeptSettingWriter pfnWrite, void* pContext) {
  MonitorLock lock;
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
    if (pOldest == nullptr) {
      return cWritten;
    }
    // The writer may note the value itself: it gets copies.
    KeyMemory taken = *pOldest;
    if (!pfnWrite(taken.szKey, taken.szKept, pContext)) {
      return cWritten;
    }
    Know(pOldest, ParseDecimal(taken.szKept), FALSE);
    pOldest->szKept[0] = 0;
    ++cWritten;
  }
}

BOOL HasKeptSettings(LPCWSTR pszFile) {
  MonitorLock lock;
  const FileMemory* pFile = FindFile(pszFile, false);
  return pFile != nullptr && HasKept(*pFile);
}

void ForgetSettingsMemory() {
  MonitorLock lock;
  for (FileMemory& file : gFiles) {
    file = FileMemory{};
  }
  gUses = 0;
  gKeptOrder = 0;
}
