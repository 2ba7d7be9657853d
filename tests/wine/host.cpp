#include "tests/wine/host.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>

namespace {

LoadedMonitor loaded{};
StandInSpooler spooler{};
HMODULE mappedSpooler = nullptr;  // by --stand-in-spoolss
PortMonitorRecord record;
int hostPortToken;

BOOL WINAPI HostOpenPort(LPWSTR pName, PHANDLE pHandle) {
  record.opened.emplace_back(pName != nullptr ? pName : L"(null)");
  if (!record.openResult) {
    SetLastError(ERROR_FILE_NOT_FOUND);
    return FALSE;
  }
  *pHandle = HostPortHandle();
  return TRUE;
}

BOOL WINAPI HostSetPortTimeOuts(HANDLE hPort, LPCOMMTIMEOUTS lpCTO, DWORD reserved) {
  record.timeouts.push_back({hPort, *lpCTO, reserved});
  return record.setTimeoutsResult;
}

BOOL WINAPI HostClosePort(HANDLE hPort) {
  record.closed.push_back(hPort);
  return TRUE;
}

BOOL WINAPI HostStartDocPort(HANDLE, LPWSTR, DWORD, DWORD, LPBYTE) {
  ++record.otherCalls;
  return TRUE;
}

BOOL WINAPI HostWritePort(HANDLE, LPBYTE, DWORD cbBuf, LPDWORD pcbWritten) {
  ++record.otherCalls;
  *pcbWritten = cbBuf;
  return TRUE;
}

BOOL WINAPI HostReadPort(HANDLE, LPBYTE, DWORD, LPDWORD pcbRead) {
  ++record.otherCalls;
  *pcbRead = 0;
  return TRUE;
}

BOOL WINAPI HostEndDocPort(HANDLE) {
  ++record.otherCalls;
  return TRUE;
}

std::wstring ExecutableFolder() {
  wchar_t path[MAX_PATH];
  DWORD length = GetModuleFileNameW(nullptr, path, MAX_PATH);
  std::wstring folder(path, length);
  return folder.substr(0, folder.find_last_of(L"\\/") + 1);
}

// Maps the stand-in spoolss.dll at `path` (relative to the host's folder) before the DLL, so that
// the loader resolves the DLL's imports to it rather than to the one beside the host.
bool MapStandInSpooler(const std::wstring& path) {
  mappedSpooler = LoadLibraryW((ExecutableFolder() + path).c_str());
  if (mappedSpooler == nullptr) {
    std::fprintf(stderr, "LoadLibraryW(%ls) failed: %lu\n", path.c_str(), GetLastError());
    return false;
  }
  return true;
}

bool LoadMonitor() {
  loaded.path = ExecutableFolder() + L"languagemonitor.dll";
  loaded.module = LoadLibraryW(loaded.path.c_str());
  if (loaded.module == nullptr) {
    std::fprintf(stderr, "LoadLibraryW(languagemonitor.dll) failed: %lu\n", GetLastError());
    return false;
  }
  loaded.InitializePrintMonitor = reinterpret_cast<InitializePrintMonitorFn>(
      reinterpret_cast<void*>(GetProcAddress(loaded.module, "InitializePrintMonitor")));
  loaded.InitializePrintMonitor2 = reinterpret_cast<InitializePrintMonitor2Fn>(
      reinterpret_cast<void*>(GetProcAddress(loaded.module, "InitializePrintMonitor2")));
  if (loaded.InitializePrintMonitor == nullptr || loaded.InitializePrintMonitor2 == nullptr) {
    std::fprintf(stderr,
                 "languagemonitor.dll does not export both InitializePrintMonitor and "
                 "InitializePrintMonitor2\n");
    return false;
  }
  return true;
}

template <typename Fn>
bool Resolve(HMODULE module, const char* name, Fn* entry) {
  *entry = reinterpret_cast<Fn>(reinterpret_cast<void*>(GetProcAddress(module, name)));
  return *entry != nullptr;
}

// The monitor's imports made the loader map spoolss.dll; it must be the stand-in beside the host.
bool FindStandInSpooler() {
  spooler.module = GetModuleHandleW(L"spoolss.dll");
  if (spooler.module == nullptr) {
    std::fprintf(stderr, "spoolss.dll is not loaded although languagemonitor.dll imports it\n");
    return false;
  }
  wchar_t path[MAX_PATH];
  DWORD length = GetModuleFileNameW(spooler.module, path, MAX_PATH);
  if (!Resolve(spooler.module, "StandInReset", &spooler.Reset) ||
      !Resolve(spooler.module, "StandInAddPrinter", &spooler.AddPrinter) ||
      !Resolve(spooler.module, "StandInSetJobCalls", &spooler.SetJobCalls) ||
      !Resolve(spooler.module, "StandInOpenHandles", &spooler.OpenHandles) ||
      !Resolve(spooler.module, "StandInLiveBidiBlocks", &spooler.LiveBidiBlocks) ||
      !Resolve(spooler.module, "StandInBadBidiFrees", &spooler.BadBidiFrees) ||
      !Resolve(spooler.module, "StandInSetJobSession", &spooler.SetJobSession) ||
      !Resolve(spooler.module, "StandInPromptCalls", &spooler.PromptCalls) ||
      !Resolve(spooler.module, "StandInAnswerOwners", &spooler.AnswerOwners) ||
      !Resolve(spooler.module, "RouterFreeBidiResponseContainer",
               &spooler.FreeBidiResponseContainer)) {
    std::fprintf(stderr,
                 "the loaded spoolss.dll (%ls) is not the stand-in beside the test host: run with "
                 "WINEDLLOVERRIDES including spoolss=n\n",
                 std::wstring(path, length).c_str());
    return false;
  }
  if (mappedSpooler != nullptr &&
      (spooler.module != mappedSpooler ||
       GetModuleHandleW((ExecutableFolder() + L"spoolss.dll").c_str()) != nullptr)) {
    std::fprintf(stderr, "the stand-in spoolss.dll beside the host is mapped as well\n");
    return false;
  }
  spooler.offersSessionPrompts =
      GetProcAddress(spooler.module, "SplIsSessionZero") != nullptr &&
      GetProcAddress(spooler.module, "SplPromptUIInUsersSession") != nullptr;
  std::printf("stand-in spoolss.dll: %ls (%s SplIsSessionZero and SplPromptUIInUsersSession)\n",
              std::wstring(path, length).c_str(),
              spooler.offersSessionPrompts ? "with" : "without");
  return true;
}

}  // namespace

