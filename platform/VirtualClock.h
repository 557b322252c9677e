// A waiter whose clock moves only when something waits: a test's RunFor, a
// nested wait inside the code under test, or a blocking sleep. Minutes of
// timer behaviour run in microseconds and exactly.
#pragma once

#include <condition_variable>
#include <mutex>

#include "platform/Waiter.h"

namespace platform {

class VirtualWaiter final : public Waiter {
 public:
  explicit VirtualWaiter(uint64_t startMs = 1'000'000) : now_(startMs) {}

  uint64_t NowMs() override;
  void WaitUntil(std::optional<uint64_t> deadlineMs) override;
  void Wake() override;
  void Sleep(uint32_t ms) override;

  // Moves the clock without handling anything (as a blocked loop would see it).
  void Jump(uint64_t ms);

 private:
  std::mutex mutex_;
  std::condition_variable woken_;
  uint64_t now_;
  bool wakePending_ = false;
};

}  // namespace platform
