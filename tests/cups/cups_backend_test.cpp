// Jobs through a real cupsd, the langmon backend and CUPS's own socket backend to the simulated
// printer on the network: what the printer receives, and what every CUPS client sees.
#include <gtest/gtest.h>

#include <pwd.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <thread>

#include "sim/spooler.h"
#include "tests/cups/cups_fixture.h"

namespace cups_test {
namespace {

using std::chrono::seconds;

constexpr uint8_t kCartEmptyCommand[] = {0x1B, 0x2A, 0x6D, 0x04, 0x04};

bool Has(const std::string& text, const std::string& part) {
  return text.find(part) != std::string::npos;
}

// A stand-in "usb" backend in the private program folder: it ignores SIGTERM (as CUPS's usb
// backend does while it reads its standard input), passes the printer's answers back on
// descriptor 3, and feeds the simulated printer as `feed` says.
void WriteUsbStandIn(const std::string& folder, int printerPort, const std::string& feed) {
  const std::string usb = folder + "/bin/backend/usb";
  std::ofstream(usb) << "#!/bin/bash\n"
                        "trap '' TERM\n"
                        "exec 5<>/dev/tcp/127.0.0.1/"
                     << printerPort << "\ncat <&5 >&3 &\n"
                     << feed;
  std::filesystem::permissions(usb, std::filesystem::perms(0755));
}

// Lines that begin with `start` and hold `part`.
size_t Count(const std::string& text, const std::string& start, const std::string& part) {
  size_t count = 0;
  size_t at = 0;
  while (at < text.size()) {
    size_t end = text.find('\n', at);
    if (end == std::string::npos) end = text.size();
    const std::string line = text.substr(at, end - at);
    if (line.rfind(start, 0) == 0 && Has(line, part)) ++count;
    at = end + 1;
  }
  return count;
}

size_t Count(const std::string& text, const std::string& part) { return Count(text, "", part); }

std::vector<uint8_t> Plain(size_t size, uint8_t seed) {
  std::vector<uint8_t> data(size);
  for (size_t i = 0; i < size; ++i) data[i] = static_cast<uint8_t>('A' + (i * 7 + seed) % 26);
  return data;
}

TEST_F(CupsTest, JobReachesThePrinterUnchangedAndTheInkLevelsAreShown) {
  StartAll();
  if (IsSkipped()) return;
  ChangeStatus([](sim::Status& s) {
    s.yellowSpits = 100000000;
    s.magentaSpits = 200000000;
    s.cyanSpits = 0;
  });
  printer_->SetSpitsPerByte(0, 0, 0);

  const std::vector<uint8_t> data = sim::MakeJobData(3, 700);
  const int id = Print(data);
  ASSERT_TRUE(WaitForJobState(id, "completed", seconds(30))) << cups_->ErrorLog();
  EXPECT_EQ(front_->Received(), data);

  // Ink left of the colour limit of 515 million spits, as the bidi answer computes it.
  const std::string attributes = PrinterAttributes();
  EXPECT_TRUE(Has(attributes, "marker-levels (1setOf integer) = 81,61,100")) << attributes;
  EXPECT_TRUE(Has(attributes, "marker-names (1setOf nameWithoutLanguage) = Yellow,Magenta,Cyan"))
      << attributes;
  EXPECT_TRUE(
      Has(attributes, "marker-colors (1setOf nameWithoutLanguage) = #FFFF00,#FF00FF,#00FFFF"))
      << attributes;
  EXPECT_TRUE(
      Has(attributes, "marker-types (1setOf keyword) = ink-cartridge,ink-cartridge,ink-cartridge"))
      << attributes;

  EXPECT_TRUE(Has(attributes, "marker-low-levels (1setOf integer) = 10,10,10")) << attributes;
  EXPECT_TRUE(Has(attributes, "marker-high-levels (1setOf integer) = 100,100,100")) << attributes;

  // Each label's header was checked; the queue's settings and the monitor's log are its own,
  // kept by the job's account (lp) where nobody else may look.
  struct stat folder {};
  ASSERT_EQ(lstat(cups_->StateFolder().c_str(), &folder), 0);
  EXPECT_EQ(folder.st_mode & 07777, 0700u);
  EXPECT_EQ(folder.st_uid, getpwnam("lp")->pw_uid);
  ASSERT_EQ(lstat(QueueFolder().c_str(), &folder), 0);
  EXPECT_EQ(folder.st_mode & 07777, 0700u);
  EXPECT_EQ(folder.st_uid, getpwnam("lp")->pw_uid);
  EXPECT_TRUE(Has(ReadFile(QueueFolder() + "/Label_A.ini"), "PrintCounter=3"));
  EXPECT_TRUE(Has(ReadFile(QueueFolder() + "/VelmoraLMDrv.dbg"), "Header found"));
  EXPECT_TRUE(Has(cups_->ErrorLog(), "status reads"));
}

TEST_F(CupsTest, CopiesOfARawJobAreMadeByTheBackend) {
  StartAll();
  if (IsSkipped()) return;
  const std::vector<uint8_t> data = sim::MakeJobData(1, 300);
  const int id = Print(data, "-n 2");
  ASSERT_TRUE(WaitForJobState(id, "completed", seconds(30))) << cups_->ErrorLog();
  std::vector<uint8_t> twice = data;
  twice.insert(twice.end(), data.begin(), data.end());
  EXPECT_EQ(front_->Received(), twice);
}

TEST_F(CupsTest, LowInkIsAWarningAndTheJobPrints) {
  StartAll();
  if (IsSkipped()) return;
  ChangeStatus([](sim::Status& s) {
    s.yellowSpits = 470000000;  // 9 % of 515 million left
  });
  printer_->SetSpitsPerByte(0, 0, 0);
  const std::vector<uint8_t> data = sim::MakeJobData(1, 500);
  const int id = Print(data);
  ASSERT_TRUE(WaitForJobState(id, "completed", seconds(30))) << cups_->ErrorLog();
  EXPECT_EQ(front_->Received(), data);
  std::string printer = PrinterLong();
  EXPECT_TRUE(Has(printer, "Alerts: marker-supply-low-warning")) << printer;
  // The message goes with the finished job (cupsd clears it); the error log keeps it, once.
  EXPECT_EQ(Count(cups_->ErrorLog(), "W [",
                  "] [Job " + std::to_string(id) +
                      "] Ink is low. Have a new cartridge ready; printing goes on."),
            1u)
      << cups_->ErrorLog();

  // The next job reads the same level: the warning stands, and is not warned again.
  const int next = Print(data);
  ASSERT_TRUE(WaitForJobState(next, "completed", seconds(30))) << cups_->ErrorLog();
  printer = PrinterLong();
  EXPECT_TRUE(Has(printer, "Alerts: marker-supply-low-warning")) << printer;
  EXPECT_EQ(Count(cups_->ErrorLog(), "W [", "Ink is low."), 1u);
}

// The cartridge as the printer reports it: none, one it cannot use, a good one again; each
// reason stands while its condition does.
TEST_F(CupsTest, AMissingOrInvalidCartridgeIsShownWhileItLasts) {
  StartAll();
  if (IsSkipped()) return;
  const std::vector<uint8_t> data = sim::MakeJobData(1, 300);
  struct Step {
    BYTE cartStatus;
    const char* shown;
    const char* notShown;
  };
  for (const Step& step : {Step{0x20, "marker-supply-missing-error", "cartridge-invalid"},
                           Step{0x10, "velmora-cartridge-invalid-error", "supply-missing"},
                           Step{0x00, "none", "cartridge"}}) {
    ChangeStatus([&](sim::Status& s) { s.cartStatus = step.cartStatus; });
    const int id = Print(data);
    ASSERT_TRUE(WaitFor([&] { return JobState(id) != "processing" && JobState(id) != "pending"; },
                        seconds(30)))
        << cups_->ErrorLog();
    const std::string printer = PrinterLong();
    EXPECT_TRUE(Has(printer, std::string("Alerts: ") + step.shown)) << printer;
    EXPECT_FALSE(Has(printer, step.notShown)) << printer;
  }
  const std::string log = cups_->ErrorLog();
  EXPECT_EQ(Count(log, "W [", "No ink cartridge is installed. Install one."), 1u) << log;
  EXPECT_EQ(Count(log, "W [", "The installed cartridge cannot be used in this printer."), 1u);
  // With no cartridge in, its inks are not reported as having a level.
  EXPECT_TRUE(Has(log, "marker-levels=-1,-1,-1")) << log;
}

TEST_F(CupsTest, StockOutWaitsWithItsReasonUntilTheStockIsLoaded) {
  StartAll();
  if (IsSkipped()) return;
  ChangeStatus([](sim::Status& s) { s.errorFlags = 0x01; });
  const std::vector<uint8_t> data = sim::MakeJobData(2, 400);
  const int id = Print(data);
  ASSERT_TRUE(WaitFor([&] { return Has(PrinterLong(), "media-empty-error"); }, seconds(30)))
      << cups_->ErrorLog();
  const std::string printer = PrinterLong();
  EXPECT_TRUE(Has(printer, "Out of labels. Load label stock; printing goes on by itself."))
      << printer;
  EXPECT_EQ(JobState(id), "processing");
  EXPECT_TRUE(front_->Received().size() < data.size());

  sim::StateChange loaded;
  loaded.errorFlags = 0;
  printer_->Apply(loaded);
  ASSERT_TRUE(WaitForJobState(id, "completed", seconds(30))) << cups_->ErrorLog();
  EXPECT_EQ(front_->Received(), data);
  EXPECT_FALSE(Has(PrinterLong(), "media-empty-error"));
}

TEST_F(CupsTest, EmptyCartridgeSendsItsCommandAndWaitsUntilCleared) {
  StartAll();
  if (IsSkipped()) return;
  ChangeStatus([](sim::Status& s) {
    s.yellowSpits = 900000000;  // past the colour hard limit
    s.errorFlags = 0x02;
  });
  printer_->SetSpitsPerByte(0, 0, 0);
  const std::vector<uint8_t> data = sim::MakeJobData(1, 400);
  const int id = Print(data);
  ASSERT_TRUE(WaitFor([&] { return Has(PrinterLong(), "marker-supply-empty-error"); }, seconds(30)))
      << cups_->ErrorLog();
  EXPECT_TRUE(Has(PrinterLong(), "The cartridge is empty. Replace it;"));

  sim::StateChange cleared;
  cleared.errorFlags = 0;
  printer_->Apply(cleared);
  ASSERT_TRUE(WaitForJobState(id, "completed", seconds(30))) << cups_->ErrorLog();
  // The check's command, then the job as it was sent: the preamble went first, unchecked.
  std::vector<uint8_t> expected(data.begin(), data.begin() + sim::kJobPreambleSize);
  expected.insert(expected.end(), std::begin(kCartEmptyCommand), std::end(kCartEmptyCommand));
  expected.insert(expected.end(), data.begin() + sim::kJobPreambleSize, data.end());
  EXPECT_EQ(front_->Received(), expected);
  EXPECT_FALSE(Has(PrinterLong(), "marker-supply-empty-error"));
}

TEST_F(CupsTest, AnUnrecoverableErrorCancelsTheJob) {
  StartAll();
  if (IsSkipped()) return;
  ChangeStatus([](sim::Status& s) { s.errorFlags = 0x08; });
  const std::vector<uint8_t> data = sim::MakeJobData(1, 400);
  const int id = Print(data);
  ASSERT_TRUE(WaitForJobState(id, "canceled", seconds(30))) << cups_->ErrorLog();
  const std::vector<uint8_t> received = front_->Received();
  EXPECT_EQ(received, std::vector<uint8_t>(data.begin(), data.begin() + sim::kJobPreambleSize));
  const std::string printer = PrinterLong();
  EXPECT_TRUE(Has(printer, "other-error")) << printer;
  // The message went with the finished job; the error log keeps it.
  EXPECT_EQ(Count(cups_->ErrorLog(), "W [", "The printer reports an error it cannot recover from."),
            1u);
}

TEST_F(CupsTest, ACancelDuringAWaitEndsTheJobAtOnce) {
  StartAll();
  if (IsSkipped()) return;
  ChangeStatus([](sim::Status& s) { s.errorFlags = 0x01; });
  const std::vector<uint8_t> data = sim::MakeJobData(2, 400);
  const int id = Print(data);
  ASSERT_TRUE(WaitFor([&] { return Has(PrinterLong(), "media-empty-error"); }, seconds(30)))
      << cups_->ErrorLog();
  const auto cancelled = std::chrono::steady_clock::now();
  ASSERT_EQ(cups_->Run("cancel Label_A-" + std::to_string(id)).status, 0);
  ASSERT_TRUE(WaitForJobState(id, "canceled", seconds(10)));
  // The backend and its child are gone well before cupsd would kill them.
  ASSERT_TRUE(WaitFor([&] { return Has(cups_->ErrorLog(), "langmon) exited"); }, seconds(10)))
      << cups_->ErrorLog();
  EXPECT_LT(std::chrono::steady_clock::now() - cancelled, seconds(10));
  EXPECT_FALSE(Has(cups_->ErrorLog(), "crashed"));
  EXPECT_TRUE(WaitFor([&] { return !front_->Connected(); }, seconds(10)));
  EXPECT_EQ(front_->Received(),
            std::vector<uint8_t>(data.begin(), data.begin() + sim::kJobPreambleSize));
  // The cancelled job's condition is not left behind.
  const std::string printer = PrinterLong();
  EXPECT_FALSE(Has(printer, "media-empty-error")) << printer;
  EXPECT_FALSE(Has(printer, "Out of labels")) << printer;
}

// The printer takes the connection but never answers: the monitor waits its own limit for a
// first status record (two minutes), then the job is given back to CUPS to try later, with the
// reason shown, and the queue goes on.
TEST_F(CupsTest, APrinterThatNeverAnswersGivesTheJobBackWithinTheMonitorsLimit) {
  StartAll(false);
  if (IsSkipped()) return;
  const std::vector<uint8_t> data = sim::MakeJobData(1, 400);
  const auto start = std::chrono::steady_clock::now();
  const int id = Print(data);
  ASSERT_TRUE(
      WaitFor([&] { return JobState(id) != "processing" && JobState(id) != ""; }, seconds(170)))
      << cups_->ErrorLog();
  EXPECT_LT(std::chrono::steady_clock::now() - start, seconds(160));
  // Given back for later ("retry job later"), not stopped: the queue goes on.
  EXPECT_TRUE(Has(cups_->ErrorLog(), "Backend returned status 6")) << cups_->ErrorLog();
  EXPECT_EQ(JobState(id), "pending-held");
  EXPECT_FALSE(Has(PrinterLong(), "disabled"));
  // The reason was shown while the job was the printer's (cupsd takes it back with the job),
  // and the job keeps the message.
  const std::string log = cups_->ErrorLog();
  EXPECT_TRUE(Has(log, "STATE: +offline-report")) << log;
  const std::string job = cups_
                              ->Run("ipptool -tv ipp://" + cups_->Server() + "/jobs/" +
                                    std::to_string(id) + " get-job-attributes.test")
                              .output;
  EXPECT_TRUE(Has(job,
                  "job-printer-state-message (textWithoutLanguage) = The printer does not "
                  "answer."))
      << job;
  EXPECT_EQ(Count(log, "W [", "The printer does not answer. Check that it is on and connected;"),
            1u)
      << log;
  // Details are for the debug log: no error lines of the monitor's.
  EXPECT_EQ(Count(log, "E [", "VMT_LM"), 0u) << log;
  EXPECT_LT(front_->Received().size(), data.size());
}

// The printer drops the connection while the check waits for stock: with no status record for
// the monitor's own limit (two minutes) the job is given back to CUPS to try later.
TEST_F(CupsTest, APrinterThatDropsTheConnectionDuringAWaitGivesTheJobBack) {
  StartAll();
  if (IsSkipped()) return;
  ChangeStatus([](sim::Status& s) { s.errorFlags = 0x01; });
  const int id = Print(sim::MakeJobData(1, 400));
  ASSERT_TRUE(WaitFor([&] { return Has(PrinterLong(), "media-empty-error"); }, seconds(30)))
      << cups_->ErrorLog();
  const auto dropped = std::chrono::steady_clock::now();
  front_->Stop();
  ASSERT_TRUE(
      WaitFor([&] { return JobState(id) != "processing" && JobState(id) != ""; }, seconds(170)))
      << cups_->ErrorLog();
  EXPECT_LT(std::chrono::steady_clock::now() - dropped, seconds(160));
  EXPECT_EQ(JobState(id), "pending-held");
  const std::string log = cups_->ErrorLog();
  EXPECT_TRUE(Has(log, "Backend returned status 6")) << log;
  EXPECT_EQ(Count(log, "W [", "The printer closed the connection."), 1u) << log;
  EXPECT_FALSE(Has(PrinterLong(), "media-empty-error"));
}

// Job sizes around the pipe's and the read's sizes, none of which may be lost or kept waiting
// (an empty job, which lp refuses to send, is run by hand below).
TEST_F(CupsTest, EveryJobSizeReachesThePrinterUnchanged) {
  StartAll();
  if (IsSkipped()) return;
  std::vector<uint8_t> expected;
  uint8_t seed = 0;
  for (const size_t size :
       {size_t{1}, size_t{47}, size_t{3000}, size_t{65535}, size_t{65537}, size_t{200000}}) {
    const std::vector<uint8_t> data = Plain(size, ++seed);
    const int id = Print(data);
    ASSERT_TRUE(WaitForJobState(id, "completed", seconds(30)))
        << size << " bytes: " << JobState(id) << "\n"
        << cups_->ErrorLog();
    expected.insert(expected.end(), data.begin(), data.end());
    ASSERT_EQ(front_->Received(), expected) << size << " bytes";
  }
  // Labels of a driver's job, the largest over several reads.
  const std::vector<uint8_t> labels = sim::MakeJobData(4, 60000);
  const int id = Print(labels);
  ASSERT_TRUE(WaitForJobState(id, "completed", seconds(60))) << cups_->ErrorLog();
  expected.insert(expected.end(), labels.begin(), labels.end());
  EXPECT_EQ(front_->Received(), expected);
  EXPECT_TRUE(Has(ReadFile(QueueFolder() + "/Label_A.ini"), "PrintCounter=4"));
}

TEST_F(CupsTest, FiftySmallJobsInARowAllPrint) {
  StartAll();
  if (IsSkipped()) return;
  const std::vector<uint8_t> hello = {'h', 'e', 'l', 'l', 'o', '\n'};
  for (int i = 0; i < 50; ++i) ASSERT_NE(Print(hello), 0);
  ASSERT_TRUE(WaitFor([&] { return cups_->Run("lpstat -o Label_A").output.empty(); }, seconds(120)))
      << cups_->Run("lpstat -o Label_A").output << cups_->ErrorLog();
  std::vector<uint8_t> expected;
  for (int i = 0; i < 50; ++i) expected.insert(expected.end(), hello.begin(), hello.end());
  EXPECT_EQ(front_->Received(), expected);
  EXPECT_EQ(Count(cups_->Run("lpstat -W completed -o Label_A").output, "Label_A-"), 50u);
}

// Nothing of the backend's lies in a folder another user can write: neither cupsd's temporary
// folder nor the system's.
std::vector<std::string> Entries(const std::string& folder) {
  std::vector<std::string> names;
  std::error_code error;
  for (const auto& entry : std::filesystem::directory_iterator(folder, error)) {
    names.push_back(entry.path().filename().string());
  }
  return names;
}

std::vector<std::string> BackendFilesIn(const std::string& folder) {
  std::vector<std::string> found;
  for (const std::string& name : Entries(folder)) {
    if (name.rfind("langmon", 0) == 0) found.push_back(name);
  }
  return found;
}

// Entries of `folder` that belong to lp, as every file of the job's would.
std::vector<std::string> LpsEntries(const std::string& folder) {
  std::vector<std::string> found;
  for (const std::string& name : Entries(folder)) {
    struct stat info {};
    if (lstat((folder + "/" + name).c_str(), &info) == 0 && info.st_uid == getpwnam("lp")->pw_uid) {
      found.push_back(name);
    }
  }
  return found;
}

// The processes whose program lies in `folder` (the private cupsd's program folder).
std::vector<pid_t> ProcessesOf(const std::string& folder) {
  std::vector<pid_t> pids;
  for (const std::string& name : Entries("/proc")) {
    if (name.find_first_not_of("0123456789") != std::string::npos) continue;
    std::error_code error;
    const std::string exe = std::filesystem::read_symlink("/proc/" + name + "/exe", error);
    if (!error && exe.rfind(folder, 0) == 0) pids.push_back(std::stoi(name));
    // The socket backend's copy runs as lp and is read by exe too; bash scripts by cmdline.
    const std::string cmdline = ReadFile("/proc/" + name + "/cmdline");
    if (error && Has(cmdline, folder)) pids.push_back(std::stoi(name));
  }
  return pids;
}

// A job that begins with its header is checked before the header goes, like every later one.
TEST_F(CupsTest, AJobThatBeginsWithItsHeaderWaitsWhileStockIsOut) {
  StartAll();
  if (IsSkipped()) return;
  ChangeStatus([](sim::Status& s) { s.errorFlags = 0x01; });
  const std::vector<uint8_t> job = sim::MakeJobData(2, 400);
  const std::vector<uint8_t> data(job.begin() + sim::kJobPreambleSize, job.end());
  const int id = Print(data);
  ASSERT_TRUE(WaitFor([&] { return Has(PrinterLong(), "media-empty-error"); }, seconds(30)))
      << cups_->ErrorLog();
  EXPECT_TRUE(front_->Received().empty());
  EXPECT_EQ(JobState(id), "processing");
  // While it waits: nothing in cupsd's temporary folder or the system's, and the job's own
  // process is not root.
  EXPECT_TRUE(BackendFilesIn(cups_->TempDir()).empty());
  for (const std::string& folder :
       {cups_->TempDir(), std::string("/tmp"), std::string("/var/tmp")}) {
    EXPECT_TRUE(LpsEntries(folder).empty()) << folder << ": " << LpsEntries(folder)[0];
  }
  // Root's process and the job's, which runs as lp.
  const std::string lp = std::to_string(getpwnam("lp")->pw_uid);
  std::vector<std::string> users;
  for (const pid_t pid : ProcessesOf(cups_->Folder() + "/bin/backend/langmon")) {
    const std::string status = ReadFile("/proc/" + std::to_string(pid) + "/status");
    const size_t uid = status.find("\nUid:\t");
    users.push_back(status.substr(uid + 6, status.find('\n', uid + 1) - uid - 6));
  }
  std::sort(users.begin(), users.end());
  EXPECT_EQ(users,
            (std::vector<std::string>{"0\t0\t0\t0", lp + "\t" + lp + "\t" + lp + "\t" + lp}));

  sim::StateChange loaded;
  loaded.errorFlags = 0;
  printer_->Apply(loaded);
  ASSERT_TRUE(WaitForJobState(id, "completed", seconds(30))) << cups_->ErrorLog();
  EXPECT_EQ(front_->Received(), data);
  EXPECT_TRUE(Has(ReadFile(QueueFolder() + "/Label_A.ini"), "PrintCounter=2"));
}

// A purge (cancel -x) ends the backend with SIGKILL: nothing of it may stay behind.
TEST_F(CupsTest, APurgedJobLeavesNoProcessAndNoFile) {
  StartAll();
  if (IsSkipped()) return;
  ChangeStatus([](sim::Status& s) { s.errorFlags = 0x01; });
  const int id = Print(sim::MakeJobData(1, 400));
  ASSERT_TRUE(WaitFor([&] { return Has(PrinterLong(), "media-empty-error"); }, seconds(30)))
      << cups_->ErrorLog();
  const std::string programs = cups_->Folder() + "/bin/";
  ASSERT_GE(ProcessesOf(programs).size(), 3u);  // root's, the job's, the socket backend
  ASSERT_EQ(cups_->Run("cancel -x Label_A-" + std::to_string(id)).status, 0);
  EXPECT_TRUE(WaitFor([&] { return ProcessesOf(programs).empty(); }, seconds(10)));
  EXPECT_TRUE(BackendFilesIn(cups_->TempDir()).empty());
  EXPECT_TRUE(WaitFor([&] { return !front_->Connected(); }, seconds(10)));
}

// Run by hand as CUPS documents a backend's run: an empty job prints (nothing), and without
// the queue's name it says in one line what it needs.
TEST_F(CupsTest, ARunByHandPrintsOrSaysWhatItNeeds) {
  StartAll();
  if (IsSkipped()) return;
  const std::string empty = cups_->Folder() + "/empty.prn";
  std::ofstream(empty).close();
  const std::string backend = cups_->Folder() + "/bin/backend/langmon";
  const std::string environment =
      "CUPS_SERVERBIN=" + cups_->Folder() + "/bin LANGMON_STATE_DIR=" + cups_->StateFolder() +
      " DEVICE_URI='langmon:socket://127.0.0.1:" + std::to_string(front_->Port()) +
      "/?snmp=false' ";
  CommandResult run =
      cups_->Run(environment + "PRINTER=Label_A " + backend + " 1 user title 1 '' " + empty);
  EXPECT_EQ(run.status, 0) << run.output;
  EXPECT_TRUE(front_->Received().empty());
  EXPECT_TRUE(Has(ReadFile(QueueFolder() + "/VelmoraLMDrv.dbg"), "PJLMonEndDocPort"));

  // A filter's output on standard input comes in reads as short as its writes: the header of a
  // job that arrives a few bytes at a time is still checked (the check counts the label).
  const std::vector<uint8_t> job = sim::MakeJobData(1, 400);
  const std::string jobFile = cups_->Folder() + "/job.prn";
  std::ofstream(jobFile, std::ios::binary)
      .write(reinterpret_cast<const char*>(job.data()), static_cast<std::streamsize>(job.size()));
  run = cups_->Run(
      "sh -c 'for at in $(seq 0 8 " + std::to_string(job.size()) + "); do dd if=" + jobFile +
      " bs=1 skip=$at count=8 status=none; sleep 0.01; done' | CUPS_SERVER=" + cups_->Server() +
      " " + environment + "PRINTER=Label_A " + backend + " 1 user title 1 ''");
  EXPECT_EQ(run.status, 0) << run.output;
  EXPECT_EQ(front_->Received(), job);
  EXPECT_TRUE(Has(ReadFile(QueueFolder() + "/Label_A.ini"), "PrintCounter=1"));

  run = cups_->Run("env -u PRINTER " + environment + backend + " 1 user title 1 '' " + empty);
  EXPECT_EQ(run.status, 4) << run.output;  // CUPS_BACKEND_STOP
  EXPECT_EQ(run.output, "ERROR: no queue name: set PRINTER to the queue's name (cupsd does)\n");
}

// A cancel while the job's data is still going to a child that takes it slowly and outlives
// SIGTERM (as CUPS's usb backend does when it reads its standard input): the data stops at
// once, and the job ends without waiting for the cancel's last resort. The stand-in "usb" is a
// script in the private program folder that passes the job to the simulated printer 4 KB at a
// time and its status back on descriptor 3.
TEST_F(CupsTest, ACancelWhileDataFlowsToASlowChildStopsTheData) {
  StartAll();
  if (IsSkipped()) return;
  WriteUsbStandIn(cups_->Folder(), front_->Port(),
                  "while :; do\n"
                  "  r=$(dd bs=4096 count=1 2>&1 >&5 | head -n 1)\n"
                  "  [ \"$r\" = '0+0 records in' ] && break\n"
                  "  sleep 0.1\n"
                  "done\n"
                  "kill $!\n");
  ASSERT_EQ(cups_->Run("lpadmin -p Label_A -v langmon:usb://Test/Slow").status, 0);

  const std::vector<uint8_t> data = sim::MakeJobData(1, 4000000);
  const int id = Print(data);
  ASSERT_TRUE(WaitFor([&] { return front_->Received().size() > 100000; }, seconds(30)))
      << cups_->ErrorLog();
  ASSERT_EQ(cups_->Run("cancel Label_A-" + std::to_string(id)).status, 0);
  const size_t atCancel = front_->Received().size();
  ASSERT_TRUE(WaitForJobState(id, "canceled", seconds(10)));
  ASSERT_TRUE(WaitFor([&] { return Has(cups_->ErrorLog(), "langmon) exited"); }, seconds(20)))
      << cups_->ErrorLog();
  EXPECT_TRUE(WaitFor([&] { return !front_->Connected(); }, seconds(10)));
  // What was in the pipe and a second of the child's pace at most: a backend that went on
  // writing would have sent five seconds' worth, until its cancel's last resort.
  EXPECT_LT(front_->Received().size() - atCancel, 150000u);
  EXPECT_FALSE(Has(cups_->ErrorLog(), "did not end; stopped")) << cups_->ErrorLog();
}

// A queue deleted and made anew under its name is another printer: its counters start anew,
// and the earlier queue's settings are put aside with a word in the error log.
TEST_F(CupsTest, ANewQueueOfTheSameNameDoesNotInheritTheCounters) {
  StartAll();
  if (IsSkipped()) return;
  const std::vector<uint8_t> data = sim::MakeJobData(2, 300);
  int id = Print(data);
  ASSERT_TRUE(WaitForJobState(id, "completed", seconds(30))) << cups_->ErrorLog();
  ASSERT_TRUE(Has(ReadFile(QueueFolder() + "/Label_A.ini"), "PrintCounter=2"));
  // The same queue keeps counting.
  id = Print(data);
  ASSERT_TRUE(WaitForJobState(id, "completed", seconds(30))) << cups_->ErrorLog();
  ASSERT_TRUE(Has(ReadFile(QueueFolder() + "/Label_A.ini"), "PrintCounter=4"));

  ASSERT_EQ(cups_->Run("lpadmin -x Label_A").status, 0);
  AddQueue();
  id = Print(data);
  ASSERT_TRUE(WaitForJobState(id, "completed", seconds(30))) << cups_->ErrorLog();
  EXPECT_TRUE(Has(ReadFile(QueueFolder() + "/Label_A.ini"), "PrintCounter=2"));
  const std::string log = cups_->ErrorLog();
  EXPECT_EQ(Count(log, "W [", "The queue Label_A was made anew: its counters start anew;"), 1u)
      << log;
  unsigned aside = 0;
  for (const std::string& name : Entries(QueueFolder() + "/..")) {
    if (name.rfind("Label_A.replaced-", 0) == 0) {
      ++aside;
      EXPECT_TRUE(Has(ReadFile(QueueFolder() + "/../" + name + "/Label_A.ini"), "PrintCounter=4"));
    }
  }
  EXPECT_EQ(aside, 1u);
}

// A child that does not end once it has the whole job (a printer that never closes the
// connection) is ended within its bound, and the error log says so.
TEST_F(CupsTest, AChildThatOutlivesTheJobIsEndedAndReported) {
  StartAll();
  if (IsSkipped()) return;
  WriteUsbStandIn(cups_->Folder(), front_->Port(), "cat >&5\nkill $!\nexec sleep 3600\n");
  ASSERT_EQ(cups_->Run("lpadmin -p Label_A -v langmon:usb://Test/Hangs").status, 0);
  const std::vector<uint8_t> data = sim::MakeJobData(1, 400);
  const auto start = std::chrono::steady_clock::now();
  const int id = Print(data);
  ASSERT_TRUE(WaitForJobState(id, "completed", seconds(60))) << cups_->ErrorLog();
  EXPECT_LT(std::chrono::steady_clock::now() - start, seconds(45));
  EXPECT_GE(std::chrono::steady_clock::now() - start, seconds(30));
  EXPECT_EQ(front_->Received(), data);
  EXPECT_EQ(Count(cups_->ErrorLog(), "E [", "The usb backend had not ended 30 s after the job"), 1u)
      << cups_->ErrorLog();
  EXPECT_TRUE(WaitFor([&] { return ProcessesOf(cups_->Folder() + "/bin/").empty(); }, seconds(5)));
  EXPECT_TRUE(WaitFor([&] { return !front_->Connected(); }, seconds(5)));
}

TEST_F(CupsTest, ADeviceWithoutABackChannelIsRefusedWithItsReason) {
  StartAll();
  if (IsSkipped()) return;
  ASSERT_EQ(cups_->Run("lpadmin -p Label_A -v langmon:lpd://127.0.0.1/queue").status, 0);
  const int id = Print(sim::MakeJobData(1, 100));
  ASSERT_TRUE(WaitFor([&] { return Has(PrinterLong(), "brings back no status"); }, seconds(30)))
      << cups_->ErrorLog();
  EXPECT_TRUE(Has(PrinterLong(), "disabled"));
  EXPECT_NE(JobState(id), "completed");
}

}  // namespace
}  // namespace cups_test

