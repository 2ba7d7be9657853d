#include <algorithm>
#include <cstddef>

#include "sim/sim_printer.h"
#include "tests/support/fake_port_monitor.h"
#include "tests/support/monitor_test.h"

namespace langmon_test {
namespace {

class PortRecordsTest : public MonitorTest {
 protected:
  void SetUp() override {
    MonitorTest::SetUp();
    ResetFakePort();
    table_ = FakePortMonitorTable();
  }

  BOOL Open(const std::u16string& name, HANDLE* handle) {
    std::u16string copy = name;
    return PJLMonOpenPortEx(copy.data(), const_cast<LPWSTR>(WSTR("Label A")), handle, &table_);
  }

  static size_t PortCount() {
    size_t count = 0;
    for (IniPort* port = pIniFirstPort; port != nullptr; port = port->pNext) {
      ++count;
    }
    return count;
  }

  MONITOR table_ = {};
};

TEST_F(PortRecordsTest, OpensThroughThePortMonitorAndCopiesItsTable) {
  HANDLE handle = nullptr;
  ASSERT_TRUE(Open(u"USB001", &handle));
  IniPort* port = PortOfHandle(handle);
  EXPECT_EQ(port->signature, 0x4F4Au);
  EXPECT_EQ(port->hPort, FakePortHandle());
  EXPECT_EQ(port->PortMonitor.pfnWritePort, table_.pfnWritePort);
  EXPECT_EQ(port->status, 0u);
  EXPECT_EQ(pIniFirstPort, port);
  const COMMTIMEOUTS& t = TheFakePort().timeouts;
  EXPECT_EQ(t.ReadIntervalTimeout, 200u);
  EXPECT_EQ(t.ReadTotalTimeoutMultiplier, 0u);
  EXPECT_EQ(t.ReadTotalTimeoutConstant, 5000u);
  EXPECT_EQ(t.WriteTotalTimeoutMultiplier, 0u);
  EXPECT_EQ(t.WriteTotalTimeoutConstant, 120000u);
  EXPECT_EQ(LogLines(),
            (std::vector<std::string>{Inform("**** PJLMonOpenPortEx Called\n"),
                                      Inform("**** PJLMonOpenPortEx Return\n"),
                                      Inform("**** PJLMonOpenPortEx Return Cleanup\n")}));

  EXPECT_TRUE(PJLMonClosePort(handle));
  EXPECT_EQ(pIniFirstPort, nullptr);
  EXPECT_EQ(TheFakePort().calls.back(), "ClosePort");
  EXPECT_EQ(LeakedAllocations(), 0);
  EXPECT_EQ(host::OpenEvents(), 0);
}

TEST_F(PortRecordsTest, RefusesAPortMonitorWithoutARequiredEntry) {
  const MONITOR full = FakePortMonitorTable();
  for (int missing = 0; missing < 5; ++missing) {
    table_ = full;
    switch (missing) {
      case 0:
        table_.pfnOpenPort = nullptr;
        break;
      case 1:
        table_.pfnStartDocPort = nullptr;
        break;
      case 2:
        table_.pfnWritePort = nullptr;
        break;
      case 3:
        table_.pfnReadPort = nullptr;
        break;
      case 4:
        table_.pfnClosePort = nullptr;
        break;
    }
    ClearLog();
    HANDLE handle = nullptr;
    EXPECT_FALSE(Open(u"USB001", &handle));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PRINT_MONITOR));
    EXPECT_EQ(pIniFirstPort, nullptr);
    EXPECT_EQ(LogLines(), (std::vector<std::string>{
                              Inform("**** PJLMonOpenPortEx Called\n"),
                              Inform("**** PjlMon: Invalid port monitors passed to OpenPortEx\n"),
                              Inform("**** PJLMonOpenPortEx Return Cleanup\n")}));
  }
  HANDLE handle = nullptr;
  EXPECT_FALSE(PJLMonOpenPortEx(const_cast<LPWSTR>(WSTR("USB001")), nullptr, &handle, nullptr));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PRINT_MONITOR));
}

