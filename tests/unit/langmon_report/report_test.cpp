// langmon-report against what really happened: every shipped scenario's log read back and held
// against its run; logs cut at the size cap, written by two processes, or not logs at all.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <map>

#include "tests/unit/langmon_report/log_lines.h"
#include "tests/unit/langmon_report/report_fixture.h"
#include "tools/langmon-report/html.h"
#include "tools/langmon-report/log_texts.h"
#include "tools/langmon-report/page.h"
#include "tools/langmon-sim/builtin_scenario.h"

namespace langmon_report {
namespace {

// Boxes the log file provably cannot show: for these scenarios the page lists, job by job, what
// the log does show instead of the run's boxes, a box asked again in a row counted once.
const std::map<std::string, std::vector<std::vector<unsigned>>> kLogShowsInstead = {
    // No at question 400 shows the notice 472 first; the log has the same lines for Yes.
    {"black_cartridge_unload_stock", {{400, 443}}},
    // Quiet mode puts the questions but shows none, and the log does not say it was on; a
    // question asked again while the monitor waits for the printer leaves no line of its own
    // (470) or one per wait (436, 454).
    {"quiet_mode_low_ink", {{469}}},
    {"quiet_mode_empty_cartridge", {{470}}},
    {"quiet_mode_out_of_stock", {{436}}},
    {"silent_printer_quiet", {{454}}},
    // So for the quiet one of two printers (jobs 1 and 4), whose jobs' lines interleave with the
    // other's.
    {"two_printers_one_quiet", {{469}, {469}, {469}, {}}},
};

std::vector<unsigned> Once(std::vector<unsigned> ids) {
  ids.erase(std::unique(ids.begin(), ids.end()), ids.end());
  return ids;
}

// The text between two marks, built up piece by piece (GCC 12 at -O3 misreads the operator+ of a
// literal and a string as an overlapping copy).
std::string Framed(const std::string& text, char mark) {
  std::string framed;
  framed.reserve(text.size() + 2);
  framed += mark;
  framed += text;
  framed += mark;
  return framed;
}

// Whether an answer the log allows ("Yes or No, or no answer") takes in the one given.
bool Allows(const std::string& inferred, const std::string& given) {
  if (inferred.empty()) return true;  // a notice: OK only
  // The words between the separators ", or " and " or ", one by one.
  std::string_view rest = inferred;
  while (!rest.empty()) {
    size_t end = rest.size(), skip = 0;
    for (const std::string_view separator : {", or ", " or "}) {
      const size_t at = rest.find(separator);
      if (at < end) {
        end = at;
        skip = separator.size();
      }
    }
    if (rest.substr(0, end) == given) return true;
    rest.remove_prefix(end + skip);
  }
  return false;
}

// The log, read back, against the run: jobs, outcomes, boxes (except `instead`, what the log shows
// where it cannot show the run's boxes) and answers; the run's own page knows every box. The run,
// for what else a case needs to see.
ScenarioRun ExpectLogAgreesWithRun(const langmon_sim::Scenario& scenario,
                                   const std::vector<std::vector<unsigned>>* instead = nullptr) {
  ScenarioRun result = RunAndRead(scenario);
  EXPECT_TRUE(result.readable);
  if (!result.readable) return result;
  EXPECT_EQ(result.fromLog.jobs.size(), result.run.jobs.size());
  EXPECT_EQ(result.fromRun.jobs.size(), result.run.jobs.size());
  if (result.fromLog.jobs.size() != result.run.jobs.size() ||
      result.fromRun.jobs.size() != result.run.jobs.size()) {
    return result;
  }
  EXPECT_EQ(result.fromLog.unknownCount, 0u);
  for (size_t i = 0; i < result.run.jobs.size(); ++i) {
    SCOPED_TRACE("job " + std::to_string(i + 1));
    const langmon_sim::JobReport& job = result.run.jobs[i];
    const char* outcome = langmon_sim::JobOutcomeName(job.outcome);
    EXPECT_STREQ(OutcomeName(result.fromLog.jobs[i].outcome), outcome);
    EXPECT_STREQ(OutcomeName(result.fromRun.jobs[i].outcome), outcome);
    EXPECT_EQ(result.fromRun.jobs[i].name, job.plan->name);
    EXPECT_EQ(Ids(result.fromRun.jobs[i]), job.boxes);
    const Job& read = result.fromLog.jobs[i];
    if (instead != nullptr) {
      EXPECT_EQ(Once(Ids(read)), (*instead)[i]);
    } else {
      EXPECT_EQ(Ids(read), job.boxes);
    }
    if (instead != nullptr || read.questions.size() != job.boxes.size()) continue;
    for (size_t k = 0; k < read.questions.size(); ++k) {
      EXPECT_TRUE(Allows(read.questions[k].answer, result.fromRun.jobs[i].questions[k].answer))
          << "box " << read.questions[k].id << ": the log says \"" << read.questions[k].answer
          << "\", the run answered " << result.fromRun.jobs[i].questions[k].answer;
    }
  }
  // The page carries the same count.
  EXPECT_NE(RenderPage(result.fromLog)
                .find("data-jobs=\"" + std::to_string(result.run.jobs.size()) + "\""),
            std::string::npos);
  return result;
}

// The built-in scenario and the stem of every shipped scenario file.
std::vector<std::string> ScenarioNames() {
  std::vector<std::string> names = {"builtin"};
  for (const auto& entry : std::filesystem::directory_iterator(LANGMON_SIM_SCENARIOS)) {
    if (entry.path().extension() == ".json") names.push_back(entry.path().stem().string());
  }
  return names;
}

// One test a scenario, so that they run side by side.
class EachScenarioLogTest : public ::testing::TestWithParam<std::string> {};

TEST_P(EachScenarioLogTest, AgreesWithItsRun) {
  const std::string& name = GetParam();
  const langmon_sim::Scenario scenario =
      name == "builtin"
          ? langmon_sim::BuiltInScenario()
          : langmon_sim::LoadScenarioFile(
                (std::filesystem::path(LANGMON_SIM_SCENARIOS) / (name + ".json")).string());
  const auto instead = kLogShowsInstead.find(name);
  ExpectLogAgreesWithRun(scenario, instead != kLogShowsInstead.end() ? &instead->second : nullptr);
}

INSTANTIATE_TEST_SUITE_P(Shipped, EachScenarioLogTest, ::testing::ValuesIn(ScenarioNames()),
                         [](const auto& info) { return info.param; });

TEST(ScenarioLogTest, FlowsNoShippedScenarioShowsAgreeToo) {
  // An invalid cartridge goes in and the user cancels at 445: a change begun but not made.
  const ScenarioRun cancelled = ExpectLogAgreesWithRun(langmon_sim::ParseScenario(R"({
    "printer": {"cartridge": {"yellow_spits": "480M"}, "new_cartridges": [{"state": "invalid"}]},
    "answers": ["yes", "ok", "cancel"], "jobs": [{"labels": 2}]})",
                                                                                  "invalid.json"));
  for (const Report* report : {&cancelled.fromLog, &cancelled.fromRun}) {
    EXPECT_EQ(report->cartridgeChanges, 0u);
    EXPECT_NE(RenderPage(*report).find("<tr><th>Cartridge changes</th><td>0</td>"),
              std::string::npos);
  }
  // No cartridge information after the change: Retry at 464 once the printer answers again.
  ExpectLogAgreesWithRun(langmon_sim::ParseScenario(R"({
    "printer": {"cartridge": {"yellow_spits": "480M"},
                "changes": [{"after_command": "cartridge_change_end", "set": {"responds": false}}]},
    "answers": ["yes", "ok", {"answer": "retry", "box": 464, "printer": {"responds": true}}, "ok"],
    "jobs": [{"labels": 2}]})",
                                                    "no_information.json"));
  // A write fails: the job stops.
  ExpectLogAgreesWithRun(langmon_sim::ParseScenario(R"({
    "printer": {"changes": [{"after_job_start": 1, "set": {"write_fault": "fail"}}]},
    "jobs": [{"labels": 2}]})",
                                                    "write_fault.json"));
  // The alignment print file is missing: the alignment fails, and box 422 has no text to show.
  const std::vector<std::vector<unsigned>> shown = {{400, 443}};
  ExpectLogAgreesWithRun(langmon_sim::ParseScenario(R"({
    "printer": {"cartridge": {"new": true}, "alignment_files": false},
    "answers": ["yes", "ok"], "jobs": [{"labels": 1}]})",
                                                    "no_alignment_file.json"),
                         &shown);
}

