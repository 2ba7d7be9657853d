// The write path of the real languagemonitor.dll, timed in a Windows process (under Wine here):
// the DLL is loaded by the system loader, its table comes from InitializePrintMonitor, and a job
// runs on a port over this host's own port monitor, which accepts every byte and keeps none.
// Anchors on the same buffers, in the same process: a 16-byte SSE2 search loop and a byte loop
// that count every escape byte, the C runtime's memchr doing the same, and a direct call of the
// port monitor's WritePort. Prints the medians of interleaved repetitions as a table.
//
//   bench.exe [--dll=PATH] [--repetitions=N] [--min-time-ms=MS]
#include <emmintrin.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "bench/job_data.h"
#include "platform/win32.h"
#include "tests/support/header_scan.h"

namespace {

using bench::DataKind;
using InitializePrintMonitorFn = LPMONITOREX(WINAPI*)(LPWSTR pszRegistryRoot);
using WritePortFn = BOOL(WINAPI*)(HANDLE, LPBYTE, DWORD, LPDWORD);

[[noreturn]] void Fail(const char* what) {
  std::fprintf(stderr, "bench: %s (error %lu)\n", what, static_cast<unsigned long>(GetLastError()));
  std::exit(1);
}

// ---- The port monitor below the monitor: accepts every byte and keeps none -----------------

int portToken;
DWORD lastWriteSize;  // what WritePort was last asked to take, for the check before timing

BOOL WINAPI OpenPort(LPWSTR, PHANDLE pHandle) {
  *pHandle = &portToken;
  return TRUE;
}
BOOL WINAPI StartDocPort(HANDLE, LPWSTR, DWORD, DWORD, LPBYTE) { return TRUE; }
BOOL WINAPI WritePort(HANDLE, LPBYTE, DWORD cbBuf, LPDWORD pcbWritten) {
  lastWriteSize = cbBuf;
  *pcbWritten = cbBuf;
  return TRUE;
}
BOOL WINAPI ReadPort(HANDLE, LPBYTE, DWORD, LPDWORD pcbRead) {
  *pcbRead = 0;
  return TRUE;
}
BOOL WINAPI EndDocPort(HANDLE) { return TRUE; }
BOOL WINAPI ClosePort(HANDLE) { return TRUE; }
BOOL WINAPI SetPortTimeOuts(HANDLE, LPCOMMTIMEOUTS, DWORD) { return TRUE; }

MONITOR PortMonitorTable() {
  MONITOR table{};
  table.pfnOpenPort = OpenPort;
  table.pfnStartDocPort = StartDocPort;
  table.pfnWritePort = WritePort;
  table.pfnReadPort = ReadPort;
  table.pfnEndDocPort = EndDocPort;
  table.pfnClosePort = ClosePort;
  table.pfnSetPortTimeOuts = SetPortTimeOuts;
  return table;
}

// ---- The monitor ---------------------------------------------------------------------------

MONITOR portMonitor = PortMonitorTable();
LPMONITOREX monitor = nullptr;
HANDLE port = nullptr;

// Offers the whole buffer as a spooler does: what was not written is offered again.
DWORD SpoolWrite(WritePortFn pfnWritePort, HANDLE hPort, const std::vector<uint8_t>& data) {
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

std::wstring ExecutableFolder() {
  wchar_t path[MAX_PATH];
  const DWORD length = GetModuleFileNameW(nullptr, path, MAX_PATH);
  std::wstring folder(path, length);
  return folder.substr(0, folder.find_last_of(L"\\/") + 1);
}

// Loads the DLL, opens a port over our port monitor and starts a job whose first write is done,
// so that every write timed is scanned.
void StartMonitor(const std::wstring& dllPath) {
  HMODULE module = LoadLibraryW(dllPath.c_str());
  if (module == nullptr) {
    Fail("cannot load languagemonitor.dll");
  }
  auto initialize = reinterpret_cast<InitializePrintMonitorFn>(
      reinterpret_cast<void*>(GetProcAddress(module, "InitializePrintMonitor")));
  if (initialize == nullptr) {
    Fail("no InitializePrintMonitor");
  }
  wchar_t root[] = L"SYSTEM\\CurrentControlSet\\Control\\Print\\Monitors\\Velmora Bench";
  monitor = initialize(root);
  if (monitor == nullptr) {
    Fail("InitializePrintMonitor failed");
  }
  wchar_t portName[] = L"USB001";
  wchar_t printerName[] = L"Bench Printer";
  wchar_t docName[] = L"Labels";
  if (!monitor->Monitor.pfnOpenPortEx(portName, printerName, &port, &portMonitor)) {
    Fail("OpenPortEx failed");
  }
  DOC_INFO_1W docInfo = {docName, nullptr, nullptr};
  if (!monitor->Monitor.pfnStartDocPort(port, printerName, 1, 1,
                                        reinterpret_cast<LPBYTE>(&docInfo))) {
    Fail("StartDocPort failed");
  }
  SpoolWrite(monitor->Monitor.pfnWritePort, port, std::vector<uint8_t>(512, 'x'));
}

using langmon_test::kJobHeaderFirstBytes;
using langmon_test::kJobHeaderLastBytes;
using langmon_test::kJobHeaderLength;

// Before any timing: the DLL's scan cuts random writes of every density, with whole and broken
// headers inside, where the plain loop does. (No header at the start: the pre-job check would
// wait for a printer that is not there.) This also shows that the writes timed are scanned.
void CheckCutPoints() {
  bench::Random random(4242);
  const unsigned densities[] = {1000, 256, 40, 12, 3};
  for (int round = 0; round < 3000; ++round) {
    const size_t size = 51 + static_cast<size_t>(random.Next() % (round % 4 == 0 ? 100 : 3000));
    const unsigned oneIn = densities[random.Next() % 5];
    std::vector<uint8_t> data(size);
    for (uint8_t& byte : data) {
      byte = random.Next() % oneIn == 0 ? bench::kEscape : random.Byte();
    }
    for (unsigned h = static_cast<unsigned>(random.Next() % 4); h > 0; --h) {
      const size_t offset = 1 + static_cast<size_t>(random.Next() % (size - kJobHeaderLength));
      std::memcpy(&data[offset], kJobHeaderFirstBytes, 4);
      std::memcpy(&data[offset + kJobHeaderLength - 4], kJobHeaderLastBytes, 4);
      if (random.Next() % 3 == 0) {
        data[offset + 1 + random.Next() % (kJobHeaderLength - 1)] ^= 0x01;
      }
    }
    const langmon_test::ScanCut cut = langmon_test::CutWrite(data.data(), data.size());
    if (cut.headerAtStart) {
      continue;
    }
    const DWORD expected = static_cast<DWORD>(cut.count);
    lastWriteSize = 0;
    DWORD written = 0;
    if (!monitor->Monitor.pfnWritePort(port, data.data(), static_cast<DWORD>(size), &written) ||
        lastWriteSize != expected) {
      std::fprintf(stderr, "bench: a write of %u bytes was cut at %lu, not at %lu\n",
                   static_cast<unsigned>(size), static_cast<unsigned long>(lastWriteSize),
                   static_cast<unsigned long>(expected));
      std::exit(1);
    }
  }
}

void StopMonitor() {
  monitor->Monitor.pfnEndDocPort(port);
  monitor->Monitor.pfnClosePort(port);
}

// ---- Anchors ---------------------------------------------------------------------------------

// Index of the first escape in p[from, end), or end. Sixteen bytes per step.
inline size_t FindSse2(const uint8_t* p, size_t from, size_t end) {
  const __m128i needle = _mm_set1_epi8(static_cast<char>(bench::kEscape));
  size_t i = from;
  for (; end - i >= 16; i += 16) {
    const __m128i block = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + i));
    const int mask = _mm_movemask_epi8(_mm_cmpeq_epi8(block, needle));
    if (mask != 0) {
      return i + static_cast<size_t>(__builtin_ctz(static_cast<unsigned>(mask)));
    }
  }
  for (; i < end; ++i) {
    if (p[i] == bench::kEscape) {
      return i;
    }
  }
  return end;
}

