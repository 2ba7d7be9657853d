// InitializePrintMonitor, the MONITOREX table, and opening and closing a port through the real
// DLL: the real loader, registry, calling convention and structure layout.
#include <gtest/gtest.h>

#include <cstdio>

#include "tests/wine/host.h"

namespace {

constexpr DWORD kDefaultEojTimeout = 60000;

struct RegistryValue {
  LONG status;
  DWORD type;
  std::vector<BYTE> data;
};

RegistryValue ReadEojTimeout() {
  RegistryValue value{};
  BYTE data[64];
  DWORD cb = sizeof(data);
  value.status = RegGetValueW(HKEY_LOCAL_MACHINE, kTestRegistryRoot, L"EOJTimeout", RRF_RT_ANY,
                              &value.type, data, &cb);
  if (value.status == ERROR_SUCCESS) {
    value.data.assign(data, data + cb);
  }
  return value;
}

void WriteEojTimeout(DWORD type, const void* data, DWORD cb) {
  HKEY key;
  ASSERT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, kTestRegistryRoot, 0, nullptr, 0, KEY_WRITE,
                            nullptr, &key, nullptr),
            ERROR_SUCCESS);
  ASSERT_EQ(RegSetValueExW(key, L"EOJTimeout", 0, type, static_cast<const BYTE*>(data), cb),
            ERROR_SUCCESS);
  RegCloseKey(key);
}

std::vector<BYTE> DwordBytes(DWORD value) {
  auto p = reinterpret_cast<const BYTE*>(&value);
  return {p, p + sizeof(value)};
}

LPMONITOREX Initialize() {
  static wchar_t root[MAX_PATH];
  lstrcpyW(root, kTestRegistryRoot);
  return Monitor().InitializePrintMonitor(root);
}

TEST(InitializePrintMonitor, RefusesMissingOrEmptyRegistryRoot) {
  SetLastError(0);
  EXPECT_EQ(Monitor().InitializePrintMonitor(nullptr), nullptr);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));

  wchar_t empty[] = L"";
  SetLastError(0);
  EXPECT_EQ(Monitor().InitializePrintMonitor(empty), nullptr);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
}

TEST(InitializePrintMonitor, CreatesTheKeyAndEojTimeoutAndHandsOutOneTable) {
  DeleteTestRegistryKey();
  LPMONITOREX first = Initialize();
  ASSERT_NE(first, nullptr);
  RegistryValue value = ReadEojTimeout();
  ASSERT_EQ(value.status, ERROR_SUCCESS);
  EXPECT_EQ(value.type, static_cast<DWORD>(REG_DWORD));
  EXPECT_EQ(value.data, DwordBytes(kDefaultEojTimeout));

  EXPECT_EQ(Initialize(), first);
  DeleteTestRegistryKey();
}

// The monitor reads the value into a 4-byte buffer without asking its type: anything that fits
// stays as it is, anything longer is replaced by the default.
TEST(InitializePrintMonitor, KeepsAValueThatFitsAndReplacesALongerOne) {
  DeleteTestRegistryKey();
  const wchar_t shortText[] = L"9";  // 4 bytes with its NUL
  WriteEojTimeout(REG_SZ, shortText, sizeof(shortText));
  ASSERT_NE(Initialize(), nullptr);
  RegistryValue kept = ReadEojTimeout();
  EXPECT_EQ(kept.type, static_cast<DWORD>(REG_SZ));
  EXPECT_EQ(kept.data.size(), sizeof(shortText));

  const DWORD custom = 1234;
  WriteEojTimeout(REG_DWORD, &custom, sizeof(custom));
  ASSERT_NE(Initialize(), nullptr);
  EXPECT_EQ(ReadEojTimeout().data, DwordBytes(custom));

  const BYTE eightBytes[8] = {1, 2, 3, 4, 5, 6, 7, 8};
  WriteEojTimeout(REG_BINARY, eightBytes, sizeof(eightBytes));
  ASSERT_NE(Initialize(), nullptr);
  RegistryValue replaced = ReadEojTimeout();
  EXPECT_EQ(replaced.type, static_cast<DWORD>(REG_DWORD));
  EXPECT_EQ(replaced.data, DwordBytes(kDefaultEojTimeout));
  DeleteTestRegistryKey();
}

