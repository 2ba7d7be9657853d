// The side channel to the inner backend. libcups's cupsSideChannel* calls work only on the
// process's own descriptor 4 (cupsd's); to the child we speak the same frame ourselves:
// command, status, a 2-byte big-endian length, the data.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace langmon_cups {

struct SideFrame {
  uint8_t command = 0;
  uint8_t status = 0;
  std::string data;
};

constexpr size_t kSideFrameHeader = 4;
constexpr size_t kSideFrameMaxData = 65535;

std::vector<uint8_t> EncodeSideFrame(const SideFrame& frame);
// False when the bytes are not one whole frame (too short, or a length that disagrees).
bool DecodeSideFrame(const uint8_t* bytes, size_t count, SideFrame* frame);

// Passes the requests of the filters in front of us (on our descriptor 4) to the child and its
// answers back, until stop is written to wakeFd. The back channel is the monitor's: a filter
// asking whether there is one is told there is none.
void RelaySideChannel(int childFd, int wakeFd);

}  // namespace langmon_cups
