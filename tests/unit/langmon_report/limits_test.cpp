// A log longer than the page lists one by one, as a doctored or joined log is: read in memory the
// page's limits bound, every job counted, the latest of each kind listed, and the limits said
// where something is left out. Small limits stand in for the real ones.
#include <gtest/gtest.h>

#include <utility>

#include "tests/unit/langmon_report/heap_peak.h"
#include "tests/unit/langmon_report/log_lines.h"
#include "tools/langmon-report/page.h"
#include "tools/langmon-report/reader.h"

namespace langmon_report {
namespace {

Limits Small() {
  Limits limits;
  limits.jobs = 4;
  limits.checks = 12;
  limits.events = 60;
  limits.boxes = 6;
  limits.waits = 3;
  limits.inkChecks = 8;
  limits.errorKinds = 3;
  limits.jobsPerErrorKind = 2;
  return limits;
}

// Jobs of five checks each whose lines all differ: error flags of every value, the low-ink box,
// an ink check.
void Doctored(LogLines& log, size_t jobs) {
  for (size_t job = 0; job < jobs; ++job) {
    log.StartJob(job == 0);
    for (size_t check = 0; check < 5; ++check) {
      const uint32_t n = static_cast<uint32_t>(job * 5 + check + 1);
      log.After(40).BeginCheck();
      log.Inform(" ** PrepareForNextPrint: Printer Error Found " + std::to_string(n) + " ");
      log.InkCheck(n, 1).Inform("** Cartridge is low on ink, warning the user");
      log.InkEnd(n, 1, 2).Inform("PrepareForNextPrint( ) successful!");
    }
    log.After(30).EndJob();
  }
}

struct Read {
  Report report;
  std::string page;
  size_t peak = 0;  // the most heap held while reading and making the page
};

// One job that writes nothing, again and again: a line on its timeline each time.
void EmptyWrites(LogLines& log, size_t writes) {
  log.StartJob(true);
  for (size_t i = 0; i < writes; ++i) log.Inform("**** cbBuf==0");
  log.EndJob();
}

Read ReadDoctored(void (*make)(LogLines&, size_t), size_t count) {
  Read read;
  const HeapPeak peak;
  {
    LogFileReader reader(Small());
    LogLines log([&reader](const std::string& line) { reader.Feed(line); });
    make(log, count);
    std::string error;
    std::optional<Report> report = reader.Finish("doctored.dbg", &error);
    EXPECT_TRUE(report) << error;
    if (report) read.report = std::move(*report);
  }
  read.page = RenderPage(read.report);
  read.peak = peak.Above();
  return read;
}

TEST(LimitsTest, ALogLongerThanThePageListsIsCountedWhollyAndListedWithinTheLimits) {
  const Read few = ReadDoctored(Doctored, 100);
  const Read many = ReadDoctored(Doctored, 1000);
  // Ten times the log: the same memory and the same page, give or take the numbers in it.
  EXPECT_LT(many.peak, few.peak + few.peak / 4);
  EXPECT_LT(many.page.size(), few.page.size() + few.page.size() / 20);

  const Report& report = many.report;
  const Counts all = CountAll(report);
  EXPECT_EQ(all.jobs, 1000u);
  EXPECT_EQ(all.outcomes.at(Outcome::Printed), 1000u);
  EXPECT_EQ(all.checks, 5000u);
  EXPECT_EQ(all.boxes, 5000u);
  EXPECT_EQ(all.boxesById, (std::map<unsigned, uint64_t>{{469, 5000}}));
  EXPECT_EQ(all.inkChecks, 5000u);
  const std::string& page = many.page;
  EXPECT_NE(page.find("data-jobs=\"1000\""), std::string::npos);
  EXPECT_NE(page.find("<tr><th>Pre-job checks</th><td>5,000</td></tr>"), std::string::npos);
  EXPECT_NE(page.find("Counted in the summary but not listed: 995 jobs, "), std::string::npos);

  // The first jobs, and the latest with its latest check.
  std::vector<unsigned> listed;
  for (const Job& job : report.jobs) listed.push_back(job.number);
  EXPECT_EQ(listed, (std::vector<unsigned>{1, 2, 3, 4, 1000}));
  EXPECT_NE(page.find("Jobs 5&ndash;999 are not listed: the page lists at most 4 jobs, and the "
                      "latest"),
            std::string::npos);
  const Job& latest = report.jobs.back();
  ASSERT_EQ(latest.checks.size(), 1u);
  EXPECT_EQ(latest.checks[0].number, 5u);
  EXPECT_EQ(latest.checks[0].result, CheckResult::Passed);
  EXPECT_NE(page.find("4 more pre-job checks of this job not listed: the page lists at most 12 "
                      "checks of all jobs, and the latest"),
            std::string::npos);
  ASSERT_EQ(latest.questions.size(), 1u);
  EXPECT_EQ(latest.questions[0].serial, 5u);
  EXPECT_NE(page.find("4 more boxes of this job not listed"), std::string::npos);

  // The ink chart: the first points and the latest.
  ASSERT_EQ(report.ink.size(), 9u);
  EXPECT_EQ(report.ink.back().spits, 5000u);
  EXPECT_NE(page.find("4,991 ink checks not drawn: the chart shows at most 8, and the latest"),
            std::string::npos);

  // Error flags of 5,000 values: three kinds listed, the rest together, each report its own.
  ASSERT_EQ(report.errors.size(), 4u);
  EXPECT_TRUE(report.errors[3].others);
  EXPECT_EQ(report.errors[3].count, 4997u);
  EXPECT_NE(page.find("other printer errors <span class=\"dim\">(past the page's limit of 3 kinds, "
                      "together)</span>"),
            std::string::npos);

  // One job's timeline: the lines past the limit are counted.
  const Read shortJob = ReadDoctored(EmptyWrites, 1000);
  const Read longJob = ReadDoctored(EmptyWrites, 10000);
  EXPECT_LT(longJob.peak, shortJob.peak + shortJob.peak / 4);
  ASSERT_EQ(longJob.report.jobs.size(), 1u);
  EXPECT_EQ(longJob.report.jobs[0].events.size(), 60u);
  EXPECT_EQ(longJob.report.jobs[0].eventsLeftOut, 10000u + 3u - 60u);
  EXPECT_EQ(longJob.report.jobs[0].outcome, Outcome::Printed);
  EXPECT_NE(longJob.page.find("9,943 more lines of this job not listed: the page lists at most 60 "
                              "lines of all jobs"),
            std::string::npos);
}

TEST(LimitsTest, CountsNoMonitorWritesAreTakenAsTheyStandAtTheCostOfAnyOther) {
  const std::pair<const char*, uint64_t> counts[] = {
      {"-1", 0}, {"3", 3}, {"2147483647", 2147483647u}, {"99999999999", 99999999999u}};
  for (const auto& [count, boxes] : counts) {
    SCOPED_TRACE(count);
    std::string log;
    LogLines lines([&log](const std::string& line) { log += line; });
    lines.StartJob(true).BeginCheck().InkCheck(900000000, 4);
    lines.Warning(std::string(count) + " questions went unanswered: giving up");
    lines.Inform("Deleting the print job(s) in AbortJobs()").EndJob();
    std::string error;
    const std::optional<Report> report = ReadLog(log, "count.dbg", &error);
    ASSERT_TRUE(report) << error;
    ASSERT_EQ(report->jobs.size(), 1u);
    const Job& job = report->jobs[0];
    EXPECT_LE(job.questions.size(), 8u);
    uint64_t asked = 0;
    for (const Question& question : job.questions) {
      EXPECT_EQ(question.id, 470u);
      EXPECT_EQ(question.answer, "no answer");
      asked += question.times;
    }
    EXPECT_EQ(asked, boxes);
    ASSERT_EQ(job.waits.size(), 1u);
    EXPECT_EQ(job.waits[0].ended,
              std::string(count) + " questions in a row went unanswered: the monitor gave up");
  }
}

}  // namespace
}  // namespace langmon_report
