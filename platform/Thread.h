// The threads the program starts: each joined before it is destroyed, so no
// worker outlives what it works on.
#pragma once

#include <functional>
#include <thread>

namespace platform {

class WorkerThread {
 public:
  WorkerThread() = default;
  explicit WorkerThread(std::function<void()> body) : thread_(std::move(body)) {}
  ~WorkerThread() { Join(); }
  WorkerThread(WorkerThread&&) noexcept = default;
  WorkerThread& operator=(WorkerThread&& other) noexcept {
    Join();
    thread_ = std::move(other.thread_);
    return *this;
  }
  WorkerThread(const WorkerThread&) = delete;
  WorkerThread& operator=(const WorkerThread&) = delete;

  bool running() const { return thread_.joinable(); }
  void Join() {
    if (thread_.joinable() && thread_.get_id() != std::this_thread::get_id())
      thread_.join();
  }

 private:
  std::thread thread_;
};

}  // namespace platform
