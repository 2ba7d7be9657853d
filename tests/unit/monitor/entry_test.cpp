#include <cstddef>
#include <cstring>

#include "tests/support/monitor_test.h"

namespace langmon_test {
namespace {

const std::u16string kRoot = u"SYSTEM\\CurrentControlSet\\Control\\Print\\Monitors\\Velmora LM";

std::vector<uint8_t> DwordBytes(DWORD value) {
  std::vector<uint8_t> bytes(4);
  std::memcpy(bytes.data(), &value, 4);
  return bytes;
}

class EntryTest : public MonitorTest {
 protected:
  LPMONITOREX Initialize(const std::u16string& root) {
    std::u16string copy = root;
    return InitializePrintMonitor(copy.data());
  }
};

TEST_F(EntryTest, MissingOrEmptyRegistryRootIsRefused) {
  for (LPWSTR root : {static_cast<LPWSTR>(nullptr), const_cast<LPWSTR>(WSTR(""))}) {
    ClearLog();
    SetLastError(0);
    EXPECT_EQ(InitializePrintMonitor(root), nullptr);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
    EXPECT_EQ(LogLines(),
              (std::vector<std::string>{
                  Inform("**** LANGMON: Initialize Print Monitor Called\n"),
                  Inform("**** LANGMON: Initialize Print Monitor pszRegistryRoot = null\n")}));
  }
}

TEST_F(EntryTest, CreatesTheEndOfJobTimeoutAndReturnsTheSameTableEachTime) {
  LPMONITOREX table = Initialize(kRoot);
  ASSERT_EQ(table, &MonitorTable);
  host::RegistryValue value = host::GetRegistryValue(kRoot, u"EOJTimeout");
  EXPECT_TRUE(value.present);
  EXPECT_EQ(value.type, static_cast<DWORD>(REG_DWORD));
  EXPECT_EQ(value.data, DwordBytes(60000));
  EXPECT_EQ(Initialize(kRoot), table);
  EXPECT_EQ(LogLines().front(), Inform("**** LANGMON: Initialize Print Monitor Called\n"));
}

TEST_F(EntryTest, ExistingValueIsKeptWhenItFitsFourBytesAndReplacedOtherwise) {
  const std::vector<uint8_t> shortText = {'4', 0, '2', 0};
  host::SetRegistryValue(kRoot, u"EOJTimeout", REG_SZ, shortText);
  ASSERT_NE(Initialize(kRoot), nullptr);
  EXPECT_EQ(host::GetRegistryValue(kRoot, u"EOJTimeout").type, static_cast<DWORD>(REG_SZ));
  EXPECT_EQ(host::GetRegistryValue(kRoot, u"EOJTimeout").data, shortText);

  host::SetRegistryValue(kRoot, u"EOJTimeout", REG_SZ, {'1', 0, '2', 0, '3', 0});
  ASSERT_NE(Initialize(kRoot), nullptr);
  EXPECT_EQ(host::GetRegistryValue(kRoot, u"EOJTimeout").type, static_cast<DWORD>(REG_DWORD));
  EXPECT_EQ(host::GetRegistryValue(kRoot, u"EOJTimeout").data, DwordBytes(60000));
}

TEST_F(EntryTest, KeyThatRefusesWritesFailsInitialisationWithoutSettingAnError) {
  host::CreateRegistryKey(kRoot);
  host::RefuseRegistryWrites(kRoot);
  SetLastError(1234);
  EXPECT_EQ(Initialize(kRoot), nullptr);
  EXPECT_EQ(GetLastError(), 1234u);
  EXPECT_TRUE(Logged(Inform("**** LANGMON: UpdateTimeoutsFromRegistry failed\n")));
  EXPECT_FALSE(host::GetRegistryValue(kRoot, u"EOJTimeout").present);
}

TEST_F(EntryTest, TableFillsExactlyTheSevenEntriesTheMonitorServes) {
  LPMONITOREX table = Initialize(kRoot);
  ASSERT_NE(table, nullptr);
  EXPECT_EQ(table->dwMonitorSize, sizeof(MONITOR));
  const MONITOR& m = table->Monitor;
  EXPECT_EQ(m.pfnOpenPortEx, &PJLMonOpenPortEx);
  EXPECT_EQ(m.pfnStartDocPort, &PJLMonStartDocPort);
  EXPECT_EQ(m.pfnWritePort, &PJLWritePort);
  EXPECT_EQ(m.pfnReadPort, &PJLMonReadPort);
  EXPECT_EQ(m.pfnEndDocPort, &PJLMonEndDocPort);
  EXPECT_EQ(m.pfnClosePort, &PJLMonClosePort);
  EXPECT_EQ(m.pfnGetPrinterDataFromPort, &GetPrinterDataFromPort);
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
}

// ---- InitializePrintMonitor2 -----------------------------------------------------------------

// The spooler's registry functions over one value, as a test sets them up.
struct SpoolerRegistry {
  LONG queryResult = ERROR_FILE_NOT_FOUND;
  LONG setResult = ERROR_SUCCESS;
  std::vector<uint8_t> stored;  // what a successful query delivers
  DWORD setType = REG_NONE;
  std::vector<uint8_t> set;
  HANDLE keySeen = nullptr;
  HANDLE spoolerSeen = nullptr;
};
SpoolerRegistry gRegistry;

LONG WINAPI QueryValue(HANDLE hcKey, LPCWSTR pszValue, PDWORD, PBYTE pData, PDWORD pcbData,
                       HANDLE hSpooler) {
  gRegistry.keySeen = hcKey;
  gRegistry.spoolerSeen = hSpooler;
  EXPECT_EQ(std::u16string(pszValue), u"EOJTimeout");
  if (gRegistry.queryResult == ERROR_SUCCESS) {
    if (gRegistry.stored.size() > *pcbData) {
      return ERROR_MORE_DATA;
    }
    std::memcpy(pData, gRegistry.stored.data(), gRegistry.stored.size());
  }
  return gRegistry.queryResult;
}

LONG WINAPI SetValue(HANDLE hcKey, LPCWSTR pszValue, DWORD dwType, const BYTE* pData, DWORD cbData,
                     HANDLE) {
  gRegistry.keySeen = hcKey;
  EXPECT_EQ(std::u16string(pszValue), u"EOJTimeout");
  gRegistry.setType = dwType;
  gRegistry.set.assign(pData, pData + cbData);
  return gRegistry.setResult;
}

class Entry2Test : public MonitorTest {
 protected:
  void SetUp() override {
    MonitorTest::SetUp();
    gRegistry = SpoolerRegistry{};
    registry_.cbSize = sizeof(MONITORREG);
    registry_.fpQueryValue = QueryValue;
    registry_.fpSetValue = SetValue;
    init_ = {sizeof(MONITORINIT), &spoolerToken_, &keyToken_, &registry_, TRUE, nullptr};
  }

