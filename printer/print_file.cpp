#include "printer/print_file.h"

#include "diag/log.h"

namespace {

// Output buffer for the path as 8-bit log text.
constexpr int kAnsiPathBufferSize = 260;

// A pointer traced with %.8x, as on the 32-bit target.
unsigned PointerBits(const void* p) { return static_cast<unsigned>(reinterpret_cast<UINT_PTR>(p)); }

// The failure exit of OemPtrGetDriverPathName: the caller reads the last error of the call that
// failed, so releasing the driver information must not disturb it.
LPWSTR FailDriverPathName(HGLOBAL hDriverInfo) {
  if (hDriverInfo != nullptr) {
    const DWORD dwError = GetLastError();
    GlobalFree(hDriverInfo);
    SetLastError(dwError);
  }
  LogMessage(LOG_TRACE, "OemPtrGetDriverPathName() returning (NULL)\n");
  return nullptr;
}

}  // namespace

LPWSTR OemPtrGetDriverPathName(HANDLE hPrinter, LPCWSTR pszFileName) {
  LogMessage(LOG_TRACE, "OemPtrGetDriverPathName() Called\n");

  WCHAR szLoadedName[kPrintFileNameChars];
  LPCWSTR pszName = pszFileName;
  if (pszFileName != nullptr && IS_INTRESOURCE(pszFileName)) {
    const UINT uId = LOWORD(reinterpret_cast<ULONG_PTR>(pszFileName));
    if (LoadStringW(hInst, uId, szLoadedName, kPrintFileNameChars) == 0) {
      LogMessage(LOG_ERROR, "OemPtrGetDriverPathName(): failed to load filename!\n");
      return FailDriverPathName(nullptr);
    }
    pszName = szLoadedName;
  }

  DWORD cbNeeded = 0;
  if (GetPrinterDriverW(hPrinter, nullptr, 2, nullptr, 0, &cbNeeded) ||
      GetLastError() != ERROR_INSUFFICIENT_BUFFER) {
    LogMessage(LOG_ERROR, "OemPtrGetDriverPathName: unknown buffer size(0x%lX)!\n", GetLastError());
    return FailDriverPathName(nullptr);
  }

  HGLOBAL hDriverInfo = GlobalAlloc(GMEM_FIXED, cbNeeded);
  if (hDriverInfo == nullptr) {
    LogMessage(LOG_ERROR, "OemPtrGetDriverPathName(): failed to allocate DI2 buffer(0x%lX)!\n",
               GetLastError());
    return FailDriverPathName(nullptr);
  }

  if (!GetPrinterDriverW(hPrinter, nullptr, 2, static_cast<LPBYTE>(hDriverInfo), cbNeeded,
                         &cbNeeded)) {
    LogMessage(LOG_ERROR, "OemPtrGetDriverPathName(): failed to retrieve pathname(0x%lX)!\n",
               GetLastError());
    return FailDriverPathName(hDriverInfo);
  }

  const LPCWSTR pszDriverPath = static_cast<const DRIVER_INFO_2W*>(hDriverInfo)->pDriverPath;
  int cchFolder = 0;
  if (pszDriverPath != nullptr) {
    for (int i = 0; pszDriverPath[i] != 0; ++i) {
      if (pszDriverPath[i] == static_cast<WCHAR>('\\')) {
        cchFolder = i + 1;
      }
    }
  }
  if (cchFolder == 0) {
    LogMessage(LOG_ERROR, "OemPtrGetDriverPathName(): missing backslash!\n");
    SetLastError(ERROR_INVALID_DATA);
    return FailDriverPathName(hDriverInfo);
  }

  const int cchName = pszName != nullptr ? lstrlenW(pszName) : 0;
  const DWORD cbPath = static_cast<DWORD>(cchFolder + cchName + 1) * sizeof(WCHAR);
  LPWSTR pszPath = static_cast<LPWSTR>(GlobalAlloc(GMEM_FIXED, cbPath));
  if (pszPath == nullptr) {
    LogMessage(LOG_ERROR, "OemPtrGetDriverPathName(): failed to allocate memory!\n");
    return FailDriverPathName(hDriverInfo);
  }
  LogMessage(LOG_TRACE, ">>GlobalAlloc ptr %.8x (%x bytes)\n", PointerBits(pszPath),
             static_cast<unsigned>(cbPath));

  for (int i = 0; i < cchFolder; ++i) {
    pszPath[i] = pszDriverPath[i];
  }
  pszPath[cchFolder] = 0;
  if (pszName != nullptr) {
    lstrcatW(pszPath, pszName);
  }

  GlobalFree(hDriverInfo);
  LogMessage(LOG_TRACE, "OemPtrGetDriverPathName() returning vaildpath %p\n",
             static_cast<void*>(pszPath));
  return pszPath;
}

