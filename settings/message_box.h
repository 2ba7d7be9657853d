// Every question and notice the monitor puts to the user.
#pragma once

#include "records/records.h"

// Shows a message box and returns the button pressed (IDOK, IDCANCEL, IDRETRY, IDYES, IDNO).
//
// pszText and pszCaption are each either a string-table ID (MAKEINTRESOURCEW(IDS_...)) or a
// wide string; a NULL caption gives an empty one. Returns 0 without showing anything in quiet
// mode, when the text is missing, or when the box could not be shown, so every caller must read 0
// as "nobody answered". A question without a job follows the quiet mode of the most recent job
// start (fShowUI).
//
// A box is shown on the desktop of the monitor's own process; when that process runs in
// session 0, which nobody sees, it is not shown and the answer is 0.
int OemPtrMessageBox(HWND hWnd, LPCWSTR pszText, LPCWSTR pszCaption, UINT uType);

// The same for a question about the job pIniJob: where the spooler can, the box is shown in the
// session of the job's owner (with the printer's "PromptTimeout", 0 waiting for the answer), and
// only then on the monitor's own desktop or to nobody. It follows the quiet mode that the job's
// start read (pIniJob->prompts).
int OemPtrMessageBoxForJob(const IniJob* pIniJob, LPCWSTR pszText, LPCWSTR pszCaption, UINT uType);

// The same for the question of a job's start, which follows the setting that start read, fShow,
// also where the start has no record (pIniJob NULL) to carry it.
int OemPtrMessageBoxForStart(const IniJob* pIniJob, BOOL fShow, LPCWSTR pszText, LPCWSTR pszCaption,
                             UINT uType);

// Whether the questions of pIniJob are shown (FALSE in its quiet mode); for a NULL job, or one
// whose start read no setting, the most recent start's setting.
BOOL PromptsShownFor(const IniJob* pIniJob);
