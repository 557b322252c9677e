// The event loop on the virtual clock: posts from any thread, timers, nested
// waits, Run and Terminate, sleeps and the 32-bit tick count.
#include <functional>
#include <memory>
#include <numeric>
#include <string>
#include <thread>
#include <vector>

#include "TestEnvironment.h"

namespace {

using EventLoopTest = korva_test::VirtualTimeTest;

TEST_F(EventLoopTest, PostedTasksRunInOrderOnlyWhenHandledAndOneRoundAtATime) {
  std::vector<int> ran;
  for (int i = 0; i < 5; ++i)
    loop().Post([&ran, i] { ran.push_back(i); });
  EXPECT_TRUE(ran.empty());
  loop().ProcessMessages();
  EXPECT_EQ(ran, (std::vector<int>{0, 1, 2, 3, 4}));

  // A task posting itself again does not starve the caller.
  int runs = 0;
  std::function<void()> again = [&] {
    ++runs;
    loop().Post(again);
  };
  loop().Post(again);
  loop().ProcessMessages();
  EXPECT_EQ(runs, 1);
  loop().ProcessMessages();
  EXPECT_EQ(runs, 2);
}

TEST_F(EventLoopTest, PostsFromOtherThreadsArriveWholeAndInEachThreadsOrder) {
  constexpr int kThreads = 4, kEach = 500;
  std::vector<std::vector<int>> seen(kThreads);
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&, t] {
      for (int i = 0; i < kEach; ++i)
        loop().Post([&, t, i] { seen[t].push_back(i); });
    });
  }
  for (auto& thread : threads)
    thread.join();
  loop().ProcessMessages();
  std::vector<int> inOrder(kEach);
  std::iota(inOrder.begin(), inOrder.end(), 0);
  for (const auto& one : seen)
    EXPECT_EQ(one, inOrder);
}

// Counts the wake-ups a loop asks of its waiter.
class CountingWaiter final : public platform::Waiter {
 public:
  explicit CountingWaiter(int& wakes) : wakes_(wakes) {}
  uint64_t NowMs() override { return 0; }
  void WaitUntil(std::optional<uint64_t>) override {}
  void Wake() override { ++wakes_; }
  void Sleep(uint32_t) override {}

 private:
  int& wakes_;
};

TEST(EventLoopWakeTest, OneWakeUpBringsTheLoopToEverythingPostedBeforeItLooks) {
  int wakes = 0;
  platform::EventLoop loop(std::make_unique<CountingWaiter>(wakes));
  std::vector<std::string> ran;
  loop.Post([&] {
    ran.push_back("first");
    // Posted while the loop works through its round: the round has taken
    // its tasks, so this one needs a wake-up of its own.
    loop.Post([&] { ran.push_back("posted by first"); });
  });
  loop.Post([&] { ran.push_back("second"); });
  EXPECT_EQ(wakes, 1);
  loop.ProcessMessages();
  EXPECT_EQ(ran, (std::vector<std::string>{"first", "second"}));
  EXPECT_EQ(wakes, 2);
  loop.ProcessMessages();
  EXPECT_EQ(ran.back(), "posted by first");
  EXPECT_EQ(wakes, 2);
}

TEST(EventLoopLinkTest, ALinkPostsWhileItsLoopLivesAndDropsTasksOnceItIsGone) {
  int wakes = 0;
  auto loop = std::make_unique<platform::EventLoop>(std::make_unique<CountingWaiter>(wakes));
  const std::shared_ptr<platform::LoopLink> link = loop->Link();
  EXPECT_EQ(loop->Link(), link);
  int ran = 0;
  std::thread([&] { EXPECT_TRUE(link->Post([&] { ++ran; })); }).join();
  loop->ProcessMessages();
  EXPECT_EQ(ran, 1);

  // A task still waiting goes with the loop; a later one is dropped at once.
  auto kept = std::make_shared<int>(0);
  link->Post([&ran, kept] { ++ran; });
  loop.reset();
  EXPECT_EQ(kept.use_count(), 1);
  EXPECT_FALSE(link->Post([&ran, kept] { ++ran; }));
  EXPECT_EQ(kept.use_count(), 1);
  EXPECT_EQ(ran, 1);
}

TEST_F(EventLoopTest, TimerTicksEveryIntervalOnTheVirtualClock) {
  std::vector<uint64_t> ticks;
  const uint64_t start = loop().NowMs();
  loop().SetTimer(1000, [&] { ticks.push_back(loop().NowMs() - start); });
  Advance(999);
  EXPECT_TRUE(ticks.empty());
  Advance(4001);
  EXPECT_EQ(ticks, (std::vector<uint64_t>{1000, 2000, 3000, 4000, 5000}));
}

TEST_F(EventLoopTest, MissedTicksCoalesceAfterABlockedLoop) {
  std::vector<uint64_t> ticks;
  const uint64_t start = loop().NowMs();
  loop().SetTimer(100, [&] { ticks.push_back(loop().NowMs() - start); });
  loop().Sleep(1050);  // the loop is blocked for ten intervals
  Advance(0);
  Advance(100);
  EXPECT_EQ(ticks, (std::vector<uint64_t>{1050, 1150}));
}

