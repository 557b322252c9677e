// pulse-timing: how exactly the shutdown pulse train hits its gaps. It runs
// the real pulse thread (TAbschaltimpuls, on the system's pulse clock) on a
// TSerial whose port only records when each RTS change reached it, for a
// number of trains, first on an idle machine, then with every core kept
// busy by spinning threads of its own. For each gap of the train it reports
// the minimum, maximum and spread in microseconds, and the CPU time the
// pulse thread spent per train.
//   pulse-timing [trains per run, default 100] [--idle-only | --busy-only]
#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "ThreadCpu.h"
#include "monitor/Abschaltsignal.h"
#include "monitor/Serial.h"
#include "platform/PulseClock.h"
#include "platform/SerialPort.h"

namespace {

using Clock = std::chrono::steady_clock;

// The gaps of one train: the lead-in to edge 1, then between the edges.
constexpr int kGaps = 7;
constexpr double kNominalMs[kGaps] = {290, 36, 36, 220, 220, 220, 36};

// A port that accepts every setting and notes when each RTS level arrived.
class RecordingPort final : public platform::SerialPort {
 public:
  bool SetupQueues(uint32_t, uint32_t) override { return true; }
  bool SetState(const platform::DeviceControlBlock& block) override {
    if (block.rtsControl == platform::RTS_CONTROL_ENABLE ||
        block.rtsControl == platform::RTS_CONTROL_DISABLE) {
      std::lock_guard lock(mutex_);
      changes_.push_back(Clock::now());
    }
    return true;
  }
  bool SetEventMask(uint32_t) override { return true; }
  bool WaitEvent(uint32_t& events) override {
    events = 0;
    return false;
  }
  bool ClearError(uint32_t& errors, platform::CommStatus& status) override {
    errors = 0;
    status = {};
    return true;
  }
  bool Read(void*, uint32_t, uint32_t& done) override {
    done = 0;
    return true;
  }
  bool Write(const void*, uint32_t count, uint32_t& done) override {
    done = count;
    return true;
  }
  bool Purge(uint32_t) override { return true; }
  void Close() override {}
  void Abort() override {}
  intptr_t Handle() const override { return 1; }
  uint32_t LastError() const override { return 0; }

  std::vector<Clock::time_point> Take() {
    std::lock_guard lock(mutex_);
    return std::exchange(changes_, {});
  }

 private:
  std::mutex mutex_;
  std::vector<Clock::time_point> changes_;
};

class RecordingPorts final : public platform::SerialPorts {
 public:
  std::shared_ptr<platform::SerialPort> Open(const std::string&, uint32_t& error) override {
    error = 0;
    return port;
  }
  bool Exists(const std::string&) override { return true; }
  std::string ErrorText(uint32_t) override { return {}; }

  std::shared_ptr<RecordingPort> port = std::make_shared<RecordingPort>();
};

struct Stats {
  double min = 1e18;
  double max = 0;
  void Add(double value) {
    min = std::min(min, value);
    max = std::max(max, value);
  }
};

// Keeps every core busy until destroyed.
class BusyCores {
 public:
  BusyCores() {
    const unsigned cores = std::max(1u, std::thread::hardware_concurrency());
    for (unsigned i = 0; i < cores; ++i) {
      threads_.emplace_back([this] {
        volatile uint64_t sink = 0;
        while (!stop_)
          sink = sink + 1;
      });
    }
  }
  ~BusyCores() {
    stop_ = true;
    for (std::thread& thread : threads_)
      thread.join();
  }
  BusyCores(const BusyCores&) = delete;
  BusyCores& operator=(const BusyCores&) = delete;

 private:
  std::atomic<bool> stop_{false};
  std::vector<std::thread> threads_;
};

bool RunTrains(const char* name, int trains, monitor::TSerial& serial, RecordingPort& port) {
  Stats gaps[kGaps];
  Stats cpu;
  for (int train = 0; train < trains; ++train) {
    serial.RTSActive = true;
    std::mutex mutex;
    std::condition_variable ended;
    bool done = false;
    double cpuUs = 0;
    monitor::TAbschaltimpuls pulse(serial, platform::NativePulseClock());
    pulse.LogEdges = true;
    pulse.OnLine = [](const std::string&) {};
    pulse.OnDone = [&](bool) {
      const double used = pulse_timing::ThreadCpuUs();
      std::lock_guard lock(mutex);
      cpuUs = used;
      done = true;
      ended.notify_all();
    };
    pulse.Start();
    {
      std::unique_lock lock(mutex);
      if (!ended.wait_for(lock, std::chrono::seconds(10), [&] { return done; })) {
        std::fprintf(stderr, "pulse-timing: train %d did not end\n", train + 1);
        return false;
      }
    }
    pulse.WaitFor();
    const std::vector<Clock::time_point> changes = port.Take();
    if (changes.size() != kGaps + 1) {
      std::fprintf(stderr, "pulse-timing: train %d made %zu RTS changes\n", train + 1,
                   changes.size());
      return false;
    }
    for (int gap = 0; gap < kGaps; ++gap) {
      gaps[gap].Add(static_cast<double>(
          std::chrono::duration_cast<std::chrono::microseconds>(changes[gap + 1] - changes[gap])
              .count()));
    }
    cpu.Add(cpuUs);
  }
  std::printf("%s, %d trains:\n", name, trains);
  std::printf("  gap  nominal      min us      max us   spread us\n");
  for (int gap = 0; gap < kGaps; ++gap) {
    std::printf("  %d    %4.0f ms  %10.0f  %10.0f  %10.0f\n", gap + 1, kNominalMs[gap],
                gaps[gap].min, gaps[gap].max, gaps[gap].max - gaps[gap].min);
  }
  std::printf("  CPU of the pulse thread per train: %.0f .. %.0f ms\n", cpu.min / 1000,
              cpu.max / 1000);
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  int trains = 100;
  bool idle = true;
  bool busy = true;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--idle-only") {
      busy = false;
    } else if (arg == "--busy-only") {
      idle = false;
    } else if (const int n = std::atoi(argv[i]); n > 0) {
      trains = n;
    } else {
      std::fprintf(stderr, "usage: pulse-timing [trains] [--idle-only | --busy-only]\n");
      return 2;
    }
  }

  RecordingPorts ports;
  const platform::ScopedService<platform::SerialPorts> installed(ports);
  monitor::TSerial serial(nullptr);
  serial.HandshakeRtsCts = false;
  serial.SetCOMPort(1);
  if (!serial.Open(false)) {
    std::fprintf(stderr, "pulse-timing: the recording port did not open\n");
    return 1;
  }
  ports.port->Take();
  if (idle && !RunTrains("idle", trains, serial, *ports.port))
    return 1;
  if (busy) {
    const BusyCores cores;
    if (!RunTrains("every core busy", trains, serial, *ports.port))
      return 1;
  }
  return 0;
}
