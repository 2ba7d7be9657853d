// Jobs through a real cupsd, the langmon backend and CUPS's own socket backend to the simulated
// printer on the network: what the printer receives, and what every CUPS client sees.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <thread>

#include "sim/spooler.h"
#include "tests/cups/cups_fixture.h"

namespace cups_test {
namespace {

using std::chrono::seconds;

constexpr uint8_t kCartEmptyCommand[] = {0x1B, 0x2A, 0x6D, 0x04, 0x04};

bool Has(const std::string& text, const std::string& part) {
  return text.find(part) != std::string::npos;
}

TEST_F(CupsTest, JobReachesThePrinterUnchangedAndTheInkLevelsAreShown) {
  StartAll();
  if (IsSkipped()) return;
  ChangeStatus([](sim::Status& s) {
    s.yellowSpits = 100000000;
    s.magentaSpits = 200000000;
    s.cyanSpits = 0;
  });
  printer_->SetSpitsPerByte(0, 0, 0);

  const std::vector<uint8_t> data = sim::MakeJobData(3, 700);
  const int id = Print(data);
  ASSERT_TRUE(WaitForJobState(id, "completed", seconds(30))) << cups_->ErrorLog();
  EXPECT_EQ(front_->Received(), data);

  // Ink left of the colour limit of 515 million spits, as the bidi answer computes it.
  const std::string attributes = PrinterAttributes();
  EXPECT_TRUE(Has(attributes, "marker-levels (1setOf integer) = 81,61,100")) << attributes;
  EXPECT_TRUE(Has(attributes, "marker-names (1setOf nameWithoutLanguage) = Yellow,Magenta,Cyan"))
      << attributes;
  EXPECT_TRUE(
      Has(attributes, "marker-colors (1setOf nameWithoutLanguage) = #FFFF00,#FF00FF,#00FFFF"))
      << attributes;
  EXPECT_TRUE(
      Has(attributes, "marker-types (1setOf keyword) = ink-cartridge,ink-cartridge,ink-cartridge"))
      << attributes;

  // Each label's header was checked; the queue's settings and the monitor's log are its own.
  EXPECT_TRUE(Has(ReadFile(QueueFolder() + "/Label_A.ini"), "PrintCounter=3"));
  EXPECT_TRUE(Has(ReadFile(QueueFolder() + "/VelmoraLMDrv.dbg"), "Header found"));
  EXPECT_TRUE(Has(cups_->ErrorLog(), "status reads"));
}

TEST_F(CupsTest, CopiesOfARawJobAreMadeByTheBackend) {
  StartAll();
  if (IsSkipped()) return;
  const std::vector<uint8_t> data = sim::MakeJobData(1, 300);
  const int id = Print(data, "-n 2");
  ASSERT_TRUE(WaitForJobState(id, "completed", seconds(30))) << cups_->ErrorLog();
  std::vector<uint8_t> twice = data;
  twice.insert(twice.end(), data.begin(), data.end());
  EXPECT_EQ(front_->Received(), twice);
}

TEST_F(CupsTest, LowInkIsAWarningAndTheJobPrints) {
  StartAll();
  if (IsSkipped()) return;
  ChangeStatus([](sim::Status& s) {
    s.yellowSpits = 470000000;  // 9 % of 515 million left
  });
  printer_->SetSpitsPerByte(0, 0, 0);
  const std::vector<uint8_t> data = sim::MakeJobData(1, 500);
  const int id = Print(data);
  ASSERT_TRUE(WaitForJobState(id, "completed", seconds(30))) << cups_->ErrorLog();
  EXPECT_EQ(front_->Received(), data);
  const std::string printer = PrinterLong();
  EXPECT_TRUE(Has(printer, "Alerts: marker-supply-low-warning")) << printer;
  // The message goes with the finished job (cupsd clears it); the error log keeps it.
  EXPECT_TRUE(Has(cups_->ErrorLog(),
                  "] The cartridge is LOW on ink. Would you like to change the cartridge now?"));
}

TEST_F(CupsTest, StockOutWaitsWithItsReasonUntilTheStockIsLoaded) {
  StartAll();
  if (IsSkipped()) return;
  ChangeStatus([](sim::Status& s) { s.errorFlags = 0x01; });
  const std::vector<uint8_t> data = sim::MakeJobData(2, 400);
  const int id = Print(data);
  ASSERT_TRUE(WaitFor([&] { return Has(PrinterLong(), "media-empty-error"); }, seconds(30)))
      << cups_->ErrorLog();
  const std::string printer = PrinterLong();
  EXPECT_TRUE(Has(printer,
                  "The label stock is empty. Remove the printed labels and install new "
                  "label stock."))
      << printer;
  EXPECT_EQ(JobState(id), "processing");
  EXPECT_TRUE(front_->Received().size() < data.size());

  sim::StateChange loaded;
  loaded.errorFlags = 0;
  printer_->Apply(loaded);
  ASSERT_TRUE(WaitForJobState(id, "completed", seconds(30))) << cups_->ErrorLog();
  EXPECT_EQ(front_->Received(), data);
  EXPECT_FALSE(Has(PrinterLong(), "media-empty-error"));
}

TEST_F(CupsTest, EmptyCartridgeSendsItsCommandAndWaitsUntilCleared) {
  StartAll();
  if (IsSkipped()) return;
  ChangeStatus([](sim::Status& s) {
    s.yellowSpits = 900000000;  // past the colour hard limit
    s.errorFlags = 0x02;
  });
  printer_->SetSpitsPerByte(0, 0, 0);
  const std::vector<uint8_t> data = sim::MakeJobData(1, 400);
  const int id = Print(data);
  ASSERT_TRUE(WaitFor([&] { return Has(PrinterLong(), "marker-supply-empty-error"); }, seconds(30)))
      << cups_->ErrorLog();
  EXPECT_TRUE(Has(PrinterLong(), "The cartridge is empty."));

  sim::StateChange cleared;
  cleared.errorFlags = 0;
  printer_->Apply(cleared);
  ASSERT_TRUE(WaitForJobState(id, "completed", seconds(30))) << cups_->ErrorLog();
  // The check's command, then the job as it was sent: the preamble went first, unchecked.
  std::vector<uint8_t> expected(data.begin(), data.begin() + sim::kJobPreambleSize);
  expected.insert(expected.end(), std::begin(kCartEmptyCommand), std::end(kCartEmptyCommand));
  expected.insert(expected.end(), data.begin() + sim::kJobPreambleSize, data.end());
  EXPECT_EQ(front_->Received(), expected);
  EXPECT_FALSE(Has(PrinterLong(), "marker-supply-empty-error"));
}

TEST_F(CupsTest, AnUnrecoverableErrorCancelsTheJob) {
  StartAll();
  if (IsSkipped()) return;
  ChangeStatus([](sim::Status& s) { s.errorFlags = 0x08; });
  const std::vector<uint8_t> data = sim::MakeJobData(1, 400);
  const int id = Print(data);
  ASSERT_TRUE(WaitForJobState(id, "canceled", seconds(30))) << cups_->ErrorLog();
  const std::vector<uint8_t> received = front_->Received();
  EXPECT_EQ(received, std::vector<uint8_t>(data.begin(), data.begin() + sim::kJobPreambleSize));
  const std::string printer = PrinterLong();
  EXPECT_TRUE(Has(printer, "other-error")) << printer;
  EXPECT_TRUE(Has(printer, "An unrecoverable error has occurred on the printer.")) << printer;
}

TEST_F(CupsTest, ACancelDuringAWaitEndsTheJobAtOnce) {
  StartAll();
  if (IsSkipped()) return;
  ChangeStatus([](sim::Status& s) { s.errorFlags = 0x01; });
  const std::vector<uint8_t> data = sim::MakeJobData(2, 400);
  const int id = Print(data);
  ASSERT_TRUE(WaitFor([&] { return Has(PrinterLong(), "media-empty-error"); }, seconds(30)))
      << cups_->ErrorLog();
  const auto cancelled = std::chrono::steady_clock::now();
  ASSERT_EQ(cups_->Run("cancel Label_A-" + std::to_string(id)).status, 0);
  ASSERT_TRUE(WaitForJobState(id, "canceled", seconds(10)));
  // The backend and its child are gone well before cupsd would kill them.
  ASSERT_TRUE(WaitFor([&] { return Has(cups_->ErrorLog(), "langmon) exited"); }, seconds(10)))
      << cups_->ErrorLog();
  EXPECT_LT(std::chrono::steady_clock::now() - cancelled, seconds(10));
  EXPECT_FALSE(Has(cups_->ErrorLog(), "crashed"));
  EXPECT_TRUE(WaitFor([&] { return !front_->Connected(); }, seconds(10)));
  EXPECT_EQ(front_->Received(),
            std::vector<uint8_t>(data.begin(), data.begin() + sim::kJobPreambleSize));
}

// The printer takes the connection but never answers: the check waits for status as in quiet
// mode (the monitor asks after two minutes), the reason is shown, and a cancel ends it.
TEST_F(CupsTest, APrinterThatNeverAnswersShowsWhyAndCanBeCancelled) {
  StartAll(false);
  if (IsSkipped()) return;
  const std::vector<uint8_t> data = sim::MakeJobData(1, 400);
  const int id = Print(data);
  ASSERT_TRUE(WaitFor([&] { return Has(PrinterLong(), "other-error"); }, seconds(180)))
      << cups_->ErrorLog();
  EXPECT_TRUE(Has(PrinterLong(), "Unable to get status from the printer."));
  EXPECT_EQ(JobState(id), "processing");
  ASSERT_EQ(cups_->Run("cancel Label_A-" + std::to_string(id)).status, 0);
  ASSERT_TRUE(WaitForJobState(id, "canceled", seconds(10)));
  EXPECT_TRUE(WaitFor([&] { return Has(cups_->ErrorLog(), "langmon) exited"); }, seconds(10)));
}

TEST_F(CupsTest, ADeviceWithoutABackChannelIsRefusedWithItsReason) {
  StartAll();
  if (IsSkipped()) return;
  ASSERT_EQ(cups_->Run("lpadmin -p Label_A -v langmon:lpd://127.0.0.1/queue").status, 0);
  const int id = Print(sim::MakeJobData(1, 100));
  ASSERT_TRUE(WaitFor([&] { return Has(PrinterLong(), "brings back no status"); }, seconds(30)))
      << cups_->ErrorLog();
  EXPECT_TRUE(Has(PrinterLong(), "disabled"));
  EXPECT_NE(JobState(id), "completed");
}

}  // namespace
}  // namespace cups_test

