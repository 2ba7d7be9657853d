// Private-profile (INI) files: GetPrivateProfileIntW and WritePrivateProfileStringW.
//
// The file is 8-bit (UTF-8) text of lines "[section]", "key=value", ";comment" and anything
// else. Section and key names are compared without regard to case; blanks and tabs around
// names and values are ignored; a value in matching quotes loses them. Only the first section of
// a name and the first key of a name in it count. A write changes one line (or adds or removes
// one) and keeps every other byte of the file; new lines end like the file's first line (a new
// file: "\r\n"). Every access is serialised in this process, so a reader never sees half a file.
//
// As Windows' own do, each call opens the file by name, following links, and takes part in
// sharing with every handle open on it: a read opens it for reading and shares reading, writing
// and deleting; a write opens it for reading and writing, shares reading and writing only, and
// rewrites the file in place (through links too, into the file they share). A handle that does
// not share what a write asks for, or that has delete access, makes the write fail with
// ERROR_SHARING_VIOLATION; one that does not share reading makes a read answer its default.
#include <string>
#include <string_view>
#include <vector>

#include "platform/host.h"
#include "platform/host_state.h"

namespace {

std::mutex& ProfileMutex() {
  static std::mutex* mutex = new std::mutex;
  return *mutex;
}

platform_impl::NthCallFailure& Failure() {
  static platform_impl::NthCallFailure* failure = new platform_impl::NthCallFailure;
  return *failure;
}

struct Line {
  std::string text;  // without its terminator
  std::string end;   // "\n", "\r\n" or "" for a last line without one
};

enum class LineKind { kOther, kSection, kEntry };

struct ParsedLine {
  LineKind kind = LineKind::kOther;
  std::string name;   // section or key name, trimmed
  std::string value;  // entry value, trimmed
};

std::string_view TrimView(std::string_view text) {
  size_t begin = 0;
  size_t end = text.size();
  while (begin < end && (text[begin] == ' ' || text[begin] == '\t')) ++begin;
  while (end > begin && (text[end - 1] == ' ' || text[end - 1] == '\t' || text[end - 1] == '\r')) {
    --end;
  }
  return text.substr(begin, end - begin);
}

std::string Trim(const std::string& text) { return std::string(TrimView(text)); }

// Every call reads the whole file: a line is looked at in place, and only its names and value
// are copied out.
ParsedLine Classify(const Line& line, bool first) {
  std::string_view text = line.text;
  if (first && text.substr(0, 3) == "\xEF\xBB\xBF") text.remove_prefix(3);  // byte-order mark
  text = TrimView(text);
  ParsedLine parsed;
  if (text.empty() || text[0] == ';') return parsed;
  if (text[0] == '[') {
    const size_t close = text.find(']');
    parsed.kind = LineKind::kSection;
    parsed.name =
        TrimView(text.substr(1, close == std::string::npos ? std::string::npos : close - 1));
    return parsed;
  }
  const size_t equals = text.find('=');
  if (equals == std::string::npos) return parsed;
  parsed.kind = LineKind::kEntry;
  parsed.name = TrimView(text.substr(0, equals));
  parsed.value = TrimView(text.substr(equals + 1));
  return parsed;
}

std::vector<Line> SplitLines(const std::string& content) {
  std::vector<Line> lines;
  size_t count = 1;
  for (const char c : content) count += c == '\n' ? 1 : 0;
  lines.reserve(count);
  size_t start = 0;
  while (start < content.size()) {
    const size_t newline = content.find('\n', start);
    const bool last = newline == std::string::npos;
    size_t textEnd = last ? content.size() : newline;
    const bool crlf = !last && textEnd > start && content[textEnd - 1] == '\r';
    if (crlf) {
      --textEnd;
    }
    // Built in one go: GCC 12 at -O3 misreads piecewise assignment of short strings here.
    lines.push_back(Line{content.substr(start, textEnd - start), std::string(last   ? ""
                                                                             : crlf ? "\r\n"
                                                                                    : "\n")});
    start = last ? content.size() : newline + 1;
  }
  return lines;
}

bool SameName(const std::string& fileName, std::u16string_view wanted) {
  // An ASCII name's bytes are its UTF-16 units: compared as they stand, without converting it.
  for (const char c : fileName) {
    if (static_cast<unsigned char>(c) >= 0x80) {
      return platform_impl::EqualNoCase(platform_impl::Utf8ToUtf16(fileName), wanted);
    }
  }
  if (fileName.size() != wanted.size()) return false;
  for (size_t i = 0; i < fileName.size(); ++i) {
    const char16_t unit = static_cast<unsigned char>(fileName[i]);
    if (unit != wanted[i] && platform_impl::FoldCase(unit) != platform_impl::FoldCase(wanted[i])) {
      return false;
    }
  }
  return true;
}

std::u16string_view TrimWide(std::u16string_view text) {
  size_t begin = 0;
  size_t end = text.size();
  while (begin < end && (text[begin] == u' ' || text[begin] == u'\t')) ++begin;
  while (end > begin && (text[end - 1] == u' ' || text[end - 1] == u'\t')) --end;
  return text.substr(begin, end - begin);
}

// Where a section is: its header line and the line after its last line; not found: npos.
struct SectionRange {
  size_t header = std::string::npos;
  size_t end = std::string::npos;
};

SectionRange FindSection(const std::vector<Line>& lines, const std::vector<ParsedLine>& parsed,
                         std::u16string_view section) {
  SectionRange range;
  for (size_t i = 0; i < lines.size(); ++i) {
    if (parsed[i].kind != LineKind::kSection) continue;
    if (range.header != std::string::npos) {
      range.end = i;
      return range;
    }
    if (SameName(parsed[i].name, section)) range.header = i;
  }
  if (range.header != std::string::npos) range.end = lines.size();
  return range;
}

size_t FindKey(const std::vector<ParsedLine>& parsed, const SectionRange& range,
               std::u16string_view key) {
  for (size_t i = range.header + 1; i < range.end; ++i) {
    if (parsed[i].kind == LineKind::kEntry && SameName(parsed[i].name, key)) return i;
  }
  return std::string::npos;
}

std::vector<ParsedLine> ClassifyAll(const std::vector<Line>& lines) {
  std::vector<ParsedLine> parsed;
  parsed.reserve(lines.size());
  for (size_t i = 0; i < lines.size(); ++i) parsed.push_back(Classify(lines[i], i == 0));
  return parsed;
}

enum class ReadResult { kRead, kMissingFile, kMissingFolder, kFailed };

// Opens the file for a profile call; kRead with the handle in *file (closed by the caller).
ReadResult OpenForProfile(const std::string& path, bool write, HANDLE* file) {
  constexpr DWORD kReadSharing = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
  constexpr DWORD kWriteSharing = FILE_SHARE_READ | FILE_SHARE_WRITE;
  *file = platform_impl::OpenFileQuietly(path, write ? GENERIC_READ | GENERIC_WRITE : GENERIC_READ,
                                         write ? kWriteSharing : kReadSharing, OPEN_EXISTING);
  if (*file != INVALID_HANDLE_VALUE) return ReadResult::kRead;
  const DWORD error = GetLastError();
  if (error == ERROR_FILE_NOT_FOUND) return ReadResult::kMissingFile;
  if (error == ERROR_PATH_NOT_FOUND) return ReadResult::kMissingFolder;
  return ReadResult::kFailed;
}

// Closes the file a call opened when the call returns, keeping the call's last error.
class ProfileFile {
 public:
  explicit ProfileFile(HANDLE file) : file_(file) {}
  ~ProfileFile() {
    const DWORD error = GetLastError();
    CloseHandle(file_);
    SetLastError(error);
  }
  ProfileFile(const ProfileFile&) = delete;
  ProfileFile& operator=(const ProfileFile&) = delete;

