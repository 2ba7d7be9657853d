// The backend's parts on their own: the device URI, the back channel's reads, the side
// channel's frame, the first write, what passes through from the inner backend, and the
// printer's state lines.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <thread>

#include "tools/langmon-cups/back_channel.h"
#include "tools/langmon-cups/child_channels.h"
#include "tools/langmon-cups/device_uri.h"
#include "tools/langmon-cups/job_writer.h"
#include "tools/langmon-cups/printer_state.h"
#include "tools/langmon-cups/privileges.h"
#include "tools/langmon-cups/settings_folder.h"
#include "tools/langmon-cups/side_channel.h"

namespace langmon_cups {
namespace {

TEST(DeviceUri, NamesTheInnerBackendAndHowItRuns) {
  InnerDevice device;
  std::string why;
  ASSERT_TRUE(ParseDeviceUri("langmon:socket://10.0.0.5:9100/?snmp=false", &device, &why));
  EXPECT_EQ(device.uri, "socket://10.0.0.5:9100/?snmp=false");
  EXPECT_EQ(device.scheme, "socket");
  EXPECT_EQ(device.kind, InnerKind::Socket);
  ASSERT_TRUE(ParseDeviceUri("langmon:usb://Maker/Label%20B?serial=42", &device, &why));
  EXPECT_EQ(device.kind, InnerKind::Usb);
  EXPECT_EQ(device.uri, "usb://Maker/Label%20B?serial=42");
}

TEST(DeviceUri, RefusesWhatWouldLoopOrNeverAnswer) {
  InnerDevice device;
  std::string why;
  EXPECT_FALSE(ParseDeviceUri("socket://10.0.0.5:9100/", &device, &why));
  // CUPS's socket backend retries such a URI for ever.
  EXPECT_FALSE(ParseDeviceUri("langmon:socket://10.0.0.5:9100?snmp=false", &device, &why));
  EXPECT_NE(why.find("socket://HOST:PORT/?snmp=false"), std::string::npos) << why;
  EXPECT_FALSE(ParseDeviceUri("langmon:ipp://10.0.0.5/ipp/print", &device, &why));
  EXPECT_NE(why.find("\"ipp\""), std::string::npos) << why;
  EXPECT_FALSE(ParseDeviceUri("langmon:lpd://10.0.0.5/queue", &device, &why));
  EXPECT_FALSE(ParseDeviceUri("langmon:", &device, &why));
  EXPECT_FALSE(ParseDeviceUri("langmon:socket://", &device, &why));
}

std::vector<uint8_t> Bytes(std::initializer_list<int> values) {
  std::vector<uint8_t> bytes;
  for (int v : values) bytes.push_back(static_cast<uint8_t>(v));
  return bytes;
}

TEST(BackChannel, AReadGetsTheNewestWholeArrivals) {
  BackChannel channel;
  const std::vector<uint8_t> first = Bytes({1, 1, 1, 1}), second = Bytes({2, 2, 2, 2}),
                             third = Bytes({3, 3, 3, 3});
  channel.Append(first.data(), 4);
  channel.Append(second.data(), 4);
  channel.Append(third.data(), 4);
  uint8_t buffer[8] = {};
  ASSERT_EQ(channel.Read(buffer, 4, 0, 0), 4u);
  EXPECT_EQ(std::vector<uint8_t>(buffer, buffer + 4), third);
  EXPECT_EQ(channel.Dropped(), 8u);
  // A read larger than one arrival keeps as many of the newest as it needs, from a boundary.
  channel.Append(first.data(), 4);
  channel.Append(second.data(), 4);
  channel.Append(third.data(), 4);
  ASSERT_EQ(channel.Read(buffer, 6, 0, 0), 6u);
  EXPECT_EQ(std::vector<uint8_t>(buffer, buffer + 6), Bytes({2, 2, 2, 2, 3, 3}));
}

TEST(BackChannel, AReadWaitsForTheNextArrivalWithinItsTimeOut) {
  BackChannel channel;
  uint8_t buffer[4] = {};
  auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(channel.Read(buffer, 4, 50, 10), 0u);
  EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(50));

  std::thread later([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(30));
    const std::vector<uint8_t> record = Bytes({9, 9, 9, 9});
    channel.Append(record.data(), 4);
  });
  EXPECT_EQ(channel.Read(buffer, 4, 5000, 200), 4u);
  later.join();
  EXPECT_EQ(buffer[0], 9);
}

