// The local time from the system clock and the time zone rules of TZ.
#include <time.h>

#include "platform/WallClock.h"

namespace platform {
namespace {

class PosixWallClock final : public WallClock {
 public:
  LocalTime Now() override {
    const time_t now = time(nullptr);
    struct tm local {};
    if (!localtime_r(&now, &local))
      return {};
    return LocalTime{local.tm_year + 1900, local.tm_mon + 1, local.tm_mday,
                     local.tm_hour,        local.tm_min,     local.tm_sec};
  }
};

}  // namespace

WallClock& NativeWallClock() {
  static PosixWallClock clock;
  return clock;
}

}  // namespace platform
