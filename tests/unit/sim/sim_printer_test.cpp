#include "sim/sim_printer.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <thread>

#include "platform/host.h"
#include "sim/driver_files.h"

namespace {

using sim::Command;
using sim::When;

constexpr DWORD kTimeoutError = 1460;

// The printer's commands, byte for byte.
const std::vector<BYTE> kChangeStart = {0x1B, 0x2A, 0x05, 0x00};
const std::vector<BYTE> kChangeEnd = {0x1B, 0x2A, 0x05, 0x01};
const std::vector<BYTE> kCartEmpty = {0x1B, 0x2A, 0x6D, 0x04, 0x04};
const std::vector<BYTE> kAlignFinish = {0x1B, 0x04, 0x01, 0x00, 0x0E, 0x00, 0x00, 0x2E,
                                        0xA5, 0x00, 0x0B, 0x40, 0xE0, 0x81, 0x00, 0x01,
                                        0x00, 0x01, 0x01, 0x02, 0x01, 0x00};

class SimPrinterTest : public ::testing::Test {
 protected:
  void SetUp() override {
    host::Reset();
    host::UseVirtualClock(0);
    printer_ = sim::AddPrinter(u"USB001");
    std::u16string name = u"usb001";  // port names compare without regard to case
    ASSERT_TRUE(M().pfnOpenPort(name.data(), &hPort_));
  }
  void TearDown() override { sim::RemovePrinters(); }

  static const MONITOR& M() { return sim::PortMonitor(); }
  StatusRecord Read() {
    StatusRecord record{};
    DWORD cbRead = 0;
    EXPECT_TRUE(M().pfnReadPort(hPort_, reinterpret_cast<LPBYTE>(&record), 116, &cbRead));
    EXPECT_EQ(cbRead, 116u);
    EXPECT_EQ(record.bChecksum, StatusChecksum(record));
    return record;
  }
  DWORD Write(std::vector<BYTE> bytes) {
    DWORD cbWritten = 0;
    M().pfnWritePort(hPort_, bytes.data(), static_cast<DWORD>(bytes.size()), &cbWritten);
    return cbWritten;
  }