TEST(ScenarioLogTest, BuiltInScenarioShowsInkWarningsChangeAndAlignment) {
  const ScenarioRun result = RunAndRead(langmon_sim::BuiltInScenario());
  ASSERT_TRUE(result.readable);
  const Report& report = result.fromLog;
  ASSERT_EQ(report.ink.size(), 10u);
  EXPECT_EQ(report.ink.front().spits, 430300000u);
  EXPECT_EQ(report.ink.front().limit, 515000000u);
  EXPECT_EQ(report.ink[3].levelBefore, 1);  // job 2's first check warns
  EXPECT_EQ(report.ink[3].levelAfter, 2);
  for (const InkPoint& point : report.ink) EXPECT_EQ(point.family, Family::Colour);
  // The change is seen in job 3; job 4's counts belong to the new cartridge, told by the log.
  EXPECT_EQ(report.ink.back().cartridge, 1u);
  EXPECT_FALSE(report.ink.back().familyFromLimit);
  EXPECT_TRUE(report.ink.front().familyFromLimit);

  ASSERT_EQ(report.jobs.size(), 4u);
  EXPECT_EQ(report.jobs[1].questions[0].answer, "No, or no answer");
  EXPECT_EQ(report.jobs[2].questions[0].answer, "Yes");
  EXPECT_EQ(report.jobs[2].questions[2].answer, "Yes or No, or no answer");
  const std::vector<Event>& check = report.jobs[2].checks[0].events;
  EXPECT_EQ(std::count_if(check.begin(), check.end(),
                          [](const Event& e) { return e.kind == EventKind::AlignmentPrint; }),
            1);
  EXPECT_TRUE(report.errors.empty());
  EXPECT_FALSE(report.startsMidway);
  EXPECT_EQ(report.sessions, 1u);
}

