#include "tools/langmon-sim/runner.h"

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>

#include "monitor/monitor.h"
#include "sim/driver_files.h"
#include "tools/langmon-sim/text.h"

namespace langmon_sim {

namespace {

constexpr char16_t kRegistryRoot[] =
    u"SYSTEM\\CurrentControlSet\\Control\\Print\\Monitors\\Label Monitor";
constexpr char kModelSettingsFile[] = "VM_lp250.ini";
constexpr char kLogFileName[] = "VelmoraLMDrv.dbg";
// A spooler's usual write for a file it sends as it stands.
constexpr DWORD kFileWriteSize = 4096;
// While the clock only moves in Sleep, the printer is looked at again after this much of it.
constexpr DWORD kPollEveryMs = 500;

// Thrown on the job's thread when the run's time is up; caught where the job was sent.
struct RunOutOfTime {};

// The session a user's job comes from, and how an owner who is away never answers.
constexpr DWORD kUserSession = 2;
constexpr DWORD kNeverAnswers = 0xFFFFFFFF;
constexpr DWORD kNoSuchLogonSession = 1312;

std::string Quoted(const std::u16string& text) {
  std::string quoted(1, '"');
  quoted.append(ToUtf8(text)).push_back('"');
  return quoted;
}
std::string Quoted(LPCWSTR text) { return text == nullptr ? "NULL" : Quoted(std::u16string(text)); }

std::string BoolResult(BOOL ok) {
  if (ok) return "TRUE";
  return "FALSE, last error " + std::to_string(GetLastError());
}

std::string IdList(const std::vector<unsigned>& ids) {
  std::string text = "[";
  for (size_t i = 0; i < ids.size(); ++i) text += (i ? ", " : "") + std::to_string(ids[i]);
  return text + "]";
}

std::string CommandList(const std::vector<sim::Command>& commands) {
  std::string text = "[";
  for (size_t i = 0; i < commands.size(); ++i) {
    text += (i ? ", " : "") + std::string(sim::CommandName(commands[i]));
  }
  return text + "]";
}

bool StartsWithHeader(const BYTE* bytes, DWORD size) {
  static const std::vector<BYTE> header = sim::JobHeaderCommand();
  return bytes != nullptr && size >= header.size() &&
         std::equal(header.begin(), header.begin() + 4, bytes) &&
         std::equal(header.end() - 4, header.end(), bytes + header.size() - 4);
}

bool SameSetting(const std::string& a, const std::string& b) {
  char* endA = nullptr;
  char* endB = nullptr;
  const long long numberA = std::strtoll(a.c_str(), &endA, 10);
  const long long numberB = std::strtoll(b.c_str(), &endB, 10);
  if (!a.empty() && !b.empty() && *endA == '\0' && *endB == '\0') return numberA == numberB;
  return a == b;
}

// What a job or the run left behind, to hold against an expectation.
struct Observed {
  std::optional<JobOutcome> outcome;
  std::vector<unsigned> boxes;
  int printCounter = 0;
  unsigned alignmentPrints = 0;
  std::vector<sim::Command> commands;
  std::map<std::string, std::map<std::string, std::string>> settings;  // file -> keys
};

void Check(const Expectation& expect, const Observed& seen, std::vector<std::string>* out) {
  if (expect.outcome && seen.outcome && *expect.outcome != *seen.outcome) {
    out->push_back(std::string("expected the job to be ") + JobOutcomeName(*expect.outcome) +
                   ", but it was " + JobOutcomeName(*seen.outcome));
  }
  if (expect.boxes && *expect.boxes != seen.boxes) {
    out->push_back("expected the boxes " + IdList(*expect.boxes) + ", but " + IdList(seen.boxes) +
                   " were asked");
  }
  if (expect.printCounter && *expect.printCounter != seen.printCounter) {
    out->push_back("expected PrintCounter " + std::to_string(*expect.printCounter) + ", found " +
                   std::to_string(seen.printCounter));
  }
  if (expect.alignmentPrints && *expect.alignmentPrints != seen.alignmentPrints) {
    out->push_back("expected " + std::to_string(*expect.alignmentPrints) +
                   " alignment print(s), the printer received " +
                   std::to_string(seen.alignmentPrints));
  }
  if (expect.commands && *expect.commands != seen.commands) {
    out->push_back("expected the commands " + CommandList(*expect.commands) +
                   ", the printer received " + CommandList(seen.commands));
  }
  for (const auto& [file, keys] : expect.settings) {
    const auto found = seen.settings.find(file);
    for (const auto& [key, value] : keys) {
      std::string actual;
      const bool present =
          found != seen.settings.end() && FindIniValue(found->second, key, &actual);
      if (!present || !SameSetting(actual, value)) {
        out->push_back("expected " + file + " setting " + key + "=" + value + ", found " +
                       (present ? key + "=" + actual : "no " + key));
      }
    }
  }
}

// A question the spooler could not take to the job owner's session reached nobody.
bool WasShown(const host::MessageBoxRecord& box) { return box.error == 0; }

class Run;
Run* gRun = nullptr;  // the run whose wrapped monitor table is being called

class Run {
 public:
  Run(const Scenario& scenario, const RunOptions& options, std::string workFolder,
      RunListener& listener)
      : scenario_(scenario), options_(options), work_(std::move(workFolder)), listener_(listener) {}

