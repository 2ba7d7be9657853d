#include "tools/langmon-cups/job_writer.h"

#include <vector>

namespace langmon_cups {

namespace {

constexpr size_t kOfferSize = 65536;
// A write that takes nothing this many times in a row (each waited its write time-out) ends
// the job, as a spooler gives up on a port that makes no progress.
constexpr unsigned kMaxIdleOffers = 100;

}  // namespace

Offered OfferJobData(const MONITOR2& monitor, HANDLE hPort, const uint8_t* data, size_t size,
                     bool more, const std::function<void(BOOL)>& afterWrite) {
  Offered result;
  unsigned idle = 0;
  // The entry takes a writable buffer; each offer goes out from a copy.
  std::vector<BYTE> buffer;
  while (result.taken < size) {
    const size_t left = size - result.taken;
    const size_t offer = left < kOfferSize ? left : kOfferSize;
    buffer.assign(data + result.taken, data + result.taken + offer);
    DWORD written = 0;
    const BOOL ok = monitor.pfnWritePort(hPort, buffer.data(), static_cast<DWORD>(offer), &written);
    const DWORD error = GetLastError();
    if (afterWrite) afterWrite(ok);
    SetLastError(error);
    if (!ok) {
      result.end = WriteEnd::Refused;
      return result;
    }
    result.taken += written < offer ? written : offer;
    if (more && written < offer && size - result.taken < kCarriedRest) return result;
    idle = written == 0 ? idle + 1 : 0;
    if (idle >= kMaxIdleOffers) {
      result.end = WriteEnd::NoProgress;
      return result;
    }
  }
  return result;
}

}  // namespace langmon_cups