TEST(ScenarioLogTest, UnansweredQuestionsAndTheCartridgeKindAreReadFromTheirFlows) {
  // Quiet mode with the cartridge-empty command refused: only a Yes could end the question, so
  // after three that nobody answers the monitor gives up.
  ScenarioRun result = RunAndRead(langmon_sim::ParseScenario(R"({"quiet": true,
    "printer": {"cartridge": {"yellow_spits": "900M"},
                "changes": [{"after_job_start": 1, "delay_ms": 100,
                             "set": {"write_fault": "fail"}}]},
    "jobs": [{"labels": 1}]})",
                                                             "refused_command.json"));
  ASSERT_EQ(result.fromLog.jobs.size(), 1u);
  const Job& quiet = result.fromLog.jobs[0];
  ASSERT_EQ(quiet.questions.size(), 3u);
  for (const Question& question : quiet.questions) EXPECT_EQ(question.answer, "no answer");
  const std::vector<Event>& events = quiet.checks.at(0).events;
  EXPECT_EQ(std::count_if(events.begin(), events.end(),
                          [](const Event& e) { return e.kind == EventKind::Command; }),
            1);

  // A pigment black cartridge: its alignment print file says black, its limit says pigment.
  result = RunAndRead(
      langmon_sim::LoadScenarioFile(LANGMON_SIM_SCENARIOS "/black_cartridge_unload_stock.json"));
  ASSERT_EQ(result.fromLog.ink.size(), 1u);
  EXPECT_EQ(result.fromLog.ink[0].family, Family::PigmentBlack);
  EXPECT_FALSE(result.fromLog.ink[0].familyFromLimit);
  EXPECT_NE(RenderPage(result.fromLog).find("data-series=\"pigment-black\""), std::string::npos);
}

TEST(CutLogTest, ALogThatStartsInsideAJobIsReadFromThere) {
  const ScenarioRun result = RunAndRead(langmon_sim::BuiltInScenario());
  const std::vector<std::string> lines = LinesOf(result.log);
  const auto from = std::find_if(lines.begin(), lines.end(), [](const std::string& line) {
    return line.find("Check Ink Level(Spits=519940000") != std::string::npos;
  });
  ASSERT_NE(from, lines.end());
  // What is left of a line that was copied half, then the log from job 3's ink check on; two of
  // its lines lost their line end between them.
  std::string cut = "Status Data\n";
  for (auto line = from; line != lines.end(); ++line) cut += *line;
  const size_t joined = cut.find("\n", cut.find("Label terminating cart install"));
  cut.erase(joined, 1);

  std::string error;
  const std::optional<Report> report = ReadLog(cut, "cut.dbg", &error);
  ASSERT_TRUE(report) << error;
  EXPECT_TRUE(report->startsMidway);
  EXPECT_EQ(report->unknownCount, 1u);
  ASSERT_EQ(report->unknown.size(), 1u);
  EXPECT_TRUE(report->unknown[0].badFormat);
  ASSERT_EQ(report->jobs.size(), 2u);
  const Job& job = report->jobs[0];
  EXPECT_FALSE(job.startSeen);
  EXPECT_EQ(job.outcome, Outcome::Deleted);
  EXPECT_EQ(Ids(job), (std::vector<unsigned>{469, 427, 400, 443}));
  EXPECT_EQ(report->jobs[1].outcome, Outcome::Printed);
  EXPECT_TRUE(report->jobs[1].startSeen);
  ASSERT_EQ(report->ink.size(), 3u);
  EXPECT_EQ(report->ink[0].spits, 519940000u);
  EXPECT_NE(RenderPage(*report).find("The log begins after the monitor started"),
            std::string::npos);
}

