// Reading POSIX TZ rules into the Windows shape of time-zone information.
#include "platform/TimeZone.h"

namespace platform {
namespace {

bool IsAlpha(char c) {
  return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
}

bool IsDigit(char c) {
  return c >= '0' && c <= '9';
}

class RuleReader {
 public:
  explicit RuleReader(std::string_view text) : text_(text) {}

  bool AtEnd() const { return i_ == text_.size(); }
  bool Take(char c) {
    if (i_ < text_.size() && text_[i_] == c) {
      ++i_;
      return true;
    }
    return false;
  }
  bool Peek(bool (*test)(char)) const { return i_ < text_.size() && test(text_[i_]); }

  // Three or more letters, or "<" letters, digits and signs ">".
  bool Name() {
    if (Take('<')) {
      const size_t start = i_;
      while (i_ < text_.size() &&
             (IsAlpha(text_[i_]) || IsDigit(text_[i_]) || text_[i_] == '+' || text_[i_] == '-'))
        ++i_;
      return i_ - start >= 3 && Take('>');
    }
    const size_t start = i_;
    while (i_ < text_.size() && IsAlpha(text_[i_]))
      ++i_;
    return i_ - start >= 3;
  }

  // Up to `maxDigits` digits, at most `max`.
  bool Number(int maxDigits, int max, int& value) {
    const size_t start = i_;
    value = 0;
    while (i_ < text_.size() && IsDigit(text_[i_]) && i_ - start < static_cast<size_t>(maxDigits))
      value = value * 10 + (text_[i_++] - '0');
    return i_ > start && value <= max;
  }

  // [+-]hh[:mm[:ss]] in seconds, hours up to `maxHours`.
  bool Time(int maxHours, int32_t& seconds) {
    const bool negative = Take('-');
    if (!negative)
      Take('+');
    int hours = 0, minutes = 0, secs = 0;
    if (!Number(3, maxHours, hours))
      return false;
    if (Take(':') && (!Number(2, 59, minutes) || (Take(':') && !Number(2, 59, secs))))
      return false;
    seconds = (hours * 60 + minutes) * 60 + secs;
    if (negative)
      seconds = -seconds;
    return true;
  }

  // One transition; `monthForm` tells whether it had the "M" form.
  bool Transition(ZoneTransition& transition, bool& monthForm) {
    monthForm = Take('M');
    if (monthForm) {
      if (!Number(2, 12, transition.month) || transition.month < 1 || !Take('.') ||
          !Number(1, 5, transition.day) || transition.day < 1 || !Take('.') ||
          !Number(1, 6, transition.dayOfWeek))
        return false;
    } else {
      const bool julian = Take('J');
      int day = 0;
      if (!Number(3, 365, day) || (julian && day < 1))
        return false;
    }
    int32_t seconds = 2 * 3600;
    if (Take('/') && !Time(167, seconds))
      return false;
    transition.timeOfDayMs = seconds * 1000;
    return true;
  }

 private:
  std::string_view text_;
  size_t i_ = 0;
};

}  // namespace

std::optional<TimeZoneRules> ParseTzRule(std::string_view text) {
  RuleReader reader(text);
  TimeZoneRules rules;
  int32_t standardOffset = 0;
  if (!reader.Name() || !reader.Time(24, standardOffset))
    return std::nullopt;
  rules.bias = standardOffset / 60;
  if (reader.AtEnd())
    return rules;
  if (!reader.Name())
    return std::nullopt;
  int32_t daylightOffset = standardOffset - 3600;
  if (reader.Peek(IsDigit) || reader.Peek([](char c) { return c == '+' || c == '-'; })) {
    if (!reader.Time(24, daylightOffset))
      return std::nullopt;
  }
  if (reader.AtEnd())
    return rules;
  bool startByMonth = false;
  bool endByMonth = false;
  if (!reader.Take(',') || !reader.Transition(rules.daylightDate, startByMonth) ||
      !reader.Take(',') || !reader.Transition(rules.standardDate, endByMonth) || !reader.AtEnd())
    return std::nullopt;
  if (!startByMonth || !endByMonth) {
    rules.daylightDate = {};
    rules.standardDate = {};
    return rules;
  }
  rules.daylightBias = (daylightOffset - standardOffset) / 60;
  rules.daylightInUse = true;
  return rules;
}

}  // namespace platform
