// The port monitor beneath the monitor's code: a MONITOR2 table over the inner backend. Its
// write is the child's job input, its read the child's back channel, bounded by the read
// time-outs the monitor sets when it opens the port.
#pragma once

#include <atomic>
#include <cstdint>
#include <vector>

#include "platform/win32.h"
#include "tools/langmon-cups/back_channel.h"
#include "tools/langmon-cups/child_channels.h"

namespace langmon_cups {

struct PortCounts {
  unsigned reads = 0;         // calls of the read entry
  unsigned statusReads = 0;   // reads that delivered bytes
  uint64_t bytesWritten = 0;  // job data and commands handed to the child
};

// The one port of this process, over the inner backend's channels.
struct Port {
  int dataFd = -1;
  BackChannel* backChannel = nullptr;
  ChildChannels* channels = nullptr;
  std::atomic<bool> cancelled{false};
  // The next write is taken whole and goes nowhere: it stands for the first write of a job,
  // which the monitor never scans, so that the job's own first bytes are scanned like the rest.
  bool swallowNextWrite = false;
  COMMTIMEOUTS timeouts{};
  PortCounts counts;
  // The newest whole status record a read delivered (size 0: none yet).
  std::vector<uint8_t> lastRecord;
};

// Everything the monitor's port entries reach until the port is closed.
void AttachPort(Port* port);
MONITOR2 PortMonitorTable();
HANDLE PortMonitorHandle();

}  // namespace langmon_cups
