#include "printer/status_reader.h"

#include <gtest/gtest.h>

#include <cstring>
#include <memory>

#include "tests/support/monitor_test.h"
#include "tests/support/sim_port.h"

namespace langmon_test {
namespace {

using sim::ReadFault;
using sim::ReadOutcome;

class StatusReaderTest : public MonitorTest {
 protected:
  void SetUp() override {
    MonitorTest::SetUp();
    StartPrinter(0);
  }
  void TearDown() override {
    sim_.reset();
    MonitorTest::TearDown();
  }
  // The printer is switched on at the clock's start, so its record numbers keep pace from there.
  void StartPrinter(DWORD startTicks) {
    sim_.reset();
    host::UseVirtualClock(startTicks);
    sim_ = std::make_unique<SimPort>();
    ASSERT_TRUE(sim_->Opened());
  }
  IniPort* Port() { return sim_->Port(); }
  sim::SimPrinter& Printer() { return sim_->Printer(); }
  void HoldRecordNumber() {
    sim::Status status = Printer().GetStatus();
    status.holdRecordNumber = true;
    Printer().SetStatus(status);
  }
  static std::vector<std::string> Errors() {
    std::vector<std::string> errors;
    for (const std::string& line : LogLines()) {
      if (line.rfind(Error(""), 0) == 0) errors.push_back(line);
    }
    return errors;
  }

