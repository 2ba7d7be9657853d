// Files: GetTempPathA, GetTempPath2W, CreateFileA/W with Windows sharing, ReadFile, WriteFile,
// GetFileSize, SetFilePointer, SetEndOfFile, GetFileInformationByHandle, GetFileAttributesW,
// GetFileType, MoveFileW/MoveFileExW, DeleteFileW, RemoveDirectoryW, DeviceIoControl's
// FSCTL_SET_REPARSE_POINT, ntdll's NtCreateFile relative to a folder handle, the owners of
// files, the host's file failures and the links a host plants.
//
// Windows paths are mapped with host::NativePath. Each handle has its own file position. Sharing
// is checked between the handles of this process, per file (device and inode), by the classes of
// data access Windows judges it by: reading or executing, writing or appending, deleting. An open
// is refused with ERROR_SHARING_VIOLATION when it asks for access that an open handle does not
// share, or does not share the access that an open handle has; a handle opened for attributes,
// its security or synchronisation only takes no part in that. Renaming or deleting a name asks
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
// Folders open only with FILE_FLAG_BACKUP_SEMANTICS, and for writing only with rights of their
// own (FILE_ADD_FILE, FILE_WRITE_ATTRIBUTES), never GENERIC_WRITE.
//
// A junction made in place (FSCTL_SET_REPARSE_POINT on an empty folder's handle) keeps the folder
// that handles are open on, moved aside under a hidden name beside it, and puts a link at its
// name: names through it lead where the junction points, handles on it see a reparse point, and
// a create relative to such a handle lands in the folder itself, as on NTFS.
//
// Owners: a file belongs to the process's user unless the host made another its owner
// (host::SetFileOwner); a file the stand-ins create belongs to the process's user again.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <map>
#include <set>
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
  std::map<Identity, std::string> owners;  // SIDs the host set; the rest are the process user's
  std::set<Identity> junctionsInPlace;     // folders made junctions while handles were open
  unsigned movedAside = 0;
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
bool WantsWrite(DWORD access) {
  return (access & (GENERIC_WRITE | GENERIC_ALL | FILE_WRITE_DATA | FILE_APPEND_DATA)) != 0;
}
bool WantsDelete(DWORD access) { return (access & (DELETE | GENERIC_ALL)) != 0; }
// Executing counts as reading where sharing is judged.
bool SharesAsReader(DWORD access) {
  return WantsRead(access) || (access & (GENERIC_EXECUTE | FILE_EXECUTE)) != 0;
}
// Appending without writing: every write goes to the end, as on Windows.
bool AppendsOnly(DWORD access) {
  return (access & FILE_APPEND_DATA) != 0 &&
         (access & (GENERIC_WRITE | GENERIC_ALL | FILE_WRITE_DATA)) == 0;
}

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
  return SharesAsReader(access) || WantsWrite(access) || WantsDelete(access);
}

