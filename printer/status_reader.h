// Reading a fresh status record from the printer, and the progress dialog shown during the long
// waits after an alignment print.
#pragma once

#include "platform/win32.h"
#include "printer/status.h"
#include "records/records.h"

// Pause between read attempts of GetRoboStatusUSB, and between its calls in WaitForPrinterStatus.
constexpr DWORD kStatusReadPause = 50;
constexpr DWORD kStatusWaitPause = 100;

// Reads status records through the port monitor until a valid record whose number differs from the
// first valid one of this call arrives (TRUE, the buffer holds it), or until the timeout in
// milliseconds has passed: then the last attempt alone decides (valid record TRUE, else FALSE).
// With fSkipBusy, records marked busy are passed over. The record is the caller's; after FALSE it
// holds whatever the last read left in it. Every record taken (valid, and not passed over) also
// becomes the port's remembered status (RememberPortStatus).
BOOL GetRoboStatusUSB(IniPort* pIniPort, StatusRecord* pRecord, DWORD dwTimeout, BOOL fSkipBusy);

// Polls GetRoboStatusUSB (busy records skipped) until it succeeds or the timeout has passed;
// returns 1 or 0. With fShowProgress the progress dialog is on screen for the whole wait, and its
// queued messages are dispatched during every pause so that it paints and stays responsive.
BOOL WaitForPrinterStatus(IniPort* pIniPort, StatusRecord* pRecord, DWORD dwTimeout,
                          BOOL fShowProgress);

// Dialog procedure of the progress dialog. It never closes the dialog; WaitForPrinterStatus does.
INT_PTR CALLBACK OemDlgProcAlignProgress(HWND hDlg, UINT uMsg, WPARAM wParam, LPARAM lParam);
