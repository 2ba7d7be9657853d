// Text: UTF-8/UTF-16 conversion, case folding, the lstr* functions and WideCharToMultiByte.
#include <cstring>

#include "platform/host_state.h"

namespace platform_impl {

namespace {

void AppendUtf8(std::string& out, char32_t code) {
  if (code < 0x80) {
    out += static_cast<char>(code);
  } else if (code < 0x800) {
    out += static_cast<char>(0xC0 | (code >> 6));
    out += static_cast<char>(0x80 | (code & 0x3F));
  } else if (code < 0x10000) {
    out += static_cast<char>(0xE0 | (code >> 12));
    out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (code & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (code >> 18));
    out += static_cast<char>(0x80 | ((code >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (code & 0x3F));
  }
}

bool IsHighSurrogate(char16_t c) { return c >= 0xD800 && c <= 0xDBFF; }
bool IsLowSurrogate(char16_t c) { return c >= 0xDC00 && c <= 0xDFFF; }

}  // namespace

std::string Utf16ToUtf8(std::u16string_view text) {
  // Paths, names and log text are nearly all ASCII: those units are copied as they are, and only
  // the rest goes through the encoder.
  std::string out(text.size(), '\0');
  size_t ascii = 0;
  while (ascii < text.size() && text[ascii] < 0x80) {
    out[ascii] = static_cast<char>(text[ascii]);
    ++ascii;
  }
  if (ascii == text.size()) {
    return out;
  }
  out.resize(ascii);
  for (size_t i = ascii; i < text.size(); ++i) {
    char16_t c = text[i];
    if (IsHighSurrogate(c) && i + 1 < text.size() && IsLowSurrogate(text[i + 1])) {
      char32_t code =
          0x10000 + ((static_cast<char32_t>(c) - 0xD800) << 10) + (text[i + 1] - 0xDC00);
      AppendUtf8(out, code);
      ++i;
    } else if (IsHighSurrogate(c) || IsLowSurrogate(c)) {
      AppendUtf8(out, 0xFFFD);
    } else {
      AppendUtf8(out, c);
    }
  }
  return out;
}

std::u16string Utf8ToUtf16(std::string_view text) {
  std::u16string out;
  out.reserve(text.size());
  size_t i = 0;
  while (i < text.size()) {
    const auto lead = static_cast<unsigned char>(text[i]);
    char32_t code = 0xFFFD;
    size_t length = 1;
    size_t extra = 0;
    char32_t minimum = 0;
    if (lead < 0x80) {
      code = lead;
    } else if (lead >= 0xC2 && lead <= 0xDF) {
      extra = 1, code = lead & 0x1F, minimum = 0x80;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
      extra = 2, code = lead & 0x0F, minimum = 0x800;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
      extra = 3, code = lead & 0x07, minimum = 0x10000;
    }
    if (extra > 0) {
      bool valid = i + extra < text.size();
      for (size_t k = 1; valid && k <= extra; ++k) {
        const auto next = static_cast<unsigned char>(text[i + k]);
        if ((next & 0xC0) != 0x80) valid = false;
        code = (code << 6) | (next & 0x3F);
      }
      if (valid && code >= minimum && code <= 0x10FFFF && !(code >= 0xD800 && code <= 0xDFFF)) {
        length = extra + 1;
      } else {
        code = 0xFFFD;
      }
    }
    if (code >= 0x10000) {
      out += static_cast<char16_t>(0xD800 + ((code - 0x10000) >> 10));
      out += static_cast<char16_t>(0xDC00 + ((code - 0x10000) & 0x3FF));
    } else {
      out += static_cast<char16_t>(code);
    }
    i += length;
  }
  return out;
}

std::u16string_view WideView(const WCHAR* text) {
  return text ? std::u16string_view(text) : std::u16string_view();
}

char16_t FoldCase(char16_t c) {
  if (c < 0x80) return (c >= u'A' && c <= u'Z') ? static_cast<char16_t>(c + 0x20) : c;
  if (c >= 0xC0 && c <= 0xDE && c != 0xD7) return static_cast<char16_t>(c + 0x20);
  if (c >= 0x100 && c <= 0x17F) {
    if ((c >= 0x100 && c <= 0x12F) || (c >= 0x132 && c <= 0x137) || (c >= 0x14A && c <= 0x177)) {
      return static_cast<char16_t>(c | 1);
    }
    if ((c >= 0x139 && c <= 0x148) || (c >= 0x179 && c <= 0x17E)) {
      return (c & 1) ? static_cast<char16_t>(c + 1) : c;
    }
    if (c == 0x178) return 0xFF;
    return c;
  }
  if (c >= 0x391 && c <= 0x3AB && c != 0x3A2) return static_cast<char16_t>(c + 0x20);
  if (c == 0x386) return 0x3AC;
  if (c >= 0x388 && c <= 0x38A) return static_cast<char16_t>(c + 37);
  if (c == 0x38C) return 0x3CC;
  if (c == 0x38E || c == 0x38F) return static_cast<char16_t>(c + 63);
  if (c >= 0x410 && c <= 0x42F) return static_cast<char16_t>(c + 0x20);
  if (c >= 0x400 && c <= 0x40F) return static_cast<char16_t>(c + 0x50);
  return c;
}

std::u16string FoldString(std::u16string_view text) {
  std::u16string out(text);
  for (char16_t& c : out) c = FoldCase(c);
  return out;
}

int CompareNoCase(std::u16string_view a, std::u16string_view b) {
  const size_t common = a.size() < b.size() ? a.size() : b.size();
  for (size_t i = 0; i < common; ++i) {
    // Equal units fold alike; most of a compared name is equal as it stands.
    if (a[i] == b[i]) continue;
    const char16_t x = FoldCase(a[i]);
    const char16_t y = FoldCase(b[i]);
    if (x != y) return x < y ? -1 : 1;
  }
  if (a.size() == b.size()) return 0;
  return a.size() < b.size() ? -1 : 1;
}

}  // namespace platform_impl

using platform_impl::WideView;

int WINAPI lstrlenA(LPCSTR lpString) {
  return lpString ? static_cast<int>(std::strlen(lpString)) : 0;
}

int WINAPI lstrlenW(LPCWSTR lpString) { return static_cast<int>(WideView(lpString).size()); }

int WINAPI lstrcmpiW(LPCWSTR lpString1, LPCWSTR lpString2) {
  if (!lpString1 || !lpString2) {
    if (lpString1 == lpString2) return 0;
    return lpString1 ? 1 : -1;
  }
  // As CompareNoCase over the two views, a terminator folding below every character, without
  // first measuring the strings: a long string compared with a short one is read only as far as
  // the first unit that differs.
  for (;; ++lpString1, ++lpString2) {
    if (*lpString1 == *lpString2) {
      if (*lpString1 == 0) return 0;
      continue;
    }
    const char16_t x = platform_impl::FoldCase(*lpString1);
    const char16_t y = platform_impl::FoldCase(*lpString2);
    if (x != y) return x < y ? -1 : 1;
  }
}

LPWSTR WINAPI lstrcpyW(LPWSTR lpString1, LPCWSTR lpString2) {
  if (!lpString1 || !lpString2) return nullptr;
  const size_t length = WideView(lpString2).size();
  std::memmove(lpString1, lpString2, (length + 1) * sizeof(WCHAR));
  return lpString1;
}

LPWSTR WINAPI lstrcatW(LPWSTR lpString1, LPCWSTR lpString2) {
  if (!lpString1 || !lpString2) return nullptr;
  lstrcpyW(lpString1 + WideView(lpString1).size(), lpString2);
  return lpString1;
}

LPSTR WINAPI lstrcpyA(LPSTR lpString1, LPCSTR lpString2) {
  if (!lpString1 || !lpString2) return nullptr;
  std::memmove(lpString1, lpString2, std::strlen(lpString2) + 1);
  return lpString1;
}

LPSTR WINAPI lstrcatA(LPSTR lpString1, LPCSTR lpString2) {
  if (!lpString1 || !lpString2) return nullptr;
  lstrcpyA(lpString1 + std::strlen(lpString1), lpString2);
  return lpString1;
}

// Every ANSI code page is UTF-8 here, as on a Windows set to use UTF-8 for ANSI.
int WINAPI WideCharToMultiByte(UINT CodePage, DWORD dwFlags, LPCWSTR lpWideCharStr, int cchWideChar,
                               LPSTR lpMultiByteStr, int cbMultiByte, LPCSTR lpDefaultChar,
                               LPBOOL lpUsedDefaultChar) {
  (void)dwFlags;
  constexpr UINT kOemCodePage = 1;
  constexpr UINT kThreadCodePage = 3;
  const bool utf8 = CodePage == CP_UTF8;
  const bool ansi = CodePage == CP_ACP || CodePage == kOemCodePage || CodePage == kThreadCodePage;
  if ((!utf8 && !ansi) || !lpWideCharStr || cchWideChar == 0 || cchWideChar < -1 ||
      cbMultiByte < 0 || (cbMultiByte > 0 && !lpMultiByteStr) ||
      (utf8 && (lpDefaultChar || lpUsedDefaultChar))) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  if (lpUsedDefaultChar) *lpUsedDefaultChar = FALSE;
  std::u16string_view source =
      cchWideChar == -1 ? std::u16string_view(lpWideCharStr, WideView(lpWideCharStr).size() + 1)
                        : std::u16string_view(lpWideCharStr, static_cast<size_t>(cchWideChar));
  const std::string converted = platform_impl::Utf16ToUtf8(source);
  const int needed = static_cast<int>(converted.size());
  if (cbMultiByte == 0) return needed;
  if (needed > cbMultiByte) {
    // As much as fits, in whole characters, and no success.
    int fit = cbMultiByte;
    while (fit > 0 && (static_cast<unsigned char>(converted[fit]) & 0xC0) == 0x80) --fit;
    std::memcpy(lpMultiByteStr, converted.data(), static_cast<size_t>(fit));
    SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return 0;
  }
  std::memcpy(lpMultiByteStr, converted.data(), converted.size());
  return needed;
}
