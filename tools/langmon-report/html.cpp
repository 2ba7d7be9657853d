#include "tools/langmon-report/html.h"

#include <array>
#include <charconv>

#include "tools/langmon-report/utf8.h"

namespace langmon_report {

namespace {

// ASCII shown as it is: printable, or a line feed or tab, and not a markup character. Most of a
// log's text is such bytes, copied a run at a time.
constexpr std::array<bool, 256> kPlain = [] {
  std::array<bool, 256> plain{};
  for (int c = ' '; c < 0x7F; ++c) plain[c] = true;
  for (char c : {'&', '<', '>', '"', '\''}) plain[static_cast<unsigned char>(c)] = false;
  plain['\n'] = plain['\t'] = true;
  return plain;
}();

}  // namespace

std::string Html(std::string_view text) {
  std::string out;
  out.reserve(text.size() + 16);
  AppendHtml(out, text);
  return out;
}

void AppendHtml(std::string& out, std::string_view text) {
  const char* const begin = text.data();
  const char* const end = begin + text.size();
  for (const char* next = begin; next != end;) {
    const char* plain = next;
    while (plain != end && kPlain[static_cast<unsigned char>(*plain)]) ++plain;
    out.append(next, static_cast<size_t>(plain - next));
    if (plain == end) break;
    const size_t at = static_cast<size_t>(plain - begin);
    const Utf8Character character = NextUtf8Character(text, at);
    next = plain + character.bytes.size();
    // Not UTF-8, or a control character: the replacement character, as a browser shows the one.
    if (!character.code || (IsControlCharacter(*character.code) && *character.code != '\n' &&
                            *character.code != '\t')) {
      out += "\xEF\xBF\xBD";
      continue;
    }
    switch (*character.code) {
      case '&':
        out += "&amp;";
        break;
      case '<':
        out += "&lt;";
        break;
      case '>':
        out += "&gt;";
        break;
      case '"':
        out += "&quot;";
        break;
      case '\'':
        out += "&#39;";
        break;
      default:
        out.append(character.bytes);
        break;
    }
  }
}

std::string Thousands(uint64_t number) {
  const std::string digits = std::to_string(number);
  std::string grouped;
  grouped.reserve(digits.size() + digits.size() / 3);
  for (size_t i = 0; i < digits.size(); ++i) {
    if (i != 0 && (digits.size() - i) % 3 == 0) grouped += ',';
    grouped += digits[i];
  }
  return grouped;
}

std::string Plural(uint64_t count, std::string_view one, std::string_view many) {
  std::string text = Thousands(count);
  text += ' ';
  text += count == 1 ? one : many;
  return text;
}

std::string Fixed(double value, int decimals) {
  char text[320];  // the longest: a sign, 309 digits, the point and a few decimals
  const std::to_chars_result end =
      std::to_chars(text, text + sizeof(text), value, std::chars_format::fixed, decimals);
  return std::string(text, end.ptr);
}

std::string Millions(uint64_t spits) { return Fixed(static_cast<double>(spits) / 1e6, 1) + " M"; }

std::string Duration(int64_t ms) {
  if (ms < 0) ms = 0;
  const int64_t seconds = ms / 1000;
  if (seconds < 60) return Fixed(static_cast<double>(ms) / 1000.0, 3) + " s";
  if (seconds < 3600) {
    return std::to_string(seconds / 60) + " min " + std::to_string(seconds % 60) + " s";
  }
  if (seconds < 86400) {
    return std::to_string(seconds / 3600) + " h " + std::to_string(seconds / 60 % 60) + " min";
  }
  return std::to_string(seconds / 86400) + " d " + std::to_string(seconds / 3600 % 24) + " h";
}

}  // namespace langmon_report
