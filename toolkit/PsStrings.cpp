#include "toolkit/PsStrings.h"

#include <algorithm>
#include <iterator>

namespace toolkit {
namespace {

struct NumberedText {
  int number;
  std::string_view text;
};

// In number order, for the lookup.
constexpr NumberedText kTexts[] = {
    {65120, "At High limit"},
    {65121, "Constant"},
    {65136, "N/A"},
    {65137, "Non-specific"},
    {65138, "Configuration error"},
    {65139, "Not connected"},
    {65140, "Device failure"},
    {65141, "Sensor failure"},
    {65142, "Last known value"},
    {65143, "Communication failure"},
    {65144, "Out of service"},
    {65145, "Last usable"},
    {65146, "Sensor not accurate"},
    {65147, "Limits exceeded"},
    {65148, "Sub-normal"},
    {65149, "Local override"},
    {65150, "Not limited"},
    {65151, "At Low limit"},
    {65152, "Alarm Text"},
    {65153, "Alarm Help"},
    {65154, "Bad"},
    {65155, "Uncertain"},
    {65156, "Good"},
    {65157, "OK"},
    {65158, "Warning"},
    {65159, "Alarm"},
    {65160, "Unkownn"},
    {65163, "Array of %s"},
    {65164, "%s (Reference)"},
    {65165, "Bad"},
    {65166, "Uncertain"},
    {65167, "Good"},
    {65168, "Value"},
    {65169, "Caption"},
    {65170, "Engineering Unit"},
    {65171, "Alarm State"},
    {65172, "Difference"},
    {65173, "Low Alarm Limit"},
    {65174, "High Alarm Limit"},
    {65175, "Low Warning Limit"},
    {65176, "High Warning Limit"},
    {65177, "Setpoint"},
    {65178, "Mean"},
    {65179, "Standard Deviation"},
    {65180, "Maximum"},
    {65181, "Minimum"},
    {65182, "Other"},
    {65183, "Description"},
    {65198, "False"},
    {65199, "True"},
};

static_assert(std::is_sorted(std::begin(kTexts), std::end(kTexts),
                             [](const NumberedText& a, const NumberedText& b) {
                               return a.number < b.number;
                             }));

}  // namespace

std::string_view PsString(int number) {
  const auto found =
      std::lower_bound(std::begin(kTexts), std::end(kTexts), number,
                       [](const NumberedText& entry, int wanted) { return entry.number < wanted; });
  return found != std::end(kTexts) && found->number == number ? found->text : std::string_view();
}

}  // namespace toolkit
