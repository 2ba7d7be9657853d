// Files: GetTempPathA, GetTempPath2W, CreateFileA/W with Windows sharing, ReadFile, WriteFile,
// GetFileSize, SetFilePointer, SetEndOfFile, GetFileInformationByHandle, GetFileAttributesW,
// GetFileType, MoveFileW/MoveFileExW, DeleteFileW, RemoveDirectoryW, the host's file failures
// and the links a host plants.
//
// Windows paths are mapped with host::NativePath. Each handle has its own file position. Sharing
// is checked between the handles of this process, per file (device and inode): an open is
// refused with ERROR_SHARING_VIOLATION when it asks for access that an open handle does not
// share, or does not share the access that an open handle has; a handle opened for attributes
// only takes no part in that. Renaming or deleting a name asks
// for delete access: it is refused the same way while a handle on what the name leads to (a
// link itself, not its target) does not share delete; a name whose file has any handle open
// cannot be replaced, and a folder with an open handle anywhere below it cannot be renamed
// (both ERROR_ACCESS_DENIED), as on Windows.
//
// Links: a symbolic link of this file system stands for both reparse points of Windows, a
// symbolic link and a junction (a folder link); hard links are what they are. As on Windows, a
// path is followed through links unless the last component is a link and the call asks for the
// link itself: CreateFile with FILE_FLAG_OPEN_REPARSE_POINT, GetFileAttributesW. A handle on a
// link itself has no data: reads, writes and cuts fail with ERROR_ACCESS_DENIED, its size is 0.
// Folders open only with FILE_FLAG_BACKUP_SEMANTICS and only for reading.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <map>
#include <vector>

#include "platform/host.h"
#include "platform/host_state.h"

using platform_impl::ObjectKind;

namespace {

struct Identity {
  dev_t device;
  ino_t inode;
  bool operator<(const Identity& other) const {
    return device != other.device ? device < other.device : inode < other.inode;
  }
  bool operator==(const Identity& other) const {
    return device == other.device && inode == other.inode;
  }
};

enum class FailureKind { kRead, kSize, kWrite };

struct Failure {
  std::string path;  // native
  FailureKind kind;
  DWORD afterBytes;
};

struct FileObject;

struct FileState {
  std::mutex mutex;  // the sharing table, the failures and the temp folder
  std::map<Identity, std::vector<FileObject*>> open;
  std::vector<Failure> failures;
  std::atomic<bool> anyFailure{false};
  std::string tempFolder;
  std::string tempFolder2;  // GetTempPath2W's; empty: kernel32 does not offer it
  platform_impl::NthCallFailure nthCall;
};

FileState& State() {
  static FileState* state = new FileState;
  return *state;
}

// Counts a file call; true (with the last error set) when it is the one armed to fail.
bool InjectedFailure(DWORD error) {
  if (!State().nthCall.Count()) return false;
  SetLastError(error);
  return true;
}

bool WantsRead(DWORD access) {
  return (access & (GENERIC_READ | GENERIC_ALL | FILE_READ_DATA)) != 0;
}
bool WantsWrite(DWORD access) { return (access & (GENERIC_WRITE | GENERIC_ALL)) != 0; }
bool WantsDelete(DWORD access) { return (access & (DELETE | GENERIC_ALL)) != 0; }

// What a handle is open on: a file, a folder, or a link itself (with the attributes it shows).
struct OpenedAs {
  bool folder = false;
  bool link = false;
  DWORD linkAttributes = 0;
};

struct FileObject : platform_impl::KernelObject {
  FileObject(int descriptor, DWORD desiredAccess, DWORD shareMode, Identity fileIdentity,
             OpenedAs openedAs, std::string nativePath)
      : KernelObject(ObjectKind::kFile),
        fd(descriptor),
        access(desiredAccess),
        share(shareMode),
        identity(fileIdentity),
        opened(openedAs),
        path(std::move(nativePath)) {}

  void OnClose() override {
    {
      FileState& state = State();
      std::lock_guard<std::mutex> lock(state.mutex);
      auto& handles = state.open[identity];
      for (auto it = handles.begin(); it != handles.end(); ++it) {
        if (*it == this) {
          handles.erase(it);
          break;
        }
      }
      if (handles.empty()) state.open.erase(identity);
    }
    std::lock_guard<std::mutex> lock(io);
    close(fd);
    fd = -1;
  }

