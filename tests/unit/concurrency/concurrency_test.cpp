// Many spooler threads at once, on the real clock, with the simulated printers answering quickly:
// jobs on many ports, status queries and port churn beside them, two starts racing on one port,
// and the log file written by many threads. Run by every native preset, ThreadSanitizer's too.
#include <atomic>
#include <barrier>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <functional>
#include <mutex>
#include <optional>
#include <random>
#include <regex>
#include <thread>

#include "tests/support/scenario_test.h"

namespace langmon_test {
namespace {

// A deadlock ends the test program with a message instead of running into the harness's limit.
class Watchdog {
 public:
  explicit Watchdog(std::chrono::seconds limit)
      : thread_([this, limit] {
          std::unique_lock<std::mutex> lock(mutex_);
          if (!changed_.wait_for(lock, limit, [this] { return done_; })) {
            std::fprintf(stderr, "no progress for %lld s: deadlock\n",
                         static_cast<long long>(limit.count()));
            std::abort();
          }
        }) {}
  ~Watchdog() {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      done_ = true;
    }
    changed_.notify_all();
    thread_.join();
  }

 private:
  std::mutex mutex_;
  std::condition_variable changed_;
  bool done_ = false;
  std::thread thread_;
};

std::u16string Numbered(const char16_t* stem, int number) {
  std::u16string name = stem;
  for (char c : std::to_string(number)) {
    name.push_back(static_cast<char16_t>(c));
  }
  return name;
}

class ConcurrencyTest : public MonitorTest {
 protected:
  void SetUp() override {
    MonitorTest::SetUp();
    host::UseRealClock();
    // Many threads log at once; the debugger record is not what these tests look at.
    host::RecordDebugOutput(false);
    sim::RemovePrinters();
    sim::WriteAlignmentFiles(DriverFolder().string());
    std::u16string root = u"SYSTEM\\CurrentControlSet\\Control\\Print\\Monitors\\Velmora";
    monitor_ = InitializePrintMonitor(root.data());
    ASSERT_NE(monitor_, nullptr);
  }

  void TearDown() override {
    sim::RemovePrinters();
    MonitorTest::TearDown();
  }

  std::filesystem::path DriverFolder() const { return TempFolder().parent_path() / "driver"; }

  // A printer on the port that answers every read with a fresh record, and its spooler printer.
  std::shared_ptr<sim::SimPrinter> AddPrinter(const std::u16string& port,
                                              const std::u16string& printer) {
    std::shared_ptr<sim::SimPrinter> simulated = sim::AddPrinter(port);
    simulated->SetRecordPeriod(0);
    simulated->SetSpitsPerByte(0, 0, 0);
    sim::RegisterPrinter(printer, DriverFolder().string());
    std::filesystem::create_directories(AppDataFolder() / "VMT" / "Drivers" /
                                        host::NativePath(printer));
    return simulated;
  }

  static sim::Job MakeJob(const std::u16string& printer, DWORD jobId, unsigned labels,
                          unsigned seed) {
    std::mt19937 random(seed);
    sim::Job job;
    job.printerName = printer;
    job.jobId = jobId;
    job.data = sim::MakeJobData(labels, 200 + random() % 300, seed);
    job.offerSizes = {sim::kJobPreambleSize};
    for (int i = 0; i < 4; ++i) {
      job.offerSizes.push_back(60 + random() % 700);
    }
    return job;
  }

