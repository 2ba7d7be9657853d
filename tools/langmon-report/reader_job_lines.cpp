// The lines of the monitor's start and its ports, of a job's start and end, of the writes, of
// status reads and of the failures that may come outside a pre-job check.
#include "tools/langmon-report/failure_words.h"
#include "tools/langmon-report/reader.h"

namespace langmon_report {

bool Reader::MonitorLine(const Record& record, const When& when, const Matched& matched) {
  switch (matched.text) {
    case Text::InitCalled:
      ++report_.sessions;
      if (!open_.empty()) {
        Note([&] {
          return "The monitor started again (line " + std::to_string(record.line) +
                 ") while a job was still open: another spooler process writes to the same log, "
                 "or the spooler was restarted. Lines after it are given to the latest job.";
        });
      }
      return true;
    case Text::OpenPortCalled:
    case Text::OpenPortReturn:
    case Text::OpenPortCleanup:
    case Text::ClosePortCalled:
    case Text::ClosePortReturning:
    case Text::Shutdown:
      return true;
    case Text::InitNoRoot:
    case Text::InitTimeoutsFailed:
    case Text::InitTimeoutNotKept:
    case Text::OpenPortFailed:
    case Text::OpenPortInvalid:
    case Text::OpenPortNotFound:
    case Text::OpenPortNoTimeouts: {
      const FailureText failure = Failure(matched.text);
      Tally(failure.words, failure.printer, when);
      return true;
    }
    default:
      return false;
  }
}

// The job whose start these lines are about: the one between its start call and the start's
// result, else the latest open one.
size_t Reader::StartingJob(const When& when) { return starting_ ? *starting_ : CurrentJob(when); }

bool Reader::JobStartLine(const When& when, const Matched& matched) {
  const Text text = matched.text;
  switch (text) {
    case Text::StartCalled: {
      if (starting_) Close(*starting_, when);
      const size_t job = NewJob(when, true);
      starting_ = job;
      AddEvent(job, when, EventKind::Start, "the spooler starts the job");
      return true;
    }
    case Text::StartReturn:
      return true;
    case Text::StartReturnTrue: {
      lastTally_.reset();  // a job that starts ends a run of failed starts
      const size_t job = StartingJob(when);
      if (starting_) {
        for (size_t other : open_) {
          report_.jobs[other].overlaps.insert(report_.jobs[job].number);
          report_.jobs[job].overlaps.insert(report_.jobs[other].number);
          report_.overlapping = true;
        }
        starting_.reset();
        Open(job, when);
      }
      return true;
    }
    case Text::StartReturnFalse:
    case Text::StartInvalid:
    case Text::StartBadLevel:
    case Text::StartBusy: {
      const size_t job = StartingJob(when);
      Job& record = report_.jobs[job];
      record.outcome = Outcome::FailedStart;
      if (text == Text::StartBusy) record.outcomeNote = "another job was in progress on the port";
      if (text == Text::StartInvalid || text == Text::StartBadLevel) {
        record.outcomeNote = "the spooler's call was not valid";
      }
      AddEvent(job, when, EventKind::Outcome, OutcomeWords(Outcome::FailedStart));
      record.endSeen = true;
      Close(job, when);
      return true;
    }
    case Text::StartNoRecord:
    case Text::StartNoPrinter:
    case Text::StartPortFailed: {
      const size_t job = StartingJob(when);
      const FailureText failure = Failure(text);
      Tally(failure.words, failure.printer, when, job);
      AddEvent(job, when, EventKind::Failure, failure.words);
      return true;
    }
    case Text::StartWarned: {
      const size_t job = StartingJob(when);
      if (!knowsBoxes_) AddQuestion(job, when, 455, "");
      return true;
    }
    case Text::StartNotWarned:
      AddEvent(StartingJob(when), when, EventKind::Note,
               "a failed start was reported already: no box this time");
      return true;
    default:
      return false;
  }
}

bool Reader::JobEndLine(const When& when, const Matched& matched) {
  switch (matched.text) {
    case Text::EndCalled: {
      const size_t job = CurrentJob(when);
      Job& record = report_.jobs[job];
      if (record.outcome == Outcome::Unknown) record.outcome = Outcome::Printed;
      if (states_[job].inCheck) EndCheck(job, when, CheckResult::Running);
      AddEvent(job, when, EventKind::Outcome,
               std::string("the spooler ends the job: ") + OutcomeWords(record.outcome));
      record.endSeen = true;
      Close(job, when);
      return true;
    }
    case Text::EndReturning:
    case Text::AbortEnd:
      return true;
    case Text::AbortBegin: {
      const size_t job = CurrentJob(when);
      EndCheck(job, when, CheckResult::Failed);
      report_.jobs[job].outcome = Outcome::Deleted;
      AddEvent(job, when, EventKind::Outcome,
               "the monitor deletes the job (and any other job queued on its port)");
      return true;
    }
    case Text::AbortSetJobFailed: {
      const size_t job = CurrentJob(when);
      const FailureText failure = Failure(matched.text);
      Tally(failure.words, failure.printer, when, job);
      AddEvent(job, when, EventKind::Failure,
               std::string(failure.words) + " (error " + std::to_string(matched.First()) + ")");
      return true;
    }
    default:
      return false;
  }
}

bool Reader::WriteLine(const When& when, const Matched& matched) {
  const Text text = matched.text;
  switch (text) {
    case Text::HeaderFound:
      BeginCheck(CurrentJob(when), when);
      return true;
    case Text::CheckFailed:
    case Text::CheckPassed:
      EndCheck(CurrentJob(when), when,
               text == Text::CheckPassed ? CheckResult::Passed : CheckResult::Failed);
      return true;
    case Text::HeaderWithoutJob:
      AddEvent(CurrentJob(when), when, EventKind::Note,
               "a job header went to the printer unchecked: the job has no record");
      return true;
    case Text::FirstWrite:
      Fold(CurrentJob(when), when, EventKind::Write,
           "write passed on unchecked (a job's first write, a command job or a file port)");
      return true;
    case Text::EmptyWrite:
      AddEvent(CurrentJob(when), when, EventKind::Note, "a write of 0 bytes");
      return true;
    case Text::WriteFailed: {
      const size_t job = CurrentJob(when);
      const FailureText failure = Failure(text);
      Tally(failure.words, failure.printer, when, job);
      AddEvent(job, when, EventKind::Failure, failure.words);
      if (report_.jobs[job].outcome == Outcome::Unknown) {
        report_.jobs[job].outcome = Outcome::Stopped;
      }
      return true;
    }
    default:
      return false;
  }
}

// A status read that went wrong: within a check, a round of any wait for the printer; outside
// one, only counted.
bool Reader::StatusLine(const When& when, const Matched& matched) {
  const Text text = matched.text;
  if (!IsStatusText(text)) return false;
  if (text == Text::StatusRightSize || text == Text::StatusReturnFalse) return true;
  std::string words = Failure(text).words;
  if (text == Text::StatusWrongSize) {
    words += " (" + std::to_string(matched.First()) + " bytes)";
  }
  if (open_.empty() || !states_[open_.back()].inCheck) {
    Tally(words, true, when);
    return true;
  }
  const size_t job = open_.back();
  JobState& state = states_[job];
  if (!state.statusFailed) state.statusFailed = when;
  Tally(words, true, when, job);
  if (state.wait) {
    ++report_.jobs[job].waits[*state.wait].statusFailures;
    return true;
  }
  Fold(job, when, EventKind::Status, words);
  return true;
}

// A settings file the monitor would not use, or a setting another program held: these may come
// outside a check, at a job's start.
bool Reader::SettingsLine(const When& when, const Matched& matched) {
  switch (matched.text) {
    case Text::AppDataNoMemory:
    case Text::AppDataTooLong:
    case Text::AppDataLink:
    case Text::AppDataManyLinks:
    case Text::AppDataNotChecked:
    case Text::AppDataNotDiskFile:
    case Text::AppDataNotFolderName:
    case Text::AppDataDeviceName:
    case Text::AppDataNotOpened:
    case Text::SettingKept:
    case Text::SettingLost:
    case Text::SettingNotWritten:
      FailureOutsideCheck(when, matched.text);
      return true;
    // What became of a setting refused earlier: said by the failure lines already.
    case Text::SettingWrittenLate:
    case Text::SettingStillToWrite:
    case Text::SettingLastValue:
    case Text::SettingNeverRead:
      return true;
    default:
      return false;
  }
}

void Reader::FailureOutsideCheck(const When& when, Text text) {
  const FailureText failure = Failure(text);
  std::optional<size_t> job = starting_;
  if (!job && !open_.empty()) job = open_.back();
  Tally(failure.words, failure.printer, when, job);
  if (!job) return;
  Fold(*job, when, EventKind::Failure, failure.words);
  // A box without its text shows nothing.
  if (text == Text::BoxNoString || text == Text::BoxNoText) states_[*job].boxFailed = true;
}

}  // namespace langmon_report
