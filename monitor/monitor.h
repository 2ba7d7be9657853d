// The monitor's spooler entry points and the two tables that carry them: the top of the house.
#pragma once

#include "records/records.h"

extern MONITOREX MonitorTable;
extern MONITOR2 MonitorTable2;

// ---- Entry and global state -----------------------------------------------------------------
extern "C" BOOL WINAPI DllMain(HINSTANCE hModule, DWORD dwReason, LPVOID lpReserved);
extern "C" LPMONITOREX WINAPI InitializePrintMonitor(LPWSTR pszRegistryRoot);
extern "C" LPMONITOR2 WINAPI InitializePrintMonitor2(PMONITORINIT pMonitorInit, PHANDLE phMonitor);
VOID WINAPI PJLMonShutdown(HANDLE hMonitor);
LONG UpdateTimeoutsFromRegistry(LPCWSTR pszRegistryRoot);
LONG ReadOrCreateDwordValue(HKEY hKey, LPCWSTR pszValueName, DWORD* pdwValue, DWORD dwDefault);

// ---- Opening and closing ports --------------------------------------------------------------
BOOL WINAPI PJLMonOpenPortEx(LPWSTR pszPortName, LPWSTR pszPrinterName, PHANDLE pHandle,
                             LPMONITOR pMonitor);
BOOL WINAPI PJLMonOpenPortEx2(HANDLE hMonitor, HANDLE hMonitorPort, LPWSTR pszPortName,
                              LPWSTR pszPrinterName, PHANDLE pHandle, LPMONITOR2 pMonitor2);
BOOL WINAPI PJLMonClosePort(HANDLE hPort);

// ---- Job control ----------------------------------------------------------------------------
BOOL WINAPI PJLMonStartDocPort(HANDLE hPort, LPWSTR pszPrinterName, DWORD JobId, DWORD Level,
                               LPBYTE pDocInfo);
BOOL WINAPI PJLMonEndDocPort(HANDLE hPort);
void AbortJobs(IniPort* pIniPort);
void ReportLastPageEjected(IniJob* pIniJob);
IniJob* FindJobById(IniPort* pIniPort, DWORD JobId, IniJob** ppPrevious);
void RetireJobs(IniPort* pIniPort, DWORD JobId);

// ---- Write path -----------------------------------------------------------------------------
BOOL WINAPI PJLWritePort(HANDLE hPort, LPBYTE pBuffer, DWORD cbBuf, LPDWORD pcbWritten);

// ---- Read path and status query -------------------------------------------------------------
BOOL WINAPI PJLMonReadPort(HANDLE hPort, LPBYTE pBuffer, DWORD cbBuffer, LPDWORD pcbRead);
BOOL WINAPI GetPrinterDataFromPort(HANDLE hPort, DWORD ControlID, LPWSTR pValueName,
                                   LPWSTR lpInBuffer, DWORD cbInBuffer, LPWSTR lpOutBuffer,
                                   DWORD cbOutBuffer, LPDWORD lpcbReturned);
BOOL TakeStatusSnapshot(IniPort* pIniPort);

// ---- Bidi answers ---------------------------------------------------------------------------
DWORD WINAPI PJLMonSendRecvBidiDataFromPort(HANDLE hPort, DWORD dwAccessBit, LPCWSTR pAction,
                                            PBIDI_REQUEST_CONTAINER pReqData,
                                            PBIDI_RESPONSE_CONTAINER* ppResData);
