// The spooler's side of the monitor: arbitrary sequences of the table entries on two ports, through
// MONITOREX or MONITOR2 as the input chooses, with arbitrary arguments (names, levels, document
// information, job ids, buffers and counts, value names, control codes, output sizes, bidi actions
// and request containers), over a port monitor whose every answer comes from the input. Handles
// are only used between their open and their close, as the spooler does.
//
// Properties: nothing crashes, hangs or leaks (bidi answers included); what the spooler is told
// was written is exactly what reached the printer, in order; a failed call never reports bytes it
// did not send; a bidi answer answers the requests it was asked, the port monitor gets only the
// spooler's own requests, and every block of a merged answer is the spooler's, freed once.
#include <cstddef>
#include <cstring>

#include "fuzz/fuzz_host.h"
#include "sim/sim_printer.h"
#include "sim/spooler.h"

namespace {

constexpr int kPorts = 2;
constexpr unsigned kMostSteps = 100000;

FuzzedDataProvider* gInput = nullptr;
unsigned gSteps = 0;
// Job data offered by the spooler, per port: the buffer of the write under way.
const BYTE* gOffered = nullptr;
DWORD gOfferedSize = 0;
std::vector<BYTE> gReceived[kPorts];  // job data each printer accepted
BYTE gRecordNumber = 0;

void Step() {
  if (++gSteps > kMostSteps) {
    langmon_fuzz::Fail("the calls do not end", __FILE__, __LINE__);
  }
}

int PortOf(HANDLE hPort) { return static_cast<int>(reinterpret_cast<uintptr_t>(hPort) - 0x100); }

uint8_t Decide() { return gInput->remaining_bytes() != 0 ? gInput->ConsumeIntegral<uint8_t>() : 0; }

int gOpening = 0;  // the port whose open is under way

BOOL WINAPI FuzzOpenPort(LPWSTR, PHANDLE pHandle) {
  Step();
  if (Decide() >= 0xF0) {
    SetLastError(ERROR_ACCESS_DENIED);
    return FALSE;
  }
  *pHandle = reinterpret_cast<HANDLE>(static_cast<uintptr_t>(0x100 + gOpening));
  return TRUE;
}

BOOL WINAPI FuzzBoolEntry(HANDLE) {
  Step();
  return Decide() < 0xF0;
}

BOOL WINAPI FuzzStartDocPort(HANDLE hPort, LPWSTR, DWORD, DWORD, LPBYTE) {
  return FuzzBoolEntry(hPort);
}

BOOL WINAPI FuzzSetPortTimeOuts(HANDLE hPort, LPCOMMTIMEOUTS, DWORD) {
  return FuzzBoolEntry(hPort);
}

BOOL WINAPI FuzzWritePort(HANDLE hPort, LPBYTE buffer, DWORD cbBuf, LPDWORD pcbWritten) {
  Step();
  const uint8_t outcome = Decide();
  if (outcome >= 0xF0) {
    SetLastError(ERROR_WRITE_FAULT);
    return FALSE;
  }
  DWORD accepted = cbBuf;
  if (outcome >= 0xD0) {
    accepted = gInput->ConsumeIntegralInRange<DWORD>(0, cbBuf);
  }
  if (gOffered != nullptr && buffer >= gOffered && buffer < gOffered + gOfferedSize) {
    FUZZ_CHECK(buffer + cbBuf <= gOffered + gOfferedSize);
    gReceived[PortOf(hPort)].insert(gReceived[PortOf(hPort)].end(), buffer, buffer + accepted);
  }
  *pcbWritten = accepted;
  return TRUE;
}

BOOL WINAPI FuzzReadPort(HANDLE, LPBYTE buffer, DWORD cbBuffer, LPDWORD pcbRead) {
  Step();
  const uint8_t step = Decide();
  if ((step & 0x03) == 3) {
    SetLastError(ERROR_READ_FAULT);
    return FALSE;
  }
  Sleep((step >> 4) * 50);
  if ((step & 0x03) == 2) {
    const std::vector<BYTE> bytes =
        gInput->ConsumeBytes<BYTE>(gInput->ConsumeIntegralInRange<DWORD>(0, cbBuffer));
    if (!bytes.empty()) {
      std::memcpy(buffer, bytes.data(), bytes.size());
    }
    *pcbRead = static_cast<DWORD>(bytes.size());
    return TRUE;
  }
  // A well-formed record, fresh or not, in the state the input gives it.
  const StatusRecord record =
      langmon_fuzz::RecordFromInput(*gInput, (step & 0x01) ? ++gRecordNumber : gRecordNumber);
  const DWORD count = cbBuffer < kStatusRecordSize ? cbBuffer : kStatusRecordSize;
  std::memcpy(buffer, &record, count);
  *pcbRead = count;
  return TRUE;
}

BOOL WINAPI FuzzGetPrinterDataFromPort(HANDLE hPort, DWORD, LPWSTR, LPWSTR, DWORD, LPWSTR, DWORD,
                                       LPDWORD pcbReturned) {
  if (pcbReturned != nullptr) {
    *pcbReturned = 0;
  }
  return FuzzBoolEntry(hPort);
}

// The bidi call under way: the requests the spooler sent, and what the port monitor got of them
// and answered.
const BIDI_REQUEST_CONTAINER* gAsked = nullptr;
struct PortMonitorBidi {
  bool called = false;
  DWORD passed = 0;
  DWORD result = ERROR_SUCCESS;
  DWORD answered = 0;  // the entries of its container
};
PortMonitorBidi gPortBidi;

std::u16string LongText(FuzzedDataProvider& input, size_t most) {
  std::u16string text;
  const std::string bytes = input.ConsumeRandomLengthString(most);
  for (char c : bytes) text.push_back(static_cast<char16_t>(static_cast<unsigned char>(c)));
  // Now and then far longer than any schema of the monitor's.
  if (!bytes.empty() && bytes[0] == '~') text.append(static_cast<size_t>(Decide()) * 8, u'x');
  return text;
}

LPWSTR SpoolerCopy(const std::u16string& text) {
  auto copy = static_cast<char16_t*>(RouterAllocBidiMem((text.size() + 1) * sizeof(char16_t)));
  if (copy != nullptr) {
    std::memcpy(copy, text.data(), text.size() * sizeof(char16_t));
    copy[text.size()] = 0;
  }
  return reinterpret_cast<LPWSTR>(copy);
}

// A port monitor with a bidi entry of its own, whose answer comes from the input: any code, or a
// container from the spooler's allocator with entries of every type, numbered after the requests
// it got (or not), with or without a schema, strings of any length and missing ones.
DWORD WINAPI FuzzSendRecvBidi(HANDLE, DWORD, LPCWSTR, PBIDI_REQUEST_CONTAINER pReqData,
                              PBIDI_RESPONSE_CONTAINER* ppResData) {
  Step();
  gPortBidi.called = true;
  FUZZ_CHECK(pReqData != nullptr && ppResData != nullptr && gAsked != nullptr);
  FUZZ_CHECK(pReqData->Version == 1 && pReqData->Count >= 1 && pReqData->Count <= gAsked->Count);
  gPortBidi.passed = pReqData->Count;
  // What it gets is the spooler's own requests, numbered as the spooler numbered them.
  for (DWORD i = 0; i < pReqData->Count; ++i) {
    bool found = false;
    for (DWORD k = 0; k < gAsked->Count && !found; ++k) {
      found = pReqData->aData[i].pSchema == gAsked->aData[k].pSchema &&
              pReqData->aData[i].dwReqNumber == gAsked->aData[k].dwReqNumber;
    }
    FUZZ_CHECK(found);
  }
  const uint8_t outcome = Decide();
  if (outcome < 0x40) {
    gPortBidi.result = outcome < 0x20 ? ERROR_NOT_SUPPORTED : ERROR_BIDI_DEVICE_OFFLINE;
    return gPortBidi.result;
  }
  const DWORD count = gInput->ConsumeIntegralInRange<DWORD>(0, 2 * pReqData->Count + 2);
  PBIDI_RESPONSE_CONTAINER container = RouterAllocBidiResponseContainer(count);
  if (container == nullptr) {
    gPortBidi.result = ERROR_NOT_ENOUGH_MEMORY;
    return gPortBidi.result;
  }
  container->Version = 1;
  container->Count = count;
  for (DWORD i = 0; i < count; ++i) {
    BIDI_RESPONSE_DATA& answer = container->aData[i];
    answer = {};
    const uint8_t shape = Decide();
    answer.dwReqNumber = pReqData->aData[shape % pReqData->Count].dwReqNumber;
    answer.dwResult = (shape & 0x80) ? ERROR_BIDI_SCHEMA_NOT_SUPPORTED : ERROR_SUCCESS;
    if (shape & 0x40) answer.pSchema = SpoolerCopy(LongText(*gInput, 40));
    answer.data.dwBidiType = Decide() % 8;
    switch (answer.data.dwBidiType) {
      case BIDI_STRING:
      case BIDI_TEXT:
      case BIDI_ENUM:
        if (shape & 0x20) answer.data.u.sData = SpoolerCopy(LongText(*gInput, 40));
        break;
      case BIDI_BLOB:
        answer.data.u.biData.cbBuf = gInput->ConsumeIntegralInRange<DWORD>(0, 64);
        answer.data.u.biData.pData =
            static_cast<LPBYTE>(RouterAllocBidiMem(answer.data.u.biData.cbBuf));
        break;
      default:
        answer.data.u.iData = static_cast<LONG>(gInput->ConsumeIntegral<uint32_t>());
        break;
    }
  }
  gPortBidi.result = ERROR_SUCCESS;
  gPortBidi.answered = count;
  *ppResData = container;
  return ERROR_SUCCESS;
}

BOOL WINAPI FuzzOpenPort2(HANDLE, LPWSTR pName, PHANDLE pHandle) {
  return FuzzOpenPort(pName, pHandle);
}

MONITOR FuzzPortMonitor(uint8_t entries) {
  MONITOR table{};
  table.pfnOpenPort = FuzzOpenPort;
  table.pfnStartDocPort = FuzzStartDocPort;
  table.pfnWritePort = FuzzWritePort;
  table.pfnReadPort = FuzzReadPort;
  table.pfnClosePort = FuzzBoolEntry;
  // The optional entries are there or not.
  if (entries & 0x01) table.pfnEndDocPort = FuzzBoolEntry;
  if (entries & 0x02) table.pfnGetPrinterDataFromPort = FuzzGetPrinterDataFromPort;
  if (entries & 0x04) table.pfnSetPortTimeOuts = FuzzSetPortTimeOuts;
  return table;
}

// The same port monitor in its MONITOR2 form, whose size may cut off its later entries.
MONITOR2 FuzzPortMonitor2(const MONITOR& entries, uint8_t shape) {
  MONITOR2 table = sim::AsMonitor2(entries, FuzzOpenPort2);
  if (shape & 0x10) {
    table.cbSize = static_cast<DWORD>(offsetof(MONITOR2, pfnAddPort));
  }
  if (shape & 0x08) table.pfnSendRecvBidiDataFromPort = FuzzSendRecvBidi;
  return table;
}

int AnswerFromInput(const host::MessageBoxRecord&) {
  Step();
  static constexpr int kAnswers[] = {0, IDOK, IDCANCEL, IDYES, IDNO, IDRETRY, IDOK, IDYES};
  return kAnswers[Decide() & 0x07];
}

std::u16string TextFromInput(FuzzedDataProvider& input, const char16_t* const (&choices)[4]) {
  const uint8_t pick = input.ConsumeIntegral<uint8_t>();
  if (pick < 4) {
    std::u16string text;
    for (char c : input.ConsumeRandomLengthString(24)) {
      text.push_back(static_cast<char16_t>(static_cast<unsigned char>(c)));
    }
    return text;
  }
  return choices[pick % 4];
}

bool SameAction(const std::u16string& action, const char16_t* name) {
  if (action.size() != std::char_traits<char16_t>::length(name)) return false;
  for (size_t i = 0; i < action.size(); ++i) {
    const char16_t a = action[i] >= u'A' && action[i] <= u'Z' ? action[i] + 32 : action[i];
    const char16_t b = name[i] >= u'A' && name[i] <= u'Z' ? name[i] + 32 : name[i];
    if (a != b) return false;
  }
  return true;
}

// A bidi call with a request container made from the input, checked against what it asked: up to
// a few hundred requests, schemas of the monitor's, the port monitor's, or anything, long ones
// too, numbered as a caller may number them.
void AskBidi(FuzzedDataProvider& input, HANDLE port, uint8_t call) {
  static const char16_t* const kActions[] = {u"GetAll", u"Get", u"EnumSchema", u"Set"};
  static const char16_t* const kSchemas[] = {u"\\Printer.Consumables",
                                             u"\\Printer.Consumables.Yellow:Level", u"\\Printer",
                                             u"\\Printer.Configuration"};
  constexpr DWORD kFirstNumber = 1000;
  std::u16string action = TextFromInput(input, kActions);
  const DWORD count = input.ConsumeIntegralInRange<DWORD>(0, (call & 0x10) ? 300 : 6);
  std::vector<std::u16string> schemas;
  for (DWORD i = 0; i < count; ++i) {
    schemas.push_back(Decide() < 0x10 ? kSchemas[1] + LongText(input, 300)
                                      : TextFromInput(input, kSchemas));
  }
  std::vector<BYTE> storage(sizeof(BIDI_REQUEST_CONTAINER) +
                            (count == 0 ? 0 : count - 1) * sizeof(BIDI_REQUEST_DATA));
  auto* requests = reinterpret_cast<PBIDI_REQUEST_CONTAINER>(storage.data());
  requests->Version = (call & 0x40) ? input.ConsumeIntegral<DWORD>() : 1;
  requests->Count = count;
  for (DWORD i = 0; i < count; ++i) {
    requests->aData[i].dwReqNumber = kFirstNumber + i;
    requests->aData[i].pSchema = (call & 0x20) && i == 0 ? nullptr : schemas[i].data();
  }
  if (input.ConsumeBool()) host::WithholdSpoolerFunction("RouterAllocBidiMem");
  if (input.ConsumeBool()) host::FailBidiAllocation(input.ConsumeIntegralInRange<unsigned>(1, 30));
  PBIDI_RESPONSE_CONTAINER responses = nullptr;
  gAsked = requests;
  gPortBidi = {};
  const DWORD result = PJLMonSendRecvBidiDataFromPort(
      port, BIDI_ACCESS_USER, (call & 0x80) ? nullptr : action.data(), requests, &responses);
  gAsked = nullptr;
  host::WithholdSpoolerFunction("RouterAllocBidiMem", false);
  host::FailBidiAllocation(0);
  FUZZ_CHECK((result == ERROR_SUCCESS) == (responses != nullptr));
  if (responses != nullptr) {
    // Every answer the port monitor gave is in, and every request it was not given has one of
    // the monitor's: its value, or its reason. A port monitor that failed a Get, GetAll or Set
    // leaves a refusal for each request it was given.
    // EnumSchema lists schemas, whatever the requests.
    if (SameAction(action, u"EnumSchema")) {
      FUZZ_CHECK(responses->Count >= gPortBidi.answered);
    } else {
      DWORD theirs = gPortBidi.answered;
      if (gPortBidi.called && gPortBidi.result != ERROR_SUCCESS) {
        theirs = gPortBidi.passed;
      }
      FUZZ_CHECK(responses->Count >= count - gPortBidi.passed + theirs);
    }
    for (DWORD i = 0; i < responses->Count; ++i) {
      FUZZ_CHECK(responses->aData[i].dwReqNumber - kFirstNumber < count);
    }
    RouterFreeBidiResponseContainer(responses);
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* bytes, size_t size) {
  langmon_fuzz::StartRun();
  FuzzedDataProvider input(bytes, size);
  gInput = &input;
  gSteps = 0;
  gRecordNumber = 0;
  for (auto& received : gReceived) {
    received.clear();
  }
  host::Printer printer;
  printer.name = u"Label A";
  host::AddPrinter(printer);
  host::SetAnswerer(AnswerFromInput);
  const langmon_fuzz::LeakCheck leaks;

  const long bidiBlocks = host::LiveBidiAllocations();
  const uint8_t shape = input.ConsumeIntegral<uint8_t>();
  MONITOR portMonitor = FuzzPortMonitor(shape);
  // Through MONITOR2 the monitor gets the port monitor's MONITOR2 form.
  const bool throughMonitor2 = (shape & 0x20) != 0;
  MONITOR2 portMonitor2 = FuzzPortMonitor2(portMonitor, shape);
  HANDLE hMonitor = nullptr;
  MONITORINIT init = {sizeof(MONITORINIT), nullptr, nullptr, nullptr, TRUE, nullptr};
  if (throughMonitor2) {
    FUZZ_CHECK(InitializePrintMonitor2(&init, &hMonitor) == &MonitorTable2);
  }
  HANDLE ports[kPorts] = {nullptr, nullptr};
  std::vector<BYTE> told[kPorts];  // what the spooler was told each port's printer accepted
  static const char16_t* const kPortNames[] = {u"USB1", u"USB2", u"FILE:", u""};
  static const char16_t* const kPrinterNames[] = {u"Label A", u"label a", u"Unknown", u""};
  static const char16_t* const kDocumentNames[] = {u"Labels", u"Brindlemarsten Command",
                                                   u"brindlemarsten comma", u""};
  static const char16_t* const kValueNames[] = {u"VELMORA", u"Installed Memory", u"velmora",
                                                u"Other"};
  const std::vector<BYTE> header = sim::JobHeaderCommand();

  while (input.remaining_bytes() > 0) {
    const uint8_t call = input.ConsumeIntegral<uint8_t>();
    const int p = call & 0x01;
    HANDLE port = ports[p];
    switch ((call >> 1) % 8) {
      case 0: {  // open
        if (port != nullptr) break;
        std::u16string name = (call & 0x80) ? TextFromInput(input, kPortNames)
                                            : std::u16string(p == 0 ? u"USB1" : u"USB2");
        HANDLE handle = nullptr;
        gOpening = p;
        std::u16string printerName = u"Label A";
        const BOOL opened =
            throughMonitor2
                ? MonitorTable2.pfnOpenPortEx(hMonitor, &portMonitor2, name.data(),
                                              printerName.data(), &handle, &portMonitor2)
                : PJLMonOpenPortEx(name.data(), nullptr, &handle, &portMonitor);
        if (opened) {
          FUZZ_CHECK(handle != nullptr);
          ports[p] = handle;
        }
        break;
      }
      case 1: {  // start
        if (port == nullptr) break;
        std::u16string printerName = TextFromInput(input, kPrinterNames);
        std::u16string documentName = TextFromInput(input, kDocumentNames);
        DOC_INFO_1W docInfo = {(call & 0x80) ? nullptr : documentName.data(), nullptr, nullptr};
        const DWORD level = (call & 0x40) ? input.ConsumeIntegral<DWORD>() : 1;
        PJLMonStartDocPort(port, printerName.data(), input.ConsumeIntegral<DWORD>(), level,
                           (call & 0x20) ? nullptr : reinterpret_cast<LPBYTE>(&docInfo));
        break;
      }
      case 2: {  // write: any bytes, with a job header at its start or inside now and then
        if (port == nullptr) break;
        std::vector<BYTE> data;
        if (call & 0x80) data.insert(data.end(), header.begin(), header.end());
        const std::vector<BYTE> body =
            input.ConsumeBytes<BYTE>(input.ConsumeIntegralInRange<size_t>(0, 300));
        data.insert(data.end(), body.begin(), body.end());
        if (call & 0x40) data.insert(data.end(), header.begin(), header.end());
        const DWORD offered = static_cast<DWORD>(data.size());
        BYTE* buffer = offered != 0 ? data.data() : ((call & 0x20) ? nullptr : data.data());
        gOffered = buffer;
        gOfferedSize = offered;
        const size_t receivedBefore = gReceived[p].size();
        DWORD written = 0;
        const BOOL ok = PJLWritePort(port, buffer, offered, &written);
        gOffered = nullptr;
        if (ok) {
          FUZZ_CHECK(written <= offered);
          told[p].insert(told[p].end(), data.begin(), data.begin() + written);
        }
        // Whatever the printer took in this call is what the spooler was told, from the start.
        const size_t took = gReceived[p].size() - receivedBefore;
        FUZZ_CHECK(took == (ok ? written : 0) || (!ok && took == 0));
        break;
      }
      case 3: {  // read
        if (port == nullptr) break;
        std::vector<BYTE> buffer(input.ConsumeIntegralInRange<DWORD>(0, 600) + 1);
        DWORD read = 0;
        PJLMonReadPort(port, buffer.data(), static_cast<DWORD>(buffer.size() - 1), &read);
        break;
      }
      case 4:  // end
        if (port == nullptr) break;
        FUZZ_CHECK(PJLMonEndDocPort(port));
        break;
      case 5: {  // status query, by value name or by control code
        if (port == nullptr) break;
        std::u16string name = TextFromInput(input, kValueNames);
        const DWORD cbOut = input.ConsumeIntegralInRange<DWORD>(0, 600);
        std::vector<BYTE> out(cbOut + 1);
        DWORD returned = 0;
        const DWORD control = (call & 0x80) ? input.ConsumeIntegral<DWORD>() : 0;
        if (GetPrinterDataFromPort(port, control, (call & 0x40) ? nullptr : name.data(), nullptr, 0,
                                   (call & 0x20) ? nullptr : reinterpret_cast<LPWSTR>(out.data()),
                                   cbOut, &returned) &&
            control == 0) {
          FUZZ_CHECK(returned <= cbOut);
        }
        break;
      }
      case 6:  // bidi
        if (port == nullptr) break;
        AskBidi(input, port, call);
        break;
      default:  // close
        if (port == nullptr) break;
        FUZZ_CHECK(PJLMonClosePort(port));
        ports[p] = nullptr;
        break;
    }
  }
  for (HANDLE& port : ports) {
    if (port != nullptr) {
      PJLMonEndDocPort(port);
      FUZZ_CHECK(PJLMonClosePort(port));
    }
  }
  for (int p = 0; p < kPorts; ++p) {
    FUZZ_CHECK(gReceived[p] == told[p]);
  }
  FUZZ_CHECK(pIniFirstPort == nullptr);
  FUZZ_CHECK(host::LiveBidiAllocations() == bidiBlocks);
  FUZZ_CHECK(host::BadBidiFrees() == 0);
  if (throughMonitor2) {
    MonitorTable2.pfnShutdown(hMonitor);
  }
  host::SetAnswerer(nullptr);
  leaks.Check();
  gInput = nullptr;
  langmon_fuzz::EndRun();
  return 0;
}
