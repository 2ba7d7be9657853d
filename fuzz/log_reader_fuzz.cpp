// langmon-report's log reader and page on any bytes, read in pieces as a file is, within the
// page's real limits or tiny ones that the input goes past.
//
// Properties: it neither crashes nor hangs, and every '<', '>', '&' and '"' of the log reaches
// the page escaped. The escaping is held against a twin: the same report with each of those
// characters in its texts replaced by a letter. The two pages are the same once each escape is
// read as that letter, which holds only if every such character, wherever the page shows it,
// was escaped: one left as it was stays a markup character where the twin has the letter.
#include <fuzzer/FuzzedDataProvider.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

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
template <class Visit>
void ForEachText(Report& report, const Visit& visit) {
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

// Each of the four characters in the text replaced by the letter; false if it had none.
bool MarkupAsLetter(std::string& text) {
  bool replaced = false;
  // A pointer runs faster than the string's iterator, which -O1 leaves as calls.
  for (char *c = text.data(), *end = c + text.size(); c != end; ++c) {
    if (*c != '<' && *c != '>' && *c != '&' && *c != '"') continue;
    *c = kLetter;
    replaced = true;
  }
  return replaced;
}

constexpr std::string_view kEscapes[] = {"&lt;", "&gt;", "&amp;", "&quot;"};
constexpr size_t kLongestEscape = std::ranges::max(kEscapes, {}, &std::string_view::size).size();

// The length of the escape of one of the four characters at `at`, or 0 if there is none.
size_t EscapeAt(std::string_view page, size_t at) {
  if (page[at] != '&') return 0;
  for (std::string_view entity : kEscapes) {
    if (page.substr(at, entity.size()) == entity) return entity.size();
  }
  return 0;
}

// How many bytes the two start with alike.
size_t SameStart(std::string_view a, std::string_view b) {
  constexpr size_t kBlock = 256;
  const size_t most = std::min(a.size(), b.size());
  size_t same = 0;
  while (same + kBlock <= most && std::memcmp(a.data() + same, b.data() + same, kBlock) == 0) {
    same += kBlock;
  }
  while (same < most && a[same] == b[same]) ++same;
  return same;
}

// Whether the pages are the same once each escape of the four characters is read as the letter,
// read side by side without making either reading. Alike bytes read alike, but for an escape
// that the first difference cuts: the reading goes on from the '&' it starts with, which is
// within an escape's length before the difference (escapes hold no other '&').
bool SameEscapesAsLetter(std::string_view page, std::string_view twin) {
  size_t at = 0, twinAt = 0;
  while (true) {
    const size_t same = SameStart(page.substr(at), twin.substr(twinAt));
    if (at + same == page.size() && twinAt + same == twin.size()) return true;
    size_t from = same;
    for (size_t i = same >= kLongestEscape ? same - (kLongestEscape - 1) : 0; i < same; ++i) {
      if (page[at + i] == '&') {
        from = i;
        break;
      }
    }
    at += from;
    twinAt += from;
    if (at == page.size() || twinAt == twin.size()) return false;
    const size_t escape = EscapeAt(page, at), twinEscape = EscapeAt(twin, twinAt);
    if ((escape != 0 ? kLetter : page[at]) != (twinEscape != 0 ? kLetter : twin[twinAt])) {
      return false;
    }
    at += escape != 0 ? escape : 1;
    twinAt += twinEscape != 0 ? twinEscape : 1;
  }
}

}  // namespace

// Inputs of up to 8 KiB, unless -max_len says otherwise. A log of that size holds jobs with
// their checks, waits, boxes and ink, and runs of more than ten plain checks that the page folds;
// fuzzed for as long from the seed corpus, inputs of up to 17 KiB reached no code that these did
// not, but for the digits of larger numbers, at half the executions a second. Inputs of up to
// 4 KiB lost the folded runs.
extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv) {
  static char maxLen[] = "-max_len=8192";
  static std::vector<char*> arguments;
  for (int i = 1; i < *argc; ++i) {
    if (std::string_view((*argv)[i]).starts_with("-max_len=")) return 0;
  }
  arguments.assign(*argv, *argv + *argc);
  arguments.insert(arguments.begin() + 1, maxLen);
  *argc += 1;
  arguments.push_back(nullptr);
  *argv = arguments.data();
  return 0;
}

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
  // The report itself becomes the twin; one with none of the four characters in its texts is
  // its own twin, and its page the same.
  bool replaced = false;
  ForEachText(*report, [&replaced](std::string& text) { replaced |= MarkupAsLetter(text); });
  if (replaced && !SameEscapesAsLetter(page, langmon_report::RenderPage(*report))) {
    Fail("a '<', '>', '&' or '\"' of the log reaches the page unescaped");
  }
  return 0;
}
