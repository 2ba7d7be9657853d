// langmon-report: turns a language monitor log file into one self-contained HTML page.
//
// Exit status: 0 when the page was written, 1 when it could not be written, 2 for a file that is
// not a monitor log (or cannot be read), for an output that is the log itself, and for a bad
// command line.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <CLI/CLI.hpp>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <iostream>
#include <string_view>
#include <vector>

#include "tools/langmon-report/page.h"
#include "tools/langmon-report/page_file.h"
#include "tools/langmon-report/reader.h"

namespace {

constexpr int kExitWritten = 0;
constexpr int kExitNotWritten = 1;
constexpr int kExitBadInput = 2;

int RefuseToReplaceTheLog(const std::string& input, const std::string& output) {
  std::cerr << "langmon-report: " << output << " is the log " << input
            << " itself (the same file, by another name or through a link): the page would "
               "replace it. Choose another -o\n";
  return kExitBadInput;
}

// Reads the log piece by piece: a log of any size in bounded memory. False when it cannot be read.
bool ReadLogFile(int fd, langmon_report::LogFileReader* reader) {
  std::vector<char> buffer(1 << 20);
  for (;;) {
    const ssize_t got = read(fd, buffer.data(), buffer.size());
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) return false;
    if (got == 0) return true;
    reader->Feed(std::string_view(buffer.data(), static_cast<size_t>(got)));
  }
}

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

  const int fd = open(input.c_str(), O_RDONLY | O_CLOEXEC);
  struct stat log {};
  if (fd < 0 || fstat(fd, &log) != 0 || S_ISDIR(log.st_mode)) {
    std::cerr << "langmon-report: cannot read " << input << "\n";
    if (fd >= 0) close(fd);
    return kExitBadInput;
  }
  // The files themselves are compared, not their names: a link or another spelling of the log's
  // name is the log all the same.
  if (output.empty()) output = std::filesystem::path(input).filename().string() + ".html";
  const bool toStandardOutput = output == "-";
  if (toStandardOutput ? langmon_report::IsFile(STDOUT_FILENO, log)
                       : langmon_report::IsFile(output, log)) {
    close(fd);
    return RefuseToReplaceTheLog(input, toStandardOutput ? "standard output" : output);
  }
  langmon_report::LogFileReader reader;
  const bool read = ReadLogFile(fd, &reader);
  close(fd);
  if (!read) {
    std::cerr << "langmon-report: cannot read " << input << "\n";
    return kExitBadInput;
  }
  std::string problem;
  const std::optional<langmon_report::Report> report = reader.Finish(input, &problem);
  if (!report) {
    std::cerr << "langmon-report: " << problem << "\n";
    return kExitBadInput;
  }

  const std::string page = langmon_report::RenderPage(*report);
  if (toStandardOutput) {
    std::cout << page << std::flush;
    if (!std::cout) {
      std::cerr << "langmon-report: cannot write the page to standard output\n";
      return kExitNotWritten;
    }
  } else {
    bool wouldReplaceLog = false;
    std::string error;
    if (!langmon_report::WriteFileInPlaceOf(output, page, log, &wouldReplaceLog, &error)) {
      if (wouldReplaceLog) return RefuseToReplaceTheLog(input, output);
      std::cerr << "langmon-report: cannot write " << output << ": " << error << "\n";
      return kExitNotWritten;
    }
  }
  const langmon_report::Counts all = langmon_report::CountAll(*report);
  // With the page on standard output, the line about it goes to standard error.
  (toStandardOutput ? std::cerr : std::cout)
      << "langmon-report: wrote " << (toStandardOutput ? "the page to standard output" : output)
      << " (" << page.size() << " bytes): " << all.jobs << " job(s), " << all.boxes
      << " question(s), " << all.inkChecks << " ink check(s), " << report->unknownCount
      << " line(s) not recognised\n";
  return kExitWritten;
}