  LPMONITOR2 Initialize() {
    monitor_ = nullptr;
    return InitializePrintMonitor2(&init_, &monitor_);
  }

  int spoolerToken_ = 0;
  int keyToken_ = 0;
  MONITORREG registry_ = {};
  MONITORINIT init_ = {};
  HANDLE monitor_ = nullptr;
};

TEST_F(Entry2Test, TableServesTheSameSevenEntriesPlusShutdownAndBidi) {
  LPMONITOR2 table = Initialize();
  ASSERT_EQ(table, &MonitorTable2);
  EXPECT_NE(monitor_, nullptr);
  EXPECT_EQ(table->cbSize, sizeof(MONITOR2));
  EXPECT_EQ(table->pfnOpenPortEx, &PJLMonOpenPortEx2);
  EXPECT_EQ(table->pfnStartDocPort, MonitorTable.Monitor.pfnStartDocPort);
  EXPECT_EQ(table->pfnWritePort, MonitorTable.Monitor.pfnWritePort);
  EXPECT_EQ(table->pfnReadPort, MonitorTable.Monitor.pfnReadPort);
  EXPECT_EQ(table->pfnEndDocPort, MonitorTable.Monitor.pfnEndDocPort);
  EXPECT_EQ(table->pfnClosePort, MonitorTable.Monitor.pfnClosePort);
  EXPECT_EQ(table->pfnGetPrinterDataFromPort, MonitorTable.Monitor.pfnGetPrinterDataFromPort);
  EXPECT_EQ(table->pfnShutdown, &PJLMonShutdown);
  EXPECT_EQ(table->pfnSendRecvBidiDataFromPort, &PJLMonSendRecvBidiDataFromPort);
  for (const void* entry : {reinterpret_cast<const void*>(table->pfnEnumPorts),
                            reinterpret_cast<const void*>(table->pfnOpenPort),
                            reinterpret_cast<const void*>(table->pfnAddPort),
                            reinterpret_cast<const void*>(table->pfnAddPortEx),
                            reinterpret_cast<const void*>(table->pfnConfigurePort),
                            reinterpret_cast<const void*>(table->pfnDeletePort),
                            reinterpret_cast<const void*>(table->pfnSetPortTimeOuts),
                            reinterpret_cast<const void*>(table->pfnXcvOpenPort),
                            reinterpret_cast<const void*>(table->pfnXcvDataPort),
                            reinterpret_cast<const void*>(table->pfnXcvClosePort),
                            reinterpret_cast<const void*>(table->pfnNotifyUsedPorts),
                            reinterpret_cast<const void*>(table->pfnNotifyUnusedPorts)}) {
    EXPECT_EQ(entry, nullptr);
  }

  ClearLog();
  table->pfnShutdown(monitor_);
  EXPECT_EQ(LogLines(),
            (std::vector<std::string>{Inform("**** LANGMON: PJLMonShutdown Called\n")}));
}

TEST_F(Entry2Test, EndOfJobTimeoutIsKeptThroughTheSpoolersRegistryFunctions) {
  ASSERT_NE(Initialize(), nullptr);
  EXPECT_EQ(gRegistry.keySeen, &keyToken_);
  EXPECT_EQ(gRegistry.spoolerSeen, &spoolerToken_);
  EXPECT_EQ(gRegistry.setType, static_cast<DWORD>(REG_DWORD));
  EXPECT_EQ(gRegistry.set, DwordBytes(60000));
  EXPECT_EQ(LogLines(),
            (std::vector<std::string>{Inform("**** LANGMON: InitializePrintMonitor2 Called\n")}));

  // A value that fits four bytes stays; a longer one is replaced.
  gRegistry = SpoolerRegistry{};
  gRegistry.queryResult = ERROR_SUCCESS;
  gRegistry.stored = {'4', 0, '2', 0};
  ASSERT_NE(Initialize(), nullptr);
  EXPECT_TRUE(gRegistry.set.empty());
  gRegistry.stored = {'1', 0, '2', 0, '3', 0};
  ASSERT_NE(Initialize(), nullptr);
  EXPECT_EQ(gRegistry.set, DwordBytes(60000));
}

TEST_F(Entry2Test, ASpoolerWithoutWorkingRegistryFunctionsStillGetsTheTable) {
  // As Wine's spooler: the functions are there and answer that they are not implemented.
  gRegistry.queryResult = ERROR_CALL_NOT_IMPLEMENTED;
  gRegistry.setResult = ERROR_CALL_NOT_IMPLEMENTED;
  EXPECT_EQ(Initialize(), &MonitorTable2);
  EXPECT_EQ(LogLines(),
            (std::vector<std::string>{
                Inform("**** LANGMON: InitializePrintMonitor2 Called\n"),
                Warning("**** LANGMON: EOJTimeout not kept, spooler registry error 120\n")}));

  ClearLog();
  registry_.cbSize = offsetof(MONITORREG, fpQueryValue);  // ends before the query
  EXPECT_EQ(Initialize(), &MonitorTable2);
  init_.pMonitorReg = nullptr;
  EXPECT_EQ(Initialize(), &MonitorTable2);
  EXPECT_EQ(LogLines().size(), 4u);
  EXPECT_EQ(LogLines()[3],
            Warning("**** LANGMON: EOJTimeout not kept, spooler registry error 120\n"));
}

TEST_F(Entry2Test, MissingOrShortInitialisationDataIsRefused) {
  HANDLE monitor = nullptr;
  const auto refused = [&](PMONITORINIT init, PHANDLE out) {
    SetLastError(0);
    const bool isNull = InitializePrintMonitor2(init, out) == nullptr;
    return isNull && GetLastError() == 87u;
  };
  EXPECT_TRUE(refused(nullptr, &monitor));
  EXPECT_TRUE(refused(&init_, nullptr));
  init_.cbSize = sizeof(MONITORINIT) - 1;
  EXPECT_TRUE(refused(&init_, &monitor));
  EXPECT_EQ(gRegistry.keySeen, nullptr) << "nothing is read from a refused structure";
  EXPECT_EQ(LogLines().back(),
            Inform("**** LANGMON: InitializePrintMonitor2 pMonitorInit invalid\n"));
}

}  // namespace
}  // namespace langmon_test
