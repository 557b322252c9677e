// The callback thread: when data changes go out (manual passes on a
// virtual tick), the order of queued answers, a sink that fails or stops
// the thread from inside its call, and the real thread's wake-ups.
#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "OPCCallbackTestSupport.h"

namespace {

using korva_test::CallbackCall;
using korva_test::ManualCallbackTest;
using korva_test::RecordingCallback;
using korva_test::TestAnswer;
using opcserver::ComPtr;
using opcserver::TPsOPCCallbackRunner;
using opcserver::TPsOPCProviderOPCDataCallbackThread;

class CallbackThreadTest : public ManualCallbackTest {
 protected:
  explicit CallbackThreadTest(uint32_t startTick = 1'000'000) : ManualCallbackTest(startTick) {
    sink_->clock = [] { return toolkit::PsGetTickCount64(); };
  }
  void Start() { group_.Start(sink_.Get()); }
  // Passes until the sink has `count` calls.
  bool DeliverUntil(size_t count) {
    return runners_.StepUntil([&] { return sink_->Count() >= count; });
  }
  CallbackCall Call(size_t index) { return sink_->Calls().at(index); }

  ComPtr<RecordingCallback> sink_ = opcserver::MakeComObject<RecordingCallback>();
};

TEST_F(CallbackThreadTest, DataChangesGoOutOncePerPeriodWithTheLastValues) {
  struct Case {
    DWORD rate;
    uint32_t changeAfter;  // ms after the first delivery
    uint32_t expectedGap;  // between the first and the second delivery
  };
  // A change within the period waits for its end; one after a quiet
  // period goes out 10 ms after it; a rate of 0 still waits 10 ms.
  const Case cases[] = {{1000, 200, 1000}, {1000, 5000, 5010}, {0, 0, 10}, {50, 30, 50}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.rate);
    group_.rate = c.rate;
    group_.Change(1, 10);
    group_.Change(2, 20);
    const uint64_t start = Now();
    Start();
    ASSERT_TRUE(DeliverUntil(1));
    const CallbackCall first = Call(0);
    EXPECT_EQ(first.tick, start + 100);
    EXPECT_EQ(first.kind, CallbackCall::DataChange);
    EXPECT_EQ(first.transactionID, 0u);
    EXPECT_EQ(first.clientHandles, (std::vector<OPCHANDLE>{1, 2}));

    // Nothing pending: the thread sleeps without a time limit.
    runners_.ClearWaits();
    for (int pass = 0; pass < 3; ++pass)
      runners_.Step();
    EXPECT_EQ(sink_->Count(), 1u);
    EXPECT_EQ(runners_.Waits(), (std::vector<uint32_t>(3, TPsOPCCallbackRunner::Infinite)));

    Advance(c.changeAfter);
    for (int value = 11; value <= 13; ++value)
      group_.Change(1, value);
    ASSERT_TRUE(DeliverUntil(2));
    const CallbackCall second = Call(1);
    EXPECT_EQ(second.tick - first.tick, c.expectedGap);
    ASSERT_EQ(second.values.size(), 1u);
    EXPECT_EQ(second.values[0].AsInt32(), 13);

    group_.Finish();
    sink_ = opcserver::MakeComObject<RecordingCallback>();
    sink_->clock = [] { return toolkit::PsGetTickCount64(); };
  }
}

class CallbackThreadAtWrapTest : public CallbackThreadTest {
 protected:
  CallbackThreadAtWrapTest() : CallbackThreadTest(0xFFFFFFFFu - 500) {}
};

TEST_F(CallbackThreadAtWrapTest, TheTimingHoldsAcrossTheWrapOfTheTick) {
  group_.Change(1, 1);
  Start();
  ASSERT_TRUE(DeliverUntil(1));
  group_.Change(1, 2);
  ASSERT_TRUE(DeliverUntil(2));
  EXPECT_EQ(Call(1).tick - Call(0).tick, 1000u);
  EXPECT_GT(Call(1).tick, 0xFFFFFFFFull);
}

TEST_F(CallbackThreadTest, QueuedAnswersGoFirstOnePerPassThenTheDataChange) {
  group_.Change(1, 1);
  Start();
  for (DWORD id = 1; id <= 3; ++id) {
    auto answer = std::make_unique<TestAnswer>(opcserver::akReadComplete, id);
    answer->Set(5, 50, 0xC0, id == 2 ? OPC_E_BADRIGHTS : S_OK);
    group_.thread->AddTransaction(std::move(answer));
  }
  for (size_t pass = 1; pass <= 3; ++pass) {
    runners_.Step();
    EXPECT_EQ(sink_->Count(), pass);
  }
  ASSERT_TRUE(DeliverUntil(4));
  const std::vector<CallbackCall> calls = sink_->Calls();
  for (DWORD id = 1; id <= 3; ++id) {
    EXPECT_EQ(calls[id - 1].kind, CallbackCall::ReadComplete);
    EXPECT_EQ(calls[id - 1].transactionID, id);
  }
  EXPECT_EQ(calls[1].masterError, S_FALSE);
  EXPECT_EQ(calls[3].kind, CallbackCall::DataChange);
  EXPECT_EQ(group_.Lines().at(1), "Transaction ID=2 Kind=Read (Handles:[1005], Errors[$C0040006])");
}

