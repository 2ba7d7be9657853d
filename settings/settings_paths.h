// Where a printer's settings files live: <common app data>\VMT\Drivers\<printer name>\<file>.
#pragma once

#include "platform/win32.h"

// Size, in WCHARs with the terminating NUL, of every path block handed out below.
inline constexpr DWORD kSettingsPathChars = MAX_PATH;

// The path of pszFileName in the settings directory of the printer behind hPrinter (named as
// the spooler reports it), in a zero-filled GlobalAlloc block of kSettingsPathChars WCHARs that
// the caller releases with GlobalFree. NULL when there is no application-data folder, no memory,
// no printer name, or the path would be too long; NULL too, with the reason logged at level 5,
// when a folder of the printer's name is not one plain folder name ("." or "..", a name ending
// in a dot or a blank, a DOS device) or the file's name is a DOS device, and when a folder below
// the application-data folder or the file is a junction or symbolic link, the file has a second
// name (a hard link) or is not a disk file, or a part cannot be checked: the monitor never reads
// or writes through one. The check holds nothing once it returns: a use of the file holds it
// again (settings/held_settings.h).
LPWSTR OemPtrGetDriverAppDataPath(HANDLE hPrinter, LPCWSTR pszFileName);

// A GlobalAlloc copy of the printer's name as GetPrinterW level 2 reports it, or NULL. The
// caller releases it with GlobalFree.
LPWSTR OemPtrGetPrinterName(HANDLE hPrinter);

// The printer settings file of a job: <settings directory>\<pszPrinterName>.ini, where
// pszPrinterName is the name the job's printer was opened under. Same block and rules as
// OemPtrGetDriverAppDataPath, the extension included.
LPWSTR GetPrinterSettingsPath(HANDLE hPrinter, LPCWSTR pszPrinterName);

// The model settings file VM_lp250.ini of the printer's settings directory. Same block and rules.
LPWSTR GetModelSettingsPath(HANDLE hPrinter);

// The path as OemPtrGetDriverAppDataPath builds it, pszSuffix appended, with its names checked
// but nothing on the disk looked at; *pcchAppData is the length of its application-data folder.
LPWSTR ComposeSettingsPath(HANDLE hPrinter, LPCWSTR pszFileName, LPCWSTR pszSuffix,
                           DWORD* pcchAppData);