TEST_F(PortRecordsTest, OptionalEntriesMayBeMissing) {
  table_.pfnEndDocPort = nullptr;
  table_.pfnSetPortTimeOuts = nullptr;
  table_.pfnGetPrinterDataFromPort = nullptr;
  HANDLE handle = nullptr;
  ASSERT_TRUE(Open(u"USB001", &handle));
  EXPECT_TRUE(Logged(Inform("**** PJLMonOpenPortEx Return\n")));
  EXPECT_EQ(std::count(TheFakePort().calls.begin(), TheFakePort().calls.end(), "SetPortTimeOuts"),
            0);
}

TEST_F(PortRecordsTest, FailingTimeoutsAreLoggedButTheOpenSucceeds) {
  TheFakePort().setTimeoutsSucceeds = false;
  HANDLE handle = nullptr;
  EXPECT_TRUE(Open(u"USB001", &handle));
  EXPECT_EQ(LogLines(),
            (std::vector<std::string>{Inform("**** PJLMonOpenPortEx Called\n"),
                                      Inform("**** PjlMon: OpenPort unable to set timeouts\n"),
                                      Inform("**** PJLMonOpenPortEx Return Cleanup\n")}));
}

TEST_F(PortRecordsTest, SecondOpenOfTheSameNameInAnyCaseIsBusy) {
  HANDLE first = nullptr;
  ASSERT_TRUE(Open(u"USB001", &first));
  HANDLE second = nullptr;
  ClearLog();
  EXPECT_FALSE(Open(u"usb001", &second));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_BUSY));
  EXPECT_EQ(second, nullptr);
  EXPECT_EQ(PortCount(), 1u);
  EXPECT_EQ(LogLines(),
            (std::vector<std::string>{Inform("**** PJLMonOpenPortEx Called\n"),
                                      Inform("**** PjlMon: Couldn't find port OpenPortEx\n"),
                                      Inform("**** PJLMonOpenPortEx Return Cleanup\n")}));
  HANDLE other = nullptr;
  EXPECT_TRUE(Open(u"USB002", &other));
  EXPECT_EQ(PortCount(), 2u);
  EXPECT_EQ(pIniFirstPort, PortOfHandle(other));  // newest first
}

TEST_F(PortRecordsTest, FailedPortMonitorOpenLeavesNoRecordAndCanBeRetried) {
  TheFakePort().openSucceeds = false;
  TheFakePort().failureError = 1167;
  HANDLE handle = nullptr;
  EXPECT_FALSE(Open(u"USB001", &handle));
  EXPECT_EQ(GetLastError(), 1167u);
  EXPECT_EQ(pIniFirstPort, nullptr);
  EXPECT_EQ(LogLines(),
            (std::vector<std::string>{Inform("**** PJLMonOpenPortEx Called\n"),
                                      Inform("**** PjlMon: OpenPort USB001 : Failed\n"),
                                      Inform("**** PJLMonOpenPortEx Return\n"),
                                      Inform("**** PJLMonOpenPortEx Return Cleanup\n")}));
  EXPECT_EQ(LeakedAllocations(), 0);
  EXPECT_EQ(host::OpenEvents(), 0);

  // A name far longer than a path: the spooler still gets the port monitor's reason, and the
  // line keeps its ending with as much of the name as fits (454 bytes behind the prefix).
  ClearLog();
  const std::u16string longName = u"IP_" + std::u16string(600, u'7');
  EXPECT_FALSE(Open(longName, &handle));
  EXPECT_EQ(GetLastError(), 1167u);
  EXPECT_TRUE(Logged(Inform("**** PjlMon: OpenPort IP_" + std::string(451, '7') + " : Failed\n")));

  TheFakePort().openSucceeds = true;
  EXPECT_TRUE(Open(u"USB001", &handle));
  EXPECT_EQ(std::count(TheFakePort().calls.begin(), TheFakePort().calls.end(), "OpenPort"), 3);
}

