// Reads the monitor's log, record by record, into a report: which job each line belongs to, what
// each pre-job check did, which questions it asked and which way the answers went.
//
// The log file holds levels 3 and above only, so the boxes themselves (level 1) are not in it;
// each is inferred from the lines of its flow where these show it unambiguously. A simulated run
// knows its boxes and what reached the printer, and tells the reader instead.
//
// Where each log text is understood: reader_job_lines.cpp (the monitor's start, ports, jobs'
// starts and ends, writes, status reads and failures outside a check), reader_check_lines.cpp
// (a check's status and the printer's errors), reader_ink_lines.cpp (ink and an empty cartridge),
// reader_cartridge_lines.cpp (cartridge changes and alignment), reader_answers.cpp (which way a
// box was answered). What the report keeps, within its limits: reader_lists.cpp; waits:
// reader_waits.cpp.
#pragma once

#include <functional>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "tools/langmon-report/log_file.h"
#include "tools/langmon-report/log_texts.h"
#include "tools/langmon-report/report.h"

namespace langmon_report {

class Reader {
 public:
  // `knowsBoxes`: every box and everything the printer received is reported through Box and
  // PrinterReceived, and none is inferred from the log.
  explicit Reader(bool knowsBoxes = false, Limits limits = {});

  void Feed(const Record& record);
  void Unreadable(const BadLine& line);

  // Facts of a simulated run.
  void NameNextJob(const std::string& name);
  void Box(const When& when, unsigned id, const std::string& answer, bool notice);
  void PrinterReceived(const When& when, const std::string& text, bool alignmentPrint);
  void JobEnded(Outcome outcome);  // the latest job's outcome

  Report Finish(const std::string& source, const std::string& clock);

 private:
  static constexpr const char* kWentOn = "OK, or no answer";
  static constexpr const char* kNoAnswer = "no answer";
  static constexpr const char* kNotKnown = "not known";

  enum class Phase { None, Status, Errors, Ink, Install, Align };
  enum class WaitKind { None, Status, PrinterError };
  // What the reader keeps for a job while it is open.
  struct JobState {
    bool inUse = true;  // open, or between its start call and the start's result
    bool inCheck = false;
    Phase phase = Phase::None;
    std::optional<size_t> pending;  // a question whose answer the next lines tell
    size_t loopStart = 0;           // questions from here on belong to the current loop
    bool emptyCommand = false;      // the cartridge-empty command was sent in this check
    bool alignNeeded = false, restartNoticed = false, alignArrived = false;
    bool boxFailed = false;      // the last box could not be shown
    std::optional<size_t> ink;   // the check's ink point
    std::optional<size_t> wait;  // an open wait, into Job::waits
    WaitKind waitKind = WaitKind::None;
    long long errorFlags = -1;         // of the latest "Printer Error Found"
    When errorSeen;                    // its time
    std::optional<When> statusFailed;  // the first failed status read since the last good one
    uint64_t checks = 0, boxes = 0, waits = 0;  // seen so far: the next one's number or serial
  };
  // The lines the monitor writes while it goes round a loop: the same kind of line again.
  struct EventList {
    std::vector<Event>& events;
    uint64_t& leftOut;
  };

  // Dispatch (reader.cpp): each line goes to the part that understands its text.
  void Dispatch(const Record& record, const When& when, const Matched& matched);
  void EndWaitUnlessPartOfIt(const When& when, Text text);

  // The monitor's start, ports, jobs' starts and ends, writes, status reads and failures that
  // may come outside a check (reader_job_lines.cpp). Each returns false for a text not its own.
  bool MonitorLine(const Record& record, const When& when, const Matched& matched);
  bool JobStartLine(const When& when, const Matched& matched);
  bool JobEndLine(const When& when, const Matched& matched);
  bool WriteLine(const When& when, const Matched& matched);
  bool StatusLine(const When& when, const Matched& matched);
  bool SettingsLine(const When& when, const Matched& matched);
  void FailureOutsideCheck(const When& when, Text text);
  size_t StartingJob(const When& when);

  // A pre-job check's own lines (reader_check_lines.cpp, reader_ink_lines.cpp,
  // reader_cartridge_lines.cpp).
  void CheckLine(const Record& record, const When& when, const Matched& matched);
  bool CheckStatusLine(size_t job, const When& when, const Matched& matched);
  bool PrinterErrorLine(size_t job, const When& when, const Matched& matched);
  bool InkLine(size_t job, const When& when, const Matched& matched);
  bool CartridgeEmptyLine(size_t job, const When& when, const Matched& matched);
  bool CartridgeLine(size_t job, const When& when, const Matched& matched);
  void ChangeCommands(size_t job, const When& when);
  bool AlignmentLine(size_t job, const When& when, const Matched& matched);
  void FinishAlignment(size_t job, const When& when);
  void AddInk(size_t job, const When& when, uint32_t spits, uint32_t limit, int level);
  void LearnFamily(Family family);

