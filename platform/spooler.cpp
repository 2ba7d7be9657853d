// The spooler's printer functions over the host's printers.
#include <cstring>
#include <vector>

#include "platform/host.h"
#include "platform/host_state.h"

using platform_impl::ObjectKind;

namespace {

struct SpoolerState {
  std::mutex mutex;
  std::vector<host::Printer> printers;
  std::vector<host::SetJobRecord> setJobCalls;
};

SpoolerState& State() {
  static SpoolerState* state = new SpoolerState;
  return *state;
}

// An open printer, with the printer as it was when it was opened.
struct PrinterHandle : platform_impl::KernelObject {
  explicit PrinterHandle(host::Printer p)
      : KernelObject(ObjectKind::kPrinter), opened(std::move(p)) {}
  const host::Printer opened;
};

// The printer of a handle as the host describes it now: a later AddPrinter of the same name
// changes what an open handle reports; a removed printer keeps answering as it was opened.
bool CurrentPrinter(HANDLE hPrinter, host::Printer& printer) {
  auto handle = platform_impl::FindObject<PrinterHandle>(hPrinter, ObjectKind::kPrinter);
  if (!handle) return false;
  printer = handle->opened;
  SpoolerState& state = State();
  std::lock_guard<std::mutex> lock(state.mutex);
  for (const host::Printer& candidate : state.printers) {
    if (platform_impl::EqualNoCase(candidate.name, handle->opened.name)) printer = candidate;
  }
  return true;
}

// The checks of GetPrinterW and GetPrinterDriverW before their answer: a printer handle, level
// 2 and a place for the size needed. Sets the last error when one fails.
bool StartLevelTwoQuery(HANDLE hPrinter, DWORD level, LPDWORD pcbNeeded, host::Printer& printer) {
  if (!CurrentPrinter(hPrinter, printer)) {
    SetLastError(ERROR_INVALID_HANDLE);
  } else if (level != 2) {
    SetLastError(ERROR_INVALID_LEVEL);
  } else if (!pcbNeeded) {
    SetLastError(ERROR_INVALID_PARAMETER);
  } else {
    return true;
  }
  return false;
}

// Lays out the strings a structure points to right behind it in the caller's buffer. Without a
// buffer it only counts the bytes needed.
class Packer {
 public:
  Packer(LPBYTE buffer, size_t structureSize) : buffer_(buffer), size_(structureSize) {}
  LPWSTR Add(std::u16string_view text) {
    const size_t offset = size_;
    size_ += (text.size() + 1) * sizeof(WCHAR);
    if (!buffer_) return nullptr;
    std::memcpy(buffer_ + offset, text.data(), text.size() * sizeof(WCHAR));
    std::memset(buffer_ + offset + text.size() * sizeof(WCHAR), 0, sizeof(WCHAR));
    return reinterpret_cast<LPWSTR>(buffer_ + offset);
  }
  size_t Size() const { return size_; }

 private:
  LPBYTE buffer_;
  size_t size_;
};

// The Windows buffer protocol: the size needed always goes to *pcbNeeded; a NULL or short buffer
// fails with ERROR_INSUFFICIENT_BUFFER. `fill` sets the structure's members through a Packer.
template <class Structure, class Fill>
BOOL Answer(LPBYTE buffer, DWORD cbBuf, LPDWORD pcbNeeded, Fill fill) {
  Packer counter(nullptr, sizeof(Structure));
  Structure structure{};
  fill(counter, structure);
  const DWORD needed = static_cast<DWORD>(counter.Size());
  *pcbNeeded = needed;
  if (!buffer || cbBuf < needed) {
    SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return FALSE;
  }
  Packer packer(buffer, sizeof(Structure));
  structure = Structure{};
  fill(packer, structure);
  std::memcpy(buffer, &structure, sizeof(structure));  // the caller's buffer may be unaligned
  return TRUE;
}

}  // namespace

BOOL WINAPI OpenPrinterW(LPWSTR pPrinterName, LPHANDLE phPrinter, LPPRINTER_DEFAULTSW pDefault) {
  (void)pDefault;
  if (!phPrinter) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  *phPrinter = nullptr;
  const std::u16string_view name = platform_impl::WideView(pPrinterName);
  std::shared_ptr<PrinterHandle> handle;
  {
    SpoolerState& state = State();
    std::lock_guard<std::mutex> lock(state.mutex);
    for (const host::Printer& printer : state.printers) {
      if (!name.empty() && platform_impl::EqualNoCase(printer.name, name) && printer.openSucceeds) {
        handle = std::make_shared<PrinterHandle>(printer);
        break;
      }
    }
  }
  if (!handle) {
    SetLastError(ERROR_INVALID_PRINTER_NAME);
    return FALSE;
  }
  *phPrinter = platform_impl::AddHandle(std::move(handle));
  return TRUE;
}

BOOL WINAPI ClosePrinter(HANDLE hPrinter) {
  if (!platform_impl::RemoveHandle(hPrinter, {ObjectKind::kPrinter})) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  return TRUE;
}

