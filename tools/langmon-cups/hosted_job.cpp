#include "tools/langmon-cups/hosted_job.h"

#include <cups/backend.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <thread>
#include <vector>

#include "monitor/monitor.h"
#include "platform/host.h"
#include "tools/langmon-cups/back_channel.h"
#include "tools/langmon-cups/child_channels.h"
#include "tools/langmon-cups/ink_markers.h"
#include "tools/langmon-cups/job_writer.h"
#include "tools/langmon-cups/port_monitor.h"
#include "tools/langmon-cups/printer_state.h"
#include "tools/langmon-cups/settings_folder.h"
#include "tools/langmon-cups/side_channel.h"
#include "tools/langmon-cups/status_lines.h"

namespace langmon_cups {

namespace {

// The driver the stand-in spooler reports for the queue: the monitor looks for the alignment
// print files beside it, in the queue's folder.
constexpr char kDriverFile[] = "LABELDRV.DLL";
// Once the job is cancelled every wait of the monitor is over at its next look at the clock.
constexpr DWORD kCancelledWaitJumpMs = 600000;
// How long a cancelled job's own ending (the monitor's cancel path, the child's end) may take
// before the process ends without it.
constexpr auto kCancelGrace = std::chrono::seconds(5);
constexpr unsigned kChildGraceMs = 1000;
constexpr size_t kReadChunk = 65536;

std::u16string Wide(const std::string& text) {
  std::u16string wide;
  for (const unsigned char c : text) wide.push_back(c);
  return wide;
}

std::string Narrow(const std::u16string& text) {
  std::string narrow;
  for (const char16_t c : text) narrow.push_back(c < 0x80 ? static_cast<char>(c) : '?');
  return narrow;
}

std::string WindowsPath(std::string path) {
  for (char& c : path) {
    if (c == '/') c = '\\';
  }
  return path;
}

bool HasCancelButton(UINT type) {
  const UINT buttons = type & 0x0F;
  return buttons == MB_OKCANCEL || buttons == MB_YESNOCANCEL || buttons == MB_RETRYCANCEL;
}

// The monitor's log lines: ERROR and above reach CUPS's error log, the rest its debug log.
void RelayLogLine(const std::string& line, PrinterState* state) {
  std::string text = line;
  while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.pop_back();
  const bool error = text.find("[** ERROR **]") != std::string::npos ||
                     text.find("[*** FATAL ***]") != std::string::npos;
  SendLine((error ? "ERROR: " : "DEBUG: ") + text);
  // An ERROR line also becomes the printer's state message; the question stays the message.
  if (error) state->RepeatMessage();
}

class Job {
 public:
  explicit Job(const JobRequest& request)
      : request_(request), state_(Environment("PRINTER_STATE_REASONS")) {}
  int Run();

 private:
  static std::string Environment(const char* name) {
    const char* value = std::getenv(name);
    return value != nullptr ? value : "";
  }
  bool SetUpHost(std::string* why);
  void WatchForCancel();
  int Answer(const host::MessageBoxRecord& box);
  void ReportInks();
  bool SendCopies(int* exitStatus);
  int Finish(int exitStatus);

