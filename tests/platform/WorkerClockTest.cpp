// Worker threads that pace themselves: on the virtual clock each pause ends
// exactly when the clock reaches it, the clock waits for the worker's cycle
// before it moves on (also through a blocking sleep), and a stop ends a
// pause at once, here and on the system's clock.
#include <atomic>
#include <chrono>
#include <mutex>
#include <thread>
#include <vector>

#include "TestEnvironment.h"
#include "platform/VirtualClock.h"
#include "platform/WorkerClock.h"

namespace {

// A worker that notes the loop's time at each cycle and posts it.
class Worker {
 public:
  Worker(platform::WorkerClock& clock, uint32_t pauseMs) : clock_(clock) {
    clock_.Enter();
    thread_ = std::thread([this, pauseMs] {
      while (!stop_) {
        clock_.Pause(pauseMs, stop_);
        if (stop_)
          break;
        const uint64_t now = platform::MainLoop().NowMs();
        {
          std::lock_guard lock(mutex_);
          cycles_.push_back(now);
        }
        platform::MainLoop().Post([this, now] { handled_.push_back(now); });
      }
      clock_.Leave();
    });
  }
  ~Worker() { Stop(); }
  Worker(const Worker&) = delete;
  Worker& operator=(const Worker&) = delete;

  void Stop() {
    stop_ = true;
    clock_.Interrupt();
    if (thread_.joinable())
      thread_.join();
  }
  std::vector<uint64_t> cycles() {
    std::lock_guard lock(mutex_);
    return cycles_;
  }
  std::vector<uint64_t> handled_;  // loop thread only

 private:
  platform::WorkerClock& clock_;
  std::atomic<bool> stop_{false};
  std::mutex mutex_;
  std::vector<uint64_t> cycles_;
  std::thread thread_;
};

using WorkerClockTest = korva_test::VirtualTimeTest;

TEST_F(WorkerClockTest, CyclesFallAtTheirVirtualTimesBetweenTheLoopsWork) {
  platform::VirtualWorkerClock workers(clock());
  const uint64_t start = loop().NowMs();
  std::vector<uint64_t> ticks;
  loop().SetTimer(250, [&] { ticks.push_back(loop().NowMs() - start); });
  Worker worker(workers, 300);
  ASSERT_TRUE(workers.Settle());

  Advance(1000);
  std::vector<uint64_t> cycles;
  for (uint64_t at : worker.cycles())
    cycles.push_back(at - start);
  EXPECT_EQ(cycles, (std::vector<uint64_t>{300, 600, 900}));
  // Each cycle's post was handled at the cycle's time.
  EXPECT_EQ(worker.handled_, worker.cycles());
  EXPECT_EQ(ticks, (std::vector<uint64_t>{250, 500, 750, 1000}));

  // A blocking sleep of the loop's thread lets the worker's cycles run too.
  loop().Sleep(700);
  EXPECT_EQ(worker.cycles().size(), 5u);
  EXPECT_EQ(worker.cycles().back() - start, 1500u);
  worker.Stop();
}

TEST(SystemWorkerClockTest, AStopEndsAPauseAtOnce) {
  platform::SystemWorkerClock clock;
  std::atomic<bool> stop{false};
  const auto begin = std::chrono::steady_clock::now();
  std::thread stopper([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    stop = true;
    clock.Interrupt();
  });
  clock.Pause(60'000, stop);
  stopper.join();
  EXPECT_LT(std::chrono::steady_clock::now() - begin, std::chrono::seconds(30));
}

}  // namespace