 private:
  HANDLE file_;
};

std::string Join(const std::vector<Line>& lines) {
  size_t size = 0;
  for (const Line& line : lines) size += line.text.size() + line.end.size();
  std::string content;
  content.reserve(size);
  for (const Line& line : lines) {
    content += line.text;
    content += line.end;
  }
  return content;
}

// The value as GetPrivateProfileIntW reads it (as Wine does, whose behaviour the Windows build
// meets in its tests): at most the first 29 characters; blanks, then an optional sign, then a
// number in decimal or, after "0x", "0o" or "0b", in hex, octal or binary, up to the first
// character that is not a digit of it; wrapping as a 32-bit number; nothing numeric gives 0.
UINT ParseInteger(std::string text) {
  constexpr size_t kReadLength = 29;  // the 30-character buffer of the Windows routine
  if (text.size() > kReadLength) text.resize(kReadLength);
  size_t i = 0;
  while (i < text.size() && static_cast<unsigned char>(text[i]) <= ' ') ++i;
  bool negative = false;
  if (i < text.size() && (text[i] == '-' || text[i] == '+')) {
    negative = text[i] == '-';
    ++i;
  }
  UINT base = 10;
  if (i + 1 < text.size() && text[i] == '0') {
    const char marker = text[i + 1];
    base = marker == 'x' ? 16 : marker == 'o' ? 8 : marker == 'b' ? 2 : 10;
    if (base != 10) i += 2;
  }
  UINT value = 0;
  for (; i < text.size(); ++i) {
    const char c = text[i];
    UINT digit;
    if (c >= '0' && c <= '9') {
      digit = static_cast<UINT>(c - '0');
    } else if (c >= 'a' && c <= 'z') {
      digit = static_cast<UINT>(c - 'a' + 10);
    } else if (c >= 'A' && c <= 'Z') {
      digit = static_cast<UINT>(c - 'A' + 10);
    } else {
      break;
    }
    if (digit >= base) break;
    value = value * base + digit;
  }
  return negative ? 0u - value : value;
}

std::string Unquote(const std::string& value) {
  if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') &&
      value.back() == value.front()) {
    return value.substr(1, value.size() - 2);
  }
  return value;
}

}  // namespace

