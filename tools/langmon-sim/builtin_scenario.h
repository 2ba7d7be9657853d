// The scenario langmon-sim runs when it is given none: the monitor's main work in a few jobs.
#pragma once

#include <string>

#include "tools/langmon-sim/scenario.h"

namespace langmon_sim {

// The scenario as JSON, in the same format as a scenario file.
const std::string& BuiltInScenarioText();
Scenario BuiltInScenario();

}  // namespace langmon_sim
