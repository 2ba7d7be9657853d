// The simulated label printer on the network: it listens on a loopback TCP port as a raw
// ("socket", port 9100 style) network printer whose back channel is the same connection.
//
// While a connection is open the printer sends its current 116-byte status record at once and
// then every statusPeriodMs, each with a new record number, whatever the host does. Bytes from
// the host are print data and commands: a stream has no write boundaries, so the front cuts it
// so that each of the monitor's fixed commands reaches the SimPrinter as a write of its own, as
// a port monitor would have written it; everything between them is print data. When the host
// has finished sending (end of its half of the connection) the printer closes the connection.
//
// One connection is served at a time; others wait in the listen queue, as at a printer's single
// raw port.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "sim/sim_printer.h"

namespace sim {

struct SocketFrontOptions {
  uint16_t port = 0;  // 0: any free port
  unsigned statusPeriodMs = 100;
  bool sendsStatus = true;  // false: a printer that takes data but never answers
};

struct SocketFrontCounts {
  unsigned connections = 0;
  unsigned recordsSent = 0;
  uint64_t bytesReceived = 0;
};

class SocketFront {
 public:
  SocketFront(std::shared_ptr<SimPrinter> printer, SocketFrontOptions options);
  ~SocketFront();
  SocketFront(const SocketFront&) = delete;
  SocketFront& operator=(const SocketFront&) = delete;

  // Listens on 127.0.0.1; false with the reason when the port cannot be had.
  bool Start(std::string* error);
  void Stop();
  uint16_t Port() const { return port_; }

  // Whether the printer answers with status records from now on (a printer switched on).
  void SetSendsStatus(bool sends) { sendsStatus_ = sends; }
  SocketFrontCounts Counts();
  // Every byte received, in order, across all connections.
  std::vector<uint8_t> Received();
  bool Connected() const { return connected_; }

 private:
  void Serve();
  void ServeConnection(int connection);
  void Deliver(const uint8_t* bytes, size_t count, bool final);

  std::shared_ptr<SimPrinter> printer_;
  SocketFrontOptions options_;
  std::atomic<bool> sendsStatus_;
  std::atomic<bool> stop_{false};
  std::atomic<bool> connected_{false};
  int listener_ = -1;
  int wake_[2] = {-1, -1};
  uint16_t port_ = 0;
  std::thread thread_;

  std::mutex mutex_;
  SocketFrontCounts counts_;
  std::vector<uint8_t> received_;
  std::vector<uint8_t> pending_;  // a tail that may be the start of a command
};

}  // namespace sim
