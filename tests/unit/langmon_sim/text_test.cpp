#include "tools/langmon-sim/text.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>

#include "tools/langmon-sim/console.h"
#include "tools/langmon-sim/runner.h"

namespace langmon_sim {
namespace {

TEST(TextTest, PrinterNamesSurviveTheTripToUtf16AndBack) {
  for (const std::string name :
       {"Label A", "Étiquettes Müller", "ラベル 2", "Box \xF0\x9F\x93\xA6"}) {
    EXPECT_EQ(ToUtf8(ToUtf16(name)), name);
  }
  EXPECT_EQ(ToUtf16("\xC3\xA9"), u"\u00E9");
  EXPECT_EQ(ToUtf16("\xF0\x9F\x93\xA6"), u"\U0001F4E6");
  EXPECT_EQ(ToUtf16("a\xFF"
                    "b"),
            u"a\uFFFDb")
      << "a stray byte is replaced, not dropped";
  EXPECT_EQ(ToUtf16("a\xC3"), u"a\uFFFD") << "a sequence cut off at the end";
}

TEST(TextTest, NumbersForPeople) {
  EXPECT_EQ(WithThousands(0), "0");
  EXPECT_EQ(WithThousands(999), "999");
  EXPECT_EQ(WithThousands(1000), "1,000");
  EXPECT_EQ(WithThousands(4294967295u), "4,294,967,295");
  EXPECT_EQ(Seconds(0), "0.000");
  EXPECT_EQ(Seconds(120050), "120.050");
}

TEST(TextTest, IniSectionsReadAsWindowsReadsThem) {
  const std::string ini =
      "; written by hand\r\n[other]\r\nPrintCounter=9\r\n[Settings]\r\n printcounter = 12 \r\n"
      "PRINTCOUNTER=13\r\nWarnLevelColor=2\r\n";
  const auto keys = IniSection(ini, "settings");
  std::string value;
  ASSERT_TRUE(FindIniValue(keys, "PrintCounter", &value));
  EXPECT_EQ(value, "12") << "the first of two spellings wins";
  ASSERT_TRUE(FindIniValue(keys, "warnlevelcolor", &value));
  EXPECT_EQ(value, "2");
  EXPECT_FALSE(FindIniValue(keys, "YellowSpits", &value));
}

TEST(ConsoleTest, TranscriptLinesGoAboveTheLiveLine) {
  char* buffer = nullptr;
  size_t size = 0;
  FILE* out = open_memstream(&buffer, &size);
  {
    Console console(out, true, false, false, 20);
    console.Live("progress 10% of a very long line");
    console.Line("a line");
    console.Live("");
    console.Line("another");
  }
  std::fclose(out);
  const std::string text(buffer, size);
  std::free(buffer);
  EXPECT_EQ(text,
            "progress 10% of a v"  // cut to the terminal's width
            "\r\033[Ka line\nprogress 10% of a v\r\033[Kanother\n");
}

TEST(ConsoleTest, WithoutATerminalThereIsNoLiveLine) {
  char* buffer = nullptr;
  size_t size = 0;
  FILE* out = open_memstream(&buffer, &size);
  {
    Console console(out, false, false, false, 80);
    console.Live("progress");
    console.Line("a line");
  }
  std::fclose(out);
  EXPECT_EQ(std::string(buffer, size), "a line\n");
  std::free(buffer);
}

TEST(ConsoleTest, ControlCharactersAreShownNeverActedOnAndOnlyItsOwnColoursPass) {
  EXPECT_EQ(Visible("a\x1B[2Jb\x1B]52;c;aGk=\x07"), "a\\x1B[2Jb\\x1B]52;c;aGk=\\x07");
  EXPECT_EQ(Visible("1\n2\r3\t4\x7F"), "1\\n2\\r3\\t4\\x7F");
  EXPECT_EQ(Visible("\xC2\x9B"
                    "6n"),
            "\\u009B6n");  // the one-character CSI
  EXPECT_EQ(Visible("\xFF\xC3<"), "\\xFF\\xC3<");
  EXPECT_EQ(Visible("\xC3\xA9tiquette \xE3\x83\xA9 \\x41"), "\xC3\xA9tiquette \xE3\x83\xA9 \\x41");
  EXPECT_EQ(Visible(std::string("a\0b", 3)), "a\\x00b");

  // What reaches the console from elsewhere is shown too; its own colours still paint.
  char* buffer = nullptr;
  size_t size = 0;
  FILE* out = open_memstream(&buffer, &size);
  {
    Console console(out, true, true, false, 80);
    console.Line(console.Paint(Style::Error, "x") +
                 "\x1B[1A\x9B"
                 "1Aforged\nline");
    console.Prompt("\x1B[2Jkey? ");
  }
  std::fclose(out);
  EXPECT_EQ(std::string(buffer, size),
            "\x1B[1;31mx\x1B[0m\\x1B[1A\\x9B1Aforged\\nline\n\\x1B[2Jkey? ");
  std::free(buffer);
}

TEST(NonAsciiPrinterTest, SettingsOfAPrinterWithAnAccentedNameAreKeptUnderItsName) {
  const std::string work = MakeWorkFolder();
  const Scenario scenario = ParseScenario(
      R"({"printer": {"name": "Étiquettes Müller"}, "jobs": [{"labels": 2,
          "expect": {"outcome": "printed", "print_counter": 2}}]})",
      "accents.json");
  RunListener listener;
  const RunReport report = RunScenario(scenario, RunOptions{}, work, listener);
  EXPECT_TRUE(report.Ok());
  EXPECT_TRUE(std::filesystem::exists(std::filesystem::path(work) / "appdata" / "VMT" / "Drivers" /
                                      "Étiquettes Müller" / "Étiquettes Müller.ini"));
  std::filesystem::remove_all(work);
}

}  // namespace
}  // namespace langmon_sim
