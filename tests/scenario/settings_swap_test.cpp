// A user who owns folders below the application-data folder tries to swap the printer's settings
// file for another file at the worst moment: while the pre-job check waits on the low-ink
// question, between its first reads and its last writes. Whatever is swapped, the other file is
// left as it was; the counters land in the printer's own file, or the monitor says it could not
// use it.
#include <functional>

#include "tests/support/scenario_test.h"

namespace langmon_test {
namespace {

const std::string kOtherFile = "[settings]\r\nPrintCounter=100\r\nSecret=1\r\n";

class SettingsSwapTest : public ScenarioTest {
 protected:
  void SetUp() override {
    ScenarioTest::SetUp();
    sim::Status status;
    status.yellowSpits = 100 * kMillion;
    status.magentaSpits = 470 * kMillion;  // low: the question is asked
    status.cyanSpits = 200 * kMillion;
    Report(status);
    std::filesystem::create_directories(ElsewhereFolder());
    WriteText(OtherIni(), kOtherFile);
  }

  std::filesystem::path Elsewhere() const { return AppDataFolder().parent_path() / "elsewhere"; }
  std::filesystem::path ElsewhereFolder() const { return Elsewhere() / "Drivers" / "Label A"; }
  std::filesystem::path OtherIni() const { return ElsewhereFolder() / "Label A.ini"; }

  static std::u16string W(const std::filesystem::path& path) { return path.u16string(); }

  // Runs a job; `swap` runs while the low-ink question is open, which is then answered No.
  void PrintSwappingAtTheQuestion(std::function<void()> swap) {
    host::SetAnswerer([swap = std::move(swap)](const host::MessageBoxRecord& box) {
      if (box.textId == kIdsInkLow) {
        swap();
      }
      return IDNO;
    });
    EXPECT_FALSE(Print(1).writeFailed);
    EXPECT_EQ(Boxes(), std::vector<unsigned>{kIdsInkLow});
  }

  // The other file is as the user left it.
  void ExpectOtherFileUntouched() const { EXPECT_EQ(ReadFile(OtherIni()), kOtherFile); }
};

TEST_F(SettingsSwapTest, PrintersFolderCannotBeSwappedForAJunction) {
  WriteText(PrinterIni(), "[settings]\r\nPrintCounter=5\r\n");
  DWORD moveError = 0;
  DWORD removeError = 0;
  PrintSwappingAtTheQuestion([&] {
    const std::u16string folder = W(SettingsFolder());
    if (!MoveFileW(folder.c_str(), (folder + u".old").c_str())) {
      moveError = GetLastError();
    }
    if (!RemoveDirectoryW(folder.c_str())) {
      removeError = GetLastError();
    }
    host::PlantJunction(SettingsFolder().string(), ElsewhereFolder().string());
  });
  EXPECT_EQ(moveError, static_cast<DWORD>(ERROR_SHARING_VIOLATION));
  EXPECT_EQ(removeError, static_cast<DWORD>(ERROR_SHARING_VIOLATION));
  ExpectOtherFileUntouched();
  EXPECT_EQ(PrinterSetting(u"PrintCounter"), 6);
  EXPECT_EQ(PrinterSetting(u"WarnLevelColor"), 2);
  EXPECT_EQ(PrinterSetting(u"MagentaSpits"), 470 * static_cast<int>(kMillion));
}

// Nothing lies below a folder that is missing when the check begins: a junction made there
// during the question leads the monitor nowhere.
TEST_F(SettingsSwapTest, VendorFolderMissingAtTheCheckIsNotFollowedWhenMadeAJunction) {
  std::filesystem::remove_all(AppDataFolder() / "VMT");
  bool planted = false;
  PrintSwappingAtTheQuestion([&] {
    planted = host::PlantJunction((AppDataFolder() / "VMT").string(), Elsewhere().string());
  });
  ASSERT_TRUE(planted);
  ExpectOtherFileUntouched();
  EXPECT_TRUE(Logged(Error("Set CyanSpits FAILED\n")));
}

TEST_F(SettingsSwapTest, SettingsFileCannotBeSwappedForAHardLink) {
  WriteText(PrinterIni(), "[settings]\r\nPrintCounter=5\r\n");
  const std::filesystem::path planted = SettingsFolder() / "planted.ini";
  DWORD deleteError = 0;
  DWORD replaceError = 0;
  PrintSwappingAtTheQuestion([&] {
    if (!DeleteFileW(W(PrinterIni()).c_str())) {
      deleteError = GetLastError();
    }
    // A second name of the other file, moved over the settings file.
    ASSERT_TRUE(host::PlantHardLink(planted.string(), OtherIni().string()));
    if (!MoveFileExW(W(planted).c_str(), W(PrinterIni()).c_str(), MOVEFILE_REPLACE_EXISTING)) {
      replaceError = GetLastError();
    }
    host::PlantHardLink(PrinterIni().string(), OtherIni().string());
  });
  EXPECT_EQ(deleteError, static_cast<DWORD>(ERROR_SHARING_VIOLATION));
  EXPECT_EQ(replaceError, static_cast<DWORD>(ERROR_ACCESS_DENIED));  // a name in use
  ExpectOtherFileUntouched();
  EXPECT_EQ(PrinterSetting(u"PrintCounter"), 6);

  // Once the check has let go, the name can be replaced as any other: the next job's check
  // finds the hard link and leaves both files alone.
  ASSERT_TRUE(MoveFileExW(W(planted).c_str(), W(PrinterIni()).c_str(), MOVEFILE_REPLACE_EXISTING));
  ClearBoxes();
  host::SetAnswerer(nullptr);
  Print(1, 600, 2);
  ExpectOtherFileUntouched();
  EXPECT_TRUE(Logged(Error("OemPtrGetDriverAppDataPath(): " + AppDataFolder().string() +
                           "\\VMT\\Drivers\\Label A\\Label A.ini has more than one link, "
                           "not used\n")));
  EXPECT_EQ(host::OpenFileHandles(), 0);
}

}  // namespace
}  // namespace langmon_test
