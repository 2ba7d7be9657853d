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

  // One printer on its own port, and what it has received so far.
  struct Station {
    const PrinterPlan* plan = nullptr;
    bool quiet = false;
    const SettingsValues* settings = nullptr;
    std::shared_ptr<sim::SimPrinter> printer;
    std::unique_ptr<sim::Spooler> spooler;
    size_t seenCommands = 0, seenPrints = 0;
    std::vector<sim::Command> commands;
    unsigned alignmentPrints = 0;
  };

  void SetUpHost();
  void SetUpPrinters();
  void WriteStartingSettings();
  std::string PrinterSettingsPath(const Station& station) const;
  std::string ModelSettingsPath(const Station& station) const;
  std::map<std::string, std::map<std::string, std::string>> ReadSettings() const;
  int PrintCounter(const Station& station) const;
  Station& StationOf(const JobPlan& job);
  void Poll();
  int AnswerBox(const host::MessageBoxRecord& box);
  JobReport RunJob(size_t index, std::optional<JobReport>* startedDuring);
  void TearDown();

  const Scenario& scenario_;
  const RunOptions& options_;
  const std::string work_;
  RunListener& listener_;

  std::string logFolder_, settingsFolder_, driverFolder_;
  std::vector<Station> stations_;  // the scenario's printer first
  Station* current_ = nullptr;     // the printer of the job being sent
  LPMONITOREX real_ = nullptr;
  MONITOREX wrapped_{};
  DWORD start_ = 0;
  DWORD lastPoll_ = 0;
  unsigned writeCalls_ = 0;
  bool outOfTime_ = false;

  // Script.
  std::vector<Answer> script_;
  AnswerSource scriptSource_ = AnswerSource::Scenario;
  size_t nextAnswer_ = 0;

  // What has been reported so far.
  size_t seenSetJobs_ = 0, seenBoxes_ = 0;
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

void Run::SetUpPrinters() {
  stations_.clear();
  stations_.resize(scenario_.secondPrinter ? 2 : 1);
  stations_[0].plan = &scenario_.printer;
  stations_[0].quiet = scenario_.quiet;
  stations_[0].settings = &scenario_.settings;
  if (scenario_.secondPrinter) {
    stations_[1].plan = &scenario_.secondPrinter->printer;
    stations_[1].quiet = scenario_.secondPrinter->quiet;
    stations_[1].settings = &scenario_.secondPrinter->settings;
  }
  sim::RemovePrinters();
  if (stations_[0].plan->alignmentFiles) sim::WriteAlignmentFiles(driverFolder_);
  for (Station& station : stations_) {
    const PrinterPlan& plan = *station.plan;
    station.printer = sim::AddPrinter(ToUtf16(plan.port));
    sim::SimPrinter& printer = *station.printer;
    printer.SetStatus(plan.status);
    printer.SetReadMode(plan.readMode);
    printer.SetWriteMode(plan.writeMode);
    printer.SetSpitsPerByte(plan.spitsYellow, plan.spitsMagenta, plan.spitsCyan);
    printer.SetRecordPeriod(plan.recordPeriodMs);
    printer.SetReadDelay(plan.readDelayMs);
    printer.FailOpens(plan.failOpen);
    printer.FailStartDocs(plan.failStart);
    printer.QueueCartridges(plan.cartridges);
    printer.QueueAlignmentResults(plan.alignmentResults);
    for (const sim::Trigger& trigger : plan.changes) printer.AddTrigger(trigger);

    host::Printer spooled;
    spooled.name = ToUtf16(plan.name);
    spooled.driverPath = sim::DriverPathIn(driverFolder_);
    spooled.openSucceeds = plan.spoolerOpens;
    host::AddPrinter(spooled);
    // The printer's installation made its settings folder.
    std::filesystem::create_directories(
        std::filesystem::path(PrinterSettingsPath(station)).parent_path());
  }
  current_ = &stations_[0];
}

std::string Run::PrinterSettingsPath(const Station& station) const {
  const std::string& name = station.plan->name;
  return (std::filesystem::path(settingsFolder_) / "VMT" / "Drivers" / name / (name + ".ini"))
      .string();
}

std::string Run::ModelSettingsPath(const Station& station) const {
  return (std::filesystem::path(PrinterSettingsPath(station)).parent_path() / kModelSettingsFile)
      .string();
}

