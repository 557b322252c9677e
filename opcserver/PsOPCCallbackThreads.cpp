#include "opcserver/PsOPCCallbackThreads.h"

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <thread>

#include "platform/EventLoop.h"
#include "toolkit/Debugs.h"
#include "toolkit/PsUtils.h"

namespace opcserver {
namespace {

// The runner whose pass the calling thread is inside of.
thread_local const TPsOPCCallbackRunner* runnerInPass = nullptr;

// A thread of its own, woken by a condition variable.
class ThreadRunner final : public TPsOPCCallbackRunner {
 public:
  ~ThreadRunner() override {
    if (thread_.joinable())
      thread_.join();
  }

  void SetEvent() override {
    std::lock_guard lock(mutex_);
    set_ = true;
    changed_.notify_all();
  }
  void ResetEvent() override {
    std::lock_guard lock(mutex_);
    set_ = false;
  }
  bool Wait(uint32_t ms) override {
    std::unique_lock lock(mutex_);
    if (ms == Infinite) {
      changed_.wait(lock, [this] { return set_; });
      return true;
    }
    return changed_.wait_for(lock, std::chrono::milliseconds(ms), [this] { return set_; });
  }
  void Start(TPsOPCProviderDataCallbackThread& thread) override {
    std::lock_guard lock(mutex_);
    thread_ = std::thread([this, &thread] {
      // Starts once thread_ is assigned.
      { std::lock_guard started(mutex_); }
      runnerInPass = this;
      while (thread.Pass()) {
      }
      passesEnded_ = true;
      thread.Ended();
    });
  }
  bool InPass() const override { return runnerInPass == this; }
  void Join() override {
    if (!thread_.joinable())
      return;
    // The main thread keeps handling messages meanwhile: a sink in a call
    // may wait for it (a synchronous write).
    platform::EventLoop& loop = platform::MainLoop();
    if (loop.IsLoopThread())
      while (!passesEnded_) {
        loop.ProcessMessages();
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
      }
    thread_.join();
  }
  void Detach() override { thread_.detach(); }

 private:
  std::mutex mutex_;
  std::condition_variable changed_;
  bool set_ = false;
  std::atomic<bool> passesEnded_{false};
  std::thread thread_;
};

class SystemRunners final : public TPsOPCCallbackRunners {
 public:
  std::unique_ptr<TPsOPCCallbackRunner> NewRunner() override {
    return std::make_unique<ThreadRunner>();
  }
};

}  // namespace

uint64_t TPsOPCCallbackRunner::Now() {
  return toolkit::PsGetTickCount64();
}

TPsOPCCallbackRunners& CallbackRunners() {
  static SystemRunners system;
  TPsOPCCallbackRunners* installed = platform::ScopedService<TPsOPCCallbackRunners>::Slot();
  return installed ? *installed : system;
}

// ---- Manual runners ----------------------------------------------------------

class TPsOPCManualRunners::Runner final : public TPsOPCCallbackRunner {
 public:
  explicit Runner(TPsOPCManualRunners& owner) : owner_(&owner) { owner.runners_.push_back(this); }
  ~Runner() override {
    if (owner_)
      std::erase(owner_->runners_, this);
  }

  void SetEvent() override { set_ = true; }
  void ResetEvent() override { set_ = false; }
  bool Wait(uint32_t ms) override {
    if (owner_)
      owner_->waits_.push_back(ms);
    if (set_ || ms == Infinite)
      return true;
    if (owner_)
      owner_->clock_.SetTick(owner_->clock_.TickCount() + ms);
    return false;
  }
  void Start(TPsOPCProviderDataCallbackThread& thread) override { thread_ = &thread; }
  bool InPass() const override { return runnerInPass == this; }
  void Join() override {}
  void Detach() override {}

  // One pass; false once the thread ended (it may have freed itself and
  // this runner with it).
  bool Step() {
    if (!thread_)
      return false;
    const TPsOPCCallbackRunner* outer = runnerInPass;
    runnerInPass = this;
    const bool more = thread_->Pass();
    runnerInPass = outer;
    if (!more) {
      TPsOPCProviderDataCallbackThread* ended = thread_;
      thread_ = nullptr;
      ended->Ended();
    }
    return more;
  }
  void Forget() { owner_ = nullptr; }