// Level 2 only. Besides the name: no server, empty share, port, driver, comment, location,
// separator file and parameters, print processor "winprint", data type "RAW", no device mode.
BOOL WINAPI GetPrinterW(HANDLE hPrinter, DWORD Level, LPBYTE pPrinter, DWORD cbBuf,
                        LPDWORD pcbNeeded) {
  host::Printer printer;
  if (!StartLevelTwoQuery(hPrinter, Level, pcbNeeded, printer)) return FALSE;
  const std::u16string& name = printer.reportedName.empty() ? printer.name : printer.reportedName;
  return Answer<PRINTER_INFO_2W>(pPrinter, cbBuf, pcbNeeded,
                                 [&name](Packer& packer, PRINTER_INFO_2W& info) {
                                   info.pPrinterName = packer.Add(name);
                                   info.pShareName = packer.Add(u"");
                                   info.pPortName = packer.Add(u"");
                                   info.pDriverName = packer.Add(u"");
                                   info.pComment = packer.Add(u"");
                                   info.pLocation = packer.Add(u"");
                                   info.pSepFile = packer.Add(u"");
                                   info.pPrintProcessor = packer.Add(u"winprint");
                                   info.pDatatype = packer.Add(u"RAW");
                                   info.pParameters = packer.Add(u"");
                                   info.Attributes = 0x00000040;  // PRINTER_ATTRIBUTE_LOCAL
                                   info.Priority = 1;
                                   info.DefaultPriority = 1;
                                 });
}

// Level 2 only: version 3, the printer's name as the driver's, the environment asked for
// ("Windows x64" by default), the host's driver path, empty data and configuration files.
BOOL WINAPI GetPrinterDriverW(HANDLE hPrinter, LPWSTR pEnvironment, DWORD Level, LPBYTE pDriverInfo,
                              DWORD cbBuf, LPDWORD pcbNeeded) {
  host::Printer printer;
  if (!StartLevelTwoQuery(hPrinter, Level, pcbNeeded, printer)) return FALSE;
  const std::u16string environment =
      pEnvironment && *pEnvironment ? std::u16string(pEnvironment) : u"Windows x64";
  return Answer<DRIVER_INFO_2W>(pDriverInfo, cbBuf, pcbNeeded,
                                [&](Packer& packer, DRIVER_INFO_2W& info) {
                                  info.cVersion = 3;
                                  info.pName = packer.Add(printer.name);
                                  info.pEnvironment = packer.Add(environment);
                                  info.pDriverPath = packer.Add(printer.driverPath);
                                  info.pDataFile = packer.Add(u"");
                                  info.pConfigFile = packer.Add(u"");
                                });
}

// Every call is recorded. A printer whose setJobSucceeds is false fails with
// ERROR_INVALID_PARAMETER, as for a job the spooler no longer has.
BOOL WINAPI SetJobW(HANDLE hPrinter, DWORD JobId, DWORD Level, LPBYTE pJob, DWORD Command) {
  (void)pJob;
  host::SetJobRecord record;
  record.jobId = JobId;
  record.level = Level;
  record.command = Command;
  DWORD error = ERROR_SUCCESS;
  host::Printer printer;
  if (!CurrentPrinter(hPrinter, printer)) {
    error = ERROR_INVALID_HANDLE;
  } else {
    record.printerName = printer.name;
    if (!printer.setJobSucceeds) error = ERROR_INVALID_PARAMETER;
  }
  record.result = error == ERROR_SUCCESS ? TRUE : FALSE;
  {
    SpoolerState& state = State();
    std::lock_guard<std::mutex> lock(state.mutex);
    state.setJobCalls.push_back(record);
  }
  if (error != ERROR_SUCCESS) SetLastError(error);
  return record.result;
}

namespace platform_impl {

// Open printer handles stay valid, on the printers they were opened on.
void ResetSpooler() {
  SpoolerState& state = State();
  std::lock_guard<std::mutex> lock(state.mutex);
  state.printers.clear();
  state.setJobCalls.clear();
}

}  // namespace platform_impl

namespace host {

// A printer of the same name (without regard to case) is replaced.
void AddPrinter(const Printer& printer) {
  SpoolerState& state = State();
  std::lock_guard<std::mutex> lock(state.mutex);
  for (Printer& existing : state.printers) {
    if (platform_impl::EqualNoCase(existing.name, printer.name)) {
      existing = printer;
      return;
    }
  }
  state.printers.push_back(printer);
}

void RemovePrinters() {
  SpoolerState& state = State();
  std::lock_guard<std::mutex> lock(state.mutex);
  state.printers.clear();
}

std::vector<SetJobRecord> SetJobCalls() {
  SpoolerState& state = State();
  std::lock_guard<std::mutex> lock(state.mutex);
  return state.setJobCalls;
}

void ClearSetJobCalls() {
  SpoolerState& state = State();
  std::lock_guard<std::mutex> lock(state.mutex);
  state.setJobCalls.clear();
}

long OpenPrinterHandles() { return platform_impl::CountHandles(ObjectKind::kPrinter); }

}  // namespace host
