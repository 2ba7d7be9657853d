#include "tools/langmon-report/report.h"

namespace langmon_report {

const char* OutcomeName(Outcome outcome) {
  switch (outcome) {
    case Outcome::Printed:
      return "printed";
    case Outcome::Deleted:
      return "deleted";
    case Outcome::FailedStart:
      return "failed_start";
    case Outcome::Stopped:
      return "stopped";
    case Outcome::Waiting:
      return "waiting";
    case Outcome::Unknown:
      break;
  }
  return "unknown";
}

const char* OutcomeWords(Outcome outcome) {
  switch (outcome) {
    case Outcome::Printed:
      return "printed";
    case Outcome::Deleted:
      return "deleted by the monitor";
    case Outcome::FailedStart:
      return "did not start";
    case Outcome::Stopped:
      return "stopped: a write failed";
    case Outcome::Waiting:
      return "still waiting for the printer";
    case Outcome::Unknown:
      break;
  }
  return "end not known";
}

const char* EventKindName(EventKind kind) {
  switch (kind) {
    case EventKind::Start:
      return "start";
    case EventKind::Write:
      return "write";
    case EventKind::Check:
      return "check";
    case EventKind::Status:
      return "status";
    case EventKind::PrinterError:
      return "printer";
    case EventKind::Question:
      return "question";
    case EventKind::Command:
      return "command";
    case EventKind::AlignmentPrint:
      return "alignment";
    case EventKind::Cartridge:
      return "cartridge";
    case EventKind::Ink:
      return "ink";
    case EventKind::Failure:
      return "failure";
    case EventKind::Outcome:
      return "outcome";
    case EventKind::Wait:
      return "wait";
    case EventKind::Note:
      break;
  }
  return "note";
}

const char* FamilyName(Family family) {
  switch (family) {
    case Family::Colour:
      return "colour";
    case Family::Black:
      return "black";
    case Family::PigmentBlack:
      return "pigment-black";
    case Family::Unknown:
      break;
  }
  return "unknown";
}

const char* FamilyWords(Family family) {
  switch (family) {
    case Family::Colour:
      return "colour cartridge";
    case Family::Black:
      return "black cartridge";
    case Family::PigmentBlack:
      return "pigment black cartridge";
    case Family::Unknown:
      break;
  }
  return "cartridge of unknown kind";
}

namespace {

void Add(const Counts& from, Counts* into) {
  into->jobs += from.jobs;
  for (const auto& [outcome, count] : from.outcomes) into->outcomes[outcome] += count;
  into->checks += from.checks;
  into->failedChecks += from.failedChecks;
  into->alignmentPrints += from.alignmentPrints;
  into->boxes += from.boxes;
  for (const auto& [id, count] : from.boxesById) into->boxesById[id] += count;
  into->waits += from.waits;
  into->inkChecks += from.inkChecks;
  into->events += from.events;
}

}  // namespace

Counts CountUnlisted(const Report& report) {
  Counts counts = report.unlisted;
  for (const Job& job : report.jobs) {
    Add(job.unlisted, &counts);
    counts.events += job.eventsLeftOut;
    for (const Check& check : job.checks) counts.events += check.eventsLeftOut;
  }
  return counts;
}

Counts CountAll(const Report& report) {
  Counts counts = CountUnlisted(report);
  counts.jobs += report.jobs.size();
  counts.inkChecks += report.ink.size();
  for (const Job& job : report.jobs) {
    ++counts.outcomes[job.outcome];
    counts.waits += job.waits.size();
    for (const Event& event : job.events) counts.events += event.kind == EventKind::Check ? 0 : 1;
    for (const Check& check : job.checks) {
      ++counts.checks;
      if (check.result == CheckResult::Failed) ++counts.failedChecks;
      counts.events += check.events.size();
      for (const Event& event : check.events) {
        if (event.kind == EventKind::AlignmentPrint) ++counts.alignmentPrints;
      }
    }
    for (const Question& question : job.questions) {
      if (!question.shown) continue;
      counts.boxes += question.times;
      counts.boxesById[question.id] += question.times;
    }
  }
  return counts;
}

}  // namespace langmon_report
