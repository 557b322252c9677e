// The reactions on the virtual clock: window-open requests with their tune
// and delays, the program timers with their command lines, huge or negative
// delays. A stand-in records each program start.

#include <functional>
#include <utility>

#include "BackgroundStarts.h"
#include "KorvamonTestProgram.h"
#include "monitor/ReactionSwitches.h"
#include "monitor/config.h"
#include "platform/Process.h"

namespace {

using Request = platform::RecordingProcesses::Request;

constexpr uint32_t kLongestDelayMs = 2147483647;

// 21-character frames, four to a block as the link reads them.
const std::string kMains = korva_test::Repeat("*****\r\nBUFRD\r\nDC_OK\r\n", 4);
const std::string kBattery = korva_test::Repeat("*BAT*\r\nBUFRD\r\nDC_LO\r\n", 4);

class ReactionsTest : public korva_test::KorvamonTextTest {
 protected:
  ~ReactionsTest() override { EXPECT_TRUE(korva_test::FinishProgramStarts()); }

  // The programs started so far, once the shell has answered them all.
  std::vector<Request> Started() {
    EXPECT_TRUE(korva_test::FinishProgramStarts());
    return processes_.requests();
  }
  // Past the start phase's first four ticks, in which requests are dropped.
  // With no port the link is lost at the fourth; nothing here asks for that.
  void PastTheDeafTicks() { At(4500); }

  platform::RecordingProcesses processes_;

