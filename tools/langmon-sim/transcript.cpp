#include "tools/langmon-sim/transcript.h"

#include <algorithm>
#include <cctype>

#include "printer/commands.h"
#include "sim/driver_files.h"
#include "tools/langmon-report/html.h"
#include "tools/langmon-sim/text.h"

namespace langmon_sim {

namespace {

using langmon_report::Plural;

constexpr size_t kTimeWidth = 9;  // "  123.456"
constexpr size_t kTagWidth = 8;
constexpr size_t kIndent = kTimeWidth + 2 + kTagWidth + 1;
constexpr size_t kBoxWidthMax = 72;
constexpr unsigned kWritesShown = 12;  // per job, unless verbose
constexpr size_t kProgressBarWidth = 30;
constexpr size_t kLongestRepeat = 4;  // lines in a repeated group of log lines

std::string PadRight(const std::string& text, size_t width) {
  const size_t shown = DisplayWidth(text);
  return shown >= width ? text : text + std::string(width - shown, ' ');
}

std::string PadLeft(const std::string& text, size_t width) {
  const size_t shown = DisplayWidth(text);
  return shown >= width ? text : std::string(width - shown, ' ') + text;
}

std::string Repeat(const std::string& piece, size_t count) {
  std::string text;
  for (size_t i = 0; i < count; ++i) text += piece;
  return text;
}

const char* IconOf(UINT type) {
  switch (type & MB_ICONMASK) {
    case MB_ICONHAND:
      return "(X) ";
    case MB_ICONQUESTION:
      return "(?) ";
    case MB_ICONEXCLAMATION:
      return "(!) ";
    case MB_ICONINFORMATION:
      return "(i) ";
    default:
      return "";
  }
}

std::string CommandBytes(sim::Command command) {
  const PrinterCommand& bytes =
      command == sim::Command::CartridgeChangeStart ? kCartChangeStartCommand
      : command == sim::Command::CartridgeChangeEnd ? kCartChangeEndCommand
      : command == sim::Command::CartridgeEmpty     ? kCartEmptyCommand
                                                    : kAlignFinishCommand;
  std::string text;
  static const char kHex[] = "0123456789ABCDEF";
  for (DWORD i = 0; i < bytes.cbLength; ++i) {
    if (i) text += ' ';
    text += kHex[bytes.pBytes[i] >> 4];
    text += kHex[bytes.pBytes[i] & 0xF];
  }
  return text;
}

int LevelNumber(const std::string& level) {
  if (level == "TRACE") return 1;
  if (level == "DUMP") return 2;
  if (level == "INFORM") return 3;
  if (level == "WARNING") return 4;
  if (level == "ERROR") return 5;
  if (level == "FATAL") return 6;
  return 3;
}

std::string BoxList(const std::vector<unsigned>& boxes) {
  if (boxes.empty()) return "none";
  std::string text;
  for (unsigned id : boxes) text += (text.empty() ? "" : ", ") + std::to_string(id);
  return text;
}

}  // namespace

std::vector<std::string> RenderBox(const host::MessageBoxRecord& box, size_t width, bool unicode) {
  width = std::max<size_t>(width, 30);
  const std::string h = unicode ? "─" : "-";
  const std::string v = unicode ? "│" : "|";
  const size_t inner = width - 4;  // frame and one space on each side

  std::vector<std::string> lines;
  const std::string caption = " " + Visible(ToUtf8(box.caption)) + " ";
  const std::string id = box.textId != 0 ? " box " + std::to_string(box.textId) + " " : "";
  const size_t used = DisplayWidth(caption) + DisplayWidth(id) + 4;  // two corners, two rules
  lines.push_back((unicode ? "┌" : "+") + h + caption + Repeat(h, width > used ? width - used : 0) +
                  id + h + (unicode ? "┐" : "+"));

  const std::string icon = IconOf(box.type);
  std::string shown;  // each line's control characters made visible, its line breaks kept
  for (const std::string& line : Lines(ToUtf8(box.text))) shown += Visible(line) + "\n";
  const std::vector<std::string> text = Wrap(shown, inner - icon.size());
  for (size_t i = 0; i < text.size(); ++i) {
    const std::string lead = i == 0 ? icon : std::string(icon.size(), ' ');
    lines.push_back(v + " " + PadRight(lead + text[i], inner) + " " + v);
  }
  lines.push_back(v + std::string(width - 2, ' ') + v);
  std::string buttons;
  for (int button : ButtonsOf(box.type)) {
    if (!buttons.empty()) buttons += "   ";
    buttons += std::string("[ ") + AnswerWord(button) + " ]";
  }
  const size_t left = (inner - std::min(inner, DisplayWidth(buttons))) / 2;
  lines.push_back(v + " " + PadRight(std::string(left, ' ') + buttons, inner) + " " + v);
  lines.push_back((unicode ? "└" : "+") + Repeat(h, width - 2) + (unicode ? "┘" : "+"));
  return lines;
}

char KeyOfButton(int button) {
  switch (button) {
    case IDOK:
      return 'o';
    case IDCANCEL:
      return 'c';
    case IDYES:
      return 'y';
    case IDNO:
      return 'n';
    case IDRETRY:
      return 'r';
    default:
      return '?';
  }
}

std::optional<int> ButtonForKey(char key, const std::vector<int>& buttons,
                                std::optional<int> suggested) {
  if (buttons.empty()) return std::nullopt;
  if (key == '\n') {
    if (suggested && std::find(buttons.begin(), buttons.end(), *suggested) != buttons.end()) {
      return *suggested;
    }
    return buttons.front();
  }
  if (key >= '1' && key <= '9' && static_cast<size_t>(key - '1') < buttons.size()) {
    return buttons[static_cast<size_t>(key - '1')];
  }
  for (int button : buttons) {
    if (KeyOfButton(button) == key) return button;
  }
  return std::nullopt;
}

void SplitLogLine(const std::string& line, std::string* level, std::string* text) {
  std::string body = line;
  while (!body.empty() && (body.back() == '\n' || body.back() == '\r')) body.pop_back();
  const std::string prefix = "VMT_LM_10[";
  const size_t close = body.find("] ");
  if (body.rfind(prefix, 0) == 0 && close != std::string::npos) {
    std::string word = body.substr(prefix.size(), close - prefix.size());
    word.erase(std::remove(word.begin(), word.end(), '*'), word.end());
    word.erase(std::remove(word.begin(), word.end(), ' '), word.end());
    *level = Visible(word);
    *text = Visible(body.substr(close + 2));
  } else {
    *level = "";
    *text = Visible(body);
  }
}

// ---- Transcript --------------------------------------------------------------------------------

Transcript::Transcript(Console& console, TranscriptOptions options)
    : console_(console), options_(options) {}

std::string Transcript::Rule() const {
  return Repeat(console_.unicode() ? "─" : "-", std::min<size_t>(console_.width(), 100) - 1);
}

void Transcript::Entry(DWORD ms, Style tagStyle, const std::string& tag, const std::string& text) {
  FlushRepeats();
  Emit(ms, tagStyle, tag, text);
}

void Transcript::Emit(DWORD ms, Style tagStyle, const std::string& tag, const std::string& text) {
  console_.Line(console_.Paint(Style::Dim, PadLeft(Seconds(ms), kTimeWidth)) + "  " +
                console_.Paint(tagStyle, PadRight(tag, kTagWidth)) + " " + text);
}

void Transcript::Heading(const std::string& text) {
  FlushRepeats();
  console_.Line("");
  const std::string lead = console_.unicode() ? "── " : "-- ";
  const size_t room = std::min<size_t>(console_.width(), 100) - 1;
  const size_t used = DisplayWidth(lead) + DisplayWidth(text) + 1;
  console_.Line(console_.Paint(
      Style::Heading,
      lead + text + " " + Repeat(console_.unicode() ? "─" : "-", room > used ? room - used : 2)));
}

void Transcript::RunStarting(const Scenario& scenario, const RunOptions& options,
                             const RunReport& report) {
  scenario_ = &scenario;
  jobCount_ = scenario.jobs.size();
  console_.Line(console_.Paint(
      Style::Bold,
      "langmon-sim: " + Visible(scenario.title.empty() ? scenario.file : scenario.title)));
  if (!scenario.description.empty()) {
    for (const std::string& line :
         Wrap(Visible(scenario.description), std::min<size_t>(console_.width(), 100) - 3)) {
      console_.Line("  " + line);
    }
  }
  console_.Line("");
  std::string clock = options.realTime ? "real time" : "virtual time (waits pass at once)";
  std::string answers = options_.keys != nullptr ? "you answer the boxes at the keyboard"
                        : options.answers        ? "answers from --answers"
                        : options.answerAll      ? "every box answered from --answer-all"
                                                 : "answers from the scenario";
  console_.Line(console_.Paint(Style::Dim, "  printer \"" + Visible(scenario.printer.name) +
                                               "\" on port " + Visible(scenario.printer.port) +
                                               (scenario.quiet ? " (quiet)" : "") + "; " + clock +
                                               "; " + answers));
  if (scenario.secondPrinter) {
    const PrinterPlan& second = scenario.secondPrinter->printer;
    console_.Line(console_.Paint(Style::Dim, "  printer \"" + Visible(second.name) + "\" on port " +
                                                 Visible(second.port) +
                                                 (scenario.secondPrinter->quiet ? " (quiet)" : "") +
                                                 ", on the same spooler"));
  }
  if (scenario.session) {
    const SessionPlan& session = *scenario.session;
    const char* owner = session.jobsFromSessionZero ? "jobs come from session 0: nobody to ask"
                        : session.owner == SessionPlan::Owner::Away
                            ? "the job's owner is away and does not answer"
                        : session.owner == SessionPlan::Owner::LoggedOff
                            ? "the job's owner has logged off"
                            : "the job's owner answers in their own session";
    console_.Line(console_.Paint(
        Style::Dim, std::string("  the spooler runs ") +
                        (session.service ? "as a service in session 0" : "in a user's session") +
                        "; " + owner));
  }
  console_.Line(console_.Paint(Style::Dim, "  files in " + Visible(report.workFolder)));
  console_.Line("");
}

void Transcript::SpoolerCall(DWORD ms, const std::string& call, const std::string& result) {
  Entry(ms, Style::Spooler, "spooler",
        Visible(call) + (console_.unicode() ? " → " : " -> ") + Visible(result));
}

void Transcript::WriteCall(DWORD ms, const WriteInfo& write) {
  ++writes_;
  const bool failed = !write.ok;
  if (!options_.verbose && !failed && writesShown_ >= kWritesShown) {
    if (!writesElided_) {
      Entry(ms, Style::Spooler, "spooler",
            console_.Paint(Style::Dim,
                           "... further writes are counted at the end of the job "
                           "(--verbose shows each)"));
      writesElided_ = true;
    }
    return;
  }
  ++writesShown_;
  std::string text = "WritePort(" + Plural(write.offered, "byte", "bytes") +
                     (write.startsWithHeader ? " from a job header" : "") + ")" +
                     (console_.unicode() ? " → " : " -> ");
  if (failed) {
    text += console_.Paint(Style::Error, "FALSE, last error " + std::to_string(write.error));
  } else {
    text += "TRUE, " + WithThousands(write.written) + " written";
    if (write.written < write.offered) {
      text += write.restStartsWithHeader ? ", cut before the next job header"
                                         : ", the rest is offered again";
    }
  }
  Entry(ms, Style::Spooler, "spooler", text);
}

void Transcript::SetJob(DWORD ms, const host::SetJobRecord& record) {
  std::string command = record.command == JOB_CONTROL_DELETE ? "JOB_CONTROL_DELETE"
                        : record.command == JOB_CONTROL_LAST_PAGE_EJECTED
                            ? "JOB_CONTROL_LAST_PAGE_EJECTED"
                            : std::to_string(record.command);
  const std::string meaning = record.command == JOB_CONTROL_DELETE ? "the job is deleted"
                              : record.command == JOB_CONTROL_LAST_PAGE_EJECTED
                                  ? "the job's last page is out"
                                  : "";
  Entry(ms, record.command == JOB_CONTROL_DELETE ? Style::Warning : Style::Spooler, "spooler",
        "the monitor calls SetJobW(job " + std::to_string(record.jobId) + ", " + command + ")" +
            (console_.unicode() ? " → " : " -> ") + (record.result ? "TRUE" : "FALSE") +
            (meaning.empty() ? "" : ": " + meaning));
}

void Transcript::LogLine(DWORD ms, const std::string& line) {
  LogEntry entry;
  entry.ms = ms;
  SplitLogLine(line, &entry.level, &entry.text);
  if (LevelNumber(entry.level) < options_.logLevel) return;

  // A status wait logs the same few lines every few milliseconds: runs of a repeated group are
  // shown once, with a count.
  if (period_ > 0) {
    const LogEntry& expected = recent_[recent_.size() - period_ + matched_ % period_];
    if (expected.SameAs(entry)) {
      ++matched_;
      held_.push_back(entry);
      if (matched_ % period_ == 0) {
        lastRepeatMs_ = ms;
        if (matched_ >= 2 * period_) held_.clear();
      }
      return;
    }
    FlushRepeats();
  }
  for (size_t period = 1; period <= std::min(kLongestRepeat, recent_.size()); ++period) {
    if (recent_[recent_.size() - period].SameAs(entry)) {
      period_ = period;
      matched_ = 1;
      held_ = {entry};
      if (period == 1) lastRepeatMs_ = ms;
      return;
    }
  }
  ShowLog(entry);
}

void Transcript::ShowLog(const LogEntry& entry) {
  const int number = LevelNumber(entry.level);
  const Style style = number >= 5 ? Style::Error : number == 4 ? Style::Warning : Style::Plain;
  Emit(entry.ms, Style::Dim, "log", console_.Paint(style, PadRight(entry.level, 8) + entry.text));
  recent_.push_back(entry);
  if (recent_.size() > kLongestRepeat) recent_.pop_front();
}

void Transcript::FlushRepeats() {
  if (period_ == 0) return;
  const size_t period = period_;
  const size_t cycles = matched_ / period;
  std::vector<LogEntry> held;
  held.swap(held_);
  period_ = 0;
  matched_ = 0;
  if (cycles >= 2) {
    const std::string what =
        period == 1 ? "the line above" : "the " + std::to_string(period) + " lines above";
    Emit(lastRepeatMs_, Style::Dim, "log",
         console_.Paint(Style::Dim, std::string(console_.unicode() ? "··· " : "... ") + what +
                                        " repeated " + Plural(cycles, "time", "times") +
                                        ", the last at " + Seconds(lastRepeatMs_)));
  }
  for (const LogEntry& entry : held) ShowLog(entry);
}

void Transcript::ShowBox(const Question& question) {
  FlushRepeats();
  const size_t width = std::min(
      kBoxWidthMax, console_.width() > kIndent + 2 ? console_.width() - kIndent - 1 : kBoxWidthMax);
  for (const std::string& line : RenderBox(question.box, width, console_.unicode())) {
    console_.Line(std::string(kIndent, ' ') + console_.Paint(Style::Question, line));
  }
}

std::optional<int> Transcript::Ask(const Question& question) {
  if (options_.keys == nullptr) return std::nullopt;
  ShowBox(question);
  boxShown_ = true;
  const std::vector<int> buttons = ButtonsOf(question.box.type);
  std::string keys;
  for (int button : buttons) {
    keys += (keys.empty() ? "" : ", ") +
            std::string(1, static_cast<char>(std::toupper(KeyOfButton(button)))) + " " +
            AnswerWord(button);
  }
  const int enter = *ButtonForKey('\n', buttons, question.suggested);
  std::string prompt =
      std::string(kIndent, ' ') + "press " + keys + "; Enter: " + AnswerWord(enter);
  if (question.suggested && *question.suggested == enter) prompt += " (the scenario's answer)";
  console_.Prompt(console_.Paint(Style::Bold, prompt + " "));
  for (;;) {
    const std::optional<char> key = options_.keys->Next();
    if (!key) {  // end of input: nobody is there to click
      console_.Line("");
      return 0;
    }
    if (const std::optional<int> button = ButtonForKey(*key, buttons, question.suggested)) {
      console_.Line(AnswerWord(*button));
      return *button;
    }
  }
}

void Transcript::Answered(DWORD ms, const Question& question, int answer, AnswerSource source,
                          const std::string& note) {
  if (!boxShown_) ShowBox(question);
  boxShown_ = false;
  std::string text = console_.Paint(
      Style::Bold, answer == 0 ? std::string("no answer (0)") : std::string(AnswerWord(answer)));
  text += " " + console_.Paint(Style::Dim, std::string("(") + AnswerSourceName(source) + ")");
  // Where sessions are simulated, every box says which way it went.
  if (scenario_ != nullptr && scenario_->session && source != AnswerSource::Owner) {
    text +=
        " " + console_.Paint(Style::Dim, question.box.ownersSession ? "in the job owner's session"
                                                                    : "on the spooler's desktop");
  }
  if (!note.empty()) text += ": " + console_.Paint(Style::Warning, Visible(note));
  Entry(ms, Style::Question, "answer", text);
}

void Transcript::PrinterReceived(DWORD ms, const PrinterEvent& event) {
  if (event.kind == PrinterEventKind::AlignmentPrint) {
    const bool black = event.family == 'K';
    Entry(ms, Style::Printer, "printer",
          std::string("received the print file ") +
              (black ? sim::kAlignFileBlack : sim::kAlignFileColor) + ": " +
              (black ? "black" : "colour") + " alignment print, " +
              Plural(event.bytes, "byte", "bytes"));
  } else {
    Entry(ms, Style::Printer, "printer",
          std::string("received the command: ") + sim::CommandName(event.command) + " (" +
              CommandBytes(event.command) + ")");
  }
}

std::string Transcript::DialogLine(DWORD ms) const {
  std::string line;
  for (const auto& [window, dialog] : dialogs_) {
    line += std::string(console_.unicode() ? "  ▣ " : "  [] ") + "dialog \"" +
            Visible(ToUtf8(dialog.caption)) + "\": " + Visible(ToUtf8(dialog.text)) + "  " +
            Seconds(ms - dialog.since) + " s";
  }
  return line;
}

void Transcript::DialogChanged(DWORD ms, const host::DialogRecord& record) {
  auto found = dialogs_.find(record.window);
  if (record.alive) {
    if (found == dialogs_.end()) {
      found = dialogs_.emplace(record.window, OpenDialog{ms, {}, {}, false}).first;
    }
    OpenDialog& dialog = found->second;
    dialog.caption = record.caption;
    dialog.text = record.controlText;
    if (!dialog.announced && record.visible && !record.controlText.empty()) {
      dialog.announced = true;
      Entry(ms, Style::Question, "dialog",
            "\"" + Visible(ToUtf8(dialog.caption)) + "\" is up: " + Visible(ToUtf8(dialog.text)));
    }
    console_.Live(DialogLine(ms));
    return;
  }
  if (found == dialogs_.end()) return;
  const OpenDialog dialog = found->second;
  dialogs_.erase(found);
  Entry(ms, Style::Question, "dialog",
        "\"" + Visible(ToUtf8(dialog.caption)) + "\" closed after " + Seconds(ms - dialog.since) +
            " s" +
            (dialog.announced ? "" : " (it said: " + Visible(ToUtf8(record.controlText)) + ")"));
  console_.Live(DialogLine(ms));
}

void Transcript::Tick(DWORD ms) {
  if (!dialogs_.empty()) console_.LiveThrottled(DialogLine(ms));
}

void Transcript::JobStarting(const JobPlan& job, DWORD totalBytes) {
  ++jobIndex_;
  currentJob_ = jobIndex_;
  jobNumbers_[&job] = {jobIndex_, totalBytes};
  jobTotal_ = totalBytes;
  writesShown_ = 0;
  writes_ = 0;
  writesElided_ = false;
  std::string what = job.file.empty() ? Plural(job.labels, "label", "labels") + " of " +
                                            Plural(job.bytesPerLabel, "byte", "bytes")
                                      : "the file " + Visible(job.file);
  const std::string printer =
      scenario_ != nullptr && scenario_->secondPrinter
          ? " to \"" + Visible(job.printer.empty() ? scenario_->printer.name : job.printer) + "\""
          : "";
  Heading("Job " + std::to_string(jobIndex_) + " of " + std::to_string(jobCount_) + ": \"" +
          Visible(job.name) + "\"" + printer + ", " + what + ", " +
          Plural(totalBytes, "byte", "bytes"));
}

void Transcript::JobGoesOn(const JobPlan& job) {
  const auto [number, total] = jobNumbers_[&job];
  currentJob_ = number;
  jobTotal_ = total;
  Heading("Job " + std::to_string(number) + " of " + std::to_string(jobCount_) + ": \"" +
          Visible(job.name) + "\" goes on");
}

void Transcript::Progress(DWORD accepted, DWORD total) {
  if (!console_.live() || total < options_.progressBarFrom || total == 0) return;
  const size_t filled =
      static_cast<size_t>(static_cast<uint64_t>(accepted) * kProgressBarWidth / total);
  const std::string full = console_.unicode() ? "█" : "#";
  const std::string empty = console_.unicode() ? "░" : ".";
  const unsigned percent = static_cast<unsigned>(static_cast<uint64_t>(accepted) * 100 / total);
  console_.LiveThrottled("  job " + std::to_string(currentJob_) + "  " + Repeat(full, filled) +
                         Repeat(empty, kProgressBarWidth - filled) + "  " +
                         std::to_string(percent) + "%  " + WithThousands(accepted) + " of " +
                         WithThousands(total) + " bytes forwarded");
}

void Transcript::JobFinished(DWORD ms, const JobReport& job) {
  console_.Live("");
  const std::string of =
      WithThousands(job.bytesReceived) + " of " + Plural(job.totalBytes, "byte", "bytes");
  std::string text;
  Style style = Style::Good;
  switch (job.outcome) {
    case JobOutcome::Printed:
      text = "printed: " + of + " reached the printer";
      break;
    case JobOutcome::Deleted:
      text = "deleted by the monitor: " + of + " reached the printer";
      style = Style::Warning;
      break;
    case JobOutcome::FailedStart:
      text = "did not start: StartDocPort failed";
      style = Style::Warning;
      break;
    case JobOutcome::Stopped:
      text = "stopped: a write was refused after " + of;
      style = Style::Warning;
      break;
    case JobOutcome::Waiting:
      text = "still waiting for the printer when the run's time ran out, after " + of;
      style = Style::Warning;
      break;
  }
  text += "; " + Plural(writes_, "write", "writes") + ", boxes: " + BoxList(job.boxes) +
          ", PrintCounter " + std::to_string(job.printCounter);
  const auto number = jobNumbers_.find(job.plan);
  const size_t shown = number != jobNumbers_.end() ? number->second.first : jobIndex_;
  Entry(ms, style, "job", console_.Paint(style, "Job " + std::to_string(shown) + " " + text));
  if (job.plan != nullptr && !job.plan->expect.Empty()) {
    if (job.mismatches.empty()) {
      Entry(ms, Style::Good, "expect",
            console_.Paint(Style::Good, std::string(console_.unicode() ? "✓ " : "ok: ") +
                                            "ended as the scenario expects"));
    }
    for (const std::string& mismatch : job.mismatches) {
      Entry(ms, Style::Error, "expect",
            console_.Paint(Style::Error,
                           std::string(console_.unicode() ? "✗ " : "FAIL: ") + Visible(mismatch)));
    }
  }
}

void Transcript::RunFinished(const RunReport& report) {
  console_.Live("");
  Heading("Settings files");
  for (const SettingsFile& file : report.settings) {
    console_.Line(console_.Paint(Style::Bold, "  " + Visible(file.label) + ": ") +
                  Visible(file.path));
    if (!file.exists) {
      console_.Line(console_.Paint(Style::Dim, "    (no such file)"));
      continue;
    }
    for (const std::string& line : Lines(file.text)) console_.Line("    " + Visible(line));
  }

  Heading("Summary");
  const bool unicode = console_.unicode();
  for (size_t i = 0; i < report.jobs.size(); ++i) {
    const JobReport& job = report.jobs[i];
    std::string mark =
        job.plan != nullptr && !job.plan->expect.Empty()
            ? (job.mismatches.empty()
                   ? console_.Paint(Style::Good, unicode ? "✓ as expected" : "ok, as expected")
                   : console_.Paint(Style::Error,
                                    unicode ? "✗ not as expected" : "FAIL, not as expected"))
            : "";
    console_.Line("  Job " + std::to_string(i + 1) + " " +
                  PadRight("\"" + Visible(job.plan != nullptr ? job.plan->name : "") + "\"", 36) +
                  " " + PadRight(JobOutcomeName(job.outcome), 13) + mark);
  }
  for (const std::string& mismatch : report.mismatches) {
    console_.Line(console_.Paint(Style::Error,
                                 std::string(unicode ? "  ✗ " : "  FAIL: ") + Visible(mismatch)));
  }
  console_.Line(report.boxes.empty() ? std::string("  no box was shown")
                                     : "  " + Plural(report.boxes.size(), "box", "boxes") +
                                           " shown: " + BoxList(report.boxes));
  if (report.questionsNotShown > 0) {
    console_.Line("  " + Plural(report.questionsNotShown, "question", "questions") +
                  " the spooler could not show in the job owner's session (answered 0)");
  }
  if (report.userDeviations > 0) {
    console_.Line(console_.Paint(
        Style::Warning, "  you answered " + Plural(report.userDeviations, "box", "boxes") +
                            " differently from the scenario; its expectations assume its own "
                            "answers"));
  }
  console_.Line("  time: " + Seconds(report.elapsedMs) + " s on the run's clock, " +
                std::to_string(static_cast<int>(report.realSeconds * 1000 + 0.5)) + " ms real");
  console_.Line("  files kept in " + Visible(report.workFolder));
  console_.Line("  log file: " + Visible(report.logFile));
  std::string verdict;
  if (!report.Ok()) {
    verdict = console_.Paint(Style::Error, "  result: not as the scenario expects (exit status 1)");
  } else if (report.expectationsStated) {
    verdict = console_.Paint(Style::Good,
                             "  result: every job ended as the scenario expects (exit status 0)");
  } else {
    verdict = "  result: the scenario states no expectations (exit status 0)";
  }
  console_.Line(verdict);
}

}  // namespace langmon_sim