TEST(CutLogTest, ASecondProcessInsideAJobGetsItsOwnJobAndTheFirstCarriesOn) {
  const ScenarioRun outer = RunAndRead(langmon_sim::BuiltInScenario());
  const ScenarioRun inner =
      RunAndRead(langmon_sim::LoadScenarioFile(LANGMON_SIM_SCENARIOS "/out_of_stock.json"));
  const std::vector<std::string> lines = LinesOf(outer.log);
  // Job 2 of the outer process has passed its first check when the other process starts.
  size_t split = 0;
  for (size_t passed = 0; split < lines.size() && passed < 5; ++split) {
    if (lines[split].find("PrepareForNextPrint( ) successful!") != std::string::npos) ++passed;
  }
  std::string merged;
  for (size_t i = 0; i < split; ++i) merged += lines[i];
  merged += inner.log;
  for (size_t i = split; i < lines.size(); ++i) merged += lines[i];

  std::string error;
  const std::optional<Report> report = ReadLog(merged, "two.dbg", &error);
  ASSERT_TRUE(report) << error;
  EXPECT_EQ(report->sessions, 2u);
  EXPECT_TRUE(report->overlapping);
  ASSERT_EQ(report->jobs.size(), 5u);
  const std::vector<Outcome> outcomes = {Outcome::Printed, Outcome::Printed, Outcome::Printed,
                                         Outcome::Deleted, Outcome::Printed};
  const std::vector<std::vector<unsigned>> boxes = {
      {}, {469}, {436, 436}, {469, 427, 400, 443}, {}};
  for (size_t i = 0; i < 5; ++i) {
    EXPECT_EQ(report->jobs[i].outcome, outcomes[i]) << "job " << i + 1;
    EXPECT_EQ(Ids(report->jobs[i]), boxes[i]) << "job " << i + 1;
  }
  EXPECT_EQ(report->jobs[1].checks.size(), 4u);
  EXPECT_EQ(report->jobs[1].overlaps, std::set<unsigned>{3});

  // Interleaved line by line the story is lost, but every job is still found and nothing breaks.
  const std::vector<std::string> other = LinesOf(inner.log);
  std::string shuffled;
  for (size_t i = 0; i < std::max(lines.size(), other.size()); ++i) {
    if (i < lines.size()) shuffled += lines[i];
    if (i < other.size()) shuffled += other[i];
  }
  const std::optional<Report> garbled = ReadLog(shuffled, "shuffled.dbg", &error);
  ASSERT_TRUE(garbled);
  EXPECT_EQ(std::count_if(garbled->jobs.begin(), garbled->jobs.end(),
                          [](const Job& job) { return job.startSeen; }),
            5);
  EXPECT_FALSE(RenderPage(*garbled).empty());
}

