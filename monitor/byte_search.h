// Finding the escape bytes in job data: the one operation every byte of a job goes through.
//
// A finder yields the index of every `value` in data[0, end), in ascending order, and then `end`
// at every call after the last one. The write path uses ByteFinder, the best of them for the
// target.
#pragma once

#include <cstdint>
#include <cstring>

#include "platform/win32.h"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

// Every ARM64 processor has NEON: Windows on ARM and aarch64 Linux alike.
#if defined(__ARM_NEON) && (defined(__aarch64__) || defined(_M_ARM64))
#define LANGMON_NEON_BYTE_FINDER 1
#include <arm_neon.h>
#endif

// One memchr call per match: the C runtime's own search, where it is a fast one.
class MemchrByteFinder {
 public:
  MemchrByteFinder(const BYTE* data, DWORD end, BYTE value)
      : data_(data), next_(data), end_(data + end), value_(value) {}

  DWORD Next() {
    if (next_ == end_) {
      return static_cast<DWORD>(end_ - data_);  // and memchr is never handed a null pointer
    }
    const void* found = std::memchr(next_, value_, static_cast<size_t>(end_ - next_));
    if (found == nullptr) {
      next_ = end_;
      return static_cast<DWORD>(end_ - data_);
    }
    next_ = static_cast<const BYTE*>(found) + 1;
    return static_cast<DWORD>(static_cast<const BYTE*>(found) - data_);
  }

 private:
  const BYTE* data_;
  const BYTE* next_;  // where the next search starts
  const BYTE* end_;
  BYTE value_;
};

#if defined(__SSE2__)

// 32 bytes compared at once, and every match of a block taken from its bit mask: a run without
// the value costs a few instructions per 32 bytes, and command data (an escape every few bytes)
// a few per escape, where a search that starts over at each match would pay its set-up each time.
class Sse2ByteFinder {
 public:
  Sse2ByteFinder(const BYTE* data, DWORD end, BYTE value)
      : data_(data),
        end_(end),
        value_(value),
        needle_(_mm_set1_epi8(static_cast<char>(value))),
        block_(0),
        mask_(FirstBlockMask()) {}

  DWORD Next() {
    if (mask_ == 0 && !NextBlockWithMatch()) {
      return end_;
    }
    const DWORD index = block_ + static_cast<DWORD>(__builtin_ctz(mask_));
    mask_ &= mask_ - 1;
    return index;
  }

 private:
  static constexpr DWORD kBlock = 32;

  unsigned Mask(const BYTE* p) const {
    const __m128i low = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
    const __m128i high = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 16));
    return static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpeq_epi8(low, needle_))) |
           static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpeq_epi8(high, needle_))) << 16;
  }

  // The matches among the first min(32, end) bytes.
  unsigned FirstBlockMask() const {
    if (end_ >= kBlock) {
      return Mask(data_);
    }
    unsigned mask = 0;
    for (DWORD i = 0; i < end_; ++i) {
      if (data_[i] == value_) {
        mask |= 1u << i;
      }
    }
    return mask;
  }

  // Moves on to the next block that holds a match; false when none is left. Reads nothing
  // outside [0, end).
  bool NextBlockWithMatch() {
    if (end_ - block_ <= kBlock) {
      return false;
    }
    // Here end_ > block_ + 32: another byte is left, and a whole block fits into the data.
    const DWORD lastWhole = end_ - kBlock;
    // Walked by pointer: an index of 32 bits would be widened again at every step.
    const BYTE* p = data_ + block_ + kBlock;
    const BYTE* const last = data_ + lastWhole;
    for (; p <= last; p += kBlock) {
      const __m128i low =
          _mm_cmpeq_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p)), needle_);
      const __m128i high =
          _mm_cmpeq_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 16)), needle_);
      if (_mm_movemask_epi8(_mm_or_si128(low, high)) != 0) {
        block_ = static_cast<DWORD>(p - data_);
        mask_ = static_cast<unsigned>(_mm_movemask_epi8(low)) |
                static_cast<unsigned>(_mm_movemask_epi8(high)) << 16;
        return true;
      }
    }
    const DWORD block = static_cast<DWORD>(p - data_);
    block_ = block;
    if (block == end_) {
      return false;
    }
    // Fewer than 32 bytes are left: the data's last 32, less those already looked at.
    mask_ = Mask(data_ + lastWhole) >> (block - lastWhole);
    return mask_ != 0;
  }

  const BYTE* data_;
  DWORD end_;
  BYTE value_;
  __m128i needle_;
  DWORD block_;    // where the block of the pending matches starts; never past end_
  unsigned mask_;  // the matches not yet returned, bit n for block_ + n
};