const wchar_t kTestRegistryRoot[] =
    L"SYSTEM\\CurrentControlSet\\Control\\Print\\Monitors\\Velmora Wine Test";

const LoadedMonitor& Monitor() { return loaded; }
const StandInSpooler& Spooler() { return spooler; }

namespace {

const BYTE* MonitorBase() { return reinterpret_cast<const BYTE*>(loaded.module); }

// The optional header of the DLL as mapped.
const IMAGE_OPTIONAL_HEADER& MonitorHeader() {
  auto dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(MonitorBase());
  return reinterpret_cast<const IMAGE_NT_HEADERS*>(MonitorBase() + dos->e_lfanew)->OptionalHeader;
}

// The guard's fields of the PE format's load configuration, which this winnt.h does not declare:
// the check pointer's address, then after the dispatch pointer the table, its count and the flags.
struct GuardFields {
  uintptr_t checkPointer;
  uintptr_t table;
  uintptr_t count;
  DWORD flags;
};

bool ReadGuardFields(GuardFields* fields) {
  const IMAGE_DATA_DIRECTORY& directory =
      MonitorHeader().DataDirectory[IMAGE_DIRECTORY_ENTRY_LOAD_CONFIG];
  const size_t checkAt = sizeof(void*) == 8 ? 112 : 72;
  const size_t flagsAt = checkAt + 4 * sizeof(void*);
  if (directory.VirtualAddress == 0 || directory.Size < flagsAt + sizeof(DWORD)) {
    return false;
  }
  const BYTE* config = MonitorBase() + directory.VirtualAddress;
  memcpy(&fields->checkPointer, config + checkAt, sizeof(void*));
  memcpy(&fields->table, config + checkAt + 2 * sizeof(void*), sizeof(void*));
  memcpy(&fields->count, config + checkAt + 3 * sizeof(void*), sizeof(void*));
  memcpy(&fields->flags, config + flagsAt, sizeof(DWORD));
  return true;
}

}  // namespace

