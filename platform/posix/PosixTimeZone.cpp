// The local zone's rules on POSIX, found as the C library finds them: TZ
// unset: the zone file /etc/localtime; TZ empty: UTC; TZ ":name": the zone file
// `name`; any other TZ: the zone file of that name when there is one
// ("EST5EDT", "Europe/Berlin"), else TZ as a rule, whose daylight time
// without transitions ("CET-1CEST") takes those of the zone file
// "posixrules", or the US ones. A relative name is looked up in TZDIR, else
// in the system's zone folder. With none of these, UTC.
//
// Read again whenever TZ or TZDIR changes, or a zone file that was looked at
// changes (or appears): one stat per file and call while nothing changes.
#include <sys/stat.h>

#include <cstdlib>
#include <fstream>
#include <iterator>
#include <mutex>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "platform/TimeZone.h"

namespace platform {
namespace {

constexpr const char* kLocalZoneFile = "/etc/localtime";
constexpr const char* kSystemZoneFolder = "/usr/share/zoneinfo";
// Where a rule's daylight time without transitions takes them from, and
// what it takes without that file.
constexpr const char* kDefaultRulesName = "posixrules";
constexpr const char* kUsTransitions = ",M3.2.0,M11.1.0";

std::optional<std::string> Environment(const char* name) {
  const char* value = std::getenv(name);
  return value ? std::optional<std::string>(value) : std::nullopt;
}

// What tells a zone file from its next version.
struct FileStamp {
  bool exists = false;
  dev_t device = 0;
  ino_t inode = 0;
  off_t size = 0;
  long long seconds = 0;
  long nanoseconds = 0;
  friend bool operator==(const FileStamp&, const FileStamp&) = default;
};

FileStamp StampOf(const std::string& path) {
  struct stat st;
  if (stat(path.c_str(), &st) != 0)
    return {};
  return {true, st.st_dev, st.st_ino, st.st_size, st.st_mtim.tv_sec, st.st_mtim.tv_nsec};
}

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

// One look-up of the zone: its rules and the files it looked at, each as
// it was before it was read.
class ZoneLookup {
 public:
  ZoneLookup(std::optional<std::string> tz, std::optional<std::string> tzdir)
      : tz_(std::move(tz)), tzdir_(std::move(tzdir)) {}

  TimeZoneRules Find() {
    if (!tz_)
      return RulesOfFile(kLocalZoneFile).value_or(TimeZoneRules{});
    if (tz_->empty())
      return {};
    const bool fileOnly = (*tz_)[0] == ':';
    const std::string name = fileOnly ? tz_->substr(1) : *tz_;
    if (!name.empty()) {
      if (std::optional<TimeZoneRules> rules = RulesOfFile(ZonePath(name)))
        return *rules;
    }
    if (fileOnly)
      return {};
    std::optional<TimeZoneRules> rules = ParseTzRule(name);
    if (!rules)
      return {};
    // A daylight name without transitions: the same text with the default
    // ones has daylight time, which the text alone has not.
    if (!rules->daylightInUse && name.find(',') == std::string::npos) {
      if (std::optional<TimeZoneRules> completed = ParseTzRule(name + DefaultTransitions());
          completed && completed->daylightInUse)
        return *completed;
    }
    return *rules;
  }

  // Whether the environment and every file looked at are as they were.
  bool Unchanged() const {
    if (Environment("TZ") != tz_ || Environment("TZDIR") != tzdir_)
      return false;
    for (const auto& [path, stamp] : files_) {
      if (StampOf(path) != stamp)
        return false;
    }
    return true;
  }

 private:
  std::string ZonePath(const std::string& name) const {
    if (name[0] == '/')
      return name;
    return (tzdir_ && !tzdir_->empty() ? *tzdir_ : std::string(kSystemZoneFolder)) + "/" + name;
  }

  std::optional<std::string> FileRule(const std::string& path) {
    files_.emplace_back(path, StampOf(path));
    return ZoneFileRule(path);
  }

  std::optional<TimeZoneRules> RulesOfFile(const std::string& path) {
    const std::optional<std::string> rule = FileRule(path);
    return rule ? ParseTzRule(*rule) : std::nullopt;
  }

  // ",start,end" of the default rules file's rule, when it has daylight time.
  std::string DefaultTransitions() {
    const std::optional<std::string> rule = FileRule(ZonePath(kDefaultRulesName));
    if (rule) {
      const std::optional<TimeZoneRules> rules = ParseTzRule(*rule);
      const size_t comma = rule->find(',');
      if (rules && rules->daylightInUse && comma != std::string::npos)
        return rule->substr(comma);
    }
    return kUsTransitions;
  }

  std::optional<std::string> tz_;
  std::optional<std::string> tzdir_;
  std::vector<std::pair<std::string, FileStamp>> files_;
};

}  // namespace

TimeZoneRules LocalTimeZone() {
  static std::mutex mutex;
  static std::optional<ZoneLookup> last;
  static TimeZoneRules rules;
  const std::lock_guard lock(mutex);
  if (!last || !last->Unchanged()) {
    last.emplace(Environment("TZ"), Environment("TZDIR"));
    rules = last->Find();
  }
  return rules;
}

}  // namespace platform
