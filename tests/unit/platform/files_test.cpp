// Files: the temp folder, dispositions, sharing, errors, positions, links and removal, as
// Windows has them.
#include <algorithm>
#include <atomic>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "platform_fixture.h"

namespace {

class FilesTest : public PlatformTest {
 protected:
  HANDLE Open(const std::string& path, DWORD access, DWORD share, DWORD disposition) {
    return CreateFileA(path.c_str(), access, share, nullptr, disposition, FILE_ATTRIBUTE_NORMAL,
                       nullptr);
  }
  static DWORD Write(HANDLE file, const std::string& text) {
    DWORD written = 0;
    EXPECT_TRUE(WriteFile(file, text.data(), static_cast<DWORD>(text.size()), &written, nullptr));
    return written;
  }
  // A folder, or a folder link itself, opened without delete sharing.
  HANDLE HoldFolder(const std::string& name) {
    return CreateFileW(WidePath(name).c_str(), FILE_LIST_DIRECTORY,
                       FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                       FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
  }
  static std::string Read(HANDLE file, DWORD count) {
    std::string buffer(count, '\0');
    DWORD got = 0;
    EXPECT_TRUE(ReadFile(file, buffer.data(), count, &got, nullptr));
    buffer.resize(got);
    return buffer;
  }
};

TEST_F(FilesTest, TempPathEndsInOneSeparatorAndReportsTheSizeItNeeds) {
  const std::string expected = folder_ + kSeparator;
  const DWORD length = static_cast<DWORD>(expected.size());
  for (const std::string& folder : {folder_, expected}) {  // a separator is not doubled
    SetTempFolder(folder);
    char buffer[MAX_PATH];
    EXPECT_EQ(GetTempPathA(MAX_PATH, buffer), length) << folder;
    EXPECT_EQ(std::string(buffer), expected);
    EXPECT_EQ(GetTempPathA(length, buffer), length + 1);  // too small: the size needed with the NUL
    EXPECT_EQ(GetTempPathA(0, nullptr), length + 1);
    EXPECT_EQ(GetTempPathA(length + 1, buffer), length);
  }
}

// A link is followed unless the call asks for the link itself; a handle on a link has no data.
TEST_F(FilesTest, LinksAreFollowedUnlessTheLinkItselfIsAskedFor) {
  WriteText(Path("target"), "kept");
  std::filesystem::create_directory(Path("folder"));
  WriteText(Path("folder/inner"), "");
  if (!PlantSymbolicLink(Path("link"), Path("target"))) GTEST_SKIP() << kNoSymbolicLinks;
  ASSERT_TRUE(PlantSymbolicLink(Path("dangling"), Path("nothing")));
  ASSERT_TRUE(PlantHardLink(Path("second name"), Path("target")));
  if (!PlantJunction(Path("folder link"), Path("folder"))) GTEST_SKIP() << kNoJunctions;

  auto attributes = [this](const std::string& name) {
    return GetFileAttributesW(WidePath(name).c_str());
  };
  EXPECT_EQ(attributes("link"), static_cast<DWORD>(FILE_ATTRIBUTE_REPARSE_POINT));
  EXPECT_EQ(attributes("dangling"), static_cast<DWORD>(FILE_ATTRIBUTE_REPARSE_POINT));
  EXPECT_EQ(attributes("folder link"),
            static_cast<DWORD>(FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_DIRECTORY));
  EXPECT_EQ(attributes("folder link/inner"), static_cast<DWORD>(FILE_ATTRIBUTE_ARCHIVE));
  EXPECT_EQ(attributes("folder"), static_cast<DWORD>(FILE_ATTRIBUTE_DIRECTORY));
  EXPECT_EQ(attributes("missing"), INVALID_FILE_ATTRIBUTES);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
  EXPECT_EQ(attributes("missing/x"), INVALID_FILE_ATTRIBUTES);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_PATH_NOT_FOUND));

