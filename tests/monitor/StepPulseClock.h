// A pulse clock for tests: its milliseconds move only when the pulse thread
// spins or sleeps (each yield 1 ms, each sleep its length, the zero sleep
// nothing), so a train's timing is exact and takes no real time. A test can
// hold it at a time: yields then pass no time, and the train stays between
// two edges until released (or told to stop).
#pragma once

#include <atomic>
#include <cstdint>
#include <limits>
#include <thread>

#include "platform/PulseClock.h"

namespace korva_test {

class StepPulseClock final : public platform::PulseClock {
 public:
  uint64_t NowMs() override { return now_; }
  void YieldSlice() override {
    if (now_ < holdAt_)
      ++now_;
    std::this_thread::yield();
  }
  void Sleep(uint32_t ms) override { now_ += ms; }

  void HoldAt(uint64_t ms) { holdAt_ = ms; }
  void Release() { holdAt_ = std::numeric_limits<uint64_t>::max(); }
  bool Held() const { return now_ >= holdAt_; }

 private:
  std::atomic<uint64_t> now_{0};
  std::atomic<uint64_t> holdAt_{std::numeric_limits<uint64_t>::max()};
};

}  // namespace korva_test
