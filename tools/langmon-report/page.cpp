#include "tools/langmon-report/page.h"

#include <algorithm>
#include <map>

#include "tools/langmon-report/html.h"
#include "tools/langmon-report/ink_chart.h"
#include "tools/langmon-report/questions.h"

namespace langmon_report {

namespace {

constexpr size_t kFoldFrom = 3;              // uneventful checks in a row shown as one line
constexpr size_t kFoldShown = 10;            // of these, listed at each end
constexpr int64_t kQuickestAnswerMs = 1500;  // rounds quicker than this had nobody answering

constexpr char kStyle[] = R"(
:root { --ink: #1d2430; --dim: #5b6575; --line: #d9dee6; --bg: #fbfcfd; --good: #1b7f3b;
  --bad: #b3261e; --warn: #a15c00; --accent: #2f5da8; }
* { box-sizing: border-box; }
body { margin: 0 auto; max-width: 1040px; padding: 24px 28px 48px; background: var(--bg);
  color: var(--ink); font: 15px/1.45 system-ui, -apple-system, "Segoe UI", Roboto, Arial,
  sans-serif; }
h1 { font-size: 26px; margin: 0 0 4px; }
h2 { font-size: 20px; margin: 32px 0 10px; padding-bottom: 4px; border-bottom: 2px solid var(--line); }
h3 { font-size: 16px; margin: 18px 0 6px; }
article.job h3 { margin: 0; }
p.source, p.meta, .dim { color: var(--dim); }
p.source { margin: 0 0 6px; }
nav a { margin-right: 14px; color: var(--accent); }
table { border-collapse: collapse; width: 100%; background: #fff; }
th, td { text-align: left; vertical-align: top; padding: 5px 10px; border-bottom: 1px solid var(--line); }
th { font-weight: 600; color: var(--dim); background: #f1f3f6; }
table.summary th { width: 34%; color: var(--ink); background: #fff; }
td.time { white-space: nowrap; }
td.num { text-align: right; font-variant-numeric: tabular-nums; }
ul.notes li { margin-bottom: 4px; }
.badge { display: inline-block; padding: 1px 9px; border-radius: 10px; font-size: 13px;
  font-weight: 600; color: #fff; background: var(--dim); vertical-align: 1px; }
.badge.printed { background: var(--good); } .badge.deleted { background: var(--bad); }
.badge.failed_start, .badge.stopped { background: var(--warn); }
article.job { background: #fff; border: 1px solid var(--line); border-left: 6px solid var(--dim);
  border-radius: 6px; padding: 10px 14px; margin: 0 0 12px; }
article.job[data-outcome="printed"] { border-left-color: var(--good); }
article.job[data-outcome="deleted"] { border-left-color: var(--bad); }
article.job[data-outcome="failed_start"], article.job[data-outcome="stopped"] { border-left-color: var(--warn); }
article.job .name { font-weight: 400; color: var(--dim); }
p.meta { margin: 2px 0 6px; font-size: 13px; }
ol.events { list-style: none; margin: 0; padding: 0; }
ol.events ol.events { margin: 4px 0 6px 18px; padding-left: 10px; border-left: 2px solid var(--line); }
li.event, li.check > details > summary, li.folded > details > summary { padding: 2px 0; }
time { display: inline-block; min-width: 150px; color: var(--dim); font-size: 13px;
  font-variant-numeric: tabular-nums; }
.tag { display: inline-block; min-width: 84px; font-size: 12px; font-weight: 600; color: var(--dim);
  text-transform: uppercase; letter-spacing: .03em; }
summary { cursor: pointer; }
li.check.failed > details > summary .result { color: var(--bad); font-weight: 600; }
li.check.passed > details > summary .result { color: var(--good); }
li.kind-question .tag, li.kind-question b { color: var(--accent); }
li.kind-printer .tag, li.kind-status .tag { color: var(--warn); }
li.kind-failure .tag, li.kind-failure { color: var(--bad); }
li.kind-outcome { font-weight: 600; }
li.kind-command .tag, li.kind-alignment .tag { color: #6a3fa0; }
li.kind-cartridge .tag, li.kind-ink .tag { color: #b0287a; }
li.inferred .why { color: var(--dim); font-size: 12px; font-style: italic; }
li.session { margin: 10px 0; color: var(--dim); font-style: italic; }
q { color: var(--dim); }
.count { color: var(--dim); font-weight: 600; }
figure.chart { margin: 0; background: #fff; border: 1px solid var(--line); border-radius: 6px; padding: 8px; }
svg.ink-chart { width: 100%; height: auto; display: block; font: 12px system-ui, Arial, sans-serif; }
svg .grid { stroke: #d5dae2; stroke-width: 1; }
svg .tick, svg .band-label, svg .change-label, svg .limit-label { fill: #5b6575; stroke: none; font-size: 11px; }
svg .axis { fill: #3b4350; stroke: none; font-size: 12px; }
svg .spits { stroke-width: 2.2; }
svg .limit { stroke-width: 2; stroke-dasharray: 5 4; opacity: .75; }
svg .hard-limit { stroke-width: 1.4; stroke-dasharray: 2 3; }
svg .cartridge-change { stroke: #8a93a3; stroke-width: 1.2; stroke-dasharray: 4 3; }
svg circle.point { stroke: #fff; stroke-width: 1; }
svg circle.warned { stroke: #ffb300; stroke-width: 3; }
ul.legend { list-style: none; margin: 6px 0 0; padding: 0 0 0 62px; font-size: 13px; color: var(--dim); }
ul.legend li { display: inline-block; margin-right: 18px; }
.swatch { display: inline-block; width: 22px; height: 4px; margin-right: 6px; vertical-align: 3px; }
.swatch.dashed { border-top: 2px dashed #7a7a7a; height: 0; }
.swatch.ring { width: 12px; height: 12px; border-radius: 6px; border: 3px solid #ffb300; vertical-align: -1px; }
pre { background: #f4f6f9; border: 1px solid var(--line); padding: 8px 10px; overflow-x: auto; font-size: 13px; }
button { font: inherit; padding: 3px 12px; }
footer { margin-top: 36px; color: var(--dim); font-size: 12px; }
)";

// Opens or closes every check at once; and tells a browser check that the page's script ran.
constexpr char kScript[] = R"(
(function () {
  var button = document.getElementById('open-all');
  if (button) {
    button.hidden = false;
    button.addEventListener('click', function () {
      var open = button.getAttribute('aria-pressed') !== 'true';
      var all = document.querySelectorAll('#jobs details');
      for (var i = 0; i < all.length; i++) all[i].open = open;
      button.setAttribute('aria-pressed', String(open));
      button.textContent = open ? 'Close every check' : 'Open every check';
    });
  }
  document.documentElement.setAttribute('data-script', 'ran');
})();
)";

constexpr char kErrorGuard[] =
    "window.onerror = function () { var root = document.documentElement; "
    "root.setAttribute('data-script-errors', String(Number(root.getAttribute("
    "'data-script-errors') || 0) + 1)); };";

void Time(std::string& out, const When& when) {
  out += "<time>";
  AppendHtml(out, when.text);
  out += "</time>";
}

// Past the page's limits a list's last entry stands for the latest of many; a line that showed an
// earlier one shows nothing now (the serials differ).
const Question* QuestionOf(const Job& job, const Event& event) {
  if (event.index >= job.questions.size()) return nullptr;
  const Question& question = job.questions[event.index];
  return question.serial == event.serial ? &question : nullptr;
}

const Question* AskedIn(const Job& job, const Wait& wait) {
  if (!wait.asked || *wait.asked >= job.questions.size()) return nullptr;
  const Question& question = job.questions[*wait.asked];
  return question.serial == wait.askedSerial ? &question : nullptr;
}

const Wait* WaitOf(const Job& job, const Event& event) {
  if (event.index >= job.waits.size()) return nullptr;
  const Wait& wait = job.waits[event.index];
  return wait.serial == event.serial ? &wait : nullptr;
}

const InkPoint* InkOf(const Report& report, size_t index, uint64_t serial) {
  if (index >= report.ink.size()) return nullptr;
  const InkPoint& point = report.ink[index];
  return point.serial == serial ? &point : nullptr;
}

const InkPoint* InkOf(const Report& report, const Check& check) {
  return check.ink ? InkOf(report, *check.ink, check.inkSerial) : nullptr;
}

// A line for what the page leaves out at this place.
void UnlistedItem(std::string& out, std::string_view what) {
  Append(out, "<li class=\"event unlisted dim\">&hellip; ", what, " &hellip;</li>\n");
}

// The answer, and that of the earlier rounds where the last one differs.
void AnswerWords(std::string& out, const Question& question) {
  if (question.notice || question.answer.empty()) return;
  out += " &rarr; ";
  if (!question.before.empty()) {
    AppendHtml(out, question.before);
    out += ", the last time ";
  }
  out += "<b>";
  AppendHtml(out, question.answer);
  out += "</b>";
}

// A span of time: "16:08:55:626 &ndash; 17:08:55:630 (1 h 0 min)".
void Span(std::string& out, const When& from, const When& to) {
  AppendHtml(out, from.text);
  if (to.ms == from.ms) return;
  out += " &ndash; ";
  AppendHtml(out, to.text);
  Append(out, " (", Duration(to.ms - from.ms), ")");
}

void WaitLine(std::string& out, const Job& job, const Wait& wait, bool simulated) {
  Append(out, "waited <b>", Duration(wait.to.ms - wait.from.ms), "</b> for ");
  AppendHtml(out, wait.what);
  out += " &middot; ";
  Span(out, wait.from, wait.to);
  if (wait.rounds > 0) {
    Append(out, " &middot; ",
           Plural(wait.rounds, wait.question == 470 ? "question" : "status check",
                  wait.question == 470 ? "questions" : "status checks"));
  }
  if (wait.question != 0) {
    const Question* asked = AskedIn(job, wait);
    out += " &middot; ";
    if (asked != nullptr) {
      const Question& question = *asked;
      Append(out, "box ", std::to_string(wait.question), " (");
      AppendHtml(out, QuestionTopic(wait.question));
      out += ") ";
      if (question.atLeast) {
        out += "at least once";
      } else {
        out += Plural(question.times, "time", "times");
      }
      AnswerWords(out, question);
      // Quiet mode leaves the same lines as a person pressing OK, but not at this pace.
      const int64_t each = (wait.to.ms - wait.from.ms) / static_cast<int64_t>(question.times);
      if (!simulated && !question.logged && question.times > 2 && each < kQuickestAnswerMs) {
        Append(out, " <span class=\"dim\">(a round every ", Duration(each),
               ": faster than anyone answers a box, so most likely quiet mode)</span>");
      }
      if (!question.note.empty()) {
        out += " <span class=\"dim\">(";
        AppendHtml(out, question.note);
        out += ")</span>";
      }
    } else if (wait.asked) {
      Append(out, "box ", std::to_string(wait.question), " (not listed: past the page's limit)");
    } else if (simulated) {
      Append(out, "no box ", std::to_string(wait.question),
             " was shown (quiet mode, or nobody to ask)");
    } else {
      Append(out, "box ", std::to_string(wait.question), " each round");
    }
  }
  if (wait.statusFailures > 0) {
    Append(out, " &middot; ",
           Plural(wait.statusFailures, "status read failed", "status reads failed"));
  }
  out += " &middot; <span class=\"ended\">";
  AppendHtml(out, wait.over ? std::string_view(wait.ended) : "the log shows no end of the wait");
  out += "</span>";
}

void QuestionLine(std::string& out, const Question& question) {
  Append(out, question.notice ? "notice " : "question ", std::to_string(question.id), " (");
  AppendHtml(out, QuestionTopic(question.id));
  out += ")";
  const std::string_view words = QuestionText(question.id);
  if (!words.empty()) {
    // Its first line; "..." after the first 107 bytes of a longer one.
    const std::string_view shortened = words.substr(0, words.find('\n'));
    out += " <q>";
    AppendHtml(out, shortened.size() > 110 ? shortened.substr(0, 107) : shortened);
    Append(out, shortened.size() > 110 ? "..." : "", "</q>");
  }
  if (question.atLeast) out += " <span class=\"count\">(at least once)</span>";
  if (question.times > 1) {
    Append(out, " <span class=\"count\">&times;", Thousands(question.times), "</span>");
  }
  AnswerWords(out, question);
  if (!question.shown) out += " <span class=\"dim\">(nothing was shown)</span>";
  if (!question.note.empty()) {
    out += " <span class=\"dim\">&mdash; ";
    AppendHtml(out, question.note);
    out += "</span>";
  }
}

void InkLine(std::string& out, const InkPoint& point) {
  Append(out, "ink check: ", Millions(point.spits), " spits");
  if (point.limit != 0) Append(out, " of a ", Millions(point.limit), " limit");
  Append(out, " (", FamilyWords(point.family), point.familyFromLimit ? "?" : "", "); warn level ",
         std::to_string(point.levelBefore));
  if (point.levelAfter && *point.levelAfter != point.levelBefore) {
    Append(out, " &rarr; <b>", std::to_string(*point.levelAfter), "</b> (");
    AppendHtml(out, WarnLevelWords(*point.levelAfter));
    out += ")";
  }
}

void EventItem(std::string& out, const Report& report, const Job& job, const Event& event) {
  const Question* question = event.kind == EventKind::Question ? QuestionOf(job, event) : nullptr;
  const Wait* wait = event.kind == EventKind::Wait ? WaitOf(job, event) : nullptr;
  Append(out, "<li class=\"event kind-", EventKindName(event.kind),
         event.inferred ? " inferred" : "", "\"");
  if (question != nullptr) {
    Append(out, " data-question=\"", std::to_string(question->id), "\" data-answer=\"");
    AppendHtml(out, question->answer);
    out += "\"";
  }
  if (wait != nullptr) {
    Append(out, " data-wait-ms=\"", std::to_string(wait->to.ms - wait->from.ms),
           "\" data-rounds=\"", std::to_string(wait->rounds), "\"");
    if (const Question* asked = AskedIn(job, *wait)) {
      Append(out, " data-question=\"", std::to_string(wait->question), "\" data-times=\"",
             std::to_string(asked->times), "\"");
    }
  }
  out += ">";
  Time(out, event.when);
  Append(out, "<span class=\"tag\">",
         question != nullptr && question->notice ? "notice" : EventKindName(event.kind),
         "</span> ");
  switch (event.kind) {
    case EventKind::Question:
      if (question != nullptr) {
        QuestionLine(out, *question);
      } else {
        out += "a box, not listed: past the page's limit on boxes";
      }
      break;
    case EventKind::Ink:
      if (const InkPoint* point = InkOf(report, event.index, event.serial)) {
        InkLine(out, *point);
      } else {
        out += "ink check, not listed: past the page's limit on ink checks";
      }
      break;
    case EventKind::Wait:
      if (wait == nullptr) {
        out += "a wait, not listed: past the page's limit on waits";
        break;
      }
      if (wait->beyond > 1) {
        Append(out, Plural(wait->beyond - 1, "earlier wait", "earlier waits"),
               " of this job not listed (past the page's limit); the latest: ");
      }
      WaitLine(out, job, *wait, report.simulated);
      break;
    default:
      AppendHtml(out, event.text);
      break;
  }
  if (event.count > 1) {
    Append(out, " <span class=\"count\">&times;", Thousands(event.count), "</span>");
  }
  if (event.inferred && event.kind != EventKind::Question) {
    out += " <span class=\"why\">(not in the log: implied by the lines around it)</span>";
  }
  out += "</li>\n";
}

void LinesLeftOut(std::string& out, uint64_t count, const Limits& limits, const char* of) {
  UnlistedItem(out, Plural(count, "more line", "more lines") + " of this " + of +
                        " not listed: the page lists at most " + Thousands(limits.events) +
                        " lines of all jobs");
}

const char* ResultWords(CheckResult result) {
  switch (result) {
    case CheckResult::Passed:
      return "passed";
    case CheckResult::Failed:
      return "failed";
    case CheckResult::Running:
      break;
  }
  return "end not in the log";
}

void CheckItem(std::string& out, const Report& report, const Job& job, const Check& check) {
  if (check.beyond > 1) {
    UnlistedItem(out, Plural(check.beyond - 1, "more pre-job check", "more pre-job checks") +
                          " of this job not listed: the page lists at most " +
                          Thousands(report.limits.checks) + " checks of all jobs, and the latest");
  }
  Append(out, "<li class=\"check ",
         check.result == CheckResult::Passed   ? "passed"
         : check.result == CheckResult::Failed ? "failed"
                                               : "running",
         "\" data-check=\"", std::to_string(check.number), "\"><details",
         check.eventful ? " open" : "", "><summary>");
  Time(out, check.when);
  Append(out, "<span class=\"tag\">check ", std::to_string(check.number),
         "</span> <span class=\"result\">", ResultWords(check.result), "</span>");
  if (const InkPoint* ink = InkOf(report, check)) {
    const InkPoint& point = *ink;
    Append(out, " &middot; ink ", Millions(point.spits));
    if (point.limit != 0) Append(out, " of ", Millions(point.limit));
    if (point.levelAfter && *point.levelAfter != point.levelBefore) {
      Append(out, ", warn level ", std::to_string(point.levelBefore), " &rarr; ",
             std::to_string(*point.levelAfter));
    }
  }
  bool anyBox = false;
  const auto addId = [&out, &anyBox](const Question& question) {
    Append(out, anyBox ? " " : " &middot; boxes ", std::to_string(question.id));
    anyBox = true;
    if (question.times > 1) Append(out, "&times;", Thousands(question.times));
  };
  for (const Event& event : check.events) {
    if (const Question* question =
            event.kind == EventKind::Question ? QuestionOf(job, event) : nullptr) {
      addId(*question);
    }
    const Wait* wait = event.kind == EventKind::Wait ? WaitOf(job, event) : nullptr;
    if (const Question* asked = wait != nullptr ? AskedIn(job, *wait) : nullptr) addId(*asked);
  }
  out += "</summary>\n<ol class=\"events\">\n";
  for (const Event& event : check.events) EventItem(out, report, job, event);
  if (check.eventsLeftOut > 0) LinesLeftOut(out, check.eventsLeftOut, report.limits, "check");
  if (check.events.empty() && check.eventsLeftOut == 0) {
    out += "<li class=\"event dim\">nothing but a status read</li>\n";
  }
  out += "</ol></details></li>\n";
}

void FoldedChecks(std::string& out, const Report& report, const Job& job, size_t from, size_t to) {
  const Check& first = job.checks[from];
  const Check& last = job.checks[to];
  Append(out, "<li class=\"folded\" data-checks=\"", std::to_string(to - from + 1),
         "\"><details><summary>");
  Time(out, first.when);
  Append(out, "<span class=\"tag\">checks ", std::to_string(first.number), "&ndash;",
         std::to_string(last.number), "</span> ", Thousands(to - from + 1),
         " checks passed with nothing to report");
  const InkPoint* firstInk = InkOf(report, first);
  const InkPoint* lastInk = InkOf(report, last);
  if (firstInk != nullptr && lastInk != nullptr) {
    Append(out, " &middot; ink ", Millions(firstInk->spits), " &rarr; ", Millions(lastInk->spits));
  }
  out += "</summary>\n<ol class=\"events\">\n";
  // The first and the last few: the page grows with what happened, not with a job's length.
  for (size_t i = from; i <= to; ++i) {
    if (i == from + kFoldShown && to - from + 1 > 2 * kFoldShown) {
      Append(
          out, "<li class=\"event dim\">&hellip; ",
          Plural(to - from + 1 - 2 * kFoldShown, "more check like these", "more checks like these"),
          " &hellip;</li>\n");
      i = to - kFoldShown;
      continue;
    }
    CheckItem(out, report, job, job.checks[i]);
  }
  out += "</ol></details></li>\n";
}

void JobArticle(std::string& out, const Report& report, const Job& job) {
  const char* outcome = OutcomeName(job.outcome);
  const std::string number = std::to_string(job.number);
  Append(out, "<article class=\"job\" id=\"job-", number, "\" data-job=\"", number,
         "\" data-outcome=\"", outcome, "\" data-questions=\"", QuestionIds(job), "\">\n<h3>Job ",
         number);
  if (!job.name.empty()) {
    out += " <span class=\"name\">&ldquo;";
    AppendHtml(out, job.name);
    out += "&rdquo;</span>";
  }
  Append(out, " <span class=\"badge ", outcome, "\">", OutcomeWords(job.outcome), "</span></h3>\n");

  uint64_t boxes = job.unlisted.boxes;
  for (const Question& question : job.questions) boxes += question.times;
  out += "<p class=\"meta\">";
  AppendHtml(out, job.start.text);
  if (job.end.ms != job.start.ms) {
    out += " &ndash; ";
    AppendHtml(out, job.end.text);
  }
  Append(out, " (", Duration(job.end.ms - job.start.ms), ") &middot; ",
         Plural(job.checks.size() + job.unlisted.checks, "pre-job check", "pre-job checks"),
         " &middot; ", Plural(boxes, "box", "boxes"));
  if (job.start.line != 0) {
    Append(out, " &middot; log lines ", Thousands(job.start.line), "&ndash;",
           Thousands(job.end.line));
  }
  if (!job.outcomeNote.empty()) {
    out += " &middot; ";
    AppendHtml(out, job.outcomeNote);
  }
  if (!job.overlaps.empty()) {
    out += " &middot; open at the same time as job";
    for (unsigned other : job.overlaps) Append(out, " ", std::to_string(other));
  }
  out += "</p>\n<ol class=\"events\">\n";

  for (size_t i = 0; i < job.events.size(); ++i) {
    const Event& event = job.events[i];
    if (event.kind != EventKind::Check) {
      EventItem(out, report, job, event);
      continue;
    }
    // A run of plain checks is one line.
    size_t j = i;
    while (j + 1 < job.events.size() && job.events[j + 1].kind == EventKind::Check &&
           !job.checks[job.events[j + 1].index].eventful && !job.checks[event.index].eventful) {
      ++j;
    }
    if (j - i + 1 >= kFoldFrom) {
      FoldedChecks(out, report, job, event.index, job.events[j].index);
      i = j;
    } else {
      CheckItem(out, report, job, job.checks[event.index]);
    }
  }
  if (job.eventsLeftOut > 0) LinesLeftOut(out, job.eventsLeftOut, report.limits, "job");
  if (job.unlisted.boxes > 0) {
    UnlistedItem(out, Plural(job.unlisted.boxes, "box", "boxes") +
                          " of this job not listed: the page lists at most " +
                          Thousands(report.limits.boxes) + " boxes of all jobs, and the latest");
  }
  out += "</ol>\n</article>\n";
}

void SummaryTable(std::string& out, const Report& report) {
  const Counts all = CountAll(report);
  std::map<Outcome, uint64_t> outcomes = all.outcomes;
  std::vector<std::pair<const Job*, const Wait*>> waits;
  for (const Job& job : report.jobs) {
    for (const Wait& wait : job.waits) waits.emplace_back(&job, &wait);
  }
  uint64_t printerErrors = 0, failures = 0;
  for (const Tally& tally : report.errors)
    (tally.printer ? printerErrors : failures) += tally.count;

  Append(out, "<table class=\"summary\" data-jobs=\"", std::to_string(all.jobs),
         "\" data-printed=\"", std::to_string(outcomes[Outcome::Printed]), "\" data-deleted=\"",
         std::to_string(outcomes[Outcome::Deleted]), "\" data-questions=\"",
         std::to_string(all.boxes), "\">\n");
  const auto row = [&out](std::string_view name, std::string_view value) {
    Append(out, "<tr><th>", name, "</th><td>", value, "</td></tr>\n");
  };
  std::string jobs = "<b>" + Thousands(all.jobs) + "</b>";
  std::string split;
  for (Outcome outcome : {Outcome::Printed, Outcome::Deleted, Outcome::FailedStart,
                          Outcome::Stopped, Outcome::Waiting, Outcome::Unknown}) {
    if (outcomes[outcome] == 0) continue;
    split +=
        (split.empty() ? "" : ", ") + Thousands(outcomes[outcome]) + " " + OutcomeWords(outcome);
  }
  if (!split.empty()) jobs += ": " + split;
  row("Jobs", jobs);
  row("Jobs printed", "<b>" + Thousands(outcomes[Outcome::Printed]) + "</b>");
  row("Jobs deleted", "<b>" + Thousands(outcomes[Outcome::Deleted]) + "</b>");
  row("Pre-job checks",
      Thousands(all.checks) +
          (all.failedChecks ? " (" + Thousands(all.failedChecks) + " failed)" : ""));
  std::string asked = "<b>" + Thousands(all.boxes) + "</b>";
  std::string ids;
  for (const auto& [id, count] : all.boxesById) {
    // 0: the IDs past the page's limit on kinds of boxes, together.
    ids += (ids.empty() ? "" : ", ") +
           (id == 0 ? std::string("other boxes")
                    : std::to_string(id) + " " + Html(QuestionTopic(id))) +
           (count > 1 ? " &times;" + Thousands(count) : "");
  }
  if (!ids.empty()) asked += ": " + ids;
  if (!report.simulated && all.boxes > 0) {
    asked +=
        " <span class=\"dim\">(inferred from the log; in quiet mode none of them is shown)</span>";
  }
  row("Questions asked", asked);
  if (all.waits > 0) {
    std::string text = "<b>" + Thousands(all.waits) + "</b>";
    size_t listed = 0;
    for (const auto& [job, wait] : waits) {
      if (listed++ == 5) {
        text += "; ...";
        break;
      }
      text += std::string(listed == 1 ? ": " : "; ") + "job " + std::to_string(job->number) +
              " waited " + Duration(wait->to.ms - wait->from.ms) + " for " + Html(wait->what) +
              (wait->rounds > 0 ? " (" + Plural(wait->rounds, "round", "rounds") + ")" : "");
    }
    row("Waits", text);
  }
  row("Cartridge changes", Thousands(report.cartridgeChanges));
  row("Alignment prints", Thousands(all.alignmentPrints));
  row("Printer errors",
      Thousands(printerErrors) +
          (failures ? " (and " + Plural(failures, "other failure", "other failures") + ")" : ""));
  row("Time covered", Html(report.first.text) + " &ndash; " + Html(report.last.text) + " (" +
                          Duration(report.last.ms - report.first.ms) + ")");
  if (!report.simulated) {
    row("Log", Plural(report.lines, "line", "lines") + ", " + Thousands(report.bytes) + " bytes; " +
                   Thousands(report.unknownCount) + " not recognised");
  }
  row("Monitor starts",
      Thousands(report.sessions) + (report.startsMidway ? " (and one before the log begins)" : ""));
  out += "</table>\n";
}

void QuestionsTable(std::string& out, const Report& report) {
  const size_t start = out.size();
  out +=
      "<p class=\"dim\">A box asked again in a row, as in each round of a wait, is one row "
      "with the number of times.</p>\n<table class=\"questions\">\n<tr><th>Job</th><th>Time</th>"
      "<th>Box</th><th>Text</th><th>Times</th><th>Answer</th></tr>\n";
  bool any = false;
  for (const Job& job : report.jobs) {
    const std::string number = std::to_string(job.number);
    for (const Question& question : job.questions) {
      any = true;
      const std::string id = std::to_string(question.id);
      if (question.beyond > 1) {
        Append(out, "<tr class=\"unlisted\"><td class=\"num\">", number,
               "</td><td colspan=\"5\" class=\"dim\">&hellip; ",
               Plural(question.beyond - 1, "more box", "more boxes"),
               " of this job not listed: the page lists at most ", Thousands(report.limits.boxes),
               " boxes of all jobs, and the latest</td></tr>\n");
      }
      Append(out, "<tr data-job=\"", number, "\" data-question=\"", id, "\" data-times=\"",
             std::to_string(question.times), "\"><td class=\"num\"><a href=\"#job-", number, "\">",
             number, "</a></td><td class=\"time\">");
      Span(out, question.when, question.last);
      Append(out, "</td><td class=\"num\">", id, "</td><td>");
      const std::string_view text = QuestionText(question.id);
      if (text.empty()) {
        AppendHtml(out, QuestionTopic(question.id));
      } else {
        AppendHtml(out, text);
      }
      Append(out, "</td><td class=\"num\">", Thousands(question.times), "</td><td>");
      if (question.notice) {
        out += "<span class=\"dim\">OK only</span>";
      } else {
        if (!question.before.empty()) {
          AppendHtml(out, question.before);
          out += ", the last time ";
        }
        AppendHtml(out, question.answer);
      }
      if (question.atLeast) out += " <span class=\"dim\">(at least once)</span>";
      if (!question.shown) out += " <span class=\"dim\">(not shown: no text)</span>";
      out += "</td></tr>\n";
    }
  }
  if (!any) {
    out.resize(start);
    out += "<p class=\"empty\">No box was shown.</p>\n";
    return;
  }
  out += "</table>\n";
}

void ErrorsTable(std::string& out, const Report& report, bool printer) {
  const size_t start = out.size();
  Append(out, "<table class=\"errors", printer ? " printer" : " other",
         "\">\n<tr><th>What</th><th>Times</th><th>Lines</th><th>First</th><th>Last</th>"
         "<th>Lasted</th><th>Jobs</th></tr>\n");
  bool any = false;
  for (const Tally& tally : report.errors) {
    if (tally.printer != printer) continue;
    any = true;
    Append(out, "<tr data-count=\"", std::to_string(tally.count), "\" data-lasted-ms=\"",
           std::to_string(tally.lastedMs), "\"><td>");
    AppendHtml(out, tally.what);
    if (tally.others) {
      Append(out, " <span class=\"dim\">(past the page's limit of ",
             Thousands(report.limits.errorKinds), " kinds, together)</span>");
    }
    Append(out, "</td><td class=\"num\">", Thousands(tally.count), "</td><td class=\"num\">",
           Thousands(tally.reports), "</td><td class=\"time\">");
    AppendHtml(out, tally.first.text);
    out += "</td><td class=\"time\">";
    AppendHtml(out, tally.last.text);
    Append(out, "</td><td class=\"num\">", Duration(tally.lastedMs), "</td><td>");
    if (tally.jobs.empty() && tally.jobsLeftOut == 0) out += "&mdash;";
    bool first = true;
    for (unsigned job : tally.jobs) {
      const std::string number = std::to_string(job);
      Append(out, first ? "" : ", ", "<a href=\"#job-", number, "\">", number, "</a>");
      first = false;
    }
    if (tally.jobsLeftOut > 0) Append(out, " and ", Thousands(tally.jobsLeftOut), " more");
    out += "</td></tr>\n";
  }
  if (!any) {
    out.resize(start);
    out += printer ? "<p class=\"empty\">The log shows no printer error.</p>\n"
                   : "<p class=\"empty\">None.</p>\n";
    return;
  }
  out += "</table>\n";
}

void UnknownSection(std::string& out, const Report& report) {
  if (report.unknownCount == 0) {
    out += "<p class=\"empty\">Every line of the log was recognised.</p>\n";
    return;
  }
  Append(out, "<p>", Plural(report.unknownCount, "line was", "lines were"),
         " not recognised and left out of the story above");
  if (report.unknown.size() < report.unknownCount) {
    Append(out, " (", Thousands(report.unknown.size()), " different ones listed)");
  }
  out += ".</p>\n<table class=\"unknown\">\n<tr><th>Line</th><th>Text</th><th>Times</th></tr>\n";
  for (const UnknownLine& line : report.unknown) {
    Append(out, "<tr><td class=\"num\">", Thousands(line.firstLine), "</td><td><code>");
    // The first 300 bytes of a longer one, and "...".
    const std::string_view text = line.text;
    AppendHtml(out, text.substr(0, 300));
    Append(out, text.size() > 300 ? "..." : "", "</code>",
           line.badFormat ? " <span class=\"dim\">(not a log record)</span>" : "",
           "</td><td class=\"num\">", Thousands(line.count), "</td></tr>\n");
  }
  out += "</table>\n";
}

// What the page leaves out of a log longer than it lists one by one, and its limits.
std::string LimitsNote(const Report& report) {
  const Counts unlisted = CountUnlisted(report);
  const bool otherKinds = std::any_of(report.errors.begin(), report.errors.end(),
                                      [](const Tally& tally) { return tally.others; });
  if (unlisted.Empty() && !otherKinds) return "";
  std::string counted;
  const auto add = [&counted](uint64_t count, const char* one, const char* many) {
    if (count != 0) counted += (counted.empty() ? "" : ", ") + Plural(count, one, many);
  };
  add(unlisted.jobs, "job", "jobs");
  add(unlisted.checks, "pre-job check", "pre-job checks");
  add(unlisted.events, "timeline line", "timeline lines");
  add(unlisted.boxes, "box", "boxes");
  add(unlisted.waits, "wait", "waits");
  add(unlisted.inkChecks, "ink check", "ink checks");
  if (otherKinds) counted += std::string(counted.empty() ? "" : ", ") + "kinds of errors";
  const Limits& limits = report.limits;
  return "<li class=\"limits\">This log holds more than the page lists one by one. Counted in "
         "the summary but not listed: " +
         counted + ". The page lists at most " + Thousands(limits.jobs) + " jobs, " +
         Thousands(limits.checks) + " pre-job checks, " + Thousands(limits.events) +
         " timeline lines, " + Thousands(limits.boxes) + " boxes, " + Thousands(limits.waits) +
         " waits, " + Thousands(limits.inkChecks) + " ink checks and " +
         Thousands(limits.errorKinds) +
         " kinds of errors, and past each limit the latest one; so its size, and the memory it "
         "takes to make it, stay the same however long the log is.</li>\n";
}

}  // namespace

std::string QuestionIds(const Job& job) {
  std::string ids;
  for (const Question& question : job.questions) {
    if (!question.shown) continue;
    const std::string id = std::to_string(question.id);
    if (question.times > 3) {
      ids += (ids.empty() ? "" : " ") + id + "x" + std::to_string(question.times);
      continue;
    }
    for (uint64_t i = 0; i < question.times; ++i) ids += (ids.empty() ? "" : " ") + id;
  }
  return ids;
}

std::string RenderPage(const Report& report) {
  const std::string heading = report.simulated ? "What the language monitor did in a simulated run"
                                               : "What the language monitor did";
  std::string page;
  // Room for the style sheet, the script and a few dozen jobs: most pages never grow.
  page.reserve(sizeof(kStyle) + sizeof(kScript) + (32 << 10));
  Append(page,
         "<!DOCTYPE html>\n<html lang=\"en\">\n<head>\n<meta charset=\"utf-8\">\n"
         "<meta name=\"viewport\" content=\"width=device-width, initial-scale=1\">\n"
         "<title>");
  AppendHtml(page, heading + ": " + report.source);
  Append(page, "</title>\n<script>", kErrorGuard, "</script>\n<style>", kStyle,
         "</style>\n</head>\n<body>\n<header>\n<h1>", heading, "</h1>\n<p class=\"source\">");
  AppendHtml(page, report.source);
  page += " &middot; times are ";
  AppendHtml(page, report.clock);
  page += "</p>\n";
  if (!report.title.empty()) {
    page += "<p><b>";
    AppendHtml(page, report.title);
    page += "</b></p>\n";
  }
  if (!report.description.empty()) {
    page += "<p class=\"dim\">";
    AppendHtml(page, report.description);
    page += "</p>\n";
  }
  page +=
      "<nav><a href=\"#summary\">Summary</a><a href=\"#ink\">Ink</a><a href=\"#jobs\">Jobs</a>"
      "<a href=\"#questions\">Boxes</a><a href=\"#errors\">Printer errors</a>";
  if (!report.settings.empty()) page += "<a href=\"#settings\">Settings files</a>";
  page += "<a href=\"#unknown\">Lines not recognised</a></nav>\n</header>\n";

  page += "<section id=\"summary\">\n<h2>Summary</h2>\n";
  SummaryTable(page, report);
  const std::string limits = LimitsNote(report);
  if (!report.notes.empty() || !limits.empty()) {
    Append(page, "<h3>How the log was read</h3>\n<ul class=\"notes\">\n", limits);
    for (const std::string& note : report.notes) {
      page += "<li>";
      AppendHtml(page, note);
      page += "</li>\n";
    }
    page += "</ul>\n";
  }
  if (!report.cannotShow.empty()) {
    page += "<h3>What the log cannot show</h3>\n<ul class=\"notes cannot-show\">\n";
    for (const std::string& note : report.cannotShow) {
      page += "<li>";
      AppendHtml(page, note);
      page += "</li>\n";
    }
    page += "</ul>\n";
  }
  page += "</section>\n";

  page +=
      "<section id=\"ink\">\n<h2>Ink</h2>\n<p class=\"dim\">Each ink check logs one spit "
      "count: for a colour cartridge the highest of its yellow, magenta and cyan counters, "
      "for a black one its black counter. Hover over a point for its check.</p>\n";
  InkChart(page, report);
  page += "</section>\n";

  page += "<section id=\"jobs\">\n<h2>Jobs</h2>\n";
  if (report.jobs.empty()) {
    page += "<p class=\"empty\">The log shows no job.</p>\n";
  } else {
    page +=
        "<p><button id=\"open-all\" type=\"button\" hidden aria-pressed=\"false\">Open every "
        "check</button></p>\n";
  }
  unsigned session = report.jobs.empty() ? 0 : report.jobs.front().session;
  unsigned previous = 0;
  for (const Job& job : report.jobs) {
    if (job.number > previous + 1) {
      page += "<p class=\"unlisted dim\">&hellip; " +
              (job.number == previous + 2 ? "Job " + std::to_string(previous + 1) + " is"
                                          : "Jobs " + Thousands(previous + 1) + "&ndash;" +
                                                Thousands(job.number - 1) + " are") +
              " not listed: the page lists at most " + Thousands(report.limits.jobs) +
              " jobs, and the latest; the summary counts them all. &hellip;</p>\n";
    }
    previous = job.number;
    if (job.session != session) {
      page += "<p class=\"session dim\">&mdash; the monitor started again &mdash;</p>\n";
      session = job.session;
    }
    JobArticle(page, report, job);
  }
  page += "</section>\n";

  page += "<section id=\"questions\">\n<h2>Boxes</h2>\n";
  QuestionsTable(page, report);
  page += "</section>\n<section id=\"errors\">\n<h2>Printer errors</h2>\n";
  ErrorsTable(page, report, true);
  page += "<h3>Other failures</h3>\n";
  ErrorsTable(page, report, false);
  page += "</section>\n";

  if (!report.settings.empty()) {
    page += "<section id=\"settings\">\n<h2>Settings files at the end</h2>\n";
    for (const SettingsFileText& file : report.settings) {
      page += "<h3>";
      AppendHtml(page, file.label);
      page += "</h3>\n<p class=\"dim\">";
      AppendHtml(page, file.path);
      page += "</p>\n";
      if (file.exists) {
        page += "<pre>";
        AppendHtml(page, file.text);
        page += "</pre>\n";
      } else {
        page += "<p class=\"empty\">(no such file)</p>\n";
      }
    }
    page += "</section>\n";
  }
  page += "<section id=\"unknown\">\n<h2>Lines not recognised</h2>\n";
  UnknownSection(page, report);
  page += "</section>\n<footer>Made by langmon-report from ";
  AppendHtml(page, report.source);
  Append(page, ".</footer>\n<script>", kScript, "</script>\n</body>\n</html>\n");
  return page;
}

}  // namespace langmon_report
