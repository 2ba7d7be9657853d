// The monitor's log file as the real DLL writes it in the Windows temp folder.
#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <sstream>

#include "tests/wine/host.h"

namespace {

constexpr char kInformPrefix[] = "VMT_LM_10[INFORM] ";
constexpr size_t kTimestampLength = 20;

std::string ReadLogFile() {
  std::ifstream file(LogFilePath(), std::ios::binary);
  return {std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
}

int MillisecondOfDay(const SYSTEMTIME& t) {
  return ((t.wHour * 60 + t.wMinute) * 60 + t.wSecond) * 1000 + t.wMilliseconds;
}

bool IsDigits(const std::string& text, size_t first, size_t count) {
  for (size_t i = first; i < first + count; ++i) {
    if (text[i] < '0' || text[i] > '9') {
      return false;
    }
  }
  return true;
}

// "MM/DD hh:mm:ss:mmm  " in local time; returns false when the text is not of that form.
bool ParseTimestamp(const std::string& line, SYSTEMTIME* t) {
  if (line.size() < kTimestampLength || line[2] != '/' || line[5] != ' ' || line[8] != ':' ||
      line[11] != ':' || line[14] != ':' || line.compare(18, 2, "  ") != 0 ||
      !IsDigits(line, 0, 2) || !IsDigits(line, 3, 2) || !IsDigits(line, 6, 2) ||
      !IsDigits(line, 9, 2) || !IsDigits(line, 12, 2) || !IsDigits(line, 15, 3)) {
    return false;
  }
  *t = SYSTEMTIME{};
  t->wMonth = static_cast<WORD>(std::stoi(line.substr(0, 2)));
  t->wDay = static_cast<WORD>(std::stoi(line.substr(3, 2)));
  t->wHour = static_cast<WORD>(std::stoi(line.substr(6, 2)));
  t->wMinute = static_cast<WORD>(std::stoi(line.substr(9, 2)));
  t->wSecond = static_cast<WORD>(std::stoi(line.substr(12, 2)));
  t->wMilliseconds = static_cast<WORD>(std::stoi(line.substr(15, 3)));
  return true;
}

TEST(LogFile, RecordsTheEntriesWithLocalTimestampsOneLinePerMessage) {
  DeleteFileA(LogFilePath().c_str());
  ResetPortMonitor();
  DeleteTestRegistryKey();
  SYSTEMTIME before;
  GetLocalTime(&before);

  Monitor().InitializePrintMonitor(nullptr);
  wchar_t root[MAX_PATH];
  lstrcpyW(root, kTestRegistryRoot);
  LPMONITOREX table = Monitor().InitializePrintMonitor(root);
  ASSERT_NE(table, nullptr);
  MONITOR portMonitor = HostPortMonitorTable();
  wchar_t portName[] = L"USB009";
  wchar_t printerName[] = L"Label A";
  HANDLE port = nullptr;
  ASSERT_TRUE(table->Monitor.pfnOpenPortEx(portName, printerName, &port, &portMonitor));
  ASSERT_TRUE(table->Monitor.pfnClosePort(port));

  SYSTEMTIME after;
  GetLocalTime(&after);
  DeleteTestRegistryKey();

  const std::string log = ReadLogFile();
  ASSERT_FALSE(log.empty()) << "no log file at " << LogFilePath();
  EXPECT_EQ(log.find('\r'), std::string::npos) << "lines end in a bare line feed";
  EXPECT_EQ(log.find('\0'), std::string::npos);
  EXPECT_EQ(log.back(), '\n');

  std::vector<std::string> messages;
  std::istringstream lines(log);
  for (std::string line; std::getline(lines, line);) {
    SYSTEMTIME stamp;
    ASSERT_TRUE(ParseTimestamp(line, &stamp)) << "line without timestamp: " << line;
    EXPECT_EQ(line.compare(kTimestampLength, 10, "VMT_LM_10["), 0) << line;
    if (before.wDay == after.wDay) {
      EXPECT_EQ(stamp.wMonth, before.wMonth) << line;
      EXPECT_EQ(stamp.wDay, before.wDay) << line;
      EXPECT_GE(MillisecondOfDay(stamp), MillisecondOfDay(before)) << line;
      EXPECT_LE(MillisecondOfDay(stamp), MillisecondOfDay(after)) << line;
    }
    messages.push_back(line.substr(kTimestampLength));
  }

  // The initialisation and the port entries report in this order; other lines may come between.
  const std::vector<std::string> expected = {
      "**** LANGMON: Initialize Print Monitor Called",
      "**** LANGMON: Initialize Print Monitor pszRegistryRoot = null",
      "**** LANGMON: Initialize Print Monitor Called",
      "**** PJLMonOpenPortEx Called",
      "**** PJLMonOpenPortEx Return",
      "**** PJLMonOpenPortEx Return Cleanup",
      "**** PJLMonClosePort Called",
      "**** PJLMonClosePort Returning",
  };
  size_t next = 0;
  for (const std::string& message : messages) {
    if (next < expected.size() && message == kInformPrefix + expected[next]) {
      ++next;
    }
  }
  EXPECT_EQ(next, expected.size())
      << "missing or out of order: \"" << expected[next] << "\"\nlog:\n"
      << log;
}

}  // namespace
