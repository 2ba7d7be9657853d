// A private cupsd with one raw queue "Label_A" on the langmon backend, added with the README's
// own lpadmin line, in front of the simulated printer listening as a network printer.
#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "sim/sim_printer.h"
#include "sim/socket_front.h"
#include "tests/cups/private_cups.h"

namespace cups_test {

class CupsTest : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;

  // Starts cupsd and the printer and adds the queue; skips the test where cupsd cannot run.
  void StartAll(bool printerAnswers = true);
  // Adds the queue with the README's own lpadmin line.
  void AddQueue();
  // Submits data as a raw job; returns its id.
  int Print(const std::vector<uint8_t>& data, const std::string& options = "");
  std::string JobState(int id);
  // What the printer reports from now on.
  void ChangeStatus(const std::function<void(sim::Status&)>& change);
  bool WaitFor(const std::function<bool()>& condition, std::chrono::seconds limit);
  bool WaitForJobState(int id, const std::string& state, std::chrono::seconds limit);
  std::string PrinterLong();        // lpstat -l -p Label_A
  std::string PrinterAttributes();  // ipptool get-printer-attributes
  std::string QueueFolder() const;

  std::unique_ptr<PrivateCups> cups_;
  std::shared_ptr<sim::SimPrinter> printer_;
  std::unique_ptr<sim::SocketFront> front_;
};

// The first line of README.md's section for Linux print servers that begins with `prefix`.
std::string ReadmeLine(const std::string& prefix);

}  // namespace cups_test