 private:
  TPsOPCManualRunners* owner_;
  std::atomic<bool> set_{false};
  TPsOPCProviderDataCallbackThread* thread_ = nullptr;
};

TPsOPCManualRunners::~TPsOPCManualRunners() {
  for (Runner* runner : runners_)
    runner->Forget();
}

std::unique_ptr<TPsOPCCallbackRunner> TPsOPCManualRunners::NewRunner() {
  return std::make_unique<Runner>(*this);
}

size_t TPsOPCManualRunners::Count() const {
  return runners_.size();
}

bool TPsOPCManualRunners::Step(size_t index) {
  return index < runners_.size() && runners_[index]->Step();
}

bool TPsOPCManualRunners::StepUntil(const std::function<bool()>& done, int limit, size_t index) {
  for (int pass = 0; pass < limit && !done(); ++pass)
    if (!Step(index))
      break;
  return done();
}

// ---- The queue ---------------------------------------------------------------

size_t TPsOPCProviderTransactionQueue::Add(TPsOPCCallbackTransactionPtr transaction) {
  std::lock_guard lock(mutex_);
  queue_.push_back(std::move(transaction));
  wakeUp_.SetEvent();
  return queue_.size();
}

TPsOPCCallbackTransactionPtr TPsOPCProviderTransactionQueue::Get() {
  std::lock_guard lock(mutex_);
  if (queue_.empty()) {
    wakeUp_.ResetEvent();
    return nullptr;
  }
  TPsOPCCallbackTransactionPtr oldest = std::move(queue_.front());
  queue_.pop_front();
  toolkit::DebugValueInt("After Get, Count", static_cast<int32_t>(queue_.size()));
  return oldest;
}

void TPsOPCProviderTransactionQueue::Clear() {
  std::deque<TPsOPCCallbackTransactionPtr> dropped;
  {
    std::lock_guard lock(mutex_);
    dropped.swap(queue_);
  }
}

size_t TPsOPCProviderTransactionQueue::Count() const {
  std::lock_guard lock(mutex_);
  return queue_.size();
}

// ---- The thread --------------------------------------------------------------

TPsOPCProviderDataCallbackThread::TPsOPCProviderDataCallbackThread(
    TPsOPCCallbackGroup& group, std::unique_ptr<TPsOPCCallbackRunner> runner)
    : group_(group), runner_(std::move(runner)), queue_(*runner_) {}

TPsOPCProviderDataCallbackThread::~TPsOPCProviderDataCallbackThread() {
  StopThread();
  if (!runner_->InPass())
    runner_->Join();
}

void TPsOPCProviderDataCallbackThread::Finish(
    std::unique_ptr<TPsOPCProviderDataCallbackThread> thread) {
  if (!thread)
    return;
  thread->StopThread();
  if (thread->runner_->InPass()) {
    // Joining itself would never return: the pass ends, then the thread
    // frees itself.
    thread->freeOnEnd_ = true;
    thread->runner_->Detach();
    thread.release();
    return;
  }
  thread->runner_->Join();
}

void TPsOPCProviderDataCallbackThread::Ended() {
  if (freeOnEnd_)
    delete this;
}

void TPsOPCProviderDataCallbackThread::AddTransaction(TPsOPCCallbackTransactionPtr transaction) {
  if (!transaction || terminated_)
    return;
  if (queue_.Add(std::move(transaction)) == 1)
    toolkit::DebugText(" *** UNBLOCKING *** ");
}

void TPsOPCProviderDataCallbackThread::RequestUpdate() {
  updateRequested_ = true;
  runner_->SetEvent();
}

void TPsOPCProviderDataCallbackThread::StopThread() {
  if (terminated_.exchange(true))
    return;
  queue_.Clear();
  runner_->SetEvent();
}

uint32_t TPsOPCProviderDataCallbackThread::GetWaitTime() {
  const uint64_t last = lastUpdate_;
  if (last == 0)
    return 100;
  const int64_t wait =
      static_cast<int64_t>(last + group_.UpdateRate()) - static_cast<int64_t>(runner_->Now());
  if (wait < 10)
    return 10;
  return static_cast<uint32_t>(std::min<int64_t>(wait, TPsOPCCallbackRunner::Infinite - 1));
}

bool TPsOPCProviderDataCallbackThread::Pass() {
  if (terminated_)
    return false;
  // Nothing to send: sleep until something is (a pending change wakes us).
  const uint32_t wait = updateRequested_ || group_.DataChangePending()
                            ? GetWaitTime()
                            : TPsOPCCallbackRunner::Infinite;
  const bool woken = runner_->Wait(wait);
  if (terminated_)
    return false;
  if (!woken || updateRequested_)
    DoUpdate();
  if (terminated_)
    return false;
  if (TPsOPCCallbackTransactionPtr queued = queue_.Get())
    DispatchTransaction(std::move(queued));
  return !terminated_;
}

void TPsOPCProviderDataCallbackThread::DoUpdate() {
  // Cleared first: a request made while this one is sent is kept.
  updateRequested_ = false;
  TPsOPCCallbackTransactionPtr change = group_.GetDataChangeTransaction();
  if (change && DispatchTransaction(std::move(change)) == S_OK)
    lastUpdate_ = runner_->Now();
}

HRESULT TPsOPCProviderDataCallbackThread::DispatchTransaction(
    TPsOPCCallbackTransactionPtr transaction) {
  if (!transaction || terminated_)
    return S_FALSE;
  HRESULT result;
  try {
    result = DispatchToSink(*transaction);
  } catch (...) {
    result = CurrentExceptionToResult();
  }
  // A sink that removed or released the group stopped the thread: the
  // group may be gone.
  if (!terminated_)
    group_.LogLine(DispatchLogLine(transaction->Answer()));
  return result;
}

HRESULT TPsOPCProviderAdviseCallbackThread::DispatchToSink(TPsOPCCallbackTransaction& transaction) {
  return DispatchToAdviseSink(sink_.Get(), format_, transaction.Answer());
}

HRESULT TPsOPCProviderOPCDataCallbackThread::DispatchToSink(
    TPsOPCCallbackTransaction& transaction) {
  return DispatchToOPCDataCallback(callback_.Get(), transaction.Answer());
}

}  // namespace opcserver