  LPMONITOREX monitor_ = nullptr;
};

TEST_F(ConcurrencyTest, SixteenPortsPrintWhileOthersQueryAndOpenAndClosePorts) {
  constexpr int kPorts = 16;
  constexpr int kJobsPerPort = 3;
  constexpr unsigned kLabelsPerJob = 2;
  const Watchdog watchdog(std::chrono::seconds(120));

  std::vector<std::shared_ptr<sim::SimPrinter>> printers;
  for (int i = 0; i < kPorts; ++i) {
    printers.push_back(AddPrinter(Numbered(u"USB", 100 + i), Numbered(u"Label ", i)));
  }
  for (int i = 0; i < 4; ++i) {
    AddPrinter(Numbered(u"COM", i), Numbered(u"Churn ", i));
  }

  std::atomic<HANDLE> handles[kPorts] = {};
  std::atomic<int> printing{kPorts};
  std::barrier queriesStopped(kPorts + 2);  // the job threads and the two query threads
  std::vector<std::string> failures[kPorts];
  std::atomic<long> queriesAnswered{0};
  std::atomic<long> badAnswers{0};
  std::atomic<long> churnFailures{0};

  std::vector<std::thread> threads;
  for (int i = 0; i < kPorts; ++i) {
    threads.emplace_back([&, i] {
      sim::Spooler spooler(monitor_);
      const std::u16string printer = Numbered(u"Label ", i);
      if (!spooler.OpenPort(Numbered(u"USB", 100 + i), printer)) {
        failures[i].push_back("open failed");
      }
      handles[i] = spooler.PortHandle();
      std::vector<BYTE> expected;
      for (int j = 0; j < kJobsPerPort && failures[i].empty(); ++j) {
        const sim::Job job =
            MakeJob(printer, static_cast<DWORD>(j + 1), kLabelsPerJob, 1000 * i + j);
        const sim::JobResult result = spooler.Print(job);
        if (!result.started || result.writeFailed || !result.ended) {
          failures[i].push_back("job " + std::to_string(j) + " did not go through");
        }
        expected.insert(expected.end(), job.data.begin(), job.data.end());
      }
      if (printers[i]->JobData() != expected) {
        failures[i].push_back("the printer did not receive the jobs' bytes whole and in order");
      }
      --printing;
      // The port stays open until nobody queries it any more.
      queriesStopped.arrive_and_wait();
      handles[i] = nullptr;
      spooler.ClosePort();
    });
  }
  // Two query threads walk all ports, so that queries also meet on the same port.
  for (int q = 0; q < 2; ++q) {
    threads.emplace_back([&, q] {
      std::u16string name = u"VELMORA";
      std::u16string schema = u"\\Printer.Consumables";
      BIDI_REQUEST_CONTAINER consumables = {1, 0, 1, {{0, schema.data(), {}}}};
      while (printing.load() > 0) {
        for (int k = 0; k < kPorts; ++k) {
          const HANDLE port = handles[(k + q * 5) % kPorts].load();
          if (port == nullptr) {
            continue;
          }
          // Ink levels are asked too: during a job they come from the record the job last
          // read, which its thread keeps up meanwhile. Between jobs the other query thread may
          // have taken the fresh records: then the four inks are answered as unknown.
          PBIDI_RESPONSE_CONTAINER levels = nullptr;
          if (PJLMonSendRecvBidiDataFromPort(port, BIDI_ACCESS_USER, u"GetAll", &consumables,
                                             &levels) != ERROR_SUCCESS ||
              levels == nullptr || (levels->Count != 12 && levels->Count != 16)) {
            ++badAnswers;
          }
          if (levels != nullptr) {
            RouterFreeBidiResponseContainer(levels);
          }
          BYTE out[512];
          DWORD returned = 0;
          if (GetPrinterDataFromPort(port, 0, name.data(), nullptr, 0,
                                     reinterpret_cast<LPWSTR>(out), sizeof(out), &returned)) {
            ++queriesAnswered;
            // The printer's back channel carries nothing but whole status records.
            if (returned != 116 || out[0] != 0x01 || out[115] != 0x04) {
              ++badAnswers;
            }
          }
        }
      }
      queriesStopped.arrive_and_wait();
    });
  }
  // Other ports come and go meanwhile, each with a short job now and then, 3,000 times at least;
  // the handle of the first of them, tried at every round, is refused every time.
  std::atomic<long> staleAccepted{0};
  threads.emplace_back([&] {
    HANDLE first = nullptr;
    for (int round = 0; printing.load() > 0 || round < 3000; ++round) {
      sim::Spooler spooler(monitor_);
      const int port = round % 4;
      if (!spooler.OpenPort(Numbered(u"COM", port), Numbered(u"Churn ", port))) {
        ++churnFailures;
        continue;
      }
      if (first == nullptr) {
        first = spooler.PortHandle();
      } else {
        BYTE byte = 0;
        DWORD read = 0;
        if (PJLMonReadPort(first, &byte, 1, &read) || GetLastError() != ERROR_INVALID_PARAMETER) {
          ++staleAccepted;
        }
      }
      if (round % 3 == 0 && printing.load() > 0) {
        const sim::Job job =
            MakeJob(Numbered(u"Churn ", port), static_cast<DWORD>(round + 1), 1, round);
        if (spooler.Print(job).writeFailed) {
          ++churnFailures;
        }
      }
      spooler.ClosePort();
    }
  });
  for (std::thread& thread : threads) {
    thread.join();
  }

  for (int i = 0; i < kPorts; ++i) {
    EXPECT_TRUE(failures[i].empty()) << "port " << i << ": " << failures[i].front();
  }
  EXPECT_EQ(badAnswers.load(), 0);
  EXPECT_EQ(churnFailures.load(), 0);
  EXPECT_EQ(staleAccepted.load(), 0);
  EXPECT_EQ(pIniFirstPort, nullptr);
  EXPECT_EQ(LeakedAllocations(), 0);
  EXPECT_EQ(host::OpenPrinterHandles(), 0);
  EXPECT_EQ(host::OpenEvents(), 0);
}

TEST_F(ConcurrencyTest, TwoQueriesOnOnePortEachAnswerWithWhatTheyReadThemselves) {
  std::shared_ptr<sim::SimPrinter> printer = AddPrinter(u"USB001", u"Label A");
  printer->SetAutoStatus(false);
  sim::Spooler spooler(monitor_);
  ASSERT_TRUE(spooler.OpenPort(u"USB001", u"Label A"));
  const std::vector<BYTE> first(20, 'A');
  const std::vector<BYTE> second(30, 'B');
  printer->QueueBackChannel(first);
  // The second query comes in on another spooler thread just as the first has read its bytes
  // and is about to answer; it is run from the first one's debugger output, where that happens.
  std::vector<BYTE> secondAnswer;
  bool secondAsked = false;
  host::OnDebugOutput([&](const std::string& text) {
    if (!secondAsked && text == std::string(first.begin(), first.end())) {
      secondAsked = true;
      printer->QueueBackChannel(second);
      EXPECT_TRUE(spooler.QueryStatus(&secondAnswer));
    }
  });
  std::vector<BYTE> firstAnswer;
  EXPECT_TRUE(spooler.QueryStatus(&firstAnswer));
  host::OnDebugOutput(nullptr);
  ASSERT_TRUE(secondAsked);
  EXPECT_EQ(firstAnswer, first);
  EXPECT_EQ(secondAnswer, second);
}

TEST_F(ConcurrencyTest, StartArrivingWhileAnotherStartIsUnderWayIsToldThePortIsBusy) {
  // The first start cannot open its printer; while it reports that, a second start comes in on
  // another spooler thread (run here from the first one's log line, where that happens).
  std::shared_ptr<sim::SimPrinter> printer = AddPrinter(u"USB001", u"Label A");
  sim::Spooler spooler(monitor_);
  ASSERT_TRUE(spooler.OpenPort(u"USB001", u"Label A"));
  const HANDLE port = spooler.PortHandle();
  std::u16string unknown = u"Unknown printer";
  std::u16string known = u"Label A";
  std::u16string document = u"Labels";
  DOC_INFO_1W docInfo = {document.data(), nullptr, nullptr};
  BOOL secondStarted = TRUE;
  DWORD secondError = 0;
  bool secondAsked = false;
  host::OnDebugOutput([&](const std::string& text) {
    if (!secondAsked &&
        text == Error("**** LANGMON: PJLMonStartDocPort failed to open printer\n")) {
      secondAsked = true;
      secondStarted =
          PJLMonStartDocPort(port, known.data(), 2, 1, reinterpret_cast<LPBYTE>(&docInfo));
      secondError = GetLastError();
    }
  });
  EXPECT_TRUE(PJLMonStartDocPort(port, unknown.data(), 1, 1, reinterpret_cast<LPBYTE>(&docInfo)));
  host::OnDebugOutput(nullptr);
  ASSERT_TRUE(secondAsked);
  EXPECT_FALSE(secondStarted);
  EXPECT_EQ(secondError, static_cast<DWORD>(ERROR_BUSY));
  // Only the first job was started at the port monitor, without a record of ours.
  const std::vector<sim::Event> events = printer->Events();
  ASSERT_FALSE(events.empty());
  EXPECT_EQ(events.back().kind, sim::EventKind::StartDoc);
  EXPECT_EQ(std::count_if(events.begin(), events.end(),
                          [](const sim::Event& e) { return e.kind == sim::EventKind::StartDoc; }),
            1);
  // Once it has ended, the spooler's retry gets the port.
  EXPECT_TRUE(PJLMonEndDocPort(port));
  EXPECT_TRUE(PJLMonStartDocPort(port, known.data(), 2, 1, reinterpret_cast<LPBYTE>(&docInfo)));
  EXPECT_TRUE(PJLMonEndDocPort(port));
}

TEST_F(ConcurrencyTest, TwoStartsRacingOnOnePortBothPrintOneAfterTheOther) {
  constexpr int kRounds = 25;
  const Watchdog watchdog(std::chrono::seconds(120));
  std::shared_ptr<sim::SimPrinter> printer = AddPrinter(u"USB001", u"Label A");
  sim::Spooler spooler(monitor_);
  ASSERT_TRUE(spooler.OpenPort(u"USB001", u"Label A"));
  const HANDLE port = spooler.PortHandle();

  std::atomic<int> checked{0};
  host::OnDebugOutput([&checked](const std::string& line) {
    if (line == Inform("PrepareForNextPrint( ) successful!\n")) {
      ++checked;
    }
  });
  for (int round = 0; round < kRounds; ++round) {
    printer->ClearEvents();
    host::ClearSetJobCalls();
    checked = 0;
    std::atomic<int> reportedEarly{0};
    sim::Job jobs[2] = {MakeJob(u"Label A", 2 * round + 1, 1, round),
                        MakeJob(u"Label A", 2 * round + 2, 1, round + 500)};
    std::barrier start(2);
    std::thread racers[2];
    BOOL started[2] = {FALSE, FALSE};
    for (int r = 0; r < 2; ++r) {
      racers[r] = std::thread([&, r] {
        // What the spooler does with a port that reports itself busy: it tries again a little
        // later.
        std::u16string printerName = jobs[r].printerName;
        std::u16string documentName = jobs[r].documentName;
        DOC_INFO_1W docInfo = {documentName.data(), nullptr, nullptr};
        start.arrive_and_wait();
        for (int attempt = 0; attempt < 2000 && !started[r]; ++attempt) {
          started[r] = PJLMonStartDocPort(port, printerName.data(), jobs[r].jobId, 1,
                                          reinterpret_cast<LPBYTE>(&docInfo));
          if (!started[r]) {
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
          }
        }
        if (!started[r]) {
          return;
        }
        std::vector<BYTE> data = jobs[r].data;
        DWORD sent = 0;
        const DWORD offers[] = {sim::kJobPreambleSize, 4096};
        for (int w = 0; sent < data.size(); ++w) {
          DWORD offer = std::min<DWORD>(offers[w == 0 ? 0 : 1], data.size() - sent);
          DWORD written = 0;
          if (!PJLWritePort(port, data.data() + sent, offer, &written)) {
            break;
          }
          sent += written;
        }
        for (const host::SetJobRecord& call : host::SetJobCalls()) {
          if (call.jobId == jobs[r].jobId) {
            ++reportedEarly;
          }
        }
        PJLMonEndDocPort(port);
      });
    }
    for (std::thread& racer : racers) {
      racer.join();
    }

    ASSERT_TRUE(started[0] && started[1]) << "round " << round;
    // One job after the other, never mixed.
    std::vector<BYTE> inOrder = jobs[0].data;
    inOrder.insert(inOrder.end(), jobs[1].data.begin(), jobs[1].data.end());
    std::vector<BYTE> otherOrder = jobs[1].data;
    otherOrder.insert(otherOrder.end(), jobs[0].data.begin(), jobs[0].data.end());
    const std::vector<BYTE> received = printer->JobData();
    ASSERT_TRUE(received == inOrder || received == otherOrder) << "round " << round;
    // Each job's label was checked before it went out, and no job was reported done early.
    EXPECT_EQ(checked.load(), 2) << "round " << round;
    EXPECT_EQ(reportedEarly.load(), 0) << "round " << round;
    // Each job was reported done once, and only after it was.
    std::vector<DWORD> ejected;
    for (const host::SetJobRecord& call : host::SetJobCalls()) {
      EXPECT_EQ(call.command, static_cast<DWORD>(JOB_CONTROL_LAST_PAGE_EJECTED));
      ejected.push_back(call.jobId);
    }
    std::sort(ejected.begin(), ejected.end());
    EXPECT_EQ(ejected, (std::vector<DWORD>{jobs[0].jobId, jobs[1].jobId})) << "round " << round;
  }
  host::OnDebugOutput(nullptr);
  spooler.ClosePort();
  EXPECT_EQ(LeakedAllocations(), 0);
  EXPECT_EQ(host::OpenPrinterHandles(), 0);
}

// Two printers on two ports, "Label B" in quiet mode. The jobs start one after the other, in
// either order; then both checks run at once, the other printer's low-ink question up while the
// quiet printer's check runs beside it. The quiet one asks nothing, the other asks as usual.
TEST_F(ConcurrencyTest, ChecksRunningAtOnceEachFollowTheirOwnPrintersQuietMode) {
  const Watchdog watchdog(std::chrono::seconds(120));
  std::shared_ptr<sim::SimPrinter> printers[2] = {AddPrinter(u"USB001", u"Label A"),
                                                  AddPrinter(u"USB002", u"Label B")};
  const std::u16string names[2] = {u"Label A", u"Label B"};
  const std::filesystem::path folder = AppDataFolder() / "VMT" / "Drivers";
  std::ofstream(folder / "Label B" / "VM_lp250.ini") << "[settings]\nSHOW_UI=0\n";
  sim::Spooler spoolers[2] = {sim::Spooler(monitor_), sim::Spooler(monitor_)};
  ASSERT_TRUE(spoolers[0].OpenPort(u"USB001", names[0]));
  ASSERT_TRUE(spoolers[1].OpenPort(u"USB002", names[1]));
  sim::Status lowInk;
  lowInk.magentaSpits = 480000000;

  for (const int quietStartsAs : {1, 0}) {
    SCOPED_TRACE(quietStartsAs == 1 ? "quiet printer's job started last" : "quiet one first");
    host::ClearMessageBoxes();
    for (int p = 0; p < 2; ++p) {
      printers[p]->SetStatus(lowInk);
      printers[p]->ClearEvents();
      std::ofstream(folder / host::NativePath(names[p]) / host::NativePath(names[p] + u".ini"))
          << "[settings]\n";
    }
    std::atomic<bool> quietChecked{false};
    std::atomic<bool> askedBesideIt{false};
    host::SetAnswerer([&](const host::MessageBoxRecord&) {
      // The question stays up until the quiet printer's check has run beside it.
      for (int i = 0; i < 20000 && !quietChecked; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
      }
      askedBesideIt = quietChecked.load();
      return IDNO;
    });
    std::atomic<int> turn{0};
    std::barrier started(2);
    BOOL printed[2] = {FALSE, FALSE};
    std::vector<BYTE> data[2];
    std::thread threads[2];
    for (int p = 0; p < 2; ++p) {
      const sim::Job job = MakeJob(names[p], static_cast<DWORD>(p + 1), 1, 77 + p);
      data[p] = job.data;
      threads[p] = std::thread([&, p, job] {
        const HANDLE port = spoolers[p].PortHandle();
        const int myTurn = p == 1 ? quietStartsAs : 1 - quietStartsAs;
        while (turn.load() != myTurn) {
          std::this_thread::yield();
        }
        std::u16string printer = job.printerName;
        std::u16string document = job.documentName;
        DOC_INFO_1W docInfo = {document.data(), nullptr, nullptr};
        const BOOL fStarted = PJLMonStartDocPort(port, printer.data(), job.jobId, 1,
                                                 reinterpret_cast<LPBYTE>(&docInfo));
        ++turn;
        started.arrive_and_wait();
        if (!fStarted) {
          return;
        }
        std::vector<BYTE> bytes = job.data;
        DWORD written = 0;
        printed[p] =
            PJLWritePort(port, bytes.data(), sim::kJobPreambleSize, &written) &&
            PJLWritePort(port, bytes.data() + sim::kJobPreambleSize,
                         static_cast<DWORD>(bytes.size()) - sim::kJobPreambleSize, &written);
        if (p == 1) {
          quietChecked = true;
        }
        PJLMonEndDocPort(port);
      });
    }
    for (std::thread& thread : threads) {
      thread.join();
    }
    host::SetAnswerer(nullptr);

    EXPECT_TRUE(printed[0] && printed[1]);
    const std::vector<host::MessageBoxRecord> boxes = host::MessageBoxes();
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].textId, 469u);
    EXPECT_EQ(boxes[0].caption, u"Label A");
    EXPECT_TRUE(askedBesideIt.load()) << "the question was not up while the quiet check ran";
    for (int p = 0; p < 2; ++p) {
      EXPECT_EQ(printers[p]->JobData(), data[p]) << "printer " << p;
      const std::string ini =
          (folder / host::NativePath(names[p]) / host::NativePath(names[p] + u".ini")).string();
      const std::u16string wideIni(ini.begin(), ini.end());
      EXPECT_EQ(GetPrivateProfileIntW(u"settings", u"WarnLevelColor", 0, wideIni.c_str()), 2u)
          << "printer " << p << " warned, with or without a box";
    }
  }
  spoolers[0].ClosePort();
  spoolers[1].ClosePort();
  EXPECT_EQ(LeakedAllocations(), 0);
  EXPECT_EQ(host::OpenPrinterHandles(), 0);
}