  // Boxes and answers (reader_answers.cpp).
  bool BoxLine(const When& when, const Matched& matched);
  bool UnansweredLine(size_t job, const When& when, const Matched& matched);
  void Resolve(size_t job, Text text);
  void Unanswered(size_t job, const When& when, long long count);
  void RouteLine(size_t job, const When& when, const Matched& matched);
  size_t RecentQuestionsFrom(size_t job) const;

  // Waits (reader_waits.cpp).
  size_t OpenWait(size_t job, const When& from, const When& when, WaitKind kind,
                  const std::string& what, unsigned question);
  void CloseWait(size_t job, const When& when, const std::string& ended);
  bool PartOfWait(size_t job, Text text) const;
  void Round(size_t job, const When& when, unsigned question);
  void EmptyWait(size_t job, const When& when, const std::string& ended);
  void AskedInWait(size_t job, size_t wait, size_t question);

  // The report's lists, within its limits (reader_lists.cpp).
  size_t CurrentJob(const When& when);
  size_t NewJob(const When& when, bool startSeen);
  size_t JobPlace();
  void Open(size_t job, const When& when);
  void Close(size_t job, const When& when);
  void Unlist(const Job& job, Counts* into);
  Check& BeginCheck(size_t job, const When& when);
  void EndCheck(size_t job, const When& when, CheckResult result);
  EventList EventsOf(size_t job);
  Event& AddEvent(size_t job, const When& when, EventKind kind, std::string_view text,
                  bool inferred = false);
  void Fold(size_t job, const When& when, EventKind kind, std::string_view text);
  bool LatestEventIs(size_t job, size_t question);
  size_t AddQuestion(size_t job, const When& when, unsigned id, const std::string& answer,
                     bool inferred = true, bool event = true);
  size_t NewQuestion(size_t job);
  size_t NewWait(size_t job);
  size_t NewInkPoint();
  void CountBox(const Question& question, Counts* into) const;
  void Tally(std::string_view what, bool printer, const When& when,
             std::optional<size_t> job = std::nullopt);
  // A note on how the log was read, made by `make`: past the limit on notes it is only
  // counted, and not made at all.
  template <class Make>
  void Note(const Make& make) {
    if (report_.notes.size() >= limits_.notes) {
      ++report_.notesLeftOut;
      return;
    }
    report_.notes.push_back(make());
  }
  void CannotShow(const std::string& text);
  void Unknown(const std::string& text, size_t line, bool badFormat);

  bool knowsBoxes_;
  Limits limits_;
  // The line being read and what it says, kept so that their strings' room is used again.
  When when_;
  Matched matched_;
  Report report_;
  std::vector<JobState> states_;
  std::vector<size_t> open_;        // open jobs, oldest first
  std::optional<size_t> starting_;  // a job between its start call and the start's result
  std::string nextName_;
  bool sawRecord_ = false;
  unsigned jobsSeen_ = 0;
  // Entries listed so far, against the limits.
  size_t checksHeld_ = 0, eventsHeld_ = 0, boxesHeld_ = 0, waitsHeld_ = 0;
  Event unlistedEvent_;  // where an event past the limit goes
  // The cartridge in the printer: changes seen, its family where the log tells it, its limit.
  unsigned cartridge_ = 0;
  Family family_ = Family::Unknown;
  uint32_t lastLimit_ = 0;
  size_t unknownFamilyFrom_ = 0;  // ink points from here on may still learn their family
  uint64_t inkSeen_ = 0;
  std::optional<size_t> lastTally_;
  std::unordered_multimap<size_t, size_t> unknownIndex_;  // a line's hash: into Report::unknown
  std::map<std::string, size_t, std::less<>> tallyIndex_;
  std::optional<size_t> otherTally_[2];  // kinds past the limit: other failures, printer errors
};

// Reads a log file piece by piece, in memory bounded by the page's limits rather than by the
// file's size.
class LogFileReader {
 public:
  explicit LogFileReader(Limits limits = {});
  void Feed(std::string_view bytes);
  // Nullopt, with `error` saying why, when the bytes are not a monitor log.
  std::optional<Report> Finish(const std::string& source, std::string* error);

 private:
  Reader reader_;
  LogReader lines_;
  std::string start_;  // the file's first bytes, to say what it is when it is not a log
};

// Reads a whole log file.
std::optional<Report> ReadLog(std::string_view bytes, const std::string& source, std::string* error,
                              Limits limits = {});

}  // namespace langmon_report
