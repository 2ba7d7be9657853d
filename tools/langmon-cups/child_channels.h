// The inner backend's way back: a thread drains its back channel into the port monitor's
// buffer, so that it never waits on a full pipe (cupsBackChannelWrite then blocks up to a second
// per chunk), and passes its standard error on to cupsd line by line.
#pragma once

#include <atomic>
#include <string>
#include <thread>

#include "tools/langmon-cups/back_channel.h"

namespace langmon_cups {

// Whether a line of the inner backend goes on to cupsd. The ink levels and pages are ours to
// report: its marker lines (from its own SNMP look-ups) and its PAGE lines (it counts our FIFO
// as a print file of one copy) stay here.
bool PassesThrough(const std::string& line);

class ChildChannels {
 public:
  ChildChannels(int backChannelFd, int stderrFd, BackChannel* backChannel);
  ~ChildChannels();
  ChildChannels(const ChildChannels&) = delete;
  ChildChannels& operator=(const ChildChannels&) = delete;

  void Start();
  // Returns once the child has closed both (it ended, or is about to).
  void Join();
  // The child closed its standard error and back channel: it is gone or going.
  bool Ended() const { return ended_; }
  uint64_t BackChannelBytes() const { return backBytes_; }

 private:
  void Pump();

  int backFd_;
  int errFd_;
  BackChannel* backChannel_;
  std::atomic<bool> ended_{false};
  std::atomic<uint64_t> backBytes_{0};
  std::thread thread_;
};

}  // namespace langmon_cups