// ---- Closing a port while a call on it is under way ------------------------------------------

// Where the call under way stops until the test lets it go on: in a read of the printer or the
// end of a job at the simulated port monitor, or in a question to the user.
enum class Stop { kRead, kEndDoc, kQuestion };

// The next call that reaches the armed place waits there until released.
struct Gate {
  std::mutex mutex;
  std::condition_variable changed;
  std::optional<Stop> armed;
  bool reached = false;
  bool released = false;

  void Arm(Stop place) {
    std::lock_guard<std::mutex> lock(mutex);
    armed = place;
    reached = released = false;
  }
  void Pass(Stop place) {
    std::unique_lock<std::mutex> lock(mutex);
    if (armed == place) {
      armed.reset();
      reached = true;
      changed.notify_all();
      changed.wait(lock, [this] { return released; });
    }
  }
  void WaitUntilReached() {
    std::unique_lock<std::mutex> lock(mutex);
    changed.wait(lock, [this] { return reached; });
  }
  void Release() {
    std::lock_guard<std::mutex> lock(mutex);
    released = true;
    changed.notify_all();
  }
};

Gate gGate;

BOOL WINAPI GatedReadPort(HANDLE hPort, LPBYTE buffer, DWORD cb, LPDWORD read) {
  gGate.Pass(Stop::kRead);
  return sim::PortMonitor().pfnReadPort(hPort, buffer, cb, read);
}

