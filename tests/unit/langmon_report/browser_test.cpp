// The page in a real browser: headless Chromium renders the built-in scenario's report to a
// screenshot and dumps its DOM, which must hold the jobs, the questions and the ink chart, and no
// script error. LANGMON_REPORT_SCREENSHOT=FILE keeps the screenshot (the README's picture).
#include <gtest/gtest.h>
#include <unistd.h>

#include <fstream>
#include <regex>

#include "tests/unit/langmon_report/report_fixture.h"
#include "tools/langmon-report/page.h"
#include "tools/langmon-sim/builtin_scenario.h"

namespace langmon_report {
namespace {

constexpr char kChromium[] = "/usr/bin/chromium";
constexpr int kShotWidth = 1100, kShotHeight = 2600;

// Runs Chromium headless with a profile of its own, as this machine needs it; its standard
// output.
std::string Chromium(const std::string& arguments, const std::string& folder) {
  const std::string profile = folder + "/profile";
  std::filesystem::create_directories(profile);
  const std::string command = std::string("timeout 120 ") + kChromium +
                              " --headless --no-sandbox --disable-gpu --disable-quic "
                              "--no-first-run --disable-background-networking "
                              "--disable-component-update --disable-sync --user-data-dir='" +
                              profile + "' " + arguments + " 2>/dev/null";
  std::string output;
  if (FILE* pipe = popen(command.c_str(), "r")) {
    char buffer[4096];
    for (size_t count; (count = fread(buffer, 1, sizeof(buffer), pipe)) > 0;) {
      output.append(buffer, count);
    }
    pclose(pipe);
  }
  std::filesystem::remove_all(profile);
  return output;
}

std::vector<std::string> All(const std::string& text, const std::string& pattern) {
  std::vector<std::string> found;
  const std::regex expression(pattern);
  for (auto match = std::sregex_iterator(text.begin(), text.end(), expression);
       match != std::sregex_iterator(); ++match) {
    found.push_back((*match)[1]);
  }
  return found;
}

uint32_t BigEndian(const std::string& bytes, size_t at) {
  uint32_t value = 0;
  for (size_t i = 0; i < 4; ++i) value = value << 8 | static_cast<unsigned char>(bytes[at + i]);
  return value;
}

TEST(BrowserTest, BuiltInScenarioReportShowsItsJobsQuestionsAndInkChart) {
  if (access(kChromium, X_OK) != 0) {
    GTEST_SKIP() << "no browser: " << kChromium << " is not installed (scripts/setup installs it)";
  }
  const ScenarioRun result = RunAndRead(langmon_sim::BuiltInScenario());
  ASSERT_TRUE(result.readable);
  const std::string folder = langmon_sim::MakeWorkFolder();
  const std::string page = folder + "/report.html";
  std::ofstream(page, std::ios::binary) << RenderPage(result.fromLog);

  const std::string dom = Chromium("--dump-dom 'file://" + page + "'", folder);
  ASSERT_NE(dom.find("</html>"), std::string::npos) << "Chromium gave no DOM";
  // The page's script ran to its end, and the error guard marked nothing.
  const size_t open = dom.find("<html");
  ASSERT_NE(open, std::string::npos);
  const std::string root = dom.substr(open, dom.find('>', open) - open);
  EXPECT_NE(root.find("data-script=\"ran\""), std::string::npos) << root;
  EXPECT_EQ(root.find("data-script-errors"), std::string::npos) << root;
  EXPECT_EQ(All(dom, "<article class=\"job\"[^>]* data-outcome=\"(\\w+)\""),
            (std::vector<std::string>{"printed", "printed", "deleted", "printed"}));
  EXPECT_EQ(All(dom, "<article class=\"job\"[^>]* data-questions=\"([0-9 ]*)\""),
            (std::vector<std::string>{"", "469", "469 427 400 443", ""}));
  EXPECT_EQ(All(dom, "data-series=\"([a-z-]+)\" data-points=\"10\""),
            std::vector<std::string>{"colour"});
  EXPECT_EQ(All(dom, "<circle (class)=\"point").size(), 10u);
  EXPECT_EQ(All(dom, "<tr data-job=\"\\d\" data-question=\"(\\d+)\"").size(), 5u);

  const std::string shot = folder + "/report.png";
  Chromium("--hide-scrollbars --window-size=" + std::to_string(kShotWidth) + "," +
               std::to_string(kShotHeight) + " --screenshot='" + shot + "' 'file://" + page + "'",
           folder);
  const std::string png = langmon_sim::ReadWholeFile(shot);
  ASSERT_GT(png.size(), 24u) << "Chromium made no screenshot";
  EXPECT_EQ(png.substr(0, 8), std::string("\x89PNG\r\n\x1a\n", 8));
  EXPECT_EQ(BigEndian(png, 16), static_cast<uint32_t>(kShotWidth));
  EXPECT_EQ(BigEndian(png, 20), static_cast<uint32_t>(kShotHeight));
  // A blank page compresses to a few kilobytes; text, tables and the chart do not.
  EXPECT_GT(png.size(), 60000u);
  if (const char* keep = std::getenv("LANGMON_REPORT_SCREENSHOT")) {
    std::filesystem::copy_file(shot, keep, std::filesystem::copy_options::overwrite_existing);
  }
  std::filesystem::remove_all(folder);
}

}  // namespace
}  // namespace langmon_report
