// Small pieces of HTML: escaped text, numbers for people.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace langmon_report {

// Text made safe inside an element or a quoted attribute. The log's text is 8-bit: bytes that are
// not well-formed UTF-8 (one U+FFFD for each ill-formed start, as browsers show them), and control
// characters other than line feed and tab, are shown as U+FFFD.
std::string Html(std::string_view text);
// The same, added to the end of `out`.
void AppendHtml(std::string& out, std::string_view text);

// Each piece added to the end of `out` in turn: a page is written into one string rather than
// made of the strings of its parts.
template <class... Pieces>
void Append(std::string& out, const Pieces&... pieces) {
  (out.append(std::string_view(pieces)), ...);
}

// 1234567 -> "1,234,567"
std::string Thousands(uint64_t number);
// A count and its noun: "1 job", "1,234 jobs".
std::string Plural(uint64_t count, std::string_view one, std::string_view many);
// A number with so many decimals, as "%.*f" writes it: (2.25, 1) -> "2.2".
std::string Fixed(double value, int decimals);
// Spits in millions with one decimal: 469760000 -> "469.8 M".
std::string Millions(uint64_t spits);
// A duration: "0.213 s", "4 min 12 s", "3 h 5 min", "2 d 4 h".
std::string Duration(int64_t ms);

}  // namespace langmon_report
