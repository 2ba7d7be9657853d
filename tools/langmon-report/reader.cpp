#include "tools/langmon-report/reader.h"

#include <algorithm>

namespace langmon_report {

namespace {

constexpr size_t kStartKept = 512;  // bytes of a file's start kept to tell what it is

// Sorted as std::stable_sort sorts, without the buffer it takes, where the list is in order
// already: the log's lines mostly come in the order of their times.
template <class T, class Less>
void SortStably(std::vector<T>& list, Less less) {
  if (!std::is_sorted(list.begin(), list.end(), less)) {
    std::stable_sort(list.begin(), list.end(), less);
  }
}

}  // namespace

Reader::Reader(bool knowsBoxes, Limits limits) : knowsBoxes_(knowsBoxes), limits_(limits) {}

// ---- Lines --------------------------------------------------------------------------------

void Reader::Feed(const Record& record) {
  when_.ms = record.ms;
  when_.text.assign(record.when);
  when_.line = record.line;
  const When& when = when_;
  if (report_.records == 0) report_.first = when;
  report_.last = when;
  ++report_.records;
  MatchLogText(record.text, &matched_);
  const Matched& matched = matched_;
  if (matched.text == Text::Unknown) {
    Unknown(record.text, record.line, false);
    return;
  }
  if (!sawRecord_ && matched.text != Text::InitCalled) report_.startsMidway = true;
  sawRecord_ = true;
  if (!open_.empty()) {
    Resolve(open_.back(), matched.text);
    EndWaitUnlessPartOfIt(when, matched.text);
  }
  Dispatch(record, when, matched);
}

// A line that is not one of the open wait's rounds ends it; which line says how.
void Reader::EndWaitUnlessPartOfIt(const When& when, Text text) {
  const size_t job = open_.back();
  const JobState& state = states_[job];
  if (!state.wait || PartOfWait(job, text)) return;
  const Job& current = report_.jobs[job];
  const Wait& wait = current.waits[*state.wait];
  std::string ended;
  if (wait.asked && current.questions[*wait.asked].answer == "Cancel") {
    ended = "Cancel at " + std::to_string(wait.question) + ": the job is stopped";
  } else if (text == Text::AbortBegin || text == Text::CheckFailed || text == Text::EndCalled ||
             text == Text::StartCalled || text == Text::InitCalled) {
    ended = "the check ended without a line that ends the wait";
  } else if (state.waitKind == WaitKind::Status) {
    ended = "the printer answered: the check went on";
  } else {
    ended = "the printer no longer reported it: the check went on";
  }
  CloseWait(job, when, ended);
}

// Each line goes to the part that understands its text; every other text is a pre-job check's.
void Reader::Dispatch(const Record& record, const When& when, const Matched& matched) {
  if (MonitorLine(record, when, matched) || JobStartLine(when, matched) ||
      JobEndLine(when, matched) || WriteLine(when, matched) || StatusLine(when, matched) ||
      BoxLine(when, matched) || SettingsLine(when, matched)) {
    return;
  }
  CheckLine(record, when, matched);
}

// ---- Facts of a simulated run ---------------------------------------------------------------

void Reader::NameNextJob(const std::string& name) { nextName_ = name; }

void Reader::Box(const When& when, unsigned id, const std::string& answer, bool notice) {
  const size_t job = StartingJob(when);
  Job& record = report_.jobs[job];
  JobState& state = states_[job];
  // A wait's box, or a box asked again right after itself, with the same answer: one row.
  std::optional<size_t> same;
  if (state.wait && record.waits[*state.wait].question == id) {
    const size_t wait = *state.wait;
    if (!record.waits[wait].asked) {
      const size_t asked = AddQuestion(job, when, id, answer, false, false);
      record.questions[asked].notice = notice;
      AskedInWait(job, wait, asked);
      return;
    }
    Question& asked = record.questions[*record.waits[wait].asked];
    if (asked.answer != answer) {
      asked.before = asked.answer;
      asked.answer = answer;
    }
    same = record.waits[wait].asked;
  } else if (!record.questions.empty() && record.questions.back().id == id &&
             record.questions.back().answer == answer &&
             LatestEventIs(job, record.questions.size() - 1)) {
    same = record.questions.size() - 1;
  }
  if (same) {
    ++record.questions[*same].times;
    record.questions[*same].last = when;
    record.end = when;
    return;
  }
  const size_t index = AddQuestion(job, when, id, answer, false);
  record.questions[index].notice = notice;
}

void Reader::PrinterReceived(const When& when, const std::string& text, bool alignmentPrint) {
  if (report_.jobs.empty()) NewJob(when, false);
  // The printer's own time says which job and check it came in.
  size_t job = report_.jobs.size() - 1;
  while (job > 0 && report_.jobs[job].start.ms > when.ms) --job;
  Job& record = report_.jobs[job];
  std::vector<Event>* events = &record.events;
  uint64_t* leftOut = &record.eventsLeftOut;
  for (size_t i = record.checks.size(); i-- > 0;) {
    if (record.checks[i].when.ms <= when.ms) {
      events = &record.checks[i].events;
      leftOut = &record.checks[i].eventsLeftOut;
      break;
    }
  }
  if (eventsHeld_ >= limits_.events) {
    ++*leftOut;
    return;
  }
  ++eventsHeld_;
  Event& event = events->emplace_back();
  event.when = when;
  event.kind = alignmentPrint ? EventKind::AlignmentPrint : EventKind::Command;
  event.text = text;
}

void Reader::JobEnded(Outcome outcome) {
  if (report_.jobs.empty()) return;
  // The latest job: past the page's limit it may stand in any place beyond it.
  Job& record = *std::max_element(report_.jobs.begin(), report_.jobs.end(),
                                  [](const Job& a, const Job& b) { return a.number < b.number; });
  record.outcome = outcome;
  if (outcome != Outcome::Unknown) record.endSeen = true;
}

// ---- The report -----------------------------------------------------------------------------

Report Reader::Finish(const std::string& source, const std::string& clock) {
  for (size_t job = 0; job < report_.jobs.size(); ++job) {
    if (states_[job].inCheck) EndCheck(job, report_.last, CheckResult::Running);
    Job& record = report_.jobs[job];
    if (!record.endSeen && record.outcome == Outcome::Unknown) {
      record.outcomeNote = record.startSeen ? "the log shows no end for it"
                                            : "it began before the log does, and the log shows "
                                              "no end for it";
    }
    // A check standing for the latest of many shows where the latest began.
    for (Event& event : record.events) {
      if (event.kind == EventKind::Check) event.when = record.checks[event.index].when;
    }
    const auto byTime = [](const Event& a, const Event& b) { return a.when.ms < b.when.ms; };
    SortStably(record.events, byTime);
    for (Check& check : record.checks) {
      SortStably(check.events, byTime);
      for (const Event& event : check.events) {
        const bool plainInk =
            event.kind == EventKind::Ink && event.index < report_.ink.size() &&
            report_.ink[event.index].levelAfter.value_or(0) <= report_.ink[event.index].levelBefore;
        check.eventful = check.eventful || !plainInk;
      }
      check.eventful = check.eventful || check.result != CheckResult::Passed || check.beyond > 1;
    }
  }
  // Past the limit on jobs the latest stand in the places beyond it, in any order.
  SortStably(report_.jobs, [](const Job& a, const Job& b) { return a.number < b.number; });
  if (report_.startsMidway) {
    report_.notes.insert(report_.notes.begin(),
                         "The log begins after the monitor started: the file starts over when it "
                         "grows past 2,000,000 bytes, so what came before is not in it.");
  }
  if (report_.overlapping) {
    report_.notes.push_back(
        "Some jobs were open at the same time (several ports, or several spooler processes). The "
        "log does not say which line belongs to which: each line is given to the latest job "
        "still open, so some events may be shown under the wrong one.");
  }
  if (!knowsBoxes_) {
    bool any = false;
    for (const Job& record : report_.jobs) any = any || !record.questions.empty();
    if (any) {
      report_.cannotShow.insert(
          report_.cannotShow.begin(),
          {"The boxes themselves are not in the log file (it keeps levels 3 and above): each "
           "question listed is inferred from the lines around it.",
           "In quiet mode (SHOW_UI=0) the monitor puts the same questions but shows none; the "
           "log does not say whether quiet mode was on.",
           "\"OK, or no answer\": a box nobody answers (answer 0) goes the same way as OK, "
           "Retry or No; the log shows only which way the monitor went."});
    }
    report_.cannotShow.push_back(
        "Which printer, port and document a job was: the log's lines do not carry them. Jobs are "
        "numbered in the order the log shows them.");
    report_.cannotShow.push_back(
        "Which port a line came from: the monitor logs the lines of every port to one file, so "
        "where several printers print at once their lines may interleave and be given to the "
        "wrong job.");
  }
  if (report_.notesLeftOut > 0) {
    report_.notes.push_back("... and " + std::to_string(report_.notesLeftOut) +
                            " more notes like these, not listed.");
  }
  report_.source = source;
  report_.clock = clock;
  report_.simulated = knowsBoxes_;
  report_.limits = limits_;
  return std::move(report_);
}

LogFileReader::LogFileReader(Limits limits)
    : reader_(false, limits),
      lines_([this](const Record& record) { reader_.Feed(record); },
             [this](const BadLine& line) { reader_.Unreadable(line); }) {}

void LogFileReader::Feed(std::string_view bytes) {
  if (start_.size() < kStartKept) {
    start_.append(bytes.substr(0, kStartKept - start_.size()));
  }
  lines_.Feed(bytes);
}

std::optional<Report> LogFileReader::Finish(const std::string& source, std::string* error) {
  lines_.Finish();
  if (lines_.bytes() == 0) {
    *error = source + ": the file is empty, so it is not a monitor log";
    return std::nullopt;
  }
  if (lines_.records() == 0) {
    *error = source + ": not a monitor log: none of its " + std::to_string(lines_.lines()) +
             " line(s) is a log record such as \"03/02 09:05:03:007  VMT_LM_10[INFORM] ...\"";
    if (LooksLikeUtf16(start_)) {
      *error +=
          ". It looks like UTF-16 text (an editor's \"Unicode\"); the monitor writes 8-bit "
          "text, so it was converted after it left the machine: convert it back, for example "
          "with iconv -f UTF-16 -t UTF-8, or send the original file";
    }
    return std::nullopt;
  }
  Report report =
      reader_.Finish(source, "the log's local time (month/day hour:minute:second:millisecond)");
  report.lines = lines_.lines();
  report.bytes = lines_.bytes();
  return report;
}

std::optional<Report> ReadLog(std::string_view bytes, const std::string& source, std::string* error,
                              Limits limits) {
  LogFileReader reader(limits);
  reader.Feed(bytes);
  return reader.Finish(source, error);
}

}  // namespace langmon_report
