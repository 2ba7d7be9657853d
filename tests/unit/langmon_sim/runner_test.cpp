#include "tools/langmon-sim/runner.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <optional>

#include "sim/spooler.h"
#include "tools/langmon-sim/text.h"

namespace langmon_sim {
namespace {

struct AnswerSeen {
  unsigned box;
  int answer;
  AnswerSource source;
  std::string note;
};

// Keeps what a run reports; optionally answers like a person at the keyboard.
class Recorder : public RunListener {
 public:
  std::optional<int> Ask(const Question& question) override {
    suggestions.push_back(question.suggested);
    if (keyboard.empty()) return std::nullopt;
    const int answer = keyboard.front();
    keyboard.erase(keyboard.begin());
    return answer;
  }
  void Answered(DWORD, const Question& question, int answer, AnswerSource source,
                const std::string& note) override {
    answers.push_back({question.box.textId, answer, source, note});
  }
  void PrinterReceived(DWORD ms, const PrinterEvent& event) override {
    printer.push_back(event);
    printerTimes.push_back(ms);
  }
  void LogLine(DWORD, const std::string& line) override { log.push_back(line); }
  void WriteCall(DWORD, const WriteInfo& write) override { writes.push_back(write); }

  std::vector<int> keyboard;
  std::vector<std::optional<int>> suggestions;
  std::vector<AnswerSeen> answers;
  std::vector<PrinterEvent> printer;
  std::vector<DWORD> printerTimes;
  std::vector<std::string> log;
  std::vector<WriteInfo> writes;
};

class RunnerTest : public ::testing::Test {
 protected:
  void SetUp() override { work_ = MakeWorkFolder(); }
  void TearDown() override { std::filesystem::remove_all(work_); }

  // A scenario read as if from a file in the work folder.
  RunReport Run(const std::string& json, const RunOptions& options = {}) {
    scenario_ = ParseScenario(json, (std::filesystem::path(work_) / "test.json").string());
    return RunScenario(scenario_, options, work_, recorder_);
  }

  std::string work_;
  Scenario scenario_;
  Recorder recorder_;
};

constexpr char kLowInk[] = R"({
  "printer": {"cartridge": {"magenta_spits": "480M"}},
  "answers": ["no"],
  "jobs": [{"labels": 2, "expect": {"outcome": "printed", "boxes": [469]}}]
})";

TEST_F(RunnerTest, AnswersFlagReplacesTheScenarioAnswersAndAnswerAllTakesOverWhenTheyRunOut) {
  RunOptions options;
  options.answers = ParseAnswerList("yes", "--answers");
  options.answerAll = IDCANCEL;
  const RunReport report = Run(kLowInk, options);
  ASSERT_EQ(recorder_.answers.size(), 2u);
  EXPECT_EQ(recorder_.answers[0].box, 469u);
  EXPECT_EQ(recorder_.answers[0].answer, IDYES);
  EXPECT_EQ(recorder_.answers[0].source, AnswerSource::Flag);
  // Yes starts a cartridge change; its notice is answered by --answer-all.
  EXPECT_EQ(recorder_.answers[1].box, 427u);
  // An OK-only box: the user's Esc gives OK, as MessageBox answers it.
  EXPECT_EQ(recorder_.answers[1].answer, IDOK);
  EXPECT_EQ(recorder_.answers[1].source, AnswerSource::AnswerAll);
  EXPECT_NE(recorder_.answers[1].note.find("Cancel is not a button of this box: Esc gives OK"),
            std::string::npos)
      << recorder_.answers[1].note;
  EXPECT_FALSE(report.Ok()) << "the scenario expected a No and a printed job";
}

TEST_F(RunnerTest, AQuestionTheOwnersSessionCouldNotShowIsNoBoxShown) {
  const RunReport report = Run(R"({
    "printer": {"cartridge": {"magenta_spits": "480M"}},
    "session": {"owner": "logged_off"},
    "jobs": [{"labels": 1, "expect": {"outcome": "printed", "boxes": []}}]
  })");
  EXPECT_TRUE(report.Ok());
  EXPECT_TRUE(report.boxes.empty());
  EXPECT_EQ(report.questionsNotShown, 1u);
  ASSERT_EQ(recorder_.answers.size(), 1u);
  EXPECT_EQ(recorder_.answers[0].answer, 0);
}

