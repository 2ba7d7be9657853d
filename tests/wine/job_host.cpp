#include "tests/wine/job_host.h"

#include <filesystem>

#include "sim/driver_files.h"

namespace wine_jobs {

namespace {

constexpr wchar_t kSection[] = L"settings";

std::string TempFolderA() {
  char folder[MAX_PATH];
  DWORD length = GetTempPathA(MAX_PATH, folder);
  return std::string(folder, length);
}

std::wstring Widen(const std::u16string& text) { return {text.begin(), text.end()}; }

}  // namespace

std::u16string U16(const std::wstring& text) { return {text.begin(), text.end()}; }

std::wstring CommonAppDataFolder() {
  wchar_t folder[MAX_PATH];
  if (!SHGetSpecialFolderPathW(nullptr, folder, CSIDL_COMMON_APPDATA, TRUE)) {
    return {};
  }
  return folder;
}

void WineJobTest::SetUp() {
  ASSERT_FALSE(CommonAppDataFolder().empty());

  // The printer's installation: its driver folder with the alignment print files, the spooler's
  // record of it, and its settings folder with the model settings file.
  const std::string driverFolder = TempFolderA() + "langmon-driver";
  sim::WriteAlignmentFiles(driverFolder);
  Spooler().Reset();
  ASSERT_TRUE(Spooler().AddPrinter(kPrinterName, kPortName,
                                   Widen(sim::DriverPathIn(driverFolder)).c_str()));

  std::error_code ignored;
  std::filesystem::remove_all(SettingsFolder(), ignored);
  ASSERT_TRUE(std::filesystem::create_directories(SettingsFolder()));
  WriteSetting(ModelIni(), L"SHOW_UI", std::to_wstring(ShowUi()));

  sim::RemovePrinters();
  printer_ = sim::AddPrinter(U16(kPortName));
  // Counters stay where a test puts them, and every record read carries a new number, so that a
  // fresh status costs the reader a single 50 ms pause.
  printer_->SetSpitsPerByte(0, 0, 0);
  printer_->SetRecordPeriod(0);

  wchar_t root[MAX_PATH];
  lstrcpyW(root, kTestRegistryRoot);
  monitor_ = Monitor().InitializePrintMonitor(root);
  ASSERT_NE(monitor_, nullptr);
  spooler_ = std::make_unique<sim::Spooler>(monitor_);
  ASSERT_TRUE(spooler_->OpenPort(U16(kPortName), U16(kPrinterName)));
}

void WineJobTest::TearDown() {
  spooler_.reset();  // closes the port
  sim::RemovePrinters();
  DeleteTestRegistryKey();
}

std::wstring WineJobTest::SettingsFolder() const {
  return CommonAppDataFolder() + L"\\VMT\\Drivers\\" + kPrinterName;
}

std::wstring WineJobTest::PrinterIni() const {
  return SettingsFolder() + L"\\" + kPrinterName + L".ini";
}

std::wstring WineJobTest::ModelIni() const { return SettingsFolder() + L"\\VM_lp250.ini"; }

std::optional<std::wstring> WineJobTest::ReadSetting(const std::wstring& file, const wchar_t* key) {
  constexpr wchar_t kMissing[] = L"<missing>";
  wchar_t value[64];
  GetPrivateProfileStringW(kSection, key, kMissing, value, 64, file.c_str());
  if (lstrcmpW(value, kMissing) == 0) {
    return std::nullopt;
  }
  return value;
}

void WineJobTest::WriteSetting(const std::wstring& file, const wchar_t* key,
                               const std::wstring& value) {
  ASSERT_TRUE(WritePrivateProfileStringW(kSection, key, value.c_str(), file.c_str()));
}

std::vector<DWORD> WineJobTest::JobControls(DWORD command) {
  std::vector<StandInSetJobCall> calls(Spooler().SetJobCalls(nullptr, 0));
  calls.resize(Spooler().SetJobCalls(calls.data(), static_cast<DWORD>(calls.size())));
  std::vector<DWORD> ids;
  for (const StandInSetJobCall& call : calls) {
    EXPECT_EQ(call.level, 0u);
    EXPECT_FALSE(call.jobData);
    EXPECT_STREQ(call.printerName, kPrinterName);
    if (call.command == command) {
      ids.push_back(call.jobId);
    }
  }
  return ids;
}

sim::JobResult WineJobTest::Print(unsigned labels, size_t bytesPerLabel, DWORD jobId) {
  sim::Job job;
  job.printerName = U16(kPrinterName);
  job.jobId = jobId;
  job.data = sim::MakeJobData(labels, bytesPerLabel, jobId);
  lastJobData_ = job.data;
  return spooler_->Print(job);
}

void OwnersQuestionJobTest::AnswerQuestionsWith(StandInPromptHook answer) {
  setHook_ = reinterpret_cast<StandInSetPromptHookFn>(
      reinterpret_cast<void*>(GetProcAddress(Spooler().module, "StandInSetPromptHook")));
  if (!Spooler().offersSessionPrompts || setHook_ == nullptr) {
    setHook_ = nullptr;
    GTEST_SKIP() << "the stand-in spoolss shows no questions in the job owner's session";
  }
  setHook_(answer);
}

void OwnersQuestionJobTest::TearDown() {
  if (setHook_ != nullptr) {
    setHook_(nullptr);
  }
  WineJobTest::TearDown();
}

}  // namespace wine_jobs
