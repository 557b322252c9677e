// The connection watchdog on the virtual clock: alternation while frames
// arrive, the loss at the fourth silent tick, the silence steps, the return,
// the start phase, the USB link's slower way to a loss, and the status word
// after a silence.

#include "BackgroundStarts.h"
#include "KorvamonTestProgram.h"
#include "monitor/Info.h"
#include "opcserver/opc_provider.h"
#include "platform/Process.h"

namespace {

// Four frames of the module at rest: one block as the link reads it.
const std::string kRestBlock = korva_test::Repeat("*****\r\nBUFRD\r\nDC_OK\r\n", 4);

// Three 28-character frames of a buffer that is ready and charged.
std::string ChargedBlock(const std::string& battery, const std::string& dc) {
  return korva_test::Repeat(battery + "\r\nBUFRD\r\n" + dc + "\r\nBA>85\r\n", 3);
}

using WatchdogTest = korva_test::KorvamonTextTest;

TEST_F(WatchdogTest, SerialLinkAlternatesIsLostAtTheFourthSilentTickGoesSilentAndReturns) {
  StartOnCom1();
  // A frame every second, half a second before each tick, the last at 10.5 s.
  for (int second = 0; second <= 10; ++second) {
    At(second * 1000 + 500);
    if (second > 0) {
      const bool odd = second % 2 == 1;
      EXPECT_EQ(main().ConnectionWord, odd ? 0x0228 : 0x0828) << "at " << second << " s";
      EXPECT_EQ(main().LED_Connection->PictureIndex(), odd ? 2 : 0) << "at " << second << " s";
    }
    Arrive(kRestBlock);
  }
  At(13999);
  EXPECT_EQ(main().ConnectionWord, 0x0228);
  EXPECT_EQ(HistoryCount("T13"), 0);

  At(14000);
  EXPECT_EQ(main().ConnectionWord, 0x0111);
  EXPECT_EQ(main().LastMessage, "T13");
  EXPECT_EQ(main().lblSeriell->Caption(), "T13");
  EXPECT_EQ(HistoryCount("T13"), 1);
  EXPECT_TRUE(main().DeviceName.empty() && main().lblDevice->Caption().empty());
  EXPECT_EQ(main().LED_Connection->PictureIndex(), 3);
  EXPECT_EQ(main().pnlMask->Left(), 0);
  EXPECT_FALSE(main().LinkUp || main().LinkOk || main().FrameValid);
  EXPECT_TRUE(main().ReceivedText.empty() && main().FrameText.empty());

  At(19999);
  EXPECT_EQ(main().ConnectionWord, 0x0111);
  EXPECT_NE(main().StatusWord, 0x8888);
  // Each silence step writes the unknown state again, every five seconds.
  for (uint64_t step : {20000u, 25000u, 30000u}) {
    main().StatusWord = 0x1234;
    main().ConnectionWord = 0;
    main().ReceivedText = "stale";
    At(step - 1);
    EXPECT_EQ(main().StatusWord, 0x1234) << "before " << step;
    At(step);
    EXPECT_EQ(main().StatusWord, 0x8888) << "at " << step;
    EXPECT_EQ(main().ConnectionWord, 0x0188) << "at " << step;
    EXPECT_TRUE(main().ReceivedText.empty());
  }
  // The loss is reported once per silence.
  EXPECT_EQ(HistoryCount("T13"), 1);

  At(31500);
  Arrive(kRestBlock);
  EXPECT_EQ(main().ConnectionWord, 0x0428);
  EXPECT_EQ(main().LastMessage, "T14");
  EXPECT_EQ(HistoryCount("T14"), 2);
  At(32000);
  EXPECT_EQ(main().ConnectionWord, 0x0228);
  EXPECT_EQ(main().LED_Connection->PictureIndex(), 2);
}

TEST_F(WatchdogTest, TheStartPhaseHidesAWellWindowAtTheFifthTickAndNamesTheVersionAtTheSixth) {
  struct Case {
    bool onBattery;
    bool alarm;
    bool hidden;
  };
  for (const Case c :
       {Case{false, false, true}, Case{true, false, false}, Case{false, true, false}}) {
    StartWith();
    const std::string caption = main().Caption();
    // Texts keep the link alive; the device's state is set as an evaluation would.
    for (int second = 0; second < 5; ++second) {
      At(second * 1000 + 500);
      main().ParseFrame(kRestBlock);
    }
    main().DcOk = true;
    main().OnBattery = c.onBattery;
    main().Alarm = c.alarm;
    main().Show();
    At(4999);
    EXPECT_TRUE(main().Visible());
    At(5000);
    EXPECT_EQ(main().Visible(), !c.hidden) << c.onBattery << c.alarm;
    EXPECT_EQ(main().Caption(), caption);
    EXPECT_TRUE(main().StartPhase);

    At(6000);
    EXPECT_FALSE(main().StartPhase);
    const monitor::TfrmInfo* info = nullptr;
    for (int i = 0; i < vcl::Application().ComponentCount() && !info; ++i)
      info = dynamic_cast<monitor::TfrmInfo*>(vcl::Application().Components(i));
    ASSERT_NE(info, nullptr);
    EXPECT_EQ(main().InfoVersion, info->VersionText());
    EXPECT_EQ(main().InfoDate, info->FileDateText());
    EXPECT_EQ(main().Caption(),
              caption + "  (" + info->VersionText() + " - " + info->FileDateText() + ")");
    // The start phase is over: a later well state no longer hides the window.
    main().Show();
    At(12000);
    EXPECT_TRUE(main().Visible());
  }
}

TEST_F(WatchdogTest, AUsbLinkIsClosedAtTheFourthTickAndLostAtItsFourthRetry) {
  StartWith();
  main().UsbMode = true;
  At(500);
  main().ParseFrame(kRestBlock);
  At(4000);
  EXPECT_EQ(main().LED_Connection->PictureIndex(), 1);
  EXPECT_NE(main().ConnectionWord, 0x0111);
  // Retries at 6, 11, 16 and 21 s; silence steps at 10, 15 and 20 s between.
  At(16000);
  EXPECT_EQ(main().UsbRetries, 3);
  At(20999);
  EXPECT_EQ(main().ConnectionWord, 0x0188);
  EXPECT_EQ(HistoryCount("T13"), 0);
  At(21000);
  EXPECT_EQ(main().ConnectionWord, 0x0111);
  EXPECT_EQ(main().LED_Connection->PictureIndex(), 3);
  EXPECT_EQ(HistoryCount("T13"), 1);
  At(40000);
  EXPECT_EQ(HistoryCount("T13"), 1);

  // The retry count starts over past the loss long before it could overflow.
  main().UsbRetries = 999;
  At(41000);
  EXPECT_EQ(main().UsbRetries, 1000);
  At(46000);
  EXPECT_EQ(main().UsbRetries, 10);
  EXPECT_EQ(HistoryCount("T13"), 1);
}

TEST_F(WatchdogTest, AfterASilenceTheStatusWordShowsTheLastReportedStateAndChangesReactOnce) {
  platform::RecordingProcesses programs;
  const platform::ScopedService<platform::Processes> programsGuard(programs);
  const std::string rest = ChargedBlock("*****", "DC_OK");
  const std::string battery = ChargedBlock("*BAT*", "DC_LO");
  struct Case {
    const char* name;
    std::string before;
    std::string after;
    int32_t word;
    std::vector<std::string> lines;
    size_t programs;
  };
  const Case cases[] = {
      {"rest, rest", rest, rest, 0x8822, {"T14"}, 0},
      {"battery, battery", battery, battery, 0x8482, {"T14"}, 1},
      {"rest, battery", rest, battery, 0x8482, {"T14", "DC_LO / T7", "*BAT* / T8"}, 1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    programs.Clear();
    StartOnCom1(
        "[CHECK]\r\nDC_LOW_Start=1\r\nDC_LOW_ShutDown=0\r\n[START]\r\nDC_LOW=c:\\ups\\save.exe\r\n"
        "StartMinutes=0\r\nStartSeconds=0\r\n");
    const opcserver::TOPCProvider& items = *opcserver::OPCProvider;
    ArriveAt({500, 1500, 2500, 3500, 4500}, c.before);
    const int32_t reported = main().StatusWord;
    // Silent from 4.5 s: lost at the 8th second, unknown from the 14th.
    At(16000);
    EXPECT_EQ(main().StatusWord, 0x8888);
    EXPECT_EQ(items.PsStatus->Value(), 0x8888);
    EXPECT_FALSE(items.PsDCOK->Value() || items.PsBAT85->Value());
    const size_t lines = History().size();

    // Back after 12 s: the word is the one last reported, before anything counts anew.
    ArriveAt({16500}, c.after);
    EXPECT_EQ(main().StatusWord, reported);
    ArriveAt({17500, 18500}, c.after);
    At(19000);
    EXPECT_EQ(main().StatusWord, c.word);
    EXPECT_EQ(items.PsStatus->Value(), c.word);
    EXPECT_TRUE(items.PsDCOK->Value() == ((c.word & 0x20) != 0));
    EXPECT_TRUE(items.PsBAT85->Value());
    const std::vector<std::string> texts = HistoryTexts();
    EXPECT_EQ(std::vector<std::string>(texts.begin() + static_cast<long>(lines), texts.end()),
              c.lines);
    ASSERT_TRUE(korva_test::FinishProgramStarts());
    EXPECT_EQ(programs.requests().size(), c.programs);
  }
}

}  // namespace
