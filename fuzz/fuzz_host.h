// What every fuzz target starts from: the monitor attached over the stand-ins once per process,
// on the virtual clock, with a scratch folder, no debugger output kept and no log file (its
// folder is unset, so log lines stop at the debugger output).
#pragma once

#include <fuzzer/FuzzedDataProvider.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "monitor/monitor.h"
#include "platform/host.h"
#include "printer/status.h"

namespace langmon_fuzz {

// Ends the run as a crash, so that libFuzzer keeps the input that broke the property.
[[noreturn]] inline void Fail(const char* what, const char* file, int line) {
  std::fprintf(stderr, "fuzz property broken: %s (%s:%d)\n", what, file, line);
  std::abort();
}

#define FUZZ_CHECK(condition) \
  ((condition) ? static_cast<void>(0) : ::langmon_fuzz::Fail(#condition, __FILE__, __LINE__))

// A port monitor whose open, start, end and close always succeed; each target brings the write
// and read that it fuzzes.
namespace port_detail {
inline BOOL WINAPI OpenPort(LPWSTR, PHANDLE pHandle) {
  *pHandle = reinterpret_cast<HANDLE>(static_cast<uintptr_t>(0x5EAD));
  return TRUE;
}
inline BOOL WINAPI StartDocPort(HANDLE, LPWSTR, DWORD, DWORD, LPBYTE) { return TRUE; }
inline BOOL WINAPI Succeed(HANDLE) { return TRUE; }
}  // namespace port_detail

inline MONITOR PortMonitorWith(decltype(MONITOR::pfnWritePort) write,
                               decltype(MONITOR::pfnReadPort) read) {
  MONITOR table{};
  table.pfnOpenPort = port_detail::OpenPort;
  table.pfnStartDocPort = port_detail::StartDocPort;
  table.pfnWritePort = write;
  table.pfnReadPort = read;
  table.pfnEndDocPort = port_detail::Succeed;
  table.pfnClosePort = port_detail::Succeed;
  return table;
}

inline const std::filesystem::path& ScratchFolder() {
  static const std::filesystem::path folder = [] {
    // In memory where the machine has a tmpfs: the settings files are rewritten at every write,
    // and on a disk the truncates and syncs take half of a run's time.
    const char* base = std::getenv("TMPDIR");
    if (base == nullptr) base = access("/dev/shm", W_OK | X_OK) == 0 ? "/dev/shm" : "/tmp";
    std::string pattern = std::string(base) + "/langmon-fuzz-XXXXXX";
    std::vector<char> buffer(pattern.begin(), pattern.end());
    buffer.push_back('\0');
    if (mkdtemp(buffer.data()) == nullptr) {
      Fail("no scratch folder", __FILE__, __LINE__);
    }
    std::atexit([] {
      std::error_code ignored;
      std::filesystem::remove_all(ScratchFolder(), ignored);
    });
    return std::filesystem::path(buffer.data());
  }();
  return folder;
}

// Every run starts from a fresh host (clock at 0, no records, nothing armed) over the monitor,
// which is attached once per process as a loader would.
inline void StartRun() {
  static const bool attached = [] {
    DllMain(host::MonitorModule(), DLL_PROCESS_ATTACH, nullptr);
    return true;
  }();
  (void)attached;
  host::Reset();
  host::RecordDebugOutput(false);
  // The monitor runs on this one thread: nothing is waiting for a virtual sleep to yield.
  host::YieldOnVirtualSleep(false);
  host::SetTempFolder("");
  fShowUI = TRUE;
  fWarnedOnFailedStart = FALSE;
}

// Every run ends by freeing what its host records hold (boxes, job calls, printers), after its
// checks: a run that ends with more blocks allocated than freed is run again by libFuzzer, to
// look for a leak.
inline void EndRun() { host::Reset(); }

// Counts what a run leaves behind; Check compares with the counts at construction.
class LeakCheck {
 public:
  LeakCheck()
      : allocations_(host::LiveAllocations()),
        files_(host::OpenFileHandles()),
        events_(host::OpenEvents()),
        printers_(host::OpenPrinterHandles()) {}
  void Check() const {
    FUZZ_CHECK(host::LiveAllocations() == allocations_);
    FUZZ_CHECK(host::OpenFileHandles() == files_);
    FUZZ_CHECK(host::OpenEvents() == events_);
    FUZZ_CHECK(host::OpenPrinterHandles() == printers_);
    for (const host::DialogRecord& dialog : host::Dialogs()) {
      FUZZ_CHECK(!dialog.alive);
    }
  }

 private:
  long allocations_, files_, events_, printers_;
};

// The rules a status record must meet to be taken: whole, framed, a message count inside the
// record and a matching checksum.
inline bool IsValidRecord(const BYTE* bytes, DWORD reported) {
  if (reported != kStatusRecordSize || bytes[0] != kStatusStartChar ||
      bytes[kStatusRecordSize - 1] != kStatusEndChar || bytes[1] >= kStatusRecordSize) {
    return false;
  }
  BYTE sum = 0;
  for (DWORD i = 1; i < bytes[1]; ++i) {
    sum = static_cast<BYTE>(sum + bytes[i]);
  }
  return sum == bytes[114];
}

// A status record from the input: the fields the monitor interprets are chosen by the input and
// the checksum matches unless the input spoils it. Record numbers come from the caller.
inline StatusRecord RecordFromInput(FuzzedDataProvider& input, BYTE recordNumber) {
  StatusRecord record{};
  BYTE* bytes = reinterpret_cast<BYTE*>(&record);
  const uint8_t shape = input.ConsumeIntegral<uint8_t>();
  if (shape & 0x80) {
    // Anything at all in the body.
    const std::vector<uint8_t> body = input.ConsumeBytes<uint8_t>(kStatusRecordSize);
    std::copy(body.begin(), body.end(), bytes);
  }
  record.bStartChar = kStatusStartChar;
  record.bEndChar = kStatusEndChar;
  record.bNumMesgBytes = 114;
  record.bRecordNumber = recordNumber;
  record.bCartType = input.ConsumeIntegral<uint8_t>();
  record.bBusyChar = (shape & 0x01) ? kStatusBusyChar : 'R';
  record.bErrorFlags = (shape & 0x02) ? input.ConsumeIntegral<uint8_t>() : 0;
  WriteLittleEndian32(record.dwYellowSpitsLE, input.ConsumeIntegral<uint32_t>());
  WriteLittleEndian32(record.dwMagentaSpitsLE, input.ConsumeIntegral<uint32_t>());
  WriteLittleEndian32(record.dwCyanSpitsLE, input.ConsumeIntegral<uint32_t>());
  record.bCartStatus = input.ConsumeIntegral<uint8_t>();
  record.bNewCart = (shape & 0x04) ? 1 : input.ConsumeIntegral<uint8_t>();
  record.bAlignMarkA = (shape & 0x08) ? kAlignMarkInvalid : 'A';
  record.bAlignMarkB = (shape & 0x08) ? kAlignMarkInvalid : 'A';
  if (shape & 0x10) {
    record.bNumMesgBytes = input.ConsumeIntegral<uint8_t>();
  }
  record.bChecksum = StatusChecksum(record);
  if (shape & 0x20) {
    record.bChecksum = static_cast<BYTE>(record.bChecksum + 1);
  }
  if (shape & 0x40) {
    record.bEndChar = input.ConsumeIntegral<uint8_t>();
  }
  return record;
}

}  // namespace langmon_fuzz
