// OutputDebugStringA: a record of every text, in order, and an observer.
#include <atomic>
#include <vector>

#include "platform/host.h"
#include "platform/host_state.h"

namespace {

struct DebugOutputState {
  std::mutex mutex;
  std::vector<std::string> texts;
  std::atomic<bool> record{true};
  platform_impl::Observer<void(const std::string&)> observer;
};

DebugOutputState& State() {
  static DebugOutputState* state = new DebugOutputState;
  return *state;
}

}  // namespace

VOID WINAPI OutputDebugStringA(LPCSTR lpOutputString) {
  if (!lpOutputString) return;
  DebugOutputState& state = State();
  auto observer = state.observer.Get();
  if (!observer && !state.record.load()) return;
  std::string text(lpOutputString);
  if (state.record.load()) {
    std::lock_guard<std::mutex> lock(state.mutex);
    state.texts.push_back(text);
  }
  if (observer) (*observer)(text);
}

namespace platform_impl {

void ResetDebugOutput() {
  DebugOutputState& state = State();
  state.observer.Set(nullptr);
  state.record = true;
  std::lock_guard<std::mutex> lock(state.mutex);
  state.texts.clear();
  state.texts.shrink_to_fit();
}

}  // namespace platform_impl

namespace host {

std::vector<std::string> DebugOutput() {
  DebugOutputState& state = State();
  std::lock_guard<std::mutex> lock(state.mutex);
  return state.texts;
}

void ClearDebugOutput() {
  DebugOutputState& state = State();
  std::lock_guard<std::mutex> lock(state.mutex);
  state.texts.clear();
}

void OnDebugOutput(std::function<void(const std::string&)> observer) {
  State().observer.Set(std::move(observer));
}

void RecordDebugOutput(bool record) { State().record = record; }

}  // namespace host
