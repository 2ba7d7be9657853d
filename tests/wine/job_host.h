// Whole jobs through the real DLL under Wine: the simulated printer is the port monitor, the
// stand-in spoolss.dll the spooler's service, and the printer's settings folder lies under Wine's
// common application-data folder. Waits are real time.
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "sim/sim_printer.h"
#include "sim/spooler.h"
#include "tests/wine/host.h"
#include "tests/wine/spoolss/control.h"

namespace wine_jobs {

constexpr wchar_t kPrinterName[] = L"Label A";
constexpr wchar_t kPortName[] = L"USB001";

std::u16string U16(const std::wstring& text);

// The common application-data folder as the monitor asks for it (CSIDL 35).
std::wstring CommonAppDataFolder();

class WineJobTest : public testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;

  // SHOW_UI written to the model settings file at set-up: 0 is quiet mode.
  virtual int ShowUi() const { return 0; }

  std::wstring SettingsFolder() const;
  std::wstring PrinterIni() const;
  std::wstring ModelIni() const;

  // A key of section "settings" as text; nothing when the key or the file is missing.
  static std::optional<std::wstring> ReadSetting(const std::wstring& file, const wchar_t* key);
  static void WriteSetting(const std::wstring& file, const wchar_t* key, const std::wstring& value);

  // The job ids of the recorded SetJobW calls with this command, in order.
  static std::vector<DWORD> JobControls(DWORD command);

  sim::JobResult Print(unsigned labels, size_t bytesPerLabel, DWORD jobId);

  LPMONITOREX monitor_ = nullptr;
  std::shared_ptr<sim::SimPrinter> printer_;
  std::unique_ptr<sim::Spooler> spooler_;
  std::vector<BYTE> lastJobData_;
};

// A job whose questions the stand-in spoolss puts in the job owner's session, where `answer`
// takes them: the worst moment of a pre-job check, between its first reads and its last writes.
// Skipped where the stand-in shows no such questions.
class OwnersQuestionJobTest : public WineJobTest {
 protected:
  int ShowUi() const override { return 1; }
  // Last in SetUp: the test is skipped where no hook can be set.
  void AnswerQuestionsWith(StandInPromptHook answer);
  void TearDown() override;

 private:
  StandInSetPromptHookFn setHook_ = nullptr;
};

}  // namespace wine_jobs
