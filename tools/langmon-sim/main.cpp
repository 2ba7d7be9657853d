// langmon-sim: hosts the language monitor as the print spooler does, against a simulated label
// printer, and shows what happens.
//
// Exit status: 0 when every job ended as the scenario expects, 1 otherwise, 2 for a bad scenario
// file, a bad command line, or a log folder or report file that cannot be written.
#include <fcntl.h>
#include <unistd.h>

#include <CLI/CLI.hpp>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <iostream>

#include "tools/langmon-sim/builtin_scenario.h"
#include "tools/langmon-sim/console.h"
#include "tools/langmon-sim/report_page.h"
#include "tools/langmon-sim/runner.h"
#include "tools/langmon-sim/scenario.h"
#include "tools/langmon-sim/text.h"
#include "tools/langmon-sim/transcript.h"

namespace {

constexpr int kExitExpected = 0;
constexpr int kExitNotExpected = 1;
constexpr int kExitBadInput = 2;

// Scenario files and command lines come from others: what they say is shown, never acted on.
int Fail(const std::string& message) {
  std::cerr << "langmon-sim: " << langmon_sim::Visible(message) << "\n";
  return kExitBadInput;
}

// Makes and removes a file in the folder: what the monitor and the settings files will need.
bool FolderIsWritable(const std::string& folder, std::string* error) {
  std::string pattern = folder + "/.langmon-sim-XXXXXX";
  const int fd = mkstemp(pattern.data());
  if (fd < 0) {
    *error = std::strerror(errno);
    return false;
  }
  close(fd);
  unlink(pattern.c_str());
  return true;
}

// Opens the file for appending, which leaves an existing one as it is; one made here is
// overwritten by the page.
bool FileIsWritable(const std::string& path, std::string* error) {
  const int fd = open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT, 0644);
  if (fd < 0) {
    *error = std::strerror(errno);
    return false;
  }
  close(fd);
  return true;
}

bool UseColor(bool noColor) {
  const char* term = std::getenv("TERM");
  return !noColor && isatty(STDOUT_FILENO) && std::getenv("NO_COLOR") == nullptr &&
         (term == nullptr || std::string(term) != "dumb");
}

}  // namespace