  RunReport Execute();

  // ---- The monitor's table as the stand-in spooler calls it, reported on the way -------------
  static BOOL WINAPI OpenPortEx(LPWSTR port, LPWSTR printer, PHANDLE handle, LPMONITOR monitor) {
    const BOOL ok = gRun->real_->Monitor.pfnOpenPortEx(port, printer, handle, monitor);
    gRun->Call("OpenPortEx(" + Quoted(port) + ", " + Quoted(printer) + ")", BoolResult(ok));
    return ok;
  }
  static BOOL WINAPI StartDocPort(HANDLE port, LPWSTR printer, DWORD jobId, DWORD level,
                                  LPBYTE docInfo) {
    const BOOL ok = gRun->real_->Monitor.pfnStartDocPort(port, printer, jobId, level, docInfo);
    const auto* info = reinterpret_cast<const DOC_INFO_1W*>(docInfo);
    gRun->Call("StartDocPort(" + Quoted(printer) + ", job " + std::to_string(jobId) + ", " +
                   Quoted(info != nullptr ? info->pDocName : nullptr) + ")",
               BoolResult(ok));
    return ok;
  }
  static BOOL WINAPI WritePort(HANDLE port, LPBYTE buffer, DWORD size, LPDWORD written) {
    const BOOL ok = gRun->real_->Monitor.pfnWritePort(port, buffer, size, written);
    WriteInfo info;
    info.error = ok ? 0 : GetLastError();
    info.number = ++gRun->writeCalls_;
    info.offered = size;
    info.ok = ok;
    info.written = written != nullptr ? *written : 0;
    info.startsWithHeader = StartsWithHeader(buffer, size);
    if (ok && info.written < size) {
      info.restStartsWithHeader = StartsWithHeader(buffer + info.written, size - info.written);
    }
    gRun->Poll();
    gRun->listener_.WriteCall(gRun->Now(), info);
    SetLastError(info.error);
    return ok;
  }
  static BOOL WINAPI EndDocPort(HANDLE port) {
    const BOOL ok = gRun->real_->Monitor.pfnEndDocPort(port);
    gRun->Call("EndDocPort()", BoolResult(ok));
    return ok;
  }
  static BOOL WINAPI ClosePort(HANDLE port) {
    const BOOL ok = gRun->real_->Monitor.pfnClosePort(port);
    gRun->Call("ClosePort()", BoolResult(ok));
    return ok;
  }

 private:
  DWORD Now() const { return host::Ticks() - start_; }

