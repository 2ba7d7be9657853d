// Runs a scenario: hosts the monitor as the spooler does (process attach, InitializePrintMonitor,
// open the port, start, write, end, close) against the simulated printer, answers its questions,
// and reports everything that happens to a listener. One run at a time per process: the monitor
// and the stand-ins keep process-wide state.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "platform/host.h"
#include "sim/sim_printer.h"
#include "sim/spooler.h"
#include "tools/langmon-sim/scenario.h"

namespace langmon_sim {

struct RunOptions {
  bool realTime = false;
  std::string logFolder;       // the monitor's temp folder, where its log file goes
  std::string settingsFolder;  // the common application-data folder, below which settings live
  std::optional<std::vector<Answer>> answers;  // replace the scenario's answers
  std::optional<int> answerAll;                // every box the answers above leave
  // Past this many questions in a run the runner stops answering as scripted (it cancels, or
  // gives no answer), so a scenario that never lets the monitor go on cannot run for ever.
  unsigned maxQuestions = 50;
  // The monitor waits for as long as the printer needs (stock loaded, a condition cleared, the
  // printer switched on). A run whose printer never does so is stopped after this long on the
  // run's clock, with the job still waiting; no further job is sent.
  DWORD maxRunMs = 3600000;
  // The jobs are not the ones the answers were written for: answers left over are no mistake.
  bool answersMayRemain = false;
};

enum class AnswerSource { Scenario, Flag, AnswerAll, ThenAnswer, Unanswered, User, Guard, Owner };
const char* AnswerSourceName(AnswerSource source);

struct Question {
  unsigned number = 0;  // 1 for the first box of the run
  host::MessageBoxRecord box;
  std::optional<int> suggested;  // the scripted answer, if any
};

// The buttons a box offers, by its type, in the order they are shown.
std::vector<int> ButtonsOf(UINT type);

enum class PrinterEventKind { Command, AlignmentPrint };
struct PrinterEvent {
  PrinterEventKind kind = PrinterEventKind::Command;
  sim::Command command = sim::Command::CartridgeChangeStart;
  char family = 'C';  // alignment print: 'C' colour file, 'K' black file
  DWORD bytes = 0;
};

// One WritePort call of the spooler and what the monitor made of it.
struct WriteInfo {
  unsigned number = 0;  // 1 for the job's first write
  DWORD offered = 0;
  BOOL ok = FALSE;
  DWORD written = 0;
  DWORD error = 0;
  bool startsWithHeader = false;      // the offered bytes begin with a job header
  bool restStartsWithHeader = false;  // the bytes not written begin with one
};

struct JobReport {
  const JobPlan* plan = nullptr;
  JobOutcome outcome = JobOutcome::Printed;
  sim::JobResult result;
  DWORD totalBytes = 0;
  DWORD bytesReceived = 0;  // job data the printer accepted during this job
  std::vector<unsigned> boxes;
  int printCounter = 0;
  unsigned alignmentPrints = 0;
  std::vector<sim::Command> commands;
  std::vector<std::string> mismatches;  // expectations not met
};

struct SettingsFile {
  std::string label;  // "printer settings", "model settings"
  std::string path;
  bool exists = false;
  std::string text;
};

struct RunReport {
  std::vector<JobReport> jobs;
  std::vector<std::string> mismatches;  // run-level expectations and script problems
  std::vector<unsigned> boxes;
  unsigned questions = 0;
  unsigned questionsNotShown = 0;  // the owner's session could not be reached: not in `boxes`
  unsigned userDeviations = 0;     // interactive answers that differ from the scenario's
  bool guardTripped = false;
  std::string workFolder;
  std::string logFile;
  std::vector<SettingsFile> settings;
  DWORD elapsedMs = 0;  // on the run's clock (virtual unless real time)
  double realSeconds = 0;
  bool expectationsStated = false;
  bool Ok() const;
};

// What a run tells whoever shows it. Every method has a do-nothing default. `ms` is the time
// since the run started on the run's clock.
class RunListener {
 public:
  virtual ~RunListener() = default;
  virtual void RunStarting(const Scenario&, const RunOptions&, const RunReport&) {}
  virtual void SpoolerCall(DWORD /*ms*/, const std::string& /*call*/,
                           const std::string& /*result*/) {}
  virtual void WriteCall(DWORD /*ms*/, const WriteInfo&) {}
  virtual void SetJob(DWORD /*ms*/, const host::SetJobRecord&) {}
  virtual void LogLine(DWORD /*ms*/, const std::string& /*line*/) {}
  // Asks the user; nullopt leaves the answer to the script.
  virtual std::optional<int> Ask(const Question&) { return std::nullopt; }
  virtual void Answered(DWORD /*ms*/, const Question&, int /*answer*/, AnswerSource,
                        const std::string& /*note*/) {}
  virtual void PrinterReceived(DWORD /*ms*/, const PrinterEvent&) {}
  virtual void DialogChanged(DWORD /*ms*/, const host::DialogRecord&) {}
  virtual void Tick(DWORD /*ms*/) {}
  virtual void JobStarting(const JobPlan&, DWORD /*totalBytes*/) {}
  // A job goes on after one that started during it was sent.
  virtual void JobGoesOn(const JobPlan&) {}
  virtual void Progress(DWORD /*accepted*/, DWORD /*total*/) {}
  virtual void JobFinished(DWORD /*ms*/, const JobReport&) {}
  virtual void RunFinished(const RunReport&) {}
};

// The job's bytes: generated labels, or the file's contents.
std::vector<BYTE> JobBytes(const JobPlan& job);

// Runs the whole scenario. `workFolder` receives the driver files and, unless the options name
// other folders, the log and the settings; it must exist.
RunReport RunScenario(const Scenario& scenario, const RunOptions& options,
                      const std::string& workFolder, RunListener& listener);

// A new folder below $TMPDIR (or /tmp) for one run.
std::string MakeWorkFolder();

}  // namespace langmon_sim
