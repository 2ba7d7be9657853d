// The fixture every native monitor test starts from: a freshly attached module over reset
// stand-ins, its own temp and common application-data folders, and readers for the log.
#pragma once

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "diag/log.h"
#include "monitor/monitor.h"
#include "platform/host.h"
#include "settings/settings_memory.h"

namespace langmon_test {

inline std::string Trace(const std::string& text) { return "VMT_LM_10[TRACE] " + text; }
inline std::string Inform(const std::string& text) { return "VMT_LM_10[INFORM] " + text; }
inline std::string Warning(const std::string& text) { return "VMT_LM_10[* WARNING *] " + text; }
inline std::string Error(const std::string& text) { return "VMT_LM_10[** ERROR **] " + text; }

inline std::filesystem::path MakeScratchFolder() {
  const char* base = std::getenv("TMPDIR");
  std::string pattern = std::string(base != nullptr ? base : "/tmp") + "/langmon-test-XXXXXX";
  std::vector<char> buffer(pattern.begin(), pattern.end());
  buffer.push_back('\0');
  const char* made = mkdtemp(buffer.data());
  return made != nullptr ? std::filesystem::path(made) : std::filesystem::path();
}

class MonitorTest : public ::testing::Test {
 protected:
  void SetUp() override {
    host::Reset();
    scratch_ = MakeScratchFolder();
    ASSERT_FALSE(scratch_.empty());
    std::filesystem::create_directories(TempFolder());
    std::filesystem::create_directories(AppDataFolder());
    host::SetTempFolder(TempFolder().string());
    host::SetCommonAppDataFolder(AppDataFolder().string());
    DllMain(host::MonitorModule(), DLL_PROCESS_ATTACH, nullptr);
    ForgetSettingsMemory();  // a freshly loaded module knows no settings yet
    fShowUI = TRUE;
    fWarnedOnFailedStart = FALSE;
    liveAllocationsAtStart_ = host::LiveAllocations();
  }

  void TearDown() override {
    // A failed test may leave ports open; close them so the next test starts from nothing.
    while (pIniFirstPort != nullptr) {
      PJLMonClosePort(pIniFirstPort->hSpoolerHandle);
    }
    DllMain(host::MonitorModule(), DLL_PROCESS_DETACH, nullptr);
    std::error_code ignored;
    std::filesystem::remove_all(scratch_, ignored);
  }

  std::filesystem::path TempFolder() const { return scratch_ / "temp"; }
  std::filesystem::path AppDataFolder() const { return scratch_ / "appdata"; }
  std::filesystem::path LogFilePath() const { return TempFolder() / "VelmoraLMDrv.dbg"; }

  // Every line the log produced, as the debugger saw them.
  static std::vector<std::string> LogLines() { return host::DebugOutput(); }
  static void ClearLog() { host::ClearDebugOutput(); }
  static bool Logged(const std::string& line) {
    for (const std::string& logged : host::DebugOutput()) {
      if (logged == line) {
        return true;
      }
    }
    return false;
  }
  // The log lines from the first one equal to `first` on (empty when it was never logged).
  static std::vector<std::string> LogFrom(const std::string& first) {
    std::vector<std::string> lines = host::DebugOutput();
    for (size_t i = 0; i < lines.size(); ++i) {
      if (lines[i] == first) {
        return std::vector<std::string>(lines.begin() + static_cast<long>(i), lines.end());
      }
    }
    return {};
  }

  std::string LogFileText() const { return ReadFile(LogFilePath()); }

  static std::string ReadFile(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
  }

  // Every entry that takes a port handle refuses this one: last error 87 (the bidi entry returns
  // 6), and nothing is asked of any port monitor.
  static void ExpectEveryEntryRefuses(HANDLE port) {
    BYTE data[64] = {};
    DWORD count = 0;
    std::u16string printer = u"Label A";
    std::u16string document = u"Labels";
    std::u16string value = u"VELMORA";
    std::u16string schema = u"\\Printer.Consumables";
    DOC_INFO_1W docInfo = {document.data(), nullptr, nullptr};
    const std::pair<const char*, std::function<BOOL()>> entries[] = {
        {"StartDocPort",
         [&] {
           return PJLMonStartDocPort(port, printer.data(), 1, 1,
                                     reinterpret_cast<LPBYTE>(&docInfo));
         }},
        {"WritePort", [&] { return PJLWritePort(port, data, sizeof(data), &count); }},
        {"ReadPort", [&] { return PJLMonReadPort(port, data, sizeof(data), &count); }},
        {"GetPrinterDataFromPort",
         [&] {
           return GetPrinterDataFromPort(port, 0, value.data(), nullptr, 0,
                                         reinterpret_cast<LPWSTR>(data), sizeof(data), &count);
         }},
        {"EndDocPort", [&] { return PJLMonEndDocPort(port); }},
        {"ClosePort", [&] { return PJLMonClosePort(port); }},
    };
    for (const auto& [name, call] : entries) {
      SetLastError(0);
      EXPECT_FALSE(call()) << name;
      EXPECT_EQ(GetLastError(), 87u) << name;
    }
    BIDI_REQUEST_CONTAINER requests = {1, 0, 1, {{0, schema.data(), {}}}};
    PBIDI_RESPONSE_CONTAINER answer = nullptr;
    EXPECT_EQ(PJLMonSendRecvBidiDataFromPort(port, BIDI_ACCESS_USER, u"GetAll", &requests, &answer),
              6u);
    EXPECT_EQ(answer, nullptr);
  }

  // Blocks this test allocated and did not release.
  long LeakedAllocations() const { return host::LiveAllocations() - liveAllocationsAtStart_; }

 private:
  std::filesystem::path scratch_;
  long liveAllocationsAtStart_ = 0;
};

}  // namespace langmon_test
