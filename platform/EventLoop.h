// The application's event loop: functions posted from any thread (FIFO),
// timers with the class library's semantics, nested waits that keep handling
// messages, and Run/Terminate. The platform supplies only the Waiter.
#pragma once

#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <thread>

#include "platform/Waiter.h"

namespace platform {

class EventLoop;

// A way to a loop for a thread that may outlive it (one blocked in a system
// call nobody can cut short): while the loop lives, a task handed over is
// posted to it; once the loop is gone the task is dropped, on the thread
// that handed it over.
class LoopLink {
 public:
  explicit LoopLink(EventLoop& loop) : loop_(&loop) {}
  // Any thread. False when the loop is gone and the task was dropped.
  bool Post(std::function<void()> task);

 private:
  friend class EventLoop;
  std::mutex mutex_;
  EventLoop* loop_;
};

class EventLoop {
 public:
  using Task = std::function<void()>;
  using TimerId = uint64_t;

  explicit EventLoop(std::unique_ptr<Waiter> waiter);
  ~EventLoop();
  EventLoop(const EventLoop&) = delete;
  EventLoop& operator=(const EventLoop&) = delete;

  // Any thread. Tasks run on the loop's thread in the order they were posted.
  void Post(Task task);
  // The way to this loop for threads that may outlive it; all share one.
  std::shared_ptr<LoopLink> Link() const { return link_; }

  // Loop thread only. A timer first fires intervalMs after it is set, then
  // every intervalMs; a late tick fires once and the next is due a full
  // interval after it (missed ticks coalesce). Interval 0 never fires. A
  // timer whose handler is still running (it waits in a nested loop, or a
  // box is on the screen) does not fire again until the handler returns.
  //
  // With a tolerance, a tick may also come up to toleranceMs (at most the
  // interval less 1) before it is due, in a wake the loop has anyway for posted
  // work, another timer or native input, so that it needs no wake of its
  // own. It never comes later than it would without one, and the next is
  // due an interval after it: ticks come between interval - tolerance and
  // interval apart.
  TimerId SetTimer(uint32_t intervalMs, Task onTick, uint32_t toleranceMs = 0);
  // From the timer's next tick on; the tick stays due when it was.
  void SetTimerTolerance(TimerId id, uint32_t toleranceMs);
  // A timer that rests while idle needs no wake of its own while the loop
  // has done nothing since its last tick (no posted task, no other timer, no
  // native input): for a timer that only passes on what such work changes,
  // whose tick would find nothing new. Once other work comes, its tick is
  // due when it was, at once where that has passed.
  void SetTimerRestsWhileIdle(TimerId id, bool rests);
  void KillTimer(TimerId id);

  // Handles what is pending now (posted tasks first, then due timers) and returns.
  void ProcessMessages();
  // Runs posted tasks and due timers only, leaving native input alone: the
  // work the loop owes while a native modal loop (a system message box, a
  // popup menu) pumps the messages.
  void RunOwnWork();

  // Handles messages until Terminate().
  void Run();
  // Handles messages while `keepRunning` holds (it is asked after each round
  // of handling) and the loop is not terminated: a modal loop.
  void RunWhile(const std::function<bool()>& keepRunning);
  void Terminate();
  bool Terminated() const { return terminated_; }
  // Lets Run() be entered again (tests run many programs on one loop).
  void ResetTerminated() { terminated_ = false; }

  // A nested wait that keeps handling messages until the clock reaches the
  // deadline (or the loop is terminated).
  void RunUntil(uint64_t deadlineMs);
  void RunFor(uint32_t ms) { RunUntil(NowMs() + ms); }

  uint64_t NowMs() { return waiter_->NowMs(); }
  // The 32-bit millisecond tick count, wrapping as the system's does.
  uint32_t TickCount() { return static_cast<uint32_t>(NowMs()); }
  // Blocks the loop thread without handling anything.
  void Sleep(uint32_t ms) { waiter_->Sleep(ms); }
  // Blocks the loop thread, answering only what senders wait for (Waiter).
  void SleepAnsweringSent(uint32_t ms) { waiter_->SleepAnsweringSent(ms); }

  Waiter& waiter() { return *waiter_; }
  bool IsLoopThread() const { return std::this_thread::get_id() == owner_; }

 private:
  struct Timer {
    uint32_t interval;
    uint64_t due;
    Task onTick;
    uint32_t tolerance = 0;
    bool running = false;
    bool restsWhileIdle = false;
    // The loop's work count after this timer's last tick.
    uint64_t workAtTick = ~uint64_t{0};
  };

  bool RunPostedTasks();
  bool Resting(const Timer& timer) const {
    return timer.restsWhileIdle && timer.workAtTick == work_;
  }
  void FireDueTimers();
  std::optional<uint64_t> NextTimerDue() const;
  void TellWaiterNextDeadline();
  void WaitForWork(std::optional<uint64_t> deadline);

  std::unique_ptr<Waiter> waiter_;
  std::thread::id owner_;
  std::mutex postedMutex_;
  std::deque<Task> posted_;
  // A post has woken the loop since it last took the posted tasks.
  bool wokenForPosted_ = false;
  std::map<TimerId, Timer> timers_;
  // Counts the rounds of work done: native input, posted tasks, timer ticks.
  uint64_t work_ = 0;
  TimerId nextTimerId_ = 1;
  bool terminated_ = false;
  std::optional<uint64_t> toldDeadline_;
  std::shared_ptr<LoopLink> link_ = std::make_shared<LoopLink>(*this);
};

// The process-wide loop. Created with the native waiter on first use unless a
// loop was installed before (tests install one with a virtual clock).
EventLoop& MainLoop();
// Installs a loop as the process-wide one and returns the previous one.
std::unique_ptr<EventLoop> ReplaceMainLoop(std::unique_ptr<EventLoop> loop);

}  // namespace platform
