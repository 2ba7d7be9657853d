#include "tools/langmon-sim/console.h"

#include <signal.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>
#include <csignal>

#include <cctype>
#include <cstdlib>
#include <cstring>
#include <string_view>

#include "tools/langmon-sim/text.h"

namespace langmon_sim {

namespace {

constexpr auto kLiveRedrawPause = std::chrono::milliseconds(40);

const char* StyleCode(Style style) {
  switch (style) {
    case Style::Dim:
      return "\033[2m";
    case Style::Bold:
      return "\033[1m";
    case Style::Spooler:
      return "\033[36m";
    case Style::Printer:
      return "\033[35m";
    case Style::Question:
      return "\033[1;34m";
    case Style::Good:
      return "\033[32m";
    case Style::Warning:
      return "\033[33m";
    case Style::Error:
      return "\033[1;31m";
    case Style::Heading:
      return "\033[1m";
    case Style::Plain:
      return "";
  }
  return "";
}

constexpr char kResetCode[] = "\033[0m";

// The length of the colour code Paint writes that starts at `at`, or 0 when none does.
size_t PaintCodeAt(const std::string& text, size_t at) {
  if (text.compare(at, sizeof(kResetCode) - 1, kResetCode) == 0) return sizeof(kResetCode) - 1;
  for (Style style : {Style::Dim, Style::Bold, Style::Spooler, Style::Printer, Style::Question,
                      Style::Good, Style::Warning, Style::Error, Style::Heading}) {
    const std::string_view code = StyleCode(style);
    if (text.compare(at, code.size(), code) == 0) return code.size();
  }
  return 0;
}

// What reaches the terminal: Paint's colour codes, and around them text whose control
// characters are made visible. Text from a scenario or a log is made visible where it enters the
// transcript; this holds for anything that comes another way.
std::string ForTerminal(const std::string& text) {
  std::string shown;
  size_t from = 0;
  for (size_t at = text.find('\033'); at != std::string::npos; at = text.find('\033', at)) {
    const size_t code = PaintCodeAt(text, at);
    if (code == 0) {
      ++at;
      continue;
    }
    shown += Visible(std::string_view(text).substr(from, at - from));
    shown.append(text, at, code);
    at += code;
    from = at;
  }
  return shown + Visible(std::string_view(text).substr(from));
}

// Cuts a text to `width` shown characters.
std::string Fit(const std::string& text, size_t width) {
  std::string fitted;
  size_t shown = 0;
  for (char c : text) {
    const bool continuation = (static_cast<unsigned char>(c) & 0xC0) == 0x80;
    if (!continuation && shown == width) break;
    if (!continuation) ++shown;
    fitted.push_back(c);
  }
  return fitted;
}

// The terminal as it was before keys were read one by one, restored on exit and on Ctrl-C.
struct termios gSavedTerminal;
bool gTerminalSaved = false;

void RestoreTerminal() {
  if (gTerminalSaved) tcsetattr(STDIN_FILENO, TCSANOW, &gSavedTerminal);
}

void OnInterrupt(int signal) {
  RestoreTerminal();
  std::signal(signal, SIG_DFL);
  raise(signal);
}

}  // namespace

Console::Console(std::FILE* out, bool live, bool color, bool unicode, size_t width)
    : out_(out), live_(live), color_(color), unicode_(unicode), width_(width) {}

void Console::ClearLiveLocked() {
  if (liveShown_) {
    std::fputs("\r\033[K", out_);
    liveShown_ = false;
  }
}

void Console::DrawLiveLocked() {
  if (!live_ || liveText_.empty()) return;
  std::fputs(Fit(liveText_, width_ > 1 ? width_ - 1 : width_).c_str(), out_);
  liveShown_ = true;
  lastDraw_ = std::chrono::steady_clock::now();
}

void Console::Line(const std::string& text) {
  const std::string shown = ForTerminal(text);
  std::lock_guard lock(mutex_);
  ClearLiveLocked();
  std::fputs(shown.c_str(), out_);
  std::fputc('\n', out_);
  DrawLiveLocked();
  std::fflush(out_);
}

void Console::Live(const std::string& text) {
  if (!live_) return;
  std::lock_guard lock(mutex_);
  ClearLiveLocked();
  liveText_ = ForTerminal(text);
  DrawLiveLocked();
  std::fflush(out_);
}

void Console::LiveThrottled(const std::string& text) {
  if (!live_) return;
  {
    std::lock_guard lock(mutex_);
    if (liveShown_ && std::chrono::steady_clock::now() - lastDraw_ < kLiveRedrawPause) {
      liveText_ = ForTerminal(text);
      return;
    }
  }
  Live(text);
}

void Console::Prompt(const std::string& text) {
  const std::string shown = ForTerminal(text);
  std::lock_guard lock(mutex_);
  ClearLiveLocked();
  std::fputs(shown.c_str(), out_);
  std::fflush(out_);
}

std::string Console::Paint(Style style, const std::string& text) const {
  if (!color_ || style == Style::Plain || text.empty()) return text;
  return std::string(StyleCode(style)) + text + kResetCode;
}

bool LocaleIsUtf8() {
  for (const char* name : {"LC_ALL", "LC_CTYPE", "LANG"}) {
    const char* value = std::getenv(name);
    if (value != nullptr && *value != '\0') {
      std::string text(value);
      for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
      return text.find("utf-8") != std::string::npos || text.find("utf8") != std::string::npos;
    }
  }
  return false;
}

size_t TerminalWidth(int fd, size_t fallback) {
  struct winsize size {};
  if (isatty(fd) && ioctl(fd, TIOCGWINSZ, &size) == 0 && size.ws_col >= 40) return size.ws_col;
  if (const char* columns = std::getenv("COLUMNS")) {
    const long value = std::strtol(columns, nullptr, 10);
    if (value >= 40 && value <= 1000) return static_cast<size_t>(value);
  }
  return fallback;
}

KeyReader::KeyReader(int fd) : fd_(fd) {}

std::optional<char> KeyReader::Next() {
  struct termios saved {};
  const bool terminal = isatty(fd_) && tcgetattr(fd_, &saved) == 0;
  if (terminal) {
    gSavedTerminal = saved;
    gTerminalSaved = true;
    std::signal(SIGINT, OnInterrupt);
    std::signal(SIGTERM, OnInterrupt);
    struct termios raw = saved;
    raw.c_lflag &= static_cast<tcflag_t>(~(ICANON | ECHO));
    raw.c_cc[VMIN] = 1;
    raw.c_cc[VTIME] = 0;
    tcsetattr(fd_, TCSANOW, &raw);
  }
  char key = 0;
  const ssize_t count = read(fd_, &key, 1);
  if (terminal) {
    tcsetattr(fd_, TCSANOW, &saved);
    gTerminalSaved = false;
    std::signal(SIGINT, SIG_DFL);
    std::signal(SIGTERM, SIG_DFL);
  }
  if (count != 1) return std::nullopt;
  if (key == '\r') key = '\n';
  return static_cast<char>(std::tolower(static_cast<unsigned char>(key)));
}

}  // namespace langmon_sim
