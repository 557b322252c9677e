#include "platform/VirtualClock.h"

#include <chrono>

namespace platform {
namespace {

// A worker that does not pause again within this much real time is stuck;
// the clock then moves on without it.
constexpr auto kSettleBound = std::chrono::seconds(5);

}  // namespace

uint64_t VirtualWaiter::NowMs() {
  std::lock_guard lock(mutex_);
  return now_;
}

void VirtualWaiter::SetCompanion(Companion* companion) {
  std::lock_guard lock(mutex_);
  companion_ = companion;
}

bool VirtualWaiter::AdvanceTo(uint64_t target, bool untilWoken) {
  std::unique_lock lock(mutex_);
  for (;;) {
    Companion* companion = companion_;
    if (!companion) {
      now_ = std::max(now_, target);
      return false;
    }
    // What is due now first, then the clock to the next time anything is due.
    lock.unlock();
    companion->RunDue(now_);
    const std::optional<uint64_t> due = companion->NextDue();
    lock.lock();
    if (untilWoken && wakePending_) {
      wakePending_ = false;
      return true;
    }
    if (now_ >= target)
      return false;
    now_ = due && *due > now_ && *due < target ? *due : target;
  }
}

void VirtualWaiter::WaitUntil(std::optional<uint64_t> deadlineMs) {
  if (deadlineMs) {
    {
      std::lock_guard lock(mutex_);
      if (wakePending_) {
        wakePending_ = false;
        return;
      }
    }
    // Nothing else can happen before the deadline on a virtual clock but
    // the companion's work.
    AdvanceTo(*deadlineMs, true);
    return;
  }
  std::unique_lock lock(mutex_);
  if (wakePending_) {
    wakePending_ = false;
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
  AdvanceTo(NowMs() + ms, false);
}

// ---------------------------------------------------------------- VirtualWorkerClock

VirtualWorkerClock::VirtualWorkerClock(VirtualWaiter& waiter) : waiter_(waiter) {
  waiter_.SetCompanion(this);
}

VirtualWorkerClock::~VirtualWorkerClock() {
  waiter_.SetCompanion(nullptr);
}

void VirtualWorkerClock::Enter() {
  std::lock_guard lock(mutex_);
  ++running_;
}

void VirtualWorkerClock::Leave() {
  std::lock_guard lock(mutex_);
  --running_;
  changed_.notify_all();
}

void VirtualWorkerClock::Pause(uint32_t ms, const std::atomic<bool>& stop) {
  const uint64_t end = waiter_.NowMs() + ms;
  std::unique_lock lock(mutex_);
  const auto entry = pauseEnds_.insert(end);
  --running_;
  changed_.notify_all();
  changed_.wait(lock, [&] { return stop.load() || released_ >= end; });
  pauseEnds_.erase(entry);
  ++running_;
}

void VirtualWorkerClock::Interrupt() {
  { std::lock_guard lock(mutex_); }
  changed_.notify_all();
}

bool VirtualWorkerClock::Settle() {
  std::unique_lock lock(mutex_);
  return changed_.wait_for(lock, kSettleBound, [&] {
    return running_ <= 0 && (pauseEnds_.empty() || *pauseEnds_.begin() > released_);
  });
}

std::optional<uint64_t> VirtualWorkerClock::NextDue() {
  std::lock_guard lock(mutex_);
  if (pauseEnds_.empty())
    return std::nullopt;
  return *pauseEnds_.begin();
}

void VirtualWorkerClock::RunDue(uint64_t now) {
  {
    std::lock_guard lock(mutex_);
    released_ = std::max(released_, now);
  }
  changed_.notify_all();
  // Each woken worker runs its cycle and pauses again (or ends).
  Settle();
}

}  // namespace platform
