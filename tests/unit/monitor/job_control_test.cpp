#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "tests/support/fake_port_monitor.h"
#include "tests/support/monitor_test.h"

namespace langmon_test {
namespace {

class JobControlTest : public MonitorTest {
 protected:
  void SetUp() override {
    MonitorTest::SetUp();
    ResetFakePort();
    table_ = FakePortMonitorTable();
    AddPrinter(u"Label A");
    port_ = OpenPort(u"USB001");
    ASSERT_NE(port_, nullptr);
    allocationsWithPort_ = host::LiveAllocations();
    TheFakePort().calls.clear();
    ClearLog();
  }

  static void AddPrinter(const std::u16string& name, bool opens = true, bool setJobWorks = true) {
    host::Printer printer;
    printer.name = name;
    printer.openSucceeds = opens;
    printer.setJobSucceeds = setJobWorks;
    host::AddPrinter(printer);
  }

  IniPort* OpenPort(const std::u16string& name) {
    std::u16string copy = name;
    HANDLE handle = nullptr;
    if (!PJLMonOpenPortEx(copy.data(), nullptr, &handle, &table_)) {
      return nullptr;
    }
    return PortOfHandle(handle);
  }

  static BOOL Start(HANDLE port, DWORD jobId, const char16_t* docName = u"Invoice",
                    const char16_t* printerName = u"Label A", DWORD level = 1,
                    bool withDocInfo = true) {
    std::u16string doc = docName != nullptr ? docName : u"";
    std::u16string printer = printerName != nullptr ? printerName : u"";
    DOC_INFO_1W info = {docName != nullptr ? doc.data() : nullptr, nullptr, nullptr};
    return PJLMonStartDocPort(port, printerName != nullptr ? printer.data() : nullptr, jobId, level,
                              withDocInfo ? reinterpret_cast<LPBYTE>(&info) : nullptr);
  }

  static BOOL Start(const IniPort* port, DWORD jobId, const char16_t* docName = u"Invoice",
                    const char16_t* printerName = u"Label A") {
    return Start(port->hSpoolerHandle, jobId, docName, printerName);
  }

  // Lists one more job on the port as if the previous one had ended without being retired.
  static void StartAnother(IniPort* port, DWORD jobId) {
    ClearPortStatus(port, PORT_IN_JOB);
    SetEvent(port->hEvent);
    ASSERT_TRUE(Start(port, jobId));
  }

  static std::vector<DWORD> ListedJobs(const IniPort* port) {
    std::vector<DWORD> ids;
    for (IniJob* job = port->pIniJob; job != nullptr; job = job->pNext) {
      ids.push_back(job->JobId);
    }
    return ids;
  }

  static std::vector<std::pair<DWORD, DWORD>> SetJobs() {
    std::vector<std::pair<DWORD, DWORD>> calls;
    for (const host::SetJobRecord& call : host::SetJobCalls()) {
      EXPECT_EQ(call.level, 0u);
      calls.emplace_back(call.jobId, call.command);
    }
    return calls;
  }

  // Looks at the gate without changing it (a successful wait takes an auto-reset signal).
  static bool GateTaken(const IniPort* port) {
    if (WaitForSingleObject(port->hEvent, 0) == WAIT_TIMEOUT) {
      return true;
    }
    SetEvent(port->hEvent);
    return false;
  }

  // Nothing of a job is left: no record, no printer handle.
  void ExpectJobsReleased() const {
    EXPECT_EQ(host::LiveAllocations(), allocationsWithPort_);
    EXPECT_EQ(host::OpenPrinterHandles(), 0);
  }

  void WriteModelSettings(const std::string& body) const {
    const std::filesystem::path folder = AppDataFolder() / "VMT" / "Drivers" / "Label A";
    std::filesystem::create_directories(folder);
    std::ofstream(folder / "VM_lp250.ini", std::ios::binary) << "[settings]\r\n" << body;
  }

