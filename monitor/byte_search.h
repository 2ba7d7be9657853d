// Finding the next escape byte in job data: the one operation every byte of a job goes through.
#pragma once

#include <cstring>

#include "platform/win32.h"

#if defined(_WIN32) && defined(__SSE2__)
#include <emmintrin.h>
#endif

// Index of the first `value` in data[from, end), or `end` when there is none.
inline DWORD FindByte(const BYTE* data, DWORD from, DWORD end, BYTE value) {
#if defined(_WIN32) && defined(__SSE2__)
  // The C runtime's memchr on Windows compares a byte at a time; sixteen at once is several
  // times faster. Dense command data (an escape every few bytes) is served by the short loop.
  DWORD i = from;
  const DWORD shortEnd = end - from < 16 ? end : from + 16;
  for (; i < shortEnd; ++i) {
    if (data[i] == value) {
      return i;
    }
  }
  const __m128i needle = _mm_set1_epi8(static_cast<char>(value));
  for (; end - i >= 32; i += 32) {
    const __m128i low = _mm_loadu_si128(reinterpret_cast<const __m128i*>(data + i));
    const __m128i high = _mm_loadu_si128(reinterpret_cast<const __m128i*>(data + i + 16));
    const int mask = _mm_movemask_epi8(_mm_cmpeq_epi8(low, needle)) |
                     (_mm_movemask_epi8(_mm_cmpeq_epi8(high, needle)) << 16);
    if (mask != 0) {
      return i + static_cast<DWORD>(__builtin_ctz(static_cast<unsigned>(mask)));
    }
  }
  for (; i < end; ++i) {
    if (data[i] == value) {
      return i;
    }
  }
  return end;
#else
  if (from >= end) {
    return end;
  }
  const void* found = std::memchr(data + from, value, end - from);
  return found != nullptr ? static_cast<DWORD>(static_cast<const BYTE*>(found) - data) : end;
#endif
}
