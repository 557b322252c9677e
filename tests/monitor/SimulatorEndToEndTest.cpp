// korvamon, in this process on the system's clock, against the module
// simulator on a pseudo-terminal mapped to COM1: it shows the frames, and its
// log and window follow the module from mains to battery and back. Linux only.
#ifdef __linux__

#include <stdlib.h>

#include <sstream>

#include "KorvamonTestProgram.h"
#include "RealTime.h"
#include "monitor/lang.h"

namespace {

using korva_test::BuiltProgram;
using korva_test::ChildProcess;
using monitor::GetLangString;
namespace pf = platform;

class KorvamonOnSimulatorTest : public korva_test::KorvamonTest {
 protected:
  void SetUp() override {
    if (!std::filesystem::exists(BuiltProgram("korvasim")))
      GTEST_SKIP() << "korvasim is not built";
    simulator_.emplace(BuiltProgram("korvasim"));
    ASSERT_TRUE(simulator_->Started());
    const std::string terminal = simulator_->ReadLine();
    if (terminal.empty())
      GTEST_SKIP() << "no pseudo-terminal here";
    setenv("KORVA_COM1", terminal.c_str(), 1);
  }
  ~KorvamonOnSimulatorTest() override {
    program::EndProgram();
    unsetenv("KORVA_COM1");
  }

  static bool RunUntil(const std::function<bool()>& done) {
    return korva_test::ScopedNativeLoop::RunUntil(done, 8000);
  }
  // The texts of the log file's lines.
  std::vector<std::string> LogTexts() const { return korva_test::LogFileTexts(log_); }
  bool Logged(const std::string& text, long times = 1) const {
    const std::vector<std::string> texts = LogTexts();
    return std::count(texts.begin(), texts.end(), text) >= times;
  }

  const std::string log_ = folder_.File("history.log");
  korva_test::ScopedNativeLoop nativeLoop_;
  std::optional<ChildProcess> simulator_;

 private:
  pf::ScopedService<pf::SerialPorts> nativePorts_{pf::NativeSerialPorts()};
};

TEST_F(KorvamonOnSimulatorTest, ReceivesParsesAndShowsTheModulesFrames) {
  Given("[CHECK]\r\nLanguage=E\r\n[COM]\r\nCOMPORT=1\r\n");
  Start();
  EXPECT_EQ(main().StatBar->Panels()[0].Text(), GetLangString(56) + "COM1" + GetLangString(57));
  main().btnUpDown->Click();

  // The module at rest, in 21-character frames.
  ASSERT_TRUE(RunUntil([&] { return main().edRead->Text() == "*****--BUFRD--DC_OK--"; }))
      << main().edRead->Text();
  EXPECT_TRUE(main().LinkUp);
  EXPECT_EQ(main().ConnectionWord & 0x00F0, 0x0020);
  EXPECT_FALSE(main().Has28CharFrames);
  EXPECT_FALSE(main().labFull->Visible());
  EXPECT_EQ(main().lblSeriell->Caption(), GetLangString(14));

  ASSERT_TRUE(simulator_->Send("frame *BAT*\\r\\nBUFRD\\r\\nDC_LO\\r\\nBA<85\\r\\n"));
  ASSERT_TRUE(RunUntil([&] { return main().edRead->Text() == "*BAT*--BUFRD--DC_LO--BA<85--"; }))
      << main().edRead->Text();
  EXPECT_TRUE(main().Has28CharFrames);
  EXPECT_TRUE(main().labFull->Visible());
  EXPECT_TRUE(main().labVoll->Visible());

  main().CloseSerialLink();
  EXPECT_EQ(main().StatBar->Panels()[0].Text(), GetLangString(56) + "COM1" + GetLangString(61));
}

using MonitoringEndToEndTest = KorvamonOnSimulatorTest;

TEST_F(MonitoringEndToEndTest, TheLogTellsOfMainsBatteryAndMainsAgainAndTheWindowFollows) {
  Given("[CHECK]\r\nLanguage=E\r\nHistoryPath=" + log_ +
        "\r\nDC_LOW_ShutDown=0\r\n[COM]\r\nCOMPORT=1\r\n"
        "[ACTION]\r\nOpenWindow_Batt=1\r\nOpenMin_Batt=0\r\nOpenSec_Batt=0\r\n");
  Start();
  ASSERT_TRUE(main().Visible());
  const std::string dcOk = "DC_OK / " + GetLangString(6);
  const std::string batteryEnded = GetLangString(9);

  // The first frame reports every condition once. Without a charge word the
  // charge counts as low, so the window stays; the start phase's fifth tick
  // finds the link and the supply well and hides it.
  ASSERT_TRUE(RunUntil([&] { return Logged(GetLangString(32)); }));
  EXPECT_TRUE(main().Visible());
  EXPECT_EQ(main().StatusWord, 0x8828);
  ASSERT_TRUE(RunUntil([&] { return !main().StartPhase; }));
  EXPECT_FALSE(main().Visible());

  ASSERT_TRUE(simulator_->Send("frame *BAT*\\r\\nBUFRD\\r\\nDC_LO\\r\\n"));
  ASSERT_TRUE(RunUntil([&] { return Logged("*BAT* / " + GetLangString(8)) && main().Visible(); }))
      << "visible: " << main().Visible();
  EXPECT_EQ(main().StatusWord, 0x8488);

  main().Hide();
  ASSERT_TRUE(simulator_->Send("frame *****\\r\\nBUFRD\\r\\nDC_OK\\r\\n"));
  ASSERT_TRUE(RunUntil([&] { return Logged(batteryEnded, 2) && main().Visible(); }))
      << "visible: " << main().Visible();
  EXPECT_EQ(main().StatusWord, 0x8828);

  const std::vector<std::string> expected = {monitor::HistoryStartText(1),
                                             GetLangString(14),
                                             dcOk,
                                             batteryEnded,
                                             GetLangString(10),
                                             GetLangString(32),
                                             "DC_LO / " + GetLangString(7),
                                             "*BAT* / " + GetLangString(8),
                                             dcOk,
                                             batteryEnded};
  EXPECT_EQ(LogTexts(), expected);
}

}  // namespace

#endif  // __linux__
