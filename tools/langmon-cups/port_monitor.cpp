#include "tools/langmon-cups/port_monitor.h"

#include <poll.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>

#include "records/status_record.h"

namespace langmon_cups {

namespace {

Port* gPort = nullptr;
int gMonitorHandle = 0;  // its address is the port monitor's handle

// A write that cannot go on is retried in steps this long, so that a cancel is seen.
constexpr int kWriteStepMs = 200;
// Until the monitor sets its own.
constexpr COMMTIMEOUTS kDefaultTimeouts = {200, 0, 5000, 0, 120000};

Port* PortOf(HANDLE hPort) { return hPort == gPort && gPort != nullptr ? gPort : nullptr; }

BOOL WINAPI OpenPort(HANDLE hMonitor, LPWSTR /*pName*/, PHANDLE pHandle) {
  if (hMonitor != PortMonitorHandle() || gPort == nullptr || pHandle == nullptr) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  gPort->timeouts = kDefaultTimeouts;
  *pHandle = gPort;
  return TRUE;
}

BOOL WINAPI StartDocPort(HANDLE hPort, LPWSTR, DWORD, DWORD, LPBYTE) {
  return PortOf(hPort) != nullptr ? TRUE : FALSE;
}

// Hands bytes to the child. Bytes that cannot go within the write time-out are left to the
// caller to offer again (TRUE with what went), as a spooler does; a cancelled job or a child
// that has gone fails the write.
BOOL WINAPI WritePort(HANDLE hPort, LPBYTE pBuffer, DWORD cbBuf, LPDWORD pcbWritten) {
  Port* port = PortOf(hPort);
  if (pcbWritten != nullptr) *pcbWritten = 0;
  if (port == nullptr || pcbWritten == nullptr) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  if (port->swallowNextWrite) {
    port->swallowNextWrite = false;
    *pcbWritten = cbBuf;
    return TRUE;
  }
  using Clock = std::chrono::steady_clock;
  const DWORD timeout =
      port->timeouts.WriteTotalTimeoutConstant + port->timeouts.WriteTotalTimeoutMultiplier * cbBuf;
  const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(timeout);
  DWORD written = 0;
  while (written < cbBuf) {
    if (port->cancelled || port->dataFd < 0 || port->channels->Ended()) {
      *pcbWritten = written;
      SetLastError(port->cancelled ? ERROR_PRINT_CANCELLED : ERROR_WRITE_FAULT);
      return FALSE;
    }
    const ssize_t sent = write(port->dataFd, pBuffer + written, cbBuf - written);
    if (sent > 0) {
      written += static_cast<DWORD>(sent);
      port->counts.bytesWritten += static_cast<uint64_t>(sent);
      continue;
    }
    if (sent < 0 && errno != EAGAIN && errno != EINTR) {
      *pcbWritten = written;
      SetLastError(ERROR_WRITE_FAULT);
      return FALSE;
    }
    if (Clock::now() >= deadline) break;
    pollfd fd = {port->dataFd, POLLOUT, 0};
    poll(&fd, 1, kWriteStepMs);
  }
  *pcbWritten = written;
  return TRUE;
}

BOOL WINAPI ReadPort(HANDLE hPort, LPBYTE pBuffer, DWORD cbBuffer, LPDWORD pcbRead) {
  Port* port = PortOf(hPort);
  if (port == nullptr || pcbRead == nullptr) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  ++port->counts.reads;
  const unsigned total = port->cancelled ? 0
                                         : port->timeouts.ReadTotalTimeoutConstant +
                                               port->timeouts.ReadTotalTimeoutMultiplier * cbBuffer;
  *pcbRead = static_cast<DWORD>(
      port->backChannel->Read(pBuffer, cbBuffer, total, port->timeouts.ReadIntervalTimeout));
  if (*pcbRead > 0) {
    ++port->counts.statusReads;
    if (*pcbRead == sizeof(StatusRecord)) port->lastRecord.assign(pBuffer, pBuffer + *pcbRead);
  } else if (port->channels->Ended()) {
    SetLastError(ERROR_READ_FAULT);
    return FALSE;
  }
  return TRUE;
}

BOOL WINAPI EndDocPort(HANDLE hPort) { return PortOf(hPort) != nullptr ? TRUE : FALSE; }

BOOL WINAPI ClosePort(HANDLE hPort) { return PortOf(hPort) != nullptr ? TRUE : FALSE; }

BOOL WINAPI SetPortTimeOuts(HANDLE hPort, LPCOMMTIMEOUTS lpCTO, DWORD /*reserved*/) {
  Port* port = PortOf(hPort);
  if (port == nullptr || lpCTO == nullptr) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  port->timeouts = *lpCTO;
  return TRUE;
}

}  // namespace

void AttachPort(Port* port) { gPort = port; }

HANDLE PortMonitorHandle() { return &gMonitorHandle; }

MONITOR2 PortMonitorTable() {
  MONITOR2 table = {};
  table.cbSize = sizeof(MONITOR2);
  table.pfnOpenPort = OpenPort;
  table.pfnStartDocPort = StartDocPort;
  table.pfnWritePort = WritePort;
  table.pfnReadPort = ReadPort;
  table.pfnEndDocPort = EndDocPort;
  table.pfnClosePort = ClosePort;
  table.pfnSetPortTimeOuts = SetPortTimeOuts;
  return table;
}

}  // namespace langmon_cups