BOOL WINAPI GatedEndDocPort(HANDLE hPort) {
  gGate.Pass(Stop::kEndDoc);
  return sim::PortMonitor().pfnEndDocPort(hPort);
}

// The call that is under way when the close comes.
enum class UnderWay { kCheckAtThePrinter, kCheckAtAQuestion, kStatusQuery, kJobEnd, kBidi };

std::string UnderWayName(const ::testing::TestParamInfo<UnderWay>& info) {
  const char* const names[] = {"CheckAtThePrinter", "CheckAtAQuestion", "StatusQuery", "JobEnd",
                               "Bidi"};
  return names[static_cast<int>(info.param)];
}

class CloseDuringCallTest : public ConcurrencyTest, public ::testing::WithParamInterface<UnderWay> {
 protected:
  // Read through the handle: the record lives on while the call under way holds it.
  static void WaitUntilClosing(HANDLE port) {
    while (PortOfHandle(port) != nullptr) {
      std::this_thread::yield();
    }
  }
  static long Closes(sim::SimPrinter& printer) {
    const std::vector<sim::Event> events = printer.Events();
    return std::count_if(events.begin(), events.end(),
                         [](const sim::Event& e) { return e.kind == sim::EventKind::Close; });
  }
  // What the spooler was told of job 2, the one on the port being closed.
  static std::vector<DWORD> SetJobsOfJob2() {
    std::vector<DWORD> commands;
    for (const host::SetJobRecord& call : host::SetJobCalls()) {
      if (call.jobId == 2) {
        commands.push_back(call.command);
      }
    }
    return commands;
  }
};

