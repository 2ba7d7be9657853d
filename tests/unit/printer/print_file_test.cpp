#include "printer/print_file.h"

#include <gtest/gtest.h>

#include <memory>

#include "printer/commands.h"
#include "sim/driver_files.h"
#include "tests/support/monitor_test.h"
#include "tests/support/sim_port.h"

namespace langmon_test {
namespace {

const std::u16string kPrinterName = u"Label Printer";

class PrintFileTest : public MonitorTest {
 protected:
  void SetUp() override {
    MonitorTest::SetUp();
    sim_ = std::make_unique<SimPort>();
    driverFolder_ = (TempFolder().parent_path() / "driver").string();
    std::filesystem::create_directories(driverFolder_);
    sim::RegisterPrinter(kPrinterName, driverFolder_);
    std::u16string name = kPrinterName;
    ASSERT_TRUE(OpenPrinterW(name.data(), &hPrinter_, nullptr));
    filesAtStart_ = host::OpenFileHandles();
  }
  void TearDown() override {
    ClosePrinter(hPrinter_);
    sim_.reset();
    MonitorTest::TearDown();
  }

  // The driver folder as the spooler reports it, with its closing backslash.
  std::u16string Folder() const {
    std::u16string path = sim::DriverPathIn(driverFolder_);
    return path.substr(0, path.rfind(u'\\') + 1);
  }
  std::vector<BYTE> WriteFile(const std::string& name, size_t size) {
    std::vector<BYTE> bytes(size);
    for (size_t i = 0; i < size; ++i) bytes[i] = static_cast<BYTE>(i * 7 % 251);
    sim::WriteDriverFile(driverFolder_, name, bytes);
    return bytes;
  }
  BOOL Send(LPCWSTR fileName) {
    return OemPtrOutputFileUSB(hPrinter_, sim_->Port(), kPrinterName.c_str(), fileName);
  }
  static bool LoggedPrefix(const std::string& prefix) {
    for (const std::string& line : LogLines()) {
      if (line.rfind(prefix, 0) == 0) return true;
    }
    return false;
  }
  void ExpectNothingLeftOpen() {
    EXPECT_EQ(host::OpenFileHandles(), filesAtStart_);
    EXPECT_EQ(LeakedAllocations(), 0);
  }

