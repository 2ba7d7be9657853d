#include "tools/langmon-report/page_file.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>

namespace langmon_report {

namespace {

bool Same(const struct stat& a, const struct stat& b) {
  return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

bool WriteAll(int fd, std::string_view bytes) {
  while (!bytes.empty()) {
    const ssize_t written = write(fd, bytes.data(), bytes.size());
    if (written < 0 && errno == EINTR) continue;
    if (written < 0) return false;
    if (written == 0) {
      errno = EIO;
      return false;
    }
    bytes.remove_prefix(static_cast<size_t>(written));
  }
  return true;
}

// The permissions an ordinary new file gets here; mkstemp makes its file for the owner alone.
mode_t NewFileMode() {
  const mode_t mask = umask(0);
  umask(mask);
  return 0666 & ~mask;
}

}  // namespace

bool IsFile(const std::string& path, const struct stat& input) {
  struct stat there {};
  return stat(path.c_str(), &there) == 0 && Same(there, input);
}

bool IsFile(int fd, const struct stat& input) {
  struct stat there {};
  return fstat(fd, &there) == 0 && Same(there, input);
}

bool WriteFileInPlaceOf(const std::string& path, std::string_view bytes, const struct stat& input,
                        bool* wouldReplaceInput, std::string* error) {
  *wouldReplaceInput = false;
  std::filesystem::path folder = std::filesystem::path(path).parent_path();
  if (folder.empty()) folder = ".";
  std::string name = ".";
  name += std::filesystem::path(path).filename().string();
  name += ".XXXXXX";
  std::string temporary = (folder / name).string();
  const int fd = mkstemp(temporary.data());
  if (fd < 0) {
    *error = std::strerror(errno);
    return false;
  }
  int failure = 0;
  if (fchmod(fd, NewFileMode()) != 0 || !WriteAll(fd, bytes)) failure = errno;
  if (close(fd) != 0 && failure == 0) failure = errno;
  if (failure != 0) {
    *error = std::strerror(failure);
    unlink(temporary.c_str());
    return false;
  }
  // Checked again at the last moment: the name may have been pointed at the log meanwhile.
  if (IsFile(path, input)) {
    *wouldReplaceInput = true;
    unlink(temporary.c_str());
    return false;
  }
  if (rename(temporary.c_str(), path.c_str()) != 0) {
    *error = std::strerror(errno);
    unlink(temporary.c_str());
    return false;
  }
  return true;
}

}  // namespace langmon_report