bool Conflicts(const FileObject& open, DWORD access, DWORD share) {
  if (!TakesPartInSharing(open.access) || !TakesPartInSharing(access)) return false;
  if (SharesAsReader(access) && !(open.share & FILE_SHARE_READ)) return true;
  if (WantsWrite(access) && !(open.share & FILE_SHARE_WRITE)) return true;
  if (WantsDelete(access) && !(open.share & FILE_SHARE_DELETE)) return true;
  if (SharesAsReader(open.access) && !(share & FILE_SHARE_READ)) return true;
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
  if (AppendsOnly(access)) openFlags |= O_APPEND;
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
  // A folder opens to be looked at, or with the rights of a folder: never for writing data.
  const bool folderAllowed = (flags & FILE_FLAG_BACKUP_SEMANTICS) &&
                             !(access & (GENERIC_WRITE | GENERIC_ALL)) &&
                             (disposition == OPEN_EXISTING || disposition == OPEN_ALWAYS);
  if (existed && S_ISDIR(info.st_mode) && !folderAllowed) return Fail(ERROR_ACCESS_DENIED);
  const bool folder = existed && S_ISDIR(info.st_mode);
  const int fd = open(path.c_str(), folder ? O_RDONLY | O_DIRECTORY | O_CLOEXEC : openFlags, 0666);
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
  if (!existed)
    state.owners.erase(identity);  // made now: the process user's, whoever had the inode
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

bool MadeJunctionInPlace(const Identity& identity) {
  FileState& state = State();
  std::lock_guard<std::mutex> lock(state.mutex);
  return state.junctionsInPlace.count(identity) != 0;
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
  const bool junction = MadeJunctionInPlace(file->identity);
  std::lock_guard<std::mutex> lock(file->io);
  struct stat info;
  if (file->fd < 0 || fstat(file->fd, &info) != 0) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  BY_HANDLE_FILE_INFORMATION result = {};
  result.dwFileAttributes = AttributesAndLinks(info, file->opened, &result.nNumberOfLinks);
  if (junction) result.dwFileAttributes |= FILE_ATTRIBUTE_REPARSE_POINT;
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
  if (info.st_nlink <= 1) state.owners.erase(Identity{info.st_dev, info.st_ino});
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

namespace {

// The mount point reparse buffer of FSCTL_SET_REPARSE_POINT, as Windows lays it out.
struct MountPointReparseBuffer {
  DWORD ReparseTag;
  WORD ReparseDataLength;  // bytes after the first eight
  WORD Reserved;
  WORD SubstituteNameOffset;  // bytes into PathBuffer
  WORD SubstituteNameLength;
  WORD PrintNameOffset;
  WORD PrintNameLength;
  WCHAR PathBuffer[1];
};
constexpr DWORD kReparseHeaderSize = 8;
constexpr DWORD kMountPointHeaderSize = 16;  // up to PathBuffer

// The folder a junction's substitute name ("\??\C:\folder") leads to, natively; empty when
// the buffer does not hold one.
std::string JunctionTarget(const void* buffer, DWORD size) {
  if (buffer == nullptr || size < kMountPointHeaderSize) return {};
  MountPointReparseBuffer header;
  std::memcpy(&header, buffer, kMountPointHeaderSize);
  const DWORD end = kMountPointHeaderSize + header.SubstituteNameOffset +
                    static_cast<DWORD>(header.SubstituteNameLength);
  if (kReparseHeaderSize + header.ReparseDataLength > size ||
      end > kReparseHeaderSize + header.ReparseDataLength || header.SubstituteNameLength == 0 ||
      header.SubstituteNameLength % 2 != 0) {
    return {};
  }
  std::u16string name(header.SubstituteNameLength / 2, u'\0');
  std::memcpy(
      name.data(),
      static_cast<const char*>(buffer) + kMountPointHeaderSize + header.SubstituteNameOffset,
      header.SubstituteNameLength);
  if (name.compare(0, 4, u"\\??\\") == 0) name.erase(0, 4);
  return platform_impl::NativePathOf(platform_impl::Utf16ToUtf8(name));
}

// Makes the folder behind the handle a junction to target, in place. Called with the sharing
// table locked; sets the last error.
bool MakeJunctionInPlace(const FileObject& folder, const std::string& target) {
  FileState& state = State();
  struct stat named;
  if (lstat(folder.path.c_str(), &named) != 0 ||
      !(Identity{named.st_dev, named.st_ino} == folder.identity)) {
    SetLastError(ERROR_ACCESS_DENIED);  // the name no longer leads to this folder
    return false;
  }
  if (!std::filesystem::is_empty(folder.path)) {
    SetLastError(ERROR_DIR_NOT_EMPTY);
    return false;
  }
  const size_t slash = folder.path.find_last_of('/');
  const std::string aside = folder.path.substr(0, slash + 1) + "." + folder.path.substr(slash + 1) +
                            ".junction-" + std::to_string(getpid()) + "-" +
                            std::to_string(++state.movedAside);
  if (rename(folder.path.c_str(), aside.c_str()) != 0) {
    SetLastError(ERROR_ACCESS_DENIED);
    return false;
  }
  if (symlink(target.c_str(), folder.path.c_str()) != 0) {
    rename(aside.c_str(), folder.path.c_str());
    SetLastError(ERROR_ACCESS_DENIED);
    return false;
  }
  state.junctionsInPlace.insert(folder.identity);
  return true;
}

}  // namespace

// Only FSCTL_SET_REPARSE_POINT with a mount point (a junction), on an empty folder opened for
// writing its data or its attributes; everything else is ERROR_INVALID_FUNCTION.
BOOL WINAPI DeviceIoControl(HANDLE hDevice, DWORD dwIoControlCode, LPVOID lpInBuffer,
                            DWORD nInBufferSize, LPVOID lpOutBuffer, DWORD nOutBufferSize,
                            LPDWORD lpBytesReturned, LPVOID lpOverlapped) {
  (void)lpOutBuffer;
  (void)nOutBufferSize;
  if (lpBytesReturned) *lpBytesReturned = 0;
  auto file = FindFile(hDevice);
  if (!file) return FailWith(ERROR_INVALID_HANDLE);
  if (lpOverlapped) return FailWith(ERROR_INVALID_PARAMETER);
  if (dwIoControlCode != FSCTL_SET_REPARSE_POINT) return FailWith(ERROR_INVALID_FUNCTION);
  DWORD tag = 0;
  if (lpInBuffer == nullptr || nInBufferSize < sizeof(tag)) {
    return FailWith(ERROR_INVALID_PARAMETER);
  }
  std::memcpy(&tag, lpInBuffer, sizeof(tag));
  if (tag != IO_REPARSE_TAG_MOUNT_POINT) return FailWith(ERROR_NOT_SUPPORTED);
  const std::string target = JunctionTarget(lpInBuffer, nInBufferSize);
  if (target.empty()) return FailWith(ERROR_REPARSE_TAG_INVALID);
  if (!(file->access & (GENERIC_WRITE | GENERIC_ALL | FILE_WRITE_DATA | FILE_WRITE_ATTRIBUTES)) ||
      file->opened.link) {
    return FailWith(ERROR_ACCESS_DENIED);
  }
  if (!file->opened.folder) return FailWith(ERROR_DIRECTORY);  // a mount point is for folders
  FileState& state = State();
  std::lock_guard<std::mutex> lock(state.mutex);
  return MakeJunctionInPlace(*file, target) ? TRUE : FALSE;
}

namespace {

constexpr NTSTATUS kStatusSuccess = 0;
constexpr NTSTATUS kStatusNotImplemented = static_cast<NTSTATUS>(0xC0000002);
constexpr NTSTATUS kStatusInvalidHandle = static_cast<NTSTATUS>(0xC0000008);
constexpr NTSTATUS kStatusInvalidParameter = static_cast<NTSTATUS>(0xC000000D);
constexpr NTSTATUS kStatusAccessDenied = static_cast<NTSTATUS>(0xC0000022);
constexpr NTSTATUS kStatusNameInvalid = static_cast<NTSTATUS>(0xC0000033);
constexpr NTSTATUS kStatusNameNotFound = static_cast<NTSTATUS>(0xC0000034);
constexpr NTSTATUS kStatusNameCollision = static_cast<NTSTATUS>(0xC0000035);
constexpr NTSTATUS kStatusPathNotFound = static_cast<NTSTATUS>(0xC000003A);
constexpr NTSTATUS kStatusSharingViolation = static_cast<NTSTATUS>(0xC0000043);
constexpr NTSTATUS kStatusFileIsADirectory = static_cast<NTSTATUS>(0xC00000BA);

NTSTATUS StatusOfOpen(int error) {
  switch (error) {
    case EEXIST:
      return kStatusNameCollision;
    case ENOENT:
      return kStatusNameNotFound;
    case ENOTDIR:
      return kStatusPathNotFound;
    case ENAMETOOLONG:
      return kStatusNameInvalid;
    default:
      return kStatusAccessDenied;
  }
}

// The relative name as this file system writes it; empty when it is no relative name.
std::string RelativeName(const UNICODE_STRING* name) {
  if (name == nullptr || name->Buffer == nullptr || name->Length == 0 || name->Length % 2 != 0) {
    return {};
  }
  const std::u16string_view text(name->Buffer, name->Length / 2);
  if (text.front() == u'\\' || text.find(u'\0') != std::u16string_view::npos) return {};
  std::string native = platform_impl::Utf16ToUtf8(text);
  std::replace(native.begin(), native.end(), '\\', '/');
  return native;
}

}  // namespace

// Relative to a folder handle only (RootDirectory), with FILE_OPEN or FILE_CREATE; the name is
// followed through links unless FILE_OPEN_REPARSE_POINT asks for the link itself. Sharing and
// handles as CreateFileW's; counted among the host's file calls.
NTSTATUS WINAPI NtCreateFile(PHANDLE FileHandle, ACCESS_MASK DesiredAccess,
                             POBJECT_ATTRIBUTES ObjectAttributes, PIO_STATUS_BLOCK IoStatusBlock,
                             PLARGE_INTEGER AllocationSize, ULONG FileAttributes, ULONG ShareAccess,
                             ULONG CreateDisposition, ULONG CreateOptions, PVOID EaBuffer,
                             ULONG EaLength) {
  (void)AllocationSize;
  (void)FileAttributes;
  (void)EaBuffer;
  (void)EaLength;
  if (FileHandle == nullptr || ObjectAttributes == nullptr || IoStatusBlock == nullptr) {
    return kStatusInvalidParameter;
  }
  *FileHandle = nullptr;
  IoStatusBlock->Information = 0;
  const auto finish = [IoStatusBlock](NTSTATUS status) {
    IoStatusBlock->Status = status;
    return status;
  };
  if (State().nthCall.Count()) return finish(kStatusAccessDenied);
  if (ObjectAttributes->RootDirectory == nullptr) return finish(kStatusNotImplemented);
  if (CreateDisposition != FILE_OPEN && CreateDisposition != FILE_CREATE) {
    return finish(kStatusNotImplemented);
  }
  auto root = FindFile(ObjectAttributes->RootDirectory);
  if (!root || !root->opened.folder) return finish(kStatusInvalidHandle);
  const std::string name = RelativeName(ObjectAttributes->ObjectName);
  if (name.empty()) return finish(kStatusNameInvalid);

  const bool create = CreateDisposition == FILE_CREATE;
  int openFlags = O_CLOEXEC | (create ? O_CREAT | O_EXCL : 0);
  if (CreateOptions & FILE_OPEN_REPARSE_POINT) openFlags |= O_NOFOLLOW;
  openFlags |= WantsRead(DesiredAccess) && WantsWrite(DesiredAccess) ? O_RDWR
               : WantsWrite(DesiredAccess)                           ? O_WRONLY
                                                                     : O_RDONLY | O_NONBLOCK;
  const std::string path = root->path + "/" + name;
  FileState& state = State();
  std::lock_guard<std::mutex> lock(state.mutex);
  std::lock_guard<std::mutex> rootIo(root->io);
  if (root->fd < 0) return finish(kStatusInvalidHandle);
  OpenedAs openedAs;
  int fd = openat(root->fd, name.c_str(), openFlags, 0666);
  if (fd < 0 && errno == ELOOP && !create) {
    // The name is a link, and the link itself was asked for.
    fd = openat(root->fd, name.c_str(), O_PATH | O_NOFOLLOW | O_CLOEXEC);
    openedAs.link = true;
  } else if (fd < 0 && errno == EISDIR) {
    return finish(kStatusFileIsADirectory);
  }
  if (fd < 0) return finish(StatusOfOpen(errno));
  struct stat info;
  if (fstat(fd, &info) != 0) {
    close(fd);
    return finish(kStatusAccessDenied);
  }
  if (S_ISDIR(info.st_mode) && (CreateOptions & FILE_NON_DIRECTORY_FILE)) {
    close(fd);
    return finish(kStatusFileIsADirectory);
  }
  const Identity identity{info.st_dev, info.st_ino};
  if (!SharingAllows(identity, DesiredAccess, ShareAccess)) {
    close(fd);
    return finish(kStatusSharingViolation);
  }
  if (create) state.owners.erase(identity);
  if (openedAs.link) openedAs.linkAttributes = AttributesOfLink(path);
  openedAs.folder = !openedAs.link && S_ISDIR(info.st_mode);
  const DWORD lastError = GetLastError();  // the native calls leave it alone
  *FileHandle = AddFile(fd, DesiredAccess, ShareAccess, identity, openedAs, false, path);
  SetLastError(lastError);
  IoStatusBlock->Information = create ? FILE_CREATED : FILE_OPENED;
  return finish(kStatusSuccess);
}

namespace platform_impl {

HANDLE OpenFileQuietly(const std::string& nativePath, DWORD access, DWORD share,
                       DWORD disposition) {
  return OpenFile(nativePath, access, share, disposition, FILE_ATTRIBUTE_NORMAL);
}

bool ReadAllQuietly(HANDLE file, std::string* content) {
  auto opened = FindFile(file);
  content->clear();
  if (!opened) return FailWith(ERROR_INVALID_HANDLE);
  std::lock_guard<std::mutex> lock(opened->io);
  if (opened->fd < 0 || lseek(opened->fd, 0, SEEK_SET) < 0) return FailWith(ERROR_INVALID_HANDLE);
  char buffer[8192];
  for (;;) {
    const ssize_t got = read(opened->fd, buffer, sizeof(buffer));
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) return FailWith(ERROR_READ_FAULT);
    if (got == 0) return true;
    content->append(buffer, static_cast<size_t>(got));
  }
}

bool ReplaceAllQuietly(HANDLE file, const std::string& content) {
  auto opened = FindFile(file);
  if (!opened) return FailWith(ERROR_INVALID_HANDLE);
  std::lock_guard<std::mutex> lock(opened->io);
  if (opened->fd < 0 || lseek(opened->fd, 0, SEEK_SET) < 0) return FailWith(ERROR_INVALID_HANDLE);
  size_t done = 0;
  while (done < content.size()) {
    const ssize_t put = write(opened->fd, content.data() + done, content.size() - done);
    if (put < 0 && errno == EINTR) continue;
    if (put < 0) return FailWith(errno == ENOSPC ? ERROR_DISK_FULL : ERROR_WRITE_FAULT);
    done += static_cast<size_t>(put);
  }
  if (ftruncate(opened->fd, static_cast<off_t>(content.size())) != 0) {
    return FailWith(ERROR_WRITE_FAULT);
  }
  return true;
}

bool OwnerOfFile(HANDLE file, std::string* ownerSid) {
  auto opened = FindFile(file);
  if (!opened) return FailWith(ERROR_INVALID_HANDLE);
  // Every generic right includes reading the security of what it opens.
  constexpr DWORD kReadsSecurity =
      READ_CONTROL | GENERIC_READ | GENERIC_WRITE | GENERIC_EXECUTE | GENERIC_ALL;
  if (!(opened->access & kReadsSecurity)) return FailWith(ERROR_ACCESS_DENIED);
  FileState& state = State();
  std::lock_guard<std::mutex> lock(state.mutex);
  auto owner = state.owners.find(opened->identity);
  *ownerSid = owner == state.owners.end() ? std::string() : owner->second;
  return true;
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
  state.owners.clear();
  state.junctionsInPlace.clear();
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

bool SetFileOwner(const std::string& path, const std::string& ownerSid) {
  struct stat info;
  if (!platform_impl::IsSidText(ownerSid) ||
      stat(platform_impl::NativePathOf(path).c_str(), &info) != 0) {
    return false;
  }
  FileState& state = State();
  std::lock_guard<std::mutex> lock(state.mutex);
  state.owners[Identity{info.st_dev, info.st_ino}] = ownerSid;
  return true;
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
