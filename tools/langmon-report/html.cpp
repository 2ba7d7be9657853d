#include "tools/langmon-report/html.h"

#include <cstdio>

namespace langmon_report {

namespace {

// The length of the UTF-8 sequence starting at `at`, or 0 when it is not a valid one.
size_t Utf8Length(std::string_view text, size_t at) {
  const auto byte = [&](size_t i) { return static_cast<unsigned char>(text[i]); };
  const unsigned char lead = byte(at);
  size_t length = lead >= 0xF0 && lead <= 0xF4 ? 4 : lead >= 0xE0 ? 3 : lead >= 0xC2 ? 2 : 0;
  if (lead >= 0xF8) length = 0;
  if (length == 0 || at + length > text.size()) return 0;
  for (size_t i = 1; i < length; ++i) {
    if ((byte(at + i) & 0xC0) != 0x80) return 0;
  }
  return length;
}

}  // namespace

std::string Html(std::string_view text) {
  std::string out;
  out.reserve(text.size() + 16);
  for (size_t i = 0; i < text.size(); ++i) {
    const unsigned char c = static_cast<unsigned char>(text[i]);
    switch (c) {
      case '&':
        out += "&amp;";
        continue;
      case '<':
        out += "&lt;";
        continue;
      case '>':
        out += "&gt;";
        continue;
      case '"':
        out += "&quot;";
        continue;
      case '\'':
        out += "&#39;";
        continue;
      case '\n':
      case '\t':
        out += static_cast<char>(c);
        continue;
      default:
        break;
    }
    if (c < 0x20 || c == 0x7F) {
      out += "\xEF\xBF\xBD";
    } else if (c < 0x80) {
      out += static_cast<char>(c);
    } else if (const size_t length = Utf8Length(text, i)) {
      out.append(text.substr(i, length));
      i += length - 1;
    } else {
      out += "\xEF\xBF\xBD";  // not UTF-8: the replacement character, as a browser shows it
    }
  }
  return out;
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

std::string Plural(uint64_t count, const std::string& one, const std::string& many) {
  return Thousands(count) + " " + (count == 1 ? one : many);
}

std::string Millions(uint64_t spits) {
  char text[32];
  std::snprintf(text, sizeof(text), "%.1f M", static_cast<double>(spits) / 1e6);
  return text;
}

std::string Duration(int64_t ms) {
  if (ms < 0) ms = 0;
  char text[48];
  const int64_t seconds = ms / 1000;
  if (seconds < 60) {
    std::snprintf(text, sizeof(text), "%.3f s", static_cast<double>(ms) / 1000.0);
  } else if (seconds < 3600) {
    std::snprintf(text, sizeof(text), "%lld min %lld s", static_cast<long long>(seconds / 60),
                  static_cast<long long>(seconds % 60));
  } else if (seconds < 86400) {
    std::snprintf(text, sizeof(text), "%lld h %lld min", static_cast<long long>(seconds / 3600),
                  static_cast<long long>(seconds / 60 % 60));
  } else {
    std::snprintf(text, sizeof(text), "%lld d %lld h", static_cast<long long>(seconds / 86400),
                  static_cast<long long>(seconds / 3600 % 24));
  }
  return text;
}

}  // namespace langmon_report
