// Runs a scenario in this process and reads what it left: the run's own report, the log file as
// langmon-report reads it, and the page langmon-sim --report writes.
#pragma once

#include <filesystem>
#include <string>
#include <vector>

#include "tools/langmon-report/reader.h"
#include "tools/langmon-sim/report_page.h"
#include "tools/langmon-sim/text.h"

namespace langmon_report {

struct ScenarioRun {
  langmon_sim::RunReport run;
  std::string log;  // the log file's bytes
  Report fromLog;   // the log file, as langmon-report reads it
  Report fromRun;   // the run, as langmon-sim --report shows it
  bool readable = false;
};

inline ScenarioRun RunAndRead(const langmon_sim::Scenario& scenario) {
  ScenarioRun result;
  const std::string work = langmon_sim::MakeWorkFolder();
  langmon_sim::ReportRecorder recorder;
  result.run = langmon_sim::RunScenario(scenario, langmon_sim::RunOptions{}, work, recorder);
  result.log = langmon_sim::ReadWholeFile(result.run.logFile);
  std::filesystem::remove_all(work);
  std::string error;
  if (std::optional<Report> report = ReadLog(result.log, "VelmoraLMDrv.dbg", &error)) {
    result.fromLog = std::move(*report);
    result.readable = true;
  }
  if (recorder.report()) result.fromRun = *recorder.report();
  return result;
}

// The IDs of the boxes a job shows, in order, a box asked again in a row as often as it was.
inline std::vector<unsigned> Ids(const Job& job) {
  std::vector<unsigned> ids;
  for (const Question& question : job.questions) {
    if (question.shown) ids.insert(ids.end(), question.times, question.id);
  }
  return ids;
}

// The log's lines, each with its line end.
inline std::vector<std::string> LinesOf(const std::string& text) {
  std::vector<std::string> lines;
  for (size_t at = 0; at < text.size();) {
    const size_t end = text.find('\n', at);
    const size_t next = end == std::string::npos ? text.size() : end + 1;
    lines.push_back(text.substr(at, next - at));
    at = next;
  }
  return lines;
}

}  // namespace langmon_report
