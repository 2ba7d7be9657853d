// Whole jobs with one fault injected at a time: every allocation, every port-monitor call, every
// spooler call, every settings read and write and every file call the jobs make fails in turn.
// A clean run counts the calls of each kind; then, for every N up to that count, the run is
// repeated with the Nth call failing.
//
// After every run: nothing crashed or hung (the virtual clock bounds every wait), nothing is left
// allocated or open, each job's data reached the printer whole and in order or the spooler was
// told (a start or a write refused, the job deleted) and what did arrive is the job's own data
// from its start, and the port serves a clean job again afterwards.
#include <cstdio>
#include <iostream>

#include "tests/support/scenario_test.h"

namespace langmon_test {
namespace {

// The Nth call of a kind fails; for kPartialWrite the Nth port-monitor write takes only half of
// what it is offered.
enum class Fault { kAllocation, kPortMonitor, kSpooler, kSettings, kFile, kPartialWrite };
constexpr int kFaultKinds = 6;

const char* FaultName(Fault fault) {
  switch (fault) {
    case Fault::kAllocation:
      return "Allocation";
    case Fault::kPortMonitor:
      return "PortMonitor";
    case Fault::kSpooler:
      return "Spooler";
    case Fault::kSettings:
      return "Settings";
    case Fault::kFile:
      return "File";
    case Fault::kPartialWrite:
      return "PartialWrite";
  }
  return "?";
}

// Test names and failure messages show the kind by name.
void PrintTo(Fault fault, std::ostream* out) { *out << FaultName(fault); }

// Far longer than any run takes on the virtual clock: a run past it is hung.
constexpr DWORD kLongestRunMs = 4 * 60 * 60 * 1000;

// What a workload does to the printer before its jobs, and how its user answers.
struct Workload {
  const char* name;
  void (*prepare)(sim::SimPrinter& printer);
  int (*answer)(sim::SimPrinter& printer, const host::MessageBoxRecord& box);
};

int AnswerYes(sim::SimPrinter&, const host::MessageBoxRecord&) { return IDYES; }

const Workload kWorkloads[] = {
    {"HealthyPrinter", [](sim::SimPrinter&) {}, AnswerYes},
    // Past its hard limit: the cartridge is changed, the new one aligned and the first job is
    // stopped for it; the second prints.
    {"CartridgeChangeAndAlignment",
     [](sim::SimPrinter& printer) {
       sim::Status status;
       status.yellowSpits = 900 * kMillion;
       printer.SetStatus(status);
       sim::Cartridge fresh;
       fresh.yellowSpits = 1000;
       fresh.newCart = 1;
       printer.QueueCartridges({fresh});
     },
     AnswerYes},
    // Out of stock until the user loads labels and says OK.
    {"OutOfStockUntilLoaded",
     [](sim::SimPrinter& printer) {
       sim::Status status;
       status.errorFlags = 0x01;
       printer.SetStatus(status);
     },
     [](sim::SimPrinter& printer, const host::MessageBoxRecord& box) {
       if (box.textId == 436) {
         sim::StateChange loaded;
         loaded.errorFlags = 0;
         printer.Apply(loaded);
         return IDOK;
       }
       return IDYES;
     }},
};

struct Counts {
  unsigned calls[kFaultKinds] = {};
  unsigned& operator[](Fault fault) { return calls[static_cast<int>(fault)]; }
};

class JobFaultsTest : public ScenarioTest,
                      public ::testing::WithParamInterface<std::tuple<int, Fault>> {
 protected:
  void SetUp() override {
    ScenarioTest::SetUp();
    // The fixture's own port is not used: every run opens its own.
    spooler_->ClosePort();
  }

  const Workload& TheWorkload() const { return kWorkloads[std::get<0>(GetParam())]; }
  Fault TheFault() const { return std::get<1>(GetParam()); }

  // Everything a run starts from: the stand-ins as at load, the printer as the workload wants
  // it, empty settings.
  void Prepare() {
    host::Reset();
    host::SetTempFolder(TempFolder().string());
    host::SetCommonAppDataFolder(AppDataFolder().string());
    host::RecordDebugOutput(false);
    std::error_code ignored;
    std::filesystem::remove_all(SettingsFolder(), ignored);
    std::filesystem::remove(LogFilePath(), ignored);
    std::filesystem::create_directories(SettingsFolder());
    sim::RemovePrinters();
    printer_ = sim::AddPrinter(kPortName);
    printer_->SetSpitsPerByte(0, 0, 0);
    sim::RegisterPrinter(kPrinterName, DriverFolder().string());
    TheWorkload().prepare(*printer_);
    sim::SimPrinter* printer = printer_.get();
    const Workload* workload = &TheWorkload();
    host::SetAnswerer([printer, workload](const host::MessageBoxRecord& box) {
      return workload->answer(*printer, box);
    });
    std::u16string root = u"SYSTEM\\CurrentControlSet\\Control\\Print\\Monitors\\Velmora";
    ASSERT_EQ(InitializePrintMonitor(root.data()), monitor_);
    fWarnedOnFailedStart = FALSE;
    fShowUI = TRUE;
  }

  Counts CountNow() const {
    Counts counts;
    counts[Fault::kAllocation] = host::AllocationCount();
    counts[Fault::kPortMonitor] = printer_->Calls();
    counts[Fault::kSpooler] = host::SpoolerCallCount();
    counts[Fault::kSettings] = host::ProfileCallCount();
    counts[Fault::kFile] = host::FileCallCount();
    counts[Fault::kPartialWrite] = static_cast<unsigned>(printer_->WriteSizes().size());
    return counts;
  }

  void Arm(Fault fault, unsigned nth) {
    switch (fault) {
      case Fault::kAllocation:
        host::FailAllocation(nth);
        break;
      case Fault::kPortMonitor:
        printer_->FailCall(nth);
        break;
      case Fault::kSpooler:
        host::FailSpoolerCall(nth);
        break;
      case Fault::kSettings:
        host::FailProfileCall(nth);
        break;
      case Fault::kFile:
        host::FailFileCall(nth);
        break;
      case Fault::kPartialWrite:
        // The writes before it go as in the clean run, so the Nth is offered what it was there.
        if (nth != 0) {
          std::vector<sim::WriteOutcome> outcomes(nth - 1);
          outcomes.push_back({sim::WriteFault::Partial, cleanWriteSizes_[nth - 1] / 2});
          printer_->QueueWrites(outcomes);
        }
        break;
    }
  }

  static bool StartsWith(const std::vector<BYTE>& whole, const std::vector<BYTE>& part) {
    return part.size() <= whole.size() && std::equal(part.begin(), part.end(), whole.begin());
  }

  bool Deleted(DWORD jobId) const {
    for (const host::SetJobRecord& call : host::SetJobCalls()) {
      if (call.command == JOB_CONTROL_DELETE && call.jobId == jobId) {
        return true;
      }
    }
    return false;
  }

  bool LastWriteRefused() {
    const std::vector<sim::Event> events = printer_->Events();
    for (auto event = events.rbegin(); event != events.rend(); ++event) {
      if (event->kind == sim::EventKind::Write) {
        return !event->result;
      }
    }
    return false;
  }

  // Two jobs with a status query between them, on a port opened for them and closed after.
  // Returns the calls of each kind the run made.
  Counts RunJobs(Fault fault, unsigned nth) {
    const long allocationsBefore = host::LiveAllocations();
    const Counts before = CountNow();
    Arm(fault, nth);
    const DWORD start = GetTickCount();
    host::OnSleep([start](DWORD now) {
      if (now - start > kLongestRunMs) {
        std::fprintf(stderr, "the run has not ended after %lu virtual ms: hung\n",
                     static_cast<unsigned long>(now - start));
        std::abort();
      }
    });
    {
      sim::Spooler spooler(monitor_);
      if (spooler.OpenPort(kPortName, kPrinterName)) {
        for (DWORD jobId = 1; jobId <= 2; ++jobId) {
          sim::Job job;
          job.printerName = kPrinterName;
          job.jobId = jobId;
          job.data = sim::MakeJobData(2, 300, jobId);
          const size_t before = printer_->JobData().size();
          const sim::JobResult result = spooler.Print(job);
          const std::vector<BYTE> all = printer_->JobData();
          const std::vector<BYTE> received(all.begin() + static_cast<long>(before), all.end());
          if (result.started && !result.writeFailed) {
            EXPECT_EQ(received, job.data) << "job " << jobId << ": reported done, data not whole";
          } else {
            EXPECT_TRUE(StartsWith(job.data, received)) << "job " << jobId;
            if (result.started) {
              EXPECT_TRUE(Deleted(jobId) || LastWriteRefused())
                  << "job " << jobId << ": stopped without a refused write or its deletion";
            }
            // Whether or not the spooler took the deletion, the write says the job was
            // cancelled.
            if (Deleted(jobId)) {
              EXPECT_EQ(result.writeError, 63u) << "job " << jobId;
            }
          }
          std::vector<BYTE> status;
          if (jobId == 1 && spooler.QueryStatus(&status)) {
            EXPECT_EQ(status.size(), 116u);
          }
        }
      }
    }
    Arm(fault, 0);
    host::OnSleep(nullptr);
    const Counts after = CountNow();

    EXPECT_EQ(pIniFirstPort, nullptr);
    EXPECT_EQ(host::LiveAllocations(), allocationsBefore) << "blocks leaked";
    EXPECT_EQ(host::OpenPrinterHandles(), 0);
    EXPECT_EQ(host::OpenEvents(), 0);
    EXPECT_EQ(host::OpenFileHandles(), 0);
    for (const host::DialogRecord& dialog : host::Dialogs()) {
      EXPECT_FALSE(dialog.alive);
    }
    ExpectBoxesLookRight();
    Counts made;
    for (int i = 0; i < kFaultKinds; ++i) {
      made.calls[i] = after.calls[i] - before.calls[i];
    }
    return made;
  }

  std::vector<DWORD> cleanWriteSizes_;

  // After any fault the port takes a clean job whole again.
  void ExpectCleanJob() {
    sim::Status healthy;
    printer_->SetStatus(healthy);
    host::SetAnswerer(nullptr);
    sim::Spooler spooler(monitor_);
    ASSERT_TRUE(spooler.OpenPort(kPortName, kPrinterName));
    sim::Job job;
    job.printerName = kPrinterName;
    job.jobId = 99;
    job.data = sim::MakeJobData(2, 300, 99);
    const size_t before = printer_->JobData().size();
    const sim::JobResult result = spooler.Print(job);
    EXPECT_TRUE(result.started && !result.writeFailed);
    const std::vector<BYTE> all = printer_->JobData();
    EXPECT_EQ(std::vector<BYTE>(all.begin() + static_cast<long>(before), all.end()), job.data);
    EXPECT_TRUE(spooler.ClosePort());
  }
};

TEST_P(JobFaultsTest, EveryCallFailingInTurnLosesNothingSilently) {
  const Fault fault = TheFault();
  Prepare();
  const unsigned points = RunJobs(fault, 0)[fault];
  cleanWriteSizes_ = printer_->WriteSizes();
  ASSERT_FALSE(HasFailure()) << "the clean run itself";
  ASSERT_GT(points, 0u);
  std::cout << "[ faults   ] " << TheWorkload().name << ", " << FaultName(fault) << ": " << points
            << " fault points\n";
  for (unsigned nth = 1; nth <= points; ++nth) {
    SCOPED_TRACE(std::string(FaultName(fault)) + " call " + std::to_string(nth) + " of " +
                 std::to_string(points) + " fails");
    Prepare();
    const unsigned made = RunJobs(fault, nth)[fault];
    EXPECT_GE(made, nth) << "the armed call was never made";
    ExpectCleanJob();
    if (HasFailure()) {
      break;  // one failing fault point is enough to look at
    }
  }
}

INSTANTIATE_TEST_SUITE_P(
    Jobs, JobFaultsTest,
    ::testing::Combine(::testing::Range(0, static_cast<int>(std::size(kWorkloads))),
                       ::testing::Values(Fault::kAllocation, Fault::kPortMonitor, Fault::kSpooler,
                                         Fault::kSettings, Fault::kFile, Fault::kPartialWrite)),
    [](const ::testing::TestParamInfo<JobFaultsTest::ParamType>& info) {
      return std::string(kWorkloads[std::get<0>(info.param)].name) + "_" +
             FaultName(std::get<1>(info.param));
    });

}  // namespace
}  // namespace langmon_test
