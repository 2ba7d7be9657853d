#include <algorithm>
#include <random>

#include "sim/spooler.h"
#include "tests/support/fake_port_monitor.h"
#include "tests/support/header_scan.h"
#include "tests/support/monitor_test.h"

namespace langmon_test {
namespace {

constexpr char kHeaderFound[] = "Header found -- Prepare for next print\n";
constexpr char kHeaderWithoutJob[] = "Header found -- no job record, sent without the check\n";

// A complete job header, as the simulated driver writes it.
std::vector<uint8_t> JobHeader() { return sim::JobHeaderCommand(); }

std::vector<uint8_t> Filler(size_t count) { return std::vector<uint8_t>(count, 'x'); }

void Place(std::vector<uint8_t>& data, size_t offset, const std::vector<uint8_t>& piece) {
  std::copy(piece.begin(), piece.end(), data.begin() + static_cast<long>(offset));
}

// The port as a job leaves it after its first write: pattern set, scanning on, no job record
// (so a header at the start of a write is reported and sent on without a pre-job check).
class WritePathTest : public MonitorTest {
 protected:
  void SetUp() override {
    MonitorTest::SetUp();
    ResetFakePort();
    table_ = FakePortMonitorTable();
    ASSERT_TRUE(PJLMonOpenPortEx(const_cast<LPWSTR>(WSTR("USB001")), nullptr, &handle_, &table_));
    port_ = PortOfHandle(handle_);
    port_->HeaderPattern = {36, {0x1B, 0x2A, 0x12, 0x1C}};
    SetPortStatus(port_, PORT_IN_JOB);
    ClearLog();
  }

  // One spooler write; returns the count the port monitor was asked to take.
  DWORD Write(std::vector<uint8_t> data, BOOL* result = nullptr) {
    TheFakePort().writeSizes.clear();
    DWORD written = 0xDEAD;
    const BOOL ok = PJLWritePort(handle_, data.data(), static_cast<DWORD>(data.size()), &written);
    if (result != nullptr) {
      *result = ok;
    }
    return TheFakePort().writeSizes.empty() ? 0 : TheFakePort().writeSizes.back();
  }

  MONITOR table_ = {};
  HANDLE handle_ = nullptr;
  IniPort* port_ = nullptr;
};

TEST_F(WritePathTest, HeaderInsideAWriteCutsItJustBeforeTheHeader) {
  std::vector<uint8_t> data = Filler(100);
  Place(data, 40, JobHeader());
  EXPECT_EQ(Write(data), 40u);
  EXPECT_FALSE(Logged(Warning(kHeaderWithoutJob)));
}

TEST_F(WritePathTest, HeaderAtTheStartIsNotedAndTheScanGoesOnToTheNextHeader) {
  std::vector<uint8_t> data = Filler(1000);
  Place(data, 0, JobHeader());
  Place(data, 300, JobHeader());
  EXPECT_EQ(Write(data), 300u);
  EXPECT_TRUE(Logged(Warning(kHeaderWithoutJob)));
}

TEST_F(WritePathTest, EscapeTooCloseToTheEndIsHeldBackForTheNextWrite) {
  std::vector<uint8_t> data = Filler(1000);
  data[963] = 0x1B;  // 37 bytes from the end
  EXPECT_EQ(Write(data), 963u);

  data = Filler(1000);
  data[962] = 0x1B;  // 38 bytes from the end, and no header
  EXPECT_EQ(Write(data), 1000u);
}

TEST_F(WritePathTest, EscapeInsideALeadingHeaderNearTheEndCutsThere) {
  std::vector<uint8_t> data = Filler(60);
  Place(data, 0, JobHeader());
  data[30] = 0x1B;  // inside the header's free bytes, 30 from the end
  EXPECT_EQ(Write(data), 30u);
  EXPECT_TRUE(Logged(Warning(kHeaderWithoutJob)));
}

TEST_F(WritePathTest, AllEightTestedBytesMustMatch) {
  for (size_t wrong : {1u, 2u, 3u, 32u, 33u, 34u, 35u}) {
    std::vector<uint8_t> header = JobHeader();
    header[wrong] ^= 0x01;
    std::vector<uint8_t> data = Filler(200);
    Place(data, 50, header);
    EXPECT_EQ(Write(data), 200u) << "byte " << wrong;
  }
}

TEST_F(WritePathTest, WritesOfFiftyBytesOrLessAreNotScanned) {
  std::vector<uint8_t> data = Filler(50);
  Place(data, 0, JobHeader());
  data[45] = 0x1B;
  EXPECT_EQ(Write(data), 50u);
  EXPECT_FALSE(Logged(Warning(kHeaderWithoutJob)));

  data = Filler(51);
  Place(data, 0, JobHeader());
  EXPECT_EQ(Write(data), 51u);
  EXPECT_TRUE(Logged(Warning(kHeaderWithoutJob)));
}

TEST_F(WritePathTest, FirstWritesAndExemptJobsPassUnscanned) {
  std::vector<uint8_t> data = Filler(200);
  Place(data, 100, JobHeader());
  for (DWORD bit : {PORT_FIRST_WRITE, PORT_NO_HEADER_SCAN}) {
    SetPortStatus(port_, bit);
    ClearLog();
    EXPECT_EQ(Write(data), 200u);
    EXPECT_TRUE(Logged(Inform("**** First Write - Do not look for Header\n")));
    ClearPortStatus(port_, bit);
  }
}

TEST_F(WritePathTest, OnlyASuccessfulForwardEndsTheFirstWrite) {
  SetPortStatus(port_, PORT_FIRST_WRITE);
  TheFakePort().writeSucceeds = false;
  TheFakePort().failureError = ERROR_WRITE_FAULT;
  BOOL result = TRUE;
  Write(Filler(100), &result);
  EXPECT_FALSE(result);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_WRITE_FAULT));
  EXPECT_TRUE(Logged(Error("**** WritePort failed\n")));
  EXPECT_TRUE(PortStatusHas(port_, PORT_FIRST_WRITE));