TEST_F(RunnerTest, AJobStartedDuringAnotherOnTheSecondPrinterKeepsItsBoxesAndPrinterApart) {
  const RunReport report = Run(R"({
    "printer": {"error_flags": ["out_of_stock"]},
    "second_printer": {"name": "Label B", "port": "USB002",
                       "cartridge": {"magenta_spits": "480M"}, "settings": {"printer": {"PrintCounter": 40}}},
    "answers": ["no", {"box": 436, "answer": "ok", "printer": {"error_flags": []}}],
    "jobs": [
      {"labels": 2, "expect": {"outcome": "printed", "boxes": [436], "print_counter": 2}},
      {"printer": "Label B", "starts_during_previous": true, "labels": 1,
       "expect": {"outcome": "printed", "boxes": [469], "print_counter": 41}}
    ]
  })");
  EXPECT_TRUE(report.Ok());
  ASSERT_EQ(report.jobs.size(), 2u);
  EXPECT_EQ(report.jobs[0].plan->name, "Job 1");
  EXPECT_EQ(report.boxes, (std::vector<unsigned>{469, 436}));
  // Label B's job went out between the first job's preamble and its labels.
  ASSERT_GE(recorder_.writes.size(), 3u);
  EXPECT_EQ(recorder_.writes[1].offered, sim::kJobPreambleSize);
  EXPECT_EQ(recorder_.writes[1].number, 1u);
  EXPECT_EQ(recorder_.writes.back().number, 4u) << "numbered as a job of two labels alone is";
  ASSERT_EQ(report.settings.size(), 4u);
  EXPECT_EQ(report.settings[2].label, "printer settings of Label B");
}

TEST_F(RunnerTest, AnswerAllAloneAnswersEveryBox) {
  RunOptions options;
  options.answerAll = IDNO;
  const RunReport report = Run(kLowInk, options);
  ASSERT_EQ(recorder_.answers.size(), 1u);
  EXPECT_EQ(recorder_.answers[0].source, AnswerSource::AnswerAll);
  EXPECT_TRUE(report.Ok());
}

TEST_F(RunnerTest, BoxesBeyondTheAnswersGoUnansweredAndLeftoverAnswersAreReported) {
  RunReport report = Run(R"({"printer": {"cartridge": {"magenta_spits": "480M"}},
                             "jobs": [{"labels": 1}]})");
  ASSERT_EQ(recorder_.answers.size(), 1u);
  EXPECT_EQ(recorder_.answers[0].answer, 0);
  EXPECT_EQ(recorder_.answers[0].source, AnswerSource::Unanswered);
  EXPECT_TRUE(report.Ok()) << "no expectation was stated";

  recorder_ = Recorder();
  report = Run(R"({"answers": ["ok", "ok"], "jobs": [{"labels": 1}]})");
  EXPECT_TRUE(recorder_.answers.empty());
  EXPECT_FALSE(report.Ok());
  ASSERT_EQ(report.mismatches.size(), 1u);
  EXPECT_NE(report.mismatches[0].find("2 scripted answer(s) left over"), std::string::npos);
}

TEST_F(RunnerTest, AnAnswerMeantForAnotherBoxIsAMismatch) {
  const RunReport report = Run(R"({"printer": {"cartridge": {"magenta_spits": "480M"}},
                                   "answers": [{"box": 470, "answer": "no"}],
                                   "jobs": [{"labels": 1}]})");
  EXPECT_FALSE(report.Ok());
  ASSERT_EQ(report.mismatches.size(), 1u);
  EXPECT_NE(report.mismatches[0].find("answers[0] is for box 470, but box 469"), std::string::npos)
      << report.mismatches[0];
}

TEST_F(RunnerTest, TheUserActsOnThePrinterBeforeAnswering) {
  const RunReport report = Run(R"({
    "printer": {"error_flags": ["out_of_stock"]},
    "answers": [{"answer": "ok", "printer": {"error_flags": []}}],
    "jobs": [{"labels": 1, "expect": {"outcome": "printed", "boxes": [436]}}]
  })");
  EXPECT_TRUE(report.Ok()) << (report.jobs[0].mismatches.empty() ? ""
                                                                 : report.jobs[0].mismatches[0]);
}

TEST_F(RunnerTest, KeyboardAnswersWinAndDeviationsAreCounted) {
  recorder_.keyboard = {IDYES, IDCANCEL};  // 469 Yes, then cancel the cartridge-change notice
  const RunReport report = Run(kLowInk);
  ASSERT_EQ(recorder_.suggestions.size(), 2u);
  EXPECT_EQ(recorder_.suggestions[0], IDNO) << "the scenario's answer is offered";
  EXPECT_EQ(recorder_.suggestions[1], std::nullopt);
  EXPECT_EQ(recorder_.answers[0].source, AnswerSource::User);
  EXPECT_EQ(report.userDeviations, 1u);
  EXPECT_FALSE(report.Ok());
}

