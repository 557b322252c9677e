// Unit PsOPCCallbackThreads: the one thread per subscribed group that sends
// the group's data changes at its update rate and the answers of its
// asynchronous calls as soon as they are queued: the queue of answers, the
// thread with its two kinds (a DA 1.0 advise sink, a DA 2.0 data callback)
// and the seam through which it tells time, waits and is woken.
//
// Timing: the first data change goes out 100 ms after the start; later ones
// at the earliest one update period after the last delivery, never sooner
// than 10 ms after the thread woke, on the 64-bit tick. A group with nothing
// pending sleeps until something wakes it (a pending change, a queued
// answer, a state change, a stop), so an idle group costs nothing.
//
// Life: the group owns its thread and ends it with Finish, never while it
// holds its own lock. Finish waits for the thread, unless it runs on the
// thread itself (a sink that removes or releases its group from inside a
// callback): then the thread frees itself once its pass is done, touching
// nothing of the group after the call that stopped it.
#pragma once

#include <atomic>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "opcserver/OPCDA.h"
#include "opcserver/PsComUtils.h"
#include "opcserver/PsOPCCallbacks.h"
#include "platform/Services.h"
#include "toolkit/Clock.h"

namespace opcserver {

// A transaction that a callback thread delivers and then frees.
class TPsOPCCallbackTransaction {
 public:
  virtual ~TPsOPCCallbackTransaction() = default;
  // The answer over the transaction's own arrays, valid while it lives.
  virtual TPsOPCAnswer Answer() = 0;
};

using TPsOPCCallbackTransactionPtr = std::unique_ptr<TPsOPCCallbackTransaction>;

// The group as its callback thread sees it. Each call takes the group's
// lock itself; the thread holds no lock of its own while it calls.
class TPsOPCCallbackGroup {
 public:
  virtual DWORD UpdateRate() const = 0;
  // Takes the pending data change when it has an entry (a new empty one
  // takes its place); none otherwise.
  virtual TPsOPCCallbackTransactionPtr GetDataChangeTransaction() = 0;
  // Whether a data change is waiting to be sent.
  virtual bool DataChangePending() = 0;
  // A line for the group's log.
  virtual void LogLine(const std::string& line) = 0;

 protected:
  ~TPsOPCCallbackGroup() = default;
};

// ---- The seam --------------------------------------------------------------

// The wake-up event: manual reset, unsignalled at first.
class TPsOPCWakeUpEvent {
 public:
  virtual void SetEvent() = 0;
  virtual void ResetEvent() = 0;

 protected:
  ~TPsOPCWakeUpEvent() = default;
};

class TPsOPCProviderDataCallbackThread;

// How a callback thread runs: its clock, its wake-up event, its wait and
// the thread (or the test) that runs its passes.
class TPsOPCCallbackRunner : public TPsOPCWakeUpEvent {
 public:
  static constexpr uint32_t Infinite = 0xFFFFFFFFu;

  virtual ~TPsOPCCallbackRunner() = default;
  // The 64-bit millisecond tick.
  virtual uint64_t Now();
  // Waits until the event is set or `ms` passed (Infinite: no limit);
  // whether the event was set.
  virtual bool Wait(uint32_t ms) = 0;
  // Runs the thread's passes until one answers false, then its end.
  virtual void Start(TPsOPCProviderDataCallbackThread& thread) = 0;
  // Whether the caller runs inside one of the passes.
  virtual bool InPass() const = 0;
  // Waits until the passes have ended; never from inside one.
  virtual void Join() = 0;
  // Lets the passes end on their own (called from inside one).
  virtual void Detach() = 0;
};

// Makes a runner for each new callback thread. The system's runs a thread
// of its own; tests install theirs (platform::ScopedService).
class TPsOPCCallbackRunners {
 public:
  virtual ~TPsOPCCallbackRunners() = default;
  virtual std::unique_ptr<TPsOPCCallbackRunner> NewRunner() = 0;
};

// The installed runners (a test's) or the system's.
TPsOPCCallbackRunners& CallbackRunners();

// Passes a test runs one by one on a toolkit::ManualClock: each Step is
// one pass; a wait that is not woken moves the clock on by its time, an
// endless one returns at once as if woken.
class TPsOPCManualRunners final : public TPsOPCCallbackRunners {
 public:
  explicit TPsOPCManualRunners(toolkit::ManualClock& clock) : clock_(clock) {}
  ~TPsOPCManualRunners() override;
  std::unique_ptr<TPsOPCCallbackRunner> NewRunner() override;

  // The callback threads started and not yet freed.
  size_t Count() const;
  // One pass of the thread started `index`-th among the live ones; false
  // when there is none or it ended (and was freed when it freed itself).
  bool Step(size_t index = 0);
  // Steps the thread until `done` answers true, at most `limit` passes;
  // whether it did.
  bool StepUntil(const std::function<bool()>& done, int limit = 100, size_t index = 0);
  // Every wait the threads asked for, in order.
  const std::vector<uint32_t>& Waits() const { return waits_; }
  void ClearWaits() { waits_.clear(); }

 private:
  class Runner;
  friend class Runner;
  toolkit::ManualClock& clock_;
  std::vector<Runner*> runners_;
  std::vector<uint32_t> waits_;
};

// ---- The queue -------------------------------------------------------------

// First in, first out, with its own lock; the wake-up event is set and reset
// under it, so an answer queued while the thread finds the queue empty is
// never left waiting for the next period.
class TPsOPCProviderTransactionQueue {
 public:
  explicit TPsOPCProviderTransactionQueue(TPsOPCWakeUpEvent& wakeUp) : wakeUp_(wakeUp) {}
  ~TPsOPCProviderTransactionQueue() { Clear(); }
  TPsOPCProviderTransactionQueue(const TPsOPCProviderTransactionQueue&) = delete;
  TPsOPCProviderTransactionQueue& operator=(const TPsOPCProviderTransactionQueue&) = delete;

