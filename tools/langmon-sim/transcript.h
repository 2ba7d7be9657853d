// The transcript of a run, as a person reads it: spooler calls, the monitor's log, each box with
// its answer, what the printer received, the jobs' ends, the settings files and a summary. On a
// terminal the boxes can be answered with single keys, and the progress dialog and long jobs show
// on a live line.
#pragma once

#include <deque>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "tools/langmon-sim/console.h"
#include "tools/langmon-sim/runner.h"

namespace langmon_sim {

// A message box drawn as text: caption, icon and text, its buttons. `width` counts the frame.
std::vector<std::string> RenderBox(const host::MessageBoxRecord& box, size_t width, bool unicode);
// The key that presses a button: o, c, y, n, r.
char KeyOfButton(int button);
// The button a key presses in a box with these buttons: its letter, its number (1 for the
// first), or Enter for the suggested answer (the first button when there is none among them).
std::optional<int> ButtonForKey(char key, const std::vector<int>& buttons,
                                std::optional<int> suggested);
// The level word and the text of one log line ("VMT_LM_10[INFORM] text\n").
void SplitLogLine(const std::string& line, std::string* level, std::string* text);

struct TranscriptOptions {
  bool verbose = false;               // every WritePort call, not only the first ones of a job
  int logLevel = 3;                   // log lines below this level are left out (3 shows all)
  KeyReader* keys = nullptr;          // set: boxes are answered at the keyboard
  DWORD progressBarFrom = 64 * 1024;  // jobs this long show a progress bar on a terminal
};

class Transcript : public RunListener {
 public:
  Transcript(Console& console, TranscriptOptions options);

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
  struct LogEntry {
    DWORD ms = 0;
    std::string level, text;
    bool SameAs(const LogEntry& other) const { return level == other.level && text == other.text; }
  };

  void Entry(DWORD ms, Style tagStyle, const std::string& tag, const std::string& text);
  void Emit(DWORD ms, Style tagStyle, const std::string& tag, const std::string& text);
  void ShowLog(const LogEntry& entry);
  void FlushRepeats();
  void Heading(const std::string& text);
  void ShowBox(const Question& question);
  std::string Rule() const;
  std::string DialogLine(DWORD ms) const;

  Console& console_;
  TranscriptOptions options_;
  const Scenario* scenario_ = nullptr;
  size_t jobCount_ = 0, jobIndex_ = 0, currentJob_ = 0;
  std::map<const JobPlan*, std::pair<size_t, DWORD>> jobNumbers_;  // number and size of each job
  DWORD jobTotal_ = 0;
  unsigned writesShown_ = 0;
  bool writesElided_ = false;
  unsigned writes_ = 0;
  bool boxShown_ = false;  // the box being answered was drawn by Ask
  // The progress dialog while it is up.
  struct OpenDialog {
    DWORD since = 0;
    std::u16string caption, text;
    bool announced = false;
  };
  std::map<HWND, OpenDialog> dialogs_;
  // Log lines shown last, and a repetition of their last `period_` lines being counted.
  std::deque<LogEntry> recent_;
  size_t period_ = 0, matched_ = 0;
  std::vector<LogEntry> held_;  // matched lines not yet known to be part of a long run
  DWORD lastRepeatMs_ = 0;
};

}  // namespace langmon_sim
