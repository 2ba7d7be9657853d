// Throughput of the write path on the native build, against its two anchors on the same buffers:
// a direct call of the port monitor's pfnWritePort (the cost of forwarding alone) and a memchr
// loop that counts every escape byte (the speed of finding them). Also the log's dropped levels
// and the status reader's per-record checks. At the end a table of medians and ratios.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "bench/job_data.h"
#include "diag/log.h"
#include "monitor/monitor.h"
#include "platform/host.h"
#include "printer/status.h"
#include "printer/status_reader.h"

namespace {

using bench::DataKind;

// ---- The port monitor below the monitor: accepts every byte and keeps none -----------------

HANDLE PortMonitorHandle() {
  static int token;
  return &token;
}

// What a status read delivers: valid records whose number changes with every read.
StatusRecord nextStatus;

BOOL WINAPI OpenPort(LPWSTR, PHANDLE pHandle) {
  *pHandle = PortMonitorHandle();
  return TRUE;
}
BOOL WINAPI StartDocPort(HANDLE, LPWSTR, DWORD, DWORD, LPBYTE) { return TRUE; }
BOOL WINAPI WritePort(HANDLE, LPBYTE, DWORD cbBuf, LPDWORD pcbWritten) {
  *pcbWritten = cbBuf;
  return TRUE;
}
BOOL WINAPI ReadPort(HANDLE, LPBYTE pBuffer, DWORD cbBuffer, LPDWORD pcbRead) {
  const DWORD cb = cbBuffer < kStatusRecordSize ? cbBuffer : kStatusRecordSize;
  std::memcpy(pBuffer, &nextStatus, cb);
  *pcbRead = cb;
  ++nextStatus.bRecordNumber;
  nextStatus.bChecksum = StatusChecksum(nextStatus);
  return TRUE;
}
BOOL WINAPI EndDocPort(HANDLE) { return TRUE; }
BOOL WINAPI ClosePort(HANDLE) { return TRUE; }
BOOL WINAPI SetPortTimeOuts(HANDLE, LPCOMMTIMEOUTS, DWORD) { return TRUE; }

MONITOR portMonitor = [] {
  MONITOR table = {};
  table.pfnOpenPort = OpenPort;
  table.pfnStartDocPort = StartDocPort;
  table.pfnWritePort = WritePort;
  table.pfnReadPort = ReadPort;
  table.pfnEndDocPort = EndDocPort;
  table.pfnClosePort = ClosePort;
  table.pfnSetPortTimeOuts = SetPortTimeOuts;
  return table;
}();

// ---- The monitor, hosted as the spooler would ----------------------------------------------

LPMONITOREX monitor = nullptr;
HANDLE port = nullptr;

[[noreturn]] void Fail(const char* what) {
  std::fprintf(stderr, "bench: %s\n", what);
  std::exit(1);
}

// Offers the whole buffer as a spooler does: what was not written is offered again.
DWORD SpoolWrite(BOOL(WINAPI* pfnWritePort)(HANDLE, LPBYTE, DWORD, LPDWORD), HANDLE hPort,
                 const std::vector<uint8_t>& data) {
  DWORD offset = 0;
  DWORD calls = 0;
  const DWORD size = static_cast<DWORD>(data.size());
  while (offset < size) {
    DWORD written = 0;
    if (!pfnWritePort(hPort, const_cast<LPBYTE>(data.data()) + offset, size - offset, &written) ||
        written == 0) {
      Fail("a write made no progress");
    }
    offset += written;
    ++calls;
  }
  return calls;
}

std::string scratchFolder;  // the temp and application-data folders of the stand-ins

// Loads the monitor as the spooler does, and starts a job on a port whose first write is done,
// so that every write measured is scanned.
void StartMonitor() {
  char folder[] = "/tmp/langmon-bench-XXXXXX";
  if (mkdtemp(folder) == nullptr) {
    Fail("no scratch folder");
  }
  scratchFolder = folder;
  host::Reset();
  host::SetTempFolder(std::string(folder));
  host::SetCommonAppDataFolder(std::string(folder));
  host::RecordDebugOutput(false);
  host::AddPrinter({u"Bench Printer", u"", true, true, u""});
  DllMain(host::MonitorModule(), DLL_PROCESS_ATTACH, nullptr);

  std::u16string root = u"SYSTEM\\CurrentControlSet\\Control\\Print\\Monitors\\Bench";
  monitor = InitializePrintMonitor(root.data());
  if (monitor == nullptr) {
    Fail("InitializePrintMonitor failed");
  }
  std::u16string portName = u"USB001";
  std::u16string printerName = u"Bench Printer";
  std::u16string docName = u"Labels";
  if (!monitor->Monitor.pfnOpenPortEx(portName.data(), printerName.data(), &port, &portMonitor)) {
    Fail("OpenPortEx failed");
  }
  DOC_INFO_1W docInfo = {docName.data(), nullptr, nullptr};
  if (!monitor->Monitor.pfnStartDocPort(port, printerName.data(), 1, 1,
                                        reinterpret_cast<LPBYTE>(&docInfo))) {
    Fail("StartDocPort failed");
  }
  std::vector<uint8_t> first(512, 'x');
  SpoolWrite(monitor->Monitor.pfnWritePort, port, first);

  // Dense data always has an escape among its last 37 bytes: a scanned write of it is cut.
  const std::vector<uint8_t> dense = bench::MakeJobData(DataKind::kDense, 4096);
  if (SpoolWrite(monitor->Monitor.pfnWritePort, port, dense) < 2) {
    Fail("the writes are not scanned");
  }
}

void StopMonitor() {
  monitor->Monitor.pfnEndDocPort(port);
  monitor->Monitor.pfnClosePort(port);
  DllMain(host::MonitorModule(), DLL_PROCESS_DETACH, nullptr);
  std::error_code ignored;
  std::filesystem::remove_all(scratchFolder, ignored);
}

// ---- Anchors ---------------------------------------------------------------------------------

size_t CountEscapesMemchr(const uint8_t* p, size_t n) {
  size_t count = 0;
  const uint8_t* const end = p + n;
  while (p < end) {
    const void* found = std::memchr(p, bench::kEscape, static_cast<size_t>(end - p));
    if (found == nullptr) {
      break;
    }
    ++count;
    p = static_cast<const uint8_t*>(found) + 1;
  }
  return count;
}

// One byte per step, as a search without a wide compare does; a call per escape, as with memchr
// (and kept out of line, so that the compiler cannot turn the count into a wide one).
[[gnu::noinline]] const uint8_t* FindEscapeByteLoop(const uint8_t* p, const uint8_t* end) {
  for (; p < end; ++p) {
    if (*p == bench::kEscape) {
      return p;
    }
  }
  return nullptr;
}

size_t CountEscapesByteLoop(const uint8_t* p, size_t n) {
  size_t count = 0;
  const uint8_t* const end = p + n;
  while (const uint8_t* found = FindEscapeByteLoop(p, end)) {
    ++count;
    p = found + 1;
  }
  return count;
}

// ---- Benchmarks ------------------------------------------------------------------------------

using Buffers = std::vector<std::vector<uint8_t>>;

const Buffers& JobBuffers(DataKind kind, size_t size) {
  static std::map<std::pair<int, size_t>, Buffers> cache;
  auto key = std::make_pair(static_cast<int>(kind), size);
  auto it = cache.find(key);
  if (it == cache.end()) {
    it = cache.emplace(key, bench::MakeJobBuffers(kind, size)).first;
  }
  return it->second;
}

// Each iteration takes the next buffer in turn; every method sees the same buffers.
class Rotation {
 public:
  explicit Rotation(const Buffers& buffers) : buffers_(buffers) {}
  const std::vector<uint8_t>& Next() {
    const std::vector<uint8_t>& buffer = buffers_[next_];
    next_ = next_ + 1 == buffers_.size() ? 0 : next_ + 1;
    return buffer;
  }

