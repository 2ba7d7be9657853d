// GlobalAlloc / GlobalFree with counts of calls and live blocks and an armed Nth failure.
#include <cstdlib>
#include <cstring>
#include <unordered_set>

#include "platform/host.h"
#include "platform/host_state.h"

namespace {

struct MemoryState {
  std::mutex mutex;
  std::unordered_set<void*> live;  // not touched by Reset: tests check the monitor's leaks
  unsigned calls = 0;              // GlobalAlloc calls since Reset
  unsigned failAtCall = 0;         // the value of `calls` whose call fails; 0: none
};

MemoryState& State() {
  static MemoryState* state = new MemoryState;
  return *state;
}

}  // namespace

// GMEM_FIXED blocks only: the handle is the block's address.
HGLOBAL WINAPI GlobalAlloc(UINT uFlags, SIZE_T dwBytes) {
  MemoryState& state = State();
  {
    std::lock_guard<std::mutex> lock(state.mutex);
    ++state.calls;
    if (state.failAtCall != 0 && state.calls == state.failAtCall) {
      state.failAtCall = 0;
      SetLastError(ERROR_NOT_ENOUGH_MEMORY);
      return nullptr;
    }
  }
  const size_t size = dwBytes == 0 ? 1 : dwBytes;
  void* block = (uFlags & GMEM_ZEROINIT) ? std::calloc(1, size) : std::malloc(size);
  if (!block) {
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return nullptr;
  }
  std::lock_guard<std::mutex> lock(state.mutex);
  state.live.insert(block);
  return block;
}

HGLOBAL WINAPI GlobalFree(HGLOBAL hMem) {
  if (!hMem) return nullptr;
  MemoryState& state = State();
  {
    std::lock_guard<std::mutex> lock(state.mutex);
    if (state.live.erase(hMem) == 0) {
      SetLastError(ERROR_INVALID_HANDLE);
      return hMem;
    }
  }
  std::free(hMem);
  return nullptr;
}

namespace platform_impl {

void ResetMemory() {
  MemoryState& state = State();
  std::lock_guard<std::mutex> lock(state.mutex);
  state.calls = 0;
  state.failAtCall = 0;
}

}  // namespace platform_impl

namespace host {

void FailAllocation(unsigned nth) {
  MemoryState& state = State();
  std::lock_guard<std::mutex> lock(state.mutex);
  state.failAtCall = nth == 0 ? 0 : state.calls + nth;
}

unsigned AllocationCount() {
  MemoryState& state = State();
  std::lock_guard<std::mutex> lock(state.mutex);
  return state.calls;
}

long LiveAllocations() {
  MemoryState& state = State();
  std::lock_guard<std::mutex> lock(state.mutex);
  return static_cast<long>(state.live.size());
}

}  // namespace host
