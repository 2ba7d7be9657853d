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

}  // namespace langmon_report
