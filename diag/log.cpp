#include "diag/log.h"

#include "platform/run_time_functions.h"

#include <atomic>

namespace {

// The formatter bounds its own output at 1024 characters, not at our line buffer, so it writes
// into a staging buffer of that size and the line takes what fits.
constexpr DWORD kFormatterLimit = 1024;
constexpr DWORD kTimestampLength = 20;
constexpr DWORD kTempPathSize = 260;
constexpr DWORD kLogPathSize = 280;
constexpr WCHAR kLogFileNameWide[] = WSTR("\\VelmoraLMDrv.dbg");

// Newer Windows offers it; for SYSTEM it names a folder that only administrators can write.
using GetTempPath2WFunction = DWORD(WINAPI*)(DWORD BufferLength, LPWSTR Buffer);

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

// Copies text behind position `used` of a buffer of `size` characters, cutting it to fit;
// returns the new length. The buffer always ends up NUL-terminated.
template <class Char>
DWORD AppendCut(Char* buffer, DWORD size, DWORD used, const Char* text) {
  while (*text != 0 && used + 1 < size) {
    buffer[used++] = *text++;
  }
  buffer[used] = 0;
  return used;
}

// The log file's path, in the width its temp folder was reported in.
struct LogFilePath {
  bool fWide;
  char szPath[kLogPathSize];
  WCHAR wszPath[kLogPathSize];
};

// The log file's path in a temp folder that a call reported with cchTemp characters; false when
// it reported none, or more than fit.
template <class Char>
bool JoinLogFilePath(DWORD cchTemp, const Char* pszTemp, const Char* pszName, Char* pszPath) {
  if (cchTemp == 0 || cchTemp >= kTempPathSize) {
    return false;
  }
  const DWORD used = AppendCut(pszPath, kLogPathSize, 0, pszTemp);
  AppendCut(pszPath, kLogPathSize, used, pszName);
  return true;
}

// GetTempPath2W's folder where kernel32 offers it, GetTempPathA's elsewhere. False when the
// folder is unknown or too long; the line then does not reach the file.
bool FindLogFile(LogFilePath* pPath) {
  GetTempPath2WFunction pfnGetTempPath2W = nullptr;
  pPath->fWide = FindKernelFunction("GetTempPath2W", &pfnGetTempPath2W);
  if (pPath->fWide) {
    WCHAR wszTemp[kTempPathSize];
    return JoinLogFilePath(pfnGetTempPath2W(kTempPathSize, wszTemp), wszTemp, kLogFileNameWide,
                           pPath->wszPath);
  }
  char szTemp[kTempPathSize];
  return JoinLogFilePath(GetTempPathA(kTempPathSize, szTemp), szTemp, kLogFileName, pPath->szPath);
}

// Opened without following a link at the path, so that the check below sees the link itself;
// with the right to read its owner.
HANDLE OpenLogFile(const LogFilePath& path) {
  constexpr DWORD kAccess = GENERIC_WRITE | FILE_READ_ATTRIBUTES | READ_CONTROL;
  constexpr DWORD kFlags = FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT;
  return path.fWide ? CreateFileW(path.wszPath, kAccess, 0, nullptr, OPEN_ALWAYS, kFlags, nullptr)
                    : CreateFileA(path.szPath, kAccess, 0, nullptr, OPEN_ALWAYS, kFlags, nullptr);
}

// Why the file at the log's path is left alone. The monitor writes as SYSTEM into a folder that
// others can write to as well: a link planted there would make it write, or cut, another file,
// and a file that a user made first is theirs to read and to hold.
enum LogFileVerdict : int { kPlainFile = 0, kLinkFile, kManyNames, kOtherOwner, kNotChecked };

// Room for a security descriptor with its owner, and for a token's user: a SID has at most 68
// bytes.
constexpr DWORD kSecurityBufferSize = 256;

// The file is the monitor's when it belongs to the account the monitor runs as or to the
// Administrators; kNotChecked when its owner or the account cannot be told.
LogFileVerdict CheckOwner(HANDLE hFile) {
  alignas(void*) BYTE descriptor[kSecurityBufferSize];
  DWORD cbNeeded = 0;
  PSID pOwner = nullptr;
  BOOL fDefaulted = FALSE;
  if (!GetKernelObjectSecurity(hFile, OWNER_SECURITY_INFORMATION, descriptor, sizeof(descriptor),
                               &cbNeeded) ||
      !GetSecurityDescriptorOwner(descriptor, &pOwner, &fDefaulted) || pOwner == nullptr) {
    return kNotChecked;
  }
  if (IsWellKnownSid(pOwner, WinBuiltinAdministratorsSid)) {
    return kPlainFile;
  }
  HANDLE hToken = nullptr;
  if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &hToken)) {
    return kNotChecked;
  }
  alignas(void*) BYTE user[kSecurityBufferSize];
  LogFileVerdict verdict = kNotChecked;
  if (GetTokenInformation(hToken, TokenUser, user, sizeof(user), &cbNeeded)) {
    verdict =
        EqualSid(pOwner, reinterpret_cast<TOKEN_USER*>(user)->User.Sid) ? kPlainFile : kOtherOwner;
  }
  CloseHandle(hToken);
  return verdict;
}

