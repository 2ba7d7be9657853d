#include "tools/langmon-sim/printer_name.h"

#include <algorithm>
#include <cctype>
#include <string_view>

#include "tools/langmon-sim/text.h"

namespace langmon_sim {

namespace {

bool SameNoCase(std::string_view a, std::string_view b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
           return std::toupper(static_cast<unsigned char>(x)) ==
                  std::toupper(static_cast<unsigned char>(y));
         });
}

// A DOS device, whatever extension follows it: Windows opens the device for such a name in any
// folder. Blanks before the extension do not count.
bool IsDeviceName(std::string_view name) {
  std::string_view base = name.substr(0, name.find('.'));
  while (!base.empty() && base.back() == ' ') base.remove_suffix(1);
  static constexpr std::string_view kDevices[] = {"CON", "PRN", "AUX", "NUL", "CONIN$", "CONOUT$"};
  for (std::string_view device : kDevices) {
    if (SameNoCase(base, device)) return true;
  }
  if (base.size() < 4 ||
      !(SameNoCase(base.substr(0, 3), "COM") || SameNoCase(base.substr(0, 3), "LPT"))) {
    return false;
  }
  const std::string_view number = base.substr(3);
  // 1 to 9, and the superscript digits one to three (U+00B9, U+00B2, U+00B3) Windows reads so too.
  return (number.size() == 1 && number[0] >= '1' && number[0] <= '9') || number == "\xC2\xB9" ||
         number == "\xC2\xB2" || number == "\xC2\xB3";
}

}  // namespace

std::string PrinterNameProblem(const std::string& name) {
  if (name.empty()) return "the printer needs a name";
  if (HasControlCharacter(name)) return "a printer's name has no control characters";
  if (name.find_first_of("\\/") != std::string::npos) {
    return "a printer's name has no separators (\\ or /): it names one folder of its own";
  }
  if (name == "." || name == "..") {
    return "a printer's name is not \".\" or \"..\": it names a folder of its own";
  }
  if (name.back() == '.' || name.back() == ' ') {
    return "a printer's name does not end in a dot or a blank: Windows drops them, and the name "
           "would be another folder's";
  }
  if (IsDeviceName(name)) {
    return "a printer's name is not a DOS device name (CON, PRN, AUX, NUL, COM1 to COM9, LPT1 to "
           "LPT9, CONIN$, CONOUT$), with or without an extension: Windows would open the device";
  }
  return "";
}

}  // namespace langmon_sim
