#include "tools/langmon-sim/text.h"

#include <algorithm>
#include <cctype>
#include <fstream>
#include <sstream>

#include "tools/langmon-report/html.h"
#include "tools/langmon-report/utf8.h"

namespace langmon_sim {

namespace {

std::string Trim(const std::string& text) {
  const size_t first = text.find_first_not_of(" \t\r");
  if (first == std::string::npos) return "";
  const size_t last = text.find_last_not_of(" \t\r");
  return text.substr(first, last - first + 1);
}

std::string Lower(std::string text) {
  std::transform(text.begin(), text.end(), text.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return text;
}

}  // namespace

std::u16string ToUtf16(const std::string& text) {
  std::u16string result;
  for (size_t i = 0; i < text.size();) {
    const unsigned char lead = static_cast<unsigned char>(text[i]);
    char32_t code = 0xFFFD;
    size_t length = 1;
    if (lead < 0x80) {
      code = lead;
    } else if ((lead >> 5) == 0x6) {
      length = 2;
    } else if ((lead >> 4) == 0xE) {
      length = 3;
    } else if ((lead >> 3) == 0x1E) {
      length = 4;
    }
    if (length > 1) {
      if (i + length <= text.size()) {
        code = lead & (0x7F >> length);
        for (size_t k = 1; k < length; ++k) {
          const unsigned char next = static_cast<unsigned char>(text[i + k]);
          if ((next >> 6) != 0x2) {
            code = 0xFFFD;
            length = k;
            break;
          }
          code = (code << 6) | (next & 0x3F);
        }
      } else {
        length = text.size() - i;
      }
    }
    if (code >= 0x10000 && code <= 0x10FFFF) {
      code -= 0x10000;
      result.push_back(static_cast<char16_t>(0xD800 + (code >> 10)));
      result.push_back(static_cast<char16_t>(0xDC00 + (code & 0x3FF)));
    } else {
      result.push_back(static_cast<char16_t>(code > 0x10FFFF ? 0xFFFD : code));
    }
    i += length;
  }
  return result;
}

std::string ToUtf8(const std::u16string& text) {
  std::string result;
  for (size_t i = 0; i < text.size(); ++i) {
    char32_t code = text[i];
    if (code >= 0xD800 && code <= 0xDBFF && i + 1 < text.size() && text[i + 1] >= 0xDC00 &&
        text[i + 1] <= 0xDFFF) {
      code = 0x10000 + ((code - 0xD800) << 10) + (text[i + 1] - 0xDC00);
      ++i;
    } else if (code >= 0xD800 && code <= 0xDFFF) {
      code = 0xFFFD;
    }
    if (code < 0x80) {
      result.push_back(static_cast<char>(code));
    } else if (code < 0x800) {
      result.push_back(static_cast<char>(0xC0 | (code >> 6)));
      result.push_back(static_cast<char>(0x80 | (code & 0x3F)));
    } else if (code < 0x10000) {
      result.push_back(static_cast<char>(0xE0 | (code >> 12)));
      result.push_back(static_cast<char>(0x80 | ((code >> 6) & 0x3F)));
      result.push_back(static_cast<char>(0x80 | (code & 0x3F)));
    } else {
      result.push_back(static_cast<char>(0xF0 | (code >> 18)));
      result.push_back(static_cast<char>(0x80 | ((code >> 12) & 0x3F)));
      result.push_back(static_cast<char>(0x80 | ((code >> 6) & 0x3F)));
      result.push_back(static_cast<char>(0x80 | (code & 0x3F)));
    }
  }
  return result;
}

std::string WithThousands(uint64_t number) { return langmon_report::Thousands(number); }

std::string Seconds(uint64_t milliseconds) {
  std::string fraction = std::to_string(milliseconds % 1000);
  fraction.insert(0, 3 - fraction.size(), '0');
  return std::to_string(milliseconds / 1000) + "." + fraction;
}

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  std::stringstream stream(text);
  std::string line;
  while (std::getline(stream, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    lines.push_back(line);
  }
  return lines;
}

size_t DisplayWidth(const std::string& text) {
  size_t width = 0;
  for (unsigned char c : text) {
    if ((c & 0xC0) != 0x80) ++width;
  }
  return width;
}

std::string Visible(std::string_view text) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  const auto hex = [](std::string* out, unsigned value, int digits) {
    for (int shift = 4 * (digits - 1); shift >= 0; shift -= 4) *out += kHex[(value >> shift) & 0xF];
  };
  std::string shown;
  shown.reserve(text.size());
  for (size_t at = 0; at < text.size();) {
    const langmon_report::Utf8Character character = langmon_report::NextUtf8Character(text, at);
    at += character.bytes.size();
    if (!character.code) {
      for (unsigned char byte : character.bytes) {
        shown += "\\x";
        hex(&shown, byte, 2);
      }
      continue;
    }
    const char32_t code = *character.code;
    if (!langmon_report::IsControlCharacter(code)) {
      shown.append(character.bytes);
    } else if (code == '\n') {
      shown += "\\n";
    } else if (code == '\r') {
      shown += "\\r";
    } else if (code == '\t') {
      shown += "\\t";
    } else if (code < 0x80) {
      shown += "\\x";
      hex(&shown, static_cast<unsigned>(code), 2);
    } else {
      shown += "\\u";
      hex(&shown, static_cast<unsigned>(code), 4);
    }
  }
  return shown;
}

bool HasControlCharacter(std::string_view text) {
  for (size_t at = 0; at < text.size();) {
    const langmon_report::Utf8Character character = langmon_report::NextUtf8Character(text, at);
    at += character.bytes.size();
    if (!character.code || langmon_report::IsControlCharacter(*character.code)) return true;
  }
  return false;
}

std::vector<std::string> Wrap(const std::string& text, size_t width) {
  std::vector<std::string> wrapped;
  for (const std::string& paragraph : Lines(text)) {
    // Leading spaces (the numbered steps of a text) are kept on the first line of the paragraph.
    const size_t indent = paragraph.find_first_not_of(' ');
    std::string line = indent == std::string::npos ? "" : paragraph.substr(0, indent);
    std::stringstream words(paragraph);
    std::string word;
    bool lineHasWord = false;
    while (words >> word) {
      if (lineHasWord && DisplayWidth(line) + 1 + DisplayWidth(word) > width) {
        wrapped.push_back(line);
        line.clear();
        lineHasWord = false;
      }
      line += (lineHasWord ? " " : "") + word;
      lineHasWord = true;
      while (DisplayWidth(line) > width) {  // a word longer than a line is cut
        wrapped.push_back(line.substr(0, width));
        line.erase(0, width);
      }
    }
    wrapped.push_back(line);
  }
  return wrapped;
}

std::map<std::string, std::string> IniSection(const std::string& text, const std::string& section) {
  std::map<std::string, std::string> keys;
  bool inSection = false;
  for (const std::string& raw : Lines(text)) {
    const std::string line = Trim(raw);
    if (line.empty() || line[0] == ';') continue;
    if (line.front() == '[') {
      const size_t close = line.find(']');
      inSection =
          close != std::string::npos && Lower(Trim(line.substr(1, close - 1))) == Lower(section);
      continue;
    }
    const size_t equals = line.find('=');
    if (!inSection || equals == std::string::npos) continue;
    const std::string key = Trim(line.substr(0, equals));
    std::string existing;
    if (!FindIniValue(keys, key, &existing)) keys[key] = Trim(line.substr(equals + 1));
  }
  return keys;
}

bool FindIniValue(const std::map<std::string, std::string>& keys, const std::string& key,
                  std::string* value) {
  for (const auto& [name, text] : keys) {
    if (Lower(name) == Lower(key)) {
      *value = text;
      return true;
    }
  }
  return false;
}

std::string ReadWholeFile(const std::string& path, bool* exists) {
  std::ifstream in(path, std::ios::binary);
  if (exists != nullptr) *exists = static_cast<bool>(in);
  std::stringstream text;
  if (in) text << in.rdbuf();
  return text.str();
}

}  // namespace langmon_sim
