// Small text helpers of langmon-sim: UTF-8 and UTF-16, numbers for people, INI files.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <string_view>
#include <vector>

namespace langmon_sim {

std::u16string ToUtf16(const std::string& text);
std::string ToUtf8(const std::u16string& text);

// 1234567 -> "1,234,567", as langmon-report writes numbers.
std::string WithThousands(uint64_t number);
// Milliseconds as seconds with three decimals: 4050 -> "4.050".
std::string Seconds(uint64_t milliseconds);

// The lines of a text, without their line ends.
std::vector<std::string> Lines(const std::string& text);
// Words of a text wrapped to lines of at most `width` characters; line breaks in the text stay.
std::vector<std::string> Wrap(const std::string& text, size_t width);
// Characters a terminal shows for a UTF-8 text (each code point counts one).
size_t DisplayWidth(const std::string& text);
// Text from outside (a scenario, the monitor's log, a file) as a terminal may show it: control
// characters made visible as escapes (\n, \t, \x1B, \u009B), so that none is acted on, and bytes
// that are not UTF-8 as \xFF.
std::string Visible(std::string_view text);
// Whether a text holds a control character, or bytes that are not UTF-8.
bool HasControlCharacter(std::string_view text);

// The keys of one section of an INI text, keys compared without regard to case as Windows does;
// the key names are given as first written.
std::map<std::string, std::string> IniSection(const std::string& text, const std::string& section);
// The value of a key in such a map, compared without regard to case; empty when absent.
bool FindIniValue(const std::map<std::string, std::string>& keys, const std::string& key,
                  std::string* value);

std::string ReadWholeFile(const std::string& path, bool* exists = nullptr);

}  // namespace langmon_sim