  std::mutex io;  // one call at a time on this handle's position
  int fd;
  const DWORD access;
  const DWORD share;
  const Identity identity;
  const OpenedAs opened;
  const std::string path;  // native, as opened
};

// As on Windows, a handle with no data or delete access (attributes only) takes no part in
// sharing: its share mode restricts nobody, and nobody's restricts it.
bool TakesPartInSharing(DWORD access) {
  return WantsRead(access) || WantsWrite(access) || WantsDelete(access);
}

bool Conflicts(const FileObject& open, DWORD access, DWORD share) {
  if (!TakesPartInSharing(open.access) || !TakesPartInSharing(access)) return false;
  if (WantsRead(access) && !(open.share & FILE_SHARE_READ)) return true;
  if (WantsWrite(access) && !(open.share & FILE_SHARE_WRITE)) return true;
  if (WantsDelete(access) && !(open.share & FILE_SHARE_DELETE)) return true;
  if (WantsRead(open.access) && !(share & FILE_SHARE_READ)) return true;
  if (WantsWrite(open.access) && !(share & FILE_SHARE_WRITE)) return true;
  if (WantsDelete(open.access) && !(share & FILE_SHARE_DELETE)) return true;
  return false;
}

bool FolderOfExists(const std::string& path) {
  const size_t slash = path.find_last_of('/');
  if (slash == std::string::npos) return true;
  const std::string folder = slash == 0 ? "/" : path.substr(0, slash);
  struct stat info;
  return stat(folder.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

DWORD ErrorOfOpen(int error, const std::string& path) {
  switch (error) {
    case ENOENT:
      return FolderOfExists(path) ? ERROR_FILE_NOT_FOUND : ERROR_PATH_NOT_FOUND;
    case ENOTDIR:
    case ENAMETOOLONG:
      return ERROR_PATH_NOT_FOUND;
    case EEXIST:
      return ERROR_FILE_EXISTS;
    case EMFILE:
    case ENFILE:
      return ERROR_TOO_MANY_OPEN_FILES;
    case ENOSPC:
      return ERROR_DISK_FULL;
    default:
      return ERROR_ACCESS_DENIED;
  }
}

HANDLE Fail(DWORD error) {
  SetLastError(error);
  return INVALID_HANDLE_VALUE;
}

// The attributes Windows shows for a link itself: a reparse point, and a folder when it leads
// to one.
DWORD AttributesOfLink(const std::string& path) {
  struct stat target;
  const bool toFolder = stat(path.c_str(), &target) == 0 && S_ISDIR(target.st_mode);
  return FILE_ATTRIBUTE_REPARSE_POINT | (toFolder ? FILE_ATTRIBUTE_DIRECTORY : 0);
}

bool IsLink(const std::string& path) {
  struct stat info;
  return lstat(path.c_str(), &info) == 0 && S_ISLNK(info.st_mode);
}

// Opens the link at path itself, as FILE_FLAG_OPEN_REPARSE_POINT does: nothing is created,
// cut or followed. Called with the sharing table locked.
HANDLE OpenLink(const std::string& path, DWORD access, DWORD share, DWORD disposition, DWORD flags);

// True when no open handle of the file conflicts with the access and sharing asked for. Called
// with the sharing table locked.
bool SharingAllows(const Identity& identity, DWORD access, DWORD share) {
  FileState& state = State();
  auto open = state.open.find(identity);
  if (open != state.open.end()) {
    for (const FileObject* other : open->second) {
      if (Conflicts(*other, access, share)) return false;
    }
  }
  return true;
}

// Gives an opened descriptor its handle. Called with the sharing table locked.
HANDLE AddFile(int fd, DWORD access, DWORD share, Identity identity, OpenedAs openedAs,
               bool reportsExisting, const std::string& path) {
  FileState& state = State();
  auto object = std::make_shared<FileObject>(fd, access, share, identity, openedAs, path);
  state.open[identity].push_back(object.get());
  const HANDLE handle = platform_impl::AddHandle(std::move(object));
  SetLastError(reportsExisting ? ERROR_ALREADY_EXISTS : ERROR_SUCCESS);
  return handle;
}

HANDLE OpenFile(const std::string& path, DWORD access, DWORD share, DWORD disposition,
                DWORD flags) {
  if (path.empty()) return Fail(ERROR_PATH_NOT_FOUND);
  int openFlags = O_CLOEXEC;
  if (WantsRead(access) && WantsWrite(access)) {
    openFlags |= O_RDWR;
  } else if (WantsWrite(access)) {
    openFlags |= O_WRONLY;
  } else {
    // Not opened for GENERIC_READ: only to be looked at, which a pipe must not hold up.
    openFlags |= O_RDONLY | ((access & (GENERIC_READ | GENERIC_ALL)) ? 0 : O_NONBLOCK);
  }
  bool truncate = false;
  switch (disposition) {
    case CREATE_NEW:
      openFlags |= O_CREAT | O_EXCL;
      break;
    case CREATE_ALWAYS:
      openFlags |= O_CREAT;
      truncate = true;
      break;
    case OPEN_EXISTING:
      break;
    case OPEN_ALWAYS:
      openFlags |= O_CREAT;
      break;
    case TRUNCATE_EXISTING:
      if (!WantsWrite(access)) return Fail(ERROR_INVALID_PARAMETER);
      truncate = true;
      break;
    default:
      return Fail(ERROR_INVALID_PARAMETER);
  }

  FileState& state = State();
  std::lock_guard<std::mutex> lock(state.mutex);  // opens are atomic against each other
  if ((flags & FILE_FLAG_OPEN_REPARSE_POINT) && IsLink(path)) {
    return OpenLink(path, access, share, disposition, flags);
  }
  struct stat info;
  const bool existed = stat(path.c_str(), &info) == 0;
  // A folder opens only to be looked at.
  const bool folderAllowed = (flags & FILE_FLAG_BACKUP_SEMANTICS) && !WantsWrite(access) &&
                             (disposition == OPEN_EXISTING || disposition == OPEN_ALWAYS);
  if (existed && S_ISDIR(info.st_mode) && !folderAllowed) return Fail(ERROR_ACCESS_DENIED);
  const int fd = open(path.c_str(), openFlags, 0666);
  if (fd < 0) return Fail(ErrorOfOpen(errno, path));
  if (fstat(fd, &info) != 0 || (S_ISDIR(info.st_mode) && !folderAllowed)) {
    close(fd);
    return Fail(ERROR_ACCESS_DENIED);
  }
  const Identity identity{info.st_dev, info.st_ino};
  if (!SharingAllows(identity, access, share)) {
    close(fd);
    return Fail(ERROR_SHARING_VIOLATION);
  }
  if (truncate && info.st_size != 0) {
    const int result = WantsWrite(access) ? ftruncate(fd, 0) : ::truncate(path.c_str(), 0);
    if (result != 0) {
      const int error = errno;
      close(fd);
      return Fail(ErrorOfOpen(error, path));
    }
  }
  OpenedAs openedAs;
  openedAs.folder = S_ISDIR(info.st_mode);
  return AddFile(fd, access, share, identity, openedAs,
                 existed && (disposition == CREATE_ALWAYS || disposition == OPEN_ALWAYS), path);
}

HANDLE OpenLink(const std::string& path, DWORD access, DWORD share, DWORD disposition,
                DWORD flags) {
  const DWORD attributes = AttributesOfLink(path);
  if (disposition == CREATE_NEW) return Fail(ERROR_FILE_EXISTS);
  if (disposition != OPEN_EXISTING && disposition != OPEN_ALWAYS) {
    return Fail(ERROR_ACCESS_DENIED);  // nothing to cut: a link keeps no data here
  }
  if ((attributes & FILE_ATTRIBUTE_DIRECTORY) && !(flags & FILE_FLAG_BACKUP_SEMANTICS)) {
    return Fail(ERROR_ACCESS_DENIED);  // a folder link is a folder
  }
  const int fd = open(path.c_str(), O_PATH | O_NOFOLLOW | O_CLOEXEC);
  struct stat info;
  if (fd < 0 || fstat(fd, &info) != 0) {
    if (fd >= 0) close(fd);
    return Fail(ERROR_ACCESS_DENIED);
  }
  const Identity identity{info.st_dev, info.st_ino};
  if (!SharingAllows(identity, access, share)) {
    close(fd);
    return Fail(ERROR_SHARING_VIOLATION);
  }
  OpenedAs openedAs;
  openedAs.link = true;
  openedAs.linkAttributes = attributes;
  return AddFile(fd, access, share, identity, openedAs, disposition == OPEN_ALWAYS, path);
}

std::shared_ptr<FileObject> FindFile(HANDLE handle) {
  return platform_impl::FindObject<FileObject>(handle, ObjectKind::kFile);
}

// The file of a ReadFile or WriteFile call after the checks common to both; nullptr (with the
// last error set) when the call must fail.
std::shared_ptr<FileObject> FileForTransfer(HANDLE handle, LPCVOID buffer, DWORD count,
                                            LPVOID overlapped, bool (*allowed)(DWORD access)) {
  auto file = FindFile(handle);
  if (!file) {
    SetLastError(ERROR_INVALID_HANDLE);
  } else if (overlapped || (!buffer && count != 0)) {
    SetLastError(ERROR_INVALID_PARAMETER);
  } else if (!allowed(file->access) || file->opened.link || file->opened.folder) {
    SetLastError(ERROR_ACCESS_DENIED);
  } else {
    return file;
  }
  return nullptr;
}

// The armed failure of a kind for the file a handle is open on, if any.
bool FindFailure(const FileObject& file, FailureKind kind, DWORD* afterBytes = nullptr) {
  FileState& state = State();
  if (!state.anyFailure.load()) return false;
  std::lock_guard<std::mutex> lock(state.mutex);
  for (const Failure& failure : state.failures) {
    if (failure.kind != kind) continue;
    struct stat info;
    if (stat(failure.path.c_str(), &info) != 0) continue;
    if (Identity{info.st_dev, info.st_ino} == file.identity) {
      if (afterBytes) *afterBytes = failure.afterBytes;
      return true;
    }
  }
  return false;
}

void Arm(const std::string& path, FailureKind kind, bool arm, DWORD afterBytes = 0) {
  FileState& state = State();
  const std::string native = platform_impl::NativePathOf(path);
  std::lock_guard<std::mutex> lock(state.mutex);
  auto& failures = state.failures;
  for (auto it = failures.begin(); it != failures.end();) {
    it = (it->kind == kind && it->path == native) ? failures.erase(it) : it + 1;
  }
  if (arm) failures.push_back({native, kind, afterBytes});
  state.anyFailure = !failures.empty();
}

}  // namespace

namespace {

// A host folder with a trailing separator as the temp-path calls report it: its length, or the
// size needed (NUL included) when the buffer is too small. Fails (0, ERROR_PATH_NOT_FOUND) when
// unset.
template <class Char>
DWORD ReportFolder(std::string FileState::*folderOf, DWORD size, Char* buffer) {
  std::basic_string<Char> folder;
  {
    FileState& state = State();
    std::lock_guard<std::mutex> lock(state.mutex);
    if constexpr (sizeof(Char) == 1) {
      folder = state.*folderOf;
    } else {
      folder = platform_impl::Utf8ToUtf16(state.*folderOf);
    }
  }
  if (folder.empty()) {
    SetLastError(ERROR_PATH_NOT_FOUND);
    return 0;
  }
  const DWORD length = static_cast<DWORD>(folder.size());
  if (!buffer || size <= length) return length + 1;
  std::copy(folder.begin(), folder.end(), buffer);
  buffer[length] = 0;
  return length;
}

}  // namespace

DWORD WINAPI GetTempPathA(DWORD nBufferLength, LPSTR lpBuffer) {
  return ReportFolder(&FileState::tempFolder, nBufferLength, lpBuffer);
}

// Offered only while the host has set its folder (see modules.cpp).
DWORD WINAPI GetTempPath2W(DWORD BufferLength, LPWSTR Buffer) {
  return ReportFolder(&FileState::tempFolder2, BufferLength, Buffer);
}

HANDLE WINAPI CreateFileA(LPCSTR lpFileName, DWORD dwDesiredAccess, DWORD dwShareMode,
                          LPSECURITY_ATTRIBUTES lpSecurityAttributes, DWORD dwCreationDisposition,
                          DWORD dwFlagsAndAttributes, HANDLE hTemplateFile) {
  (void)lpSecurityAttributes;
  (void)hTemplateFile;
  if (InjectedFailure(ERROR_ACCESS_DENIED)) return INVALID_HANDLE_VALUE;
  if (!lpFileName) return Fail(ERROR_INVALID_PARAMETER);
  return OpenFile(platform_impl::NativePathOf(lpFileName), dwDesiredAccess, dwShareMode,
                  dwCreationDisposition, dwFlagsAndAttributes);
}

HANDLE WINAPI CreateFileW(LPCWSTR lpFileName, DWORD dwDesiredAccess, DWORD dwShareMode,
                          LPSECURITY_ATTRIBUTES lpSecurityAttributes, DWORD dwCreationDisposition,
                          DWORD dwFlagsAndAttributes, HANDLE hTemplateFile) {
  (void)lpSecurityAttributes;
  (void)hTemplateFile;
  if (InjectedFailure(ERROR_ACCESS_DENIED)) return INVALID_HANDLE_VALUE;
  if (!lpFileName) return Fail(ERROR_INVALID_PARAMETER);
  return OpenFile(platform_impl::NativePathOf(platform_impl::Utf16ToUtf8(lpFileName)),
                  dwDesiredAccess, dwShareMode, dwCreationDisposition, dwFlagsAndAttributes);
}

BOOL WINAPI ReadFile(HANDLE hFile, LPVOID lpBuffer, DWORD nNumberOfBytesToRead,
                     LPDWORD lpNumberOfBytesRead, LPVOID lpOverlapped) {
  if (lpNumberOfBytesRead) *lpNumberOfBytesRead = 0;
  if (InjectedFailure(ERROR_READ_FAULT)) return FALSE;
  auto file = FileForTransfer(hFile, lpBuffer, nNumberOfBytesToRead, lpOverlapped, WantsRead);
  if (!file) return FALSE;
  DWORD failAfter = 0;
  const bool failing = FindFailure(*file, FailureKind::kRead, &failAfter);
  std::lock_guard<std::mutex> lock(file->io);
  if (file->fd < 0) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  DWORD wanted = nNumberOfBytesToRead;
  if (failing) {
    const off_t position = lseek(file->fd, 0, SEEK_CUR);
    if (position >= static_cast<off_t>(failAfter)) {
      SetLastError(ERROR_READ_FAULT);
      return FALSE;
    }
    const off_t left = static_cast<off_t>(failAfter) - position;
    if (left < static_cast<off_t>(wanted)) wanted = static_cast<DWORD>(left);
  }
  DWORD done = 0;
  while (done < wanted) {
    const ssize_t got = read(file->fd, static_cast<char*>(lpBuffer) + done, wanted - done);
    if (got < 0) {
      if (errno == EINTR) continue;
      SetLastError(ERROR_READ_FAULT);
      if (lpNumberOfBytesRead) *lpNumberOfBytesRead = done;
      return FALSE;
    }
    if (got == 0) break;  // end of file
    done += static_cast<DWORD>(got);
  }
  if (lpNumberOfBytesRead) *lpNumberOfBytesRead = done;
  return TRUE;
}

BOOL WINAPI WriteFile(HANDLE hFile, LPCVOID lpBuffer, DWORD nNumberOfBytesToWrite,
                      LPDWORD lpNumberOfBytesWritten, LPVOID lpOverlapped) {
  if (lpNumberOfBytesWritten) *lpNumberOfBytesWritten = 0;
  if (InjectedFailure(ERROR_WRITE_FAULT)) return FALSE;
  auto file = FileForTransfer(hFile, lpBuffer, nNumberOfBytesToWrite, lpOverlapped, WantsWrite);
  if (!file) return FALSE;
  if (FindFailure(*file, FailureKind::kWrite)) {
    SetLastError(ERROR_WRITE_FAULT);
    return FALSE;
  }
  std::lock_guard<std::mutex> lock(file->io);
  if (file->fd < 0) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  DWORD done = 0;
  while (done < nNumberOfBytesToWrite) {
    const ssize_t put =
        write(file->fd, static_cast<const char*>(lpBuffer) + done, nNumberOfBytesToWrite - done);
    if (put < 0) {
      if (errno == EINTR) continue;
      SetLastError(errno == ENOSPC ? ERROR_DISK_FULL : ERROR_WRITE_FAULT);
      if (lpNumberOfBytesWritten) *lpNumberOfBytesWritten = done;
      return FALSE;
    }
    done += static_cast<DWORD>(put);
  }
  if (lpNumberOfBytesWritten) *lpNumberOfBytesWritten = done;
  return TRUE;
}

DWORD WINAPI GetFileSize(HANDLE hFile, LPDWORD lpFileSizeHigh) {
  if (InjectedFailure(ERROR_READ_FAULT)) return INVALID_FILE_SIZE;
  auto file = FindFile(hFile);
  if (!file) {
    SetLastError(ERROR_INVALID_HANDLE);
    return INVALID_FILE_SIZE;
  }
  if (FindFailure(*file, FailureKind::kSize)) {
    SetLastError(ERROR_READ_FAULT);
    return INVALID_FILE_SIZE;
  }
  std::lock_guard<std::mutex> lock(file->io);
  struct stat info;
  if (file->fd < 0 || fstat(file->fd, &info) != 0) {
    SetLastError(ERROR_INVALID_HANDLE);
    return INVALID_FILE_SIZE;
  }
  const uint64_t size = file->opened.link ? 0 : static_cast<uint64_t>(info.st_size);
  if (lpFileSizeHigh) *lpFileSizeHigh = static_cast<DWORD>(size >> 32);
  const DWORD low = static_cast<DWORD>(size);
  if (low == INVALID_FILE_SIZE) SetLastError(ERROR_SUCCESS);  // tells a real size from failure
  return low;
}

DWORD WINAPI SetFilePointer(HANDLE hFile, LONG lDistanceToMove, PLONG lpDistanceToMoveHigh,
                            DWORD dwMoveMethod) {
  if (InjectedFailure(ERROR_ACCESS_DENIED)) return INVALID_SET_FILE_POINTER;
  auto file = FindFile(hFile);
  if (!file) {
    SetLastError(ERROR_INVALID_HANDLE);
    return INVALID_SET_FILE_POINTER;
  }
  int64_t distance = lDistanceToMove;
  if (lpDistanceToMoveHigh) {
    distance = static_cast<int64_t>(
        (static_cast<uint64_t>(static_cast<uint32_t>(*lpDistanceToMoveHigh)) << 32) |
        static_cast<uint32_t>(lDistanceToMove));
  }
  std::lock_guard<std::mutex> lock(file->io);
  if (file->fd < 0) {
    SetLastError(ERROR_INVALID_HANDLE);
    return INVALID_SET_FILE_POINTER;
  }
  int64_t base = 0;
  if (dwMoveMethod == FILE_CURRENT) {
    base = lseek(file->fd, 0, SEEK_CUR);
  } else if (dwMoveMethod == FILE_END) {
    struct stat info;
    base = fstat(file->fd, &info) == 0 ? info.st_size : 0;
  } else if (dwMoveMethod != FILE_BEGIN) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return INVALID_SET_FILE_POINTER;
  }
  const int64_t position = base + distance;
  if (position < 0) {
    SetLastError(ERROR_NEGATIVE_SEEK);
    return INVALID_SET_FILE_POINTER;
  }
  if (lseek(file->fd, static_cast<off_t>(position), SEEK_SET) < 0) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return INVALID_SET_FILE_POINTER;
  }
  if (lpDistanceToMoveHigh) *lpDistanceToMoveHigh = static_cast<LONG>(position >> 32);
  const DWORD low = static_cast<DWORD>(position);
  if (low == INVALID_SET_FILE_POINTER) SetLastError(ERROR_SUCCESS);
  return low;
}

