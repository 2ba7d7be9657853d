// Which way a box was answered: the lines after it, or the line of the route that showed it.
#include <algorithm>

#include "tools/langmon-report/failure_words.h"
#include "tools/langmon-report/reader.h"

namespace langmon_report {

// The route a box took and what came back (the job owner's session, or nobody in session 0), and
// a box that could not be shown.
bool Reader::BoxLine(const When& when, const Matched& matched) {
  switch (matched.text) {
    case Text::BoxOwnerAnswered:
    case Text::BoxOwnerTimedOut:
    case Text::BoxOwnerFailed:
    case Text::BoxNobody: {
      // A notice at a failed start comes before the job is open.
      std::optional<size_t> job = starting_;
      if (!job && !open_.empty()) job = open_.back();
      if (job && !knowsBoxes_) RouteLine(*job, when, matched);
      return true;
    }
    case Text::BoxNotShown:
    case Text::NoProgressDialog:
      return true;
    case Text::BoxNoString:
    case Text::BoxNoText:
    case Text::BoxNoTitle:
      FailureOutsideCheck(when, matched.text);
      return true;
    default:
      return false;
  }
}

bool Reader::UnansweredLine(size_t job, const When& when, const Matched& matched) {
  if (matched.text != Text::Unanswered) return false;
  Unanswered(job, when, matched.First());
  return true;
}

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

// The monitor gives up after a few questions in a row that nobody answered; the log says how many.
// Those its flow's lines did not show are added, a handful one by one and any more as one
// question asked that many times (a count no monitor writes).
void Reader::Unanswered(size_t job, const When& when, long long count) {
  constexpr uint64_t kOneByOne = 8;
  JobState& state = states_[job];
  Job& record = report_.jobs[job];
  const uint64_t unanswered = count > 0 ? static_cast<uint64_t>(count) : 0;
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
    const size_t from = RecentQuestionsFrom(job);
    uint64_t have = 0;
    for (size_t i = from; i < record.questions.size(); ++i) {
      if (record.questions[i].id == id) have += record.questions[i].times;
    }
    for (uint64_t added = 0; have < unanswered; ++added) {
      const size_t index = AddQuestion(job, when, id, kNoAnswer, true, id != 470);
      const uint64_t rest = unanswered - have;
      if (added + 1 == kOneByOne && rest > 1) {
        record.questions[index].times = rest;
        have = unanswered;
      } else {
        ++have;
      }
    }
    uint64_t marked = 0;
    for (size_t i = record.questions.size(); i-- > from && marked < unanswered;) {
      if (record.questions[i].id == id) {
        record.questions[i].answer = kNoAnswer;
        marked += record.questions[i].times;
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

// The questions of the current loop, the latest few hundred of them: a loop goes round a
// handful of times, and a made-up log of millions costs no more per line than a real one.
size_t Reader::RecentQuestionsFrom(size_t job) const {
  constexpr size_t kRecent = 256;
  const size_t size = report_.jobs[job].questions.size();
  return std::max(states_[job].loopStart, size > kRecent ? size - kRecent : 0);
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
             last->note == note && LatestEventIs(job, record.questions.size() - 1)) {
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

}  // namespace langmon_report
