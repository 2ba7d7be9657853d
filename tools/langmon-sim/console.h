// The terminal side of langmon-sim: lines of transcript with an optional live line under them
// (the progress dialog, the progress bar), colours, and single keys read from the keyboard.
#pragma once

#include <chrono>
#include <cstdio>
#include <mutex>
#include <optional>
#include <string>

namespace langmon_sim {

enum class Style { Plain, Dim, Bold, Spooler, Printer, Question, Good, Warning, Error, Heading };

class Console {
 public:
  // `live` draws the live line (a terminal); `color` paints styles; `unicode` allows box-drawing
  // characters.
  Console(std::FILE* out, bool live, bool color, bool unicode, size_t width);

  // A line of transcript; a live line below it is kept below it.
  void Line(const std::string& text);
  // Replaces the live line; empty removes it. Ignored without a terminal.
  void Live(const std::string& text);
  // The same, at most every few milliseconds, so fast runs are not slowed by drawing.
  void LiveThrottled(const std::string& text);
  // Writes text without a line end (a prompt), the live line cleared first.
  void Prompt(const std::string& text);

  std::string Paint(Style style, const std::string& text) const;
  bool live() const { return live_; }
  bool unicode() const { return unicode_; }
  size_t width() const { return width_; }

 private:
  void ClearLiveLocked();
  void DrawLiveLocked();

  std::mutex mutex_;
  std::FILE* out_;
  bool live_, color_, unicode_;
  size_t width_;
  std::string liveText_;
  bool liveShown_ = false;
  std::chrono::steady_clock::time_point lastDraw_{};
};

// Whether the environment's locale speaks UTF-8.
bool LocaleIsUtf8();
// Columns of the terminal on the descriptor; `fallback` when it is not one.
size_t TerminalWidth(int fd, size_t fallback);

// Reads single key presses from a terminal, without echo or waiting for Enter; the terminal is
// restored afterwards, also on Ctrl-C.
class KeyReader {
 public:
  explicit KeyReader(int fd);
  // The next key, lower-cased; '\n' for Enter; nullopt at end of input.
  std::optional<char> Next();

 private:
  int fd_;
};

}  // namespace langmon_sim
