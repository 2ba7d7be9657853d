// Decimal text of an integer as wide characters, for the values written to the settings files.
#pragma once

#include "platform/win32.h"

// Room for a sign, ten digits and the terminating NUL.
inline constexpr int kDecimalTextSize = 12;

// As "%d" formats it.
void FormatSignedDecimal(INT value, WCHAR (&text)[kDecimalTextSize]);
// As "%lu" formats a 32-bit value.
void FormatUnsignedDecimal(DWORD value, WCHAR (&text)[kDecimalTextSize]);
