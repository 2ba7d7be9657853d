#include "tools/langmon-cups/back_channel.h"

#include <algorithm>
#include <cstring>

namespace langmon_cups {

void BackChannel::Append(const uint8_t* bytes, size_t count) {
  if (count == 0) return;
  {
    std::lock_guard lock(mutex_);
    arrivals_.emplace_back(bytes, bytes + count);
    waiting_ += count;
    while (waiting_ > kMaxKept && arrivals_.size() > 1) {
      waiting_ -= arrivals_.front().size();
      dropped_ += arrivals_.front().size();
      arrivals_.pop_front();
    }
  }
  arrived_.notify_all();
}

void BackChannel::Close() {
  {
    std::lock_guard lock(mutex_);
    closed_ = true;
  }
  arrived_.notify_all();
}

void BackChannel::Cancel() {
  {
    std::lock_guard lock(mutex_);
    cancelled_ = true;
  }
  arrived_.notify_all();
}

size_t BackChannel::Waiting() {
  std::lock_guard lock(mutex_);
  return waiting_;
}

uint64_t BackChannel::Dropped() {
  std::lock_guard lock(mutex_);
  return dropped_;
}

size_t BackChannel::TakeLocked(uint8_t* buffer, size_t size) {
  size_t taken = 0;
  while (taken < size && !arrivals_.empty()) {
    std::vector<uint8_t>& front = arrivals_.front();
    const size_t count = std::min(size - taken, front.size());
    std::memcpy(buffer + taken, front.data(), count);
    taken += count;
    waiting_ -= count;
    if (count == front.size()) {
      arrivals_.pop_front();
    } else {
      front.erase(front.begin(), front.begin() + static_cast<std::ptrdiff_t>(count));
    }
  }
  return taken;
}

size_t BackChannel::Read(uint8_t* buffer, size_t size, unsigned totalMs, unsigned intervalMs) {
  if (size == 0) return 0;
  using Clock = std::chrono::steady_clock;
  const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(totalMs);
  std::unique_lock lock(mutex_);
  arrived_.wait_until(lock, deadline, [&] { return waiting_ > 0 || closed_ || cancelled_; });
  if (waiting_ == 0) return 0;

  // Only what the newest arrivals hold is current.
  while (arrivals_.size() > 1 && waiting_ - arrivals_.front().size() >= size) {
    waiting_ -= arrivals_.front().size();
    dropped_ += arrivals_.front().size();
    arrivals_.pop_front();
  }
  size_t taken = TakeLocked(buffer, size);
  while (taken < size && !closed_ && !cancelled_) {
    const Clock::time_point until =
        std::min(deadline, Clock::now() + std::chrono::milliseconds(intervalMs));
    if (!arrived_.wait_until(lock, until, [&] { return waiting_ > 0 || closed_ || cancelled_; })) {
      break;
    }
    taken += TakeLocked(buffer + taken, size - taken);
  }
  return taken;
}

}  // namespace langmon_cups
