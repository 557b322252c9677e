// The pulse clock on POSIX: CLOCK_MONOTONIC in milliseconds (64 bits: it
// never wraps), sched_yield for the zero-length sleep.
#include <sched.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>

#include "platform/PulseClock.h"

namespace platform {
namespace {

class PosixPulseClock final : public PulseClock {
 public:
  uint64_t NowMs() override {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<uint64_t>(now.tv_sec) * 1000 +
           static_cast<uint64_t>(now.tv_nsec) / 1'000'000;
  }
  void YieldSlice() override { sched_yield(); }
  void Sleep(uint32_t ms) override {
    if (ms == 0) {
      sched_yield();
      return;
    }
    timespec left{static_cast<time_t>(ms / 1000), static_cast<long>(ms % 1000) * 1'000'000};
    while (nanosleep(&left, &left) != 0 && errno == EINTR) {
    }
  }
};

}  // namespace

PulseClock& NativePulseClock() {
  static PosixPulseClock clock;
  return clock;
}

void RaiseCurrentThreadPriority() {
  // Only a privileged process may lower a thread's nice value; others keep theirs.
  const auto thread = static_cast<id_t>(syscall(SYS_gettid));
  (void)setpriority(PRIO_PROCESS, thread, -5);
}

}  // namespace platform