  void Call(const std::string& call, const std::string& result) {
    const DWORD error = GetLastError();
    Poll();
    listener_.SpoolerCall(Now(), call, result);
    SetLastError(error);
  }

  void SetUpHost();
  void SetUpPrinter();
  void WriteStartingSettings();
  std::string PrinterSettingsPath() const;
  std::string ModelSettingsPath() const;
  std::map<std::string, std::map<std::string, std::string>> ReadSettings() const;
  int PrintCounter() const;
  void Poll();
  int AnswerBox(const host::MessageBoxRecord& box);
  JobReport RunJob(const JobPlan& job);
  void TearDown();

  const Scenario& scenario_;
  const RunOptions& options_;
  const std::string work_;
  RunListener& listener_;

  std::string logFolder_, settingsFolder_, driverFolder_;
  std::shared_ptr<sim::SimPrinter> printer_;
  LPMONITOREX real_ = nullptr;
  MONITOREX wrapped_{};
  std::unique_ptr<sim::Spooler> spooler_;
  DWORD start_ = 0;
  DWORD lastPoll_ = 0;
  unsigned writeCalls_ = 0;
  bool outOfTime_ = false;

  // Script.
  std::vector<Answer> script_;
  AnswerSource scriptSource_ = AnswerSource::Scenario;
  size_t nextAnswer_ = 0;

  // What has been reported so far.
  size_t seenCommands_ = 0, seenPrints_ = 0, seenSetJobs_ = 0, seenBoxes_ = 0;
  std::vector<sim::Command> commands_;
  unsigned alignmentPrints_ = 0;
  std::vector<host::SetJobRecord> setJobs_;

