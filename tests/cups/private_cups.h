// A private cupsd for the tests: its own configuration, state, spool, cache and log folders
// below one folder of the build, listening on a loopback port only, with a program folder of its
// own holding copies of the few programs it runs and the backend under test; stopped by its
// process id when the test ends.
#pragma once

#include <sys/types.h>

#include <string>

namespace cups_test {

struct CommandResult {
  int status = -1;
  std::string output;  // standard output and error together
};

class PrivateCups {
 public:
  // `folder` is made anew; `backend` is the file installed as backend/langmon (mode 0700).
  PrivateCups(std::string folder, std::string backend);
  ~PrivateCups();
  PrivateCups(const PrivateCups&) = delete;
  PrivateCups& operator=(const PrivateCups&) = delete;

  // False with the reason when cupsd cannot run here.
  bool Start(std::string* why);
  void Stop();

  // Runs a command line with CUPS_SERVER set to this cupsd.
  CommandResult Run(const std::string& command) const;
  std::string Server() const;
  const std::string& Folder() const { return folder_; }
  // The backend's state folder: made by the backend itself, below the test's folder.
  std::string StateFolder() const { return folder_ + "/langmon-state"; }
  std::string TempDir() const { return folder_ + "/spool/tmp"; }
  std::string ErrorLog() const;

 private:
  std::string folder_;
  std::string backend_;
  int port_ = 0;
  pid_t pid_ = -1;
};

// Reads a whole file; empty when it cannot.
std::string ReadFile(const std::string& path);

}  // namespace cups_test
