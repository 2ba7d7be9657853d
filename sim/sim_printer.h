// The simulated label printer and the port monitor in front of it.
//
// A SimPrinter models one printer on one port. Its port monitor is a complete MONITOR table
// (sim::PortMonitor()) whose entries find the printer by port name, so it can be handed to the
// language monitor's PJLMonOpenPortEx exactly as the spooler hands over a real port monitor.
//
// What the printer sends back. Every read of the back channel delivers, in this order of choice:
//   1. the next queued read outcome's failure (QueueReads / SetReadMode: Fail, Empty),
//   2. raw bytes waiting on the back channel (QueueBackChannel), as many as the read asks for,
//   3. its current 116-byte status record, built from Status() (with the outcome's fault applied:
//      wrong length, wrong start or end byte, too-large message count, bad checksum, busy mark),
//      unless SetAutoStatus(false), in which case the read delivers 0 bytes.
// Record numbers advance with time: a new number every recordPeriodMs of GetTickCount time (0:
// every record gets a new number); Status().holdRecordNumber keeps the number still.
//
// What the printer receives. Every write is recorded (Events(), WriteSizes()). A write that is
// exactly one of the four commands counts as that command (Commands()); anything else is print
// data. Print data between the alignment markers below is an alignment print (AlignmentPrints());
// the rest is job data (JobData()). Print data raises the spit counters by spitsPerByte per
// accepted byte (yellow only for a black-family cartridge).
//
// Alignment prints carry ASCII markers: kAlignBeginColor or kAlignBeginBlack where the print
// begins and kAlignEnd where it ends (sim/driver_files.h writes such files). At the end marker
// the printer reports the next scripted AlignmentResult (QueueAlignmentResults; by default
// bCartStatus 0x50 and two valid marks).
//
// Reactions to the commands: cartridge-change end installs the next scripted Cartridge
// (QueueCartridges; none queued: the same cartridge was put back); alignment finish clears the
// new-cartridge mark and the high nibble of bCartStatus. Cartridge-change start and cartridge
// empty are only recorded. Anything else is scripted with triggers.
//
// Scripting over time: AddTrigger(Trigger) applies a StateChange once, when its condition is met
// (the Nth read, the Nth time a command arrived, the Nth alignment print, the Nth job start or
// end, or at once) and then delayMs more milliseconds of GetTickCount time have passed. Triggers
// are evaluated whenever the monitor calls the port monitor, so a timed change is seen by the
// first call at or after its time.
//
// Failures: FailOpens, FailStartDocs, FailSetTimeOuts; QueueReads / SetReadMode; QueueWrites /
// SetWriteMode (refuse a write, or accept only part of it).
//
// Every member is thread-safe; several printers (ports) may be driven at once.
#pragma once

#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "platform/win32.h"
#include "printer/status.h"

