// A pre-job check's own lines: its start, its status read and the printer's errors, with the
// waits for label stock, a cleared label sensor or a printer that does not answer. The check's
// ink, cartridge and alignment lines go on in reader_ink_lines.cpp and
// reader_cartridge_lines.cpp.
#include "tools/langmon-report/failure_words.h"
#include "tools/langmon-report/reader.h"

namespace langmon_report {

// Every line no other part claims belongs to a pre-job check; one that comes first begins one.
void Reader::CheckLine(const Record& record, const When& when, const Matched& matched) {
  const Text text = matched.text;
  const size_t job = CurrentJob(when);
  if (!states_[job].inCheck) {
    const Check& check = BeginCheck(job, when);
    if (text != Text::CheckBegin) {
      Note([&] {
        return "Check " + std::to_string(check.number) + " of job " +
               std::to_string(report_.jobs[job].number) +
               " began before the lines that show it (line " + std::to_string(record.line) + ").";
      });
    }
  }
  const FailureText failure = Failure(text);
  if (failure.words != nullptr) {
    Tally(failure.words, failure.printer, when, job);
    // These three have lines of their own below.
    if (text != Text::CheckNoStatus && text != Text::InstallNoStatus &&
        text != Text::CartridgeMissing) {
      Fold(job, when, failure.printer ? EventKind::PrinterError : EventKind::Failure,
           failure.words);
    }
  }
  if (CheckStatusLine(job, when, matched) || PrinterErrorLine(job, when, matched) ||
      UnansweredLine(job, when, matched) || InkLine(job, when, matched) ||
      CartridgeEmptyLine(job, when, matched) || CartridgeLine(job, when, matched)) {
    return;
  }
  AlignmentLine(job, when, matched);
}

bool Reader::CheckStatusLine(size_t job, const When& when, const Matched& matched) {
  JobState& state = states_[job];
  switch (matched.text) {
    case Text::CheckBegin:
    case Text::CheckGettingStatus:
      state.phase = Phase::Status;
      return true;
    case Text::CheckNoStatus: {
      // Each try that fails asks 454 and reads again: one wait for the printer to answer.
      if (state.wait && state.waitKind == WaitKind::Status) {
        Round(job, when, 0);
        Round(job, when, 454);
        return true;
      }
      const size_t wait = OpenWait(job, state.statusFailed.value_or(when), when, WaitKind::Status,
                                   "a status record from the printer", 454);
      if (!knowsBoxes_) {
        state.pending = AddQuestion(job, when, 454, kNotKnown, true, false);
        AskedInWait(job, wait, *state.pending);
      }
      return true;
    }
    case Text::CheckGotStatus:
      state.statusFailed.reset();
      return true;
    default:
      return false;
  }
}

bool Reader::PrinterErrorLine(size_t job, const When& when, const Matched& matched) {
  JobState& state = states_[job];
  Job& record = report_.jobs[job];
  const long long number = matched.First();
  switch (matched.text) {
    case Text::CheckErrors:
      state.phase = Phase::Errors;
      state.loopStart = record.questions.size();
      return true;
    case Text::CheckErrorFound:
      Tally("the printer reports " + FlagsText(number), true, when, job);
      if (state.wait && state.waitKind == WaitKind::PrinterError) {
        if (state.errorFlags == number || state.errorFlags < 0) {  // < 0: a cut log's first
          state.errorFlags = number;
          Round(job, when, 0);
          return true;
        }
        CloseWait(job, when, "the printer reported " + FlagsText(number) + " instead");
      }
      state.errorFlags = number;
      state.errorSeen = when;
      AddEvent(job, when, EventKind::PrinterError, "the printer reports " + FlagsText(number));
      return true;
    case Text::OutOfStock:
    case Text::TofSensor: {
      // Each round asks again and reads the status again: one wait for the printer.
      const unsigned id = matched.text == Text::OutOfStock ? 436 : 468;
      if (state.wait && state.waitKind == WaitKind::PrinterError) {
        Round(job, when, id);
        return true;
      }
      const size_t wait = OpenWait(job, state.errorSeen.line != 0 ? state.errorSeen : when, when,
                                   WaitKind::PrinterError,
                                   id == 436 ? "label stock: the printer reports it out"
                                             : "the label sensor (TOF) error to be cleared",
                                   id);
      if (!knowsBoxes_) {
        state.pending = AddQuestion(job, when, id, kNotKnown, true, false);
        AskedInWait(job, wait, *state.pending);
      }
      return true;
    }
    case Text::Unrecoverable:
      if (!knowsBoxes_) AddQuestion(job, when, 440, "");
      AddEvent(job, when, EventKind::Note, "an unrecoverable printer error: the job stops");
      return true;
    default:
      return false;
  }
}

}  // namespace langmon_report