TEST_P(CloseDuringCallTest, TheCloseWaitsForItAndRefusesEverythingElseMeanwhile) {
  const Watchdog watchdog(std::chrono::seconds(120));
  const UnderWay underWay = GetParam();
  std::shared_ptr<sim::SimPrinter> printer = AddPrinter(u"USB001", u"Label A");
  std::shared_ptr<sim::SimPrinter> otherPrinter = AddPrinter(u"USB002", u"Label B");
  MONITOR gated = sim::PortMonitor();
  gated.pfnReadPort = GatedReadPort;
  gated.pfnEndDocPort = GatedEndDocPort;
  std::u16string portName = u"USB001";
  std::u16string printerName = u"Label A";
  std::u16string document = u"Labels";
  DOC_INFO_1W docInfo = {document.data(), nullptr, nullptr};
  HANDLE port = nullptr;
  ASSERT_TRUE(PJLMonOpenPortEx(portName.data(), printerName.data(), &port, &gated));
  sim::Spooler other(monitor_);
  ASSERT_TRUE(other.OpenPort(u"USB002", u"Label B"));

  std::vector<BYTE> job = sim::MakeJobData(1, 300, 5);
  DWORD written = 0;
  const auto startJob = [&](DWORD jobId) {
    ASSERT_TRUE(
        PJLMonStartDocPort(port, printerName.data(), jobId, 1, reinterpret_cast<LPBYTE>(&docInfo)));
    ASSERT_TRUE(PJLWritePort(port, job.data(), sim::kJobPreambleSize, &written));
  };
  if (underWay == UnderWay::kBidi) {
    // Once a job has been seen on the port, ink levels are read from the printer between jobs.
    startJob(1);
    ASSERT_TRUE(PJLMonEndDocPort(port));
  } else if (underWay != UnderWay::kStatusQuery) {
    startJob(2);
  }
  printer->ClearEvents();

  // The call, on a spooler thread of its own, until it stops where the gate holds it.
  BOOL result = FALSE;
  BYTE status[512];
  DWORD returned = 0;
  std::u16string value = u"VELMORA";
  std::u16string schema = u"\\Printer.Consumables";
  BIDI_REQUEST_CONTAINER consumables = {1, 0, 1, {{0, schema.data(), {}}}};
  PBIDI_RESPONSE_CONTAINER levels = nullptr;
  std::function<BOOL()> call;
  switch (underWay) {
    case UnderWay::kCheckAtAQuestion: {
      sim::Status lowInk;
      lowInk.magentaSpits = 480000000;
      printer->SetStatus(lowInk);
      host::SetAnswerer([](const host::MessageBoxRecord&) {
        gGate.Pass(Stop::kQuestion);
        return IDNO;
      });
    }
      [[fallthrough]];
    case UnderWay::kCheckAtThePrinter:
      gGate.Arm(underWay == UnderWay::kCheckAtThePrinter ? Stop::kRead : Stop::kQuestion);
      call = [&] {
        return PJLWritePort(port, job.data() + sim::kJobPreambleSize,
                            static_cast<DWORD>(job.size()) - sim::kJobPreambleSize, &written);
      };
      break;
    case UnderWay::kStatusQuery:
      gGate.Arm(Stop::kRead);
      call = [&] {
        return GetPrinterDataFromPort(port, 0, value.data(), nullptr, 0,
                                      reinterpret_cast<LPWSTR>(status), sizeof(status), &returned);
      };
      break;
    case UnderWay::kJobEnd:
      gGate.Arm(Stop::kEndDoc);
      call = [&] { return PJLMonEndDocPort(port); };
      break;
    case UnderWay::kBidi:
      gGate.Arm(Stop::kRead);
      call = [&] {
        return PJLMonSendRecvBidiDataFromPort(port, BIDI_ACCESS_USER, u"GetAll", &consumables,
                                              &levels) == ERROR_SUCCESS;
      };
      break;
  }
  std::thread caller([&] { result = call(); });
  gGate.WaitUntilReached();
  BOOL closed = FALSE;
  std::thread closer([&] { closed = PJLMonClosePort(port); });
  WaitUntilClosing(port);

  // The close waits; meanwhile the port takes no new call, a second close included, and the
  // port monitor is not told to close. Another printer's port prints a whole job.
  ExpectEveryEntryRefuses(port);
  EXPECT_EQ(Closes(*printer), 0);
  const sim::Job otherJob = MakeJob(u"Label B", 7, 1, 6);
  const sim::JobResult printed = other.Print(otherJob);
  EXPECT_TRUE(printed.started && !printed.writeFailed && printed.ended);
  EXPECT_EQ(otherPrinter->JobData(), otherJob.data);

  gGate.Release();
  caller.join();
  closer.join();
  host::SetAnswerer(nullptr);
  EXPECT_TRUE(result) << "the call under way ends as it would have";
  EXPECT_TRUE(closed);
  EXPECT_EQ(Closes(*printer), 1);
  switch (underWay) {
    case UnderWay::kCheckAtThePrinter:
    case UnderWay::kCheckAtAQuestion:
      // The check passed and the write it held up went out; the job, still listed, was
      // dropped by the close without a word to the spooler.
      EXPECT_EQ(printer->JobData(),
                std::vector<BYTE>(job.begin() + sim::kJobPreambleSize,
                                  job.begin() + sim::kJobPreambleSize + written));
      EXPECT_TRUE(SetJobsOfJob2().empty());
      break;
    case UnderWay::kStatusQuery:
      EXPECT_EQ(returned, 116u);
      break;
    case UnderWay::kJobEnd:
      EXPECT_EQ(SetJobsOfJob2(), std::vector<DWORD>{JOB_CONTROL_LAST_PAGE_EJECTED});
      break;
    case UnderWay::kBidi:
      ASSERT_NE(levels, nullptr);
      EXPECT_EQ(levels->Count, 12u) << "the colour cartridge's three inks, four values each";
      RouterFreeBidiResponseContainer(levels);
      break;
  }
  // Closed, the handle stays refused.
  ExpectEveryEntryRefuses(port);
  EXPECT_EQ(Closes(*printer), 1);
  other.ClosePort();
  EXPECT_EQ(pIniFirstPort, nullptr);
  EXPECT_EQ(LeakedAllocations(), 0);
  EXPECT_EQ(host::OpenPrinterHandles(), 0);
  EXPECT_EQ(host::OpenEvents(), 0);
}

