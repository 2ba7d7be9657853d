// langmon-report's log reader and page on any bytes, read in pieces as a file is, within the
// page's real limits or tiny ones that the input goes past.
//
// Properties: it neither crashes nor hangs, and every '<', '>', '&' and '"' of the log reaches
// the page escaped. The escaping is held against a twin: the same report with each of those
// characters in its texts replaced by a letter. The two pages are the same once each escape is
// read as that letter, which holds only if every such character, wherever the page shows it,
// was escaped: one left as it was stays a markup character where the twin has the letter.
#include <fuzzer/FuzzedDataProvider.h>

#include <cstdio>
#include <cstdlib>
#include <functional>
#include <string>
#include <string_view>

#include "tools/langmon-report/page.h"
#include "tools/langmon-report/reader.h"

namespace {

using langmon_report::Report;

constexpr char kLetter = 'Z';

[[noreturn]] void Fail(const char* what) {
  std::fprintf(stderr, "fuzz property broken: %s\n", what);
  std::abort();
}

// Every text the report holds, any of which the page may show.
void ForEachText(Report& report, const std::function<void(std::string&)>& visit) {
  const auto when = [&](langmon_report::When& moment) { visit(moment.text); };
  const auto events = [&](std::vector<langmon_report::Event>& list) {
    for (langmon_report::Event& event : list) {
      when(event.when);
      visit(event.text);
    }
  };
  visit(report.source);
  visit(report.clock);
  visit(report.title);
  visit(report.description);
  when(report.first);
  when(report.last);
  for (std::string& note : report.notes) visit(note);
  for (std::string& note : report.cannotShow) visit(note);
  for (langmon_report::UnknownLine& line : report.unknown) visit(line.text);
  for (langmon_report::Tally& tally : report.errors) {
    visit(tally.what);
    when(tally.first);
    when(tally.last);
  }
  for (langmon_report::InkPoint& point : report.ink) when(point.when);
  for (langmon_report::SettingsFileText& file : report.settings) {
    visit(file.label);
    visit(file.path);
    visit(file.text);
  }
  for (langmon_report::Job& job : report.jobs) {
    visit(job.name);
    visit(job.outcomeNote);
    when(job.start);
    when(job.end);
    events(job.events);
    for (langmon_report::Check& check : job.checks) {
      when(check.when);
      events(check.events);
    }
    for (langmon_report::Question& question : job.questions) {
      when(question.when);
      when(question.last);
      visit(question.answer);
      visit(question.note);
      visit(question.before);
    }
    for (langmon_report::Wait& wait : job.waits) {
      visit(wait.what);
      visit(wait.ended);
      when(wait.from);
      when(wait.to);
    }
  }
}

// The page with each escape of the four characters read as the letter.
std::string EscapesAsLetter(std::string_view page) {
  static constexpr std::string_view kEscapes[] = {"&lt;", "&gt;", "&amp;", "&quot;"};
  std::string read;
  read.reserve(page.size());
  size_t from = 0;
  for (size_t at = page.find('&'); at != std::string_view::npos; at = page.find('&', at + 1)) {
    for (std::string_view entity : kEscapes) {
      if (page.compare(at, entity.size(), entity) != 0) continue;
      read.append(page.substr(from, at - from));
      read += kLetter;
      from = at + entity.size();
      break;
    }
  }
  read.append(page.substr(from));
  return read;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FuzzedDataProvider input(data, size);
  // From the input's end: the limits, and the size of the pieces the log is read in.
  langmon_report::Limits limits;
  if (input.ConsumeBool()) {
    for (size_t* limit :
         {&limits.jobs, &limits.checks, &limits.events, &limits.boxes, &limits.waits,
          &limits.inkChecks, &limits.errorKinds, &limits.jobsPerErrorKind, &limits.boxKinds,
          &limits.openJobs, &limits.unknownLines, &limits.unknownLength, &limits.notes}) {
      *limit = input.ConsumeIntegralInRange<size_t>(0, 3);
    }
  }
  const size_t piece = input.ConsumeIntegralInRange<size_t>(1, 1 << 12);
  const std::string log = input.ConsumeRemainingBytesAsString();

  langmon_report::LogFileReader reader(limits);
  for (size_t at = 0; at < log.size(); at += piece) {
    reader.Feed(std::string_view(log).substr(at, piece));
  }
  std::string error;
  std::optional<Report> report = reader.Finish("fuzz.dbg", &error);
  if (!report) {
    if (error.empty()) Fail("a log that is not read says why");
    return 0;
  }
  const std::string page = langmon_report::RenderPage(*report);
  Report twin = *report;
  ForEachText(twin, [](std::string& text) {
    for (char& c : text) {
      if (c == '<' || c == '>' || c == '&' || c == '"') c = kLetter;
    }
  });
  if (EscapesAsLetter(page) != EscapesAsLetter(langmon_report::RenderPage(twin))) {
    Fail("a '<', '>', '&' or '\"' of the log reaches the page unescaped");
  }
  return 0;
}
