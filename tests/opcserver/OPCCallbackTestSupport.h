// What the callback thread tests stand on without a server: answers built
// by hand, a group that collects changes per client handle as the server's
// groups do, and a fixture with a manual clock and manual runners.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "OPCSinkTestSupport.h"
#include "opcserver/PsOPCCallbackThreads.h"
#include "toolkit/Clock.h"
#include "toolkit/PsUtils.h"

namespace korva_test {

// An answer over arrays of its own; counts its frees.
class TestAnswer : public opcserver::TPsOPCCallbackTransaction {
 public:
  explicit TestAnswer(opcserver::TPsOPCAnswerKind kind, DWORD id = 0, OPCHANDLE group = 7)
      : kind_(kind), id_(id), group_(group) {}
  ~TestAnswer() override {
    for (VARIANT& value : values_)
      VariantClear(&value);
    if (freed)
      ++*freed;
  }

  // Replaces the entry of the client handle, or appends one.
  TestAnswer& Set(OPCHANDLE client, const toolkit::PsVariant& value, WORD quality = 0xC0,
                  HRESULT error = S_OK, FILETIME time = {}) {
    size_t at = std::find(clients_.begin(), clients_.end(), client) - clients_.begin();
    if (at == clients_.size()) {
      clients_.push_back(client);
      servers_.push_back(client + 1000);
      values_.emplace_back();
      VariantInit(&values_.back());
      qualities_.push_back(0);
      times_.emplace_back();
      errors_.push_back(S_OK);
    }
    opcserver::PsVariantToVariant(value, values_[at]);
    qualities_[at] = quality;
    times_[at] = time;
    errors_[at] = error;
    return *this;
  }
  VARIANT& Value(size_t at) { return values_[at]; }
  size_t Count() const { return clients_.size(); }

  opcserver::TPsOPCAnswer Answer() override {
    opcserver::TPsOPCAnswer answer;
    answer.kind = kind_;
    answer.transactionID = id_;
    answer.groupClientHandle = group_;
    answer.count = static_cast<DWORD>(clients_.size());
    for (size_t i = 0; i < clients_.size(); ++i) {
      if (FAILED(errors_[i]))
        answer.masterError = S_FALSE;
      if (qualities_[i] < 0xC0)
        answer.masterQuality = S_FALSE;
    }
    answer.clientHandles = clients_.data();
    answer.serverHandles = servers_.data();
    answer.values = values_.data();
    answer.qualities = qualities_.data();
    answer.timeStamps = times_.data();
    answer.errors = errors_.data();
    return answer;
  }

  int* freed = nullptr;

 private:
  opcserver::TPsOPCAnswerKind kind_;
  DWORD id_;
  OPCHANDLE group_;
  std::vector<OPCHANDLE> clients_;
  std::vector<OPCHANDLE> servers_;
  std::vector<VARIANT> values_;
  std::vector<WORD> qualities_;
  std::vector<FILETIME> times_;
  std::vector<HRESULT> errors_;
};

// A group of the thread's: changes collect per client handle; the first
// pending one wakes the thread.
class TestGroup : public opcserver::TPsOPCCallbackGroup {
 public:
  DWORD UpdateRate() const override { return rate; }
  opcserver::TPsOPCCallbackTransactionPtr GetDataChangeTransaction() override {
    std::lock_guard lock(mutex_);
    if (!pending_ || pending_->Count() == 0)
      return nullptr;
    return std::move(pending_);
  }
  bool DataChangePending() override {
    std::lock_guard lock(mutex_);
    return pending_ && pending_->Count() > 0;
  }
  void LogLine(const std::string& line) override {
    std::lock_guard lock(mutex_);
    lines_.push_back(line);
  }

  void Change(OPCHANDLE client, const toolkit::PsVariant& value) {
    bool first = false;
    {
      std::lock_guard lock(mutex_);
      if (!pending_)
        pending_ = std::make_unique<TestAnswer>(opcserver::akDataChange);
      pending_->Set(client, value);
      first = pending_->Count() == 1;
    }
    if (first && thread)
      thread->WakeUp();
  }
  std::vector<std::string> Lines() {
    std::lock_guard lock(mutex_);
    return lines_;
  }

  template <class Kind = opcserver::TPsOPCProviderOPCDataCallbackThread, class... Args>
  Kind& Start(Args&&... args) {
    auto started = opcserver::TPsOPCProviderDataCallbackThread::Create<Kind>(
        *this, std::forward<Args>(args)...);
    Kind& kind = *started;
    thread = std::move(started);
    return kind;
  }
  void Finish() { opcserver::TPsOPCProviderDataCallbackThread::Finish(std::move(thread)); }

  DWORD rate = 1000;
  std::unique_ptr<opcserver::TPsOPCProviderDataCallbackThread> thread;

 private:
  std::mutex mutex_;
  std::unique_ptr<TestAnswer> pending_;
  std::vector<std::string> lines_;
};

// A manual clock at `startTick` and manual runners on it.
class ManualCallbackTest : public ::testing::Test {
 protected:
  explicit ManualCallbackTest(uint32_t startTick = 1'000'000) {
    clock_.SetTick(startTick);
    toolkit::ResetTickState();
    opcserver::RegisterClipboardFormats();
  }
  ~ManualCallbackTest() override { group_.Finish(); }

  uint64_t Now() { return toolkit::PsGetTickCount64(); }
  void Advance(uint32_t ms) { clock_.SetTick(clock_.TickCount() + ms); }

  toolkit::ManualClock clock_;
  platform::ScopedService<toolkit::Clock> installedClock_{clock_};
  opcserver::TPsOPCManualRunners runners_{clock_};
  platform::ScopedService<opcserver::TPsOPCCallbackRunners> installedRunners_{runners_};
  TestGroup group_;
};

}  // namespace korva_test
