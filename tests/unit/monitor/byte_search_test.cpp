#include "monitor/byte_search.h"

#include <gtest/gtest.h>

#include <random>
#include <type_traits>
#include <vector>

namespace langmon_test {
namespace {

constexpr BYTE kValue = 0x1B;

// Every index a finder yields, then checks that it keeps answering `end`.
template <typename Finder>
std::vector<DWORD> AllFound(const BYTE* data, DWORD end) {
  Finder finder(data, end, kValue);
  std::vector<DWORD> found;
  for (DWORD i = finder.Next(); i < end; i = finder.Next()) {
    found.push_back(i);
    if (found.size() > end) {
      break;  // a finder that repeats itself
    }
  }
  EXPECT_EQ(finder.Next(), end);
  EXPECT_EQ(finder.Next(), end);
  return found;
}

template <typename Finder>
std::vector<DWORD> AllFound(const std::vector<BYTE>& data) {
  return AllFound<Finder>(data.data(), static_cast<DWORD>(data.size()));
}

std::vector<DWORD> Positions(const BYTE* data, DWORD end) {
  std::vector<DWORD> positions;
  for (DWORD i = 0; i < end; ++i) {
    if (data[i] == kValue) {
      positions.push_back(i);
    }
  }
  return positions;
}

std::vector<DWORD> Positions(const std::vector<BYTE>& data) {
  return Positions(data.data(), static_cast<DWORD>(data.size()));
}

// Every length up to a few blocks and a few longer ones, with matches from none to every byte,
// and at the first and last positions in particular. Each buffer is exactly as long as the data,
// so that a read past its end shows under AddressSanitizer.
template <typename Finder>
void ExpectEveryMatchInOrder() {
  std::mt19937 random(77);
  std::vector<size_t> lengths;
  for (size_t n = 0; n <= 130; ++n) {
    lengths.push_back(n);
  }
  for (size_t n : {255u, 256u, 257u, 1000u, 4099u, 65536u}) {
    lengths.push_back(n);
  }
  for (size_t n : lengths) {
    for (unsigned oneIn : {0u, 256u, 12u, 3u, 1u}) {
      std::vector<BYTE> data(n);
      for (BYTE& byte : data) {
        byte =
            oneIn != 0 && random() % oneIn == 0 ? kValue : static_cast<BYTE>(0x20 + random() % 8);
      }
      EXPECT_EQ(AllFound<Finder>(data), Positions(data)) << n << " bytes, one in " << oneIn;
      if (n > 0) {
        data.front() = kValue;
        data.back() = kValue;
        EXPECT_EQ(AllFound<Finder>(data), Positions(data)) << n << " bytes, ends set";
      }
    }
  }
}

TEST(ByteFinderTest, MemchrFinderYieldsEveryMatchInOrder) {
  ExpectEveryMatchInOrder<MemchrByteFinder>();
}

// Loads are unaligned: any start address will do.
template <typename Finder>
void ExpectAnyAlignmentToWork() {
  std::vector<BYTE> backing(300, 0x20);
  for (size_t i = 0; i < backing.size(); i += 7) {
    backing[i] = kValue;
  }
  for (DWORD offset = 0; offset < 16; ++offset) {
    const BYTE* data = backing.data() + offset;
    const DWORD end = static_cast<DWORD>(backing.size()) - offset;
    EXPECT_EQ(AllFound<Finder>(data, end), Positions(data, end)) << "offset " << offset;
  }
}

#if defined(__SSE2__)
TEST(ByteFinderTest, Sse2FinderYieldsEveryMatchInOrder) {
  ExpectEveryMatchInOrder<Sse2ByteFinder>();
}

TEST(ByteFinderTest, Sse2FinderWorksFromAnyAlignment) {
  ExpectAnyAlignmentToWork<Sse2ByteFinder>();
}
#endif

#if defined(LANGMON_NEON_BYTE_FINDER)
// ARM64 builds, Windows on ARM's DLL among them, search with NEON.
static_assert(std::is_same_v<ByteFinder, NeonByteFinder>);

TEST(ByteFinderTest, NeonFinderYieldsEveryMatchInOrder) {
  ExpectEveryMatchInOrder<NeonByteFinder>();
}

TEST(ByteFinderTest, NeonFinderWorksFromAnyAlignment) {
  ExpectAnyAlignmentToWork<NeonByteFinder>();
}
#endif

}  // namespace
}  // namespace langmon_test