  MONITOR table_ = {};
  IniPort* port_ = nullptr;
  long allocationsWithPort_ = 0;
};

std::string Narrow(const std::u16string& text) { return std::string(text.begin(), text.end()); }

const std::string kCalled = Inform("**** LANGMON: PJLMonStartDocPort Called. Ver=8\n");
const std::string kReturnFalse = Inform("**** PJLStartDocPortEx Return FALSE\n");

// ---- Start -------------------------------------------------------------------------------------

TEST_F(JobControlTest, StartListsTheJobAndArmsTheHeaderScan) {
  EXPECT_EQ(Start(port_, 42), TRUE);

  EXPECT_EQ(LogLines(),
            (std::vector<std::string>{kCalled, Inform("**** PJLStartDocPortEx Return\n"),
                                      Inform("**** PJLStartDocPortEx Return TRUE\n")}));
  EXPECT_EQ(TheFakePort().calls, (std::vector<std::string>{"StartDocPort"}));
  EXPECT_EQ(TheFakePort().startPrinterName, u"Label A");
  EXPECT_EQ(TheFakePort().startJobId, 42u);

  ASSERT_EQ(ListedJobs(port_), (std::vector<DWORD>{42}));
  EXPECT_EQ(std::u16string(port_->pIniJob->pszPrinterName), u"Label A");
  EXPECT_NE(port_->pIniJob->hPrinter, nullptr);
  EXPECT_EQ(PortStatus(port_), 0x0201u);  // in a job, first write
  EXPECT_EQ(port_->HeaderPattern.cbHeader, 36u);
  EXPECT_EQ(std::vector<BYTE>(port_->HeaderPattern.bStart, port_->HeaderPattern.bStart + 4),
            (std::vector<BYTE>{0x1B, 0x2A, 0x12, 0x1C}));
  EXPECT_TRUE(GateTaken(port_));
  EXPECT_TRUE(host::MessageBoxes().empty());
}

TEST_F(JobControlTest, StartRefusesBadArguments) {
  IniPort foreign = {};
  foreign.signature = 0x1234;
  struct Case {
    const char* what;
    HANDLE port;
    const char16_t* printer;
    bool withDocInfo;
  };
  const Case cases[] = {
      {"no handle", nullptr, u"Label A", true},
      {"foreign handle", &foreign, u"Label A", true},
      {"no document info", port_->hSpoolerHandle, u"Label A", false},
      {"no printer name", port_->hSpoolerHandle, nullptr, true},
      {"empty printer name", port_->hSpoolerHandle, u"", true},
  };
  for (const Case& c : cases) {
    ClearLog();
    SetLastError(0);
    EXPECT_FALSE(Start(c.port, 1, u"Invoice", c.printer, 1, c.withDocInfo)) << c.what;
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER)) << c.what;
    EXPECT_EQ(LogLines(),
              (std::vector<std::string>{
                  kCalled, Inform("**** LANGMON: PJLMonStartDocPort params Invalid\n")}))
        << c.what;
  }
  EXPECT_TRUE(TheFakePort().calls.empty());
  EXPECT_EQ(PortStatus(port_), 0u);
  ExpectJobsReleased();
}

TEST_F(JobControlTest, StartRefusesLevelTwo) {
  EXPECT_FALSE(Start(port_->hSpoolerHandle, 1, u"Invoice", u"Label A", 2));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_LEVEL));
  EXPECT_EQ(LogLines(),
            (std::vector<std::string>{kCalled, Inform("**** LANGMON: Error dwLevel = 2\n")}));
  EXPECT_EQ(PortStatus(port_), 0u);
  EXPECT_TRUE(ListedJobs(port_).empty());
  EXPECT_TRUE(TheFakePort().calls.empty());
}

TEST_F(JobControlTest, SecondStartOnABusyPortIsRefused) {
  ASSERT_TRUE(Start(port_, 1));
  ClearLog();
  EXPECT_FALSE(Start(port_, 2));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_BUSY));
  EXPECT_EQ(LogLines(), (std::vector<std::string>{
                            kCalled, Inform("**** LANGMON: PJLMonStartDocPort port busy\n")}));
  EXPECT_EQ(ListedJobs(port_), (std::vector<DWORD>{1}));
  EXPECT_EQ(TheFakePort().calls, (std::vector<std::string>{"StartDocPort"}));
  EXPECT_TRUE(PortStatusHas(port_, PORT_IN_JOB));
}

