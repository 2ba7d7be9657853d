// The job's data offered to the monitor's write entry as a spooler offers it: in buffers, each
// rest offered again until it is taken, the whole job passing through unchanged.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>

#include "platform/win32.h"

namespace langmon_cups {

enum class WriteEnd { Done, Refused, NoProgress };

struct Offered {
  WriteEnd end = WriteEnd::Done;
  size_t taken = 0;  // bytes the monitor took
};

// A rest the monitor leaves shorter than this, while more of the job is still to be read, is
// kept for the next offer: the monitor cuts a write before a job header it cannot see whole,
// and a header offered alone in a short write would not be scanned.
constexpr size_t kCarriedRest = 4096;

// Offers `size` bytes through pfnWritePort. With `more` (the job goes on after these bytes) a
// short rest is left untaken (see kCarriedRest) for the caller to offer with what follows.
// `afterWrite` runs after every call with its result.
Offered OfferJobData(const MONITOR2& monitor, HANDLE hPort, const uint8_t* data, size_t size,
                     bool more, const std::function<void(BOOL)>& afterWrite);

}  // namespace langmon_cups
