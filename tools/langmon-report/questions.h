// The boxes the monitor asks, by string ID: their texts and buttons.
#pragma once

#include <string>
#include <string_view>

namespace langmon_report {

// The box's text as the monitor's string table holds it; empty when it holds none.
std::string_view QuestionText(unsigned id);
// A short name for the box ("label stock out", "ink low", ...).
std::string QuestionTopic(unsigned id);
// True for boxes with only an OK button.
bool IsNotice(unsigned id);

}  // namespace langmon_report