// Without its record or its printer the job is not held up: it starts and ends at the port monitor
// unlisted. With no printer to read, quiet mode stays as the latest start left it, for every
// printer, and a failed start's notice follows that.
TEST_F(JobControlTest, JobWithoutARecordOrPrinterStartsAtThePortMonitorUnlisted) {
  const std::vector<std::string> started = {Inform("**** PJLStartDocPortEx Return\n"),
                                            Inform("**** PJLStartDocPortEx Return TRUE\n")};
  AddPrinter(u"Offline", false);
  for (int failure = 0; failure < 2; ++failure) {
    ClearLog();
    TheFakePort().calls.clear();
    fShowUI = FALSE;
    if (failure == 0) {
      host::FailAllocation(1);
      EXPECT_TRUE(Start(port_, 1));
      EXPECT_EQ(LogLines(),
                (std::vector<std::string>{kCalled, Inform("**** LANGMON: pIniJob = NULL\n"),
                                          started[0], started[1]}));
    } else {
      EXPECT_TRUE(Start(port_, 2, u"Invoice", u"Offline"));
      EXPECT_EQ(LogLines(),
                (std::vector<std::string>{
                    kCalled, Error("**** LANGMON: PJLMonStartDocPort failed to open printer\n"),
                    started[0], started[1]}));
    }
    EXPECT_EQ(TheFakePort().calls, std::vector<std::string>{"StartDocPort"});
    EXPECT_TRUE(ListedJobs(port_).empty());
    EXPECT_EQ(PortStatus(port_), 0x0201u);  // in a job, first write
    EXPECT_EQ(port_->HeaderPattern.cbHeader, 36u);
    EXPECT_TRUE(GateTaken(port_));
    EXPECT_FALSE(fShowUI.load()) << "quiet mode changed by a start without a printer";

    ASSERT_TRUE(PJLMonEndDocPort(port_->hSpoolerHandle));
    EXPECT_EQ(TheFakePort().calls.back(), "EndDocPort");
    EXPECT_EQ(PortStatus(port_), 0x0200u);
    EXPECT_TRUE(SetJobs().empty());
    ExpectJobsReleased();
  }

  // Refused by the port monitor: a failed start like any other, the port monitor's reason kept;
  // quiet as the latest start left it, then not.
  TheFakePort().startSucceeds = false;
  host::SetFixedAnswer(IDOK);
  EXPECT_FALSE(Start(port_, 3, u"Invoice", u"Offline"));
  EXPECT_TRUE(host::MessageBoxes().empty());
  EXPECT_FALSE(fShowUI.load());
  fShowUI = TRUE;
  fWarnedOnFailedStart = FALSE;
  EXPECT_FALSE(Start(port_, 3, u"Invoice", u"Offline"));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_WRITE_FAULT));
  EXPECT_TRUE(fShowUI.load());
  ASSERT_EQ(host::MessageBoxes().size(), 1u);
  EXPECT_EQ(host::MessageBoxes()[0].textId, 455u);
  EXPECT_EQ(host::MessageBoxes()[0].caption, u"Offline");
  EXPECT_EQ(PortStatus(port_) & 0x0001u, 0u);
  ExpectJobsReleased();
}

