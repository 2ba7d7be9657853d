// Ink: each ink check with its count, limit and warn levels, the low-ink question, and the wait
// for an empty cartridge to be changed; the cartridge's family where the log tells it.
#include "tools/langmon-report/reader.h"

namespace langmon_report {

namespace {

// The limits a model settings file gives each family unless it says otherwise.
constexpr uint32_t kColourLimit = 515000000;
constexpr uint32_t kBlackLimit = 400000000;
constexpr uint32_t kPigmentBlackLimit = 600000000;

Family FamilyFromLimit(uint32_t limit) {
  switch (limit) {
    case kColourLimit:
      return Family::Colour;
    case kBlackLimit:
      return Family::Black;
    case kPigmentBlackLimit:
      return Family::PigmentBlack;
    default:
      return Family::Unknown;
  }
}

}  // namespace

bool Reader::InkLine(size_t job, const When& when, const Matched& matched) {
  JobState& state = states_[job];
  Job& record = report_.jobs[job];
  const std::vector<long long>& n = matched.numbers;
  const long long number = n.empty() ? 0 : n.front();
  switch (matched.text) {
    case Text::InkCheck:
      state.phase = Phase::Ink;
      state.loopStart = record.questions.size();
      AddInk(job, when, static_cast<uint32_t>(number),
             n.size() > 1 ? static_cast<uint32_t>(n[1]) : 0,
             n.size() > 2 ? static_cast<int>(n[2]) : 0);
      return true;
    case Text::InkLow:
      if (!knowsBoxes_) state.pending = AddQuestion(job, when, 469, kNotKnown);
      return true;
    case Text::InkSpits:
      if (!state.ink) AddInk(job, when, static_cast<uint32_t>(number), 0, 0);
      return true;
    case Text::InkLimit:
      if (state.ink && report_.ink[*state.ink].limit == 0) {
        report_.ink[*state.ink].limit = static_cast<uint32_t>(number);
      }
      return true;
    case Text::InkOriginalLevel:
      if (state.ink && report_.ink[*state.ink].levelBefore == 0) {
        report_.ink[*state.ink].levelBefore = static_cast<int>(number);
      }
      return true;
    case Text::InkNewLevel:
      if (state.ink) report_.ink[*state.ink].levelAfter = static_cast<int>(number);
      return true;
    default:
      return false;
  }
}

bool Reader::CartridgeEmptyLine(size_t job, const When& when, const Matched& matched) {
  if (matched.text != Text::EmptyInstall && matched.text != Text::EmptyCleared) return false;
  Job& record = report_.jobs[job];
  const bool install = matched.text == Text::EmptyInstall;
  if (!knowsBoxes_) {
    const size_t asked =
        AddQuestion(job, when, 470, install ? "Yes" : "No, or no answer", true, false);
    if (!record.questions[asked].logged) {
      record.questions[asked].atLeast = true;
      record.questions[asked].note = "asked again after each No while the cartridge stays empty";
      CannotShow(
          "Question 470 (cartridge empty) is asked again after each No while the printer "
          "still reports the cartridge empty; the log shows only how it ended.");
    }
  }
  EmptyWait(job, when,
            install ? "Yes at 470: the cartridge is changed"
                    : "the printer no longer reported the cartridge empty: the job went on");
  if (!install) {
    AddEvent(job, when, EventKind::Note,
             "the printer no longer reports the cartridge empty: the job goes on");
  }
  return true;
}

void Reader::AddInk(size_t job, const When& when, uint32_t spits, uint32_t limit, int level) {
  if (limit != 0 && lastLimit_ != 0 && limit != lastLimit_) family_ = Family::Unknown;
  if (limit != 0) lastLimit_ = limit;
  const size_t index = NewInkPoint();
  InkPoint& point = report_.ink[index];
  point.when = when;
  point.job = report_.jobs[job].number;
  point.spits = spits;
  point.limit = limit;
  point.levelBefore = level;
  point.cartridge = cartridge_;
  point.family = family_;
  if (family_ == Family::Unknown) {
    point.family = FamilyFromLimit(limit);
    point.familyFromLimit = point.family != Family::Unknown;
  }
  JobState& state = states_[job];
  if (state.inCheck) {
    Check& check = report_.jobs[job].checks.back();
    point.check = check.number;
    check.ink = index;
    check.inkSerial = point.serial;
  }
  state.ink = index;
  Event& event = AddEvent(job, when, EventKind::Ink, "");
  event.index = index;
  event.serial = point.serial;
}

// What the log says about the cartridge in the printer holds for every check since it went in.
// Points before `unknownFamilyFrom_` know theirs already, so each point is looked at once.
void Reader::LearnFamily(Family family) {
  if (family == Family::Black && lastLimit_ == kPigmentBlackLimit) family = Family::PigmentBlack;
  family_ = family;
  for (size_t i = unknownFamilyFrom_; i < report_.ink.size(); ++i) {
    InkPoint& point = report_.ink[i];
    if (point.cartridge == cartridge_ &&
        (point.family == Family::Unknown || point.familyFromLimit)) {
      point.family = family;
      point.familyFromLimit = false;
    }
  }
  unknownFamilyFrom_ = report_.ink.size();
}

}  // namespace langmon_report
