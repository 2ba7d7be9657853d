// The real DLL while someone tries to swap the printer's settings file for a hard link to another
// file at the worst moment: while the pre-job check waits for the job owner's answer to the
// low-ink question, between its first reads and its last writes.
#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <string>

#include "tests/wine/job_host.h"

namespace wine_jobs {
namespace {

constexpr char kOther[] = "[settings]\r\nPrintCounter=100\r\n";

std::string ReadWholeFile(const std::wstring& path) {
  std::ifstream file(path.c_str(), std::ios::binary);
  return {std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
}

std::wstring TempFolderW() {
  wchar_t folder[MAX_PATH];
  return std::wstring(folder, GetTempPathW(MAX_PATH, folder));
}

// What the swap met; set on the monitor's thread, read after the job.
struct Swap {
  std::wstring ini;
  std::wstring other;
  std::wstring planted;
  int questions = 0;
  DWORD deleteError = 0;
  BOOL linked = FALSE;
  BOOL replaced = FALSE;
};
Swap swap;

DWORD WINAPI SwapAndAnswerNo(LPCWSTR /*text*/) {
  ++swap.questions;
  if (!DeleteFileW(swap.ini.c_str())) {
    swap.deleteError = GetLastError();
  }
  swap.linked = CreateHardLinkW(swap.ini.c_str(), swap.other.c_str(), nullptr);
  if (CreateHardLinkW(swap.planted.c_str(), swap.other.c_str(), nullptr)) {
    swap.replaced = MoveFileExW(swap.planted.c_str(), swap.ini.c_str(), MOVEFILE_REPLACE_EXISTING);
    DeleteFileW(swap.planted.c_str());
  }
  return IDNO;
}

class OwnersQuestion : public OwnersQuestionJobTest {
 protected:
  void SetUp() override {
    WineJobTest::SetUp();
    swap = Swap{PrinterIni(), TempFolderW() + L"langmon-other.ini",
                SettingsFolder() + L"\\planted.ini"};
    std::ofstream(swap.other.c_str(), std::ios::binary | std::ios::trunc) << kOther;
    AnswerQuestionsWith(SwapAndAnswerNo);
  }

  void TearDown() override {
    DeleteFileW(swap.other.c_str());
    OwnersQuestionJobTest::TearDown();
  }
};

TEST_F(OwnersQuestion, SettingsFileCannotBeSwappedForAHardLinkWhileItIsOpen) {
  WriteSetting(PrinterIni(), L"PrintCounter", L"5");
  sim::Status status;
  status.magentaSpits = 480000000;  // 7 % of the colour limit left: the question is asked
  printer_->SetStatus(status);

  EXPECT_FALSE(Print(1, 600, 3).writeFailed);
  EXPECT_EQ(printer_->JobData(), lastJobData_);
  ASSERT_EQ(swap.questions, 1);
  EXPECT_EQ(swap.deleteError, static_cast<DWORD>(ERROR_SHARING_VIOLATION));
  EXPECT_FALSE(swap.linked);
  EXPECT_FALSE(swap.replaced) << "the settings file was replaced while held";
  EXPECT_EQ(ReadWholeFile(swap.other), kOther);
  EXPECT_EQ(ReadSetting(PrinterIni(), L"PrintCounter"), L"6");
  EXPECT_EQ(ReadSetting(PrinterIni(), L"WarnLevelColor"), L"2");
  EXPECT_EQ(ReadSetting(PrinterIni(), L"MagentaSpits"), L"480000000");
}

}  // namespace
}  // namespace wine_jobs