TEST_F(RunnerTest, AQuestionThatNeverEndsIsStoppedByTheQuestionLimit) {
  RunOptions options;
  options.answerAll = IDOK;  // OK at "no status" retries for ever with a silent printer
  options.maxQuestions = 4;
  const RunReport report =
      Run(R"({"printer": {"responds": false}, "jobs": [{"labels": 1}]})", options);
  ASSERT_EQ(recorder_.answers.size(), 5u);
  EXPECT_EQ(recorder_.answers[3].answer, IDOK);
  EXPECT_EQ(recorder_.answers[4].answer, IDCANCEL);
  EXPECT_EQ(recorder_.answers[4].source, AnswerSource::Guard);
  EXPECT_TRUE(report.guardTripped);
  EXPECT_FALSE(report.Ok());
  EXPECT_EQ(report.jobs[0].outcome, JobOutcome::Deleted);
}

// In quiet mode nothing but the printer ends the wait; a printer that never recovers is left
// waiting when the run's time is up, the port is closed and no further job is sent.
TEST_F(RunnerTest, APrinterThatNeverRecoversIsLeftWaitingWhenTheRunsTimeIsUp) {
  RunOptions options;
  options.maxRunMs = 30000;
  const std::string scenario = R"({"quiet": true, "printer": {"error_flags": ["out_of_stock"]},
      "jobs": [{"labels": 1, "expect": {"outcome": "%"}}, {"labels": 1}]})";
  RunReport report = Run(std::string(scenario).replace(scenario.find('%'), 1, "printed"), options);
  ASSERT_EQ(report.jobs.size(), 1u);
  EXPECT_EQ(report.jobs[0].outcome, JobOutcome::Waiting);
  EXPECT_GE(report.elapsedMs, 30000u);
  EXPECT_EQ(report.mismatches,
            std::vector<std::string>{"the monitor was still waiting for the printer after 30 s on "
                                     "the run's clock: the run was stopped"});
  EXPECT_EQ(recorder_.log.back(), "VMT_LM_10[INFORM] **** PJLMonClosePort Returning\n");

  report = Run(std::string(scenario).replace(scenario.find('%'), 1, "waiting"), options);
  EXPECT_TRUE(report.Ok());
}

TEST_F(RunnerTest, ExpectationsThatDoNotHoldAreEachReported) {
  const RunReport report = Run(R"({
    "jobs": [{"labels": 2, "expect": {"outcome": "deleted", "boxes": [440], "print_counter": 5,
                                      "alignment_prints": 1, "commands": ["cartridge_empty"],
                                      "settings": {"printer": {"WarnLevelColor": 2}}}}],
    "expect": {"print_counter": 2, "settings": {"model": {"SHOW_UI": 0}}}
  })");
  EXPECT_FALSE(report.Ok());
  ASSERT_EQ(report.jobs.size(), 1u);
  EXPECT_EQ(report.jobs[0].outcome, JobOutcome::Printed);
  EXPECT_EQ(report.jobs[0].mismatches.size(), 6u);
  ASSERT_EQ(report.mismatches.size(), 1u) << "the run's print counter holds; SHOW_UI does not";
  EXPECT_NE(report.mismatches[0].find("no SHOW_UI"), std::string::npos) << report.mismatches[0];
}

TEST_F(RunnerTest, StartingSettingsAndQuietModeAreWrittenForTheMonitorToRead) {
  const RunReport report = Run(R"({
    "quiet": true,
    "settings": {"printer": {"PrintCounter": 31999}, "model": {"ColorSpits": 100}},
    "printer": {"cartridge": {"magenta_spits": "95M"}},
    "jobs": [{"labels": 3, "expect": {"outcome": "printed", "boxes": [], "print_counter": 32000,
                                      "settings": {"printer": {"WarnLevelColor": 2}}}}]
  })");
  EXPECT_TRUE(report.Ok()) << (report.jobs[0].mismatches.empty() ? ""
                                                                 : report.jobs[0].mismatches[0]);
  ASSERT_EQ(report.settings.size(), 2u);
  EXPECT_TRUE(report.settings[1].exists);
  EXPECT_NE(report.settings[1].text.find("SHOW_UI=0"), std::string::npos);
}

TEST_F(RunnerTest, AFileJobReachesThePrinterByteForByte) {
  const std::string path = (std::filesystem::path(work_) / "job.prn").string();
  std::vector<BYTE> bytes = sim::MakeJobData(5, 3000, 9);
  std::ofstream(path, std::ios::binary)
      .write(reinterpret_cast<const char*>(bytes.data()),
             static_cast<std::streamsize>(bytes.size()));
  const RunReport report =
      Run(R"({"jobs": [{"file": "job.prn", "expect": {"outcome": "printed"}}]})");
  ASSERT_EQ(report.jobs.size(), 1u);
  EXPECT_EQ(report.jobs[0].totalBytes, bytes.size());
  EXPECT_EQ(report.jobs[0].bytesReceived, bytes.size());
  // A job's first write is never scanned, and the first 4 KiB hold two labels' headers.
  EXPECT_EQ(report.jobs[0].printCounter, 3);
  EXPECT_TRUE(report.Ok());
  // A file goes out in 4 KiB writes; the ones cut short end just before a job header.
  ASSERT_FALSE(recorder_.writes.empty());
  EXPECT_EQ(recorder_.writes[0].offered, 4096u);
  for (const WriteInfo& write : recorder_.writes) {
    // A shorter rest may be an escape byte too near the end to be judged.
    if (write.written < write.offered && write.offered - write.written > 37) {
      EXPECT_TRUE(write.restStartsWithHeader) << write.number;
    }
  }
}

