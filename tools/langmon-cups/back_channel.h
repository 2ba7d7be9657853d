// The inner backend's back channel as the port monitor's read sees it. A drain thread appends
// whatever the inner backend writes to its descriptor 3 (so that it never blocks on a full
// pipe), and reads take from here, bounded by the port's read time-outs.
//
// A read delivers the newest status: the printer keeps sending records on a live connection,
// and older ones pile up while nobody reads (while job data flows, between labels). Of what is
// waiting, a read keeps the newest arrivals that hold at least the bytes it asks for and drops
// the older ones whole, so that a record that arrived in one piece is never cut.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <mutex>
#include <vector>

namespace langmon_cups {

class BackChannel {
 public:
  // Never more than this is kept: the oldest arrivals go first.
  static constexpr size_t kMaxKept = 65536;

  void Append(const uint8_t* bytes, size_t count);
  // No more data will come (the inner backend closed its end): reads stop waiting.
  void Close();
  // The job is being cancelled: reads deliver what is there without waiting.
  void Cancel();

  // Up to `size` bytes. Waits up to totalMs for the first byte, then up to intervalMs for each
  // further arrival while fewer than `size` bytes were delivered. Returns the count (0: nothing
  // came in time).
  size_t Read(uint8_t* buffer, size_t size, unsigned totalMs, unsigned intervalMs);

  // Bytes waiting now, and bytes dropped as stale so far.
  size_t Waiting();
  uint64_t Dropped();

 private:
  size_t TakeLocked(uint8_t* buffer, size_t size);

  std::mutex mutex_;
  std::condition_variable arrived_;
  std::deque<std::vector<uint8_t>> arrivals_;
  size_t waiting_ = 0;
  uint64_t dropped_ = 0;
  bool closed_ = false;
  bool cancelled_ = false;
};

}  // namespace langmon_cups
