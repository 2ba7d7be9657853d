// Every question and notice the monitor puts to the user.
#pragma once

#include "monitor/monitor.h"

// Shows a message box and returns the button pressed (IDOK, IDCANCEL, IDRETRY, IDYES, IDNO).
//
// pszText and pszCaption are each either a string-table ID (MAKEINTRESOURCEW(IDS_...)) or a
// wide string; a NULL caption gives an empty one. Returns 0 without showing anything in quiet
// mode (fShowUI is 0), when the text is missing, or when the box could not be shown, so every
// caller must read 0 as "nobody answered".
//
// A box is shown on the desktop of the monitor's own process; when that process runs in
// session 0, which nobody sees, it is not shown and the answer is 0.
int OemPtrMessageBox(HWND hWnd, LPCWSTR pszText, LPCWSTR pszCaption, UINT uType);

// The same for a question about the job pIniJob: where the spooler can, the box is shown in the
// session of the job's owner (with the printer's "PromptTimeout", 0 waiting for the answer), and
// only then on the monitor's own desktop or to nobody.
int OemPtrMessageBoxForJob(const IniJob* pIniJob, LPCWSTR pszText, LPCWSTR pszCaption, UINT uType);
