// The real DLL while another program holds the printer's settings file at the worst moment: a
// reader sharing only reading opens it while the pre-job check waits for the job owner's answer
// to the low-ink question, and keeps it through the next job. Every job prints and is counted;
// what the reader refused reaches the file at its next use.
#include <gtest/gtest.h>

#include <string>

#include "tests/wine/job_host.h"

namespace wine_jobs {
namespace {

// The reader; opened on the monitor's thread, closed by the test.
struct Reader {
  std::wstring ini;
  HANDLE handle = INVALID_HANDLE_VALUE;
  int questions = 0;
};
Reader reader;

DWORD WINAPI OpenReaderAndAnswerNo(LPCWSTR /*text*/) {
  ++reader.questions;
  if (reader.handle == INVALID_HANDLE_VALUE) {
    reader.handle = CreateFileW(reader.ini.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                OPEN_EXISTING, 0, nullptr);
  }
  return IDNO;
}

class ReaderAtTheQuestion : public OwnersQuestionJobTest {
 protected:
  void SetUp() override {
    WineJobTest::SetUp();
    reader = Reader{PrinterIni()};
    AnswerQuestionsWith(OpenReaderAndAnswerNo);
  }

  void TearDown() override {
    CloseReader();
    // The monitor keeps what it could not write for the file's next use: a test that stopped
    // early leaves that use to a job of its own, not to the next test.
    if (HasFailure() && spooler_ != nullptr) {
      Print(1, 600, 99);
    }
    OwnersQuestionJobTest::TearDown();
  }

  static void CloseReader() {
    if (reader.handle != INVALID_HANDLE_VALUE) {
      CloseHandle(reader.handle);
      reader.handle = INVALID_HANDLE_VALUE;
    }
  }
};

TEST_F(ReaderAtTheQuestion, AReaderSharingOnlyReadingLosesNoCount) {
  WriteSetting(PrinterIni(), L"PrintCounter", L"5");
  sim::Status status;
  status.magentaSpits = 480000000;  // 7 % of the colour limit left: the question is asked
  printer_->SetStatus(status);
  DeleteFileA(LogFilePath().c_str());

  EXPECT_FALSE(Print(1, 600, 1).writeFailed);
  EXPECT_EQ(printer_->JobData(), lastJobData_);
  printer_->ClearEvents();
  ASSERT_EQ(reader.questions, 1);
  ASSERT_NE(reader.handle, INVALID_HANDLE_VALUE) << GetLastError();
  // Written before the question; the count after it was refused.
  EXPECT_EQ(ReadSetting(PrinterIni(), L"WarnLevelColor"), L"2");
  EXPECT_EQ(ReadSetting(PrinterIni(), L"PrintCounter"), L"5");

  EXPECT_FALSE(Print(1, 600, 2).writeFailed);
  EXPECT_EQ(printer_->JobData(), lastJobData_);
  EXPECT_EQ(reader.questions, 1) << "the kept warn level was not read";
  EXPECT_EQ(ReadSetting(PrinterIni(), L"PrintCounter"), L"5");
  const std::string ini(reader.ini.begin(), reader.ini.end());
  const std::string log = LogFileText();
  EXPECT_NE(log.find("VMT_LM_10[** ERROR **] WriteHeldSetting(): PrintCounter of " + ini +
                     " not written (0x20), kept for the next use\n"),
            std::string::npos)
      << log;
  CloseReader();

  EXPECT_FALSE(Print(1, 600, 3).writeFailed);
  EXPECT_EQ(ReadSetting(PrinterIni(), L"PrintCounter"), L"8");
  EXPECT_EQ(ReadSetting(PrinterIni(), L"WarnLevelColor"), L"2");
  EXPECT_EQ(ReadSetting(PrinterIni(), L"MagentaSpits"), L"480000000");
  EXPECT_EQ(reader.questions, 1);
}

}  // namespace
}  // namespace wine_jobs
