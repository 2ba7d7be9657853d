// langmon-report on big logs: how long a log of each kind takes from its file to the page, and the
// most memory the process held meanwhile (each kind in a process of its own, so that one's peak
// does not hide another's). Also the size of the page of an hour-long quiet-mode wait. A timed
// program, not a test: speed is never asserted; scripts/bench runs it.
//
//   report_bench [--mb N] [--kind NAME] [--keep]   N megabytes per log (default 200); only the
//                                                  log of that kind; --keep leaves the logs
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "tests/unit/langmon_report/log_lines.h"
#include "tools/langmon-report/page.h"
#include "tools/langmon-report/reader.h"

namespace {

using langmon_report::LogLines;

// A day of a busy printer: jobs with plain checks, a wait for label stock now and then, a
// cartridge change with its warn-level reset, and lines from elsewhere that are not the monitor's.
void Mixed(LogLines& log, size_t job) {
  log.StartJob(job == 0);
  for (int check = 0; check < 3; ++check) {
    log.After(40).BeginCheck();
    if (job % 10 == 3 && check == 0) {
      for (int round = 0; round < 30; ++round) {
        log.After(900).Inform(" ** PrepareForNextPrint: Printer Error Found 1 ");
        log.Warning("-->OUT OF STOCK!!");
      }
    }
    if (job % 7 == 5 && check == 1) {
      log.InkCheck(470000000, 1).Inform("** Cartridge is low on ink, warning the user");
      log.Inform("In InstallCartridges").Inform("Label terminating cart install");
      log.Inform("Checking cartridges").Inform("In CheckCartridges");
      log.Inform(" ** Cartridges are ok").Inform(" **Check Cartridges 0");
      log.Inform("Resetting Color WarnLevel").Inform("Getting VORNEX Data after cart install...");
      log.Inform(" ** Alignment Values successfully saved");
      log.InkEnd(470000000, 1, 2).Inform(" ** PrepareForNextPrint: Check for cartridge alignment");
      log.Inform("PrepareForNextPrint: Cartridge does not need alignment");
      log.Inform("PrepareForNextPrint( ) successful!");
      continue;
    }
    log.PlainInkAndPass(static_cast<uint32_t>(100000000 + job * 1000 + check));
  }
  if (job % 5 == 0) log.Inform("a line of job " + std::to_string(job) + " nobody knows");
  if (job % 5 == 1) log.Raw("copied from an e-mail, job " + std::to_string(job) + "\n");
  log.After(30).EndJob();
}

// Ink checks and warn-level resets by turns, within one long job.
void InkAndResets(LogLines& log, size_t round) {
  if (round == 0) log.StartJob(true);
  log.After(25).BeginCheck().InkCheck(static_cast<uint32_t>(300000000 + round), 1);
  log.Inform(round % 2 ? "Resetting Color WarnLevel" : "Resetting Black WarnLevel");
  log.InkEnd(static_cast<uint32_t>(300000000 + round), 1, 1);
  log.Inform("PrepareForNextPrint( ) successful!");
}

// One monitor line, then nothing but lines that are not the monitor's, all different.
void Junk(LogLines& log, size_t round) {
  if (round == 0) log.StartJob(true);
  log.Raw("junk line " + std::to_string(round * 2654435761u) +
          " \xff\xfe not a record, not UTF-8 either ................................\n");
}

// A doctored log: many jobs, each with many checks whose lines all differ (status records of
// every wrong size, error flags of every value, alignment print files of every name, boxes), so
// that nothing folds into anything else.
void Doctored(LogLines& log, size_t job) {
  log.StartJob(job == 0);
  for (size_t check = 0; check < 40; ++check) {
    const std::string n = std::to_string(job * 40 + check + 1);
    log.After(40).BeginCheck();
    log.Error("GetRoboStatusUSB: Wrong number of status bytes: " + n);
    log.Inform(" ** PrepareForNextPrint: Printer Error Found " + n + " ");
    log.Inform("DEBUG: Filename: C:\\Drivers\\VMT\\align" + n + ".prn");
    log.Inform("SetJob failed with last error " + n);
    log.InkCheck(static_cast<uint32_t>(job * 40 + check), 1);
    log.Inform("** Cartridge is low on ink, warning the user");
    log.InkEnd(static_cast<uint32_t>(job * 40 + check), 1, 2);
    log.Inform("PrepareForNextPrint( ) successful!");
  }
  log.After(30).EndJob();
}

using Maker = void (*)(LogLines&, size_t);
struct Kind {
  const char* name;
  const char* what;
  Maker make;
};
const Kind kKinds[] = {
    {"mixed", "jobs, waits, cartridge changes, foreign lines", Mixed},
    {"ink-resets", "ink checks and warn-level resets by turns", InkAndResets},
    {"junk", "lines that are not the monitor's", Junk},
    {"doctored", "many jobs, each with many checks whose lines all differ", Doctored},
};

size_t WriteLog(const std::string& path, Maker make, size_t bytes) {
  std::FILE* file = std::fopen(path.c_str(), "wb");
  if (file == nullptr) return 0;
  size_t written = 0;
  LogLines log([&](const std::string& line) {
    std::fwrite(line.data(), 1, line.size(), file);
    written += line.size();
  });
  size_t round = 0;
  while (written < bytes) make(log, round++);  // the sink counts what is written
  std::fclose(file);
  return written;
}

long PeakKilobytes() {
  struct rusage usage {};
  getrusage(RUSAGE_SELF, &usage);
  return usage.ru_maxrss;
}

// Processor time of this process so far: on a shared machine steadier than the clock.
double CpuSeconds() {
  struct rusage usage {};
  getrusage(RUSAGE_SELF, &usage);
  const auto seconds = [](const timeval& time) {
    return static_cast<double>(time.tv_sec) + static_cast<double>(time.tv_usec) / 1e6;
  };
  return seconds(usage.ru_utime) + seconds(usage.ru_stime);
}

// In a child process: the log from its file to the page, as langmon-report does it.
int ReadAndRender(const std::string& path, double* seconds, double* cpu, size_t* pageBytes,
                  long* peakKb) {
  const double cpuStart = CpuSeconds();
  const auto start = std::chrono::steady_clock::now();
  std::ifstream in(path, std::ios::binary);
  langmon_report::LogFileReader reader;
  std::vector<char> buffer(1 << 20);
  while (in) {
    in.read(buffer.data(), static_cast<std::streamsize>(buffer.size()));
    reader.Feed(std::string_view(buffer.data(), static_cast<size_t>(in.gcount())));
  }
  std::string error;
  const std::optional<langmon_report::Report> report = reader.Finish(path, &error);
  if (!report) {
    std::fprintf(stderr, "report_bench: %s\n", error.c_str());
    return 1;
  }
  *pageBytes = langmon_report::RenderPage(*report).size();
  *seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  *cpu = CpuSeconds() - cpuStart;
  *peakKb = PeakKilobytes();
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  size_t megabytes = 200;
  bool keep = false;
  const char* only = nullptr;
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--mb") == 0 && i + 1 < argc) {
      megabytes = static_cast<size_t>(std::strtoul(argv[++i], nullptr, 10));
    } else if (std::strcmp(argv[i], "--kind") == 0 && i + 1 < argc) {
      only = argv[++i];
    } else if (std::strcmp(argv[i], "--keep") == 0) {
      keep = true;
    } else {
      std::fprintf(stderr, "usage: report_bench [--mb N] [--kind NAME] [--keep]\n");
      return 2;
    }
  }
  const std::string folder =
      (std::filesystem::temp_directory_path() / ("report-bench-" + std::to_string(getpid())))
          .string();
  std::filesystem::create_directories(folder);

  std::printf("%-11s %8s %10s %9s %9s %9s %12s  %s\n", "log", "MB", "lines", "seconds", "cpu s",
              "peak MB", "page bytes", "what");
  int status = 0;
  for (const Kind& kind : kKinds) {
    if (only != nullptr && std::strcmp(only, kind.name) != 0) continue;
    const std::string path = folder + "/" + kind.name + ".dbg";
    const size_t bytes = WriteLog(path, kind.make, megabytes << 20);
    std::fflush(stdout);
    int pipeEnds[2];
    if (pipe(pipeEnds) != 0) return 1;
    const pid_t child = fork();
    if (child == 0) {
      close(pipeEnds[0]);
      double seconds = 0, cpu = 0;
      size_t page = 0;
      long peak = 0;
      const int result = ReadAndRender(path, &seconds, &cpu, &page, &peak);
      char line[128];
      const int length =
          std::snprintf(line, sizeof(line), "%.3f %.3f %zu %ld", seconds, cpu, page, peak);
      if (write(pipeEnds[1], line, static_cast<size_t>(length)) < 0) _exit(1);
      _exit(result);
    }
    close(pipeEnds[1]);
    char line[128] = {};
    const ssize_t got = read(pipeEnds[0], line, sizeof(line) - 1);
    close(pipeEnds[0]);
    int childStatus = 0;
    waitpid(child, &childStatus, 0);
    double seconds = 0, cpu = 0;
    size_t page = 0;
    long peak = 0;
    if (got <= 0 || !WIFEXITED(childStatus) || WEXITSTATUS(childStatus) != 0 ||
        std::sscanf(line, "%lf %lf %zu %ld", &seconds, &cpu, &page, &peak) != 4) {
      std::printf("%-11s failed\n", kind.name);
      status = 1;
      continue;
    }
    size_t lines = 0;
    {
      std::ifstream in(path, std::ios::binary);
      std::vector<char> buffer(1 << 20);
      while (in) {
        in.read(buffer.data(), static_cast<std::streamsize>(buffer.size()));
        for (std::streamsize i = 0; i < in.gcount(); ++i) lines += buffer[i] == '\n' ? 1 : 0;
      }
    }
    std::printf("%-11s %8.1f %10zu %9.2f %9.2f %9.1f %12zu  %s\n", kind.name,
                static_cast<double>(bytes) / (1 << 20), lines, seconds, cpu,
                static_cast<double>(peak) / 1024, page, kind.what);
    if (!keep) std::filesystem::remove(path);
  }

  // The hour-long quiet-mode wait for label stock, the status read about every 0.8 s.
  std::string hour;
  LogLines log([&hour](const std::string& line) { hour += line; });
  langmon_report::QuietOutOfStockWait(log, 3600000, 818);
  std::string error;
  const std::optional<langmon_report::Report> report =
      langmon_report::ReadLog(hour, "hour", &error);
  const size_t page = report ? langmon_report::RenderPage(*report).size() : 0;
  std::printf(
      "\nan hour-long quiet-mode wait for label stock: a log of %zu bytes, a page of %zu "
      "bytes\n",
      hour.size(), page);
  std::printf(
      "seconds: from the file to the page in memory, by the clock; cpu s: the processor time it "
      "took; peak MB: the reading process's most resident memory (ru_maxrss)\n");
  if (!keep) std::filesystem::remove_all(folder);
  return status;
}