BOOL WINAPI SetEndOfFile(HANDLE hFile) {
  if (InjectedFailure(ERROR_ACCESS_DENIED)) return FALSE;
  auto file = FindFile(hFile);
  if (!file) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  if (!WantsWrite(file->access) || file->opened.link) {
    SetLastError(ERROR_ACCESS_DENIED);
    return FALSE;
  }
  std::lock_guard<std::mutex> lock(file->io);
  const off_t position = file->fd < 0 ? -1 : lseek(file->fd, 0, SEEK_CUR);
  if (position < 0 || ftruncate(file->fd, position) != 0) {
    SetLastError(position < 0 ? ERROR_INVALID_HANDLE : ERROR_ACCESS_DENIED);
    return FALSE;
  }
  return TRUE;
}

namespace {

FILETIME FileTimeOf(const struct timespec& time) {
  // 100-nanosecond intervals since 1601-01-01, the Windows epoch.
  constexpr uint64_t kEpochDifference = 11644473600ull;
  const uint64_t ticks = (static_cast<uint64_t>(time.tv_sec) + kEpochDifference) * 10000000ull +
                         static_cast<uint64_t>(time.tv_nsec) / 100;
  return FILETIME{static_cast<DWORD>(ticks), static_cast<DWORD>(ticks >> 32)};
}

// Windows counts the links of files only: a folder has one. A file shows the archive attribute,
// which the file system sets on every file it creates or changes.
DWORD AttributesAndLinks(const struct stat& info, const OpenedAs& opened, DWORD* links) {
  if (opened.link) {
    *links = 1;
    return opened.linkAttributes;
  }
  if (S_ISDIR(info.st_mode)) {
    *links = 1;
    return FILE_ATTRIBUTE_DIRECTORY;
  }
  *links = static_cast<DWORD>(info.st_nlink);
  return FILE_ATTRIBUTE_ARCHIVE;
}

}  // namespace

