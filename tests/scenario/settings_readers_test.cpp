// Another process holds the settings open at the worst moment: a reader sharing only reading
// holds the printer's file across the low-ink question, one sharing nothing holds the model file
// and then VMT itself, and a user made the log file first. Every job prints, no job goes
// uncounted, quiet mode and the prompt time-out stay as set, and what could not be written
// reaches the file at its next use.
#include "tests/support/scenario_test.h"

namespace langmon_test {
namespace {

class SettingsReaderTest : public ScenarioTest {
 protected:
  static HANDLE HoldOpen(const std::filesystem::path& path, DWORD access, DWORD share) {
    const std::u16string name = path.u16string();
    return CreateFileW(name.c_str(), access, share, nullptr, OPEN_EXISTING,
                       FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  }

  void ReportMagenta(DWORD dwSpits) {
    sim::Status status;
    status.magentaSpits = dwSpits;
    Report(status);
  }

  std::string Ini() const {
    return AppDataFolder().string() + "\\VMT\\Drivers\\Label A\\Label A.ini";
  }
  std::string KeptLine(const std::string& key) const {
    return Error("WriteHeldSetting(): " + key + " of " + Ini() +
                 " not written (0x20), kept for the next use\n");
  }
};

// The reader comes before the first job and goes after the second: every write of both is
// refused. The question is asked once, the second job reads the kept warn level and the kept
// count, and the third writes them all.
TEST_F(SettingsReaderTest, AReaderSharingOnlyReadingAcrossTheLowInkQuestionLosesNoCount) {
  const std::string original = "[settings]\r\nPrintCounter=5\r\n";
  WriteText(PrinterIni(), original);
  ReportMagenta(470 * kMillion);  // 9 % of the colour limit left: warned once
  host::SetAnswerer([](const host::MessageBoxRecord&) { return IDNO; });
  const HANDLE reader = HoldOpen(PrinterIni(), GENERIC_READ, FILE_SHARE_READ);
  ASSERT_NE(reader, INVALID_HANDLE_VALUE);

  const DWORD start = GetTickCount();
  EXPECT_FALSE(Print(1, 600, 1).writeFailed);
  EXPECT_EQ(Boxes(), std::vector<unsigned>{kIdsInkLow});
  EXPECT_EQ(ReadFile(PrinterIni()), original);
  for (const char* key :
       {"CyanSpits", "MagentaSpits", "YellowSpits", "WarnLevelColor", "PrintCounter"}) {
    EXPECT_EQ(Count(KeptLine(key)), 1) << key;
  }
  // One wait of about a second for the whole check, not one per write.
  EXPECT_LT(GetTickCount() - start, 2000u);

  EXPECT_FALSE(Print(1, 600, 2).writeFailed);
  EXPECT_EQ(Boxes(), std::vector<unsigned>{kIdsInkLow}) << "the kept warn level was not read";
  EXPECT_TRUE(Logged(Inform("ReadHeldSetting(): PrintCounter of " + Ini() +
                            " is still to be written, 6 is used\n")));
  EXPECT_EQ(ReadFile(PrinterIni()), original);
  CloseHandle(reader);

  ClearLog();
  EXPECT_FALSE(Print(1, 600, 3).writeFailed);
  EXPECT_EQ(Boxes(), std::vector<unsigned>{kIdsInkLow});
  EXPECT_EQ(PrinterSetting(u"PrintCounter"), 8);
  EXPECT_EQ(PrinterSetting(u"WarnLevelColor"), 2);
  EXPECT_EQ(PrinterSetting(u"MagentaSpits"), 470 * static_cast<int>(kMillion));
  EXPECT_TRUE(Logged(Inform("WriteHeldSetting(): PrintCounter of " + Ini() +
                            " written, kept since 7 was refused\n")));
  EXPECT_EQ(host::OpenFileHandles(), 0);
}

// Quiet mode and the model's limit come from the model file, which a reader sharing nothing
// holds for the second job; for the third VMT itself is held, and nothing of the printer's can
// be opened. The warn levels show which limit each job judged by: 400 million, not the 515 of a
// file never read. Not a box is shown.
TEST_F(SettingsReaderTest, AReaderSharingNothingOnTheModelFileAndThenOnVmtChangesNothing) {
  WriteText(ModelIni(), "[settings]\r\nSHOW_UI=0\r\nColorSpits=400\r\n");
  WriteText(PrinterIni(), "[settings]\r\nPrintCounter=5\r\n");
  ReportMagenta(370 * kMillion);  // 7 % of 400 million left: warn level 2
  EXPECT_FALSE(Print(1, 600, 1).writeFailed);
  EXPECT_EQ(PrinterSetting(u"WarnLevelColor"), 2);

  HANDLE holder = HoldOpen(ModelIni(), GENERIC_READ, 0);
  ASSERT_NE(holder, INVALID_HANDLE_VALUE);
  ReportMagenta(400 * kMillion);  // at the limit: warn level 3
  EXPECT_FALSE(Print(1, 600, 2).writeFailed);
  EXPECT_EQ(PrinterSetting(u"WarnLevelColor"), 3);
  EXPECT_EQ(PrinterSetting(u"PrintCounter"), 7);
  CloseHandle(holder);

  holder = HoldOpen(AppDataFolder() / "VMT", FILE_LIST_DIRECTORY, 0);
  ASSERT_NE(holder, INVALID_HANDLE_VALUE);
  ReportMagenta(450 * kMillion);  // 11 % over the limit: warn level 4
  EXPECT_FALSE(Print(1, 600, 3).writeFailed);
  EXPECT_EQ(PrinterSetting(u"WarnLevelColor"), 3);
  EXPECT_TRUE(Logged(Error("OemPtrGetDriverAppDataPath(): " + AppDataFolder().string() +
                           "\\VMT cannot be opened (0x20), not used now\n")));
  EXPECT_TRUE(Logged(KeptLine("PrintCounter")));
  CloseHandle(holder);

  EXPECT_FALSE(Print(1, 600, 4).writeFailed);
  EXPECT_EQ(PrinterSetting(u"WarnLevelColor"), 4);
  EXPECT_EQ(PrinterSetting(u"PrintCounter"), 9);
  EXPECT_EQ(PrinterSetting(u"MagentaSpits"), 450 * static_cast<int>(kMillion));
  EXPECT_TRUE(Boxes().empty());
  EXPECT_EQ(host::OpenFileHandles(), 0);
}

// A question shown in the job owner's session waits as long as the printer's PromptTimeout says,
// also while VMT is held and the file cannot be read.
TEST_F(SettingsReaderTest, ThePromptTimeOutHoldsWhileVmtIsHeld) {
  WriteText(ModelIni(), "[settings]\r\nColorSpits=400\r\n");
  WriteText(PrinterIni(), "[settings]\r\nPromptTimeout=30\r\nPrintCounter=5\r\n");
  host::SetProcessSession(0);
  host::OfferSessionPrompts(true);
  host::SetJobOwner({1000, 0});
  host::SetFixedAnswer(IDNO);
  ReportMagenta(370 * kMillion);
  EXPECT_FALSE(Print(1, 600, 1).writeFailed);

  const HANDLE holder = HoldOpen(AppDataFolder() / "VMT", FILE_LIST_DIRECTORY, 0);
  ASSERT_NE(holder, INVALID_HANDLE_VALUE);
  ReportMagenta(400 * kMillion);
  EXPECT_FALSE(Print(1, 600, 2).writeFailed);
  CloseHandle(holder);
  EXPECT_FALSE(Print(1, 600, 3).writeFailed);

  const std::vector<host::MessageBoxRecord> boxes = host::MessageBoxes();
  ASSERT_EQ(boxes.size(), 2u);
  for (const host::MessageBoxRecord& box : boxes) {
    EXPECT_TRUE(box.ownersSession);
    EXPECT_EQ(box.timeoutSeconds, 30u);
  }
  EXPECT_EQ(PrinterSetting(u"PrintCounter"), 8);
  EXPECT_EQ(PrinterSetting(u"WarnLevelColor"), 3);
}

// The log file that a user made first is not the monitor's: the jobs print and count as ever,
// and the file keeps only what its user wrote.
TEST_F(SettingsReaderTest, ALogFileOfAUsersMakingLeavesTheJobsAlone) {
  const std::string theirs = "the user's\n";
  WriteText(LogFilePath(), theirs);
  ASSERT_TRUE(host::SetFileOwner(LogFilePath().string(), host::kOtherUser));
  WriteText(PrinterIni(), "[settings]\r\nPrintCounter=5\r\n");
  EXPECT_FALSE(Print(1, 600, 1).writeFailed);
  EXPECT_FALSE(Print(1, 600, 2).writeFailed);
  EXPECT_EQ(PrinterSetting(u"PrintCounter"), 7);
  EXPECT_EQ(ReadFile(LogFilePath()), theirs);
  EXPECT_TRUE(Logged(Inform("PrepareForNextPrint( ) successful!\n")));
}

}  // namespace
}  // namespace langmon_test