// One byte per step, as the C runtime's memchr does here; out of line like it, so that the
// compiler cannot turn the count into a wide one.
[[gnu::noinline]] size_t FindByteLoop(const uint8_t* p, size_t from, size_t end) {
  for (size_t i = from; i < end; ++i) {
    if (p[i] == bench::kEscape) {
      return i;
    }
  }
  return end;
}

inline size_t FindMemchr(const uint8_t* p, size_t from, size_t end) {
  const void* found = std::memchr(p + from, bench::kEscape, end - from);
  return found != nullptr ? static_cast<size_t>(static_cast<const uint8_t*>(found) - p) : end;
}

template <size_t (*Find)(const uint8_t*, size_t, size_t)>
size_t CountEscapes(const std::vector<uint8_t>& data) {
  size_t count = 0;
  const size_t end = data.size();
  for (size_t i = Find(data.data(), 0, end); i < end; i = Find(data.data(), i + 1, end)) {
    ++count;
  }
  return count;
}

// ---- Timing ----------------------------------------------------------------------------------

volatile size_t sink;

enum Method { kPJLWritePort, kSse2Loop, kByteLoop, kCrtMemchr, kDirectForward, kMethods };

using Buffers = std::vector<std::vector<uint8_t>>;

void RunOnce(Method method, const std::vector<uint8_t>& data) {
  switch (method) {
    case kPJLWritePort:
      sink = SpoolWrite(monitor->Monitor.pfnWritePort, port, data);
      break;
    case kSse2Loop:
      sink = CountEscapes<FindSse2>(data);
      break;
    case kByteLoop:
      sink = CountEscapes<FindByteLoop>(data);
      break;
    case kCrtMemchr:
      sink = CountEscapes<FindMemchr>(data);
      break;
    case kDirectForward:
      sink = SpoolWrite(portMonitor.pfnWritePort, &portToken, data);
      break;
    case kMethods:
      break;
  }
}

