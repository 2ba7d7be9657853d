// lstr*, WideCharToMultiByte, LoadStringW and MessageBoxW.
#include <cstring>
#include <string>

#include "platform_fixture.h"
#include "resources/resource_ids.h"
#include "resources/string_table.h"

namespace {

using StringsTest = PlatformTest;
using ResourcesTest = PlatformTest;
using MessageBoxTest = PlatformTest;

TEST_F(StringsTest, Lengths) {
  EXPECT_EQ(lstrlenA(nullptr), 0);
  EXPECT_EQ(lstrlenW(nullptr), 0);
  EXPECT_EQ(lstrlenA("abc"), 3);
  EXPECT_EQ(lstrlenW(u"abcd"), 4);
}

TEST_F(StringsTest, CompareIgnoresCase) {
  EXPECT_EQ(lstrcmpiW(u"Installed Memory", u"INSTALLED memory"), 0);
  EXPECT_EQ(lstrcmpiW(u"\u00c4rger \u00d6l", u"\u00e4RGER \u00f6L"), 0);  // Latin-1
  EXPECT_LT(lstrcmpiW(u"abc", u"ABD"), 0);
  EXPECT_GT(lstrcmpiW(u"abd", u"ABC"), 0);
  EXPECT_LT(lstrcmpiW(u"ab", u"ABC"), 0);
  EXPECT_GT(lstrcmpiW(u"VELMORAX", u"velmora"), 0);
  EXPECT_GT(lstrcmpiW(u"ABC", u"ab"), 0);
  EXPECT_GT(lstrcmpiW(u"ab\u00c4", u"AB"), 0);
  // Ordered by the folded units: 'B' folds above 'a', and '_' below 'a' though above 'A'.
  EXPECT_LT(lstrcmpiW(u"a", u"B"), 0);
  EXPECT_GT(lstrcmpiW(u"B", u"a"), 0);
  EXPECT_LT(lstrcmpiW(u"_", u"A"), 0);
  EXPECT_LT(lstrcmpiW(u"\u00c4", u"\u00f6"), 0);
  EXPECT_EQ(lstrcmpiW(nullptr, nullptr), 0);
  EXPECT_LT(lstrcmpiW(nullptr, u"a"), 0);
  EXPECT_GT(lstrcmpiW(u"a", nullptr), 0);
}

TEST_F(StringsTest, CopyAndConcatenate) {
  char16_t wide[32];
  EXPECT_EQ(lstrcpyW(wide, u"C:\\dir"), wide);
  EXPECT_EQ(lstrcatW(wide, u"\\file.ini"), wide);
  EXPECT_EQ(std::u16string(wide), u"C:\\dir\\file.ini");
  char narrow[32];
  EXPECT_EQ(lstrcpyA(narrow, "temp"), narrow);
  EXPECT_EQ(lstrcatA(narrow, "\\log"), narrow);
  EXPECT_STREQ(narrow, "temp\\log");
}

TEST_F(StringsTest, WideCharToMultiByteConventions) {
  const char16_t* text = u"caf\u00e9";  // 4 characters, 5 bytes in UTF-8
  EXPECT_EQ(WideCharToMultiByte(CP_ACP, 0, text, -1, nullptr, 0, nullptr, nullptr), 6);
  EXPECT_EQ(WideCharToMultiByte(CP_UTF8, 0, text, 4, nullptr, 0, nullptr, nullptr), 5);
  char buffer[16];
  std::memset(buffer, 'Z', sizeof(buffer));
  EXPECT_EQ(WideCharToMultiByte(CP_ACP, 0, text, -1, buffer, sizeof(buffer), nullptr, nullptr), 6);
  EXPECT_STREQ(buffer, "caf\xC3\xA9");
  std::memset(buffer, 'Z', sizeof(buffer));
  EXPECT_EQ(WideCharToMultiByte(CP_UTF8, 0, text, 3, buffer, sizeof(buffer), nullptr, nullptr), 3);
  EXPECT_EQ(buffer[3], 'Z');  // an explicit length gets no NUL
  SetLastError(0);
  EXPECT_EQ(WideCharToMultiByte(CP_ACP, 0, text, -1, buffer, 5, nullptr, nullptr), 0);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));
  BOOL usedDefault = TRUE;
  EXPECT_EQ(WideCharToMultiByte(CP_ACP, 0, u"x", -1, buffer, 4, nullptr, &usedDefault), 2);
  EXPECT_FALSE(usedDefault);
  EXPECT_EQ(WideCharToMultiByte(CP_ACP, 0, nullptr, -1, buffer, 4, nullptr, nullptr), 0);
  // Text after a run of ASCII: a pair of surrogates is one character, a lone one U+FFFD.
  EXPECT_EQ(WideCharToMultiByte(CP_UTF8, 0,
                                u"ab\U0001F600c\xD800"
                                u"d",
                                -1, buffer, sizeof(buffer), nullptr, nullptr),
            12);
  EXPECT_STREQ(buffer,
               "ab\xF0\x9F\x98\x80"
               "c\xEF\xBF\xBD"
               "d");
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
}

TEST_F(ResourcesTest, LoadStringCopiesAndCuts) {
  char16_t buffer[320];
  const int length = LoadStringW(host::MonitorModule(), IDS_MONITOR_CAPTION, buffer, 320);
  EXPECT_EQ(length, 16);
  EXPECT_EQ(std::u16string(buffer), u"Language Monitor");
  EXPECT_EQ(LoadStringW(nullptr, IDS_ALIGN_FILE_COLOR, buffer, 15), 12);
  EXPECT_EQ(std::u16string(buffer), u"VM_Al250.PRN");

  EXPECT_EQ(LoadStringW(host::MonitorModule(), IDS_MONITOR_CAPTION, buffer, 9), 8);
  EXPECT_EQ(std::u16string(buffer), u"Language");  // cut to 8 plus the NUL
}

TEST_F(ResourcesTest, MissingTextsAndForeignModules) {
  char16_t buffer[50] = u"unchanged";
  SetLastError(0);
  EXPECT_EQ(LoadStringW(host::MonitorModule(), IDS_ALIGN_FAILED, buffer, 50), 0);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_RESOURCE_NAME_NOT_FOUND));
  HINSTANCE__ other{};
  EXPECT_EQ(LoadStringW(&other, IDS_MONITOR_CAPTION, buffer, 50), 0);
}

TEST_F(ResourcesTest, ZeroLengthBufferGivesAReadOnlyPointer) {
  const char16_t* text = nullptr;
  const int length =
      LoadStringW(host::MonitorModule(), IDS_MONITOR_CAPTION, reinterpret_cast<LPWSTR>(&text), 0);
  EXPECT_EQ(length, 16);
  ASSERT_NE(text, nullptr);
  EXPECT_EQ(std::u16string(text, 16), u"Language Monitor");
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