namespace sim {

enum class Command { CartridgeChangeStart, CartridgeChangeEnd, CartridgeEmpty, AlignmentFinish };
const char* CommandName(Command command);

// The markers that make print data an alignment print. They never occur in job data.
constexpr char kAlignBeginColor[] = "@VMSIM-ALIGN-BEGIN-C@";
constexpr char kAlignBeginBlack[] = "@VMSIM-ALIGN-BEGIN-K@";
constexpr char kAlignEnd[] = "@VMSIM-ALIGN-END@";

constexpr BYTE kColorCartType = 'C';
constexpr BYTE kReadyChar = 'R';  // bBusyChar of a record that is not busy
constexpr BYTE kValidMark = 'A';

// Everything the printer reports in its status records.
struct Status {
  BYTE cartType = kColorCartType;  // bCartType
  BYTE errorFlags = 0;             // bErrorFlags
  DWORD yellowSpits = 0;
  DWORD magentaSpits = 0;
  DWORD cyanSpits = 0;
  BYTE cartStatus = 0x00;  // bCartStatus
  BYTE newCart = 0;        // bNewCart
  BYTE alignMarkA = kValidMark;
  BYTE alignMarkB = kValidMark;
  bool busy = false;              // bBusyChar 'B'
  bool holdRecordNumber = false;  // the record number stops advancing
  BYTE numMesgBytes = 114;        // bNumMesgBytes of valid records (0..115 stay valid)
};

// A cartridge put in at a cartridge change.
struct Cartridge {
  BYTE cartType = kColorCartType;
  DWORD yellowSpits = 0;
  DWORD magentaSpits = 0;
  DWORD cyanSpits = 0;
  BYTE cartStatus = 0x00;  // 0x10 invalid, 0x20 none
  BYTE newCart = 1;
};

// What the printer reports after an alignment print.
struct AlignmentResult {
  BYTE cartStatus = 0x50;  // high nibble 5: the marks are to be tested
  BYTE markA = kValidMark;
  BYTE markB = kValidMark;
};

// How one read goes.
enum class ReadFault {
  None,               // as the model says
  Fail,               // the read returns FALSE, last error `value` (0: ERROR_READ_FAULT)
  Empty,              // TRUE with 0 bytes
  WrongLength,        // reports `value` bytes; writes only what fits the buffer and the record
  BadStart,           // bStartChar 0x02
  BadEnd,             // bEndChar 0x05
  MesgBytesTooLarge,  // bNumMesgBytes `value` (0: 116)
  BadChecksum,        // a checksum that does not match
  Busy,               // bBusyChar 'B'
};
struct ReadOutcome {
  ReadFault fault = ReadFault::None;
  DWORD value = 0;
};

// How one write goes.
enum class WriteFault {
  None,     // every byte accepted
  Fail,     // FALSE, nothing accepted, last error `value` (0: ERROR_WRITE_FAULT)
  Partial,  // TRUE with at most `value` bytes accepted
};
struct WriteOutcome {
  WriteFault fault = WriteFault::None;
  DWORD value = 0;
};

// A change of the printer's state; only the fields that are set change.
struct StateChange {
  std::optional<BYTE> cartType{}, errorFlags{}, cartStatus{}, newCart{}, alignMarkA{}, alignMarkB{};
  std::optional<DWORD> yellowSpits{}, magentaSpits{}, cyanSpits{};
  std::optional<bool> busy{}, holdRecordNumber{};
  std::optional<BYTE> numMesgBytes{};
  std::optional<DWORD> recordPeriodMs{};
  std::optional<ReadOutcome> readMode{};    // how reads go once the queue is empty
  std::optional<WriteOutcome> writeMode{};  // how writes go once the queue is empty
  std::vector<BYTE> backChannel{};          // bytes that start waiting on the back channel
};

enum class When {
  Now,             // armed at once (with delayMs: that long after AddTrigger)
  AfterReads,      // after the count-th read
  AfterCommand,    // after the count-th arrival of `command`
  AfterAlignment,  // after the count-th alignment print
  AfterJobStart,   // after the count-th StartDocPort
  AfterJobEnd,     // after the count-th EndDocPort
};
struct Trigger {
  When when = When::Now;
  unsigned count = 1;
  Command command = Command::CartridgeChangeEnd;
  DWORD delayMs = 0;
  StateChange change{};
};

// One call the port monitor received, in order.
enum class EventKind {
  Open,
  SetTimeOuts,
  StartDoc,
  Write,
  Read,
  EndDoc,
  Close,
  GetPrinterData,
  Bidi
};
enum class DataKind { None, Command, JobData, AlignmentPrint };
struct Event {
  EventKind kind = EventKind::Open;
  DWORD ticks = 0;  // GetTickCount at the call
  BOOL result = FALSE;
  // Write: the bytes offered, how many were accepted, what they were.
  std::vector<BYTE> bytes;  // Read: the bytes delivered
  DWORD accepted = 0;       // Write: accepted; Read: the count reported
  DataKind dataKind = DataKind::None;
  Command command = Command::CartridgeChangeStart;
  DWORD requested = 0;    // Read: the buffer size
  BYTE recordNumber = 0;  // Read: the record number of a delivered status record
  bool statusRecord = false;
  // StartDoc: printer name, job id, document name. GetPrinterData: value name, control id.
  // Bidi: the action, the first request's schema, the number of requests.
  std::u16string text;
  std::u16string documentName;
  DWORD value = 0;
};

// One request the bidi entry got: its number, as the caller gave it, and its schema (empty for
// none).
struct BidiRequest {
  DWORD number = 0;
  std::u16string schema;
  bool operator==(const BidiRequest&) const = default;
};
struct BidiCall {
  std::u16string action;
  std::vector<BidiRequest> requests;
};

// The one value the simulated port monitor lists for EnumSchema.
inline constexpr char16_t kPortBidiSchema[] = u"\\Printer.Port:Name";

// One line of a readable transcript, e.g. "write 100 bytes: alignment print" or
// "read 116: status record #3".
std::string Describe(const Event& event);

struct AlignmentPrint {
  char family = 'C';  // 'C' colour file, 'K' black file
  DWORD bytes = 0;    // bytes from the begin marker to the end of the end marker
  DWORD ticks = 0;    // when it ended
};

class SimPrinter {
 public:
  explicit SimPrinter(std::u16string portName);
  SimPrinter(const SimPrinter&) = delete;
  SimPrinter& operator=(const SimPrinter&) = delete;

