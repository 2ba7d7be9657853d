#include "tools/langmon-sim/report_page.h"

#include <fstream>

#include "sim/driver_files.h"
#include "tools/langmon-report/page.h"
#include "tools/langmon-sim/text.h"

namespace langmon_sim {

namespace {

langmon_report::Outcome ReportOutcome(JobOutcome outcome) {
  switch (outcome) {
    case JobOutcome::Printed:
      return langmon_report::Outcome::Printed;
    case JobOutcome::Deleted:
      return langmon_report::Outcome::Deleted;
    case JobOutcome::FailedStart:
      return langmon_report::Outcome::FailedStart;
    case JobOutcome::Stopped:
      return langmon_report::Outcome::Stopped;
    case JobOutcome::Waiting:
      return langmon_report::Outcome::Waiting;
  }
  return langmon_report::Outcome::Unknown;
}

}  // namespace

// ---- ReportRecorder ----------------------------------------------------------------------------

langmon_report::When ReportRecorder::At(DWORD ms) const {
  return langmon_report::When{ms, Seconds(ms) + " s", 0};
}

void ReportRecorder::RunStarting(const Scenario& scenario, const RunOptions& options,
                                 const RunReport&) {
  source_ = scenario.file.empty() ? "the built-in scenario" : scenario.file;
  title_ = scenario.title;
  description_ = scenario.description;
  clock_ = options.realTime ? "seconds since the run started"
                            : "seconds since the run started, on its virtual clock (the "
                              "monitor's waits pass at once)";
}

void ReportRecorder::LogLine(DWORD ms, const std::string& line) {
  langmon_report::Record record;
  record.line = ++lines_;
  record.ms = ms;
  record.when = At(ms).text;
  if (langmon_report::SplitLevelPrefix(line, &record.level, &record.text)) {
    reader_.Feed(record);
  } else {
    reader_.Unreadable({record.line, line});
  }
}

void ReportRecorder::Answered(DWORD ms, const Question& question, int answer, AnswerSource,
                              const std::string&) {
  reader_.Box(At(ms), question.box.textId, answer == 0 ? "no answer" : AnswerWord(answer),
              ButtonsOf(question.box.type).size() == 1);
}

void ReportRecorder::PrinterReceived(DWORD ms, const PrinterEvent& event) {
  if (event.kind == PrinterEventKind::AlignmentPrint) {
    const bool black = event.family == 'K';
    reader_.PrinterReceived(At(ms),
                            std::string("alignment print file ") +
                                (black ? sim::kAlignFileBlack : sim::kAlignFileColor) +
                                (black ? " (black), " : " (colour), ") +
                                WithThousands(event.bytes) + " bytes",
                            true);
  } else {
    reader_.PrinterReceived(At(ms), std::string(sim::CommandName(event.command)) + " command",
                            false);
  }
}

void ReportRecorder::JobStarting(const JobPlan& job, DWORD) { reader_.NameNextJob(job.name); }

void ReportRecorder::JobFinished(DWORD, const JobReport& job) {
  reader_.JobEnded(ReportOutcome(job.outcome));
}

void ReportRecorder::RunFinished(const RunReport& run) {
  langmon_report::Report report = reader_.Finish(source_, clock_);
  report.title = title_;
  report.description = description_;
  report.lines = lines_;
  for (const SettingsFile& file : run.settings) {
    report.settings.push_back({file.label, file.path, file.text, file.exists});
  }
  report_ = std::move(report);
}

bool WriteReportPage(const ReportRecorder& recorder, const std::string& path, std::string* error) {
  if (!recorder.report()) {
    *error = "the run did not finish";
    return false;
  }
  std::ofstream out(path, std::ios::binary);
  out << langmon_report::RenderPage(*recorder.report());
  out.close();
  if (!out) *error = "cannot write " + path;
  return static_cast<bool>(out);
}

// ---- BothListeners -----------------------------------------------------------------------------

void BothListeners::RunStarting(const Scenario& scenario, const RunOptions& options,
                                const RunReport& report) {
  first_.RunStarting(scenario, options, report);
  second_.RunStarting(scenario, options, report);
}
void BothListeners::SpoolerCall(DWORD ms, const std::string& call, const std::string& result) {
  first_.SpoolerCall(ms, call, result);
  second_.SpoolerCall(ms, call, result);
}
void BothListeners::WriteCall(DWORD ms, const WriteInfo& write) {
  first_.WriteCall(ms, write);
  second_.WriteCall(ms, write);
}
void BothListeners::SetJob(DWORD ms, const host::SetJobRecord& record) {
  first_.SetJob(ms, record);
  second_.SetJob(ms, record);
}
void BothListeners::LogLine(DWORD ms, const std::string& line) {
  first_.LogLine(ms, line);
  second_.LogLine(ms, line);
}
std::optional<int> BothListeners::Ask(const Question& question) { return first_.Ask(question); }
void BothListeners::Answered(DWORD ms, const Question& question, int answer, AnswerSource source,
                             const std::string& note) {
  first_.Answered(ms, question, answer, source, note);
  second_.Answered(ms, question, answer, source, note);
}
void BothListeners::PrinterReceived(DWORD ms, const PrinterEvent& event) {
  first_.PrinterReceived(ms, event);
  second_.PrinterReceived(ms, event);
}
void BothListeners::DialogChanged(DWORD ms, const host::DialogRecord& dialog) {
  first_.DialogChanged(ms, dialog);
  second_.DialogChanged(ms, dialog);
}
void BothListeners::Tick(DWORD ms) {
  first_.Tick(ms);
  second_.Tick(ms);
}
void BothListeners::JobStarting(const JobPlan& job, DWORD totalBytes) {
  first_.JobStarting(job, totalBytes);
  second_.JobStarting(job, totalBytes);
}
void BothListeners::JobGoesOn(const JobPlan& job) {
  first_.JobGoesOn(job);
  second_.JobGoesOn(job);
}
void BothListeners::Progress(DWORD accepted, DWORD total) {
  first_.Progress(accepted, total);
  second_.Progress(accepted, total);
}
void BothListeners::JobFinished(DWORD ms, const JobReport& job) {
  first_.JobFinished(ms, job);
  second_.JobFinished(ms, job);
}
void BothListeners::RunFinished(const RunReport& report) {
  first_.RunFinished(report);
  second_.RunFinished(report);
}

}  // namespace langmon_sim
