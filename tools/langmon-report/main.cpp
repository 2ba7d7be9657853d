// langmon-report: turns a language monitor log file into one self-contained HTML page.
//
// Exit status: 0 when the page was written, 1 when it could not be written, 2 for a file that is
// not a monitor log (or cannot be read) and for a bad command line.
#include <CLI/CLI.hpp>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <string_view>
#include <vector>

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
                 "Write the page here; - for standard output (default: the log file's name with "
                 ".html, in the current folder)");
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
  // Piece by piece: a log of any size is read in bounded memory.
  langmon_report::LogFileReader reader;
  std::vector<char> buffer(1 << 20);
  while (in) {
    in.read(buffer.data(), static_cast<std::streamsize>(buffer.size()));
    reader.Feed(std::string_view(buffer.data(), static_cast<size_t>(in.gcount())));
  }
  if (in.bad()) {
    std::cerr << "langmon-report: cannot read " << input << "\n";
    return kExitBadInput;
  }
  std::string problem;
  const std::optional<langmon_report::Report> report = reader.Finish(input, &problem);
  if (!report) {
    std::cerr << "langmon-report: " << problem << "\n";
    return kExitBadInput;
  }

  if (output.empty()) output = std::filesystem::path(input).filename().string() + ".html";
  const std::string page = langmon_report::RenderPage(*report);
  const bool toStandardOutput = output == "-";
  if (toStandardOutput) {
    std::cout << page << std::flush;
    if (!std::cout) {
      std::cerr << "langmon-report: cannot write the page to standard output\n";
      return kExitNotWritten;
    }
  } else {
    std::ofstream out(output, std::ios::binary);
    out << page;
    out.close();
    if (!out) {
      std::cerr << "langmon-report: cannot write " << output << "\n";
      return kExitNotWritten;
    }
  }
  size_t questions = 0;
  for (const langmon_report::Job& job : report->jobs) {
    for (const langmon_report::Question& question : job.questions) questions += question.times;
  }
  // With the page on standard output, the line about it goes to standard error.
  (toStandardOutput ? std::cerr : std::cout)
      << "langmon-report: wrote " << (toStandardOutput ? "the page to standard output" : output)
      << " (" << page.size() << " bytes): " << report->jobs.size() << " job(s), " << questions
      << " question(s), " << report->ink.size() << " ink check(s), " << report->unknownCount
      << " line(s) not recognised\n";
  return kExitWritten;
}
