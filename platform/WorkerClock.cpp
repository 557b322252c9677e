#include "platform/WorkerClock.h"

#include <chrono>

namespace platform {

void SystemWorkerClock::Pause(uint32_t ms, const std::atomic<bool>& stop) {
  std::unique_lock lock(mutex_);
  interrupted_.wait_for(lock, std::chrono::milliseconds(ms), [&] { return stop.load(); });
}

void SystemWorkerClock::Interrupt() {
  // Taken so that no pause misses the call between its look at the flag and its wait.
  { std::lock_guard lock(mutex_); }
  interrupted_.notify_all();
}

WorkerClock& NativeWorkerClock() {
  static SystemWorkerClock clock;
  return clock;
}

}  // namespace platform
