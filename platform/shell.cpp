// SHGetSpecialFolderPathW for the machine-wide application-data folder.
#include <sys/stat.h>

#include <algorithm>
#include <filesystem>

#include "platform/host.h"
#include "platform/host_state.h"

namespace {

struct ShellState {
  std::mutex mutex;
  std::string commonAppData;
};

ShellState& State() {
  static ShellState* state = new ShellState;
  return *state;
}

}  // namespace

// CSIDL_COMMON_APPDATA only: the host's folder as it was given. A missing folder is created
// when fCreate (or CSIDL_FLAG_CREATE) asks for it; otherwise the call fails.
BOOL WINAPI SHGetSpecialFolderPathW(HWND hwnd, LPWSTR pszPath, int csidl, BOOL fCreate) {
  (void)hwnd;
  const bool create = fCreate || (csidl & CSIDL_FLAG_CREATE);
  if (!pszPath || (csidl & 0xFF) != CSIDL_COMMON_APPDATA) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  std::string folder;
  {
    std::lock_guard<std::mutex> lock(State().mutex);
    folder = State().commonAppData;
  }
  const std::u16string wide = platform_impl::Utf8ToUtf16(folder);
  if (folder.empty() || wide.size() >= MAX_PATH) {
    SetLastError(ERROR_PATH_NOT_FOUND);
    return FALSE;
  }
  const std::string native = platform_impl::NativePathOf(folder);
  auto isFolder = [&native] {
    struct stat info;
    return stat(native.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
  };
  if (!isFolder()) {
    std::error_code ignored;
    if (create) std::filesystem::create_directories(native, ignored);
    if (!isFolder()) {
      SetLastError(ERROR_PATH_NOT_FOUND);
      return FALSE;
    }
  }
  std::copy(wide.begin(), wide.end(), pszPath);
  pszPath[wide.size()] = u'\0';
  return TRUE;
}

namespace platform_impl {

void ResetShell() {
  std::lock_guard<std::mutex> lock(State().mutex);
  State().commonAppData.clear();
}

}  // namespace platform_impl

namespace host {

void SetCommonAppDataFolder(const std::string& folder) {
  std::lock_guard<std::mutex> lock(State().mutex);
  State().commonAppData = folder;
}

}  // namespace host
