// The owners a host plants with the control panel, and the user it makes the process run as.
#include <cstring>
#include <string>

#include "platform_fixture.h"

namespace {

class FileOwnersHostTest : public PlatformTest {
 protected:
  // The owner of the file at path as its SID's text of authority and sub-authorities.
  std::string OwnerOf(const std::string& name) const {
    const HANDLE file = CreateFileW(WidePath(name).c_str(), READ_CONTROL, FILE_SHARE_READ, nullptr,
                                    OPEN_EXISTING, 0, nullptr);
    alignas(void*) BYTE descriptor[256];
    DWORD needed = 0;
    PSID owner = nullptr;
    BOOL defaulted = FALSE;
    const bool read = file != INVALID_HANDLE_VALUE &&
                      GetKernelObjectSecurity(file, OWNER_SECURITY_INFORMATION, descriptor,
                                              sizeof(descriptor), &needed) &&
                      GetSecurityDescriptorOwner(descriptor, &owner, &defaulted) && owner;
    CloseHandle(file);
    if (!read) return "?";
    const BYTE* sid = static_cast<const BYTE*>(owner);
    std::string text = "S-1-" + std::to_string(sid[7]);
    for (int i = 0; i < sid[1]; ++i) {
      DWORD sub = 0;
      std::memcpy(&sub, sid + 8 + 4 * i, sizeof(sub));
      text += "-" + std::to_string(sub);
    }
    return text;
  }
};

TEST_F(FileOwnersHostTest, PlantedOwnersStayWithTheFileUntilItGoes) {
  WriteText(Path("theirs.txt"), "x");
  EXPECT_EQ(OwnerOf("theirs.txt"), host::kDefaultProcessUser);
  ASSERT_TRUE(host::SetFileOwner(Path("theirs.txt"), host::kOtherUser));
  EXPECT_EQ(OwnerOf("theirs.txt"), host::kOtherUser);
  EXPECT_FALSE(host::SetFileOwner(Path("theirs.txt"), "S-1-5-x"));
  EXPECT_FALSE(host::SetFileOwner(Path("missing.txt"), host::kOtherUser));

  // Under the spooler: SYSTEM; the file the host gave away stays another's.
  host::SetProcessUser("S-1-5-18");
  HANDLE token = nullptr;
  ASSERT_TRUE(OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token));
  alignas(void*) BYTE user[64];
  DWORD needed = 0;
  ASSERT_TRUE(GetTokenInformation(token, TokenUser, user, sizeof(user), &needed));
  EXPECT_TRUE(IsWellKnownSid(reinterpret_cast<TOKEN_USER*>(user)->User.Sid, WinLocalSystemSid));
  EXPECT_EQ(host::OpenTokens(), 1);
  CloseHandle(token);
  EXPECT_EQ(OwnerOf("theirs.txt"), host::kOtherUser);

  // Deleted and made again, by the process, with the same inode or not: the process's.
  ASSERT_TRUE(DeleteFileW(WidePath("theirs.txt").c_str()));
  const HANDLE made = CreateFileW(WidePath("theirs.txt").c_str(), GENERIC_WRITE, 0, nullptr,
                                  CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
  CloseHandle(made);
  EXPECT_EQ(OwnerOf("theirs.txt"), "S-1-5-18");

  ASSERT_TRUE(host::SetFileOwner(Path("theirs.txt"), "S-1-5-32-544"));
  host::Reset();
  EXPECT_EQ(OwnerOf("theirs.txt"), host::kDefaultProcessUser);
  EXPECT_EQ(host::OpenTokens(), 0);
}

}  // namespace
