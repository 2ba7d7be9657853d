// A langmon-sim scenario: the printer, how it changes, the jobs, the user's answers and what the
// run is expected to end with. Plain structs, read from JSON by ParseScenario; nothing here runs.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "platform/win32.h"
#include "sim/sim_printer.h"

namespace langmon_sim {

// A scenario that cannot be used: which file, where in it, and what is wrong.
class ScenarioError : public std::runtime_error {
 public:
  ScenarioError(std::string file, std::string place, std::string message);
  const std::string& file() const { return file_; }
  const std::string& place() const { return place_; }
  const std::string& message() const { return message_; }

 private:
  std::string file_;
  std::string place_;
  std::string message_;
};

// How a job ended, as the spooler sees it.
enum class JobOutcome {
  Printed,      // started, every byte written, ended
  Deleted,      // the monitor deleted it (SetJobW with JOB_CONTROL_DELETE)
  FailedStart,  // StartDocPort refused it
  Stopped,      // a write was refused without the job being deleted
  Waiting,      // the monitor was still waiting for the printer when the run's time ran out
};
const char* JobOutcomeName(JobOutcome outcome);

// A user's answer to one box: one of the button IDs (IDOK ...), or 0 for a box nobody answers.
struct Answer {
  int button = 0;
  std::optional<unsigned> box;              // the box it is meant for; checked when given
  std::optional<sim::StateChange> printer;  // what the user does to the printer before answering
  std::string place;                        // where the scenario gave it
};

// Settings keys to compare after a job or the run: file ("printer" or "model") -> key -> value.
using SettingsValues = std::map<std::string, std::map<std::string, std::string>>;

struct Expectation {
  std::optional<JobOutcome> outcome;           // jobs only
  std::optional<std::vector<unsigned>> boxes;  // string IDs of the boxes asked, in order
  std::optional<int> printCounter;             // "PrintCounter" of the printer settings (absent: 0)
  std::optional<unsigned> alignmentPrints;
  std::optional<std::vector<sim::Command>> commands;
  SettingsValues settings;
  bool Empty() const {
    return !outcome && !boxes && !printCounter && !alignmentPrints && !commands && settings.empty();
  }
};

struct JobPlan {
  std::string name;
  DWORD jobId = 0;  // 0: numbered in order from 1
  std::string document = "Labels";
  // Generated data: the driver's preamble, then a job header before each label's bytes.
  unsigned labels = 3;
  unsigned bytesPerLabel = 600;
  // Or the bytes of a file, sent as they are.
  std::string file;
  // Sizes of the spooler's successive writes, the last one repeated; empty: the spooler's usual.
  std::vector<DWORD> writeSizes;
  Expectation expect;
  std::string place;
  // The printer it is sent to, by name; empty: the scenario's first printer.
  std::string printer;
  // Started on the other printer after the previous job's first write, and sent to its end
  // before the previous job goes on: two jobs whose starts interleave on one spooler.
  bool startsDuringPrevious = false;
};

struct PrinterPlan {
  std::string name = "Label A";
  std::string port = "USB001";
  sim::Status status;
  sim::ReadOutcome readMode;                               // how reads go (silent printer: Empty)
  sim::WriteOutcome writeMode;                             // how writes go
  DWORD spitsYellow = 0, spitsMagenta = 0, spitsCyan = 0;  // ink used per byte of print data
  DWORD recordPeriodMs = 200;
  DWORD readDelayMs = 0;
  bool failOpen = false;
  bool failStart = false;
  bool spoolerOpens = true;                // OpenPrinterW succeeds for the printer's name
  bool alignmentFiles = true;              // the driver folder holds the alignment print files
  std::vector<sim::Cartridge> cartridges;  // put in at successive cartridge changes
  std::vector<sim::AlignmentResult> alignmentResults;
  std::vector<sim::Trigger> changes;
};

// Where the spooler runs and who can see the monitor's questions. Without a plan the spooler is
// an interactive program whose spoolss lacks the session functions: boxes go to its desktop.
struct SessionPlan {
  bool service = true;               // the spooler is a service in session 0, as since Vista
  bool jobsFromSessionZero = false;  // jobs come from session 0 (a service printing): no owner
  enum class Owner { Answers, Away, LoggedOff };
  Owner owner = Owner::Answers;  // away: never answers, only a time-out ends the wait
  DWORD answerAfterMs = 0;       // how long the owner takes to answer
};

// A second printer of the same model on the same spooler, on a port of its own, with its own
// settings files.
struct SecondPrinterPlan {
  PrinterPlan printer;
  bool quiet = false;       // SHOW_UI=0 in its model settings file
  SettingsValues settings;  // written into its settings files before the first job
};

struct Scenario {
  std::string file;  // where it was read from; "built-in" for the demo
  std::string title;
  std::string description;  // what happens and what the scenario expects, for a person
  PrinterPlan printer;
  SettingsValues settings;  // written into the settings files before the first job
  bool quiet = false;       // SHOW_UI=0 in the model settings file
  std::optional<SecondPrinterPlan> secondPrinter;
  std::optional<SessionPlan> session;
  std::vector<Answer> answers;
  std::optional<int> thenAnswer;  // once the answers run out
  std::vector<JobPlan> jobs;
  Expectation expect;  // over the whole run
};

// Reads a scenario; `file` names it in errors and anchors relative job files.
Scenario ParseScenario(const std::string& text, const std::string& file);
Scenario LoadScenarioFile(const std::string& path);

// Answer words: ok, cancel, yes, no, retry, none (0: no answer, as a box not shown).
std::optional<int> ParseAnswerWord(const std::string& word);
const char* AnswerWord(int button);
// A comma-separated list of answer words (--answers); throws ScenarioError naming `source`.
std::vector<Answer> ParseAnswerList(const std::string& list, const std::string& source);

// Settings file names as the scenario writes them.
constexpr char kPrinterSettings[] = "printer";
constexpr char kModelSettings[] = "model";

}  // namespace langmon_sim