  std::vector<uint8_t> zero;
  DWORD written = 7;
  EXPECT_TRUE(PJLWritePort(handle_, zero.data(), 0, &written));
  EXPECT_EQ(written, 7u);
  EXPECT_TRUE(Logged(Error("**** cbBuf==0\n")));
  EXPECT_TRUE(PortStatusHas(port_, PORT_FIRST_WRITE));

  TheFakePort().writeSucceeds = true;
  Write(Filler(100), &result);
  EXPECT_TRUE(result);
  EXPECT_FALSE(PortStatusHas(port_, PORT_FIRST_WRITE));
}

TEST_F(WritePathTest, PortThatNeverStartedAJobIsNotScanned) {
  port_->HeaderPattern = {};
  std::vector<uint8_t> data = Filler(100);
  Place(data, 40, JobHeader());
  data[99] = 0x1B;
  EXPECT_EQ(Write(data), 100u);
}

TEST_F(WritePathTest, ForeignHandlesAreRefused) {
  std::vector<uint8_t> data = Filler(10);
  DWORD written = 0;
  EXPECT_FALSE(PJLWritePort(nullptr, data.data(), 10, &written));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
  DWORD notAPort[4] = {0x4F4B, 0, 0, 0};
  EXPECT_FALSE(PJLWritePort(notAPort, data.data(), 10, &written));
  EXPECT_TRUE(TheFakePort().writeSizes.empty());
}

// A spooler offers what was not written again, in pieces of any size, to a port monitor that may
// take only part of each write. Whatever the cuts, the printer receives the job's bytes whole
// and in order, and a header is reported exactly when a scanned write starts with it.
TEST_F(WritePathTest, JobDataReachesThePrinterWholeAndInOrderWhateverTheCuts) {
  std::mt19937 random(20261207);
  const std::vector<uint8_t> header = JobHeader();
  for (int round = 0; round < 60; ++round) {
    std::vector<uint8_t> job;
    const int pieces = 1 + static_cast<int>(random() % 12);
    for (int p = 0; p < pieces; ++p) {
      const size_t filler = random() % 400;
      for (size_t i = 0; i < filler; ++i) {
        job.push_back(random() % 40 == 0 ? 0x1B : static_cast<uint8_t>(random()));
      }
      if (random() % 3 != 0) {
        job.insert(job.end(), header.begin(), header.end());
      }
    }

    ResetFakePort();
    TheFakePort().maxBytesPerWrite = round % 2 == 0 ? 0xFFFFFFFF : 1 + random() % 300;
    SetPortStatus(port_, PORT_FIRST_WRITE);
    ClearLog();
    size_t offset = 0;
    int expectedReports = 0;
    bool firstWrite = true;
    int idleCalls = 0;
    while (offset < job.size()) {
      const size_t offered = std::min<size_t>(job.size() - offset, 1 + random() % 700);
      if (!firstWrite && CutWrite(job.data() + offset, offered).headerAtStart) {
        ++expectedReports;
      }
      DWORD written = 0;
      ASSERT_TRUE(
          PJLWritePort(handle_, job.data() + offset, static_cast<DWORD>(offered), &written));
      ASSERT_LE(written, offered);
      if (written > 0) {
        firstWrite = false;
        idleCalls = 0;
      } else {
        ASSERT_LT(++idleCalls, 3) << "the write path made no progress";
      }
      offset += written;
    }
    ASSERT_EQ(TheFakePort().written, job) << "round " << round;
    const std::vector<std::string> lines = LogLines();
    EXPECT_EQ(std::count(lines.begin(), lines.end(), Warning(kHeaderWithoutJob)), expectedReports)
        << "round " << round;
  }
}

// Random writes of every kind of content: escapes from rare to dense, headers whole and broken,
// at the start, inside and near the end. The write path cuts each exactly where the plain loop
// does and reports a header exactly when it does.
TEST_F(WritePathTest, CutsWhereAPlainByteLoopCuts) {
  std::mt19937 random(4242);
  const std::vector<uint8_t> header = JobHeader();
  for (int round = 0; round < 3000; ++round) {
    const size_t size = random() % 4 == 0 ? random() % 120 : random() % 2500;
    const unsigned oneIn = std::vector<unsigned>{1000, 256, 40, 12, 3}[random() % 5];
    std::vector<uint8_t> data(size);
    for (uint8_t& byte : data) {
      byte = random() % oneIn == 0 ? 0x1B : static_cast<uint8_t>(random());
    }
    const int headers = static_cast<int>(random() % 4);
    for (int h = 0; h < headers && size >= header.size(); ++h) {
      std::vector<uint8_t> piece = header;
      if (random() % 3 == 0) {
        piece[1 + random() % 35] ^= 0x01;  // one byte off (perhaps an untested one)
      }
      const size_t offset = random() % 4 == 0 ? 0 : random() % (size - header.size() + 1);
      Place(data, offset, piece);
    }

    const ScanCut expected = CutWrite(data.data(), data.size());
    ClearLog();
    BOOL result = FALSE;
    const DWORD sent = Write(data, &result);
    ASSERT_TRUE(result);
    ASSERT_EQ(sent, expected.count) << "round " << round << ", " << size << " bytes";
    ASSERT_EQ(Logged(Warning(kHeaderWithoutJob)), expected.headerAtStart) << "round " << round;
  }
}

}  // namespace
}  // namespace langmon_test
