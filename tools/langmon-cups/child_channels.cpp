#include "tools/langmon-cups/child_channels.h"

#include <poll.h>
#include <unistd.h>

#include <cerrno>

#include "tools/langmon-cups/status_lines.h"

namespace langmon_cups {

bool PassesThrough(const std::string& line) {
  if (line.rfind("PAGE:", 0) == 0) return false;
  if (line.rfind("ATTR:", 0) == 0 && line.find("marker-") != std::string::npos) return false;
  return true;
}

ChildChannels::ChildChannels(int backChannelFd, int stderrFd, BackChannel* backChannel)
    : backFd_(backChannelFd), errFd_(stderrFd), backChannel_(backChannel) {}

ChildChannels::~ChildChannels() { Join(); }

void ChildChannels::Start() {
  thread_ = std::thread([this] { Pump(); });
}

void ChildChannels::Join() {
  if (thread_.joinable()) thread_.join();
}

void ChildChannels::Pump() {
  bool backOpen = true;
  bool errOpen = true;
  std::string partial;
  uint8_t buffer[8192];
  while (backOpen || errOpen) {
    pollfd fds[2] = {{backOpen ? backFd_ : -1, POLLIN, 0}, {errOpen ? errFd_ : -1, POLLIN, 0}};
    if (poll(fds, 2, -1) < 0) {
      if (errno == EINTR) continue;
      break;
    }
    if (fds[0].revents != 0) {
      const ssize_t got = read(backFd_, buffer, sizeof(buffer));
      if (got > 0) {
        backBytes_ += static_cast<uint64_t>(got);
        backChannel_->Append(buffer, static_cast<size_t>(got));
      } else if (got == 0 || errno != EINTR) {
        backOpen = false;
        backChannel_->Close();
      }
    }
    if (fds[1].revents != 0) {
      const ssize_t got = read(errFd_, buffer, sizeof(buffer));
      if (got > 0) {
        partial.append(reinterpret_cast<const char*>(buffer), static_cast<size_t>(got));
        size_t end;
        while ((end = partial.find('\n')) != std::string::npos) {
          const std::string line = partial.substr(0, end + 1);
          partial.erase(0, end + 1);
          if (PassesThrough(line)) PassLine(line);
        }
      } else if (got == 0 || errno != EINTR) {
        errOpen = false;
      }
    }
  }
  if (!partial.empty() && PassesThrough(partial)) PassLine(partial + "\n");
  backChannel_->Close();
  ended_ = true;
}

}  // namespace langmon_cups