  const std::u16string& PortName() const { return portName_; }

  // ---- State and script ------------------------------------------------------------------
  Status GetStatus();
  void SetStatus(const Status& status);
  void Apply(const StateChange& change);
  void AddTrigger(const Trigger& trigger);
  void QueueCartridges(const std::vector<Cartridge>& cartridges);
  void QueueAlignmentResults(const std::vector<AlignmentResult>& results);
  // New record number every `ms` of tick time (default 200); 0: every record is new.
  void SetRecordPeriod(DWORD ms);
  // Print data raises each counter by this much per byte (default 100).
  void SetSpitsPerByte(DWORD yellow, DWORD magenta, DWORD cyan);
  // Each read takes this long (Sleep), as a port monitor's read waits for the printer.
  void SetReadDelay(DWORD ms);

  // ---- Back channel and faults -----------------------------------------------------------
  void QueueReads(const std::vector<ReadOutcome>& outcomes);  // one per read, then the mode
  void SetReadMode(const ReadOutcome& outcome);
  void QueueBackChannel(const std::vector<BYTE>& bytes);
  void SetAutoStatus(bool on);  // off: a read with nothing waiting delivers 0 bytes
  void QueueWrites(const std::vector<WriteOutcome>& outcomes);
  void SetWriteMode(const WriteOutcome& outcome);
  void FailOpens(bool fail, DWORD error = ERROR_ACCESS_DENIED);
  void FailStartDocs(bool fail, DWORD error = ERROR_ACCESS_DENIED);
  void FailSetTimeOuts(bool fail);
  // Answer to GetPrinterDataFromPort with a control code.
  void SetPrinterDataAnswer(BOOL result, const std::vector<BYTE>& data, DWORD error = 0);
  // What the bidi entry of the MONITOR2 form returns: by default ERROR_SUCCESS, each request
  // answered with its own schema and the port's name as a BIDI_STRING, and EnumSchema with one
  // BIDI_TEXT entry without a schema, kPortBidiSchema, numbered as the first request; any other
  // code is returned with no answer.
  void SetBidiResult(DWORD result);
  // Every call of the bidi entry, in order.
  std::vector<BidiCall> BidiCalls();
  // The Nth port-monitor call on this printer from now (any entry; 1 = the next one) fails and
  // changes nothing: FALSE, nothing accepted or delivered, last error ERROR_WRITE_FAULT for a
  // write, ERROR_READ_FAULT for a read, ERROR_ACCESS_DENIED for any other entry. 0 disarms.
  void FailCall(unsigned nth);
  // Port-monitor calls on this printer since it was made.
  unsigned Calls();

  // ---- What happened ---------------------------------------------------------------------
  std::vector<Event> Events();
  std::vector<Command> Commands();
  std::vector<BYTE> JobData();      // accepted job data, commands and prints left out
  std::vector<DWORD> WriteSizes();  // the count offered by every write, in order
  std::vector<AlignmentPrint> AlignmentPrints();
  unsigned Reads();
  bool IsOpen();
  bool InJob();
  COMMTIMEOUTS TimeOuts();  // the last ones set
  void ClearEvents();
  // The record a read would deliver now (without advancing anything).
  StatusRecord CurrentRecord();

  // ---- Port monitor entries (called through sim::PortMonitor()) ---------------------------
  BOOL Open();
  BOOL SetTimeOuts(const COMMTIMEOUTS* timeouts);
  BOOL StartDoc(LPCWSTR printerName, DWORD jobId, DWORD level, const BYTE* docInfo);
  BOOL Write(const BYTE* buffer, DWORD cbBuf, LPDWORD pcbWritten);
  BOOL Read(BYTE* buffer, DWORD cbBuffer, LPDWORD pcbRead);
  BOOL EndDoc();
  BOOL Close();
  BOOL GetPrinterData(DWORD controlId, LPCWSTR valueName, BYTE* out, DWORD cbOut,
                      LPDWORD pcbReturned);
  DWORD SendRecvBidi(LPCWSTR action, const BIDI_REQUEST_CONTAINER* requests,
                     PBIDI_RESPONSE_CONTAINER* responses);

