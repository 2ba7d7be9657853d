// The monitor's log file as records: "MM/DD hh:mm:ss:mmm  " (20 characters of local time, no
// year), a level prefix such as "VMT_LM_10[INFORM] ", and the text with its own line feed.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace langmon_report {

struct Record {
  size_t line = 0;   // 1 for the file's first line
  int64_t ms = 0;    // time on one scale for the whole log; only differences mean anything
  std::string when;  // the time as a person reads it
  int level = 0;     // 3 INFORM, 4 WARNING, 5 ERROR, ...; 0 for an unknown level word
  std::string text;  // without the prefix and the line end
};

struct BadLine {
  size_t line = 0;
  std::string text;
};

struct LogFile {
  std::vector<Record> records;
  std::vector<BadLine> bad;  // lines not in the log's format
  size_t lines = 0;
  size_t bytes = 0;
};

// The level prefix of a logged line ("VMT_LM_10[* WARNING *] text"): the level and the text.
// False when the line does not start with a prefix.
bool SplitLevelPrefix(std::string_view line, int* level, std::string* text);

// The time of a 20-character stamp in milliseconds from the start of a leap year; nullopt when it
// is not one.
std::optional<int64_t> ParseStamp(std::string_view stamp);

// Turns a log file's bytes, given piece by piece, into records and bad lines as they come, so
// that a log of any size is read in bounded memory. Lines the file holds without a line end (cut
// to fit the monitor's line buffer) are split where the next record starts. The time scale grows
// by a year where the stamps go back by more than half of one (a log kept over New Year).
class LogReader {
 public:
  using OnRecord = std::function<void(const Record&)>;
  using OnBad = std::function<void(const BadLine&)>;
  LogReader(OnRecord onRecord, OnBad onBad);

  void Feed(std::string_view bytes);
  void Finish();  // the last line, if it has no line end

  size_t lines() const { return lines_; }
  size_t bytes() const { return bytes_; }
  size_t records() const { return records_; }

 private:
  void Line(std::string_view line);

  OnRecord onRecord_;
  OnBad onBad_;
  // The line given to onRecord_ or onBad_, kept so that its texts' room is used again.
  Record record_;
  BadLine bad_;
  std::string partial_;
  size_t lines_ = 0, bytes_ = 0, records_ = 0;
  int64_t yearOffset_ = 0, previous_ = -1;
};

// Reads a whole log file's bytes at once.
LogFile ReadLogBytes(std::string_view bytes);

// Whether the bytes look like UTF-16 text (a byte-order mark, or every other byte zero).
bool LooksLikeUtf16(std::string_view start);

}  // namespace langmon_report
