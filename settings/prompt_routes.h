// Who can see a question of the monitor. Since Windows Vista the spooler is a service in session
// 0, whose desktop nobody sees: a box there would hold the spooler's thread for ever. A question
// therefore goes by the first route that applies: to the job's owner, in their own session,
// through the spooler; to nobody, when the monitor runs in session 0 and the job cannot be shown
// to a user (answer 0, as in quiet mode); or to the desktop of the monitor's own process.
#pragma once

#include "records/records.h"

enum class PromptRoute { JobOwner, Nobody, Desktop };

// Shows a question whose text and caption are already resolved, by the first route that
// applies to pIniJob (NULL: a question that belongs to no job), and returns the answer: the
// button pressed, or 0 when nobody answered (nobody to ask, a time-out, a failed call).
// uTextId names the question in the log (0 for a text that is not from the string table).
int ShowPrompt(const IniJob* pIniJob, HWND hWnd, UINT uTextId, LPCWSTR pszText, LPCWSTR pszCaption,
               UINT uType);
