// The real DLL's log file when a user made it first. Wine tells a file of another Unix user as
// owned by another account, so the test gives the file away with the Unix chown, which Wine runs
// for a Windows program; where that cannot be done (not run as root) the test is skipped.
#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <string>

#include "tests/wine/debug_output.h"
#include "tests/wine/host.h"

namespace {

constexpr char kTheirs[] = "a user's own file\n";
constexpr DWORD kNobody = 65534;

std::string ReadLog() {
  std::ifstream file(LogFilePath(), std::ios::binary);
  return {std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
}

// Whether the file's owner is this process's user.
bool OwnedByMe(const std::string& path) {
  const HANDLE file = CreateFileA(path.c_str(), READ_CONTROL, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                  nullptr, OPEN_EXISTING, 0, nullptr);
  alignas(void*) BYTE descriptor[256];
  alignas(void*) BYTE user[256];
  DWORD needed = 0;
  PSID owner = nullptr;
  BOOL defaulted = FALSE;
  HANDLE token = nullptr;
  const bool mine = GetKernelObjectSecurity(file, OWNER_SECURITY_INFORMATION, descriptor,
                                            sizeof(descriptor), &needed) &&
                    GetSecurityDescriptorOwner(descriptor, &owner, &defaulted) &&
                    owner != nullptr &&
                    OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token) &&
                    GetTokenInformation(token, TokenUser, user, sizeof(user), &needed) &&
                    EqualSid(owner, reinterpret_cast<TOKEN_USER*>(user)->User.Sid);
  CloseHandle(token);
  CloseHandle(file);
  return mine;
}

// Gives the file to another Unix user; the reason when it cannot.
bool GiveAway(const std::string& path, std::string* why) {
  using UnixNameFn = char*(CDECL*)(LPCWSTR);
  const auto unixName = reinterpret_cast<UnixNameFn>(reinterpret_cast<void*>(
      GetProcAddress(GetModuleHandleW(L"kernel32.dll"), "wine_get_unix_file_name")));
  if (unixName == nullptr) {
    *why = "not under Wine";
    return false;
  }
  const std::wstring wide(path.begin(), path.end());
  char* native = unixName(wide.c_str());
  std::string command = "Z:\\bin\\chown " + std::to_string(kNobody) + " \"" + native + "\"";
  HeapFree(GetProcessHeap(), 0, native);
  STARTUPINFOA startup = {};
  startup.cb = sizeof(startup);
  PROCESS_INFORMATION process = {};
  if (!CreateProcessA(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                      &startup, &process)) {
    *why = "chown could not be started: error " + std::to_string(GetLastError());
    return false;
  }
  CloseHandle(process.hThread);
  CloseHandle(process.hProcess);
  // Wine's handle of a Unix program does not wait for it: the owner is watched instead.
  for (int i = 0; i < 100 && OwnedByMe(path); ++i) {
    Sleep(50);
  }
  if (OwnedByMe(path)) {
    *why = "chown could not give the file away (the tests do not run as root)";
    return false;
  }
  return true;
}

TEST(LogFileOwner, ALogFileAUserMadeFirstIsLeftAlone) {
  DeleteFileA(LogFilePath().c_str());
  std::ofstream(LogFilePath(), std::ios::binary) << kTheirs;
  ASSERT_TRUE(OwnedByMe(LogFilePath())) << "the monitor's own files must count as its own";
  std::string why;
  if (!GiveAway(LogFilePath(), &why)) {
    DeleteFileA(LogFilePath().c_str());
    GTEST_SKIP() << why;
  }
  {
    DebugOutput output;
    for (int i = 0; i < 3; ++i) {
      Monitor().InitializePrintMonitor(nullptr);  // two lines at level 3, and nothing else
    }
    EXPECT_EQ(output.Count("VMT_LM_10[INFORM] **** LANGMON: Initialize Print Monitor Called\n"),
              3u);
    char temp[MAX_PATH];
    const std::string told =
        "VMT_LM_10[* WARNING *] LogToFile(): " + std::string(temp, GetTempPathA(MAX_PATH, temp)) +
        "\\VelmoraLMDrv.dbg belongs to another user, not written; the log "
        "goes to the debugger output only\n";
    EXPECT_EQ(output.Count(told), 1u) << told;
  }
  EXPECT_EQ(ReadLog(), kTheirs);

  // Gone: the next line makes the monitor's own file.
  ASSERT_TRUE(DeleteFileA(LogFilePath().c_str()));
  Monitor().InitializePrintMonitor(nullptr);
  EXPECT_NE(ReadLog().find("Initialize Print Monitor Called"), std::string::npos);
}

}  // namespace
