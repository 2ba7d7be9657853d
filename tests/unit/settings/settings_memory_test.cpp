// What the monitor keeps of its settings in memory: refused writes, tried again for about a
// second and then kept for the next use, and the table's bounds.
#include <string>

#include "settings/held_settings.h"
#include "settings/settings_memory.h"
#include "tests/unit/settings/settings_fixture.h"

namespace langmon_test {
namespace {

using Entries = std::vector<std::pair<std::string, std::string>>;

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
  EXPECT_TRUE(WriteHeldSetting(&held, WSTR("YellowSpits"), WSTR("7")));
  EXPECT_EQ(sleeps, 3u);
  ReleaseSettings(&held);
  host::OnSleep(nullptr);
  EXPECT_EQ(ReadSettingsFile("Label A", "Label A.ini"),
            (Entries{{"PrintCounter", "5"}, {"YellowSpits", "7"}}));

  ASSERT_TRUE(HoldPrinterSettings(printer_, WSTR("Label A"), &held));
  ReleaseSettings(&held);
  EXPECT_EQ(ReadSettingsFile("Label A", "Label A.ini"),
            (Entries{{"PrintCounter", "6"}, {"YellowSpits", "7"}, {"WarnLevelColor", "2"}}));
  EXPECT_EQ(host::OpenFileHandles(), 0);
  EXPECT_EQ(LeakedAllocations(), 0);
}

// Thirty-two files. A file used longest ago makes room when it keeps nothing unwritten; when
// every file keeps something, a refused write is lost, and says so.
TEST_F(SettingsMemoryTest, TheTableIsBoundedAndTellsWhatItLoses) {
  const auto file = [](int i) { return u"C:\\settings\\" + Wide(std::to_string(i)) + u".ini"; };
  for (int i = 0; i < 32; ++i) {
    EXPECT_TRUE(KeepSetting(file(i).c_str(), WSTR("PrintCounter"), WSTR("1"))) << i;
  }
  EXPECT_FALSE(KeepSetting(file(32).c_str(), WSTR("PrintCounter"), WSTR("1")));
  RememberReadSetting(file(32).c_str(), WSTR("PrintCounter"), 3, 0);
  UINT uValue = 0;
  EXPECT_FALSE(RecallSetting(file(32).c_str(), WSTR("PrintCounter"), 0, &uValue));

  HANDLE reader = OpenReader(FILE_SHARE_READ);
  HeldSettings held;
  ASSERT_TRUE(HoldPrinterSettings(printer_, WSTR("Label A"), &held));
  ClearLog();
  EXPECT_FALSE(WriteHeldSetting(&held, WSTR("PrintCounter"), WSTR("6")));
  EXPECT_EQ(LogLines(), std::vector<std::string>{Error(
                            "WriteHeldSetting(): PrintCounter of " + WindowsPath("Label A.ini") +
                            " not written (0x20), and no room to keep it: lost\n")});
  ReleaseSettings(&held);
  CloseHandle(reader);

  // Written, the first file keeps nothing and makes room; what it knew goes with it.
  const auto written = [](LPCWSTR, LPCWSTR, void*) -> BOOL { return TRUE; };
  EXPECT_EQ(WriteKeptSettings(file(0).c_str(), written, nullptr), 1u);
  RememberReadSetting(file(32).c_str(), WSTR("PrintCounter"), 3, 0);
  EXPECT_TRUE(RecallSetting(file(32).c_str(), WSTR("PrintCounter"), 0, &uValue));
  EXPECT_EQ(uValue, 3u);
  EXPECT_FALSE(RecallSetting(file(0).c_str(), WSTR("PrintCounter"), 0, &uValue));

  // A key read as missing answers each reader's own default.
  RememberReadSetting(file(32).c_str(), WSTR("CyanSpits"), 4, 4);
  EXPECT_TRUE(RecallSetting(file(32).c_str(), WSTR("CyanSpits"), 9, &uValue));
  EXPECT_EQ(uValue, 9u);
}

}  // namespace
}  // namespace langmon_test
