// The status evaluation in the running program: the first frame, the device
// rating, the serial three-frame rule and USB's changes at once, the program
// timers, the blinking ALARM as a battery fault, the shutdown acknowledgement.

#include "KorvamonTestProgram.h"

namespace {

// The module's frames: 21 characters, 28 with the charge word, 42 with the
// rating and the shutdown acknowledgement.
std::string Frame(const std::string& battery, const std::string& alarm, const std::string& dc,
                  const std::string& charge = "") {
  return battery + "\r\n" + alarm + "\r\n" + dc + "\r\n" + (charge.empty() ? "" : charge + "\r\n");
}
std::string LongFrame(const std::string& rating, const std::string& reply = "-----") {
  return Frame("*****", "BUFRD", "DC_OK", "BA>85") + rating + "\r\n" + reply + "\r\n";
}

const std::string kAllWell = Frame("*****", "BUFRD", "DC_OK", "BA>85");

class EvaluationTest : public korva_test::KorvamonTextTest {
 protected:
  // The program without a port; `check` adds to the [CHECK] section.
  void StartWith(const std::string& check = "") {
    KorvamonTest::StartWith("[CHECK]\r\n" + check);
    // Window requests count from the first frame on.
    main().StartPhase = false;
  }
  // A block of frames arrives and is parsed and evaluated as the serial link does.
  void Serial(const std::string& frame, int times = 1) {
    for (int i = 0; i < times; ++i) {
      main().ParseFrame(frame + frame + frame);
      if (!main().Evaluating)
        main().EvaluateFrameSerial(main().FrameText);
    }
  }
  void Usb(const std::string& frame) {
    main().ParseFrame(frame + frame + frame);
    main().EvaluateFrameUsb();
  }
  // One frame every 100 ms for `ms`, over USB when `usb_` is set.
  void Phase(const std::string& word, int ms) {
    for (int t = 0; t < ms; t += 100) {
      const std::string frame = Frame("*****", word, "DC_OK", "BA>85");
      usb_ ? Usb(frame) : Serial(frame);
      Advance(100);
    }
  }
  void Blink(std::initializer_list<int> alarmPhases) {
    for (int ms : alarmPhases) {
      Phase("ALARM", ms);
      Phase("BUFRD", 500);
    }
  }

  long Count(const std::string& text) const { return HistoryCount(text); }
  int Field(int shift) { return (main().StatusWord >> shift) & 0xF; }

