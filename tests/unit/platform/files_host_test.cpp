// The host's side of the file stand-ins: its temp folders, the mapping of Windows paths, armed
// failures and the count of open handles.
#include <string>
#include <vector>

#include "platform_fixture.h"

namespace {

using FilesHostTest = PlatformTest;

HANDLE OpenExisting(const std::string& path, DWORD access, DWORD share) {
  return CreateFileA(path.c_str(), access, share, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL,
                     nullptr);
}

TEST_F(FilesHostTest, TempPathsAreOnlyWhatTheHostSets) {
  char buffer[MAX_PATH];
  SetLastError(0);
  EXPECT_EQ(GetTempPathA(MAX_PATH, buffer), 0u);  // unset
  EXPECT_NE(GetLastError(), static_cast<DWORD>(ERROR_SUCCESS));

  // Newer Windows' GetTempPath2W is found only while the host gives it a folder.
  host::SetTempFolder("/var/tmp/x");
  HMODULE kernel = GetModuleHandleW(u"kernel32.dll");
  ASSERT_NE(kernel, nullptr);
  EXPECT_EQ(GetProcAddress(kernel, "GetTempPath2W"), nullptr);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_PROC_NOT_FOUND));
  host::SetTempPath2Folder("/var/tmp/system");
  const auto getTempPath2W = reinterpret_cast<DWORD(WINAPI*)(DWORD, LPWSTR)>(
      reinterpret_cast<void*>(GetProcAddress(kernel, "GetTempPath2W")));
  ASSERT_NE(getTempPath2W, nullptr);
  WCHAR wide[MAX_PATH];
  EXPECT_EQ(getTempPath2W(MAX_PATH, wide), 16u);
  EXPECT_EQ(std::u16string(wide), u"/var/tmp/system/");
  EXPECT_EQ(getTempPath2W(16, wide), 17u);
  EXPECT_EQ(GetTempPathA(MAX_PATH, buffer), 11u);  // the older folder is its own
  EXPECT_STREQ(buffer, "/var/tmp/x/");
  host::Reset();
  EXPECT_EQ(GetProcAddress(kernel, "GetTempPath2W"), nullptr);
}

TEST_F(FilesHostTest, NativePathTurnsEveryBackslashIntoASlash) {
  EXPECT_EQ(host::NativePath(std::string("C:\\x\\y.ini")), "C:/x/y.ini");
  EXPECT_EQ(host::NativePath(std::u16string(u"\\a\\b")), "/a/b");
  EXPECT_EQ(host::NativePath(std::string("/plain/path")), "/plain/path");
  EXPECT_EQ(host::NativePath(folder_ + "\\\\VelmoraLMDrv.dbg"), folder_ + "//VelmoraLMDrv.dbg");
}

TEST_F(FilesHostTest, OpenFileHandlesCountsWhatIsOpenNow) {
  const std::string path = Path("shared.txt");
  WriteText(path, "data");
  HANDLE a = OpenExisting(path, GENERIC_READ, FILE_SHARE_READ);
  HANDLE b = OpenExisting(path, GENERIC_READ, FILE_SHARE_READ);
  EXPECT_EQ(OpenExisting(path, GENERIC_WRITE, FILE_SHARE_READ), INVALID_HANDLE_VALUE);
  EXPECT_EQ(host::OpenFileHandles(), 2);
  CloseHandle(a);
  EXPECT_EQ(host::OpenFileHandles(), 1);
  CloseHandle(b);
  EXPECT_EQ(host::OpenFileHandles(), 0);
}

TEST_F(FilesHostTest, ReadsFailAfterTheArmedByteCount) {
  const std::string path = Path("print.prn");
  WriteText(path, std::string(300, 'p'));
  host::FailFileReads(folder_ + "\\print.prn", 250);  // any spelling of the path
  const WideString wide = WidePath("print.prn");
  HANDLE file = CreateFileW(wide.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                            FILE_ATTRIBUTE_NORMAL | FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
  ASSERT_NE(file, INVALID_HANDLE_VALUE);
  std::vector<DWORD> chunks;
  char buffer[100];
  DWORD got = 0;
  while (ReadFile(file, buffer, sizeof(buffer), &got, nullptr) && got > 0) chunks.push_back(got);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_READ_FAULT));
  EXPECT_EQ(chunks, (std::vector<DWORD>{100, 100, 50}));
  CloseHandle(file);
}

TEST_F(FilesHostTest, FileSizeAndWritesCanBeMadeToFail) {
  const std::string path = Path("f.txt");
  WriteText(path, "abc");
  host::FailFileSize(path);
  host::FailFileWrites(path);
  HANDLE file = OpenExisting(path, GENERIC_READ | GENERIC_WRITE, 0);
  ASSERT_NE(file, INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetFileSize(file, nullptr), INVALID_FILE_SIZE);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_READ_FAULT));
  DWORD written = 9;
  EXPECT_FALSE(WriteFile(file, "x", 1, &written, nullptr));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_WRITE_FAULT));
  EXPECT_EQ(written, 0u);
  // Other files are not affected.
  HANDLE other = CreateFileA(Path("g.txt").c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                             FILE_ATTRIBUTE_NORMAL, nullptr);
  EXPECT_TRUE(WriteFile(other, "ok", 2, &written, nullptr));
  EXPECT_EQ(written, 2u);
  CloseHandle(other);

  host::ClearFileFailures();
  EXPECT_EQ(GetFileSize(file, nullptr), 3u);
  EXPECT_TRUE(WriteFile(file, "x", 1, &written, nullptr));
  CloseHandle(file);
}

}  // namespace
