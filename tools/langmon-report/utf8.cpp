#include "tools/langmon-report/utf8.h"

namespace langmon_report {

Utf8Character NextUtf8Character(std::string_view text, size_t at) {
  const auto byte = [&](size_t i) { return static_cast<unsigned char>(text[i]); };
  const unsigned char lead = byte(at);
  if (lead < 0x80) return {text.substr(at, 1), lead};
  // Well-formed byte sequences: the lead byte says the length and the second byte's range.
  size_t length = 0;
  unsigned char low = 0x80, high = 0xBF;
  char32_t code = 0;
  if (lead >= 0xC2 && lead <= 0xDF) {
    length = 2;
    code = lead & 0x1F;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    length = 3;
    code = lead & 0x0F;
    if (lead == 0xE0) low = 0xA0;   // no overlong forms
    if (lead == 0xED) high = 0x9F;  // no surrogates
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    length = 4;
    code = lead & 0x07;
    if (lead == 0xF0) low = 0x90;   // no overlong forms
    if (lead == 0xF4) high = 0x8F;  // nothing above U+10FFFF
  }
  if (length == 0) return {text.substr(at, 1), std::nullopt};
  for (size_t i = 1; i < length; ++i) {
    const bool fits = at + i < text.size() && byte(at + i) >= (i == 1 ? low : 0x80) &&
                      byte(at + i) <= (i == 1 ? high : 0xBF);
    if (!fits) return {text.substr(at, i), std::nullopt};
    code = (code << 6) | (byte(at + i) & 0x3F);
  }
  return {text.substr(at, length), code};
}

bool IsControlCharacter(char32_t code) { return code < 0x20 || (code >= 0x7F && code <= 0x9F); }

}  // namespace langmon_report