  RunReport report_;
};

void Run::SetUpHost() {
  namespace fs = std::filesystem;
  logFolder_ =
      options_.logFolder.empty() ? (fs::path(work_) / "temp").string() : options_.logFolder;
  settingsFolder_ = options_.settingsFolder.empty() ? (fs::path(work_) / "appdata").string()
                                                    : options_.settingsFolder;
  driverFolder_ = (fs::path(work_) / "driver").string();
  fs::create_directories(logFolder_);
  fs::create_directories(settingsFolder_);
  fs::create_directories(driverFolder_);
  // The printer's installation made its settings folder.
  fs::create_directories(fs::path(PrinterSettingsPath()).parent_path());

  host::Reset();
  if (options_.realTime) {
    host::UseRealClock();
  } else {
    // The log's times pass with the run's clock, as the transcript's do.
    SYSTEMTIME now{};
    GetLocalTime(&now);
    host::LocalTimeFollowsClock(now);
  }
  if (scenario_.session) {
    const SessionPlan& session = *scenario_.session;
    host::SetProcessSession(session.service ? 0 : 1);
    host::OfferSessionPrompts(true);
    host::SetJobSession(session.jobsFromSessionZero ? 0 : kUserSession);
    host::JobOwner owner;
    owner.answerAfterMs =
        session.owner == SessionPlan::Owner::Away ? kNeverAnswers : session.answerAfterMs;
    owner.failError = session.owner == SessionPlan::Owner::LoggedOff ? kNoSuchLogonSession : 0;
    host::SetJobOwner(owner);
  }
  host::RecordDebugOutput(false);  // the listener sees every line; nothing needs keeping
  host::SetTempFolder(logFolder_);
  host::SetCommonAppDataFolder(settingsFolder_);
  start_ = host::Ticks();
  lastPoll_ = start_;

  host::OnDebugOutput([this](const std::string& line) {
    Poll();
    listener_.LogLine(Now(), line);
  });
  host::SetAnswerer([this](const host::MessageBoxRecord& box) { return AnswerBox(box); });
  host::OnDialogChange(
      [this](const host::DialogRecord& dialog) { listener_.DialogChanged(Now(), dialog); });
  host::OnSleep([this](DWORD) {
    if (host::Ticks() - lastPoll_ >= kPollEveryMs) Poll();
    listener_.Tick(Now());
    if (!outOfTime_ && Now() >= options_.maxRunMs) {
      // Nothing inside the monitor ends such a wait: leave it from here, on its own thread.
      outOfTime_ = true;
      throw RunOutOfTime{};
    }
  });
}

void Run::SetUpPrinter() {
  const PrinterPlan& plan = scenario_.printer;
  sim::RemovePrinters();
  printer_ = sim::AddPrinter(ToUtf16(plan.port));
  printer_->SetStatus(plan.status);
  printer_->SetReadMode(plan.readMode);
  printer_->SetWriteMode(plan.writeMode);
  printer_->SetSpitsPerByte(plan.spitsYellow, plan.spitsMagenta, plan.spitsCyan);
  printer_->SetRecordPeriod(plan.recordPeriodMs);
  printer_->SetReadDelay(plan.readDelayMs);
  printer_->FailOpens(plan.failOpen);
  printer_->FailStartDocs(plan.failStart);
  printer_->QueueCartridges(plan.cartridges);
  printer_->QueueAlignmentResults(plan.alignmentResults);
  for (const sim::Trigger& trigger : plan.changes) printer_->AddTrigger(trigger);

  if (plan.alignmentFiles) sim::WriteAlignmentFiles(driverFolder_);
  host::Printer printer;
  printer.name = ToUtf16(plan.name);
  printer.driverPath = sim::DriverPathIn(driverFolder_);
  printer.openSucceeds = plan.spoolerOpens;
  host::AddPrinter(printer);
}

std::string Run::PrinterSettingsPath() const {
  const std::string& name = scenario_.printer.name;
  return (std::filesystem::path(settingsFolder_) / "VMT" / "Drivers" / name / (name + ".ini"))
      .string();
}

std::string Run::ModelSettingsPath() const {
  return (std::filesystem::path(PrinterSettingsPath()).parent_path() / kModelSettingsFile).string();
}

void Run::WriteStartingSettings() {
  const auto write = [](const std::string& path, const std::string& key, const std::string& value) {
    const std::u16string file = ToUtf16(path);
    const std::u16string name = ToUtf16(key);
    const std::u16string text = ToUtf16(value);
    WritePrivateProfileStringW(u"settings", name.c_str(), text.c_str(), file.c_str());
  };
  if (scenario_.quiet) write(ModelSettingsPath(), "SHOW_UI", "0");
  for (const auto& [file, keys] : scenario_.settings) {
    const std::string path = file == kModelSettings ? ModelSettingsPath() : PrinterSettingsPath();
    for (const auto& [key, value] : keys) write(path, key, value);
  }
}

std::map<std::string, std::map<std::string, std::string>> Run::ReadSettings() const {
  return {{kPrinterSettings, IniSection(ReadWholeFile(PrinterSettingsPath()), "settings")},
          {kModelSettings, IniSection(ReadWholeFile(ModelSettingsPath()), "settings")}};
}

int Run::PrintCounter() const {
  std::string value;
  if (!FindIniValue(IniSection(ReadWholeFile(PrinterSettingsPath()), "settings"), "PrintCounter",
                    &value)) {
    return 0;
  }
  return std::atoi(value.c_str());
}

// Reports what reached the printer and what the spooler was told since the last look.
void Run::Poll() {
  lastPoll_ = host::Ticks();
  if (!printer_) return;
  const std::vector<sim::AlignmentPrint> prints = printer_->AlignmentPrints();
  const std::vector<sim::Command> commands = printer_->Commands();
  std::vector<std::pair<DWORD, PrinterEvent>> arrived;  // by the printer's clock
  for (; seenPrints_ < prints.size(); ++seenPrints_) {
    PrinterEvent event;
    event.kind = PrinterEventKind::AlignmentPrint;
    event.family = prints[seenPrints_].family;
    event.bytes = prints[seenPrints_].bytes;
    ++alignmentPrints_;
    arrived.emplace_back(prints[seenPrints_].ticks - start_, event);
  }
  if (seenCommands_ < commands.size()) {
    // The printer's record says when each command came; only looked up when one is new.
    std::vector<DWORD> commandTicks;
    for (const sim::Event& event : printer_->Events()) {
      if (event.kind == sim::EventKind::Write && event.dataKind == sim::DataKind::Command &&
          event.result && event.accepted == event.bytes.size()) {
        commandTicks.push_back(event.ticks - start_);
      }
    }
    for (; seenCommands_ < commands.size(); ++seenCommands_) {
      PrinterEvent event;
      event.command = commands[seenCommands_];
      commands_.push_back(event.command);
      arrived.emplace_back(
          seenCommands_ < commandTicks.size() ? commandTicks[seenCommands_] : Now(), event);
    }
  }
  std::stable_sort(arrived.begin(), arrived.end(),
                   [](const auto& a, const auto& b) { return a.first < b.first; });
  for (const auto& [ms, event] : arrived) listener_.PrinterReceived(ms, event);

  // Boxes in the owner's session that timed out or never got there; answered ones were told
  // when they were answered.
  const std::vector<host::MessageBoxRecord> boxes = host::MessageBoxes();
  for (; seenBoxes_ < boxes.size(); ++seenBoxes_) {
    const host::MessageBoxRecord& box = boxes[seenBoxes_];
    if (box.ownersSession && (box.error != 0 || box.answer == IDTIMEOUT)) {
      if (box.error != 0) ++report_.questionsNotShown;
      Question question;
      question.number = ++report_.questions;
      question.box = box;
      listener_.Answered(Now(), question, 0, AnswerSource::Owner,
                         box.error != 0
                             ? "the spooler could not show it in the job owner's "
                               "session (error " +
                                   std::to_string(box.error) + ")"
                             : "not answered within " + std::to_string(box.timeoutSeconds) + " s");
    }
  }

  const std::vector<host::SetJobRecord> calls = host::SetJobCalls();
  for (; seenSetJobs_ < calls.size(); ++seenSetJobs_) {
    setJobs_.push_back(calls[seenSetJobs_]);
    listener_.SetJob(Now(), calls[seenSetJobs_]);
  }
}

int Run::AnswerBox(const host::MessageBoxRecord& box) {
  Poll();
  Question question;
  question.number = ++report_.questions;
  question.box = box;

  // The scripted answer for this box, if there is one.
  std::optional<Answer> scripted;
  AnswerSource source = AnswerSource::Unanswered;
  if (nextAnswer_ < script_.size() && !options_.answersMayRemain) {
    scripted = script_[nextAnswer_++];
    source = scriptSource_;
  } else if (options_.answerAll) {
    scripted = Answer{*options_.answerAll, std::nullopt, std::nullopt, "--answer-all"};
    source = AnswerSource::AnswerAll;
  } else if (scenario_.thenAnswer) {
    scripted = Answer{*scenario_.thenAnswer, std::nullopt, std::nullopt, "then_answer"};
    source = AnswerSource::ThenAnswer;
  }
  if (scripted) question.suggested = scripted->button;

  std::string note;
  int answer = scripted ? scripted->button : 0;
  bool actAsScripted = scripted.has_value();
  if (const std::optional<int> chosen = listener_.Ask(question)) {
    source = AnswerSource::User;
    if (scripted && *chosen != scripted->button) {
      ++report_.userDeviations;
      actAsScripted = false;
      note = std::string("the scenario would have answered ") + AnswerWord(scripted->button);
    }
    answer = *chosen;
  } else if (report_.questions > options_.maxQuestions) {
    // A scenario that keeps the monitor asking: stop it the way a user would give up.
    const std::vector<int> buttons = ButtonsOf(box.type);
    answer = std::find(buttons.begin(), buttons.end(), IDCANCEL) != buttons.end() ? IDCANCEL : 0;
    source = AnswerSource::Guard;
    actAsScripted = false;
    if (!report_.guardTripped) {
      report_.mismatches.push_back("more than " + std::to_string(options_.maxQuestions) +
                                   " questions: the run stopped answering as scripted");
    }
    report_.guardTripped = true;
    note = "more than " + std::to_string(options_.maxQuestions) + " questions asked";
  }

  if (actAsScripted && scripted->box && *scripted->box != box.textId) {
    report_.mismatches.push_back("the answer at " + scripted->place + " is for box " +
                                 std::to_string(*scripted->box) + ", but box " +
                                 std::to_string(box.textId) + " was asked");
    note = "meant for box " + std::to_string(*scripted->box);
  }
  if (answer != 0) {
    const std::vector<int> buttons = ButtonsOf(box.type);
    if (std::find(buttons.begin(), buttons.end(), answer) == buttons.end()) {
      // The user can only press Esc, which MessageBox answers with Cancel where the box has it
      // and with OK on an OK-only box; a Yes/No box cannot be closed so.
      const bool hasCancel = std::find(buttons.begin(), buttons.end(), IDCANCEL) != buttons.end();
      const std::string asked = AnswerWord(answer);
      if (hasCancel || buttons == std::vector<int>{IDOK}) {
        answer = hasCancel ? IDCANCEL : IDOK;
        note += std::string(note.empty() ? "" : "; ") + asked +
                " is not a button of this box: Esc gives " + AnswerWord(answer);
      } else {
        report_.mismatches.push_back("box " + std::to_string(box.textId) + " (question " +
                                     std::to_string(question.number) + ") cannot be answered " +
                                     asked + ", nor closed with Esc: it was left unanswered");
        answer = 0;
        note += std::string(note.empty() ? "" : "; ") + asked +
                " is not a button of this box, which Esc does not close: no answer";
      }
    }
  }
  if (actAsScripted && scripted->printer) {
    printer_->Apply(*scripted->printer);
    note += std::string(note.empty() ? "" : "; ") + "the printer changed first";
  }
  listener_.Answered(Now(), question, answer, source, note);
  return answer;
}

JobReport Run::RunJob(const JobPlan& plan) {
  JobReport job;
  job.plan = &plan;
  sim::Job request;
  request.printerName = ToUtf16(scenario_.printer.name);
  request.jobId = plan.jobId;
  request.documentName = ToUtf16(plan.document);
  request.data = JobBytes(plan);
  if (!plan.writeSizes.empty()) {
    request.offerSizes = plan.writeSizes;
  } else if (!plan.file.empty()) {
    request.offerSizes = {kFileWriteSize};
  }
  job.totalBytes = static_cast<DWORD>(request.data.size());

  Poll();
  const size_t boxesBefore = host::MessageBoxes().size();
  const size_t commandsBefore = commands_.size();
  const unsigned printsBefore = alignmentPrints_;
  const size_t setJobsBefore = setJobs_.size();
  const size_t dataBefore = printer_->JobData().size();
  writeCalls_ = 0;

  listener_.JobStarting(plan, job.totalBytes);
  try {
    job.result = spooler_->Print(
        request, [this, &job](DWORD accepted) { listener_.Progress(accepted, job.totalBytes); });
  } catch (const RunOutOfTime&) {
    job.result.started = true;
  }
  Poll();

  const std::vector<host::MessageBoxRecord> boxes = host::MessageBoxes();
  for (size_t i = boxesBefore; i < boxes.size(); ++i) {
    if (WasShown(boxes[i])) job.boxes.push_back(boxes[i].textId);
  }
  job.commands.assign(commands_.begin() + static_cast<long>(commandsBefore), commands_.end());
  job.alignmentPrints = alignmentPrints_ - printsBefore;
  job.bytesReceived = static_cast<DWORD>(printer_->JobData().size() - dataBefore);
  job.printCounter = PrintCounter();

  bool deleted = false;
  for (size_t i = setJobsBefore; i < setJobs_.size(); ++i) {
    deleted =
        deleted || (setJobs_[i].jobId == plan.jobId && setJobs_[i].command == JOB_CONTROL_DELETE);
  }
  if (outOfTime_) {
    job.outcome = JobOutcome::Waiting;
    if (plan.expect.outcome != JobOutcome::Waiting) {
      report_.mismatches.push_back("the monitor was still waiting for the printer after " +
                                   std::to_string(options_.maxRunMs / 1000) +
                                   " s on the run's clock: the run was stopped");
    }
  } else if (!job.result.started) {
    job.outcome = JobOutcome::FailedStart;
  } else if (deleted) {
    job.outcome = JobOutcome::Deleted;
  } else if (job.result.writeFailed || job.result.bytesAccepted < job.totalBytes) {
    job.outcome = JobOutcome::Stopped;
  } else {
    job.outcome = JobOutcome::Printed;
  }

  Observed seen;
  seen.outcome = job.outcome;
  seen.boxes = job.boxes;
  seen.printCounter = job.printCounter;
  seen.alignmentPrints = job.alignmentPrints;
  seen.commands = job.commands;
  if (!plan.expect.settings.empty()) seen.settings = ReadSettings();
  Check(plan.expect, seen, &job.mismatches);
  listener_.JobFinished(Now(), job);
  return job;
}

void Run::TearDown() {
  host::OnDebugOutput(nullptr);
  host::SetAnswerer(nullptr);
  host::OnDialogChange(nullptr);
  host::OnSleep(nullptr);
  printer_.reset();
  sim::RemovePrinters();
  gRun = nullptr;
}

RunReport Run::Execute() {
  const auto realStart = std::chrono::steady_clock::now();
  report_.workFolder = work_;
  if (options_.answers) {
    script_ = *options_.answers;
    scriptSource_ = AnswerSource::Flag;
  } else if (!options_.answerAll) {
    script_ = scenario_.answers;
  }
  for (const JobPlan& job : scenario_.jobs) {
    report_.expectationsStated = report_.expectationsStated || !job.expect.Empty();
  }
  report_.expectationsStated = report_.expectationsStated || !scenario_.expect.Empty();

  SetUpHost();
  report_.logFile = (std::filesystem::path(logFolder_) / kLogFileName).string();
  SetUpPrinter();
  WriteStartingSettings();
  gRun = this;
  listener_.RunStarting(scenario_, options_, report_);

  // The spooler loads the monitor, initialises it with its registry root and opens the port.
  const BOOL attached = DllMain(host::MonitorModule(), DLL_PROCESS_ATTACH, nullptr);
  // A freshly loaded module starts with these; earlier runs in this process may have changed them.
  fShowUI = TRUE;
  fWarnedOnFailedStart = FALSE;
  Call("DllMain(DLL_PROCESS_ATTACH)", attached ? "TRUE" : "FALSE");
  std::u16string root = kRegistryRoot;
  real_ = InitializePrintMonitor(root.data());
  Call("InitializePrintMonitor(" + Quoted(root) + ")",
       real_ != nullptr ? "the monitor's table" : "NULL");

  if (real_ != nullptr) {
    wrapped_ = *real_;
    wrapped_.Monitor.pfnOpenPortEx = &Run::OpenPortEx;
    wrapped_.Monitor.pfnStartDocPort = &Run::StartDocPort;
    wrapped_.Monitor.pfnWritePort = &Run::WritePort;
    wrapped_.Monitor.pfnEndDocPort = &Run::EndDocPort;
    wrapped_.Monitor.pfnClosePort = &Run::ClosePort;
    spooler_ = std::make_unique<sim::Spooler>(&wrapped_);
    if (spooler_->OpenPort(ToUtf16(scenario_.printer.port), ToUtf16(scenario_.printer.name))) {
      for (const JobPlan& job : scenario_.jobs) {
        report_.jobs.push_back(RunJob(job));
        if (outOfTime_) break;
      }
      // Closing the port releases a job that was left waiting as well.
      spooler_->ClosePort();
    } else {
      report_.mismatches.push_back("the port could not be opened: no job was sent");
    }
    spooler_.reset();
  } else {
    report_.mismatches.push_back("InitializePrintMonitor gave no table: no job was sent");
  }
  Call("DllMain(DLL_PROCESS_DETACH)",
       DllMain(host::MonitorModule(), DLL_PROCESS_DETACH, nullptr) ? "TRUE" : "FALSE");
  Poll();

  for (const host::MessageBoxRecord& box : host::MessageBoxes()) {
    if (WasShown(box)) report_.boxes.push_back(box.textId);
  }
  Observed seen;
  seen.boxes = report_.boxes;
  seen.printCounter = PrintCounter();
  seen.alignmentPrints = alignmentPrints_;
  seen.commands = commands_;
  seen.settings = ReadSettings();
  Check(scenario_.expect, seen, &report_.mismatches);
  if (nextAnswer_ < script_.size() && !options_.answersMayRemain) {
    report_.mismatches.push_back(std::to_string(script_.size() - nextAnswer_) +
                                 " scripted answer(s) left over: fewer boxes were asked than the "
                                 "answers expect");
  }

  for (const auto& [label, path] :
       {std::pair<std::string, std::string>{"printer settings", PrinterSettingsPath()},
        std::pair<std::string, std::string>{"model settings", ModelSettingsPath()}}) {
    SettingsFile file;
    file.label = label;
    file.path = path;
    file.text = ReadWholeFile(path, &file.exists);
    report_.settings.push_back(file);
  }
  report_.elapsedMs = Now();
  report_.realSeconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - realStart).count();
  TearDown();
  listener_.RunFinished(report_);
  return report_;
}

}  // namespace

