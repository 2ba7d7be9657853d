// Whole jobs through the monitor's table against the simulated printer: one port "USB001" with
// the printer "Label A", its driver folder with the alignment print files, and its settings
// folder, on the virtual clock.
#pragma once

#include <algorithm>
#include <iterator>
#include <memory>
#include <string>

#include "sim/driver_files.h"
#include "sim/sim_printer.h"
#include "sim/spooler.h"
#include "tests/support/monitor_test.h"

namespace langmon_test {

constexpr char16_t kPortName[] = u"USB001";
constexpr char16_t kPrinterName[] = u"Label A";
// Spit counts and limits are in units of a million.
constexpr DWORD kMillion = 1000000;
// The low-ink question.
constexpr int kIdsInkLow = 469;

// How each box of the monitor looks to the user: buttons, icon and modality, and the caption of
// the one notice that has its own. Every other box is captioned with the job's printer name.
struct BoxLook {
  unsigned textId;
  UINT type;
  const char16_t* caption;  // nullptr: the job's printer name
};
constexpr BoxLook kBoxLooks[] = {
    {400, 0x1043, nullptr}, {427, 0x1040, nullptr}, {436, 0x1011, nullptr},
    {440, 0x1010, nullptr}, {443, 0x1010, nullptr}, {445, 0x1011, nullptr},
    {450, 0x1011, nullptr}, {453, 0x1011, nullptr}, {454, 0x1031, nullptr},
    {455, 0x1010, nullptr}, {464, 0x1015, nullptr}, {468, 0x1011, nullptr},
    {469, 0x1034, nullptr}, {470, 0x1034, nullptr}, {472, 0x1000, u"Language Monitor"},
};

class ScenarioTest : public MonitorTest {
 protected:
  void SetUp() override {
    MonitorTest::SetUp();
    sim::RemovePrinters();
    printer_ = sim::AddPrinter(kPortName);
    // Counters stay where a test puts them unless it asks for wear.
    printer_->SetSpitsPerByte(0, 0, 0);
    sim::WriteAlignmentFiles(DriverFolder().string());
    sim::RegisterPrinter(kPrinterName, DriverFolder().string());
    std::filesystem::create_directories(SettingsFolder());
    std::u16string root = u"SYSTEM\\CurrentControlSet\\Control\\Print\\Monitors\\Velmora";
    monitor_ = InitializePrintMonitor(root.data());
    ASSERT_NE(monitor_, nullptr);
    spooler_ = std::make_unique<sim::Spooler>(monitor_);
    ASSERT_TRUE(spooler_->OpenPort(kPortName, kPrinterName));
  }

  void TearDown() override {
    ExpectBoxesLookRight();
    if (spooler_ && spooler_->PortHandle() != nullptr) {
      spooler_->ClosePort();
    }
    spooler_.reset();
    sim::RemovePrinters();
    MonitorTest::TearDown();
  }

  std::filesystem::path DriverFolder() const { return TempFolder().parent_path() / "driver"; }
  std::filesystem::path SettingsFolder() const {
    return AppDataFolder() / "VMT" / "Drivers" / "Label A";
  }
  std::filesystem::path PrinterIni() const { return SettingsFolder() / "Label A.ini"; }
  std::filesystem::path ModelIni() const { return SettingsFolder() / "VM_lp250.ini"; }

  static void WriteText(const std::filesystem::path& path, const std::string& text) {
    std::ofstream out(path, std::ios::binary);
    out << text;
  }

  // A key of the printer settings file, as the monitor reads it; `missing` when absent.
  int PrinterSetting(const char16_t* key, int missing = -999) const {
    std::u16string file = u"";
    for (char c : PrinterIni().string()) {
      file.push_back(static_cast<char16_t>(c));
    }
    return static_cast<int>(GetPrivateProfileIntW(u"settings", key, missing, file.c_str()));
  }

  // The boxes of a test whose jobs go to another printer carry that printer's name.
  void ExpectCaption(const std::u16string& printerName) { boxCaption_ = printerName; }

  // Every box asked so far has the type and caption of its kind. Runs at the end of every test
  // and wherever boxes are cleared, so that no box goes unchecked.
  void ExpectBoxesLookRight() const {
    for (const host::MessageBoxRecord& box : host::MessageBoxes()) {
      const BoxLook* look = std::find_if(std::begin(kBoxLooks), std::end(kBoxLooks),
                                         [&](const BoxLook& l) { return l.textId == box.textId; });
      if (look == std::end(kBoxLooks)) {
        ADD_FAILURE() << "a box the monitor never asks: " << box.textId;
        continue;
      }
      EXPECT_EQ(box.type, look->type) << "box " << box.textId;
      EXPECT_EQ(box.caption, look->caption != nullptr ? look->caption : boxCaption_)
          << "box " << box.textId;
    }
  }
  void ClearBoxes() const {
    ExpectBoxesLookRight();
    host::ClearMessageBoxes();
  }

  // The string IDs of every box asked so far, in order.
  static std::vector<unsigned> Boxes() {
    std::vector<unsigned> ids;
    for (const host::MessageBoxRecord& box : host::MessageBoxes()) {
      ids.push_back(box.textId);
    }
    return ids;
  }

  // How often a log line was written.
  static long Count(const std::string& line) {
    const std::vector<std::string> lines = LogLines();
    return std::count(lines.begin(), lines.end(), line);
  }

  // Sets what the printer reports.
  void Report(const sim::Status& status) { printer_->SetStatus(status); }

  sim::JobResult Print(unsigned labels = 3, size_t bytesPerLabel = 600, DWORD jobId = 1) {
    sim::Job job;
    job.printerName = kPrinterName;
    job.jobId = jobId;
    job.data = sim::MakeJobData(labels, bytesPerLabel, jobId);
    lastJobData_ = job.data;
    return spooler_->Print(job);
  }

  std::vector<DWORD> DeletedJobs() const {
    std::vector<DWORD> ids;
    for (const host::SetJobRecord& call : host::SetJobCalls()) {
      if (call.command == JOB_CONTROL_DELETE) {
        ids.push_back(call.jobId);
      }
    }
    return ids;
  }

  LPMONITOREX monitor_ = nullptr;
  std::shared_ptr<sim::SimPrinter> printer_;
  std::unique_ptr<sim::Spooler> spooler_;
  std::vector<BYTE> lastJobData_;

 private:
  std::u16string boxCaption_ = kPrinterName;
};

}  // namespace langmon_test