TEST(LogTextTest, StampsTextsAndNumbersAreTakenAsTheMonitorWritesThem) {
  EXPECT_EQ(ParseStamp("03/02 09:05:03:007  "), 5303103007LL);
  EXPECT_FALSE(ParseStamp("13/02 09:05:03:007  "));
  EXPECT_FALSE(ParseStamp("03/02 09:05:03:007 x"));
  EXPECT_FALSE(ParseStamp("03/02 24:05:03:007  "));

  Matched matched =
      MatchLogText("Check Ink Level(Spits=4294967295, MaxSpits=515000000, Level=-1\n");
  EXPECT_EQ(matched.text, Text::InkCheck);
  EXPECT_EQ(matched.numbers, (std::vector<long long>{4294967295LL, 515000000, -1}));
  EXPECT_EQ(MatchLogText(" --> Cartridge Spits = 430300000 \n").text, Text::InkSpits);
  matched = MatchLogText("**** PjlMon: OpenPort USB001 : Failed\n");
  EXPECT_EQ(matched.text, Text::OpenPortFailed);
  EXPECT_EQ(matched.string, "USB001");
  EXPECT_EQ(MatchLogText("CartEmpty condition (1f) cleared by user we can continue").numbers,
            std::vector<long long>{0x1f});
  EXPECT_EQ(MatchLogText("**** PJLMonOpenPortEx Return Cleanup").text, Text::OpenPortCleanup);
  EXPECT_EQ(MatchLogText("Check Ink Level(Spits=, MaxSpits=1, Level=1").text, Text::Unknown);
  matched =
      MatchLogText("OemPtrGetDriverAppDataPath(): C:\\ProgramData\\VMT is a link, not used\n");
  EXPECT_EQ(matched.text, Text::AppDataLink);
  EXPECT_EQ(matched.string, "C:\\ProgramData\\VMT");
  matched = MatchLogText(
      "OemPtrGetDriverAppDataPath(): C:\\ProgramData\\VMT\\Drivers\\CON is "
      "not a folder name, not used\n");
  EXPECT_EQ(matched.text, Text::AppDataNotFolderName);
  EXPECT_EQ(matched.string, "C:\\ProgramData\\VMT\\Drivers\\CON");
  EXPECT_EQ(
      MatchLogText("OemPtrGetDriverAppDataPath(): C:\\x\\PRN.ini is a device name, not used").text,
      Text::AppDataDeviceName);
  EXPECT_EQ(
      MatchLogText("OemPtrGetDriverAppDataPath(): C:\\x\\a.ini is not a disk file, not used").text,
      Text::AppDataNotDiskFile);
  EXPECT_EQ(MatchLogText("OemPtrMessageBox(): message 436 not shown: nobody sees session 0 (the "
                         "job came from session 0)")
                .text,
            Text::BoxNobody);
  // A text that starts with its number, and texts whose first character starts no text.
  matched = MatchLogText("  12 questions went unanswered: giving up\n");
  EXPECT_EQ(matched.text, Text::Unanswered);
  EXPECT_EQ(matched.numbers, std::vector<long long>{12});
  EXPECT_EQ(MatchLogText("\xE9\xE9 questions went unanswered: giving up").text, Text::Unknown);
  EXPECT_EQ(MatchLogText("").text, Text::Unknown);
  EXPECT_EQ(MatchLogText("**** PJLMonClosePort Calle").text, Text::Unknown);

  // A log kept over New Year: the times go on; an unknown level word is still a record.
  const LogFile file = ReadLogBytes(
      "12/31 23:59:59:990  VMT_LM_10[INFORM] **** PJLMonClosePort Called\n"
      "01/01 00:00:00:010  VMT_LM_10[UNKNOWN] something\r\n");
  ASSERT_EQ(file.records.size(), 2u);
  EXPECT_EQ(file.records[0].text, "**** PJLMonClosePort Called");
  EXPECT_EQ(file.records[1].when, "01/01 00:00:00:010");
  EXPECT_EQ(file.records[1].ms - file.records[0].ms, 20);
  EXPECT_EQ(file.records[1].level, 0);
  EXPECT_EQ(file.records[1].text, "something");
  // The level word is all that comes before the first "] ", and the text may hold another.
  const LogFile levels = ReadLogBytes(
      "03/02 09:05:03:007  VMT_LM_10[** ERROR **] a] b\n"
      "03/02 09:05:03:008  VMT_LM_10[INFORMAL] c\n"
      "03/02 09:05:03:009  VMT_LM_10[INFORM]d\n"
      "03/02 09:05:03:010  VMT_LM_10[*** FATAL ***] \n");
  ASSERT_EQ(levels.records.size(), 2u);
  EXPECT_EQ(levels.records[0].level, 5);
  EXPECT_EQ(levels.records[0].text, "a] b");
  EXPECT_EQ(levels.records[1].level, 6);
  EXPECT_EQ(levels.records[1].text, "");
  EXPECT_EQ(levels.bad.size(), 2u);
}