  std::shared_ptr<sim::SimPrinter> printer_;
  HANDLE hPort_ = nullptr;
};

TEST_F(SimPrinterTest, RecordsAreValidAndNumberedAtTheConfiguredPace) {
  const StatusRecord first = Read();
  EXPECT_EQ(first.bStartChar, 0x01);
  EXPECT_EQ(first.bEndChar, 0x04);
  EXPECT_EQ(first.bNumMesgBytes, 114);
  std::vector<int> numbers;
  for (DWORD at : {199u, 200u, 650u}) {
    host::AdvanceClock(at - host::Ticks());
    numbers.push_back(Read().bRecordNumber);
  }
  printer_->Apply({.holdRecordNumber = true});
  host::AdvanceClock(1000);
  numbers.push_back(Read().bRecordNumber);
  printer_->Apply({.holdRecordNumber = false, .recordPeriodMs = 0});
  numbers.push_back(Read().bRecordNumber);
  numbers.push_back(Read().bRecordNumber);
  EXPECT_EQ(numbers, (std::vector<int>{1, 2, 4, 4, 5, 6}));
}

TEST_F(SimPrinterTest, CommandsAreRecognisedAndChangeTheCartridge) {
  printer_->QueueCartridges({{.cartType = '0', .yellowSpits = 5, .newCart = 1}});
  Write(kChangeStart);
  Write(kChangeEnd);
  EXPECT_EQ(Read().bCartType, '0');
  EXPECT_EQ(printer_->GetStatus().yellowSpits, 5u);
  Write(kChangeStart);  // nothing queued: the same cartridge goes back in
  Write(kChangeEnd);
  EXPECT_EQ(printer_->GetStatus().yellowSpits, 5u);
  Write(kCartEmpty);
  // One byte off, or one byte more, is print data.
  const std::vector<BYTE> nearlyEmpty = {0x1B, 0x2A, 0x6D, 0x04, 0x05};
  const std::vector<BYTE> longerEnd = {0x1B, 0x2A, 0x05, 0x01, 0x00};
  Write(nearlyEmpty);
  Write(longerEnd);

  printer_->Apply({.cartStatus = 0x5A});
  printer_->QueueWrites({{sim::WriteFault::Partial, 10}});
  Write(kAlignFinish);  // cut short: not a command the printer acts on
  EXPECT_EQ(printer_->GetStatus().cartStatus, 0x5A);
  Write(kAlignFinish);
  EXPECT_EQ(printer_->GetStatus().cartStatus, 0x0A);
  EXPECT_EQ(printer_->GetStatus().newCart, 0);
  EXPECT_EQ(printer_->Commands(),
            (std::vector<Command>{Command::CartridgeChangeStart, Command::CartridgeChangeEnd,
                                  Command::CartridgeChangeStart, Command::CartridgeChangeEnd,
                                  Command::CartridgeEmpty, Command::AlignmentFinish}));
  std::vector<BYTE> printData = nearlyEmpty;
  printData.insert(printData.end(), longerEnd.begin(), longerEnd.end());
  EXPECT_EQ(printer_->JobData(), printData);
}

TEST_F(SimPrinterTest, AnAlignmentPrintIsToldFromJobDataAndReportsItsResult) {
  const std::vector<BYTE> before(30, 'a'), after(10, 'z');
  // 108 bytes: the end marker straddles the two chunks.
  const std::vector<BYTE> print = sim::AlignmentPrintBytes('K', 70);
  printer_->QueueAlignmentResults({{0x50, '(', '('}});
  Write(before);
  Write(std::vector<BYTE>(print.begin(), print.begin() + 100));
  EXPECT_TRUE(printer_->AlignmentPrints().empty());
  Write(std::vector<BYTE>(print.begin() + 100, print.end()));
  Write(after);

  ASSERT_EQ(printer_->AlignmentPrints().size(), 1u);
  EXPECT_EQ(printer_->AlignmentPrints()[0].family, 'K');
  EXPECT_EQ(printer_->AlignmentPrints()[0].bytes, print.size());
  const StatusRecord record = Read();
  EXPECT_EQ(record.bCartStatus, 0x50);
  EXPECT_EQ(record.bAlignMarkA, '(');
  EXPECT_EQ(record.bAlignMarkB, '(');
  std::vector<BYTE> jobData(before.size() + after.size());
  std::copy(after.begin(), after.end(), std::copy(before.begin(), before.end(), jobData.begin()));
  EXPECT_EQ(printer_->JobData(), jobData);
  EXPECT_EQ(sim::Describe(printer_->Events()[3]), "write 8 bytes: alignment print");
}

TEST_F(SimPrinterTest, SpitCountersRiseWithPrintedData) {
  printer_->SetSpitsPerByte(3, 5, 7);
  Write(std::vector<BYTE>(10, 'x'));
  EXPECT_EQ(YellowSpits(Read()), 30u);
  EXPECT_EQ(MagentaSpits(Read()), 50u);
  EXPECT_EQ(CyanSpits(Read()), 70u);
  printer_->Apply({.cartType = '0'});  // a black cartridge uses the yellow channel only
  Write(std::vector<BYTE>(10, 'x'));
  EXPECT_EQ(YellowSpits(Read()), 60u);
  EXPECT_EQ(CyanSpits(Read()), 70u);
}

TEST_F(SimPrinterTest, TriggersChangeTheStateAfterEventsAndTime) {
  printer_->AddTrigger({When::AfterCommand, 1, Command::CartridgeChangeEnd, 0, {.busy = true}});
  printer_->AddTrigger({When::AfterCommand,
                        1,
                        Command::CartridgeChangeEnd,
                        3000,
                        {.cartStatus = 0x20, .busy = false}});
  printer_->AddTrigger({When::Now, 1, {}, 500, {.errorFlags = 0x01}});
  printer_->AddTrigger({When::AfterReads, 2, {}, 0, {.errorFlags = 0x04}});

  Write(kChangeEnd);
  EXPECT_EQ(Read().bBusyChar, 'B');
  EXPECT_EQ(Read().bErrorFlags, 0);  // the second read
  host::AdvanceClock(499);
  EXPECT_EQ(Read().bErrorFlags, 0x04);
  host::AdvanceClock(1);
  EXPECT_EQ(Read().bErrorFlags, 0x01);
  host::AdvanceClock(2499);
  EXPECT_EQ(Read().bBusyChar, 'B');
  host::AdvanceClock(1);
  const StatusRecord settled = Read();
  EXPECT_EQ(settled.bBusyChar, sim::kReadyChar);
  EXPECT_EQ(settled.bCartStatus, 0x20);
}

TEST_F(SimPrinterTest, RawBackChannelDataIsDeliveredInReadsOfTheAskedSize) {
  printer_->QueueBackChannel(std::vector<BYTE>(600, 0x55));
  BYTE buffer[512];
  std::vector<DWORD> counts;
  for (int i = 0; i < 3; ++i) {
    DWORD cbRead = 0;
    EXPECT_TRUE(M().pfnReadPort(hPort_, buffer, 511, &cbRead));
    counts.push_back(cbRead);
    printer_->SetAutoStatus(i != 2);  // once drained: the status record, then nothing
  }
  DWORD cbRead = 99;
  EXPECT_TRUE(M().pfnReadPort(hPort_, buffer, 511, &cbRead));
  counts.push_back(cbRead);
  EXPECT_EQ(counts, (std::vector<DWORD>{511, 89, 116, 0}));
}

TEST_F(SimPrinterTest, PortMonitorEntriesFailAsScriptedAndOnUnknownPortsOrHandles) {
  HANDLE hOther = nullptr;
  std::u16string unknown = u"USB009";
  EXPECT_FALSE(M().pfnOpenPort(unknown.data(), &hOther));
  EXPECT_EQ(GetLastError(), DWORD{ERROR_FILE_NOT_FOUND});

  printer_->FailStartDocs(true, ERROR_BUSY);
  std::u16string printerName = u"Label Printer";
  EXPECT_FALSE(M().pfnStartDocPort(hPort_, printerName.data(), 7, 1, nullptr));
  EXPECT_EQ(GetLastError(), DWORD{ERROR_BUSY});
  printer_->QueueWrites({{sim::WriteFault::Fail, kTimeoutError}});
  EXPECT_EQ(Write({1, 2, 3}), 0u);
  EXPECT_EQ(GetLastError(), DWORD{kTimeoutError});
  printer_->QueueReads({{sim::ReadFault::Fail}});
  DWORD cbRead = 0;
  BYTE buffer[116];
  EXPECT_FALSE(M().pfnReadPort(hPort_, buffer, 116, &cbRead));

  EXPECT_TRUE(M().pfnClosePort(hPort_));
  EXPECT_FALSE(printer_->IsOpen());
  EXPECT_FALSE(M().pfnWritePort(hPort_, buffer, 1, &cbRead));
  EXPECT_EQ(GetLastError(), DWORD{ERROR_INVALID_HANDLE});
}

TEST_F(SimPrinterTest, SeveralPortsCanBeDrivenFromSeveralThreads) {
  auto second = sim::AddPrinter(u"USB002");
  std::u16string name = u"USB002";
  HANDLE hSecond = nullptr;
  ASSERT_TRUE(M().pfnOpenPort(name.data(), &hSecond));
  std::vector<std::thread> threads;
  for (HANDLE h : {hPort_, hPort_, hSecond, hSecond}) {
    threads.emplace_back([h] {
      for (int i = 0; i < 200; ++i) {
        BYTE bytes[10] = {};
        DWORD count = 0;
        M().pfnWritePort(h, bytes, 10, &count);
        M().pfnReadPort(h, bytes, 10, &count);
      }
    });
  }
  for (std::thread& thread : threads) thread.join();
  EXPECT_EQ(printer_->JobData().size(), 4000u);
  EXPECT_EQ(second->Reads(), 400u);
  M().pfnClosePort(hSecond);
}

TEST_F(SimPrinterTest, TheRegisteredPrintersDriverLivesInTheDriverFolder) {
  const std::string folder =
      (std::filesystem::temp_directory_path() / "langmon-sim-driver").string();
  sim::RegisterPrinter(u"Label Printer", folder);
  std::u16string name = u"Label Printer";
  HANDLE hPrinter = nullptr;
  ASSERT_TRUE(OpenPrinterW(name.data(), &hPrinter, nullptr));
  BYTE info[1024];
  DWORD cbNeeded = 0;
  ASSERT_TRUE(GetPrinterDriverW(hPrinter, nullptr, 2, info, sizeof(info), &cbNeeded));
  const auto* driver = reinterpret_cast<const DRIVER_INFO_2W*>(info);
  EXPECT_EQ(host::NativePath(std::u16string(driver->pDriverPath)), folder + "/LABELDRV.DLL");
  ClosePrinter(hPrinter);
}

TEST_F(SimPrinterTest, Monitor2FormOpensWithItsMonitorHandleAndAnswersBidiThroughTheSpooler) {
  const MONITOR2 table = sim::PortMonitor2();
  EXPECT_EQ(table.cbSize, sizeof(MONITOR2));
  std::u16string name = u"USB001";
  HANDLE second = nullptr;
  int other = 0;
  EXPECT_FALSE(table.pfnOpenPort(&other, name.data(), &second));
  EXPECT_EQ(GetLastError(), 6u);
  ASSERT_TRUE(table.pfnOpenPort(sim::PortMonitorHandle(), name.data(), &second));
  EXPECT_EQ(sim::PrinterOfHandle(second), printer_);

  std::u16string schema = u"\\Printer.Sim";
  std::u16string action = u"GetAll";
  BIDI_REQUEST_CONTAINER requests = {1, 0, 1, {{4, schema.data(), {}}}};
  PBIDI_RESPONSE_CONTAINER responses = nullptr;
  ASSERT_EQ(table.pfnSendRecvBidiDataFromPort(second, 0, action.data(), &requests, &responses), 0u);
  ASSERT_NE(responses, nullptr);
  ASSERT_EQ(responses->Count, 1u);
  EXPECT_EQ(responses->aData[0].dwReqNumber, 4u);
  EXPECT_EQ(std::u16string(responses->aData[0].pSchema), schema);
  EXPECT_EQ(std::u16string(responses->aData[0].data.u.sData), u"USB001");
  EXPECT_EQ(RouterFreeBidiResponseContainer(responses), 0u);
  EXPECT_EQ(sim::Describe(printer_->Events().back()), "bidi GetAll \\Printer.Sim (1 requests)");

  printer_->SetBidiResult(13004);
  responses = nullptr;
  EXPECT_EQ(table.pfnSendRecvBidiDataFromPort(second, 0, action.data(), &requests, &responses),
            13004u);
  EXPECT_EQ(responses, nullptr);
  EXPECT_EQ(sim::PortMonitor2(false).pfnSendRecvBidiDataFromPort, nullptr);
  EXPECT_TRUE(table.pfnClosePort(second));
}

}  // namespace