  bool usb_ = false;
};

TEST_F(EvaluationTest, TheFirstFrameRunsEveryReactionAndHidesTheWindowWhenAllIsWell) {
  StartOnCom1();
  ASSERT_TRUE(main().Visible());
  const size_t before = History().size();
  Arrive(kAllWell + kAllWell + kAllWell);

  EXPECT_EQ(main().StatusWord, 0x8822);
  EXPECT_EQ(main().ConnectionWord, 0x0428);
  EXPECT_FALSE(main().Visible());
  std::vector<std::string> texts = HistoryTexts();
  texts.erase(texts.begin(), texts.begin() + static_cast<long>(before));
  EXPECT_EQ(texts, (std::vector<std::string>{"T14", "DC_OK / T6", "T9", "T10", "T31"}));
  EXPECT_EQ(main().LED_OK->PictureIndex() * 1000 + main().LED_BAT->PictureIndex() * 100 +
                main().LED_ALARM->PictureIndex() * 10 + main().LED_FULL->PictureIndex(),
            2002);
  // Each condition in order took its opposite request back; only the lost
  // link's stays for the watchdog, and nothing asked for the window.
  EXPECT_EQ(main().TimerOpen->Tag, 8);
  EXPECT_FALSE(main().TimerOpen->Enabled());
  EXPECT_FALSE(main().FirstFrame || main().Evaluating);

  // A 21-character module has no charge word: below 85 %, and the window stays.
  StartWith();
  Serial(Frame("*****", "BUFRD", "DC_OK"));
  EXPECT_EQ(main().StatusWord, 0x8828);
  EXPECT_TRUE(main().Visible());
}

TEST_F(EvaluationTest, LongFramesNameTheDeviceByItsRatingAndAcknowledgeTheShutdown) {
  StartWith();
  Serial(LongFrame("RTS40"));
  EXPECT_EQ(main().DeviceName, "KORVA DI-ZOD 40");

  StartWith();
  Serial(LongFrame("RTSxxTPS15"));
  EXPECT_EQ(main().DeviceName, "KORVA DI-ZOD 15");

  // Neither is a number: the name stands and later frames are still evaluated.
  StartWith();
  main().DeviceName = "KORVA DI-ZOD 6 / 15 ";
  Serial(LongFrame("RTS??TPS-x"));
  EXPECT_EQ(main().DeviceName, "KORVA DI-ZOD 6 / 15 ");
  EXPECT_FALSE(main().Evaluating);
  Serial(Frame("*****", "BUFRD", "DC_LO", "BA>85"), 3);
  EXPECT_EQ(Count("DC_LO / T7"), 1);

  // The rating is read from serial frames only.
  StartWith();
  Usb(LongFrame("RTS40", "SDREC"));
  EXPECT_TRUE(main().ReplySeen);
  EXPECT_NE(main().DeviceName, "KORVA DI-ZOD 40");

  // The shutdown acknowledgement reaches the shutdown on every later frame.
  EXPECT_TRUE(power_.exitRequests().empty());
  Serial(LongFrame("RTS40"));
  Serial(LongFrame("RTS40", "SDREC"), 2);
  Usb(LongFrame("RTS40", "SDREC"));
  EXPECT_EQ(power_.exitRequests().size(), 3u);
  EXPECT_EQ(Count("T140"), 3);
}

TEST_F(EvaluationTest, SerialWorseningsCountAtTheThirdFrameInARowUsbChangesAtOnce) {
  StartWith();
  Serial(kAllWell);
  const std::string dcLow = Frame("*****", "BUFRD", "DC_LO", "BA>85");
  const std::string noDc = Frame("*****", "BUFRD", "-----", "BA>85");
  Serial(dcLow, 2);
  Serial(kAllWell);
  Serial(dcLow, 2);
  Serial(noDc);
  Serial(dcLow, 2);
  EXPECT_EQ(Count("DC_LO / T7"), 0);
  Serial(dcLow);
  EXPECT_EQ(Count("DC_LO / T7"), 1);
  EXPECT_EQ(Field(4), 8);
  Serial(dcLow, 5);
  Serial(kAllWell);
  EXPECT_EQ(Count("DC_LO / T7"), 1);
  EXPECT_EQ(Count("DC_OK / T6"), 2);
  EXPECT_EQ(Field(4), 2);

  const std::string battery = Frame("*BAT*", "BUFRD", "DC_OK", "BA>85");
  Serial(battery, 2);
  Serial(kAllWell);
  EXPECT_EQ(Count("*BAT* / T8"), 0);
  Serial(battery, 3);
  EXPECT_EQ(Count("*BAT* / T8"), 1);
  EXPECT_EQ(Field(8), 4);
  // The end of battery operation counts at its third frame too.
  Serial(kAllWell, 2);
  EXPECT_EQ(Count("T9"), 1);
  Serial(kAllWell);
  EXPECT_EQ(Count("T9"), 2);
  EXPECT_EQ(Field(8), 8);

  StartWith();
  Usb(kAllWell);
  Usb(battery);
  EXPECT_EQ(Count("*BAT* / T8"), 1);
  Usb(Frame("*BAT*", "BUFRD", "DC_LO", "BA<85"));
  EXPECT_EQ(Count("DC_LO / T7") + Count("T32"), 2);
  EXPECT_EQ(main().StatusWord, 0x8488);
  Usb(kAllWell);
  EXPECT_EQ(main().StatusWord, 0x8822);
}

TEST_F(EvaluationTest, ReactionsArmTheirProgramTimersAndTheOppositeOnesStopThem) {
  // Commands without a program file: a timer that fires only shows text 70.
  const std::string ini =
      "DC_LOW_Start=1\r\nDC_LOW_ShutDown=1\r\nAlarmStart=1\r\nOver85=1\r\nUnder85=1\r\n"
      "[START]\r\nDC_LOW=note.txt\r\nALARM=note.txt\r\nOVER85=note.txt\r\n"
      "UNDER85=note.txt\r\nShutDownMinutes=0\r\nShutDownSeconds=0\r\nAlarmMinutes=-1\r\n"
      "AlarmSeconds=0\r\nUnder85Minutes=1\r\nUnder85Seconds=30\r\nOver85Minutes=0\r\n"
      "Over85Seconds=0\r\nStartMinutes=0\r\n";
  StartWith(ini + "StartSeconds=2\r\n");
  // The first frame's charge reaction starts no program.
  Serial(kAllWell);
  EXPECT_FALSE(main().TimerOver85->Enabled());

  const std::string under = Frame("*****", "BUFRD", "DC_OK", "BA<85");
  Serial(under, 2);
  EXPECT_EQ(Field(0), 2);
  Serial(under);
  EXPECT_EQ(Field(0), 8);
  EXPECT_TRUE(main().TimerUnder85->Enabled());
  EXPECT_EQ(main().TimerUnder85->Interval(), 90000u);
  // Above 85 % counts at its third frame too.
  Serial(kAllWell, 2);
  EXPECT_EQ(Field(0), 8);
  Serial(kAllWell);
  EXPECT_EQ(Count("T31"), 2);
  EXPECT_FALSE(main().TimerUnder85->Enabled());
  EXPECT_EQ(main().TimerOver85->Interval(), 100u);
  EXPECT_TRUE(main().TimerOver85->Enabled());

  // A negative delay counts as none: the floor.
  Serial(Frame("*****", "ALARM", "DC_OK", "BA>85"));
  EXPECT_EQ(main().TimerAlarm->Interval(), 100u);
  EXPECT_TRUE(main().TimerAlarm->Enabled());
  Serial(kAllWell);
  EXPECT_FALSE(main().TimerAlarm->Enabled());

  const std::string battery = Frame("*BAT*", "BUFRD", "DC_OK", "BA>85");
  Serial(battery, 3);
  EXPECT_EQ(main().TimerAppStart->Interval(), 2000u);
  EXPECT_TRUE(main().TimerAppStart->Enabled());
  EXPECT_EQ(main().TimerShutDown->Interval(), 50u);
  EXPECT_TRUE(main().TimerShutDown->Enabled());
  Serial(kAllWell, 3);
  for (vcl::TTimer* timer : {main().TimerAppStart, main().TimerShutDown})
    EXPECT_TRUE(!timer->Enabled() && timer->Interval() == 0) << timer->Name();

  // Without a start delay the battery program starts at once.
  Given(ini + "StartSeconds=0\r\n");
  ASSERT_TRUE(BoxTexts().empty());
  Serial(battery, 3);
  EXPECT_EQ(BoxTexts(), std::vector<std::string>{"T70\r\nnote.txt"});
  EXPECT_FALSE(main().TimerAppStart->Enabled());
}

TEST_F(EvaluationTest, FiveValidAlarmPhasesInARowAreABatteryFaultToldOnce) {
  StartWith(
      "Akku=1\r\n[START]\r\nAKKU=note.txt\r\nAkkuSeconds=30\r\n[ACTION]\r\nOpenWindow_Akku=1\r\n"
      "OpenSec_Akku=30\r\n");
  Serial(kAllWell);
  Blink({700, 1000, 1300, 1600});
  EXPECT_EQ(Count("T12"), 0);
  EXPECT_EQ(Count("T11"), 4);
  Phase("ALARM", 900);
  Serial(kAllWell);
  EXPECT_EQ(Count("T12"), 1);
  EXPECT_EQ(Field(12), 5);
  EXPECT_TRUE(main().TimerAkku->Enabled());
  EXPECT_EQ(main().TimerAkku->Interval(), 30000u);
  EXPECT_TRUE(main().TimerOpen->Tag & 16);
  // Valid phases go on: the count is held at 10.
  Blink({800, 1200, 800, 1200, 800});
  EXPECT_EQ(main().BlinkCount, 10);

  // While it blinks on, only the LED follows the word.
  const long alarms = Count("T11");
  const long ready = Count("T10");
  Blink({800, 1200});
  Phase("ALARM", 600);
  EXPECT_EQ(main().LED_ALARM->PictureIndex(), 3);
  Serial(kAllWell, 24);
  EXPECT_EQ(main().LED_ALARM->PictureIndex(), 0);
  EXPECT_EQ(Count("T11") + Count("T10") + Count("T12"), alarms + ready + 1);
  EXPECT_EQ(main().StatusWord & 0xE000, 0x4000);

  // The 25th BUFRD frame in a row ends it.
  Serial(kAllWell);
  EXPECT_EQ(main().StatusWord & 0xE000, 0x8000);
  EXPECT_FALSE(main().TimerAkku->Enabled());
  EXPECT_FALSE(main().TimerOpen->Tag & 16);
  EXPECT_EQ(Count("T12"), 1);
  // The run's count goes on from 20: it never grows without bound.
  EXPECT_EQ(main().BufrdFrames, 20);
  Serial(kAllWell, 5);
  EXPECT_EQ(main().BufrdFrames, 20);
}

TEST_F(EvaluationTest, TheUsbLinkJudgesABlinkingAlarmAsTheSerialLinkDoes) {
  StartWith();
  usb_ = true;
  Usb(kAllWell);
  Blink({700, 1000, 1300, 1600});
  Phase("ALARM", 900);
  EXPECT_EQ(Count("T12"), 0);
  Usb(kAllWell);
  EXPECT_EQ(Count("T12"), 1);
  EXPECT_EQ(Count("T11"), 5);
  // The fault keeps the alarm bit; the phase's end only switched the LED.
  EXPECT_EQ(main().StatusWord, 0x5822);
  EXPECT_EQ(main().LED_ALARM->PictureIndex(), 0);

  // A USB link is marked silent before it is lost: the fault outlives the
  // silence, and the word shows it again, with the alarm word last seen.
  main().UsbMode = true;
  Advance(10000);
  ASSERT_EQ(main().StatusWord, 0x8888);
  Usb(kAllWell);
  EXPECT_EQ(main().StatusWord, 0x4822);
  EXPECT_EQ(Count("T12"), 1);
}

TEST_F(EvaluationTest, ALostLinkEndsTheBlinkTimingSoNoCountCarriesIntoTheNextConnection) {
  StartWith();
  Serial(kAllWell);
  Blink({700, 1000, 1300, 1600});
  ASSERT_EQ(main().BlinkCount, 4);
  // The fifth ALARM phase is cut by an outage: the link is lost at the
  // watchdog's fourth silent tick.
  Phase("ALARM", 300);
  Advance(4000);
  ASSERT_EQ(main().ConnectionWord, 0x0111);
  EXPECT_FALSE(main().MessTimer->Enabled());
  EXPECT_EQ(main().BlinkCount, 0);
  EXPECT_EQ(main().BlinkMs, 0);

  // Back within that phase: nothing from before the outage counts.
  Phase("ALARM", 300);
  Phase("BUFRD", 500);
  Blink({700, 1000, 1300, 1600});
  EXPECT_EQ(main().BlinkCount, 4);
  EXPECT_EQ(Count("T12"), 0);
  Blink({900});
  EXPECT_EQ(Count("T12"), 1);
}

TEST_F(EvaluationTest, AnAlarmPhaseTooLongOrTooShortStartsTheCountAfresh) {
  // Phases are timed in 100 ms steps: 400 and 2100 lie just outside.
  for (int outside : {2500, 300, 2100, 400}) {
    StartWith();
    Serial(kAllWell);
    Blink({700, 1000, 1300, 1600, outside, 700, 1000, 1300, 1600});
    EXPECT_EQ(Count("T12"), 0) << outside;
    Blink({900});
    EXPECT_EQ(Count("T12"), 1) << outside;
  }
}

}  // namespace

