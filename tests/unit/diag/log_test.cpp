#include <string>

#include "tests/support/monitor_test.h"

namespace langmon_test {
namespace {

class LogTest : public MonitorTest {};

TEST_F(LogTest, OnlyLevelsAtOrAboveTheThresholdProduceLines) {
  LogMessage(1, "trace\n");
  LogMessage(2, "dump\n");
  LogMessage(0, "zero\n");
  LogMessage(-1, "raw trace\n");
  EXPECT_TRUE(LogLines().empty());

  LogMessage(3, "inform %d\n", 3);
  LogMessage(4, "warning\n");
  LogMessage(5, "error\n");
  LogMessage(6, "fatal\n");
  LogMessage(7, "seven\n");
  LogMessage(3, nullptr);  // no format: the level's prefix alone
  EXPECT_EQ(LogLines(), (std::vector<std::string>{
                            "VMT_LM_10[INFORM] inform 3\n", "VMT_LM_10[* WARNING *] warning\n",
                            "VMT_LM_10[** ERROR **] error\n", "VMT_LM_10[*** FATAL ***] fatal\n",
                            "VMT_LM_10[UNKNOWN] seven\n", "VMT_LM_10[INFORM] "}));
}

TEST_F(LogTest, NegativeLevelWritesTheFormatRawWithoutReadingArguments) {
  LogMessage(-3, "100%d done %s\n");
  ASSERT_EQ(LogLines(), std::vector<std::string>{"100%d done %s\n"});
  EXPECT_NE(LogFileText().find("100%d done %s\n"), std::string::npos);
}

TEST_F(LogTest, LongFormatsReadThirtyTwoBitArgumentsAsWindowsDoes) {
  LogMessage(3, "%ld %lu %lx|%s\n", static_cast<LONG>(-5), static_cast<DWORD>(4294967295u),
             static_cast<DWORD>(0xBEEF), "tail");
  EXPECT_EQ(LogLines(), std::vector<std::string>{"VMT_LM_10[INFORM] -5 4294967295 beef|tail\n"});
}

TEST_F(LogTest, LoggingLeavesTheCallersLastErrorIntact) {
  SetLastError(ERROR_BUSY);
  LogMessage(5, "something failed\n");
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_BUSY));
  SetLastError(ERROR_INVALID_DATA);
  LogMessage(1, "dropped\n");
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_DATA));
}

TEST_F(LogTest, OverlongLinesAreCutToTheLineBuffer) {
  const std::string longText(3000, 'x');
  LogMessage(3, "%s", longText.c_str());
  LogMessage(-3, longText.c_str());
  const std::vector<std::string> lines = LogLines();
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_EQ(lines[0], "VMT_LM_10[INFORM] " + std::string(511 - 18, 'x'));
  EXPECT_EQ(lines[1], std::string(511, 'x'));
}

TEST_F(LogTest, FileRecordsCarryATwentyCharacterLocalTimestamp) {
  SYSTEMTIME time = {};
  time.wYear = 2026;
  time.wMonth = 3;
  time.wDay = 2;
  time.wHour = 9;
  time.wMinute = 5;
  time.wSecond = 3;
  time.wMilliseconds = 7;
  host::SetLocalTime(time);
  LogMessage(4, "ink low\n");
  LogMessage(1, "not in the file\n");
  EXPECT_EQ(LogFileText(), "03/02 09:05:03:007  VMT_LM_10[* WARNING *] ink low\n");
}

TEST_F(LogTest, FileStartsOverOnlyOnceItHasGrownPastTheCap) {
  {
    std::ofstream out(LogFilePath(), std::ios::binary);
    out << std::string(2000000, 'a');
  }
  LogMessage(3, "at the cap\n");
  std::string text = LogFileText();
  EXPECT_EQ(text.size(), 2000000u + 20u + 29u);
  EXPECT_EQ(text.substr(2000020), "VMT_LM_10[INFORM] at the cap\n");

  {
    std::ofstream out(LogFilePath(), std::ios::binary);
    out << std::string(2000001, 'a');
  }
  LogMessage(3, "over the cap\n");
  text = LogFileText();
  EXPECT_EQ(text.size(), 20u + 31u);
  EXPECT_EQ(text.substr(20), "VMT_LM_10[INFORM] over the cap\n");
}

