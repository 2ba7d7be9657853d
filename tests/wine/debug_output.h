// This process's debugger output while it lives: OutputDebugStringA raises
// DBG_PRINTEXCEPTION_C, which a vectored handler sees before the system handles it.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

class DebugOutput {
 public:
  DebugOutput() : handler_(AddVectoredExceptionHandler(1, Record)) { texts_.clear(); }
  ~DebugOutput() { RemoveVectoredExceptionHandler(handler_); }
  DebugOutput(const DebugOutput&) = delete;
  DebugOutput& operator=(const DebugOutput&) = delete;

  static size_t Count(const std::string& text) {
    size_t count = 0;
    for (const std::string& seen : texts_) {
      count += seen == text ? 1 : 0;
    }
    return count;
  }

 private:
  static LONG CALLBACK Record(EXCEPTION_POINTERS* pointers) {
    const EXCEPTION_RECORD* record = pointers->ExceptionRecord;
    if (record->ExceptionCode == DBG_PRINTEXCEPTION_C && record->NumberParameters >= 2) {
      texts_.emplace_back(reinterpret_cast<const char*>(record->ExceptionInformation[1]));
    }
    return EXCEPTION_CONTINUE_SEARCH;
  }

  static inline std::vector<std::string> texts_;
  PVOID handler_;
};
