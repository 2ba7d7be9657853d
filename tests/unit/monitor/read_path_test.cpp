#include "tests/support/fake_port_monitor.h"
#include "tests/support/monitor_test.h"

namespace langmon_test {
namespace {

std::vector<uint8_t> Bytes(size_t count, uint8_t first) {
  std::vector<uint8_t> bytes(count);
  for (size_t i = 0; i < count; ++i) {
    bytes[i] = static_cast<uint8_t>(first + i);
  }
  return bytes;
}

class ReadPathTest : public MonitorTest {
 protected:
  void SetUp() override {
    MonitorTest::SetUp();
    ResetFakePort();
    table_ = FakePortMonitorTable();
    ASSERT_TRUE(PJLMonOpenPortEx(const_cast<LPWSTR>(WSTR("USB001")), nullptr, &handle_, &table_));
    port_ = PortOfHandle(handle_);
    TheFakePort().calls.clear();
    ASSERT_TRUE(GateSignalled()) << "a new port's gate starts open";
  }

  BOOL Query(const char16_t* name, BYTE* out, DWORD cbOut, DWORD* returned) {
    return GetPrinterDataFromPort(handle_, 0, const_cast<LPWSTR>(name), nullptr, 0,
                                  reinterpret_cast<LPWSTR>(out), cbOut, returned);
  }

  // The gate is auto-reset: a successful zero wait consumes the signal the query left.
  bool GateSignalled() { return WaitForSingleObject(port_->hEvent, 0) == WAIT_OBJECT_0; }

  MONITOR table_ = {};
  HANDLE handle_ = nullptr;
  IniPort* port_ = nullptr;
};

TEST_F(ReadPathTest, ReadPassesStraightThroughToThePortMonitor) {
  TheFakePort().pendingReads.push_back({1, 2, 3});
  BYTE buffer[16] = {};
  DWORD read = 0;
  EXPECT_TRUE(PJLMonReadPort(handle_, buffer, sizeof(buffer), &read));
  EXPECT_EQ(read, 3u);
  EXPECT_EQ(buffer[2], 3);
  TheFakePort().readSucceeds = false;
  TheFakePort().failureError = ERROR_READ_FAULT;
  EXPECT_FALSE(PJLMonReadPort(handle_, buffer, sizeof(buffer), &read));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_READ_FAULT));
  EXPECT_FALSE(PJLMonReadPort(nullptr, buffer, sizeof(buffer), &read));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
}

TEST_F(ReadPathTest, VendorQueryReturnsTheNewestPieceOfADrainedBackChannel) {
  TheFakePort().pendingReads.push_back(Bytes(511, 0));
  TheFakePort().pendingReads.push_back(Bytes(89, 100));
  const DWORD before = GetTickCount();
  BYTE out[600] = {};
  DWORD returned = 0;
  ASSERT_TRUE(Query(u"velmora", out, sizeof(out), &returned));
  EXPECT_EQ(returned, 89u);
  EXPECT_EQ(std::vector<uint8_t>(out, out + 89), Bytes(89, 100));
  EXPECT_EQ(port_->cbStatusSnapshot, 89u);
  EXPECT_EQ(port_->StatusSnapshot[89], 0);
  EXPECT_EQ(GetTickCount() - before, 100u) << "one pause after the full read";
  EXPECT_EQ(TheFakePort().readSizes, (std::vector<DWORD>{511, 511}));
  EXPECT_TRUE(GateSignalled());
}

TEST_F(ReadPathTest, FullReadFollowedByNothingKeepsTheFullRead) {
  TheFakePort().pendingReads.push_back(Bytes(511, 7));
  BYTE out[511] = {};
  DWORD returned = 0;
  ASSERT_TRUE(Query(u"VELMORA", out, sizeof(out), &returned));
  EXPECT_EQ(returned, 511u);
  EXPECT_EQ(out[510], static_cast<BYTE>(7 + 510));

  // Taken on its own, a snapshot replaces the port's with each non-empty read; a drained back
  // channel leaves the last one in place and reports nothing fresh.
  TheFakePort().pendingReads.push_back(Bytes(3, 40));
  EXPECT_TRUE(TakeStatusSnapshot(port_));
  EXPECT_EQ(port_->cbStatusSnapshot, 3u);
  EXPECT_EQ(port_->StatusSnapshot[2], 42);
  EXPECT_EQ(port_->StatusSnapshot[3], 0);
  EXPECT_FALSE(TakeStatusSnapshot(port_));
  EXPECT_EQ(port_->cbStatusSnapshot, 3u);
}

