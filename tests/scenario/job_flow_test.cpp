#include <random>

#include "tests/support/scenario_test.h"

namespace langmon_test {
namespace {

class JobFlowTest : public ScenarioTest {};

TEST_F(JobFlowTest, AnySpoolerBufferSizeDeliversTheJobWholeAndChecksEachHeaderOnce) {
  std::mt19937 random(7);
  for (DWORD jobId = 1; jobId <= 12; ++jobId) {
    ClearLog();
    printer_->ClearEvents();
    sim::Job job;
    job.printerName = kPrinterName;
    job.jobId = jobId;
    const long labels = 1 + static_cast<long>(random() % 6);
    job.data = sim::MakeJobData(static_cast<unsigned>(labels), 100 + random() % 900, jobId);
    job.offerSizes = {sim::kJobPreambleSize};
    for (int i = 0; i < 8; ++i) {
      job.offerSizes.push_back(60 + random() % 3000);
    }
    const sim::JobResult result = spooler_->Print(job);
    ASSERT_FALSE(result.writeFailed);
    ASSERT_EQ(printer_->JobData(), job.data) << "job " << jobId;
    const long checks = Count(Inform("Header found -- Prepare for next print\n"));
    EXPECT_EQ(Count(Inform("PrepareForNextPrint( ) successful!\n")), checks);
    // Every label's header ends up at the start of a write of its own, long enough to be scanned.
    EXPECT_EQ(checks, labels) << "job " << jobId;
  }
}

TEST_F(JobFlowTest, StatusQueryAnswersBetweenJobsButNotDuringOne) {
  std::vector<BYTE> bytes;
  ASSERT_TRUE(spooler_->QueryStatus(&bytes));
  ASSERT_EQ(bytes.size(), 116u);
  EXPECT_EQ(bytes[0], 0x01);
  EXPECT_EQ(bytes[115], 0x04);

  // Ask again while the check of a job holds the port: a box is up when the query comes.
  sim::Status status;
  status.magentaSpits = 480000000;
  Report(status);
  BOOL queriedDuringJob = TRUE;
  DWORD errorDuringJob = 0;
  host::SetAnswerer([&](const host::MessageBoxRecord&) {
    std::vector<BYTE> during;
    queriedDuringJob = spooler_->QueryStatus(&during);
    errorDuringJob = GetLastError();
    return IDNO;
  });
  Print(1);
  EXPECT_FALSE(queriedDuringJob);
  EXPECT_EQ(errorDuringJob, static_cast<DWORD>(ERROR_INVALID_PARAMETER));
  EXPECT_TRUE(spooler_->QueryStatus(&bytes));
}

TEST_F(JobFlowTest, FilePortsAndCommandDocumentsAreNeverChecked) {
  sim::Status status;
  status.errorFlags = 0x08;  // would stop any checked job
  Report(status);

  sim::Job command;
  command.printerName = kPrinterName;
  command.documentName = u"BRINDLEMARSTEN COMMAxx";
  command.data = sim::MakeJobData(3, 300);
  EXPECT_FALSE(spooler_->Print(command).writeFailed);
  EXPECT_EQ(printer_->JobData(), command.data);

  sim::Job plain = command;
  plain.documentName = u"Brindlemarsten";
  plain.jobId = 2;
  EXPECT_TRUE(spooler_->Print(plain).writeFailed);
  EXPECT_EQ(Boxes(), std::vector<unsigned>{440});

  spooler_->ClosePort();
  std::shared_ptr<sim::SimPrinter> filePrinter = sim::AddPrinter(u"file:");
  filePrinter->SetStatus(status);
  ASSERT_TRUE(spooler_->OpenPort(u"file:", kPrinterName));
  sim::Job toFile = plain;
  toFile.jobId = 3;
  EXPECT_FALSE(spooler_->Print(toFile).writeFailed);
  EXPECT_EQ(filePrinter->JobData(), toFile.data);
  EXPECT_EQ(Boxes(), std::vector<unsigned>{440});
}

// The job still starts and ends at the port monitor as any job does; only the check is skipped.
TEST_F(JobFlowTest, JobWhosePrinterCannotBeOpenedIsSentWithoutTheCheck) {
  ExpectCaption(u"Unknown printer");
  sim::Job job;
  job.jobId = 2;
  job.printerName = u"Unknown printer";
  job.data = sim::MakeJobData(2, 400);
  const sim::JobResult result = spooler_->Print(job);
  EXPECT_TRUE(result.started);
  EXPECT_FALSE(result.writeFailed);
  EXPECT_EQ(printer_->JobData(), job.data);
  std::vector<sim::EventKind> frame;
  for (const sim::Event& event : printer_->Events()) {
    if (event.kind == sim::EventKind::StartDoc) {
      EXPECT_EQ(event.text, u"Unknown printer");
      EXPECT_EQ(event.value, 2u);
    }
    if (event.kind == sim::EventKind::StartDoc || event.kind == sim::EventKind::EndDoc) {
      frame.push_back(event.kind);
    }
  }
  EXPECT_EQ(frame, (std::vector<sim::EventKind>{sim::EventKind::StartDoc, sim::EventKind::EndDoc}));
  EXPECT_TRUE(Logged(Error("**** LANGMON: PJLMonStartDocPort failed to open printer\n")));
  EXPECT_EQ(Count(Warning("Header found -- no job record, sent without the check\n")), 2);
  EXPECT_TRUE(host::SetJobCalls().empty());
  EXPECT_TRUE(Boxes().empty());

  // A port monitor that refuses such a job is reported like any failed start.
  printer_->FailStartDocs(true);
  job.jobId = 3;
  EXPECT_FALSE(spooler_->Print(job).started);
  EXPECT_EQ(Boxes(), std::vector<unsigned>{455});
  EXPECT_EQ(host::OpenPrinterHandles(), 0);
}

TEST_F(JobFlowTest, FailedStartIsReportedOnceUntilAStartSucceeds) {
  printer_->FailStartDocs(true);
  EXPECT_FALSE(Print(1).started);
  EXPECT_FALSE(Print(1, 600, 2).started);
  EXPECT_EQ(Boxes(), std::vector<unsigned>{455});
  EXPECT_TRUE(Logged(Error("**** LANGMON: DO NOT WARN\n")));
  printer_->FailStartDocs(false);
  EXPECT_TRUE(Print(1, 600, 3).started);
  printer_->FailStartDocs(true);
  EXPECT_FALSE(Print(1, 600, 4).started);
  EXPECT_EQ(Boxes(), (std::vector<unsigned>{455, 455}));
  EXPECT_EQ(host::OpenPrinterHandles(), 0);
}

TEST_F(JobFlowTest, RefusedWriteKeepsTheJobInItsFirstWrite) {
  printer_->QueueWrites({sim::WriteOutcome{sim::WriteFault::Fail, ERROR_WRITE_FAULT}});
  sim::Job job;
  job.printerName = kPrinterName;
  job.data = sim::MakeJobData(2, 400);
  const sim::JobResult first = spooler_->Print(job);
  EXPECT_TRUE(first.writeFailed);
  EXPECT_EQ(first.writeError, static_cast<DWORD>(ERROR_WRITE_FAULT));
  EXPECT_TRUE(Logged(Error("**** WritePort failed\n")));
}

}  // namespace
}  // namespace langmon_test
