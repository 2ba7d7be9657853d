// A monitor with one spooler printer, "Label A", and helpers for its settings directory.
#pragma once

#include <filesystem>
#include <fstream>
#include <map>
#include <string>
#include <vector>

#include "tests/support/monitor_test.h"

namespace langmon_test {

inline std::u16string Wide(const std::string& text) {
  return std::u16string(text.begin(), text.end());
}

class SettingsTest : public MonitorTest {
 protected:
  void SetUp() override {
    MonitorTest::SetUp();
    AddPrinter(u"Label A");
  }

  void TearDown() override {
    for (HANDLE printer : printers_) {
      ClosePrinter(printer);
    }
    MonitorTest::TearDown();
  }

  static void AddPrinter(const std::u16string& name, const std::u16string& reportedName = u"") {
    host::Printer printer;
    printer.name = name;
    printer.reportedName = reportedName;
    host::AddPrinter(printer);
  }

  // A handle that stays open until the test ends.
  HANDLE Open(const std::u16string& name) {
    std::u16string copy = name;
    HANDLE printer = nullptr;
    EXPECT_TRUE(OpenPrinterW(copy.data(), &printer, nullptr));
    printers_.push_back(printer);
    return printer;
  }

  std::filesystem::path SettingsFolder(const std::string& printer) const {
    return AppDataFolder() / "VMT" / "Drivers" / printer;
  }

  // The settings directory as the monitor names it.
  std::u16string WindowsSettingsFolder(const std::string& printer) const {
    return Wide(AppDataFolder().string()) + u"\\VMT\\Drivers\\" + Wide(printer);
  }

  // A file of Label A's settings directory as the monitor names it, in 8-bit text.
  std::string WindowsPath(const std::string& file) const {
    return AppDataFolder().string() + "\\VMT\\Drivers\\Label A\\" + file;
  }

  void WriteSettingsFile(const std::string& printer, const std::string& file,
                         const std::string& body) const {
    std::filesystem::create_directories(SettingsFolder(printer));
    std::ofstream out(SettingsFolder(printer) / file, std::ios::binary);
    out << "[settings]\r\n" << body;
  }

  // Key = value lines of a settings file, in file order.
  std::vector<std::pair<std::string, std::string>> ReadSettingsFile(const std::string& printer,
                                                                    const std::string& file) const {
    std::vector<std::pair<std::string, std::string>> entries;
    std::ifstream in(SettingsFolder(printer) / file, std::ios::binary);
    std::string line;
    while (std::getline(in, line)) {
      if (!line.empty() && line.back() == '\r') {
        line.pop_back();
      }
      const size_t equals = line.find('=');
      if (equals != std::string::npos) {
        entries.emplace_back(line.substr(0, equals), line.substr(equals + 1));
      }
    }
    return entries;
  }

 private:
  std::vector<HANDLE> printers_;
};

}  // namespace langmon_test