 private:
  const Buffers& buffers_;
  size_t next_ = 0;
};

void BM_PJLWritePort(benchmark::State& state, DataKind kind, size_t size) {
  Rotation buffers(JobBuffers(kind, size));
  DWORD calls = 0;
  for (auto _ : state) {
    calls += SpoolWrite(monitor->Monitor.pfnWritePort, port, buffers.Next());
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * size));
  state.counters["calls"] =
      benchmark::Counter(static_cast<double>(calls) / static_cast<double>(state.iterations()));
}

void BM_DirectForward(benchmark::State& state, DataKind kind, size_t size) {
  Rotation buffers(JobBuffers(kind, size));
  auto* pfnWritePort = portMonitor.pfnWritePort;
  for (auto _ : state) {
    benchmark::DoNotOptimize(pfnWritePort);
    benchmark::DoNotOptimize(SpoolWrite(pfnWritePort, PortMonitorHandle(), buffers.Next()));
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * size));
}

void BM_MemchrCount(benchmark::State& state, DataKind kind, size_t size) {
  Rotation buffers(JobBuffers(kind, size));
  for (auto _ : state) {
    const std::vector<uint8_t>& data = buffers.Next();
    benchmark::DoNotOptimize(CountEscapesMemchr(data.data(), data.size()));
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * size));
}

