// Unit ServerProcess: the process count of a server COM started.
#include "opcserver/ServerProcess.h"

#include <mutex>

#include "platform/EventLoop.h"
#include "platform/com/Com.h"
#include "vcl/Forms.h"

namespace opcserver {
namespace {

struct Count {
  std::mutex mutex;
  bool counting = false;
  std::function<void()> lastReleased;
  // Holds taken through this unit and not yet let go of: never more are
  // given back to COM, whatever a caller does.
  unsigned long held = 0;
};

Count& TheCount() {
  static Count count;
  return count;
}

}  // namespace

void CountServerProcess(std::function<void()> lastReleased) {
  Count& count = TheCount();
  const std::lock_guard lock(count.mutex);
  count.counting = true;
  count.lastReleased = std::move(lastReleased);
}

void StopCountingServerProcess() {
  Count& count = TheCount();
  const std::lock_guard lock(count.mutex);
  count.counting = false;
  count.lastReleased = nullptr;
}

bool HoldServerProcess() {
  Count& count = TheCount();
  const std::lock_guard lock(count.mutex);
  if (!count.counting)
    return false;
  ++count.held;
  CoAddRefServerProcess();
  return true;
}

void ReleaseServerProcess() {
  std::function<void()> lastReleased;
  {
    Count& count = TheCount();
    const std::lock_guard lock(count.mutex);
    if (count.held == 0)
      return;
    --count.held;
    if (CoReleaseServerProcess() == 0 && count.counting)
      lastReleased = count.lastReleased;
  }
  // Outside the lock: the call may well make or free objects.
  if (lastReleased)
    lastReleased();
}

void EndProgramWhenLastClientLeaves() {
  CountServerProcess([] { platform::MainLoop().Post([] { vcl::Application().Terminate(); }); });
}

}  // namespace opcserver
