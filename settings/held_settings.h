// A printer's settings file held open for one use: one read, one write, or a pre-job check's
// reads and writes.
//
// The monitor runs as SYSTEM, and users may own folders below the application-data folder. A
// path checked once and used later by name could be swapped in between: a folder for a junction,
// the file for a hard link to some other file. So every folder below the application-data
// folder is opened without following a link, checked on its handle and kept open without delete
// sharing, and so is the file: while they are held nothing on the path can be renamed, removed
// or replaced, and the profile functions, called by name, reach exactly what was checked.
#pragma once

#include "platform/win32.h"

// Folders a settings path may have below the application-data folder: VMT, Drivers and the
// printer's own, with room for a printer name of several folders.
inline constexpr DWORD kHeldFolderLimit = 8;

struct HeldSettings {
  LPWSTR pszPath = nullptr;  // GlobalAlloc block of kSettingsPathChars; NULL: nothing to use
  HANDLE ahFolders[kHeldFolderLimit] = {};
  DWORD cFolders = 0;
  HANDLE hFile = INVALID_HANDLE_VALUE;  // INVALID_HANDLE_VALUE while the file does not exist
  BOOL fFolderMissing = FALSE;          // nothing can be read or written: the folder is not there
};

// Holds the path's folders below its first cchAppData characters and, when it exists, the file.
// FALSE, with one level-5 line naming the part and why, when a part is a link, the file has a
// second name or is not a disk file, or a part cannot be opened or looked at; what was held is
// then let go again. A missing folder or file is held as far as it goes, and TRUE. The path block
// stays the caller's.
BOOL HoldSettingsPath(LPWSTR pszPath, DWORD cchAppData, HeldSettings* pHeld);

// Closes what HoldSettingsPath holds; the path block is left alone.
void LetGoOfHandles(HeldSettings* pHeld);

// The job's printer settings file, or the printer's model settings file, held; FALSE (nothing
// held, pHeld->pszPath NULL) when its path cannot be built or held, as for a missing file.
BOOL HoldPrinterSettings(HANDLE hPrinter, LPCWSTR pszPrinterName, HeldSettings* pHeld);
BOOL HoldModelSettings(HANDLE hPrinter, HeldSettings* pHeld);

// Lets go of everything, the path block included. Safe on a HeldSettings never held.
void ReleaseSettings(HeldSettings* pHeld);

// A key of the settings section as GetPrivateProfileIntW reads it; nDefault when nothing is held
// or the file does not exist.
UINT ReadHeldSetting(const HeldSettings* pHeld, LPCWSTR pszKey, INT nDefault);

// Writes a key of the settings section through WritePrivateProfileStringW. A missing file is
// first created by the monitor inside the held folder, without following a link, and held like
// the rest. FALSE with the last error set when nothing is held (ERROR_INVALID_HANDLE), the
// folder is missing (ERROR_PATH_NOT_FOUND), the new file cannot be held (ERROR_ACCESS_DENIED;
// the settings are then let go of for the rest of the use) or the write fails.
BOOL WriteHeldSetting(HeldSettings* pHeld, LPCWSTR pszKey, LPCWSTR pszValue);
