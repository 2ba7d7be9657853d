// Private-profile files with Windows' rules.
#include <algorithm>
#include <mutex>
#include <thread>
#include <vector>

#include "platform_fixture.h"

namespace {

class ProfileTest : public PlatformTest {
 protected:
  void SetUp() override {
    PlatformTest::SetUp();
    file_ = WidePath("printer.ini");
  }
  UINT Get(const char16_t* section, const char16_t* key, INT fallback = 77) {
    return GetPrivateProfileIntW(section, key, fallback, file_.c_str());
  }
  BOOL Put(const char16_t* section, const char16_t* key, const char16_t* value) {
    return WritePrivateProfileStringW(section, key, value, file_.c_str());
  }
  std::string Text() { return ReadText(Path("printer.ini")); }

  std::u16string file_;
};

TEST_F(ProfileTest, NamesIgnoreCaseAndWhitespace) {
  // After a byte-order mark; names beyond ASCII fold too.
  WriteText(Path("printer.ini"),
            "\xEF\xBB\xBF[ Settings ]\n  PrintCounter =  12 \n\tWarnLevelBlack\t=\t3\t\n"
            "[Z\xC3\xA4hler]\n\xC3\x84rger=4\nPrint=5\n");
  EXPECT_EQ(Get(u"settings", u"printcounter"), 12u);
  EXPECT_EQ(Get(u"SETTINGS", u"PRINTCOUNTER"), 12u);
  EXPECT_EQ(Get(u"settings", u"warnlevelblack"), 3u);
  EXPECT_EQ(Get(u"settings", u"print"), 77u);
  EXPECT_EQ(Get(u"settings", u"PrintCounters"), 77u);
  EXPECT_EQ(Get(u"z\u00c4HLER", u"\u00e4RGER"), 4u);
  EXPECT_EQ(Get(u"Z\u00e4hler", u"PRINT"), 5u);
  EXPECT_EQ(Get(u"Zahler", u"Print"), 77u);
}

TEST_F(ProfileTest, ValuesAreReadAsWindowsReadsIntegers) {
  WriteText(Path("printer.ini"),
            "[s]\nlead=12abc\nneg=-5\nplus=+7\nword=abc\nempty=\nquoted=\"42\"\nspaced=7 8\n"
            "max=4294967295\nwrap=4294967296\n");
  EXPECT_EQ(Get(u"s", u"lead"), 12u);
  EXPECT_EQ(Get(u"s", u"neg"), static_cast<UINT>(-5));
  EXPECT_EQ(Get(u"s", u"plus"), 7u);
  EXPECT_EQ(Get(u"s", u"word"), 0u);
  EXPECT_EQ(Get(u"s", u"empty"), 77u);
  EXPECT_EQ(Get(u"s", u"quoted"), 42u);
  EXPECT_EQ(Get(u"s", u"spaced"), 7u);
  EXPECT_EQ(Get(u"s", u"max"), 4294967295u);
  EXPECT_EQ(Get(u"s", u"wrap"), 0u);
}

TEST_F(ProfileTest, MissingKeySectionOrFileGivesTheDefault) {
  EXPECT_EQ(Get(u"settings", u"PrintCounter", 5), 5u);  // no file
  EXPECT_EQ(Get(u"settings", u"PrintCounter", -1), static_cast<UINT>(-1));
  WriteText(Path("printer.ini"), "[settings]\nOther=1\n; PrintCounter=9\n[more]\nPrintCounter=3\n");
  EXPECT_EQ(Get(u"settings", u"PrintCounter", 5), 5u);  // only in another section
  EXPECT_EQ(Get(u"absent", u"Other", 5), 5u);
  EXPECT_EQ(Get(u"more", u"PrintCounter", 5), 3u);
}

TEST_F(ProfileTest, WriteChangesOneLineAndKeepsEveryOther) {
  const std::string original =
      "; settings of the printer\n"
      "[settings]\n"
      "  WarnLevelColor = 1\n"
      "; a comment inside\n"
      "PrintCounter=4\n"
      "\n"
      "[other]\n"
      "PrintCounter=100\n";
  WriteText(Path("printer.ini"), original);
  EXPECT_TRUE(Put(u"SETTINGS", u"printcounter", u"5"));
  EXPECT_EQ(Text(),
            "; settings of the printer\n"
            "[settings]\n"
            "  WarnLevelColor = 1\n"
            "; a comment inside\n"
            "PrintCounter=5\n"
            "\n"
            "[other]\n"
            "PrintCounter=100\n");
  EXPECT_EQ(Get(u"settings", u"PrintCounter"), 5u);
  EXPECT_EQ(Get(u"other", u"PrintCounter"), 100u);
}

TEST_F(ProfileTest, MissingKeyGoesAtTheEndOfItsSectionAndMissingSectionAtTheEnd) {
  WriteText(Path("printer.ini"), "[settings]\nA=1\n\n[other]\nB=2");
  EXPECT_TRUE(Put(u"settings", u"CyanSpits", u"123"));
  EXPECT_TRUE(Put(u"third", u"C", u"3"));
  EXPECT_EQ(Text(), "[settings]\nA=1\nCyanSpits=123\n\n[other]\nB=2\n[third]\nC=3\n");
}

TEST_F(ProfileTest, WriteCreatesAMissingFile) {
  EXPECT_TRUE(Put(u"settings", u"WarnLevelBlack", u"1"));
  EXPECT_EQ(Text(), "[settings]\nWarnLevelBlack=1\n");
  EXPECT_EQ(Get(u"settings", u"WarnLevelBlack"), 1u);
}

TEST_F(ProfileTest, WindowsLineEndsAreKept) {
  WriteText(Path("printer.ini"), "[settings]\r\nA=1\r\n");
  EXPECT_TRUE(Put(u"settings", u"A", u"2"));
  EXPECT_TRUE(Put(u"settings", u"B", u"3"));
  EXPECT_EQ(Text(), "[settings]\r\nA=2\r\nB=3\r\n");
  EXPECT_EQ(Get(u"settings", u"A"), 2u);
}

TEST_F(ProfileTest, NullValueDeletesTheKeyAndNullKeyTheSection) {
  WriteText(Path("printer.ini"), "[settings]\nA=1\nB=2\n[other]\nC=3\n");
  EXPECT_TRUE(Put(u"settings", u"a", nullptr));
  EXPECT_EQ(Text(), "[settings]\nB=2\n[other]\nC=3\n");
  EXPECT_TRUE(Put(u"settings", u"missing", nullptr));
  EXPECT_TRUE(Put(u"settings", nullptr, nullptr));
  EXPECT_EQ(Text(), "[other]\nC=3\n");
}

TEST_F(ProfileTest, WriteIntoAMissingFolderFails) {
  const std::u16string path = WidePath("VMT") + u"\\Drivers\\printer.ini";
  SetLastError(0);
  EXPECT_FALSE(WritePrivateProfileStringW(u"settings", u"A", u"1", path.c_str()));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_PATH_NOT_FOUND));
  EXPECT_FALSE(std::filesystem::exists(Path("VMT")));
  EXPECT_EQ(GetPrivateProfileIntW(u"settings", u"A", 9, path.c_str()), 9u);
}

