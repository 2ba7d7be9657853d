// Comparing names and schema paths without regard to the case of their ASCII letters.
#pragma once

#include "platform/win32.h"

inline WCHAR FoldAsciiCase(WCHAR ch) {
  return (ch >= WSTR('a') && ch <= WSTR('z')) ? static_cast<WCHAR>(ch - WSTR('a') + WSTR('A')) : ch;
}

// Whether the first cchCompare characters of psz match those of pszPrefix without regard to
// case; a string that ends earlier matches only where the prefix ends with it. NULL matches
// nothing.
inline bool StartsWithNoCase(LPCWSTR psz, LPCWSTR pszPrefix, int cchCompare) {
  if (psz == nullptr) {
    return false;
  }
  for (int i = 0; i < cchCompare; ++i) {
    if (FoldAsciiCase(psz[i]) != FoldAsciiCase(pszPrefix[i])) {
      return false;
    }
    if (psz[i] == 0) {
      return true;
    }
  }
  return true;
}
