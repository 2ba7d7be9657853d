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
#include "printer/status.h"
#include "resources/resource_ids.h"
#include "tools/langmon-cups/back_channel.h"
#include "tools/langmon-cups/child_channels.h"
#include "tools/langmon-cups/ink_markers.h"
#include "tools/langmon-cups/job_writer.h"
#include "tools/langmon-cups/port_monitor.h"
#include "tools/langmon-cups/printer_state.h"
#include "tools/langmon-cups/queue_identity.h"
#include "tools/langmon-cups/settings_folder.h"
#include "tools/langmon-cups/side_channel.h"
#include "tools/langmon-cups/status_lines.h"

namespace langmon_cups {

namespace {

// The driver the stand-in spooler reports for the queue: the monitor looks for the alignment
// print files beside it, in the queue's folder.
constexpr char kDriverFile[] = "LABELDRV.DLL";
// Once the job is cancelled, or the printer gone, every wait of the monitor is over at its next
// look at the clock.
constexpr DWORD kEndedWaitJumpMs = 600000;
// How long a cancelled job's own ending (the monitor's cancel path) may take before the
// process ends without it.
constexpr auto kCancelGrace = std::chrono::seconds(5);
// A child gone while the job was still going may have been ended by the job's cancel, whose
// signal reaches us too: that long is given to tell the two apart.
constexpr auto kCancelOrDrop = std::chrono::milliseconds(300);
constexpr size_t kReadChunk = 65536;
// A printer that sends no status record for this long while the check waits on it (the
// monitor's own limit for a first record) has gone: the job is given back to CUPS.
constexpr auto kSilentLimit = std::chrono::seconds(120);
constexpr char kDroppedMessage[] =
    "The printer closed the connection. Check that it is on and connected; the job is tried "
    "again later.";

std::u16string Wide(const std::string& text) {
  std::u16string wide;
  for (const unsigned char c : text) wide.push_back(c);
  return wide;
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

// The monitor's log lines are details: CUPS's debug log. What a person needs is the printer's
// state.
void RelayLogLine(const std::string& line) {
  std::string text = line;
  while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.pop_back();
  SendLine("DEBUG: " + text);
}

Cartridge CartridgeOf(const std::vector<uint8_t>& bytes) {
  if (bytes.size() != sizeof(StatusRecord)) return Cartridge::Unknown;
  StatusRecord record;
  std::memcpy(&record, bytes.data(), sizeof(record));
  if (StatusChecksum(record) != record.bChecksum) return Cartridge::Unknown;
  switch (CartState(record)) {
    case CART_STATE_MISSING:
      return Cartridge::Missing;
    case CART_STATE_INVALID:
      return Cartridge::Invalid;
    default:
      return Cartridge::Installed;
  }
}

class Job {
 public:
  Job(const JobRequest& request, InnerProcess* inner)
      : request_(request), inner_(inner), state_(Environment("PRINTER_STATE_REASONS")) {}
  int Run();

 private:
  static std::string Environment(const char* name) {
    const char* value = std::getenv(name);
    return value != nullptr ? value : "";
  }
  bool SetUpHost(std::string* why);
  void WatchForCancel();
  int Answer(const host::MessageBoxRecord& box);
  void ReportPrinter();
  bool PrinterGone();
  bool GoneNotCancelled();
  bool SendCopies(int* exitStatus);
  bool Offer(const uint8_t* data, size_t size, bool more, size_t* taken, int* exitStatus);

  const JobRequest& request_;
  InnerProcess* inner_;
  PrinterState state_;
  std::string queueFolder_;
  BackChannel backChannel_;
  ChildChannels* channels_ = nullptr;
  Port port_;
  LPMONITOR2 monitor_ = nullptr;
  HANDLE hMonitor_ = nullptr;
  HANDLE hPort_ = nullptr;
  unsigned questionsInWrite_ = 0;
  unsigned readsReported_ = 0;
  std::atomic<bool> cancelled_{false};
  std::atomic<bool> finished_{false};
  std::chrono::steady_clock::time_point lastStatus_ = std::chrono::steady_clock::now();
  bool stoppedByCheck_ = false;
  bool offline_ = false;  // the printer did not answer or dropped the connection
  bool inBidi_ = false;
};

bool Job::SetUpHost(std::string* why) {
  const std::string& queue = request_.arguments.printer;
  queueFolder_ = QueueFolder(request_.stateFolder, queue);
  if (!MakeQueueFolder(queueFolder_, why)) return false;
  const std::string uuid = AskQueueUuid(queue);
  const std::string aside = ClaimQueueFolder(queueFolder_, uuid);
  if (!aside.empty()) {
    SendLine("WARNING: The queue " + queue + " was made anew: its counters start anew; the " +
             "settings of the queue that had its name before are kept in " + aside + ".");
  } else if (uuid.empty()) {
    SendLine("DEBUG: langmon: cupsd did not tell the queue's printer-uuid");
  }

  host::Reset();
  host::UseRealClock();
  host::RecordDebugOutput(false);
  host::SetCommonAppDataFolder(request_.stateFolder);
  host::SetTempFolder(queueFolder_);
  host::Printer printer;
  printer.name = Wide(queue);
  printer.driverPath = Wide(WindowsPath(queueFolder_ + "/" + kDriverFile));
  host::AddPrinter(printer);
  host::OnDebugOutput([](const std::string& line) { RelayLogLine(line); });
  host::SetAnswerer([this](const host::MessageBoxRecord& box) { return Answer(box); });
  host::OnDialogChange([](const host::DialogRecord&) {});
  host::OnSleep([this](DWORD) {
    if (cancelled_ || PrinterGone()) host::AdvanceClock(kEndedWaitJumpMs);
  });
  return true;
}

// The child's channels closed while the job still needed it: the printer dropped the connection
// (or the child was ended by the job's cancel, which the watcher tells).
bool Job::PrinterGone() { return channels_ != nullptr && channels_->Ended() && !finished_; }

// The child going may be the cancel's doing: its signal reaches us too.
bool Job::GoneNotCancelled() {
  if (!PrinterGone()) return false;
  const auto until = std::chrono::steady_clock::now() + kCancelOrDrop;
  while (!cancelled_ && std::chrono::steady_clock::now() < until) {
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return !cancelled_;
}

// Nobody to ask: quiet mode's answer, 0, and the question becomes the printer's state. A job
// being cancelled presses Cancel where the box has it. A printer that gave no status within the
// monitor's own limit (its first status read waits two minutes) is not waited for again: the
// job is given back to CUPS to try later, and the queue goes on.
int Job::Answer(const host::MessageBoxRecord& box) {
  ++questionsInWrite_;
  ReportPrinter();
  SendLine("DEBUG: langmon: the monitor asks (" + std::to_string(box.textId) + ")");
  if (box.textId == IDS_NO_STATUS || box.textId == IDS_NO_COMMUNICATION) {
    if (!cancelled_) {
      offline_ = true;
      state_.Offline(PrinterGone() ? kDroppedMessage : MessageOfQuestion(box.textId));
    }
    return HasCancelButton(box.type) ? IDCANCEL : 0;
  }
  if (!cancelled_ &&
      (GoneNotCancelled() || std::chrono::steady_clock::now() - lastStatus_ > kSilentLimit)) {
    // A wait on a printer that is gone (the connection closed, or silent past the limit).
    offline_ = true;
    state_.Offline(kDroppedMessage);
    port_.cancelled = true;
    backChannel_.Cancel();
    if (HasCancelButton(box.type)) return IDCANCEL;
    // A wait without a Cancel (the empty cartridge's) only the printer ends: the job ends here.
    state_.JobEnded(false, false);
    SendLine("DEBUG: langmon: the printer is gone during a wait that only it can end; stopped");
    _exit(CUPS_BACKEND_RETRY);
  }
  state_.Asked(box.textId);
  if (cancelled_ && HasCancelButton(box.type)) return IDCANCEL;
  return 0;
}

void Job::ReportPrinter() {
  if (inBidi_ || hPort_ == nullptr || port_.counts.statusReads == readsReported_) return;
  inBidi_ = true;
  readsReported_ = port_.counts.statusReads;
  lastStatus_ = std::chrono::steady_clock::now();
  state_.PrinterAnswered();
  state_.CartridgeSeen(CartridgeOf(port_.lastRecord));
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
    SendLine("DEBUG: langmon: job cancelled");
    const auto until = std::chrono::steady_clock::now() + kCancelGrace;
    while (!finished_ && std::chrono::steady_clock::now() < until) {
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    if (!finished_) {
      // A wait that only the printer can end has no answer to end it: the process ends without
      // it. The child is our parent's to end.
      SendLine("DEBUG: langmon: the monitor's wait did not end; stopped");
      _exit(CUPS_BACKEND_OK);
    }
    return;
  }
}

bool Job::Offer(const uint8_t* data, size_t size, bool more, size_t* taken, int* exitStatus) {
  const Offered offered = OfferJobData(*monitor_, hPort_, data, size, more, [this](BOOL ok) {
    ReportPrinter();
    if (ok && questionsInWrite_ > 0) state_.CheckPassed();
    questionsInWrite_ = 0;
  });
  *taken = offered.taken;
  if (offered.end == WriteEnd::Done) return true;
  const DWORD error = GetLastError();
  if (!cancelled_ && !offline_ && GoneNotCancelled()) {
    offline_ = true;
    state_.Offline(kDroppedMessage);
  }
  if (cancelled_) {
    *exitStatus = CUPS_BACKEND_OK;
  } else if (offline_) {
    *exitStatus = CUPS_BACKEND_RETRY;
  } else if (error == ERROR_PRINT_CANCELLED) {
    stoppedByCheck_ = true;
    *exitStatus = CUPS_BACKEND_CANCEL;
  } else {
    *exitStatus = CUPS_BACKEND_FAILED;
  }
  return false;
}

bool Job::SendCopies(int* exitStatus) {
  int input = STDIN_FILENO;
  if (!request_.printFile.empty()) {
    input = open(request_.printFile.c_str(), O_RDONLY | O_CLOEXEC);
    if (input < 0) {
      SendLine("ERROR: " + request_.printFile + ": " + std::strerror(errno));
      *exitStatus = CUPS_BACKEND_FAILED;
      return false;
    }
  }
  // The monitor never scans a job's first write: one that stands for it goes first, so that a
  // job that begins with its header is checked like every later one.
  port_.swallowNextWrite = true;
  BYTE firstWrite[1] = {0};
  DWORD written = 0;
  if (!monitor_->pfnWritePort(hPort_, firstWrite, sizeof(firstWrite), &written)) {
    if (input != STDIN_FILENO) close(input);
    *exitStatus = CUPS_BACKEND_FAILED;
    return false;
  }
  port_.swallowNextWrite = false;

  const int copies = request_.printFile.empty() ? 1 : std::max(1, request_.copies);
  std::vector<uint8_t> pending;  // what the monitor left of the last offer
  std::vector<uint8_t> chunk(kReadChunk);
  bool ok = true;
  for (int copy = 0; ok && copy < copies; ++copy) {
    if (copy > 0 && lseek(input, 0, SEEK_SET) != 0) {
      SendLine("ERROR: " + request_.printFile + ": " + std::strerror(errno) + " (copy " +
               std::to_string(copy + 1) + ")");
      *exitStatus = CUPS_BACKEND_FAILED;
      ok = false;
      break;
    }
    while (ok) {
      const ssize_t got = read(input, chunk.data(), chunk.size());
      if (got < 0 && errno == EINTR) continue;
      if (got <= 0) break;
      pending.insert(pending.end(), chunk.begin(), chunk.begin() + got);
      // A filter's output comes in reads as short as its writes, and the monitor does not scan
      // a short write: a header alone in one would go out unchecked. Reads gather until they
      // make a write the monitor scans, or the job ends.
      if (pending.size() < kCarriedRest) continue;
      size_t taken = 0;
      ok = Offer(pending.data(), pending.size(), true, &taken, exitStatus);
      pending.erase(pending.begin(), pending.begin() + static_cast<std::ptrdiff_t>(taken));
    }
  }
  if (ok && !pending.empty()) {
    size_t taken = 0;
    ok = Offer(pending.data(), pending.size(), false, &taken, exitStatus);
  }
  if (input != STDIN_FILENO) close(input);
  return ok;
}

int Job::Run() {
  std::string why;
  if (!SetUpHost(&why)) {
    SendLine("ERROR: " + why);
    ReleaseInner(inner_);
    return CUPS_BACKEND_STOP;
  }
  ChildChannels channels(inner_->backChannelFd, inner_->stderrFd, &backChannel_);
  channels_ = &channels;
  channels.Start();
  port_.dataFd = inner_->dataFd;
  port_.backChannel = &backChannel_;
  port_.channels = &channels;
  AttachPort(&port_);

  int relayWake[2] = {-1, -1};
  std::thread relay;
  struct stat sideInfo {};
  if (fstat(4, &sideInfo) == 0 && S_ISSOCK(sideInfo.st_mode) && pipe2(relayWake, O_CLOEXEC) == 0) {
    relay =
        std::thread([this, &relayWake] { RelaySideChannel(inner_->sideChannelFd, relayWake[0]); });
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
    state_.JobStarted();
    if (!monitor_->pfnStartDocPort(hPort_, printerName.data(),
                                   static_cast<DWORD>(std::atoi(request_.arguments.jobId.c_str())),
                                   1, reinterpret_cast<LPBYTE>(&docInfo))) {
      SendLine("ERROR: the job could not be started at the printer");
      exitStatus = offline_ ? CUPS_BACKEND_RETRY : CUPS_BACKEND_FAILED;
    } else {
      SendCopies(&exitStatus);
      monitor_->pfnEndDocPort(hPort_);
    }
  }
  if (opened) monitor_->pfnClosePort(hPort_);
  if (monitor_ != nullptr && monitor_->pfnShutdown != nullptr) monitor_->pfnShutdown(hMonitor_);

  // The whole job is out: the child sends what it holds and ends, within a bound.
  CloseInnerData(inner_);
  port_.dataFd = -1;
  const auto endBound = std::chrono::steady_clock::now() +
                        std::chrono::milliseconds(cancelled_ ? kInnerEndCancelledMs : kInnerEndMs);
  while (!channels.Ended() && std::chrono::steady_clock::now() < endBound) {
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  const bool childEnded = channels.Ended();
  finished_ = true;
  state_.JobEnded(cancelled_, stoppedByCheck_);
  const auto elapsed = std::chrono::duration_cast<std::chrono::milliseconds>(
                           std::chrono::steady_clock::now() - started)
                           .count();
  SendLine("DEBUG: langmon: " + std::to_string(port_.counts.reads) + " status reads (" +
           std::to_string(port_.counts.statusReads) + " with data, " +
           std::to_string(backChannel_.Dropped()) + " older bytes dropped), " +
           std::to_string(port_.counts.bytesWritten) + " bytes to the " + request_.device.scheme +
           " backend, " + std::to_string(elapsed) + " ms");
  if (cancelled_) exitStatus = CUPS_BACKEND_OK;
  if (!childEnded) {
    // Its channels are still open under the pump thread: the process ends here, and the parent
    // ends the child.
    _exit(exitStatus);
  }
  kill(getpid(), SIGTERM);  // wakes the watcher, which sees the job finished
  watcher.join();
  channels.Join();
  if (relay.joinable()) {
    (void)!write(relayWake[1], "x", 1);
    relay.join();
  }
  for (int fd : relayWake) {
    if (fd >= 0) close(fd);
  }
  AttachPort(nullptr);
  channels_ = nullptr;
  ReleaseInner(inner_);
  return exitStatus;
}

}  // namespace

int RunHostedJob(const JobRequest& request, InnerProcess* inner) {
  Job job(request, inner);
  return job.Run();
}

}  // namespace langmon_cups