TEST_F(CallbackThreadTest, AFailingSinkIsTriedAgainAfterTenMilliseconds) {
  group_.Change(1, 1);
  Start();
  ASSERT_TRUE(DeliverUntil(1));
  sink_->answer = E_FAIL;
  group_.Change(1, 2);
  ASSERT_TRUE(DeliverUntil(2));
  group_.Change(1, 3);
  ASSERT_TRUE(DeliverUntil(3));
  // The failed delivery did not count: the next one is due at once.
  EXPECT_EQ(Call(1).tick - Call(0).tick, 1000u);
  EXPECT_EQ(Call(2).tick - Call(1).tick, 10u);
  EXPECT_EQ(group_.thread->LastUpdate(), Call(0).tick);
  EXPECT_EQ(group_.Lines().size(), 3u);
}

TEST_F(CallbackThreadTest, ARequestedUpdateGoesOutWithoutWaitingForThePeriod) {
  group_.Change(1, 1);
  Start();
  ASSERT_TRUE(DeliverUntil(1));
  Advance(300);
  group_.Change(1, 2);
  group_.thread->RequestUpdate();
  ASSERT_TRUE(DeliverUntil(2));
  EXPECT_EQ(Call(1).tick - Call(0).tick, 300u);
}

TEST_F(CallbackThreadTest, ASinkThatEndsTheThreadFromInsideItsCallIsNotWaitedFor) {
  int freed = 0;
  group_.Change(1, 1);
  Start();
  for (DWORD id = 1; id <= 2; ++id) {
    auto answer = std::make_unique<TestAnswer>(opcserver::akReadComplete, id);
    answer->freed = &freed;
    answer->Set(1, 1);
    group_.thread->AddTransaction(std::move(answer));
  }
  // The first answer's call removes the group: the thread must not join
  // itself, the other answer is dropped, and nothing of the group is used.
  sink_->action = [&](const CallbackCall&) { group_.Finish(); };
  EXPECT_FALSE(runners_.Step());
  EXPECT_EQ(runners_.Count(), 0u);
  EXPECT_EQ(freed, 2);
  EXPECT_TRUE(group_.Lines().empty());
  EXPECT_EQ(sink_->RefCount(), 1u);
}

TEST_F(CallbackThreadTest, AStoppedThreadFreesWhatItIsGiven) {
  int freed = 0;
  Start();
  group_.thread->StopThread();
  auto answer = std::make_unique<TestAnswer>(opcserver::akReadComplete, 1);
  answer->freed = &freed;
  group_.thread->AddTransaction(std::move(answer));
  EXPECT_EQ(freed, 1);
  EXPECT_FALSE(runners_.Step());
  EXPECT_EQ(sink_->Count(), 0u);
}

// The wake-up event: set by every Add, reset only by a Get that finds the
// queue empty.
TEST(TransactionQueueTest, OnlyAnEmptyQueueResetsTheEvent) {
  struct Event : opcserver::TPsOPCWakeUpEvent {
    void SetEvent() override { set = true; }
    void ResetEvent() override { set = false; }
    bool set = false;
  } event;
  opcserver::TPsOPCProviderTransactionQueue queue(event);
  EXPECT_EQ(queue.Add(std::make_unique<TestAnswer>(opcserver::akReadComplete, 1)), 1u);
  EXPECT_EQ(queue.Add(std::make_unique<TestAnswer>(opcserver::akReadComplete, 2)), 2u);
  EXPECT_TRUE(event.set);
  EXPECT_EQ(queue.Get()->Answer().transactionID, 1u);
  EXPECT_EQ(queue.Get()->Answer().transactionID, 2u);
  EXPECT_TRUE(event.set);
  EXPECT_EQ(queue.Get(), nullptr);
  EXPECT_FALSE(event.set);
}

// ---- Real threads -------------------------------------------------------------

// Every queued answer wakes an idle thread at once: one lost between the
// empty test and the reset would leave it asleep for good.
TEST(CallbackThreadRealTest, EveryQueuedAnswerWakesTheIdleThread) {
  korva_test::TestGroup group;
  group.rate = 3'600'000;
  ComPtr<RecordingCallback> sink = opcserver::MakeComObject<RecordingCallback>();
  group.Start(sink.Get());
  for (DWORD id = 1; id <= 500; ++id) {
    auto answer = std::make_unique<TestAnswer>(opcserver::akReadComplete, id);
    answer->Set(1, 1);
    group.thread->AddTransaction(std::move(answer));
    ASSERT_TRUE(sink->WaitForCount(id)) << id;
  }
  group.Finish();
}

TEST(CallbackThreadRealTest, AThreadEndedFromInsideItsCallFreesItself) {
  korva_test::TestGroup group;
  ComPtr<RecordingCallback> sink = opcserver::MakeComObject<RecordingCallback>();
  std::atomic<bool> finished{false};
  sink->action = [&](const CallbackCall&) {
    group.Finish();
    finished = true;
  };
  group.Change(1, 1);
  group.Start(sink.Get());
  ASSERT_TRUE(sink->WaitForCount(1));
  // The thread releases the sink as it frees itself.
  for (int wait = 0; wait < 5000 && sink->RefCount() > 1; ++wait)
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  EXPECT_TRUE(finished);
  EXPECT_EQ(sink->RefCount(), 1u);
  EXPECT_EQ(group.thread, nullptr);
}

TEST(CallbackThreadRealTest, FinishingWaitsForACallInProgress) {
  korva_test::TestGroup group;
  ComPtr<RecordingCallback> sink = opcserver::MakeComObject<RecordingCallback>();
  std::atomic<bool> inCall{false};
  std::atomic<bool> callDone{false};
  sink->action = [&](const CallbackCall&) {
    inCall = true;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    callDone = true;
  };
  group.Change(1, 1);
  group.Start(sink.Get());
  while (!inCall)
    std::this_thread::yield();
  group.Finish();
  EXPECT_TRUE(callDone);
  EXPECT_EQ(sink->RefCount(), 1u);
}

}  // namespace