void Run::WriteStartingSettings() {
  const auto write = [](const std::string& path, const std::string& key, const std::string& value) {
    const std::u16string file = ToUtf16(path);
    const std::u16string name = ToUtf16(key);
    const std::u16string text = ToUtf16(value);
    WritePrivateProfileStringW(u"settings", name.c_str(), text.c_str(), file.c_str());
  };
  for (const Station& station : stations_) {
    if (station.quiet) write(ModelSettingsPath(station), "SHOW_UI", "0");
    for (const auto& [file, keys] : *station.settings) {
      const std::string path =
          file == kModelSettings ? ModelSettingsPath(station) : PrinterSettingsPath(station);
      for (const auto& [key, value] : keys) write(path, key, value);
    }
  }
}

// The first printer's: what the run's expectations hold settings against.
std::map<std::string, std::map<std::string, std::string>> Run::ReadSettings() const {
  const Station& first = stations_.front();
  return {{kPrinterSettings, IniSection(ReadWholeFile(PrinterSettingsPath(first)), "settings")},
          {kModelSettings, IniSection(ReadWholeFile(ModelSettingsPath(first)), "settings")}};
}

int Run::PrintCounter(const Station& station) const {
  std::string value;
  if (!FindIniValue(IniSection(ReadWholeFile(PrinterSettingsPath(station)), "settings"),
                    "PrintCounter", &value)) {
    return 0;
  }
  return std::atoi(value.c_str());
}

Run::Station& Run::StationOf(const JobPlan& job) {
  for (Station& station : stations_) {
    if (station.plan->name == job.printer) return station;
  }
  return stations_.front();
}

// Reports what reached the printer and what the spooler was told since the last look.
void Run::Poll() {
  lastPoll_ = host::Ticks();
  if (stations_.empty() || !stations_.front().printer) return;
  std::vector<std::pair<DWORD, PrinterEvent>> arrived;  // by the printers' clock
  for (Station& station : stations_) {
    sim::SimPrinter& printer = *station.printer;
    const std::vector<sim::AlignmentPrint> prints = printer.AlignmentPrints();
    const std::vector<sim::Command> commands = printer.Commands();
    for (; station.seenPrints < prints.size(); ++station.seenPrints) {
      PrinterEvent event;
      event.kind = PrinterEventKind::AlignmentPrint;
      event.family = prints[station.seenPrints].family;
      event.bytes = prints[station.seenPrints].bytes;
      ++station.alignmentPrints;
      ++alignmentPrints_;
      arrived.emplace_back(prints[station.seenPrints].ticks - start_, event);
    }
    if (station.seenCommands < commands.size()) {
      // The printer's record says when each command came; only looked up when one is new.
      std::vector<DWORD> commandTicks;
      for (const sim::Event& event : printer.Events()) {
        if (event.kind == sim::EventKind::Write && event.dataKind == sim::DataKind::Command &&
            event.result && event.accepted == event.bytes.size()) {
          commandTicks.push_back(event.ticks - start_);
        }
      }
      for (; station.seenCommands < commands.size(); ++station.seenCommands) {
        PrinterEvent event;
        event.command = commands[station.seenCommands];
        station.commands.push_back(event.command);
        arrived.emplace_back(
            station.seenCommands < commandTicks.size() ? commandTicks[station.seenCommands] : Now(),
            event);
      }
    }
  }
  std::stable_sort(arrived.begin(), arrived.end(),
                   [](const auto& a, const auto& b) { return a.first < b.first; });
  for (const auto& [ms, event] : arrived) {
    if (event.kind == PrinterEventKind::Command) commands_.push_back(event.command);
    listener_.PrinterReceived(ms, event);
  }

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
    current_->printer->Apply(*scripted->printer);
    note += std::string(note.empty() ? "" : "; ") + "the printer changed first";
  }
  listener_.Answered(Now(), question, answer, source, note);
  return answer;
}