INSTANTIATE_TEST_SUITE_P(Calls, CloseDuringCallTest,
                         ::testing::Values(UnderWay::kCheckAtThePrinter,
                                           UnderWay::kCheckAtAQuestion, UnderWay::kStatusQuery,
                                           UnderWay::kJobEnd, UnderWay::kBidi),
                         UnderWayName);

TEST_F(ConcurrencyTest, LogFileWrittenByManyThreadsHoldsOnlyWholeLines) {
  constexpr int kThreads = 8;
  constexpr int kLines = 150;
  constexpr size_t kCap = 2000000;  // the file starts over past this size
  const Watchdog watchdog(std::chrono::seconds(120));
  // Just below the cap, so that the file also starts over while the threads write.
  {
    std::ofstream file(LogFilePath(), std::ios::binary);
    const std::string filler = "01/01 00:00:00:000  VMT_LM_10[INFORM] filler line\n";
    for (size_t size = 0; size + filler.size() <= kCap - 2000; size += filler.size()) {
      file << filler;
    }
  }

  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([t] {
      for (int line = 0; line < kLines; ++line) {
        LogMessage(LOG_INFORM, "thread %d line %d of a log written from many threads\n", t, line);
      }
    });
  }
  for (std::thread& thread : threads) {
    thread.join();
  }

  const std::string text = LogFileText();
  ASSERT_FALSE(text.empty());
  EXPECT_EQ(text.back(), '\n');
  const std::regex whole(
      R"(\d\d/\d\d \d\d:\d\d:\d\d:\d\d\d  VMT_LM_10\[INFORM\] )"
      R"((filler line|thread [0-7] line \d+ of a log written from many threads))");
  std::istringstream lines(text);
  std::string line;
  long count = 0;
  while (std::getline(lines, line)) {
    ++count;
    EXPECT_TRUE(std::regex_match(line, whole)) << "line " << count << ": " << line;
  }
  EXPECT_GT(count, 0);
  EXPECT_LE(text.size(), kCap + 20 + 512);  // past the cap by one line at most
}

}  // namespace
}  // namespace langmon_test
