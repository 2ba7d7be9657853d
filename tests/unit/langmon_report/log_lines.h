// Monitor log lines made up on the spot, for logs too long to record from a run: an hour-long
// wait, a day of jobs. Used by the tests and by the report benchmark.
#pragma once

#include <cstdint>
#include <cstdio>
#include <functional>
#include <string>

namespace langmon_report {

// "MM/DD hh:mm:ss:mmm  " for a time in milliseconds from 1 March, 00:00.
inline std::string LogStamp(int64_t ms) {
  static constexpr int kMonthDays[] = {31, 30, 31, 30, 31, 31, 30, 31, 30, 31};  // March on
  int64_t days = ms / 86400000;
  int month = 3;
  for (int i = 0; i < 10 && days >= kMonthDays[i]; ++i, ++month) days -= kMonthDays[i];
  const int64_t rest = ms % 86400000;
  char text[32];
  std::snprintf(text, sizeof(text), "%02d/%02d %02d:%02d:%02d:%03d  ", month,
                static_cast<int>(days + 1), static_cast<int>(rest / 3600000),
                static_cast<int>(rest / 60000 % 60), static_cast<int>(rest / 1000 % 60),
                static_cast<int>(rest % 1000));
  return text;
}

// Writes lines as the monitor does, each with its time, to a sink (a string, a file).
class LogLines {
 public:
  explicit LogLines(std::function<void(const std::string&)> sink, int64_t ms = 9 * 3600000LL)
      : sink_(std::move(sink)), ms_(ms) {}

  LogLines& Inform(const std::string& text) { return Line("VMT_LM_10[INFORM] ", text); }
  LogLines& Warning(const std::string& text) { return Line("VMT_LM_10[* WARNING *] ", text); }
  LogLines& Error(const std::string& text) { return Line("VMT_LM_10[** ERROR **] ", text); }
  LogLines& Raw(const std::string& text) {
    sink_(text);
    return *this;
  }
  LogLines& After(int64_t ms) {
    ms_ += ms;
    return *this;
  }
  int64_t ms() const { return ms_; }

  // The monitor's start, its port, and a job's start up to its first check's status.
  LogLines& StartJob(bool monitorToo) {
    if (monitorToo) {
      Inform("**** LANGMON: Initialize Print Monitor Called");
      Inform("**** PJLMonOpenPortEx Called").Inform("**** PJLMonOpenPortEx Return");
    }
    Inform("**** LANGMON: PJLMonStartDocPort Called. Ver=8");
    Inform("**** PJLStartDocPortEx Return").Inform("**** PJLStartDocPortEx Return TRUE");
    return Inform("**** First Write - Do not look for Header");
  }
  LogLines& BeginCheck() {
    Inform("Header found -- Prepare for next print").Inform(" ** PrepareForNextPrint **");
    Inform(" ** PrepareForNextPrint: Getting Status Data");
    Inform(" PrepareForNextPrint: got status - continue");
    Inform(" ** Alignment Values successfully saved");
    return Inform(" ** PrepareForNextPrint: Checking for printer error");
  }
  // The ink check with nothing to warn, the alignment gate, and the check's end.
  LogLines& PlainInkAndPass(uint32_t spits, int level = 1) {
    InkCheck(spits, level).InkEnd(spits, level, level);
    Inform(" ** PrepareForNextPrint: Check for cartridge alignment");
    Inform("PrepareForNextPrint: Cartridge does not need alignment");
    return Inform("PrepareForNextPrint( ) successful!");
  }
  LogLines& InkCheck(uint32_t spits, int level) {
    return Inform("Check Ink Level(Spits=" + std::to_string(spits) +
                  ", MaxSpits=515000000, Level=" + std::to_string(level));
  }
  LogLines& InkEnd(uint32_t spits, int level, int newLevel) {
    Inform(" --> Cartridge Spits = " + std::to_string(spits) + " ");
    Inform(" --> Spits LIMIT = 515000000 ");
    Inform(" --> Orig Ink Level = " + std::to_string(level) + " ");
    return Inform(" --> New Ink Level = " + std::to_string(newLevel) + " ");
  }
  LogLines& EndJob() {
    return Inform("**** PJLMonEndDocPort Called").Inform("**** PJLMonEndDocPort Returning");
  }

 private:
  LogLines& Line(const char* prefix, const std::string& text) {
    sink_(LogStamp(ms_) + prefix + text + "\n");
    return *this;
  }

  std::function<void(const std::string&)> sink_;
  int64_t ms_;
};

// A job that waits `waitMs` in quiet mode for label stock, the printer's status read every
// `periodMs`, then prints (two checks).
inline void QuietOutOfStockWait(LogLines& log, int64_t waitMs, int64_t periodMs) {
  log.StartJob(true).BeginCheck();
  for (int64_t waited = 0; waited <= waitMs; waited += periodMs) {
    log.Inform(" ** PrepareForNextPrint: Printer Error Found 1 ").Warning("-->OUT OF STOCK!!");
    log.After(periodMs);
  }
  log.PlainInkAndPass(1000000).After(20).BeginCheck().PlainInkAndPass(1000000).EndJob();
}

}  // namespace langmon_report
