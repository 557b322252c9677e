// A scripted COM port for tests: the test feeds bytes, events and error words
// into a FakeSerialLine, refuses steps, and reads back what the code under
// test did (control blocks, masks, purges, writes). Every call that reaches a
// port after it was closed is counted as a fault.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "platform/SerialPort.h"

namespace korva_test {

class FakeSerialLine {
 public:
  enum class Step {
    kOpen,
    kSetupQueues,
    kSetState,
    kSetEventMask,
    kWait,
    kClearError,
    kRead,
    kWrite,
    kPurge
  };
  static constexpr uint32_t kRefusedError =
      31;  // "a device attached to the system is not functioning"

  // Bytes arriving from the device: they are queued and raise EV_RXCHAR, and
  // EV_RXFLAG when the event character is among them. Line errors and other
  // events given here arrive with them, in one step.
  void Receive(const std::string& bytes, uint32_t lineErrors = 0, uint32_t otherEvents = 0) {
    std::lock_guard lock(mutex_);
    uint32_t events = otherEvents | (bytes.empty() ? 0 : platform::EV_RXCHAR);
    for (char c : bytes) {
      queue_.push_back(c);
      if (c == block_.eventChar)
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
  void RaiseEvents(uint32_t events) { Receive("", 0, events); }
  void Refuse(Step step) {
    std::lock_guard lock(mutex_);
    refused_.insert(step);
  }
  void Allow(Step step) {
    std::lock_guard lock(mutex_);
    refused_.erase(step);
  }
  // Reads hand out at most this many bytes at a time.
  void LimitReads(uint32_t bytes) {
    std::lock_guard lock(mutex_);
    readLimit_ = bytes;
  }

  // Waits (bounded) until WaitEvent was entered `count` times in all.
  bool WaitForWaits(int count) {
    std::unique_lock lock(mutex_);
    return changed_.wait_for(lock, std::chrono::seconds(5), [&] { return waits_ >= count; });
  }

  struct Record {
    int opens = 0;
    bool open = false;
    int closes = 0;
    int usesAfterClose = 0;
    int closedWhileBusy = 0;
    uint32_t inQueueSize = 0;
    uint32_t outQueueSize = 0;
    std::vector<platform::DeviceControlBlock> states;
    std::vector<uint32_t> masks;
    std::vector<uint32_t> purges;
    std::string written;
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

  // Under the lock: whether a call may go on; counts calls on a closed port.
  bool Enter(bool closed, Step step) {
    if (closed) {
      ++record_.usesAfterClose;
      return false;
    }
    return refused_.count(step) == 0;
  }

  mutable std::mutex mutex_;
  std::condition_variable changed_;
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
};

class FakeSerialPort final : public platform::SerialPort {
 public:
  explicit FakeSerialPort(std::shared_ptr<FakeSerialLine> line) : line_(std::move(line)) {}
  ~FakeSerialPort() override { Close(); }

  bool SetupQueues(uint32_t inQueue, uint32_t outQueue) override {
    std::lock_guard lock(line_->mutex_);
    if (!line_->Enter(closed_, Step::kSetupQueues))
      return false;
    line_->record_.inQueueSize = inQueue;
    line_->record_.outQueueSize = outQueue;
    return true;
  }
  bool SetState(const platform::DeviceControlBlock& block) override {
    std::lock_guard lock(line_->mutex_);
    if (!line_->Enter(closed_, Step::kSetState))
      return false;
    line_->block_ = block;
    line_->record_.states.push_back(block);
    return true;
  }
  bool SetEventMask(uint32_t mask) override {
    std::lock_guard lock(line_->mutex_);
    if (!line_->Enter(closed_, Step::kSetEventMask))
      return false;
    line_->mask_ = mask;
    line_->pending_ = 0;
    ++line_->maskChanges_;
    line_->record_.masks.push_back(mask);
    line_->changed_.notify_all();
    return true;
  }
  bool WaitEvent(uint32_t& events) override {
    events = 0;
    std::unique_lock lock(line_->mutex_);
    if (!line_->Enter(closed_, Step::kWait) || line_->mask_ == 0)
      return false;
    ++line_->waits_;
    ++line_->busy_;
    line_->changed_.notify_all();
    const uint64_t maskAtStart = line_->maskChanges_;
    line_->changed_.wait(lock, [&] {
      return closed_ || line_->maskChanges_ != maskAtStart || (line_->pending_ & line_->mask_) != 0;
    });
    --line_->busy_;
    if (closed_)
      return false;
    if (line_->maskChanges_ == maskAtStart) {
      events = line_->pending_ & line_->mask_;
      line_->pending_ = 0;
    }
    return true;
  }
  bool ClearError(uint32_t& errors, platform::CommStatus& status) override {
    std::lock_guard lock(line_->mutex_);
    errors = 0;
    status = {};
    if (!line_->Enter(closed_, Step::kClearError))
      return false;
    errors = std::exchange(line_->errors_, 0);
    status.inQueue = static_cast<uint32_t>(line_->queue_.size());
    return true;
  }
  bool Read(void* buffer, uint32_t count, uint32_t& done) override {
    std::lock_guard lock(line_->mutex_);
    done = 0;
    if (!line_->Enter(closed_, Step::kRead))
      return false;
    auto* out = static_cast<char*>(buffer);
    while (done < count && done < line_->readLimit_ && !line_->queue_.empty()) {
      out[done++] = line_->queue_.front();
      line_->queue_.pop_front();
    }
    return done == count;
  }
  bool Write(const void* buffer, uint32_t count, uint32_t& done) override {
    std::lock_guard lock(line_->mutex_);
    done = 0;
    if (!line_->Enter(closed_, Step::kWrite))
      return false;
    line_->record_.written.append(static_cast<const char*>(buffer), count);
    done = count;
    return true;
  }
  bool Purge(uint32_t flags) override {
    std::lock_guard lock(line_->mutex_);
    if (!line_->Enter(closed_, Step::kPurge))
      return false;
    line_->record_.purges.push_back(flags);
    if (flags & platform::PURGE_RXCLEAR)
      line_->queue_.clear();
    return true;
  }
  void Close() override {
    std::lock_guard lock(line_->mutex_);
    if (closed_)
      return;
    closed_ = true;
    if (line_->busy_ > 0)
      ++line_->record_.closedWhileBusy;
    ++line_->record_.closes;
    line_->record_.open = false;
    line_->changed_.notify_all();
  }
  intptr_t Handle() const override { return 0x1234; }
  uint32_t LastError() const override { return FakeSerialLine::kRefusedError; }

 private:
  using Step = FakeSerialLine::Step;
  std::shared_ptr<FakeSerialLine> line_;
  bool closed_ = false;  // guarded by the line's mutex
};

// Ports by name; a name without a line is missing, an open line is busy.
class FakeSerialPorts final : public platform::SerialPorts {
 public:
  std::shared_ptr<FakeSerialLine> Attach(const std::string& name) {
    auto line = std::make_shared<FakeSerialLine>();
    lines_[name] = line;
    return line;
  }

  std::shared_ptr<platform::SerialPort> Open(const std::string& name, uint32_t& error) override {
    auto found = lines_.find(name);
    if (found == lines_.end()) {
      error = 2;  // file not found
      return nullptr;
    }
    FakeSerialLine& line = *found->second;
    std::lock_guard lock(line.mutex_);
    if (line.record_.open || line.refused_.count(FakeSerialLine::Step::kOpen)) {
      error = 5;  // access denied
      return nullptr;
    }
    line.record_.open = true;
    ++line.record_.opens;
    line.queue_.clear();
    line.mask_ = 0;
    line.pending_ = 0;
    error = 0;
    return std::make_shared<FakeSerialPort>(found->second);
  }
  bool Exists(const std::string& name) override { return lines_.count(name) != 0; }
  std::string ErrorText(uint32_t code) override { return "fake error " + std::to_string(code); }

 private:
  std::map<std::string, std::shared_ptr<FakeSerialLine>> lines_;
};

}  // namespace korva_test
