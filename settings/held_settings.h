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
  DWORD cchAppData = 0;      // the held folders begin behind this many characters of the path
  HANDLE ahFolders[kHeldFolderLimit] = {};
  DWORD cFolders = 0;
  HANDLE hFile = INVALID_HANDLE_VALUE;  // INVALID_HANDLE_VALUE while the file does not exist
  BOOL fFolderMissing = FALSE;          // nothing can be read or written: the folder is not there
  // Not ERROR_SUCCESS: the file is not used by name for now, and this is why. Reads answer from
  // memory, writes are kept. With fOpenRefused a part could not be opened (another process holds
  // it, or the access list keeps the monitor out), which trying again may end; otherwise the
  // file the monitor made could not be held, for the rest of the use.
  DWORD dwNotUsable = ERROR_SUCCESS;
  BOOL fOpenRefused = FALSE;
  BOOL fWaitedToWrite = FALSE;  // a write of this use spent its tries: the later ones do not wait
};

// Holds the path's folders below its first cchAppData characters and, when it exists, the file.
// FALSE, with one level-5 line naming the part and why, when a part is a link, the file has a
// second name or is not a disk file, or a part cannot be looked at; what was held is then let go
// again. A missing folder or file is held as far as it goes, and TRUE. A part that cannot be
// opened (sharing or lock violation, access denied) leaves nothing held, is logged at level 5,
// and is TRUE with dwNotUsable and fOpenRefused set. The path block stays the caller's.
BOOL HoldSettingsPath(LPWSTR pszPath, DWORD cchAppData, HeldSettings* pHeld);

// Closes what HoldSettingsPath holds; the path block is left alone.
void LetGoOfHandles(HeldSettings* pHeld);

// The job's printer settings file, or the printer's model settings file, held; FALSE (nothing
// held, pHeld->pszPath NULL) when its path cannot be built or held, as for a missing file. Values
// kept from earlier uses are written first, once each, while the file takes them.
BOOL HoldPrinterSettings(HANDLE hPrinter, LPCWSTR pszPrinterName, HeldSettings* pHeld);
BOOL HoldModelSettings(HANDLE hPrinter, HeldSettings* pHeld);

// Lets go of everything, the path block included. Safe on a HeldSettings never held.
void ReleaseSettings(HeldSettings* pHeld);

// A key of the settings section as GetPrivateProfileIntW reads it; nDefault when nothing is held
// or the file does not exist. A value kept for the key, still to be written, comes first; a file
// that is not usable answers with the value last read or written, logged at level 3, and
// nDefault when there is none.
UINT ReadHeldSetting(const HeldSettings* pHeld, LPCWSTR pszKey, INT nDefault);

// The same, but uUnknown (logged) where the file is not usable and this process never read or
// wrote the key: there the value is not known, and a default may not serve.
UINT ReadHeldSettingUnknownAs(const HeldSettings* pHeld, LPCWSTR pszKey, INT nDefault,
                              UINT uUnknown);

// Writes a key of the settings section through WritePrivateProfileStringW. A missing file is
// first made by the monitor inside the held folder's handle, never by its path, and held like
// the rest; the held folders are then looked at again. A write that another process refuses
// (ERROR_SHARING_VIOLATION, ERROR_LOCK_VIOLATION), or that finds the file not usable, is tried
// again for about a second, the file opened again each time when it could not be; after that,
// and at once for a later write of the same use, the value is kept for the next use. Every
// failed write is logged at level 5 with the key, the file and the error. FALSE with the last
// error set when nothing is held (ERROR_INVALID_HANDLE), the folder is missing
// (ERROR_PATH_NOT_FOUND), the new file cannot be held (ERROR_ACCESS_DENIED; the file is then
// not used for the rest of the use) or the write fails.
BOOL WriteHeldSetting(HeldSettings* pHeld, LPCWSTR pszKey, LPCWSTR pszValue);