TEST(LogTextTest, TextFromTheLogCannotBreakOutOfThePage) {
  const std::string log =
      "03/02 09:05:03:007  VMT_LM_10[INFORM] **** LANGMON: Initialize Print Monitor Called\n"
      "03/02 09:05:03:008  VMT_LM_10[INFORM] <script>alert(1)</script> \xff\x01\n"
      "<img src=x onerror=alert(2)>\n"
      // A lead byte whose sequence a markup character cuts short.
      "03/02 09:05:03:009  VMT_LM_10[INFORM] a\xC3<b c=\xE2\x82\"d\"\xF0\x9F>\n";
  std::string error;
  const std::optional<Report> report = ReadLog(log, "<b>x</b>.dbg", &error);
  ASSERT_TRUE(report) << error;
  EXPECT_EQ(report->unknownCount, 3u);
  const std::string page = RenderPage(*report);
  EXPECT_EQ(page.find("<script>alert"), std::string::npos);
  EXPECT_EQ(page.find("<img"), std::string::npos);
  EXPECT_EQ(page.find("<b>x"), std::string::npos);
  // A byte that is not UTF-8 and a control character: each the replacement character.
  EXPECT_NE(page.find("&lt;script&gt;alert(1)&lt;/script&gt; \xEF\xBF\xBD\xEF\xBF\xBD"),
            std::string::npos);
  // The bytes before the markup character are one U+FFFD; the character is escaped all the same.
  EXPECT_NE(page.find("a\xEF\xBF\xBD&lt;b c=\xEF\xBF\xBD&quot;d&quot;\xEF\xBF\xBD&gt;"),
            std::string::npos);

  // UTF-8 exactly as the standard has it: one U+FFFD for each ill-formed start, none for a
  // well-formed character, however rare.
  const std::string replacement = "\xEF\xBF\xBD";
  const std::pair<std::string, std::string> texts[] = {
      {"\xC3\xA9 \xE2\x82\xAC \xF0\x9F\x98\x80 \xF4\x8F\xBF\xBF",
       "\xC3\xA9 \xE2\x82\xAC \xF0\x9F\x98\x80 \xF4\x8F\xBF\xBF"},
      {"\xC0\xAF", replacement + replacement},                    // overlong '/'
      {"\xE0\x80\xAF", replacement + replacement + replacement},  // overlong again
      {"\xED\xA0\x80", replacement + replacement + replacement},  // a surrogate
      {"\xF4\x90\x80\x80", replacement + replacement + replacement + replacement},  // > U+10FFFF
      {"\xF5\x80", replacement + replacement},                   // no such lead byte
      {"\xF0\x9F\x98", replacement},                             // cut short at the end
      {"\xC2\x85\x7F\t\n", replacement + replacement + "\t\n"},  // C1 control, DEL
      // Plain text and markup next to each other, at either end.
      {"<a b='c'>&\"d\"", "&lt;a b=&#39;c&#39;&gt;&amp;&quot;d&quot;"},
      {"x\x01\x1Fy z\t", "x" + replacement + replacement + "y z\t"},
      {"\xC3\xA9<\xC3\xA9", "\xC3\xA9&lt;\xC3\xA9"},
      {"", ""},
  };
  for (const auto& [text, shown] : texts) EXPECT_EQ(Html(text), shown) << Html(text);
}

TEST(LogTextTest, NumbersAndTimesAreWrittenAsPeopleReadThem) {
  EXPECT_EQ(Thousands(0), "0");
  EXPECT_EQ(Thousands(1234567), "1,234,567");
  EXPECT_EQ(Plural(1, "job", "jobs"), "1 job");
  EXPECT_EQ(Plural(1000, "job", "jobs"), "1,000 jobs");
  // One decimal, rounded as printf rounds: a half between two goes to the even one.
  EXPECT_EQ(Millions(469760000), "469.8 M");
  EXPECT_EQ(Millions(2250000), "2.2 M");
  EXPECT_EQ(Millions(2350000), "2.4 M");
  EXPECT_EQ(Millions(0), "0.0 M");
  EXPECT_EQ(Fixed(959.95, 1), "960.0");
  EXPECT_EQ(Fixed(-0.04, 1), "-0.0");
  EXPECT_EQ(Duration(-5), "0.000 s");
  EXPECT_EQ(Duration(213), "0.213 s");
  EXPECT_EQ(Duration(59999), "59.999 s");
  EXPECT_EQ(Duration(60000), "1 min 0 s");
  EXPECT_EQ(Duration(3599999), "59 min 59 s");
  EXPECT_EQ(Duration(3600000), "1 h 0 min");
  EXPECT_EQ(Duration(11100000), "3 h 5 min");
  EXPECT_EQ(Duration(187200000), "2 d 4 h");
}

