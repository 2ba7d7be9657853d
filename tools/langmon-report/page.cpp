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

std::string Time(const When& when) { return "<time>" + Html(when.text) + "</time>"; }

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
std::string UnlistedItem(const std::string& what) {
  return "<li class=\"event unlisted dim\">&hellip; " + what + " &hellip;</li>\n";
}

// The answer, and that of the earlier rounds where the last one differs.
std::string AnswerWords(const Question& question) {
  if (question.notice || question.answer.empty()) return "";
  std::string text = " &rarr; ";
  if (!question.before.empty()) text += Html(question.before) + ", the last time ";
  return text + "<b>" + Html(question.answer) + "</b>";
}

// A span of time: "16:08:55:626 &ndash; 17:08:55:630 (1 h 0 min)".
std::string Span(const When& from, const When& to) {
  if (to.ms == from.ms) return Html(from.text);
  return Html(from.text) + " &ndash; " + Html(to.text) + " (" + Duration(to.ms - from.ms) + ")";
}

std::string WaitLine(const Job& job, const Wait& wait, bool simulated) {
  std::string text = "waited <b>" + Duration(wait.to.ms - wait.from.ms) + "</b> for " +
                     Html(wait.what) + " &middot; " + Span(wait.from, wait.to);
  if (wait.rounds > 0) {
    text += " &middot; " + Plural(wait.rounds, wait.question == 470 ? "question" : "status check",
                                  wait.question == 470 ? "questions" : "status checks");
  }
  if (wait.question != 0) {
    const Question* asked = AskedIn(job, wait);
    text += " &middot; ";
    if (asked != nullptr) {
      const Question& question = *asked;
      text +=
          "box " + std::to_string(wait.question) + " (" + Html(QuestionTopic(wait.question)) + ") ";
      text += question.atLeast ? "at least once" : Plural(question.times, "time", "times");
      text += AnswerWords(question);
      // Quiet mode leaves the same lines as a person pressing OK, but not at this pace.
      const int64_t each = (wait.to.ms - wait.from.ms) / static_cast<int64_t>(question.times);
      if (!simulated && !question.logged && question.times > 2 && each < kQuickestAnswerMs) {
        text += " <span class=\"dim\">(a round every " + Duration(each) +
                ": faster than anyone answers a box, so most likely quiet mode)</span>";
      }
      if (!question.note.empty())
        text += " <span class=\"dim\">(" + Html(question.note) + ")</span>";
    } else if (wait.asked) {
      text += "box " + std::to_string(wait.question) + " (not listed: past the page's limit)";
    } else if (simulated) {
      text +=
          "no box " + std::to_string(wait.question) + " was shown (quiet mode, or nobody to ask)";
    } else {
      text += "box " + std::to_string(wait.question) + " each round";
    }
  }
  if (wait.statusFailures > 0) {
    text += " &middot; " + Plural(wait.statusFailures, "status read failed", "status reads failed");
  }
  text += " &middot; <span class=\"ended\">" +
          Html(wait.over ? wait.ended : "the log shows no end of the wait") + "</span>";
  return text;
}

std::string QuestionLine(const Question& question) {
  std::string text = std::string(question.notice ? "notice " : "question ") +
                     std::to_string(question.id) + " (" + Html(QuestionTopic(question.id)) + ")";
  const std::string words = QuestionText(question.id);
  if (!words.empty()) {
    std::string shortened = words.substr(0, words.find('\n'));
    if (shortened.size() > 110) shortened = shortened.substr(0, 107) + "...";
    text += " <q>" + Html(shortened) + "</q>";
  }
  if (question.atLeast) text += " <span class=\"count\">(at least once)</span>";
  if (question.times > 1) {
    text += " <span class=\"count\">&times;" + Thousands(question.times) + "</span>";
  }
  text += AnswerWords(question);
  if (!question.shown) text += " <span class=\"dim\">(nothing was shown)</span>";
  if (!question.note.empty())
    text += " <span class=\"dim\">&mdash; " + Html(question.note) + "</span>";
  return text;
}

