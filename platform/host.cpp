// host::Reset and the mapping of Windows paths onto this file system.
#include "platform/host.h"

#include "platform/host_state.h"

namespace platform_impl {

std::string NativePathOf(std::string windowsPath) {
  for (char& c : windowsPath) {
    if (c == '\\') c = '/';
  }
  return windowsPath;
}

}  // namespace platform_impl

namespace host {

void Reset() {
  using namespace platform_impl;
  ResetClock();
  ResetDebugOutput();
  ResetMemory();
  ResetFiles();
  ResetProfile();
  ResetRegistry();
  ResetMessageBoxes();
  ResetDialogs();
  ResetShell();
  ResetSpooler();
  ResetModules();
  ResetBidiMemory();
  ResetSessions();
  ResetSecurity();
  SetLastError(ERROR_SUCCESS);
}

std::string NativePath(const std::string& windowsPath) {
  return platform_impl::NativePathOf(windowsPath);
}

std::string NativePath(const std::u16string& windowsPath) {
  return platform_impl::NativePathOf(platform_impl::Utf16ToUtf8(windowsPath));
}

}  // namespace host
