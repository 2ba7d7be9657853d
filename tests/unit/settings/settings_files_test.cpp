#include <sys/stat.h>

#include <climits>
#include <string>
#include <vector>

#include "printer/status.h"
#include "settings/held_settings.h"
#include "settings/print_data.h"
#include "settings/quiet_mode.h"
#include "settings/settings_keys.h"
#include "settings/settings_paths.h"
#include "settings/wide_number.h"
#include "tests/support/junction.h"
#include "tests/unit/settings/settings_fixture.h"

namespace langmon_test {
namespace {

using Entries = std::vector<std::pair<std::string, std::string>>;

// ---- Paths -------------------------------------------------------------------------------------

using SettingsPathTest = SettingsTest;

TEST_F(SettingsPathTest, PrinterSettingsFileIsNamedAfterTheJobsPrinter) {
  HANDLE printer = Open(u"Label A");
  LPWSTR path = GetPrinterSettingsPath(printer, WSTR("Label A"));
  ASSERT_NE(path, nullptr);
  EXPECT_EQ(std::u16string(path), WindowsSettingsFolder("Label A") + u"\\Label A.ini");
  GlobalFree(path);

  path = GetModelSettingsPath(printer);
  ASSERT_NE(path, nullptr);
  EXPECT_EQ(std::u16string(path), WindowsSettingsFolder("Label A") + u"\\VM_lp250.ini");
  GlobalFree(path);
  EXPECT_EQ(LeakedAllocations(), 0);
}

TEST_F(SettingsPathTest, DirectoryFollowsTheSpoolersNameFileTheJobsName) {
  AddPrinter(u"Label B", u"Label B on Desk");
  HANDLE printer = Open(u"Label B");
  LPWSTR path = GetPrinterSettingsPath(printer, WSTR("Label B"));
  ASSERT_NE(path, nullptr);
  EXPECT_EQ(std::u16string(path), WindowsSettingsFolder("Label B on Desk") + u"\\Label B.ini");
  GlobalFree(path);
}

TEST_F(SettingsPathTest, NoPathWithoutFolderPrinterOrMemory) {
  HANDLE printer = Open(u"Label A");
  const unsigned allocationsPerPath = [&] {
    const unsigned before = host::AllocationCount();
    GlobalFree(OemPtrGetDriverAppDataPath(printer, WSTR("x.ini")));
    return host::AllocationCount() - before;
  }();
  ASSERT_EQ(allocationsPerPath, 3u);  // the path, the printer information, the name

  for (unsigned nth = 1; nth <= allocationsPerPath; ++nth) {
    ClearLog();
    host::FailAllocation(nth);
    EXPECT_EQ(OemPtrGetDriverAppDataPath(printer, WSTR("x.ini")), nullptr) << "allocation " << nth;
    EXPECT_EQ(LeakedAllocations(), 0) << "allocation " << nth;
    EXPECT_EQ(Logged(Error("OemPtrGetDriverAppDataPath(): failed to allocate memory!\n")),
              nth == 1);
  }
  host::FailAllocation(0);
  ClearLog();

  EXPECT_EQ(OemPtrGetDriverAppDataPath(nullptr, WSTR("x.ini")), nullptr);
  host::SetCommonAppDataFolder("");
  EXPECT_EQ(OemPtrGetDriverAppDataPath(printer, WSTR("x.ini")), nullptr);
  EXPECT_EQ(LeakedAllocations(), 0);
  EXPECT_TRUE(LogLines().empty());
}

// Every path may use the whole 260-unit block; only the printer settings file keeps room for
// its ".ini". A model settings path of 256 to 259 units is a path like any other.
TEST_F(SettingsPathTest, KeepsRoomForTheExtensionOnlyWhereItIsAppended) {
  HANDLE printer = Open(u"Label A");
  const size_t folderLength = (WindowsSettingsFolder("Label A") + u"\\").size();
  const size_t fits = 259 - folderLength;

  for (size_t length : {fits - 3, fits}) {
    const std::u16string name(length, u'f');
    LPWSTR path = OemPtrGetDriverAppDataPath(printer, name.c_str());
    ASSERT_NE(path, nullptr) << length;
    EXPECT_EQ(static_cast<size_t>(lstrlenW(path)), folderLength + length);
    GlobalFree(path);
  }
  ClearLog();
  const std::u16string tooLong(fits + 1, u'f');
  EXPECT_EQ(OemPtrGetDriverAppDataPath(printer, tooLong.c_str()), nullptr);
  EXPECT_EQ(LogLines(),
            (std::vector<std::string>{Error("OemPtrGetDriverAppDataPath(): path too long!\n")}));

  const std::u16string longestJobName(fits - 4, u'j');
  LPWSTR ini = GetPrinterSettingsPath(printer, longestJobName.c_str());
  ASSERT_NE(ini, nullptr);
  EXPECT_EQ(static_cast<size_t>(lstrlenW(ini)), 259u);
  EXPECT_EQ(std::u16string(ini).substr(255), u".ini");
  GlobalFree(ini);
  const std::u16string jobNameTooLong(fits - 3, u'j');
  EXPECT_EQ(GetPrinterSettingsPath(printer, jobNameTooLong.c_str()), nullptr);
  EXPECT_EQ(LeakedAllocations(), 0);
}

// ---- Spit counters -----------------------------------------------------------------------------

class PrintDataTest : public SettingsTest {
 protected:
  void SetUp() override {
    SettingsTest::SetUp();
    job_.pszPrinterName = const_cast<LPWSTR>(WSTR("Label A"));
    job_.hPrinter = Open(u"Label A");
    status_ = {};
    WriteLittleEndian32(status_.dwYellowSpitsLE, 16);
    WriteLittleEndian32(status_.dwMagentaSpitsLE, 512);
    WriteLittleEndian32(status_.dwCyanSpitsLE, 4294967295u);
  }

