#include "tools/langmon-report/reader.h"

#include <algorithm>
#include <cctype>

#include "tools/langmon-report/questions.h"

namespace langmon_report {

namespace {

// The limits a model settings file gives each family unless it says otherwise.
constexpr uint32_t kColourLimit = 515000000;
constexpr uint32_t kBlackLimit = 400000000;
constexpr uint32_t kPigmentBlackLimit = 600000000;
constexpr size_t kUnknownKept = 300;    // distinct unrecognised lines listed; all are counted
constexpr size_t kUnknownLength = 400;  // bytes of one kept
constexpr size_t kNotesKept = 100;
constexpr size_t kStartKept = 512;  // bytes of a file's start kept to tell what it is

constexpr char kWentOn[] = "OK, or no answer";
constexpr char kNoAnswer[] = "no answer";
constexpr char kNotKnown[] = "not known";

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

std::string FlagsText(long long flags) {
  std::string text;
  const auto add = [&text](const std::string& part) { text += (text.empty() ? "" : ", ") + part; };
  if (flags & 0x01) add("label stock out");
  if (flags & 0x02) add("cartridge empty");
  if (flags & 0x04) add("label sensor (TOF) error");
  if (flags & ~0x07LL) add("unrecoverable error");
  return "error flags " + std::to_string(flags) + " (" + text + ")";
}

bool EndsWithNoCase(const std::string& text, const std::string& end) {
  if (text.size() < end.size()) return false;
  return std::equal(end.rbegin(), end.rend(), text.rbegin(), [](char a, char b) {
    return std::tolower(static_cast<unsigned char>(a)) ==
           std::tolower(static_cast<unsigned char>(b));
  });
}

bool IsStatusText(Text text) {
  switch (text) {
    case Text::StatusWrongSize:
    case Text::StatusRightSize:
    case Text::StatusWrongFrame:
    case Text::StatusCountTooLarge:
    case Text::StatusChecksum:
    case Text::StatusTimedOut:
    case Text::StatusReturnFalse:
    case Text::StatusWaitTimedOut:
      return true;
    default:
      return false;
  }
}

// A failure with its own words; empty for texts that are not one.
struct FailureText {
  const char* words;
  bool printer;
};
FailureText Failure(Text text) {
  switch (text) {
    case Text::StatusWrongSize:
      return {"status record of the wrong size", true};
    case Text::StatusWrongFrame:
      return {"status record with a wrong start or end byte", true};
    case Text::StatusCountTooLarge:
      return {"status record with a bad length byte", true};
    case Text::StatusChecksum:
      return {"status record with a bad checksum", true};
    case Text::StatusTimedOut:
      return {"no fresh status record in time", true};
    case Text::StatusWaitTimedOut:
      return {"no status update in time after a change or an alignment print", true};
    case Text::DriverNoFileName:
    case Text::DriverBufferSize:
    case Text::DriverNoBuffer:
    case Text::DriverNoPath:
    case Text::DriverNoBackslash:
    case Text::DriverNoMemory:
    case Text::PrintFileNoPath:
      return {"the alignment print file's path could not be found", false};
    case Text::PrintFileNameUnreadable:
      return {"the alignment print file's path could not be written to the log", false};
    case Text::PrintFileOpenFailed:
    case Text::PrintFileSizeFailed:
    case Text::PrintFileReadFailed:
      return {"the alignment print file could not be read", false};
    case Text::PrintFileWriteFailed:
    case Text::PrintFileShortWrite:
      return {"the alignment print did not all reach the printer", true};
    case Text::SaveCyanFailed:
    case Text::SaveMagentaFailed:
    case Text::SaveYellowFailed:
    case Text::SaveNoPath:
    case Text::CheckSaveFailed:
    case Text::AfterInstallSaveFailed:
      return {"the spit counters could not be saved in the printer settings file", false};
    case Text::CheckNoIniPath:
      return {"the printer settings file's path is not available", false};
    case Text::AppDataNoMemory:
    case Text::AppDataTooLong:
      return {"the settings folder's path could not be built", false};
    case Text::AppDataLink:
    case Text::AppDataManyLinks:
    case Text::AppDataNotChecked:
    case Text::AppDataNotDiskFile:
      return {
          "a settings file was not used: a link on its path, or a part that could not be checked",
          false};
    case Text::AppDataNotFolderName:
    case Text::AppDataDeviceName:
      return {"a settings file was not used: the printer's name is no plain folder name", false};
    case Text::BoxNoText:
    case Text::BoxNoString:
      return {"a box could not be shown: its text is missing", false};
    case Text::BoxNoTitle:
      return {"a box's caption is missing", false};
    case Text::InitNoRoot:
    case Text::InitTimeoutsFailed:
      return {"the monitor's start-up could not read its registry settings", false};
    case Text::InitTimeoutNotKept:
      return {"the spooler did not keep the monitor's registry setting", false};
    case Text::OpenPortFailed:
    case Text::OpenPortInvalid:
    case Text::OpenPortNotFound:
    case Text::OpenPortNoTimeouts:
      return {"a port could not be opened", false};
    case Text::StartNoRecord:
      return {"no memory for a job record: the job runs without checks", false};
    case Text::StartNoPrinter:
      return {"the job's printer could not be opened: the job runs without checks", false};
    case Text::StartPortFailed:
      return {"the port could not start the document (printer off or not connected?)", true};
    case Text::AbortSetJobFailed:
      return {"the spooler did not delete a job", false};
    case Text::WriteFailed:
      return {"a write to the printer failed", true};
    case Text::AlignUnableToSend:
      return {"the alignment print could not be sent", true};
    case Text::AlignNoValues:
      return {"no status came after the alignment print", true};
    case Text::InstallNoStatus:
      return {"no cartridge information after a cartridge change", true};
    case Text::CheckNoStatus:
      return {"no status from the printer for the pre-job check", true};
    case Text::CartridgeMissing:
      return {"no cartridge installed", true};
    default:
      return {nullptr, false};
  }
}

}  // namespace

Reader::Reader(bool knowsBoxes) : knowsBoxes_(knowsBoxes) {}

// ---- Jobs, checks and events ---------------------------------------------------------------

size_t Reader::NewJob(const When& when, bool startSeen) {
  Job job;
  job.number = static_cast<unsigned>(report_.jobs.size() + 1);
  job.start = when;
  job.end = when;
  job.startSeen = startSeen;
  job.session = report_.sessions;
  if (startSeen) {
    job.name = nextName_;
    nextName_.clear();
  } else {
    job.outcomeNote = "it began before the log does";
  }
  report_.jobs.push_back(std::move(job));
  states_.emplace_back();
  return report_.jobs.size() - 1;
}

// The job a line belongs to: the latest one still open. A line of a job that the log does not
// show starting (a cut log) opens one.
size_t Reader::CurrentJob(const When& when) {
  if (!open_.empty()) return open_.back();
  const size_t job = NewJob(when, false);
  open_.push_back(job);
  return job;
}

void Reader::Close(size_t job, const When& when) {
  if (states_[job].inCheck) EndCheck(job, when, CheckResult::Running);
  report_.jobs[job].end = when;
  open_.erase(std::remove(open_.begin(), open_.end(), job), open_.end());
  if (starting_ == job) starting_.reset();
}

Check& Reader::BeginCheck(size_t job, const When& when) {
  JobState& state = states_[job];
  Job& record = report_.jobs[job];
  if (state.inCheck) EndCheck(job, when, CheckResult::Running);
  Check check;
  check.when = when;
  check.number = static_cast<unsigned>(record.checks.size() + 1);
  record.checks.push_back(std::move(check));
  Event event;
  event.when = when;
  event.kind = EventKind::Check;
  event.index = record.checks.size() - 1;
  record.events.push_back(event);
  const JobState fresh;
  state = fresh;
  lastTally_.reset();
  state.inCheck = true;
  state.phase = Phase::Status;
  state.loopStart = record.questions.size();
  return record.checks.back();
}

void Reader::EndCheck(size_t job, const When& when, CheckResult result) {
  JobState& state = states_[job];
  if (!state.inCheck) return;
  CloseWait(job, when, "");
  lastTally_.reset();
  FinishAlignment(job, when);
  if (state.pending) {
    report_.jobs[job].questions[*state.pending].answer = kNotKnown;
    state.pending.reset();
  }
  report_.jobs[job].checks.back().result = result;
  state.inCheck = false;
  state.phase = Phase::None;
  state.ink.reset();
}

std::vector<Event>& Reader::EventsOf(size_t job) {
  Job& record = report_.jobs[job];
  return states_[job].inCheck ? record.checks.back().events : record.events;
}

Event& Reader::AddEvent(size_t job, const When& when, EventKind kind, const std::string& text,
                        bool inferred) {
  Event event;
  event.when = when;
  event.kind = kind;
  event.text = text;
  event.inferred = inferred;
  std::vector<Event>& events = EventsOf(job);
  events.push_back(std::move(event));
  report_.jobs[job].end = when;
  return events.back();
}

// The same event again right after itself (a status wait logs the same failure many times)
// makes one event with a count.
void Reader::Fold(size_t job, const When& when, EventKind kind, const std::string& text) {
  std::vector<Event>& events = EventsOf(job);
  if (!events.empty() && events.back().kind == kind && events.back().text == text) {
    ++events.back().count;
    report_.jobs[job].end = when;
    return;
  }
  AddEvent(job, when, kind, text);
}

size_t Reader::AddQuestion(size_t job, const When& when, unsigned id, const std::string& answer,
                           bool inferred, bool event) {
  Job& record = report_.jobs[job];
  JobState& state = states_[job];
  // A box whose route logged it just before its flow's lines show it (427, 455) is one box.
  if (inferred && !knowsBoxes_ && !record.questions.empty()) {
    Question& last = record.questions.back();
    if (last.id == id && last.logged && !last.claimed) {
      last.claimed = true;
      state.boxFailed = false;
      return record.questions.size() - 1;
    }
  }
  Question question;
  question.when = when;
  question.last = when;
  question.id = id;
  question.answer = answer;
  question.notice = IsNotice(id);
  if (id == 422 && state.boxFailed) {
    question.shown = false;
    question.note = "its text is missing, so nothing was shown";
  }
  state.boxFailed = false;
  record.questions.push_back(question);
  if (event)
    AddEvent(job, when, EventKind::Question, "", inferred).index = record.questions.size() - 1;
  return record.questions.size() - 1;
}

// ---- Waits --------------------------------------------------------------------------------

size_t Reader::OpenWait(size_t job, const When& from, const When& when, WaitKind kind,
                        const std::string& what, unsigned question) {
  JobState& state = states_[job];
  Job& record = report_.jobs[job];
  if (state.wait) CloseWait(job, when, "");
  Wait wait;
  wait.what = what;
  wait.from = from;
  wait.to = when;
  wait.rounds = 1;
  wait.question = question;
  record.waits.push_back(wait);
  state.wait = record.waits.size() - 1;
  state.waitKind = kind;
  Event& event = AddEvent(job, from, EventKind::Wait, "");
  event.index = record.waits.size() - 1;
  record.end = when;
  return record.waits.size() - 1;
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
  for (size_t i = state.loopStart; i < record.questions.size(); ++i) {
    const Question& asked = record.questions[i];
    if (asked.id == 470 && (asked.logged || knowsBoxes_)) wait.rounds += asked.times;
  }
  CloseWait(job, when, ended);
}

// ---- Answers ------------------------------------------------------------------------------

// A question leads one way on one answer and the other way on every other (0, for a box nobody
// answers, among them): the line after it shows which way it went.
void Reader::Resolve(size_t job, Text text) {
  JobState& state = states_[job];
  if (!state.pending) return;
  Question& question = report_.jobs[job].questions[*state.pending];
  const bool statusRead =
      IsStatusText(text) || text == Text::CheckGotStatus || text == Text::CheckNoStatus;
  std::string answer;
  switch (question.id) {
    case 454:
      if (statusRead) answer = kWentOn;
      if (text == Text::CheckNoIniPath || text == Text::CheckErrors) answer = "Cancel";
      break;
    case 436:
    case 468:
      if (statusRead || text == Text::CheckErrorFound || text == Text::InkCheck) answer = kWentOn;
      if (text == Text::AbortBegin || text == Text::CheckFailed) answer = "Cancel";
      break;
    case 469:
      if (text == Text::InstallBegin) answer = "Yes";
      if (text == Text::InkSpits) answer = "No, or no answer";
      break;
    case 464:
      if (text == Text::InstallPrompted) answer = "Retry, or no answer";
      if (text == Text::InkSpits || text == Text::SameCartridge) answer = "Cancel";
      break;
    case 445:
    case 450:
      if (text == Text::InstallPrompted) answer = kWentOn;
      if (text == Text::InstallCancelled) answer = "Cancel";
      break;
    case 400:
      if (text == Text::PrintFileName || text == Text::PrintFileNoPath ||
          text == Text::PrintFileNameUnreadable || text == Text::DriverNoFileName ||
          text == Text::AlignUnableToSend) {
        answer = "Yes or No, or no answer";
        question.note = "after No the notice 472 (unload the label stock) comes first";
        CannotShow(
            "After question 400 the log cannot tell Yes from No: No shows the notice 472 (unload "
            "the label stock) before the alignment, and the log does not show it.");
      }
      if (text == Text::AlignCancelled) answer = "Cancel";
      break;
    default:
      break;
  }
  if (answer.empty()) return;
  question.answer = answer;
  if (question.before == answer) question.before.clear();
  state.pending.reset();
}

void Reader::Unanswered(size_t job, const When& when, int count) {
  JobState& state = states_[job];
  Job& record = report_.jobs[job];
  unsigned id = 0;
  if (state.pending) {
    id = record.questions[*state.pending].id;
    state.pending.reset();
  } else if (state.phase == Phase::Ink) {
    id = 470;  // the cartridge-empty question leaves no line of its own
  } else if (state.phase == Phase::Align && state.alignArrived) {
    id = 453;  // nor does the one about invalid alignment values
    state.alignArrived = false;
  }
  if (id != 0 && !knowsBoxes_) {
    uint64_t have = 0;
    for (size_t i = state.loopStart; i < record.questions.size(); ++i) {
      if (record.questions[i].id == id) have += record.questions[i].times;
    }
    for (; have < static_cast<uint64_t>(count); ++have) {
      AddQuestion(job, when, id, kNoAnswer, true, id != 470);
    }
    int marked = 0;
    for (size_t i = record.questions.size(); i-- > state.loopStart && marked < count;) {
      if (record.questions[i].id == id) {
        record.questions[i].answer = kNoAnswer;
        marked += static_cast<int>(record.questions[i].times);
      }
    }
  }
  const std::string ended =
      std::to_string(count) + " questions in a row went unanswered: the monitor gave up";
  if (id == 470 || (state.phase == Phase::Ink && id == 0)) {
    EmptyWait(job, when, ended);
    return;
  }
  AddEvent(job, when, EventKind::Note, ended);
}

namespace {

std::string ButtonWord(long long button) {
  switch (button) {
    case 1:
      return "OK";
    case 2:
      return "Cancel";
    case 4:
      return "Retry";
    case 6:
      return "Yes";
    case 7:
      return "No";
    default:
      return "button " + std::to_string(button);
  }
}

}  // namespace

// Where a box went and what came back, as the log says it: the question its flow's lines showed
// gets the answer itself, or a new one where they show none (a question asked again).
void Reader::RouteLine(size_t job, const When& when, const Matched& matched) {
  const std::vector<long long>& n = matched.numbers;
  if (n.empty()) return;
  const unsigned id = static_cast<unsigned>(n[0]);
  const long long value = n.size() > 1 ? n[1] : 0;
  Job& record = report_.jobs[job];
  JobState& state = states_[job];
  std::string answer, note;
  bool shown = true;
  switch (matched.text) {
    case Text::BoxOwnerAnswered:
      answer = ButtonWord(value);
      note = "shown in the job owner's session";
      break;
    case Text::BoxOwnerTimedOut:
      answer = kNoAnswer;
      note =
          "shown in the job owner's session, not answered within " + std::to_string(value) + " s";
      break;
    case Text::BoxOwnerFailed:
      answer = kNoAnswer;
      note = "the spooler could not show it in the job owner's session (error " +
             std::to_string(value) + ")";
      break;
    default:
      answer = kNoAnswer;
      shown = false;
      note = "not shown: nobody sees session 0 (" + matched.string + ")";
      break;
  }
  if (id == 443) state.restartNoticed = true;
  size_t index;
  Question* last = record.questions.empty() ? nullptr : &record.questions.back();
  if (state.wait && record.waits[*state.wait].asked &&
      record.questions[*record.waits[*state.wait].asked].id == id) {
    index = *record.waits[*state.wait].asked;  // this round's box, counted by the round
  } else if (last != nullptr && last->id == id && !last->logged) {
    index = record.questions.size() - 1;  // the box its flow's lines showed
    last->claimed = true;
  } else if (last != nullptr && last->id == id && last->logged && last->answer == answer &&
             last->note == note && !EventsOf(job).empty() &&
             EventsOf(job).back().kind == EventKind::Question &&
             EventsOf(job).back().index == record.questions.size() - 1) {
    // Asked again right after itself, with the same answer: one row.
    ++last->times;
    last->last = when;
    record.end = when;
    return;
  } else {
    index = AddQuestion(job, when, id, "", false);
  }
  if (state.pending == index) state.pending.reset();
  Question& question = record.questions[index];
  question.logged = true;
  question.atLeast = false;
  question.answer = answer;
  if (question.before == answer) question.before.clear();
  question.note = note;
  question.shown = question.shown && shown;
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

// ---- Ink ----------------------------------------------------------------------------------

void Reader::AddInk(size_t job, const When& when, uint32_t spits, uint32_t limit, int level) {
  if (limit != 0 && lastLimit_ != 0 && limit != lastLimit_) family_ = Family::Unknown;
  if (limit != 0) lastLimit_ = limit;
  InkPoint point;
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
    point.check = report_.jobs[job].checks.back().number;
    report_.jobs[job].checks.back().ink = report_.ink.size();
  }
  report_.ink.push_back(point);
  state.ink = report_.ink.size() - 1;
  AddEvent(job, when, EventKind::Ink, "").index = report_.ink.size() - 1;
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

// ---- Tallies and unknown lines --------------------------------------------------------------

void Reader::Tally(const std::string& what, bool printer, const When& when,
                   std::optional<size_t> job) {
  auto found = tallyIndex_.find(what);
  if (found == tallyIndex_.end()) {
    langmon_report::Tally tally;
    tally.what = what;
    tally.printer = printer;
    tally.first = when;
    report_.errors.push_back(tally);
    found = tallyIndex_.emplace(what, report_.errors.size() - 1).first;
  }
  langmon_report::Tally& tally = report_.errors[found->second];
  // Reported again while the monitor waits for it, or right after itself in the same check: the
  // same occurrence, which lasts on.
  bool same = tally.reports > 0 && lastTally_ == found->second;
  if (tally.reports > 0 && job && states_[*job].wait) {
    const Wait& wait = report_.jobs[*job].waits[*states_[*job].wait];
    same =
        same || (tally.last.ms >= wait.from.ms && tally.jobs.count(report_.jobs[*job].number) != 0);
  }
  if (same) {
    tally.lastedMs += when.ms - tally.last.ms;
  } else {
    ++tally.count;
    tally.since = when.ms;
  }
  ++tally.reports;
  tally.last = when;
  lastTally_ = found->second;
  if (job) tally.jobs.insert(report_.jobs[*job].number);
}

void Reader::Note(const std::string& text) {
  if (report_.notes.size() >= kNotesKept) {
    ++report_.notesLeftOut;
    return;
  }
  report_.notes.push_back(text);
}

void Reader::CannotShow(const std::string& text) {
  if (std::find(report_.cannotShow.begin(), report_.cannotShow.end(), text) ==
      report_.cannotShow.end()) {
    report_.cannotShow.push_back(text);
  }
}

void Reader::Unknown(const std::string& text, size_t line, bool badFormat) {
  ++report_.unknownCount;
  auto found = unknownIndex_.find(text);
  if (found != unknownIndex_.end()) {
    ++report_.unknown[found->second].count;
    return;
  }
  if (report_.unknown.size() >= kUnknownKept) return;
  report_.unknown.push_back(
      {text.size() > kUnknownLength ? text.substr(0, kUnknownLength) + "..." : text, 1, line,
       badFormat});
  unknownIndex_.emplace(text, report_.unknown.size() - 1);
}

void Reader::Unreadable(const BadLine& line) { Unknown(line.text, line.line, true); }

// ---- Lines --------------------------------------------------------------------------------

void Reader::Feed(const Record& record) {
  const When when{record.ms, record.when, record.line};
  if (report_.records == 0) report_.first = when;
  report_.last = when;
  ++report_.records;
  const Matched matched = MatchLogText(record.text);
  if (matched.text == Text::Unknown) {
    Unknown(record.text, record.line, false);
    return;
  }
  if (!sawRecord_ && matched.text != Text::InitCalled) report_.startsMidway = true;
  sawRecord_ = true;
  if (!open_.empty()) {
    const size_t job = open_.back();
    Resolve(job, matched.text);
    if (states_[job].wait && !PartOfWait(job, matched.text)) {
      const JobState& state = states_[job];
      const Job& current = report_.jobs[job];
      const Wait& wait = current.waits[*state.wait];
      std::string ended;
      const Text text = matched.text;
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
  }
  JobLine(record, when, matched);
}

void Reader::JobLine(const Record& record, const When& when, const Matched& matched) {
  const Text text = matched.text;
  const long long number = matched.numbers.empty() ? 0 : matched.numbers.front();
  const FailureText failure = Failure(text);
  const auto starting = [&]() { return starting_ ? *starting_ : CurrentJob(when); };

  switch (text) {
    case Text::InitCalled:
      ++report_.sessions;
      if (!open_.empty()) {
        Note("The monitor started again (line " + std::to_string(record.line) +
             ") while a job was still open: another spooler process writes to the same log, or "
             "the spooler was restarted. Lines after it are given to the latest job.");
      }
      return;
    case Text::OpenPortCalled:
    case Text::OpenPortReturn:
    case Text::OpenPortCleanup:
    case Text::ClosePortCalled:
    case Text::ClosePortReturning:
    case Text::StartReturn:
    case Text::EndReturning:
    case Text::AbortEnd:
    case Text::StatusRightSize:
    case Text::StatusReturnFalse:
    case Text::BoxNotShown:
    case Text::Shutdown:
    case Text::NoProgressDialog:
      return;
    case Text::BoxOwnerAnswered:
    case Text::BoxOwnerTimedOut:
    case Text::BoxOwnerFailed:
    case Text::BoxNobody: {
      // A notice at a failed start comes before the job is open.
      std::optional<size_t> job = starting_;
      if (!job && !open_.empty()) job = open_.back();
      if (job && !knowsBoxes_) RouteLine(*job, when, matched);
      return;
    }
    case Text::InitNoRoot:
    case Text::InitTimeoutsFailed:
    case Text::InitTimeoutNotKept:
    case Text::OpenPortFailed:
    case Text::OpenPortInvalid:
    case Text::OpenPortNotFound:
    case Text::OpenPortNoTimeouts:
      Tally(failure.words, failure.printer, when);
      return;

    case Text::StartCalled: {
      if (starting_) Close(*starting_, when);
      const size_t job = NewJob(when, true);
      starting_ = job;
      AddEvent(job, when, EventKind::Start, "the spooler starts the job");
      return;
    }
    case Text::StartReturnTrue: {
      lastTally_.reset();  // a job that starts ends a run of failed starts
      const size_t job = starting();
      if (starting_) {
        for (size_t other : open_) {
          report_.jobs[other].overlaps.insert(report_.jobs[job].number);
          report_.jobs[job].overlaps.insert(report_.jobs[other].number);
          report_.overlapping = true;
        }
        open_.push_back(job);
        starting_.reset();
      }
      return;
    }
    case Text::StartReturnFalse:
    case Text::StartInvalid:
    case Text::StartBadLevel:
    case Text::StartBusy: {
      const size_t job = starting();
      Job& record = report_.jobs[job];
      record.outcome = Outcome::FailedStart;
      if (text == Text::StartBusy) record.outcomeNote = "another job was in progress on the port";
      if (text == Text::StartInvalid || text == Text::StartBadLevel) {
        record.outcomeNote = "the spooler's call was not valid";
      }
      AddEvent(job, when, EventKind::Outcome, OutcomeWords(Outcome::FailedStart));
      record.endSeen = true;
      Close(job, when);
      return;
    }
    case Text::StartNoRecord:
    case Text::StartNoPrinter:
    case Text::StartPortFailed: {
      const size_t job = starting();
      Tally(failure.words, failure.printer, when, job);
      AddEvent(job, when, EventKind::Failure, failure.words);
      return;
    }
    case Text::StartWarned: {
      const size_t job = starting();
      if (!knowsBoxes_) AddQuestion(job, when, 455, "");
      return;
    }
    case Text::StartNotWarned:
      AddEvent(starting(), when, EventKind::Note,
               "a failed start was reported already: no box this time");
      return;

    case Text::EndCalled: {
      const size_t job = CurrentJob(when);
      Job& record = report_.jobs[job];
      if (record.outcome == Outcome::Unknown) record.outcome = Outcome::Printed;
      if (states_[job].inCheck) EndCheck(job, when, CheckResult::Running);
      AddEvent(job, when, EventKind::Outcome,
               std::string("the spooler ends the job: ") + OutcomeWords(record.outcome));
      record.endSeen = true;
      Close(job, when);
      return;
    }
    case Text::AbortBegin: {
      const size_t job = CurrentJob(when);
      EndCheck(job, when, CheckResult::Failed);
      report_.jobs[job].outcome = Outcome::Deleted;
      AddEvent(job, when, EventKind::Outcome,
               "the monitor deletes the job (and any other job queued on its port)");
      return;
    }
    case Text::AbortSetJobFailed: {
      const size_t job = CurrentJob(when);
      Tally(failure.words, failure.printer, when, job);
      AddEvent(job, when, EventKind::Failure,
               std::string(failure.words) + " (error " + std::to_string(number) + ")");
      return;
    }
    case Text::CheckFailed:
    case Text::CheckPassed: {
      const size_t job = CurrentJob(when);
      EndCheck(job, when, text == Text::CheckPassed ? CheckResult::Passed : CheckResult::Failed);
      return;
    }
    case Text::HeaderFound:
      BeginCheck(CurrentJob(when), when);
      return;
    case Text::HeaderWithoutJob:
      AddEvent(CurrentJob(when), when, EventKind::Note,
               "a job header went to the printer unchecked: the job has no record");
      return;
    case Text::FirstWrite:
      Fold(CurrentJob(when), when, EventKind::Write,
           "write passed on unchecked (a job's first write, a command job or a file port)");
      return;
    case Text::EmptyWrite:
      AddEvent(CurrentJob(when), when, EventKind::Note, "a write of 0 bytes");
      return;
    case Text::WriteFailed: {
      const size_t job = CurrentJob(when);
      Tally(failure.words, failure.printer, when, job);
      AddEvent(job, when, EventKind::Failure, failure.words);
      if (report_.jobs[job].outcome == Outcome::Unknown)
        report_.jobs[job].outcome = Outcome::Stopped;
      return;
    }
    default:
      break;
  }

  if (IsStatusText(text)) {
    std::string words = failure.words;
    if (text == Text::StatusWrongSize) words += " (" + std::to_string(number) + " bytes)";
    if (open_.empty() || !states_[open_.back()].inCheck) {
      Tally(words, true, when);
      return;
    }
    const size_t job = open_.back();
    JobState& state = states_[job];
    if (!state.statusFailed) state.statusFailed = when;
    Tally(words, true, when, job);
    if (state.wait) {
      ++report_.jobs[job].waits[*state.wait].statusFailures;
      return;
    }
    Fold(job, when, EventKind::Status, words);
    return;
  }
  if (failure.words != nullptr &&
      (text == Text::BoxNoString || text == Text::BoxNoText || text == Text::BoxNoTitle ||
       text == Text::AppDataNoMemory || text == Text::AppDataTooLong || text == Text::AppDataLink ||
       text == Text::AppDataManyLinks || text == Text::AppDataNotChecked ||
       text == Text::AppDataNotDiskFile || text == Text::AppDataNotFolderName ||
       text == Text::AppDataDeviceName)) {
    // These may come outside a check, at a job's start.
    std::optional<size_t> job = starting_;
    if (!job && !open_.empty()) job = open_.back();
    Tally(failure.words, failure.printer, when, job);
    if (job) {
      Fold(*job, when, EventKind::Failure, failure.words);
      if (text != Text::BoxNoTitle) states_[*job].boxFailed = true;
    }
    return;
  }

  // Everything else belongs to a pre-job check.
  const size_t job = CurrentJob(when);
  if (!states_[job].inCheck) {
    BeginCheck(job, when);
    if (text != Text::CheckBegin) {
      Note("Check " + std::to_string(report_.jobs[job].checks.size()) + " of job " +
           std::to_string(report_.jobs[job].number) +
           " began before the lines that show it (line " + std::to_string(record.line) + ").");
    }
  }
  if (failure.words != nullptr) {
    Tally(failure.words, failure.printer, when, job);
    if (text != Text::CheckNoStatus && text != Text::InstallNoStatus &&
        text != Text::CartridgeMissing) {
      Fold(job, when, failure.printer ? EventKind::PrinterError : EventKind::Failure,
           failure.words);
    }
  }
  CheckLine(job, when, matched);
}

void Reader::CheckLine(size_t job, const When& when, const Matched& matched) {
  JobState& state = states_[job];
  Job& record = report_.jobs[job];
  const std::vector<long long>& n = matched.numbers;
  const long long number = n.empty() ? 0 : n.front();
  const bool infer = !knowsBoxes_;

  switch (matched.text) {
    case Text::CheckBegin:
    case Text::CheckGettingStatus:
      state.phase = Phase::Status;
      return;
    case Text::CheckNoStatus: {
      // Each try that fails asks 454 and reads again: one wait for the printer to answer.
      if (state.wait && state.waitKind == WaitKind::Status) {
        Round(job, when, 0);
        Round(job, when, 454);
        return;
      }
      const size_t wait = OpenWait(job, state.statusFailed.value_or(when), when, WaitKind::Status,
                                   "a status record from the printer", 454);
      if (infer) {
        state.pending = AddQuestion(job, when, 454, kNotKnown, true, false);
        record.waits[wait].asked = state.pending;
      }
      return;
    }
    case Text::CheckGotStatus:
      state.statusFailed.reset();
      return;
    case Text::CheckErrors:
      state.phase = Phase::Errors;
      state.loopStart = record.questions.size();
      return;
    case Text::CheckErrorFound:
      Tally("the printer reports " + FlagsText(number), true, when, job);
      if (state.wait && state.waitKind == WaitKind::PrinterError) {
        if (state.errorFlags == number || state.errorFlags < 0) {  // < 0: a cut log's first
          state.errorFlags = number;
          Round(job, when, 0);
          return;
        }
        CloseWait(job, when, "the printer reported " + FlagsText(number) + " instead");
      }
      state.errorFlags = number;
      state.errorSeen = when;
      AddEvent(job, when, EventKind::PrinterError, "the printer reports " + FlagsText(number));
      return;
    case Text::OutOfStock:
    case Text::TofSensor: {
      // Each round asks again and reads the status again: one wait for the printer.
      const unsigned id = matched.text == Text::OutOfStock ? 436 : 468;
      if (state.wait && state.waitKind == WaitKind::PrinterError) {
        Round(job, when, id);
        return;
      }
      const size_t wait = OpenWait(job, state.errorSeen.line != 0 ? state.errorSeen : when, when,
                                   WaitKind::PrinterError,
                                   id == 436 ? "label stock: the printer reports it out"
                                             : "the label sensor (TOF) error to be cleared",
                                   id);
      if (infer) {
        state.pending = AddQuestion(job, when, id, kNotKnown, true, false);
        record.waits[wait].asked = state.pending;
      }
      return;
    }
    case Text::Unrecoverable:
      if (infer) AddQuestion(job, when, 440, "");
      AddEvent(job, when, EventKind::Note, "an unrecoverable printer error: the job stops");
      return;
    case Text::Unanswered:
      Unanswered(job, when, static_cast<int>(number));
      return;
    case Text::EmptyInstall:
    case Text::EmptyCleared: {
      const bool install = matched.text == Text::EmptyInstall;
      if (infer) {
        const size_t asked =
            AddQuestion(job, when, 470, install ? "Yes" : "No, or no answer", true, false);
        if (!record.questions[asked].logged) {
          record.questions[asked].atLeast = true;
          record.questions[asked].note =
              "asked again after each No while the cartridge stays empty";
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
      return;
    }
    case Text::SameCartridge:
      AddEvent(job, when, EventKind::Failure, "the cartridge in the printer is not a new one");
      if (infer) AddQuestion(job, when, 443, "");
      state.restartNoticed = true;
      return;
    case Text::InkCheck:
      state.phase = Phase::Ink;
      state.loopStart = record.questions.size();
      AddInk(job, when, static_cast<uint32_t>(number),
             n.size() > 1 ? static_cast<uint32_t>(n[1]) : 0,
             n.size() > 2 ? static_cast<int>(n[2]) : 0);
      return;
    case Text::InkLow:
      if (infer) state.pending = AddQuestion(job, when, 469, kNotKnown);
      return;
    case Text::InkSpits:
      if (!state.ink) AddInk(job, when, static_cast<uint32_t>(number), 0, 0);
      return;
    case Text::InkLimit:
      if (state.ink && report_.ink[*state.ink].limit == 0) {
        report_.ink[*state.ink].limit = static_cast<uint32_t>(number);
      }
      return;
    case Text::InkOriginalLevel:
      if (state.ink && report_.ink[*state.ink].levelBefore == 0) {
        report_.ink[*state.ink].levelBefore = static_cast<int>(number);
      }
      return;
    case Text::InkNewLevel:
      if (state.ink) report_.ink[*state.ink].levelAfter = static_cast<int>(number);
      return;
    case Text::AlignBypassed:
      AddEvent(job, when, EventKind::Note, "the alignment check is switched off in the settings");
      return;
    case Text::AlignNeeded:
      state.phase = Phase::Align;
      state.loopStart = record.questions.size();
      state.alignNeeded = true;
      AddEvent(job, when, EventKind::Note, "the new cartridge needs an alignment");
      if (infer) state.pending = AddQuestion(job, when, 400, kNotKnown);
      return;
    case Text::AlignCancelled:
      AddEvent(job, when, EventKind::Note, "no alignment: the user cancelled it");
      return;
    case Text::AlignFailed:
      if (infer) AddQuestion(job, when, 422, "");
      AddEvent(job, when, EventKind::Failure, "the alignment failed");
      return;
    case Text::AlignStatusArrived:
      AddEvent(job, when, EventKind::Note, "the printer's status after the alignment print came");
      state.alignArrived = true;
      return;
    case Text::ProgressDialog:
      Fold(job, when, EventKind::Note, "the progress dialog \"Aligning the printer...\" is up");
      return;
    case Text::PrintFileName: {
      const bool black = EndsWithNoCase(matched.string, "VMAl250K.PRN");
      if (black || EndsWithNoCase(matched.string, "VM_Al250.PRN")) {
        LearnFamily(black ? Family::Black : Family::Colour);
      }
      if (infer) {
        // A second print after the status came: the values were invalid and the user chose OK.
        if (state.alignArrived) AddQuestion(job, when, 453, kWentOn);
        const size_t slash = matched.string.find_last_of("\\/");
        AddEvent(
            job, when, EventKind::AlignmentPrint,
            "alignment print file " +
                (slash == std::string::npos ? matched.string : matched.string.substr(slash + 1)));
      }
      state.alignArrived = false;
      return;
    }
    case Text::CartridgeInvalid:
      Tally("invalid cartridge installed", true, when, job);
      AddEvent(job, when, EventKind::PrinterError,
               "the printer reports an invalid cartridge (state " + std::to_string(number) + ")");
      return;
    case Text::CartridgeMissing:
      AddEvent(job, when, EventKind::PrinterError, "no cartridge installed");
      return;
    case Text::InstallBegin:
      state.phase = Phase::Install;
      state.loopStart = record.questions.size();
      AddEvent(job, when, EventKind::Cartridge, "cartridge change");
      return;
    case Text::InstallPrompted:
      if (infer) {
        const size_t asked = AddQuestion(job, when, 427, "");
        // The start command went just before the box; its route may have logged it earlier.
        std::vector<Event>& events = EventsOf(job);
        size_t at = events.size();
        while (at > 0 &&
               !(events[at - 1].kind == EventKind::Question && events[at - 1].index == asked)) {
          --at;
        }
        Event start;
        start.when = record.questions[asked].when;
        start.kind = EventKind::Command;
        start.text = "cartridge-change start command (1B 2A 05 00)";
        start.inferred = true;
        if (at == 0) {
          events.push_back(start);
        } else {
          events.insert(events.begin() + static_cast<std::ptrdiff_t>(at - 1), start);
        }
        AddEvent(job, when, EventKind::Command, "cartridge-change end command (1B 2A 05 01)", true);
      }
      return;
    case Text::InstallNoStatus:
      AddEvent(job, when, EventKind::PrinterError, "no cartridge information from the printer");
      if (infer) state.pending = AddQuestion(job, when, 464, kNotKnown);
      return;
    case Text::InstallResult:
      if (number == 0) {
        AddEvent(job, when, EventKind::Cartridge, "the printer reports a good cartridge");
        ++cartridge_;
        ++report_.cartridgeChanges;
        unknownFamilyFrom_ = report_.ink.size();
        family_ = Family::Unknown;
      } else if (infer && (number == 5 || number == 6)) {
        state.pending = AddQuestion(job, when, number == 5 ? 450 : 445, kNotKnown);
      }
      return;
    case Text::ResetBlack:
    case Text::ResetColour: {
      const bool black = matched.text == Text::ResetBlack;
      AddEvent(job, when, EventKind::Cartridge,
               std::string("a different cartridge: the ") + (black ? "black" : "colour") +
                   " warn level starts over");
      LearnFamily(black ? Family::Black : Family::Colour);
      return;
    }
    default:
      return;
  }
}

// ---- Facts of a simulated run ---------------------------------------------------------------

void Reader::NameNextJob(const std::string& name) { nextName_ = name; }

void Reader::Box(const When& when, unsigned id, const std::string& answer, bool notice) {
  const size_t job = starting_ ? *starting_ : CurrentJob(when);
  Job& record = report_.jobs[job];
  JobState& state = states_[job];
  // A wait's box, or a box asked again right after itself, with the same answer: one row.
  std::optional<size_t> same;
  if (state.wait && record.waits[*state.wait].question == id) {
    Wait& wait = record.waits[*state.wait];
    if (!wait.asked) {
      wait.asked = AddQuestion(job, when, id, answer, false, false);
      record.questions[*wait.asked].notice = notice;
      return;
    }
    Question& asked = record.questions[*wait.asked];
    if (asked.answer != answer) {
      asked.before = asked.answer;
      asked.answer = answer;
    }
    same = wait.asked;
  } else if (!record.questions.empty() && record.questions.back().id == id &&
             record.questions.back().answer == answer && !EventsOf(job).empty() &&
             EventsOf(job).back().kind == EventKind::Question &&
             EventsOf(job).back().index == record.questions.size() - 1) {
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
  for (size_t i = record.checks.size(); i-- > 0;) {
    if (record.checks[i].when.ms <= when.ms) {
      events = &record.checks[i].events;
      break;
    }
  }
  Event event;
  event.when = when;
  event.kind = alignmentPrint ? EventKind::AlignmentPrint : EventKind::Command;
  event.text = text;
  events->push_back(event);
}

void Reader::JobEnded(Outcome outcome) {
  if (report_.jobs.empty()) return;
  Job& record = report_.jobs.back();
  record.outcome = outcome;
  if (outcome != Outcome::Unknown) record.endSeen = true;
}

Report Reader::Finish(const std::string& source, const std::string& clock) {
  for (size_t job = 0; job < report_.jobs.size(); ++job) {
    if (states_[job].inCheck) EndCheck(job, report_.last, CheckResult::Running);
    Job& record = report_.jobs[job];
    if (!record.endSeen && record.outcome == Outcome::Unknown) {
      record.outcomeNote = record.startSeen ? "the log shows no end for it"
                                            : "it began before the log does, and the log shows "
                                              "no end for it";
    }
    const auto byTime = [](const Event& a, const Event& b) { return a.when.ms < b.when.ms; };
    std::stable_sort(record.events.begin(), record.events.end(), byTime);
    for (Check& check : record.checks) {
      std::stable_sort(check.events.begin(), check.events.end(), byTime);
      for (const Event& event : check.events) {
        const bool plainInk =
            event.kind == EventKind::Ink && event.index < report_.ink.size() &&
            report_.ink[event.index].levelAfter.value_or(0) <= report_.ink[event.index].levelBefore;
        check.eventful = check.eventful || !plainInk;
      }
      check.eventful = check.eventful || check.result != CheckResult::Passed;
    }
  }
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
  return std::move(report_);
}

LogFileReader::LogFileReader()
    : lines_([this](const Record& record) { reader_.Feed(record); },
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

std::optional<Report> ReadLog(std::string_view bytes, const std::string& source,
                              std::string* error) {
  LogFileReader reader;
  reader.Feed(bytes);
  return reader.Finish(source, error);
}

}  // namespace langmon_report
