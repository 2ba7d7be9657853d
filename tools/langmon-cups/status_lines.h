// Lines to cupsd on standard error. Every line goes out in one write, so that lines of the inner
// backend, passed through from another thread, never interleave with ours.
#pragma once

#include <string>

namespace langmon_cups {

// Writes `text` plus a newline, in one write; newlines inside the text become spaces, since
// cupsd reads one message per line.
void SendLine(const std::string& text);
// Writes a line that already ends in a newline, as it stands (a line of the inner backend).
void PassLine(const std::string& line);

}  // namespace langmon_cups
