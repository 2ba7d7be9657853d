// MessageBoxW: every box is recorded and answered by the host's script.
#include <deque>
#include <vector>

#include "platform/host.h"
#include "platform/host_state.h"
#include "resources/string_table.h"

namespace {

struct MessageBoxState {
  std::mutex mutex;
  std::deque<int> queued;
  int fixedAnswer = 0;
  std::vector<host::MessageBoxRecord> records;
  platform_impl::Observer<int(const host::MessageBoxRecord&)> answerer;
};

MessageBoxState& State() {
  static MessageBoxState* state = new MessageBoxState;
  return *state;
}

// A text cut to a buffer still names its entry, when it is long enough to say which.
constexpr size_t kShortestCutText = 8;

unsigned TextIdOf(std::u16string_view text) {
  if (text.empty()) return 0;
  for (unsigned i = 0; i < kStringTableSize; ++i) {
    if (text == kStringTable[i].text) return kStringTable[i].id;
  }
  if (text.size() < kShortestCutText) return 0;
  unsigned match = 0;
  for (unsigned i = 0; i < kStringTableSize; ++i) {
    if (std::u16string_view(kStringTable[i].text).substr(0, text.size()) == text) {
      if (match != 0) return 0;  // the start of more than one text
      match = kStringTable[i].id;
    }
  }
  return match;
}

}  // namespace

namespace platform_impl {

int AnswerAndRecordBox(host::MessageBoxRecord record) {
  record.textId = TextIdOf(record.text);
  MessageBoxState& state = State();
  bool answered = false;
  {
    std::lock_guard<std::mutex> lock(state.mutex);
    if (!state.queued.empty()) {
      record.answer = state.queued.front();
      state.queued.pop_front();
      answered = true;
    } else {
      record.answer = state.fixedAnswer;
    }
  }
  if (!answered) {
    if (auto answerer = state.answerer.Get()) record.answer = (*answerer)(record);
  }
  const int answer = record.answer;
  std::lock_guard<std::mutex> lock(state.mutex);
  state.records.push_back(std::move(record));
  return answer;
}

void RecordBox(host::MessageBoxRecord record) {
  record.textId = TextIdOf(record.text);
  MessageBoxState& state = State();
  std::lock_guard<std::mutex> lock(state.mutex);
  state.records.push_back(std::move(record));
}

}  // namespace platform_impl

// Records the box and answers it: from the queued answers, else the answerer, else the fixed
// answer. The last error is left alone.
int WINAPI MessageBoxW(HWND hWnd, LPCWSTR lpText, LPCWSTR lpCaption, UINT uType) {
  (void)hWnd;
  host::MessageBoxRecord record;
  record.text = std::u16string(platform_impl::WideView(lpText));
  record.caption = std::u16string(platform_impl::WideView(lpCaption));
  record.type = uType;
  return platform_impl::AnswerAndRecordBox(std::move(record));
}

namespace platform_impl {

void ResetMessageBoxes() {
  MessageBoxState& state = State();
  state.answerer.Set(nullptr);
  std::lock_guard<std::mutex> lock(state.mutex);
  state.queued.clear();
  state.fixedAnswer = 0;
  state.records.clear();
}

}  // namespace platform_impl

namespace host {

void QueueAnswers(const std::vector<int>& answers) {
  MessageBoxState& state = State();
  std::lock_guard<std::mutex> lock(state.mutex);
  state.queued.insert(state.queued.end(), answers.begin(), answers.end());
}

void SetFixedAnswer(int answer) {
  MessageBoxState& state = State();
  std::lock_guard<std::mutex> lock(state.mutex);
  state.fixedAnswer = answer;
}

void SetAnswerer(std::function<int(const MessageBoxRecord&)> answerer) {
  State().answerer.Set(std::move(answerer));
}

std::vector<MessageBoxRecord> MessageBoxes() {
  MessageBoxState& state = State();
  std::lock_guard<std::mutex> lock(state.mutex);
  return state.records;
}

void ClearMessageBoxes() {
  MessageBoxState& state = State();
  std::lock_guard<std::mutex> lock(state.mutex);
  state.records.clear();
}

}  // namespace host
