// A port record over a simulated printer, for tests that drive the printer conversation directly,
// without opening the port through the spooler entries: the record holds the simulated port
// monitor's table and the handle its pfnOpenPort gave out, as PJLMonOpenPortEx would leave it.
#pragma once

#include <memory>
#include <string>

#include "monitor/monitor.h"
#include "sim/sim_printer.h"

namespace langmon_test {

class SimPort {
 public:
  explicit SimPort(const std::u16string& portName = u"USB001")
      : printer_(sim::AddPrinter(portName)) {
    port_.signature = kPortSignature;
    port_.PortMonitor = sim::PortMonitor();
    std::u16string name = portName;
    opened_ = port_.PortMonitor.pfnOpenPort(name.data(), &port_.hPort) != FALSE;
  }
  ~SimPort() {
    if (opened_) {
      port_.PortMonitor.pfnClosePort(port_.hPort);
    }
    sim::RemovePrinters();
  }
  SimPort(const SimPort&) = delete;
  SimPort& operator=(const SimPort&) = delete;

  bool Opened() const { return opened_; }
  IniPort* Port() { return &port_; }
  sim::SimPrinter& Printer() { return *printer_; }

 private:
  std::shared_ptr<sim::SimPrinter> printer_;
  IniPort port_{};
  bool opened_ = false;
};

}  // namespace langmon_test