  auto information = [](HANDLE file) {
    BY_HANDLE_FILE_INFORMATION info = {};
    EXPECT_TRUE(GetFileInformationByHandle(file, &info));
    return info;
  };
  constexpr DWORD kLooking = GENERIC_WRITE | FILE_READ_ATTRIBUTES;
  HANDLE followed = CreateFileA(Path("link").c_str(), kLooking, 0, nullptr, OPEN_ALWAYS,
                                FILE_ATTRIBUTE_NORMAL, nullptr);
  ASSERT_NE(followed, INVALID_HANDLE_VALUE);
  BY_HANDLE_FILE_INFORMATION info = information(followed);
  EXPECT_EQ(info.dwFileAttributes, static_cast<DWORD>(FILE_ATTRIBUTE_ARCHIVE));
  EXPECT_EQ(info.nNumberOfLinks, 2u);  // the target and its second name
  CloseHandle(followed);

  HANDLE link = CreateFileA(Path("link").c_str(), kLooking, 0, nullptr, OPEN_ALWAYS,
                            FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
  ASSERT_NE(link, INVALID_HANDLE_VALUE);
  info = information(link);
  EXPECT_EQ(info.dwFileAttributes, static_cast<DWORD>(FILE_ATTRIBUTE_REPARSE_POINT));
  EXPECT_EQ(info.nNumberOfLinks, 1u);
  EXPECT_EQ(GetFileSize(link, nullptr), 0u);
  DWORD written = 0;
  EXPECT_FALSE(WriteFile(link, "x", 1, &written, nullptr));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
  EXPECT_FALSE(SetEndOfFile(link));
  CloseHandle(link);
  EXPECT_EQ(ReadText(Path("target")), "kept");

  HANDLE dangling = CreateFileA(Path("dangling").c_str(), kLooking, 0, nullptr, OPEN_ALWAYS,
                                FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
  EXPECT_NE(dangling, INVALID_HANDLE_VALUE);
  CloseHandle(dangling);
  EXPECT_FALSE(std::filesystem::exists(Path("nothing")));

  // A folder link is a folder: it opens only with FILE_FLAG_BACKUP_SEMANTICS.
  const WideString folderLink = WidePath("folder link");
  const DWORD reparse = FILE_FLAG_OPEN_REPARSE_POINT;
  EXPECT_EQ(CreateFileW(folderLink.c_str(), FILE_READ_ATTRIBUTES, 0, nullptr, OPEN_EXISTING,
                        reparse, nullptr),
            INVALID_HANDLE_VALUE);
  HANDLE folder = CreateFileW(folderLink.c_str(), FILE_READ_ATTRIBUTES, 0, nullptr, OPEN_EXISTING,
                              reparse | FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  ASSERT_NE(folder, INVALID_HANDLE_VALUE);
  EXPECT_EQ(information(folder).dwFileAttributes,
            static_cast<DWORD>(FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_DIRECTORY));
  CloseHandle(folder);
}

TEST_F(FilesTest, LogStylePathWithADoubledBackslashWorks) {
  SetTempFolder(folder_);
  char temp[MAX_PATH];
  ASSERT_GT(GetTempPathA(MAX_PATH, temp), 0u);
  std::string path = std::string(temp) + "\\VelmoraLMDrv.dbg";
  HANDLE file = Open(path, GENERIC_WRITE, 0, OPEN_ALWAYS);
  ASSERT_NE(file, INVALID_HANDLE_VALUE);
  Write(file, "line\n");
  EXPECT_TRUE(CloseHandle(file));
  EXPECT_EQ(ReadText(Path("VelmoraLMDrv.dbg")), "line\n");
}

TEST_F(FilesTest, ShareModeZeroLocksTheFileUntilClosed) {
  const std::string path = Path("locked.txt");
  HANDLE first = Open(path, GENERIC_WRITE, 0, OPEN_ALWAYS);
  ASSERT_NE(first, INVALID_HANDLE_VALUE);
  SetLastError(0);
  EXPECT_EQ(Open(path, GENERIC_WRITE, 0, OPEN_ALWAYS), INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SHARING_VIOLATION));
  EXPECT_EQ(Open(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, OPEN_EXISTING),
            INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SHARING_VIOLATION));
  // Another spelling of the same file is the same file.
  EXPECT_EQ(Open(folder_ + "\\\\locked.txt", GENERIC_READ, FILE_SHARE_READ, OPEN_EXISTING),
            INVALID_HANDLE_VALUE);
  EXPECT_TRUE(CloseHandle(first));
  HANDLE second = Open(path, GENERIC_WRITE, 0, OPEN_ALWAYS);
  EXPECT_NE(second, INVALID_HANDLE_VALUE);
  CloseHandle(second);
}

TEST_F(FilesTest, SharedReadersCoexistButExcludeWriters) {
  const std::string path = Path("shared.txt");
  WriteText(path, "data");
  HANDLE a = Open(path, GENERIC_READ, FILE_SHARE_READ, OPEN_EXISTING);
  HANDLE b = Open(path, GENERIC_READ, FILE_SHARE_READ, OPEN_EXISTING);
  ASSERT_NE(a, INVALID_HANDLE_VALUE);
  ASSERT_NE(b, INVALID_HANDLE_VALUE);
  EXPECT_EQ(Open(path, GENERIC_WRITE, FILE_SHARE_READ, OPEN_EXISTING), INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SHARING_VIOLATION));
  // A reader that does not share reading cannot join either.
  EXPECT_EQ(Open(path, GENERIC_READ, 0, OPEN_EXISTING), INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SHARING_VIOLATION));
  CloseHandle(a);
  CloseHandle(b);
}

