#include "sim/spooler.h"

#include <random>

#include "sim/sim_printer.h"

namespace sim {

namespace {

// A spooler gives up on a write that makes no progress after this many offers.
constexpr unsigned kMaxIdleOffers = 100;

// WCHAR is char16_t over the stand-ins and wchar_t, also 16 bits, in the Windows test host.
LPWSTR Wide(std::u16string& text) { return reinterpret_cast<LPWSTR>(text.data()); }

}  // namespace

Spooler::Spooler(LPMONITOREX monitor) : monitor_(monitor), entries_(monitor->Monitor) {}

Spooler::Spooler(LPMONITOR2 monitor, HANDLE hMonitor, bool portMonitorBidi)
    : monitor2_(monitor), hMonitor_(hMonitor), portMonitorBidi_(portMonitorBidi) {
  entries_.pfnStartDocPort = monitor->pfnStartDocPort;
  entries_.pfnWritePort = monitor->pfnWritePort;
  entries_.pfnReadPort = monitor->pfnReadPort;
  entries_.pfnEndDocPort = monitor->pfnEndDocPort;
  entries_.pfnClosePort = monitor->pfnClosePort;
  entries_.pfnGetPrinterDataFromPort = monitor->pfnGetPrinterDataFromPort;
}

Spooler::~Spooler() {
  if (port_ != nullptr) {
    ClosePort();
  }
}

BOOL Spooler::OpenPort(const std::u16string& portName, const std::u16string& printerName) {
  std::u16string port = portName;
  std::u16string printer = printerName;
  HANDLE handle = nullptr;
  BOOL opened = FALSE;
  if (monitor2_ != nullptr) {
    MONITOR2 portMonitor = PortMonitor2(portMonitorBidi_);
    opened = monitor2_->pfnOpenPortEx(hMonitor_, PortMonitorHandle(), Wide(port), Wide(printer),
                                      &handle, &portMonitor);
  } else {
    MONITOR portMonitor = PortMonitor();
    opened = monitor_->Monitor.pfnOpenPortEx(Wide(port), Wide(printer), &handle, &portMonitor);
  }
  if (opened) {
    port_ = handle;
  }
  return opened;
}

BOOL Spooler::ClosePort() {
  const BOOL closed = entries_.pfnClosePort(port_);
  port_ = nullptr;
  return closed;
}

JobResult Spooler::Print(const Job& job, const std::function<void(DWORD accepted)>& progress) {
  JobResult result;
  std::u16string printerName = job.printerName;
  std::u16string documentName = job.documentName;
  DOC_INFO_1W docInfo = {Wide(documentName), nullptr, nullptr};
  SetLastError(0);
  result.started = entries_.pfnStartDocPort(port_, Wide(printerName), job.jobId, 1,
                                            reinterpret_cast<LPBYTE>(&docInfo));
  if (!result.started) {
    result.startError = GetLastError();
    return result;
  }

  std::vector<BYTE> data = job.data;
  const DWORD total = static_cast<DWORD>(data.size());
  size_t nextOffer = 0;
  unsigned idleOffers = 0;
  while (result.bytesAccepted < total) {
    DWORD offer = total - result.bytesAccepted;
    if (!job.offerSizes.empty()) {
      const DWORD size = job.offerSizes[nextOffer];
      nextOffer = nextOffer + 1 < job.offerSizes.size() ? nextOffer + 1 : nextOffer;
      offer = size < offer && size > 0 ? size : offer;
    }
    DWORD written = 0;
    ++result.writeCalls;
    if (!entries_.pfnWritePort(port_, data.data() + result.bytesAccepted, offer, &written)) {
      result.writeFailed = TRUE;
      result.writeError = GetLastError();
      break;
    }
    written = written < offer ? written : offer;
    result.bytesAccepted += written;
    if (progress) {
      progress(result.bytesAccepted);
    }
    idleOffers = written == 0 ? idleOffers + 1 : 0;
    if (idleOffers >= kMaxIdleOffers) {
      result.writeFailed = TRUE;
      break;
    }
  }

  result.ended = entries_.pfnEndDocPort(port_);
  return result;
}

BOOL Spooler::QueryStatus(std::vector<BYTE>* bytes, DWORD cbOut) {
  std::vector<BYTE> out(cbOut);
  DWORD returned = 0;
  std::u16string name = u"VELMORA";
  const BOOL ok = entries_.pfnGetPrinterDataFromPort(
      port_, 0, Wide(name), nullptr, 0, reinterpret_cast<LPWSTR>(out.data()), cbOut, &returned);
  if (ok && bytes != nullptr) {
    out.resize(returned < cbOut ? returned : cbOut);
    *bytes = out;
  }
  return ok;
}

DWORD Spooler::Bidi(const std::u16string& action, const std::vector<std::u16string>& schemas,
                    PBIDI_RESPONSE_CONTAINER* responses, DWORD firstNumber) {
  if (monitor2_ == nullptr || schemas.empty()) {
    return ERROR_NOT_SUPPORTED;
  }
  std::vector<std::u16string> texts = schemas;
  std::u16string actionText = action;
  // The container holds one request inline; the others follow it.
  std::vector<BYTE> storage(sizeof(BIDI_REQUEST_CONTAINER) +
                            (schemas.size() - 1) * sizeof(BIDI_REQUEST_DATA));
  auto* requests = reinterpret_cast<PBIDI_REQUEST_CONTAINER>(storage.data());
  requests->Version = 1;
  requests->Count = static_cast<DWORD>(schemas.size());
  for (DWORD i = 0; i < requests->Count; ++i) {
    requests->aData[i].dwReqNumber = firstNumber + i;
    requests->aData[i].pSchema = Wide(texts[i]);
    requests->aData[i].data.dwBidiType = BIDI_NULL;
  }
  return monitor2_->pfnSendRecvBidiDataFromPort(port_, BIDI_ACCESS_USER, Wide(actionText), requests,
                                                responses);
}

std::vector<BYTE> JobHeaderCommand() {
  std::vector<BYTE> header(36, 0x00);
  header[0] = 0x1B;
  header[1] = 0x2A;
  header[2] = 0x12;
  header[3] = 0x1C;
  // Label geometry and copies in the free bytes; the monitor does not look at them.
  for (size_t i = 4; i < 32; ++i) {
    header[i] = static_cast<BYTE>(0x20 + i);
  }
  header[32] = 0xA5;
  header[33] = 0x00;
  header[34] = 0x06;
  header[35] = 0x40;
  return header;
}

std::vector<BYTE> MakeJobData(unsigned labels, size_t bytesPerLabel, unsigned seed) {
  std::mt19937 random(seed);
  const std::vector<BYTE> header = JobHeaderCommand();
  std::vector<BYTE> data(kJobPreamble, kJobPreamble + kJobPreambleSize);
  data.reserve(kJobPreambleSize + labels * (header.size() + bytesPerLabel));
  for (unsigned label = 0; label < labels; ++label) {
    data.insert(data.end(), header.begin(), header.end());
    for (size_t i = 0; i < bytesPerLabel; ++i) {
      // Raster rows with an escape sequence now and then, none of them a job header.
      if (i % 97 == 0 && i + 3 < bytesPerLabel) {
        data.push_back(0x1B);
        data.push_back('*');
        data.push_back('b');
        i += 2;
        continue;
      }
      BYTE value = static_cast<BYTE>(random());
      data.push_back(value == 0x1B ? 0x1A : value);
    }
  }
  return data;
}

}  // namespace sim