#endif

#if defined(LANGMON_NEON_BYTE_FINDER)

// 16 bytes compared at once. NEON has no byte mask like SSE2's movemask: narrowing the compare
// result by 4 bits leaves a 64-bit word with a nibble per byte, and one bit of each nibble is
// kept, so that every match of a block is taken from the word as with SSE2.
class NeonByteFinder {
 public:
  NeonByteFinder(const BYTE* data, DWORD end, BYTE value)
      : data_(data),
        end_(end),
        value_(value),
        needle_(vdupq_n_u8(value)),
        block_(0),
        mask_(FirstBlockMask()) {}

  DWORD Next() {
    if (mask_ == 0 && !NextBlockWithMatch()) {
      return end_;
    }
    const DWORD index = block_ + static_cast<DWORD>(__builtin_ctzll(mask_) / 4);
    mask_ &= mask_ - 1;
    return index;
  }

 private:
  static constexpr DWORD kBlock = 16;
  static constexpr uint64_t kOneBitPerByte = 0x8888888888888888ull;

  // Bit 4n + 3 for a match at p[n], n < 16.
  uint64_t Mask(const BYTE* p) const {
    const uint8x16_t equal = vceqq_u8(vld1q_u8(p), needle_);
    const uint8x8_t nibbles = vshrn_n_u16(vreinterpretq_u16_u8(equal), 4);
    return vget_lane_u64(vreinterpret_u64_u8(nibbles), 0) & kOneBitPerByte;
  }

  // The matches among the first min(16, end) bytes.
  uint64_t FirstBlockMask() const {
    if (end_ >= kBlock) {
      return Mask(data_);
    }
    uint64_t mask = 0;
    for (DWORD i = 0; i < end_; ++i) {
      if (data_[i] == value_) {
        mask |= uint64_t{8} << (4 * i);
      }
    }
    return mask;
  }

  // Moves on to the next block that holds a match; false when none is left. Reads nothing
  // outside [0, end).
  bool NextBlockWithMatch() {
    if (end_ - block_ <= kBlock) {
      return false;
    }
    // Here end_ > block_ + 16: another byte is left, and a whole block fits into the data.
    const DWORD lastWhole = end_ - kBlock;
    DWORD block = block_ + kBlock;
    for (; block <= lastWhole; block += kBlock) {
      const uint64_t mask = Mask(data_ + block);
      if (mask != 0) {
        block_ = block;
        mask_ = mask;
        return true;
      }
    }
    block_ = block;
    if (block == end_) {
      return false;
    }
    // Fewer than 16 bytes are left: the data's last 16, less those already looked at.
    mask_ = Mask(data_ + lastWhole) >> (4 * (block - lastWhole));
    return mask_ != 0;
  }

  const BYTE* data_;
  DWORD end_;
  BYTE value_;
  uint8x16_t needle_;
  DWORD block_;    // where the block of the pending matches starts; never past end_
  uint64_t mask_;  // the matches not yet returned, bit 4n + 3 for block_ + n
};

#endif

// The C runtime's memchr on Windows compares a byte at a time; the glibc one is wider and
// faster than a 16-byte loop on long runs. On ARM64 the NEON finder is used on Linux too, so
// that the native tests there run the search of the Windows on ARM DLL.
#if defined(LANGMON_NEON_BYTE_FINDER)
using ByteFinder = NeonByteFinder;
#elif defined(_WIN32) && defined(__SSE2__)
using ByteFinder = Sse2ByteFinder;
#else
using ByteFinder = MemchrByteFinder;
#endif