TEST(MonitorTable, HasTheSpoolersLayoutAndOnlyTheMonitorsEntries) {
  static_assert(sizeof(MONITOR) == (sizeof(void*) == 4 ? 68 : 136));
  DeleteTestRegistryKey();
  LPMONITOREX table = Initialize();
  ASSERT_NE(table, nullptr);
  EXPECT_EQ(table->dwMonitorSize, sizeof(MONITOR));
  const MONITOR& m = table->Monitor;

  // Port enumeration, adding, configuring and deleting ports, time-outs and the transceiver
  // calls stay with the spooler.
  EXPECT_EQ(m.pfnEnumPorts, nullptr);
  EXPECT_EQ(m.pfnOpenPort, nullptr);
  EXPECT_EQ(m.pfnAddPort, nullptr);
  EXPECT_EQ(m.pfnAddPortEx, nullptr);
  EXPECT_EQ(m.pfnConfigurePort, nullptr);
  EXPECT_EQ(m.pfnDeletePort, nullptr);
  EXPECT_EQ(m.pfnSetPortTimeOuts, nullptr);
  EXPECT_EQ(m.pfnXcvOpenPort, nullptr);
  EXPECT_EQ(m.pfnXcvDataPort, nullptr);
  EXPECT_EQ(m.pfnXcvClosePort, nullptr);

  // The seven entries of the monitor itself, each the DLL's own code, and each a target the
  // spooler's indirect calls may reach where Control Flow Guard is enforced.
  const void* filled[] = {reinterpret_cast<void*>(m.pfnOpenPortEx),
                          reinterpret_cast<void*>(m.pfnStartDocPort),
                          reinterpret_cast<void*>(m.pfnWritePort),
                          reinterpret_cast<void*>(m.pfnReadPort),
                          reinterpret_cast<void*>(m.pfnEndDocPort),
                          reinterpret_cast<void*>(m.pfnClosePort),
                          reinterpret_cast<void*>(m.pfnGetPrinterDataFromPort)};
  for (const void* entry : filled) {
    EXPECT_TRUE(IsInsideMonitorImage(entry)) << entry;
    EXPECT_TRUE(IsGuardedCallTarget(entry)) << entry;
  }
  // Not a table's entry, so not a target: the table is no list of every function.
  EXPECT_FALSE(IsGuardedCallTarget(static_cast<const BYTE*>(filled[0]) + 1));
  // Wine's loader leaves the DLL's own check in place (it does not enforce the guard); Windows
  // replaces it with its own.
  const void* check = GuardCheckFunction();
  ASSERT_NE(check, nullptr);
  std::printf("guard check: %s\n", IsInsideMonitorImage(check)
                                       ? "the DLL's own, letting every target through"
                                       : "the loader's");
  DeleteTestRegistryKey();
}

class PortTest : public testing::Test {
 protected:
  void SetUp() override {
    ResetPortMonitor();
    DeleteTestRegistryKey();
    LPMONITOREX table = Initialize();
    ASSERT_NE(table, nullptr);
    monitor_ = table->Monitor;
    portMonitor_ = HostPortMonitorTable();
  }
  void TearDown() override { DeleteTestRegistryKey(); }

  BOOL Open(const wchar_t* name, HANDLE* handle) { return Open(name, handle, &portMonitor_); }
  BOOL Open(const wchar_t* name, HANDLE* handle, MONITOR* portMonitor) {
    std::wstring portName(name);
    wchar_t printerName[] = L"Label A";
    return monitor_.pfnOpenPortEx(portName.data(), printerName, handle, portMonitor);
  }

  MONITOR monitor_{};
  MONITOR portMonitor_{};
};

