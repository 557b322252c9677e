// A scripted COM port for tests: the test feeds bytes, events and error words
// into a FakeSerialLine, refuses steps (the open too: the device is missing),
// breaks the device away under its ports, plays drivers with their faults,
// and reads back what the code under test did (control blocks, masks,
// purges, writes), control blocks and writes stamped by a clock of the
// test's. Every call that reaches a port after it was closed is counted as a
// fault.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "platform/SerialPort.h"

namespace korva_test {

class FakeSerialLine {
 public:
  enum class Step { kOpen, kSetupQueues, kSetState, kSetEventMask, kClearError, kPurge };

  // Bytes arriving from the device: they are queued and raise EV_RXCHAR, and
  // EV_RXFLAG when the event character is among them. Line errors and other
  // events given here arrive with them, in one step.
  void Receive(const std::string& bytes, uint32_t lineErrors = 0, uint32_t otherEvents = 0) {
    std::lock_guard lock(mutex_);
    uint32_t events = otherEvents | (bytes.empty() ? 0 : platform::EV_RXCHAR);
    for (char c : bytes) {
      queue_.push_back(c);
      if (c == block_.eventChar && reportsEventChar_)
        events |= platform::EV_RXFLAG;
    }
    if (lineErrors != 0) {
      errors_ |= lineErrors;
      events |= platform::EV_ERR;
    }
    pending_ |= events & mask_;
    changed_.notify_all();
  }
  void RaiseLineError(uint32_t errors) { Receive("", errors); }
  void Refuse(Step step, bool refused = true) {
    std::lock_guard lock(mutex_);
    if (refused)
      refused_.insert(step);
    else
      refused_.erase(step);
  }
  // The device goes away (unplugged, resumed from sleep): the ports open on
  // the line now fail every call from here on, and their waits end.
  void Break() {
    std::lock_guard lock(mutex_);
    ++breaks_;
    changed_.notify_all();
  }
  // A driver that never reports the event character (EV_RXFLAG).
  void WithoutEventChar() {
    std::lock_guard lock(mutex_);
    reportsEventChar_ = false;
  }
  // A driver that cannot wait for events on this line: every wait fails at
  // once, while the rest works.
  void FailWaits() {
    std::lock_guard lock(mutex_);
    waitsFail_ = true;
  }
  // A driver whose wait does not end when the mask is cleared.
  void IgnoreMaskChanges() {
    std::lock_guard lock(mutex_);
    ignoresMaskChanges_ = true;
  }
  // Reads hand out at most this many bytes at a time.
  void LimitReads(uint32_t bytes) {
    std::lock_guard lock(mutex_);
    readLimit_ = bytes;
  }

  // Control blocks and writes are stamped with this clock's time from now on.
  void StampWith(std::function<uint64_t()> clock) {
    std::lock_guard lock(mutex_);
    clock_ = std::move(clock);
  }
  // Runs on the closing thread when a port of this line closes (first close only).
  void OnClose(std::function<void()> hook) {
    std::lock_guard lock(mutex_);
    onClose_ = std::move(hook);
  }

  // Waits (bounded) until WaitEvent was entered `count` times in all.
  bool WaitForWaits(int count) {
    std::unique_lock lock(mutex_);
    return changed_.wait_for(lock, std::chrono::seconds(5), [&] { return waits_ >= count; });
  }
  // Waits (bounded) until ports on the line were closed `count` times in all.
  bool WaitForCloses(int count) {
    std::unique_lock lock(mutex_);
    return changed_.wait_for(lock, std::chrono::seconds(5),
                             [&] { return record_.closes >= count; });
  }