namespace cups_test {
namespace {

// Not a check: what a job through the backend costs over a plain raw socket queue to the same
// printer, printed for the notes. Run with --gtest_also_run_disabled_tests.
TEST_F(CupsTest, DISABLED_MeasureAgainstAPlainSocketQueue) {
  StartAll();
  if (IsSkipped()) return;
  const std::string device =
      "socket://127.0.0.1:" + std::to_string(front_->Port()) + "/?snmp=false";
  ASSERT_EQ(cups_->Run("lpadmin -p Plain -E -v '" + device + "' -m raw").status, 0);
  constexpr int kJobs = 20;
  const int labels = std::getenv("LABELS") != nullptr ? std::atoi(std::getenv("LABELS")) : 1;
  const std::vector<uint8_t> data = sim::MakeJobData(labels, 2000);
  const std::string file = cups_->Folder() + "/measure.prn";
  std::ofstream(file, std::ios::binary)
      .write(reinterpret_cast<const char*>(data.data()), static_cast<std::streamsize>(data.size()));
  for (const std::string queue : {"Plain", "Label_A", "Plain", "Label_A"}) {
    const auto start = std::chrono::steady_clock::now();
    for (int i = 0; i < kJobs; ++i) {
      ASSERT_EQ(cups_->Run("lp -d " + queue + " -o raw " + file).status, 0);
    }
    ASSERT_TRUE(WaitFor([&] { return cups_->Run("lpstat -o " + queue).output.empty(); },
                        std::chrono::seconds(120)));
    const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(
                        std::chrono::steady_clock::now() - start)
                        .count();
    std::printf("%-8s %d jobs: %lld ms, %lld ms per job\n", queue.c_str(), kJobs,
                static_cast<long long>(ms), static_cast<long long>(ms / kJobs));
  }
  const std::string log = cups_->ErrorLog();
  size_t at = 0;
  int lines = 0;
  while ((at = log.find("status reads (", at)) != std::string::npos && lines < 3) {
    const size_t begin = log.rfind(']', at) + 2;
    std::printf("%s\n", log.substr(begin, log.find('\n', at) - begin).c_str());
    at = log.find('\n', at);
    ++lines;
  }
}

}  // namespace
}  // namespace cups_test
