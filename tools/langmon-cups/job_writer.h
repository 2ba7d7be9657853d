// The job's data offered to the monitor's write entry as a spooler offers it: in buffers, each
// rest offered again until it is taken, the whole job passing through unchanged.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>

#include "platform/win32.h"

namespace langmon_cups {

// A driver sends its first command (the printer reset that opens a job) in a write of its own,
// and the monitor never scans a job's first write: the first write is that command alone, up to
// the next escape byte, so that the first label's header is checked like every later one.
size_t FirstWriteLength(const uint8_t* data, size_t size);

enum class WriteEnd { Done, Refused, NoProgress };

// Offers `size` bytes through pfnWritePort; `first` marks the job's first bytes. `afterWrite`
// runs after every call with its result.
WriteEnd OfferJobData(const MONITOR2& monitor, HANDLE hPort, const uint8_t* data, size_t size,
                      bool first, const std::function<void(BOOL)>& afterWrite);

}  // namespace langmon_cups
