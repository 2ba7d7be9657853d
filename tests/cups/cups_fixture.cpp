#include "tests/cups/cups_fixture.h"

#include <fstream>
#include <regex>
#include <thread>

#include "platform/host.h"

namespace cups_test {

namespace {

constexpr char kReadmeSection[] = "## Linux print servers";
constexpr char kReadmeDevice[] = "192.0.2.10:9100";

std::string TestFolder() {
  const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
  return std::string(LANGMON_CUPS_TEST_FOLDER) + "/" + info->test_suite_name() + "." + info->name();
}

}  // namespace

std::string ReadmeLine(const std::string& prefix) {
  const std::string readme = ReadFile(LANGMON_README);
  const size_t section = readme.find(kReadmeSection);
  if (section == std::string::npos) return "";
  size_t at = section;
  while ((at = readme.find('\n', at)) != std::string::npos) {
    ++at;
    if (readme.compare(at, 3, "## ") == 0) return "";
    if (readme.compare(at, prefix.size(), prefix) == 0) {
      return readme.substr(at, readme.find('\n', at) - at);
    }
  }
  return "";
}

void CupsTest::SetUp() {
  host::Reset();
  host::UseRealClock();
  sim::RemovePrinters();
}

void CupsTest::TearDown() {
  if (cups_) {
    cups_->Run("cancel -a -x Label_A");
    cups_->Stop();
  }
  if (front_) front_->Stop();
  sim::RemovePrinters();
}

void CupsTest::StartAll(bool printerAnswers) {
  cups_ = std::make_unique<PrivateCups>(TestFolder(), LANGMON_CUPS_BACKEND);
  std::string why;
  if (!cups_->Start(&why)) {
    cups_.reset();
    GTEST_SKIP() << "no private cupsd: " << why;
  }
  printer_ = sim::AddPrinter(u"NET1");
  sim::SocketFrontOptions options;
  options.sendsStatus = printerAnswers;
  front_ = std::make_unique<sim::SocketFront>(printer_, options);
  ASSERT_TRUE(front_->Start(&why)) << why;
  AddQueue();
}

void CupsTest::AddQueue() {
  std::string add = ReadmeLine("lpadmin ");
  ASSERT_NE(add.find(kReadmeDevice), std::string::npos) << "README's lpadmin line: " << add;
  add.replace(add.find(kReadmeDevice), sizeof(kReadmeDevice) - 1,
              "127.0.0.1:" + std::to_string(front_->Port()));
  const CommandResult added = cups_->Run(add);
  ASSERT_EQ(added.status, 0) << add << "\n" << added.output;
}

int CupsTest::Print(const std::vector<uint8_t>& data, const std::string& options) {
  static int serial = 0;
  const std::string file = cups_->Folder() + "/job" + std::to_string(++serial) + ".prn";
  std::ofstream(file, std::ios::binary)
      .write(reinterpret_cast<const char*>(data.data()), static_cast<std::streamsize>(data.size()));
  const CommandResult result = cups_->Run("lp -d Label_A -o raw " + options + " " + file);
  std::smatch match;
  static const std::regex id("Label_A-([0-9]+)");
  if (result.status != 0 || !std::regex_search(result.output, match, id)) {
    ADD_FAILURE() << "lp: " << result.output;
    return 0;
  }
  return std::stoi(match[1]);
}

void CupsTest::ChangeStatus(const std::function<void(sim::Status&)>& change) {
  sim::Status status = printer_->GetStatus();
  change(status);
  printer_->SetStatus(status);
}

std::string CupsTest::JobState(int id) {
  const CommandResult result = cups_->Run("ipptool -tv ipp://" + cups_->Server() + "/jobs/" +
                                          std::to_string(id) + " get-job-attributes.test");
  std::smatch match;
  static const std::regex state("job-state \\(enum\\) = ([a-z-]+)");
  return std::regex_search(result.output, match, state) ? match[1].str() : "";
}

bool CupsTest::WaitFor(const std::function<bool()>& condition, std::chrono::seconds limit) {
  const auto until = std::chrono::steady_clock::now() + limit;
  while (std::chrono::steady_clock::now() < until) {
    if (condition()) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  }
  return condition();
}

bool CupsTest::WaitForJobState(int id, const std::string& state, std::chrono::seconds limit) {
  return WaitFor([&] { return JobState(id) == state; }, limit);
}

std::string CupsTest::PrinterLong() { return cups_->Run("lpstat -l -p Label_A").output; }

std::string CupsTest::PrinterAttributes() {
  return cups_
      ->Run("ipptool -tv ipp://" + cups_->Server() +
            "/printers/Label_A get-printer-attributes.test")
      .output;
}

std::string CupsTest::QueueFolder() const { return cups_->StateFolder() + "/VMT/Drivers/Label_A"; }

}  // namespace cups_test
