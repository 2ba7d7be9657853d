// langmon: a CUPS backend that runs the label monitor's pre-job check in front of CUPS's own
// backend for the real device. Device URI: langmon:socket://HOST:9100/?snmp=false or
// langmon:usb://...
//
//   langmon                                      lists the device kind (cups-deviced)
//   langmon job user title copies options [file]  prints a job, as cupsd runs a backend
#include <cups/backend.h>
#include <signal.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "tools/langmon-cups/device_uri.h"
#include "tools/langmon-cups/hosted_job.h"
#include "tools/langmon-cups/settings_folder.h"
#include "tools/langmon-cups/status_lines.h"

int main(int argc, char* argv[]) {
  using namespace langmon_cups;
  if (argc == 1) {
    std::puts("network langmon \"Unknown\" \"Label printer checked before every job\"");
    return CUPS_BACKEND_OK;
  }
  if (argc < 6 || argc > 7) {
    std::fprintf(stderr, "Usage: %s job-id user title copies options [file]\n", argv[0]);
    return CUPS_BACKEND_FAILED;
  }

  // cupsd cancels a job with SIGTERM: it is awaited on a thread of the job's, never handled
  // inside the monitor's code. A child gone away is seen by the write, not by a signal.
  sigset_t term;
  sigemptyset(&term);
  sigaddset(&term, SIGTERM);
  pthread_sigmask(SIG_BLOCK, &term, nullptr);
  signal(SIGPIPE, SIG_IGN);

  const char* uri = cupsBackendDeviceURI(argv);
  JobRequest request;
  std::string why;
  if (uri == nullptr || !ParseDeviceUri(uri, &request.device, &why)) {
    SendLine("ERROR: " + (uri == nullptr ? std::string("no device URI") : why));
    return CUPS_BACKEND_STOP;
  }
  request.arguments = {argv[0], argv[1], argv[2], argv[3], argv[5]};
  if (const char* printer = std::getenv("PRINTER"); printer != nullptr && *printer != 0) {
    request.arguments.printer = printer;
  }
  request.copies = std::atoi(argv[4]);
  if (argc == 7) request.printFile = argv[6];
  request.stateFolder = StateFolder();
  return RunHostedJob(request);
}
