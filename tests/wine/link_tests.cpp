// The real DLL where links have been planted at the places it writes: the log file in the temp
// folder and the printer's settings file. Wine keeps hard links, so those cases always run;
// symbolic links run where Wine's CreateSymbolicLinkW makes them and are skipped elsewhere.
#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "tests/wine/debug_output.h"
#include "tests/wine/job_host.h"

namespace {

std::string ReadWholeFile(const std::wstring& path) {
  std::ifstream file(path.c_str(), std::ios::binary);
  return {std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
}

void WriteWholeFile(const std::wstring& path, const std::string& text) {
  std::ofstream(path.c_str(), std::ios::binary | std::ios::trunc) << text;
}

std::wstring TempFolderW() {
  wchar_t folder[MAX_PATH];
  return std::wstring(folder, GetTempPathW(MAX_PATH, folder));
}

std::wstring Widen(const std::string& text) { return {text.begin(), text.end()}; }

// A symbolic link, or the reason this Wine cannot make one (its CreateSymbolicLinkW may report
// success and make nothing).
bool MakeSymbolicLink(const std::wstring& link, const std::wstring& target, DWORD flags,
                      std::string* why) {
  if (!CreateSymbolicLinkW(link.c_str(), target.c_str(),
                           flags | SYMBOLIC_LINK_FLAG_ALLOW_UNPRIVILEGED_CREATE)) {
    *why = "CreateSymbolicLinkW failed with error " + std::to_string(GetLastError());
    return false;
  }
  const DWORD attributes = GetFileAttributesW(link.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES || !(attributes & FILE_ATTRIBUTE_REPARSE_POINT)) {
    *why = "CreateSymbolicLinkW reported success but made no link";
    return false;
  }
  return true;
}

// ---- The log file ---------------------------------------------------------------------------

class LogFileLink : public testing::Test {
 protected:
  void SetUp() override {
    DeleteFileA(LogFilePath().c_str());
    WriteWholeFile(elsewhere_, kKept);
  }
  void TearDown() override {
    DeleteFileA(LogFilePath().c_str());  // the link, not what it leads to
    DeleteFileW(elsewhere_.c_str());
  }

  // Logs a few lines, and checks that they reached the debugger, that the file behind the link
  // is as it was, and that the warning was given once.
  void LogAndExpectRefusal(const std::string& why) {
    DebugOutput output;
    for (int i = 0; i < 3; ++i) {
      Monitor().InitializePrintMonitor(nullptr);  // two lines at level 3, and nothing else
    }
    EXPECT_EQ(ReadWholeFile(elsewhere_), kKept);
    EXPECT_EQ(output.Count("VMT_LM_10[INFORM] **** LANGMON: Initialize Print Monitor Called\n"),
              3u);
    char temp[MAX_PATH];
    const std::string shown = std::string(temp, GetTempPathA(MAX_PATH, temp)) +
                              "\\VelmoraLMDrv.dbg " + why +
                              ", not written; the log goes to the debugger output only\n";
    EXPECT_EQ(output.Count("VMT_LM_10[* WARNING *] LogToFile(): " + shown), 1u) << shown;

    // Plain again: the lines go to the file, which is the monitor's own.
    DeleteFileA(LogFilePath().c_str());
    Monitor().InitializePrintMonitor(nullptr);
    EXPECT_NE(ReadWholeFile(Widen(LogFilePath())).find("Initialize Print Monitor Called"),
              std::string::npos);
    EXPECT_EQ(ReadWholeFile(elsewhere_), kKept);
  }

  static constexpr char kKept[] = "a file of someone else's\r\n";
  const std::wstring elsewhere_ = TempFolderW() + L"langmon-elsewhere.txt";
};

TEST_F(LogFileLink, AHardLinkedLogFileIsLeftAlone) {
  ASSERT_TRUE(CreateHardLinkW(Widen(LogFilePath()).c_str(), elsewhere_.c_str(), nullptr))
      << GetLastError();
  LogAndExpectRefusal("has more than one link");
}

TEST_F(LogFileLink, ASymbolicLinkAsLogFileIsLeftAlone) {
  std::string why;
  if (!MakeSymbolicLink(Widen(LogFilePath()), elsewhere_, 0, &why)) {
    GTEST_SKIP() << why;
  }
  LogAndExpectRefusal("is a link");
}

// ---- The printer's settings file ------------------------------------------------------------

class SettingsFileLink : public wine_jobs::WineJobTest {
 protected:
  void TearDown() override {
    DeleteFileW(PrinterIni().c_str());  // the link, not what it leads to
    DeleteFileW(elsewhere_.c_str());
    WineJobTest::TearDown();
  }

  // A job prints whole, the file behind the link keeps its bytes, and the log names the reason.
  void PrintAndExpectRefusal(const std::wstring& refused, const std::string& why) {
    DeleteFileA(LogFilePath().c_str());
    const sim::JobResult result = Print(2, 600, 5);
    EXPECT_FALSE(result.writeFailed);
    EXPECT_EQ(printer_->JobData(), lastJobData_);
    EXPECT_EQ(ReadWholeFile(elsewhere_), kPlanted);
    const std::string log = ReadWholeFile(Widen(LogFilePath()));
    const std::string line = "VMT_LM_10[** ERROR **] OemPtrGetDriverAppDataPath(): " +
                             std::string(refused.begin(), refused.end()) + " " + why +
                             ", not used\n";
    EXPECT_NE(log.find(line), std::string::npos) << line << "log:\n" << log;
    EXPECT_NE(log.find("VMT_LM_10[INFORM] Failed to save off printer data\n"), std::string::npos);
  }

  static constexpr char kPlanted[] = "[settings]\r\nPrintCounter=5\r\n";
  const std::wstring elsewhere_ = TempFolderW() + L"langmon-elsewhere.ini";
};

TEST_F(SettingsFileLink, AHardLinkedPrinterSettingsFileIsNotWritten) {
  WriteWholeFile(elsewhere_, kPlanted);
  ASSERT_TRUE(CreateHardLinkW(PrinterIni().c_str(), elsewhere_.c_str(), nullptr)) << GetLastError();
  PrintAndExpectRefusal(PrinterIni(), "has more than one link");
}

TEST_F(SettingsFileLink, ASymbolicLinkAsPrinterSettingsFileIsNotWritten) {
  WriteWholeFile(elsewhere_, kPlanted);
  std::string why;
  if (!MakeSymbolicLink(PrinterIni(), elsewhere_, 0, &why)) {
    GTEST_SKIP() << why;
  }
  PrintAndExpectRefusal(PrinterIni(), "is a link");
}

}  // namespace