JobReport Run::RunJob(size_t index, std::optional<JobReport>* startedDuring) {
  const JobPlan& plan = scenario_.jobs[index];
  Station& station = StationOf(plan);
  Station* const previous = current_;
  current_ = &station;
  JobReport job;
  job.plan = &plan;
  sim::Job request;
  request.printerName = ToUtf16(station.plan->name);
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
  const size_t commandsBefore = station.commands.size();
  const unsigned printsBefore = station.alignmentPrints;
  const size_t setJobsBefore = setJobs_.size();
  const size_t dataBefore = station.printer->JobData().size();
  writeCalls_ = 0;

  // The next job, when it starts during this one: sent on the other printer once this job's
  // first write went through, and its boxes are its own.
  const bool nextStartsDuring = startedDuring != nullptr && index + 1 < scenario_.jobs.size() &&
                                scenario_.jobs[index + 1].startsDuringPrevious;
  size_t nestedFrom = 0, nestedTo = 0;
  const auto sendNext = [&] {
    nestedFrom = host::MessageBoxes().size();
    const unsigned writes = writeCalls_;
    startedDuring->emplace(RunJob(index + 1, nullptr));
    writeCalls_ = writes;
    nestedTo = host::MessageBoxes().size();
    current_ = &station;
  };

  listener_.JobStarting(plan, job.totalBytes);
  try {
    job.result = station.spooler->Print(request, [&](DWORD accepted) {
      listener_.Progress(accepted, job.totalBytes);
      if (nextStartsDuring && !startedDuring->has_value()) {
        sendNext();
        if (outOfTime_) throw RunOutOfTime{};
        listener_.JobGoesOn(plan);
      }
    });
  } catch (const RunOutOfTime&) {
    job.result.started = true;
  }
  Poll();
  if (nextStartsDuring && !startedDuring->has_value() && !outOfTime_) {
    sendNext();  // this job never got that far: the next one follows it
  }

  const std::vector<host::MessageBoxRecord> boxes = host::MessageBoxes();
  for (size_t i = boxesBefore; i < boxes.size(); ++i) {
    if (i >= nestedFrom && i < nestedTo) continue;
    if (WasShown(boxes[i])) job.boxes.push_back(boxes[i].textId);
  }
  job.commands.assign(station.commands.begin() + static_cast<long>(commandsBefore),
                      station.commands.end());
  job.alignmentPrints = station.alignmentPrints - printsBefore;
  job.bytesReceived = static_cast<DWORD>(station.printer->JobData().size() - dataBefore);
  job.printCounter = PrintCounter(station);

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
  current_ = previous;
  return job;
}

void Run::TearDown() {
  host::OnDebugOutput(nullptr);
  host::SetAnswerer(nullptr);
  host::OnDialogChange(nullptr);
  host::OnSleep(nullptr);
  stations_.clear();
  current_ = nullptr;
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
  SetUpPrinters();
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
    bool opened = true;
    for (Station& station : stations_) {
      station.spooler = std::make_unique<sim::Spooler>(&wrapped_);
      opened = opened &&
               station.spooler->OpenPort(ToUtf16(station.plan->port), ToUtf16(station.plan->name));
    }
    if (opened) {
      for (size_t i = 0; i < scenario_.jobs.size(); ++i) {
        if (scenario_.jobs[i].startsDuringPrevious && i > 0)
          continue;  // sent during the one before
        std::optional<JobReport> startedDuring;
        report_.jobs.push_back(RunJob(i, &startedDuring));
        if (startedDuring) report_.jobs.push_back(*startedDuring);
        if (outOfTime_) break;
      }
    } else {
      report_.mismatches.push_back("the port could not be opened: no job was sent");
    }
    // Closing a port releases a job that was left waiting as well.
    for (Station& station : stations_) {
      if (station.spooler && station.spooler->PortHandle() != nullptr) station.spooler->ClosePort();
      station.spooler.reset();
    }
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
  seen.printCounter = PrintCounter(stations_.front());
  seen.alignmentPrints = alignmentPrints_;
  seen.commands = commands_;
  seen.settings = ReadSettings();
  Check(scenario_.expect, seen, &report_.mismatches);
  if (nextAnswer_ < script_.size() && !options_.answersMayRemain) {
    report_.mismatches.push_back(std::to_string(script_.size() - nextAnswer_) +
                                 " scripted answer(s) left over: fewer boxes were asked than the "
                                 "answers expect");
  }

  for (const Station& station : stations_) {
    const std::string of = stations_.size() > 1 ? " of " + station.plan->name : "";
    for (const auto& [label, path] :
         {std::pair<std::string, std::string>{"printer settings" + of,
                                              PrinterSettingsPath(station)},
          std::pair<std::string, std::string>{"model settings" + of, ModelSettingsPath(station)}}) {
      SettingsFile file;
      file.label = label;
      file.path = path;
      file.text = ReadWholeFile(path, &file.exists);
      report_.settings.push_back(file);
    }
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
