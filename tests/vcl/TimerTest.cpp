// TTimer on the virtual clock: enabling a running timer does not restart it,
// a new interval does, a tolerance lets ticks ride along with other wakes,
// interval 0 never fires, missed ticks come as one, and a timer may be
// stopped or freed from its own handler or with its owner, and behind an
// error box its timer waits while the others run.
#include <algorithm>
#include <functional>
#include <vector>

#include "VclTestEnvironment.h"
#include "platform/MessageBoxes.h"
#include "platform/Services.h"
#include "vcl/ExtCtrls.h"

namespace {

using vcl::TTimer;
using Ticks = std::vector<uint64_t>;

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

  Ticks ticks;
  uint64_t start_;
};

TEST_F(TimerTest, ANewTimerIsEnabledWithOneSecondAndRunsOnceItHasAHandler) {
  vcl::Owned<TTimer> timer(new TTimer(nullptr));
  EXPECT_FALSE(timer->Running());  // no handler yet
  timer->SetOnTimer([this](vcl::TObject*) { ticks.push_back(1); });
  EXPECT_TRUE(timer->Running());
  Advance(1000);
  EXPECT_EQ(ticks.size(), 1u);
}

TEST_F(TimerTest, EnablingAndIntervalsFollowTheClassLibrarysRules) {
  // Steps at given times after the start, then the ticks seen until `end`.
  using Act = std::function<void(TTimer&)>;
  const Act on = [](TTimer& t) { t.SetEnabled(true); };
  const Act off = [](TTimer& t) { t.SetEnabled(false); };
  const auto every = [](uint32_t ms) { return Act([ms](TTimer& t) { t.SetInterval(ms); }); };
  const auto tolerate = [](uint32_t ms) { return Act([ms](TTimer& t) { t.SetTolerance(ms); }); };
  const Act rest = [](TTimer& t) { t.SetRestsWhileIdle(true); };
  // The loop wakes for something else.
  const Act wake = [](TTimer&) {};
  struct Case {
    const char* what;
    uint32_t interval;
    std::vector<std::pair<uint64_t, Act>> steps;
    uint64_t end;
    Ticks expected;
  };
  const Case cases[] = {
      {"ticks every interval", 300, {{0, on}}, 1000, {300, 600, 900}},
      {"disabled does not tick", 100, {{1000, on}, {1250, off}}, 3000, {1100, 1200}},
      {"enabling a running timer does not restart it",
       1000,
       {{0, on}, {700, on}},
       2100,
       {1000, 2000}},
      {"off and on again restarts it", 1000, {{0, on}, {700, off}, {700, on}}, 2000, {1700}},
      {"a new interval restarts it", 1000, {{0, on}, {700, every(500)}}, 1300, {1200}},
      {"the same interval changes nothing", 1000, {{0, on}, {700, every(1000)}}, 1000, {1000}},
      {"an interval set while disabled counts from enabling",
       1000,
       {{100, every(200)}, {500, on}},
       900,
       {700, 900}},
      {"a tolerance lets a tick come early in another wake, and does not restart it",
       1000,
       {{0, on}, {500, tolerate(400)}, {650, wake}},
       1000,
       {650}},
      {"a tolerance set while disabled holds from enabling",
       1000,
       {{0, tolerate(300)}, {100, on}, {800, wake}},
       1900,
       {800, 1800}},
      {"resting while idle, it ticks with other work, and so after a restart",
       100,
       {{0, rest}, {0, on}, {450, wake}, {470, every(200)}},
       900,
       {100, 450, 670, 900}},
      {"interval 0 never fires, a later interval starts it, 0 stops it",
       0,
       {{0, on}, {100000, every(100)}, {100250, every(0)}},
       200000,
       {100100, 100200}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    start_ = loop().NowMs();
    ticks.clear();
    auto timer = MakeTimer(c.interval);
    for (const auto& [at, act] : c.steps) {
      AdvanceTo(at);
      act(*timer);
    }
    AdvanceTo(c.end);
    EXPECT_EQ(ticks, c.expected);
  }
}

TEST_F(TimerTest, TicksMissedWhileTheLoopWasBlockedComeAsOne) {
  auto timer = MakeTimer(100);
  timer->SetEnabled(true);
  AdvanceTo(100);
  clock().Jump(550);  // the loop is blocked (a sleep on the main thread) until 650
  AdvanceTo(800);
  EXPECT_EQ(ticks, (Ticks{100, 650, 750}));
}

TEST_F(TimerTest, AHandlerMayStopOrFreeItsTimerAndAnOwnersEndStopsIt) {
  auto* freed = new TTimer(nullptr);
  freed->SetInterval(100);
  freed->SetOnTimer([&](vcl::TObject* sender) {
    ticks.push_back(1);
    vcl::Free(static_cast<TTimer*>(sender));
  });
  auto stopped = MakeTimer(100);
  stopped->SetOnTimer([&](vcl::TObject*) {
    ticks.push_back(2);
    stopped->SetEnabled(false);
  });
  stopped->SetEnabled(true);
  auto* form = vcl::Application().CreateForm<vcl::TForm>();
  auto* owned = new TTimer(form);
  owned->SetInterval(100);
  owned->SetOnTimer([this](vcl::TObject*) { ticks.push_back(3); });
  AdvanceTo(250);
  vcl::Free(form);
  AdvanceTo(1000);
  std::sort(ticks.begin(), ticks.end());
  EXPECT_EQ(ticks, (Ticks{1, 2, 3, 3}));
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

// An error box stays on the screen for a second; the loop's work goes on
// behind it, as it does behind a real one.
class BoxOnScreen final : public platform::ScriptedMessageBoxes {
 public:
  int Show(const std::string& text, const std::string& caption, uint32_t flags) override {
    ++opened;
    platform::MainLoop().RunFor(1000);
    return ScriptedMessageBoxes::Show(text, caption, flags);
  }
  int opened = 0;
};

TEST_F(TimerTest, BehindAnErrorBoxItsTimerWaitsOtherTimersRunAndTheirErrorsOpenNoSecondBox) {
  BoxOnScreen box;
  platform::ScopedService<platform::MessageBoxes> boxGuard(box);
  auto failing = MakeTimer(100);
  failing->SetOnTimer([this](vcl::TObject*) {
    ticks.push_back(loop().NowMs() - start_);
    if (ticks.size() == 1)
      throw std::runtime_error("Division by zero");
  });
  failing->SetEnabled(true);
  Ticks other;
  auto alsoFailing = MakeTimer(300);
  alsoFailing->SetOnTimer([&](vcl::TObject*) {
    other.push_back(loop().NowMs() - start_);
    throw std::runtime_error("Range check error");
  });
  alsoFailing->SetEnabled(true);
  AdvanceTo(1150);
  EXPECT_EQ(ticks, (Ticks{100, 1100}));
  EXPECT_EQ(other, (Ticks{300, 600, 900}));
  EXPECT_EQ(box.opened, 1);
  AdvanceTo(1250);  // the box is closed: the next error has one of its own
  EXPECT_EQ(box.opened, 2);
}

}  // namespace