double Now() {
  static LARGE_INTEGER frequency = [] {
    LARGE_INTEGER f;
    QueryPerformanceFrequency(&f);
    return f;
  }();
  LARGE_INTEGER counter;
  QueryPerformanceCounter(&counter);
  return static_cast<double>(counter.QuadPart) / static_cast<double>(frequency.QuadPart);
}

// Seconds for `iterations` runs, each on the next buffer in turn.
double TimeBatch(Method method, const Buffers& buffers, unsigned long iterations) {
  const double start = Now();
  size_t next = 0;
  for (unsigned long i = 0; i < iterations; ++i) {
    RunOnce(method, buffers[next]);
    next = next + 1 == buffers.size() ? 0 : next + 1;
  }
  return Now() - start;
}

// Enough iterations for a batch of at least minSeconds.
unsigned long Calibrate(Method method, const Buffers& data, double minSeconds) {
  unsigned long iterations = 1;
  for (;;) {
    const double seconds = TimeBatch(method, data, iterations);
    if (seconds >= minSeconds) {
      return iterations;
    }
    const double scale = seconds > 0 ? minSeconds / seconds * 1.2 : 10;
    iterations =
        static_cast<unsigned long>(static_cast<double>(iterations) * std::min(scale, 10.0));
    iterations = std::max(iterations, 2ul);
  }
}

double Median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  const size_t n = values.size();
  return n % 2 == 1 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

struct Row {
  DataKind kind;
  size_t size;
  double throughput[kMethods];  // median bytes per second
  double calls;                 // PJLWritePort calls per buffer
};

Row Measure(DataKind kind, size_t size, int repetitions, double minSeconds) {
  const Buffers data = bench::MakeJobBuffers(kind, size);
  Row row{kind, size, {}, 0};
  for (const std::vector<uint8_t>& buffer : data) {
    row.calls += SpoolWrite(monitor->Monitor.pfnWritePort, port, buffer);
  }
  row.calls /= static_cast<double>(data.size());
  unsigned long iterations[kMethods];
  for (int m = 0; m < kMethods; ++m) {
    iterations[m] = Calibrate(static_cast<Method>(m), data, minSeconds);
  }
  std::vector<double> samples[kMethods];
  for (int r = 0; r < repetitions; ++r) {
    // Interleaved, so that a slow moment of a shared machine falls on every method alike.
    for (int m = 0; m < kMethods; ++m) {
      const double seconds = TimeBatch(static_cast<Method>(m), data, iterations[m]);
      samples[m].push_back(static_cast<double>(size) * static_cast<double>(iterations[m]) /
                           seconds);
    }
  }
  for (int m = 0; m < kMethods; ++m) {
    row.throughput[m] = Median(samples[m]);
  }
  return row;
}

