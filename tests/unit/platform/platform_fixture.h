// Shared by the stand-ins' tests: a scratch folder and a scratch registry key per test, and the
// few helpers whose means differ between the two builds of these tests. Natively they test the
// stand-ins, each test starting from a fresh host state; built as a Windows program they test
// the system's own kernel32, advapi32 and user32 (under Wine), so that both answer alike. Files
// named *_host_test.cpp also use the stand-ins' control panel (platform/host.h) and are built
// natively only (tests/wine/conformance.cmake).
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "platform/win32.h"
#ifdef _WIN32
#include <winioctl.h>
#else
#include "platform/host.h"
#endif

using WideString = std::basic_string<WCHAR>;

constexpr REGSAM kReadWrite = KEY_READ | KEY_WRITE;
constexpr DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

// An ASCII text as a wide string.
inline WideString Wide(const std::string& ascii) { return WideString(ascii.begin(), ascii.end()); }

// Where the functions under test are Wine's: a test that keeps what the platform documents and
// Wine does otherwise skips there, naming the difference.
inline bool UnderWine() {
#ifdef _WIN32
  HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
  return ntdll != nullptr && GetProcAddress(ntdll, "wine_get_version") != nullptr;
#else
  return false;
#endif
}

// Why a test of links skips: the system made no link of that kind.
constexpr const char* kNoSymbolicLinks =
    "no symbolic link was made: Wine 8's CreateSymbolicLinkW reports success and makes none";
constexpr const char* kNoJunctions =
    "no junction was made: Wine 8 refuses FSCTL_SET_REPARSE_POINT (ERROR_NOT_SUPPORTED)";

class PlatformTest : public ::testing::Test {
 protected:
#ifdef _WIN32
  static constexpr char kSeparator = '\\';
#else
  static constexpr char kSeparator = '/';
#endif

  void SetUp() override {
#ifndef _WIN32
    host::Reset();
#endif
    // A folder of its own: tests of several processes may run at once.
    const std::filesystem::path temp = std::filesystem::temp_directory_path();
    for (unsigned attempt = 0; folder_.empty(); ++attempt) {
      const std::filesystem::path candidate =
          temp / ("langmon-platform-" + std::to_string(GetCurrentProcessId()) + "-" +
                  std::to_string(++counter_) + "-" + std::to_string(attempt));
      std::error_code error;
      if (std::filesystem::create_directory(candidate, error)) folder_ = candidate.string();
      ASSERT_LT(attempt, 100u) << "no scratch folder in " << temp.string();
    }
    registryKey_ =
        u"Software\\LangmonPlatformTests\\" + std::filesystem::path(folder_).filename().u16string();
  }

  void TearDown() override {
#ifdef _WIN32
    if (tempFolderChanged_) {
      SetEnvironmentVariableW(L"TMP", savedTemp_.empty() ? nullptr : savedTemp_.c_str());
    }
    RegDeleteTreeW(HKEY_LOCAL_MACHINE, RegistryKey().c_str());
    RegDeleteKeyW(HKEY_LOCAL_MACHINE, L"Software\\LangmonPlatformTests");  // when empty
#else
    // Every test closes what it opens: the stand-ins count their handles.
    EXPECT_EQ(host::OpenFileHandles(), 0) << "file handles left open";
    EXPECT_EQ(host::OpenEvents(), 0) << "events left open";
    EXPECT_EQ(host::OpenRegistryKeys(), 0) << "registry keys left open";
    host::Reset();
#endif
    std::error_code ignored;
    std::filesystem::remove_all(folder_, ignored);
  }

  // A path in the scratch folder; '/' in the name stays as it is, which both builds accept.
  std::string Path(const std::string& name) const { return folder_ + kSeparator + name; }
  WideString WidePath(const std::string& name) const {
    const std::u16string path = std::filesystem::path(Path(name)).u16string();
    return WideString(path.begin(), path.end());
  }
  // The scratch folder as std::filesystem names it (for names that are not ASCII).
  std::filesystem::path Folder() const { return folder_; }

