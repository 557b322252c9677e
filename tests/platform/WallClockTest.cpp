// The system's local time as the platform reads it agrees with the C
// library's local time.
#include <gtest/gtest.h>

#include <ctime>

#include "platform/WallClock.h"

namespace {

platform::LocalTime FromCLibrary() {
  const std::time_t now = std::time(nullptr);
  const std::tm* local = std::localtime(&now);
  return platform::LocalTime{local->tm_year + 1900, local->tm_mon + 1, local->tm_mday,
                             local->tm_hour,        local->tm_min,     local->tm_sec};
}

TEST(WallClockTest, NativeClockShowsTheLocalDateAndTime) {
  // Both readings within one second: retried across a change of the second.
  for (int attempt = 0; attempt < 5; ++attempt) {
    const platform::LocalTime before = FromCLibrary();
    const platform::LocalTime native = platform::NativeWallClock().Now();
    if (before == FromCLibrary()) {
      EXPECT_EQ(native, before);
      return;
    }
  }
  FAIL() << "the clock never held still for a second";
}

}  // namespace
