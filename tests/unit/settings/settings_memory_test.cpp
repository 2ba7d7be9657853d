// What the monitor keeps of its settings in memory: refused writes, tried again for about a
// second and then kept for the next use, and the table's bounds.
#include <filesystem>
#include <fstream>
#include <string>

#include "records/records.h"
#include "settings/held_settings.h"
#include "settings/settings_memory.h"
#include "tests/unit/settings/settings_fixture.h"

namespace langmon_test {
namespace {

using Entries = std::vector<std::pair<std::string, std::string>>;

std::string Narrow(const std::u16string& text) { return std::string(text.begin(), text.end()); }

class SettingsMemoryTest : public SettingsTest {
 protected:
  void SetUp() override {
    SettingsTest::SetUp();
    printer_ = Open(u"Label A");
    WriteSettingsFile("Label A", "Label A.ini", "PrintCounter=5\r\n");
  }

  HANDLE OpenReader(DWORD share) const {
    const std::u16string ini = WindowsSettingsFolder("Label A") + u"\\Label A.ini";
    return CreateFileW(ini.c_str(), GENERIC_READ, share, nullptr, OPEN_EXISTING, 0, nullptr);
  }

  HANDLE printer_ = nullptr;
};

// The first refused write of a use waits about a second, the later ones not at all; a reader
// that lets go while a write waits lets it through, and the values kept meanwhile follow at the
// next use, oldest first.
TEST_F(SettingsMemoryTest, ARefusedWriteWaitsOnceThenWaitsForTheNextUse) {
  HANDLE reader = OpenReader(FILE_SHARE_READ);
  ASSERT_NE(reader, INVALID_HANDLE_VALUE);
  HeldSettings held;
  ASSERT_TRUE(HoldPrinterSettings(printer_, WSTR("Label A"), &held));
  DWORD start = GetTickCount();
  EXPECT_FALSE(WriteHeldSetting(&held, WSTR("PrintCounter"), WSTR("6")));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SHARING_VIOLATION));
  const DWORD waited = GetTickCount() - start;
  EXPECT_GE(waited, 750u);
  EXPECT_LE(waited, 1250u);
  EXPECT_FALSE(WriteHeldSetting(&held, WSTR("WarnLevelColor"), WSTR("2")));
  EXPECT_EQ(GetTickCount() - start, waited);
  EXPECT_EQ(ReadHeldSetting(&held, WSTR("PrintCounter"), 0), 6u);
  ReleaseSettings(&held);

  // The next use finds the reader still there: the kept values wait on; a new write waits, and
  // the reader lets go during it.
  unsigned sleeps = 0;
  host::OnSleep([&](DWORD) {
    if (++sleeps == 3) {
      CloseHandle(reader);
    }
  });
  ASSERT_TRUE(HoldPrinterSettings(printer_, WSTR("Label A"), &held));
  start = GetTickCount();
  // The same key written: the value kept from the refused write is older, and goes.
  EXPECT_TRUE(WriteHeldSetting(&held, WSTR("PrintCounter"), WSTR("7")));
  EXPECT_EQ(sleeps, 3u);
  UINT uKept = 0;
  EXPECT_FALSE(RecallKeptSetting(held.pszPath, WSTR("PrintCounter"), &uKept));
  EXPECT_EQ(ReadHeldSetting(&held, WSTR("PrintCounter"), 0), 7u);
  ReleaseSettings(&held);
  host::OnSleep(nullptr);
  EXPECT_EQ(ReadSettingsFile("Label A", "Label A.ini"), (Entries{{"PrintCounter", "7"}}));

  ASSERT_TRUE(HoldPrinterSettings(printer_, WSTR("Label A"), &held));
  ReleaseSettings(&held);
  EXPECT_EQ(ReadSettingsFile("Label A", "Label A.ini"),
            (Entries{{"PrintCounter", "7"}, {"WarnLevelColor", "2"}}));
  EXPECT_EQ(host::OpenFileHandles(), 0);
  EXPECT_EQ(LeakedAllocations(), 0);
}

