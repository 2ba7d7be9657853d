// The simulated port monitor's own bidi entry, as a port monitor with bidi support of its own has
// one: it answers through the spooler's allocators, found in spoolss.dll as a component inside
// the spooler finds them, and records every call it gets.
#include <algorithm>

#include "sim/sim_printer.h"

namespace sim {

namespace {

using AllocContainerFn = PBIDI_RESPONSE_CONTAINER(WINAPI*)(DWORD);
using AllocMemFn = PVOID(WINAPI*)(size_t);

template <class Function>
Function SpoolerFunction(const char* name) {
  HMODULE spooler = GetModuleHandleW(reinterpret_cast<LPCWSTR>(u"spoolss.dll"));
  return spooler == nullptr
             ? nullptr
             : reinterpret_cast<Function>(reinterpret_cast<void*>(GetProcAddress(spooler, name)));
}

std::u16string Text(LPCWSTR text) {
  std::u16string result;
  for (; text != nullptr && *text != 0; ++text) {
    result.push_back(static_cast<char16_t>(*text));
  }
  return result;
}

LPWSTR CopyForSpooler(AllocMemFn alloc, const std::u16string& text) {
  auto copy = static_cast<char16_t*>(alloc((text.size() + 1) * sizeof(char16_t)));
  if (copy != nullptr) {
    std::copy(text.begin(), text.end(), copy);
    copy[text.size()] = 0;
  }
  return reinterpret_cast<LPWSTR>(copy);
}

bool IsEnumSchema(const std::u16string& action) {
  return action.size() == 10 &&
         std::equal(action.begin(), action.end(), u"enumschema", [](char16_t a, char16_t b) {
           return (a >= u'A' && a <= u'Z' ? a + 32 : a) == b;
         });
}

}  // namespace

void SimPrinter::SetBidiResult(DWORD result) {
  std::lock_guard lock(mutex_);
  bidiResult_ = result;
}

std::vector<BidiCall> SimPrinter::BidiCalls() {
  std::lock_guard lock(mutex_);
  return bidiCalls_;
}

DWORD SimPrinter::SendRecvBidi(LPCWSTR action, const BIDI_REQUEST_CONTAINER* requests,
                               PBIDI_RESPONSE_CONTAINER* responses) {
  std::lock_guard lock(mutex_);
  RunTriggersLocked();
  Event event;
  event.kind = EventKind::Bidi;
  event.text = Text(action);
  BidiCall call{event.text, {}};
  if (requests != nullptr && requests->Count != 0) {
    event.documentName = Text(requests->aData[0].pSchema);
    event.value = requests->Count;
    for (DWORD i = 0; i < requests->Count; ++i) {
      call.requests.push_back({requests->aData[i].dwReqNumber, Text(requests->aData[i].pSchema)});
    }
  }
  bidiCalls_.push_back(call);

  DWORD result = bidiResult_;
  const auto allocContainer = SpoolerFunction<AllocContainerFn>("RouterAllocBidiResponseContainer");
  const auto allocMem = SpoolerFunction<AllocMemFn>("RouterAllocBidiMem");
  if (result == ERROR_SUCCESS && (allocContainer == nullptr || allocMem == nullptr ||
                                  requests == nullptr || responses == nullptr)) {
    result = ERROR_NOT_SUPPORTED;
  }
  // EnumSchema: the one value of its own, listed once. Anything else: each request answered.
  const bool list = IsEnumSchema(event.text);
  const DWORD count = requests == nullptr ? 0 : list ? 1 : requests->Count;
  PBIDI_RESPONSE_CONTAINER container = result == ERROR_SUCCESS ? allocContainer(count) : nullptr;
  if (result == ERROR_SUCCESS && container == nullptr) {
    result = ERROR_NOT_ENOUGH_MEMORY;
  }
  if (container != nullptr) {
    container->Version = 1;
    container->Count = count;
    for (DWORD i = 0; i < count; ++i) {
      BIDI_RESPONSE_DATA& response = container->aData[i];
      response = {};
      response.dwReqNumber = requests->aData[i].dwReqNumber;
      if (list) {
        response.data.dwBidiType = BIDI_TEXT;
        response.data.u.sData = CopyForSpooler(allocMem, kPortBidiSchema);
      } else {
        response.pSchema = CopyForSpooler(allocMem, Text(requests->aData[i].pSchema));
        response.data.dwBidiType = BIDI_STRING;
        response.data.u.sData = CopyForSpooler(allocMem, portName_);
      }
    }
    *responses = container;
  }
  event.result = result == ERROR_SUCCESS;
  RecordLocked(event);
  return result;
}

}  // namespace sim
