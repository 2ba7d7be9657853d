// The spooler's allocators for bidi answers, with a count of live blocks and an armed Nth
// failure, so that tests see every block an answer leaves behind.
#include <cstddef>
#include <cstdlib>
#include <unordered_set>

#include "platform/host.h"
#include "platform/host_state.h"

namespace {

struct BidiMemoryState {
  std::mutex mutex;
  std::unordered_set<void*> live;  // containers and blocks; not touched by Reset
  platform_impl::NthCallFailure failure;
  unsigned badFrees = 0;
};

BidiMemoryState& State() {
  static BidiMemoryState* state = new BidiMemoryState;
  return *state;
}

void* Allocate(size_t size) {
  BidiMemoryState& state = State();
  if (state.failure.Count()) {
    return nullptr;
  }
  void* block = std::calloc(1, size == 0 ? 1 : size);
  if (block != nullptr) {
    std::lock_guard<std::mutex> lock(state.mutex);
    state.live.insert(block);
  }
  return block;
}

// False for a block this allocator did not hand out (or already took back).
bool Release(void* block) {
  BidiMemoryState& state = State();
  {
    std::lock_guard<std::mutex> lock(state.mutex);
    if (state.live.erase(block) == 0) {
      ++state.badFrees;
      return false;
    }
  }
  std::free(block);
  return true;
}

bool HoldsText(DWORD type) { return type == BIDI_STRING || type == BIDI_TEXT || type == BIDI_ENUM; }

}  // namespace

namespace platform_impl {

void ResetBidiMemory() {
  BidiMemoryState& state = State();
  state.failure.Reset();
  std::lock_guard<std::mutex> lock(state.mutex);
  state.badFrees = 0;
}

}  // namespace platform_impl

PBIDI_RESPONSE_CONTAINER WINAPI RouterAllocBidiResponseContainer(DWORD Count) {
  const size_t size = offsetof(BIDI_RESPONSE_CONTAINER, aData) +
                      (Count == 0 ? 1 : static_cast<size_t>(Count)) * sizeof(BIDI_RESPONSE_DATA);
  auto* container = static_cast<PBIDI_RESPONSE_CONTAINER>(Allocate(size));
  if (container != nullptr) {
    container->Version = 1;
    container->Count = Count;
  }
  return container;
}

PVOID WINAPI RouterAllocBidiMem(size_t NumBytes) { return Allocate(NumBytes); }

VOID WINAPI RouterFreeBidiMem(PVOID pMemPointer) {
  if (pMemPointer != nullptr) {
    Release(pMemPointer);
  }
}

DWORD WINAPI RouterFreeBidiResponseContainer(PBIDI_RESPONSE_CONTAINER pData) {
  if (pData == nullptr) {
    return ERROR_INVALID_PARAMETER;
  }
  for (DWORD i = 0; i < pData->Count; ++i) {
    BIDI_RESPONSE_DATA& response = pData->aData[i];
    RouterFreeBidiMem(response.pSchema);
    if (HoldsText(response.data.dwBidiType)) {
      RouterFreeBidiMem(response.data.u.sData);
    } else if (response.data.dwBidiType == BIDI_BLOB) {
      RouterFreeBidiMem(response.data.u.biData.pData);
    }
  }
  return Release(pData) ? ERROR_SUCCESS : ERROR_INVALID_PARAMETER;
}

namespace host {

long LiveBidiAllocations() {
  BidiMemoryState& state = State();
  std::lock_guard<std::mutex> lock(state.mutex);
  return static_cast<long>(state.live.size());
}

void FailBidiAllocation(unsigned nth) { State().failure.Arm(nth); }

unsigned BadBidiFrees() {
  BidiMemoryState& state = State();
  std::lock_guard<std::mutex> lock(state.mutex);
  return state.badFrees;
}

}  // namespace host
