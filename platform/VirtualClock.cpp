#include "platform/VirtualClock.h"

namespace platform {

uint64_t VirtualWaiter::NowMs() {
  std::lock_guard lock(mutex_);
  return now_;
}

void VirtualWaiter::WaitUntil(std::optional<uint64_t> deadlineMs) {
  std::unique_lock lock(mutex_);
  if (wakePending_) {
    wakePending_ = false;
    return;
  }
  if (deadlineMs) {
    // Nothing else can happen before the deadline on a virtual clock.
    if (*deadlineMs > now_)
      now_ = *deadlineMs;
    return;
  }
  // No deadline: only another (real) thread can bring work.
  woken_.wait(lock, [this] { return wakePending_; });
  wakePending_ = false;
}

void VirtualWaiter::Wake() {
  {
    std::lock_guard lock(mutex_);
    wakePending_ = true;
  }
  woken_.notify_all();
}

void VirtualWaiter::Sleep(uint32_t ms) {
  Jump(ms);
}

void VirtualWaiter::Jump(uint64_t ms) {
  std::lock_guard lock(mutex_);
  now_ += ms;
}

}  // namespace platform
