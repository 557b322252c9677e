// The clock that times the shutdown pulses on the RTS line: milliseconds that
// only go forward and never wrap (a train may run across midnight or across
// the 32-bit tick's wrap), a yield of the processor for spinning on it, and a
// plain sleep. Windows: QueryPerformanceCounter, Sleep. POSIX: CLOCK_MONOTONIC,
// sched_yield, nanosleep. Tests install a clock of their own.
#pragma once

#include <cstdint>

#include "platform/Services.h"

namespace platform {

class PulseClock {
 public:
  virtual ~PulseClock() = default;
  virtual uint64_t NowMs() = 0;
  // Gives the processor away for a moment (a sleep of zero length).
  virtual void YieldSlice() = 0;
  // Sleeps `ms`; 0 is the zero-length sleep, as YieldSlice.
  virtual void Sleep(uint32_t ms) = 0;
};

PulseClock& NativePulseClock();

template <>
inline PulseClock*& ScopedService<PulseClock>::Slot() {
  static PulseClock* installed = nullptr;
  return installed;
}

inline PulseClock& pulseClock() {
  PulseClock* installed = ScopedService<PulseClock>::Slot();
  return installed ? *installed : NativePulseClock();
}

// Raises the calling thread to the highest priority short of time-critical.
// Windows: THREAD_PRIORITY_HIGHEST. POSIX: best effort (a user's process
// cannot raise its threads; the attempt is made and its failure ignored).
void RaiseCurrentThreadPriority();

}  // namespace platform
