// CUPS's own backend for the real device, run as a child. The job reaches it through a pipe
// only: its standard input, which socket is also given as its print file (/dev/fd/0), so that
// it connects at once; its descriptor 3 brings the printer's back channel, its descriptor 4 is
// its side channel, and its standard error comes back to us. Nothing of it lives in a folder.
#pragma once

#include <sys/types.h>

#include <string>

#include "tools/langmon-cups/device_uri.h"

namespace langmon_cups {

struct JobArguments {
  std::string printer;  // the queue's name
  std::string jobId, user, title, options;
};

struct InnerProcess {
  pid_t pid = -1;
  int dataFd = -1;         // the job's bytes go here (non-blocking)
  int backChannelFd = -1;  // what the child writes to its descriptor 3
  int stderrFd = -1;       // the child's standard error
  int sideChannelFd = -1;  // our end of the child's side channel
};

// The folder of CUPS's programs (CUPS_SERVERBIN as cupsd sets it, else the build's).
std::string ServerBin();

// The account cupsd runs unprivileged programs as.
struct RunAs {
  uid_t uid = 0;
  gid_t gid = 0;
};
// False with the reason when the account does not exist.
bool UnprivilegedAccount(RunAs* account, std::string* why);

// Starts the backend of device.scheme for device.uri. It runs as cupsd would run it: as root
// when its file is not executable by others and we are root, else as `account` (when root).
// False with the reason.
bool StartInner(const InnerDevice& device, const JobArguments& job, const RunAs& account,
                InnerProcess* process, std::string* why);

// Closes the job's data, so that the child sends what it has and ends.
void CloseInnerData(InnerProcess* process);

// Waits up to boundMs for the child to end; past that it is sent SIGTERM, and SIGKILL a second
// later. Returns its exit status (a CUPS_BACKEND_* value) or 128 + the signal that ended it;
// *outlived tells whether it had to be ended.
int ReapInner(InnerProcess* process, unsigned boundMs, bool* outlived);

// Closes every descriptor of the child's that is still ours.
void ReleaseInner(InnerProcess* process);

}  // namespace langmon_cups