TEST_F(FilesTest, MissingFileAndMissingFolder) {
  SetLastError(0);
  EXPECT_EQ(Open(Path("absent.txt"), GENERIC_READ, FILE_SHARE_READ, OPEN_EXISTING),
            INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
  EXPECT_EQ(Open(Path("nofolder\\absent.txt"), GENERIC_READ, FILE_SHARE_READ, OPEN_EXISTING),
            INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_PATH_NOT_FOUND));
  EXPECT_EQ(Open(Path("nofolder\\new.txt"), GENERIC_WRITE, 0, OPEN_ALWAYS), INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_PATH_NOT_FOUND));
  EXPECT_EQ(Open(folder_, GENERIC_READ, FILE_SHARE_READ, OPEN_EXISTING), INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));  // a folder
}

TEST_F(FilesTest, TheFiveDispositions) {
  const std::string path = Path("d.txt");
  HANDLE file = Open(path, GENERIC_WRITE, 0, CREATE_NEW);
  ASSERT_NE(file, INVALID_HANDLE_VALUE);
  Write(file, "abc");
  CloseHandle(file);
  // A new file is marked for archiving, as the file system marks every file it writes.
  EXPECT_EQ(GetFileAttributesW(WidePath("d.txt").c_str()),
            static_cast<DWORD>(FILE_ATTRIBUTE_ARCHIVE));
  EXPECT_EQ(Open(path, GENERIC_WRITE, 0, CREATE_NEW), INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_EXISTS));

  file = Open(path, GENERIC_WRITE, 0, OPEN_ALWAYS);  // keeps the contents
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ALREADY_EXISTS));
  CloseHandle(file);
  EXPECT_EQ(ReadText(path), "abc");

  file = Open(path, GENERIC_WRITE, 0, CREATE_ALWAYS);  // empties it
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ALREADY_EXISTS));
  Write(file, "xy");
  CloseHandle(file);
  EXPECT_EQ(ReadText(path), "xy");

  file = Open(path, GENERIC_WRITE, 0, TRUNCATE_EXISTING);
  ASSERT_NE(file, INVALID_HANDLE_VALUE);
  CloseHandle(file);
  EXPECT_EQ(ReadText(path), "");
  EXPECT_EQ(Open(Path("none.txt"), GENERIC_WRITE, 0, TRUNCATE_EXISTING), INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));

  file = Open(Path("fresh.txt"), GENERIC_WRITE, 0, OPEN_ALWAYS);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SUCCESS));
  CloseHandle(file);
}

