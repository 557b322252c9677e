#include "platform/TerminationRequest.h"

#include <atomic>
#include <mutex>

#include "platform/EventLoop.h"
#include "platform/System.h"

namespace platform {
namespace termination {
namespace {

std::mutex requestMutex;
std::function<void()> installed;
std::function<void()> sessionEnd;
// Set by the first request and cleared when it runs: requests in between add nothing.
std::atomic<bool> pending{false};
static_assert(std::atomic<bool>::is_always_lock_free);

}  // namespace

void SetRequest(std::function<void()> request) {
  std::lock_guard lock(requestMutex);
  installed = std::move(request);
}

void SetSessionEndRequest(std::function<void()> request) {
  std::lock_guard lock(requestMutex);
  sessionEnd = std::move(request);
}

bool MarkPending() {
  return !pending.exchange(true);
}

void PostPending(bool endsSession) {
  std::function<void()> request;
  {
    std::lock_guard lock(requestMutex);
    request = endsSession && sessionEnd ? sessionEnd : installed;
  }
  MainLoop().Post([request] {
    pending.store(false);
    if (request)
      request();
  });
}

}  // namespace termination

void PostTerminationRequest() {
  if (termination::MarkPending())
    termination::PostPending();
}

}  // namespace platform
