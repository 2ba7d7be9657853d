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

}  // namespace
}  // namespace langmon_test
