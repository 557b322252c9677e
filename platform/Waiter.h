// The one thing each platform supplies to the event loop: a clock and a way to
// sleep until something happens (a post from another thread, native input, or
// a deadline).
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>

namespace platform {

class Waiter {
 public:
  virtual ~Waiter() = default;

  // Monotonic milliseconds; only differences mean anything.
  virtual uint64_t NowMs() = 0;

  // Blocks until Wake() was called (also before this call, since the last
  // return), until native input arrives, or until NowMs() reaches the deadline.
  virtual void WaitUntil(std::optional<uint64_t> deadlineMs) = 0;

  // Safe from any thread; makes the current or the next WaitUntil return.
  virtual void Wake() = 0;

  // Blocks the calling thread and handles nothing, like a plain Sleep().
  virtual void Sleep(uint32_t ms) = 0;
  // As Sleep, but what other threads and programs send to this thread's
  // windows and wait for (Windows' sent messages: a broadcast, the end of the
  // session) is handled meanwhile. Nothing posted and no timer runs.
  virtual void SleepAnsweringSent(uint32_t ms) { Sleep(ms); }

  // Hands pending native window messages to their windows. Returns whether a
  // quit request was among them. Backends without native windows do nothing.
  virtual bool DispatchNative() { return false; }

  // Native modal loops (a system message box, a popup menu, a file dialog)
  // pump only native messages. A backend that has them calls `handle` from
  // inside such a loop when posted work or a timer falls due, so the loop's
  // work never stalls behind a box on the screen.
  virtual void SetForeignLoopHandler(std::function<void()> handle) { (void)handle; }
  // The loop's earliest timer changed (nothing: no timer is running).
  virtual void NextDeadlineChanged(std::optional<uint64_t> deadlineMs) { (void)deadlineMs; }
};

// The backend's waiter for this platform (poll() on POSIX, the message queue on Win32).
std::unique_ptr<Waiter> NewNativeWaiter();

}  // namespace platform
