// What the monitor's failure lines mean, in words for the page.
#pragma once

#include <string>

#include "tools/langmon-report/log_texts.h"

namespace langmon_report {

// The texts of a status read that went wrong (and the plain "returning FALSE" after them).
bool IsStatusText(Text text);

// A failure with its own words, and whether it is the printer's doing; `words` is null for texts
// that are not one.
struct FailureText {
  const char* words;
  bool printer;
};
FailureText Failure(Text text);

// The printer's error flags in words: "error flags 5 (label stock out, label sensor (TOF) error)".
std::string FlagsText(long long flags);

}  // namespace langmon_report