 private:
  platform::ScopedService<platform::Processes> processesGuard_{processes_};
};

// Tones and message boxes that run `during` when the next one starts: what
// the main loop handles meanwhile, as it does while a tune plays or a box is
// open.
class TuneWith final : public platform::RecordingSound {
 public:
  std::function<void()> during;
  void Beep(uint32_t frequencyHz, uint32_t durationMs) override {
    if (const auto hook = std::exchange(during, nullptr))
      hook();
    RecordingSound::Beep(frequencyHz, durationMs);
  }
};
class BoxWith final : public platform::ScriptedMessageBoxes {
 public:
  std::function<void()> during;
  int Show(const std::string& text, const std::string& caption, uint32_t flags) override {
    if (const auto hook = std::exchange(during, nullptr))
      hook();
    return ScriptedMessageBoxes::Show(text, caption, flags);
  }
};

void ExpectStarted(const std::vector<Request>& requests, const std::string& file,
                   const std::string& directory, const std::string& parameters) {
  ASSERT_EQ(requests.size(), 1u);
  EXPECT_EQ(requests[0].file, file);
  EXPECT_EQ(requests[0].directory, directory);
  EXPECT_EQ(requests[0].parameters, parameters);
}

TEST_F(ReactionsTest, ALinkNeverHeardFromIsLostAtTheFourthTickAndOpensTheWindowWithItsTune) {
  StartWith("[ACTION]\r\nOpenWindow_NoConn=1\r\nPlaySound=1\r\n");
  main().Hide();
  At(2500);
  main().RequestOpenWindow(8);
  EXPECT_EQ(main().TimerOpen->Tag, 0);
  At(3999);
  EXPECT_TRUE(sound_.tones().empty());
  EXPECT_EQ(HistoryCount("T13"), 0);

  At(4000);
  EXPECT_EQ(HistoryCount("T13"), 1);
  EXPECT_EQ(Tones(), (std::vector<std::pair<uint32_t, uint32_t>>{
                         {750, 150}, {675, 150}, {525, 150}, {675, 150}, {525, 350}}));
  // The window's delay of 0 s runs as 100 ms: it opened while the tune played.
  EXPECT_TRUE(main().Visible());
  EXPECT_EQ(main().TimerOpen->Tag, 0);
  EXPECT_FALSE(main().TimerOpen->Enabled());
}

TEST_F(ReactionsTest, TimerOpenKeepsItsFirstDelayAndOpensOnlyForWhatIsStillPending) {
  StartWith(
      "[ACTION]\r\nOpenWindow_Batt=1\r\nOpenWindow_Alarm=1\r\nOpenSec_Batt=5\r\n"
      "OpenMin_Alarm=0\r\nOpenSec_Alarm=1\r\n");
  PastTheDeafTicks();
  main().Hide();

  // DC input events and events whose box is not ticked add nothing.
  for (uint32_t bit : {1u, 128u, 16u, 8u})
    main().RequestOpenWindow(bit);
  EXPECT_EQ(main().TimerOpen->Tag, 0);
  EXPECT_FALSE(main().TimerOpen->Enabled());
  EXPECT_TRUE(sound_.tones().empty());

  main().RequestOpenWindow(2);
  main().RequestOpenWindow(4);
  EXPECT_EQ(main().TimerOpen->Tag, 2 | 4);
  EXPECT_EQ(main().TimerOpen->Interval(), 5000u);
  // Both events ended before the delay was over: the window stays hidden.
  main().RemoveOpenRequest(2);
  main().RemoveOpenRequest(4);
  EXPECT_FALSE(main().TimerOpen->Enabled());
  Advance(6000);
  EXPECT_FALSE(main().Visible());

  main().RequestOpenWindow(512);
  EXPECT_EQ(main().TimerOpen->Interval(), 1000u);
  Advance(999);
  EXPECT_FALSE(main().Visible());
  Advance(1);
  EXPECT_TRUE(main().Visible());
  EXPECT_EQ(main().TimerOpen->Tag, 0);

  // A visible window is brought to the front.
  headless().broughtToFront.clear();
  main().RequestOpenWindow(256);
  Advance(5000);
  EXPECT_EQ(headless().broughtToFront, std::vector<std::string>{"TfrmKorvamon"});
  EXPECT_FALSE(main().TimerOpen->Enabled());

  // Every open box unticked in the dialog before the delay is over: nothing opens.
  main().Hide();
  main().RequestOpenWindow(2);
  monitor::PublishReactionSwitches(monitor::ReactionSwitches{});
  Advance(5000);
  EXPECT_FALSE(main().Visible());
  EXPECT_FALSE(main().TimerOpen->Enabled());
  EXPECT_EQ(main().TimerOpen->Tag, 0);
}

TEST_F(ReactionsTest, DelaysCountNegativesAsZeroAndCapHugeValuesInsteadOfWrapping) {
  // 134217728 minutes are 2^32 x 1875 ms: in 32 bits they would wrap to 0.
  struct Case {
    const char* minutes;
    const char* seconds;
    uint32_t openMs;
    uint32_t noConnectMs;
  };
  for (const Case c : {Case{"0", "-30", 100, 300}, Case{"-2", "0", 100, 300},
                       Case{"134217728", "0", kLongestDelayMs, kLongestDelayMs},
                       Case{"0", "2147483647", kLongestDelayMs, kLongestDelayMs}}) {
    SCOPED_TRACE(std::string(c.minutes) + " min " + c.seconds + " s");
    const std::string pair = std::string(c.minutes) + "\r\n";
    StartWith(
        "[CHECK]\r\nNoConnect=1\r\n[START]\r\nNOCONNECT=c:\\nolink.exe\r\n"
        "VerbindungMinutes=" +
        pair + "VerbindungSeconds=" + c.seconds +
        "\r\n"
        "[ACTION]\r\nOpenWindow_NoConn=1\r\nOpenMin_NoConn=" +
        pair + "OpenSec_NoConn=" + c.seconds + "\r\n");
    processes_.Clear();
    main().Hide();
    At(4000);  // the link is lost
    EXPECT_EQ(main().TimerOpen->Interval(), c.openMs);
    EXPECT_EQ(main().TimerVerbindung->Interval(), c.noConnectMs);
    EXPECT_TRUE(main().TimerOpen->Running() && main().TimerVerbindung->Running());
    At(4000 + 300);
    EXPECT_EQ(main().Visible(), c.openMs == 100);
    EXPECT_EQ(Started().size(), c.noConnectMs == 300 ? 1u : 0u);
  }
}

TEST_F(ReactionsTest, TheNoConnectionProgramStartsOnceAfterItsDelayUnlessTheLinkReturns) {
  const std::string settings =
      "[CHECK]\r\nNoConnect=1\r\n[START]\r\nNOCONNECT=C:\\Korva\\Tools\\nolink.exe -q\r\n";
  StartWith(settings);
  // Without delay keys the program waits 30 s after the loss.
  At(33999);
  EXPECT_TRUE(Started().empty());
  At(34000);
  ExpectStarted(Started(), "NOLINK.EXE", "C:\\KORVA\\TOOLS\\", "-Q");
  EXPECT_FALSE(main().TimerVerbindung->Enabled());
  At(90000);
  EXPECT_EQ(Started().size(), 1u);

  // A text before the delay is over stops it at the watchdog's next tick.
  processes_.Clear();
  StartWith(settings + "VerbindungSeconds=10\r\n");
  At(8500);
  main().ParseFrame(kMains);
  At(9000);
  EXPECT_FALSE(main().TimerVerbindung->Enabled());
  // Lost again at 12 s: only that loss's delay runs out.
  At(21999);
  EXPECT_TRUE(Started().empty());
  At(22000);
  EXPECT_EQ(Started().size(), 1u);
}

TEST_F(ReactionsTest, EachProgramTimerFiresOnceWithItsOwnCommandLine) {
  StartWith(
      "[START]\r\nDC_LOW=c:\\saved\\battery.exe\r\nALARM=c:\\korva\\alarm.exe -a\r\n"
      "AKKU=d:\\scripts\\akku.js now\r\nOVER85=c:\\korva\\full.bat\r\n"
      "UNDER85=c:\\korva\\low.vbs  x  \r\n");
  // The battery program is the dialog's field as it stands, saved or not.
  monitor::frmConfig->edDC_LOW->SetText("c:\\typed\\battery.com /now");
  struct Case {
    vcl::TTimer* timer;
    Request expected;
  };
  const Case cases[] = {
      {main().TimerAppStart, {"", "BATTERY.COM", "/NOW", "C:\\TYPED\\", 1}},
      {main().TimerAlarm, {"", "ALARM.EXE", "-A", "C:\\KORVA\\", 1}},
      {main().TimerAkku, {"", "AKKU.JS", "NOW", "D:\\SCRIPTS\\", 1}},
      {main().TimerOver85, {"", "FULL.BAT", "", "C:\\KORVA\\", 1}},
      {main().TimerUnder85, {"", "LOW.VBS", "X", "C:\\KORVA\\", 1}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.timer->Name());
    processes_.Clear();
    c.timer->SetInterval(300);
    c.timer->SetEnabled(true);
    Advance(1000);
    EXPECT_FALSE(c.timer->Enabled());
    ExpectStarted(Started(), c.expected.file, c.expected.directory, c.expected.parameters);
  }
}

TEST_F(ReactionsTest, BatteryOperationStartsItsProgramOnceAfterTheStartDelayUnlessItEndsFirst) {
  const std::string settings =
      "[CHECK]\r\nDC_LOW_Start=1\r\nDC_LOW_ShutDown=0\r\n"
      "[START]\r\nDC_LOW=C:\\Program Files\\Korva\\save.exe /quick  now\r\n"
      "StartMinutes=0\r\nStartSeconds=2\r\n";
  StartOnCom1(settings);
  ArriveAt({500, 1500, 2500, 3500, 4500}, kMains);
  // Battery operation counts at its third frame in a row.
  ArriveAt({5000, 5500, 6000}, kBattery);
  EXPECT_TRUE(main().OnBattery);
  EXPECT_EQ(main().TimerAppStart->Interval(), 2000u);
  EXPECT_FALSE(main().TimerShutDown->Enabled());
  At(7999);
  EXPECT_TRUE(Started().empty());
  At(8000);
  ExpectStarted(Started(), "SAVE.EXE", "C:\\PROGRAM FILES\\KORVA\\", "/QUICK  NOW");
  ArriveAt({8500, 9000, 9500, 10000, 10500, 11000, 11500, 12000}, kBattery);
  EXPECT_EQ(Started().size(), 1u);

  // Back on mains (three frames) before the two seconds are over.
  processes_.Clear();
  StartOnCom1(settings);
  ArriveAt({500, 1500, 2500, 3500, 4500}, kMains);
  ArriveAt({5000, 5500, 6000}, kBattery);
  ASSERT_TRUE(main().TimerAppStart->Enabled());
  ArriveAt({6500, 7000, 7500}, kMains);
  EXPECT_FALSE(main().OnBattery);
  EXPECT_FALSE(main().TimerAppStart->Enabled());
  At(20000);
  EXPECT_TRUE(Started().empty());
}

TEST_F(ReactionsTest, TheShutdownComesOnTimeWhileTheBatteryProgramWaitsForConsent) {
  korva_test::HeldShell shell;
  platform::ScopedService<platform::Processes> installed(shell);
  shell.Answer("SAVE.EXE", platform::kShellAccessDenied, true);
  StartOnCom1(
      "[CHECK]\r\nDC_LOW_Start=1\r\n[ACTION]\r\nShutdownSignal=0\r\n"
      "[START]\r\nDC_LOW=\\\\server\\korva\\save.exe\r\nStartMinutes=0\r\nStartSeconds=1\r\n"
      "ShutDownMinutes=0\r\nShutDownSeconds=3\r\n");
  ArriveAt({500, 1500, 2500, 3500, 4500}, kMains);
  ArriveAt({5000, 5500, 6000}, kBattery);
  At(7000);
  ASSERT_TRUE(shell.WaitAsked(1));
  ArriveAt({7500, 8000, 8500}, kBattery);
  At(9000);
  EXPECT_EQ(power_.exitRequests(), std::vector<uint32_t>{5});
  EXPECT_TRUE(shell.Holding());
  // The refusal is told once the shell gives it.
  EXPECT_TRUE(boxes_.shown().empty());
  shell.Release();
  ASSERT_TRUE(korva_test::FinishProgramStarts());
  EXPECT_EQ(BoxTexts(), std::vector<std::string>{"T78"});
}

TEST_F(ReactionsTest, ABlockArrivingWhileAReactionsTunePlaysIsParsedButNotEvaluated) {
  StartOnCom1("[ACTION]\r\nPlaySound=1\r\n");
  TuneWith tune;
  platform::ScopedService<platform::Sound> tuneGuard(tune);
  ArriveAt({500, 1500, 2500, 3500, 4500}, kMains);
  tune.during = [this] {
    line_->Receive(kMains);
    ASSERT_TRUE(line_->WaitForWaits(++waits_));
  };
  // The third battery frame reports DC_LO; its request plays the tune.
  ArriveAt({5000, 5500, 6000}, kBattery);
  ASSERT_FALSE(tune.during);
  EXPECT_EQ(main().FrameText, "*****\r\nBUFRD\r\nDC_OK\r\n");
  EXPECT_TRUE(main().OnBattery);
  EXPECT_EQ(main().DcOkCount, 0);
  EXPECT_EQ(HistoryCount("DC_OK / T6"), 1);
}

TEST_F(ReactionsTest, ALinkLostWhileAReactionsBoxIsOpenEndsTheEvaluationSoTheReturnCounts) {
  StartOnCom1(
      "[CHECK]\r\nDC_LOW_Start=1\r\nDC_LOW_ShutDown=0\r\n"
      "[START]\r\nDC_LOW=notes.txt\r\nStartMinutes=0\r\nStartSeconds=0\r\n");
  BoxWith box;
  platform::ScopedService<platform::MessageBoxes> boxGuard(box);
  ArriveAt({500, 1500, 2500, 3500, 4500}, kMains);
  box.during = [this] {
    At(10000);
    EXPECT_EQ(main().ConnectionWord, 0x0111);
    EXPECT_FALSE(main().Evaluating);
    ArriveAt({10500, 11000, 11500}, kMains);
  };
  // Battery operation starts the battery program at once: text 70 stays open
  // while the link goes and comes back on mains.
  ArriveAt({5000, 5500, 6000}, kBattery);
  ASSERT_FALSE(box.during);
  EXPECT_FALSE(main().OnBattery);
  EXPECT_EQ(HistoryCount("DC_OK / T6"), 2);
}

}  // namespace
