// Waits on both pages: an hour of quiet mode out of label stock, an hour out of ink before the
// cartridge is changed, a cartridge change answered in the job owner's session. A wait is one row
// with its length and rounds; a box is counted once on every route; an error reported through a
// wait is one occurrence that lasted.
#include <gtest/gtest.h>

#include <algorithm>
#include <map>

#include "tests/unit/langmon_report/heap_peak.h"
#include "tests/unit/langmon_report/log_lines.h"
#include "tests/unit/langmon_report/report_fixture.h"
#include "tools/langmon-report/log_file.h"
#include "tools/langmon-report/page.h"
#include "tools/langmon-sim/builtin_scenario.h"

namespace langmon_report {
namespace {

size_t Count(const std::string& text, const std::string& part) {
  size_t count = 0;
  for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++count;
  return count;
}

TEST(WaitTest, AnHourOfQuietModeOutOfStockIsOneRowOnBothPages) {
  // The log file, and the same lines as langmon-sim hands them to its page.
  std::string log;
  langmon_sim::ReportRecorder recorder;
  langmon_sim::Scenario scenario;
  recorder.RunStarting(scenario, langmon_sim::RunOptions{}, langmon_sim::RunReport{});
  langmon_sim::JobPlan plan;
  plan.name = "Labels";
  recorder.JobStarting(plan, 1200);
  std::optional<int64_t> first;
  LogLines lines([&](const std::string& line) {
    log += line;
    const int64_t ms = *ParseStamp(line.substr(0, 20));
    if (!first) first = ms;
    recorder.LogLine(static_cast<DWORD>(ms - *first), line.substr(20));
  });
  QuietOutOfStockWait(lines, 3600000, 818);
  langmon_sim::JobReport ended;
  ended.plan = &plan;
  recorder.JobFinished(0, ended);
  recorder.RunFinished(langmon_sim::RunReport{});

  std::string error;
  const std::optional<Report> fromLog = ReadLog(log, "hour.dbg", &error);
  ASSERT_TRUE(fromLog) << error;
  ASSERT_TRUE(recorder.report());
  for (const Report* report : {&*fromLog, &*recorder.report()}) {
    SCOPED_TRACE(report->simulated ? "langmon-sim's page" : "the log's page");
    ASSERT_EQ(report->jobs.size(), 1u);
    const Job& job = report->jobs[0];
    EXPECT_EQ(job.outcome, Outcome::Printed);
    ASSERT_EQ(job.waits.size(), 1u);
    const Wait& wait = job.waits[0];
    EXPECT_EQ(wait.to.ms - wait.from.ms, 4401 * 818);  // to the ink check that ended it
    EXPECT_EQ(wait.rounds, 4401u);
    EXPECT_TRUE(wait.over);
    EXPECT_EQ(wait.ended, "the printer no longer reported it: the check went on");
    ASSERT_EQ(report->errors.size(), 1u);
    EXPECT_EQ(report->errors[0].count, 1u);
    EXPECT_EQ(report->errors[0].reports, 4401u);
    EXPECT_EQ(report->errors[0].lastedMs, 4400 * 818);

    const std::string page = RenderPage(*report);
    EXPECT_LT(page.size(), 200000u);
    EXPECT_EQ(Count(page, "<li class=\"event kind-wait\""), 1u);
    EXPECT_NE(page.find("waited <b>1 h 0 min</b> for label stock"), std::string::npos);
    EXPECT_EQ(Count(page, "<li class=\"event kind-printer\""), 1u);  // the first report only
    // How long the printer reported it: from the first report to the last, 4,400 rounds.
    EXPECT_NE(page.find("<td class=\"num\">59 min 59 s</td>"), std::string::npos);
  }
  // The log cannot tell quiet mode from a person pressing OK: one question, asked each round.
  // The run knows that nobody was asked.
  ASSERT_EQ(fromLog->jobs[0].questions.size(), 1u);
  EXPECT_EQ(fromLog->jobs[0].questions[0].times, 4401u);
  EXPECT_EQ(fromLog->jobs[0].questions[0].answer, "OK, or no answer");
  EXPECT_TRUE(recorder.report()->jobs[0].questions.empty());
  EXPECT_NE(RenderPage(*recorder.report()).find("no box 436 was shown"), std::string::npos);
}

TEST(WaitTest, SettingsAnotherProgramHeldAreFailuresWithinTheWaitNotItsEnd) {
  std::string log;
  LogLines lines([&log](const std::string& line) { log += line; });
  const std::string file = "C:\\ProgramData\\VMT\\Drivers\\Label A.ini";
  lines.StartJob(true).BeginCheck();
  for (int round = 0; round < 3; ++round) {
    lines.Inform(" ** PrepareForNextPrint: Printer Error Found 1 ").Warning("-->OUT OF STOCK!!");
    lines.Error("OemPtrGetDriverAppDataPath(): " + file + " cannot be opened (0x20), not used now");
    lines.Inform("ReadHeldSetting(): PromptTimeout of " + file +
                 " cannot be read, 30 as last read or written is used");
    lines.After(1000);
  }
  lines.PlainInkAndPass(1000000);
  lines.Error("WriteHeldSetting(): PrintCounter of " + file +
              " not written (0x20), kept for the next use");
  lines.EndJob().StartJob(false).BeginCheck();
  lines.Inform("ReadHeldSetting(): PrintCounter of " + file + " is still to be written, 3 is used");
  lines.Inform("WriteHeldSetting(): PrintCounter of " + file +
               " written, kept since 3 was refused");
  lines.Error("WriteHeldSetting(): CyanSpits of " + file +
              " not written (0x20), and no room to keep it: lost");
  lines.Error("WriteHeldSetting(): BlackWarnLevel of " + file + " not written (0x5)");
  lines.Inform("ReadHeldSetting(): WarnLevel of " + file +
               " cannot be read and was never read, 0 is used");
  lines.PlainInkAndPass(1000000).EndJob();

  std::string error;
  const std::optional<Report> report = ReadLog(log, "held.dbg", &error);
  ASSERT_TRUE(report) << error;
  EXPECT_EQ(report->unknownCount, 0u);
  ASSERT_EQ(report->jobs.size(), 2u);
  ASSERT_EQ(report->jobs[0].waits.size(), 1u);
  EXPECT_EQ(report->jobs[0].waits[0].rounds, 3u);
  EXPECT_EQ(report->jobs[0].waits[0].ended, "the printer no longer reported it: the check went on");
  std::map<std::string, uint64_t> reports;
  for (const Tally& tally : report->errors) {
    if (!tally.printer) reports[tally.what] = tally.reports;
  }
  EXPECT_EQ(reports, (std::map<std::string, uint64_t>{
                         {"a settings file was held by another program: the values last read "
                          "were used",
                          3},
                         {"a setting was refused by another program: kept, and written at the "
                          "next use",
                          1},
                         {"a setting was refused, and no room was left to keep it: lost", 1},
                         {"a setting could not be written to its settings file", 1}}));
}

// The monitor's log of a run, with every line after the first containing `from` an hour later.
std::string HourLater(const std::string& log, const std::string& from) {
  std::string shifted;
  bool after = false;
  for (const std::string& line : LinesOf(log)) {
    if (!after || line.size() < 20) {
      shifted += line;
      after = after || line.find(from) != std::string::npos;
      continue;
    }
    shifted +=
        LogStamp(*ParseStamp(line.substr(0, 20)) + 3600000 - 60 * 86400000LL) + line.substr(20);
  }
  return shifted;
}

TEST(WaitTest, AnHourOutOfInkThenAChangeShowsTheWaitTheCommandAndTheChange) {
  const ScenarioRun run = RunAndRead(langmon_sim::ParseScenario(R"({
    "printer": {"cartridge": {"yellow_spits": "900M"}, "error_flags": ["cartridge_empty"],
                "new_cartridges": [{"yellow_spits": 1000, "new": false}]},
    "answers": ["no", "no", "yes", {"box": 427, "answer": "ok", "printer": {"error_flags": []}}],
    "then_answer": "ok", "jobs": [{"labels": 1}]})",
                                                                "out_of_ink.json"));
  ASSERT_TRUE(run.readable);
  std::string error;
  const std::optional<Report> hour =
      ReadLog(HourLater(run.log, "Check Ink Level("), "hour.dbg", &error);
  ASSERT_TRUE(hour) << error;
  for (const Report* report : {&*hour, &run.fromRun}) {
    SCOPED_TRACE(report->simulated ? "langmon-sim's page" : "the log's page");
    ASSERT_EQ(report->jobs.size(), 1u);
    EXPECT_EQ(report->cartridgeChanges, 1u);
    EXPECT_NE(RenderPage(*report).find("<tr><th>Cartridge changes</th><td>1</td>"),
              std::string::npos);
    const Job& job = report->jobs[0];
    ASSERT_EQ(job.waits.size(), 1u);
    const Wait& wait = job.waits[0];
    EXPECT_EQ(wait.question, 470u);
    EXPECT_EQ(wait.ended, "Yes at 470: the cartridge is changed");
    ASSERT_EQ(report->ink.size(), 1u);
    EXPECT_EQ(wait.from.ms, report->ink[0].when.ms);  // where the monitor sent the command
    if (!report->simulated) {
      // The hour, and the moments the run's boxes took (on the clock the log was written with).
      EXPECT_GE(wait.to.ms - wait.from.ms, 3600000);
      EXPECT_LT(wait.to.ms - wait.from.ms, 3660000);
      const std::vector<Event>& events = job.checks.at(0).events;
      const auto command = std::find_if(events.begin(), events.end(), [](const Event& event) {
        return event.kind == EventKind::Command && event.text.find("cartridge-empty") == 0;
      });
      ASSERT_NE(command, events.end());
      EXPECT_TRUE(command->inferred);
      EXPECT_EQ(command->when.ms, wait.from.ms);
      EXPECT_NE(RenderPage(*report).find("waited <b>1 h 0 min</b> for the cartridge"),
                std::string::npos);
    }
  }
  EXPECT_EQ(Ids(run.fromRun.jobs[0]), (std::vector<unsigned>{470, 470, 470, 427, 443}));
}

