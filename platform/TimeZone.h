// The local time zone's rules in the shape the Windows time-zone
// information has: biases in minutes (UTC = local time + bias) and the two
// yearly transitions. Windows asks the system; POSIX finds the zone as the C
// library does, from TZ, TZDIR and the zone files (whose last line holds a
// TZ rule, "CET-1CEST,M3.5.0,M10.5.0/3"); with none, UTC.
#pragma once

#include <cstdint>
#include <optional>
#include <string_view>

namespace platform {

// With year 0: the `day`-th (5: the last) `dayOfWeek` (0 Sunday) of `month`;
// with a year: that date. In both, `timeOfDayMs` after midnight.
struct ZoneTransition {
  int year = 0;
  int month = 0;
  int day = 0;
  int dayOfWeek = 0;
  int32_t timeOfDayMs = 0;
  friend bool operator==(const ZoneTransition&, const ZoneTransition&) = default;
};

struct TimeZoneRules {
  int32_t bias = 0;
  int32_t standardBias = 0;
  int32_t daylightBias = 0;
  // When standard time starts (a time in daylight time) and when daylight
  // time starts (a time in standard time).
  ZoneTransition standardDate;
  ZoneTransition daylightDate;
  bool daylightInUse = false;
  friend bool operator==(const TimeZoneRules&, const TimeZoneRules&) = default;
};

// A POSIX TZ rule: a zone name (letters, or "<...>"), its offset west of
// UTC ([+-]hh[:mm[:ss]]), then optionally a daylight name with an optional
// offset (default one hour less) and two transitions "Mm.w.d[/time]" (time
// [+-]h[:mm[:ss]], default 02:00). Transitions of another form ("Jn", "n"),
// or none, mean no daylight saving. Nothing for a text that is no rule.
std::optional<TimeZoneRules> ParseTzRule(std::string_view rule);

// The rules in force on this machine now: asked for at every call (POSIX
// reads the zone again when TZ, TZDIR or a zone file it read changed).
TimeZoneRules LocalTimeZone();

}  // namespace platform
