// The power controls on POSIX, a stand-in that never touches the machine: a
// user's process cannot raise its own priority class nor end the session, so
// the class and the shutdown level are kept and reported back, and a request
// to shut down is said on standard error and ends korvamon the way the
// system's close request does. The processor load comes from /proc/stat.
#include <charconv>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <optional>
#include <sstream>
#include <thread>

#include "platform/Power.h"
#include "platform/System.h"
#include "platform/posix/ProcStat.h"

namespace platform {
namespace posix {
namespace {

struct CpuTimes {
  unsigned long long busy = 0;
  unsigned long long idle = 0;
};

std::optional<CpuTimes> ReadCpu0(const std::string& path) {
  std::ifstream file(path);
  std::string line;
  while (std::getline(file, line)) {
    std::istringstream fields(line);
    std::string name;
    fields >> name;
    if (name != "cpu0")
      continue;
    // user nice system idle iowait irq softirq steal; guests are counted in user.
    unsigned long long values[8] = {};
    int read = 0;
    while (read < 8 && fields >> values[read])
      ++read;
    if (read < 4)
      return std::nullopt;
    CpuTimes times;
    times.idle = values[3] + values[4];
    for (int i = 0; i < 8; ++i) {
      if (i != 3 && i != 4)
        times.busy += values[i];
    }
    return times;
  }
  return std::nullopt;
}

}  // namespace

double ProcessorLoadFromStat(const std::string& path, const std::function<void()>& between) {
  const std::optional<CpuTimes> first = ReadCpu0(path);
  if (!first)
    return -1.0;
  if (between)
    between();
  const std::optional<CpuTimes> second = ReadCpu0(path);
  if (!second || second->busy < first->busy || second->idle < first->idle)
    return -1.0;
  const double busy = static_cast<double>(second->busy - first->busy);
  const double idle = static_cast<double>(second->idle - first->idle);
  return busy + idle > 0 ? 100.0 * busy / (busy + idle) : 0.0;
}

}  // namespace posix

namespace {

constexpr auto kLoadInterval = std::chrono::milliseconds(300);

class PosixPower final : public KeptPower {
 public:
  Privilege EnableShutdownPrivilege(std::string&) override { return Privilege::Enabled; }
  bool ExitSession(uint32_t flags, std::string&) override {
    std::fprintf(stderr, "korvamon: system shutdown requested (flags %u)\n", flags);
    std::fflush(stderr);
    PostTerminationRequest();
    return true;
  }
  bool BindProcessorLoad() override { return true; }
  double ProcessorLoad() override {
    return posix::ProcessorLoadFromStat("/proc/stat",
                                        [] { std::this_thread::sleep_for(kLoadInterval); });
  }
};

}  // namespace

Power& NativePower() {
  static PosixPower power;
  return power;
}

}  // namespace platform