// A part another process holds sharing nothing is opened again at each try, and what the try
// finds then counts: the folder gone, the write fails as one without settings (nothing logged,
// kept or made); a link in the file's place is never followed, and the value is kept.
TEST_F(SettingsMemoryTest, ARefusedWriteTakesThePathAsTheNextTryFindsIt) {
  const std::filesystem::path other = AppDataFolder().parent_path() / "other.ini";
  for (const bool linked : {false, true}) {
    SCOPED_TRACE(linked ? "a link in the file's place" : "the folder gone");
    ForgetSettingsMemory();
    WriteSettingsFile("Label A", "Label A.ini", "PrintCounter=5\r\n");
    std::ofstream(other, std::ios::binary) << "[settings]\r\nPrintCounter=9\r\n";
    HANDLE holder = OpenReader(0);
    ASSERT_NE(holder, INVALID_HANDLE_VALUE);
    HeldSettings held;
    ASSERT_TRUE(HoldPrinterSettings(printer_, WSTR("Label A"), &held));
    host::OnSleep([&](DWORD) {
      if (holder != INVALID_HANDLE_VALUE) {
        CloseHandle(holder);
        holder = INVALID_HANDLE_VALUE;
        std::filesystem::remove_all(SettingsFolder("Label A"));
        if (linked) {
          std::filesystem::create_directories(SettingsFolder("Label A"));
          host::PlantSymbolicLink(WindowsPath("Label A.ini"), other.string());
        }
      }
    });
    ClearLog();
    EXPECT_FALSE(WriteHeldSetting(&held, WSTR("PrintCounter"), WSTR("6")));
    EXPECT_EQ(GetLastError(), linked ? 5u : 3u);
    host::OnSleep(nullptr);
    const std::string ini = WindowsPath("Label A.ini");
    EXPECT_EQ(LogLines(),
              linked ? (std::vector<std::string>{
                           Error("OemPtrGetDriverAppDataPath(): " + ini + " is a link, not used\n"),
                           Error("WriteHeldSetting(): PrintCounter of " + ini +
                                 " not written (0x5), kept for the next use\n")})
                     : std::vector<std::string>{});
    UINT uKept = 0;
    EXPECT_EQ(RecallKeptSetting(held.pszPath, WSTR("PrintCounter"), &uKept), linked);
    ReleaseSettings(&held);
    EXPECT_EQ(ReadFile(other), "[settings]\r\nPrintCounter=9\r\n");
    EXPECT_EQ(std::filesystem::exists(SettingsFolder("Label A")), linked);
  }
  EXPECT_EQ(host::OpenFileHandles(), 0);
  EXPECT_EQ(LeakedAllocations(), 0);
}

