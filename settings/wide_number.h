// Decimal text of an integer as wide characters, for the values written to the settings files,
// and such text read back.
#pragma once

#include "platform/win32.h"

// Room for a sign, ten digits and the terminating NUL.
inline constexpr int kDecimalTextSize = 12;

// As "%d" formats it.
void FormatSignedDecimal(INT value, WCHAR (&text)[kDecimalTextSize]);
// As "%lu" formats a 32-bit value.
void FormatUnsignedDecimal(DWORD value, WCHAR (&text)[kDecimalTextSize]);
// Decimal text as the profile functions read an integer: an optional sign, then digits up to the
// first other character, wrapping as a 32-bit value; nothing numeric is 0.
UINT ParseDecimal(LPCWSTR text);