// As on Windows, where a link leads is where the write lands: a symbolic link and a hard link
// share the file they name, a folder link leads into its folder.
TEST_F(ProfileTest, WritesThroughLinksLandInTheFileTheyLeadTo) {
  WriteText(Path("target.ini"), "[s]\nk=1\n");
  ASSERT_TRUE(host::PlantSymbolicLink(Path("printer.ini"), Path("target.ini")));
  EXPECT_TRUE(Put(u"s", u"k", u"2"));
  EXPECT_EQ(ReadText(Path("target.ini")), "[s]\nk=2\n");
  EXPECT_TRUE(std::filesystem::is_symlink(Path("printer.ini")));

  std::filesystem::remove(Path("printer.ini"));
  ASSERT_TRUE(host::PlantHardLink(Path("printer.ini"), Path("target.ini")));
  EXPECT_TRUE(Put(u"s", u"k", u"3"));
  EXPECT_EQ(ReadText(Path("target.ini")), "[s]\nk=3\n");
  EXPECT_EQ(std::filesystem::hard_link_count(Path("target.ini")), 2u);

  std::filesystem::create_directory(Path("real"));
  ASSERT_TRUE(host::PlantJunction(Path("folder"), Path("real")));
  EXPECT_TRUE(WritePrivateProfileStringW(u"s", u"k", u"4", WidePath("folder/x.ini").c_str()));
  EXPECT_EQ(ReadText(Path("real/x.ini")), "[s]\nk=4\n");
}

TEST_F(ProfileTest, WindowsPathsWithBackslashes) {
  std::filesystem::create_directories(Path("VMT/Drivers/Label Printer"));
  const std::u16string path = WidePath("VMT") + u"\\Drivers\\Label Printer\\Label Printer.ini";
  EXPECT_TRUE(WritePrivateProfileStringW(u"settings", u"PrintCounter", u"31", path.c_str()));
  EXPECT_EQ(GetPrivateProfileIntW(u"settings", u"PrintCounter", 0, path.c_str()), 31u);
  EXPECT_EQ(ReadText(Path("VMT/Drivers/Label Printer/Label Printer.ini")),
            "[settings]\nPrintCounter=31\n");
}

TEST_F(ProfileTest, ConcurrentWritersLoseNothingAndLeaveAWholeFile) {
  constexpr int kThreads = 8;
  constexpr int kIncrements = 200;
  std::mutex counterLock;  // the writers' own lock around each read-modify-write
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&, t] {
      const std::u16string ownKey = u"Thread" + std::u16string(1, static_cast<char16_t>(u'0' + t));
      for (int i = 0; i < kIncrements; ++i) {
        {
          std::lock_guard<std::mutex> lock(counterLock);
          const UINT value = Get(u"settings", u"Counter", 0);
          const std::string next = std::to_string(value + 1);
          const std::u16string wide(next.begin(), next.end());
          ASSERT_TRUE(Put(u"settings", u"Counter", wide.c_str()));
        }
        // Writes of other keys without the lock must not undo the counter's.
        const std::string own = std::to_string(i + 1);
        const std::u16string wideOwn(own.begin(), own.end());
        ASSERT_TRUE(Put(u"settings", ownKey.c_str(), wideOwn.c_str()));
      }
    });
  }
  for (auto& thread : threads) thread.join();
  EXPECT_EQ(Get(u"settings", u"Counter", 0), static_cast<UINT>(kThreads * kIncrements));
  for (int t = 0; t < kThreads; ++t) {
    const std::u16string ownKey = u"Thread" + std::u16string(1, static_cast<char16_t>(u'0' + t));
    EXPECT_EQ(Get(u"settings", ownKey.c_str(), 0), static_cast<UINT>(kIncrements));
  }
  // One section, one line per key, nothing torn; no temporary files left behind.
  const std::string text = Text();
  EXPECT_EQ(text.rfind("[settings]\n", 0), 0u);
  EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), 1 + 1 + kThreads);
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(folder_),
                          std::filesystem::directory_iterator()),
            1);
}

}  // namespace
