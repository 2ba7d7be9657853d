// The test host's side of the stand-in spoolss.dll: the printers it lets the monitor open, the
// session its jobs come from, and the record of the job controls and of the questions in the job
// owner's session that the monitor sent. The host finds these entries with GetProcAddress in
// the spoolss.dll that the loader mapped for the monitor, so it talks to the very module whose
// spooler functions the monitor calls.
#pragma once

#include "platform/win32.h"

struct StandInSetJobCall {
  wchar_t printerName[64];  // the name the printer handle was opened under
  DWORD jobId;
  DWORD level;
  BOOL jobData;  // a job structure was passed
  DWORD command;
};

// One SplPromptUIInUsersSession call, recorded when it returned.
struct StandInPromptCall {
  DWORD jobId;
  wchar_t caption[64];
  wchar_t text[320];
  DWORD style;           // the message box type
  DWORD timeoutSeconds;  // 0: no time-out
  BOOL wait;
  DWORD response;  // the button, IDTIMEOUT, or IDASYNC (32001) for a call that did not wait
};

// Forgets every printer and every recorded call, and jobs come from session 1 again; handles still
// open stay valid.
using StandInResetFn = void(WINAPI*)();
// Adds a printer that OpenPrinterW finds by name (without regard to case); its driver file, as
// GetPrinterDriverW level 2 reports it, is driverPath.
using StandInAddPrinterFn = BOOL(WINAPI*)(LPCWSTR printerName, LPCWSTR portName,
                                          LPCWSTR driverPath);
// Copies up to `capacity` recorded SetJobW calls, oldest first; returns how many were recorded.
using StandInSetJobCallsFn = DWORD(WINAPI*)(StandInSetJobCall* calls, DWORD capacity);
// Printer handles handed out by OpenPrinterW and not yet closed.
using StandInOpenHandlesFn = LONG(WINAPI*)();
// Blocks of the bidi allocators (RouterAllocBidiResponseContainer, RouterAllocBidiMem) not yet
// freed.
using StandInLiveBidiBlocksFn = LONG(WINAPI*)();
// Frees of bidi blocks that the allocators never handed out or took back already (each one
// noticed and not performed).
using StandInBadBidiFreesFn = LONG(WINAPI*)();
// The session every job comes from, as SplIsSessionZero tells it (only 0 matters).
using StandInSetJobSessionFn = void(WINAPI*)(DWORD sessionId);
// Copies up to `capacity` recorded SplPromptUIInUsersSession calls, oldest first; returns how many
// were recorded.
using StandInPromptCallsFn = DWORD(WINAPI*)(StandInPromptCall* calls, DWORD capacity);
// The answer the job's owner gives at once to every question SplPromptUIInUsersSession brings,
// without a box on the display; 0 (after Reset) shows each box there for the host to answer.
using StandInAnswerOwnersFn = void(WINAPI*)(DWORD answer);
// Called with the text of each question for the job owner's session before it is shown, on the
// monitor's thread; a non-zero answer is taken as the owner's and nothing is shown. NULL (and
// StandInReset) shows every question again.
using StandInPromptHook = DWORD(WINAPI*)(LPCWSTR text);
using StandInSetPromptHookFn = void(WINAPI*)(StandInPromptHook hook);