bool IsInsideMonitorImage(const void* address) {
  auto p = static_cast<const BYTE*>(address);
  return p >= MonitorBase() && p < MonitorBase() + MonitorHeader().SizeOfImage;
}

bool IsGuardedCallTarget(const void* address) {
  constexpr DWORD kFunctionTablePresent = 0x400;
  GuardFields fields{};
  if (!ReadGuardFields(&fields) || (fields.flags & kFunctionTablePresent) == 0) {
    return false;
  }
  // Each entry is an RVA, followed by as many bytes of metadata as the top four flag bits say.
  const size_t stride = sizeof(DWORD) + (fields.flags >> 28);
  const auto rva = static_cast<DWORD>(static_cast<const BYTE*>(address) - MonitorBase());
  auto entries = reinterpret_cast<const BYTE*>(fields.table);
  for (uintptr_t i = 0; i < fields.count; ++i) {
    DWORD entry;
    memcpy(&entry, entries + i * stride, sizeof(entry));
    if (entry == rva) {
      return true;
    }
  }
  return false;
}

const void* GuardCheckFunction() {
  GuardFields fields{};
  if (!ReadGuardFields(&fields) || fields.checkPointer == 0) {
    return nullptr;
  }
  return *reinterpret_cast<const void* const*>(fields.checkPointer);
}

void DeleteTestRegistryKey() { RegDeleteTreeW(HKEY_LOCAL_MACHINE, kTestRegistryRoot); }

std::string LogFilePath() {
  char folder[MAX_PATH];
  DWORD length = GetTempPathA(MAX_PATH, folder);
  return std::string(folder, length) + "VelmoraLMDrv.dbg";
}

std::string LogFileText() {
  std::ifstream file(LogFilePath(), std::ios::binary);
  return {std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
}

PortMonitorRecord& PortMonitor() { return record; }
void ResetPortMonitor() { record = PortMonitorRecord{}; }
HANDLE HostPortHandle() { return &hostPortToken; }

MONITOR HostPortMonitorTable() {
  MONITOR table{};
  table.pfnOpenPort = HostOpenPort;
  table.pfnStartDocPort = HostStartDocPort;
  table.pfnWritePort = HostWritePort;
  table.pfnReadPort = HostReadPort;
  table.pfnEndDocPort = HostEndDocPort;
  table.pfnClosePort = HostClosePort;
  table.pfnSetPortTimeOuts = HostSetPortTimeOuts;
  return table;
}

int main(int argc, char** argv) {
  testing::InitGoogleTest(&argc, argv);
  constexpr char kStandInOption[] = "--stand-in-spoolss=";
  for (int i = 1; i < argc; ++i) {
    const std::string argument = argv[i];
    if (argument.rfind(kStandInOption, 0) != 0) {
      std::fprintf(stderr, "unknown argument: %s\n", argv[i]);
      return 2;
    }
    const std::string path = argument.substr(sizeof(kStandInOption) - 1);
    if (!MapStandInSpooler(std::wstring(path.begin(), path.end()))) {
      return 1;
    }
  }
  if (!LoadMonitor() || !FindStandInSpooler()) {
    return 1;
  }
  return RUN_ALL_TESTS();
}
