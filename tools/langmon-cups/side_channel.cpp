#include "tools/langmon-cups/side_channel.h"

#include <cups/sidechannel.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

namespace langmon_cups {

namespace {

// How long a request waits for the child's answer.
constexpr int kAnswerTimeoutMs = 30000;

bool ChildAnswer(int childFd, const SideFrame& request, SideFrame* answer) {
  const std::vector<uint8_t> bytes = EncodeSideFrame(request);
  if (send(childFd, bytes.data(), bytes.size(), MSG_NOSIGNAL) !=
      static_cast<ssize_t>(bytes.size())) {
    return false;
  }
  pollfd fd = {childFd, POLLIN, 0};
  if (poll(&fd, 1, kAnswerTimeoutMs) <= 0) return false;
  std::vector<uint8_t> buffer(kSideFrameHeader + kSideFrameMaxData);
  const ssize_t got = recv(childFd, buffer.data(), buffer.size(), 0);
  return got > 0 && DecodeSideFrame(buffer.data(), static_cast<size_t>(got), answer);
}

}  // namespace

std::vector<uint8_t> EncodeSideFrame(const SideFrame& frame) {
  const size_t length = std::min(frame.data.size(), kSideFrameMaxData);
  std::vector<uint8_t> bytes(kSideFrameHeader + length);
  bytes[0] = frame.command;
  bytes[1] = frame.status;
  bytes[2] = static_cast<uint8_t>(length >> 8);
  bytes[3] = static_cast<uint8_t>(length & 0xFF);
  std::copy_n(frame.data.begin(), length, bytes.begin() + kSideFrameHeader);
  return bytes;
}

bool DecodeSideFrame(const uint8_t* bytes, size_t count, SideFrame* frame) {
  if (count < kSideFrameHeader) return false;
  const size_t length = (static_cast<size_t>(bytes[2]) << 8) | bytes[3];
  if (count != kSideFrameHeader + length) return false;
  frame->command = bytes[0];
  frame->status = bytes[1];
  frame->data.assign(reinterpret_cast<const char*>(bytes) + kSideFrameHeader, length);
  return true;
}

void RelaySideChannel(int childFd, int wakeFd) {
  while (true) {
    pollfd fds[2] = {{CUPS_SC_FD, POLLIN, 0}, {wakeFd, POLLIN, 0}};
    if (poll(fds, 2, -1) < 0) {
      if (errno == EINTR) continue;
      return;
    }
    if (fds[1].revents != 0 || (fds[0].revents & (POLLHUP | POLLERR | POLLNVAL)) != 0) return;
    if ((fds[0].revents & POLLIN) == 0) continue;

    cups_sc_command_t command = CUPS_SC_CMD_NONE;
    cups_sc_status_t status = CUPS_SC_STATUS_NONE;
    char data[2048];
    int length = sizeof(data);
    if (cupsSideChannelRead(&command, &status, data, &length, 1.0) != 0) return;

    SideFrame answer;
    answer.command = static_cast<uint8_t>(command);
    if (command == CUPS_SC_CMD_GET_BIDI) {
      answer.status = CUPS_SC_STATUS_OK;
      answer.data.assign(1, static_cast<char>(CUPS_SC_BIDI_NOT_SUPPORTED));
    } else {
      SideFrame request{static_cast<uint8_t>(command), static_cast<uint8_t>(status),
                        std::string(data, data + (length > 0 ? length : 0))};
      if (!ChildAnswer(childFd, request, &answer)) {
        answer = SideFrame{static_cast<uint8_t>(command), CUPS_SC_STATUS_IO_ERROR, ""};
      }
    }
    cupsSideChannelWrite(static_cast<cups_sc_command_t>(answer.command),
                         static_cast<cups_sc_status_t>(answer.status), answer.data.data(),
                         static_cast<int>(answer.data.size()), 1.0);
  }
}

}  // namespace langmon_cups
