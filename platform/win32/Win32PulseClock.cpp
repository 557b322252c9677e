// The pulse clock on Windows: QueryPerformanceCounter in milliseconds (64
// bits: it never wraps), Sleep(0) for the zero-length sleep.
#include <windows.h>

#include "platform/PulseClock.h"

namespace platform {
namespace {

class Win32PulseClock final : public PulseClock {
 public:
  Win32PulseClock() {
    LARGE_INTEGER frequency{};
    QueryPerformanceFrequency(&frequency);
    frequency_ = static_cast<uint64_t>(frequency.QuadPart);
  }
  uint64_t NowMs() override {
    LARGE_INTEGER counter{};
    QueryPerformanceCounter(&counter);
    const auto ticks = static_cast<uint64_t>(counter.QuadPart);
    return ticks / frequency_ * 1000 + ticks % frequency_ * 1000 / frequency_;
  }
  void YieldSlice() override { ::Sleep(0); }
  void Sleep(uint32_t ms) override { ::Sleep(ms); }

 private:
  uint64_t frequency_ = 1;
};

}  // namespace

PulseClock& NativePulseClock() {
  static Win32PulseClock clock;
  return clock;
}

void RaiseCurrentThreadPriority() {
  SetThreadPriority(GetCurrentThread(), THREAD_PRIORITY_HIGHEST);
}

}  // namespace platform
