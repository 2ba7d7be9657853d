#include "settings/wide_number.h"

namespace {

// Writes the digits of magnitude behind an optional minus sign and terminates the text.
void WriteDecimal(bool negative, DWORD magnitude, WCHAR (&text)[kDecimalTextSize]) {
  WCHAR digits[kDecimalTextSize];
  int count = 0;
  do {
    digits[count++] = static_cast<WCHAR>(WSTR('0') + magnitude % 10);
    magnitude /= 10;
  } while (magnitude != 0);

  int used = 0;
  if (negative) {
    text[used++] = WSTR('-');
  }
  while (count > 0) {
    text[used++] = digits[--count];
  }
  text[used] = 0;
}

}  // namespace

void FormatSignedDecimal(INT value, WCHAR (&text)[kDecimalTextSize]) {
  // Negated in unsigned arithmetic so that the most negative value has a magnitude too.
  const DWORD magnitude = value < 0 ? 0u - static_cast<DWORD>(value) : static_cast<DWORD>(value);
  WriteDecimal(value < 0, magnitude, text);
}

void FormatUnsignedDecimal(DWORD value, WCHAR (&text)[kDecimalTextSize]) {
  WriteDecimal(false, value, text);
}

UINT ParseDecimal(LPCWSTR text) {
  const bool negative = *text == WSTR('-');
  if (*text == WSTR('-') || *text == WSTR('+')) {
    ++text;
  }
  UINT value = 0;
  for (; *text >= WSTR('0') && *text <= WSTR('9'); ++text) {
    value = value * 10u + static_cast<UINT>(*text - WSTR('0'));
  }
  return negative ? 0u - value : value;
}