// The allocator may offer a closed port's block again; the new port's handle still differs.
TEST_F(PortRecordsTest, AllocationFailureAtEachStepLeavesNothingBehind) {
  HANDLE closed = nullptr;
  ASSERT_TRUE(Open(u"USB001", &closed));
  ASSERT_TRUE(PJLMonClosePort(closed));
  TheFakePort().calls.clear();
  const long liveBefore = host::LiveAllocations();
  HANDLE handle = nullptr;
  unsigned nth = 1;
  for (; nth <= 10; ++nth) {
    ClearLog();
    host::FailAllocation(nth);
    const BOOL opened = Open(u"USB001", &handle);
    host::FailAllocation(0);
    if (opened) {
      break;
    }
    EXPECT_EQ(pIniFirstPort, nullptr);
    EXPECT_EQ(host::LiveAllocations(), liveBefore) << "allocation " << nth;
    EXPECT_EQ(host::OpenEvents(), 0);
    EXPECT_TRUE(Logged(Inform("**** PjlMon: OpenPort USB001 : Failed\n")));
    EXPECT_TRUE(TheFakePort().calls.empty()) << "the port monitor is not asked";
  }
  // The record and the name at least.
  EXPECT_GE(nth, 3u);
  EXPECT_NE(handle, closed);
  EXPECT_TRUE(PJLMonClosePort(handle));
  EXPECT_EQ(LeakedAllocations(), 0);
}

// No port to open: refused before the port monitor is asked, and nothing is listed.
TEST_F(PortRecordsTest, NoOrEmptyNameIsRefusedAndNeverFoundAsOpen) {
  HANDLE handle = nullptr;
  SetLastError(0);
  EXPECT_FALSE(Open(u"", &handle));
  EXPECT_EQ(GetLastError(), 87u);
  SetLastError(0);
  EXPECT_FALSE(PJLMonOpenPortEx(nullptr, const_cast<LPWSTR>(WSTR("Label A")), &handle, &table_));
  EXPECT_EQ(GetLastError(), 87u);
  EXPECT_EQ(handle, nullptr);
  EXPECT_TRUE(TheFakePort().calls.empty());
  EXPECT_EQ(PortCount(), 0u);
  EXPECT_EQ(FindPortRecord(WSTR("")), nullptr);
  EXPECT_EQ(FindPortRecord(nullptr), nullptr);
  EXPECT_EQ(LeakedAllocations(), 0);
}

// Only an open port's handle is used: a port closed already is refused without reading its freed
// record (AddressSanitizer would report it), whatever the entry. That holds while the same port is
// opened and closed 3,000 times, the allocator offering the closed ports' blocks anew: no later
// port takes a closed one's handle, and the first port's handle, tried at every round, never
// reaches the port monitor.
TEST_F(PortRecordsTest, CloseRefusesHandlesThatAreNotOpenPorts) {
  DWORD notAPort[4] = {0x1234, 0, 0, 0};
  // A block that carries the port signature but was never opened.
  IniPort lookalike = {};
  lookalike.signature = 0x4F4A;
  std::vector<HANDLE> closed;
  HANDLE open = nullptr;
  BYTE byte = 0;
  DWORD count = 0;
  constexpr int kRounds = 3000;
  for (int round = 0; round < kRounds; ++round) {
    ASSERT_TRUE(Open(u"USB001", &open));
    if (!closed.empty()) {
      ASSERT_NE(open, closed.front()) << "round " << round;
      const size_t before = TheFakePort().calls.size();
      SetLastError(0);
      ASSERT_FALSE(PJLMonReadPort(closed.front(), &byte, 1, &count)) << "round " << round;
      ASSERT_EQ(GetLastError(), 87u);
      ASSERT_FALSE(PJLWritePort(closed.front(), &byte, 1, &count)) << "round " << round;
      ASSERT_EQ(TheFakePort().calls.size(), before) << "round " << round << " reached a port";
    }
    if (round < kRounds - 1) {
      ASSERT_TRUE(PJLMonClosePort(open));
      closed.push_back(open);
    }
  }
  std::sort(closed.begin(), closed.end());
  EXPECT_EQ(std::adjacent_find(closed.begin(), closed.end()), closed.end())
      << "a handle was given twice";
  EXPECT_FALSE(std::binary_search(closed.begin(), closed.end(), open));
  const size_t portMonitorCalls = TheFakePort().calls.size();
  for (HANDLE handle : {static_cast<HANDLE>(nullptr), static_cast<HANDLE>(notAPort),
                        static_cast<HANDLE>(&lookalike), closed.front(), closed.back()}) {
    ExpectEveryEntryRefuses(handle);
  }
  EXPECT_EQ(TheFakePort().calls.size(), portMonitorCalls) << "the port monitor was called";
  EXPECT_EQ(PortCount(), 1u);
  EXPECT_TRUE(PJLMonClosePort(open));
  EXPECT_EQ(LeakedAllocations(), 0);
  EXPECT_EQ(host::OpenEvents(), 0);
}

