// Every example scenario shipped with langmon-sim, and the built-in one, ends as it says it will;
// and the program reports bad scenarios and unmet expectations through its exit status.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>

#include "tools/langmon-sim/builtin_scenario.h"
#include "tools/langmon-sim/runner.h"

namespace langmon_sim {
namespace {

std::vector<std::string> ShippedScenarios() {
  std::vector<std::string> files;
  for (const auto& entry : std::filesystem::directory_iterator(LANGMON_SIM_SCENARIOS)) {
    if (entry.path().extension() == ".json") files.push_back(entry.path().string());
  }
  std::sort(files.begin(), files.end());
  return files;
}

std::string Mismatches(const RunReport& report) {
  std::string text;
  for (const std::string& mismatch : report.mismatches) text += "\n  run: " + mismatch;
  for (const JobReport& job : report.jobs) {
    for (const std::string& mismatch : job.mismatches) {
      text += "\n  " + job.plan->name + ": " + mismatch;
    }
  }
  return text;
}

class Quiet : public RunListener {};

RunReport RunInProcess(const Scenario& scenario) {
  const std::string work = MakeWorkFolder();
  Quiet listener;
  RunReport report = RunScenario(scenario, RunOptions{}, work, listener);
  std::filesystem::remove_all(work);
  return report;
}

TEST(ShippedScenariosTest, TheExamplesCoverTheMonitorsMainSituations) {
  const std::vector<std::string> files = ShippedScenarios();
  EXPECT_GE(files.size(), 10u);
  std::vector<unsigned> boxes;
  bool quiet = false, silent = false, failedStart = false;
  for (const std::string& file : files) {
    const Scenario scenario = LoadScenarioFile(file);
    quiet = quiet || scenario.quiet;
    silent = silent || scenario.printer.readMode.fault == sim::ReadFault::Empty;
    for (const JobPlan& job : scenario.jobs) {
      if (job.expect.boxes)
        boxes.insert(boxes.end(), job.expect.boxes->begin(), job.expect.boxes->end());
      failedStart = failedStart || job.expect.outcome == JobOutcome::FailedStart;
    }
  }
  for (unsigned box :
       {436u, 468u, 440u, 469u, 470u, 427u, 450u, 400u, 453u, 472u, 443u, 454u, 455u}) {
    EXPECT_NE(std::find(boxes.begin(), boxes.end(), box), boxes.end()) << "no example asks " << box;
  }
  EXPECT_TRUE(quiet);
  EXPECT_TRUE(silent);
  EXPECT_TRUE(failedStart);
}

// One test a scenario, so that they run side by side.
class EachShippedScenarioTest : public ::testing::TestWithParam<std::string> {};

TEST_P(EachShippedScenarioTest, StatesItsOutcomeAndEndsAsItSays) {
  const Scenario scenario = LoadScenarioFile(GetParam());
  EXPECT_FALSE(scenario.title.empty());
  EXPECT_NE(scenario.description.find("Expected:"), std::string::npos);
  for (const JobPlan& job : scenario.jobs) {
    EXPECT_TRUE(job.expect.outcome.has_value()) << job.name << " states no outcome";
  }
  const RunReport report = RunInProcess(scenario);
  EXPECT_TRUE(report.Ok()) << Mismatches(report);
  EXPECT_EQ(report.jobs.size(), scenario.jobs.size());
}

INSTANTIATE_TEST_SUITE_P(Shipped, EachShippedScenarioTest, ::testing::ValuesIn(ShippedScenarios()),
                         [](const auto& info) {
                           return std::filesystem::path(info.param).stem().string();
                         });

TEST(ShippedScenariosTest, BuiltInScenarioPrintsWarnsChangesAndAligns) {
  const Scenario scenario = BuiltInScenario();
  const RunReport report = RunInProcess(scenario);
  EXPECT_TRUE(report.Ok()) << Mismatches(report);
  ASSERT_EQ(report.jobs.size(), 4u);
  EXPECT_EQ(report.jobs[0].outcome, JobOutcome::Printed);
  EXPECT_EQ(report.jobs[1].boxes, std::vector<unsigned>{469});
  EXPECT_EQ(report.jobs[2].alignmentPrints, 1u);
  EXPECT_EQ(report.jobs[2].outcome, JobOutcome::Deleted);
  EXPECT_EQ(report.jobs[3].outcome, JobOutcome::Printed);
  // The waits of a cartridge change and an alignment pass on the virtual clock.
  EXPECT_GT(report.elapsedMs, 9000u);
  EXPECT_LT(report.realSeconds, 10.0);
}

// ---- The program -------------------------------------------------------------------------------

struct ProgramResult {
  int status = -1;
  std::string output;
};

// Runs langmon-sim with its work folders made below `tmp`, which the test removes.
ProgramResult RunProgram(const std::string& arguments, const std::string& tmp) {
  ProgramResult result;
  const std::string command =
      "TMPDIR='" + tmp + "' '" + LANGMON_SIM_PROGRAM + "' " + arguments + " </dev/null 2>&1";
  FILE* pipe = popen(command.c_str(), "r");
  if (pipe == nullptr) return result;
  char buffer[4096];
  size_t count;
  while ((count = fread(buffer, 1, sizeof(buffer), pipe)) > 0) result.output.append(buffer, count);
  const int status = pclose(pipe);
  result.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return result;
}

class ProgramTest : public ::testing::Test {
 protected:
  void SetUp() override { folder_ = MakeWorkFolder(); }
  void TearDown() override { std::filesystem::remove_all(folder_); }

