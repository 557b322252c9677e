// The POSIX wait: poll() on an eventfd that other threads write to wake the loop.
#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <stdexcept>
#include <thread>

#include "platform/Waiter.h"

namespace platform {
namespace {

class PosixWaiter final : public Waiter {
 public:
  PosixWaiter() : wakeFd_(eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC)) {
    if (wakeFd_ < 0)
      throw std::runtime_error("eventfd failed");
  }
  ~PosixWaiter() override { close(wakeFd_); }
  PosixWaiter(const PosixWaiter&) = delete;
  PosixWaiter& operator=(const PosixWaiter&) = delete;

  uint64_t NowMs() override {
    using namespace std::chrono;
    return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
  }

  void WaitUntil(std::optional<uint64_t> deadlineMs) override {
    int timeout = -1;
    if (deadlineMs) {
      const uint64_t now = NowMs();
      const uint64_t left = *deadlineMs > now ? *deadlineMs - now : 0;
      timeout = left > 1'000'000 ? 1'000'000 : static_cast<int>(left);
    }
    pollfd fd{wakeFd_, POLLIN, 0};
    const int ready = poll(&fd, 1, timeout);
    if (ready > 0) {
      // One read takes every wake-up so far: the counter starts again at 0.
      uint64_t count;
      [[maybe_unused]] ssize_t got = read(wakeFd_, &count, sizeof count);
    }
  }

  void Wake() override {
    const uint64_t one = 1;
    // A full counter already means "woken"; nothing to do then.
    [[maybe_unused]] ssize_t written = write(wakeFd_, &one, sizeof one);
  }

  void Sleep(uint32_t ms) override { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); }

 private:
  int wakeFd_;
};

}  // namespace

std::unique_ptr<Waiter> NewNativeWaiter() {
  return std::make_unique<PosixWaiter>();
}

}  // namespace platform
