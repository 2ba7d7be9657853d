// The report's lists as the reader fills them: jobs, checks, timeline lines, boxes, waits, ink
// checks, error tallies and unrecognised lines, each within the page's limits. Past a limit a
// list keeps its last entry for the latest one (its `beyond` counts what it stands for), and
// what that entry held before is counted, not listed; timeline lines past theirs are only
// counted. So the reader's memory and the page stay bounded however long the log is.
#include <algorithm>
#include <functional>
#include <utility>

#include "tools/langmon-report/questions.h"
#include "tools/langmon-report/reader.h"

namespace langmon_report {

namespace {

// A list's last entry stands for the latest of those past the limit.
template <class T>
bool Standing(const std::vector<T>& list) {
  return !list.empty() && list.back().beyond > 0;
}

// The place for a new entry: a new one while fewer than `limit` of its kind are listed, else the
// list's last entry again. `replaced` gets what that entry held before.
template <class T>
T& Place(std::vector<T>& list, size_t& held, size_t limit,
         const std::function<void(T&)>& replaced) {
  if (!Standing(list) && held < limit) {
    ++held;
    return list.emplace_back();
  }
  if (!Standing(list)) {
    list.emplace_back().beyond = 1;
    return list.back();
  }
  T& last = list.back();
  replaced(last);
  const uint64_t beyond = last.beyond + 1;
  last = T{};
  last.beyond = beyond;
  return last;
}

uint64_t AlignmentPrints(const std::vector<Event>& events) {
  return static_cast<uint64_t>(std::count_if(events.begin(), events.end(), [](const Event& e) {
    return e.kind == EventKind::AlignmentPrint;
  }));
}

}  // namespace

// ---- Jobs -----------------------------------------------------------------------------------

// Past the limit a new job takes the place of the oldest ended one beyond it: those listed past
// the limit are the latest jobs, as many as are in use at once and one more.
size_t Reader::JobPlace() {
  size_t place = report_.jobs.size();
  for (size_t i = std::min(limits_.jobs, report_.jobs.size()); i < report_.jobs.size(); ++i) {
    if (!states_[i].inUse &&
        (place == report_.jobs.size() || report_.jobs[i].number < report_.jobs[place].number)) {
      place = i;
    }
  }
  if (place == report_.jobs.size()) {
    report_.jobs.emplace_back();
    states_.emplace_back();
    return place;
  }
  Unlist(report_.jobs[place], &report_.unlisted);
  report_.jobs[place] = Job{};
  states_[place] = JobState{};
  return place;
}

// What a job held, counted as not listed; what it listed no longer counts against the limits.
void Reader::Unlist(const Job& job, Counts* into) {
  ++into->jobs;
  ++into->outcomes[job.outcome];
  for (const Check& check : job.checks) {
    ++into->checks;
    if (check.result == CheckResult::Failed) ++into->failedChecks;
    into->alignmentPrints += AlignmentPrints(check.events);
    into->events += check.events.size() + check.eventsLeftOut;
    eventsHeld_ -= check.events.size();
    if (check.beyond == 0) --checksHeld_;
  }
  for (const Question& question : job.questions) {
    CountBox(question, into);
    if (question.beyond == 0) --boxesHeld_;
  }
  for (const Wait& wait : job.waits) {
    ++into->waits;
    if (wait.beyond == 0) --waitsHeld_;
  }
  for (const Event& event : job.events) {
    if (event.kind != EventKind::Check) --eventsHeld_;
  }
  into->events += job.events.size() + job.eventsLeftOut;
  const Counts& inside = job.unlisted;
  into->checks += inside.checks;
  into->failedChecks += inside.failedChecks;
  into->alignmentPrints += inside.alignmentPrints;
  into->waits += inside.waits;
  into->events += inside.events;
  into->boxes += inside.boxes;
  for (const auto& [id, count] : inside.boxesById) {
    const unsigned kept =
        into->boxesById.count(id) != 0 || into->boxesById.size() < limits_.boxKinds ? id : 0;
    into->boxesById[kept] += count;
  }
}

void Reader::CountBox(const Question& question, Counts* into) const {
  if (!question.shown) return;
  into->boxes += question.times;
  const bool listed =
      into->boxesById.count(question.id) != 0 || into->boxesById.size() < limits_.boxKinds;
  into->boxesById[listed ? question.id : 0] += question.times;
}

size_t Reader::NewJob(const When& when, bool startSeen) {
  const size_t index = JobPlace();
  Job& job = report_.jobs[index];
  job.number = ++jobsSeen_;
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
  return index;
}

// The job a line belongs to: the latest one still open. A line of a job that the log does not
// show starting (a cut log) opens one.
size_t Reader::CurrentJob(const When& when) {
  if (!open_.empty()) return open_.back();
  const size_t job = NewJob(when, false);
  Open(job, when);
  return job;
}

// A job open too long beside the others (its end is not in the log) is closed: the lines of the
// open jobs go to the latest of them anyway.
void Reader::Open(size_t job, const When& when) {
  open_.push_back(job);
  if (open_.size() <= limits_.openJobs) return;
  const size_t oldest = open_.front();
  Note([&] {
    return "Job " + std::to_string(report_.jobs[oldest].number) + " was still open when " +
           std::to_string(limits_.openJobs) + " later jobs had started (line " +
           std::to_string(when.line) + "): it is taken as ended there, its end not in the log.";
  });
  Close(oldest, when);
}

void Reader::Close(size_t job, const When& when) {
  if (states_[job].inCheck) EndCheck(job, when, CheckResult::Running);
  report_.jobs[job].end = when;
  open_.erase(std::remove(open_.begin(), open_.end(), job), open_.end());
  if (starting_ == job) starting_.reset();
  states_[job].inUse = false;
}

// ---- Checks and timeline lines ----------------------------------------------------------------

Check& Reader::BeginCheck(size_t job, const When& when) {
  JobState& state = states_[job];
  Job& record = report_.jobs[job];
  if (state.inCheck) EndCheck(job, when, CheckResult::Running);
  const bool standing = Standing(record.checks);
  Check& check = Place<Check>(record.checks, checksHeld_, limits_.checks, [&](Check& replaced) {
    Counts& unlisted = record.unlisted;
    ++unlisted.checks;
    if (replaced.result == CheckResult::Failed) ++unlisted.failedChecks;
    unlisted.alignmentPrints += AlignmentPrints(replaced.events);
    unlisted.events += replaced.events.size() + replaced.eventsLeftOut;
    eventsHeld_ -= replaced.events.size();
  });
  check.when = when;
  check.number = static_cast<unsigned>(++state.checks);
  // One line per check on the job's timeline, past the limit on lines too: the checks' limit
  // bounds them.
  if (!standing) {
    Event event;
    event.when = when;
    event.kind = EventKind::Check;
    event.index = record.checks.size() - 1;
    record.events.push_back(std::move(event));
  }
  // A check starts afresh; the job's own counts carry on.
  JobState fresh;
  fresh.checks = state.checks;
  fresh.boxes = state.boxes;
  fresh.waits = state.waits;
  state = fresh;
  lastTally_.reset();
  state.inCheck = true;
  state.phase = Phase::Status;
  state.loopStart = record.questions.size();
  return check;
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

Reader::EventList Reader::EventsOf(size_t job) {
  Job& record = report_.jobs[job];
  if (states_[job].inCheck)
    return {record.checks.back().events, record.checks.back().eventsLeftOut};
  return {record.events, record.eventsLeftOut};
}

Event& Reader::AddEvent(size_t job, const When& when, EventKind kind, std::string_view text,
                        bool inferred) {
  report_.jobs[job].end = when;
  const EventList list = EventsOf(job);
  Event* event = &unlistedEvent_;
  if (eventsHeld_ < limits_.events) {
    ++eventsHeld_;
    event = &list.events.emplace_back();
  } else {
    ++list.leftOut;
    unlistedEvent_ = Event{};
  }
  event->when = when;
  event->kind = kind;
  event->text = text;
  event->inferred = inferred;
  return *event;
}

// The same event again right after itself (a status wait logs the same failure many times)
// makes one event with a count. Past the limit on lines nothing is known to come right after.
void Reader::Fold(size_t job, const When& when, EventKind kind, std::string_view text) {
  const EventList list = EventsOf(job);
  if (list.leftOut == 0 && !list.events.empty() && list.events.back().kind == kind &&
      list.events.back().text == text) {
    ++list.events.back().count;
    report_.jobs[job].end = when;
    return;
  }
  AddEvent(job, when, kind, text);
}

// Whether the job's latest timeline line is the box `question`, with nothing left out since.
bool Reader::LatestEventIs(size_t job, size_t question) {
  const EventList list = EventsOf(job);
  if (list.leftOut != 0 || list.events.empty()) return false;
  const Event& event = list.events.back();
  return event.kind == EventKind::Question && event.index == question &&
         event.serial == report_.jobs[job].questions[question].serial;
}

// ---- Boxes, waits and ink checks ----------------------------------------------------------------

size_t Reader::NewQuestion(size_t job) {
  Job& record = report_.jobs[job];
  Question& question =
      Place<Question>(record.questions, boxesHeld_, limits_.boxes,
                      [&](Question& replaced) { CountBox(replaced, &record.unlisted); });
  question.serial = ++states_[job].boxes;
  return record.questions.size() - 1;
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
  const size_t index = NewQuestion(job);
  Question& question = record.questions[index];
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
  if (event) {
    Event& added = AddEvent(job, when, EventKind::Question, "", inferred);
    added.index = index;
    added.serial = question.serial;
  }
  return index;
}

size_t Reader::NewWait(size_t job) {
  Job& record = report_.jobs[job];
  Wait& wait =
      Place<Wait>(record.waits, waitsHeld_, limits_.waits, [&](Wait&) { ++record.unlisted.waits; });
  wait.serial = ++states_[job].waits;
  return record.waits.size() - 1;
}

size_t Reader::NewInkPoint() {
  size_t held = std::min(report_.ink.size(), limits_.inkChecks);
  InkPoint& point = Place<InkPoint>(report_.ink, held, limits_.inkChecks,
                                    [&](InkPoint&) { ++report_.unlisted.inkChecks; });
  point.serial = ++inkSeen_;
  // The latest point may still learn its cartridge's family.
  unknownFamilyFrom_ = std::min(unknownFamilyFrom_, report_.ink.size() - 1);
  return report_.ink.size() - 1;
}

// ---- Tallies, notes and unknown lines --------------------------------------------------------

void Reader::Tally(std::string_view what, bool printer, const When& when,
                   std::optional<size_t> job) {
  auto found = tallyIndex_.find(what);
  size_t index;
  if (found != tallyIndex_.end()) {
    index = found->second;
  } else if (tallyIndex_.size() < limits_.errorKinds) {
    langmon_report::Tally tally;
    tally.what = what;
    tally.printer = printer;
    tally.first = when;
    report_.errors.push_back(std::move(tally));
    index = tallyIndex_.emplace(what, report_.errors.size() - 1).first->second;
  } else {
    // Kinds past the limit are counted together.
    std::optional<size_t>& others = otherTally_[printer ? 1 : 0];
    if (!others) {
      langmon_report::Tally tally;
      tally.what = printer ? "other printer errors" : "other failures";
      tally.printer = printer;
      tally.first = when;
      tally.others = true;
      report_.errors.push_back(std::move(tally));
      others = report_.errors.size() - 1;
    }
    index = *others;
  }
  langmon_report::Tally& tally = report_.errors[index];
  const unsigned number = job ? report_.jobs[*job].number : 0;
  // Reported again while the monitor waits for it, or right after itself in the same check: the
  // same occurrence, which lasts on.
  bool same = tally.reports > 0 && lastTally_ == index;
  if (tally.reports > 0 && job && states_[*job].wait) {
    const Wait& wait = report_.jobs[*job].waits[*states_[*job].wait];
    same = same || (tally.last.ms >= wait.from.ms &&
                    (tally.jobs.count(number) != 0 || tally.lastJob == number));
  }
  if (same && !tally.others) {
    tally.lastedMs += when.ms - tally.last.ms;
  } else {
    ++tally.count;
    tally.since = when.ms;
  }
  ++tally.reports;
  tally.last = when;
  lastTally_ = index;
  if (!job) return;
  tally.lastJob = number;
  if (tally.jobs.count(number) != 0) return;
  if (tally.jobs.size() < limits_.jobsPerErrorKind) {
    tally.jobs.insert(number);
  } else if (number > tally.lastLeftOutJob) {
    ++tally.jobsLeftOut;
    tally.lastLeftOutJob = number;
  }
}

void Reader::CannotShow(const std::string& text) {
  if (std::find(report_.cannotShow.begin(), report_.cannotShow.end(), text) ==
      report_.cannotShow.end()) {
    report_.cannotShow.push_back(text);
  }
}

// Lines are told apart by a hash of the whole and the start the page lists: a long line costs no
// more than a short one, and one seen before nothing at all.
void Reader::Unknown(const std::string& text, size_t line, bool badFormat) {
  ++report_.unknownCount;
  const size_t hash = std::hash<std::string>{}(text);
  const bool cut = text.size() > limits_.unknownLength;
  const std::string_view listed = std::string_view(text).substr(0, limits_.unknownLength);
  const auto [from, to] = unknownIndex_.equal_range(hash);
  for (auto known = from; known != to; ++known) {
    UnknownLine& seen = report_.unknown[known->second];
    if (seen.text.size() == listed.size() + (cut ? 3 : 0) &&
        std::string_view(seen.text).substr(0, listed.size()) == listed) {
      ++seen.count;
      return;
    }
  }
  if (report_.unknown.size() >= limits_.unknownLines) return;
  report_.unknown.push_back({std::string(listed) + (cut ? "..." : ""), 1, line, badFormat});
  unknownIndex_.emplace(hash, report_.unknown.size() - 1);
}

void Reader::Unreadable(const BadLine& line) { Unknown(line.text, line.line, true); }

}  // namespace langmon_report
