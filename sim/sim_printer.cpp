#include "sim/sim_printer.h"

#include <algorithm>
#include <cstring>

namespace sim {

namespace {

// The printer knows its commands from its own firmware, not from the monitor's headers: a wrong
// byte on the monitor's side arrives here as plain data and is never taken for a command.
struct KnownCommand {
  Command command;
  std::vector<BYTE> bytes;
};
const KnownCommand kKnownCommands[] = {
    {Command::CartridgeChangeStart, {0x1B, 0x2A, 0x05, 0x00}},
    {Command::CartridgeChangeEnd, {0x1B, 0x2A, 0x05, 0x01}},
    {Command::CartridgeEmpty, {0x1B, 0x2A, 0x6D, 0x04, 0x04}},
    {Command::AlignmentFinish, {0x1B, 0x04, 0x01, 0x00, 0x0E, 0x00, 0x00, 0x2E, 0xA5, 0x00, 0x0B,
                                0x40, 0xE0, 0x81, 0x00, 0x01, 0x00, 0x01, 0x01, 0x02, 0x01, 0x00}},
};

std::optional<Command> RecogniseCommand(const BYTE* bytes, DWORD count) {
  for (const KnownCommand& known : kKnownCommands) {
    if (count == known.bytes.size() && std::memcmp(bytes, known.bytes.data(), count) == 0) {
      return known.command;
    }
  }
  return std::nullopt;
}

DWORD SaturatingAdd(DWORD a, DWORD b) { return a > 0xFFFFFFFFu - b ? 0xFFFFFFFFu : a + b; }

bool EndsWith(const std::string& text, const char* suffix) {
  const size_t length = std::strlen(suffix);
  return text.size() >= length && text.compare(text.size() - length, length, suffix) == 0;
}

std::u16string ToU16(LPCWSTR text) {
  std::u16string result;
  if (text != nullptr) {
    for (; *text != 0; ++text) {
      result.push_back(static_cast<char16_t>(*text));
    }
  }
  return result;
}

char16_t FoldCase(char16_t c) { return (c >= u'A' && c <= u'Z') ? c + (u'a' - u'A') : c; }

bool SameName(const std::u16string& a, const std::u16string& b) {
  return a.size() == b.size() &&
         std::equal(a.begin(), a.end(), b.begin(),
                    [](char16_t x, char16_t y) { return FoldCase(x) == FoldCase(y); });
}

size_t LongestMarker() {
  return std::max(
      {std::strlen(kAlignBeginColor), std::strlen(kAlignBeginBlack), std::strlen(kAlignEnd)});
}

}  // namespace

const char* CommandName(Command command) {
  switch (command) {
    case Command::CartridgeChangeStart:
      return "cartridge-change start";
    case Command::CartridgeChangeEnd:
      return "cartridge-change end";
    case Command::CartridgeEmpty:
      return "cartridge empty";
    case Command::AlignmentFinish:
      return "alignment finish";
  }
  return "unknown";
}

namespace {

std::string Narrow(const std::u16string& text) {
  std::string narrow;
  for (char16_t c : text) narrow.push_back(c < 0x80 ? static_cast<char>(c) : '?');
  return narrow;
}

}  // namespace

std::string Describe(const Event& event) {
  const std::string failed = event.result ? "" : " -> failed";
  switch (event.kind) {
    case EventKind::Open:
      return "open port" + failed;
    case EventKind::SetTimeOuts:
      return "set time-outs" + failed;
    case EventKind::StartDoc:
      return "start document \"" + Narrow(event.documentName) + "\" (job " +
             std::to_string(event.value) + ") for " + Narrow(event.text) + failed;
    case EventKind::Write: {
      std::string line = "write " + std::to_string(event.bytes.size()) + " bytes: ";
      switch (event.dataKind) {
        case DataKind::Command:
          line += std::string("command ") + CommandName(event.command);
          break;
        case DataKind::AlignmentPrint:
          line += "alignment print";
          break;
        default:
          line += "job data";
          break;
      }
      if (event.result && event.accepted != event.bytes.size()) {
        line += " (" + std::to_string(event.accepted) + " accepted)";
      }
      return line + failed;
    }
    case EventKind::Read: {
      std::string line = "read " + std::to_string(event.requested) + ": ";
      if (!event.result) return line + "failed";
      if (event.statusRecord) {
        line += "status record #" + std::to_string(event.recordNumber);
        if (event.accepted != kStatusRecordSize || event.bytes.size() != kStatusRecordSize) {
          line += " (" + std::to_string(event.bytes.size()) + " bytes, " +
                  std::to_string(event.accepted) + " reported)";
        }
        return line;
      }
      return line + std::to_string(event.bytes.size()) + " bytes" +
             (event.bytes.empty() ? "" : " of raw data");
    }
    case EventKind::EndDoc:
      return "end document";
    case EventKind::Close:
      return "close port";
    case EventKind::GetPrinterData:
      return "get printer data (control " + std::to_string(event.value) + ")" + failed;
    case EventKind::Bidi:
      return "bidi " + Narrow(event.text) + " " + Narrow(event.documentName) + " (" +
             std::to_string(event.value) + " requests)" + failed;
  }
  return "?";
}

SimPrinter::SimPrinter(std::u16string portName)
    : portName_(std::move(portName)), createdAt_(GetTickCount()), recordEpoch_(createdAt_) {}

// ---- State and script --------------------------------------------------------------------------

Status SimPrinter::GetStatus() {
  std::lock_guard lock(mutex_);
  return status_;
}

void SimPrinter::SetStatus(const Status& status) {
  std::lock_guard lock(mutex_);
  AdvanceRecordNumberLocked();
  status_ = status;
}

void SimPrinter::Apply(const StateChange& change) {
  std::lock_guard lock(mutex_);
  ApplyLocked(change);
}

void SimPrinter::ApplyLocked(const StateChange& change) {
  // The record number runs on up to now under the old pace before the pace changes.
  AdvanceRecordNumberLocked();
  if (change.cartType) status_.cartType = *change.cartType;
  if (change.errorFlags) status_.errorFlags = *change.errorFlags;
  if (change.cartStatus) status_.cartStatus = *change.cartStatus;
  if (change.newCart) status_.newCart = *change.newCart;
  if (change.alignMarkA) status_.alignMarkA = *change.alignMarkA;
  if (change.alignMarkB) status_.alignMarkB = *change.alignMarkB;
  if (change.yellowSpits) status_.yellowSpits = *change.yellowSpits;
  if (change.magentaSpits) status_.magentaSpits = *change.magentaSpits;
  if (change.cyanSpits) status_.cyanSpits = *change.cyanSpits;
  if (change.busy) status_.busy = *change.busy;
  if (change.holdRecordNumber) status_.holdRecordNumber = *change.holdRecordNumber;
  if (change.numMesgBytes) status_.numMesgBytes = *change.numMesgBytes;
  if (change.recordPeriodMs) recordPeriodMs_ = *change.recordPeriodMs;
  if (change.readMode) readMode_ = *change.readMode;
  if (change.writeMode) writeMode_ = *change.writeMode;
  backChannel_.insert(backChannel_.end(), change.backChannel.begin(), change.backChannel.end());
}

void SimPrinter::AddTrigger(const Trigger& trigger) {
  std::lock_guard lock(mutex_);
  ArmedTrigger armed{trigger};
  if (trigger.when == When::Now) {
    armed.armed = true;
    armed.armedAt = GetTickCount();
  }
  triggers_.push_back(armed);
  RunTriggersLocked();
}

void SimPrinter::QueueCartridges(const std::vector<Cartridge>& cartridges) {
  std::lock_guard lock(mutex_);
  cartridges_.insert(cartridges_.end(), cartridges.begin(), cartridges.end());
}

void SimPrinter::QueueAlignmentResults(const std::vector<AlignmentResult>& results) {
  std::lock_guard lock(mutex_);
  alignmentResults_.insert(alignmentResults_.end(), results.begin(), results.end());
}

void SimPrinter::SetRecordPeriod(DWORD ms) {
  std::lock_guard lock(mutex_);
  AdvanceRecordNumberLocked();
  recordPeriodMs_ = ms;
}

void SimPrinter::SetSpitsPerByte(DWORD yellow, DWORD magenta, DWORD cyan) {
  std::lock_guard lock(mutex_);
  spitsYellow_ = yellow;
  spitsMagenta_ = magenta;
  spitsCyan_ = cyan;
}

void SimPrinter::SetReadDelay(DWORD ms) {
  std::lock_guard lock(mutex_);
  readDelayMs_ = ms;
}

void SimPrinter::QueueReads(const std::vector<ReadOutcome>& outcomes) {
  std::lock_guard lock(mutex_);
  readQueue_.insert(readQueue_.end(), outcomes.begin(), outcomes.end());
}

void SimPrinter::SetReadMode(const ReadOutcome& outcome) {
  std::lock_guard lock(mutex_);
  readMode_ = outcome;
}

void SimPrinter::QueueBackChannel(const std::vector<BYTE>& bytes) {
  std::lock_guard lock(mutex_);
  backChannel_.insert(backChannel_.end(), bytes.begin(), bytes.end());
}

void SimPrinter::SetAutoStatus(bool on) {
  std::lock_guard lock(mutex_);
  autoStatus_ = on;
}

void SimPrinter::QueueWrites(const std::vector<WriteOutcome>& outcomes) {
  std::lock_guard lock(mutex_);
  writeQueue_.insert(writeQueue_.end(), outcomes.begin(), outcomes.end());
}

void SimPrinter::SetWriteMode(const WriteOutcome& outcome) {
  std::lock_guard lock(mutex_);
  writeMode_ = outcome;
}

void SimPrinter::FailOpens(bool fail, DWORD error) {
  std::lock_guard lock(mutex_);
  failOpens_ = fail;
  openError_ = error;
}

void SimPrinter::FailStartDocs(bool fail, DWORD error) {
  std::lock_guard lock(mutex_);
  failStartDocs_ = fail;
  startDocError_ = error;
}

void SimPrinter::FailSetTimeOuts(bool fail) {
  std::lock_guard lock(mutex_);
  failSetTimeOuts_ = fail;
}

void SimPrinter::SetPrinterDataAnswer(BOOL result, const std::vector<BYTE>& data, DWORD error) {
  std::lock_guard lock(mutex_);
  printerDataResult_ = result;
  printerData_ = data;
  printerDataError_ = error;
}

void SimPrinter::FailCall(unsigned nth) {
  std::lock_guard lock(mutex_);
  failCallAt_ = nth == 0 ? 0 : calls_ + nth;
}

unsigned SimPrinter::Calls() {
  std::lock_guard lock(mutex_);
  return calls_;
}

bool SimPrinter::InjectedFailureLocked() {
  ++calls_;
  if (failCallAt_ == 0 || calls_ != failCallAt_) {
    return false;
  }
  failCallAt_ = 0;
  return true;
}

BOOL SimPrinter::FailInjectedLocked(EventKind kind, DWORD error) {
  Event event;
  event.kind = kind;
  event.result = FALSE;
  RecordLocked(event);
  SetLastError(error);
  return FALSE;
}

// ---- What happened -----------------------------------------------------------------------------

std::vector<Event> SimPrinter::Events() {
  std::lock_guard lock(mutex_);
  return events_;
}

std::vector<Command> SimPrinter::Commands() {
  std::lock_guard lock(mutex_);
  std::vector<Command> commands;
  for (const Event& event : events_) {
    if (event.kind == EventKind::Write && event.dataKind == DataKind::Command && event.result &&
        event.accepted == event.bytes.size()) {
      commands.push_back(event.command);
    }
  }
  return commands;
}

std::vector<BYTE> SimPrinter::JobData() {
  std::lock_guard lock(mutex_);
  std::vector<BYTE> data;
  for (const Event& event : events_) {
    if (event.kind == EventKind::Write && event.dataKind == DataKind::JobData) {
      data.insert(data.end(), event.bytes.begin(), event.bytes.begin() + event.accepted);
    }
  }
  return data;
}

std::vector<DWORD> SimPrinter::WriteSizes() {
  std::lock_guard lock(mutex_);
  std::vector<DWORD> sizes;
  for (const Event& event : events_) {
    if (event.kind == EventKind::Write) {
      sizes.push_back(static_cast<DWORD>(event.bytes.size()));
    }
  }
  return sizes;
}

std::vector<AlignmentPrint> SimPrinter::AlignmentPrints() {
  std::lock_guard lock(mutex_);
  return alignmentPrints_;
}

unsigned SimPrinter::Reads() {
  std::lock_guard lock(mutex_);
  return reads_;
}

bool SimPrinter::IsOpen() {
  std::lock_guard lock(mutex_);
  return open_;
}

bool SimPrinter::InJob() {
  std::lock_guard lock(mutex_);
  return inJob_;
}

COMMTIMEOUTS SimPrinter::TimeOuts() {
  std::lock_guard lock(mutex_);
  return timeouts_;
}

void SimPrinter::ClearEvents() {
  std::lock_guard lock(mutex_);
  events_.clear();
}

StatusRecord SimPrinter::CurrentRecord() {
  std::lock_guard lock(mutex_);
  return BuildRecordLocked();
}

// ---- Model -------------------------------------------------------------------------------------

void SimPrinter::Note(When when, unsigned count, Command command) {
  const DWORD now = GetTickCount();
  for (ArmedTrigger& armed : triggers_) {
    const Trigger& trigger = armed.trigger;
    if (!armed.armed && trigger.when == when && trigger.count == count &&
        (when != When::AfterCommand || trigger.command == command)) {
      armed.armed = true;
      armed.armedAt = now;
    }
  }
  RunTriggersLocked();
}

void SimPrinter::RunTriggersLocked() {
  const DWORD now = GetTickCount();
  for (ArmedTrigger& armed : triggers_) {
    if (armed.armed && !armed.fired && now - armed.armedAt >= armed.trigger.delayMs) {
      armed.fired = true;
      ApplyLocked(armed.trigger.change);
    }
  }
}

void SimPrinter::AdvanceRecordNumberLocked() {
  const DWORD now = GetTickCount();
  if (status_.holdRecordNumber || recordPeriodMs_ == 0) {
    recordEpoch_ = now;
    return;
  }
  // Unsigned difference, so a wrap of the tick count keeps the pace.
  const DWORD steps = (now - recordEpoch_) / recordPeriodMs_;
  recordNumber_ = static_cast<BYTE>(recordNumber_ + steps);
  recordEpoch_ += steps * recordPeriodMs_;
}

StatusRecord SimPrinter::BuildRecordLocked() {
  StatusRecord record{};
  record.bStartChar = kStatusStartChar;
  record.bNumMesgBytes = status_.numMesgBytes;
  record.bRecordNumber = recordNumber_;
  record.bCartType = status_.cartType;
  record.bBusyChar = status_.busy ? kStatusBusyChar : kReadyChar;
  record.bErrorFlags = status_.errorFlags;
  WriteLittleEndian32(record.dwYellowSpitsLE, status_.yellowSpits);
  WriteLittleEndian32(record.dwMagentaSpitsLE, status_.magentaSpits);
  WriteLittleEndian32(record.dwCyanSpitsLE, status_.cyanSpits);
  record.bCartStatus = status_.cartStatus;
  record.bNewCart = status_.newCart;
  record.bAlignMarkA = status_.alignMarkA;
  record.bAlignMarkB = status_.alignMarkB;
  record.bEndChar = kStatusEndChar;
  if (status_.numMesgBytes == kStatusRecordSize - 1) {
    // The sum then takes in the checksum byte itself, which matches only when the bytes before it
    // (offsets 1 to 113) sum to 0: the last reserved byte, offset 113, makes them.
    const BYTE* bytes = reinterpret_cast<const BYTE*>(&record);
    BYTE sum = 0;
    for (DWORD i = 1; i < kStatusRecordSize - 3; ++i) {
      sum = static_cast<BYTE>(sum + bytes[i]);
    }
    record.bReserved104[9] = static_cast<BYTE>(0u - sum);
    record.bChecksum = 0;
  } else {
    record.bChecksum = StatusChecksum(record);
  }
  return record;
}

void SimPrinter::InstallNextCartridgeLocked() {
  if (cartridges_.empty()) {
    return;  // the same cartridge went back in
  }
  const Cartridge cartridge = cartridges_.front();
  cartridges_.pop_front();
  status_.cartType = cartridge.cartType;
  status_.yellowSpits = cartridge.yellowSpits;
  status_.magentaSpits = cartridge.magentaSpits;
  status_.cyanSpits = cartridge.cyanSpits;
  status_.cartStatus = cartridge.cartStatus;
  status_.newCart = cartridge.newCart;
}

void SimPrinter::RaiseSpitsLocked(DWORD bytes) {
  const auto rise = [bytes](DWORD perByte) {
    const uint64_t total = static_cast<uint64_t>(bytes) * perByte;
    return total > 0xFFFFFFFFu ? 0xFFFFFFFFu : static_cast<DWORD>(total);
  };
  status_.yellowSpits = SaturatingAdd(status_.yellowSpits, rise(spitsYellow_));
  if (!IsBlackFamily(status_.cartType)) {
    status_.magentaSpits = SaturatingAdd(status_.magentaSpits, rise(spitsMagenta_));
    status_.cyanSpits = SaturatingAdd(status_.cyanSpits, rise(spitsCyan_));
  }
}

void SimPrinter::FinishAlignmentPrintLocked(char family) {
  AlignmentResult result;
  if (!alignmentResults_.empty()) {
    result = alignmentResults_.front();
    alignmentResults_.pop_front();
  }
  status_.cartStatus = result.cartStatus;
  status_.alignMarkA = result.markA;
  status_.alignMarkB = result.markB;
  alignmentPrints_.push_back({family, alignmentBytes_, GetTickCount()});
  Note(When::AfterAlignment, static_cast<unsigned>(alignmentPrints_.size()),
       Command::CartridgeChangeStart);
}

void SimPrinter::ReceivePrintDataLocked(const BYTE* bytes, DWORD count, DataKind* kind) {
  bool alignment = inAlignment_;
  const size_t keep = LongestMarker();
  for (DWORD i = 0; i < count; ++i) {
    window_.push_back(static_cast<char>(bytes[i]));
    if (window_.size() > keep) {
      window_.erase(0, window_.size() - keep);
    }
    if (inAlignment_) {
      ++alignmentBytes_;
      if (EndsWith(window_, kAlignEnd)) {
        inAlignment_ = false;
        FinishAlignmentPrintLocked(alignmentFamily_);
      }
    } else if (EndsWith(window_, kAlignBeginColor) || EndsWith(window_, kAlignBeginBlack)) {
      inAlignment_ = true;
      alignment = true;
      alignmentFamily_ = EndsWith(window_, kAlignBeginBlack) ? 'K' : 'C';
      alignmentBytes_ = static_cast<DWORD>(std::strlen(kAlignBeginColor));
    }
  }
  *kind = alignment ? DataKind::AlignmentPrint : DataKind::JobData;
  RaiseSpitsLocked(count);
}

void SimPrinter::RecordLocked(Event event) {
  event.ticks = GetTickCount();
  events_.push_back(std::move(event));
}

// ---- Port monitor entries ----------------------------------------------------------------------

BOOL SimPrinter::Open() {
  std::lock_guard lock(mutex_);
  RunTriggersLocked();
  if (InjectedFailureLocked()) {
    return FailInjectedLocked(EventKind::Open, ERROR_ACCESS_DENIED);
  }
  Event event;
  event.kind = EventKind::Open;
  event.result = failOpens_ ? FALSE : TRUE;
  RecordLocked(event);
  if (failOpens_) {
    SetLastError(openError_);
    return FALSE;
  }
  open_ = true;
  return TRUE;
}

BOOL SimPrinter::SetTimeOuts(const COMMTIMEOUTS* timeouts) {
  std::lock_guard lock(mutex_);
  RunTriggersLocked();
  if (InjectedFailureLocked()) {
    return FailInjectedLocked(EventKind::SetTimeOuts, ERROR_ACCESS_DENIED);
  }
  if (timeouts != nullptr) {
    timeouts_ = *timeouts;
  }
  Event event;
  event.kind = EventKind::SetTimeOuts;
  event.result = failSetTimeOuts_ ? FALSE : TRUE;
  RecordLocked(event);
  if (failSetTimeOuts_) {
    SetLastError(ERROR_NOT_SUPPORTED);
    return FALSE;
  }
  return TRUE;
}

BOOL SimPrinter::StartDoc(LPCWSTR printerName, DWORD jobId, DWORD level, const BYTE* docInfo) {
  std::lock_guard lock(mutex_);
  RunTriggersLocked();
  if (InjectedFailureLocked()) {
    return FailInjectedLocked(EventKind::StartDoc, ERROR_ACCESS_DENIED);
  }
  Event event;
  event.kind = EventKind::StartDoc;
  event.text = ToU16(printerName);
  event.value = jobId;
  if (level == 1 && docInfo != nullptr) {
    event.documentName = ToU16(reinterpret_cast<const DOC_INFO_1W*>(docInfo)->pDocName);
  }
  event.result = failStartDocs_ ? FALSE : TRUE;
  RecordLocked(event);
  if (failStartDocs_) {
    SetLastError(startDocError_);
    return FALSE;
  }
  inJob_ = true;
  Note(When::AfterJobStart, ++jobStarts_, Command::CartridgeChangeStart);
  return TRUE;
}

BOOL SimPrinter::Write(const BYTE* buffer, DWORD cbBuf, LPDWORD pcbWritten) {
  std::lock_guard lock(mutex_);
  RunTriggersLocked();

  WriteOutcome outcome = writeMode_;
  if (InjectedFailureLocked()) {
    outcome = WriteOutcome{WriteFault::Fail, ERROR_WRITE_FAULT};
  } else if (!writeQueue_.empty()) {
    outcome = writeQueue_.front();
    writeQueue_.pop_front();
  }
  if (buffer == nullptr) {
    cbBuf = 0;
  }

  Event event;
  event.kind = EventKind::Write;
  event.bytes.assign(buffer, buffer + cbBuf);
  event.result = outcome.fault == WriteFault::Fail ? FALSE : TRUE;
  event.accepted = outcome.fault == WriteFault::None      ? cbBuf
                   : outcome.fault == WriteFault::Partial ? std::min(outcome.value, cbBuf)
                                                          : 0;
  if (pcbWritten != nullptr) {
    *pcbWritten = event.accepted;
  }

  const std::optional<Command> command = RecogniseCommand(buffer, cbBuf);
  const bool commandArrived = command && event.result && event.accepted == cbBuf;
  if (command) {
    event.dataKind = DataKind::Command;
    event.command = *command;
  } else if (event.accepted > 0) {
    ReceivePrintDataLocked(buffer, event.accepted, &event.dataKind);
  }
  RecordLocked(event);

  if (commandArrived) {
    if (*command == Command::CartridgeChangeEnd) {
      InstallNextCartridgeLocked();
    } else if (*command == Command::AlignmentFinish) {
      status_.newCart = 0;
      status_.cartStatus &= 0x0F;
    }
    Note(When::AfterCommand, ++commandCounts_[static_cast<size_t>(*command)], *command);
  }

  if (!event.result) {
    SetLastError(outcome.value != 0 ? outcome.value : ERROR_WRITE_FAULT);
  }
  return event.result;
}

BOOL SimPrinter::Read(BYTE* buffer, DWORD cbBuffer, LPDWORD pcbRead) {
  DWORD delay;
  {
    std::lock_guard lock(mutex_);
    delay = readDelayMs_;
  }
  if (delay != 0) {
    Sleep(delay);  // the read waits for the printer
  }

  std::lock_guard lock(mutex_);
  RunTriggersLocked();
  ++reads_;

  ReadOutcome outcome = readMode_;
  if (InjectedFailureLocked()) {
    outcome = ReadOutcome{ReadFault::Fail, ERROR_READ_FAULT};
  } else if (!readQueue_.empty()) {
    outcome = readQueue_.front();
    readQueue_.pop_front();
  }
  if (buffer == nullptr) {
    cbBuffer = 0;
  }

  Event event;
  event.kind = EventKind::Read;
  event.requested = cbBuffer;
  event.result = TRUE;
  DWORD reported = 0;

  if (outcome.fault == ReadFault::Fail) {
    event.result = FALSE;
  } else if (outcome.fault == ReadFault::Empty) {
    reported = 0;
  } else if (!backChannel_.empty()) {
    const DWORD count = std::min<DWORD>(cbBuffer, static_cast<DWORD>(backChannel_.size()));
    event.bytes.assign(backChannel_.begin(), backChannel_.begin() + count);
    backChannel_.erase(backChannel_.begin(), backChannel_.begin() + count);
    reported = count;
  } else if (autoStatus_) {
    AdvanceRecordNumberLocked();
    if (recordPeriodMs_ == 0 && !status_.holdRecordNumber) {
      ++recordNumber_;
    }
    const bool wasBusy = status_.busy;
    status_.busy = wasBusy || outcome.fault == ReadFault::Busy;
    StatusRecord record = BuildRecordLocked();
    status_.busy = wasBusy;

    reported = kStatusRecordSize;
    switch (outcome.fault) {
      case ReadFault::WrongLength:
        reported = outcome.value;
        break;
      case ReadFault::BadStart:
        record.bStartChar = 0x02;
        break;
      case ReadFault::BadEnd:
        record.bEndChar = 0x05;
        break;
      case ReadFault::MesgBytesTooLarge:
        record.bNumMesgBytes = static_cast<BYTE>(outcome.value != 0 ? outcome.value : 116);
        break;
      case ReadFault::BadChecksum:
        if (record.bNumMesgBytes == kStatusRecordSize - 1) {
          ++record.bReserved104[9];  // the checksum byte counts itself: spoil a summed byte
        } else {
          record.bChecksum = static_cast<BYTE>(record.bChecksum ^ 0x5A);
        }
        break;
      default:
        break;
    }
    // Only what fits both the caller's buffer and the record is ever written; what the read
    // reports differs from what it delivered only when that is the fault asked for.
    const DWORD count = std::min({reported, cbBuffer, kStatusRecordSize});
    if (outcome.fault != ReadFault::WrongLength) {
      reported = count;
    }
    const BYTE* bytes = reinterpret_cast<const BYTE*>(&record);
    event.bytes.assign(bytes, bytes + count);
    event.statusRecord = true;
    event.recordNumber = record.bRecordNumber;
  }

  if (!event.bytes.empty()) {
    std::memcpy(buffer, event.bytes.data(), event.bytes.size());
  }
  event.accepted = reported;
  if (pcbRead != nullptr && event.result) {
    *pcbRead = reported;
  }
  const BOOL result = event.result;
  RecordLocked(std::move(event));
  Note(When::AfterReads, reads_, Command::CartridgeChangeStart);

  if (!result) {
    SetLastError(outcome.value != 0 ? outcome.value : ERROR_READ_FAULT);
  }
  return result;
}

BOOL SimPrinter::EndDoc() {
  std::lock_guard lock(mutex_);
  RunTriggersLocked();
  if (InjectedFailureLocked()) {
    return FailInjectedLocked(EventKind::EndDoc, ERROR_ACCESS_DENIED);
  }
  Event event;
  event.kind = EventKind::EndDoc;
  event.result = TRUE;
  RecordLocked(event);
  inJob_ = false;
  Note(When::AfterJobEnd, ++jobEnds_, Command::CartridgeChangeStart);
  return TRUE;
}

BOOL SimPrinter::Close() {
  std::lock_guard lock(mutex_);
  RunTriggersLocked();
  if (InjectedFailureLocked()) {
    return FailInjectedLocked(EventKind::Close, ERROR_ACCESS_DENIED);
  }
  Event event;
  event.kind = EventKind::Close;
  event.result = TRUE;
  RecordLocked(event);
  open_ = false;
  inJob_ = false;
  return TRUE;
}

BOOL SimPrinter::GetPrinterData(DWORD controlId, LPCWSTR valueName, BYTE* out, DWORD cbOut,
                                LPDWORD pcbReturned) {
  std::lock_guard lock(mutex_);
  RunTriggersLocked();
  if (InjectedFailureLocked()) {
    return FailInjectedLocked(EventKind::GetPrinterData, ERROR_ACCESS_DENIED);
  }
  Event event;
  event.kind = EventKind::GetPrinterData;
  event.value = controlId;
  event.text = ToU16(valueName);
  event.result = printerDataResult_;
  if (printerDataResult_) {
    const DWORD count =
        out == nullptr ? 0 : std::min<DWORD>(cbOut, static_cast<DWORD>(printerData_.size()));
    if (count != 0) {
      std::memcpy(out, printerData_.data(), count);
    }
    event.bytes.assign(printerData_.begin(), printerData_.begin() + count);
    if (pcbReturned != nullptr) {
      *pcbReturned = count;
    }
  }
  RecordLocked(event);
  if (!printerDataResult_) {
    SetLastError(printerDataError_);
  }
  return printerDataResult_;
}

// ---- Printers on ports and their port monitor
// ----------------------------------------------------

namespace {

constexpr uint32_t kHandleMagic = 0x53494D50;  // "SIMP"

struct PortHandle {
  uint32_t magic = kHandleMagic;
  std::shared_ptr<SimPrinter> printer;
};

std::mutex gRegistryMutex;
std::vector<std::shared_ptr<SimPrinter>> gPrinters;
std::vector<PortHandle*> gHandles;

std::shared_ptr<SimPrinter> PrinterOrFail(HANDLE hPort) {
  std::shared_ptr<SimPrinter> printer = PrinterOfHandle(hPort);
  if (!printer) {
    SetLastError(ERROR_INVALID_HANDLE);
  }
  return printer;
}

BOOL WINAPI SimOpenPort(LPWSTR pName, PHANDLE pHandle) {
  std::shared_ptr<SimPrinter> printer = FindPrinter(ToU16(pName));
  if (!printer || pHandle == nullptr) {
    SetLastError(ERROR_FILE_NOT_FOUND);
    return FALSE;
  }
  if (!printer->Open()) {
    return FALSE;
  }
  auto* handle = new PortHandle{kHandleMagic, printer};
  {
    std::lock_guard lock(gRegistryMutex);
    gHandles.push_back(handle);
  }
  *pHandle = handle;
  return TRUE;
}

BOOL WINAPI SimSetPortTimeOuts(HANDLE hPort, LPCOMMTIMEOUTS lpCTO, DWORD) {
  auto printer = PrinterOrFail(hPort);
  return printer ? printer->SetTimeOuts(lpCTO) : FALSE;
}

BOOL WINAPI SimStartDocPort(HANDLE hPort, LPWSTR pPrinterName, DWORD JobId, DWORD Level,
                            LPBYTE pDocInfo) {
  auto printer = PrinterOrFail(hPort);
  return printer ? printer->StartDoc(pPrinterName, JobId, Level, pDocInfo) : FALSE;
}

BOOL WINAPI SimWritePort(HANDLE hPort, LPBYTE pBuffer, DWORD cbBuf, LPDWORD pcbWritten) {
  auto printer = PrinterOrFail(hPort);
  return printer ? printer->Write(pBuffer, cbBuf, pcbWritten) : FALSE;
}

BOOL WINAPI SimReadPort(HANDLE hPort, LPBYTE pBuffer, DWORD cbBuffer, LPDWORD pcbRead) {
  auto printer = PrinterOrFail(hPort);
  return printer ? printer->Read(pBuffer, cbBuffer, pcbRead) : FALSE;
}

BOOL WINAPI SimEndDocPort(HANDLE hPort) {
  auto printer = PrinterOrFail(hPort);
  return printer ? printer->EndDoc() : FALSE;
}

BOOL WINAPI SimClosePort(HANDLE hPort) {
  PortHandle* handle = nullptr;
  {
    std::lock_guard lock(gRegistryMutex);
    auto it = std::find(gHandles.begin(), gHandles.end(), static_cast<PortHandle*>(hPort));
    if (it != gHandles.end()) {
      handle = *it;
      gHandles.erase(it);
    }
  }
  if (handle == nullptr) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  const BOOL result = handle->printer->Close();
  delete handle;
  return result;
}

BOOL WINAPI SimGetPrinterDataFromPort(HANDLE hPort, DWORD ControlID, LPWSTR pValueName, LPWSTR,
                                      DWORD, LPWSTR lpOutBuffer, DWORD cbOutBuffer,
                                      LPDWORD lpcbReturned) {
  auto printer = PrinterOrFail(hPort);
  return printer
             ? printer->GetPrinterData(ControlID, pValueName, reinterpret_cast<BYTE*>(lpOutBuffer),
                                       cbOutBuffer, lpcbReturned)
             : FALSE;
}

// Only the address matters: it is what the MONITOR2 form's open expects as its monitor handle.
int gMonitorToken;

BOOL WINAPI SimOpenPort2(HANDLE hMonitor, LPWSTR pName, PHANDLE pHandle) {
  if (hMonitor != PortMonitorHandle()) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  return SimOpenPort(pName, pHandle);
}

DWORD WINAPI SimSendRecvBidiDataFromPort(HANDLE hPort, DWORD, LPCWSTR pAction,
                                         PBIDI_REQUEST_CONTAINER pReqData,
                                         PBIDI_RESPONSE_CONTAINER* ppResData) {
  auto printer = PrinterOrFail(hPort);
  return printer ? printer->SendRecvBidi(pAction, pReqData, ppResData) : ERROR_INVALID_HANDLE;
}

MONITOR MakePortMonitor() {
  MONITOR table{};
  table.pfnOpenPort = SimOpenPort;
  table.pfnStartDocPort = SimStartDocPort;
  table.pfnWritePort = SimWritePort;
  table.pfnReadPort = SimReadPort;
  table.pfnEndDocPort = SimEndDocPort;
  table.pfnClosePort = SimClosePort;
  table.pfnGetPrinterDataFromPort = SimGetPrinterDataFromPort;
  table.pfnSetPortTimeOuts = SimSetPortTimeOuts;
  return table;
}

}  // namespace

std::shared_ptr<SimPrinter> AddPrinter(const std::u16string& portName) {
  auto printer = std::make_shared<SimPrinter>(portName);
  std::lock_guard lock(gRegistryMutex);
  std::erase_if(gPrinters, [&](const auto& p) { return SameName(p->PortName(), portName); });
  gPrinters.push_back(printer);
  return printer;
}

std::shared_ptr<SimPrinter> FindPrinter(const std::u16string& portName) {
  std::lock_guard lock(gRegistryMutex);
  for (const auto& printer : gPrinters) {
    if (SameName(printer->PortName(), portName)) {
      return printer;
    }
  }
  return nullptr;
}

void RemovePrinters() {
  std::lock_guard lock(gRegistryMutex);
  for (PortHandle* handle : gHandles) {
    delete handle;
  }
  gHandles.clear();
  gPrinters.clear();
}

const MONITOR& PortMonitor() {
  static const MONITOR table = MakePortMonitor();
  return table;
}

MONITOR2 AsMonitor2(const MONITOR& entries, decltype(MONITOR2::pfnOpenPort) open) {
  MONITOR2 table{};
  table.cbSize = sizeof(MONITOR2);
  table.pfnOpenPort = open;
  table.pfnStartDocPort = entries.pfnStartDocPort;
  table.pfnWritePort = entries.pfnWritePort;
  table.pfnReadPort = entries.pfnReadPort;
  table.pfnEndDocPort = entries.pfnEndDocPort;
  table.pfnClosePort = entries.pfnClosePort;
  table.pfnGetPrinterDataFromPort = entries.pfnGetPrinterDataFromPort;
  table.pfnSetPortTimeOuts = entries.pfnSetPortTimeOuts;
  return table;
}

MONITOR2 PortMonitor2(bool bidi) {
  MONITOR2 table = AsMonitor2(PortMonitor(), SimOpenPort2);
  if (bidi) {
    table.pfnSendRecvBidiDataFromPort = SimSendRecvBidiDataFromPort;
  }
  return table;
}

HANDLE PortMonitorHandle() { return &gMonitorToken; }

std::shared_ptr<SimPrinter> PrinterOfHandle(HANDLE hPort) {
  std::lock_guard lock(gRegistryMutex);
  auto it = std::find(gHandles.begin(), gHandles.end(), static_cast<PortHandle*>(hPort));
  if (it == gHandles.end() || (*it)->magic != kHandleMagic) {
    return nullptr;
  }
  return (*it)->printer;
}

}  // namespace sim
