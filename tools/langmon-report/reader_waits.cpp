// Waits: a loop the monitor goes round until the printer or the user ends it, one row however
// many rounds it takes.
#include <algorithm>

#include "tools/langmon-report/failure_words.h"
#include "tools/langmon-report/reader.h"

namespace langmon_report {

size_t Reader::OpenWait(size_t job, const When& from, const When& when, WaitKind kind,
                        const std::string& what, unsigned question) {
  JobState& state = states_[job];
  Job& record = report_.jobs[job];
  if (state.wait) CloseWait(job, when, "");
  const size_t index = NewWait(job);
  Wait& wait = record.waits[index];
  wait.what = what;
  wait.from = from;
  wait.to = when;
  wait.rounds = 1;
  wait.question = question;
  state.wait = index;
  state.waitKind = kind;
  Event& event = AddEvent(job, from, EventKind::Wait, "");
  event.index = index;
  event.serial = wait.serial;
  record.end = when;
  return index;
}

void Reader::AskedInWait(size_t job, size_t wait, size_t question) {
  Job& record = report_.jobs[job];
  record.waits[wait].asked = question;
  record.waits[wait].askedSerial = record.questions[question].serial;
}

void Reader::CloseWait(size_t job, const When& when, const std::string& ended) {
  JobState& state = states_[job];
  if (!state.wait) return;
  Wait& wait = report_.jobs[job].waits[*state.wait];
  if (!ended.empty()) {
    wait.ended = ended;
    wait.over = true;
    wait.to = when;
  } else {
    wait.ended = "the log shows no end of the wait";
  }
  state.wait.reset();
  state.waitKind = WaitKind::None;
}

// The lines a round of the wait writes; any other line ends it.
bool Reader::PartOfWait(size_t job, Text text) const {
  const JobState& state = states_[job];
  if (IsStatusText(text)) return true;
  switch (text) {
    case Text::BoxOwnerAnswered:
    case Text::BoxOwnerTimedOut:
    case Text::BoxOwnerFailed:
    case Text::BoxNobody:
    case Text::BoxNotShown:
    case Text::BoxNoString:
    case Text::BoxNoText:
    case Text::BoxNoTitle:
    // A wait's box reads its settings, which another program may hold.
    case Text::AppDataNotOpened:
    case Text::SettingKept:
    case Text::SettingLost:
    case Text::SettingNotWritten:
    case Text::SettingWrittenLate:
    case Text::SettingStillToWrite:
    case Text::SettingLastValue:
    case Text::SettingNeverRead:
      return true;
    case Text::CheckNoStatus:
      return state.waitKind == WaitKind::Status;
    case Text::CheckErrorFound:
    case Text::OutOfStock:
    case Text::TofSensor:
      return state.waitKind == WaitKind::PrinterError;
    default:
      return false;
  }
}

// The open wait went round once more: a status check (`question` 0), or its box asked again.
void Reader::Round(size_t job, const When& when, unsigned question) {
  JobState& state = states_[job];
  Job& record = report_.jobs[job];
  Wait& wait = record.waits[*state.wait];
  wait.to = when;
  record.end = when;
  if (question == 0) {
    ++wait.rounds;
    return;
  }
  if (knowsBoxes_ || !wait.asked) return;
  Question& asked = record.questions[*wait.asked];
  ++asked.times;
  asked.last = when;
  if (asked.answer != kNotKnown) asked.before = asked.answer;
  asked.answer = kNotKnown;
  state.pending = *wait.asked;
}

// The cartridge-empty loop leaves no line per round: the wait shows from the ink check that
// began it (where the monitor sent the cartridge-empty command) to the line that ends it.
void Reader::EmptyWait(size_t job, const When& when, const std::string& ended) {
  JobState& state = states_[job];
  Job& record = report_.jobs[job];
  const When from = state.ink ? report_.ink[*state.ink].when : when;
  if (!knowsBoxes_ && !state.emptyCommand) {
    AddEvent(job, from, EventKind::Command, "cartridge-empty command (1B 2A 6D 04 04)", true);
    state.emptyCommand = true;
  }
  const size_t index =
      OpenWait(job, from, when, WaitKind::None,
               "the cartridge to be changed, or the printer's empty flag cleared", 470);
  Wait& wait = record.waits[index];
  wait.rounds = 0;
  for (size_t i = RecentQuestionsFrom(job); i < record.questions.size(); ++i) {
    const Question& asked = record.questions[i];
    if (asked.id == 470 && (asked.logged || knowsBoxes_)) wait.rounds += asked.times;
  }
  CloseWait(job, when, ended);
}

}  // namespace langmon_report
