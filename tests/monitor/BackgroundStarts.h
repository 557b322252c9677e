// Program starts in the background, as the tests see them: the shell answers
// on a thread of the start's own and the outcome comes through the main loop,
// so a test waits for both; a shell that holds a start up (a consent prompt,
// a share that does not answer) until the test lets it go.
#pragma once

#include <chrono>
#include <condition_variable>
#include <map>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "monitor/ProgramStart.h"
#include "platform/EventLoop.h"
#include "platform/Process.h"

namespace korva_test {

// Waits (in real time, ten seconds at most) until every start's thread has
// ended, then handles their outcomes on this thread; false when one is still
// under way.
inline bool FinishProgramStarts() {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  while (monitor::StartsUnderWay() > 0) {
    if (std::chrono::steady_clock::now() > deadline)
      return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  platform::MainLoop().ProcessMessages();
  return true;
}

// Answers each file with the number set for it (42 when none is), after
// holding it up until Release when it is held. A hold ends by itself after
// five seconds, so a caller that waits for the answer on the test's own
// thread comes back, late.
class HeldShell final : public platform::Processes {
 public:
  // No start may still be in the shell when it goes.
  ~HeldShell() override {
    Release();
    FinishProgramStarts();
  }

  void Answer(const std::string& file, int result, bool held = false) {
    std::lock_guard lock(mutex_);
    results_[file] = result;
    if (held)
      held_.insert(file);
  }
  void Release() {
    {
      std::lock_guard lock(mutex_);
      released_ = true;
    }
    changed_.notify_all();
  }
  // Waits (bounded) until `count` files have reached the shell.
  bool WaitAsked(size_t count) {
    std::unique_lock lock(mutex_);
    return changed_.wait_for(lock, std::chrono::seconds(10),
                             [&] { return threads_.size() >= count; });
  }
  // A start is being held up now.
  bool Holding() {
    std::lock_guard lock(mutex_);
    return holding_ > 0;
  }
  // The threads the shell was asked on, one a file, in the order asked.
  std::vector<std::thread::id> Threads() {
    std::lock_guard lock(mutex_);
    return threads_;
  }

  int ShellExecute(const std::string&, const std::string& file, const std::string&,
                   const std::string&, int) override {
    std::unique_lock lock(mutex_);
    threads_.push_back(std::this_thread::get_id());
    changed_.notify_all();
    if (held_.count(file)) {
      ++holding_;
      changed_.wait_for(lock, std::chrono::seconds(5), [this] { return released_; });
      --holding_;
    }
    const auto answer = results_.find(file);
    return answer == results_.end() ? platform::kShellStarted : answer->second;
  }
  bool CreateProcess(const std::string&, const std::string&) override { return false; }
  std::optional<std::vector<platform::RunningProcess>> RunningProcesses() override {
    return std::nullopt;
  }

 private:
  std::mutex mutex_;
  std::condition_variable changed_;
  std::map<std::string, int> results_;
  std::set<std::string> held_;
  std::vector<std::thread::id> threads_;
  int holding_ = 0;
  bool released_ = false;
};

}  // namespace korva_test
