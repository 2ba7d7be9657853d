// The port and job records, the module-wide state they live under, and their memory blocks: what
// every subsystem of the monitor shares, below all of them.
#pragma once

#include <atomic>

#include "platform/win32.h"
#include "records/status_record.h"

constexpr DWORD kPortSignature = 0x4F4A;

// Bits of IniPort::status.
constexpr DWORD PORT_IN_JOB = 0x0001;
constexpr DWORD PORT_FIRST_WRITE = 0x0200;
constexpr DWORD PORT_NO_HEADER_SCAN = 0x0400;
// The pre-job check failed on the port; until a job starts again, no job header goes out on it.
constexpr DWORD PORT_CHECK_FAILED = 0x0800;

constexpr DWORD kStatusSnapshotSize = 512;
// Room for the printer name a port was opened for, with its NUL; a longer one is not kept.
constexpr DWORD kPortPrinterNameChars = MAX_PATH;
constexpr DWORD kJobHeaderLength = 36;
constexpr BYTE kJobHeaderStart[4] = {0x1B, 0x2A, 0x12, 0x1C};

// What the write path looks for; all zero until the port's first successful job start.
struct JobHeaderPattern {
  DWORD cbHeader;
  BYTE bStart[4];
};

// The bidi entry of a port monitor's MONITOR2 table.
using SendRecvBidiFn = decltype(MONITOR2::pfnSendRecvBidiDataFromPort);

// Quiet mode as a job's start read it from the job's printer. A record no start has read it for
// (all zero) has the setting of the most recent start, as a question without a job has.
enum class JobPrompts : DWORD { AsLastStart = 0, Shown, Quiet };

struct IniJob {
  IniJob* pNext;
  LPWSTR pszPrinterName;  // points at the copy stored right behind the record
  HANDLE hPrinter;
  DWORD JobId;
  // Set by the start before the job is listed, then only read: every question of the job and of
  // its pre-job checks follows it, whatever other printers' jobs start meanwhile.
  JobPrompts prompts;
};

// One zero-filled block per open port; the spooler's handle for the port.
struct IniPort {
  DWORD signature;
  IniPort* pNext;
  LPWSTR pszPortName;
  DWORD status;  // read and written through the PortStatus helpers only
  IniJob* pIniJob;
  HANDLE hPort;
  HANDLE hEvent;
  MONITOR PortMonitor;
  DWORD cbStatusSnapshot;
  BYTE StatusSnapshot[kStatusSnapshotSize];
  JobHeaderPattern HeaderPattern;
  // The port monitor's own bidi entry: only a MONITOR2 table can bring one.
  SendRecvBidiFn pfnPortSendRecvBidi;
  // The printer the port was opened for, to find its settings; empty when none was given.
  WCHAR szPrinterName[kPortPrinterNameChars];
  // The newest usable status record read on the port; read and written through the
  // RememberPortStatus / GetRememberedPortStatus pair only.
  BOOL fHaveLastStatus;
  StatusRecord LastStatus;
  // Set, through std::atomic_ref, at the first job start on the port: the spooler tells of jobs.
  BOOL fJobSeen;
  // The spooler calls in flight on the port, with kPortClosing once its close has begun; changed
  // through std::atomic_ref only, and a call is counted only under the lock. The close waits on
  // hCallsEnded (manual-reset) for the last of those calls to end.
  DWORD dwCalls;
  HANDLE hCallsEnded;
  // The spooler's handle for the port: a number no other port of this process has had.
  HANDLE hSpoolerHandle;
};

// Bit of IniPort::dwCalls: the port's close has begun, and it takes no new call.
constexpr DWORD kPortClosing = 0x80000000;

inline bool PortClosing(const IniPort* pIniPort) {
  return (std::atomic_ref<const DWORD>(pIniPort->dwCalls).load() & kPortClosing) != 0;
}

