#include "tools/langmon-cups/job_writer.h"

#include <vector>

namespace langmon_cups {

namespace {

constexpr BYTE kEscape = 0x1B;
// A first command longer than this is not a reset: the write is cut there anyway.
constexpr size_t kLongestFirstWrite = 4096;
constexpr size_t kOfferSize = 65536;
// A write that takes nothing this many times in a row (each waited its write time-out) ends
// the job, as a spooler gives up on a port that makes no progress.
constexpr unsigned kMaxIdleOffers = 100;

}  // namespace

size_t FirstWriteLength(const uint8_t* data, size_t size) {
  const size_t limit = size < kLongestFirstWrite ? size : kLongestFirstWrite;
  for (size_t i = 1; i < limit; ++i) {
    if (data[i] == kEscape) return i;
  }
  return limit;
}

WriteEnd OfferJobData(const MONITOR2& monitor, HANDLE hPort, const uint8_t* data, size_t size,
                      bool first, const std::function<void(BOOL)>& afterWrite) {
  size_t sent = 0;
  unsigned idle = 0;
  // The entry takes a writable buffer; each offer goes out from a copy.
  std::vector<BYTE> buffer;
  while (sent < size) {
    size_t offer = size - sent < kOfferSize ? size - sent : kOfferSize;
    if (first && sent == 0) offer = FirstWriteLength(data, size);
    buffer.assign(data + sent, data + sent + offer);
    DWORD written = 0;
    const BOOL ok = monitor.pfnWritePort(hPort, buffer.data(), static_cast<DWORD>(offer), &written);
    const DWORD error = GetLastError();
    if (afterWrite) afterWrite(ok);
    SetLastError(error);
    if (!ok) return WriteEnd::Refused;
    sent += written < offer ? written : offer;
    idle = written == 0 ? idle + 1 : 0;
    if (idle >= kMaxIdleOffers) return WriteEnd::NoProgress;
  }
  return WriteEnd::Done;
}

}  // namespace langmon_cups