BOOL WINAPI GetFileInformationByHandle(HANDLE hFile,
                                       LPBY_HANDLE_FILE_INFORMATION lpFileInformation) {
  if (InjectedFailure(ERROR_ACCESS_DENIED)) return FALSE;
  auto file = FindFile(hFile);
  if (!file) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  if (!lpFileInformation) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  std::lock_guard<std::mutex> lock(file->io);
  struct stat info;
  if (file->fd < 0 || fstat(file->fd, &info) != 0) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  BY_HANDLE_FILE_INFORMATION result = {};
  result.dwFileAttributes = AttributesAndLinks(info, file->opened, &result.nNumberOfLinks);
  result.ftCreationTime = FileTimeOf(info.st_ctim);
  result.ftLastAccessTime = FileTimeOf(info.st_atim);
  result.ftLastWriteTime = FileTimeOf(info.st_mtim);
  result.dwVolumeSerialNumber = static_cast<DWORD>(info.st_dev);
  const uint64_t size = file->opened.link ? 0 : static_cast<uint64_t>(info.st_size);
  result.nFileSizeHigh = static_cast<DWORD>(size >> 32);
  result.nFileSizeLow = static_cast<DWORD>(size);
  result.nFileIndexHigh = static_cast<DWORD>(static_cast<uint64_t>(info.st_ino) >> 32);
  result.nFileIndexLow = static_cast<DWORD>(info.st_ino);
  *lpFileInformation = result;
  return TRUE;
}