TEST(LogTextTest, OnlyTheSameEventRightAfterItselfFoldsIntoIt) {
  std::string log;
  LogLines lines([&log](const std::string& line) { log += line; });
  lines.StartJob(true).BeginCheck();
  lines.Error("GetRoboStatusUSB: Wrong Start or End Character.");
  lines.Error("CHECKSUM ERROR!! TRY AGAIN.").Error("CHECKSUM ERROR!! TRY AGAIN.");
  lines.Error("GetRoboStatusUSB: Wrong number of status bytes: 12");
  lines.Error("GetRoboStatusUSB: Wrong number of status bytes: 13");
  lines.PlainInkAndPass(1000000).EndJob();
  std::string error;
  const std::optional<Report> report = ReadLog(log, "fold.dbg", &error);
  ASSERT_TRUE(report) << error;
  ASSERT_EQ(report->jobs.size(), 1u);
  std::vector<std::pair<std::string, unsigned>> failures;
  for (const Event& event : report->jobs[0].checks.at(0).events) {
    if (event.kind == EventKind::Status) failures.emplace_back(event.text, event.count);
  }
  EXPECT_EQ(failures, (std::vector<std::pair<std::string, unsigned>>{
                          {"status record with a wrong start or end byte", 1},
                          {"status record with a bad checksum", 2},
                          {"status record of the wrong size (12 bytes)", 1},
                          {"status record of the wrong size (13 bytes)", 1}}));
}

// ---- The program ----------------------------------------------------------------------------

struct Program {
  int status = -1;
  std::string output;
};

// The program with these arguments (which may redirect its standard output), in `folder` when
// one is given; its standard error comes with its output.
Program RunReportProgram(const std::string& arguments, const std::string& folder = "") {
  Program result;
  const std::string command = (folder.empty() ? "" : "cd " + Framed(folder, '\'') + " && ") +
                              Framed(LANGMON_REPORT_PROGRAM, '\'') + " 2>&1 " + arguments;
  FILE* pipe = popen(command.c_str(), "r");
  if (pipe == nullptr) return result;
  char buffer[4096];
  for (size_t count; (count = fread(buffer, 1, sizeof(buffer), pipe)) > 0;) {
    result.output.append(buffer, count);
  }
  const int status = pclose(pipe);
  result.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return result;
}

TEST(ProgramTest, ALogGivesAPageAndAnythingElseExitsWithTwo) {
  const std::string folder = langmon_sim::MakeWorkFolder();
  const auto write = [&folder](const std::string& name, const std::string& bytes) {
    const std::string path = folder + "/" + name;
    std::ofstream(path, std::ios::binary) << bytes;
    return path;
  };
  const ScenarioRun result = RunAndRead(langmon_sim::BuiltInScenario());
  const std::string log = write("VelmoraLMDrv.dbg", result.log);
  Program program =
      RunReportProgram(Framed(log, '\'') + " -o " + Framed(folder + "/page.html", '\''));
  EXPECT_EQ(program.status, 0) << program.output;
  EXPECT_NE(program.output.find("4 job(s)"), std::string::npos) << program.output;
  EXPECT_EQ(langmon_sim::ReadWholeFile(folder + "/page.html").rfind("<!DOCTYPE html>", 0), 0u);
  // With -o -, the page on standard output; the line about it comes after it (standard error).
  program = RunReportProgram(Framed(log, '\'') + " -o -");
  EXPECT_EQ(program.status, 0);
  EXPECT_EQ(program.output.rfind(langmon_sim::ReadWholeFile(folder + "/page.html"), 0), 0u);
  EXPECT_NE(program.output.find("wrote the page to standard output"), std::string::npos);

  const std::string text = write("notes.txt", "Dear support,\nthe printer stopped.\n");
  program = RunReportProgram(Framed(text, '\'') + " -o " + Framed(folder + "/notes.html", '\''));
  EXPECT_EQ(program.status, 2);
  EXPECT_NE(program.output.find("notes.txt: not a monitor log"), std::string::npos)
      << program.output;
  EXPECT_FALSE(std::filesystem::exists(folder + "/notes.html"));

  EXPECT_EQ(RunReportProgram(Framed(write("empty.dbg", ""), '\'')).status, 2);
  EXPECT_EQ(RunReportProgram(
                Framed(write("bytes.bin", std::string("\x89PNG\r\n\x1a\n\0\0\xff", 11)), '\'') +
                " -o " + Framed(folder + "/b.html", '\''))
                .status,
            2);
  EXPECT_EQ(RunReportProgram(Framed(folder + "/no-such-file", '\'')).status, 2);
  EXPECT_EQ(RunReportProgram(Framed(log, '\'') + " -o " +
                             Framed(folder + "/no/such/folder/page.html", '\''))
                .status,
            1);
  std::filesystem::remove_all(folder);
}

