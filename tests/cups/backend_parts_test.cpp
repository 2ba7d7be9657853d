// The backend's parts on their own: the device URI, the back channel's reads, the side
// channel's frame, the first write, what passes through from the inner backend, and the
// printer's state lines.
#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "tools/langmon-cups/back_channel.h"
#include "tools/langmon-cups/child_channels.h"
#include "tools/langmon-cups/device_uri.h"
#include "tools/langmon-cups/job_writer.h"
#include "tools/langmon-cups/printer_state.h"
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

TEST(FirstWrite, IsTheDriversFirstCommandAlone) {
  const std::vector<uint8_t> job = {0x1B, '@', 'L', '1', '\r', '\n', 0x1B, '*', 0x12, 0x1C};
  EXPECT_EQ(FirstWriteLength(job.data(), job.size()), 6u);
  // A job without a second command goes out as a spooler's buffer would.
  const std::vector<uint8_t> plain(10000, 'a');
  EXPECT_EQ(FirstWriteLength(plain.data(), plain.size()), 4096u);
  EXPECT_EQ(FirstWriteLength(plain.data(), 10), 10u);
}

TEST(InnerBackendLines, ItsOwnMarkersAndPagesStayHere) {
  EXPECT_TRUE(PassesThrough("INFO: Connected to printer.\n"));
  EXPECT_TRUE(PassesThrough("STATE: +connecting-to-device\n"));
  EXPECT_TRUE(PassesThrough("ATTR: printer-alert=x\n"));
  EXPECT_FALSE(PassesThrough("ATTR: marker-levels=50\n"));
  EXPECT_FALSE(PassesThrough("PAGE: 1 1\n"));
}

TEST(PrinterStateLines, MarkersListEachInkOfTheCartridge) {
  EXPECT_EQ(MarkerLine({{"Yellow", true, 81}, {"Magenta", true, 61}, {"Cyan", true, 100}}),
            "ATTR: marker-colors=#FFFF00,#FF00FF,#00FFFF marker-levels=81,61,100 "
            "marker-names=Yellow,Magenta,Cyan marker-types=ink-cartridge,ink-cartridge,"
            "ink-cartridge");
  // An ink whose cartridge is not in, or whose level is unknown, is unknown.
  EXPECT_EQ(MarkerLine({{"Black", false, 40}}),
            "ATTR: marker-colors=#000000 marker-levels=-1 marker-names=Black "
            "marker-types=ink-cartridge");
  EXPECT_EQ(MarkerLine({}), "");
}

TEST(PrinterStateLines, QuestionsStandForTheirReasons) {
  EXPECT_EQ(ReasonOfQuestion(436), "media-empty-error");
  EXPECT_EQ(ReasonOfQuestion(469), "marker-supply-low-warning");
  EXPECT_EQ(ReasonOfQuestion(470), "marker-supply-empty-error");
  EXPECT_EQ(ReasonOfQuestion(440), "other-error");
  EXPECT_EQ(ReasonOfQuestion(454), "other-error");
  EXPECT_EQ(ReasonOfQuestion(468), "other-error");
  EXPECT_EQ(ReasonOfQuestion(443), "");  // a notice: the state message only
  EXPECT_EQ(ReasonOfQuestion(400), "");
}

TEST(PrinterStateLines, ReasonsLeftByAnEarlierJobAreOursToTakeBack) {
  PrinterState state("none,media-empty-error,marker-supply-low-warning,cups-waiting-for-job");
  EXPECT_EQ(state.Shown(),
            (std::set<std::string>{"marker-supply-low-warning", "media-empty-error"}));
  state.CheckPassed();
  EXPECT_EQ(state.Shown(), (std::set<std::string>{"marker-supply-low-warning"}));
  state.Asked(436, "stock");
  state.Asked(470, "empty");
  EXPECT_EQ(state.Shown(),
            (std::set<std::string>{"marker-supply-low-warning", "marker-supply-empty-error"}));
  state.ClearAll();
  EXPECT_TRUE(state.Shown().empty());
}

}  // namespace
}  // namespace langmon_cups
