// The main window's serial link on a scripted port: opening and closing with
// their reports, frames read at 84 queued characters, line errors, the
// link-up bookkeeping, the charge items, the data at the watchdog's tick; a
// port that breaks is opened again, a driver without the line-feed event is
// read by the watchdog.

#include <chrono>
#include <thread>

#include "KorvamonTestProgram.h"
#include "monitor/lang.h"

namespace {

using korva_test::FakeSerialLine;
using monitor::GetLangString;
namespace pf = platform;

using korva_test::Repeat;

const std::string kSample = "*****\r\nALARM\r\nDC_OK\r\n";
const std::string kCharge = "*BAT*\r\nBUFRD\r\nDC_LO\r\nBA<85\r\n";
const std::string kLong = "*****\r\nALARM\r\nDC_OK\r\nBA>85\r\nRTS15\r\nSDREC\r\n";
const std::string kNoFrame = std::string(83, 'x') + "\n";

std::string T(int number) {
  return GetLangString(static_cast<uint32_t>(number));
}

class SerialLinkTest : public korva_test::KorvamonTest {
 protected:
  std::string Panel() { return main().StatBar->Panels()[0].Text(); }
  // The history lines written since the line with index `from`.
  std::vector<std::string> HistorySince(size_t from) const {
    const std::vector<std::string> texts = HistoryTexts();
    return std::vector<std::string>(texts.begin() + static_cast<std::ptrdiff_t>(from), texts.end());
  }
  // Where `text` stands in the history, by index.
  std::vector<size_t> HistoryLines(const std::string& text) const {
    const std::vector<std::string> texts = HistoryTexts();
    std::vector<size_t> found;
    for (size_t i = 0; i < texts.size(); ++i) {
      if (texts[i] == text)
        found.push_back(i);
    }
    return found;
  }
};

TEST_F(SerialLinkTest, OpensTheConfiguredPortAndReportsEveryOutcome) {
  StartOnCom1();
  EXPECT_EQ(Panel(), T(56) + "COM1" + T(57));
  EXPECT_EQ(main().DeviceName, "KORVA DI-ZOD 6 / 15 ");
  const FakeSerialLine::Record record = line_->record();
  EXPECT_EQ(record.masks, (std::vector<uint32_t>{pf::EV_RXFLAG | pf::EV_ERR}));
  // What waited in the queue before the link opened is thrown away.
  EXPECT_EQ(record.purges, std::vector<uint32_t>{pf::PURGE_RXCLEAR});

  // A second opening beeps and leaves the open port alone.
  main().OpenSerialLink(1);
  EXPECT_EQ(Panel(), T(56) + "COM1" + T(59));
  EXPECT_EQ(sound_.messageBeeps(), std::vector<uint32_t>{0});
  EXPECT_EQ(line_->record().opens, 1);

  // A port that is missing, and one that refuses its settings (closed again).
  StartWith("", "2");
  EXPECT_EQ(Panel(), T(56) + "COM2" + T(58) + " Handle=$FFFFFFFF");
  auto refusing = ports_.Attach("COM3");
  refusing->Refuse(FakeSerialLine::Step::kSetState);
  StartWith("", "3");
  EXPECT_EQ(Panel(), T(56) + "COM3" + T(58) + " Handle=$FFFFFFFF");
  EXPECT_EQ(refusing->record().closes, 1);
  EXPECT_EQ(sound_.messageBeeps().size(), 3u);
}

TEST_F(SerialLinkTest, ClosingWaitsASecondAndReportsInTheStatusBarAndTheHistory) {
  // Without a port number there is nothing to close and nothing to say.
  StartWith();
  const size_t lines = History().size();
  main().CloseSerialLink();
  EXPECT_EQ(History().size(), lines);

  StartOnCom1();
  sound_.Clear();
  main().edRead->SetText("old");
  const uint64_t before = loop().NowMs();
  main().CloseSerialLink();
  EXPECT_EQ(loop().NowMs() - before, 1000u);
  const std::string closed = T(56) + "COM1" + T(61);
  EXPECT_EQ(Panel(), closed);
  EXPECT_EQ(HistoryCount(closed), 1);
  EXPECT_TRUE(main().edRead->Text().empty());
  EXPECT_FALSE(line_->record().open);

  main().CloseSerialLink();
  EXPECT_EQ(Panel(), T(56) + "COM1" + T(63));
  EXPECT_EQ(sound_.messageBeeps(), std::vector<uint32_t>{0});

  // Opened again, the port is closed when the program ends, before its last lines.
  main().OpenSerialLink(1);
  main().mnuBeenden->Click();
  loop().ProcessMessages();
  ASSERT_EQ(HistoryLines(closed).size(), 2u);
  EXPECT_LT(HistoryLines(closed)[1], HistoryLines(T(110)).at(0));
  const FakeSerialLine::Record record = line_->record();
  EXPECT_EQ(record.opens, 2);
  EXPECT_FALSE(record.open);
  EXPECT_EQ(record.usesAfterClose + record.closedWhileBusy, 0);
}

TEST_F(SerialLinkTest, FramesAreReadAtEightyFourQueuedCharactersAndTextsWithoutOnePurged) {
  StartOnCom1();
  // Enough for the event thread, not yet for the reader: the text waits.
  Arrive(Repeat(kSample, 3));
  EXPECT_EQ(line_->record().queued, 63u);
  EXPECT_FALSE(main().LinkUp);

  Arrive(kSample);
  EXPECT_EQ(line_->record().queued, 0u);
  EXPECT_TRUE(main().FrameValid);
  EXPECT_EQ(main().ReceivedText, kSample);
  EXPECT_EQ(main().ConnectionWord, 0x0428);

  Arrive(kNoFrame);
  EXPECT_FALSE(main().FrameValid);
  EXPECT_EQ(main().ReceivedText, T(104));
  EXPECT_TRUE(main().DeviceName.empty() && main().lblDevice->Caption().empty());
  EXPECT_EQ(line_->record().purges, (std::vector<uint32_t>{pf::PURGE_RXCLEAR, pf::PURGE_RXCLEAR}));

  // A purge the port refuses is reported with the system's text.
  line_->Refuse(FakeSerialLine::Step::kPurge);
  Arrive(kNoFrame);
  const std::string refused = "CommRXClear: fake error 31";
  EXPECT_EQ(HistoryCount(refused), 1);
  EXPECT_EQ(main().edRead->Text(), refused);
}

TEST_F(SerialLinkTest, LineErrorsReachTheHistoryAndTheReceivedTextLine) {
  StartOnCom1();
  Arrive(Repeat(kSample, 3), pf::CE_FRAME | pf::CE_OVERRUN);
  const std::string reported = "COMMERROR: CE_FRAMECE_OVERRUN";
  EXPECT_EQ(HistoryCount(reported), 1);
  EXPECT_EQ(main().edRead->Text(), reported);

  // Every name, in its order; no line for an empty word.
  const size_t lines = History().size();
  vcl::SendMessage(main().Handle(), monitor::WM_COMMEVENT, pf::EV_ERR, 0);
  EXPECT_EQ(History().size(), lines);
  vcl::SendMessage(main().Handle(), monitor::WM_COMMEVENT, pf::EV_ERR, 0x851F);
  EXPECT_EQ(main().edRead->Text(),
            "COMMERROR: CE_FRAMECE_RXPARITYCE_OVERRUNCE_RXOVERCE_TXFULLCE_BREAKCE_IOECE_MODE");
}

TEST_F(SerialLinkTest, TheFirstTextAfterAStartOrALinkLossBringsTheLinkUpOnce) {
  StartWith();
  main().TimerOpen->Tag = 8 | 2;
  main().TimerOpen->SetEnabled(true);
  main().WatchdogTicks = 3;
  EXPECT_TRUE(main().ParseFrame(Repeat(kSample, 4)));
  EXPECT_EQ(main().WatchdogTicks, 0);
  EXPECT_EQ(main().ConnectionWord, 0x0428);
  EXPECT_EQ(main().pnlMask->Left(), -800);
  EXPECT_EQ(main().lblSeriell->Caption() + main().LastMessage, T(14) + T(14));
  // The lost link's window request is taken back; the other one stays.
  EXPECT_EQ(main().TimerOpen->Tag, 2);
  EXPECT_TRUE(main().TimerOpen->Running());
  main().ParseFrame(Repeat(kSample, 4));
  EXPECT_EQ(HistoryCount(T(14)), 1);

  // After a link loss, also a text without a frame brings the link up.
  main().LinkUp = false;
  main().ConnectionWord = 0x0111;
  main().pnlMask->SetLeft(0);
  main().TimerOpen->Tag = 8;
  EXPECT_FALSE(main().ParseFrame("no frame here"));
  EXPECT_EQ(main().ConnectionWord, 0x0421);
  EXPECT_EQ(main().pnlMask->Left(), -800);
  EXPECT_EQ(HistoryCount(T(14)), 2);
  EXPECT_FALSE(main().TimerOpen->Running());

  // A mask put back while the link is up is moved aside again.
  main().pnlMask->SetLeft(0);
  main().ParseFrame(Repeat(kSample, 4));
  EXPECT_EQ(main().pnlMask->Left(), -800);
}

TEST_F(SerialLinkTest, ChargeItemsFollowTheFrameLength) {
  StartWith();
  main().LED_FULL->Hide();
  main().ParseFrame(Repeat(kCharge, 3));
  EXPECT_TRUE(main().Has28CharFrames && !main().Has42CharFrames);
  EXPECT_TRUE(main().labVoll->Visible() && main().labFull->Visible());
  EXPECT_FALSE(main().LED_FULL->Visible());
  main().Over85State = true;
  main().ParseFrame(Repeat(kCharge, 3));
  EXPECT_TRUE(main().LED_FULL->Visible());

  main().ParseFrame(Repeat(kLong, 2));
  EXPECT_TRUE(!main().Has28CharFrames && main().Has42CharFrames);
  EXPECT_FALSE(main().LED_FULL->Visible() || main().labVoll->Visible() ||
               main().labFull->Visible());
  // A text without a frame leaves the lengths as they were.
  main().ParseFrame(kNoFrame);
  EXPECT_TRUE(main().Has42CharFrames);
  main().ParseFrame(Repeat(kSample, 4));
  EXPECT_FALSE(main().Has28CharFrames || main().Has42CharFrames);
}

TEST_F(SerialLinkTest, TheWatchdogShowsTheDataAtItsFirstTickAfterAText) {
  StartWith();
  main().btnUpDown->Click();
  main().TimerVerbindung->SetEnabled(true);
  main().ParseFrame(Repeat(kSample, 4));
  Advance(1000);
  EXPECT_TRUE(main().LinkOk);
  EXPECT_FALSE(main().TimerVerbindung->Running());
  EXPECT_EQ(main().edRead->Text(), "*****--ALARM--DC_OK--");
  EXPECT_EQ(main().ConnectionWord, 0x0228);
  EXPECT_EQ(main().LED_Connection->PictureIndex(), 2);

  // Each second's state: valid frames alternate, silence (no text) changes
  // nothing, texts without a frame settle on 4 and yellow.
  struct Second {
    const std::string* text;
    int32_t connection;
    int led;
  };
  const std::string valid = Repeat(kSample, 4);
  for (const Second& second : {Second{&valid, 0x0828, 0},
                               {&valid, 0x0228, 2},
                               {nullptr, 0x0228, 2},
                               {&kNoFrame, 0x0828, 0},
                               {&kNoFrame, 0x0428, 1},
                               {&kNoFrame, 0x0428, 1}}) {
    if (second.text)
      main().ParseFrame(*second.text);
    Advance(1000);
    EXPECT_EQ(main().ConnectionWord, second.connection);
    EXPECT_EQ(main().LED_Connection->PictureIndex(), second.led);
  }
  EXPECT_TRUE(main().edRead->Text().empty());
  EXPECT_TRUE(main().ReceivedText.empty());
}

TEST_F(SerialLinkTest, ABrokenPortIsOpenedAgainEveryFifthTickAndOnlyItsFirstFailureIsWritten) {
  StartOnCom1();
  Arrive(Repeat(kSample, 4));
  const size_t before = History().size();
  // The adapter is pulled: the port breaks under its handle and cannot be
  // opened until it is back.
  line_->Refuse(FakeSerialLine::Step::kOpen);
  line_->Break();
  for (int i = 0; i < 500 && !main().SerialBroken; ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
    loop().ProcessMessages();
  }
  ASSERT_TRUE(main().SerialBroken);
  At(8'500);
  EXPECT_EQ(line_->record().closes, 0);
  At(9'500);  // the ninth silent tick closes the broken port and fails to open it
  EXPECT_EQ(line_->record().closes, 1);
  const std::string failed = T(56) + "COM1" + T(58) + " fake error 2";
  At(20'500);  // the tries at the fourteenth and nineteenth tick write nothing
  EXPECT_EQ(HistorySince(before), (std::vector<std::string>{T(13), failed}));
  EXPECT_EQ(line_->record().opens, 1);

  // Back: the next try opens it, and the frames bring the link up as usual.
  line_->Refuse(FakeSerialLine::Step::kOpen, false);
  At(24'500);
  EXPECT_EQ(line_->record().opens, 2);
  EXPECT_FALSE(main().SerialBroken);
  EXPECT_EQ(Panel(), T(56) + "COM1" + T(57));
  ASSERT_TRUE(line_->WaitForWaits(waits_ = 3));
  Arrive(Repeat(kSample, 4));
  EXPECT_EQ(HistorySince(before), (std::vector<std::string>{T(13), failed, T(14)}));

  // A link that is merely silent is left alone.
  At(45'000);
  EXPECT_EQ(line_->record().opens, 2);
  EXPECT_EQ(line_->record().closes, 1);
}

TEST_F(SerialLinkTest, FramesOfADriverThatNeverAnnouncesTheLineFeedAreReadByTheWatchdog) {
  // One that reports other events but not the line feed (clone chips), and
  // one whose waits fail while the port answers (Wine on a terminal).
  using Driver = void (FakeSerialLine::*)();
  for (Driver driver : {&FakeSerialLine::WithoutEventChar, &FakeSerialLine::FailWaits}) {
    line_ = ports_.Attach("COM1");
    (line_.get()->*driver)();
    StartWith("", "1");
    line_->Receive(Repeat(kSample, 4));
    At(1'000);
    EXPECT_FALSE(main().LinkUp);  // one tick without the event may be chance
    At(2'000);
    EXPECT_TRUE(main().LinkUp && main().FrameValid);
    EXPECT_EQ(line_->record().queued, 0u);
    // From now on every tick reads: the link stays up.
    for (int second = 3; second <= 12; ++second) {
      line_->Receive(Repeat(kSample, 4));
      At(second * 1'000);
      EXPECT_EQ(line_->record().queued, 0u);
    }
    EXPECT_FALSE(main().SerialBroken);
    EXPECT_EQ(line_->record().opens, 1);
    EXPECT_EQ(HistoryCount(T(13)), 0);
    EXPECT_EQ(HistoryCount(T(14)), 1);
  }
}

}  // namespace
