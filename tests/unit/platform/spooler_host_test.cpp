// The spooler's printer functions and the common application-data folder.
#include <cstring>
#include <vector>

#include "platform_fixture.h"

namespace {

using SpoolerTest = PlatformTest;
using ShellTest = PlatformTest;

host::Printer LabelPrinter() {
  host::Printer printer;
  printer.name = u"Label Printer";
  printer.driverPath = u"C:\\Windows\\System32\\spool\\DRIVERS\\x64\\3\\LABELDRV.DLL";
  return printer;
}

TEST_F(SpoolerTest, OpenAndCloseOnlyKnownPrinters) {
  host::AddPrinter(LabelPrinter());
  HANDLE printer = nullptr;
  SetLastError(0);
  EXPECT_FALSE(OpenPrinterW(const_cast<LPWSTR>(u"Nobody"), &printer, nullptr));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PRINTER_NAME));
  ASSERT_TRUE(OpenPrinterW(const_cast<LPWSTR>(u"Label Printer"), &printer, nullptr));
  EXPECT_NE(printer, nullptr);
  EXPECT_EQ(host::OpenPrinterHandles(), 1);
  EXPECT_FALSE(CloseHandle(printer));  // printers close with ClosePrinter only
  EXPECT_TRUE(ClosePrinter(printer));
  EXPECT_EQ(host::OpenPrinterHandles(), 0);
  SetLastError(0);
  EXPECT_FALSE(ClosePrinter(printer));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));

  host::Printer refusing = LabelPrinter();
  refusing.openSucceeds = false;
  host::AddPrinter(refusing);  // replaces the printer of that name
  EXPECT_FALSE(OpenPrinterW(const_cast<LPWSTR>(u"Label Printer"), &printer, nullptr));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PRINTER_NAME));
}

TEST_F(SpoolerTest, GetPrinterFollowsTheBufferProtocol) {
  host::Printer printer = LabelPrinter();
  printer.reportedName = u"Label Printer (Copy 1)";
  host::AddPrinter(printer);
  HANDLE handle = nullptr;
  ASSERT_TRUE(OpenPrinterW(const_cast<LPWSTR>(u"label printer"), &handle, nullptr));

  DWORD needed = 0;
  SetLastError(0);
  EXPECT_FALSE(GetPrinterW(handle, 2, nullptr, 0, &needed));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));
  const DWORD nameBytes = (22 + 1) * sizeof(WCHAR);
  EXPECT_GE(needed, sizeof(PRINTER_INFO_2W) + nameBytes);

  std::vector<BYTE> small(needed - 1);
  DWORD again = 0;
  EXPECT_FALSE(GetPrinterW(handle, 2, small.data(), static_cast<DWORD>(small.size()), &again));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));
  EXPECT_EQ(again, needed);

  std::vector<BYTE> buffer(needed);
  ASSERT_TRUE(GetPrinterW(handle, 2, buffer.data(), needed, &again));
  PRINTER_INFO_2W info;
  std::memcpy(&info, buffer.data(), sizeof(info));
  EXPECT_EQ(std::u16string(info.pPrinterName), u"Label Printer (Copy 1)");
  const auto* begin = buffer.data();
  const auto* name = reinterpret_cast<const BYTE*>(info.pPrinterName);
  EXPECT_GE(name, begin + sizeof(PRINTER_INFO_2W));  // behind the structure, inside the buffer
  EXPECT_LE(name + nameBytes, begin + needed);

  EXPECT_FALSE(GetPrinterW(handle, 1, buffer.data(), needed, &again));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_LEVEL));
  ClosePrinter(handle);
  EXPECT_FALSE(GetPrinterW(handle, 2, buffer.data(), needed, &again));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
}