TEST_F(JobControlTest, FailedStartWarnsOnceUntilAStartSucceeds) {
  TheFakePort().startSucceeds = false;
  host::SetFixedAnswer(IDOK);
  const std::vector<std::string> warned = {
      kCalled, Error("**** LANGMON: WARN and set fWarnedOnFailedStart\n"),
      Error("**** LANGMON: pfnStartDocPort FAILED\n"), kReturnFalse};
  const std::vector<std::string> silent = {kCalled, Error("**** LANGMON: DO NOT WARN\n"),
                                           Error("**** LANGMON: pfnStartDocPort FAILED\n"),
                                           kReturnFalse};

  SetLastError(0);
  EXPECT_FALSE(Start(port_, 1));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_WRITE_FAULT));  // the port monitor's reason
  EXPECT_EQ(LogLines(), warned);
  ASSERT_EQ(host::MessageBoxes().size(), 1u);
  EXPECT_EQ(host::MessageBoxes()[0].textId, 455u);
  EXPECT_EQ(host::MessageBoxes()[0].caption, u"Label A");
  EXPECT_EQ(host::MessageBoxes()[0].type, 0x1010u);
  EXPECT_TRUE(fWarnedOnFailedStart.load());
  EXPECT_TRUE(ListedJobs(port_).empty());
  EXPECT_EQ(PortStatus(port_), 0u);
  EXPECT_FALSE(GateTaken(port_));
  ExpectJobsReleased();

  ClearLog();
  EXPECT_FALSE(Start(port_, 2));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_WRITE_FAULT));
  EXPECT_EQ(LogLines(), silent);
  EXPECT_EQ(host::MessageBoxes().size(), 1u);

  TheFakePort().startSucceeds = true;
  ASSERT_TRUE(Start(port_, 3));
  EXPECT_FALSE(fWarnedOnFailedStart.load());
  ASSERT_TRUE(PJLMonEndDocPort(port_->hSpoolerHandle));

  TheFakePort().startSucceeds = false;
  ClearLog();
  EXPECT_FALSE(Start(port_, 4));
  EXPECT_EQ(LogLines(), warned);
  EXPECT_EQ(host::MessageBoxes().size(), 2u);
  ExpectJobsReleased();
}

// A start on another port fails while the first failure's notice is still up: one notice.
TEST_F(JobControlTest, TwoStartsFailingAtOnceWarnOnce) {
  TheFakePort().startSucceeds = false;
  IniPort* other = OpenPort(u"USB002");
  ASSERT_NE(other, nullptr);
  int boxes = 0;
  host::SetAnswerer([&](const host::MessageBoxRecord&) {
    if (++boxes == 1) {
      EXPECT_FALSE(Start(other, 2));
    }
    return IDOK;
  });
  EXPECT_FALSE(Start(port_, 1));
  EXPECT_EQ(boxes, 1);
  EXPECT_EQ(host::MessageBoxes().size(), 1u);
  EXPECT_TRUE(Logged(Error("**** LANGMON: DO NOT WARN\n")));
  EXPECT_TRUE(PJLMonClosePort(other->hSpoolerHandle));
}

TEST_F(JobControlTest, QuietModeStillCountsAsWarned) {
  WriteModelSettings("SHOW_UI=0\r\n");
  TheFakePort().startSucceeds = false;
  EXPECT_FALSE(Start(port_, 1));
  EXPECT_FALSE(fShowUI.load());
  EXPECT_TRUE(host::MessageBoxes().empty());
  EXPECT_TRUE(fWarnedOnFailedStart.load());
}

TEST_F(JobControlTest, EachStartReadsItsPrintersQuietMode) {
  WriteModelSettings("SHOW_UI=0\r\n");
  ASSERT_TRUE(Start(port_, 1));
  EXPECT_FALSE(fShowUI.load());
  ASSERT_TRUE(PJLMonEndDocPort(port_->hSpoolerHandle));

  WriteModelSettings("SHOW_UI=2\r\n");
  ASSERT_TRUE(Start(port_, 2));
  EXPECT_TRUE(fShowUI.load());
}

TEST_F(JobControlTest, FilePortsAndCommandDocumentsSkipTheHeaderScan) {
  struct Case {
    const char16_t* port;
    const char16_t* document;
    bool skips;
  };
  const Case cases[] = {
      {u"FILE:", u"Invoice", true},
      {u"file", nullptr, true},
      {u"Files", u"Brindlemarsten", true},
      {u"Fil", u"Invoice", false},
      {u"USB001", u"Brindlemarsten Command", true},
      {u"USB001", u"BRINDLEMARSTEN COMMAND", true},
      {u"USB001", u"brindlemarsten comma", true},  // the last two letters are not compared
      {u"USB001", u"Brindlemarsten CommaXY", true},
      {u"USB001", u"Brindlemarsten Comm", false},
      {u"USB001", u"Brindlemarsten", false},
      {u"USB001", nullptr, false},
      {u"USB001", u"Invoice", false},
      {u"USB002", u"File", false},
  };
  for (const Case& c : cases) {
    const std::u16string portName = c.port;
    IniPort* port = portName == u"USB001" ? port_ : OpenPort(portName);
    ASSERT_NE(port, nullptr);
    // Start from the opposite, so that a start which leaves the bit alone is caught.
    if (c.skips) {
      ClearPortStatus(port, PORT_NO_HEADER_SCAN);
    } else {
      SetPortStatus(port, PORT_NO_HEADER_SCAN);
    }
    ASSERT_TRUE(Start(port, 7, c.document));
    EXPECT_EQ(PortStatusHas(port, PORT_NO_HEADER_SCAN), c.skips)
        << Narrow(portName) << " " << (c.document ? Narrow(c.document) : "(no name)");
    ASSERT_TRUE(PJLMonEndDocPort(port->hSpoolerHandle));
    if (port != port_) {
      PJLMonClosePort(port->hSpoolerHandle);
    }
  }
}