  const JobRequest& request_;
  PrinterState state_;
  std::string queueFolder_;
  InnerProcess inner_;
  BackChannel backChannel_;
  Port port_;
  LPMONITOR2 monitor_ = nullptr;
  HANDLE hMonitor_ = nullptr;
  HANDLE hPort_ = nullptr;
  unsigned questionsInWrite_ = 0;
  unsigned readsReported_ = 0;
  std::atomic<bool> cancelled_{false};
  std::atomic<bool> finished_{false};
  bool inBidi_ = false;
};

bool Job::SetUpHost(std::string* why) {
  const std::string& queue = request_.arguments.printer;
  queueFolder_ = QueueFolder(request_.stateFolder, queue);
  if (!MakeQueueFolder(queueFolder_, why)) return false;

  host::Reset();
  host::UseRealClock();
  host::RecordDebugOutput(false);
  host::SetCommonAppDataFolder(request_.stateFolder);
  host::SetTempFolder(queueFolder_);
  host::Printer printer;
  printer.name = Wide(queue);
  printer.driverPath = Wide(WindowsPath(queueFolder_ + "/" + kDriverFile));
  host::AddPrinter(printer);
  host::OnDebugOutput([this](const std::string& line) { RelayLogLine(line, &state_); });
  host::SetAnswerer([this](const host::MessageBoxRecord& box) { return Answer(box); });
  host::OnDialogChange([this](const host::DialogRecord& dialog) {
    if (dialog.alive && dialog.visible && !dialog.controlText.empty()) {
      state_.Notice(Narrow(dialog.controlText));
    }
  });
  host::OnSleep([this](DWORD) {
    if (cancelled_) host::AdvanceClock(kCancelledWaitJumpMs);
  });
  return true;
}

// Nobody to ask: quiet mode's answer, 0, and the question becomes the printer's state. A job
// being cancelled presses Cancel where the box has it.
int Job::Answer(const host::MessageBoxRecord& box) {
  ++questionsInWrite_;
  ReportInks();
  state_.Asked(box.textId, Narrow(box.text));
  if (cancelled_ && HasCancelButton(box.type)) return IDCANCEL;
  return 0;
}

void Job::ReportInks() {
  if (inBidi_ || hPort_ == nullptr || port_.counts.statusReads == readsReported_) return;
  inBidi_ = true;
  readsReported_ = port_.counts.statusReads;
  state_.Inks(AskInkLevels(*monitor_, hPort_));
  inBidi_ = false;
}

void Job::WatchForCancel() {
  sigset_t term;
  sigemptyset(&term);
  sigaddset(&term, SIGTERM);
  int signal = 0;
  while (sigwait(&term, &signal) == 0) {
    if (signal != SIGTERM) continue;
    if (finished_) return;
    cancelled_ = true;
    port_.cancelled = true;
    backChannel_.Cancel();
    SendLine("INFO: Job cancelled");
    const auto until = std::chrono::steady_clock::now() + kCancelGrace;
    while (!finished_ && std::chrono::steady_clock::now() < until) {
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    if (!finished_) {
      // A wait that only the printer can end (an empty cartridge it has not cleared) has no
      // answer to end it: the process ends without it.
      CloseInnerData(&inner_);
      WaitInner(&inner_, kChildGraceMs);
      SendLine("DEBUG: the monitor's wait did not end; stopped");
      _exit(CUPS_BACKEND_OK);
    }
    return;
  }
}

bool Job::SendCopies(int* exitStatus) {
  std::vector<uint8_t> data;
  int input = STDIN_FILENO;
  if (!request_.printFile.empty()) {
    input = open(request_.printFile.c_str(), O_RDONLY | O_CLOEXEC);
    if (input < 0) {
      SendLine("ERROR: " + request_.printFile + ": " + std::strerror(errno));
      *exitStatus = CUPS_BACKEND_FAILED;
      return false;
    }
  }
  const int copies = request_.printFile.empty() ? 1 : std::max(1, request_.copies);
  bool first = true;
  for (int copy = 0; copy < copies; ++copy) {
    if (copy > 0) lseek(input, 0, SEEK_SET);
    std::vector<uint8_t> chunk(kReadChunk);
    while (true) {
      const ssize_t got = read(input, chunk.data(), chunk.size());
      if (got < 0 && errno == EINTR) continue;
      if (got <= 0) break;
      const WriteEnd end = OfferJobData(*monitor_, hPort_, chunk.data(), static_cast<size_t>(got),
                                        first, [this](BOOL ok) {
                                          ReportInks();
                                          if (ok && questionsInWrite_ > 0) state_.CheckPassed();
                                          questionsInWrite_ = 0;
                                        });
      first = false;
      if (end != WriteEnd::Done) {
        const bool checkStopped = GetLastError() == ERROR_PRINT_CANCELLED && !cancelled_;
        if (input != STDIN_FILENO) close(input);
        *exitStatus = cancelled_     ? CUPS_BACKEND_OK
                      : checkStopped ? CUPS_BACKEND_CANCEL
                                     : CUPS_BACKEND_FAILED;
        if (checkStopped) SendLine("INFO: The printer's check stopped the job");
        return false;
      }
    }
  }
  if (input != STDIN_FILENO) close(input);
  return true;
}

int Job::Run() {
  std::string why;
  if (!SetUpHost(&why)) {
    SendLine("ERROR: " + why);
    return CUPS_BACKEND_STOP;
  }
  // The inner backend first: a socket connects while the monitor is loaded.
  if (!StartInner(request_.device, request_.arguments, &inner_, &why)) {
    SendLine("ERROR: " + request_.device.scheme + " backend: " + why);
    ReleaseInner(&inner_);
    return CUPS_BACKEND_STOP;
  }
  ChildChannels channels(inner_.backChannelFd, inner_.stderrFd, &backChannel_);
  channels.Start();
  port_.dataFd = inner_.dataFd;
  port_.backChannel = &backChannel_;
  port_.channels = &channels;
  AttachPort(&port_);

  int relayWake[2] = {-1, -1};
  std::thread relay;
  struct stat sideInfo {};
  if (fstat(4, &sideInfo) == 0 && S_ISSOCK(sideInfo.st_mode) && pipe2(relayWake, O_CLOEXEC) == 0) {
    relay = std::thread([&] { RelaySideChannel(inner_.sideChannelFd, relayWake[0]); });
  }
  std::thread watcher([this] { WatchForCancel(); });

  const auto started = std::chrono::steady_clock::now();
  DllMain(host::MonitorModule(), DLL_PROCESS_ATTACH, nullptr);
  MONITORINIT init = {sizeof(MONITORINIT), nullptr, nullptr, nullptr, TRUE, nullptr};
  monitor_ = InitializePrintMonitor2(&init, &hMonitor_);
  int exitStatus = CUPS_BACKEND_OK;
  MONITOR2 portMonitor = PortMonitorTable();
  std::u16string portName = Wide(request_.device.uri);
  std::u16string printerName = Wide(request_.arguments.printer);
  std::u16string documentName = Wide(request_.arguments.title);
  bool opened = false;
  if (monitor_ == nullptr ||
      !monitor_->pfnOpenPortEx(hMonitor_, PortMonitorHandle(), portName.data(), printerName.data(),
                               &hPort_, &portMonitor)) {
    SendLine("ERROR: the monitor could not open the port");
    exitStatus = CUPS_BACKEND_FAILED;
  } else {
    opened = true;
    DOC_INFO_1W docInfo = {documentName.data(), nullptr, nullptr};
    state_.ClearAll();
    if (!monitor_->pfnStartDocPort(hPort_, printerName.data(),
                                   static_cast<DWORD>(std::atoi(request_.arguments.jobId.c_str())),
                                   1, reinterpret_cast<LPBYTE>(&docInfo))) {
      SendLine("ERROR: the job could not be started at the printer");
      exitStatus = CUPS_BACKEND_FAILED;
    } else {
      SendCopies(&exitStatus);
      monitor_->pfnEndDocPort(hPort_);
    }
  }
  if (opened) monitor_->pfnClosePort(hPort_);
  if (monitor_ != nullptr && monitor_->pfnShutdown != nullptr) monitor_->pfnShutdown(hMonitor_);

  CloseInnerData(&inner_);
  const int childStatus = WaitInner(&inner_, cancelled_ ? kChildGraceMs : 0);
  channels.Join();
  state_.FinalMessage();
  const auto elapsed = std::chrono::duration_cast<std::chrono::milliseconds>(
                           std::chrono::steady_clock::now() - started)
                           .count();
  SendLine("DEBUG: langmon: " + std::to_string(port_.counts.reads) + " status reads (" +
           std::to_string(port_.counts.statusReads) + " with data, " +
           std::to_string(backChannel_.Dropped()) + " older bytes dropped), " +
           std::to_string(port_.counts.bytesWritten) + " bytes to the " + request_.device.scheme +
           " backend, " + std::to_string(elapsed) + " ms");
  if (exitStatus == CUPS_BACKEND_OK && !cancelled_ && childStatus != 0) {
    exitStatus = childStatus < 128 ? childStatus : CUPS_BACKEND_FAILED;
  }
  finished_ = true;
  kill(getpid(), SIGTERM);  // wakes the watcher, which sees the job finished
  watcher.join();
  if (relay.joinable()) {
    (void)!write(relayWake[1], "x", 1);
    relay.join();
  }
  for (int fd : relayWake) {
    if (fd >= 0) close(fd);
  }
  AttachPort(nullptr);
  ReleaseInner(&inner_);
  return exitStatus;
}

}  // namespace

int RunHostedJob(const JobRequest& request) {
  Job job(request);
  return job.Run();
}

}  // namespace langmon_cups