UINT WINAPI GetPrivateProfileIntW(LPCWSTR lpAppName, LPCWSTR lpKeyName, INT nDefault,
                                  LPCWSTR lpFileName) {
  const UINT fallback = static_cast<UINT>(nDefault);
  if (Failure().Count()) return fallback;
  if (!lpAppName || !lpKeyName || !lpFileName) return fallback;
  const std::string path =
      platform_impl::NativePathOf(platform_impl::Utf16ToUtf8(platform_impl::WideView(lpFileName)));
  std::string content;
  {
    std::lock_guard<std::mutex> lock(ProfileMutex());
    HANDLE file = INVALID_HANDLE_VALUE;
    if (OpenForProfile(path, false, &file) != ReadResult::kRead) return fallback;
    const ProfileFile open(file);
    if (!platform_impl::ReadAllQuietly(file, &content)) return fallback;
  }
  const std::vector<Line> lines = SplitLines(content);
  const std::vector<ParsedLine> parsed = ClassifyAll(lines);
  const SectionRange range =
      FindSection(lines, parsed, TrimWide(platform_impl::WideView(lpAppName)));
  if (range.header == std::string::npos) return fallback;
  const size_t key = FindKey(parsed, range, TrimWide(platform_impl::WideView(lpKeyName)));
  if (key == std::string::npos) return fallback;
  const std::string value = Unquote(parsed[key].value);
  if (value.empty()) return fallback;
  return ParseInteger(value);
}