TEST_F(PortRecordsTest, ClosingDropsListedJobsWithoutTellingTheSpooler) {
  host::Printer printer;
  printer.name = u"Label A";
  host::AddPrinter(printer);
  HANDLE handle = nullptr;
  ASSERT_TRUE(Open(u"USB001", &handle));
  IniPort* port = PortOfHandle(handle);
  for (DWORD id : {7u, 8u}) {
    IniJob* job = static_cast<IniJob*>(AllocZeroed(sizeof(IniJob)));
    ASSERT_NE(job, nullptr);
    ASSERT_TRUE(OpenPrinterW(const_cast<LPWSTR>(WSTR("Label A")), &job->hPrinter, nullptr));
    job->JobId = id;
    job->pNext = port->pIniJob;
    port->pIniJob = job;
  }
  SetPortStatus(port, PORT_IN_JOB);
  EXPECT_TRUE(PJLMonClosePort(handle));
  EXPECT_EQ(host::OpenPrinterHandles(), 0);
  EXPECT_TRUE(host::SetJobCalls().empty());
  EXPECT_EQ(LeakedAllocations(), 0);
  EXPECT_EQ(LogLines().back(), Inform("**** PJLMonClosePort Returning\n"));
}

TEST_F(PortRecordsTest, DeletingARecordThatIsNotListedChangesNothing) {
  HANDLE handle = nullptr;
  ASSERT_TRUE(Open(u"USB001", &handle));
  IniPort stranger = {};
  EnterMonitorLock();
  DeletePortRecord(&stranger);
  LeaveMonitorLock();
  EXPECT_EQ(pIniFirstPort, PortOfHandle(handle));
  EXPECT_EQ(pIniFirstPort->pNext, nullptr);
}

// ---- The port monitor's MONITOR2 form ------------------------------------------------------

HANDLE gMonitorHandleSeen = nullptr;

BOOL WINAPI OpenPortOfMonitor2(HANDLE hMonitor, LPWSTR pName, PHANDLE pHandle) {
  gMonitorHandleSeen = hMonitor;
  return fake_port_detail::OpenPort(pName, pHandle);
}

class Monitor2PortTest : public PortRecordsTest {
 protected:
  void SetUp() override {
    PortRecordsTest::SetUp();
    gMonitorHandleSeen = nullptr;
    table2_ = sim::AsMonitor2(table_, OpenPortOfMonitor2);
  }

  BOOL Open2(const std::u16string& printer, HANDLE* handle, LPMONITOR2 table) {
    std::u16string port = u"USB001";
    std::u16string printerCopy = printer;
    return PJLMonOpenPortEx2(&MonitorTable2, portMonitorHandle_, port.data(), printerCopy.data(),
                             handle, table);
  }

  MONITOR2 table2_ = {};
  int token_ = 0;
  HANDLE portMonitorHandle_ = &token_;
};