// The machine's time zone for as long as it lives.
class TimeZone {
 public:
  explicit TimeZone(const char* zone) {
    if (const char* old = std::getenv("TZ")) saved_ = old;
    setenv("TZ", zone, 1);
    tzset();
  }
  ~TimeZone() {
    if (saved_) {
      setenv("TZ", saved_->c_str(), 1);
    } else {
      unsetenv("TZ");
    }
    tzset();
  }

 private:
  std::optional<std::string> saved_;
};

TEST_F(RunnerTest, PrinterEventsCarryTheTimeTheyArrived) {
  // UTC, half an hour off a whole hour, and a zone with summer time.
  for (const char* zone : {"UTC0", "XST-5:30", "YST8YDT,M3.2.0,M11.1.0"}) {
    SCOPED_TRACE(zone);
    const TimeZone local(zone);
    recorder_ = Recorder();
    std::filesystem::remove_all(work_);  // settings kept from the zone before would answer
    work_ = MakeWorkFolder();
    const std::time_t began = std::time(nullptr);
    const RunReport report = Run(R"({
      "printer": {"cartridge": {"magenta_spits": "480M"},
                  "new_cartridges": [{"new": false}]},
      "answers": ["yes", "ok"],
      "jobs": [{"labels": 1}]
    })");
    ASSERT_EQ(recorder_.printer.size(), 2u);
    EXPECT_EQ(recorder_.printer[0].command, sim::Command::CartridgeChangeStart);
    EXPECT_EQ(recorder_.printer[1].command, sim::Command::CartridgeChangeEnd);
    // The end of the change is sent before the monitor's 4 s pause, not after it.
    EXPECT_LT(recorder_.printerTimes[1], 4000u);
    EXPECT_GE(report.elapsedMs, 4000u);

    // The log file's times pass with the run's clock: "MM/DD HH:MM:SS:mmm" at each line's start,
    // from the machine's local time when the run began.
    std::ifstream log(report.logFile);
    std::vector<long> times;
    long firstMinute = -1;
    for (std::string line; std::getline(log, line);) {
      unsigned month, day, hour, minute, second, ms;
      if (std::sscanf(line.c_str(), "%u/%u %u:%u:%u:%u", &month, &day, &hour, &minute, &second,
                      &ms) == 6) {
        times.push_back(((static_cast<long>(day) * 24 + hour) * 60 + minute) * 60000L +
                        second * 1000L + ms);
        if (firstMinute < 0) firstMinute = static_cast<long>(hour) * 60 + minute;
      }
    }
    ASSERT_GE(times.size(), 2u);
    EXPECT_GE(times.back() - times.front(), 4000);
    EXPECT_LE(times.back() - times.front(), static_cast<long>(report.elapsedMs));
    std::tm fields{};
    localtime_r(&began, &fields);
    // The same minute of the day, or the next one if the run began at its very end.
    const long late = (firstMinute - (fields.tm_hour * 60L + fields.tm_min) + 1440) % 1440;
    EXPECT_LE(late, 1) << "the log began at minute " << firstMinute << " of the day";
  }
}

TEST_F(RunnerTest, LogAndSettingsGoToTheFoldersAsked) {
  RunOptions options;
  options.logFolder = (std::filesystem::path(work_) / "mylog").string();
  options.settingsFolder = (std::filesystem::path(work_) / "mysettings").string();
  const RunReport report =
      Run(R"({"printer": {"name": "Dock 2"}, "jobs": [{"labels": 1}]})", options);
  EXPECT_EQ(report.logFile, options.logFolder + "/VelmoraLMDrv.dbg");
  EXPECT_TRUE(std::filesystem::exists(report.logFile));
  EXPECT_EQ(report.settings[0].path, options.settingsFolder + "/VMT/Drivers/Dock 2/Dock 2.ini");
  EXPECT_TRUE(report.settings[0].exists);
  EXPECT_NE(ReadWholeFile(report.logFile).find("PJLMonStartDocPort Called"), std::string::npos);
}

}  // namespace
}  // namespace langmon_sim