namespace cups_test {
namespace {

// Not a check: what a job through the backend costs over a plain raw socket queue to the same
// printer, printed for the notes. Run with --gtest_also_run_disabled_tests.
TEST_F(CupsTest, DISABLED_MeasureAgainstAPlainSocketQueue) {
  StartAll();
  if (IsSkipped()) return;
  const std::string device =
      "socket://127.0.0.1:" + std::to_string(front_->Port()) + "/?snmp=false";
  ASSERT_EQ(cups_->Run("lpadmin -p Plain -E -v '" + device + "' -m raw").status, 0);
  constexpr int kJobs = 20;
  const int labels = std::getenv("LABELS") != nullptr ? std::atoi(std::getenv("LABELS")) : 1;
  const std::vector<uint8_t> data = sim::MakeJobData(labels, 2000);
  const std::string file = cups_->Folder() + "/measure.prn";
  std::ofstream(file, std::ios::binary)
      .write(reinterpret_cast<const char*>(data.data()), static_cast<std::streamsize>(data.size()));
  for (const std::string queue : {"Plain", "Label_A", "Plain", "Label_A"}) {
    const auto start = std::chrono::steady_clock::now();
    for (int i = 0; i < kJobs; ++i) {
      ASSERT_EQ(cups_->Run("lp -d " + queue + " -o raw " + file).status, 0);
    }
    ASSERT_TRUE(WaitFor([&] { return cups_->Run("lpstat -o " + queue).output.empty(); },
                        std::chrono::seconds(120)));
    const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(
                        std::chrono::steady_clock::now() - start)
                        .count();
    std::printf("%-8s %d jobs: %lld ms, %lld ms per job\n", queue.c_str(), kJobs,
                static_cast<long long>(ms), static_cast<long long>(ms / kJobs));
  }
  const std::string log = cups_->ErrorLog();
  size_t at = 0;
  int lines = 0;
  while ((at = log.find("status reads (", at)) != std::string::npos && lines < 3) {
    const size_t begin = log.rfind(']', at) + 2;
    std::printf("%s\n", log.substr(begin, log.find('\n', at) - begin).c_str());
    at = log.find('\n', at);
    ++lines;
  }
}

}  // namespace
}  // namespace cups_test
