// The real DLL installed into Wine's own spooler (its builtin winspool, spoolss and localspl, not
// the stand-in): AddMonitorW registers it and the spooler loads it and calls its entry,
// EnumMonitorsW lists it, DeleteMonitorW removes it and lets it shut down. Wine's spooler lives in
// the calling process, so the DLL's log file shows each step; it is kept in a temp folder of this
// program's own.
//
// What Wine 8's spooler was seen to do: AddMonitorW loads the DLL from the system folder, calls
// InitializePrintMonitor2 (never InitializePrintMonitor when that exists, and it fails the add with
// ERROR_PROC_NOT_FOUND when InitializePrintMonitor2 returns NULL) with a MONITORINIT whose
// hckRegistryRoot is the monitor's key and whose MONITORREG functions all answer
// ERROR_CALL_NOT_IMPLEMENTED; it keeps the DLL loaded until DeleteMonitorW, which calls
// pfnShutdown and unloads it. EnumMonitorsW reads the registry without loading anything.
#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "platform/win32.h"

namespace {

constexpr wchar_t kMonitorName[] = L"Velmora Label Monitor Test";
constexpr wchar_t kDllName[] = L"languagemonitor.dll";
constexpr wchar_t kMonitorsKey[] = L"SYSTEM\\CurrentControlSet\\Control\\Print\\Monitors\\";
constexpr DWORD kAlreadyInstalled = 3006;  // ERROR_PRINT_MONITOR_ALREADY_INSTALLED
constexpr DWORD kUnknownMonitor = 3000;    // ERROR_UNKNOWN_PRINT_MONITOR

std::wstring Folder(const std::wstring& path) { return path.substr(0, path.find_last_of(L"\\/")); }

std::wstring ExecutablePath() {
  wchar_t path[MAX_PATH];
  const DWORD length = GetModuleFileNameW(nullptr, path, MAX_PATH);
  return std::wstring(path, length);
}

std::wstring SystemFolder() {
  wchar_t folder[MAX_PATH];
  const UINT length = GetSystemDirectoryW(folder, MAX_PATH);
  return std::wstring(folder, length);
}

std::string LogFolder() {
  std::wstring folder = Folder(ExecutablePath()) + L"\\spooler-test-temp";
  return std::string(folder.begin(), folder.end());  // the build folder's path is ASCII
}

std::string LogText() {
  std::ifstream in(LogFolder() + "\\VelmoraLMDrv.dbg", std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

bool Logged(const std::string& line) { return LogText().find(line) != std::string::npos; }

// The monitors the spooler knows, with their DLLs: "name = dll".
std::vector<std::wstring> Monitors() {
  DWORD needed = 0;
  DWORD count = 0;
  EnumMonitorsW(nullptr, 2, nullptr, 0, &needed, &count);
  std::vector<BYTE> buffer(needed + sizeof(MONITOR_INFO_2W));
  std::vector<std::wstring> monitors;
  if (!EnumMonitorsW(nullptr, 2, buffer.data(), static_cast<DWORD>(buffer.size()), &needed,
                     &count)) {
    return monitors;
  }
  const auto* info = reinterpret_cast<const MONITOR_INFO_2W*>(buffer.data());
  for (DWORD i = 0; i < count; ++i) {
    monitors.push_back(std::wstring(info[i].pName) + L" = " +
                       (info[i].pDLLName != nullptr ? info[i].pDLLName : L"(none)"));
  }
  return monitors;
}

bool Listed() {
  const std::wstring entry = std::wstring(kMonitorName) + L" = " + kDllName;
  for (const std::wstring& monitor : Monitors()) {
    if (monitor == entry) {
      return true;
    }
  }
  return false;
}

std::wstring RegisteredDriver() {
  wchar_t value[MAX_PATH] = L"";
  DWORD cb = sizeof(value);
  const std::wstring key = std::wstring(kMonitorsKey) + kMonitorName;
  if (RegGetValueW(HKEY_LOCAL_MACHINE, key.c_str(), L"Driver", RRF_RT_REG_SZ, nullptr, value,
                   &cb) != ERROR_SUCCESS) {
    return L"";
  }
  return value;
}

BOOL Add() {
  MONITOR_INFO_2W info = {const_cast<LPWSTR>(kMonitorName), nullptr, const_cast<LPWSTR>(kDllName)};
  return AddMonitorW(nullptr, 2, reinterpret_cast<LPBYTE>(&info));
}

BOOL Delete() { return DeleteMonitorW(nullptr, nullptr, const_cast<LPWSTR>(kMonitorName)); }

class WineSpooler : public testing::Test {
 protected:
  void SetUp() override {
    // The DLL goes where the spooler loads monitors from: the system folder (for a 32-bit
    // process, the one Wine redirects it to).
    installed_ = SystemFolder() + L"\\" + kDllName;
    const std::wstring built = Folder(ExecutablePath()) + L"\\" + kDllName;
    ASSERT_TRUE(CopyFileW(built.c_str(), installed_.c_str(), FALSE)) << GetLastError();
    Delete();  // left registered by an interrupted run
    DeleteFileA((LogFolder() + "\\VelmoraLMDrv.dbg").c_str());
  }

  void TearDown() override {
    Delete();
    DeleteFileW(installed_.c_str());
  }

  std::wstring installed_;
};

TEST_F(WineSpooler, RegistersLoadsListsAndRemovesTheMonitor) {
  ASSERT_FALSE(Listed());
  ASSERT_EQ(GetModuleHandleW(kDllName), nullptr);

  ASSERT_TRUE(Add()) << GetLastError();
  EXPECT_NE(GetModuleHandleW(kDllName), nullptr) << "the spooler keeps the monitor loaded";
  // The monitor's import of spoolss.dll went to Wine's own, not to a stand-in the loader met
  // on its way.
  const HMODULE spoolss = GetModuleHandleW(L"spoolss.dll");
  ASSERT_NE(spoolss, nullptr);
  EXPECT_EQ(GetProcAddress(spoolss, "StandInReset"), nullptr);
  EXPECT_TRUE(Logged("[INFORM] **** LANGMON: InitializePrintMonitor2 Called\n")) << LogText();
  // Wine's registry functions for monitors are not implemented; the monitor loads regardless.
  EXPECT_TRUE(
      Logged("[* WARNING *] **** LANGMON: EOJTimeout not kept, spooler registry error "
             "120\n"));
  EXPECT_FALSE(Logged("Initialize Print Monitor Called")) << "the older entry is not used";
  EXPECT_TRUE(Listed());
  EXPECT_EQ(RegisteredDriver(), kDllName);

  SetLastError(0);
  EXPECT_FALSE(Add());
  EXPECT_EQ(GetLastError(), kAlreadyInstalled);

  EXPECT_FALSE(Logged("PJLMonShutdown"));
  ASSERT_TRUE(Delete()) << GetLastError();
  EXPECT_TRUE(Logged("[INFORM] **** LANGMON: PJLMonShutdown Called\n")) << LogText();
  EXPECT_EQ(GetModuleHandleW(kDllName), nullptr) << "the spooler let the monitor go";
  EXPECT_FALSE(Listed());
  EXPECT_EQ(RegisteredDriver(), L"");

  SetLastError(0);
  EXPECT_FALSE(Delete());
  EXPECT_EQ(GetLastError(), kUnknownMonitor);
}

}  // namespace

int main(int argc, char** argv) {
  testing::InitGoogleTest(&argc, argv);
  // The monitor writes its log to the temp folder: this program's own, so that the other Wine
  // tests of the prefix, which read theirs, are not disturbed.
  CreateDirectoryA(LogFolder().c_str(), nullptr);
  SetEnvironmentVariableA("TMP", LogFolder().c_str());
  SetEnvironmentVariableA("TEMP", LogFolder().c_str());
  if (GetModuleHandleW(L"spoolss.dll") != nullptr &&
      GetProcAddress(GetModuleHandleW(L"spoolss.dll"), "StandInReset") != nullptr) {
    std::fprintf(stderr, "this test needs Wine's own spoolss.dll: run it without spoolss=n\n");
    return 1;
  }
  return RUN_ALL_TESTS();
}
