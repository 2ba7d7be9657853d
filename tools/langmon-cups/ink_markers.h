// The ink levels as the monitor's own bidi entry answers a spooler: the same computation, asked
// the same way (GetAll of \Printer.Consumables through the MONITOR2 table).
#pragma once

#include <vector>

#include "platform/win32.h"
#include "tools/langmon-cups/printer_state.h"

namespace langmon_cups {

// Empty when the monitor gives no answer.
std::vector<Ink> AskInkLevels(const MONITOR2& monitor, HANDLE hPort);

}  // namespace langmon_cups