  IniJob job_ = {};
  StatusRecord status_ = {};
};

TEST_F(PrintDataTest, WritesTheThreeCountersCyanFirst) {
  WriteSettingsFile("Label A", "Label A.ini", "PrintCounter=7\r\n");
  EXPECT_TRUE(SaveOffPrintData(&job_, &status_));
  EXPECT_EQ(ReadSettingsFile("Label A", "Label A.ini"), (Entries{{"PrintCounter", "7"},
                                                                 {"CyanSpits", "4294967295"},
                                                                 {"MagentaSpits", "512"},
                                                                 {"YellowSpits", "16"}}));
  EXPECT_TRUE(LogLines().empty());
  EXPECT_EQ(LeakedAllocations(), 0);
}

// No folder, or a file where the printer's folder should be: nothing lies below it.
TEST_F(PrintDataTest, MissingDirectoryFailsEveryWriteButStillSucceeds) {
  for (const bool fileInItsPlace : {false, true}) {
    SCOPED_TRACE(fileInItsPlace ? "a file in its place" : "no folder");
    if (fileInItsPlace) {
      std::filesystem::create_directories(AppDataFolder() / "VMT" / "Drivers");
      std::ofstream(SettingsFolder("Label A"), std::ios::binary) << "not a folder";
    }
    ClearLog();
    EXPECT_TRUE(SaveOffPrintData(&job_, &status_));
    EXPECT_EQ(LogLines(), (std::vector<std::string>{Error("Set CyanSpits FAILED\n"),
                                                    Error("Set MagentaSpits FAILED\n"),
                                                    Error("Set YellowSpits FAILED\n")}));
    EXPECT_FALSE(std::filesystem::is_directory(SettingsFolder("Label A")));
  }
  EXPECT_EQ(ReadFile(SettingsFolder("Label A")), "not a folder");
  EXPECT_EQ(host::OpenFileHandles(), 0);
  EXPECT_EQ(LeakedAllocations(), 0);
}

TEST_F(PrintDataTest, NoPathNoWrite) {
  const std::vector<std::string> failed = {Inform("Failed to save off printer data\n")};

  host::SetCommonAppDataFolder("");
  EXPECT_FALSE(SaveOffPrintData(&job_, &status_));
  EXPECT_EQ(LogLines(), failed);

  // A job opened under a name too long for the settings path.
  host::SetCommonAppDataFolder(AppDataFolder().string());
  ClearLog();
  const std::u16string longName(200, u'L');
  AddPrinter(longName);
  IniJob longJob = {};
  longJob.pszPrinterName = const_cast<LPWSTR>(longName.c_str());
  longJob.hPrinter = Open(longName);
  EXPECT_FALSE(SaveOffPrintData(&longJob, &status_));
  EXPECT_EQ(LogLines(),
            (std::vector<std::string>{Error("OemPtrGetDriverAppDataPath(): path too long!\n"),
                                      Inform("Failed to save off printer data\n")}));
  EXPECT_EQ(LeakedAllocations(), 0);
}

// ---- Quiet mode --------------------------------------------------------------------------------

using QuietModeTest = SettingsTest;

TEST_F(QuietModeTest, ShowUiDecidesWhetherPromptsShow) {
  struct Case {
    const char* modelFile;  // nullptr: no file at all
    BOOL showUi;
  };
  // Values read as Windows reads them: leading digits, text without any as 0.
  // clang-format off
  const Case cases[] = {
      {nullptr, TRUE},
      {"ColorSpits=515\r\n", TRUE},
      {"SHOW_UI=1\r\n", TRUE},
      {"SHOW_UI=0\r\n", FALSE},
      {"SHOW_UI=2\r\n", TRUE},
      {"SHOW_UI=-1\r\n", TRUE},
      {"SHOW_UI=3 boxes\r\n", TRUE},
      {"SHOW_UI=off\r\n", FALSE},
      {"SHOW_UI=00\r\n", FALSE},
  };
  // clang-format on
  HANDLE printer = Open(u"Label A");
  for (const Case& c : cases) {
    std::filesystem::remove_all(SettingsFolder("Label A"));
    if (c.modelFile != nullptr) {
      WriteSettingsFile("Label A", "VM_lp250.ini", c.modelFile);
    }
    fShowUI = !c.showUi;
    LoadQuietModeSetting(printer);
    EXPECT_EQ(fShowUI.load(), c.showUi) << (c.modelFile ? c.modelFile : "no file");
  }
  EXPECT_EQ(LeakedAllocations(), 0);
}

TEST_F(QuietModeTest, PromptsStayOnWhenThePathCannotBeBuilt) {
  HANDLE printer = Open(u"Label A");
  WriteSettingsFile("Label A", "VM_lp250.ini", "SHOW_UI=0\r\n");
  host::SetCommonAppDataFolder("");
  fShowUI = FALSE;
  LoadQuietModeSetting(printer);
  EXPECT_TRUE(fShowUI.load());
}

// A model settings path that uses the block to its last unit still carries the setting.
TEST_F(QuietModeTest, ReadFromAModelSettingsPathOfFullLength) {
  const size_t baseLength = WindowsSettingsFolder("").size();
  const std::string name(259 - baseLength - std::string("\\VM_lp250.ini").size(), 'Q');
  AddPrinter(Wide(name));
  WriteSettingsFile(name, "VM_lp250.ini", "SHOW_UI=0\r\n");
  fShowUI = TRUE;
  LoadQuietModeSetting(Open(Wide(name)));
  EXPECT_FALSE(fShowUI.load());
}

// ---- Links in the path -----------------------------------------------------------------------

// What a user could plant under the application-data folder to lead the monitor, running as
// SYSTEM, to settings files of the user's choosing. Such a path is used for nothing: no write
// reaches the files behind the link, no setting is read from them, and the reason is logged.
TEST_F(PrintDataTest, ALinkAnywhereInThePathMakesItUnusable) {
  const std::filesystem::path elsewhere = AppDataFolder().parent_path() / "elsewhere";
  const std::filesystem::path elsewhereFolder = elsewhere / "Drivers" / "Label A";
  const std::string printerFile = "[settings]\r\nPrintCounter=5\r\n";
  const std::string appData = AppDataFolder().string();
  const std::string folder = appData + "\\VMT\\Drivers\\Label A";
  struct Case {
    const char* planted;
    std::string refused;  // the part of the path the monitor names
    const char* why;
  };
  const Case cases[] = {
      {"VMT", appData + "\\VMT", "is a link"},
      {"Drivers", appData + "\\VMT\\Drivers", "is a link"},
      {"Label A", folder, "is a link"},
      {"symbolic links", folder + "\\Label A.ini", "is a link"},
      {"hard links", folder + "\\Label A.ini", "has more than one link"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.planted);
    std::filesystem::remove_all(AppDataFolder() / "VMT");
    std::filesystem::remove_all(elsewhere);
    std::filesystem::create_directories(elsewhereFolder);
    std::ofstream(elsewhereFolder / "Label A.ini", std::ios::binary) << printerFile;
    std::ofstream(elsewhereFolder / "VM_lp250.ini", std::ios::binary)
        << "[settings]\r\nSHOW_UI=0\r\n";
    const std::string planted = c.planted;
    if (planted == "VMT") {
      ASSERT_TRUE(host::PlantJunction(appData + "\\VMT", elsewhere.string()));
    } else if (planted == "Drivers") {
      std::filesystem::create_directories(AppDataFolder() / "VMT");
      ASSERT_TRUE(
          host::PlantJunction(appData + "\\VMT\\Drivers", (elsewhere / "Drivers").string()));
    } else if (planted == "Label A") {
      std::filesystem::create_directories(AppDataFolder() / "VMT" / "Drivers");
      ASSERT_TRUE(host::PlantJunction(folder, elsewhereFolder.string()));
    } else {
      std::filesystem::create_directories(SettingsFolder("Label A"));
      for (const char* file : {"Label A.ini", "VM_lp250.ini"}) {
        const std::string link = folder + "\\" + file;
        const std::string target = (elsewhereFolder / file).string();
        ASSERT_TRUE(planted == "hard links" ? host::PlantHardLink(link, target)
                                            : host::PlantSymbolicLink(link, target));
      }
    }

    ClearLog();
    EXPECT_FALSE(SaveOffPrintData(&job_, &status_));
    EXPECT_EQ(LogLines(), (std::vector<std::string>{Error("OemPtrGetDriverAppDataPath(): " +
                                                          c.refused + " " + c.why + ", not used\n"),
                                                    Inform("Failed to save off printer data\n")}));
    // Nor do the pre-job check's own read and write, of a file it could not hold.
    HeldSettings held;
    EXPECT_FALSE(HoldPrinterSettings(job_.hPrinter, WSTR("Label A"), &held));
    EXPECT_EQ(ReadHeldSetting(&held, WSTR("PrintCounter"), 0), 0u);
    EXPECT_FALSE(WriteHeldSetting(&held, WSTR("PrintCounter"), WSTR("6")));
    EXPECT_EQ(GetLastError(), 6u);  // ERROR_INVALID_HANDLE
    EXPECT_EQ(ReadFile(elsewhereFolder / "Label A.ini"), printerFile);

    fShowUI = FALSE;
    LoadQuietModeSetting(job_.hPrinter);
    EXPECT_TRUE(fShowUI.load()) << "quiet mode read through the link";
  }

  // A part that cannot be looked at is not used either.
  std::filesystem::remove_all(AppDataFolder() / "VMT");
  std::filesystem::create_directories(SettingsFolder("Label A"));
  ClearLog();
  host::FailFileCall(2);  // VMT opens, but tells nothing of itself
  EXPECT_EQ(GetModelSettingsPath(job_.hPrinter), nullptr);
  EXPECT_EQ(LogLines(),
            (std::vector<std::string>{Error("OemPtrGetDriverAppDataPath(): " + appData +
                                            "\\VMT cannot be checked (0x5), not used\n")}));
  EXPECT_EQ(LeakedAllocations(), 0);
  EXPECT_EQ(host::OpenFileHandles(), 0);
}

// ---- Names Windows reads otherwise
// ---------------------------------------------------------------

// A printer name that Windows would take for a device, for the folder above, or for a name
// without its last dot or blank leads nowhere: refused like a path too long. Names merely like
// them are plain names.
TEST_F(SettingsPathTest, NamesWindowsReadsAsSomethingElseAreRefused) {
  const std::string base = AppDataFolder().string() + "\\VMT\\Drivers\\";
  for (const char* name : {".", "..", "Label A.", "Label A ", "CON", "con", "Prn.txt", "AUX .ini",
                           "NUL", "COM1", "com9.x", "LPT1", "lpt9"}) {
    SCOPED_TRACE(name);
    AddPrinter(Wide(name));
    ClearLog();
    EXPECT_EQ(GetModelSettingsPath(Open(Wide(name))), nullptr);
    EXPECT_EQ(LogLines(),
              (std::vector<std::string>{Error("OemPtrGetDriverAppDataPath(): " + base + name +
                                              " is not a folder name, not used\n")}));
  }
  // The console's own devices, and COM and LPT with a superscript digit (the log's text is UTF-8).
  const std::pair<std::u16string, std::string> devices[] = {{u"CONIN$", "CONIN$"},
                                                            {u"conout$.log", "conout$.log"},
                                                            {u"COM\u00B9", "COM\u00B9"},
                                                            {u"com\u00B2.txt", "com\u00B2.txt"},
                                                            {u"LPT\u00B3 .x", "LPT\u00B3 .x"},
                                                            {u"lpt\u00B9", "lpt\u00B9"}};
  for (const auto& [name, logged] : devices) {
    SCOPED_TRACE(logged);
    AddPrinter(name);
    ClearLog();
    EXPECT_EQ(GetModelSettingsPath(Open(name)), nullptr);
    EXPECT_EQ(LogLines(),
              (std::vector<std::string>{Error("OemPtrGetDriverAppDataPath(): " + base + logged +
                                              " is not a folder name, not used\n")}));
  }
  for (const std::u16string name :
       {u"CONSOLE", u"COM10", u"LPT0", u"COM", u"Label.A", u".Label", u"NUL1.ini", u"CONIN",
        u"CONOUT$1", u"COM\u2074", u"LPT\u00B3\u00B9"}) {
    AddPrinter(name);
    LPWSTR path = GetModelSettingsPath(Open(name));
    EXPECT_NE(path, nullptr) << std::string(name.begin(), name.end());
    GlobalFree(path);
  }
  // The job's name makes the file's: a device with the extension is still the device.
  ClearLog();
  EXPECT_EQ(GetPrinterSettingsPath(Open(u"Label A"), WSTR("PRN")), nullptr);
  EXPECT_EQ(LogLines(),
            (std::vector<std::string>{Error("OemPtrGetDriverAppDataPath(): " + base +
                                            "Label A\\PRN.ini is a device name, not used\n")}));
  EXPECT_EQ(LeakedAllocations(), 0);
}

// ---- Held for a use
// -------------------------------------------------------------------------------

using HeldSettingsTest = PrintDataTest;

// Each part is opened and looked at on its handle; a part that cannot be looked at is not used,
// with the reason, and a file that cannot be opened is not read; nothing stays open. Quiet mode,
// never read before, stays off.
TEST_F(HeldSettingsTest, APartThatCannotBeCheckedLeavesTheFileUnused) {
  WriteSettingsFile("Label A", "VM_lp250.ini", "SHOW_UI=0\r\n");
  const std::string file = WindowsPath("VM_lp250.ini");
  const auto notUsed = [](const std::string& why) {
    return std::vector<std::string>{Error("OemPtrGetDriverAppDataPath(): " + why + ", not used\n")};
  };
  // Three folders of two calls each; then the file's open, its information and its type.
  const std::pair<unsigned, std::vector<std::string>> cases[] = {
      {7,
       {Error("OemPtrGetDriverAppDataPath(): " + file + " cannot be opened (0x5), not used now\n"),
        Inform("ReadHeldSetting(): SHOW_UI of " + file +
               " cannot be read and was never read, 1 "
               "is used\n")}},
      {8, notUsed(file + " cannot be checked (0x5)")},
      {9, notUsed(file + " cannot be checked (0x6)")},
      {6, notUsed(AppDataFolder().string() + "\\VMT\\Drivers\\Label A cannot be checked (0x5)")},
  };
  for (const auto& [nth, lines] : cases) {
    ClearLog();
    host::FailFileCall(nth);
    fShowUI = FALSE;
    LoadQuietModeSetting(job_.hPrinter);
    EXPECT_TRUE(fShowUI.load()) << nth;
    EXPECT_EQ(LogLines(), lines);
    EXPECT_EQ(host::OpenFileHandles(), 0);
  }
  host::FailFileCall(0);

  // A pipe or a folder by the file's name is no settings file.
  std::filesystem::remove(SettingsFolder("Label A") / "Label A.ini");
  for (bool pipe : {true, false}) {
    const std::filesystem::path ini = SettingsFolder("Label A") / "Label A.ini";
    std::filesystem::remove_all(ini);
    if (pipe) {
      ASSERT_EQ(mkfifo(ini.c_str(), 0600), 0);
    } else {
      std::filesystem::create_directory(ini);
    }
    ClearLog();
    EXPECT_FALSE(SaveOffPrintData(&job_, &status_));
    EXPECT_EQ(LogLines(), (std::vector<std::string>{
                              Error("OemPtrGetDriverAppDataPath(): " + WindowsPath("Label A.ini") +
                                    " is not a disk file, not used\n"),
                              Inform("Failed to save off printer data\n")}));
  }
  EXPECT_EQ(host::OpenFileHandles(), 0);
  EXPECT_EQ(LeakedAllocations(), 0);
}

// A settings path holds at most eight folders below the application-data folder (VMT, Drivers
// and six of the printer's name); a deeper one is refused before a ninth handle is opened, and
// what was held is let go. A doubled separator names the folder before it again: no folder more.
TEST_F(HeldSettingsTest, APrinterNameOfTooManyFoldersIsRefusedAndLeavesNothingOpen) {
  for (const int depth : {6, 7, 9}) {
    SCOPED_TRACE(depth);
    std::string name = "f1";
    for (int i = 2; i <= depth; ++i) {
      name += (depth == 6 && i == 2 ? "\\\\f" : "\\f") + std::to_string(i);
    }
    AddPrinter(Wide(name));
    WriteSettingsFile(host::NativePath(name), "VM_lp250.ini", "SHOW_UI=0\r\n");
    ClearLog();
    fShowUI = TRUE;
    LoadQuietModeSetting(Open(Wide(name)));
    if (depth == 6) {
      EXPECT_FALSE(fShowUI.load());
      EXPECT_TRUE(LogLines().empty());
    } else {
      EXPECT_TRUE(fShowUI.load());
      EXPECT_EQ(LogLines(), (std::vector<std::string>{Error(
                                "OemPtrGetDriverAppDataPath(): " + AppDataFolder().string() +
                                "\\VMT\\Drivers\\f1\\f2\\f3\\f4\\f5\\f6\\f7 cannot be checked "
                                "(0x4), not used\n")}));
    }
    EXPECT_EQ(host::OpenFileHandles(), 0);
  }
  EXPECT_EQ(LeakedAllocations(), 0);
}

// A file missing when the use began is made by the monitor inside the held folder's handle. A
// name that someone planted since, or the folder made a junction in place between the hold and
// the create, leaves the file unused for the rest of the use: nothing reaches the other file,
// the values are kept, and the next use of a plain folder writes them.
TEST_F(HeldSettingsTest, AMissingFileIsMadeOnlyWhereNothingWasPlanted) {
  const std::filesystem::path folder = SettingsFolder("Label A");
  const std::filesystem::path elsewhere = AppDataFolder().parent_path() / "elsewhere";
  const std::filesystem::path other = elsewhere / "Label A.ini";  // where a junction would lead
  const std::string otherText = "[settings]\r\nPrintCounter=9\r\n";
  const std::string ini = WindowsPath("Label A.ini");
  struct Case {
    const char* planted;
    std::string refused;
  };
  const Case cases[] = {
      {nullptr, ""},
      {"hard link", ini + " has more than one link"},
      {"symbolic link", ini + " is a link"},
      {"junction in place", AppDataFolder().string() + "\\VMT\\Drivers\\Label A is a link"}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.planted ? c.planted : "nothing");
    std::filesystem::remove_all(folder);
    std::filesystem::create_directories(folder);
    std::filesystem::remove_all(elsewhere);
    std::filesystem::create_directories(elsewhere);
    std::ofstream(other, std::ios::binary) << otherText;
    HeldSettings held;
    ASSERT_TRUE(HoldPrinterSettings(job_.hPrinter, WSTR("Label A"), &held));
    EXPECT_EQ(ReadHeldSetting(&held, WSTR("PrintCounter"), 4), 4u);
    const std::string planted = c.planted ? c.planted : "";
    if (planted == "hard link") {
      ASSERT_TRUE(host::PlantHardLink(ini, other.string()));
    } else if (planted == "symbolic link") {
      ASSERT_TRUE(host::PlantSymbolicLink(ini, other.string()));
    } else if (planted == "junction in place") {
      const HANDLE hFolder =
          CreateFileW(WindowsSettingsFolder("Label A").c_str(), FILE_WRITE_DATA,
                      FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                      OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
      ASSERT_NE(hFolder, INVALID_HANDLE_VALUE);
      ASSERT_TRUE(MakeJunctionInPlace(hFolder, Wide(elsewhere.string())));
      CloseHandle(hFolder);
    }
    ClearLog();
    EXPECT_EQ(WriteHeldSetting(&held, WSTR("PrintCounter"), WSTR("1")), planted.empty());
    EXPECT_EQ(WriteHeldSetting(&held, WSTR("WarnLevelColor"), WSTR("2")), planted.empty());
    if (planted.empty()) {
      EXPECT_TRUE(LogLines().empty());
    } else {
      EXPECT_EQ(LogLines(),
                (std::vector<std::string>{
                    Error("OemPtrGetDriverAppDataPath(): " + c.refused + ", not used\n"),
                    Error("WriteHeldSetting(): PrintCounter of " + ini +
                          " not written (0x5), kept for the next use\n"),
                    Error("WriteHeldSetting(): WarnLevelColor of " + ini +
                          " not written (0x5), kept for the next use\n")}));
    }
    // Written, or kept: what the use reads back either way.
    EXPECT_EQ(ReadHeldSetting(&held, WSTR("PrintCounter"), 4), 1u);
    ReleaseSettings(&held);
    EXPECT_EQ(ReadFile(other), otherText);
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(elsewhere),
                            std::filesystem::directory_iterator()),
              1);