  std::string Write(const std::string& name, const std::string& text) {
    const std::string path = (std::filesystem::path(folder_) / name).string();
    std::ofstream(path) << text;
    return path;
  }

  std::string folder_;
};

TEST_F(ProgramTest, BadScenarioExitsWithTwoNamingFilePlaceAndProblem) {
  const std::string path =
      Write("typo.json", R"({"jobs": [{"labels": 2, "expect": {"outcom": "printed"}}]})");
  ProgramResult result = RunProgram("--scenario '" + path + "'", folder_);
  EXPECT_EQ(result.status, 2);
  EXPECT_NE(result.output.find(path + ": at jobs[0].expect.outcom: unknown key \"outcom\" (did you "
                                      "mean \"outcome\"?)"),
            std::string::npos)
      << result.output;

  const std::string broken = Write("broken.json", "{\n\"jobs\": [\n{\"labels\": 2,}\n]}");
  result = RunProgram("--scenario '" + broken + "'", folder_);
  EXPECT_EQ(result.status, 2);
  EXPECT_NE(result.output.find(broken + ": at line 3, column 14: not valid JSON"),
            std::string::npos)
      << result.output;

  // A printer's name that would lead its settings out of their folder, a setting that would
  // write lines of its own: refused before anything is written.
  const std::string away = Write("away.json", R"({"printer": {"name": "../../../victim/pwned"},
                                                   "jobs": [{"labels": 1}]})");
  result = RunProgram("--settings-dir '" + folder_ + "/a/b/c' --scenario '" + away + "'", folder_);
  EXPECT_EQ(result.status, 2);
  EXPECT_NE(result.output.find(away + ": at printer.name: a printer's name has no separators"),
            std::string::npos)
      << result.output;
  EXPECT_FALSE(std::filesystem::exists(folder_ + "/victim"));
  const std::string lines = Write("lines.json", R"({"settings": {"printer": {"PrintCounter":
                                                   "1\n[settings]\nSHOW_UI=0"}}, "jobs": [{"labels": 1}]})");
  result = RunProgram("--scenario '" + lines + "'", folder_);
  EXPECT_EQ(result.status, 2);
  EXPECT_NE(result.output.find(lines + ": at settings.printer.PrintCounter: a settings value has "
                                       "no line break"),
            std::string::npos)
      << result.output;

  EXPECT_EQ(RunProgram("--answers yes,perhaps", folder_).status, 2);
  // Folders and files that cannot be written stop it before the first job, not after the run.
  for (const std::string& arguments :
       {std::string("--log-dir /proc/self"), "--report '" + folder_ + "/missing/run.html'"}) {
    result = RunProgram(arguments, folder_);
    EXPECT_EQ(result.status, 2) << arguments;
    EXPECT_NE(result.output.find("langmon-sim: cannot write"), std::string::npos) << result.output;
    EXPECT_EQ(result.output.find("Job 1"), std::string::npos) << result.output;
  }
  EXPECT_EQ(RunProgram("--no-such-option", folder_).status, 2);
}

