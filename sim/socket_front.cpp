#include "sim/socket_front.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>

#include "printer/commands.h"

namespace sim {

namespace {

struct CommandBytes {
  const BYTE* bytes;
  size_t length;
};
constexpr CommandBytes kCommands[] = {{kCartChangeStartBytes, kCartChangeStartLength},
                                      {kCartChangeEndBytes, kCartChangeEndLength},
                                      {kCartEmptyBytes, kCartEmptyLength},
                                      {kAlignFinishBytes, kAlignFinishLength}};

// The length of the command that starts at `at`, 0 for none; *partial is set when the bytes
// that remain could still become one.
size_t CommandAt(const uint8_t* bytes, size_t count, size_t at, bool* partial) {
  for (const CommandBytes& command : kCommands) {
    const size_t left = count - at;
    const size_t compared = std::min(left, command.length);
    if (std::memcmp(bytes + at, command.bytes, compared) != 0) {
      continue;
    }
    if (compared == command.length) {
      return command.length;
    }
    *partial = true;
  }
  return 0;
}

int64_t NowMs() {
  using namespace std::chrono;
  return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}

bool SendAll(int socket, const uint8_t* bytes, size_t count) {
  while (count > 0) {
    const ssize_t sent = send(socket, bytes, count, MSG_NOSIGNAL);
    if (sent < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    bytes += sent;
    count -= static_cast<size_t>(sent);
  }
  return true;
}

}  // namespace

SocketFront::SocketFront(std::shared_ptr<SimPrinter> printer, SocketFrontOptions options)
    : printer_(std::move(printer)), options_(options), sendsStatus_(options.sendsStatus) {}

SocketFront::~SocketFront() { Stop(); }

bool SocketFront::Start(std::string* error) {
  // Every record it sends is a new one, at the front's own pace.
  printer_->SetRecordPeriod(0);
  listener_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (listener_ < 0 || pipe2(wake_, O_CLOEXEC) != 0) {
    *error = std::string("socket: ") + std::strerror(errno);
    return false;
  }
  const int yes = 1;
  setsockopt(listener_, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof(yes));
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(options_.port);
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (bind(listener_, reinterpret_cast<sockaddr*>(&address), sizeof(address)) != 0 ||
      listen(listener_, 8) != 0) {
    *error = "127.0.0.1:" + std::to_string(options_.port) + ": " + std::strerror(errno);
    return false;
  }
  socklen_t length = sizeof(address);
  getsockname(listener_, reinterpret_cast<sockaddr*>(&address), &length);
  port_ = ntohs(address.sin_port);
  thread_ = std::thread([this] { Serve(); });
  return true;
}

void SocketFront::Stop() {
  if (thread_.joinable()) {
    stop_ = true;
    const char byte = 0;
    (void)!write(wake_[1], &byte, 1);
    thread_.join();
  }
  for (int* fd : {&listener_, &wake_[0], &wake_[1]}) {
    if (*fd >= 0) close(*fd);
    *fd = -1;
  }
}

SocketFrontCounts SocketFront::Counts() {
  std::lock_guard lock(mutex_);
  return counts_;
}

std::vector<uint8_t> SocketFront::Received() {
  std::lock_guard lock(mutex_);
  return received_;
}

void SocketFront::Serve() {
  while (!stop_) {
    pollfd fds[2] = {{listener_, POLLIN, 0}, {wake_[0], POLLIN, 0}};
    if (poll(fds, 2, -1) < 0 && errno != EINTR) return;
    if (stop_) return;
    if ((fds[0].revents & POLLIN) == 0) continue;
    const int connection = accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
    if (connection < 0) continue;
    {
      std::lock_guard lock(mutex_);
      ++counts_.connections;
    }
    connected_ = true;
    ServeConnection(connection);
    connected_ = false;
    close(connection);
  }
}

void SocketFront::ServeConnection(int connection) {
  int64_t nextStatus = NowMs();
  bool hostDone = false;
  uint8_t buffer[16384];
  while (!stop_ && !hostDone) {
    const int64_t now = NowMs();
    if (sendsStatus_ && now >= nextStatus) {
      BYTE record[kStatusRecordSize];
      DWORD count = 0;
      if (printer_->Read(record, kStatusRecordSize, &count) && count > 0) {
        if (!SendAll(connection, record, count)) return;
        std::lock_guard lock(mutex_);
        ++counts_.recordsSent;
      }
      nextStatus = now + options_.statusPeriodMs;
    }
    const int wait = sendsStatus_ ? static_cast<int>(std::max<int64_t>(0, nextStatus - NowMs()))
                                  : static_cast<int>(options_.statusPeriodMs);
    pollfd fds[2] = {{connection, POLLIN, 0}, {wake_[0], POLLIN, 0}};
    if (poll(fds, 2, wait) < 0 && errno != EINTR) return;
    if ((fds[0].revents & (POLLIN | POLLHUP | POLLERR)) == 0) continue;
    const ssize_t got = recv(connection, buffer, sizeof(buffer), 0);
    if (got > 0) {
      Deliver(buffer, static_cast<size_t>(got), false);
    } else if (got == 0 || errno != EINTR) {
      hostDone = true;
    }
  }
  Deliver(nullptr, 0, true);
}

void SocketFront::Deliver(const uint8_t* bytes, size_t count, bool final) {
  std::vector<uint8_t> data;
  {
    std::lock_guard lock(mutex_);
    received_.insert(received_.end(), bytes, bytes + count);
    counts_.bytesReceived += count;
    data.swap(pending_);
  }
  data.insert(data.end(), bytes, bytes + count);

  // Print data up to each command, the command on its own; a tail that may still become a
  // command waits for the next bytes.
  size_t start = 0;
  size_t at = 0;
  DWORD written = 0;
  const auto sendData = [&](size_t end) {
    if (end > start) {
      printer_->Write(data.data() + start, static_cast<DWORD>(end - start), &written);
    }
  };
  while (at < data.size()) {
    if (data[at] != 0x1B) {
      ++at;
      continue;
    }
    bool partial = false;
    const size_t length = CommandAt(data.data(), data.size(), at, &partial);
    if (length > 0) {
      sendData(at);
      printer_->Write(data.data() + at, static_cast<DWORD>(length), &written);
      at += length;
      start = at;
    } else if (partial && !final) {
      break;
    } else {
      ++at;
    }
  }
  sendData(at);
  std::lock_guard lock(mutex_);
  pending_.assign(data.begin() + static_cast<std::ptrdiff_t>(at), data.end());
}

}  // namespace sim