    if (!planted.empty()) {
      // Undone: the next use finds a plain folder and writes what was kept.
      std::filesystem::remove(planted == "junction in place" ? folder : folder / "Label A.ini");
      std::filesystem::create_directories(folder);
      ASSERT_TRUE(HoldPrinterSettings(job_.hPrinter, WSTR("Label A"), &held));
      ReleaseSettings(&held);
    }
    EXPECT_EQ(ReadSettingsFile("Label A", "Label A.ini"),
              (Entries{{"PrintCounter", "1"}, {"WarnLevelColor", "2"}}));
  }
  EXPECT_EQ(host::OpenFileHandles(), 0);
  EXPECT_EQ(LeakedAllocations(), 0);
}

// ---- Decimal text ------------------------------------------------------------------------------

TEST(WideNumberTest, FormatsLikeThePrintfConversionsAndReadsItBack) {
  const std::pair<INT, std::u16string> signedCases[] = {{0, u"0"},
                                                        {4, u"4"},
                                                        {32000, u"32000"},
                                                        {-1, u"-1"},
                                                        {INT_MAX, u"2147483647"},
                                                        {INT_MIN, u"-2147483648"}};
  for (const auto& [value, text] : signedCases) {
    WCHAR buffer[kDecimalTextSize];
    FormatSignedDecimal(value, buffer);
    EXPECT_EQ(std::u16string(buffer), text);
    EXPECT_EQ(ParseDecimal(buffer), static_cast<UINT>(value));  // read back as it was written
  }
  EXPECT_EQ(ParseDecimal(WSTR("+12 boxes")), 12u);
  const std::pair<DWORD, std::u16string> unsignedCases[] = {
      {0u, u"0"}, {16u, u"16"}, {2147483648u, u"2147483648"}, {4294967295u, u"4294967295"}};
  for (const auto& [value, text] : unsignedCases) {
    WCHAR buffer[kDecimalTextSize];
    FormatUnsignedDecimal(value, buffer);
    EXPECT_EQ(std::u16string(buffer), text);
    EXPECT_EQ(ParseDecimal(buffer), value);
  }
}

}  // namespace
}  // namespace langmon_test