std::string InkLine(const InkPoint& point) {
  std::string text = "ink check: " + Millions(point.spits) + " spits";
  if (point.limit != 0) text += " of a " + Millions(point.limit) + " limit";
  text += std::string(" (") + FamilyWords(point.family) + (point.familyFromLimit ? "?" : "") +
          "); warn level " + std::to_string(point.levelBefore);
  if (point.levelAfter && *point.levelAfter != point.levelBefore) {
    text += " &rarr; <b>" + std::to_string(*point.levelAfter) + "</b> (" +
            Html(WarnLevelWords(*point.levelAfter)) + ")";
  }
  return text;
}

std::string EventItem(const Report& report, const Job& job, const Event& event) {
  std::string classes = std::string("event kind-") + EventKindName(event.kind);
  if (event.inferred) classes += " inferred";
  std::string attributes;
  std::string text;
  std::string tag = EventKindName(event.kind);
  switch (event.kind) {
    case EventKind::Question: {
      const Question* question = QuestionOf(job, event);
      if (question == nullptr) {
        text = "a box, not listed: past the page's limit on boxes";
        break;
      }
      attributes = " data-question=\"" + std::to_string(question->id) + "\" data-answer=\"" +
                   Html(question->answer) + "\"";
      text = QuestionLine(*question);
      if (question->notice) tag = "notice";
      break;
    }
    case EventKind::Ink: {
      const InkPoint* point = InkOf(report, event.index, event.serial);
      text = point != nullptr ? InkLine(*point)
                              : "ink check, not listed: past the page's limit on ink checks";
      break;
    }
    case EventKind::Wait: {
      const Wait* wait = WaitOf(job, event);
      if (wait == nullptr) {
        text = "a wait, not listed: past the page's limit on waits";
        break;
      }
      if (wait->beyond > 1) {
        text = Plural(wait->beyond - 1, "earlier wait", "earlier waits") +
               " of this job not listed (past the page's limit); the latest: ";
      }
      attributes = " data-wait-ms=\"" + std::to_string(wait->to.ms - wait->from.ms) +
                   "\" data-rounds=\"" + std::to_string(wait->rounds) + "\"";
      if (const Question* asked = AskedIn(job, *wait)) {
        attributes += " data-question=\"" + std::to_string(wait->question) + "\" data-times=\"" +
                      std::to_string(asked->times) + "\"";
      }
      text += WaitLine(job, *wait, report.simulated);
      break;
    }
    default:
      text = Html(event.text);
      break;
  }
  if (event.count > 1)
    text += " <span class=\"count\">&times;" + Thousands(event.count) + "</span>";
  if (event.inferred && event.kind != EventKind::Question) {
    text += " <span class=\"why\">(not in the log: implied by the lines around it)</span>";
  }
  return "<li class=\"" + classes + "\"" + attributes + ">" + Time(event.when) +
         "<span class=\"tag\">" + tag + "</span> " + text + "</li>\n";
}