// A 100 ms timer with a tolerance rides along with the loop's other wakes
// when they come within the tolerance before its tick, never later than its
// tick, and the next is due a full interval after whichever tick came. One
// that rests while idle has no wake of its own after a tick until other work
// came.
TEST_F(EventLoopTest, ATimerWithAToleranceTicksEarlyInWakesTheLoopHasAnyway) {
  struct Step {
    uint64_t at;           // ms after the start
    bool blocked = false;  // the loop is blocked until then, else it wakes then
  };
  struct Case {
    const char* what;
    uint32_t tolerance;
    std::vector<Step> steps;
    std::vector<uint64_t> ticks;
    bool restsWhileIdle = false;
  };
  const Case cases[] = {
      {"none", 0, {{50}, {80}, {175}, {300}}, {100, 200, 300}},
      {"30 ms",
       30,
       {{50}, {80}, {175}, {260}, {400}},
       // 50 is too early; after the tick at 260 no wake comes before 360.
       {80, 175, 260, 360}},
      {"up to the interval less 1", 500, {{1}, {2}, {101}, {250}}, {1, 2, 101, 201, 250}},
      {"after a late tick", 30, {{250, true}, {251}, {330}, {450}}, {250, 330, 430}},
      // After its tick at 100 nothing else runs until 430: no wake of its own
      // at 200, the tick comes with the work at 430, and the next is due at
      // 530 since a step's start is work too.
      {"resting while idle", 0, {{430}, {600}}, {100, 430, 530}, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    std::vector<uint64_t> ticks;
    const uint64_t start = loop().NowMs();
    const auto id = loop().SetTimer(
        100, [&] { ticks.push_back(loop().NowMs() - start); }, c.tolerance);
    loop().SetTimerRestsWhileIdle(id, c.restsWhileIdle);
    for (const Step& step : c.steps) {
      if (step.blocked)
        loop().Sleep(static_cast<uint32_t>(start + step.at - loop().NowMs()));
      else
        Advance(static_cast<uint32_t>(start + step.at - loop().NowMs()));
    }
    EXPECT_EQ(ticks, c.ticks);
    loop().KillTimer(id);
  }
}

TEST_F(EventLoopTest, ZeroIntervalNeverFiresAndAKilledTimerStopsAlsoFromItsHandler) {
  int zero = 0, killed = 0, self = 0;
  loop().SetTimer(0, [&] { ++zero; });
  const auto id = loop().SetTimer(10, [&] { ++killed; });
  platform::EventLoop::TimerId own = 0;
  own = loop().SetTimer(10, [&] {
    ++self;
    loop().KillTimer(own);
  });
  Advance(25);
  loop().KillTimer(id);
  Advance(100);
  EXPECT_EQ(zero, 0);
  EXPECT_EQ(killed, 2);
  EXPECT_EQ(self, 1);
}

TEST_F(EventLoopTest, NestedWaitKeepsHandlingAndMovesTheClock) {
  std::vector<std::string> order;
  loop().SetTimer(300, [&] { order.push_back("tick"); });
  loop().Post([&] {
    order.push_back("outer");
    const uint64_t before = loop().NowMs();
    loop().RunFor(1000);  // as a handler's delay loop would
    order.push_back("waited " + std::to_string(loop().NowMs() - before));
  });
  loop().Post([&] { order.push_back("queued"); });
  loop().ProcessMessages();
  EXPECT_EQ(order,
            (std::vector<std::string>{"outer", "queued", "tick", "tick", "tick", "waited 1000"}));
}

TEST_F(EventLoopTest, TerminateEndsRunFromATimerOrAPostFromAnotherThread) {
  int ticks = 0;
  loop().SetTimer(500, [&] {
    if (++ticks == 3)
      loop().Terminate();
  });
  const uint64_t start = loop().NowMs();
  loop().Run();
  EXPECT_EQ(ticks, 3);
  EXPECT_EQ(loop().NowMs() - start, 1500u);

  // A post from another thread wakes the wait.
  loop().ResetTerminated();
  std::thread poster([this] { loop().Post([this] { loop().Terminate(); }); });
  loop().Run();  // would block for ever if the post did not wake the wait
  poster.join();
  EXPECT_TRUE(loop().Terminated());
}

TEST_F(EventLoopTest, SleepMovesVirtualTimeWithoutHandlingAndTheTickCountWrapsAt32Bits) {
  int ran = 0;
  loop().Post([&] { ++ran; });
  const uint64_t before = loop().NowMs();
  loop().Sleep(60'000);
  EXPECT_EQ(loop().NowMs() - before, 60'000u);
  EXPECT_EQ(ran, 0);

  clock().Jump((uint64_t{1} << 32) - loop().NowMs() % (uint64_t{1} << 32) - 5);
  const uint32_t ticks = loop().TickCount();
  Advance(10);
  EXPECT_EQ(static_cast<uint32_t>(loop().TickCount() - ticks), 10u);
  EXPECT_LT(loop().TickCount(), ticks);
}

TEST_F(EventLoopTest, RunWhileEndsWhenTheConditionFailsAndLeavesTheLoopUsable) {
  bool open = true;
  int ticks = 0;
  const auto id = loop().SetTimer(100, [&] {
    if (++ticks == 3)
      open = false;
  });
  loop().RunWhile([&] { return open; });
  EXPECT_EQ(ticks, 3);
  EXPECT_FALSE(loop().Terminated());
  // A nested timed wait inside such a loop runs its full time.
  loop().KillTimer(id);
  open = true;
  uint64_t waited = 0;
  loop().Post([&] {
    const uint64_t before = loop().NowMs();
    loop().RunFor(1000);
    waited = loop().NowMs() - before;
    open = false;
  });
  loop().RunWhile([&] { return open; });
  EXPECT_EQ(waited, 1000u);
}

}  // namespace
