// Makes a folder a junction in place, as any user who may write to an empty folder can:
// FSCTL_SET_REPARSE_POINT on its handle, with no rename and no delete. Win32 only, so that the
// stand-ins' tests and the tests of the real DLL share it.
#pragma once

#include <cstring>
#include <string>
#include <vector>

#include "platform/win32.h"

#ifdef _WIN32
#include <winioctl.h>
#endif

namespace langmon_test {

// The folder behind hFolder (opened with FILE_WRITE_DATA or FILE_WRITE_ATTRIBUTES and backup
// semantics) becomes a junction to target, a full Windows path; false with the last error set.
inline bool MakeJunctionInPlace(HANDLE hFolder, const std::basic_string<WCHAR>& target) {
  const std::basic_string<WCHAR> substitute = WSTR("\\??\\") + target;
  const WORD cbSubstitute = static_cast<WORD>(substitute.size() * sizeof(WCHAR));
  const WORD cbPrint = static_cast<WORD>(target.size() * sizeof(WCHAR));
  // Tag, data length, reserved; then the offsets and lengths of the two names, each name with
  // its NUL.
  const WORD cbData = static_cast<WORD>(8 + cbSubstitute + sizeof(WCHAR) + cbPrint + sizeof(WCHAR));
  std::vector<BYTE> buffer(8 + cbData, 0);
  const DWORD tag = IO_REPARSE_TAG_MOUNT_POINT;
  const WORD header[6] = {cbData, 0, 0, cbSubstitute, static_cast<WORD>(cbSubstitute + 2), cbPrint};
  std::memcpy(buffer.data(), &tag, sizeof(tag));
  std::memcpy(buffer.data() + 4, header, sizeof(header));
  std::memcpy(buffer.data() + 16, substitute.data(), cbSubstitute);
  std::memcpy(buffer.data() + 16 + cbSubstitute + 2, target.data(), cbPrint);
  DWORD returned = 0;
  return DeviceIoControl(hFolder, FSCTL_SET_REPARSE_POINT, buffer.data(),
                         static_cast<DWORD>(buffer.size()), nullptr, 0, &returned,
                         nullptr) != FALSE;
}

}  // namespace langmon_test
