// The monitor's module: its handle, LoadStringW over the string table, DisableThreadLibraryCalls.
#include <cstring>

#include "platform/host.h"
#include "platform/host_state.h"
#include "resources/string_table.h"

namespace {
HINSTANCE__ gMonitorModule{};
}  // namespace

namespace platform_impl {

bool IsMonitorModule(HINSTANCE module) { return module == nullptr || module == &gMonitorModule; }

const char16_t* FindString(unsigned id) {
  for (unsigned i = 0; i < kStringTableSize; ++i) {
    if (kStringTable[i].id == id) return kStringTable[i].text;
  }
  return nullptr;
}

}  // namespace platform_impl

int WINAPI LoadStringW(HINSTANCE hInstance, UINT uID, LPWSTR lpBuffer, int cchBufferMax) {
  if (!platform_impl::IsMonitorModule(hInstance)) {
    SetLastError(ERROR_RESOURCE_DATA_NOT_FOUND);
    return 0;
  }
  if (!lpBuffer || cchBufferMax < 0) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  const char16_t* text = platform_impl::FindString(uID);
  const std::u16string_view view = platform_impl::WideView(text);
  if (view.empty()) {
    // Texts are stored in blocks of sixteen: only a missing block is an error, an empty text in
    // a block is not.
    bool blockFound = false;
    for (unsigned id = uID & ~15u; id < (uID | 15u) + 1 && !blockFound; ++id) {
      blockFound = !platform_impl::WideView(platform_impl::FindString(id)).empty();
    }
    if (!blockFound) SetLastError(ERROR_RESOURCE_NAME_NOT_FOUND);
    if (cchBufferMax > 0) lpBuffer[0] = u'\0';
    return 0;
  }
  if (cchBufferMax == 0) {
    // A read-only pointer to the text itself.
    std::memcpy(lpBuffer, &text, sizeof(text));
    return static_cast<int>(view.size());
  }
  const size_t copied = view.size() < static_cast<size_t>(cchBufferMax - 1)
                            ? view.size()
                            : static_cast<size_t>(cchBufferMax - 1);
  for (size_t i = 0; i < copied; ++i) lpBuffer[i] = view[i];
  lpBuffer[copied] = u'\0';
  return static_cast<int>(copied);
}

BOOL WINAPI DisableThreadLibraryCalls(HMODULE hLibModule) {
  (void)hLibModule;
  return TRUE;
}

namespace host {

HINSTANCE MonitorModule() { return &gMonitorModule; }

}  // namespace host
