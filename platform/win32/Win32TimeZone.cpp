// The local zone's rules as the system's time-zone information gives them.
#include <windows.h>

#include "platform/TimeZone.h"

namespace platform {
namespace {

ZoneTransition Transition(const SYSTEMTIME& time) {
  return ZoneTransition{
      time.wYear, time.wMonth, time.wDay, time.wDayOfWeek,
      ((time.wHour * 60 + time.wMinute) * 60 + time.wSecond) * 1000 + time.wMilliseconds};
}

}  // namespace

TimeZoneRules LocalTimeZone() {
  TIME_ZONE_INFORMATION info{};
  const DWORD result = GetTimeZoneInformation(&info);
  if (result == TIME_ZONE_ID_INVALID)
    return {};
  TimeZoneRules rules;
  rules.bias = info.Bias;
  rules.standardBias = info.StandardBias;
  rules.daylightBias = info.DaylightBias;
  rules.standardDate = Transition(info.StandardDate);
  rules.daylightDate = Transition(info.DaylightDate);
  rules.daylightInUse = result != TIME_ZONE_ID_UNKNOWN && info.StandardDate.wMonth != 0;
  return rules;
}

}  // namespace platform