int main(int argc, char** argv) {
  using namespace langmon_sim;

  CLI::App app{
      "langmon-sim: the Velmora label printer language monitor at work, hosted as the print "
      "spooler hosts it, against a simulated printer.\n"
      "With no arguments it runs a built-in scenario of four jobs."};
  app.set_help_flag("-h,--help", "Show this help and exit");

  std::string scenarioFile;
  std::vector<std::string> jobFiles;
  std::string answers, answerAll, logDir, settingsDir, reportFile;
  bool realTime = false, verbose = false, noColor = false, ascii = false, batch = false;
  bool showBuiltIn = false, checkOnly = false;
  int logLevel = 3;
  unsigned maxQuestions = 50;
  unsigned maxSeconds = 3600;

  app.add_option("-s,--scenario", scenarioFile, "Run the scenario in this JSON file")
      ->check(CLI::ExistingFile);
  app.add_option("-j,--job", jobFiles,
                 "Send this file as a job's data, as it stands (repeatable); replaces the "
                 "scenario's jobs and their expectations")
      ->check(CLI::ExistingFile);
  app.add_option("-a,--answers", answers,
                 "Answer the boxes in this order: a comma-separated list of ok, cancel, yes, no, "
                 "retry, none (replaces the scenario's answers)");
  app.add_option("-A,--answer-all", answerAll,
                 "Answer every box (after any --answers) with this: ok, cancel, yes, no, retry "
                 "or none");
  app.add_flag("-b,--batch", batch,
               "Never wait for a key: answer from the scenario even on a terminal");
  app.add_flag("-r,--real-time", realTime,
               "Let the monitor's waits take their real time (default: a virtual clock on which "
               "they pass at once)");
  app.add_option("--log-dir", logDir,
                 "Keep the monitor's log file (VelmoraLMDrv.dbg) in this folder");
  app.add_option("--settings-dir", settingsDir,
                 "Use this folder as the machine's application-data folder: the settings files "
                 "are kept below it in VMT/Drivers/<printer>/ (and carry over between runs)");
  app.add_option("--log-level", logLevel,
                 "Show log lines of this level and above: 3 INFORM, "
                 "4 WARNING, 5 ERROR, 6 FATAL (the log file keeps them all)")
      ->check(CLI::Range(3, 6));
  app.add_flag("-v,--verbose", verbose, "Show every WritePort call of every job");
  app.add_option("--max-questions", maxQuestions,
                 "Stop answering as scripted after this many boxes in a run")
      ->check(CLI::Range(1u, 100000u));
  app.add_option("--max-time", maxSeconds,
                 "Stop the run when the monitor is still waiting for the printer after this many "
                 "seconds on the run's clock (default 3600)")
      ->check(CLI::Range(1u, 4000000u));
  app.add_flag("--no-color", noColor, "No colours (also when NO_COLOR is set)");
  app.add_flag("--ascii", ascii, "Draw with plain ASCII characters only");
  app.add_option("--report", reportFile,
                 "Also write the run as an HTML page (langmon-report's page, with each box's "
                 "answer and the settings files)");
  app.add_flag("--check", checkOnly, "Only read and check the scenario, then exit");
  app.add_flag("--show-builtin", showBuiltIn,
               "Print the built-in scenario as a scenario file and exit");

  try {
    app.parse(argc, argv);
  } catch (const CLI::CallForHelp& help) {
    return app.exit(help);
  } catch (const CLI::ParseError& error) {
    app.exit(error);
    return kExitBadInput;
  }

  if (showBuiltIn) {
    std::cout << BuiltInScenarioText();
    return kExitExpected;
  }

  Scenario scenario;
  RunOptions options;
  try {
    if (!scenarioFile.empty()) {
      scenario = LoadScenarioFile(scenarioFile);
    } else if (jobFiles.empty()) {
      scenario = BuiltInScenario();
    } else {
      scenario.file = "--job";
      scenario.title = "Job files sent to a healthy printer";
    }
    if (!answers.empty()) options.answers = ParseAnswerList(answers, "--answers");
    if (!answerAll.empty()) {
      const std::optional<int> button = ParseAnswerWord(answerAll);
      if (!button) {
        throw ScenarioError("--answer-all", "\"" + answerAll + "\"",
                            "not an answer; expected ok, cancel, yes, no, retry or none");
      }
      options.answerAll = *button;
    }
  } catch (const ScenarioError& error) {
    return Fail("bad scenario: " + error.file() + ": at " + error.place() + ": " + error.message());
  }

  if (!jobFiles.empty()) {
    scenario.jobs.clear();
    scenario.expect = Expectation{};
    options.answersMayRemain = true;
    for (const std::string& file : jobFiles) {
      JobPlan job;
      job.jobId = static_cast<DWORD>(scenario.jobs.size() + 1);
      job.name = std::filesystem::path(file).filename().string();
      job.file = file;
      job.place = "--job " + file;
      scenario.jobs.push_back(job);
    }
  }
  if (checkOnly) {
    std::cout << Visible(scenarioFile.empty() ? std::string("built-in scenario") : scenarioFile)
              << ": a valid scenario with " << scenario.jobs.size() << " job(s)\n";
    return kExitExpected;
  }

  options.realTime = realTime;
  options.maxQuestions = maxQuestions;
  options.maxRunMs = static_cast<DWORD>(maxSeconds) * 1000;
  for (std::string* folder : {&logDir, &settingsDir}) {
    if (folder->empty()) continue;
    std::error_code error;
    std::filesystem::create_directories(*folder, error);
    if (error) return Fail("cannot make the folder " + *folder + ": " + error.message());
    *folder = std::filesystem::absolute(*folder).string();
  }
  options.logFolder = logDir;
  options.settingsFolder = settingsDir;
  // Found out now, not after a run that may have taken an hour.
  for (const std::string* folder : {&logDir, &settingsDir}) {
    std::string error;
    if (!folder->empty() && !FolderIsWritable(*folder, &error)) {
      return Fail("cannot write in the folder " + *folder + ": " + error);
    }
  }
  if (!reportFile.empty()) {
    std::string error;
    if (!FileIsWritable(reportFile, &error)) {
      return Fail("cannot write the report " + reportFile + ": " + error);
    }
  }

  const std::string work = MakeWorkFolder();
  if (work.empty()) {
    std::cerr << "langmon-sim: cannot make a temporary folder\n";
    return kExitNotExpected;
  }

  const bool interactive = isatty(STDIN_FILENO) && !batch && !options.answers && !options.answerAll;
  Console console(stdout, isatty(STDOUT_FILENO), UseColor(noColor), LocaleIsUtf8() && !ascii,
                  TerminalWidth(STDOUT_FILENO, 100));
  KeyReader keys(STDIN_FILENO);
  TranscriptOptions transcriptOptions;
  transcriptOptions.verbose = verbose;
  transcriptOptions.logLevel = logLevel;
  transcriptOptions.keys = interactive ? &keys : nullptr;
  Transcript transcript(console, transcriptOptions);

  ReportRecorder recorder;
  BothListeners both(transcript, recorder);
  const RunReport report = RunScenario(
      scenario, options, work, reportFile.empty() ? static_cast<RunListener&>(transcript) : both);
  if (!reportFile.empty()) {
    std::string error;
    if (!WriteReportPage(recorder, reportFile, &error)) {
      std::cerr << "langmon-sim: " << Visible(error) << "\n";
      return kExitNotExpected;
    }
    std::cout << "  report: " << Visible(reportFile) << "\n";
  }
  return report.Ok() ? kExitExpected : kExitNotExpected;
}
