// POSIX TZ rules read into the Windows shape of zone information.
#include <gtest/gtest.h>

#include <optional>

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

}  // namespace
