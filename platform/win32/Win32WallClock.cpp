// The local time as the system keeps it.
#include <windows.h>

#include "platform/WallClock.h"

namespace platform {
namespace {

class Win32WallClock final : public WallClock {
 public:
  LocalTime Now() override {
    SYSTEMTIME local;
    GetLocalTime(&local);
    return LocalTime{local.wYear, local.wMonth,  local.wDay,
                     local.wHour, local.wMinute, local.wSecond};
  }
};

}  // namespace

WallClock& NativeWallClock() {
  static Win32WallClock clock;
  return clock;
}

}  // namespace platform
