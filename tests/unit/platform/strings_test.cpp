// lstr*, WideCharToMultiByte and LoadStringW.
#include <cstring>
#include <string>

#include "platform_fixture.h"
#include "resources/resource_ids.h"

namespace {

using StringsTest = PlatformTest;
using ResourcesTest = PlatformTest;

TEST_F(StringsTest, Lengths) {
  EXPECT_EQ(lstrlenA(nullptr), 0);
  EXPECT_EQ(lstrlenW(nullptr), 0);
  EXPECT_EQ(lstrlenA("abc"), 3);
  EXPECT_EQ(lstrlenW(WSTR("abcd")), 4);
}

TEST_F(StringsTest, CompareIgnoresCase) {
  EXPECT_EQ(lstrcmpiW(WSTR("Installed Memory"), WSTR("INSTALLED memory")), 0);
  EXPECT_EQ(lstrcmpiW(WSTR("\u00c4rger \u00d6l"), WSTR("\u00e4RGER \u00f6L")), 0);  // Latin-1
  EXPECT_LT(lstrcmpiW(WSTR("abc"), WSTR("ABD")), 0);
  EXPECT_GT(lstrcmpiW(WSTR("abd"), WSTR("ABC")), 0);
  EXPECT_LT(lstrcmpiW(WSTR("ab"), WSTR("ABC")), 0);
  EXPECT_GT(lstrcmpiW(WSTR("VELMORAX"), WSTR("velmora")), 0);
  EXPECT_GT(lstrcmpiW(WSTR("ABC"), WSTR("ab")), 0);
  EXPECT_GT(lstrcmpiW(WSTR("ab\u00c4"), WSTR("AB")), 0);
  // Ordered by the folded units: 'B' folds above 'a', and '_' below 'a' though above 'A'.
  EXPECT_LT(lstrcmpiW(WSTR("a"), WSTR("B")), 0);
  EXPECT_GT(lstrcmpiW(WSTR("B"), WSTR("a")), 0);
  EXPECT_LT(lstrcmpiW(WSTR("_"), WSTR("A")), 0);
  EXPECT_LT(lstrcmpiW(WSTR("\u00c4"), WSTR("\u00f6")), 0);
  EXPECT_EQ(lstrcmpiW(nullptr, nullptr), 0);
  EXPECT_LT(lstrcmpiW(nullptr, WSTR("a")), 0);
  EXPECT_GT(lstrcmpiW(WSTR("a"), nullptr), 0);
}

TEST_F(StringsTest, CopyAndConcatenate) {
  WCHAR wide[32];
  EXPECT_EQ(lstrcpyW(wide, WSTR("C:\\dir")), wide);
  EXPECT_EQ(lstrcatW(wide, WSTR("\\file.ini")), wide);
  EXPECT_EQ(WideString(wide), WSTR("C:\\dir\\file.ini"));
  char narrow[32];
  EXPECT_EQ(lstrcpyA(narrow, "temp"), narrow);
  EXPECT_EQ(lstrcatA(narrow, "\\log"), narrow);
  EXPECT_STREQ(narrow, "temp\\log");
}

// The ANSI code page is the machine's (see strings_host_test.cpp): only ASCII is pinned for it.
TEST_F(StringsTest, WideCharToMultiByteConventions) {
  const WCHAR* text = WSTR("caf\u00e9");  // 4 characters, 5 bytes in UTF-8
  EXPECT_EQ(WideCharToMultiByte(CP_UTF8, 0, text, -1, nullptr, 0, nullptr, nullptr), 6);
  EXPECT_EQ(WideCharToMultiByte(CP_UTF8, 0, text, 4, nullptr, 0, nullptr, nullptr), 5);
  char buffer[16];
  std::memset(buffer, 'Z', sizeof(buffer));
  EXPECT_EQ(WideCharToMultiByte(CP_UTF8, 0, text, -1, buffer, sizeof(buffer), nullptr, nullptr), 6);
  EXPECT_STREQ(buffer, "caf\xC3\xA9");
  std::memset(buffer, 'Z', sizeof(buffer));
  EXPECT_EQ(WideCharToMultiByte(CP_UTF8, 0, text, 3, buffer, sizeof(buffer), nullptr, nullptr), 3);
  EXPECT_EQ(buffer[3], 'Z');  // an explicit length gets no NUL
  SetLastError(0);
  EXPECT_EQ(WideCharToMultiByte(CP_UTF8, 0, text, -1, buffer, 5, nullptr, nullptr), 0);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));

  EXPECT_EQ(WideCharToMultiByte(CP_ACP, 0, WSTR("USB001"), -1, buffer, 7, nullptr, nullptr), 7);
  EXPECT_STREQ(buffer, "USB001");
  BOOL usedDefault = TRUE;
  EXPECT_EQ(WideCharToMultiByte(CP_ACP, 0, WSTR("x"), -1, buffer, 4, nullptr, &usedDefault), 2);
  EXPECT_FALSE(usedDefault);
  SetLastError(0);
  EXPECT_EQ(WideCharToMultiByte(CP_ACP, 0, nullptr, -1, buffer, 4, nullptr, nullptr), 0);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
  // Text after a run of ASCII: a pair of surrogates is one character, a lone one U+FFFD.
  EXPECT_EQ(WideCharToMultiByte(CP_UTF8, 0, WSTR("ab\U0001F600c\xD800") WSTR("d"), -1, buffer,
                                sizeof(buffer), nullptr, nullptr),
            12);
  EXPECT_STREQ(buffer,
               "ab\xF0\x9F\x98\x80"
               "c\xEF\xBF\xBD"
               "d");
}

