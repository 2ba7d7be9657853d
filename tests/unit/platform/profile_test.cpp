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
  UINT Get(const WCHAR* section, const WCHAR* key, INT fallback = 77) {
    return GetPrivateProfileIntW(section, key, fallback, file_.c_str());
  }
  BOOL Put(const WCHAR* section, const WCHAR* key, const WCHAR* value) {
    return WritePrivateProfileStringW(section, key, value, file_.c_str());
  }
  std::string Text() { return ReadText(Path("printer.ini")); }

  WideString file_;
};

TEST_F(ProfileTest, NamesIgnoreCaseAndWhitespace) {
  // After a byte-order mark; a name is matched whole, not by its beginning.
  WriteText(Path("printer.ini"),
            "\xEF\xBB\xBF[ Settings ]\n  PrintCounter =  12 \n\tWarnLevelBlack\t=\t3\t\n");
  EXPECT_EQ(Get(WSTR("settings"), WSTR("printcounter")), 12u);
  EXPECT_EQ(Get(WSTR("SETTINGS"), WSTR("PRINTCOUNTER")), 12u);
  EXPECT_EQ(Get(WSTR("settings"), WSTR("warnlevelblack")), 3u);
  EXPECT_EQ(Get(WSTR("settings"), WSTR("print")), 77u);
  EXPECT_EQ(Get(WSTR("settings"), WSTR("PrintCounters")), 77u);
}

TEST_F(ProfileTest, ValuesAreReadAsWindowsReadsIntegers) {
  WriteText(Path("printer.ini"),
            "[s]\nlead=12abc\nneg=-5\nplus=+7\nword=abc\nempty=\nquoted=\"42\"\nspaced=7 8\n"
            "max=4294967295\nwrap=4294967296\n");
  EXPECT_EQ(Get(WSTR("s"), WSTR("lead")), 12u);
  EXPECT_EQ(Get(WSTR("s"), WSTR("neg")), static_cast<UINT>(-5));
  EXPECT_EQ(Get(WSTR("s"), WSTR("plus")), 7u);
  EXPECT_EQ(Get(WSTR("s"), WSTR("word")), 0u);
  EXPECT_EQ(Get(WSTR("s"), WSTR("empty")), 77u);
  EXPECT_EQ(Get(WSTR("s"), WSTR("quoted")), 42u);
  EXPECT_EQ(Get(WSTR("s"), WSTR("spaced")), 7u);
  EXPECT_EQ(Get(WSTR("s"), WSTR("max")), 4294967295u);
  EXPECT_EQ(Get(WSTR("s"), WSTR("wrap")), 0u);
}

TEST_F(ProfileTest, MissingKeySectionOrFileGivesTheDefault) {
  EXPECT_EQ(Get(WSTR("settings"), WSTR("PrintCounter"), 5), 5u);  // no file
  EXPECT_EQ(Get(WSTR("settings"), WSTR("PrintCounter"), -1), static_cast<UINT>(-1));
  WriteText(Path("printer.ini"), "[settings]\nOther=1\n; PrintCounter=9\n[more]\nPrintCounter=3\n");
  EXPECT_EQ(Get(WSTR("settings"), WSTR("PrintCounter"), 5), 5u);  // only in another section
  EXPECT_EQ(Get(WSTR("absent"), WSTR("Other"), 5), 5u);
  EXPECT_EQ(Get(WSTR("more"), WSTR("PrintCounter"), 5), 3u);
}

// A write changes its own line, or adds one, and keeps every other byte: comments, blanks, empty
// lines and the file's own line ends.
TEST_F(ProfileTest, WriteChangesOneLineAndKeepsEveryOther) {
  if (UnderWine()) {
    GTEST_SKIP() << "Wine 8 writes the whole file anew (CRLF line ends, blanks around names and "
                    "values and empty lines dropped); Windows changes only the line written";
  }
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
  EXPECT_TRUE(Put(WSTR("SETTINGS"), WSTR("printcounter"), WSTR("5")));
  EXPECT_TRUE(Put(WSTR("settings"), WSTR("CyanSpits"), WSTR("123")));
  EXPECT_EQ(Text(),
            "; settings of the printer\n"
            "[settings]\n"
            "  WarnLevelColor = 1\n"
            "; a comment inside\n"
            "PrintCounter=5\n"
            "CyanSpits=123\n"
            "\n"
            "[other]\n"
            "PrintCounter=100\n");
  EXPECT_EQ(Get(WSTR("settings"), WSTR("PrintCounter")), 5u);
  EXPECT_EQ(Get(WSTR("other"), WSTR("PrintCounter")), 100u);
}

