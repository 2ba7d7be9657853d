#include "tools/langmon-report/log_file.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <utility>

namespace langmon_report {

namespace {

constexpr size_t kStampLength = 20;
constexpr std::string_view kPrefixStart = "VMT_LM_10[";
constexpr int64_t kDayMs = 24LL * 60 * 60 * 1000;
constexpr int64_t kYearMs = 366 * kDayMs;
constexpr size_t kLongestLine = 1 << 20;  // longer lines are read in pieces
constexpr size_t kLongestKept = 4096;     // of a line that is not a record

struct LevelWord {
  std::string_view word;
  int level;
};
constexpr LevelWord kLevels[] = {{"TRACE", 1},       {"DUMP", 2},        {"INFORM", 3},
                                 {"* WARNING *", 4}, {"** ERROR **", 5}, {"*** FATAL ***", 6},
                                 {"UNKNOWN", 0}};
constexpr size_t kLongestLevelWord = std::ranges::max(kLevels, {}, [](const LevelWord& word) {
                                       return word.word.size();
                                     }).word.size();

int Digits(std::string_view text, size_t at, size_t count) {
  int value = 0;
  for (size_t i = at; i < at + count; ++i) {
    if (!std::isdigit(static_cast<unsigned char>(text[i]))) return -1;
    value = value * 10 + (text[i] - '0');
  }
  return value;
}

// The time of the record that the text starts with, or nullopt when it starts none.
std::optional<int64_t> RecordStamp(std::string_view text) {
  if (text.size() < kStampLength + kPrefixStart.size() ||
      text.substr(kStampLength, kPrefixStart.size()) != kPrefixStart) {
    return std::nullopt;
  }
  return ParseStamp(text.substr(0, kStampLength));
}

// Where a record starts inside a line that lost its line end, or npos.
size_t NextRecordIn(std::string_view line) {
  for (size_t at = line.find(kPrefixStart, kStampLength + 1); at != std::string_view::npos;
       at = line.find(kPrefixStart, at + 1)) {
    if (RecordStamp(line.substr(at - kStampLength))) return at - kStampLength;
  }
  return std::string_view::npos;
}

}  // namespace

bool SplitLevelPrefix(std::string_view line, int* level, std::string* text) {
  if (line.substr(0, kPrefixStart.size()) != kPrefixStart) return false;
  const std::string_view rest = line.substr(kPrefixStart.size());
  // The level word is all before the first "] ", which none holds: only the one of its length
  // is compared.
  const size_t end = rest.substr(0, kLongestLevelWord + 2).find("] ");
  if (end == std::string_view::npos) return false;
  for (const LevelWord& word : kLevels) {
    if (rest.substr(0, end) != word.word) continue;
    std::string_view body = rest.substr(end + 2);
    while (!body.empty() && (body.back() == '\n' || body.back() == '\r')) body.remove_suffix(1);
    *level = word.level;
    text->assign(body);
    return true;
  }
  return false;
}

std::optional<int64_t> ParseStamp(std::string_view stamp) {
  if (stamp.size() != kStampLength || stamp[2] != '/' || stamp[5] != ' ' || stamp[8] != ':' ||
      stamp[11] != ':' || stamp[14] != ':' || stamp[18] != ' ' || stamp[19] != ' ') {
    return std::nullopt;
  }
  const int month = Digits(stamp, 0, 2), day = Digits(stamp, 3, 2), hour = Digits(stamp, 6, 2);
  const int minute = Digits(stamp, 9, 2), second = Digits(stamp, 12, 2);
  const int ms = Digits(stamp, 15, 3);
  static constexpr int kMonthDays[] = {31, 29, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  // The days of a leap year before each month.
  static constexpr std::array<int, 12> kDaysBefore = [] {
    std::array<int, 12> before{};
    for (size_t m = 1; m < before.size(); ++m) before[m] = before[m - 1] + kMonthDays[m - 1];
    return before;
  }();
  if (month < 1 || month > 12 || day < 1 || day > kMonthDays[month - 1] || hour < 0 || hour > 23 ||
      minute < 0 || minute > 59 || second < 0 || second > 59 || ms < 0) {
    return std::nullopt;
  }
  const int64_t days = kDaysBefore[month - 1] + day - 1;
  return days * kDayMs + ((hour * 60LL + minute) * 60 + second) * 1000 + ms;
}

LogReader::LogReader(OnRecord onRecord, OnBad onBad)
    : onRecord_(std::move(onRecord)), onBad_(std::move(onBad)) {}

void LogReader::Feed(std::string_view bytes) {
  bytes_ += bytes.size();
  while (!bytes.empty()) {
    const size_t end = bytes.find('\n');
    if (end == std::string_view::npos) {
      partial_.append(bytes);
      // A line this long holds no story worth keeping whole: it is read in pieces.
      if (partial_.size() >= kLongestLine) {
        Line(partial_);
        partial_.clear();
      }
      return;
    }
    if (partial_.empty()) {
      Line(bytes.substr(0, end));
    } else {
      partial_.append(bytes.substr(0, end));
      Line(partial_);
      partial_.clear();
    }
    bytes.remove_prefix(end + 1);
  }
}

void LogReader::Finish() {
  if (partial_.empty()) return;
  Line(partial_);
  partial_.clear();
}

void LogReader::Line(std::string_view line) {
  ++lines_;
  while (!line.empty()) {
    const size_t next = NextRecordIn(line);
    const std::string_view piece = line.substr(0, next);
    line = next == std::string_view::npos ? std::string_view() : line.substr(next);
    Record& record = record_;
    record.line = lines_;
    const std::optional<int64_t> stamp = RecordStamp(piece);
    if (!stamp || !SplitLevelPrefix(piece.substr(kStampLength), &record.level, &record.text)) {
      std::string_view shown = piece;
      while (!shown.empty() && shown.back() == '\r') shown.remove_suffix(1);
      if (shown.empty()) continue;
      bad_.line = lines_;
      bad_.text.assign(shown.substr(0, kLongestKept));
      onBad_(bad_);
      continue;
    }
    int64_t ms = *stamp;
    if (previous_ >= 0 && ms + yearOffset_ + kYearMs / 2 < previous_) yearOffset_ += kYearMs;
    ms += yearOffset_;
    previous_ = ms;
    record.ms = ms;
    record.when.assign(piece.substr(0, kStampLength - 2));
    ++records_;
    onRecord_(record);
  }
}

LogFile ReadLogBytes(std::string_view bytes) {
  LogFile file;
  LogReader reader([&file](const Record& record) { file.records.push_back(record); },
                   [&file](const BadLine& line) { file.bad.push_back(line); });
  reader.Feed(bytes);
  reader.Finish();
  file.lines = reader.lines();
  file.bytes = reader.bytes();
  return file;
}

bool LooksLikeUtf16(std::string_view start) {
  if (start.size() >= 2 &&
      ((start[0] == '\xFF' && start[1] == '\xFE') || (start[0] == '\xFE' && start[1] == '\xFF'))) {
    return true;
  }
  const size_t length = std::min<size_t>(start.size(), 512) & ~size_t{1};
  if (length < 8) return false;
  size_t zeros = 0;
  for (size_t i = 0; i < length; ++i) zeros += start[i] == '\0' ? 1 : 0;
  return zeros * 3 >= length;  // ASCII as UTF-16: every other byte zero
}

}  // namespace langmon_report