TEST_F(PortTest, OpenSetsTheTimeoutsAndCloseReachesThePortMonitor) {
  HANDLE port = nullptr;
  ASSERT_TRUE(Open(L"USB001", &port));
  ASSERT_NE(port, nullptr);
  EXPECT_NE(port, HostPortHandle());
  EXPECT_EQ(PortMonitor().opened, std::vector<std::wstring>{L"USB001"});

  ASSERT_EQ(PortMonitor().timeouts.size(), 1u);
  const SetTimeoutsCall& call = PortMonitor().timeouts[0];
  EXPECT_EQ(call.hPort, HostPortHandle());
  EXPECT_EQ(call.timeouts.ReadIntervalTimeout, 200u);
  EXPECT_EQ(call.timeouts.ReadTotalTimeoutMultiplier, 0u);
  EXPECT_EQ(call.timeouts.ReadTotalTimeoutConstant, 5000u);
  EXPECT_EQ(call.timeouts.WriteTotalTimeoutMultiplier, 0u);
  EXPECT_EQ(call.timeouts.WriteTotalTimeoutConstant, 120000u);
  EXPECT_EQ(call.reserved, 0u);

  EXPECT_TRUE(monitor_.pfnClosePort(port));
  EXPECT_EQ(PortMonitor().closed, std::vector<HANDLE>{HostPortHandle()});
  EXPECT_EQ(PortMonitor().otherCalls, 0);
}

TEST_F(PortTest, APortIsOpenOnceWhateverTheLetterCase) {
  HANDLE port = nullptr;
  ASSERT_TRUE(Open(L"USB001", &port));
  HANDLE second = nullptr;
  SetLastError(0);
  EXPECT_FALSE(Open(L"usb001", &second));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_BUSY));
  EXPECT_EQ(PortMonitor().opened.size(), 1u);

  // Once closed, the name is free again.
  ASSERT_TRUE(monitor_.pfnClosePort(port));
  ASSERT_TRUE(Open(L"usb001", &second));
  EXPECT_TRUE(monitor_.pfnClosePort(second));
}

TEST_F(PortTest, AFailedOpenLeavesNothingBehind) {
  PortMonitor().openResult = FALSE;
  HANDLE port = nullptr;
  EXPECT_FALSE(Open(L"USB002", &port));
  EXPECT_TRUE(PortMonitor().timeouts.empty());

  PortMonitor().openResult = TRUE;
  ASSERT_TRUE(Open(L"USB002", &port));
  EXPECT_EQ(PortMonitor().opened.size(), 2u);
  EXPECT_TRUE(monitor_.pfnClosePort(port));
}

// A print server opens and closes a port for every job: the first port's handle, tried at each of
// 3,000 cycles under Wine's heap, is refused every time and reaches no port monitor.
TEST_F(PortTest, AClosedPortsHandleStaysRefusedOverThreeThousandCycles) {
  HANDLE first = nullptr;
  ASSERT_TRUE(Open(L"USB001", &first));
  ASSERT_TRUE(monitor_.pfnClosePort(first));
  int accepted = 0;
  for (int round = 1; round < 3000; ++round) {
    HANDLE port = nullptr;
    ASSERT_TRUE(Open(L"USB001", &port)) << round;
    BYTE byte = 0;
    DWORD read = 0;
    SetLastError(0);
    if (port == first || monitor_.pfnReadPort(first, &byte, 1, &read) ||
        GetLastError() != ERROR_INVALID_PARAMETER) {
      ++accepted;
    }
    ASSERT_TRUE(monitor_.pfnClosePort(port)) << round;
  }
  EXPECT_EQ(accepted, 0);
  EXPECT_EQ(PortMonitor().otherCalls, 0);
}

TEST_F(PortTest, RefusesAnIncompletePortMonitorAndForeignHandles) {
  HANDLE port = nullptr;
  MONITOR withoutRead = HostPortMonitorTable();
  withoutRead.pfnReadPort = nullptr;
  SetLastError(0);
  EXPECT_FALSE(Open(L"USB003", &port, &withoutRead));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PRINT_MONITOR));
  SetLastError(0);
  EXPECT_FALSE(Open(L"USB003", &port, nullptr));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PRINT_MONITOR));
  EXPECT_TRUE(PortMonitor().opened.empty());

  SetLastError(0);
  EXPECT_FALSE(monitor_.pfnClosePort(nullptr));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
  DWORD foreign[64] = {0x4F4B};
  SetLastError(0);
  EXPECT_FALSE(monitor_.pfnClosePort(foreign));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
  EXPECT_TRUE(PortMonitor().closed.empty());
}

}  // namespace
