// The write path fed arbitrary job data in arbitrary writes, over a port monitor that accepts all,
// part or none of each write as the input says, with a pre-job check that passes or fails.
//
// Properties: the bytes that reach the port monitor are the job's bytes, in order, with nothing
// left out or repeated; a write is forwarded as one port-monitor write of at least one byte
// unless nothing was offered; a scanned write is cut exactly before a later job header or an
// escape byte too close to its end, and a job header at its start is checked before it is sent;
// a failed check deletes the job and forwards nothing. Every byte finder built for the target
// (memchr, SSE2, NEON) finds the job's escape bytes where a plain loop finds them.
#include <cstring>

#include "fuzz/fuzz_host.h"
#include "monitor/byte_search.h"
#include "sim/spooler.h"
#include "tests/support/header_scan.h"

namespace {

using langmon_test::CutWrite;
using langmon_test::kJobHeaderFirstBytes;
using langmon_test::ScanCut;

constexpr DWORD kJobId = 7;

struct PortWrite {
  const BYTE* buffer;
  DWORD count;
};

FuzzedDataProvider* gInput = nullptr;
std::vector<PortWrite> gWrites;  // job data writes, as the port monitor saw them
std::vector<BYTE> gAccepted;
unsigned gReads = 0;
BYTE gRecordNumber = 0;
BYTE gErrorFlags = 0;

// Takes all of a write, a part of it, or refuses it.
BOOL WINAPI FuzzWritePort(HANDLE, LPBYTE buffer, DWORD cbBuf, LPDWORD pcbWritten) {
  gWrites.push_back({buffer, cbBuf});
  const uint8_t outcome = gInput->ConsumeIntegral<uint8_t>();
  if (outcome >= 0xF0) {
    SetLastError(ERROR_WRITE_FAULT);
    return FALSE;
  }
  DWORD accepted = cbBuf;
  if (outcome >= 0xC0) {
    accepted = gInput->ConsumeIntegralInRange<DWORD>(0, cbBuf);
  }
  gAccepted.insert(gAccepted.end(), buffer, buffer + accepted);
  *pcbWritten = accepted;
  return TRUE;
}

// A healthy printer with a fresh record at every read; the error flags of the job decide whether
// its check passes.
BOOL WINAPI FuzzReadPort(HANDLE, LPBYTE buffer, DWORD cbBuffer, LPDWORD pcbRead) {
  ++gReads;
  StatusRecord record{};
  record.bStartChar = kStatusStartChar;
  record.bNumMesgBytes = 114;
  record.bRecordNumber = ++gRecordNumber;
  record.bCartType = 'C';
  record.bBusyChar = 'R';
  record.bErrorFlags = gErrorFlags;
  record.bAlignMarkA = record.bAlignMarkB = 'A';
  record.bEndChar = kStatusEndChar;
  record.bChecksum = StatusChecksum(record);
  const DWORD count = cbBuffer < kStatusRecordSize ? cbBuffer : kStatusRecordSize;
  std::memcpy(buffer, &record, count);
  *pcbRead = count;
  return TRUE;
}

MONITOR FuzzPortMonitor() { return langmon_fuzz::PortMonitorWith(FuzzWritePort, FuzzReadPort); }

// Job data from the input, with job headers dropped in at places the input chooses.
std::vector<BYTE> JobDataFromInput(FuzzedDataProvider& input) {
  const std::vector<BYTE> header = sim::JobHeaderCommand();
  std::vector<BYTE> data;
  const size_t pieces = input.ConsumeIntegralInRange<size_t>(0, 8);
  for (size_t i = 0; i < pieces; ++i) {
    if (input.ConsumeBool()) {
      data.insert(data.end(), header.begin(), header.end());
    }
    const std::vector<BYTE> bytes =
        input.ConsumeBytes<BYTE>(input.ConsumeIntegralInRange<size_t>(0, 400));
    data.insert(data.end(), bytes.begin(), bytes.end());
  }
  return data;
}

// Each index of the escape byte in data, in order, then the end.
template <typename Finder>
void CheckFinder(const std::vector<BYTE>& data) {
  const DWORD end = static_cast<DWORD>(data.size());
  Finder finder(data.data(), end, kJobHeaderFirstBytes[0]);
  for (DWORD i = 0; i < end; ++i) {
    if (data[i] == kJobHeaderFirstBytes[0]) {
      FUZZ_CHECK(finder.Next() == i);
    }
  }
  FUZZ_CHECK(finder.Next() == end);
  FUZZ_CHECK(finder.Next() == end);
}

void CheckFinders(const std::vector<BYTE>& data) {
  CheckFinder<MemchrByteFinder>(data);
#if defined(__SSE2__)
  CheckFinder<Sse2ByteFinder>(data);
#endif
#if defined(LANGMON_NEON_BYTE_FINDER)
  CheckFinder<NeonByteFinder>(data);
#endif
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* bytes, size_t size) {
  langmon_fuzz::StartRun();
  FuzzedDataProvider input(bytes, size);
  gInput = &input;
  gWrites.clear();
  gAccepted.clear();
  gReads = 0;
  gRecordNumber = 0;

  host::Printer printer;
  printer.name = u"Label A";
  host::AddPrinter(printer);
  const langmon_fuzz::LeakCheck leaks;

  const uint8_t setup = input.ConsumeIntegral<uint8_t>();
  const bool filePort = setup & 0x01;
  const bool commandDocument = setup & 0x02;
  const bool checkFails = setup & 0x04;
  gErrorFlags = checkFails ? 0x08 : 0x00;  // an unrecoverable printer error stops the job
  fShowUI = FALSE;

  MONITOR portMonitor = FuzzPortMonitor();
  std::u16string portName = filePort ? u"FILE:" : u"USB001";
  std::u16string printerName = u"Label A";
  std::u16string documentName = commandDocument ? u"Brindlemarsten Command" : u"Labels";
  HANDLE port = nullptr;
  FUZZ_CHECK(PJLMonOpenPortEx(portName.data(), printerName.data(), &port, &portMonitor));
  DOC_INFO_1W docInfo = {documentName.data(), nullptr, nullptr};
  FUZZ_CHECK(
      PJLMonStartDocPort(port, printerName.data(), kJobId, 1, reinterpret_cast<LPBYTE>(&docInfo)));

  std::vector<BYTE> data = JobDataFromInput(input);
  CheckFinders(data);
  const DWORD total = static_cast<DWORD>(data.size());
  DWORD sent = 0;
  bool firstWrite = true;
  bool deleted = false;
  for (unsigned offers = 0; offers < 200 && sent < total && !deleted; ++offers) {
    // Any size, now and then none at all.
    DWORD offered = input.ConsumeIntegralInRange<DWORD>(0, total - sent);
    if (input.remaining_bytes() == 0) {
      offered = total - sent;
    }
    BYTE* at = data.data() + sent;
    const bool scanned = !firstWrite && !filePort && !commandDocument;
    const ScanCut expected = scanned ? CutWrite(at, offered) : ScanCut{offered, false};

    const size_t writesBefore = gWrites.size();
    const unsigned readsBefore = gReads;
    const size_t deletesBefore = host::SetJobCalls().size();
    DWORD written = 0xDEADBEEF;
    const BOOL result = PJLWritePort(port, at, offered, &written);

    // The check runs exactly when a scanned write begins with a header.
    FUZZ_CHECK((gReads != readsBefore) == expected.headerAtStart);
    if (expected.headerAtStart && checkFails) {
      FUZZ_CHECK(!result);
      FUZZ_CHECK(gWrites.size() == writesBefore);
      const std::vector<host::SetJobRecord> calls = host::SetJobCalls();
      FUZZ_CHECK(calls.size() == deletesBefore + 1);
      FUZZ_CHECK(calls.back().command == JOB_CONTROL_DELETE && calls.back().jobId == kJobId);
      deleted = true;
      break;
    }
    if (offered == 0) {
      FUZZ_CHECK(result);
      FUZZ_CHECK(gWrites.size() == writesBefore);
      continue;
    }
    // One port-monitor write of what is to be sent now, from the start of the offer.
    FUZZ_CHECK(gWrites.size() == writesBefore + 1);
    FUZZ_CHECK(gWrites.back().buffer == at);
    FUZZ_CHECK(gWrites.back().count == expected.count);
    FUZZ_CHECK(expected.count >= 1);
    if (result) {
      FUZZ_CHECK(written <= expected.count);
      sent += written;
      firstWrite = false;
    }
  }

  // Whatever was accepted is the job's own data from its first byte on.
  FUZZ_CHECK(gAccepted.size() == sent);
  FUZZ_CHECK(std::equal(gAccepted.begin(), gAccepted.end(), data.begin()));

  FUZZ_CHECK(PJLMonEndDocPort(port));
  FUZZ_CHECK(PJLMonClosePort(port));
  leaks.Check();
  gInput = nullptr;
  langmon_fuzz::EndRun();
  return 0;
}
