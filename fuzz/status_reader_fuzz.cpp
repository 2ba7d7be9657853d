// The status reader and the vendor status query, fed arbitrary back-channel data: every read of
// the port monitor takes its outcome from the input (failure, any number of any bytes, a count
// that differs from what was delivered, a status record whole or spoiled, time passing).
//
// Properties: every call ends within its time-out's worth of reads; a reader that reports
// success holds, in the caller's record, the bytes of a whole valid record exactly as the last
// read delivered them; a query that succeeds returns the newest bytes one of its own reads
// delivered; nothing is left allocated, open or on screen.
#include <cstring>

#include "fuzz/fuzz_host.h"
#include "printer/status_reader.h"

namespace {

struct Read {
  BOOL result = FALSE;
  std::vector<BYTE> delivered;
  DWORD reported = 0;
};

FuzzedDataProvider* gInput = nullptr;
std::vector<Read> gReads;
BYTE gRecordNumber = 0;

BOOL WINAPI FuzzReadPort(HANDLE, LPBYTE buffer, DWORD cbBuffer, LPDWORD pcbRead) {
  FuzzedDataProvider& input = *gInput;
  Read read;
  if (input.remaining_bytes() == 0) {
    // A printer that has gone quiet.
    gReads.push_back(read);
    SetLastError(ERROR_READ_FAULT);
    return FALSE;
  }
  const uint8_t step = input.ConsumeIntegral<uint8_t>();
  // The read waits for the printer a while, as a real port monitor's does.
  Sleep((step >> 3) * 25);
  switch (step & 0x07) {
    case 0:
      gReads.push_back(read);
      SetLastError(ERROR_READ_FAULT);
      return FALSE;
    case 1:
    case 2: {
      // Raw bytes; a count that says more or less than was delivered.
      const size_t count = input.ConsumeIntegralInRange<size_t>(0, cbBuffer);
      read.delivered = input.ConsumeBytes<BYTE>(count);
      read.reported = static_cast<DWORD>(read.delivered.size());
      if ((step & 0x07) == 2) {
        read.reported = input.ConsumeIntegral<uint32_t>();
      }
      break;
    }
    default: {
      // A status record; the number repeats or moves on as the input says.
      if (step & 0x04) {
        ++gRecordNumber;
      }
      const StatusRecord record = langmon_fuzz::RecordFromInput(input, gRecordNumber);
      const BYTE* bytes = reinterpret_cast<const BYTE*>(&record);
      const DWORD count = cbBuffer < kStatusRecordSize ? cbBuffer : kStatusRecordSize;
      read.delivered.assign(bytes, bytes + count);
      read.reported = count;
      break;
    }
  }
  if (!read.delivered.empty()) {
    std::memcpy(buffer, read.delivered.data(), read.delivered.size());
  }
  *pcbRead = read.reported;
  read.result = TRUE;
  gReads.push_back(read);
  return TRUE;
}

BOOL WINAPI FuzzWritePort(HANDLE, LPBYTE, DWORD cbBuf, LPDWORD pcbWritten) {
  *pcbWritten = cbBuf;
  return TRUE;
}

HANDLE OpenFuzzPort() {
  MONITOR table = langmon_fuzz::PortMonitorWith(FuzzWritePort, FuzzReadPort);
  HANDLE handle = nullptr;
  std::u16string name = u"USB001";
  FUZZ_CHECK(PJLMonOpenPortEx(name.data(), nullptr, &handle, &table));
  return handle;
}

// What a successful read of the reader left: the last read, delivered as a whole valid record.
// A port monitor that claims bytes it never delivered leaves the record's earlier bytes in place;
// then only the record's own validity can be asked for.
void CheckTakenRecord(const StatusRecord& record) {
  FUZZ_CHECK(!gReads.empty());
  const Read& last = gReads.back();
  FUZZ_CHECK(last.result);
  FUZZ_CHECK(langmon_fuzz::IsValidRecord(reinterpret_cast<const BYTE*>(&record), last.reported));
  if (last.reported != last.delivered.size()) {
    return;
  }
  FUZZ_CHECK(last.delivered.size() == kStatusRecordSize);
  FUZZ_CHECK(std::memcmp(&record, last.delivered.data(), kStatusRecordSize) == 0);
  FUZZ_CHECK(langmon_fuzz::IsValidRecord(last.delivered.data(), last.reported));
}

// Reads a call may make: one per pause of the shortest kind, and one more.
size_t MostReads(DWORD timeoutMs, DWORD pauseMs) { return timeoutMs / pauseMs + 2; }

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  langmon_fuzz::StartRun();
  FuzzedDataProvider input(data, size);
  gInput = &input;
  gRecordNumber = 0;
  const langmon_fuzz::LeakCheck leaks;
  // The spooler's entries take the handle; the reader works on the record behind it.
  const HANDLE handle = OpenFuzzPort();
  IniPort* port = PortOfHandle(handle);
  FUZZ_CHECK(port != nullptr);

  const uint8_t what = input.ConsumeIntegral<uint8_t>();
  const DWORD timeoutMs = input.ConsumeIntegralInRange<DWORD>(0, 600);
  gReads.clear();
  if ((what & 0x03) == 0) {
    StatusRecord record;
    const BOOL fresh = GetRoboStatusUSB(port, &record, timeoutMs, (what & 0x04) != 0);
    FUZZ_CHECK(gReads.size() <= MostReads(timeoutMs, kStatusReadPause));
    if (fresh) {
      CheckTakenRecord(record);
    }
  } else if ((what & 0x03) == 1) {
    StatusRecord record;
    const BOOL fresh = WaitForPrinterStatus(port, &record, timeoutMs, (what & 0x04) != 0);
    // Every reader call inside may run for the whole time-out again.
    FUZZ_CHECK(gReads.size() <=
               MostReads(timeoutMs, kStatusWaitPause) * MostReads(timeoutMs, kStatusReadPause));
    if (fresh) {
      CheckTakenRecord(record);
    }
  } else {
    // The vendor query drains the back channel and answers with the newest piece.
    // One byte more than offered, so that even an empty output buffer is a real one.
    const DWORD cbOut = input.ConsumeIntegralInRange<DWORD>(0, 600);
    std::vector<BYTE> out(cbOut + 1);
    DWORD returned = 0xFFFFFFFF;
    std::u16string name = (what & 0x04) ? u"velmora" : u"VELMORA";
    const BOOL answered = GetPrinterDataFromPort(
        handle, 0, name.data(), nullptr, 0, reinterpret_cast<LPWSTR>(out.data()), cbOut, &returned);
    const Read* newest = nullptr;
    for (const Read& read : gReads) {
      if (read.result && read.reported > 0) {
        newest = &read;
      }
    }
    FUZZ_CHECK((answered != FALSE) == (newest != nullptr));
    FUZZ_CHECK(port->cbStatusSnapshot < kStatusSnapshotSize);
    FUZZ_CHECK(port->StatusSnapshot[kStatusSnapshotSize - 1] == 0);
    if (answered && newest->reported == newest->delivered.size()) {
      const DWORD expected = static_cast<DWORD>(
          std::min<size_t>(cbOut, std::min<size_t>(newest->delivered.size(), 511)));
      FUZZ_CHECK(returned == expected);
      FUZZ_CHECK(std::memcmp(out.data(), newest->delivered.data(), expected) == 0);
    }
  }

  FUZZ_CHECK(PJLMonClosePort(handle));
  leaks.Check();
  gInput = nullptr;
  langmon_fuzz::EndRun();
  return 0;
}
