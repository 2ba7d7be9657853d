// The stand-in spooler: drives the monitor's MONITOREX or MONITOR2 table through whole jobs the way
// the print spooler does — open the port with the port monitor's table, start the document, offer
// the job data in writes and offer again whatever was not written, end the document, close the
// port — and asks it bidi questions through MONITOR2.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "platform/win32.h"

namespace sim {

// What a printer driver sends before the first label: a printer reset and the model's name.
constexpr char kJobPreamble[] = "\x1B@LABELS1 job\r\n";
constexpr DWORD kJobPreambleSize = sizeof(kJobPreamble) - 1;

struct Job {
  std::u16string printerName = u"Label A";
  DWORD jobId = 1;
  std::u16string documentName = u"Labels";
  std::vector<BYTE> data;
  // Sizes of successive offers, used in turn, the last one for the rest of the job; empty offers
  // everything at once. By default the driver's preamble goes out on its own (the first write of
  // a job is never checked) and the labels follow in a spooler's 4 KiB buffers.
  std::vector<DWORD> offerSizes = {kJobPreambleSize, 4096};
};

struct JobResult {
  BOOL started = FALSE;
  DWORD startError = 0;
  BOOL writeFailed = FALSE;  // a write was refused: the spooler stops sending the job
  DWORD writeError = 0;
  DWORD bytesAccepted = 0;
  unsigned writeCalls = 0;
  BOOL ended = FALSE;
};

class Spooler {
 public:
  // The table InitializePrintMonitor returned; ports open over the simulated printers' MONITOR.
  explicit Spooler(LPMONITOREX monitor);
  // The table InitializePrintMonitor2 returned and the monitor handle it gave; ports open over the
  // simulated printers' MONITOR2 form, with or without its own bidi entry.
  Spooler(LPMONITOR2 monitor, HANDLE hMonitor, bool portMonitorBidi = true);
  ~Spooler();
  Spooler(const Spooler&) = delete;
  Spooler& operator=(const Spooler&) = delete;

  // Opens the port through the monitor, over the simulated printers' port monitor.
  BOOL OpenPort(const std::u16string& portName, const std::u16string& printerName);
  BOOL ClosePort();
  HANDLE PortHandle() const { return port_; }

  // One whole job: start, writes, end. `progress` sees the bytes accepted so far after each
  // write.
  JobResult Print(const Job& job, const std::function<void(DWORD accepted)>& progress = {});

  // The vendor status query: the printer's newest raw back-channel bytes.
  BOOL QueryStatus(std::vector<BYTE>* bytes, DWORD cbOut = 512);

  // A bidi call through MONITOR2 (ERROR_NOT_SUPPORTED through MONITOREX): one request per
  // schema, in a container of version 1. A caller numbers its requests as it likes: these are
  // numbered from `firstNumber` on, not by their place. The answer is the caller's to free.
  static constexpr DWORD kFirstBidiRequest = 41;
  DWORD Bidi(const std::u16string& action, const std::vector<std::u16string>& schemas,
             PBIDI_RESPONSE_CONTAINER* responses, DWORD firstNumber = kFirstBidiRequest);

 private:
  LPMONITOREX monitor_ = nullptr;
  LPMONITOR2 monitor2_ = nullptr;
  HANDLE hMonitor_ = nullptr;
  bool portMonitorBidi_ = true;
  MONITOR entries_{};  // the port entries, which have one shape in both tables
  HANDLE port_ = nullptr;
};

// Job data as a printer driver produces it for `labels` labels: the preamble, then a job header
// in front of each label's data, with escape sequences inside the data as real print data has.
std::vector<BYTE> MakeJobData(unsigned labels, size_t bytesPerLabel, unsigned seed = 1);

// The job-header command that starts each label's data.
std::vector<BYTE> JobHeaderCommand();

}  // namespace sim