TEST_F(ProfileTest, MissingKeyGoesAtTheEndOfItsSectionAndMissingSectionAtTheEnd) {
  WriteText(Path("printer.ini"), "[settings]\r\nA=1\r\n[other]\r\nB=2");
  EXPECT_TRUE(Put(WSTR("settings"), WSTR("CyanSpits"), WSTR("123")));
  EXPECT_TRUE(Put(WSTR("third"), WSTR("C"), WSTR("3")));
  EXPECT_EQ(Text(), "[settings]\r\nA=1\r\nCyanSpits=123\r\n[other]\r\nB=2\r\n[third]\r\nC=3\r\n");
}

TEST_F(ProfileTest, WriteCreatesAMissingFile) {
  EXPECT_TRUE(Put(WSTR("settings"), WSTR("WarnLevelBlack"), WSTR("1")));
  EXPECT_EQ(Text(), "[settings]\r\nWarnLevelBlack=1\r\n");
  EXPECT_EQ(Get(WSTR("settings"), WSTR("WarnLevelBlack")), 1u);
}

TEST_F(ProfileTest, WindowsLineEndsAreKept) {
  WriteText(Path("printer.ini"), "[settings]\r\nA=1\r\n");
  EXPECT_TRUE(Put(WSTR("settings"), WSTR("A"), WSTR("2")));
  EXPECT_TRUE(Put(WSTR("settings"), WSTR("B"), WSTR("3")));
  EXPECT_EQ(Text(), "[settings]\r\nA=2\r\nB=3\r\n");
  EXPECT_EQ(Get(WSTR("settings"), WSTR("A")), 2u);
}

TEST_F(ProfileTest, NullValueDeletesTheKeyAndNullKeyTheSection) {
  WriteText(Path("printer.ini"), "[settings]\r\nA=1\r\nB=2\r\n[other]\r\nC=3\r\n");
  EXPECT_TRUE(Put(WSTR("settings"), WSTR("a"), nullptr));
  EXPECT_EQ(Text(), "[settings]\r\nB=2\r\n[other]\r\nC=3\r\n");
  EXPECT_TRUE(Put(WSTR("settings"), WSTR("missing"), nullptr));
  EXPECT_TRUE(Put(WSTR("settings"), nullptr, nullptr));
  EXPECT_EQ(Text(), "[other]\r\nC=3\r\n");
}

TEST_F(ProfileTest, WriteIntoAMissingFolderFails) {
  const WideString path = WidePath("VMT") + WSTR("\\Drivers\\printer.ini");
  SetLastError(0);
  EXPECT_FALSE(WritePrivateProfileStringW(WSTR("settings"), WSTR("A"), WSTR("1"), path.c_str()));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_PATH_NOT_FOUND));
  EXPECT_FALSE(std::filesystem::exists(Path("VMT")));
  EXPECT_EQ(GetPrivateProfileIntW(WSTR("settings"), WSTR("A"), 9, path.c_str()), 9u);
}

// As on Windows, where a link leads is where the write lands: a hard link shares the file it
// names, a symbolic link leads to its file and a folder link into its folder.
TEST_F(ProfileTest, WritesThroughAHardLinkLandInTheFileItNames) {
  WriteText(Path("target.ini"), "[s]\r\nk=1\r\n");
  ASSERT_TRUE(PlantHardLink(Path("printer.ini"), Path("target.ini")));
  EXPECT_TRUE(Put(WSTR("s"), WSTR("k"), WSTR("3")));
  EXPECT_EQ(ReadText(Path("target.ini")), "[s]\r\nk=3\r\n");
  HANDLE file = CreateFileW(WidePath("target.ini").c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                            OPEN_EXISTING, 0, nullptr);
  BY_HANDLE_FILE_INFORMATION info = {};
  EXPECT_TRUE(GetFileInformationByHandle(file, &info));
  EXPECT_EQ(info.nNumberOfLinks, 2u);  // still the one file of two names
  CloseHandle(file);
}