// A NULL key removes the whole section, a NULL value removes the key.
BOOL WINAPI WritePrivateProfileStringW(LPCWSTR lpAppName, LPCWSTR lpKeyName, LPCWSTR lpString,
                                       LPCWSTR lpFileName) {
  if (Failure().Count()) {
    SetLastError(ERROR_ACCESS_DENIED);
    return FALSE;
  }
  if (!lpAppName && !lpKeyName && !lpString) return TRUE;  // "flush the cache": nothing cached
  if (!lpAppName || !lpFileName) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  using platform_impl::Utf16ToUtf8;
  using platform_impl::WideView;
  const std::string path = platform_impl::NativePathOf(Utf16ToUtf8(WideView(lpFileName)));
  const std::u16string_view section = TrimWide(WideView(lpAppName));
  const std::u16string_view key = TrimWide(WideView(lpKeyName));

  std::lock_guard<std::mutex> lock(ProfileMutex());
  HANDLE file = INVALID_HANDLE_VALUE;
  switch (OpenForProfile(path, true, &file)) {
    case ReadResult::kRead:
      break;
    case ReadResult::kMissingFile:
      if (!lpKeyName || !lpString) return TRUE;  // nothing to remove
      file = platform_impl::OpenFileQuietly(path, GENERIC_READ | GENERIC_WRITE,
                                            FILE_SHARE_READ | FILE_SHARE_WRITE, OPEN_ALWAYS);
      if (file == INVALID_HANDLE_VALUE) return FALSE;
      break;
    case ReadResult::kMissingFolder:
    case ReadResult::kFailed:
      return FALSE;
  }
  const ProfileFile open(file);
  std::string content;
  if (!platform_impl::ReadAllQuietly(file, &content)) return FALSE;
  std::vector<Line> lines = SplitLines(content);
  const std::vector<ParsedLine> parsed = ClassifyAll(lines);
  const std::string newLineEnd =
      lines.empty() || lines.front().end.empty() ? "\r\n" : lines.front().end;
  const SectionRange range = FindSection(lines, parsed, section);

  if (!lpKeyName) {
    if (range.header == std::string::npos) return TRUE;
    lines.erase(lines.begin() + static_cast<long>(range.header),
                lines.begin() + static_cast<long>(range.end));
    return platform_impl::ReplaceAllQuietly(file, Join(lines)) ? TRUE : FALSE;
  }
  const size_t found =
      range.header == std::string::npos ? std::string::npos : FindKey(parsed, range, key);
  if (!lpString) {
    if (found == std::string::npos) return TRUE;
    lines.erase(lines.begin() + static_cast<long>(found));
    return platform_impl::ReplaceAllQuietly(file, Join(lines)) ? TRUE : FALSE;
  }

  const std::string value = Utf16ToUtf8(WideView(lpString));
  if (found != std::string::npos) {
    // Keeps the key's own spelling and the line's terminator.
    lines[found].text = parsed[found].name + "=" + value;
  } else {
    std::vector<Line> added;
    size_t at;
    if (range.header == std::string::npos) {
      std::string header(1, '[');
      header.append(Utf16ToUtf8(section));
      header.push_back(']');
      added.push_back({std::move(header), newLineEnd});
      at = lines.size();
    } else {
      at = range.header + 1;
      for (size_t i = range.header + 1; i < range.end; ++i) {
        if (!Trim(lines[i].text).empty()) at = i + 1;
      }
    }
    added.push_back({Utf16ToUtf8(key) + "=" + value, newLineEnd});
    if (at > 0 && lines[at - 1].end.empty()) lines[at - 1].end = newLineEnd;
    lines.insert(lines.begin() + static_cast<long>(at), added.begin(), added.end());
  }
  return platform_impl::ReplaceAllQuietly(file, Join(lines)) ? TRUE : FALSE;
}

namespace platform_impl {

void ResetProfile() { Failure().Reset(); }

}  // namespace platform_impl

namespace host {

void FailProfileCall(unsigned nth) { Failure().Arm(nth); }

unsigned ProfileCallCount() { return Failure().Calls(); }

}  // namespace host
