#include "toolkit/Clock.h"

#include <chrono>

namespace toolkit {
namespace {

// 1 January 1970 as a TDateTime.
constexpr double kUnixEpoch = 25569.0;

class SystemClock final : public Clock {
 public:
  vcl::TDateTime NowUTC() override {
    using namespace std::chrono;
    const auto ms = duration_cast<milliseconds>(system_clock::now().time_since_epoch()).count();
    return kUnixEpoch + static_cast<double>(ms) / vcl::MSecsPerDay;
  }
  uint32_t TickCount() override {
    using namespace std::chrono;
    const auto ms = duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
    return static_cast<uint32_t>(ms);
  }
  platform::TimeZoneRules Zone() override { return platform::LocalTimeZone(); }
};

}  // namespace

Clock& NativeClock() {
  static SystemClock clock;
  return clock;
}

}  // namespace toolkit
