#include "diag/log.h"

namespace {

// The formatter bounds its own output at 1024 characters, not at our line buffer, so it writes
// into a staging buffer of that size and the line takes what fits.
constexpr DWORD kFormatterLimit = 1024;
constexpr DWORD kTimestampLength = 20;
constexpr DWORD kTempPathSize = 260;
constexpr DWORD kLogPathSize = 280;

const char* PrefixForLevel(unsigned severity) {
  switch (severity) {
    case 1:
      return "VMT_LM_10[TRACE] ";
    case 2:
      return "VMT_LM_10[DUMP] ";
    case 3:
      return "VMT_LM_10[INFORM] ";
    case 4:
      return "VMT_LM_10[* WARNING *] ";
    case 5:
      return "VMT_LM_10[** ERROR **] ";
    case 6:
      return "VMT_LM_10[*** FATAL ***] ";
    default:
      return "VMT_LM_10[UNKNOWN] ";
  }
}

// Copies text behind position `used` of a buffer of `size` bytes, cutting it to fit; returns the
// new length. The buffer always ends up NUL-terminated.
DWORD AppendCut(char* buffer, DWORD size, DWORD used, const char* text) {
  while (*text != '\0' && used + 1 < size) {
    buffer[used++] = *text++;
  }
  buffer[used] = '\0';
  return used;
}

}  // namespace

void LogMessage(int level, const char* format, ...) {
  const bool raw = level < 0;
  // Computed unsigned so that the most negative level cannot overflow.
  const unsigned severity = raw ? 0u - static_cast<unsigned>(level) : static_cast<unsigned>(level);
  if (severity < static_cast<unsigned>(kLogThreshold)) {
    return;
  }

  char line[kLogLineBufferSize];
  DWORD used = AppendCut(line, kLogLineBufferSize, 0, raw ? "" : PrefixForLevel(severity));

  if (format == nullptr) {
    format = "";
  }
  if (raw) {
    AppendCut(line, kLogLineBufferSize, used, format);
  } else {
    char formatted[kFormatterLimit + 1];
    va_list arguments;
    va_start(arguments, format);
    wvsprintfA(formatted, format, arguments);
    va_end(arguments);
    formatted[kFormatterLimit] = '\0';
    AppendCut(line, kLogLineBufferSize, used, formatted);
  }

  const DWORD savedError = GetLastError();
  OutputDebugStringA(line);
  LogToFile(line);
  SetLastError(savedError);
}

void LogToFile(const char* line) {
  char tempPath[kTempPathSize];
  const DWORD tempLength = GetTempPathA(kTempPathSize, tempPath);
  if (tempLength == 0 || tempLength >= kTempPathSize) {
    return;
  }

  char logPath[kLogPathSize];
  DWORD used = AppendCut(logPath, kLogPathSize, 0, tempPath);
  AppendCut(logPath, kLogPathSize, used, kLogFileName);

  HANDLE file =
      CreateFileA(logPath, GENERIC_WRITE, 0, nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) {
    return;
  }

  const DWORD size = GetFileSize(file, nullptr);
  if (size != INVALID_FILE_SIZE && size > kLogFileCap) {
    SetFilePointer(file, 0, nullptr, FILE_BEGIN);
    SetEndOfFile(file);
  } else {
    SetFilePointer(file, 0, nullptr, FILE_END);
  }

  SYSTEMTIME now;
  GetLocalTime(&now);
  char record[kTimestampLength + kLogLineBufferSize];
  wsprintfA(record, "%02u/%02u %02u:%02u:%02u:%03u  ", static_cast<unsigned>(now.wMonth),
            static_cast<unsigned>(now.wDay), static_cast<unsigned>(now.wHour),
            static_cast<unsigned>(now.wMinute), static_cast<unsigned>(now.wSecond),
            static_cast<unsigned>(now.wMilliseconds));
  // The stamp is 20 characters for every valid time; cut anything longer so the line still fits.
  record[kTimestampLength] = '\0';
  const DWORD length = AppendCut(record, sizeof(record), lstrlenA(record), line);

  DWORD written = 0;
  WriteFile(file, record, length, &written, nullptr);
  CloseHandle(file);
}