// A printer deleted while a refused value is kept for it, and made again under the same name:
// the new printer starts from its own file, and the log says the kept value was dropped. Deleted
// and not yet made again, the same.
TEST_F(SettingsMemoryTest, APrinterMadeAgainStartsFromItsOwnFile) {
  for (const bool madeAgain : {true, false}) {
    SCOPED_TRACE(madeAgain ? "made again" : "gone");
    ForgetSettingsMemory();
    WriteSettingsFile("Label A", "Label A.ini", "PrintCounter=5\r\n");
    HANDLE reader = OpenReader(FILE_SHARE_READ);
    HeldSettings held;
    ASSERT_TRUE(HoldPrinterSettings(printer_, WSTR("Label A"), &held));
    EXPECT_FALSE(WriteHeldSetting(&held, WSTR("WarnLevelColor"), WSTR("3")));
    ReleaseSettings(&held);
    CloseHandle(reader);

    // The new file is made before the old one goes, so that it cannot take the old one's place.
    const std::filesystem::path fresh = AppDataFolder() / "fresh.ini";
    std::ofstream(fresh, std::ios::binary) << "[settings]\r\nPrintCounter=1\r\n";
    std::filesystem::remove_all(SettingsFolder("Label A"));
    if (madeAgain) {
      std::filesystem::create_directories(SettingsFolder("Label A"));
      std::filesystem::rename(fresh, SettingsFolder("Label A") / "Label A.ini");
    }
    ClearLog();
    ASSERT_TRUE(HoldPrinterSettings(printer_, WSTR("Label A"), &held));
    EXPECT_EQ(ReadHeldSetting(&held, WSTR("WarnLevelColor"), 1), 1u);
    ReleaseSettings(&held);
    EXPECT_TRUE(Logged(Inform("SettingsMemory(): values of " + WindowsPath("Label A.ini") +
                              " dropped, 1 still to be written: the file is " +
                              (madeAgain ? "made anew\n" : "gone\n"))));
    if (!madeAgain) {
      std::filesystem::create_directories(SettingsFolder("Label A"));
      std::filesystem::rename(fresh, SettingsFolder("Label A") / "Label A.ini");
      ASSERT_TRUE(HoldPrinterSettings(printer_, WSTR("Label A"), &held));
      ReleaseSettings(&held);
    }
    EXPECT_EQ(ReadSettingsFile("Label A", "Label A.ini"), (Entries{{"PrintCounter", "1"}}));
  }
  EXPECT_EQ(host::OpenFileHandles(), 0);
}