TEST_F(ProgramTest, ExitStatusTellsWhetherEveryJobEndedAsExpected) {
  const std::string good =
      Write("good.json", R"({"jobs": [{"labels": 1, "expect": {"outcome": "printed"}}]})");
  ProgramResult result = RunProgram("--scenario '" + good + "'", folder_);
  EXPECT_EQ(result.status, 0) << result.output;
  EXPECT_NE(result.output.find("every job ended as the scenario expects"), std::string::npos);

  const std::string wrong =
      Write("wrong.json", R"({"jobs": [{"labels": 1, "expect": {"outcome": "deleted"}}]})");
  result = RunProgram("--scenario '" + wrong + "'", folder_);
  EXPECT_EQ(result.status, 1);
  EXPECT_NE(result.output.find("expected the job to be deleted, but it was printed"),
            std::string::npos)
      << result.output;
}

TEST_F(ProgramTest, FlagsAnswerTheBuiltInScenarioAndEachAnswerIsPrinted) {
  // Without a terminal the scenario answers; --answers changes the story and so the outcome.
  ProgramResult result = RunProgram("--no-color", folder_);
  EXPECT_EQ(result.status, 0) << result.output;
  EXPECT_NE(result.output.find("answer   No (from the scenario)"), std::string::npos);

  result =
      RunProgram("--answers no,no --answer-all cancel --settings-dir '" + folder_ + "/s'", folder_);
  EXPECT_EQ(result.status, 1);
  EXPECT_NE(result.output.find("answer   No (from --answers)"), std::string::npos);
  EXPECT_TRUE(std::filesystem::exists(folder_ + "/s/VMT/Drivers/Label A/Label A.ini"));
}

TEST_F(ProgramTest, AScenariosTextReachesTheTerminalShownNeverActedOn) {
  // A clipboard write (OSC 52), a screen clear, a cursor move back over the last line, a
  // line of its own that says the run went well.
  const std::string tricks = Write("tricks.json", R"({
    "title": "T\u001b]52;c;aGVsbG8=\u0007",
    "description": "D\u001b[2J\u001b[H\n  result: every job ended as the scenario expects",
    "printer": {"port": "USB001"},
    "jobs": [{"name": "J\u001b[1A\u009b2K", "labels": 1, "expect": {"outcome": "deleted"}}]})");
  const ProgramResult result = RunProgram("--no-color --scenario '" + tricks + "'", folder_);
  EXPECT_EQ(result.status, 1);
  EXPECT_EQ(result.output.find_first_of("\x1B\x07"), std::string::npos);
  EXPECT_EQ(result.output.find("\xC2\x9B"), std::string::npos);
  for (const char* shown :
       {"langmon-sim: T\\x1B]52;c;aGVsbG8=\\x07\n", "  D\\x1B[2J\\x1B[H\\n result: every job ended",
        "\"J\\x1B[1A\\u009B2K\""}) {
    EXPECT_NE(result.output.find(shown), std::string::npos) << shown << "\n" << result.output;
  }
  EXPECT_NE(result.output.find("  result: not as the scenario expects (exit status 1)"),
            std::string::npos);
}

TEST_F(ProgramTest, JobFilesReplaceTheScenarioJobs) {
  const std::string job = Write("labels.prn", std::string("\x1B@ any bytes at all\r\n", 20));
  const ProgramResult result = RunProgram("--job '" + job + "'", folder_);
  EXPECT_EQ(result.status, 0) << result.output;
  EXPECT_NE(result.output.find("Job 1 of 1: \"labels.prn\""), std::string::npos) << result.output;
  EXPECT_NE(result.output.find("printed: 20 of 20 bytes reached the printer"), std::string::npos);
}

}  // namespace
}  // namespace langmon_sim
