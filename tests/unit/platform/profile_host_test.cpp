// The stand-ins' profile files are UTF-8, their ANSI code page: names beyond ASCII fold as
// Windows folds them in that code page (Wine reads such files in code page 1252).
#include "platform_fixture.h"

namespace {

class ProfileHostTest : public PlatformTest {};

TEST_F(ProfileHostTest, NamesBeyondAsciiFoldInTheUtf8CodePage) {
  WriteText(Path("printer.ini"), "[Z\xC3\xA4hler]\n\xC3\x84rger=4\nPrint=5\n");
  const WideString file = WidePath("printer.ini");
  EXPECT_EQ(GetPrivateProfileIntW(WSTR("z\u00c4HLER"), WSTR("\u00e4RGER"), 77, file.c_str()), 4u);
  EXPECT_EQ(GetPrivateProfileIntW(WSTR("Z\u00e4hler"), WSTR("PRINT"), 77, file.c_str()), 5u);
  EXPECT_EQ(GetPrivateProfileIntW(WSTR("Zahler"), WSTR("Print"), 77, file.c_str()), 77u);
}

}  // namespace
