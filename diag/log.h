// The levelled diagnostic log: debugger output and a size-capped file in the temp folder.
#pragma once

#include "platform/win32.h"

// Levels. A negative level writes its format text raw: no prefix, no formatting.
constexpr int LOG_TRACE = 1;
constexpr int LOG_DUMP = 2;
constexpr int LOG_INFORM = 3;
constexpr int LOG_WARNING = 4;
constexpr int LOG_ERROR = 5;
constexpr int LOG_FATAL = 6;

// Lines below this level are dropped before any formatting.
constexpr int kLogThreshold = LOG_INFORM;

constexpr DWORD kLogLineBufferSize = 512;
constexpr DWORD kLogFileCap = 2000000;
constexpr char kLogFileName[] = "\\VelmoraLMDrv.dbg";

// printf-style with the conventions of wvsprintfA (%ld is 32 bits everywhere). Never changes the
// caller's last error. A line longer than the line buffer is cut to fit.
// The format is checked against the arguments where long is 32 bits as on Windows (the DLL
// build); on LP64 Linux the Windows conventions for %ld cannot be expressed to the checker.
void LogMessage(int level, const char* format, ...)
#if defined(_WIN32) && defined(__clang__)
    __attribute__((format(printf, 2, 3)))  // clang knows no ms_printf; long is 32 bits here
#elif defined(_WIN32) && defined(__GNUC__)
    __attribute__((format(ms_printf, 2, 3)))
#endif
    ;

// Appends one built line, behind a timestamp, to the log file. Used by LogMessage.
void LogToFile(const char* line);
