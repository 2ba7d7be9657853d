// One CUPS job through the monitor's code, hosted as the spooler hosts it: the monitor is
// loaded, its port opened over the inner backend, the document started, the job written through
// the header scan and the pre-job check, the document ended and the port closed. Nobody is there
// to ask: every question gets quiet mode's answer (0), and what it would have asked becomes the
// printer's state.
#pragma once

#include <string>

#include "tools/langmon-cups/device_uri.h"
#include "tools/langmon-cups/inner_backend.h"

namespace langmon_cups {

struct JobRequest {
  InnerDevice device;
  JobArguments arguments;
  std::string printFile;  // argv[6]; empty: the job comes on standard input
  int copies = 1;         // made here only for a print file: on standard input they are made
  std::string stateFolder;
};

// How long the inner backend may take to end once it has the whole job (it sends what it holds
// and waits for the printer to close), and once the job is cancelled.
constexpr unsigned kInnerEndMs = 30000;
constexpr unsigned kInnerEndCancelledMs = 1000;

// Runs the job over the started inner backend, whose descriptors it takes, to its end and
// returns the backend's exit status (CUPS_BACKEND_*). The child is not reaped here: its parent
// does that. SIGTERM must be blocked in the calling thread before the call: the job waits for it
// on a thread of its own. Where the child's channels did not close in time the process ends
// without returning.
int RunHostedJob(const JobRequest& request, InnerProcess* inner);

}  // namespace langmon_cups
