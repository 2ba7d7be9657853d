// The report as one self-contained HTML page: no network, no external scripts, stylesheets or
// fonts; the chart is inline SVG.
#pragma once

#include <string>

#include "tools/langmon-report/report.h"

namespace langmon_report {

std::string RenderPage(const Report& report);

// The questions of a job in order, as the page lists them ("469 427 400 443"); a box asked more
// than three times in a row is written once with its count ("436x4401").
std::string QuestionIds(const Job& job);

}  // namespace langmon_report