// Bounded, and nothing of a printer in use goes. With the table full, a file keeping nothing
// goes first, then a file that no longer exists (dropped), then the file used longest ago with
// values still to be written (pushed out, lost, and said so); a printer with an open port keeps
// all its files however many others come.
TEST_F(SettingsMemoryTest, TheTableIsBoundedAndTellsWhatItLoses) {
  const std::u16string many = Wide(AppDataFolder().string()) + u"\\VMT\\Drivers\\Many\\";
  std::filesystem::create_directories(AppDataFolder() / "VMT" / "Drivers" / "Many");
  const auto existing = [&](int i) {
    std::ofstream(AppDataFolder() / "VMT" / "Drivers" / "Many" / (std::to_string(i) + ".ini"));
    return many + Wide(std::to_string(i)) + u".ini";
  };
  const auto gone = [](int i) { return u"C:\\Gone\\" + Wide(std::to_string(i)) + u".ini"; };
  const std::u16string fileA = Wide(WindowsPath("Label A.ini"));
  const std::u16string modelA = Wide(WindowsPath("VM_lp250.ini"));
  const auto logged = [](const std::string& begin, const std::string& end) {
    for (const std::string& line : LogLines()) {
      if (line.rfind(begin, 0) == 0 && line.size() >= end.size() &&
          line.compare(line.size() - end.size(), end.size(), end) == 0) {
        return true;
      }
    }
    return false;
  };
  UINT uValue = 0;

  ASSERT_TRUE(KeepSetting(fileA.c_str(), WSTR("WarnLevelColor"), WSTR("3")));
  for (int i = 0; i < 300; ++i) {
    ASSERT_TRUE(KeepSetting(gone(i).c_str(), WSTR("PrintCounter"), WSTR("1"))) << i;
  }
  EXPECT_TRUE(logged(Inform("SettingsMemory(): values of C:\\Gone\\"),
                     ".ini dropped, 1 still to be written: the file is gone\n"));
  ASSERT_TRUE(RecallKeptSetting(fileA.c_str(), WSTR("WarnLevelColor"), &uValue));
  EXPECT_EQ(uValue, 3u);

  ClearLog();
  for (int i = 0; i < 300; ++i) {
    ASSERT_TRUE(KeepSetting(existing(i).c_str(), WSTR("PrintCounter"), WSTR("1"))) << i;
  }
  EXPECT_FALSE(RecallKeptSetting(fileA.c_str(), WSTR("WarnLevelColor"), &uValue));
  EXPECT_TRUE(logged(Error("SettingsMemory(): values of " + Narrow(fileA) + " pushed out by "),
                     ", 1 still to be written lost\n"));

  // Label A's port is open, and a port not yet given a printer lists a job of Label B: none of
  // their files goes, however many others come. A file merely named like Label A's does.
  IniPort port = {};
  lstrcpyW(port.szPrinterName, WSTR("Label A"));
  IniJob jobB = {};
  jobB.pszPrinterName = const_cast<LPWSTR>(WSTR("Label B"));
  IniPort nameless = {};
  nameless.pIniJob = &jobB;
  EnterMonitorLock();
  nameless.pNext = pIniFirstPort;
  port.pNext = &nameless;
  pIniFirstPort = &port;
  LeaveMonitorLock();
  const std::u16string fileB = many.substr(0, many.size() - 5) + u"Label B\\Label B.ini";
  const std::u16string likeA = u"C:\\Label A.ini";
  ASSERT_TRUE(KeepSetting(fileA.c_str(), WSTR("WarnLevelColor"), WSTR("4")));
  RememberReadSetting(modelA.c_str(), WSTR("SHOW_UI"), 0, 1);
  RememberReadSetting(fileB.c_str(), WSTR("PrintCounter"), 8, 0);
  RememberReadSetting(likeA.c_str(), WSTR("PrintCounter"), 8, 0);
  ClearLog();
  for (int i = 300; i < 600; ++i) {
    RememberReadSetting(existing(i).c_str(), WSTR("PrintCounter"), 1, 0);
  }
  EnterMonitorLock();
  pIniFirstPort = nameless.pNext;
  LeaveMonitorLock();
  EXPECT_TRUE(RecallKeptSetting(fileA.c_str(), WSTR("WarnLevelColor"), &uValue));
  EXPECT_EQ(uValue, 4u);
  // Asked for by the file's name alone, what is still to be written answers before what was read.
  RememberReadSetting(fileA.c_str(), WSTR("WarnLevelColor"), 2, 1);
  ASSERT_TRUE(RecallSettingOfFileNamed(WSTR("label a.INI"), WSTR("WarnLevelColor"), 1, &uValue));
  EXPECT_EQ(uValue, 4u);
  ASSERT_TRUE(RecallSetting(modelA.c_str(), WSTR("SHOW_UI"), 1, &uValue));
  EXPECT_EQ(uValue, 0u);
  ASSERT_TRUE(RecallSetting(fileB.c_str(), WSTR("PrintCounter"), 0, &uValue));
  EXPECT_EQ(uValue, 8u);
  EXPECT_FALSE(RecallSetting(likeA.c_str(), WSTR("PrintCounter"), 0, &uValue));
  EXPECT_TRUE(logged(Inform("SettingsMemory(): values of " + Narrow(many)), ".ini\n"));

  // A key read as missing answers each reader's own default.
  RememberReadSetting(fileA.c_str(), WSTR("CyanSpits"), 4, 4);
  EXPECT_TRUE(RecallSetting(fileA.c_str(), WSTR("CyanSpits"), 9, &uValue));
  EXPECT_EQ(uValue, 9u);

  // What does not fit an entry is not kept: a path of 260 units, a key of 24, a value of 16.
  const std::u16string longest = u"C:\\" + std::u16string(256, u'p');
  EXPECT_TRUE(KeepSetting(longest.c_str(), WSTR("PrintCounter"), WSTR("1")));
  EXPECT_FALSE(KeepSetting((longest + u"p").c_str(), WSTR("PrintCounter"), WSTR("1")));
  EXPECT_TRUE(KeepSetting(fileA.c_str(), WSTR("KeyOfTwentyThreeUnits.."), WSTR("123456789012345")));
  EXPECT_FALSE(KeepSetting(fileA.c_str(), WSTR("KeyOfTwentyFourUnits...."), WSTR("1")));
  EXPECT_FALSE(KeepSetting(fileA.c_str(), WSTR("PrintCounter"), WSTR("1234567890123456")));
  EXPECT_FALSE(RecallSettingOfFileNamed(nullptr, WSTR("CyanSpits"), 0, &uValue));
}

}  // namespace
}  // namespace langmon_test
