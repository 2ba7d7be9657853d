// langmon-sim --report: the run as langmon-report's HTML page. The run knows more than the log
// file: each box with its answer, what the printer received, the jobs' names and outcomes, and
// the settings files at the end.
#pragma once

#include <optional>
#include <string>

#include "tools/langmon-report/reader.h"
#include "tools/langmon-sim/runner.h"

namespace langmon_sim {

class ReportRecorder : public RunListener {
 public:
  void RunStarting(const Scenario& scenario, const RunOptions& options,
                   const RunReport& report) override;
  void LogLine(DWORD ms, const std::string& line) override;
  void Answered(DWORD ms, const Question& question, int answer, AnswerSource source,
                const std::string& note) override;
  void PrinterReceived(DWORD ms, const PrinterEvent& event) override;
  void JobStarting(const JobPlan& job, DWORD totalBytes) override;
  void JobFinished(DWORD ms, const JobReport& job) override;
  void RunFinished(const RunReport& report) override;

  // The report, once the run has finished.
  const std::optional<langmon_report::Report>& report() const { return report_; }

 private:
  langmon_report::When At(DWORD ms) const;

  langmon_report::Reader reader_{true};
  std::optional<langmon_report::Report> report_;
  std::string source_, title_, description_, clock_;
  size_t lines_ = 0;
};

// Hands every event of a run to two listeners; the first one answers the boxes.
class BothListeners : public RunListener {
 public:
  BothListeners(RunListener& first, RunListener& second) : first_(first), second_(second) {}
  void RunStarting(const Scenario& scenario, const RunOptions& options,
                   const RunReport& report) override;
  void SpoolerCall(DWORD ms, const std::string& call, const std::string& result) override;
  void WriteCall(DWORD ms, const WriteInfo& write) override;
  void SetJob(DWORD ms, const host::SetJobRecord& record) override;
  void LogLine(DWORD ms, const std::string& line) override;
  std::optional<int> Ask(const Question& question) override;
  void Answered(DWORD ms, const Question& question, int answer, AnswerSource source,
                const std::string& note) override;
  void PrinterReceived(DWORD ms, const PrinterEvent& event) override;
  void DialogChanged(DWORD ms, const host::DialogRecord& dialog) override;
  void Tick(DWORD ms) override;
  void JobStarting(const JobPlan& job, DWORD totalBytes) override;
  void JobGoesOn(const JobPlan& job) override;
  void Progress(DWORD accepted, DWORD total) override;
  void JobFinished(DWORD ms, const JobReport& job) override;
  void RunFinished(const RunReport& report) override;

 private:
  RunListener& first_;
  RunListener& second_;
};

// Writes the recorded run's page; false, with `error` set, when it cannot.
bool WriteReportPage(const ReportRecorder& recorder, const std::string& path, std::string* error);

}  // namespace langmon_sim