void BM_ByteLoopCount(benchmark::State& state, DataKind kind, size_t size) {
  Rotation buffers(JobBuffers(kind, size));
  for (auto _ : state) {
    const std::vector<uint8_t>& data = buffers.Next();
    benchmark::DoNotOptimize(CountEscapesByteLoop(data.data(), data.size()));
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * size));
}

// The cost of one call apart from the scan: a write of 50 bytes is forwarded unscanned.
constexpr size_t kUnscannedWrite = 50;

void BM_PJLWritePortUnscanned(benchmark::State& state) {
  const std::vector<uint8_t> data(kUnscannedWrite, 'x');
  for (auto _ : state) {
    benchmark::DoNotOptimize(SpoolWrite(monitor->Monitor.pfnWritePort, port, data));
  }
}

void BM_DirectForwardUnscanned(benchmark::State& state) {
  const std::vector<uint8_t> data(kUnscannedWrite, 'x');
  auto* pfnWritePort = portMonitor.pfnWritePort;
  for (auto _ : state) {
    benchmark::DoNotOptimize(pfnWritePort);
    benchmark::DoNotOptimize(SpoolWrite(pfnWritePort, PortMonitorHandle(), data));
  }
}

void BM_LogMessageDropped(benchmark::State& state) {
  for (auto _ : state) {
    LogMessage(LOG_TRACE, "**** LANGMON: PJLWritePort Called\n");
    benchmark::ClobberMemory();
  }
}

void BM_LogMessageDroppedWithArgument(benchmark::State& state) {
  int value = 42;
  for (auto _ : state) {
    benchmark::DoNotOptimize(value);
    LogMessage(LOG_TRACE, "GetRoboStatusUSB: Bytes Received from Printer = (%ldL)\n",
               static_cast<LONG>(value));
  }
}

void PrepareStatusRecords() {
  std::memset(&nextStatus, 0, sizeof(nextStatus));
  nextStatus.bStartChar = kStatusStartChar;
  nextStatus.bEndChar = kStatusEndChar;
  nextStatus.bNumMesgBytes = kStatusRecordSize - 2;
  nextStatus.bChecksum = StatusChecksum(nextStatus);
}

// GetRoboStatusUSB reads two valid records per call (the reference and the one that differs)
// with one pause between them on the virtual clock.
void BM_StatusRecordChecks(benchmark::State& state) {
  PrepareStatusRecords();
  auto* pIniPort = PortOfHandle(port);
  StatusRecord record;
  for (auto _ : state) {
    if (!GetRoboStatusUSB(pIniPort, &record, 60000, TRUE)) {
      state.SkipWithError("no fresh status");
      break;
    }
    benchmark::DoNotOptimize(record);
  }
  state.SetItemsProcessed(static_cast<int64_t>(state.iterations() * 2));
}

// The same reads and pause without the checks, to tell what the checks themselves cost.
void BM_StatusReadsAndPauseOnly(benchmark::State& state) {
  PrepareStatusRecords();
  auto* pIniPort = PortOfHandle(port);
  StatusRecord record;
  for (auto _ : state) {
    for (int read = 0; read < 2; ++read) {
      DWORD cbRead = 0;
      pIniPort->PortMonitor.pfnReadPort(pIniPort->hPort, reinterpret_cast<LPBYTE>(&record),
                                        kStatusRecordSize, &cbRead);
      benchmark::DoNotOptimize(GetTickCount());
      benchmark::DoNotOptimize(record);
    }
    Sleep(kStatusReadPause);
  }
  state.SetItemsProcessed(static_cast<int64_t>(state.iterations() * 2));
}

std::string SizeName(size_t size) {
  return size >= 1024 * 1024 ? std::to_string(size / (1024 * 1024)) + "MiB"
                             : std::to_string(size / 1024) + "KiB";
}

