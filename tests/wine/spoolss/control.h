// The test host's side of the stand-in spoolss.dll: the printers it lets the monitor open and the
// record of the job controls the monitor sent. The host finds these entries with GetProcAddress in
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

// Forgets every printer and every recorded call; handles still open stay valid.
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