TEST_F(ProfileTest, WritesThroughLinksLandWhereTheyLead) {
  WriteText(Path("target.ini"), "[s]\r\nk=1\r\n");
  if (!PlantSymbolicLink(Path("printer.ini"), Path("target.ini"))) GTEST_SKIP() << kNoSymbolicLinks;
  EXPECT_TRUE(Put(WSTR("s"), WSTR("k"), WSTR("2")));
  EXPECT_EQ(ReadText(Path("target.ini")), "[s]\r\nk=2\r\n");
  EXPECT_TRUE(std::filesystem::is_symlink(Path("printer.ini")));

  std::filesystem::create_directory(Path("real"));
  if (!PlantJunction(Path("folder"), Path("real"))) GTEST_SKIP() << kNoJunctions;
  EXPECT_TRUE(WritePrivateProfileStringW(WSTR("s"), WSTR("k"), WSTR("4"),
                                         WidePath("folder/x.ini").c_str()));
  EXPECT_EQ(ReadText(Path("real/x.ini")), "[s]\r\nk=4\r\n");
}

TEST_F(ProfileTest, WindowsPathsWithBackslashes) {
  std::filesystem::create_directories(Path("VMT/Drivers/Label Printer"));
  const WideString path = WidePath("VMT") + WSTR("\\Drivers\\Label Printer\\Label Printer.ini");
  EXPECT_TRUE(
      WritePrivateProfileStringW(WSTR("settings"), WSTR("PrintCounter"), WSTR("31"), path.c_str()));
  EXPECT_EQ(GetPrivateProfileIntW(WSTR("settings"), WSTR("PrintCounter"), 0, path.c_str()), 31u);
  EXPECT_EQ(ReadText(Path("VMT/Drivers/Label Printer/Label Printer.ini")),
            "[settings]\r\nPrintCounter=31\r\n");
}

TEST_F(ProfileTest, ConcurrentWritersLoseNothingAndLeaveAWholeFile) {
  constexpr int kThreads = 8;
  // Wine writes the whole file at every call, and slowly: fewer rounds there.
  const int increments = UnderWine() ? 40 : 200;
  std::mutex counterLock;  // the writers' own lock around each read-modify-write
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&, t] {
      const WideString ownKey = WSTR("Thread") + WideString(1, static_cast<WCHAR>('0' + t));
      for (int i = 0; i < increments; ++i) {
        {
          std::lock_guard<std::mutex> lock(counterLock);
          const UINT value = Get(WSTR("settings"), WSTR("Counter"), 0);
          const std::string next = std::to_string(value + 1);
          const WideString wide(next.begin(), next.end());
          ASSERT_TRUE(Put(WSTR("settings"), WSTR("Counter"), wide.c_str()));
        }
        // Writes of other keys without the lock must not undo the counter's.
        const std::string own = std::to_string(i + 1);
        const WideString wideOwn(own.begin(), own.end());
        ASSERT_TRUE(Put(WSTR("settings"), ownKey.c_str(), wideOwn.c_str()));
      }
    });
  }
  for (auto& thread : threads) thread.join();
  EXPECT_EQ(Get(WSTR("settings"), WSTR("Counter"), 0), static_cast<UINT>(kThreads * increments));
  for (int t = 0; t < kThreads; ++t) {
    const WideString ownKey = WSTR("Thread") + WideString(1, static_cast<WCHAR>('0' + t));
    EXPECT_EQ(Get(WSTR("settings"), ownKey.c_str(), 0), static_cast<UINT>(increments));
  }
  // One section, one line per key, nothing torn; no temporary files left behind.
  const std::string text = Text();
  EXPECT_EQ(text.rfind("[settings]\r\n", 0), 0u);
  EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), 1 + 1 + kThreads);
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(folder_),
                          std::filesystem::directory_iterator()),
            1);
}

}  // namespace
