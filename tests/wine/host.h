// The Windows test host's view of the real languagemonitor.dll: the loaded module, its two
// exports, and a small port monitor that stands below the monitor and records what reaches it.
#pragma once

#include <string>
#include <vector>

#include "platform/win32.h"
#include "tests/wine/spoolss/control.h"

using InitializePrintMonitorFn = LPMONITOREX(WINAPI*)(LPWSTR pszRegistryRoot);
using InitializePrintMonitor2Fn = LPMONITOR2(WINAPI*)(PMONITORINIT pMonitorInit, PHANDLE phMonitor);

// The DLL as the system loader mapped it (LoadLibraryW, so DllMain ran for process attach).
struct LoadedMonitor {
  HMODULE module;
  std::wstring path;
  InitializePrintMonitorFn InitializePrintMonitor;
  InitializePrintMonitor2Fn InitializePrintMonitor2;
};
const LoadedMonitor& Monitor();

// The stand-in spoolss.dll from the host's folder, which the loader mapped for the monitor's
// imports in place of Wine's builtin one (WINEDLLOVERRIDES has spoolss=n); or, when the host was
// given --stand-in-spoolss=PATH (relative to its folder), the one there, mapped before the DLL.
struct StandInSpooler {
  HMODULE module;
  StandInResetFn Reset;
  StandInAddPrinterFn AddPrinter;
  StandInSetJobCallsFn SetJobCalls;
  StandInOpenHandlesFn OpenHandles;
  StandInLiveBidiBlocksFn LiveBidiBlocks;
  StandInBadBidiFreesFn BadBidiFrees;
  StandInSetJobSessionFn SetJobSession;
  StandInPromptCallsFn PromptCalls;
  StandInAnswerOwnersFn AnswerOwners;
  DWORD(WINAPI* FreeBidiResponseContainer)(PBIDI_RESPONSE_CONTAINER pData);
  bool offersSessionPrompts;  // it exports SplIsSessionZero and SplPromptUIInUsersSession
};
const StandInSpooler& Spooler();

// True when the address lies inside the DLL's mapped image.
bool IsInsideMonitorImage(const void* address);

// What the DLL's load configuration, as mapped, tells of Control Flow Guard: whether the address
// is in its table of valid indirect call targets, and where its check pointer leads (the DLL's
// own check, which lets every target through, until a loader that enforces the guard replaces
// it).
bool IsGuardedCallTarget(const void* address);
const void* GuardCheckFunction();

// The registry key the tests hand to InitializePrintMonitor, below HKEY_LOCAL_MACHINE.
extern const wchar_t kTestRegistryRoot[];
void DeleteTestRegistryKey();

// The monitor's log file in the temp folder, as the monitor names it.
std::string LogFilePath();
// Its text; empty when there is no file.
std::string LogFileText();

// The port monitor below the monitor under test. Its entries are plain WINAPI functions, so the
// calls are recorded in one global record; Reset() before each test.
struct SetTimeoutsCall {
  HANDLE hPort;
  COMMTIMEOUTS timeouts;
  DWORD reserved;
};
struct PortMonitorRecord {
  BOOL openResult = TRUE;
  BOOL setTimeoutsResult = TRUE;
  std::vector<std::wstring> opened;
  std::vector<SetTimeoutsCall> timeouts;
  std::vector<HANDLE> closed;
  int otherCalls = 0;  // start, write, read, end document: none expected on open and close
};
PortMonitorRecord& PortMonitor();
void ResetPortMonitor();

// The handle the port monitor gives out for an open port.
HANDLE HostPortHandle();

// A complete table of the port monitor (every entry the monitor may call is filled).
MONITOR HostPortMonitorTable();