// The attributes of what the path names, a link itself included; INVALID_FILE_ATTRIBUTES with
// ERROR_FILE_NOT_FOUND or ERROR_PATH_NOT_FOUND when there is nothing.
DWORD WINAPI GetFileAttributesW(LPCWSTR lpFileName) {
  if (InjectedFailure(ERROR_ACCESS_DENIED)) return INVALID_FILE_ATTRIBUTES;
  if (!lpFileName) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return INVALID_FILE_ATTRIBUTES;
  }
  const std::string path =
      platform_impl::NativePathOf(platform_impl::Utf16ToUtf8(platform_impl::WideView(lpFileName)));
  struct stat info;
  if (path.empty() || lstat(path.c_str(), &info) != 0) {
    SetLastError(path.empty() ? ERROR_PATH_NOT_FOUND : ErrorOfOpen(errno, path));
    return INVALID_FILE_ATTRIBUTES;
  }
  if (S_ISLNK(info.st_mode)) return AttributesOfLink(path);
  return S_ISDIR(info.st_mode) ? FILE_ATTRIBUTE_DIRECTORY : FILE_ATTRIBUTE_ARCHIVE;
}

DWORD WINAPI GetFileType(HANDLE hFile) {
  if (InjectedFailure(ERROR_INVALID_HANDLE)) return FILE_TYPE_UNKNOWN;
  auto file = FindFile(hFile);
  if (!file) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FILE_TYPE_UNKNOWN;
  }
  std::lock_guard<std::mutex> lock(file->io);
  struct stat info;
  if (file->fd < 0 || fstat(file->fd, &info) != 0) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FILE_TYPE_UNKNOWN;
  }
  SetLastError(ERROR_SUCCESS);
  if (S_ISCHR(info.st_mode)) return FILE_TYPE_CHAR;
  if (S_ISFIFO(info.st_mode) || S_ISSOCK(info.st_mode)) return FILE_TYPE_PIPE;
  return FILE_TYPE_DISK;
}

