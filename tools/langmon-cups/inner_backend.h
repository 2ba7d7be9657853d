// CUPS's own backend for the real device, run as a child. Its standard input (or, for socket,
// a FIFO given as its print file) carries the job, its descriptor 3 brings the printer's back
// channel, its descriptor 4 is its side channel, and its standard error comes back to us.
#pragma once

#include <sys/types.h>

#include <string>

#include "tools/langmon-cups/device_uri.h"

namespace langmon_cups {

struct JobArguments {
  std::string printer;  // argv[0] as cupsd gives it: the queue's name
  std::string jobId, user, title, options;
};

struct InnerProcess {
  pid_t pid = -1;
  int dataFd = -1;         // the job's bytes go here (non-blocking)
  int backChannelFd = -1;  // what the child writes to its descriptor 3
  int stderrFd = -1;       // the child's standard error
  int sideChannelFd = -1;  // our end of the child's side channel
  std::string fifoFolder;  // the FIFO's private folder, removed at the end
};

// The folder of CUPS's programs (CUPS_SERVERBIN as cupsd sets it, else the build's).
std::string ServerBin();

// Starts the backend of device.scheme for device.uri. It runs as cupsd would run it: as root
// when its file is not executable by others, else as the "lp" user. False with the reason.
bool StartInner(const InnerDevice& device, const JobArguments& job, InnerProcess* process,
                std::string* why);

// Closes the job's data, so that the child sends what it has and ends; the child's end is then
// waited for with WaitInner.
void CloseInnerData(InnerProcess* process);

// Waits for the child, up to graceMs (0: for ever); past that it is sent SIGTERM, and SIGKILL a
// second later. Returns its exit status (a CUPS_BACKEND_* value) or 128 + the signal that ended it.
int WaitInner(InnerProcess* process, unsigned graceMs);

// The end of the job's process resources: descriptors and the FIFO's folder.
void ReleaseInner(InnerProcess* process);

}  // namespace langmon_cups