 private:
  struct ArmedTrigger {
    Trigger trigger;
    bool armed = false;
    DWORD armedAt = 0;
    bool fired = false;
  };

  void ApplyLocked(const StateChange& change);
  void Note(When when, unsigned count, Command command);
  void RunTriggersLocked();
  void AdvanceRecordNumberLocked();
  StatusRecord BuildRecordLocked();
  void InstallNextCartridgeLocked();
  void ReceivePrintDataLocked(const BYTE* bytes, DWORD count, DataKind* kind);
  void FinishAlignmentPrintLocked(char family);
  void RaiseSpitsLocked(DWORD bytes);
  void RecordLocked(Event event);
  // Counts a port-monitor call; true when it is the one armed to fail.
  bool InjectedFailureLocked();
  // Records a call of the kind that failed by injection and sets the last error.
  BOOL FailInjectedLocked(EventKind kind, DWORD error);

  std::mutex mutex_;
  const std::u16string portName_;
  DWORD createdAt_;

  Status status_;
  DWORD recordPeriodMs_ = 200;
  BYTE recordNumber_ = 1;
  DWORD recordEpoch_;
  DWORD spitsYellow_ = 100, spitsMagenta_ = 100, spitsCyan_ = 100;
  DWORD readDelayMs_ = 0;

  std::deque<Cartridge> cartridges_;
  std::deque<AlignmentResult> alignmentResults_;
  std::vector<ArmedTrigger> triggers_;

  std::deque<ReadOutcome> readQueue_;
  ReadOutcome readMode_;
  std::deque<BYTE> backChannel_;
  bool autoStatus_ = true;
  std::deque<WriteOutcome> writeQueue_;
  WriteOutcome writeMode_;
  bool failOpens_ = false;
  DWORD openError_ = 0;
  bool failStartDocs_ = false;
  DWORD startDocError_ = 0;
  bool failSetTimeOuts_ = false;
  BOOL printerDataResult_ = FALSE;
  std::vector<BYTE> printerData_;
  DWORD printerDataError_ = ERROR_NOT_SUPPORTED;
  DWORD bidiResult_ = ERROR_SUCCESS;
  std::vector<BidiCall> bidiCalls_;

  unsigned calls_ = 0;
  unsigned failCallAt_ = 0;  // the value of calls_ whose call fails; 0: none

  bool open_ = false;
  bool inJob_ = false;
  COMMTIMEOUTS timeouts_{};
  unsigned reads_ = 0;
  unsigned jobStarts_ = 0;
  unsigned jobEnds_ = 0;
  unsigned commandCounts_[4] = {};
  std::vector<Event> events_;
  std::vector<AlignmentPrint> alignmentPrints_;

  // Alignment-print detection over the stream of print data.
  std::string window_;  // the last bytes of print data, long enough for a marker
  bool inAlignment_ = false;
  char alignmentFamily_ = 'C';
  DWORD alignmentBytes_ = 0;
};

// ---- The printers on the ports and their port monitor --------------------------------------

// Puts a new printer on the port (replacing one there) and returns it.
std::shared_ptr<SimPrinter> AddPrinter(const std::u16string& portName);
// The printer on the port (port names compare without regard to case), or null.
std::shared_ptr<SimPrinter> FindPrinter(const std::u16string& portName);
// Removes every printer; handles still open fail every later call.
void RemovePrinters();

// The port monitor: open, set time-outs, start, write, read, end, close, get printer data.
// pfnOpenPort fails with ERROR_FILE_NOT_FOUND for a port without a printer.
const MONITOR& PortMonitor();

// The same port monitor in its MONITOR2 form, as InitializePrintMonitor2 hands it out: its
// pfnOpenPort takes PortMonitorHandle() first (another handle: ERROR_INVALID_HANDLE), and with
// `bidi` it has a pfnSendRecvBidiDataFromPort, which answers through the spooler's allocators
// (looked up in spoolss.dll; ERROR_NOT_SUPPORTED without them).
MONITOR2 PortMonitor2(bool bidi = true);
HANDLE PortMonitorHandle();

// A MONITOR table's port entries (start, write, read, end, close, get printer data, set
// time-outs: one shape in both forms) in a MONITOR2 of the current size, with its own open.
MONITOR2 AsMonitor2(const MONITOR& entries, decltype(MONITOR2::pfnOpenPort) open);

// The printer behind a handle that pfnOpenPort returned, or null.
std::shared_ptr<SimPrinter> PrinterOfHandle(HANDLE hPort);

}  // namespace sim