  // Queues it and sets the event; the number queued afterwards.
  size_t Add(TPsOPCCallbackTransactionPtr transaction);
  // The oldest; when there is none, resets the event and answers none.
  TPsOPCCallbackTransactionPtr Get();
  // Frees every queued transaction.
  void Clear();
  size_t Count() const;

 private:
  TPsOPCWakeUpEvent& wakeUp_;
  mutable std::mutex mutex_;
  std::deque<TPsOPCCallbackTransactionPtr> queue_;
};

// ---- The threads -----------------------------------------------------------

class TPsOPCProviderDataCallbackThread {
 public:
  // Starts a thread of a kind on the installed runners.
  template <class Kind, class... Args>
  static std::unique_ptr<Kind> Create(TPsOPCCallbackGroup& group, Args&&... args) {
    std::unique_ptr<Kind> thread(
        new Kind(group, CallbackRunners().NewRunner(), std::forward<Args>(args)...));
    thread->runner_->Start(*thread);
    return thread;
  }
  // Stops the thread and frees it once it has ended: waits for it, unless
  // the caller runs on it (then it frees itself after its pass).
  static void Finish(std::unique_ptr<TPsOPCProviderDataCallbackThread> thread);

  virtual ~TPsOPCProviderDataCallbackThread();
  TPsOPCProviderDataCallbackThread(const TPsOPCProviderDataCallbackThread&) = delete;
  TPsOPCProviderDataCallbackThread& operator=(const TPsOPCProviderDataCallbackThread&) = delete;

  // Queues an answer to send at once (freed at once after a stop).
  void AddTransaction(TPsOPCCallbackTransactionPtr transaction);
  // Sends the pending data change at the next pass.
  void RequestUpdate();
  // Recompute the wait: the rate changed, or a change became pending.
  void WakeUp() { runner_->SetEvent(); }
  // Drops the queued answers and tells the thread to end. Never waits.
  void StopThread();
  bool Terminated() const { return terminated_; }

  // The tick of the last delivered data change; 0 before the first.
  uint64_t LastUpdate() const { return lastUpdate_; }
  // The wait before the next data change: 100 ms before the first, then to
  // one update period after the last, at least 10 ms.
  uint32_t GetWaitTime();

  // One pass of the loop; false once the thread ends. The runner calls it.
  bool Pass();
  // After the last pass: frees a thread that was finished from inside.
  void Ended();

 protected:
  TPsOPCProviderDataCallbackThread(TPsOPCCallbackGroup& group,
                                   std::unique_ptr<TPsOPCCallbackRunner> runner);
  // Sends one answer to the client's sink; the call's result.
  virtual HRESULT DispatchToSink(TPsOPCCallbackTransaction& transaction) = 0;

 private:
  // Sends the pending data change; a delivery moves LastUpdate.
  void DoUpdate();
  // Sends and frees the transaction and logs it; S_FALSE once stopped.
  HRESULT DispatchTransaction(TPsOPCCallbackTransactionPtr transaction);

  std::atomic<bool> updateRequested_{false};
  TPsOPCCallbackGroup& group_;
  std::atomic<uint64_t> lastUpdate_{0};
  std::unique_ptr<TPsOPCCallbackRunner> runner_;
  TPsOPCProviderTransactionQueue queue_;
  std::atomic<bool> terminated_{false};
  // Finished from inside a pass: frees itself after it.
  bool freeOnEnd_ = false;
};

// DA 1.0: streams to the client's IAdviseSink in the advised format.
class TPsOPCProviderAdviseCallbackThread final : public TPsOPCProviderDataCallbackThread {
 public:
  TPsOPCProviderAdviseCallbackThread(TPsOPCCallbackGroup& group,
                                     std::unique_ptr<TPsOPCCallbackRunner> runner,
                                     CLIPFORMAT format, IAdviseSink* sink)
      : TPsOPCProviderDataCallbackThread(group, std::move(runner)), format_(format), sink_(sink) {}

 protected:
  HRESULT DispatchToSink(TPsOPCCallbackTransaction& transaction) override;

 private:
  CLIPFORMAT format_;
  ComPtr<IAdviseSink> sink_;
};

// DA 2.0: calls of the client's IOPCDataCallback.
class TPsOPCProviderOPCDataCallbackThread final : public TPsOPCProviderDataCallbackThread {
 public:
  TPsOPCProviderOPCDataCallbackThread(TPsOPCCallbackGroup& group,
                                      std::unique_ptr<TPsOPCCallbackRunner> runner,
                                      IOPCDataCallback* callback)
      : TPsOPCProviderDataCallbackThread(group, std::move(runner)), callback_(callback) {}

 protected:
  HRESULT DispatchToSink(TPsOPCCallbackTransaction& transaction) override;

 private:
  ComPtr<IOPCDataCallback> callback_;
};

}  // namespace opcserver

template <>
inline opcserver::TPsOPCCallbackRunners*&
platform::ScopedService<opcserver::TPsOPCCallbackRunners>::Slot() {
  static opcserver::TPsOPCCallbackRunners* installed = nullptr;
  return installed;
}
