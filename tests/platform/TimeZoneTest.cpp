// POSIX TZ rules read into the Windows shape of zone information, and on
// POSIX the local zone found from TZ and the zone files as the C library
// finds it.
#include <gtest/gtest.h>

#include <filesystem>
#include <optional>
#include <string>

#include "TestEnvironment.h"
#include "TestFolder.h"
#include "platform/TimeZone.h"

namespace {

using platform::ParseTzRule;
using platform::TimeZoneRules;
using platform::ZoneTransition;

TEST(TimeZoneTest, RulesOfTheMonthFormGiveTransitions) {
  const std::optional<TimeZoneRules> cet = ParseTzRule("CET-1CEST,M3.5.0,M10.5.0/3");
  ASSERT_TRUE(cet);
  EXPECT_EQ(cet->bias, -60);
  EXPECT_EQ(cet->daylightBias, -60);
  EXPECT_EQ(cet->standardBias, 0);
  EXPECT_TRUE(cet->daylightInUse);
  EXPECT_EQ(cet->daylightDate, (ZoneTransition{0, 3, 5, 0, 2 * 3600000}));
  EXPECT_EQ(cet->standardDate, (ZoneTransition{0, 10, 5, 0, 3 * 3600000}));

  const auto newfoundland = ParseTzRule("<-0230>2:30<-0130>,M3.2.0/-1:30,M11.1.0/26");
  ASSERT_TRUE(newfoundland);
  EXPECT_EQ(newfoundland->bias, 150);
  EXPECT_EQ(newfoundland->daylightBias, -60);
  EXPECT_EQ(newfoundland->daylightDate.timeOfDayMs, -5400000);
  EXPECT_EQ(newfoundland->standardDate.timeOfDayMs, 26 * 3600000);

  const auto explicitOffset = ParseTzRule("AAA+3BBB+1,M4.1.6/0:30:15,M9.3.1");
  ASSERT_TRUE(explicitOffset);
  EXPECT_EQ(explicitOffset->bias, 180);
  EXPECT_EQ(explicitOffset->daylightBias, -120);
  EXPECT_EQ(explicitOffset->daylightDate, (ZoneTransition{0, 4, 1, 6, 1815000}));
}

TEST(TimeZoneTest, OtherFormsMeanNoDaylightSavingAndNonsenseIsNoRule) {
  for (const char* plain : {"UTC0", "JST-9", "EST5EDT", "XYZ-2ABC,J60,J300", "XYZ-2ABC,60,300"}) {
    const auto rules = ParseTzRule(plain);
    ASSERT_TRUE(rules) << plain;
    EXPECT_FALSE(rules->daylightInUse) << plain;
  }
  EXPECT_EQ(ParseTzRule("JST-9")->bias, -540);
  for (const char* invalid :
       {"", "CET", "CE-1", "CET-1CEST,M3.5.0", "CET-1CEST,M13.5.0,M10.5.0",
        "CET-1CEST,M3.6.0,M10.5.0", "CET-1CEST,M3.5.7,M10.5.0", "CET-1CEST,M3.5.0,M10.5.0/",
        "CET-1 ", "<AB>1", "CET25", "CET-1CEST,J0,J5", "Europe/Berlin"})
    EXPECT_FALSE(ParseTzRule(invalid)) << invalid;
}

#ifndef _WIN32
// Zone files of the test's own in a folder that TZDIR names, TZ unset.
class LocalZoneTest : public testing::Test {
 protected:
  // A zone file of version 2 as far as the reader looks: its last line.
  void Zone(const std::string& name, const std::string& rule) {
    std::filesystem::create_directories(std::filesystem::path(folder_.File(name)).parent_path());
    korva_test::TestFolder::Put(folder_.File(name), "TZif2 transitions\n" + rule + "\n");
  }

  korva_test::TestFolder folder_;
  korva_test::ScopedVariable tzdir_{"TZDIR", folder_.path().string()};
  korva_test::ScopedVariable tz_{"TZ", std::nullopt};
};

TEST_F(LocalZoneTest, ANameIsItsZoneFileAndARuleWithoutTransitionsTakesTheDefaultOnes) {
  Zone("EST5EDT", "EST5EDT,M3.2.0,M11.1.0");
  Zone("Area/City", "<+03>-3");
  struct Case {
    std::string tz;
    int32_t bias;
    bool daylight;
    int daylightMonth, daylightWeek;
  };
  const Case cases[] = {
      {"EST5EDT", 300, true, 3, 2},
      {":EST5EDT", 300, true, 3, 2},
      {"Area/City", -180, false, 0, 0},
      {folder_.File("Area/City"), -180, false, 0, 0},
      {"CET-1CEST,M3.5.0,M10.5.0/3", -60, true, 3, 5},
      {"JST-9", -540, false, 0, 0},
      // No rules file: the US transitions, as the C library takes them.
      {"CET-1CEST", -60, true, 3, 2},
      {"Nowhere/Zone", 0, false, 0, 0},
      {":JST-9", 0, false, 0, 0},
      {"", 0, false, 0, 0},  // set but empty: UTC
  };
  for (const Case& c : cases) {
    const korva_test::ScopedVariable tz("TZ", c.tz);
    const TimeZoneRules rules = platform::LocalTimeZone();
    EXPECT_EQ(rules.bias, c.bias) << c.tz;
    EXPECT_EQ(rules.daylightInUse, c.daylight) << c.tz;
    EXPECT_EQ(rules.daylightDate.month, c.daylightMonth) << c.tz;
    EXPECT_EQ(rules.daylightDate.day, c.daylightWeek) << c.tz;
  }
  Zone("posixrules", "AAA3BBB,M4.1.0,M10.1.0/3");
  const korva_test::ScopedVariable tz("TZ", "CET-1CEST");
  const TimeZoneRules rules = platform::LocalTimeZone();
  EXPECT_EQ(rules.bias, -60);
  EXPECT_EQ(rules.daylightBias, -60);
  EXPECT_EQ(rules.daylightDate, (ZoneTransition{0, 4, 1, 0, 2 * 3600000}));
  EXPECT_EQ(rules.standardDate, (ZoneTransition{0, 10, 1, 0, 3 * 3600000}));
}

TEST_F(LocalZoneTest, TheZoneIsReadAgainWhenTzOrAZoneFileChanges) {
  Zone("Here", "CET-1CEST,M3.5.0,M10.5.0/3");
  const korva_test::ScopedVariable here("TZ", "Here");
  EXPECT_EQ(platform::LocalTimeZone().bias, -60);
  Zone("Here", "EET-2EEST,M3.5.0/3,M10.5.0/4");
  EXPECT_EQ(platform::LocalTimeZone().bias, -120);
  {
    const korva_test::ScopedVariable other("TZ", "JST-9");
    EXPECT_EQ(platform::LocalTimeZone().bias, -540);
  }
  EXPECT_EQ(platform::LocalTimeZone().bias, -120);
  // A zone file that appears under a name read as a rule so far.
  const korva_test::ScopedVariable rule("TZ", "MSK-3");
  EXPECT_EQ(platform::LocalTimeZone().bias, -180);
  Zone("MSK-3", "UTC0");
  EXPECT_EQ(platform::LocalTimeZone().bias, 0);
}
#endif

}  // namespace
