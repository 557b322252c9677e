// libFuzzer target: TZ rules. Any text is a rule or none; a rule's local
// times lie within two days of UTC, for moments across the calendar.
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <optional>
#include <string_view>

#include "platform/TimeZone.h"
#include "toolkit/PsUtils.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  const std::optional<platform::TimeZoneRules> rules = platform::ParseTzRule(text);
  if (!rules)
    return 0;
  for (double utc : {-693593.5, -1.25, 0.0, 45383.04, 45592.5, 2958465.9}) {
    const double local = toolkit::UTCToLocalTime(utc, *rules);
    if (!std::isfinite(local) || std::fabs(local - utc) > 2)
      std::abort();
  }
  return 0;
}