TEST(BackChannel, ARecordInPiecesIsJoinedWithinTheIntervalTimeOut) {
  BackChannel channel;
  const std::vector<uint8_t> head = Bytes({1, 2}), tail = Bytes({3, 4});
  channel.Append(head.data(), 2);
  std::thread later([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    channel.Append(tail.data(), 2);
  });
  uint8_t buffer[4] = {};
  EXPECT_EQ(channel.Read(buffer, 4, 1000, 500), 4u);
  later.join();
  EXPECT_EQ(std::vector<uint8_t>(buffer, buffer + 4), Bytes({1, 2, 3, 4}));
}

TEST(BackChannel, CancelAndCloseEndAWaitingReadAtOnce) {
  for (const bool cancel : {true, false}) {
    BackChannel channel;
    std::thread ender([&] {
      std::this_thread::sleep_for(std::chrono::milliseconds(30));
      cancel ? channel.Cancel() : channel.Close();
    });
    uint8_t buffer[4];
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(channel.Read(buffer, 4, 60000, 200), 0u);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(10));
    ender.join();
  }
}

TEST(BackChannel, KeepsABoundedAmountWhileNobodyReads) {
  BackChannel channel;
  const std::vector<uint8_t> record(116, 0x01);
  for (int i = 0; i < 2000; ++i) channel.Append(record.data(), record.size());
  EXPECT_LE(channel.Waiting(), BackChannel::kMaxKept);
  EXPECT_GT(channel.Waiting(), BackChannel::kMaxKept - 116);
}

TEST(SideChannel, FrameIsCommandStatusBigEndianLengthAndData) {
  const std::vector<uint8_t> bytes = EncodeSideFrame({4, 0, std::string(300, 'x')});
  ASSERT_EQ(bytes.size(), 304u);
  EXPECT_EQ(std::vector<uint8_t>(bytes.begin(), bytes.begin() + 4), Bytes({4, 0, 0x01, 0x2C}));
  SideFrame frame;
  ASSERT_TRUE(DecodeSideFrame(bytes.data(), bytes.size(), &frame));
  EXPECT_EQ(frame.command, 4);
  EXPECT_EQ(frame.data, std::string(300, 'x'));
  EXPECT_FALSE(DecodeSideFrame(bytes.data(), 3, &frame));
  EXPECT_FALSE(DecodeSideFrame(bytes.data(), bytes.size() - 1, &frame));
}

// A stand-in for the monitor's write entry: like the monitor it cuts a write before an escape
// byte too near its end to be judged, and takes a write that begins with one whole.
BOOL WINAPI CuttingWrite(HANDLE, LPBYTE pBuffer, DWORD cbBuf, LPDWORD pcbWritten) {
  DWORD take = cbBuf;
  for (DWORD i = cbBuf > 40 ? cbBuf - 40 : 1; i < cbBuf; ++i) {
    if (pBuffer[i] == 0x1B) {
      take = i;
      break;
    }
  }
  *pcbWritten = take;
  return TRUE;
}

TEST(JobWriter, AHeaderCutAtTheEndOfAReadIsOfferedWithWhatFollows) {
  MONITOR2 monitor = {};
  monitor.pfnWritePort = CuttingWrite;
  std::vector<uint8_t> data(100, 'a');
  data.push_back(0x1B);
  data.insert(data.end(), 20, 'h');
  // More follows: the cut rest is left for the next offer, which begins with it.
  Offered offered = OfferJobData(monitor, nullptr, data.data(), data.size(), true, nullptr);
  EXPECT_EQ(offered.end, WriteEnd::Done);
  EXPECT_EQ(offered.taken, 100u);
  // The job's last bytes go, rest and all.
  offered = OfferJobData(monitor, nullptr, data.data(), data.size(), false, nullptr);
  EXPECT_EQ(offered.end, WriteEnd::Done);
  EXPECT_EQ(offered.taken, data.size());
}

TEST(InnerBackendLines, ItsOwnMarkersAndPagesStayHere) {
  EXPECT_TRUE(PassesThrough("INFO: Connected to printer.\n"));
  EXPECT_TRUE(PassesThrough("STATE: +connecting-to-device\n"));
  EXPECT_TRUE(PassesThrough("ATTR: printer-alert=x\n"));
  EXPECT_FALSE(PassesThrough("ATTR: marker-levels=50\n"));
  EXPECT_FALSE(PassesThrough("PAGE: 1 1\n"));
}

