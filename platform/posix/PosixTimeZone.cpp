// The local zone's rules on POSIX: the TZ variable's rule, or the rule that
// ends a zone file (TZ naming one, else /etc/localtime); with none, UTC.
// Read once: the zone does not change under a running program.
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>

#include "platform/TimeZone.h"

namespace platform {
namespace {

// The POSIX rule on the last line of a zone file of version 2 or later.
std::optional<std::string> ZoneFileRule(const std::string& path) {
  std::ifstream file(path, std::ios::binary);
  std::string bytes((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
  if (bytes.size() < 6 || bytes.compare(0, 4, "TZif") != 0 || bytes[4] < '2' ||
      bytes.back() != '\n')
    return std::nullopt;
  bytes.pop_back();
  const size_t start = bytes.rfind('\n');
  if (start == std::string::npos)
    return std::nullopt;
  return bytes.substr(start + 1);
}

TimeZoneRules ReadLocalZone() {
  std::optional<std::string> rule;
  const char* tz = std::getenv("TZ");
  if (tz && *tz) {
    std::string name = tz[0] == ':' ? tz + 1 : tz;
    if (tz[0] != ':') {
      if (auto rules = ParseTzRule(name))
        return *rules;
    }
    rule = ZoneFileRule(!name.empty() && name[0] == '/' ? name : "/usr/share/zoneinfo/" + name);
  } else {
    rule = ZoneFileRule("/etc/localtime");
  }
  if (rule) {
    if (auto rules = ParseTzRule(*rule))
      return *rules;
  }
  return {};
}

}  // namespace

TimeZoneRules LocalTimeZone() {
  static const TimeZoneRules rules = ReadLocalZone();
  return rules;
}

}  // namespace platform
