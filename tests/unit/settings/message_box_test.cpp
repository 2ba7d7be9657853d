#include <string>
#include <vector>

#include "settings/message_box.h"
#include "tests/support/monitor_test.h"

namespace langmon_test {
namespace {

using MessageBoxTest = MonitorTest;

const std::u16string kNoCommunicationText =
    u"Unable to communicate with the printer.\n\nYou must cancel the print job, connect and "
    u"power the printer, and try to send the job again";

LPCWSTR Id(unsigned id) { return MAKEINTRESOURCEW(id); }

TEST_F(MessageBoxTest, ShowsTheTextOfAStringIdWithTheCallersCaptionAndType) {
  host::QueueAnswers({IDOK});
  EXPECT_EQ(OemPtrMessageBox(nullptr, Id(455), WSTR("Label A"), 0x1010), IDOK);

  const auto boxes = host::MessageBoxes();
  ASSERT_EQ(boxes.size(), 1u);
  EXPECT_EQ(boxes[0].textId, 455u);
  EXPECT_EQ(boxes[0].text, kNoCommunicationText);
  EXPECT_EQ(boxes[0].caption, u"Label A");
  EXPECT_EQ(boxes[0].type, 0x1010u);
  EXPECT_TRUE(LogLines().empty());
}

TEST_F(MessageBoxTest, CaptionCanBeAStringIdALiteralOrNothing) {
  struct Case {
    LPCWSTR caption;
    std::u16string shown;
  };
  const Case cases[] = {
      {Id(411), u"Language Monitor"},
      {WSTR("Label A"), u"Label A"},
      {nullptr, u""},
  };
  for (const Case& c : cases) {
    host::ClearMessageBoxes();
    OemPtrMessageBox(nullptr, Id(472), c.caption, 0x1000);
    ASSERT_EQ(host::MessageBoxes().size(), 1u);
    EXPECT_EQ(host::MessageBoxes()[0].caption, c.shown);
  }
}

TEST_F(MessageBoxTest, QuietModeShowsNothingAndAnswersZero) {
  fShowUI = FALSE;
  host::SetFixedAnswer(IDYES);
  EXPECT_EQ(OemPtrMessageBox(nullptr, Id(470), WSTR("Label A"), 0x1034), 0);
  EXPECT_TRUE(host::MessageBoxes().empty());
  EXPECT_TRUE(LogLines().empty());
}

TEST_F(MessageBoxTest, MissingTextIsLoggedAndNeverShown) {
  host::SetFixedAnswer(IDOK);
  const std::vector<std::string> unableToDisplay = {
      Error("OemPtrMessageBox(): failed to load string!\n"),
      Error("OemPtrMessageBox() unable to display MessageBox() \n")};

  // Asked by the alignment flow, but the table has no text for it.
  EXPECT_EQ(OemPtrMessageBox(nullptr, Id(422), WSTR("Label A"), 0x1010), 0);
  EXPECT_EQ(LogLines(), unableToDisplay);

  ClearLog();
  EXPECT_EQ(OemPtrMessageBox(nullptr, nullptr, WSTR("Label A"), 0x1010), 0);
  EXPECT_EQ(LogLines(), (std::vector<std::string>{
                            Error("OemPtrMessageBox(): NULL pointer!\n"),
                            Error("OemPtrMessageBox() unable to display MessageBox() \n")}));

  EXPECT_TRUE(host::MessageBoxes().empty());
}

TEST_F(MessageBoxTest, MissingCaptionIsLoggedAndTheBoxStillShown) {
  host::SetFixedAnswer(IDOK);
  EXPECT_EQ(OemPtrMessageBox(nullptr, Id(443), Id(422), 0x1010), IDOK);
  ASSERT_EQ(host::MessageBoxes().size(), 1u);
  EXPECT_EQ(host::MessageBoxes()[0].caption, u"");
  EXPECT_EQ(
      LogLines(),
      (std::vector<std::string>{Error("OemPtrMessageBox(): failed to load title string!\n")}));
}

}  // namespace
}  // namespace langmon_test