// ---- End ---------------------------------------------------------------------------------------

TEST_F(JobControlTest, EndReportsTheLastPageAndOpensTheGate) {
  ASSERT_TRUE(Start(port_, 42));
  TheFakePort().calls.clear();
  ClearLog();

  EXPECT_TRUE(PJLMonEndDocPort(port_->hSpoolerHandle));
  EXPECT_EQ(LogLines(), (std::vector<std::string>{Inform("**** PJLMonEndDocPort Called\n"),
                                                  Inform("**** PJLMonEndDocPort Returning\n")}));
  EXPECT_EQ(TheFakePort().calls, (std::vector<std::string>{"EndDocPort"}));
  EXPECT_EQ(SetJobs(), (std::vector<std::pair<DWORD, DWORD>>{{42, JOB_CONTROL_LAST_PAGE_EJECTED}}));
  EXPECT_EQ(host::SetJobCalls()[0].printerName, u"Label A");
  EXPECT_TRUE(ListedJobs(port_).empty());
  EXPECT_FALSE(PortStatusHas(port_, PORT_IN_JOB));
  EXPECT_TRUE(PortStatusHas(port_, PORT_FIRST_WRITE));  // left for the next start to set
  EXPECT_FALSE(GateTaken(port_));
  ExpectJobsReleased();
}

TEST_F(JobControlTest, EndRetiresEveryListedJobNewestFirst) {
  ASSERT_TRUE(Start(port_, 1));
  StartAnother(port_, 2);
  ASSERT_EQ(ListedJobs(port_), (std::vector<DWORD>{2, 1}));

  EXPECT_TRUE(PJLMonEndDocPort(port_->hSpoolerHandle));
  EXPECT_EQ(SetJobs(), (std::vector<std::pair<DWORD, DWORD>>{{2, JOB_CONTROL_LAST_PAGE_EJECTED},
                                                             {1, JOB_CONTROL_LAST_PAGE_EJECTED}}));
  EXPECT_TRUE(ListedJobs(port_).empty());
  ExpectJobsReleased();
}

TEST_F(JobControlTest, EndAfterAbortRetiresNothing) {
  ASSERT_TRUE(Start(port_, 1));
  AbortJobs(port_);
  EXPECT_TRUE(PortStatusHas(port_, PORT_IN_JOB));
  EXPECT_EQ(SetJobs(), (std::vector<std::pair<DWORD, DWORD>>{{1, JOB_CONTROL_DELETE}}));

  EXPECT_TRUE(PJLMonEndDocPort(port_->hSpoolerHandle));
  EXPECT_EQ(host::SetJobCalls().size(), 1u);
  EXPECT_FALSE(PortStatusHas(port_, PORT_IN_JOB));
  EXPECT_FALSE(GateTaken(port_));
  ExpectJobsReleased();
}

TEST_F(JobControlTest, EndRefusesBadHandles) {
  IniPort foreign = {};
  for (HANDLE handle : {static_cast<HANDLE>(nullptr), static_cast<HANDLE>(&foreign)}) {
    ClearLog();
    EXPECT_FALSE(PJLMonEndDocPort(handle));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
    EXPECT_EQ(LogLines(), (std::vector<std::string>{Inform("**** PJLMonEndDocPort Called\n")}));
  }
}

