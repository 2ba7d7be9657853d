// A scenario's printer names, held to the monitor's own rules for a printer's settings folder.
//
// The monitor keeps a printer's settings in a folder named after the printer, below its own, and
// will not use a name that Windows would read as something other than that one folder: "." or
// "..", a name ending in a dot or a blank (Windows drops them), a DOS device name with or without
// an extension. A scenario's printer names keep to the same rules, and have no separators and no
// control characters, so that no name can lead the settings files out of their folder.
#pragma once

#include <string>

namespace langmon_sim {

// Why the name cannot be a printer's; empty when it can.
std::string PrinterNameProblem(const std::string& name);

}  // namespace langmon_sim
