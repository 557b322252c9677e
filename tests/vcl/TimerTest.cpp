#include <vector>

#include "VclTestEnvironment.h"
#include "vcl/ExtCtrls.h"

namespace {

using vcl::TTimer;

class TimerTest : public korva_test::VclTest {
 protected:
  TimerTest() : start_(loop().NowMs()) {}

  // A timer as the forms make theirs: disabled at design time, then a
  // handler that records the tick times relative to the test's start.
  vcl::Owned<TTimer> MakeTimer(uint32_t interval) {
    vcl::Owned<TTimer> timer(new TTimer(nullptr));
    timer->SetEnabled(false);
    timer->SetInterval(interval);
    timer->SetOnTimer([this](vcl::TObject*) { ticks.push_back(loop().NowMs() - start_); });
    return timer;
  }
  // Lets time pass until `ms` after the start.
  void AdvanceTo(uint64_t ms) { loop().RunUntil(start_ + ms); }

  std::vector<uint64_t> ticks;

 private:
  uint64_t start_;
};

TEST_F(TimerTest, ANewTimerIsEnabledWithOneSecondAndRunsOnceItHasAHandler) {
  vcl::Owned<TTimer> timer(new TTimer(nullptr));
  EXPECT_TRUE(timer->Enabled());
  EXPECT_EQ(timer->Interval(), 1000u);
  EXPECT_FALSE(timer->Running());  // no handler yet
  timer->SetOnTimer([this](vcl::TObject*) { ticks.push_back(1); });
  EXPECT_TRUE(timer->Running());
  Advance(1000);
  EXPECT_EQ(ticks.size(), 1u);
}

TEST_F(TimerTest, AnEnabledTimerTicksEveryInterval) {
  auto timer = MakeTimer(300);
  timer->SetEnabled(true);
  AdvanceTo(1000);
  EXPECT_EQ(ticks, (std::vector<uint64_t>{300, 600, 900}));
}

TEST_F(TimerTest, ADisabledTimerDoesNotTick) {
  auto timer = MakeTimer(100);
  AdvanceTo(1000);
  EXPECT_TRUE(ticks.empty());
  timer->SetEnabled(true);
  AdvanceTo(1250);
  timer->SetEnabled(false);
  AdvanceTo(3000);
  EXPECT_EQ(ticks, (std::vector<uint64_t>{1100, 1200}));
}

TEST_F(TimerTest, EnablingARunningTimerDoesNotRestartIt) {
  auto timer = MakeTimer(1000);
  timer->SetEnabled(true);
  AdvanceTo(700);
  timer->SetEnabled(true);
  AdvanceTo(2100);
  EXPECT_EQ(ticks, (std::vector<uint64_t>{1000, 2000}));
}

TEST_F(TimerTest, DisablingAndEnablingAgainRestartsTheInterval) {
  auto timer = MakeTimer(1000);
  timer->SetEnabled(true);
  AdvanceTo(700);
  timer->SetEnabled(false);
  timer->SetEnabled(true);
  AdvanceTo(2000);
  EXPECT_EQ(ticks, (std::vector<uint64_t>{1700}));
}

TEST_F(TimerTest, ANewIntervalRestartsARunningTimer) {
  auto timer = MakeTimer(1000);
  timer->SetEnabled(true);
  AdvanceTo(700);
  timer->SetInterval(500);
  AdvanceTo(1300);
  EXPECT_EQ(ticks, (std::vector<uint64_t>{1200}));
}

TEST_F(TimerTest, TheSameIntervalAgainChangesNothing) {
  auto timer = MakeTimer(1000);
  timer->SetEnabled(true);
  AdvanceTo(700);
  timer->SetInterval(1000);
  AdvanceTo(1000);
  EXPECT_EQ(ticks, (std::vector<uint64_t>{1000}));
}

TEST_F(TimerTest, AnIntervalSetWhileDisabledTakesEffectOnEnabling) {
  auto timer = MakeTimer(1000);
  AdvanceTo(100);
  timer->SetInterval(200);
  AdvanceTo(500);
  EXPECT_TRUE(ticks.empty());
  timer->SetEnabled(true);
  AdvanceTo(900);
  EXPECT_EQ(ticks, (std::vector<uint64_t>{700, 900}));
}

TEST_F(TimerTest, IntervalZeroNeverFires) {
  auto timer = MakeTimer(0);
  timer->SetEnabled(true);
  EXPECT_TRUE(timer->Enabled());
  EXPECT_FALSE(timer->Running());
  AdvanceTo(100000);
  EXPECT_TRUE(ticks.empty());
  // Setting an interval on the enabled timer starts it.
  timer->SetInterval(100);
  AdvanceTo(100250);
  EXPECT_EQ(ticks, (std::vector<uint64_t>{100100, 100200}));
  // And zero stops it again.
  timer->SetInterval(0);
  AdvanceTo(200000);
  EXPECT_EQ(ticks.size(), 2u);
}

TEST_F(TimerTest, TicksMissedWhileTheLoopWasBlockedComeAsOne) {
  auto timer = MakeTimer(100);
  timer->SetEnabled(true);
  AdvanceTo(100);
  clock().Jump(550);  // the loop is blocked (a sleep on the main thread) until 650
  AdvanceTo(800);
  EXPECT_EQ(ticks, (std::vector<uint64_t>{100, 650, 750}));
}

TEST_F(TimerTest, AHandlerMayFreeItsOwnTimer) {
  auto* timer = new TTimer(nullptr);
  int fired = 0;
  timer->SetInterval(100);
  timer->SetOnTimer([&](vcl::TObject* sender) {
    ++fired;
    vcl::Free(static_cast<TTimer*>(sender));
  });
  AdvanceTo(1000);
  EXPECT_EQ(fired, 1);
}

TEST_F(TimerTest, AHandlerMayStopItsTimer) {
  auto timer = MakeTimer(100);
  timer->SetOnTimer([&](vcl::TObject*) {
    ticks.push_back(0);
    timer->SetEnabled(false);
  });
  timer->SetEnabled(true);
  AdvanceTo(1000);
  EXPECT_EQ(ticks.size(), 1u);
}

TEST_F(TimerTest, AFreedTimerNoLongerTicks) {
  auto timer = MakeTimer(100);
  timer->SetEnabled(true);
  AdvanceTo(150);
  timer.reset();
  AdvanceTo(1000);
  EXPECT_EQ(ticks, (std::vector<uint64_t>{100}));
}

TEST_F(TimerTest, TimersOwnedByAFormStopWithIt) {
  auto* form = vcl::Application().CreateForm<vcl::TForm>();
  auto* timer = new TTimer(form);
  timer->SetInterval(100);
  timer->SetOnTimer([this](vcl::TObject*) { ticks.push_back(0); });
  AdvanceTo(250);
  vcl::Free(form);
  AdvanceTo(1000);
  EXPECT_EQ(ticks.size(), 2u);
}

TEST_F(TimerTest, AnErrorInAHandlerIsReportedAndTheTimerGoesOn) {
  auto timer = MakeTimer(100);
  timer->SetOnTimer([this](vcl::TObject*) {
    ticks.push_back(0);
    throw std::runtime_error("Division by zero");
  });
  timer->SetEnabled(true);
  AdvanceTo(200);
  EXPECT_EQ(ticks.size(), 2u);
  EXPECT_EQ(boxes_.shown().size(), 2u);
}

}  // namespace
