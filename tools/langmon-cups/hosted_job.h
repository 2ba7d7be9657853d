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

// Runs the job to its end and returns the backend's exit status (CUPS_BACKEND_*). SIGTERM must
// be blocked in the calling thread before the call: the job waits for it on a thread of its own.
int RunHostedJob(const JobRequest& request);

}  // namespace langmon_cups
