// langmon: a CUPS backend that runs the label monitor's pre-job check in front of CUPS's own
// backend for the real device. Device URI: langmon:socket://HOST:9100/?snmp=false or
// langmon:usb://...
//
//   langmon                                      lists the device kind (cups-deviced)
//   langmon job user title copies options [file]  prints a job, as cupsd runs a backend
//
// Three processes: this one starts the inner backend (as cupsd would: usb as root), then the
// job, which runs as lp once root is given up and talks to the child through descriptors only;
// this one then waits for both and ends a child that outlives its bound. Root reads nothing the
// printer sends and uses no path below a folder lp can write.
#include <cups/backend.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "tools/langmon-cups/device_uri.h"
#include "tools/langmon-cups/hosted_job.h"
#include "tools/langmon-cups/inner_backend.h"
#include "tools/langmon-cups/privileges.h"
#include "tools/langmon-cups/settings_folder.h"
#include "tools/langmon-cups/status_lines.h"

namespace {

using namespace langmon_cups;

// Once the job has ended, the child has had its time (kInnerEndMs): this is for its last exit.
constexpr unsigned kChildLastMs = 2000;

// cupsd gives the queue's name in PRINTER (and as argv[0]); run by hand argv[0] is the
// program's path.
bool QueueName(const char* argv0, std::string* queue) {
  const char* printer = std::getenv("PRINTER");
  *queue = printer != nullptr && *printer != 0 ? printer : argv0;
  return ValidQueueName(*queue);
}

// Waits for the job's process; a cancel (SIGTERM, blocked here) is passed on to it and to the
// child, should cupsd have signalled this process alone. Returns the job's exit status.
int WaitForJob(pid_t job, pid_t child, bool* cancelled) {
  sigset_t term;
  sigemptyset(&term);
  sigaddset(&term, SIGTERM);
  const timespec step = {0, 20 * 1000 * 1000};
  while (true) {
    int status = 0;
    const pid_t done = waitpid(job, &status, WNOHANG);
    if (done == job) {
      return WIFEXITED(status) ? WEXITSTATUS(status) : CUPS_BACKEND_FAILED;
    }
    if (done < 0 && errno != EINTR) return CUPS_BACKEND_FAILED;
    if (sigtimedwait(&term, nullptr, &step) == SIGTERM) {
      *cancelled = true;
      kill(job, SIGTERM);
      if (child > 0) kill(child, SIGTERM);
    }
  }
}

}  // namespace

int main(int argc, char* argv[]) {
  if (argc == 1) {
    std::puts("network langmon \"Unknown\" \"Label printer checked before every job\"");
    return CUPS_BACKEND_OK;
  }
  if (argc < 6 || argc > 7) {
    std::fprintf(stderr, "Usage: %s job-id user title copies options [file]\n", argv[0]);
    return CUPS_BACKEND_FAILED;
  }

  // cupsd cancels a job with SIGTERM: it is awaited, never handled inside the monitor's code.
  // A child gone away is seen by the write, not by a signal.
  sigset_t term;
  sigemptyset(&term);
  sigaddset(&term, SIGTERM);
  pthread_sigmask(SIG_BLOCK, &term, nullptr);
  signal(SIGPIPE, SIG_IGN);

  const char* uri = cupsBackendDeviceURI(argv);
  JobRequest request;
  std::string why;
  if (uri == nullptr || !ParseDeviceUri(uri, &request.device, &why)) {
    SendLine("ERROR: " + (uri == nullptr ? std::string("no device URI: set DEVICE_URI=langmon:"
                                                       "socket://HOST:9100/?snmp=false")
                                         : why));
    return CUPS_BACKEND_STOP;
  }
  std::string queue;
  if (!QueueName(argv[0], &queue)) {
    SendLine("ERROR: no queue name: set PRINTER to the queue's name (cupsd does)");
    return CUPS_BACKEND_STOP;
  }
  request.arguments = {queue, argv[1], argv[2], argv[3], argv[5]};
  request.copies = std::atoi(argv[4]);
  if (argc == 7) request.printFile = argv[6];
  request.stateFolder = StateFolder();

  const bool root = geteuid() == 0;
  RunAs account{geteuid(), getegid()};
  if (root && (!UnprivilegedAccount(&account, &why) ||
               !PrepareStateFolder(request.stateFolder, account, &why))) {
    SendLine("ERROR: " + why);
    return CUPS_BACKEND_STOP;
  }

  InnerProcess inner;
  if (!StartInner(request.device, request.arguments, account, &inner, &why)) {
    SendLine("ERROR: " + request.device.scheme + " backend: " + why);
    return CUPS_BACKEND_STOP;
  }

  const pid_t job = fork();
  if (job == 0) {
    if (root && !DropPrivileges(account, &why)) {
      SendLine("ERROR: " + why);
      _exit(CUPS_BACKEND_FAILED);
    }
    umask(077);
    std::exit(RunHostedJob(request, &inner));
  }
  // The job's descriptors are the job process's alone: the child sees its input end with it.
  ReleaseInner(&inner);
  if (job < 0) {
    SendLine("ERROR: fork: cannot start the job");
    bool outlived = false;
    ReapInner(&inner, 0, &outlived);
    return CUPS_BACKEND_FAILED;
  }
  bool cancelled = false;
  int status = WaitForJob(job, inner.pid, &cancelled);
  bool outlived = false;
  const int childStatus = ReapInner(&inner, cancelled ? 0 : kChildLastMs, &outlived);
  if (outlived && !cancelled) {
    // It had the whole job (else the job's status says what went wrong): the job is not
    // failed for a child that waited on the printer too long.
    SendLine("ERROR: The " + request.device.scheme + " backend had not ended " +
             std::to_string(kInnerEndMs / 1000) + " s after the job's last byte; it was stopped.");
    return status;
  }
  if (cancelled) return CUPS_BACKEND_OK;
  if (status == CUPS_BACKEND_OK && !outlived && childStatus != 0) {
    status = childStatus < 128 ? childStatus : CUPS_BACKEND_FAILED;
  }
  return status;
}