  struct Record {
    int opens = 0;
    bool open = false;
    int closes = 0;
    int aborts = 0;
    int usesAfterClose = 0;
    int closedWhileBusy = 0;
    uint32_t inQueueSize = 0;
    uint32_t outQueueSize = 0;
    std::vector<platform::DeviceControlBlock> states;
    std::vector<uint64_t> stateTimes;  // of each state, by the stamping clock
    std::vector<uint32_t> masks;
    std::vector<uint32_t> purges;
    std::string written;
    std::vector<std::pair<uint64_t, std::string>> writes;  // stamped, one per call
    size_t queued = 0;
    uint32_t errors = 0;
  };
  Record record() const {
    std::lock_guard lock(mutex_);
    Record copy = record_;
    copy.queued = queue_.size();
    copy.errors = errors_;
    return copy;
  }

 private:
  friend class FakeSerialPort;
  friend class FakeSerialPorts;

  uint64_t Stamp() const { return clock_ ? clock_() : 0; }

  mutable std::mutex mutex_;
  std::condition_variable changed_;
  std::function<uint64_t()> clock_;
  std::function<void()> onClose_;
  std::set<Step> refused_;
  Record record_;
  std::deque<char> queue_;
  platform::DeviceControlBlock block_;
  uint32_t mask_ = 0;
  uint32_t pending_ = 0;
  uint32_t errors_ = 0;
  uint64_t maskChanges_ = 0;
  uint32_t readLimit_ = UINT32_MAX;
  int waits_ = 0;
  int busy_ = 0;
  int breaks_ = 0;
  bool reportsEventChar_ = true;
  bool waitsFail_ = false;
  bool ignoresMaskChanges_ = false;
};

class FakeSerialPort final : public platform::SerialPort {
 public:
  // Under the line's lock.
  explicit FakeSerialPort(std::shared_ptr<FakeSerialLine> line)
      : line_(std::move(line)), breaksAtOpen_(line_->breaks_) {}
  ~FakeSerialPort() override { Close(); }

  bool SetupQueues(uint32_t inQueue, uint32_t outQueue) override {
    return Call(Step::kSetupQueues, [&](FakeSerialLine& line) {
      line.record_.inQueueSize = inQueue;
      line.record_.outQueueSize = outQueue;
    });
  }
  bool SetState(const platform::DeviceControlBlock& block) override {
    return Call(Step::kSetState, [&](FakeSerialLine& line) {
      line.block_ = block;
      line.record_.states.push_back(block);
      line.record_.stateTimes.push_back(line.Stamp());
    });
  }
  bool SetEventMask(uint32_t mask) override {
    return Call(Step::kSetEventMask, [&](FakeSerialLine& line) {
      line.mask_ = mask;
      line.pending_ = 0;
      ++line.maskChanges_;
      line.record_.masks.push_back(mask);
      line.changed_.notify_all();
    });
  }
  bool WaitEvent(uint32_t& events) override {
    events = 0;
    std::unique_lock lock(line_->mutex_);
    if (Closed() || Gone() || line_->mask_ == 0 || line_->waitsFail_)
      return false;
    ++line_->waits_;
    ++line_->busy_;
    line_->changed_.notify_all();
    const uint64_t maskAtStart = line_->maskChanges_;
    line_->changed_.wait(lock, [&] {
      return closed_ || Gone() ||
             (line_->maskChanges_ != maskAtStart && !line_->ignoresMaskChanges_) ||
             (line_->pending_ & line_->mask_) != 0;
    });
    --line_->busy_;
    if (closed_ || Gone())
      return false;
    if (line_->maskChanges_ == maskAtStart)
      events = std::exchange(line_->pending_, 0) & line_->mask_;
    return true;
  }
  bool ClearError(uint32_t& errors, platform::CommStatus& status) override {
    errors = 0;
    status = {};
    return Call(Step::kClearError, [&](FakeSerialLine& line) {
      errors = std::exchange(line.errors_, 0);
      status.inQueue = static_cast<uint32_t>(line.queue_.size());
    });
  }
  bool Read(void* buffer, uint32_t count, uint32_t& done) override {
    done = 0;
    return Call(std::nullopt,
                [&](FakeSerialLine& line) {
                  auto* out = static_cast<char*>(buffer);
                  while (done < count && done < line.readLimit_ && !line.queue_.empty()) {
                    out[done++] = line.queue_.front();
                    line.queue_.pop_front();
                  }
                }) &&
           done == count;
  }
  bool Write(const void* buffer, uint32_t count, uint32_t& done) override {
    done = 0;
    return Call(std::nullopt, [&](FakeSerialLine& line) {
      const std::string bytes(static_cast<const char*>(buffer), count);
      line.record_.written += bytes;
      line.record_.writes.emplace_back(line.Stamp(), bytes);
      done = count;
    });
  }
  bool Purge(uint32_t flags) override {
    return Call(Step::kPurge, [&](FakeSerialLine& line) {
      line.record_.purges.push_back(flags);
      if (flags & platform::PURGE_RXCLEAR)
        line.queue_.clear();
    });
  }
  void Close() override {
    std::function<void()> hook;
    {
      std::lock_guard lock(line_->mutex_);
      if (std::exchange(closed_, true))
        return;
      line_->record_.closedWhileBusy += line_->busy_ > 0 ? 1 : 0;
      ++line_->record_.closes;
      line_->record_.open = false;
      line_->changed_.notify_all();
      hook = line_->onClose_;
    }
    if (hook)
      hook();
  }
  void Abort() override {
    std::lock_guard lock(line_->mutex_);
    if (closed_ || std::exchange(aborted_, true))
      return;
    ++line_->record_.aborts;
    line_->changed_.notify_all();
  }
  intptr_t Handle() const override { return 0x1234; }
  // "A device attached to the system is not functioning."
  uint32_t LastError() const override { return 31; }