std::string LinesLeftOut(uint64_t count, const Limits& limits, const char* of) {
  return UnlistedItem(Plural(count, "more line", "more lines") + " of this " + of +
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

std::string CheckItem(const Report& report, const Job& job, const Check& check) {
  const char* result = ResultWords(check.result);
  std::string summary = Time(check.when) + "<span class=\"tag\">check " +
                        std::to_string(check.number) + "</span> <span class=\"result\">" + result +
                        "</span>";
  if (const InkPoint* ink = InkOf(report, check)) {
    const InkPoint& point = *ink;
    summary += " &middot; ink " + Millions(point.spits);
    if (point.limit != 0) summary += " of " + Millions(point.limit);
    if (point.levelAfter && *point.levelAfter != point.levelBefore) {
      summary += ", warn level " + std::to_string(point.levelBefore) + " &rarr; " +
                 std::to_string(*point.levelAfter);
    }
  }
  std::string ids;
  const auto addId = [&ids](const Question& question) {
    ids += ' ';
    ids += std::to_string(question.id);
    if (question.times > 1) ids += "&times;" + Thousands(question.times);
  };
  for (const Event& event : check.events) {
    if (const Question* question =
            event.kind == EventKind::Question ? QuestionOf(job, event) : nullptr) {
      addId(*question);
    }
    const Wait* wait = event.kind == EventKind::Wait ? WaitOf(job, event) : nullptr;
    if (const Question* asked = wait != nullptr ? AskedIn(job, *wait) : nullptr) addId(*asked);
  }
  if (!ids.empty()) summary += " &middot; boxes" + ids;
  std::string item = "<li class=\"check " +
                     std::string(check.result == CheckResult::Passed   ? "passed"
                                 : check.result == CheckResult::Failed ? "failed"
                                                                       : "running") +
                     "\" data-check=\"" + std::to_string(check.number) + "\"><details" +
                     (check.eventful ? " open" : "") + "><summary>" + summary +
                     "</summary>\n<ol class=\"events\">\n";
  for (const Event& event : check.events) item += EventItem(report, job, event);
  if (check.eventsLeftOut > 0) item += LinesLeftOut(check.eventsLeftOut, report.limits, "check");
  if (check.events.empty() && check.eventsLeftOut == 0) {
    item += "<li class=\"event dim\">nothing but a status read</li>\n";
  }
  item += "</ol></details></li>\n";
  if (check.beyond <= 1) return item;
  return UnlistedItem(Plural(check.beyond - 1, "more pre-job check", "more pre-job checks") +
                      " of this job not listed: the page lists at most " +
                      Thousands(report.limits.checks) + " checks of all jobs, and the latest") +
         item;
}

std::string FoldedChecks(const Report& report, const Job& job, size_t from, size_t to) {
  const Check& first = job.checks[from];
  const Check& last = job.checks[to];
  std::string summary = Time(first.when) + "<span class=\"tag\">checks " +
                        std::to_string(first.number) + "&ndash;" + std::to_string(last.number) +
                        "</span> " + Thousands(to - from + 1) +
                        " checks passed with nothing to report";
  const InkPoint* firstInk = InkOf(report, first);
  const InkPoint* lastInk = InkOf(report, last);
  if (firstInk != nullptr && lastInk != nullptr) {
    summary += " &middot; ink " + Millions(firstInk->spits) + " &rarr; " + Millions(lastInk->spits);
  }
  std::string item = "<li class=\"folded\" data-checks=\"" + std::to_string(to - from + 1) +
                     "\"><details><summary>" + summary + "</summary>\n<ol class=\"events\">\n";
  // The first and the last few: the page grows with what happened, not with a job's length.
  for (size_t i = from; i <= to; ++i) {
    if (i == from + kFoldShown && to - from + 1 > 2 * kFoldShown) {
      item += "<li class=\"event dim\">&hellip; " +
              Plural(to - from + 1 - 2 * kFoldShown, "more check like these",
                     "more checks like these") +
              " &hellip;</li>\n";
      i = to - kFoldShown;
      continue;
    }
    item += CheckItem(report, job, job.checks[i]);
  }
  return item + "</ol></details></li>\n";
}

std::string JobArticle(const Report& report, const Job& job) {
  const std::string outcome = OutcomeName(job.outcome);
  std::string html = "<article class=\"job\" id=\"job-" + std::to_string(job.number) +
                     "\" data-job=\"" + std::to_string(job.number) + "\" data-outcome=\"" +
                     outcome + "\" data-questions=\"" + QuestionIds(job) + "\">\n<h3>Job " +
                     std::to_string(job.number);
  if (!job.name.empty())
    html += " <span class=\"name\">&ldquo;" + Html(job.name) + "&rdquo;</span>";
  html += " <span class=\"badge " + outcome + "\">" + OutcomeWords(job.outcome) + "</span></h3>\n";

  uint64_t boxes = job.unlisted.boxes;
  for (const Question& question : job.questions) boxes += question.times;
  std::string meta = Html(job.start.text);
  if (job.end.ms != job.start.ms) meta += " &ndash; " + Html(job.end.text);
  meta += " (" + Duration(job.end.ms - job.start.ms) + ") &middot; " +
          Plural(job.checks.size() + job.unlisted.checks, "pre-job check", "pre-job checks") +
          " &middot; " + Plural(boxes, "box", "boxes");
  if (job.start.line != 0)
    meta +=
        " &middot; log lines " + Thousands(job.start.line) + "&ndash;" + Thousands(job.end.line);
  if (!job.outcomeNote.empty()) meta += " &middot; " + Html(job.outcomeNote);
  if (!job.overlaps.empty()) {
    meta += " &middot; open at the same time as job";
    for (unsigned other : job.overlaps) {
      meta += ' ';
      meta += std::to_string(other);
    }
  }
  html += "<p class=\"meta\">" + meta + "</p>\n<ol class=\"events\">\n";

  for (size_t i = 0; i < job.events.size(); ++i) {
    const Event& event = job.events[i];
    if (event.kind != EventKind::Check) {
      html += EventItem(report, job, event);
      continue;
    }
    // A run of plain checks is one line.
    size_t j = i;
    while (j + 1 < job.events.size() && job.events[j + 1].kind == EventKind::Check &&
           !job.checks[job.events[j + 1].index].eventful && !job.checks[event.index].eventful) {
      ++j;
    }
    if (j - i + 1 >= kFoldFrom) {
      html += FoldedChecks(report, job, event.index, job.events[j].index);
      i = j;
    } else {
      html += CheckItem(report, job, job.checks[event.index]);
    }
  }
  if (job.eventsLeftOut > 0) html += LinesLeftOut(job.eventsLeftOut, report.limits, "job");
  if (job.unlisted.boxes > 0) {
    html += UnlistedItem(Plural(job.unlisted.boxes, "box", "boxes") +
                         " of this job not listed: the page lists at most " +
                         Thousands(report.limits.boxes) + " boxes of all jobs, and the latest");
  }
  return html + "</ol>\n</article>\n";
}

std::string SummaryTable(const Report& report) {
  const Counts all = CountAll(report);
  std::map<Outcome, uint64_t> outcomes = all.outcomes;
  std::vector<std::pair<const Job*, const Wait*>> waits;
  for (const Job& job : report.jobs) {
    for (const Wait& wait : job.waits) waits.emplace_back(&job, &wait);
  }
  uint64_t printerErrors = 0, failures = 0;
  for (const Tally& tally : report.errors)
    (tally.printer ? printerErrors : failures) += tally.count;

  std::string rows;
  const auto row = [&rows](const std::string& name, const std::string& value) {
    rows += "<tr><th>" + name + "</th><td>" + value + "</td></tr>\n";
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

  return "<table class=\"summary\" data-jobs=\"" + std::to_string(all.jobs) + "\" data-printed=\"" +
         std::to_string(outcomes[Outcome::Printed]) + "\" data-deleted=\"" +
         std::to_string(outcomes[Outcome::Deleted]) + "\" data-questions=\"" +
         std::to_string(all.boxes) + "\">\n" + rows + "</table>\n";
}

std::string QuestionsTable(const Report& report) {
  std::string rows;
  for (const Job& job : report.jobs) {
    for (const Question& question : job.questions) {
      const std::string text = QuestionText(question.id);
      if (question.beyond > 1) {
        rows += "<tr class=\"unlisted\"><td class=\"num\">" + std::to_string(job.number) +
                "</td><td colspan=\"5\" class=\"dim\">&hellip; " +
                Plural(question.beyond - 1, "more box", "more boxes") +
                " of this job not listed: the page lists at most " +
                Thousands(report.limits.boxes) + " boxes of all jobs, and the latest</td></tr>\n";
      }
      rows += "<tr data-job=\"" + std::to_string(job.number) + "\" data-question=\"" +
              std::to_string(question.id) + "\" data-times=\"" + std::to_string(question.times) +
              "\"><td class=\"num\"><a href=\"#job-" + std::to_string(job.number) + "\">" +
              std::to_string(job.number) + "</a></td><td class=\"time\">" +
              Span(question.when, question.last) + "</td><td class=\"num\">" +
              std::to_string(question.id) + "</td><td>" +
              Html(text.empty() ? QuestionTopic(question.id) : text) + "</td><td class=\"num\">" +
              Thousands(question.times) + "</td><td>" +
              (question.notice
                   ? std::string("<span class=\"dim\">OK only</span>")
                   : (question.before.empty() ? "" : Html(question.before) + ", the last time ") +
                         Html(question.answer)) +
              (question.atLeast ? " <span class=\"dim\">(at least once)</span>" : "") +
              (question.shown ? "" : " <span class=\"dim\">(not shown: no text)</span>") +
              "</td></tr>\n";
    }
  }
  if (rows.empty()) return "<p class=\"empty\">No box was shown.</p>\n";
  return "<p class=\"dim\">A box asked again in a row, as in each round of a wait, is one row "
         "with the number of times.</p>\n<table class=\"questions\">\n<tr><th>Job</th><th>Time</th>"
         "<th>Box</th><th>Text</th><th>Times</th><th>Answer</th></tr>\n" +
         rows + "</table>\n";
}

std::string ErrorsTable(const Report& report, bool printer) {
  std::string rows;
  for (const Tally& tally : report.errors) {
    if (tally.printer != printer) continue;
    std::string jobs;
    for (unsigned job : tally.jobs) {
      jobs += (jobs.empty() ? "" : ", ") + std::string("<a href=\"#job-") + std::to_string(job) +
              "\">" + std::to_string(job) + "</a>";
    }
    if (tally.jobsLeftOut > 0) jobs += " and " + Thousands(tally.jobsLeftOut) + " more";
    const std::string what =
        tally.others ? Html(tally.what) + " <span class=\"dim\">(past the page's limit of " +
                           Thousands(report.limits.errorKinds) + " kinds, together)</span>"
                     : Html(tally.what);
    rows += "<tr data-count=\"" + std::to_string(tally.count) + "\" data-lasted-ms=\"" +
            std::to_string(tally.lastedMs) + "\"><td>" + what + "</td><td class=\"num\">" +
            Thousands(tally.count) + "</td><td class=\"num\">" + Thousands(tally.reports) +
            "</td><td class=\"time\">" + Html(tally.first.text) + "</td><td class=\"time\">" +
            Html(tally.last.text) + "</td><td class=\"num\">" + Duration(tally.lastedMs) +
            "</td><td>" + (jobs.empty() ? "&mdash;" : jobs) + "</td></tr>\n";
  }
  if (rows.empty()) {
    return printer ? "<p class=\"empty\">The log shows no printer error.</p>\n"
                   : "<p class=\"empty\">None.</p>\n";
  }
  return std::string("<table class=\"errors") + (printer ? " printer" : " other") +
         "\">\n<tr><th>What</th><th>Times</th><th>Lines</th><th>First</th><th>Last</th>"
         "<th>Lasted</th><th>Jobs</th></tr>\n" +
         rows + "</table>\n";
}

std::string UnknownSection(const Report& report) {
  if (report.unknownCount == 0) {
    return "<p class=\"empty\">Every line of the log was recognised.</p>\n";
  }
  std::string html = "<p>" + Plural(report.unknownCount, "line was", "lines were") +
                     " not recognised and left out of the story above";
  if (report.unknown.size() < report.unknownCount) {
    html += " (" + Thousands(report.unknown.size()) + " different ones listed)";
  }
  html += ".</p>\n<table class=\"unknown\">\n<tr><th>Line</th><th>Text</th><th>Times</th></tr>\n";
  for (const UnknownLine& line : report.unknown) {
    std::string text = line.text.size() > 300 ? line.text.substr(0, 300) + "..." : line.text;
    html += "<tr><td class=\"num\">" + Thousands(line.firstLine) + "</td><td><code>" + Html(text) +
            "</code>" + (line.badFormat ? " <span class=\"dim\">(not a log record)</span>" : "") +
            "</td><td class=\"num\">" + Thousands(line.count) + "</td></tr>\n";
  }
  return html + "</table>\n";
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
  std::string page =
      "<!DOCTYPE html>\n<html lang=\"en\">\n<head>\n<meta charset=\"utf-8\">\n"
      "<meta name=\"viewport\" content=\"width=device-width, initial-scale=1\">\n"
      "<title>" +
      Html(heading + ": " + report.source) + "</title>\n<script>" + kErrorGuard +
      "</script>\n<style>" + kStyle + "</style>\n</head>\n<body>\n<header>\n<h1>" + heading +
      "</h1>\n<p class=\"source\">" + Html(report.source) + " &middot; times are " +
      Html(report.clock) + "</p>\n";
  if (!report.title.empty()) page += "<p><b>" + Html(report.title) + "</b></p>\n";
  if (!report.description.empty())
    page += "<p class=\"dim\">" + Html(report.description) + "</p>\n";
  page +=
      "<nav><a href=\"#summary\">Summary</a><a href=\"#ink\">Ink</a><a href=\"#jobs\">Jobs</a>"
      "<a href=\"#questions\">Boxes</a><a href=\"#errors\">Printer errors</a>";
  if (!report.settings.empty()) page += "<a href=\"#settings\">Settings files</a>";
  page += "<a href=\"#unknown\">Lines not recognised</a></nav>\n</header>\n";

  page += "<section id=\"summary\">\n<h2>Summary</h2>\n" + SummaryTable(report);
  const std::string limits = LimitsNote(report);
  if (!report.notes.empty() || !limits.empty()) {
    page += "<h3>How the log was read</h3>\n<ul class=\"notes\">\n" + limits;
    for (const std::string& note : report.notes) page += "<li>" + Html(note) + "</li>\n";
    page += "</ul>\n";
  }
  if (!report.cannotShow.empty()) {
    page += "<h3>What the log cannot show</h3>\n<ul class=\"notes cannot-show\">\n";
    for (const std::string& note : report.cannotShow) page += "<li>" + Html(note) + "</li>\n";
    page += "</ul>\n";
  }
  page += "</section>\n";

  page +=
      "<section id=\"ink\">\n<h2>Ink</h2>\n<p class=\"dim\">Each ink check logs one spit "
      "count: for a colour cartridge the highest of its yellow, magenta and cyan counters, "
      "for a black one its black counter. Hover over a point for its check.</p>\n" +
      InkChart(report) + "</section>\n";

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
    page += JobArticle(report, job);
  }
  page += "</section>\n";

  page += "<section id=\"questions\">\n<h2>Boxes</h2>\n" + QuestionsTable(report) +
          "</section>\n<section id=\"errors\">\n<h2>Printer errors</h2>\n" +
          ErrorsTable(report, true) + "<h3>Other failures</h3>\n" + ErrorsTable(report, false) +
          "</section>\n";

  if (!report.settings.empty()) {
    page += "<section id=\"settings\">\n<h2>Settings files at the end</h2>\n";
    for (const SettingsFileText& file : report.settings) {
      page += "<h3>" + Html(file.label) + "</h3>\n<p class=\"dim\">" + Html(file.path) + "</p>\n" +
              (file.exists ? "<pre>" + Html(file.text) + "</pre>\n"
                           : std::string("<p class=\"empty\">(no such file)</p>\n"));
    }
    page += "</section>\n";
  }
  page += "<section id=\"unknown\">\n<h2>Lines not recognised</h2>\n" + UnknownSection(report) +
          "</section>\n<footer>Made by langmon-report from " + Html(report.source) +
          ".</footer>\n<script>" + kScript + "</script>\n</body>\n</html>\n";
  return page;
}

}  // namespace langmon_report
