// The toolkit's clock: the current UTC time, the system's 32-bit millisecond
// tick and the local zone's rules. Installed like the platform's services
// (platform::ScopedService<toolkit::Clock>); tests install a ManualClock.
#pragma once

#include <cstdint>
#include <mutex>

#include "platform/Services.h"
#include "platform/TimeZone.h"
#include "vcl/SysUtils.h"

namespace toolkit {

class Clock {
 public:
  virtual ~Clock() = default;
  virtual vcl::TDateTime NowUTC() = 0;
  virtual uint32_t TickCount() = 0;
  virtual platform::TimeZoneRules Zone() = 0;
};

// The system clock, the steady clock's milliseconds and the local zone.
Clock& NativeClock();

}  // namespace toolkit

template <>
inline toolkit::Clock*& platform::ScopedService<toolkit::Clock>::Slot() {
  static toolkit::Clock* installed = nullptr;
  return installed;
}

namespace toolkit {

// The installed clock (a test's) or the system's.
inline Clock& InstalledClock() {
  Clock* installed = platform::ScopedService<Clock>::Slot();
  return installed ? *installed : NativeClock();
}

// Shows what it was last set to; safe to read from any thread.
class ManualClock final : public Clock {
 public:
  vcl::TDateTime NowUTC() override {
    std::lock_guard lock(mutex_);
    return now_;
  }
  uint32_t TickCount() override {
    std::lock_guard lock(mutex_);
    return tick_;
  }
  platform::TimeZoneRules Zone() override {
    std::lock_guard lock(mutex_);
    return zone_;
  }
  void SetNow(vcl::TDateTime now) {
    std::lock_guard lock(mutex_);
    now_ = now;
  }
  void SetTick(uint32_t tick) {
    std::lock_guard lock(mutex_);
    tick_ = tick;
  }
  void SetZone(const platform::TimeZoneRules& zone) {
    std::lock_guard lock(mutex_);
    zone_ = zone;
  }

 private:
  std::mutex mutex_;
  vcl::TDateTime now_ = 0;
  uint32_t tick_ = 0;
  platform::TimeZoneRules zone_;
};

}  // namespace toolkit
