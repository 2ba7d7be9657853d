// Two printers on two ports of one spooler, "Label B" in quiet mode, through the real DLL: the
// jobs start one after the other in either order, then each is checked. Questions go to the job's
// owner through the stand-in spooler's SplPromptUIInUsersSession, whose owner answers at once.
#include "tests/wine/job_host.h"

#include <filesystem>

#include "sim/driver_files.h"

namespace wine_jobs {
namespace {

constexpr wchar_t kQuietPrinter[] = L"Label B";
constexpr wchar_t kQuietPort[] = L"USB002";

class TwoPrinters : public WineJobTest {
 protected:
  int ShowUi() const override { return 1; }

  void SetUp() override {
    WineJobTest::SetUp();
    if (HasFatalFailure()) {
      return;
    }
    ASSERT_TRUE(Spooler().offersSessionPrompts) << "run without --stand-in-spoolss";
    char temp[MAX_PATH];
    const std::string driverFolder =
        std::string(temp, GetTempPathA(MAX_PATH, temp)) + "langmon-driver";
    const std::u16string driverPath = sim::DriverPathIn(driverFolder);
    ASSERT_TRUE(Spooler().AddPrinter(kQuietPrinter, kQuietPort,
                                     std::wstring(driverPath.begin(), driverPath.end()).c_str()));
    std::error_code ignored;
    std::filesystem::remove_all(QuietFolder(), ignored);
    ASSERT_TRUE(std::filesystem::create_directories(QuietFolder()));
    WriteSetting(QuietFolder() + L"\\VM_lp250.ini", L"SHOW_UI", L"0");
    quiet_ = sim::AddPrinter(U16(kQuietPort));
    quiet_->SetSpitsPerByte(0, 0, 0);
    quiet_->SetRecordPeriod(0);
    quietSpooler_ = std::make_unique<sim::Spooler>(monitor_);
    ASSERT_TRUE(quietSpooler_->OpenPort(U16(kQuietPort), U16(kQuietPrinter)));
    Spooler().AnswerOwners(IDNO);
  }

  void TearDown() override {
    quietSpooler_.reset();  // closes its port
    WineJobTest::TearDown();
  }

  static std::wstring QuietFolder() {
    return CommonAppDataFolder() + L"\\VMT\\Drivers\\" + kQuietPrinter;
  }
  static std::wstring QuietPrinterIni() { return QuietFolder() + L"\\" + kQuietPrinter + L".ini"; }

  HANDLE Port(bool quiet) const {
    return quiet ? quietSpooler_->PortHandle() : spooler_->PortHandle();
  }

  BOOL Start(bool quiet, DWORD jobId) const {
    wchar_t printer[16];
    lstrcpyW(printer, quiet ? kQuietPrinter : kPrinterName);
    wchar_t document[] = L"Labels";
    DOC_INFO_1W docInfo = {document, nullptr, nullptr};
    return monitor_->Monitor.pfnStartDocPort(Port(quiet), printer, jobId, 1,
                                             reinterpret_cast<LPBYTE>(&docInfo));
  }

  // The preamble first, then the label, whose header runs the check; what a write leaves is
  // offered again, as the spooler does. TRUE when all went out.
  BOOL Write(bool quiet, std::vector<BYTE> data) const {
    for (DWORD sent = 0; sent < data.size();) {
      const DWORD offer =
          sent == 0 ? sim::kJobPreambleSize : static_cast<DWORD>(data.size()) - sent;
      DWORD written = 0;
      if (!monitor_->Monitor.pfnWritePort(Port(quiet), data.data() + sent, offer, &written) ||
          written == 0) {
        return FALSE;
      }
      sent += written;
    }
    return TRUE;
  }

  std::shared_ptr<sim::SimPrinter> quiet_;
  std::unique_ptr<sim::Spooler> quietSpooler_;
};

TEST_F(TwoPrinters, EachJobsQuestionsFollowItsOwnPrintersQuietMode) {
  sim::Status lowInk;
  lowInk.magentaSpits = 480000000;
  DWORD jobId = 40;
  for (const bool quietStartsLast : {true, false}) {
    SCOPED_TRACE(quietStartsLast ? "quiet printer's job started last" : "quiet one first");
    printer_->SetStatus(lowInk);
    quiet_->SetStatus(lowInk);
    printer_->ClearEvents();
    quiet_->ClearEvents();
    WriteSetting(PrinterIni(), L"WarnLevelColor", L"1");
    WriteSetting(QuietPrinterIni(), L"WarnLevelColor", L"1");
    const DWORD promptsBefore = Spooler().PromptCalls(nullptr, 0);
    const DWORD shownJob = ++jobId;
    const DWORD quietJob = ++jobId;
    const std::vector<BYTE> shownData = sim::MakeJobData(1, 600, shownJob);
    const std::vector<BYTE> quietData = sim::MakeJobData(1, 600, quietJob);

    ASSERT_TRUE(Start(!quietStartsLast, quietStartsLast ? shownJob : quietJob));
    ASSERT_TRUE(Start(quietStartsLast, quietStartsLast ? quietJob : shownJob));
    EXPECT_TRUE(Write(false, shownData));
    EXPECT_TRUE(Write(true, quietData));
    EXPECT_TRUE(monitor_->Monitor.pfnEndDocPort(Port(false)));
    EXPECT_TRUE(monitor_->Monitor.pfnEndDocPort(Port(true)));

    std::vector<StandInPromptCall> calls(Spooler().PromptCalls(nullptr, 0));
    calls.resize(Spooler().PromptCalls(calls.data(), static_cast<DWORD>(calls.size())));
    ASSERT_EQ(calls.size(), promptsBefore + 1u) << "one question, the shown printer's";
    const StandInPromptCall& call = calls.back();
    EXPECT_EQ(call.jobId, shownJob);
    EXPECT_STREQ(call.caption, kPrinterName);
    EXPECT_EQ(call.style, 0x1034u);  // 469, low ink
    EXPECT_EQ(call.response, static_cast<DWORD>(IDNO));
    EXPECT_EQ(printer_->JobData(), shownData);
    EXPECT_EQ(quiet_->JobData(), quietData);
    EXPECT_EQ(ReadSetting(PrinterIni(), L"WarnLevelColor"), L"2");
    EXPECT_EQ(ReadSetting(QuietPrinterIni(), L"WarnLevelColor"), L"2") << "warned without asking";
  }
  EXPECT_NE(LogFileText().find("OemPtrMessageBox(): message 469 answered 7 in the job owner's "
                               "session\n"),
            std::string::npos);
}

}  // namespace
}  // namespace wine_jobs
