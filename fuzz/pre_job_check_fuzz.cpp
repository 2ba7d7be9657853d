// The whole pre-job check, driven by fuzzed printer states, settings and answers: every status
// read, every write of a command or alignment print, every answer to a question and the settings
// files take their values from the input. Once the input is spent nobody answers, and the printer
// goes on reporting its last state with its errors cleared: someone at the printer ends the waits
// that only the printer can end (stock loaded, a condition cleared, the printer switched on).
//
// Properties: the check ends; a check that fails deletes the job and nothing of the held write
// reaches the printer; one that passes sends the write whole; quiet mode shows nothing; nothing
// is left allocated, open or on screen.
#include <fcntl.h>
#include <unistd.h>

#include <cstring>
#include <string>

#include "fuzz/fuzz_host.h"
#include "sim/driver_files.h"
#include "sim/spooler.h"

namespace {

constexpr DWORD kJobId = 11;
// Far beyond any run that ends: port-monitor calls and questions together.
constexpr unsigned kMostSteps = 200000;

FuzzedDataProvider* gInput = nullptr;
StatusRecord gLastRecord{};
BYTE gRecordNumber = 0;
unsigned gSteps = 0;
const BYTE* gJobData = nullptr;
DWORD gJobDataSize = 0;
std::vector<DWORD> gJobDataWrites;

void Step() {
  if (++gSteps > kMostSteps) {
    langmon_fuzz::Fail("the check does not end", __FILE__, __LINE__);
  }
}

BOOL WINAPI FuzzWritePort(HANDLE, LPBYTE buffer, DWORD cbBuf, LPDWORD pcbWritten) {
  Step();
  if (buffer >= gJobData && buffer < gJobData + gJobDataSize) {
    gJobDataWrites.push_back(cbBuf);
    *pcbWritten = cbBuf;
    return TRUE;
  }
  // A command or a piece of an alignment print: taken, refused or taken in part.
  const uint8_t outcome = gInput->remaining_bytes() != 0 ? gInput->ConsumeIntegral<uint8_t>() : 0;
  if (outcome >= 0xF0) {
    SetLastError(ERROR_WRITE_FAULT);
    return FALSE;
  }
  *pcbWritten = outcome >= 0xE0 ? gInput->ConsumeIntegralInRange<DWORD>(0, cbBuf) : cbBuf;
  return TRUE;
}

BOOL WINAPI FuzzReadPort(HANDLE, LPBYTE buffer, DWORD cbBuffer, LPDWORD pcbRead) {
  Step();
  FuzzedDataProvider& input = *gInput;
  uint8_t step = 0x01;
  if (input.remaining_bytes() != 0) {
    step = input.ConsumeIntegral<uint8_t>();
  } else {
    // Once the input is spent: the same state without errors, in a fresh and well-formed record.
    gLastRecord.bErrorFlags = 0;
    gLastRecord.bStartChar = kStatusStartChar;
    gLastRecord.bEndChar = kStatusEndChar;
    gLastRecord.bNumMesgBytes = 114;
    gLastRecord.bBusyChar = 'R';
  }
  Sleep((step >> 4) * 100);
  switch (step & 0x03) {
    case 0:
      SetLastError(ERROR_READ_FAULT);
      return FALSE;
    case 1:
      gLastRecord.bRecordNumber = ++gRecordNumber;
      break;
    case 2:
      break;  // the very same record again
    default:
      gLastRecord =
          langmon_fuzz::RecordFromInput(input, (step & 0x04) ? ++gRecordNumber : gRecordNumber);
      break;
  }
  if ((step & 0x03) == 1) {
    gLastRecord.bChecksum = StatusChecksum(gLastRecord);
  }
  const DWORD count = cbBuffer < kStatusRecordSize ? cbBuffer : kStatusRecordSize;
  std::memcpy(buffer, &gLastRecord, count);
  *pcbRead = count;
  return TRUE;
}

MONITOR FuzzPortMonitor() { return langmon_fuzz::PortMonitorWith(FuzzWritePort, FuzzReadPort); }

int AnswerFromInput(const host::MessageBoxRecord&) {
  Step();
  if (gInput->remaining_bytes() == 0) {
    return 0;
  }
  static constexpr int kAnswers[] = {0, IDOK, IDCANCEL, IDYES, IDNO, IDRETRY, IDOK, IDYES};
  return kAnswers[gInput->ConsumeIntegral<uint8_t>() & 0x07];
}

// A settings file with each of its keys present or not, as the input says; written in one go,
// without a stream's buffer.
void WriteSettings(FuzzedDataProvider& input, const std::string& path,
                   std::initializer_list<const char*> keys) {
  std::string text = "[settings]\n";
  for (const char* key : keys) {
    if (input.ConsumeBool()) {
      text += key;
      text += '=';
      text += std::to_string(input.ConsumeIntegralInRange<int>(-2, 40000));
      text += '\n';
    }
  }
  const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
  const bool written =
      fd >= 0 && write(fd, text.data(), text.size()) == static_cast<ssize_t>(text.size());
  if (fd < 0 || close(fd) != 0 || !written) {
    langmon_fuzz::Fail("a settings file cannot be written", __FILE__, __LINE__);
  }
}

const std::filesystem::path& DriverFolder() {
  static const std::filesystem::path folder = [] {
    const std::filesystem::path driver = langmon_fuzz::ScratchFolder() / "driver";
    sim::WriteAlignmentFiles(driver.string(), 64);
    return driver;
  }();
  return folder;
}

// The common application data folder, and the printer's settings folder in it: made once, and
// the monitor never removes them.
const std::filesystem::path& AppDataFolder() {
  static const std::filesystem::path folder = langmon_fuzz::ScratchFolder() / "appdata";
  return folder;
}

const std::filesystem::path& SettingsFolder() {
  static const std::filesystem::path folder = [] {
    const std::filesystem::path settings = AppDataFolder() / "VMT" / "Drivers" / "Label A";
    std::filesystem::create_directories(settings);
    return settings;
  }();
  return folder;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* bytes, size_t size) {
  langmon_fuzz::StartRun();
  FuzzedDataProvider input(bytes, size);
  gInput = &input;
  gSteps = 0;
  gRecordNumber = 0;
  gLastRecord = langmon_fuzz::RecordFromInput(input, 0);
  gJobDataWrites.clear();

  static const std::string appData = AppDataFolder().string();
  static const std::string printerIni = (SettingsFolder() / "Label A.ini").string();
  static const std::string modelIni = (SettingsFolder() / "VM_lp250.ini").string();
  static const std::u16string driverPath = sim::DriverPathIn(DriverFolder().string());
  host::SetCommonAppDataFolder(appData);
  host::Printer printer;
  printer.name = u"Label A";
  printer.driverPath = driverPath;
  host::AddPrinter(printer);
  WriteSettings(input, printerIni,
                {"WarnLevelColor", "WarnLevelBlack", "AlignWarningRequired", "PrintCounter"});
  WriteSettings(input, modelIni,
                {"ColorSpits", "BlackSpits", "PigBlackSpits", "BypassAlignWarning", "SHOW_UI"});
  host::SetAnswerer(AnswerFromInput);
  const langmon_fuzz::LeakCheck leaks;

  MONITOR portMonitor = FuzzPortMonitor();
  std::u16string portName = u"USB001";
  std::u16string printerName = u"Label A";
  std::u16string documentName = u"Labels";
  HANDLE port = nullptr;
  FUZZ_CHECK(PJLMonOpenPortEx(portName.data(), printerName.data(), &port, &portMonitor));
  DOC_INFO_1W docInfo = {documentName.data(), nullptr, nullptr};
  FUZZ_CHECK(
      PJLMonStartDocPort(port, printerName.data(), kJobId, 1, reinterpret_cast<LPBYTE>(&docInfo)));
  const bool quiet = !fShowUI;

  // The preamble goes first and unchecked; the label after it begins with a job header.
  std::vector<BYTE> job(sim::kJobPreamble, sim::kJobPreamble + sim::kJobPreambleSize);
  const std::vector<BYTE> header = sim::JobHeaderCommand();
  job.insert(job.end(), header.begin(), header.end());
  job.insert(job.end(), 64, 'L');
  gJobData = job.data();
  gJobDataSize = static_cast<DWORD>(job.size());
  DWORD written = 0;
  FUZZ_CHECK(PJLWritePort(port, job.data(), sim::kJobPreambleSize, &written));
  const DWORD labelSize = gJobDataSize - sim::kJobPreambleSize;
  const BOOL passed = PJLWritePort(port, job.data() + sim::kJobPreambleSize, labelSize, &written);

  const std::vector<host::SetJobRecord> calls = host::SetJobCalls();
  if (passed) {
    FUZZ_CHECK(gJobDataWrites == (std::vector<DWORD>{sim::kJobPreambleSize, labelSize}));
    FUZZ_CHECK(calls.empty());
  } else {
    FUZZ_CHECK(gJobDataWrites == std::vector<DWORD>{sim::kJobPreambleSize});
    FUZZ_CHECK(calls.size() == 1 && calls[0].command == JOB_CONTROL_DELETE &&
               calls[0].jobId == kJobId);
  }
  if (quiet) {
    FUZZ_CHECK(host::MessageBoxes().empty());
  }

  FUZZ_CHECK(PJLMonEndDocPort(port));
  FUZZ_CHECK(PJLMonClosePort(port));
  host::SetAnswerer(nullptr);
  leaks.Check();
  gInput = nullptr;
  gJobData = nullptr;
  langmon_fuzz::EndRun();
  return 0;
}
