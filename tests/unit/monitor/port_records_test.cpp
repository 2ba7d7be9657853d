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
  IniPort* port = static_cast<IniPort*>(handle);
  EXPECT_EQ(port->signature, kPortSignature);
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
  EXPECT_EQ(pIniFirstPort, other);  // newest first
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

TEST_F(PortRecordsTest, AllocationFailureAtEachStepLeavesNothingBehind) {
  for (unsigned nth = 1; nth <= 2; ++nth) {
    ClearLog();
    host::FailAllocation(nth);
    HANDLE handle = nullptr;
    EXPECT_FALSE(Open(u"USB001", &handle)) << "allocation " << nth;
    host::FailAllocation(0);
    EXPECT_EQ(pIniFirstPort, nullptr);
    EXPECT_EQ(LeakedAllocations(), 0);
    EXPECT_EQ(host::OpenEvents(), 0);
    EXPECT_TRUE(Logged(Inform("**** PjlMon: OpenPort USB001 : Failed\n")));
    EXPECT_TRUE(TheFakePort().calls.empty()) << "the port monitor is not asked";
  }
}

TEST_F(PortRecordsTest, EmptyNameIsNeverFoundAsOpen) {
  HANDLE first = nullptr;
  HANDLE second = nullptr;
  EXPECT_TRUE(Open(u"", &first));
  EXPECT_TRUE(Open(u"", &second));
  EXPECT_EQ(FindPortRecord(WSTR("")), nullptr);
  EXPECT_EQ(FindPortRecord(nullptr), nullptr);
}

TEST_F(PortRecordsTest, CloseRefusesHandlesThatAreNotPorts) {
  DWORD notAPort[4] = {0x1234, 0, 0, 0};
  for (HANDLE handle : {static_cast<HANDLE>(nullptr), static_cast<HANDLE>(notAPort)}) {
    SetLastError(0);
    EXPECT_FALSE(PJLMonClosePort(handle));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
  }
}

TEST_F(PortRecordsTest, ClosingDropsListedJobsWithoutTellingTheSpooler) {
  host::Printer printer;
  printer.name = u"Label A";
  host::AddPrinter(printer);
  HANDLE handle = nullptr;
  ASSERT_TRUE(Open(u"USB001", &handle));
  IniPort* port = static_cast<IniPort*>(handle);
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
  EXPECT_EQ(pIniFirstPort, handle);
  EXPECT_EQ(pIniFirstPort->pNext, nullptr);
}

}  // namespace
}  // namespace langmon_test
