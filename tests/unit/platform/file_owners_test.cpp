// The owner of a file, and the user of the process's token. Win32 calls only.
#include <string>

#include "platform_fixture.h"

namespace {

class FileOwnersTest : public PlatformTest {
 protected:
  // The owner's SID of the file behind the handle, as its bytes; empty when it cannot be read.
  static std::string OwnerOf(HANDLE file) {
    alignas(void*) BYTE descriptor[256];
    DWORD needed = 0;
    PSID owner = nullptr;
    BOOL defaulted = FALSE;
    if (!GetKernelObjectSecurity(file, OWNER_SECURITY_INFORMATION, descriptor, sizeof(descriptor),
                                 &needed) ||
        !GetSecurityDescriptorOwner(descriptor, &owner, &defaulted) || owner == nullptr) {
      return {};
    }
    const BYTE* bytes = static_cast<const BYTE*>(owner);
    return std::string(reinterpret_cast<const char*>(bytes), 8 + 4 * bytes[1]);
  }

  static std::string ProcessUser() {
    HANDLE token = nullptr;
    EXPECT_TRUE(OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token));
    alignas(void*) BYTE buffer[256];
    DWORD needed = 0;
    // Too small a buffer tells the size needed.
    EXPECT_FALSE(GetTokenInformation(token, TokenUser, buffer, 4, &needed));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));
    EXPECT_GT(needed, static_cast<DWORD>(sizeof(TOKEN_USER)));
    EXPECT_TRUE(GetTokenInformation(token, TokenUser, buffer, sizeof(buffer), &needed));
    EXPECT_TRUE(CloseHandle(token));
    const BYTE* sid = static_cast<const BYTE*>(reinterpret_cast<TOKEN_USER*>(buffer)->User.Sid);
    return std::string(reinterpret_cast<const char*>(sid), 8 + 4 * sid[1]);
  }
};

// A file this process makes is its user's; its owner can be read on any handle with a generic
// right or READ_CONTROL, and on no other.
TEST_F(FileOwnersTest, AFileTheProcessMakesBelongsToItsUser) {
  const WideString path = WidePath("made.txt");
  const HANDLE made = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                  FILE_ATTRIBUTE_NORMAL, nullptr);
  ASSERT_NE(made, INVALID_HANDLE_VALUE);
  const std::string user = ProcessUser();
  EXPECT_EQ(OwnerOf(made), user);
  EXPECT_FALSE(IsWellKnownSid(const_cast<char*>(user.data()), WinLocalSystemSid));
  CloseHandle(made);

  const HANDLE control =
      CreateFileW(path.c_str(), READ_CONTROL, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
  ASSERT_NE(control, INVALID_HANDLE_VALUE);
  EXPECT_EQ(OwnerOf(control), user);
  alignas(void*) BYTE small[8];
  DWORD needed = 0;
  EXPECT_FALSE(
      GetKernelObjectSecurity(control, OWNER_SECURITY_INFORMATION, small, sizeof(small), &needed));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));
  EXPECT_GT(needed, static_cast<DWORD>(sizeof(small)));
  CloseHandle(control);

  const HANDLE attributes = CreateFileW(path.c_str(), FILE_READ_ATTRIBUTES, FILE_SHARE_READ,
                                        nullptr, OPEN_EXISTING, 0, nullptr);
  ASSERT_NE(attributes, INVALID_HANDLE_VALUE);
  EXPECT_EQ(OwnerOf(attributes), "");
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
  CloseHandle(attributes);

  std::string other = user;
  other.back() = static_cast<char>(other.back() ^ 1);
  EXPECT_TRUE(EqualSid(const_cast<char*>(user.data()), const_cast<char*>(user.data())));
  EXPECT_FALSE(EqualSid(const_cast<char*>(user.data()), other.data()));
}

}  // namespace