  std::unique_ptr<SimPort> sim_;
  std::string driverFolder_;
  HANDLE hPrinter_ = nullptr;
  long filesAtStart_ = 0;
};

struct Chunking {
  size_t fileSize;
  std::vector<DWORD> writes;
  bool longName = false;  // 80 euro signs: its path does not fit 260 bytes in the ANSI code page
};

class PrintFileChunking : public PrintFileTest, public ::testing::WithParamInterface<Chunking> {};

TEST_P(PrintFileChunking, SendsTheFileAsStoredInChunksOfAHundredBytes) {
  const std::u16string name = GetParam().longName ? std::u16string(80, u'\u20AC') : u"job.prn";
  std::string utf8Name;
  for (char16_t c : name) {
    utf8Name += c == u'\u20AC' ? std::string("\xE2\x82\xAC") : std::string(1, static_cast<char>(c));
  }
  const std::vector<BYTE> bytes = WriteFile(utf8Name, GetParam().fileSize);
  EXPECT_TRUE(Send(name.c_str()));
  EXPECT_EQ(sim_->Printer().WriteSizes(), GetParam().writes);
  EXPECT_EQ(sim_->Printer().JobData(), bytes);
  if (GetParam().longName) {
    // The path is only logged; the file is sent all the same.
    EXPECT_TRUE(Logged(Inform("DEBUG: Failed WideCharToMultiByte\n")));
    EXPECT_FALSE(LoggedPrefix(Inform("DEBUG: Filename: ")));
  } else {
    std::string ansiPath;
    for (char16_t c : Folder() + name) ansiPath.push_back(static_cast<char>(c));
    EXPECT_TRUE(Logged(Inform("DEBUG: Filename: " + ansiPath + "\n")));
  }
  ExpectNothingLeftOpen();
}

INSTANTIATE_TEST_SUITE_P(Sizes, PrintFileChunking,
                         ::testing::Values(Chunking{250, {100, 100, 50}}, Chunking{200, {100, 100}},
                                           Chunking{0, {}}, Chunking{1, {1}},
                                           Chunking{150, {100, 50}, true}));

struct Failure {
  const char* name;
  const char16_t* file;  // nullptr: the string ID 999, which has no text
  std::vector<sim::WriteOutcome> writes;
  std::vector<DWORD> expectedWrites;
  std::string line;
  void (*arm)(const std::string& path) = nullptr;  // a failure of the file itself
};

class PrintFileFailure : public PrintFileTest, public ::testing::WithParamInterface<Failure> {};

// Nothing sent is taken back; the file is closed and the path released whatever happens.
TEST_P(PrintFileFailure, FailsAndCleansUp) {
  const Failure& row = GetParam();
  WriteFile("job.prn", 250);
  if (row.arm != nullptr) row.arm(driverFolder_ + "/job.prn");
  sim_->Printer().QueueWrites(row.writes);
  EXPECT_FALSE(Send(row.file != nullptr ? row.file : MAKEINTRESOURCEW(999)));
  EXPECT_EQ(sim_->Printer().WriteSizes(), row.expectedWrites);
  EXPECT_TRUE(LoggedPrefix(row.line)) << row.line;
  ExpectNothingLeftOpen();
}

INSTANTIATE_TEST_SUITE_P(
    Cases, PrintFileFailure,
    ::testing::Values(
        Failure{"NameNotInTheStringTable",
                nullptr,
                {},
                {},
                Inform("OemPtrOutputFileUSB(): failed to get pathname(0x")},
        Failure{"FileMissing",
                u"absent.prn",
                {},
                {},
                Error("OemPtrOutputFile(): failed to open input file(0x2)!\n")},
        Failure{"SizeUnreadable",
                u"job.prn",
                {},
                {},
                Error("OemPtrOutputFile(): failed to get file size(0x1E)!\n"),
                [](const std::string& path) { host::FailFileSize(path); }},
        // What was read before the failure has reached the printer.
        Failure{"ReadFailsAfter150Bytes",
                u"job.prn",
                {},
                {100, 50},
                Error("OemPtrOutputFile(): read failure(0x1E)!\n"),
                [](const std::string& path) { host::FailFileReads(path, 150); }},
        Failure{"SecondWriteRefused",
                u"job.prn",
                {{}, {sim::WriteFault::Fail}},
                {100, 100},
                Error("OemPtrOutputFile(): write failure1(0x1D)!\n")},
        // The rest of a partly written chunk is not sent again, nor anything after it.
        Failure{"PartOfAChunkWritten",
                u"job.prn",
                {{sim::WriteFault::Partial, 60}},
                {100},
                Error("OemPtrOutputFile(): wrote 60 of 100 bytes!\n")}),
    [](const auto& info) { return std::string(info.param.name); });

struct PathCase {
  const char* name;
  LPCWSTR file;
  const char16_t* expectedName;  // nullptr: no path
};

class DriverPathName : public PrintFileTest, public ::testing::WithParamInterface<PathCase> {};

TEST_P(DriverPathName, ResolvesTheFileNameInTheDriverFolder) {
  const PathCase& row = GetParam();
  LPWSTR path = OemPtrGetDriverPathName(hPrinter_, row.file);
  if (row.expectedName == nullptr) {
    EXPECT_EQ(path, nullptr);
    EXPECT_TRUE(Logged(Error("OemPtrGetDriverPathName(): failed to load filename!\n")));
  } else {
    ASSERT_NE(path, nullptr);
    EXPECT_EQ(std::u16string(path), Folder() + row.expectedName);
    GlobalFree(path);
  }
  EXPECT_EQ(LeakedAllocations(), 0);
}

INSTANTIATE_TEST_SUITE_P(
    Forms, DriverPathName,
    ::testing::Values(PathCase{"NoName", nullptr, u""},
                      PathCase{"ColourFileId", MAKEINTRESOURCEW(467), u"VM_Al250.PRN"},
                      PathCase{"BlackFileId", MAKEINTRESOURCEW(473), u"VMAl250K.PRN"},
                      PathCase{"IdWithoutText", MAKEINTRESOURCEW(999), nullptr},
                      PathCase{"String", u"custom file.prn", u"custom file.prn"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(PrintFileTest, ADriverPathWithoutABackslashGivesNoPath) {
  host::Printer bare;
  bare.name = u"Bare";
  bare.driverPath = u"LABELDRV.DLL";
  host::AddPrinter(bare);
  HANDLE hBare = nullptr;
  std::u16string name = u"Bare";
  ASSERT_TRUE(OpenPrinterW(name.data(), &hBare, nullptr));
  EXPECT_EQ(OemPtrGetDriverPathName(hBare, nullptr), nullptr);
  EXPECT_EQ(GetLastError(), DWORD{ERROR_INVALID_DATA});
  EXPECT_TRUE(Logged(Error("OemPtrGetDriverPathName(): missing backslash!\n")));
  ClosePrinter(hBare);
  EXPECT_EQ(LeakedAllocations(), 0);
}

TEST_F(PrintFileTest, AllocationFailuresGiveNoPathAndLeakNothing) {
  host::FailAllocation(1);
  EXPECT_EQ(OemPtrGetDriverPathName(hPrinter_, u"x.prn"), nullptr);
  EXPECT_TRUE(Logged(Error("OemPtrGetDriverPathName(): failed to allocate DI2 buffer(0x8)!\n")));
  host::FailAllocation(2);
  EXPECT_EQ(OemPtrGetDriverPathName(hPrinter_, u"x.prn"), nullptr);
  EXPECT_TRUE(Logged(Error("OemPtrGetDriverPathName(): failed to allocate memory!\n")));
  EXPECT_EQ(LeakedAllocations(), 0);
}

TEST_F(PrintFileTest, EachCommandGoesOutWholeInOneWrite) {
  for (const PrinterCommand* command : {&kCartChangeStartCommand, &kCartChangeEndCommand,
                                        &kCartEmptyCommand, &kAlignFinishCommand}) {
    DWORD cbWritten = 0;
    EXPECT_TRUE(WritePrinterCommand(sim_->Port(), *command, &cbWritten));
    EXPECT_EQ(cbWritten, command->cbLength);
  }
  EXPECT_EQ(sim_->Printer().WriteSizes(), (std::vector<DWORD>{4, 4, 5, 22}));
  EXPECT_EQ(sim_->Printer().Commands(),
            (std::vector<sim::Command>{
                sim::Command::CartridgeChangeStart, sim::Command::CartridgeChangeEnd,
                sim::Command::CartridgeEmpty, sim::Command::AlignmentFinish}));
}

}  // namespace
}  // namespace langmon_test