TEST(WaitTest, BoxesInTheOwnersSessionAreCountedOnceAndRepeatsFold) {
  // The route's line for each box and the lines of its flow name the same box.
  const ScenarioRun run = RunAndRead(langmon_sim::ParseScenario(R"({
    "session": {"spooler": "service", "jobs_from": "user", "owner": "answers",
                "answer_after_ms": 3000},
    "printer": {"cartridge": {"yellow_spits": "900M"}, "error_flags": ["cartridge_empty"],
                "new_cartridges": [{"yellow_spits": 1000, "new": false}]},
    "answers": ["no", "no", "yes", {"box": 427, "answer": "ok", "printer": {"error_flags": []}}],
    "then_answer": "ok", "jobs": [{"labels": 1}]})",
                                                                "owner_change.json"));
  ASSERT_TRUE(run.readable);
  const Job& job = run.fromLog.jobs.at(0);
  EXPECT_EQ(Ids(job), run.run.jobs.at(0).boxes);
  EXPECT_EQ(Ids(job), (std::vector<unsigned>{470, 470, 470, 427, 443}));
  // 470 answered No twice in a row is one row; the Yes that ended the wait another.
  ASSERT_GE(job.questions.size(), 2u);
  EXPECT_EQ(job.questions[0].times, 2u);
  EXPECT_EQ(job.questions[0].answer, "No");
  EXPECT_EQ(job.questions[1].answer, "Yes");
  EXPECT_EQ(run.fromLog.cartridgeChanges, 1u);
  EXPECT_EQ(job.waits.at(0).rounds, 3u);
  const std::string page = RenderPage(run.fromLog);
  EXPECT_NE(page.find("data-questions=\"470 470 470 427 443\""), std::string::npos);
}