BOOL OemPtrOutputFileUSB(HANDLE hPrinter, IniPort* pIniPort, LPCWSTR pszPrinterName,
                         LPCWSTR pszFileName) {
  (void)pszPrinterName;
  BOOL fResult = FALSE;

  LPWSTR pszPath = OemPtrGetDriverPathName(hPrinter, pszFileName);
  if (pszPath == nullptr) {
    LogMessage(LOG_INFORM, "OemPtrOutputFileUSB(): failed to get pathname(0x%lX)!\n",
               GetLastError());
  } else {
    char szAnsiPath[kAnsiPathBufferSize];
    if (WideCharToMultiByte(CP_ACP, 0, pszPath, -1, szAnsiPath, kAnsiPathBufferSize, nullptr,
                            nullptr) != 0) {
      LogMessage(LOG_INFORM, "DEBUG: Filename: %s\n", szAnsiPath);
    } else {
      LogMessage(LOG_INFORM, "DEBUG: Failed WideCharToMultiByte\n");
    }

    HANDLE hFile = CreateFileW(pszPath, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                               FILE_ATTRIBUTE_NORMAL | FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
    if (hFile == INVALID_HANDLE_VALUE) {
      LogMessage(LOG_ERROR, "OemPtrOutputFile(): failed to open input file(0x%lX)!\n",
                 GetLastError());
    } else {
      if (GetFileSize(hFile, nullptr) == INVALID_FILE_SIZE) {
        LogMessage(LOG_ERROR, "OemPtrOutputFile(): failed to get file size(0x%lX)!\n",
                   GetLastError());
      } else {
        BYTE chunk[kPrintFileChunkSize];
        for (;;) {
          DWORD cbRead = 0;
          // A count beyond the chunk would send bytes that were never read.
          if (!ReadFile(hFile, chunk, kPrintFileChunkSize, &cbRead, nullptr) ||
              cbRead > kPrintFileChunkSize) {
            LogMessage(LOG_ERROR, "OemPtrOutputFile(): read failure(0x%lX)!\n", GetLastError());
            break;
          }
          if (cbRead == 0) {
            fResult = TRUE;
            break;
          }
          DWORD cbWritten = 0;
          if (!pIniPort->PortMonitor.pfnWritePort(pIniPort->hPort, chunk, cbRead, &cbWritten)) {
            LogMessage(LOG_ERROR, "OemPtrOutputFile(): write failure1(0x%lX)!\n", GetLastError());
            break;
          }
          if (cbWritten != cbRead) {
            LogMessage(LOG_ERROR, "OemPtrOutputFile(): wrote %ld of %ld bytes!\n",
                       static_cast<LONG>(cbWritten), static_cast<LONG>(cbRead));
            break;
          }
        }
      }
      CloseHandle(hFile);
    }

    LogMessage(LOG_TRACE, ">>GlobalFree ptr %p\n", static_cast<void*>(pszPath));
    GlobalFree(pszPath);
  }

  LogMessage(LOG_TRACE, fResult ? "OemPtrOutputFileUSB() returning (TRUE)\n"
                                : "OemPtrOutputFileUSB() returning (FALSE)\n");
  return fResult;
}
