// langmon-report: turns a language monitor log file into one self-contained HTML page.
//
// Exit status: 0 when the page was written, 1 when it could not be written, 2 for a file that is
// not a monitor log (or cannot be read) and for a bad command line.
#include <CLI/CLI.hpp>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <sstream>

#include "tools/langmon-report/page.h"
#include "tools/langmon-report/reader.h"

namespace {

constexpr int kExitWritten = 0;
constexpr int kExitNotWritten = 1;
constexpr int kExitBadInput = 2;

}  // namespace

int main(int argc, char** argv) {
  CLI::App app{
      "langmon-report: reads the Velmora label printer language monitor's log file "
      "(VelmoraLMDrv.dbg in the temporary folder) and writes one HTML page: the jobs on a "
      "timeline, the questions asked, the ink going down, the printer errors."};
  app.set_help_flag("-h,--help", "Show this help and exit");
  std::string input, output;
  app.add_option("log", input, "The monitor's log file")->required();
  app.add_option("-o,--output", output,
                 "Write the page here (default: the log file's name with .html, in the current "
                 "folder)");
  try {
    app.parse(argc, argv);
  } catch (const CLI::CallForHelp& help) {
    return app.exit(help);
  } catch (const CLI::ParseError& error) {
    app.exit(error);
    return kExitBadInput;
  }

  std::ifstream in(input, std::ios::binary);
  std::error_code error;
  if (!in || std::filesystem::is_directory(input, error)) {
    std::cerr << "langmon-report: cannot read " << input << "\n";
    return kExitBadInput;
  }
  std::ostringstream bytes;
  bytes << in.rdbuf();
  std::string problem;
  const std::optional<langmon_report::Report> report =
      langmon_report::ReadLog(bytes.str(), input, &problem);
  if (!report) {
    std::cerr << "langmon-report: " << problem << "\n";
    return kExitBadInput;
  }

  if (output.empty()) output = std::filesystem::path(input).filename().string() + ".html";
  const std::string page = langmon_report::RenderPage(*report);
  std::ofstream out(output, std::ios::binary);
  out << page;
  out.close();
  if (!out) {
    std::cerr << "langmon-report: cannot write " << output << "\n";
    return kExitNotWritten;
  }
  size_t questions = 0;
  for (const langmon_report::Job& job : report->jobs) questions += job.questions.size();
  std::cout << "langmon-report: wrote " << output << " (" << page.size()
            << " bytes): " << report->jobs.size() << " job(s), " << questions << " question(s), "
            << report->ink.size() << " ink check(s), " << report->unknownCount
            << " line(s) not recognised\n";
  return kExitWritten;
}
