// Cartridges and alignment: a cartridge change with its commands and boxes, the cartridge the
// printer reports afterwards, warn levels that start over, and the alignment of a new cartridge
// with its print files.
#include <algorithm>
#include <cctype>

#include "tools/langmon-report/reader.h"

namespace langmon_report {

namespace {

bool EndsWithNoCase(const std::string& text, const std::string& end) {
  if (text.size() < end.size()) return false;
  return std::equal(end.rbegin(), end.rend(), text.rbegin(), [](char a, char b) {
    return std::tolower(static_cast<unsigned char>(a)) ==
           std::tolower(static_cast<unsigned char>(b));
  });
}

}  // namespace

bool Reader::CartridgeLine(size_t job, const When& when, const Matched& matched) {
  JobState& state = states_[job];
  Job& record = report_.jobs[job];
  const long long number = matched.First();
  switch (matched.text) {
    case Text::CartridgeInvalid:
      Tally("invalid cartridge installed", true, when, job);
      AddEvent(job, when, EventKind::PrinterError,
               "the printer reports an invalid cartridge (state " + std::to_string(number) + ")");
      return true;
    case Text::CartridgeMissing:
      AddEvent(job, when, EventKind::PrinterError, "no cartridge installed");
      return true;
    case Text::SameCartridge:
      AddEvent(job, when, EventKind::Failure, "the cartridge in the printer is not a new one");
      if (!knowsBoxes_) AddQuestion(job, when, 443, "");
      state.restartNoticed = true;
      return true;
    case Text::InstallBegin:
      state.phase = Phase::Install;
      state.loopStart = record.questions.size();
      AddEvent(job, when, EventKind::Cartridge, "cartridge change");
      return true;
    case Text::InstallPrompted:
      if (!knowsBoxes_) ChangeCommands(job, when);
      return true;
    case Text::InstallNoStatus:
      AddEvent(job, when, EventKind::PrinterError, "no cartridge information from the printer");
      if (!knowsBoxes_) state.pending = AddQuestion(job, when, 464, kNotKnown);
      return true;
    case Text::InstallResult:
      // Only a good cartridge after the change counts as one changed; a cancelled change ends
      // with another line.
      if (number == 0) {
        AddEvent(job, when, EventKind::Cartridge, "the printer reports a good cartridge");
        ++cartridge_;
        ++report_.cartridgeChanges;
        unknownFamilyFrom_ = report_.ink.size();
        family_ = Family::Unknown;
      } else if (!knowsBoxes_ && (number == 5 || number == 6)) {
        state.pending = AddQuestion(job, when, number == 5 ? 450 : 445, kNotKnown);
      }
      return true;
    case Text::ResetBlack:
    case Text::ResetColour: {
      const bool black = matched.text == Text::ResetBlack;
      AddEvent(job, when, EventKind::Cartridge,
               std::string("a different cartridge: the ") + (black ? "black" : "colour") +
                   " warn level starts over");
      LearnFamily(black ? Family::Black : Family::Colour);
      return true;
    }
    default:
      return false;
  }
}

// The cartridge change's box 427, with the start command just before it (its route may have
// logged the box earlier) and the end command after it.
void Reader::ChangeCommands(size_t job, const When& when) {
  constexpr size_t kLookBack = 16;  // the box is among the latest lines of the check
  const size_t asked = AddQuestion(job, when, 427, "");
  const Question& question = report_.jobs[job].questions[asked];
  const EventList list = EventsOf(job);
  std::vector<Event>& events = list.events;
  size_t at = events.size();
  const size_t stop = events.size() > kLookBack ? events.size() - kLookBack : 0;
  while (at > stop &&
         !(events[at - 1].kind == EventKind::Question && events[at - 1].index == asked &&
           events[at - 1].serial == question.serial)) {
    --at;
  }
  Event start;
  start.when = question.when;
  start.kind = EventKind::Command;
  start.text = "cartridge-change start command (1B 2A 05 00)";
  start.inferred = true;
  if (eventsHeld_ >= limits_.events) {
    ++list.leftOut;
  } else if (at == stop) {
    ++eventsHeld_;
    events.push_back(start);
  } else {
    ++eventsHeld_;
    events.insert(events.begin() + static_cast<std::ptrdiff_t>(at - 1), start);
  }
  AddEvent(job, when, EventKind::Command, "cartridge-change end command (1B 2A 05 01)", true);
}

bool Reader::AlignmentLine(size_t job, const When& when, const Matched& matched) {
  JobState& state = states_[job];
  Job& record = report_.jobs[job];
  switch (matched.text) {
    case Text::AlignBypassed:
      AddEvent(job, when, EventKind::Note, "the alignment check is switched off in the settings");
      return true;
    case Text::AlignNeeded:
      state.phase = Phase::Align;
      state.loopStart = record.questions.size();
      state.alignNeeded = true;
      AddEvent(job, when, EventKind::Note, "the new cartridge needs an alignment");
      if (!knowsBoxes_) state.pending = AddQuestion(job, when, 400, kNotKnown);
      return true;
    case Text::AlignCancelled:
      AddEvent(job, when, EventKind::Note, "no alignment: the user cancelled it");
      return true;
    case Text::AlignFailed:
      if (!knowsBoxes_) AddQuestion(job, when, 422, "");
      AddEvent(job, when, EventKind::Failure, "the alignment failed");
      return true;
    case Text::AlignStatusArrived:
      AddEvent(job, when, EventKind::Note, "the printer's status after the alignment print came");
      state.alignArrived = true;
      return true;
    case Text::ProgressDialog:
      Fold(job, when, EventKind::Note, "the progress dialog \"Aligning the printer...\" is up");
      return true;
    case Text::PrintFileName: {
      const std::string& file = matched.string;
      const bool black = EndsWithNoCase(file, "VMAl250K.PRN");
      if (black || EndsWithNoCase(file, "VM_Al250.PRN")) {
        LearnFamily(black ? Family::Black : Family::Colour);
      }
      if (!knowsBoxes_) {
        // A second print after the status came: the values were invalid and the user chose OK.
        if (state.alignArrived) AddQuestion(job, when, 453, kWentOn);
        const size_t slash = file.find_last_of("\\/");
        AddEvent(
            job, when, EventKind::AlignmentPrint,
            "alignment print file " + (slash == std::string::npos ? file : file.substr(slash + 1)));
      }
      state.alignArrived = false;
      return true;
    }
    default:
      return false;
  }
}

// An alignment ends the job: the alignment-finish command when it completed, then the notice that
// the job must be sent again.
void Reader::FinishAlignment(size_t job, const When& when) {
  JobState& state = states_[job];
  if (!state.alignNeeded) return;
  if (!knowsBoxes_) {
    if (state.alignArrived) {
      AddEvent(job, when, EventKind::Command,
               "alignment-finish command: marks valid, or the printer's default values kept", true);
      CannotShow(
          "After the last alignment print the log cannot tell valid marks from question 453 "
          "answered Cancel (keep the printer's default values).");
    }
    if (!state.restartNoticed) AddQuestion(job, when, 443, "");
  }
  state.alignNeeded = false;
  state.alignArrived = false;
}

}  // namespace langmon_report
