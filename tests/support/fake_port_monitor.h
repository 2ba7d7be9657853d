// A small scriptable port monitor for tests of the monitor frame: it records what it is asked and
// answers as the test sets it up. (The full simulated printer lives in sim/.)
#pragma once

#include <cstdint>
#include <deque>
#include <mutex>
#include <string>
#include <vector>

#include "platform/win32.h"

namespace langmon_test {

struct FakePort {
  // Answers
  bool openSucceeds = true;
  bool setTimeoutsSucceeds = true;
  bool startSucceeds = true;
  bool writeSucceeds = true;
  bool readSucceeds = true;
  DWORD maxBytesPerWrite = 0xFFFFFFFF;  // accepts at most this many bytes of each write
  DWORD failureError = ERROR_WRITE_FAULT;
  std::deque<std::vector<uint8_t>> pendingReads;  // each read delivers the next piece (or nothing)
  BOOL getPrinterDataResult = TRUE;

  // Record
  std::vector<std::string> calls;
  std::vector<uint8_t> written;
  std::vector<DWORD> writeSizes;
  std::vector<DWORD> readSizes;
  COMMTIMEOUTS timeouts = {};
  std::u16string startPrinterName;
  DWORD startJobId = 0;
  DWORD lastControlId = 0;

  std::recursive_mutex mutex;
};

inline FakePort& TheFakePort() {
  static FakePort port;
  return port;
}

inline void ResetFakePort() {
  FakePort& port = TheFakePort();
  std::lock_guard<std::recursive_mutex> lock(port.mutex);
  port.openSucceeds = port.setTimeoutsSucceeds = port.startSucceeds = true;
  port.writeSucceeds = port.readSucceeds = true;
  port.maxBytesPerWrite = 0xFFFFFFFF;
  port.failureError = ERROR_WRITE_FAULT;
  port.pendingReads.clear();
  port.getPrinterDataResult = TRUE;
  port.calls.clear();
  port.written.clear();
  port.writeSizes.clear();
  port.readSizes.clear();
  port.timeouts = {};
  port.startPrinterName.clear();
  port.startJobId = 0;
  port.lastControlId = 0;
}

// The handle the fake port monitor gives out for its one port.
inline HANDLE FakePortHandle() { return reinterpret_cast<HANDLE>(static_cast<uintptr_t>(0xFA4E)); }

namespace fake_port_detail {

inline void Record(const char* call) {
  FakePort& port = TheFakePort();
  std::lock_guard<std::recursive_mutex> lock(port.mutex);
  port.calls.push_back(call);
}

inline BOOL Fail() {
  SetLastError(TheFakePort().failureError);
  return FALSE;
}

inline BOOL WINAPI OpenPort(LPWSTR, PHANDLE pHandle) {
  Record("OpenPort");
  if (!TheFakePort().openSucceeds) {
    return Fail();
  }
  *pHandle = FakePortHandle();
  return TRUE;
}

inline BOOL WINAPI SetPortTimeOuts(HANDLE, LPCOMMTIMEOUTS timeouts, DWORD) {
  Record("SetPortTimeOuts");
  TheFakePort().timeouts = *timeouts;
  return TheFakePort().setTimeoutsSucceeds ? TRUE : Fail();
}

inline BOOL WINAPI StartDocPort(HANDLE, LPWSTR printerName, DWORD jobId, DWORD, LPBYTE) {
  Record("StartDocPort");
  FakePort& port = TheFakePort();
  port.startPrinterName = printerName != nullptr ? std::u16string(printerName) : u"";
  port.startJobId = jobId;
  return port.startSucceeds ? TRUE : Fail();
}

inline BOOL WINAPI WritePort(HANDLE, LPBYTE buffer, DWORD cb, LPDWORD written) {
  Record("WritePort");
  FakePort& port = TheFakePort();
  std::lock_guard<std::recursive_mutex> lock(port.mutex);
  if (!port.writeSucceeds) {
    return Fail();
  }
  const DWORD accepted = cb < port.maxBytesPerWrite ? cb : port.maxBytesPerWrite;
  port.writeSizes.push_back(cb);
  port.written.insert(port.written.end(), buffer, buffer + accepted);
  *written = accepted;
  return TRUE;
}

inline BOOL WINAPI ReadPort(HANDLE, LPBYTE buffer, DWORD cb, LPDWORD read) {
  Record("ReadPort");
  FakePort& port = TheFakePort();
  std::lock_guard<std::recursive_mutex> lock(port.mutex);
  port.readSizes.push_back(cb);
  if (!port.readSucceeds) {
    return Fail();
  }
  *read = 0;
  if (!port.pendingReads.empty()) {
    std::vector<uint8_t> piece = std::move(port.pendingReads.front());
    port.pendingReads.pop_front();
    const DWORD n = piece.size() < cb ? static_cast<DWORD>(piece.size()) : cb;
    std::copy(piece.begin(), piece.begin() + n, buffer);
    *read = n;
  }
  return TRUE;
}

inline BOOL WINAPI EndDocPort(HANDLE) {
  Record("EndDocPort");
  return TRUE;
}

inline BOOL WINAPI ClosePort(HANDLE) {
  Record("ClosePort");
  return TRUE;
}

inline BOOL WINAPI GetPrinterDataFromPort(HANDLE, DWORD controlId, LPWSTR, LPWSTR, DWORD, LPWSTR,
                                          DWORD, LPDWORD returned) {
  Record("GetPrinterDataFromPort");
  TheFakePort().lastControlId = controlId;
  if (returned != nullptr) {
    *returned = 0;
  }
  return TheFakePort().getPrinterDataResult;
}

}  // namespace fake_port_detail

// The fake's full table; tests blank entries to try incomplete port monitors.
inline MONITOR FakePortMonitorTable() {
  MONITOR table = {};
  table.pfnOpenPort = fake_port_detail::OpenPort;
  table.pfnStartDocPort = fake_port_detail::StartDocPort;
  table.pfnWritePort = fake_port_detail::WritePort;
  table.pfnReadPort = fake_port_detail::ReadPort;
  table.pfnEndDocPort = fake_port_detail::EndDocPort;
  table.pfnClosePort = fake_port_detail::ClosePort;
  table.pfnGetPrinterDataFromPort = fake_port_detail::GetPrinterDataFromPort;
  table.pfnSetPortTimeOuts = fake_port_detail::SetPortTimeOuts;
  return table;
}

}  // namespace langmon_test
