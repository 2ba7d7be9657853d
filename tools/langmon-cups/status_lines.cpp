#include "tools/langmon-cups/status_lines.h"

#include <unistd.h>

#include <cerrno>
#include <mutex>

namespace langmon_cups {

namespace {

std::mutex& OutputMutex() {
  static std::mutex mutex;
  return mutex;
}

void WriteWhole(const std::string& line) {
  std::lock_guard lock(OutputMutex());
  const char* at = line.data();
  size_t left = line.size();
  while (left > 0) {
    const ssize_t written = write(STDERR_FILENO, at, left);
    if (written < 0) {
      if (errno == EINTR) continue;
      return;
    }
    at += written;
    left -= static_cast<size_t>(written);
  }
}

}  // namespace

void SendLine(const std::string& text) {
  std::string line = text;
  for (char& c : line) {
    if (c == '\n' || c == '\r') c = ' ';
  }
  line.push_back('\n');
  WriteWhole(line);
}

void PassLine(const std::string& line) { WriteWhole(line); }

}  // namespace langmon_cups