TEST_F(FilesTest, SizePositionAndEndOfFile) {
  const std::string path = Path("p.txt");
  HANDLE file = Open(path, GENERIC_READ | GENERIC_WRITE, 0, CREATE_ALWAYS);
  ASSERT_NE(file, INVALID_HANDLE_VALUE);
  EXPECT_EQ(Write(file, "hello world"), 11u);
  DWORD high = 77;
  EXPECT_EQ(GetFileSize(file, &high), 11u);
  EXPECT_EQ(high, 0u);
  EXPECT_EQ(SetFilePointer(file, 6, nullptr, FILE_BEGIN), 6u);
  EXPECT_EQ(Read(file, 100), "world");
  EXPECT_EQ(Read(file, 100), "");  // end of file: success with nothing
  EXPECT_EQ(SetFilePointer(file, -5, nullptr, FILE_END), 6u);
  EXPECT_EQ(SetFilePointer(file, -1, nullptr, FILE_CURRENT), 5u);
  EXPECT_TRUE(SetEndOfFile(file));
  EXPECT_EQ(GetFileSize(file, nullptr), 5u);
  SetLastError(0);
  EXPECT_EQ(SetFilePointer(file, -10, nullptr, FILE_BEGIN), INVALID_SET_FILE_POINTER);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NEGATIVE_SEEK));
  EXPECT_EQ(SetFilePointer(file, 0, nullptr, FILE_BEGIN), 0u);
  EXPECT_TRUE(SetEndOfFile(file));
  EXPECT_EQ(GetFileSize(file, nullptr), 0u);
  CloseHandle(file);
}

TEST_F(FilesTest, AccessIsChecked) {
  const std::string path = Path("a.txt");
  WriteText(path, "abc");
  HANDLE reader = Open(path, GENERIC_READ, FILE_SHARE_READ, OPEN_EXISTING);
  DWORD written = 5;
  EXPECT_FALSE(WriteFile(reader, "x", 1, &written, nullptr));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
  EXPECT_EQ(written, 0u);
  CloseHandle(reader);
  HANDLE writer = Open(path, GENERIC_WRITE, 0, OPEN_EXISTING);
  char byte;
  DWORD got = 5;
  EXPECT_FALSE(ReadFile(writer, &byte, 1, &got, nullptr));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
  CloseHandle(writer);
}

TEST_F(FilesTest, ClosedHandlesAreInvalid) {
  HANDLE file = Open(Path("c.txt"), GENERIC_WRITE, 0, CREATE_ALWAYS);
  ASSERT_TRUE(CloseHandle(file));
  SetLastError(0);
  EXPECT_FALSE(CloseHandle(file));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
  DWORD written;
  EXPECT_FALSE(WriteFile(file, "x", 1, &written, nullptr));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
  EXPECT_EQ(GetFileSize(file, nullptr), INVALID_FILE_SIZE);
}

TEST_F(FilesTest, AWideNameIsTheNameOnDisk) {
  const WideString wide = WidePath("") + WSTR("caf\u00e9.txt");
  HANDLE file = CreateFileW(wide.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  ASSERT_NE(file, INVALID_HANDLE_VALUE);
  CloseHandle(file);
  EXPECT_TRUE(std::filesystem::exists(Folder() / u8"caf\u00e9.txt"));
}

TEST_F(FilesTest, WritersWithoutSharingTakeTurnsOrAreRefused) {
  // As the log does: open without sharing, append one line, close; a busy file loses the line.
  const std::string path = Path("log.dbg");
  std::atomic<int> written{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([&, t] {
      const std::string line = "line from thread " + std::to_string(t) + "\n";
      for (int i = 0; i < 100; ++i) {
        HANDLE file = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_ALWAYS,
                                  FILE_ATTRIBUTE_NORMAL, nullptr);
        if (file == INVALID_HANDLE_VALUE) {
          EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SHARING_VIOLATION));
          continue;
        }
        SetFilePointer(file, 0, nullptr, FILE_END);
        DWORD done = 0;
        EXPECT_TRUE(WriteFile(file, line.data(), static_cast<DWORD>(line.size()), &done, nullptr));
        EXPECT_TRUE(CloseHandle(file));
        ++written;
      }
    });
  }
  for (auto& thread : threads) thread.join();
  const std::string text = ReadText(path);
  EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), written.load());
  EXPECT_EQ(text.size() % std::string("line from thread 0\n").size(), 0u);
}

}  // namespace

