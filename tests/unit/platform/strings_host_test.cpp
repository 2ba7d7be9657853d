// MessageBoxW's answers and records, LoadStringW for modules other than the monitor's, and the
// ANSI code page the stand-ins have.
#include <cstring>
#include <string>

#include "platform_fixture.h"
#include "resources/resource_ids.h"

namespace {

using MessageBoxTest = PlatformTest;
using ResourcesHostTest = PlatformTest;
using StringsHostTest = PlatformTest;

// Every ANSI code page is UTF-8 here, as on a Windows set to use UTF-8 for ANSI (the default one
// of an English Windows, and of Wine, is 1252).
TEST_F(StringsHostTest, TheAnsiCodePageIsUtf8) {
  const char16_t* text = u"caf\u00e9";
  EXPECT_EQ(WideCharToMultiByte(CP_ACP, 0, text, -1, nullptr, 0, nullptr, nullptr), 6);
  char buffer[16];
  std::memset(buffer, 'Z', sizeof(buffer));
  EXPECT_EQ(WideCharToMultiByte(CP_ACP, 0, text, -1, buffer, sizeof(buffer), nullptr, nullptr), 6);
  EXPECT_STREQ(buffer, "caf\xC3\xA9");
  SetLastError(0);
  EXPECT_EQ(WideCharToMultiByte(CP_ACP, 0, text, -1, buffer, 5, nullptr, nullptr), 0);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));
}

TEST_F(ResourcesHostTest, OnlyTheMonitorsModuleHasItsTexts) {
  char16_t buffer[50] = u"unchanged";
  HINSTANCE__ other{};
  EXPECT_EQ(LoadStringW(&other, IDS_MONITOR_CAPTION, buffer, 50), 0);
  EXPECT_EQ(LoadStringW(nullptr, IDS_MONITOR_CAPTION, buffer, 50), 16);
}

TEST_F(MessageBoxTest, AnswersComeFromTheQueueThenTheAnswererThenTheFixedAnswer) {
  EXPECT_EQ(MessageBoxW(nullptr, u"plain", u"caption", MB_OK), 0);  // nobody answers: 0
  host::SetFixedAnswer(IDOK);
  host::QueueAnswers({IDYES, IDNO});
  host::SetAnswerer([](const host::MessageBoxRecord& box) {
    return (box.type & MB_TYPEMASK) == MB_OKCANCEL ? IDCANCEL : IDRETRY;
  });
  EXPECT_EQ(MessageBoxW(nullptr, u"a", u"c", MB_YESNO), IDYES);
  EXPECT_EQ(MessageBoxW(nullptr, u"b", u"c", MB_YESNO), IDNO);
  EXPECT_EQ(MessageBoxW(nullptr, u"c", u"c", MB_OKCANCEL), IDCANCEL);
  host::SetAnswerer(nullptr);
  EXPECT_EQ(MessageBoxW(nullptr, u"d", u"c", MB_OKCANCEL), IDOK);
  const auto boxes = host::MessageBoxes();
  ASSERT_EQ(boxes.size(), 5u);
  EXPECT_EQ(boxes[1].answer, IDYES);
  EXPECT_EQ(boxes[3].text, u"c");
  EXPECT_EQ(boxes[3].type, static_cast<UINT>(MB_OKCANCEL));
  host::ClearMessageBoxes();
  EXPECT_TRUE(host::MessageBoxes().empty());
}

TEST_F(MessageBoxTest, TextIdIsFoundAlsoForACutText) {
  char16_t text[320];
  LoadStringW(host::MonitorModule(), IDS_NO_COMMUNICATION, text, 320);
  MessageBoxW(nullptr, text, u"Printer", MB_SYSTEMMODAL | MB_ICONHAND | MB_OK);
  LoadStringW(host::MonitorModule(), IDS_INK_LOW, text, 30);  // cut to 29 characters
  MessageBoxW(nullptr, text, u"Printer", MB_YESNO);
  MessageBoxW(nullptr, u"Not from the table", u"Printer", MB_OK);
  const auto boxes = host::MessageBoxes();
  ASSERT_EQ(boxes.size(), 3u);
  EXPECT_EQ(boxes[0].textId, static_cast<unsigned>(IDS_NO_COMMUNICATION));
  EXPECT_EQ(boxes[0].caption, u"Printer");
  EXPECT_EQ(boxes[0].type, static_cast<UINT>(0x1010));
  EXPECT_EQ(boxes[1].textId, static_cast<unsigned>(IDS_INK_LOW));
  EXPECT_EQ(boxes[2].textId, 0u);
}

TEST_F(MessageBoxTest, ResetClearsAnswersAndRecords) {
  host::QueueAnswers({IDYES});
  host::SetFixedAnswer(IDOK);
  MessageBoxW(nullptr, u"x", u"y", MB_OK);
  host::Reset();
  EXPECT_TRUE(host::MessageBoxes().empty());
  EXPECT_EQ(MessageBoxW(nullptr, u"x", u"y", MB_OK), 0);
}

}  // namespace
