// GetModuleHandleW and GetProcAddress over the modules the monitor looks into at run time: the
// spooler's spoolss.dll, whose newer functions a host may withhold as an older spooler would,
// kernel32.dll, which offers GetTempPath2W only while the host has a folder for it, and ntdll.dll
// with NtCreateFile and RtlNtStatusToDosError, which every Windows NT has.
#include <set>
#include <string>

#include "platform/host.h"
#include "platform/host_state.h"

namespace {

struct ModulesState {
  std::mutex mutex;
  std::set<std::string> withheld;
};

ModulesState& State() {
  static ModulesState* state = new ModulesState;
  return *state;
}

// Never dereferenced: a module handle is only a name for GetProcAddress.
HINSTANCE__ spoolerModule{};
HINSTANCE__ kernelModule{};
HINSTANCE__ ntdllModule{};

bool IsSpoolerName(std::u16string_view name) {
  return platform_impl::EqualNoCase(name, u"spoolss.dll") ||
         platform_impl::EqualNoCase(name, u"spoolss");
}

bool IsKernelName(std::u16string_view name) {
  return platform_impl::EqualNoCase(name, u"kernel32.dll") ||
         platform_impl::EqualNoCase(name, u"kernel32");
}

bool IsNtdllName(std::u16string_view name) {
  return platform_impl::EqualNoCase(name, u"ntdll.dll") ||
         platform_impl::EqualNoCase(name, u"ntdll");
}

struct Export {
  const char* name;
  FARPROC function;
};

template <class Function>
FARPROC AsProc(Function function) {
  return reinterpret_cast<FARPROC>(reinterpret_cast<void*>(function));
}

}  // namespace

namespace platform_impl {

void ResetModules() {
  ModulesState& state = State();
  std::lock_guard<std::mutex> lock(state.mutex);
  state.withheld.clear();
}

}  // namespace platform_impl

HMODULE WINAPI GetModuleHandleW(LPCWSTR lpModuleName) {
  if (lpModuleName == nullptr) {
    return host::MonitorModule();
  }
  if (IsSpoolerName(platform_impl::WideView(lpModuleName))) {
    return &spoolerModule;
  }
  if (IsKernelName(platform_impl::WideView(lpModuleName))) {
    return &kernelModule;
  }
  if (IsNtdllName(platform_impl::WideView(lpModuleName))) {
    return &ntdllModule;
  }
  SetLastError(ERROR_MOD_NOT_FOUND);  // a module that is not loaded
  return nullptr;
}

FARPROC WINAPI GetProcAddress(HMODULE hModule, LPCSTR lpProcName) {
  static const Export kSpoolerExports[] = {
      {"RouterAllocBidiResponseContainer", AsProc(RouterAllocBidiResponseContainer)},
      {"RouterAllocBidiMem", AsProc(RouterAllocBidiMem)},
      {"RouterFreeBidiResponseContainer", AsProc(RouterFreeBidiResponseContainer)},
      {"RouterFreeBidiMem", AsProc(RouterFreeBidiMem)},
      {"SplIsSessionZero", AsProc(SplIsSessionZero)},
      {"SplPromptUIInUsersSession", AsProc(SplPromptUIInUsersSession)},
  };
  if (hModule == &kernelModule && lpProcName != nullptr && !IS_INTRESOURCE(lpProcName) &&
      std::string(lpProcName) == "GetTempPath2W" && platform_impl::TempPath2Offered()) {
    return AsProc(GetTempPath2W);
  }
  static const Export kNtdllExports[] = {
      {"NtCreateFile", AsProc(NtCreateFile)},
      {"RtlNtStatusToDosError", AsProc(RtlNtStatusToDosError)},
  };
  if (hModule == &ntdllModule && lpProcName != nullptr && !IS_INTRESOURCE(lpProcName)) {
    for (const Export& entry : kNtdllExports) {
      if (std::string(lpProcName) == entry.name) {
        return entry.function;
      }
    }
  }
  if (hModule == &spoolerModule && lpProcName != nullptr && !IS_INTRESOURCE(lpProcName)) {
    const std::string name = lpProcName;
    ModulesState& state = State();
    std::lock_guard<std::mutex> lock(state.mutex);
    for (const Export& entry : kSpoolerExports) {
      if (name == entry.name && state.withheld.count(name) == 0) {
        return entry.function;
      }
    }
  }
  SetLastError(ERROR_PROC_NOT_FOUND);
  return nullptr;
}

namespace host {

void WithholdSpoolerFunction(const std::string& name, bool withhold) {
  ModulesState& state = State();
  std::lock_guard<std::mutex> lock(state.mutex);
  if (withhold) {
    state.withheld.insert(name);
  } else {
    state.withheld.erase(name);
  }
}

}  // namespace host