TEST_F(Monitor2PortTest, OpensWithThePortMonitorsOwnHandleAndServesThePortAsTheOtherForm) {
  HANDLE handle = nullptr;
  ASSERT_TRUE(Open2(u"Label A", &handle, &table2_));
  EXPECT_EQ(gMonitorHandleSeen, portMonitorHandle_);
  IniPort* port = PortOfHandle(handle);
  EXPECT_EQ(port->hPort, FakePortHandle());
  EXPECT_EQ(std::u16string(port->szPrinterName), u"Label A");
  EXPECT_EQ(TheFakePort().timeouts.WriteTotalTimeoutConstant, 120000u);
  EXPECT_EQ(LogLines(),
            (std::vector<std::string>{Inform("**** PJLMonOpenPortEx Called\n"),
                                      Inform("**** PJLMonOpenPortEx Return\n"),
                                      Inform("**** PJLMonOpenPortEx Return Cleanup\n")}));

  // Reads, writes and the status query reach the port monitor on its own handle.
  TheFakePort().pendingReads.push_back({1, 2, 3});
  BYTE buffer[8] = {};
  DWORD count = 0;
  EXPECT_TRUE(MonitorTable2.pfnReadPort(handle, buffer, sizeof(buffer), &count));
  EXPECT_EQ(count, 3u);
  EXPECT_TRUE(
      MonitorTable2.pfnGetPrinterDataFromPort(handle, 5, nullptr, nullptr, 0, nullptr, 0, &count));
  EXPECT_EQ(TheFakePort().lastControlId, 5u);
  EXPECT_TRUE(MonitorTable2.pfnClosePort(handle));
  EXPECT_EQ(TheFakePort().calls,
            (std::vector<std::string>{"OpenPort", "SetPortTimeOuts", "ReadPort",
                                      "GetPrinterDataFromPort", "ClosePort"}));
  EXPECT_EQ(LeakedAllocations(), 0);

  // A printer name too long to keep leaves the port without one; the open is not disturbed.
  ASSERT_TRUE(Open2(std::u16string(300, u'P'), &handle, &table2_));
  EXPECT_EQ(PortOfHandle(handle)->szPrinterName[0], 0);
}

TEST_F(Monitor2PortTest, TheTableCheckAppliesAndNoEntryPastTheTablesSizeIsRead) {
  HANDLE handle = nullptr;
  SetLastError(0);
  EXPECT_FALSE(Open2(u"Label A", &handle, nullptr));
  EXPECT_EQ(GetLastError(), 3007u);
  MONITOR2 incomplete[5] = {table2_, table2_, table2_, table2_, table2_};
  incomplete[0].pfnOpenPort = nullptr;
  incomplete[1].pfnStartDocPort = nullptr;
  incomplete[2].pfnWritePort = nullptr;
  incomplete[3].pfnReadPort = nullptr;
  incomplete[4].pfnClosePort = nullptr;
  for (MONITOR2& table : incomplete) {
    SetLastError(0);
    EXPECT_FALSE(Open2(u"Label A", &handle, &table));
    EXPECT_EQ(GetLastError(), 3007u);
  }
  // A table that ends before its pfnClosePort lacks a required entry, whatever lies behind it.
  MONITOR2 shortTable = table2_;
  shortTable.cbSize = offsetof(MONITOR2, pfnClosePort);
  SetLastError(0);
  EXPECT_FALSE(Open2(u"Label A", &handle, &shortTable));
  EXPECT_EQ(GetLastError(), 3007u);
  EXPECT_TRUE(TheFakePort().calls.empty()) << "a refused table is never called";
  EXPECT_EQ(pIniFirstPort, nullptr);

  // One that ends right after it: the optional entries behind are not taken, even when set.
  shortTable.cbSize = offsetof(MONITOR2, pfnAddPort);
  ASSERT_TRUE(Open2(u"Label A", &handle, &shortTable));
  IniPort* port = PortOfHandle(handle);
  EXPECT_EQ(port->PortMonitor.pfnGetPrinterDataFromPort, nullptr);
  EXPECT_EQ(port->PortMonitor.pfnSetPortTimeOuts, nullptr);
  EXPECT_EQ(port->pfnPortSendRecvBidi, nullptr);
  EXPECT_EQ(TheFakePort().calls, (std::vector<std::string>{"OpenPort"}));
}

}  // namespace
}  // namespace langmon_test
