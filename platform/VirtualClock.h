// A waiter whose clock moves only when something waits: a test's RunFor, a
// nested wait inside the code under test, or a blocking sleep. Minutes of
// timer behaviour run in microseconds and exactly.
//
// Worker threads that pace themselves on the same clock (VirtualWorkerClock)
// are its companion: the clock never moves past a worker's wake-up without
// waking it, and each move waits until the woken workers pause again, so
// their work happens at its virtual time, between the loop's.
#pragma once

#include <condition_variable>
#include <mutex>
#include <set>

#include "platform/Waiter.h"
#include "platform/WorkerClock.h"

namespace platform {

class VirtualWaiter final : public Waiter {
 public:
  // What else runs on this clock.
  class Companion {
   public:
    virtual ~Companion() = default;
    // The earliest time something is due, if any.
    virtual std::optional<uint64_t> NextDue() = 0;
    // Runs what is due up to `now`, and returns once it has settled.
    virtual void RunDue(uint64_t now) = 0;
  };

  explicit VirtualWaiter(uint64_t startMs = 1'000'000) : now_(startMs) {}

  uint64_t NowMs() override;
  void WaitUntil(std::optional<uint64_t> deadlineMs) override;
  void Wake() override;
  void Sleep(uint32_t ms) override;

  // Moves the clock without handling anything (as a blocked loop would see it).
  void Jump(uint64_t ms);

  void SetCompanion(Companion* companion);

 private:
  // Moves the clock to `target`, stopping at each of the companion's times;
  // with `untilWoken`, also returns (true) when a wake-up came meanwhile.
  bool AdvanceTo(uint64_t target, bool untilWoken);

  std::mutex mutex_;
  std::condition_variable woken_;
  uint64_t now_;
  bool wakePending_ = false;
  Companion* companion_ = nullptr;
};

// Worker pauses on a VirtualWaiter's clock: a pause ends when the clock
// reaches its end (or at a stop request), and the clock waits for the woken
// worker to pause again before it moves on.
class VirtualWorkerClock final : public WorkerClock, private VirtualWaiter::Companion {
 public:
  explicit VirtualWorkerClock(VirtualWaiter& waiter);
  ~VirtualWorkerClock() override;
  VirtualWorkerClock(const VirtualWorkerClock&) = delete;
  VirtualWorkerClock& operator=(const VirtualWorkerClock&) = delete;

  void Enter() override;
  void Leave() override;
  void Pause(uint32_t ms, const std::atomic<bool>& stop) override;
  void Interrupt() override;

  // Waits (bounded) until no worker runs: each is paused (and not due) or gone.
  bool Settle();

 private:
  std::optional<uint64_t> NextDue() override;
  void RunDue(uint64_t now) override;

  VirtualWaiter& waiter_;
  std::mutex mutex_;
  std::condition_variable changed_;
  std::multiset<uint64_t> pauseEnds_;
  uint64_t released_ = 0;
  // Workers that are not inside a pause.
  int running_ = 0;
};

}  // namespace platform