namespace {

// Renames and deletes ask for delete access: a handle that does not share delete keeps every name
// of its file.
TEST_F(FilesTest, RenamesAndDeletesWaitForHandlesThatDoNotShareDelete) {
  std::filesystem::create_directories(Path("folder/inner"));
  WriteText(Path("folder/inner/file"), "kept");
  ASSERT_TRUE(PlantHardLink(Path("second name"), Path("folder/inner/file")));
  const WideString file = WidePath("folder/inner/file");
  auto expectRefused = [](BOOL result, DWORD error, const char* what) {
    EXPECT_FALSE(result) << what;
    EXPECT_EQ(GetLastError(), error) << what;
    SetLastError(0);
  };

  // Attributes alone keep nothing: such a handle takes no part in sharing.
  HANDLE looking = CreateFileW(file.c_str(), FILE_READ_ATTRIBUTES, 0, nullptr, OPEN_EXISTING,
                               FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
  ASSERT_NE(looking, INVALID_HANDLE_VALUE);
  EXPECT_TRUE(MoveFileW(file.c_str(), WidePath("moved").c_str()));
  EXPECT_TRUE(MoveFileW(WidePath("moved").c_str(), file.c_str()));
  CloseHandle(looking);

  HANDLE held = CreateFileW(file.c_str(), FILE_READ_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE,
                            nullptr, OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
  ASSERT_NE(held, INVALID_HANDLE_VALUE);
  BY_HANDLE_FILE_INFORMATION info = {};
  ASSERT_TRUE(GetFileInformationByHandle(held, &info));
  EXPECT_EQ(info.nNumberOfLinks, 2u);
  expectRefused(DeleteFileW(file.c_str()), 32, "delete");
  expectRefused(DeleteFileW(WidePath("second name").c_str()), 32, "delete another name");
  expectRefused(MoveFileW(file.c_str(), WidePath("moved").c_str()), 32, "rename");
  WriteText(Path("replacement"), "other");
  expectRefused(
      MoveFileExW(WidePath("replacement").c_str(), file.c_str(), MOVEFILE_REPLACE_EXISTING), 5,
      "replace a name in use");
  expectRefused(
      CreateFileW(file.c_str(), DELETE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                  nullptr, OPEN_EXISTING, 0, nullptr) != INVALID_HANDLE_VALUE,
      32, "open for delete");
  EXPECT_EQ(ReadText(Path("folder/inner/file")), "kept");
  CloseHandle(held);

  // A handle that shares delete lets its file be renamed; but an open file's name is in use and
  // cannot be replaced.
  held = CreateFileW(file.c_str(), GENERIC_READ,
                     FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                     0, nullptr);
  ASSERT_NE(held, INVALID_HANDLE_VALUE);
  expectRefused(MoveFileW(WidePath("replacement").c_str(), file.c_str()), ERROR_ALREADY_EXISTS,
                "move onto an existing name");
  expectRefused(
      MoveFileExW(WidePath("replacement").c_str(), file.c_str(), MOVEFILE_REPLACE_EXISTING), 5,
      "replace a name in use by a handle that shares delete");
  EXPECT_TRUE(MoveFileW(file.c_str(), WidePath("moved").c_str()));
  EXPECT_TRUE(MoveFileW(WidePath("moved").c_str(), file.c_str()));
  CloseHandle(held);
  EXPECT_TRUE(
      MoveFileExW(WidePath("replacement").c_str(), file.c_str(), MOVEFILE_REPLACE_EXISTING));
  EXPECT_EQ(ReadText(Path("folder/inner/file")), "other");
  EXPECT_TRUE(DeleteFileW(WidePath("second name").c_str()));
  expectRefused(DeleteFileW(WidePath("second name").c_str()), ERROR_FILE_NOT_FOUND, "gone");
  EXPECT_TRUE(MoveFileW(WidePath("folder").c_str(), WidePath("moved").c_str()));
}

// A folder with anything open below it keeps its own name.
TEST_F(FilesTest, AFolderWithAFileOpenBelowKeepsItsName) {
  if (UnderWine()) {
    GTEST_SKIP() << "Wine 8 renames a folder while a file below it is open, which Windows "
                    "refuses (ERROR_ACCESS_DENIED)";
  }
  std::filesystem::create_directories(Path("folder/inner"));
  WriteText(Path("folder/inner/file"), "kept");
  HANDLE held = CreateFileW(WidePath("folder/inner/file").c_str(), FILE_READ_DATA,
                            FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0, nullptr);
  ASSERT_NE(held, INVALID_HANDLE_VALUE);
  for (const char* folder : {"folder/inner", "folder"}) {
    SetLastError(0);
    EXPECT_FALSE(MoveFileW(WidePath(folder).c_str(), WidePath("moved").c_str())) << folder;
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED)) << folder;
  }
  CloseHandle(held);
  EXPECT_TRUE(MoveFileW(WidePath("folder").c_str(), WidePath("moved").c_str()));
  EXPECT_EQ(ReadText(Path("moved/inner/file")), "kept");
}

TEST_F(FilesTest, FoldersAreRemovedOnlyEmptyAndNotHeld) {
  std::filesystem::create_directories(Path("full/inner"));
  std::filesystem::create_directories(Path("empty"));
  WriteText(Path("file"), "");
  SetLastError(0);
  EXPECT_FALSE(RemoveDirectoryW(WidePath("full").c_str()));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_DIR_NOT_EMPTY));
  EXPECT_FALSE(RemoveDirectoryW(WidePath("file").c_str()));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_DIRECTORY));
  EXPECT_FALSE(DeleteFileW(WidePath("empty").c_str()));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));

  // A folder held without delete sharing.
  HANDLE folder = HoldFolder("empty");
  ASSERT_NE(folder, INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetFileType(folder), static_cast<DWORD>(FILE_TYPE_DISK));
  BY_HANDLE_FILE_INFORMATION info = {};
  ASSERT_TRUE(GetFileInformationByHandle(folder, &info));
  EXPECT_EQ(info.dwFileAttributes, static_cast<DWORD>(FILE_ATTRIBUTE_DIRECTORY));
  EXPECT_EQ(info.nNumberOfLinks, 1u);
  SetLastError(0);
  EXPECT_FALSE(RemoveDirectoryW(WidePath("empty").c_str()));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SHARING_VIOLATION));
  CloseHandle(folder);
  EXPECT_TRUE(RemoveDirectoryW(WidePath("empty").c_str()));
  EXPECT_FALSE(std::filesystem::exists(Path("empty")));
}

// A junction is removed as a folder, and what it leads to stays; a handle on it holds it.
TEST_F(FilesTest, AJunctionIsRemovedItselfAndHeldLikeAFolder) {
  std::filesystem::create_directories(Path("full/inner"));
  if (!PlantJunction(Path("junction"), Path("full"))) GTEST_SKIP() << kNoJunctions;
  EXPECT_FALSE(DeleteFileW(WidePath("junction").c_str()));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
  HANDLE link = HoldFolder("junction");
  ASSERT_NE(link, INVALID_HANDLE_VALUE);
  SetLastError(0);
  EXPECT_FALSE(RemoveDirectoryW(WidePath("junction").c_str()));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SHARING_VIOLATION));
  CloseHandle(link);
  EXPECT_TRUE(RemoveDirectoryW(WidePath("junction").c_str()));
  EXPECT_TRUE(std::filesystem::exists(Path("full/inner")));
  EXPECT_FALSE(std::filesystem::exists(Path("junction")));
}

}  // namespace
