// The printer's state for every CUPS client, from what the monitor's questions would have asked
// and from the status the printer sends: STATE: reasons from the IPP registry, a message for a
// person at a print server, and ATTR: marker lines with the ink levels and their marks.
//
// The error log gets one WARNING line when a condition begins (which is also the printer's state
// message), an INFO line when the last one ends; the monitor's own lines go to DEBUG.
#pragma once

#include <set>
#include <string>
#include <vector>

namespace langmon_cups {

// The state reason a question stands for; empty when it stands for none (a notice, a step of
// an alignment).
std::string ReasonOfQuestion(unsigned textId);
// What a person at the print server reads while that question's condition holds: what is wrong
// and what ends the wait. Empty for a notice.
std::string MessageOfQuestion(unsigned textId);

// One ink, as the monitor's bidi answer reports it.
struct Ink {
  std::string name;  // "Yellow", "Magenta", "Cyan", "Black"
  bool installed = false;
  int level = -1;  // per cent of the limit left, -1 unknown
};

// The level at or under which the monitor warns that ink is low.
constexpr int kLowInkMark = 10;

// "ATTR: marker-colors=... marker-high-levels=... marker-levels=... marker-low-levels=...
// marker-names=... marker-types=..."; empty for none.
std::string MarkerLine(const std::vector<Ink>& inks);

// The cartridge as the newest status record shows it.
enum class Cartridge { Unknown, Installed, Missing, Invalid };

class PrinterState {
 public:
  // The reasons the printer shows as the job starts (cupsd's PRINTER_STATE_REASONS): ours among
  // them were left by an earlier job.
  explicit PrinterState(const std::string& reasonsAtStart);

  // The start of a job: what an earlier job left is taken back, but the low-ink warning, which
  // stands until the levels say otherwise, and a printer that did not answer, which stands
  // until it answers.
  void JobStarted();
  // A status record came: the printer answers.
  void PrinterAnswered();
  // A question of the check, by string ID: its condition is shown until the check goes on.
  void Asked(unsigned textId);
  // The check let the job go on: the condition of its question has ended.
  void CheckPassed();
  void Inks(const std::vector<Ink>& inks);
  void CartridgeSeen(Cartridge cartridge);
  // The printer does not answer or dropped the connection: shown with `message`.
  void Offline(const std::string& message);
  // The job's end: the conditions of questions are over (a cancelled job's too, and then the
  // connection's), but the one that stopped the job, which no later status has ended; the
  // cartridge's, the low-ink warning and a printer that does not answer stand as last seen.
  void JobEnded(bool cancelled, bool stoppedByCheck);

  const std::set<std::string>& Shown() const { return shown_; }

 private:
  void Update();

  std::set<std::string> shown_;
  std::string questionReason_, questionMessage_;
  std::string cartridgeReason_;
  std::string offlineMessage_;
  bool lowInk_ = false;
  std::string lastMarkers_;
};

}  // namespace langmon_cups