const char* AnswerSourceName(AnswerSource source) {
  switch (source) {
    case AnswerSource::Scenario:
      return "from the scenario";
    case AnswerSource::Flag:
      return "from --answers";
    case AnswerSource::AnswerAll:
      return "from --answer-all";
    case AnswerSource::ThenAnswer:
      return "the scenario's then_answer";
    case AnswerSource::Unanswered:
      return "no answer left: as a box nobody clicks";
    case AnswerSource::User:
      return "your answer";
    case AnswerSource::Guard:
      return "the run's question limit";
    case AnswerSource::Owner:
      return "shown in the job owner's session";
  }
  return "";
}

std::vector<int> ButtonsOf(UINT type) {
  switch (type & MB_TYPEMASK) {
    case MB_OKCANCEL:
      return {IDOK, IDCANCEL};
    case MB_YESNOCANCEL:
      return {IDYES, IDNO, IDCANCEL};
    case MB_YESNO:
      return {IDYES, IDNO};
    case 0x5:  // MB_RETRYCANCEL
      return {IDRETRY, IDCANCEL};
    default:
      return {IDOK};
  }
}

bool RunReport::Ok() const {
  if (!mismatches.empty() || guardTripped) return false;
  for (const JobReport& job : jobs) {
    if (!job.mismatches.empty()) return false;
  }
  return true;
}

std::vector<BYTE> JobBytes(const JobPlan& job) {
  if (job.file.empty()) return sim::MakeJobData(job.labels, job.bytesPerLabel, job.jobId);
  std::ifstream in(job.file, std::ios::binary);
  return std::vector<BYTE>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

RunReport RunScenario(const Scenario& scenario, const RunOptions& options,
                      const std::string& workFolder, RunListener& listener) {
  Run run(scenario, options, workFolder, listener);
  return run.Execute();
}

std::string MakeWorkFolder() {
  const char* base = std::getenv("TMPDIR");
  std::string pattern =
      std::string(base != nullptr && *base != '\0' ? base : "/tmp") + "/langmon-sim-XXXXXX";
  std::vector<char> buffer(pattern.begin(), pattern.end());
  buffer.push_back('\0');
  const char* made = mkdtemp(buffer.data());
  return made != nullptr ? std::string(made) : std::string();
}

}  // namespace langmon_sim
