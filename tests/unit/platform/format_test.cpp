// wvsprintfA / wsprintfA: the Windows conventions the log relies on.
#include <cstring>
#include <string>

#include "platform_fixture.h"

namespace {

std::string Format(const char* format, ...) {
  char buffer[1100];
  va_list args;
  va_start(args, format);
  const int written = wvsprintfA(buffer, format, args);
  va_end(args);
  EXPECT_EQ(written, static_cast<int>(std::strlen(buffer)));
  return buffer;
}

TEST(Format, LongSizePrefixReadsThirtyTwoBitArguments) {
  const LONG negative = -7;
  const DWORD large = 4000000000u;
  const DWORD bits = 0xDEADBEEF;
  EXPECT_EQ(Format("%ld", negative), "-7");
  EXPECT_EQ(Format("%lu", large), "4000000000");
  EXPECT_EQ(Format("%lx %lX", bits, bits), "deadbeef DEADBEEF");
  // Past the register arguments too, where every argument has a slot of its own.
  EXPECT_EQ(Format("%ld %ld %ld %ld %ld %ld %lu %ld %lx|%s", negative, negative, negative, negative,
                   negative, negative, large, negative, bits, "end"),
            "-7 -7 -7 -7 -7 -7 4000000000 -7 deadbeef|end");
}

TEST(Format, IntegersAndTheirSigns) {
  EXPECT_EQ(Format("%d %i %u", -5, 42, 7u), "-5 42 7");
  EXPECT_EQ(Format("%u", -1), "4294967295");
  EXPECT_EQ(Format("%d", static_cast<int>(0x80000000u)), "-2147483648");
  EXPECT_EQ(Format("%x %X", 255, 255), "ff FF");
}

TEST(Format, WidthPrecisionAndFlags) {
  EXPECT_EQ(Format("%.8x", 0x1234), "00001234");
  EXPECT_EQ(Format("%02u", 7u), "07");
  EXPECT_EQ(Format("%03u", 7u), "007");
  EXPECT_EQ(Format("%02u", 123u), "123");
  EXPECT_EQ(Format("[%5d][%-5d]", 42, 42), "[   42][42   ]");
  EXPECT_EQ(Format("%05d", -42), "-0042");
  EXPECT_EQ(Format("[%10.5u][%-10.5u]", 42u, 42u), "[     00042][00042     ]");
  EXPECT_EQ(Format("%-05d|", 3), "3    |");  // '-' wins over '0'
  EXPECT_EQ(Format("%#x %#X", 255, 255), "0xff 0XFF");
  EXPECT_EQ(Format("%.0d", 0), "0");  // a precision of 0 is none
}

TEST(Format, WindowsQuirks) {
  // The sign counts towards the precision, the '0' flag pads to the width even with a
  // precision, and the "0x" of '#' stands outside the width.
  EXPECT_EQ(Format("%.3d", -5), "-05");
  EXPECT_EQ(Format("%08.3d", 5), "00000005");
  EXPECT_EQ(Format("%#10x", 255), "        0xff");
  // No '+', ' ' or '*': an unknown conversion prints its character.
  EXPECT_EQ(Format("%+d", 3), "+d");
  EXPECT_EQ(Format("%y"), "y");
}

TEST(Format, CharactersAndStrings) {
  EXPECT_EQ(Format("%c%c", 'o', 'k'), "ok");
  EXPECT_EQ(Format("[%5c][%-3c]", 'A', 'B'), "[    A][B  ]");
  EXPECT_EQ(Format("%s", "hello"), "hello");
  EXPECT_EQ(Format("[%8s][%-8s]", "ab", "ab"), "[      ab][ab      ]");
  EXPECT_EQ(Format("%.3s", "hello"), "hel");
  EXPECT_EQ(Format("%s", static_cast<const char*>(nullptr)), "(null)");
  EXPECT_EQ(Format("%S|%ls", WSTR("wide"), WSTR("text")), "wide|text");
  EXPECT_EQ(Format("100%%"), "100%");
}

TEST(Format, PointerIsUpperCaseHexOfPointerWidth) {
  void* pointer = reinterpret_cast<void*>(static_cast<uintptr_t>(0xABC123));
  std::string expected = "ABC123";
  expected.insert(0, 2 * sizeof(void*) - expected.size(), '0');
  EXPECT_EQ(Format("%p", pointer), expected);
}

TEST(Format, LogTimestamp) {
  EXPECT_EQ(Format("%02u/%02u %02u:%02u:%02u:%03u  ", 3u, 2u, 9u, 5u, 3u, 7u),
            "03/02 09:05:03:007  ");
}

TEST(Format, OutputIsBoundedAt1024CharactersWithTheNul) {
  const std::string longText(2000, 'a');
  char buffer[2100];
  std::memset(buffer, 'Z', sizeof(buffer));
  wsprintfA(buffer, "%s", longText.c_str());
  EXPECT_EQ(std::strlen(buffer), 1023u);
  EXPECT_EQ(buffer[1024], 'Z');  // nothing beyond the bound is touched

  std::memset(buffer, 'Z', sizeof(buffer));
  wsprintfA(buffer, longText.c_str());
  EXPECT_EQ(std::strlen(buffer), 1023u);

  std::memset(buffer, 'Z', sizeof(buffer));
  wsprintfA(buffer, "xy%2000d", 5);
  EXPECT_EQ(buffer[1023], '\0');
  EXPECT_EQ(buffer[1024], 'Z');
}

// The count is of the characters stored, the NUL not counted, also when the output was cut.
TEST(Format, ACutOutputCountsWhatWasStored) {
  if (UnderWine()) {
    GTEST_SKIP() << "Wine 8's wvsprintfA returns 1024 for output cut to 1023 characters and the "
                    "NUL; Windows returns the 1023 stored";
  }
  const std::string longText(2000, 'a');
  char buffer[2100];
  EXPECT_EQ(wsprintfA(buffer, "%s", longText.c_str()), 1023);
  EXPECT_EQ(wsprintfA(buffer, longText.c_str()), 1023);
  EXPECT_EQ(wsprintfA(buffer, "xy%2000d", 5), 1023);
}

TEST(Format, ReturnsTheCountWithoutTheNul) {
  char buffer[64];
  EXPECT_EQ(wsprintfA(buffer, "%s=%lu", "key", static_cast<DWORD>(12)), 6);
  EXPECT_STREQ(buffer, "key=12");
  EXPECT_EQ(wsprintfA(buffer, ""), 0);
  EXPECT_STREQ(buffer, "");
}

}  // namespace
