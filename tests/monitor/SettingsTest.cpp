// The key table: each side's defaults and fallbacks, delay pairs, the writes
// of the start and the migration of the keys of older versions.
#include "monitor/Settings.h"

#include <gtest/gtest.h>

#include "TestFolder.h"

namespace monitor {
namespace {

using korva_test::TestFolder;

class SettingsTest : public testing::Test {
 protected:
  void Given(const std::string& text) { TestFolder::Put(path_, text); }
  std::string Text() const { return TestFolder::Get(path_); }

  TestFolder folder_;
  std::string path_ = folder_.File("korvamon.INI");
  Settings settings_{common::IniFile(path_)};
};

TEST(DelayPairMsTest, ComputesIn64BitsWithoutNegativesAndCapped) {
  EXPECT_EQ(DelayPairMs(5, 5), 305000u);
  EXPECT_EQ(DelayPairMs(-1, 30), 30000u);
  EXPECT_EQ(DelayPairMs(2, -30), 120000u);
  EXPECT_EQ(DelayPairMs(35792, 0), 2147483647u);  // past 2^31 - 1 ms
  EXPECT_EQ(DelayPairMs(2147483647, 2147483647), 2147483647u);
}

TEST_F(SettingsTest, AFileWithOnlyTheLanguageGivesEachSideItsDefaults) {
  Given("[CHECK]\r\nLanguage=E\r\n");
  // The dialog shows 0:00 and 10:05 (tested with it); the main window waits 5:05, 5:05 and 0:30.
  EXPECT_EQ(settings_.DialogReactionDelay(ReactionDelay::Verbindung).seconds, 0);
  EXPECT_EQ(settings_.StartDelayMs(), 305000u);
  EXPECT_EQ(settings_.ShutDownDelayMs(), 305000u);
  EXPECT_EQ(settings_.ReactionDelayMs(ReactionDelay::Verbindung), 30000u);
  EXPECT_TRUE(settings_.ShutdownSignalEnabled());
}

TEST_F(SettingsTest, ValuesThatAreNotNumbersTakeEachReadersFallback) {
  Given(
      "[START]\r\nStartMinutes=abc\r\nStartSeconds=\r\nShutDownSeconds=1.5\r\n"
      "AkkuMinutes=2\r\nAkkuSeconds= 7 \r\n[CHECK]\r\nShutDownFlag=x\r\n"
      "ExtShutdownPosition=two\r\nDC_LOW_ShutDown=\r\nAlarmStart=+1\r\n");
  EXPECT_EQ(settings_.StartDelayMs(), 305000u);
  EXPECT_EQ(settings_.ReactionDelayMs(ReactionDelay::Akku), 127000u);
  EXPECT_EQ(settings_.ShutDownFlag(), 1);
  EXPECT_EQ(settings_.ExtShutdownPosition(), 0);
  // Present but empty: the main window sees no "1" (the dialog ticks the box).
  EXPECT_FALSE(settings_.ShutdownSignalEnabled());
  EXPECT_TRUE(settings_.DialogStartSwitch(ProgramEvent::Alarm));
}

TEST_F(SettingsTest, StartWritesReportFailuresAndGoOnWithTheValue) {
  Given("[CHECK]\r\nHistoryPath=\r\n");
  auto result = settings_.EnsureHistoryPath("C:\\Korva\\");
  EXPECT_TRUE(result.write.ok());
  EXPECT_EQ(Text(), "[CHECK]\r\nHistoryPath=C:\\Korva\\korvamon.log\r\n");

  Given("[CHECK]\r\nLanguage=G\r\n");
  EXPECT_EQ(settings_.LogFilePath("/opt/korva/"), "/opt/korva/korva_usv.log");
  TestFolder::MakeReadOnly(path_);
  result = settings_.EnsureHistoryPath("/opt/korva/");
  EXPECT_NE(result.write.error.find("HistoryPath"), std::string::npos) << result.write.error;
  EXPECT_EQ(result.path, "/opt/korva/korvamon.log");
  EXPECT_EQ(Text(), "[CHECK]\r\nLanguage=G\r\n");
}

TEST_F(SettingsTest, TheLegacyOpenKeysMoveOnceIntoTheFiveRows) {
  Given(
      "[ACTION]\r\nOpenWindow=1\r\nOpenMinutes=2\r\nOpenSeconds= 30\r\nPlaySound=1\r\n[START]\r\n");
  EXPECT_TRUE(settings_.MigrateLegacyOpenKeys().ok());
  std::string expected = "[ACTION]\r\nPlaySound=1\r\n";
  for (const auto& [prefix, value] :
       {std::pair{"OpenMin_", "2"}, {"OpenSec_", "30"}, {"OpenWindow_", "1"}})
    for (const char* row : {"Batt", "Alarm", "Akku", "NoConn", "Full"})
      expected += std::string(prefix) + row + "=" + value + "\r\n";
  EXPECT_EQ(Text(), expected + "[START]\r\n");
  EXPECT_EQ(settings_.OpenDelayMs(OpenEvent::Full), 150000u);
  EXPECT_TRUE(settings_.MigrateLegacyOpenKeys().ok());
  EXPECT_EQ(Text(), expected + "[START]\r\n");

  const std::string withoutSwitch = "[ACTION]\r\nOpenMinutes=2\r\nOpenSeconds=30\r\n";
  Given(withoutSwitch);
  EXPECT_TRUE(settings_.MigrateLegacyOpenKeys().ok());
  EXPECT_EQ(Text(), withoutSwitch);
}

TEST_F(SettingsTest, AReadOnlyFileIsReportedAndMigratedAtALaterStart) {
  Given("[ACTION]\r\nOpenWindow=1\r\n");
  TestFolder::MakeReadOnly(path_);
  const SettingsWriteResult result = settings_.MigrateLegacyOpenKeys();
  EXPECT_NE(result.error.find("OpenMin_Batt"), std::string::npos) << result.error;
  EXPECT_EQ(Text(), "[ACTION]\r\nOpenWindow=1\r\n");

  platform::files().SetAttributes(path_, platform::kFileAttributeArchive);
  EXPECT_TRUE(settings_.MigrateLegacyOpenKeys().ok());
  EXPECT_TRUE(settings_.DialogOpenWindowSwitch(OpenEvent::Full));
  EXPECT_FALSE(settings_.file().ValueExists("ACTION", "OpenWindow"));
}

}  // namespace
}  // namespace monitor
