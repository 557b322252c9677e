// The key table: each side's defaults and fallbacks, delay pairs, the writes
// of the start and the migration of the keys of older versions.
#include "monitor/Settings.h"

#include <gtest/gtest.h>

#include <limits>

#include "IniTestFolder.h"

namespace monitor {
namespace {

using korva_test::IniTestFolder;

class SettingsTest : public testing::Test {
 protected:
  void Given(const std::string& text) { IniTestFolder::Put(path_, text); }
  std::string Text() const { return IniTestFolder::Get(path_); }

  IniTestFolder folder_;
  std::string path_ = folder_.File("korvamon.INI");
  Settings settings_{IniFile(path_)};
};

TEST(DelayPairMsTest, ComputesIn64BitsWithoutNegativesAndCapped) {
  EXPECT_EQ(DelayPairMs(5, 5), 305000u);
  EXPECT_EQ(DelayPairMs(120, 59), 7259000u);
  EXPECT_EQ(DelayPairMs(-1, 30), 30000u);
  EXPECT_EQ(DelayPairMs(2, -30), 120000u);
  EXPECT_EQ(DelayPairMs(std::numeric_limits<int32_t>::min(), 0), 0u);
  // 35792 minutes already exceed 2^31 - 1 ms in 32 bits.
  EXPECT_EQ(DelayPairMs(35792, 0), 2147483647u);
  EXPECT_EQ(DelayPairMs(std::numeric_limits<int32_t>::max(), std::numeric_limits<int32_t>::max()),
            2147483647u);
}

TEST_F(SettingsTest, AFileWithOnlyTheLanguageGivesEachSideItsDefaults) {
  Given("[CHECK]\r\nLanguage=E\r\n");
  // The dialog, until it saves.
  EXPECT_EQ(settings_.DialogComPortEntry(), "");
  EXPECT_FALSE(settings_.UsbPort());
  for (auto event : {ProgramEvent::DcLow, ProgramEvent::Alarm, ProgramEvent::NoConnect,
                     ProgramEvent::Akku, ProgramEvent::Over85, ProgramEvent::Under85}) {
    EXPECT_EQ(settings_.ProgramCommand(event), "");
    EXPECT_FALSE(settings_.DialogStartSwitch(event));
  }
  EXPECT_TRUE(settings_.DialogShutdownSwitch());
  const DelayPair shutDown = settings_.DialogReactionDelay(ReactionDelay::ShutDown);
  EXPECT_EQ(shutDown.minutes, 10);
  EXPECT_EQ(shutDown.seconds, 5);
  const DelayPair start = settings_.DialogReactionDelay(ReactionDelay::Start);
  EXPECT_EQ(start.minutes * 60 + start.seconds, 0);
  const DelayPair link = settings_.DialogReactionDelay(ReactionDelay::Verbindung);
  EXPECT_EQ(link.minutes * 60 + link.seconds, 0);
  EXPECT_TRUE(settings_.DialogShutdownSignal());
  EXPECT_FALSE(settings_.DialogWindowsShutdownSignal());
  EXPECT_FALSE(settings_.DialogPlaySound());
  EXPECT_FALSE(settings_.DialogOpenWindowSwitch(OpenEvent::Batt));
  EXPECT_EQ(settings_.DialogRepeatAbschaltung(), 0);
  // The main window.
  EXPECT_EQ(settings_.StartDelayMs(), 305000u);
  EXPECT_EQ(settings_.ShutDownDelayMs(), 305000u);
  EXPECT_EQ(settings_.ReactionDelayMs(ReactionDelay::Verbindung), 30000u);
  EXPECT_EQ(settings_.ReactionDelayMs(ReactionDelay::Alarm), 0u);
  EXPECT_EQ(settings_.OpenDelayMs(OpenEvent::Full), 0u);
  EXPECT_TRUE(settings_.ShutdownSignalEnabled());
  EXPECT_EQ(settings_.SelectedHotKey(), HotKeyChoice::AltO);
  EXPECT_EQ(settings_.ShutDownFlag(), 1);
  EXPECT_EQ(settings_.ExtShutdownPosition(), 0);
  EXPECT_EQ(settings_.ReadWaitTimeSeconds(), 0);
  EXPECT_FALSE(settings_.LogLimit8k());
  EXPECT_EQ(settings_.ComPort(), 0);
}

TEST_F(SettingsTest, ValuesThatAreNotNumbersTakeEachReadersFallback) {
  Given(
      "[START]\r\nStartMinutes=abc\r\nStartSeconds=\r\nShutDownMinutes=x\r\n"
      "ShutDownSeconds=1.5\r\nVerbindungMinutes=x\r\nVerbindungSeconds=x\r\n"
      "AkkuMinutes=2\r\nAkkuSeconds= 7 \r\n"
      "[CHECK]\r\nSelectHotKey=abc\r\nShutDownFlag=x\r\nExtShutdownPosition=two\r\n"
      "DC_LOW_ShutDown=\r\nDC_LOW_Start=yes\r\nAlarmStart=+1\r\nRepeatAbschaltung=many\r\n"
      "[COM]\r\nCOMPORT=x\r\nWAIT_TIME=abc\r\n"
      "[ACTION]\r\nOpenMin_Akku=1\r\nOpenSec_Akku=x\r\n");
  EXPECT_EQ(settings_.StartDelayMs(), 305000u);
  EXPECT_EQ(settings_.DialogReactionDelay(ReactionDelay::Start).minutes, 0);
  EXPECT_EQ(settings_.ShutDownDelayMs(), 305000u);
  EXPECT_EQ(settings_.DialogReactionDelay(ReactionDelay::ShutDown).minutes, 10);
  EXPECT_EQ(settings_.DialogReactionDelay(ReactionDelay::ShutDown).seconds, 5);
  EXPECT_EQ(settings_.ReactionDelayMs(ReactionDelay::Verbindung), 30000u);
  EXPECT_EQ(settings_.DialogReactionDelay(ReactionDelay::Verbindung).seconds, 0);
  EXPECT_EQ(settings_.ReactionDelayMs(ReactionDelay::Akku), 127000u);
  EXPECT_EQ(settings_.OpenDelayMs(OpenEvent::Akku), 60000u);

  EXPECT_EQ(settings_.SelectedHotKey(), HotKeyChoice::AltO);
  EXPECT_EQ(settings_.ShutDownFlag(), 1);
  EXPECT_EQ(settings_.ExtShutdownPosition(), 0);
  // Present but empty: the dialog ticks the box, the main window sees no "1".
  EXPECT_TRUE(settings_.DialogShutdownSwitch());
  EXPECT_FALSE(settings_.ShutdownSignalEnabled());
  EXPECT_FALSE(settings_.DialogStartSwitch(ProgramEvent::DcLow));
  EXPECT_TRUE(settings_.DialogStartSwitch(ProgramEvent::Alarm));
  EXPECT_EQ(settings_.DialogRepeatAbschaltung(), 0);
  EXPECT_EQ(settings_.ComPort(), 0);
  EXPECT_EQ(settings_.DialogComPortEntry(), "");
  EXPECT_EQ(settings_.ReadWaitTimeSeconds(), 0);
}

TEST_F(SettingsTest, SmallTablesOfOneKey) {
  struct WaitCase {
    const char* value;
    int32_t seconds;
  };
  for (const WaitCase& c : {WaitCase{"-5", 60}, WaitCase{"61", 60}, WaitCase{"60", 60},
                            WaitCase{"0", 0}, WaitCase{"30", 30}, WaitCase{"99999999999", 0}}) {
    Given(std::string("[COM]\r\nWAIT_TIME=") + c.value + "\r\n");
    EXPECT_EQ(settings_.ReadWaitTimeSeconds(), c.seconds) << c.value;
  }
  for (const auto& [value, choice] : {std::pair{"1", HotKeyChoice::AltO},
                                      {"2", HotKeyChoice::AltM},
                                      {"3", HotKeyChoice::None},
                                      {"0", HotKeyChoice::None}}) {
    Given(std::string("[CHECK]\r\nSelectHotKey=") + value + "\r\n");
    EXPECT_EQ(settings_.SelectedHotKey(), choice) << value;
  }
  for (const auto& [value, entry] :
       {std::pair{"3", "COM3"}, {"9", "COM9"}, {"0", ""}, {"-2", ""}, {"+4", "COM+4"}}) {
    Given(std::string("[COM]\r\nCOMPORT=") + value + "\r\n");
    EXPECT_EQ(settings_.DialogComPortEntry(), entry) << value;
  }
  struct LanguageCase {
    const char* value;
    int code;
    GuardLanguage question;
  };
  for (const LanguageCase& c :
       {LanguageCase{"f", 3, GuardLanguage::French}, LanguageCase{"I", 4, GuardLanguage::English},
        LanguageCase{"g", 1, GuardLanguage::German}, LanguageCase{"Eng", 2, GuardLanguage::English},
        LanguageCase{"fr", 3, GuardLanguage::English}, LanguageCase{"x", 0, GuardLanguage::English},
        LanguageCase{"", 0, GuardLanguage::English}}) {
    Given(std::string("[CHECK]\r\nLanguage=") + c.value + "\r\n");
    EXPECT_EQ(settings_.LanguageCode(), c.code) << c.value;
    EXPECT_EQ(settings_.InstanceQuestionLanguage(), c.question) << c.value;
  }
  Given("[ACTION]\r\nShutdownSignal=0\r\n[CHECK]\r\nDC_LOW_ShutDown=1\r\nUSBport=1\r\n");
  EXPECT_FALSE(settings_.ShutdownSignalEnabled());
  EXPECT_TRUE(settings_.ShutdownAfterBattery());
  EXPECT_FALSE(settings_.UsbPort());  // USBPORT lives in [COM]
}

TEST_F(SettingsTest, StartWritesReportFailuresAndGoOnWithTheValue) {
  Given("[CHECK]\r\nHistoryPath=\r\n");
  auto result = settings_.EnsureHistoryPath("C:\\Korva\\");
  EXPECT_TRUE(result.write.ok());
  EXPECT_EQ(result.path, "C:\\Korva\\korvamon.log");
  EXPECT_EQ(Text(), "[CHECK]\r\nHistoryPath=C:\\Korva\\korvamon.log\r\n");
  EXPECT_EQ(settings_.LogFilePath("C:\\Korva\\"), "C:\\Korva\\korvamon.log");
  EXPECT_TRUE(settings_.WriteLanguageCode(3).ok());
  EXPECT_EQ(settings_.Language(), "F");

  Given("[CHECK]\r\nLanguage=G\r\n");
  EXPECT_EQ(settings_.LogFilePath("/opt/korva/"), "/opt/korva/korva_usv.log");
  IniTestFolder::MakeReadOnly(path_);
  result = settings_.EnsureHistoryPath("/opt/korva/");
  EXPECT_FALSE(result.write.ok());
  EXPECT_NE(result.write.error.find("HistoryPath"), std::string::npos) << result.write.error;
  EXPECT_NE(result.write.error.find(path_), std::string::npos) << result.write.error;
  EXPECT_EQ(result.path, "/opt/korva/korvamon.log");
  EXPECT_FALSE(settings_.WriteLanguageCode(2).ok());
  EXPECT_FALSE(settings_.WriteLanguageCode(7).ok());
  EXPECT_EQ(Text(), "[CHECK]\r\nLanguage=G\r\n");
}

TEST_F(SettingsTest, TheLegacyOpenKeysMoveOnceIntoTheFiveRows) {
  Given(
      "[ACTION]\r\nOpenWindow=1\r\nOpenMinutes=2\r\nOpenSeconds= 30\r\nPlaySound=1\r\n"
      "[START]\r\nDC_LOW=x\r\n");
  EXPECT_TRUE(settings_.MigrateLegacyOpenKeys().ok());
  for (auto event :
       {OpenEvent::Batt, OpenEvent::Alarm, OpenEvent::Akku, OpenEvent::NoConn, OpenEvent::Full}) {
    EXPECT_EQ(settings_.OpenDelayMs(event), 150000u);
    EXPECT_TRUE(settings_.DialogOpenWindowSwitch(event));
  }
  const IniFile& file = settings_.file();
  for (const char* legacy : {"OpenWindow", "OpenMinutes", "OpenSeconds"})
    EXPECT_FALSE(file.ValueExists("ACTION", legacy)) << legacy;
  EXPECT_EQ(Text(),
            "[ACTION]\r\nPlaySound=1\r\n"
            "OpenMin_Batt=2\r\nOpenMin_Alarm=2\r\nOpenMin_Akku=2\r\nOpenMin_NoConn=2\r\n"
            "OpenMin_Full=2\r\n"
            "OpenSec_Batt=30\r\nOpenSec_Alarm=30\r\nOpenSec_Akku=30\r\nOpenSec_NoConn=30\r\n"
            "OpenSec_Full=30\r\n"
            "OpenWindow_Batt=1\r\nOpenWindow_Alarm=1\r\nOpenWindow_Akku=1\r\n"
            "OpenWindow_NoConn=1\r\nOpenWindow_Full=1\r\n"
            "[START]\r\nDC_LOW=x\r\n");
  const std::string migrated = Text();
  EXPECT_TRUE(settings_.MigrateLegacyOpenKeys().ok());
  EXPECT_EQ(Text(), migrated);
}

TEST_F(SettingsTest, TheMigrationLeavesOtherFilesAlone) {
  const std::string withoutSwitch = "[ACTION]\r\nOpenMinutes=2\r\nOpenSeconds=30\r\n";
  Given(withoutSwitch);
  EXPECT_TRUE(settings_.MigrateLegacyOpenKeys().ok());
  EXPECT_EQ(Text(), withoutSwitch);

  // A read-only file: reported, unchanged, and migrated at a later start.
  const std::string legacy = "[ACTION]\r\nOpenWindow=1\r\n";
  Given(legacy);
  IniTestFolder::MakeReadOnly(path_);
  const SettingsWriteResult result = settings_.MigrateLegacyOpenKeys();
  EXPECT_FALSE(result.ok());
  EXPECT_NE(result.error.find("OpenMin_Batt"), std::string::npos) << result.error;
  EXPECT_EQ(Text(), legacy);

  platform::files().SetAttributes(path_, platform::kFileAttributeArchive);
  EXPECT_TRUE(settings_.MigrateLegacyOpenKeys().ok());
  EXPECT_EQ(settings_.OpenDelayMs(OpenEvent::Batt), 0u);
  EXPECT_TRUE(settings_.DialogOpenWindowSwitch(OpenEvent::Full));
  EXPECT_FALSE(settings_.file().ValueExists("ACTION", "OpenWindow"));
}

}  // namespace
}  // namespace monitor
