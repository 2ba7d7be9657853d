// Whole jobs through the real DLL in quiet mode: the data path, the check's settings files and
// job controls, and the status query, with Wine's loader, profile files, shell folders and clock.
#include <algorithm>

#include "printer/status.h"
#include "tests/wine/job_host.h"

namespace wine_jobs {
namespace {

using QuietJob = WineJobTest;

TEST_F(QuietJob, ReachesThePrinterWholeAndInOrderAndIsCounted) {
  // A black cartridge: its ink is judged by the yellow counter alone; all three are stored.
  sim::Status status;
  status.cartType = '1';
  status.yellowSpits = 16;
  status.magentaSpits = 512;
  status.cyanSpits = 4294967295u;
  printer_->SetStatus(status);

  // Spooler buffers that cut labels anywhere: the monitor cuts again at every header.
  sim::Job job;
  job.printerName = U16(kPrinterName);
  job.jobId = 11;
  job.data = sim::MakeJobData(4, 2500, 11);
  job.offerSizes = {sim::kJobPreambleSize, 1000, 3333};
  const sim::JobResult result = spooler_->Print(job);

  EXPECT_TRUE(result.started);
  EXPECT_FALSE(result.writeFailed);
  EXPECT_TRUE(result.ended);
  EXPECT_EQ(printer_->JobData(), job.data);
  EXPECT_TRUE(printer_->Commands().empty());
  // One check per label, each one counted.
  EXPECT_EQ(ReadSetting(PrinterIni(), L"PrintCounter"), L"4");
  EXPECT_EQ(ReadSetting(PrinterIni(), L"CyanSpits"), L"4294967295");
  EXPECT_EQ(ReadSetting(PrinterIni(), L"MagentaSpits"), L"512");
  EXPECT_EQ(ReadSetting(PrinterIni(), L"YellowSpits"), L"16");
  EXPECT_EQ(ReadSetting(PrinterIni(), L"WarnLevelBlack"), std::nullopt);
  EXPECT_EQ(JobControls(JOB_CONTROL_LAST_PAGE_EJECTED), std::vector<DWORD>{11});
  EXPECT_TRUE(JobControls(JOB_CONTROL_DELETE).empty());
  EXPECT_EQ(Spooler().OpenHandles(), 0);
}

TEST_F(QuietJob, LowInkRaisesTheWarnLevelOnceAndPrints) {
  sim::Status status;
  status.magentaSpits = 480000000;  // 7 % of the colour limit left
  printer_->SetStatus(status);

  const sim::JobResult first = Print(2, 600, 1);
  EXPECT_FALSE(first.writeFailed);
  EXPECT_EQ(printer_->JobData(), lastJobData_);
  EXPECT_EQ(ReadSetting(PrinterIni(), L"WarnLevelColor"), L"2");
  EXPECT_EQ(ReadSetting(PrinterIni(), L"WarnLevelBlack"), std::nullopt);
  EXPECT_EQ(ReadSetting(PrinterIni(), L"PrintCounter"), L"2");

  // The model's own limit makes the same counters worse: past it by more than 9.5 %.
  WriteSetting(ModelIni(), L"ColorSpits", L"400");
  printer_->ClearEvents();
  EXPECT_FALSE(Print(1, 600, 2).writeFailed);
  EXPECT_EQ(printer_->JobData(), lastJobData_);
  EXPECT_EQ(ReadSetting(PrinterIni(), L"WarnLevelColor"), L"4");
  EXPECT_EQ(ReadSetting(PrinterIni(), L"PrintCounter"), L"3");
  EXPECT_EQ(JobControls(JOB_CONTROL_LAST_PAGE_EJECTED), (std::vector<DWORD>{1, 2}));
}

TEST_F(QuietJob, FailedCheckDeletesTheJobAndRefusesTheWrite) {
  sim::Status status;
  status.errorFlags = 0x08;  // unrecoverable
  printer_->SetStatus(status);

  const sim::JobResult result = Print(3, 600, 7);
  EXPECT_TRUE(result.started);
  EXPECT_TRUE(result.writeFailed);
  EXPECT_TRUE(result.ended);
  // Only the unchecked first write went out.
  const std::vector<BYTE> preamble(sim::kJobPreamble, sim::kJobPreamble + sim::kJobPreambleSize);
  EXPECT_EQ(printer_->JobData(), preamble);
  EXPECT_EQ(JobControls(JOB_CONTROL_DELETE), std::vector<DWORD>{7});
  EXPECT_TRUE(JobControls(JOB_CONTROL_LAST_PAGE_EJECTED).empty());
  EXPECT_EQ(ReadSetting(PrinterIni(), L"PrintCounter"), std::nullopt);
  EXPECT_EQ(Spooler().OpenHandles(), 0);

  // The port is free again for the next job.
  printer_->SetStatus(sim::Status{});
  printer_->ClearEvents();
  EXPECT_FALSE(Print(1, 600, 8).writeFailed);
  EXPECT_EQ(printer_->JobData(), lastJobData_);
  EXPECT_EQ(JobControls(JOB_CONTROL_LAST_PAGE_EJECTED), std::vector<DWORD>{8});
}

TEST_F(QuietJob, StatusQueryBetweenJobsReturnsThePrintersRecord) {
  sim::Status status;
  status.cartType = '0';
  status.yellowSpits = 123456789;
  printer_->SetStatus(status);

  for (DWORD jobId = 1; jobId <= 2; ++jobId) {
    std::vector<BYTE> bytes;
    ASSERT_TRUE(spooler_->QueryStatus(&bytes));
    ASSERT_EQ(bytes.size(), kStatusRecordSize);
    StatusRecord record;
    std::copy(bytes.begin(), bytes.end(), reinterpret_cast<BYTE*>(&record));
    EXPECT_EQ(record.bStartChar, kStatusStartChar);
    EXPECT_EQ(record.bEndChar, kStatusEndChar);
    EXPECT_EQ(record.bChecksum, StatusChecksum(record));
    EXPECT_EQ(record.bCartType, '0');
    EXPECT_EQ(YellowSpits(record), 123456789u);

    // A short answer buffer takes the record's first bytes.
    ASSERT_TRUE(spooler_->QueryStatus(&bytes, 10));
    EXPECT_EQ(bytes.size(), 10u);
    EXPECT_EQ(bytes[0], kStatusStartChar);

    EXPECT_FALSE(Print(1, 400, jobId).writeFailed);
  }
  EXPECT_EQ(ReadSetting(PrinterIni(), L"PrintCounter"), L"2");
}

// Each answer of a bidi container as "<request> <result> <schema> = <value>".
std::vector<std::wstring> AnswerLines(PBIDI_RESPONSE_CONTAINER responses) {
  std::vector<std::wstring> lines;
  for (DWORD i = 0; responses != nullptr && i < responses->Count; ++i) {
    const BIDI_RESPONSE_DATA& answer = responses->aData[i];
    std::wstring line = std::to_wstring(answer.dwReqNumber) + L" " +
                        std::to_wstring(answer.dwResult) + L" " +
                        (answer.pSchema != nullptr ? answer.pSchema : L"(none)") + L" = ";
    switch (answer.data.dwBidiType) {
      case BIDI_ENUM:
      case BIDI_STRING:
        line += answer.data.u.sData;
        break;
      case BIDI_BOOL:
        line += answer.data.u.bData ? L"true" : L"false";
        break;
      case BIDI_INT:
        line += std::to_wstring(answer.data.u.iData);
        break;
      default:
        line += L"?";
        break;
    }
    lines.push_back(line);
  }
  return lines;
}

// Ink levels through the DLL's MONITOR2 table, beside the simulated port monitor's own bidi
// entry: the stand-in spoolss.dll offers the allocators the DLL looks up at run time, the levels
// are the simulated printer's against the model's limit, and a request for both comes back in
// one container, every block of it the stand-in's and freed once.
TEST_F(QuietJob, BidiThroughMonitor2AnswersInkLevelsBesideThePortMonitorsOwnAnswers) {
  WriteSetting(ModelIni(), L"ColorSpits", L"200");
  sim::Status status;
  status.yellowSpits = 20000000;    // 90 % of 200 M left
  status.magentaSpits = 101000000;  // 49.5 %: 50
  status.cyanSpits = 250000000;     // over the limit
  printer_->SetStatus(status);

  MONITORINIT init = {sizeof(MONITORINIT), nullptr, nullptr, nullptr, TRUE, nullptr};
  HANDLE hMonitor = nullptr;
  LPMONITOR2 table = Monitor().InitializePrintMonitor2(&init, &hMonitor);
  ASSERT_NE(table, nullptr);
  ASSERT_EQ(table->cbSize, sizeof(MONITOR2));
  spooler_ = std::make_unique<sim::Spooler>(table, hMonitor);
  ASSERT_TRUE(spooler_->OpenPort(U16(kPortName), U16(kPrinterName)));
  // Once a job has come and gone on the port, the monitor reads the printer between jobs.
  wchar_t printerName[] = L"Label A";
  DOC_INFO_1W docInfo = {const_cast<LPWSTR>(L"Labels"), nullptr, nullptr};
  ASSERT_TRUE(table->pfnStartDocPort(spooler_->PortHandle(), printerName, 1, 1,
                                     reinterpret_cast<LPBYTE>(&docInfo)));
  ASSERT_TRUE(table->pfnEndDocPort(spooler_->PortHandle()));

  const LONG blocksBefore = Spooler().LiveBidiBlocks();
  const LONG badFreesBefore = Spooler().BadBidiFrees();
  PBIDI_RESPONSE_CONTAINER responses = nullptr;
  ASSERT_EQ(spooler_->Bidi(u"GetAll", {u"\\Printer.Consumables"}, &responses),
            static_cast<DWORD>(ERROR_SUCCESS));
  ASSERT_NE(responses, nullptr);
  EXPECT_EQ(AnswerLines(responses),
            (std::vector<std::wstring>{L"41 0 \\Printer.Consumables.Yellow:Type = Ink",
                                       L"41 0 \\Printer.Consumables.Yellow:Color = Yellow",
                                       L"41 0 \\Printer.Consumables.Yellow:Installed = true",
                                       L"41 0 \\Printer.Consumables.Yellow:Level = 90",
                                       L"41 0 \\Printer.Consumables.Magenta:Type = Ink",
                                       L"41 0 \\Printer.Consumables.Magenta:Color = Magenta",
                                       L"41 0 \\Printer.Consumables.Magenta:Installed = true",
                                       L"41 0 \\Printer.Consumables.Magenta:Level = 50",
                                       L"41 0 \\Printer.Consumables.Cyan:Type = Ink",
                                       L"41 0 \\Printer.Consumables.Cyan:Color = Cyan",
                                       L"41 0 \\Printer.Consumables.Cyan:Installed = true",
                                       L"41 0 \\Printer.Consumables.Cyan:Level = 0"}));
  EXPECT_EQ(Spooler().FreeBidiResponseContainer(responses), static_cast<DWORD>(ERROR_SUCCESS));

  // The monitor's ink level and the port monitor's own answer, in one container.
  responses = nullptr;
  ASSERT_EQ(spooler_->Bidi(
                u"Get", {u"\\Printer.Configuration:Memory", u"\\Printer.Consumables.Magenta:Level"},
                &responses),
            static_cast<DWORD>(ERROR_SUCCESS));
  EXPECT_EQ(AnswerLines(responses),
            (std::vector<std::wstring>{L"42 0 \\Printer.Consumables.Magenta:Level = 50",
                                       L"41 0 \\Printer.Configuration:Memory = USB001"}));
  ASSERT_EQ(printer_->BidiCalls().size(), 1u);
  EXPECT_EQ(printer_->BidiCalls()[0].requests,
            (std::vector<sim::BidiRequest>{{41, u"\\Printer.Configuration:Memory"}}));
  EXPECT_EQ(Spooler().FreeBidiResponseContainer(responses), static_cast<DWORD>(ERROR_SUCCESS));
  EXPECT_EQ(Spooler().LiveBidiBlocks(), blocksBefore);
  EXPECT_EQ(Spooler().BadBidiFrees(), badFreesBefore) << "every block the stand-in's, freed once";
  EXPECT_EQ(Spooler().OpenHandles(), 0) << "the printer opened for its settings is closed again";
}

}  // namespace
}  // namespace wine_jobs
