// Sharing as Windows judges it, by the classes of data access: reading or executing, writing or
// appending, deleting; and the profile functions taking part in it as Wine's and Windows' do.
// Win32 calls only.
#include <string>

#include "platform_fixture.h"

namespace {

class SharingByAccessTest : public PlatformTest {
 protected:
  void SetUp() override {
    PlatformTest::SetUp();
    file_ = WidePath("settings.ini");
    WriteText(Path("settings.ini"), "[s]\r\nk=1\r\n");
  }
  HANDLE Open(DWORD access, DWORD share) const {
    return CreateFileW(file_.c_str(), access, share, nullptr, OPEN_EXISTING, 0, nullptr);
  }

  WideString file_;
};

TEST_F(SharingByAccessTest, WriteAppendAndExecuteTakePartLikeReadAndWrite) {
  struct Case {
    DWORD heldAccess, heldShare, access, share;
    bool opens;
  };
  const Case cases[] = {
      {FILE_APPEND_DATA, FILE_SHARE_READ, FILE_WRITE_DATA, kShareAll, false},
      {FILE_APPEND_DATA, FILE_SHARE_READ, FILE_READ_DATA, kShareAll, true},
      {FILE_WRITE_DATA, kShareAll, GENERIC_READ, FILE_SHARE_READ, false},
      {FILE_WRITE_DATA, kShareAll, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, true},
      {FILE_EXECUTE, FILE_SHARE_WRITE, FILE_READ_DATA, kShareAll, false},
      {FILE_READ_DATA, FILE_SHARE_READ, FILE_EXECUTE, kShareAll, true},
      {FILE_READ_DATA, kShareAll, FILE_EXECUTE, FILE_SHARE_WRITE, false},
      {FILE_READ_ATTRIBUTES | READ_CONTROL | SYNCHRONIZE, 0, GENERIC_WRITE, 0, true},
      {GENERIC_WRITE, 0, FILE_READ_ATTRIBUTES, 0, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(::testing::Message() << std::hex << c.heldAccess << "/" << c.heldShare << " then "
                                      << c.access << "/" << c.share);
    const HANDLE held = Open(c.heldAccess, c.heldShare);
    ASSERT_NE(held, INVALID_HANDLE_VALUE);
    const HANDLE second = Open(c.access, c.share);
    EXPECT_EQ(second != INVALID_HANDLE_VALUE, c.opens);
    if (second != INVALID_HANDLE_VALUE) {
      CloseHandle(second);
    } else {
      EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SHARING_VIOLATION));
    }
    CloseHandle(held);
  }

  // Appending alone writes at the end, wherever the handle was.
  const HANDLE appender = Open(FILE_APPEND_DATA, 0);
  ASSERT_NE(appender, INVALID_HANDLE_VALUE);
  DWORD written = 0;
  EXPECT_TRUE(WriteFile(appender, "x", 1, &written, nullptr));
  CloseHandle(appender);
  EXPECT_EQ(ReadText(Path("settings.ini")), "[s]\r\nk=1\r\nx");
}

// A read shares reading, writing and deleting; a write shares reading and writing only. What a
// handle held by another program leaves them: the read's answer (99: its default) and whether
// the write went through.
TEST_F(SharingByAccessTest, TheProfileFunctionsShareAsWindowsOwnDo) {
  struct Case {
    DWORD access, share;
    UINT read;
    bool writes;
  };
  const Case cases[] = {
      {GENERIC_READ, FILE_SHARE_READ, 1, false},
      {GENERIC_READ, 0, 99, false},
      {GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, 1, true},
      {DELETE, kShareAll, 1, false},
      {GENERIC_WRITE, kShareAll, 1, true},
      {FILE_READ_ATTRIBUTES, 0, 1, true},
      {FILE_APPEND_DATA, FILE_SHARE_READ, 1, false},
      {FILE_EXECUTE, FILE_SHARE_WRITE, 99, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(::testing::Message() << std::hex << c.access << "/" << c.share);
    const HANDLE held = Open(c.access, c.share);
    ASSERT_NE(held, INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetPrivateProfileIntW(WSTR("s"), WSTR("k"), 99, file_.c_str()), c.read);
    const BOOL written = WritePrivateProfileStringW(WSTR("s"), WSTR("k"), WSTR("2"), file_.c_str());
    EXPECT_EQ(written != FALSE, c.writes);
    if (!written) {
      EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SHARING_VIOLATION));
    }
    CloseHandle(held);
    EXPECT_EQ(GetPrivateProfileIntW(WSTR("s"), WSTR("k"), 99, file_.c_str()), c.writes ? 2u : 1u);
    ASSERT_TRUE(WritePrivateProfileStringW(WSTR("s"), WSTR("k"), WSTR("1"), file_.c_str()));
  }
}

}  // namespace
