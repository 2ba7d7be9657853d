#include "tools/langmon-cups/settings_folder.h"

#include <cstdlib>
#include <filesystem>
#include <system_error>

namespace langmon_cups {

std::string StateFolder() {
  const char* folder = std::getenv("LANGMON_STATE_DIR");
  return folder != nullptr && *folder != 0 ? folder : LANGMON_CUPS_STATE_DIR;
}

bool ValidQueueName(const std::string& queue) {
  return !queue.empty() && queue != "." && queue != ".." && queue.find('/') == std::string::npos;
}

std::string QueueFolder(const std::string& stateFolder, const std::string& queue) {
  return (std::filesystem::path(stateFolder) / "VMT" / "Drivers" / queue).string();
}

bool MakeQueueFolder(const std::string& folder, std::string* why) {
  std::error_code error;
  std::filesystem::create_directories(folder, error);
  if (error || !std::filesystem::is_directory(folder)) {
    *why = folder + ": " + (error ? error.message() : "not a folder");
    return false;
  }
  return true;
}

}  // namespace langmon_cups
