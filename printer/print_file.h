// Files installed with the printer driver (the alignment prints), located in the driver's folder
// and copied to the printer.
#pragma once

#include "platform/win32.h"
#include "records/records.h"

// The sender's chunk: the file goes to the port monitor in writes of at most this many bytes.
constexpr DWORD kPrintFileChunkSize = 100;
// Room for a file name loaded from the string table: 14 characters and the NUL.
constexpr int kPrintFileNameChars = 15;

// The full path of a file in the driver's folder of the printer: the folder of the driver file
// (up to and including its last backslash) followed by the file name. The file name is NULL (the
// folder alone), a string-table ID (MAKEINTRESOURCEW) or a wide string. The result is a fixed
// global block the caller releases with GlobalFree; NULL on failure, with the last error set.
LPWSTR OemPtrGetDriverPathName(HANDLE hPrinter, LPCWSTR pszFileName);

// Sends a file of the driver's folder to the printer exactly as stored, in chunks of at most
// kPrintFileChunkSize bytes, straight through the port monitor. TRUE when every byte was
// accepted (an empty file sends nothing and succeeds). The printer name is not used.
BOOL OemPtrOutputFileUSB(HANDLE hPrinter, IniPort* pIniPort, LPCWSTR pszPrinterName,
                         LPCWSTR pszFileName);
