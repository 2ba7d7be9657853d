// The write path's job-header scan written out as a plain byte-at-a-time loop, with the header's
// bytes as literals: the one reference that the write-path tests, the write-path fuzz target and
// the Windows benchmark host hold the monitor's scan against. Plain C++ with no other header of
// the project, so that it builds natively, with clang for fuzzing and with mingw-w64.
#pragma once

#include <cstddef>
#include <cstdint>

namespace langmon_test {

// Writes shorter than this go out whole, unscanned.
constexpr size_t kShortestScannedWrite = 51;
constexpr size_t kJobHeaderLength = 36;
constexpr uint8_t kJobHeaderFirstBytes[4] = {0x1B, 0x2A, 0x12, 0x1C};
constexpr uint8_t kJobHeaderLastBytes[4] = {0xA5, 0x00, 0x06, 0x40};

struct ScanCut {
  size_t count;        // the bytes to send now
  bool headerAtStart;  // the write begins with a job header: it is checked before it goes
};

// True when the eight bytes the scan tests match a job header at data[at]; the caller makes
// sure a whole header's length of bytes is there.
inline bool JobHeaderAt(const uint8_t* data, size_t at) {
  for (size_t k = 0; k < 4; ++k) {
    if (data[at + k] != kJobHeaderFirstBytes[k] ||
        data[at + kJobHeaderLength - 4 + k] != kJobHeaderLastBytes[k]) {
      return false;
    }
  }
  return true;
}

// How a scanned write is cut, byte by byte: an escape byte with no more than a header and one
// byte after it ends the write there; a header ends it there unless it is the first byte, in
// which case the scan goes on past it.
inline ScanCut CutScannedWrite(const uint8_t* data, size_t count) {
  ScanCut cut{count, false};
  for (size_t i = 0; i < cut.count; ++i) {
    if (data[i] != kJobHeaderFirstBytes[0]) {
      continue;
    }
    if (cut.count - i <= kJobHeaderLength + 1) {
      cut.count = i;
      break;
    }
    if (JobHeaderAt(data, i)) {
      if (i > 0) {
        cut.count = i;
        break;
      }
      cut.headerAtStart = true;
    }
  }
  return cut;
}

// The same for a write of a job whose writes are scanned: short ones go whole.
inline ScanCut CutWrite(const uint8_t* data, size_t count) {
  return count < kShortestScannedWrite ? ScanCut{count, false} : CutScannedWrite(data, count);
}

}  // namespace langmon_test