// Nanoseconds per call for a write of 50 bytes, which is forwarded unscanned: the cost of a call
// apart from the scan.
double NanosecondsPerUnscannedWrite(WritePortFn pfnWritePort, HANDLE hPort, int repetitions) {
  const std::vector<uint8_t> data(50, 'x');
  constexpr unsigned long kCalls = 200000;
  std::vector<double> samples;
  for (int r = 0; r < repetitions; ++r) {
    const double start = Now();
    for (unsigned long i = 0; i < kCalls; ++i) {
      sink = SpoolWrite(pfnWritePort, hPort, data);
    }
    samples.push_back((Now() - start) / kCalls * 1e9);
  }
  return Median(samples);
}

std::string SizeName(size_t size) {
  return size >= 1024 * 1024 ? std::to_string(size / (1024 * 1024)) + "MiB"
                             : std::to_string(size / 1024) + "KiB";
}

}  // namespace

int main(int argc, char** argv) {
  std::wstring dllPath = ExecutableFolder() + L"..\\bin\\languagemonitor.dll";
  int repetitions = 10;
  double minSeconds = 0.02;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg.rfind("--dll=", 0) == 0) {
      const std::string path = arg.substr(6);
      dllPath.assign(path.begin(), path.end());
    } else if (arg.rfind("--repetitions=", 0) == 0) {
      repetitions = std::max(1, std::atoi(arg.c_str() + 14));
    } else if (arg.rfind("--min-time-ms=", 0) == 0) {
      minSeconds = std::max(1, std::atoi(arg.c_str() + 14)) / 1000.0;
    } else {
      std::fprintf(stderr, "usage: bench.exe [--dll=PATH] [--repetitions=N] [--min-time-ms=MS]\n");
      return 2;
    }
  }

  SetThreadPriority(GetCurrentThread(), THREAD_PRIORITY_HIGHEST);
  StartMonitor(dllPath);
  CheckCutPoints();
  const char* build = sizeof(void*) == 8 ? "win64" : "win32";

  std::vector<Row> rows;
  for (DataKind kind : bench::kDataKinds) {
    for (size_t size : bench::kWriteSizes) {
      rows.push_back(Measure(kind, size, repetitions, minSeconds));
    }
  }
  const double unscanned =
      NanosecondsPerUnscannedWrite(monitor->Monitor.pfnWritePort, port, repetitions);
  const double forwarded =
      NanosecondsPerUnscannedWrite(portMonitor.pfnWritePort, &portToken, repetitions);
  StopMonitor();

  std::printf("%-6s %-10s %-6s %5s %10s %10s %10s %10s %14s %8s %8s %9s\n", "build", "data",
              "write", "calls", "PJLWrite", "SSE2 loop", "byte loop", "msvcrt", "forward", "/SSE2",
              "/byte", "/forward");
  for (const Row& row : rows) {
    const double write = row.throughput[kPJLWritePort];
    std::printf("%-6s %-10s %-6s %5.2f %10.0f %10.0f %10.0f %10.0f %14.0f %8.3f %8.3f %9.5f\n",
                build, bench::DataKindName(row.kind), SizeName(row.size).c_str(), row.calls,
                write / 1e6, row.throughput[kSse2Loop] / 1e6, row.throughput[kByteLoop] / 1e6,
                row.throughput[kCrtMemchr] / 1e6, row.throughput[kDirectForward] / 1e6,
                write / row.throughput[kSse2Loop], write / row.throughput[kByteLoop],
                write / row.throughput[kDirectForward]);
  }
  std::printf(
      "(MB/s, medians of %d interleaved repetitions; calls: PJLWritePort calls per write)\n",
      repetitions);
  std::printf(
      "%s: a 50-byte write (unscanned) takes %.1f ns through PJLWritePort, %.1f ns "
      "forwarded directly\n",
      build, unscanned, forwarded);
  return 0;
}
