// The printer's state for every CUPS client, from what the monitor's questions would have asked:
// STATE: reasons, the question's own text as the printer's state message, and ATTR: marker
// lines with the ink levels.
#pragma once

#include <set>
#include <string>
#include <vector>

namespace langmon_cups {

// The state reason a question stands for; empty when it stands for none (a notice, a step of
// an alignment).
std::string ReasonOfQuestion(unsigned textId);

// One ink, as the monitor's bidi answer reports it.
struct Ink {
  std::string name;  // "Yellow", "Magenta", "Cyan", "Black"
  bool installed = false;
  int level = -1;  // per cent of the limit left, -1 unknown
};

// "ATTR: marker-colors=... marker-levels=... marker-names=... marker-types=..."; empty for none.
std::string MarkerLine(const std::vector<Ink>& inks);

class PrinterState {
 public:
  // The reasons the printer shows as the job starts (cupsd's PRINTER_STATE_REASONS): ours among
  // them were left by an earlier job.
  explicit PrinterState(const std::string& reasonsAtStart);

  // A question of the check, by string ID and text: its reason is shown, the reasons of
  // questions before it in this job are taken back, and its text becomes the state message.
  void Asked(unsigned textId, const std::string& text);
  // A notice that is not a question (the progress of an alignment): the state message only.
  void Notice(const std::string& text);
  // The check let the job go on: its error reasons are taken back; a low-ink warning stays.
  void CheckPassed();
  // Every reason of ours is taken back (the start of a job, before its check).
  void ClearAll();
  void Inks(const std::vector<Ink>& inks);
  // Shows the open question's text again (another line has just replaced the state message).
  void RepeatMessage();
  // At the job's end, after the inner backend's own messages: the text of the question that
  // stopped the job, or of the low-ink warning that still stands.
  void FinalMessage();

  const std::set<std::string>& Shown() const { return shown_; }

 private:
  void Show(const std::set<std::string>& wanted);

  std::set<std::string> shown_;
  std::string message_;  // the open question's text; empty once the check went on
  std::string warning_;  // the low-ink question's text while its reason is shown
  std::string lastMarkers_;
};

}  // namespace langmon_cups