namespace {

BOOL FailWith(DWORD error) {
  SetLastError(error);
  return FALSE;
}

// The name itself, not where a link leads: false (with the last error set) when it is missing.
bool LookAtName(const std::string& path, struct stat* info) {
  if (path.empty() || lstat(path.c_str(), info) != 0) {
    SetLastError(path.empty() ? ERROR_PATH_NOT_FOUND : ErrorOfOpen(errno, path));
    return false;
  }
  return true;
}

// Whether the item behind a name may be renamed or deleted now: no open handle of it withholds
// delete sharing. Called with the sharing table locked.
bool DeleteAllowed(const struct stat& info) {
  return SharingAllows(Identity{info.st_dev, info.st_ino}, DELETE,
                       FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE);
}

// Whether any handle is open on the item behind a name, whatever it shares. Called with the
// sharing table locked.
bool InUse(const struct stat& info) {
  return State().open.count(Identity{info.st_dev, info.st_ino}) != 0;
}

// Whether any handle is open on something below the folder. Called with the sharing table locked.
bool OpenBelow(const std::string& folder) {
  const std::string prefix = folder.back() == '/' ? folder : folder + '/';
  for (const auto& [identity, handles] : State().open) {
    for (const FileObject* file : handles) {
      if (file->path.compare(0, prefix.size(), prefix) == 0) return true;
    }
  }
  return false;
}

std::string NativeOfWide(LPCWSTR path) {
  return platform_impl::NativePathOf(platform_impl::Utf16ToUtf8(platform_impl::WideView(path)));
}

}  // namespace

