// The ink chart: the spit count of every ink check, one series per cartridge family, as inline
// SVG.
#pragma once

#include <string>

#include "tools/langmon-report/report.h"

namespace langmon_report {

// The chart with its legend, or a sentence saying there is nothing to draw, added to `out`.
void InkChart(std::string& out, const Report& report);

// The words for a warn level: 1 "nothing warned", 2 "low", ...
std::string WarnLevelWords(int level);

}  // namespace langmon_report