 private:
  using Step = FakeSerialLine::Step;

  // Under the line's lock: counts a call on a closed port.
  bool Closed() {
    line_->record_.usesAfterClose += closed_ ? 1 : 0;
    return closed_;
  }
  // Under the line's lock: the device went away under the port, or its
  // operations were aborted.
  bool Gone() const { return aborted_ || line_->breaks_ != breaksAtOpen_; }
  // Runs `act` under the line's lock unless the port is closed or the step refused.
  template <class Act>
  bool Call(std::optional<Step> step, Act act) {
    std::lock_guard lock(line_->mutex_);
    if (Closed() || Gone() || (step && line_->refused_.count(*step)))
      return false;
    act(*line_);
    return true;
  }

  std::shared_ptr<FakeSerialLine> line_;
  const int breaksAtOpen_;
  bool closed_ = false;  // guarded by the line's mutex
  bool aborted_ = false;
};

// Ports by name; a name without a line is missing, an open line is busy.
class FakeSerialPorts final : public platform::SerialPorts {
 public:
  std::shared_ptr<FakeSerialLine> Attach(const std::string& name) {
    return lines_[name] = std::make_shared<FakeSerialLine>();
  }

  std::shared_ptr<platform::SerialPort> Open(const std::string& name, uint32_t& error) override {
    auto found = lines_.find(name);
    if (found == lines_.end()) {
      error = 2;  // file not found
      return nullptr;
    }
    FakeSerialLine& line = *found->second;
    std::lock_guard lock(line.mutex_);
    error = line.refused_.count(FakeSerialLine::Step::kOpen) ? 2  // file not found
            : line.record_.open                              ? 5  // access denied
                                                             : 0;
    if (error)
      return nullptr;
    line.record_.open = true;
    ++line.record_.opens;
    line.queue_.clear();
    line.mask_ = line.pending_ = 0;
    return std::make_shared<FakeSerialPort>(found->second);
  }
  bool Exists(const std::string& name) override { return lines_.count(name) != 0; }
  std::string ErrorText(uint32_t code) override { return "fake error " + std::to_string(code); }

 private:
  std::map<std::string, std::shared_ptr<FakeSerialLine>> lines_;
};

}  // namespace korva_test