// The flag word is read by status queries on other spooler threads while the job's thread
// changes it, so every access is atomic.
inline DWORD PortStatus(const IniPort* pIniPort) {
  return std::atomic_ref<const DWORD>(pIniPort->status).load();
}
inline bool PortStatusHas(const IniPort* pIniPort, DWORD bits) {
  return (PortStatus(pIniPort) & bits) != 0;
}
inline void SetPortStatus(IniPort* pIniPort, DWORD bits) {
  std::atomic_ref<DWORD>(pIniPort->status).fetch_or(bits);
}
inline void ClearPortStatus(IniPort* pIniPort, DWORD bits) {
  std::atomic_ref<DWORD>(pIniPort->status).fetch_and(~bits);
}
// Sets the bits and tells whether any of them was set already, in one step.
inline bool TestAndSetPortStatus(IniPort* pIniPort, DWORD bits) {
  return (std::atomic_ref<DWORD>(pIniPort->status).fetch_or(bits) & bits) != 0;
}

// ---- Module-wide state ----------------------------------------------------------------------
extern CRITICAL_SECTION SpoolerSection;
extern IniPort* pIniFirstPort;
extern HINSTANCE hInst;
// Written without the lock from any spooler thread. fWarnedOnFailedStart limits the notice of a
// failed start for the whole monitor; fShowUI is the quiet-mode setting of the most recent start,
// for questions that belong to no job (a job's own are in its record).
extern std::atomic<BOOL> fWarnedOnFailedStart;
extern std::atomic<BOOL> fShowUI;

// ---- The lock and the port list --------------------------------------------------------------
void EnterMonitorLock();
void LeaveMonitorLock();
IniPort* CreatePortRecord(LPCWSTR pszPortName);
IniPort* FindPortRecord(LPCWSTR pszPortName);
void DeletePortRecord(IniPort* pIniPort);
// Keeps a status record read on the port as the port's newest; any thread may read it back.
void RememberPortStatus(IniPort* pIniPort, const StatusRecord& record);
// The newest record RememberPortStatus kept for the port; FALSE when there is none yet.
BOOL GetRememberedPortStatus(IniPort* pIniPort, StatusRecord* pRecord);

// ---- The spooler's port handles --------------------------------------------------------------
// A handle is a serial number given when the port opens, never the record's address: a record's
// block may come back for a later port, a number does not (a 32-bit process counts 2^32 - 0x10001
// opens before the first comes round again, and even then no open port's number is given twice).
// Every spooler call on a port runs between BeginPortCall, which finds the record on the list of
// open ports by that number and counts the call, and EndPortCall. A port whose close has begun
// takes no new call. A refused handle gives NULL with the last error ERROR_INVALID_PARAMETER.
IniPort* BeginPortCall(HANDLE handle);
// Takes no lock, and keeps the call's own last error.
void EndPortCall(IniPort* pIniPort);
// Marks the port as closing and waits, without the lock, until its calls in flight have ended.
// NULL, with the last error ERROR_INVALID_PARAMETER, when the handle is not an open port or
// another close of it has begun already.
IniPort* BeginPortClose(HANDLE handle);
// The open port behind the handle, without counting a call, or NULL; for hosts and tests that
// look into a port they hold open.
IniPort* PortOfHandle(HANDLE handle);
// The next serial number for a new port record; the caller holds the lock.
HANDLE NextPortHandle();

// Ends a call on a port when it goes out of scope: however the call is left, unwinding by its
// host included, the port's close does not wait for it for ever.
struct PortCallScope {
  IniPort* pIniPort;
  ~PortCallScope() { EndPortCall(pIniPort); }
};

// Runs one spooler call on the open port behind the handle, counted as in flight so that the
// port's close waits for it; `refused` is the result for any other handle.
template <class Result, class Call>
Result CallOnOpenPort(HANDLE handle, Result refused, Call call) {
  IniPort* pIniPort = BeginPortCall(handle);
  if (pIniPort == nullptr) {
    return refused;
  }
  const PortCallScope scope = {pIniPort};
  return call(pIniPort);
}

// ---- Memory blocks of the records -----------------------------------------------------------
LPVOID AllocZeroed(DWORD cb);
LPWSTR DupWideString(LPCWSTR psz);
void FreeJobRecord(IniJob* pIniJob);
void FreePortJobs(IniPort* pIniPort);