BOOL WINAPI MoveFileExW(LPCWSTR lpExistingFileName, LPCWSTR lpNewFileName, DWORD dwFlags) {
  if (InjectedFailure(ERROR_ACCESS_DENIED)) return FALSE;
  if (!lpExistingFileName || !lpNewFileName) return FailWith(ERROR_INVALID_PARAMETER);
  const std::string from = NativeOfWide(lpExistingFileName);
  const std::string to = NativeOfWide(lpNewFileName);
  FileState& state = State();
  std::lock_guard<std::mutex> lock(state.mutex);
  struct stat source;
  if (!LookAtName(from, &source)) return FALSE;
  if (!DeleteAllowed(source)) return FailWith(ERROR_SHARING_VIOLATION);
  if (S_ISDIR(source.st_mode) && OpenBelow(from)) return FailWith(ERROR_ACCESS_DENIED);
  struct stat target;
  if (!to.empty() && lstat(to.c_str(), &target) == 0) {
    if (!(dwFlags & MOVEFILE_REPLACE_EXISTING)) return FailWith(ERROR_ALREADY_EXISTS);
    // A name whose file is open cannot be replaced, whatever the handle shares.
    if (S_ISDIR(target.st_mode) || InUse(target)) return FailWith(ERROR_ACCESS_DENIED);
  }
  if (to.empty() || rename(from.c_str(), to.c_str()) != 0) {
    return FailWith(to.empty() || errno == ENOENT || errno == ENOTDIR ? ERROR_PATH_NOT_FOUND
                                                                      : ERROR_ACCESS_DENIED);
  }
  return TRUE;
}

BOOL WINAPI MoveFileW(LPCWSTR lpExistingFileName, LPCWSTR lpNewFileName) {
  return MoveFileExW(lpExistingFileName, lpNewFileName, 0);
}

