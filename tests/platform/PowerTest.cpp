// The system's power controls as the platform has them: the processor load
// (scripted /proc/stat on POSIX; pdh.dll or nothing under Wine) and the
// process's place in the shutdown order, read back from the system.
#include <gtest/gtest.h>

#include "TestFolder.h"
#include "platform/Power.h"

#ifndef _WIN32
#include "platform/posix/ProcStat.h"
#endif

namespace {

TEST(PowerTest, TheProcessorLoadIsAPercentageOrUnmeasured) {
  const double load = platform::NativePower().ProcessorLoad();
  EXPECT_TRUE(load == -1.0 || (load >= 0.0 && load <= 100.0)) << load;
}

TEST(PowerTest, TheShutdownLevelSetIsTheOneTheSystemReports) {
  platform::Power& power = platform::NativePower();
  ASSERT_TRUE(power.SetShutdownParameters(0x3FE, platform::kShutdownNoRetry));
  uint32_t level = 0, flags = 0;
  ASSERT_TRUE(power.ShutdownParameters(level, flags));
  EXPECT_EQ(level, 0x3FEu);
  EXPECT_EQ(flags, platform::kShutdownNoRetry);
}

#ifndef _WIN32

TEST(PowerTest, TheLoadOfProcessorZeroComesFromTwoReadingsOfProcStat) {
  korva_test::TestFolder folder;
  const std::string stat = folder.File("stat");
  const std::string before =
      "cpu  900 0 900 9000 0 0 0 0 0 0\n"
      "cpu0 100 20 30 800 40 5 5 0 0 0\n"
      "cpu1 1 1 1 1 1 1 1 1 0 0\n";
  // 40 busy and 120 idle (iowait counts as idle) jiffies later.
  const std::string after =
      "cpu  999 0 999 9999 0 0 0 0 0 0\n"
      "cpu0 120 20 40 900 60 10 10 0 0 0\n";
  struct Case {
    const char* name;
    std::string first;
    std::string second;
    double load;
  };
  for (const Case& c :
       {Case{"busy", before, after, 25.0}, Case{"no time", before, before, 0.0},
        Case{"unreadable", "", "", -1.0}, Case{"no cpu0", "cpu 1 2 3 4\n", "", -1.0},
        Case{"cut short", before, "cpu0 1 2\n", -1.0}}) {
    SCOPED_TRACE(c.name);
    std::filesystem::remove(stat);
    if (!c.first.empty())
      korva_test::TestFolder::Put(stat, c.first);
    EXPECT_EQ(platform::posix::ProcessorLoadFromStat(
                  stat, [&] { korva_test::TestFolder::Put(stat, c.second); }),
              c.load);
  }
}

#endif

}  // namespace