TEST(ProgramTest, ThePageNeverReplacesItsLogAndALinkAtItsNameIsReplacedNotFollowed) {
  namespace fs = std::filesystem;
  const std::string folder = langmon_sim::MakeWorkFolder();
  const std::string log = folder + "/VelmoraLMDrv.dbg";
  const std::string bytes = RunAndRead(langmon_sim::BuiltInScenario()).log;
  std::ofstream(log, std::ios::binary) << bytes;
  const std::string quoted = Framed(log, '\'');
  // The log under its own name, another spelling of it, a link to it and a second name of it.
  fs::create_symlink(log, folder + "/link.html");
  fs::create_hard_link(log, folder + "/second.html");
  for (const std::string& output :
       {log, folder + "/./VelmoraLMDrv.dbg", folder + "/link.html", folder + "/second.html"}) {
    SCOPED_TRACE(output);
    const Program program = RunReportProgram(quoted + " -o " + Framed(output, '\''));
    EXPECT_EQ(program.status, 2);
    EXPECT_NE(program.output.find(" is the log " + log + " itself (the same file"),
              std::string::npos)
        << program.output;
    EXPECT_EQ(langmon_sim::ReadWholeFile(log), bytes);
  }
  // The page's default name, in the current folder, planted as a link to the log; and standard
  // output appended to the log.
  fs::create_symlink(log, folder + "/VelmoraLMDrv.dbg.html");
  Program program = RunReportProgram("VelmoraLMDrv.dbg", folder);
  EXPECT_EQ(program.status, 2) << program.output;
  program = RunReportProgram(quoted + " -o - >>" + quoted);
  EXPECT_EQ(program.status, 2) << program.output;
  EXPECT_NE(program.output.find("standard output is the log"), std::string::npos);
  EXPECT_EQ(langmon_sim::ReadWholeFile(log), bytes);

  // A link planted at the page's name to someone else's file: the link is replaced by the page,
  // the file stays as it was, and no temporary file is left behind.
  const std::string victim = folder + "/victim.txt";
  std::ofstream(victim) << "not yours";
  fs::create_symlink(victim, folder + "/page.html");
  program = RunReportProgram("-o " + Framed(folder + "/page.html", '\'') + " " + quoted);
  EXPECT_EQ(program.status, 0) << program.output;
  EXPECT_EQ(langmon_sim::ReadWholeFile(victim), "not yours");
  EXPECT_FALSE(fs::is_symlink(folder + "/page.html"));
  EXPECT_EQ(langmon_sim::ReadWholeFile(folder + "/page.html").rfind("<!DOCTYPE html>", 0), 0u);
  for (const auto& entry : fs::directory_iterator(folder)) {
    EXPECT_NE(entry.path().filename().string().rfind(".page.html.", 0), 0u) << entry.path();
  }
  fs::remove_all(folder);
}

TEST(ProgramTest, LangmonSimWritesTheRunsPageWithItsAnswersAndSettings) {
  const std::string folder = langmon_sim::MakeWorkFolder();
  const std::string command = "TMPDIR='" + folder + "' '" + LANGMON_SIM_PROGRAM + "' --report '" +
                              folder + "/run.html' </dev/null >/dev/null 2>&1";
  EXPECT_EQ(std::system(command.c_str()), 0);
  const std::string page = langmon_sim::ReadWholeFile(folder + "/run.html");
  EXPECT_NE(page.find("data-question=\"469\" data-answer=\"No\""), std::string::npos);
  EXPECT_NE(page.find("Settings files at the end"), std::string::npos);
  EXPECT_NE(page.find("PrintCounter="), std::string::npos);
  std::filesystem::remove_all(folder);
}

}  // namespace
}  // namespace langmon_report