TEST_F(SpoolerTest, GetPrinterDriverReportsTheDriverPath) {
  host::AddPrinter(LabelPrinter());
  HANDLE handle = nullptr;
  ASSERT_TRUE(OpenPrinterW(const_cast<LPWSTR>(u"Label Printer"), &handle, nullptr));
  DWORD needed = 0;
  EXPECT_FALSE(GetPrinterDriverW(handle, nullptr, 2, nullptr, 0, &needed));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));
  std::vector<BYTE> buffer(needed);
  ASSERT_TRUE(GetPrinterDriverW(handle, nullptr, 2, buffer.data(), needed, &needed));
  DRIVER_INFO_2W info;
  std::memcpy(&info, buffer.data(), sizeof(info));
  EXPECT_EQ(std::u16string(info.pDriverPath), LabelPrinter().driverPath);
  EXPECT_FALSE(GetPrinterDriverW(handle, nullptr, 3, buffer.data(), needed, &needed));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_LEVEL));
  ClosePrinter(handle);
}

TEST_F(SpoolerTest, SetJobIsRecordedWithItsResult) {
  host::AddPrinter(LabelPrinter());
  HANDLE handle = nullptr;
  ASSERT_TRUE(OpenPrinterW(const_cast<LPWSTR>(u"Label Printer"), &handle, nullptr));
  EXPECT_TRUE(SetJobW(handle, 12, 0, nullptr, JOB_CONTROL_LAST_PAGE_EJECTED));
  host::Printer failing = LabelPrinter();
  failing.setJobSucceeds = false;
  host::AddPrinter(failing);  // an open handle sees the change
  SetLastError(0);
  EXPECT_FALSE(SetJobW(handle, 13, 0, nullptr, JOB_CONTROL_DELETE));
  EXPECT_NE(GetLastError(), static_cast<DWORD>(ERROR_SUCCESS));
  const auto calls = host::SetJobCalls();
  ASSERT_EQ(calls.size(), 2u);
  EXPECT_EQ(calls[0].printerName, u"Label Printer");
  EXPECT_EQ(calls[0].jobId, 12u);
  EXPECT_EQ(calls[0].command, static_cast<DWORD>(JOB_CONTROL_LAST_PAGE_EJECTED));
  EXPECT_TRUE(calls[0].result);
  EXPECT_EQ(calls[1].command, static_cast<DWORD>(JOB_CONTROL_DELETE));
  EXPECT_FALSE(calls[1].result);
  ClosePrinter(handle);
}

TEST_F(SpoolerTest, ResetRemovesPrintersButKeepsOpenHandles) {
  host::AddPrinter(LabelPrinter());
  HANDLE handle = nullptr;
  ASSERT_TRUE(OpenPrinterW(const_cast<LPWSTR>(u"Label Printer"), &handle, nullptr));
  host::Reset();
  EXPECT_EQ(host::OpenPrinterHandles(), 1);
  EXPECT_TRUE(SetJobW(handle, 1, 0, nullptr, JOB_CONTROL_DELETE));
  EXPECT_TRUE(ClosePrinter(handle));
  EXPECT_FALSE(OpenPrinterW(const_cast<LPWSTR>(u"Label Printer"), &handle, nullptr));
  EXPECT_TRUE(DisableThreadLibraryCalls(host::MonitorModule()));
}

TEST_F(ShellTest, CommonAppDataFolder) {
  char16_t path[MAX_PATH];
  EXPECT_FALSE(SHGetSpecialFolderPathW(nullptr, path, CSIDL_COMMON_APPDATA, TRUE));  // unset
  const std::string appData = Path("ProgramData");
  host::SetCommonAppDataFolder(appData);
  EXPECT_FALSE(SHGetSpecialFolderPathW(nullptr, path, CSIDL_COMMON_APPDATA, FALSE));  // missing
  EXPECT_FALSE(std::filesystem::exists(appData));
  ASSERT_TRUE(SHGetSpecialFolderPathW(nullptr, path, CSIDL_COMMON_APPDATA, TRUE));
  EXPECT_TRUE(std::filesystem::is_directory(appData));
  EXPECT_EQ(std::u16string(path), std::u16string(appData.begin(), appData.end()));
  EXPECT_TRUE(SHGetSpecialFolderPathW(nullptr, path, CSIDL_COMMON_APPDATA, FALSE));
  EXPECT_FALSE(SHGetSpecialFolderPathW(nullptr, path, 0x001a /* CSIDL_APPDATA */, TRUE));
}

}  // namespace
