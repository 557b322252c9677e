// How a worker thread paces itself (the USB polling thread's cycles): pauses
// that a stop request cuts short. The system's clock is real time; tests
// install one that runs on their virtual clock, so the worker's cycles fall
// at exact virtual times, in a known order with the main loop's work.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <mutex>

#include "platform/Services.h"

namespace platform {

class WorkerClock {
 public:
  virtual ~WorkerClock() = default;
  // A worker is about to start (called by the thread that starts it).
  virtual void Enter() {}
  // The calling worker ends and pauses no more.
  virtual void Leave() {}
  // Pauses the calling worker `ms`; returns early when `stop` is set and
  // Interrupt is called.
  virtual void Pause(uint32_t ms, const std::atomic<bool>& stop) = 0;
  // Makes every pause look at its stop flag; any thread.
  virtual void Interrupt() = 0;
};

// Real time.
class SystemWorkerClock final : public WorkerClock {
 public:
  void Pause(uint32_t ms, const std::atomic<bool>& stop) override;
  void Interrupt() override;

 private:
  std::mutex mutex_;
  std::condition_variable interrupted_;
};

WorkerClock& NativeWorkerClock();

template <>
inline WorkerClock*& ScopedService<WorkerClock>::Slot() {
  static WorkerClock* installed = nullptr;
  return installed;
}

inline WorkerClock& workerClock() {
  WorkerClock* installed = ScopedService<WorkerClock>::Slot();
  return installed ? *installed : NativeWorkerClock();
}

}  // namespace platform
