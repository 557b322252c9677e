// The local wall-clock time: the date and time of day as the user's clock
// shows them. Tests install a clock they set by hand.
#pragma once

#include <mutex>

#include "platform/Services.h"

namespace platform {

struct LocalTime {
  int year = 0;
  int month = 0;  // 1-12
  int day = 0;    // 1-31
  int hour = 0;
  int minute = 0;
  int second = 0;

  friend bool operator==(const LocalTime&, const LocalTime&) = default;
};

class WallClock {
 public:
  virtual ~WallClock() = default;
  virtual LocalTime Now() = 0;
};

// The system's local time (GetLocalTime on Windows, localtime_r on POSIX).
WallClock& NativeWallClock();

template <>
inline WallClock*& ScopedService<WallClock>::Slot() {
  static WallClock* installed = nullptr;
  return installed;
}

// The installed clock (a test's) or the system's.
inline WallClock& wallClock() {
  WallClock* installed = ScopedService<WallClock>::Slot();
  return installed ? *installed : NativeWallClock();
}

// Shows the time it was last set to.
class ManualWallClock final : public WallClock {
 public:
  explicit ManualWallClock(LocalTime now = {}) : now_(now) {}
  LocalTime Now() override {
    std::lock_guard lock(mutex_);
    return now_;
  }
  void Set(LocalTime now) {
    std::lock_guard lock(mutex_);
    now_ = now;
  }

 private:
  std::mutex mutex_;
  LocalTime now_;
};

}  // namespace platform
