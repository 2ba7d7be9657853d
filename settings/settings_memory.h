// What this process knows of its settings files besides the files themselves: per file and key,
// the value last read or written, and a value whose write another process refused, kept until
// the file can be written again. A printer whose file someone else holds open then loses
// nothing while the spooler runs: a refused write is not lost, and an unreadable file answers
// with what was read before.
//
// One fixed table for the whole module, guarded by the monitor's lock; nothing is allocated. The
// lock also keeps the monitor's other writes from coming between a kept value's being taken and
// written (WriteKeptSettings). The table holds kSettingsMemoryFiles files of kSettingsMemoryKeys
// keys each: both files of kSettingsMemoryPrinters printers, and room to spare.
//
// A file is known by its identity on its volume, not only by its path: when a use finds the file
// made anew, or gone, what was kept for it is dropped ("dropped" in the log), so a printer made
// again under an old name starts from its own file. A new file that finds the table full takes,
// in this order, the place of: the file used longest ago that keeps nothing unwritten; a file
// that keeps something but no longer exists (its values "dropped"); the file used longest ago
// that keeps something (its values lost). The first and the last are logged as "pushed out". Files
// of a printer that has an open port or a listed job are never pushed out; when only such files are
// left, the new file is not remembered: its reads fall back to the defaults and its refused writes
// are lost, as the caller logs.
#pragma once

#include "platform/win32.h"

inline constexpr DWORD kSettingsMemoryPrinters = 64;
inline constexpr DWORD kSettingsMemoryFiles = 2 * kSettingsMemoryPrinters + 16;
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

// The same for a file known only by its own name (what follows the last backslash), when its
// path cannot be had: the newest value kept or known in any file of that name, the file used
// last first.
BOOL RecallSettingOfFileNamed(LPCWSTR pszFileName, LPCWSTR pszKey, INT nDefault, UINT* puValue);

// Keeps a value whose write was refused, replacing any kept before for the key; FALSE when there
// is no room for it.
BOOL KeepSetting(LPCWSTR pszFile, LPCWSTR pszKey, LPCWSTR pszValue);

// What a use found of the file on its held handle: pInfo its identity, NULL when the file does
// not exist. Values kept for a file of another identity, or for one that is gone, are dropped.
void NoteSettingsFile(LPCWSTR pszFile, const BY_HANDLE_FILE_INFORMATION* pInfo);

// Offers every value kept for the file to pfnWrite, oldest first, while it succeeds; each one
// written is no longer kept. Runs under the monitor's lock, so no other write of the monitor's
// comes between the value being taken and written. The number written.
using KeptSettingWriter = BOOL (*)(LPCWSTR pszKey, LPCWSTR pszValue, void* pContext);
DWORD WriteKeptSettings(LPCWSTR pszFile, KeptSettingWriter pfnWrite, void* pContext);

// Whether any value waits to be written for the file.
BOOL HasKeptSettings(LPCWSTR pszFile);

// Forgets everything, as a freshly loaded module knows nothing.
void ForgetSettingsMemory();