TEST_F(EvaluationTest, TheStartsPendingRequestsDoNotOpenTheWindowAfterAShortBatteryEpisode) {
  struct Case {
    const char* module;
    std::string charge;
    bool opens;
  };
  // A module without the charge word never sends what would cancel the
  // start's request for it; one below 85 % has a request of its own.
  for (const Case& c : {Case{"21 characters", "", false}, Case{"over 85 %", "BA>85", false},
                        Case{"under 85 %", "BA<85", true}}) {
    SCOPED_TRACE(c.module);
    StartWith("[ACTION]\r\nOpenWindow_Batt=1\r\nOpenSec_Batt=5\r\n");
    const std::string mains = Frame("*****", "BUFRD", "DC_OK", c.charge);
    Serial(mains);
    main().Hide();
    // The watchdog's first tick after the text takes the lost link's request back.
    Advance(1000);
    Serial(Frame("*BAT*", "BUFRD", "DC_LO", c.charge), 3);
    ASSERT_TRUE(main().TimerOpen->Enabled());
    Serial(mains, 3);
    Advance(6000);
    EXPECT_EQ(main().Visible(), c.opens);
    if (!c.opens) {
      EXPECT_EQ(main().TimerOpen->Tag, 0);
      EXPECT_FALSE(main().TimerOpen->Enabled());
    }
  }
}

TEST_F(EvaluationTest, TextWithoutFramesAfterAnAlarmLeavesTheBlinkTimingBounded) {
  StartWith();
  Serial(kAllWell);
  Serial(Frame("*****", "ALARM", "DC_OK", "BA>85"));
  ASSERT_TRUE(main().MessTimer->Enabled());
  // An hour of noise on a live link: the timer runs on and nothing is
  // evaluated. Unbounded, the count would overflow after 25 days.
  for (int second = 0; second < 3600; second += 3) {
    main().ParseFrame("noise at the wrong baud rate");
    Advance(3000);
  }
  EXPECT_TRUE(main().MessTimer->Enabled());
  EXPECT_GT(main().BlinkMs, 10000);
  EXPECT_LE(main().BlinkMs, 10100);
  // The next frames are judged as usual: a too long ALARM phase is no blink.
  Serial(kAllWell);
  EXPECT_EQ(main().BlinkCount, 0);
  EXPECT_EQ(main().BlinkMs, 0);
}