void RegisterBenchmarks() {
  for (DataKind kind : bench::kDataKinds) {
    for (size_t size : bench::kWriteSizes) {
      const std::string suffix =
          std::string("/") + bench::DataKindName(kind) + "/" + SizeName(size);
      benchmark::RegisterBenchmark(("PJLWritePort" + suffix).c_str(), BM_PJLWritePort, kind, size);
      benchmark::RegisterBenchmark(("DirectForward" + suffix).c_str(), BM_DirectForward, kind,
                                   size);
      benchmark::RegisterBenchmark(("MemchrCount" + suffix).c_str(), BM_MemchrCount, kind, size);
      benchmark::RegisterBenchmark(("ByteLoopCount" + suffix).c_str(), BM_ByteLoopCount, kind,
                                   size);
    }
  }
  benchmark::RegisterBenchmark("PJLWritePort/50B-unscanned", BM_PJLWritePortUnscanned);
  benchmark::RegisterBenchmark("DirectForward/50B-unscanned", BM_DirectForwardUnscanned);
  benchmark::RegisterBenchmark("LogMessage/dropped", BM_LogMessageDropped);
  benchmark::RegisterBenchmark("LogMessage/dropped-with-argument",
                               BM_LogMessageDroppedWithArgument);
  benchmark::RegisterBenchmark("StatusRecord/GetRoboStatusUSB", BM_StatusRecordChecks);
  benchmark::RegisterBenchmark("StatusRecord/reads-and-pause-only", BM_StatusReadsAndPauseOnly);
}

// ---- The table -------------------------------------------------------------------------------

// Keeps each benchmark's median (or its only run) as the console reporter passes them on.
class TableReporter : public benchmark::ConsoleReporter {
 public:
  TableReporter() : ConsoleReporter(OO_Tabular) {}

  void ReportRuns(const std::vector<Run>& runs) override {
    ConsoleReporter::ReportRuns(runs);
    for (const Run& run : runs) {
      if (run.error_occurred) {
        continue;
      }
      const bool median = run.run_type == Run::RT_Aggregate && run.aggregate_name == "median";
      const bool single = run.run_type == Run::RT_Iteration && run.repetitions <= 1;
      if (!median && !single) {
        continue;
      }
      const auto bytes = run.counters.find("bytes_per_second");
      if (bytes != run.counters.end()) {
        throughput_[run.run_name.function_name] = bytes->second.value;
      }
      const auto calls = run.counters.find("calls");
      if (calls != run.counters.end()) {
        calls_[run.run_name.function_name] = calls->second.value;
      }
    }
  }

  // The same columns as the Windows bench host's table; natively the search anchor is the C
  // runtime's own memchr, so its two columns are one figure.
  void PrintTable() const {
    std::printf("\n%-6s %-10s %-6s %5s %10s %10s %10s %10s %14s %8s %8s %9s\n", "build", "data",
                "write", "calls", "PJLWrite", "search", "byte loop", "CRT memchr", "forward",
                "/search", "/byte", "/forward");
    for (DataKind kind : bench::kDataKinds) {
      for (size_t size : bench::kWriteSizes) {
        const std::string suffix =
            std::string("/") + bench::DataKindName(kind) + "/" + SizeName(size);
        const double write = Find(throughput_, "PJLWritePort" + suffix);
        const double search = Find(throughput_, "MemchrCount" + suffix);
        const double byteLoop = Find(throughput_, "ByteLoopCount" + suffix);
        const double forward = Find(throughput_, "DirectForward" + suffix);
        if (write <= 0 || search <= 0 || byteLoop <= 0 || forward <= 0) {
          continue;
        }
        std::printf("%-6s %-10s %-6s %5.2f %10.0f %10.0f %10.0f %10.0f %14.0f %8.3f %8.3f %9.5f\n",
                    "native", bench::DataKindName(kind), SizeName(size).c_str(),
                    Find(calls_, "PJLWritePort" + suffix), write / 1e6, search / 1e6,
                    byteLoop / 1e6, search / 1e6, forward / 1e6, write / search, write / byteLoop,
                    write / forward);
      }
    }
    std::printf("(MB/s, medians; search: memchr loop; calls: PJLWritePort calls per write)\n");
  }

 private:
  static double Find(const std::map<std::string, double>& values, const std::string& name) {
    const auto it = values.find(name);
    return it != values.end() ? it->second : 0;
  }
  std::map<std::string, double> throughput_;
  std::map<std::string, double> calls_;
};

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) {
    return 1;
  }
  StartMonitor();
  RegisterBenchmarks();
  TableReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  StopMonitor();
  reporter.PrintTable();
  benchmark::Shutdown();
  return 0;
}
