#include "tests/unit/langmon_report/heap_peak.h"

#include <malloc.h>

#include <atomic>
#include <cstdlib>
#include <new>

namespace {

std::atomic<size_t> gHeld{0};
std::atomic<size_t> gPeak{0};

void* Take(size_t size) {
  void* block = std::malloc(size == 0 ? 1 : size);
  if (block == nullptr) return nullptr;
  const size_t held = gHeld.fetch_add(malloc_usable_size(block)) + malloc_usable_size(block);
  size_t peak = gPeak.load();
  while (held > peak && !gPeak.compare_exchange_weak(peak, held)) {
  }
  return block;
}

void Give(void* block) noexcept {
  if (block == nullptr) return;
  gHeld.fetch_sub(malloc_usable_size(block));
  std::free(block);
}

}  // namespace

// Every form of the program's operator new and delete, so that none comes from elsewhere (a
// sanitizer's runtime has its own) and each block is given back the way it was taken.
void* operator new(size_t size) {
  if (void* block = Take(size)) return block;
  throw std::bad_alloc();
}
void* operator new[](size_t size) { return operator new(size); }
void* operator new(size_t size, const std::nothrow_t&) noexcept { return Take(size); }
void* operator new[](size_t size, const std::nothrow_t&) noexcept { return Take(size); }
void operator delete(void* block) noexcept { Give(block); }
void operator delete[](void* block) noexcept { Give(block); }
void operator delete(void* block, size_t) noexcept { Give(block); }
void operator delete[](void* block, size_t) noexcept { Give(block); }
void operator delete(void* block, const std::nothrow_t&) noexcept { Give(block); }
void operator delete[](void* block, const std::nothrow_t&) noexcept { Give(block); }

namespace langmon_report {

HeapPeak::HeapPeak() : start_(gHeld.load()) { gPeak.store(start_); }

size_t HeapPeak::Above() const {
  const size_t peak = gPeak.load();
  return peak > start_ ? peak - start_ : 0;
}

}  // namespace langmon_report