TEST_F(JobControlTest, EndWithoutAPortMonitorEndEntry) {
  table_.pfnEndDocPort = nullptr;
  IniPort* port = OpenPort(u"USB002");
  ASSERT_NE(port, nullptr);
  ASSERT_TRUE(Start(port, 5));
  EXPECT_TRUE(PJLMonEndDocPort(port->hSpoolerHandle));
  EXPECT_EQ(SetJobs(), (std::vector<std::pair<DWORD, DWORD>>{{5, JOB_CONTROL_LAST_PAGE_EJECTED}}));
  EXPECT_TRUE(ListedJobs(port).empty());
}

// ---- Job list ----------------------------------------------------------------------------------

TEST_F(JobControlTest, RetireStartsAtTheOldestJobWithTheId) {
  ASSERT_TRUE(Start(port_, 5));
  StartAnother(port_, 7);
  StartAnother(port_, 5);
  StartAnother(port_, 9);
  ASSERT_EQ(ListedJobs(port_), (std::vector<DWORD>{9, 5, 7, 5}));

  IniJob* previous = nullptr;
  EXPECT_EQ(FindJobById(port_, 5, &previous), port_->pIniJob->pNext->pNext->pNext);
  EXPECT_EQ(previous, port_->pIniJob->pNext->pNext);
  EXPECT_EQ(FindJobById(port_, 9, &previous), port_->pIniJob);
  EXPECT_EQ(previous, nullptr);
  previous = port_->pIniJob;
  EXPECT_EQ(FindJobById(port_, 99, &previous), nullptr);
  EXPECT_EQ(previous, nullptr);

  RetireJobs(port_, 99);
  EXPECT_EQ(ListedJobs(port_), (std::vector<DWORD>{9, 5, 7, 5}));
  EXPECT_TRUE(host::SetJobCalls().empty());

  RetireJobs(port_, 5);
  EXPECT_EQ(ListedJobs(port_), (std::vector<DWORD>{9, 5, 7}));
  RetireJobs(port_, 5);
  EXPECT_EQ(ListedJobs(port_), (std::vector<DWORD>{9}));
  EXPECT_EQ(SetJobs(), (std::vector<std::pair<DWORD, DWORD>>{{5, JOB_CONTROL_LAST_PAGE_EJECTED},
                                                             {5, JOB_CONTROL_LAST_PAGE_EJECTED},
                                                             {7, JOB_CONTROL_LAST_PAGE_EJECTED}}));

  StartAnother(port_, 10);
  RetireJobs(port_, 0xFFFFFFFF);
  EXPECT_TRUE(ListedJobs(port_).empty());
  EXPECT_EQ(host::SetJobCalls().size(), 5u);
  EXPECT_EQ(host::SetJobCalls()[3].jobId, 10u);
  EXPECT_EQ(host::SetJobCalls()[4].jobId, 9u);
  ExpectJobsReleased();
}

TEST_F(JobControlTest, AbortDeletesEveryJobEvenWhenTheSpoolerRefuses) {
  AddPrinter(u"Label C", true, false);
  ASSERT_TRUE(Start(port_, 1, u"Invoice", u"Label C"));
  StartAnother(port_, 2);
  ClearLog();

  AbortJobs(port_);
  EXPECT_EQ(SetJobs(), (std::vector<std::pair<DWORD, DWORD>>{{2, JOB_CONTROL_DELETE},
                                                             {1, JOB_CONTROL_DELETE}}));
  const std::vector<std::string> lines = LogLines();
  ASSERT_EQ(lines.size(), 3u);
  EXPECT_EQ(lines[0], Inform("Deleting the print job(s) in AbortJobs()\n"));
  EXPECT_EQ(lines[1].rfind(Warning("SetJob failed with last error "), 0), 0u) << lines[1];
  EXPECT_EQ(lines[2], Inform("Leaving AbortJobs()\n"));
  EXPECT_TRUE(ListedJobs(port_).empty());
  ExpectJobsReleased();
}

TEST_F(JobControlTest, AbortWithoutJobsOnlyLogs) {
  AbortJobs(port_);
  EXPECT_EQ(LogLines(),
            (std::vector<std::string>{Inform("Deleting the print job(s) in AbortJobs()\n"),
                                      Inform("Leaving AbortJobs()\n")}));
  EXPECT_TRUE(host::SetJobCalls().empty());
  EXPECT_EQ(PortStatus(port_), 0u);
}

}  // namespace
}  // namespace langmon_test
