// The control panel of the native stand-ins, for whoever hosts the monitor: a test, langmon-sim.
// Monitor code never includes this header.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "platform/win32.h"

namespace host {

// Back to a freshly loaded process: virtual clock at its start value, empty registry, no
// printers, no records, every answer 0, no failures armed, folders unset. Open files, events and
// allocations made by the monitor are not touched (tests check them for leaks).
void Reset();

// ---- Folders -------------------------------------------------------------------------------
// The folder GetTempPathA reports (a trailing separator is added when missing); empty makes
// GetTempPathA fail.
void SetTempFolder(const std::string& folder);
// The folder GetTempPath2W reports, as SetTempFolder. While it is empty (after Reset) kernel32
// does not offer GetTempPath2W: GetProcAddress does not find it, as on Windows before it.
void SetTempPath2Folder(const std::string& folder);
// The folder SHGetSpecialFolderPathW reports for CSIDL_COMMON_APPDATA; empty makes it fail.
void SetCommonAppDataFolder(const std::string& folder);
// Windows paths ("C:\\x\\y", "\\x") as the stand-ins map them onto this file system: every
// backslash becomes a slash; nothing else changes.
std::string NativePath(const std::string& windowsPath);
std::string NativePath(const std::u16string& windowsPath);

// ---- Clock ---------------------------------------------------------------------------------
// Virtual clock (the default): GetTickCount reads it and Sleep advances it at once, so waits of
// minutes pass instantly. Real clock: GetTickCount and Sleep are the machine's.
void UseVirtualClock(DWORD startTicks = 0);
void UseRealClock();
bool IsVirtualClock();
DWORD Ticks();  // what GetTickCount would return now
void AdvanceClock(DWORD milliseconds);
// Whether Sleep on the virtual clock yields the processor, so that other threads' polling loops
// run as they would while it slept (the default, again after Reset). A host whose monitor runs
// on one thread turns it off: on a busy machine each yield may give the processor away.
void YieldOnVirtualSleep(bool yield);
// Called after each Sleep, on the sleeping thread, with the ticks after it (virtual or real).
void OnSleep(std::function<void(DWORD ticksNow)> observer);
// Fixes what GetLocalTime reports; a zero wYear gives the machine's local time again.
void SetLocalTime(const SYSTEMTIME& time);
// GetLocalTime reports `start` moved on by the ticks since this call, so that under the virtual
// clock the local time passes with Sleep as the tick count does. SetLocalTime or Reset ends it.
void LocalTimeFollowsClock(const SYSTEMTIME& start);

// ---- Debugger output -----------------------------------------------------------------------
// Every OutputDebugStringA text, in order, since the last Reset or clear.
std::vector<std::string> DebugOutput();
void ClearDebugOutput();
// Also passes each text to an observer (as it arrives, on the caller's thread).
void OnDebugOutput(std::function<void(const std::string&)> observer);
// Keeps no record of debugger output (long runs: benchmarks, fuzzing, langmon-sim).
void RecordDebugOutput(bool record);

// ---- Memory --------------------------------------------------------------------------------
// The Nth GlobalAlloc from now (1 = the next one) fails with ERROR_NOT_ENOUGH_MEMORY; 0 disarms.
void FailAllocation(unsigned nth);
// GlobalAlloc calls since Reset, and blocks not yet released.
unsigned AllocationCount();
long LiveAllocations();

// ---- Handles -------------------------------------------------------------------------------
// Open file handles and events made through the stand-ins and not yet closed.
long OpenFileHandles();
long OpenEvents();
// Registry key handles opened through RegCreateKeyExW and not yet closed.
long OpenRegistryKeys();

// ---- File failures -------------------------------------------------------------------------
// Each names one file by a Windows or native path; it is matched against the file a handle is
// open on at the time of the call, so any spelling of the path (doubled separators, backslashes)
// hits it. Reset and ClearFileFailures disarm them all.
// ReadFile fails (FALSE, ERROR_READ_FAULT) once the file position has reached afterBytes; a read
// that crosses that point first delivers the bytes before it. So exactly afterBytes bytes can be
// read from the start before the failure.
void FailFileReads(const std::string& path, DWORD afterBytes);
// GetFileSize of the file fails: INVALID_FILE_SIZE with ERROR_READ_FAULT.
void FailFileSize(const std::string& path, bool fail = true);
// WriteFile to the file fails: FALSE, nothing written, ERROR_WRITE_FAULT.
void FailFileWrites(const std::string& path, bool fail = true);
void ClearFileFailures();
// The Nth file call from now (CreateFileA, CreateFileW, ReadFile, WriteFile, GetFileSize,
// SetFilePointer, SetEndOfFile, GetFileInformationByHandle, GetFileAttributesW, GetFileType,
// MoveFileW/MoveFileExW, DeleteFileW, RemoveDirectoryW; 1 = the next one) fails as that call
// reports failure: no handle (ERROR_ACCESS_DENIED), nothing read (ERROR_READ_FAULT), nothing
// written (ERROR_WRITE_FAULT), no size (ERROR_READ_FAULT), the position or the end unchanged, no
// information or attributes (ERROR_ACCESS_DENIED), FILE_TYPE_UNKNOWN (ERROR_INVALID_HANDLE),
// nothing renamed or deleted (ERROR_ACCESS_DENIED). NtCreateFile counts too, and fails with
// STATUS_ACCESS_DENIED. 0 disarms.
void FailFileCall(unsigned nth);
// File calls since Reset.
unsigned FileCallCount();

// ---- Links -------------------------------------------------------------------------------
// Each makes a link at `link` (a Windows or native path) and is false when it cannot. A symbolic
// link and a junction (a folder link) are both symbolic links of this file system, which the
// stand-ins show as reparse points; a hard link is a second name of an existing file, which
// GetFileInformationByHandle counts in nNumberOfLinks. Reset leaves them in place.
bool PlantSymbolicLink(const std::string& link, const std::string& target);
bool PlantJunction(const std::string& link, const std::string& targetFolder);
bool PlantHardLink(const std::string& link, const std::string& existingFile);

// ---- Owners --------------------------------------------------------------------------------
// SIDs as Windows writes them: "S-1-5-18" is SYSTEM, "S-1-5-32-544" the Administrators.
// The user the process runs as (its token's TokenUser) after Reset: an ordinary local account.
inline constexpr char kDefaultProcessUser[] = "S-1-5-21-1000-2000-3000-1001";
// Another local user, for files that the monitor did not make.
inline constexpr char kOtherUser[] = "S-1-5-21-1000-2000-3000-1002";
// The process runs as this user from now on; a text that is no SID gives the default again.
void SetProcessUser(const std::string& sid);
// Makes ownerSid the owner of the file or folder at path (a Windows or native path, followed
// through links), as taking ownership would; false when there is nothing there or the text is
// no SID. Every other file belongs to the process's user, whoever that is when asked; so does a
// file the stand-ins create, whatever its inode was before. Reset forgets every owner set.
bool SetFileOwner(const std::string& path, const std::string& ownerSid);
// Token handles (OpenProcessToken) not yet closed.
long OpenTokens();

// ---- Settings files ------------------------------------------------------------------------
// The Nth private-profile call from now (GetPrivateProfileIntW, WritePrivateProfileStringW;
// 1 = the next one) fails: the read answers its default, as for a file that cannot be read; the
// write changes nothing and returns FALSE with ERROR_ACCESS_DENIED. 0 disarms.
void FailProfileCall(unsigned nth);
// Private-profile calls since Reset.
unsigned ProfileCallCount();

// ---- Registry ------------------------------------------------------------------------------
// Keys are named by their path below HKEY_LOCAL_MACHINE, compared without regard to case.
void RefuseRegistryWrites(const std::u16string& keyPath, bool refuse = true);
void CreateRegistryKey(const std::u16string& keyPath);
bool RegistryKeyExists(const std::u16string& keyPath);
struct RegistryValue {
  bool present = false;
  DWORD type = REG_NONE;
  std::vector<uint8_t> data;
};
RegistryValue GetRegistryValue(const std::u16string& keyPath, const std::u16string& valueName);
void SetRegistryValue(const std::u16string& keyPath, const std::u16string& valueName, DWORD type,
                      const std::vector<uint8_t>& data);

// ---- Resources -----------------------------------------------------------------------------
// The module handle a loader would give the monitor; LoadStringW and CreateDialogParamW accept
// it (and NULL) and serve the monitor's own string table and dialog.
HINSTANCE MonitorModule();

// ---- Message boxes -------------------------------------------------------------------------
struct MessageBoxRecord {
  unsigned textId = 0;  // the string-table ID whose text it showed, 0 when none matches
  std::u16string text;
  std::u16string caption;
  UINT type = 0;
  int answer = 0;
  // Shown by the spooler in the job owner's session (SplPromptUIInUsersSession), with its
  // time-out in seconds (0: none); otherwise by MessageBoxW on the monitor's own desktop.
  bool ownersSession = false;
  DWORD timeoutSeconds = 0;
  DWORD error = 0;  // the call failed with this error, and nobody saw the box
};
// Answers, in order of priority: the scripted queue (one answer per box until it runs dry), then
// the answerer function if set, then the fixed answer (0 unless set: like a box not shown).
void QueueAnswers(const std::vector<int>& answers);
void SetFixedAnswer(int answer);
void SetAnswerer(std::function<int(const MessageBoxRecord&)> answerer);
std::vector<MessageBoxRecord> MessageBoxes();
void ClearMessageBoxes();

// ---- Sessions ------------------------------------------------------------------------------
// The session of the monitor's process (ProcessIdToSessionId): 1 after Reset, an interactive
// one; 0 makes it a service in session 0, as the spooler is since Windows Vista.
void SetProcessSession(DWORD sessionId);
// Whether spoolss offers SplIsSessionZero and SplPromptUIInUsersSession: not after Reset, as
// Wine's own spoolss and older spoolers.
void OfferSessionPrompts(bool offer);
// The session every job was submitted from, as SplIsSessionZero tells: 1 after Reset.
void SetJobSession(DWORD sessionId);
// Makes SplIsSessionZero fail with this error (0, after Reset: it answers), as a spooler does
// that no longer knows the job.
void FailSessionQuery(DWORD error);
// The person in the job owner's session, meeting a box that SplPromptUIInUsersSession shows
// there: answers `answerAfterMs` later with the answer the sources above give, unless the box's
// time-out is up first (IDTIMEOUT at the time-out, no answer taken); or, with a `failError`,
// the call fails with that error at once (the owner has logged off, the spooler cannot reach
// the session). The waits take the clock's time: Sleep's, virtual or real.
struct JobOwner {
  DWORD answerAfterMs = 0;
  DWORD failError = 0;
};
void SetJobOwner(const JobOwner& owner);

// ---- Dialogs -------------------------------------------------------------------------------
struct DialogRecord {
  HWND window = nullptr;
  unsigned templateId = 0;
  std::u16string caption;
  int controlId = 0;
  std::u16string controlText;
  bool visible = false;
  bool alive = false;
  // Queued messages of this dialog (taken by PeekMessageW) that were dispatched to it through
  // IsDialogMessageW or DispatchMessageW.
  unsigned messagesDispatched = 0;
};
// Every dialog created since Reset, alive or destroyed, in order of creation.
std::vector<DialogRecord> Dialogs();
void OnDialogChange(std::function<void(const DialogRecord&)> observer);
// The Nth CreateDialogParamW from now fails; 0 disarms.
void FailDialogCreation(unsigned nth);

// ---- Spooler -------------------------------------------------------------------------------
struct Printer {
  std::u16string name;
  std::u16string driverPath;  // as GetPrinterDriverW level 2 reports pDriverPath
  bool openSucceeds = true;
  bool setJobSucceeds = true;
  // GetPrinterW level 2 answers with this name; empty reports the printer's own name.
  std::u16string reportedName;
};
void AddPrinter(const Printer& printer);
void RemovePrinters();
struct SetJobRecord {
  std::u16string printerName;
  DWORD jobId = 0;
  DWORD level = 0;
  DWORD command = 0;
  BOOL result = FALSE;
};
std::vector<SetJobRecord> SetJobCalls();
void ClearSetJobCalls();
long OpenPrinterHandles();
// The Nth spooler call from now (OpenPrinterW, ClosePrinter, GetPrinterW, GetPrinterDriverW,
// SetJobW; 1 = the next one) fails with ERROR_ACCESS_DENIED. A failing ClosePrinter still closes
// the handle (its caller could do nothing else with it); a failing SetJobW is recorded with its
// FALSE result. 0 disarms.
void FailSpoolerCall(unsigned nth);
// Spooler calls since Reset.
unsigned SpoolerCallCount();

// ---- Run-time lookups and bidi memory --------------------------------------------------------
// GetModuleHandleW knows "spoolss.dll"; GetProcAddress finds in it the spooler functions that
// only newer spoolers export: RouterAllocBidiResponseContainer, RouterAllocBidiMem,
// RouterFreeBidiResponseContainer and RouterFreeBidiMem (declared below). A withheld one is not
// found (NULL, ERROR_PROC_NOT_FOUND), as on a spooler that lacks it. Reset offers them all.
// It knows "kernel32.dll" too, with GetTempPath2W in it only as SetTempPath2Folder says.
void WithholdSpoolerFunction(const std::string& name, bool withhold = true);
// Containers and blocks of those allocators not yet freed (Reset does not forget them).
long LiveBidiAllocations();
// The Nth bidi allocation from now (container or block; 1 = the next one) fails: NULL. 0 disarms.
void FailBidiAllocation(unsigned nth);
// Frees of a pointer those allocators did not hand out, or handed out and took back, since Reset.
unsigned BadBidiFrees();

}  // namespace host

// kernel32's temp folder of newer Windows, which the monitor looks up at run time.
DWORD WINAPI GetTempPath2W(DWORD BufferLength, LPWSTR Buffer);

// The spooler's allocators for bidi answers, as spoolss.dll exports them.
PBIDI_RESPONSE_CONTAINER WINAPI RouterAllocBidiResponseContainer(DWORD Count);
PVOID WINAPI RouterAllocBidiMem(size_t NumBytes);
DWORD WINAPI RouterFreeBidiResponseContainer(PBIDI_RESPONSE_CONTAINER pData);
VOID WINAPI RouterFreeBidiMem(PVOID pMemPointer);
