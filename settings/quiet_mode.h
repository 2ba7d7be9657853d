// Quiet mode: the model settings of the printer whose job starts decide whether prompts show.
#pragma once

#include "platform/win32.h"

// Sets fShowUI from SHOW_UI of the printer's model settings file: 0 switches every message box
// off; any other value, a missing key, file or path leaves them on.
void LoadQuietModeSetting(HANDLE hPrinter);