TEST(PrinterStateLines, MarkersListEachInkOfTheCartridgeWithItsMarks) {
  EXPECT_EQ(MarkerLine({{"Yellow", true, 81}, {"Magenta", true, 61}, {"Cyan", true, 100}}),
            "ATTR: marker-colors=#FFFF00,#FF00FF,#00FFFF marker-high-levels=100,100,100 "
            "marker-levels=81,61,100 marker-low-levels=10,10,10 "
            "marker-names=Yellow,Magenta,Cyan marker-types=ink-cartridge,ink-cartridge,"
            "ink-cartridge");
  // An ink whose cartridge is not in, or whose level is unknown, is unknown.
  EXPECT_EQ(MarkerLine({{"Black", false, 40}}),
            "ATTR: marker-colors=#000000 marker-high-levels=100 marker-levels=-1 "
            "marker-low-levels=10 marker-names=Black marker-types=ink-cartridge");
  EXPECT_EQ(MarkerLine({}), "");
}

TEST(PrinterStateLines, QuestionsStandForTheirReasons) {
  EXPECT_EQ(ReasonOfQuestion(436), "media-empty-error");
  EXPECT_EQ(ReasonOfQuestion(469), "marker-supply-low-warning");
  EXPECT_EQ(ReasonOfQuestion(470), "marker-supply-empty-error");
  EXPECT_EQ(ReasonOfQuestion(450), "marker-supply-missing-error");
  EXPECT_EQ(ReasonOfQuestion(445), "velmora-cartridge-invalid-error");
  EXPECT_EQ(ReasonOfQuestion(454), "offline-report");
  EXPECT_EQ(ReasonOfQuestion(440), "other-error");
  EXPECT_EQ(ReasonOfQuestion(468), "other-error");
  EXPECT_EQ(ReasonOfQuestion(443), "");  // a notice: the state message only
  EXPECT_EQ(ReasonOfQuestion(400), "");
  EXPECT_EQ(MessageOfQuestion(436), "Out of labels. Load label stock; printing goes on by itself.");
  // Every condition is told in words of its own, without the Windows dialog's buttons.
  for (const unsigned id : {436u, 440u, 445u, 450u, 454u, 455u, 464u, 468u, 469u, 470u}) {
    const std::string message = MessageOfQuestion(id);
    EXPECT_FALSE(message.empty()) << id;
    EXPECT_EQ(message.find("OK"), std::string::npos) << message;
    EXPECT_EQ(message.find('?'), std::string::npos) << message;
  }
}

// What the backend writes to cupsd, caught from its standard error.
class CupsLines {
 public:
  CupsLines() {
    EXPECT_EQ(pipe(fds_), 0);
    saved_ = dup(2);
    dup2(fds_[1], 2);
  }
  ~CupsLines() { Take(); }
  std::string Take() {
    if (saved_ >= 0) {
      dup2(saved_, 2);
      close(saved_);
      close(fds_[1]);
      saved_ = -1;
      char buffer[65536];
      ssize_t got;
      while ((got = read(fds_[0], buffer, sizeof(buffer))) > 0) text_.append(buffer, got);
      close(fds_[0]);
    }
    return text_;
  }

 private:
  int fds_[2] = {-1, -1};
  int saved_ = -1;
  std::string text_;
};

size_t Count(const std::string& text, const std::string& part) {
  size_t count = 0;
  for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++count;
  return count;
}

TEST(PrinterStateLines, OneWarningPerChangeOfState) {
  CupsLines lines;
  PrinterState state("");
  state.JobStarted();
  for (int i = 0; i < 60; ++i) state.Asked(436);  // a stock-out wait asks again and again
  state.CheckPassed();
  state.Asked(470);
  state.JobEnded(true, false);
  const std::string text = lines.Take();
  EXPECT_EQ(Count(text, "WARNING: "), 2u) << text;
  EXPECT_EQ(Count(text, "STATE: +media-empty-error"), 1u) << text;
  EXPECT_EQ(Count(text, "STATE: -media-empty-error"), 1u) << text;
  EXPECT_EQ(Count(text, "STATE: -marker-supply-empty-error"), 1u) << text;
  EXPECT_EQ(Count(text, "WARNING: Out of labels. Load label stock; printing goes on by itself."),
            1u);
  EXPECT_TRUE(state.Shown().empty());
  // The condition that stopped a job stays shown until a later job starts.
  state.JobStarted();
  state.Asked(440);
  state.JobEnded(false, true);
  EXPECT_EQ(state.Shown(), (std::set<std::string>{"other-error"}));
  state.JobStarted();
  EXPECT_TRUE(state.Shown().empty());
}