  std::unique_ptr<SimPort> sim_;
};

TEST_F(StatusReaderTest, RecordsWithTheReferenceNumberAreNotFreshOnlyTheNextNumberIs) {
  HoldRecordNumber();  // 1, 1, then a new number on every read
  Printer().AddTrigger({sim::When::AfterReads,
                        2,
                        {},
                        0,
                        sim::StateChange{.holdRecordNumber = false, .recordPeriodMs = 0}});
  StatusRecord record{};
  EXPECT_TRUE(GetRoboStatusUSB(Port(), &record, 120000, TRUE));
  EXPECT_EQ(Printer().Reads(), 3u);
  EXPECT_EQ(record.bRecordNumber, 2);
  EXPECT_EQ(host::Ticks(), 100u);  // two 50 ms pauses
  EXPECT_TRUE(Errors().empty());
}

TEST_F(StatusReaderTest, ANewRecordNumberArrivesAtThePrintersPace) {
  StatusRecord record{};
  EXPECT_TRUE(GetRoboStatusUSB(Port(), &record, 120000, TRUE));
  EXPECT_EQ(record.bRecordNumber, 2);
  EXPECT_EQ(host::Ticks(), 200u);
}

struct Rejection {
  ReadOutcome outcome;
  BYTE numMesgBytes;
  std::vector<std::string> errors;
  unsigned reads = 3;  // rejected, reference, fresh
};

class StatusReaderRejection : public StatusReaderTest,
                              public ::testing::WithParamInterface<Rejection> {};

// Each invalid attempt is logged and retried; it neither ends the call nor becomes the reference.
TEST_P(StatusReaderRejection, IsLoggedAndRetried) {
  const Rejection& row = GetParam();
  Printer().SetRecordPeriod(0);
  Printer().Apply({.numMesgBytes = row.numMesgBytes});
  Printer().QueueReads({row.outcome});
  struct {
    StatusRecord record;
    BYTE guard[64];
  } buffer;
  std::memset(&buffer, 0xCC, sizeof(buffer));

  EXPECT_TRUE(GetRoboStatusUSB(Port(), &buffer.record, 120000, TRUE));
  EXPECT_EQ(Printer().Reads(), row.reads);
  EXPECT_EQ(Errors(), row.errors);
  EXPECT_EQ(buffer.record.bChecksum, StatusChecksum(buffer.record));
  for (BYTE b : buffer.guard) ASSERT_EQ(b, 0xCC);
}

const std::string kWrongCount = "GetRoboStatusUSB: Wrong number of status bytes: ";
const std::string kRightCount = "GetRoboStatusUSB: Correct number status bytes: 116\n";
const std::string kWrongChar = "GetRoboStatusUSB: Wrong Start or End Character.\n";
const std::string kTooLarge = "GetRoboStatusUSB: bNumMesgBytes too large: 116\n";
const std::string kChecksum = "CHECKSUM ERROR!! TRY AGAIN.\n";

INSTANTIATE_TEST_SUITE_P(
    EachRule, StatusReaderRejection,
    ::testing::Values(
        Rejection{{ReadFault::Fail}, 114, {}},
        Rejection{{ReadFault::Empty}, 114, {Error(kWrongCount + "0\n"), Error(kRightCount)}},
        Rejection{
            {ReadFault::WrongLength, 115}, 114, {Error(kWrongCount + "115\n"), Error(kRightCount)}},
        // A port monitor claiming more than the buffer holds is never trusted.
        Rejection{
            {ReadFault::WrongLength, 200}, 114, {Error(kWrongCount + "200\n"), Error(kRightCount)}},
        Rejection{{ReadFault::BadStart}, 114, {Error(kWrongChar)}},
        Rejection{{ReadFault::BadEnd}, 114, {Error(kWrongChar)}},
        Rejection{{ReadFault::MesgBytesTooLarge, 116}, 114, {Error(kTooLarge)}},
        Rejection{{ReadFault::MesgBytesTooLarge, 255}, 114, {Error(kTooLarge)}},
        Rejection{{ReadFault::BadChecksum}, 114, {Error(kChecksum)}},
        Rejection{{ReadFault::BadChecksum}, 115, {Error(kChecksum)}},
        Rejection{{ReadFault::BadChecksum}, 1, {Error(kChecksum)}},
        // Message counts that are valid: the checksum range may be empty or take in the
        // checksum byte itself.
        Rejection{{ReadFault::None}, 0, {}, 2}, Rejection{{ReadFault::None}, 1, {}, 2},
        Rejection{{ReadFault::None}, 115, {}, 2}));

TEST(StatusChecksumTest, SumsTheBytesFromTheCountUpToBeforeTheCountsEnd) {
  StatusRecord record{};
  record.bNumMesgBytes = 4;
  record.bReserved2 = 0x10;
  record.bRecordNumber = 0xF0;
  record.bReserved4[0] = 0x77;  // offset 4: outside the range
  EXPECT_EQ(StatusChecksum(record), (4 + 0x10 + 0xF0) & 0xFF);
  record.bNumMesgBytes = 1;
  EXPECT_EQ(StatusChecksum(record), 0);
}

TEST_F(StatusReaderTest, BusyRecordsAreNeitherReferenceNorFreshWhenSkipped) {
  Printer().SetRecordPeriod(0);
  Printer().QueueReads({{ReadFault::Busy}, {ReadFault::Busy}});
  StatusRecord record{};
  EXPECT_TRUE(GetRoboStatusUSB(Port(), &record, 120000, TRUE));
  EXPECT_EQ(record.bRecordNumber, 5);  // busy 2 and 3, reference 4

  Printer().QueueReads({{ReadFault::Busy}, {ReadFault::Busy}});
  EXPECT_TRUE(GetRoboStatusUSB(Port(), &record, 120000, FALSE));
  EXPECT_EQ(record.bRecordNumber, 7);
  EXPECT_EQ(record.bBusyChar, 'B');
}

struct AtTimeout {
  const char* name;
  bool busy;
  ReadOutcome afterFirstRead;
  BOOL expected;
};

class StatusReaderAtTimeout : public StatusReaderTest,
                              public ::testing::WithParamInterface<AtTimeout> {};

// Whatever came before, the last attempt alone decides the result at the timeout.
TEST_P(StatusReaderAtTimeout, TheLastAttemptDecides) {
  const AtTimeout& row = GetParam();
  HoldRecordNumber();
  Printer().Apply({.busy = row.busy});
  Printer().AddTrigger({sim::When::AfterReads, 1, {}, 0, {.readMode = row.afterFirstRead}});
  StatusRecord record{};
  EXPECT_EQ(GetRoboStatusUSB(Port(), &record, 1000, TRUE), row.expected);
  EXPECT_EQ(host::Ticks(), 1050u);
  EXPECT_TRUE(Logged(Error("GetRoboStatusUSB: TIMED OUT.\n")));
  EXPECT_EQ(Logged(Inform("OemPtrGetRoboStatus() returning (FALSE)\n")), !row.expected);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, StatusReaderAtTimeout,
    ::testing::Values(AtTimeout{"SameNumberThroughout", false, {}, TRUE},
                      AtTimeout{"OnlyBusyRecords", true, {}, TRUE},
                      AtTimeout{
                          "ReferenceThenBadChecksums", false, {ReadFault::BadChecksum}, FALSE},
                      AtTimeout{"ReferenceThenFailedReads", false, {ReadFault::Fail}, FALSE}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(StatusReaderTest, ATickCountWrapDoesNotEndTheWait) {
  StartPrinter(0xFFFFFFFFu - 100);
  HoldRecordNumber();
  StatusRecord record{};
  EXPECT_TRUE(GetRoboStatusUSB(Port(), &record, 1000, TRUE));
  EXPECT_EQ(host::Ticks() - (0xFFFFFFFFu - 100), 1050u);
}

TEST_F(StatusReaderTest, TimeoutZeroReadsUntilTheTickCountHasMoved) {
  HoldRecordNumber();
  StatusRecord record{};
  EXPECT_TRUE(GetRoboStatusUSB(Port(), &record, 0, TRUE));
  EXPECT_EQ(Printer().Reads(), 2u);  // the clock moves only in the pause

  Printer().SetReadDelay(5);  // a read that takes time: the first check already ends it
  EXPECT_TRUE(GetRoboStatusUSB(Port(), &record, 0, TRUE));
  EXPECT_EQ(Printer().Reads(), 3u);
}

// ---- WaitForPrinterStatus and the progress dialog ---------------------------------------------

struct WaitCase {
  const char* name;
  ReadOutcome mode;
  BOOL expected;
  DWORD minTicks, maxTicks;
};

class ProgressWait : public StatusReaderTest, public ::testing::WithParamInterface<WaitCase> {};

TEST_P(ProgressWait, ShowsTheDialogForTheWholeWaitAndDestroysIt) {
  const WaitCase& row = GetParam();
  Printer().SetReadMode(row.mode);
  std::vector<host::DialogRecord> duringWait;
  host::OnSleep([&](DWORD) {
    if (!duringWait.empty()) return;
    duringWait = host::Dialogs();
    // Uncovered during the wait: it must be painted again while the wait goes on.
    ShowWindow(duringWait[0].window, SW_HIDE);
    ShowWindow(duringWait[0].window, SW_SHOW);
  });

  StatusRecord record{};
  EXPECT_EQ(WaitForPrinterStatus(Port(), &record, 10000, TRUE), row.expected);
  host::OnSleep(nullptr);

  ASSERT_EQ(duringWait.size(), 1u);  // the observer has re-shown it
  const host::DialogRecord& open = duringWait[0];
  EXPECT_EQ(open.templateId, 433u);
  EXPECT_EQ(open.caption, u"Aligning the Printer...");
  EXPECT_EQ(open.controlId, 432);
  EXPECT_EQ(open.controlText, u"Aligning the printer...");
  EXPECT_TRUE(open.visible && open.alive);
  ASSERT_EQ(host::Dialogs().size(), 1u);
  EXPECT_FALSE(host::Dialogs()[0].alive);
  EXPECT_EQ(host::Dialogs()[0].messagesDispatched, 2u);
  EXPECT_TRUE(Logged(Inform("OemDlgProcAlignProgress(WM_INITDIALOG) Called\n")));
  EXPECT_EQ(Logged(Error("**** TIMED OUT Waiting for Status update\n")), !row.expected);
  EXPECT_GE(host::Ticks(), row.minTicks);
  EXPECT_LE(host::Ticks(), row.maxTicks);

  // Servicing the dialog leaves the pauses their length: reads stay 50 ms apart.
  std::vector<DWORD> readTicks;
  for (const sim::Event& event : Printer().Events()) {
    if (event.kind == sim::EventKind::Read) readTicks.push_back(event.ticks);
  }
  for (size_t i = 1; i < readTicks.size(); ++i) {
    const DWORD gap = readTicks[i] - readTicks[i - 1];
    EXPECT_TRUE(gap == 50 || gap == 150) << gap;  // 150: the wait's own 100 ms pause between
  }
}

INSTANTIATE_TEST_SUITE_P(Outcomes, ProgressWait,
                         ::testing::Values(WaitCase{"Fresh", {}, 1, 200, 200},
                                           // A wait that fails lasts a little more than its
                                           // timeout: the reader's last pause, then its own.
                                           WaitCase{
                                               "TimedOut", {ReadFault::Fail}, 0, 10001, 10150}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(StatusReaderTest, AWaitWithoutADialogGoesOnWhenItCannotBeCreatedOrIsNotWanted) {
  StatusRecord record{};
  host::FailDialogCreation(1);
  EXPECT_EQ(WaitForPrinterStatus(Port(), &record, 10000, TRUE), 1);
  EXPECT_EQ(WaitForPrinterStatus(Port(), &record, 10000, FALSE), 1);
  EXPECT_TRUE(host::Dialogs().empty());
}

TEST(ProgressDialogProcedure, HandlesOnlyItsOwnControlAndNeverClosesItself) {
  EXPECT_TRUE(OemDlgProcAlignProgress(nullptr, WM_COMMAND, 432, 0));
  EXPECT_TRUE(OemDlgProcAlignProgress(nullptr, WM_COMMAND, 0x10000 | 432, 0));
  EXPECT_FALSE(OemDlgProcAlignProgress(nullptr, WM_COMMAND, IDOK, 0));
  EXPECT_FALSE(OemDlgProcAlignProgress(nullptr, WM_CLOSE, 0, 0));
  EXPECT_FALSE(OemDlgProcAlignProgress(nullptr, WM_PAINT, 0, 0));
}

}  // namespace
}  // namespace langmon_test