// A file, or a link to a file; folders and folder links go with RemoveDirectoryW.
BOOL WINAPI DeleteFileW(LPCWSTR lpFileName) {
  if (InjectedFailure(ERROR_ACCESS_DENIED)) return FALSE;
  if (!lpFileName) return FailWith(ERROR_INVALID_PARAMETER);
  const std::string path = NativeOfWide(lpFileName);
  FileState& state = State();
  std::lock_guard<std::mutex> lock(state.mutex);
  struct stat info;
  if (!LookAtName(path, &info)) return FALSE;
  if (S_ISDIR(info.st_mode) ||
      (S_ISLNK(info.st_mode) && (AttributesOfLink(path) & FILE_ATTRIBUTE_DIRECTORY))) {
    return FailWith(ERROR_ACCESS_DENIED);
  }
  if (!DeleteAllowed(info)) return FailWith(ERROR_SHARING_VIOLATION);
  if (unlink(path.c_str()) != 0) return FailWith(ERROR_ACCESS_DENIED);
  return TRUE;
}

// An empty folder, or a folder link (a junction) itself.
BOOL WINAPI RemoveDirectoryW(LPCWSTR lpPathName) {
  if (InjectedFailure(ERROR_ACCESS_DENIED)) return FALSE;
  if (!lpPathName) return FailWith(ERROR_INVALID_PARAMETER);
  const std::string path = NativeOfWide(lpPathName);
  FileState& state = State();
  std::lock_guard<std::mutex> lock(state.mutex);
  struct stat info;
  if (!LookAtName(path, &info)) return FALSE;
  const bool folderLink =
      S_ISLNK(info.st_mode) && (AttributesOfLink(path) & FILE_ATTRIBUTE_DIRECTORY);
  if (!S_ISDIR(info.st_mode) && !folderLink) return FailWith(ERROR_DIRECTORY);
  if (!DeleteAllowed(info)) return FailWith(ERROR_SHARING_VIOLATION);
  if ((folderLink ? unlink(path.c_str()) : rmdir(path.c_str())) != 0) {
    return FailWith(errno == ENOTEMPTY || errno == EEXIST ? ERROR_DIR_NOT_EMPTY
                                                          : ERROR_ACCESS_DENIED);
  }
  return TRUE;
}

namespace platform_impl {

bool HeldAgainstDelete(const std::string& nativePath) {
  struct stat info;
  if (lstat(nativePath.c_str(), &info) != 0) return false;
  std::lock_guard<std::mutex> lock(State().mutex);
  return !DeleteAllowed(info);
}

bool TempPath2Offered() {
  FileState& state = State();
  std::lock_guard<std::mutex> lock(state.mutex);
  return !state.tempFolder2.empty();
}

// Open handles stay open and keep their sharing; folders and failures go.
void ResetFiles() {
  FileState& state = State();
  std::lock_guard<std::mutex> lock(state.mutex);
  state.tempFolder.clear();
  state.tempFolder2.clear();
  state.failures.clear();
  state.anyFailure = false;
  state.nthCall.Reset();
}

}  // namespace platform_impl

namespace host {

namespace {

std::string WithSeparator(const std::string& folder) {
  if (folder.empty() || folder.back() == '/' || folder.back() == '\\') return folder;
  return folder + '/';
}

// A link at linkPath to target (both Windows or native paths); false when it cannot be made.
bool PlantLink(const std::string& linkPath, const std::string& target, bool hard) {
  std::error_code error;
  const std::string link = platform_impl::NativePathOf(linkPath);
  const std::string to = platform_impl::NativePathOf(target);
  if (hard) {
    std::filesystem::create_hard_link(to, link, error);
  } else {
    std::filesystem::create_symlink(to, link, error);
  }
  return !error;
}

}  // namespace

void SetTempFolder(const std::string& folder) {
  FileState& state = State();
  std::lock_guard<std::mutex> lock(state.mutex);
  state.tempFolder = WithSeparator(folder);
}

void SetTempPath2Folder(const std::string& folder) {
  FileState& state = State();
  std::lock_guard<std::mutex> lock(state.mutex);
  state.tempFolder2 = WithSeparator(folder);
}

bool PlantSymbolicLink(const std::string& link, const std::string& target) {
  return PlantLink(link, target, false);
}

bool PlantJunction(const std::string& link, const std::string& targetFolder) {
  return PlantLink(link, targetFolder, false);
}

bool PlantHardLink(const std::string& link, const std::string& existingFile) {
  return PlantLink(link, existingFile, true);
}

void FailFileReads(const std::string& path, DWORD afterBytes) {
  Arm(path, FailureKind::kRead, true, afterBytes);
}

void FailFileSize(const std::string& path, bool fail) { Arm(path, FailureKind::kSize, fail); }

void FailFileWrites(const std::string& path, bool fail) { Arm(path, FailureKind::kWrite, fail); }

void FailFileCall(unsigned nth) { State().nthCall.Arm(nth); }

unsigned FileCallCount() { return State().nthCall.Calls(); }

void ClearFileFailures() {
  FileState& state = State();
  std::lock_guard<std::mutex> lock(state.mutex);
  state.failures.clear();
  state.anyFailure = false;
}

}  // namespace host
