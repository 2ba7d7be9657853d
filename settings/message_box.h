// Every question and notice the monitor puts to the user.
#pragma once

#include "platform/win32.h"

// Shows a message box and returns the button pressed (IDOK, IDCANCEL, IDRETRY, IDYES, IDNO).
//
// pszText and pszCaption are each either a string-table ID (MAKEINTRESOURCEW(IDS_...)) or a
// wide string; a NULL caption gives an empty one. Returns 0 without showing anything in quiet
// mode (fShowUI is 0), when the text is missing, or when the box could not be shown, so every
// caller must read 0 as "nobody answered".
int OemPtrMessageBox(HWND hWnd, LPCWSTR pszText, LPCWSTR pszCaption, UINT uType);
