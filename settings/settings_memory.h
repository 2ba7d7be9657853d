// What this process knows of its settings files besides the files themselves: per file and key,
// the value last read or written, and a value whose write another process refused, kept until
// the file can be written again. A printer whose file someone else holds open then loses
// nothing while the spooler runs: a refused write is not lost, and an unreadable file answers
// with what was read before.
//
// One fixed table for the whole module, guarded by the monitor's lock; nothing is allocated. The
// lock also keeps the monitor's other writes from coming between a kept value's being taken and
// written (WriteKeptSettings). The table holds kSettingsMemoryFiles files of kSettingsMemoryKeys
// keys each. A file that finds it full takes the place of the file used longest ago that has no
// value waiting to be written; when every file has one, the new file is not remembered: its
// reads fall back to the defaults and its refused writes are lost, as the caller logs.
#pragma once

#include "platform/win32.h"

inline constexpr DWORD kSettingsMemoryFiles = 32;
inline constexpr DWORD kSettingsMemoryKeys = 12;
// Longest key name and longest value text remembered, each with its terminating NUL.
inline constexpr DWORD kSettingsMemoryKeyChars = 24;
inline constexpr DWORD kSettingsMemoryValueChars = 16;

// A value GetPrivateProfileIntW just read: uValue, which it answered with nDefault.
void RememberReadSetting(LPCWSTR pszFile, LPCWSTR pszKey, UINT uValue, INT nDefault);

// A value just written to the file; a value kept for the key is dropped, as older.
void RememberWrittenSetting(LPCWSTR pszFile, LPCWSTR pszKey, LPCWSTR pszValue);

// The value kept for the key, waiting to be written, as a read would answer it; FALSE when none
// waits.
BOOL RecallKeptSetting(LPCWSTR pszFile, LPCWSTR pszKey, UINT* puValue);

// The value last read or written for the key; a key that the last read found missing answers
// nDefault. FALSE when the process has neither read nor written it.
BOOL RecallSetting(LPCWSTR pszFile, LPCWSTR pszKey, INT nDefault, UINT* puValue);

// Keeps a value whose write was refused, replacing any kept before for the key; FALSE when there
// is no room for it.
BOOL KeepSetting(LPCWSTR pszFile, LPCWSTR pszKey, LPCWSTR pszValue);

// Offers every value kept for the file to pfnWrite, oldest first, while it succeeds; each one
// written is no longer kept. Runs under the monitor's lock, so no other write of the monitor's
// comes between the value being taken and written. The number written.
using KeptSettingWriter = BOOL (*)(LPCWSTR pszKey, LPCWSTR pszValue, void* pContext);
DWORD WriteKeptSettings(LPCWSTR pszFile, KeptSettingWriter pfnWrite, void* pContext);

// Whether any value waits to be written for the file.
BOOL HasKeptSettings(LPCWSTR pszFile);

// Forgets everything, as a freshly loaded module knows nothing.
void ForgetSettingsMemory();
