// UTF-8 as the Unicode standard has it: each character of a text, or the bytes that are not one.
#pragma once

#include <optional>
#include <string_view>

namespace langmon_report {

struct Utf8Character {
  std::string_view bytes;
  // Nullopt: the bytes are no character, only the longest start of one that could still have
  // been well-formed (or a single byte that starts none), which the standard replaces by one
  // U+FFFD. The byte that cut it short is the next character's first.
  std::optional<char32_t> code;
};

// The character that starts at `at` (< text.size()).
Utf8Character NextUtf8Character(std::string_view text, size_t at);

// C0 controls, DEL and the C1 controls U+0080 to U+009F.
bool IsControlCharacter(char32_t code);

}  // namespace langmon_report