TEST(LogFileTest, BigAndStrangeFilesAreReadInBoundedMemory) {
  // Pieces as a file is read: 64 KiB at a time.
  constexpr size_t kPiece = 64 << 10;
  LogFileReader reader;
  reader.Feed(
      "03/02 09:05:03:007  VMT_LM_10[INFORM] **** LANGMON: Initialize Print Monitor Called\n");
  // Unrecognised lines: all counted, a few hundred kept, each cut short, however long and
  // different they are: 64 records of 256 KiB, all different, cost no more than short ones.
  const HeapPeak different;
  for (int i = 0; i < 64; ++i) {
    reader.Feed("03/02 09:05:04:000  VMT_LM_10[INFORM] " + std::to_string(i));
    for (size_t fed = 0; fed < (256 << 10); fed += kPiece) reader.Feed(std::string(kPiece, 'x'));
    reader.Feed("\n");
  }
  EXPECT_LT(different.Above(), 4u << 20);
  const std::string longLine(5000, 'x');
  for (int i = 0; i < 2000; ++i) reader.Feed("line " + std::to_string(i) + longLine + "\n");
  // A line with no end at all, 32 MiB of it: held a piece at a time, never whole.
  const HeapPeak endless;
  const std::string piece(kPiece, 'y');
  for (int i = 0; i < 512; ++i) reader.Feed(piece);
  EXPECT_LT(endless.Above(), 4u << 20);
  std::string error;
  const std::optional<Report> report = reader.Finish("junk.dbg", &error);
  ASSERT_TRUE(report) << error;
  // The endless line counts once for each MiB it was read in.
  EXPECT_EQ(report->unknownCount, 64u + 2000u + 32u);
  EXPECT_EQ(report->unknown.size(), 300u);
  for (const UnknownLine& line : report->unknown) EXPECT_LE(line.text.size(), 403u);
  EXPECT_EQ(report->unknown.front().text.substr(0, 4), "0xxx");
  EXPECT_FALSE(report->unknown.front().badFormat);
  EXPECT_EQ(report->unknown.front().count, 1u);

  // A log saved as UTF-16 is not read, and the message says what to do.
  std::string utf16 = "\xFF\xFE";
  for (char c :
       std::string("03/02 09:05:03:007  VMT_LM_10[INFORM] **** PJLMonClosePort Called\n")) {
    utf16 += c;
    utf16 += '\0';
  }
  EXPECT_FALSE(ReadLog(utf16, "saved.dbg", &error));
  EXPECT_NE(error.find("UTF-16"), std::string::npos) << error;
  EXPECT_NE(error.find("iconv"), std::string::npos) << error;

  // Fed in pieces that split lines anywhere, a log reads as it does at once.
  const ScenarioRun run = RunAndRead(langmon_sim::BuiltInScenario());
  LogFileReader pieces;
  for (size_t at = 0; at < run.log.size(); at += 7)
    pieces.Feed(std::string_view(run.log).substr(at, 7));
  const std::optional<Report> again = pieces.Finish("VelmoraLMDrv.dbg", &error);
  ASSERT_TRUE(again);
  EXPECT_EQ(RenderPage(*again), RenderPage(run.fromLog));
}

}  // namespace
}  // namespace langmon_report
