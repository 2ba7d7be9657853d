// Quiet mode: the model settings of the printer whose job starts decide whether that job's prompts
// show.
#pragma once

#include "platform/win32.h"

// Reads SHOW_UI of the printer's model settings file: 0 switches every message box off; any other
// value, a missing key, file or path leaves them on. Returns the setting (TRUE: prompts show) for
// the starting job to keep, and also stores it in fShowUI for questions that belong to no job.
BOOL LoadQuietModeSetting(HANDLE hPrinter);