TEST_F(ReadPathTest, ShortOutputBuffersAreFilledAsFarAsTheyGo) {
  TheFakePort().pendingReads.push_back(Bytes(116, 1));
  BYTE out[10] = {};
  DWORD returned = 0;
  ASSERT_TRUE(Query(u"VELMORA", out, sizeof(out), &returned));
  EXPECT_EQ(returned, 10u);
  EXPECT_EQ(std::vector<uint8_t>(out, out + 10), Bytes(10, 1));

  TheFakePort().pendingReads.push_back(Bytes(116, 1));
  EXPECT_TRUE(Query(u"VELMORA", out, 0, &returned));
  EXPECT_EQ(returned, 0u);
}

TEST_F(ReadPathTest, QueriesThatCannotBeAnsweredFailButStillOpenTheGate) {
  BYTE out[16] = {};
  DWORD returned = 0;

  // Nothing waiting on the back channel: no fresh data.
  EXPECT_FALSE(Query(u"VELMORA", out, sizeof(out), &returned));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
  EXPECT_TRUE(GateSignalled());

  // The memory names read a snapshot and always fail.
  TheFakePort().pendingReads.push_back(Bytes(20, 3));
  EXPECT_FALSE(Query(u"Installed Memory", out, sizeof(out), &returned));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
  EXPECT_EQ(port_->cbStatusSnapshot, 20u);
  EXPECT_TRUE(GateSignalled());

  // No output buffer: the snapshot is still taken.
  TheFakePort().pendingReads.push_back(Bytes(30, 3));
  EXPECT_FALSE(Query(u"VELMORA", nullptr, 16, &returned));
  EXPECT_EQ(port_->cbStatusSnapshot, 30u);
  EXPECT_TRUE(GateSignalled());

  // A job owns the back channel: no read at all.
  SetPortStatus(port_, PORT_IN_JOB);
  TheFakePort().readSizes.clear();
  TheFakePort().pendingReads.push_back(Bytes(30, 3));
  EXPECT_FALSE(Query(u"VELMORA", out, sizeof(out), &returned));
  EXPECT_TRUE(TheFakePort().readSizes.empty());
  EXPECT_TRUE(GateSignalled());
}

TEST_F(ReadPathTest, UnknownNamesAndForeignHandlesAreRefusedWithoutTouchingThePort) {
  BYTE out[16] = {};
  DWORD returned = 0;
  EXPECT_FALSE(Query(u"Total Memory", out, sizeof(out), &returned));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
  EXPECT_FALSE(Query(nullptr, out, sizeof(out), &returned));
  EXPECT_TRUE(TheFakePort().readSizes.empty());
  EXPECT_FALSE(GateSignalled());

  DWORD notAPort[4] = {0x1234, 0, 0, 0};
  EXPECT_FALSE(GetPrinterDataFromPort(notAPort, 0, const_cast<LPWSTR>(WSTR("VELMORA")), nullptr, 0,
                                      reinterpret_cast<LPWSTR>(out), sizeof(out), &returned));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
}

TEST_F(ReadPathTest, ControlCodesGoToThePortMonitorUnchanged) {
  TheFakePort().getPrinterDataResult = TRUE;
  DWORD returned = 99;
  EXPECT_TRUE(GetPrinterDataFromPort(handle_, 3, nullptr, nullptr, 0, nullptr, 0, &returned));
  EXPECT_EQ(TheFakePort().lastControlId, 3u);
  EXPECT_TRUE(TheFakePort().readSizes.empty());
  EXPECT_FALSE(GateSignalled());

  port_->PortMonitor.pfnGetPrinterDataFromPort = nullptr;
  EXPECT_FALSE(GetPrinterDataFromPort(handle_, 3, nullptr, nullptr, 0, nullptr, 0, &returned));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
}

}  // namespace
}  // namespace langmon_test