TEST_F(LogTest, LinesStillReachTheDebuggerWhenTheFileCannotBeWritten) {
  host::SetTempFolder("");
  LogMessage(3, "no temp folder\n");
  EXPECT_EQ(LogLines(), std::vector<std::string>{"VMT_LM_10[INFORM] no temp folder\n"});

  host::SetTempFolder(TempFolder().string());
  HANDLE holder = CreateFileA(LogFilePath().c_str(), GENERIC_WRITE, 0, nullptr, OPEN_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
  ASSERT_NE(holder, INVALID_HANDLE_VALUE);
  LogMessage(3, "file held by another writer\n");
  CloseHandle(holder);
  LogMessage(3, "file free again\n");
  EXPECT_EQ(LogFileText().find("held"), std::string::npos);
  EXPECT_NE(LogFileText().find("file free again"), std::string::npos);
}

// The monitor writes the file as SYSTEM in a folder others can write to: whatever a link there
// leads to stays as it was, the lines still reach the debugger, and each new kind of link is
// told there once.
TEST_F(LogTest, LogFileThatIsALinkIsLeftAloneAndToldOncePerChange) {
  const std::string path = LogFilePath().string();
  const std::filesystem::path elsewhere = TempFolder() / "elsewhere.txt";
  const std::string kept(2000001, 'k');  // past the cap: a cut would show
  std::ofstream(elsewhere, std::ios::binary) << kept;
  const std::string shownPath = TempFolder().string() + "/\\VelmoraLMDrv.dbg";
  const std::string told = Warning("LogToFile(): " + shownPath + " is a link, not written; the " +
                                   "log goes to the debugger output only\n");
  const std::string toldHardLink =
      Warning("LogToFile(): " + shownPath + " has more than one link, not written; the log goes " +
              "to the debugger output only\n");

  LogMessage(3, "a plain file first\n");
  std::filesystem::remove(LogFilePath());
  ClearLog();
  ASSERT_TRUE(host::PlantSymbolicLink(path, elsewhere.string()));
  LogMessage(3, "one\n");
  LogMessage(5, "two\n");
  EXPECT_EQ(LogLines(), (std::vector<std::string>{Inform("one\n"), told, Error("two\n")}));
  EXPECT_TRUE(ReadFile(elsewhere) == kept) << "the link's target changed";
  EXPECT_TRUE(std::filesystem::is_symlink(LogFilePath()));

  // A hard link is a change: told once more.
  std::filesystem::remove(LogFilePath());
  ASSERT_TRUE(host::PlantHardLink(path, elsewhere.string()));
  ClearLog();
  LogMessage(3, "three\n");
  LogMessage(3, "four\n");
  EXPECT_EQ(LogLines(),
            (std::vector<std::string>{Inform("three\n"), toldHardLink, Inform("four\n")}));
  EXPECT_TRUE(ReadFile(elsewhere) == kept) << "the link's target changed";

  // A plain file again is written; a link planted after it is told again.
  std::filesystem::remove(LogFilePath());
  LogMessage(3, "plain\n");
  EXPECT_NE(LogFileText().find("plain\n"), std::string::npos);
  std::filesystem::remove(LogFilePath());
  const std::filesystem::path missing = TempFolder() / "not-there.txt";
  ASSERT_TRUE(host::PlantSymbolicLink(path, missing.string()));
  ClearLog();
  LogMessage(3, "five\n");
  EXPECT_EQ(LogLines(), (std::vector<std::string>{Inform("five\n"), told}));
  EXPECT_FALSE(std::filesystem::exists(missing)) << "the link's target was created";

  // A file that cannot be looked at on its handle is left alone too.
  std::filesystem::remove(LogFilePath());
  std::ofstream(LogFilePath(), std::ios::binary) << kept;
  ClearLog();
  host::FailFileCall(2);  // the open, then GetFileInformationByHandle
  LogMessage(3, "six\n");
  EXPECT_EQ(LogLines(),
            (std::vector<std::string>{
                Inform("six\n"), Warning("LogToFile(): " + shownPath +
                                         " cannot be checked, not written; the log goes to the "
                                         "debugger output only\n")}));
  EXPECT_TRUE(LogFileText() == kept) << "a file that was not checked changed";
  EXPECT_EQ(host::OpenFileHandles(), 0);
}

// A user can make the log file in the temp folder before the monitor does, and would then read
// what the monitor logs and could hold the file. A file that belongs neither to the account the
// monitor runs as nor to the Administrators is left alone, told once per change.
TEST_F(LogTest, LogFileThatAUserMadeFirstIsLeftAlone) {
  const std::string theirs = "a user's own file\n";
  std::ofstream(LogFilePath(), std::ios::binary) << theirs;
  ASSERT_TRUE(host::SetFileOwner(LogFilePath().string(), host::kOtherUser));
  const std::string told =
      Warning("LogToFile(): " + TempFolder().string() +
              "/\\VelmoraLMDrv.dbg belongs to another user, not written; the log goes to the "
              "debugger output only\n");
  LogMessage(3, "one\n");
  LogMessage(5, "two\n");
  EXPECT_EQ(LogLines(), (std::vector<std::string>{Inform("one\n"), told, Error("two\n")}));
  EXPECT_EQ(LogFileText(), theirs);

  // Under the spooler the monitor is SYSTEM: its own files, and the Administrators', are written;
  // the user's is still not, and its refusal, after a plain file, is told again.
  host::SetProcessUser("S-1-5-18");
  ASSERT_TRUE(host::SetFileOwner(LogFilePath().string(), "S-1-5-32-544"));
  ClearLog();
  LogMessage(3, "administrators\n");
  ASSERT_TRUE(host::SetFileOwner(LogFilePath().string(), "S-1-5-18"));
  LogMessage(3, "system\n");
  ASSERT_TRUE(host::SetFileOwner(LogFilePath().string(), host::kDefaultProcessUser));
  LogMessage(3, "three\n");
  EXPECT_EQ(LogLines(), (std::vector<std::string>{Inform("administrators\n"), Inform("system\n"),
                                                  Inform("three\n"), told}));
  const std::string text = LogFileText();
  EXPECT_EQ(text.substr(0, theirs.size()), theirs);
  EXPECT_NE(text.find(Inform("administrators\n")), std::string::npos);
  EXPECT_NE(text.find(Inform("system\n")), std::string::npos);
  EXPECT_EQ(text.find("three"), std::string::npos);

  // Gone: the file the monitor makes is its own.
  std::filesystem::remove(LogFilePath());
  LogMessage(3, "four\n");
  EXPECT_EQ(LogFileText().substr(20), Inform("four\n"));
  EXPECT_EQ(host::OpenFileHandles(), 0);
  EXPECT_EQ(host::OpenTokens(), 0);
}

TEST_F(LogTest, LogFileGoesToGetTempPath2WsFolderWhereKernelOffersIt) {
  const std::filesystem::path systemTemp = TempFolder() / "system";
  std::filesystem::create_directories(systemTemp);
  host::SetTempPath2Folder(systemTemp.string());
  LogMessage(3, "newer windows\n");
  const std::filesystem::path logFile = systemTemp / "VelmoraLMDrv.dbg";
  EXPECT_EQ(ReadFile(logFile).substr(20), Inform("newer windows\n"));
  EXPECT_FALSE(std::filesystem::exists(LogFilePath()));

  // The wide path is checked as the narrow one.
  std::filesystem::remove(logFile);
  const std::filesystem::path elsewhere = TempFolder() / "elsewhere.txt";
  std::ofstream(elsewhere, std::ios::binary) << "kept";
  ASSERT_TRUE(host::PlantHardLink(logFile.string(), elsewhere.string()));
  ClearLog();
  LogMessage(3, "linked\n");
  EXPECT_EQ(LogLines(), (std::vector<std::string>{
                            Inform("linked\n"),
                            Warning("LogToFile(): " + systemTemp.string() +
                                    "/\\VelmoraLMDrv.dbg has more than one link, not written; "
                                    "the log goes to the debugger output only\n")}));
  EXPECT_EQ(ReadFile(elsewhere), "kept");

  // A wide folder too long for the line in the ANSI code page (80 euro signs, 240 bytes): the
  // warning names the file alone.
  std::string euros;
  for (int i = 0; i < 80; ++i) euros += "\xE2\x82\xAC";
  const std::filesystem::path longTemp = systemTemp / euros;
  std::filesystem::create_directories(longTemp);
  host::SetTempPath2Folder(longTemp.string());
  ASSERT_TRUE(
      host::PlantSymbolicLink((longTemp / "VelmoraLMDrv.dbg").string(), elsewhere.string()));
  ClearLog();
  LogMessage(3, "far\n");
  EXPECT_EQ(LogLines(), (std::vector<std::string>{
                            Inform("far\n"),
                            Warning("LogToFile(): VelmoraLMDrv.dbg is a link, not written; the log "
                                    "goes to the debugger output only\n")}));
  EXPECT_EQ(ReadFile(elsewhere), "kept");
}

}  // namespace
}  // namespace langmon_test
