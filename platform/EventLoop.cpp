#include "platform/EventLoop.h"

#include <algorithm>
#include <vector>

namespace platform {

EventLoop::EventLoop(std::unique_ptr<Waiter> waiter)
    : waiter_(std::move(waiter)), owner_(std::this_thread::get_id()) {
  waiter_->SetForeignLoopHandler([this] { RunOwnWork(); });
}

EventLoop::~EventLoop() {
  // A thread posting now waits until the link knows the loop is gone.
  std::lock_guard lock(link_->mutex_);
  link_->loop_ = nullptr;
}

bool LoopLink::Post(std::function<void()> task) {
  std::lock_guard lock(mutex_);
  if (!loop_)
    return false;
  loop_->Post(std::move(task));
  return true;
}

void EventLoop::Post(Task task) {
  bool wake;
  {
    std::lock_guard lock(postedMutex_);
    posted_.push_back(std::move(task));
    // One wake-up brings the loop to every task posted before it looks.
    wake = !wokenForPosted_;
    wokenForPosted_ = true;
  }
  if (wake)
    waiter_->Wake();
}

namespace {

// A tick may come early by less than its interval: never twice in one
// millisecond.
uint32_t Tolerance(uint32_t intervalMs, uint32_t toleranceMs) {
  return intervalMs > 0 ? std::min(toleranceMs, intervalMs - 1) : 0;
}

}  // namespace

EventLoop::TimerId EventLoop::SetTimer(uint32_t intervalMs, Task onTick, uint32_t toleranceMs) {
  const TimerId id = nextTimerId_++;
  timers_.emplace(id, Timer{intervalMs, NowMs() + intervalMs, std::move(onTick),
                            Tolerance(intervalMs, toleranceMs)});
  TellWaiterNextDeadline();
  return id;
}

void EventLoop::SetTimerTolerance(TimerId id, uint32_t toleranceMs) {
  if (auto it = timers_.find(id); it != timers_.end())
    it->second.tolerance = Tolerance(it->second.interval, toleranceMs);
}

void EventLoop::SetTimerRestsWhileIdle(TimerId id, bool rests) {
  if (auto it = timers_.find(id); it != timers_.end()) {
    it->second.restsWhileIdle = rests;
    TellWaiterNextDeadline();
  }
}

void EventLoop::KillTimer(TimerId id) {
  timers_.erase(id);
  TellWaiterNextDeadline();
}

void EventLoop::TellWaiterNextDeadline() {
  const std::optional<uint64_t> next = NextTimerDue();
  if (next == toldDeadline_)
    return;
  toldDeadline_ = next;
  waiter_->NextDeadlineChanged(next);
}

bool EventLoop::RunPostedTasks() {
  // Only what was posted before this call runs now, so a task that posts
  // itself again cannot starve timers or the caller.
  size_t count;
  {
    std::lock_guard lock(postedMutex_);
    count = posted_.size();
    wokenForPosted_ = false;
  }
  for (size_t i = 0; i < count; ++i) {
    Task task;
    {
      std::lock_guard lock(postedMutex_);
      if (posted_.empty())
        break;
      task = std::move(posted_.front());
      posted_.pop_front();
    }
    task();
  }
  if (count > 0)
    ++work_;
  return count > 0;
}

void EventLoop::FireDueTimers() {
  const uint64_t now = NowMs();
  std::vector<std::pair<uint64_t, TimerId>> due;
  for (const auto& [id, timer] : timers_) {
    if (timer.interval > 0 && timer.due <= now + timer.tolerance)
      due.emplace_back(timer.due, id);
  }
  std::sort(due.begin(), due.end());
  for (const auto& [when, id] : due) {
    // A handler may kill, restart or re-time any timer, itself included.
    auto it = timers_.find(id);
    if (it == timers_.end() || it->second.due != when || it->second.interval == 0 ||
        it->second.running)
      continue;
    // Early, on time or late: the next is due a full interval from now, so
    // that no two ticks are ever more than an interval apart.
    it->second.due = NowMs() + it->second.interval;
    it->second.running = true;
    Task onTick = it->second.onTick;  // the handler may kill the timer it runs in
    struct Returned {
      std::map<TimerId, Timer>& timers;
      TimerId id;
      ~Returned() {
        if (auto again = timers.find(id); again != timers.end())
          again->second.running = false;
      }
    } returned{timers_, id};
    onTick();
    ++work_;
    if (auto ticked = timers_.find(id); ticked != timers_.end())
      ticked->second.workAtTick = work_;
  }
  TellWaiterNextDeadline();
}

void EventLoop::ProcessMessages() {
  if (waiter_->DispatchNative())
    terminated_ = true;
  RunOwnWork();
}

void EventLoop::RunOwnWork() {
  // Native input may have been handled before: it counts as work.
  ++work_;
  RunPostedTasks();
  FireDueTimers();
}

std::optional<uint64_t> EventLoop::NextTimerDue() const {
  std::optional<uint64_t> next;
  for (const auto& [id, timer] : timers_) {
    // A running timer is due again only once its handler returns.
    if (timer.interval == 0 || timer.running || Resting(timer))
      continue;
    if (!next || timer.due < *next)
      next = timer.due;
  }
  return next;
}

void EventLoop::WaitForWork(std::optional<uint64_t> deadline) {
  {
    std::lock_guard lock(postedMutex_);
    if (!posted_.empty())
      return;
  }
  std::optional<uint64_t> until = NextTimerDue();
  if (deadline && (!until || *deadline < *until))
    until = deadline;
  if (until && *until <= NowMs())
    return;
  waiter_->WaitUntil(until);
}

void EventLoop::Run() {
  RunWhile([] { return true; });
}

void EventLoop::RunWhile(const std::function<bool()>& keepRunning) {
  while (!terminated_ && keepRunning()) {
    ProcessMessages();
    if (terminated_ || !keepRunning())
      break;
    WaitForWork(std::nullopt);
  }
}

void EventLoop::Terminate() {
  terminated_ = true;
  waiter_->Wake();
}

void EventLoop::RunUntil(uint64_t deadlineMs) {
  for (;;) {
    ProcessMessages();
    if (terminated_ || NowMs() >= deadlineMs)
      return;
    WaitForWork(deadlineMs);
  }
}

namespace {
std::unique_ptr<EventLoop>& MainLoopSlot() {
  static std::unique_ptr<EventLoop> loop;
  return loop;
}
}  // namespace

EventLoop& MainLoop() {
  auto& slot = MainLoopSlot();
  if (!slot)
    slot = std::make_unique<EventLoop>(NewNativeWaiter());
  return *slot;
}

std::unique_ptr<EventLoop> ReplaceMainLoop(std::unique_ptr<EventLoop> loop) {
  auto& slot = MainLoopSlot();
  std::swap(slot, loop);
  return loop;
}

}  // namespace platform