// UTF-8 has no default character: asking whether one was used is an error.
TEST_F(StringsTest, Utf8TakesNoDefaultCharacter) {
  if (UnderWine()) {
    GTEST_SKIP() << "Wine 8's WideCharToMultiByte accepts lpUsedDefaultChar with CP_UTF8, which "
                    "Windows refuses with ERROR_INVALID_PARAMETER";
  }
  char buffer[4];
  BOOL usedDefault = TRUE;
  SetLastError(0);
  EXPECT_EQ(WideCharToMultiByte(CP_UTF8, 0, WSTR("x"), -1, buffer, 4, nullptr, &usedDefault), 0);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
  SetLastError(0);
  EXPECT_EQ(WideCharToMultiByte(CP_UTF8, 0, WSTR("x"), -1, buffer, 4, "?", nullptr), 0);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
}

TEST_F(ResourcesTest, LoadStringCopiesAndCuts) {
  WCHAR buffer[320];
  const int length = LoadStringW(ResourceModule(), IDS_MONITOR_CAPTION, buffer, 320);
  EXPECT_EQ(length, 16);
  EXPECT_EQ(WideString(buffer), WSTR("Language Monitor"));
  EXPECT_EQ(LoadStringW(nullptr, IDS_ALIGN_FILE_COLOR, buffer, 15), 12);
  EXPECT_EQ(WideString(buffer), WSTR("VM_Al250.PRN"));

  EXPECT_EQ(LoadStringW(ResourceModule(), IDS_MONITOR_CAPTION, buffer, 9), 8);
  EXPECT_EQ(WideString(buffer), WSTR("Language"));  // cut to 8 plus the NUL
}

// Texts are stored in blocks of sixteen IDs: a text missing from a block is empty, one whose
// whole block is missing is an error.
TEST_F(ResourcesTest, MissingTexts) {
  WCHAR buffer[50] = WSTR("unchanged");
  SetLastError(0);
  EXPECT_EQ(LoadStringW(ResourceModule(), IDS_ALIGN_FAILED, buffer, 50), 0);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SUCCESS));
  EXPECT_EQ(buffer[0], 0);
  EXPECT_EQ(LoadStringW(ResourceModule(), 480, buffer, 50), 0);  // past every block of texts
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_RESOURCE_NAME_NOT_FOUND));
}

TEST_F(ResourcesTest, ZeroLengthBufferGivesAReadOnlyPointer) {
  const WCHAR* text = nullptr;
  const int length =
      LoadStringW(ResourceModule(), IDS_MONITOR_CAPTION, reinterpret_cast<LPWSTR>(&text), 0);
  EXPECT_EQ(length, 16);
  ASSERT_NE(text, nullptr);
  EXPECT_EQ(WideString(text, 16), WSTR("Language Monitor"));
}

}  // namespace
