#include "tools/langmon-sim/transcript.h"

#include <gtest/gtest.h>

#include <cstdio>

#include "tools/langmon-sim/text.h"

namespace langmon_sim {
namespace {

host::MessageBoxRecord Box(unsigned id, const std::u16string& text, UINT type) {
  host::MessageBoxRecord box;
  box.textId = id;
  box.text = text;
  box.caption = u"Label A";
  box.type = type;
  return box;
}

TEST(RenderBoxTest, TextIsWrappedInsideAFrameOfTheGivenWidthWithTheBoxButtons) {
  const host::MessageBoxRecord box = Box(
      469, u"The cartridge is LOW on ink.\nWould you like to change the cartridge now?", 0x1034);
  for (bool unicode : {true, false}) {
    const std::vector<std::string> lines = RenderBox(box, 40, unicode);
    for (const std::string& line : lines) EXPECT_EQ(DisplayWidth(line), 40u) << line;
    EXPECT_NE(lines.front().find(" Label A "), std::string::npos);
    EXPECT_NE(lines.front().find(" box 469 "), std::string::npos);
    EXPECT_NE(lines[1].find("(!) The cartridge is LOW on ink."), std::string::npos);
    EXPECT_NE(lines[2].find("    Would you like to change the"), std::string::npos)
        << "a long line wraps under the text, not under the icon";
    EXPECT_NE(lines[lines.size() - 2].find("[ Yes ]   [ No ]"), std::string::npos);
  }
}

TEST(RenderBoxTest, NumberedStepsKeepTheirIndent) {
  const std::vector<std::string> lines =
      RenderBox(Box(427, u"To change...\n  1. Open the cover", 0x1040), 50, false);
  EXPECT_NE(lines[2].find("      1. Open the cover"), std::string::npos) << lines[2];
  EXPECT_NE(lines[lines.size() - 2].find("[ OK ]"), std::string::npos);
}

TEST(ButtonForKeyTest, LettersNumbersAndEnter) {
  const std::vector<int> yesNoCancel = ButtonsOf(0x1043);
  EXPECT_EQ(yesNoCancel, (std::vector<int>{IDYES, IDNO, IDCANCEL}));
  EXPECT_EQ(ButtonForKey('n', yesNoCancel, std::nullopt), IDNO);
  EXPECT_EQ(ButtonForKey('3', yesNoCancel, std::nullopt), IDCANCEL);
  EXPECT_EQ(ButtonForKey('4', yesNoCancel, std::nullopt), std::nullopt);
  EXPECT_EQ(ButtonForKey('o', yesNoCancel, std::nullopt), std::nullopt) << "no OK button here";
  EXPECT_EQ(ButtonForKey('\n', yesNoCancel, IDNO), IDNO) << "Enter takes the scenario's answer";
  EXPECT_EQ(ButtonForKey('\n', yesNoCancel, IDOK), IDYES) << "...when the box has that button";
  EXPECT_EQ(ButtonForKey('r', ButtonsOf(0x1015), std::nullopt), IDRETRY);
  EXPECT_EQ(ButtonsOf(0x1010), std::vector<int>{IDOK});
}

TEST(LogLineTest, LevelAndTextAreSplitOffThePrefix) {
  std::string level, text;
  SplitLogLine("VMT_LM_10[* WARNING *] -->OUT OF STOCK!!\n", &level, &text);
  EXPECT_EQ(level, "WARNING");
  EXPECT_EQ(text, "-->OUT OF STOCK!!");
  SplitLogLine("raw text\n", &level, &text);
  EXPECT_EQ(level, "");
  EXPECT_EQ(text, "raw text");
}

// A transcript written into memory.
class TranscriptTest : public ::testing::Test {
 protected:
  void SetUp() override {
    out_ = open_memstream(&buffer_, &size_);
    console_ = std::make_unique<Console>(out_, false, false, false, 100);
    TranscriptOptions options;
    options.logLevel = 3;
    transcript_ = std::make_unique<Transcript>(*console_, options);
  }
  void TearDown() override {
    std::fclose(out_);
    std::free(buffer_);
  }
  std::vector<std::string> Output() {
    std::fflush(out_);
    return Lines(std::string(buffer_, size_));
  }

  char* buffer_ = nullptr;
  size_t size_ = 0;
  FILE* out_ = nullptr;
  std::unique_ptr<Console> console_;
  std::unique_ptr<Transcript> transcript_;
};

TEST_F(TranscriptTest, ARepeatedGroupOfLogLinesIsShownOnceWithACount) {
  transcript_->LogLine(0, "VMT_LM_10[INFORM] start\n");
  for (DWORD ms = 0; ms < 1000; ms += 50) {
    transcript_->LogLine(ms, "VMT_LM_10[** ERROR **] wrong length\n");
    transcript_->LogLine(ms, "VMT_LM_10[** ERROR **] expected 116\n");
  }
  transcript_->LogLine(1000, "VMT_LM_10[** ERROR **] wrong length\n");  // half a group
  transcript_->LogLine(1000, "VMT_LM_10[INFORM] TIMED OUT\n");
  transcript_->LogLine(1000, "VMT_LM_10[TRACE] below the level shown\n");
  const std::vector<std::string> lines = Output();
  ASSERT_EQ(lines.size(), 6u);
  EXPECT_NE(lines[1].find("ERROR   wrong length"), std::string::npos) << lines[1];
  EXPECT_NE(lines[2].find("ERROR   expected 116"), std::string::npos);
  EXPECT_NE(lines[3].find("the 2 lines above repeated 19 times, the last at 0.950"),
            std::string::npos)
      << lines[3];
  EXPECT_NE(lines[4].find("wrong length"), std::string::npos);
  EXPECT_NE(lines[5].find("TIMED OUT"), std::string::npos);
}

TEST_F(TranscriptTest, AShortRepeatIsShownAsItCame) {
  transcript_->LogLine(0, "VMT_LM_10[INFORM] a\n");
  transcript_->LogLine(0, "VMT_LM_10[INFORM] b\n");
  transcript_->LogLine(0, "VMT_LM_10[INFORM] a\n");
  transcript_->LogLine(0, "VMT_LM_10[INFORM] b\n");
  transcript_->SpoolerCall(0, "EndDocPort()", "TRUE");
  const std::vector<std::string> lines = Output();
  ASSERT_EQ(lines.size(), 5u);
  EXPECT_NE(lines[2].find("INFORM  a"), std::string::npos);
  EXPECT_NE(lines[3].find("INFORM  b"), std::string::npos);
  EXPECT_NE(lines[4].find("EndDocPort() -> TRUE"), std::string::npos);
}

TEST_F(TranscriptTest, ABoxAnsweredByTheScenarioIsDrawnAndItsAnswerNamed) {
  Question question;
  question.number = 1;
  question.box = Box(436, u"The label stock is empty.", 0x1011);
  transcript_->Answered(4200, question, IDCANCEL, AnswerSource::Scenario, "");
  const std::vector<std::string> lines = Output();
  ASSERT_EQ(lines.size(), 6u);
  EXPECT_NE(lines[1].find("(X) The label stock is empty."), std::string::npos);
  EXPECT_NE(lines[3].find("[ OK ]   [ Cancel ]"), std::string::npos);
  EXPECT_EQ(lines[5].find("    4.200  answer   Cancel (from the scenario)"), 0u) << lines[5];
}

}  // namespace
}  // namespace langmon_sim