TEST(PrinterStateLines, LowInkStandsWhileALevelIsUnderItsMark) {
  CupsLines lines;
  PrinterState state("none,media-empty-error,marker-supply-low-warning,cups-waiting-for-job");
  EXPECT_EQ(state.Shown(),
            (std::set<std::string>{"marker-supply-low-warning", "media-empty-error"}));
  state.JobStarted();
  EXPECT_EQ(state.Shown(), (std::set<std::string>{"marker-supply-low-warning"}));
  state.Inks({{"Yellow", true, 9}, {"Magenta", true, 61}});
  state.JobEnded(false, false);
  state.JobStarted();
  state.Inks({{"Yellow", true, 9}, {"Magenta", true, 61}});
  EXPECT_EQ(state.Shown(), (std::set<std::string>{"marker-supply-low-warning"}));
  // A new cartridge: the warning goes.
  state.Inks({{"Yellow", true, 100}, {"Magenta", true, 100}});
  EXPECT_TRUE(state.Shown().empty());
  state.CartridgeSeen(Cartridge::Missing);
  EXPECT_EQ(state.Shown(), (std::set<std::string>{"marker-supply-missing-error"}));
  state.CartridgeSeen(Cartridge::Invalid);
  EXPECT_EQ(state.Shown(), (std::set<std::string>{"velmora-cartridge-invalid-error"}));
  // A printer that does not answer stands past the job's end, until it answers.
  state.Offline("gone");
  state.JobEnded(false, false);
  state.JobStarted();
  EXPECT_EQ(state.Shown(), (std::set<std::string>{"offline-report"}));
  state.PrinterAnswered();
  EXPECT_TRUE(state.Shown().empty());
  const std::string text = lines.Take();
  EXPECT_EQ(Count(text, "WARNING: Ink is low."), 0u) << text;  // it stood from an earlier job
}

TEST(QueueNames, NameOneFolderBelowTheStateFolder) {
  EXPECT_TRUE(ValidQueueName("Label_A"));
  for (const char* bad : {"", ".", "..", "a/b", "/usr/lib/cups/backend/langmon"}) {
    EXPECT_FALSE(ValidQueueName(bad)) << bad;
  }
}

// Root makes the state folder by its path: only below a parent nobody else can write, never
// through a link, and hands it to the job's account.
TEST(StateFolder, RootMakesItForTheJobsAccountOnlyWhereNobodyElseWrites) {
  if (geteuid() != 0) GTEST_SKIP() << "needs root";
  namespace fs = std::filesystem;
  const fs::path base = fs::absolute("state-folder-test");
  fs::remove_all(base);
  fs::create_directories(base / "shared");
  fs::permissions(base, fs::perms(0755));
  fs::permissions(base / "shared", fs::perms(01777));
  RunAs account;
  std::string why;
  ASSERT_TRUE(UnprivilegedAccount(&account, &why)) << why;

  EXPECT_FALSE(PrepareStateFolder((base / "shared" / "state").string(), account, &why));
  EXPECT_NE(why.find("writable by root alone"), std::string::npos) << why;
  EXPECT_FALSE(fs::exists(base / "shared" / "state"));

  fs::create_directory_symlink(base / "shared", base / "linked");
  EXPECT_FALSE(PrepareStateFolder((base / "linked").string(), account, &why));
  EXPECT_EQ(fs::status(base / "shared").permissions(), fs::perms(01777));

  ASSERT_TRUE(PrepareStateFolder((base / "state").string(), account, &why)) << why;
  struct stat info {};
  ASSERT_EQ(lstat((base / "state").c_str(), &info), 0);
  EXPECT_EQ(info.st_uid, account.uid);
  EXPECT_EQ(info.st_gid, account.gid);
  EXPECT_EQ(info.st_mode & 07777, 0700u);
  fs::remove_all(base);
}

}  // namespace
}  // namespace langmon_cups