LogFileVerdict CheckLogFile(HANDLE hFile) {
  BY_HANDLE_FILE_INFORMATION info;
  if (!GetFileInformationByHandle(hFile, &info)) {
    return kNotChecked;
  }
  if ((info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) {
    return kLinkFile;
  }
  if (info.nNumberOfLinks != 1) {
    return kManyNames;
  }
  return CheckOwner(hFile);
}

// The verdict last told on the debugger output. Each change is told once, by the one thread
// whose exchange sees it; a plain file again makes the next refusal worth telling.
std::atomic<int> lastVerdict{kPlainFile};

void TellVerdict(LogFileVerdict verdict, const LogFilePath& path) {
  // Nearly every line finds what the one before found: a single read.
  if (lastVerdict.load(std::memory_order_relaxed) == verdict) {
    return;
  }
  if (lastVerdict.exchange(verdict) == verdict || verdict == kPlainFile) {
    return;
  }
  char szShown[kLogPathSize];
  if (!path.fWide) {
    AppendCut(szShown, kLogPathSize, 0, path.szPath);
  } else if (WideCharToMultiByte(CP_ACP, 0, path.wszPath, -1, szShown, kLogPathSize, nullptr,
                                 nullptr) == 0) {
    AppendCut(szShown, kLogPathSize, 0, kLogFileName + 1);
  }
  const char* pszWhy = verdict == kLinkFile     ? "is a link"
                       : verdict == kManyNames  ? "has more than one link"
                       : verdict == kOtherOwner ? "belongs to another user"
                                                : "cannot be checked";
  // Raw, not through LogMessage: this line must not come back here.
  char szWarning[kLogLineBufferSize];
  DWORD used = AppendCut(szWarning, kLogLineBufferSize, 0, "VMT_LM_10[* WARNING *] LogToFile(): ");
  used = AppendCut(szWarning, kLogLineBufferSize, used, szShown);
  used = AppendCut(szWarning, kLogLineBufferSize, used, " ");
  used = AppendCut(szWarning, kLogLineBufferSize, used, pszWhy);
  AppendCut(szWarning, kLogLineBufferSize, used,
            ", not written; the log goes to the debugger output only\n");
  OutputDebugStringA(szWarning);
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
  LogFilePath path;
  if (!FindLogFile(&path)) {
    return;
  }
  HANDLE file = OpenLogFile(path);
  if (file == INVALID_HANDLE_VALUE) {
    return;
  }

  // Only a plain file with a single name is cut or written.
  const LogFileVerdict verdict = CheckLogFile(file);
  TellVerdict(verdict, path);
  if (verdict != kPlainFile) {
    CloseHandle(file);
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
