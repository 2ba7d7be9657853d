// Files: GetTempPathA, CreateFileA/W with Windows sharing, ReadFile, WriteFile, GetFileSize,
// SetFilePointer, SetEndOfFile, and the host's file failures.
//
// Windows paths are mapped with host::NativePath. Each handle has its own file position. Sharing
// is checked between the handles of this process, per file (device and inode): an open is
// refused with ERROR_SHARING_VIOLATION when it asks for access that an open handle does not
// share, or does not share the access that an open handle has.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstring>
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
};

FileState& State() {
  static FileState* state = new FileState;
  return *state;
}

bool WantsRead(DWORD access) { return (access & (GENERIC_READ | GENERIC_ALL)) != 0; }
bool WantsWrite(DWORD access) { return (access & (GENERIC_WRITE | GENERIC_ALL)) != 0; }

struct FileObject : platform_impl::KernelObject {
  FileObject(int descriptor, DWORD desiredAccess, DWORD shareMode, Identity fileIdentity)
      : KernelObject(ObjectKind::kFile),
        fd(descriptor),
        access(desiredAccess),
        share(shareMode),
        identity(fileIdentity) {}

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
};

bool Conflicts(const FileObject& open, DWORD access, DWORD share) {
  if (WantsRead(access) && !(open.share & FILE_SHARE_READ)) return true;
  if (WantsWrite(access) && !(open.share & FILE_SHARE_WRITE)) return true;
  if (WantsRead(open.access) && !(share & FILE_SHARE_READ)) return true;
  if (WantsWrite(open.access) && !(share & FILE_SHARE_WRITE)) return true;
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

HANDLE OpenFile(const std::string& path, DWORD access, DWORD share, DWORD disposition) {
  if (path.empty()) return Fail(ERROR_PATH_NOT_FOUND);
  int flags = O_CLOEXEC;
  if (WantsRead(access) && WantsWrite(access)) {
    flags |= O_RDWR;
  } else if (WantsWrite(access)) {
    flags |= O_WRONLY;
  } else {
    flags |= O_RDONLY;
  }
  bool truncate = false;
  switch (disposition) {
    case CREATE_NEW:
      flags |= O_CREAT | O_EXCL;
      break;
    case CREATE_ALWAYS:
      flags |= O_CREAT;
      truncate = true;
      break;
    case OPEN_EXISTING:
      break;
    case OPEN_ALWAYS:
      flags |= O_CREAT;
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
  struct stat info;
  const bool existed = stat(path.c_str(), &info) == 0;
  if (existed && S_ISDIR(info.st_mode)) return Fail(ERROR_ACCESS_DENIED);
  const int fd = open(path.c_str(), flags, 0666);
  if (fd < 0) return Fail(ErrorOfOpen(errno, path));
  if (fstat(fd, &info) != 0 || S_ISDIR(info.st_mode)) {
    close(fd);
    return Fail(ERROR_ACCESS_DENIED);
  }
  const Identity identity{info.st_dev, info.st_ino};
  auto open = state.open.find(identity);
  if (open != state.open.end()) {
    for (const FileObject* other : open->second) {
      if (Conflicts(*other, access, share)) {
        close(fd);
        return Fail(ERROR_SHARING_VIOLATION);
      }
    }
  }
  if (truncate && info.st_size != 0) {
    const int result = WantsWrite(access) ? ftruncate(fd, 0) : ::truncate(path.c_str(), 0);
    if (result != 0) {
      const int error = errno;
      close(fd);
      return Fail(ErrorOfOpen(error, path));
    }
  }
  auto object = std::make_shared<FileObject>(fd, access, share, identity);
  state.open[identity].push_back(object.get());
  const HANDLE handle = platform_impl::AddHandle(std::move(object));
  const bool reportsExisting =
      existed && (disposition == CREATE_ALWAYS || disposition == OPEN_ALWAYS);
  SetLastError(reportsExisting ? ERROR_ALREADY_EXISTS : ERROR_SUCCESS);
  return handle;
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
  } else if (!allowed(file->access)) {
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

// The host's folder with a trailing separator. Fails (0, ERROR_PATH_NOT_FOUND) when unset.
DWORD WINAPI GetTempPathA(DWORD nBufferLength, LPSTR lpBuffer) {
  std::string folder;
  {
    FileState& state = State();
    std::lock_guard<std::mutex> lock(state.mutex);
    folder = state.tempFolder;
  }
  if (folder.empty()) {
    SetLastError(ERROR_PATH_NOT_FOUND);
    return 0;
  }
  const DWORD length = static_cast<DWORD>(folder.size());
  if (!lpBuffer || nBufferLength <= length) return length + 1;  // the size needed, NUL included
  std::memcpy(lpBuffer, folder.c_str(), folder.size() + 1);
  return length;
}

HANDLE WINAPI CreateFileA(LPCSTR lpFileName, DWORD dwDesiredAccess, DWORD dwShareMode,
                          LPSECURITY_ATTRIBUTES lpSecurityAttributes, DWORD dwCreationDisposition,
                          DWORD dwFlagsAndAttributes, HANDLE hTemplateFile) {
  (void)lpSecurityAttributes;
  (void)dwFlagsAndAttributes;
  (void)hTemplateFile;
  if (!lpFileName) return Fail(ERROR_INVALID_PARAMETER);
  return OpenFile(platform_impl::NativePathOf(lpFileName), dwDesiredAccess, dwShareMode,
                  dwCreationDisposition);
}

HANDLE WINAPI CreateFileW(LPCWSTR lpFileName, DWORD dwDesiredAccess, DWORD dwShareMode,
                          LPSECURITY_ATTRIBUTES lpSecurityAttributes, DWORD dwCreationDisposition,
                          DWORD dwFlagsAndAttributes, HANDLE hTemplateFile) {
  (void)lpSecurityAttributes;
  (void)dwFlagsAndAttributes;
  (void)hTemplateFile;
  if (!lpFileName) return Fail(ERROR_INVALID_PARAMETER);
  return OpenFile(platform_impl::NativePathOf(platform_impl::Utf16ToUtf8(lpFileName)),
                  dwDesiredAccess, dwShareMode, dwCreationDisposition);
}

BOOL WINAPI ReadFile(HANDLE hFile, LPVOID lpBuffer, DWORD nNumberOfBytesToRead,
                     LPDWORD lpNumberOfBytesRead, LPVOID lpOverlapped) {
  if (lpNumberOfBytesRead) *lpNumberOfBytesRead = 0;
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
  const uint64_t size = static_cast<uint64_t>(info.st_size);
  if (lpFileSizeHigh) *lpFileSizeHigh = static_cast<DWORD>(size >> 32);
  const DWORD low = static_cast<DWORD>(size);
  if (low == INVALID_FILE_SIZE) SetLastError(ERROR_SUCCESS);  // tells a real size from failure
  return low;
}

DWORD WINAPI SetFilePointer(HANDLE hFile, LONG lDistanceToMove, PLONG lpDistanceToMoveHigh,
                            DWORD dwMoveMethod) {
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
  auto file = FindFile(hFile);
  if (!file) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  if (!WantsWrite(file->access)) {
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

namespace platform_impl {

// Open handles stay open and keep their sharing; folders and failures go.
void ResetFiles() {
  FileState& state = State();
  std::lock_guard<std::mutex> lock(state.mutex);
  state.tempFolder.clear();
  state.failures.clear();
  state.anyFailure = false;
}

}  // namespace platform_impl

namespace host {

void SetTempFolder(const std::string& folder) {
  FileState& state = State();
  std::lock_guard<std::mutex> lock(state.mutex);
  state.tempFolder = folder;
  if (!folder.empty() && folder.back() != '/' && folder.back() != '\\') state.tempFolder += '/';
}

void FailFileReads(const std::string& path, DWORD afterBytes) {
  Arm(path, FailureKind::kRead, true, afterBytes);
}

void FailFileSize(const std::string& path, bool fail) { Arm(path, FailureKind::kSize, fail); }

void FailFileWrites(const std::string& path, bool fail) { Arm(path, FailureKind::kWrite, fail); }

void ClearFileFailures() {
  FileState& state = State();
  std::lock_guard<std::mutex> lock(state.mutex);
  state.failures.clear();
  state.anyFailure = false;
}

}  // namespace host