  // The folder GetTempPathA reports, to the end of the test: Windows takes it from TMP.
  void SetTempFolder(const std::string& folder) {
#ifdef _WIN32
    if (!tempFolderChanged_) {
      WCHAR saved[MAX_PATH] = L"";
      if (GetEnvironmentVariableW(L"TMP", saved, MAX_PATH) < MAX_PATH) savedTemp_ = saved;
      tempFolderChanged_ = true;
    }
    SetEnvironmentVariableW(L"TMP", Wide(folder).c_str());
#else
    host::SetTempFolder(folder);
#endif
  }

  // A key of the test's own below HKEY_LOCAL_MACHINE, removed after the test.
  WideString RegistryKey() const { return WideString(registryKey_.begin(), registryKey_.end()); }

  static std::string ReadText(const std::string& path) {
    std::ifstream in(std::filesystem::path(path), std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
  }
  static void WriteText(const std::string& path, const std::string& text) {
    std::ofstream(std::filesystem::path(path), std::ios::binary) << text;
  }

  // The links Windows makes. Each is false when the system made none, so that a test can tell
  // a refusal from a link that behaves otherwise.
  bool PlantHardLink(const std::string& link, const std::string& existingFile) {
#ifdef _WIN32
    return CreateHardLinkW(Wide(link).c_str(), Wide(existingFile).c_str(), nullptr) != FALSE;
#else
    return host::PlantHardLink(link, existingFile);
#endif
  }
  bool PlantSymbolicLink(const std::string& link, const std::string& targetFile) {
#ifdef _WIN32
    CreateSymbolicLinkW(Wide(link).c_str(), Wide(targetFile).c_str(),
                        SYMBOLIC_LINK_FLAG_ALLOW_UNPRIVILEGED_CREATE);
    return IsReparsePoint(link);
#else
    return host::PlantSymbolicLink(link, targetFile);
#endif
  }
  bool PlantJunction(const std::string& link, const std::string& targetFolder) {
#ifdef _WIN32
    return MakeJunction(link, targetFolder) && IsReparsePoint(link);
#else
    return host::PlantJunction(link, targetFolder);
#endif
  }

  // The module whose resources hold the monitor's texts and dialog: the monitor's own natively,
  // this program (which links them) on Windows.
  static HINSTANCE ResourceModule() {
#ifdef _WIN32
    return GetModuleHandleW(nullptr);
#else
    return host::MonitorModule();
#endif
  }

  std::string folder_;

 private:
#ifdef _WIN32
  static bool IsReparsePoint(const std::string& path) {
    const DWORD attributes = GetFileAttributesW(Wide(path).c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_REPARSE_POINT);
  }

  // A junction as Windows makes one: an empty folder given a mount-point reparse point.
  static bool MakeJunction(const std::string& link, const std::string& targetFolder) {
    const WideString linkPath = Wide(link);
    WideString substitute = L"\\??\\" + Wide(targetFolder);
    std::replace(substitute.begin(), substitute.end(), L'/', L'\\');  // no Win32 path rules here
    if (substitute.size() > MAX_PATH || !CreateDirectoryW(linkPath.c_str(), nullptr)) return false;
    HANDLE folder = CreateFileW(linkPath.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                                FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (folder == INVALID_HANDLE_VALUE) return false;
    // REPARSE_DATA_BUFFER's mount-point form: the substitute name, then an empty print name.
    struct {
      DWORD tag;
      WORD dataLength;
      WORD reserved;
      WORD substituteOffset, substituteLength, printOffset, printLength;
      WCHAR names[MAX_PATH + 8];
    } buffer = {};
    const WORD substituteBytes = static_cast<WORD>(substitute.size() * sizeof(WCHAR));
    substitute.copy(buffer.names, substitute.size());
    buffer.tag = IO_REPARSE_TAG_MOUNT_POINT;
    buffer.substituteLength = substituteBytes;
    buffer.printOffset = substituteBytes + sizeof(WCHAR);
    buffer.dataLength = 4 * sizeof(WORD) + substituteBytes + 2 * sizeof(WCHAR);
    DWORD returned = 0;
    const BOOL made = DeviceIoControl(folder, FSCTL_SET_REPARSE_POINT, &buffer,
                                      8 + buffer.dataLength, nullptr, 0, &returned, nullptr);
    CloseHandle(folder);
    if (!made) RemoveDirectoryW(linkPath.c_str());
    return made != FALSE;
  }

  bool tempFolderChanged_ = false;
  WideString savedTemp_;
#endif

  static inline unsigned counter_ = 0;
  std::u16string registryKey_;
};
