// The main window's serial link on a scripted port: opening and closing with
// their reports, frames read at 84 queued characters and parsed, texts
// without a frame purged, line errors reported with the word the event thread
// took, the link-up bookkeeping, the charge items, and the watchdog's look at
// the data one second on.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "KorvamonTestProgram.h"
#include "monitor/lang.h"
#include "platform/SerialPort.h"

namespace {

using korva_test::FakeSerialLine;
using korva_test::KorvamonTest;
using monitor::GetLangString;
namespace pf = platform;

const std::string kSample = "*****\r\nALARM\r\nDC_OK\r\n";
const std::string kCharge = "*BAT*\r\nBUFRD\r\nDC_LO\r\nBA<85\r\n";
const std::string kLong = "*****\r\nALARM\r\nDC_OK\r\nBA>85\r\nRTS15\r\nSDREC\r\n";
const std::string kNoFrame = std::string(83, 'x') + "\n";
const std::string kSerialDevice = "KORVA DI-ZOD 6 / 15 ";

std::string Times(const std::string& text, int count) {
  std::string result;
  for (int i = 0; i < count; ++i)
    result += text;
  return result;
}

std::string T(int number) {
  return GetLangString(static_cast<uint32_t>(number));
}

class SerialLinkTest : public KorvamonTest {
 protected:
  // A start of the program (its earlier run, if any, has ended).
  void StartWithPort(const std::string& port) {
    monitor::EndProgram();
    Given("[CHECK]\r\nLanguage=E\r\n[COM]\r\nCOMPORT=" + port + "\r\n");
    Start();
  }
  void StartOnCom1() {
    line_ = ports_.Attach("COM1");
    StartWithPort("1");
    ASSERT_TRUE(line_->WaitForWaits(1));
    waits_ = 1;
  }
  // Bytes (and line errors) arrive; the event thread takes them, posts and
  // comes back to its wait; then its posts are handled.
  void Arrive(const std::string& bytes, uint32_t errors = 0) {
    line_->Receive(bytes, errors);
    ASSERT_TRUE(line_->WaitForWaits(++waits_));
    loop().ProcessMessages();
  }

  std::string Panel() { return main().StatBar->Panels()[0].Text(); }
  // History lines are matched at their end: the history window may stamp them.
  int HistoryCount(const std::string& text) const {
    const std::vector<std::string> lines = History();
    return static_cast<int>(std::count_if(lines.begin(), lines.end(),
                                          [&](const std::string& l) { return l.ends_with(text); }));
  }
  int HistoryIndex(const std::string& text) const {
    const std::vector<std::string> lines = History();
    for (size_t i = 0; i < lines.size(); ++i) {
      if (lines[i].ends_with(text))
        return static_cast<int>(i);
    }
    return -1;
  }
  void ExpectNoUseAfterClose() {
    const FakeSerialLine::Record record = line_->record();
    EXPECT_EQ(record.usesAfterClose, 0);
    EXPECT_EQ(record.closedWhileBusy, 0);
  }

  std::shared_ptr<FakeSerialLine> line_;
  int waits_ = 0;
};

TEST_F(SerialLinkTest, OpensTheConfiguredPortAndReportsEveryOutcome) {
  StartOnCom1();
  EXPECT_EQ(Panel(), T(56) + "COM1" + T(57));
  EXPECT_EQ(main().DeviceName, kSerialDevice);
  EXPECT_EQ(main().lblDevice->Caption(), kSerialDevice);
  EXPECT_FALSE(main().UsbMode);
  FakeSerialLine::Record record = line_->record();
  EXPECT_EQ(record.inQueueSize, 512u);
  EXPECT_EQ(record.outQueueSize, 128u);
  ASSERT_FALSE(record.states.empty());
  const pf::DeviceControlBlock& block = record.states.back();
  EXPECT_EQ(block.baudRate, 9600u);
  EXPECT_EQ(block.byteSize, 8);
  EXPECT_EQ(block.parity, pf::NOPARITY);
  EXPECT_EQ(block.stopBits, pf::ONESTOPBIT);
  EXPECT_TRUE(block.ctsOutFlow);
  EXPECT_EQ(block.rtsControl, pf::RTS_CONTROL_HANDSHAKE);
  EXPECT_EQ(block.eventChar, '\n');
  EXPECT_EQ(record.masks, (std::vector<uint32_t>{pf::EV_RXFLAG | pf::EV_ERR}));
  // What waited in the queue before the link opened is thrown away.
  EXPECT_EQ(record.purges, std::vector<uint32_t>{pf::PURGE_RXCLEAR});
  EXPECT_TRUE(sound_.messageBeeps().empty());

  // A second opening beeps and leaves the open port alone.
  main().OpenSerialLink(1);
  EXPECT_EQ(Panel(), T(56) + "COM1" + T(59));
  EXPECT_EQ(sound_.messageBeeps(), std::vector<uint32_t>{0});
  EXPECT_EQ(line_->record().opens, 1);
  EXPECT_TRUE(main().SComm->Active());

  // A port that is missing, and one that refuses its settings (closed again).
  const std::string failed = T(58) + " Handle=$FFFFFFFF";
  StartWithPort("2");
  EXPECT_EQ(Panel(), T(56) + "COM2" + failed);
  auto refusing = ports_.Attach("COM3");
  refusing->Refuse(FakeSerialLine::Step::kSetState);
  StartWithPort("3");
  EXPECT_EQ(Panel(), T(56) + "COM3" + failed);
  EXPECT_EQ(refusing->record().closes, 1);
  EXPECT_FALSE(main().SComm->Active());
  EXPECT_EQ(sound_.messageBeeps().size(), 3u);
  EXPECT_TRUE(main().DeviceName.empty());
}

TEST_F(SerialLinkTest, ClosingWaitsASecondAndReportsInTheStatusBarAndTheHistory) {
  // Without a port number there is nothing to close and nothing to say.
  StartWithPort("0");
  const size_t lines = History().size();
  main().CloseSerialLink();
  EXPECT_EQ(History().size(), lines);

  StartOnCom1();
  sound_.Clear();
  main().edRead->SetText("old");
  const uint64_t before = loop().NowMs();
  main().CloseSerialLink();
  EXPECT_EQ(loop().NowMs() - before, 1000u);
  EXPECT_EQ(Panel(), T(56) + "COM1" + T(61));
  EXPECT_EQ(HistoryCount(T(56) + "COM1" + T(61)), 1);
  EXPECT_TRUE(main().edRead->Text().empty());
  EXPECT_FALSE(main().SComm->Active());
  EXPECT_FALSE(line_->record().open);
  ExpectNoUseAfterClose();

  main().CloseSerialLink();
  EXPECT_EQ(Panel(), T(56) + "COM1" + T(63));
  EXPECT_EQ(sound_.messageBeeps(), std::vector<uint32_t>{0});

  // Opened again, the port is closed when the program ends, before its last lines.
  main().OpenSerialLink(1);
  EXPECT_EQ(Panel(), T(56) + "COM1" + T(57));
  main().mnuBeenden->Click();
  loop().ProcessMessages();
  EXPECT_EQ(HistoryCount(T(56) + "COM1" + T(61)), 2);
  EXPECT_LT(HistoryIndex(T(56) + "COM1" + T(61)), HistoryIndex(T(110)));
  EXPECT_EQ(line_->record().opens, 2);
  EXPECT_FALSE(line_->record().open);
  ExpectNoUseAfterClose();
}

TEST_F(SerialLinkTest, FramesAreReadAtEightyFourQueuedCharactersAndTextsWithoutOnePurged) {
  StartOnCom1();
  // Enough for the event thread, not yet for the reader: the text waits.
  Arrive(Times(kSample, 3));
  EXPECT_EQ(line_->record().queued, 63u);
  EXPECT_FALSE(main().LinkUp);
  EXPECT_TRUE(main().FrameText.empty());

  Arrive(kSample);
  EXPECT_EQ(line_->record().queued, 0u);
  EXPECT_TRUE(main().FrameValid);
  EXPECT_EQ(main().FrameText, kSample);
  EXPECT_EQ(main().ReceivedText, kSample);
  EXPECT_TRUE(main().LinkUp);
  EXPECT_EQ(main().ConnectionWord, 0x0428);
  EXPECT_EQ(main().DeviceName, kSerialDevice);

  Arrive(kNoFrame);
  EXPECT_FALSE(main().FrameValid);
  EXPECT_EQ(main().FrameText, T(104));
  EXPECT_EQ(main().ReceivedText, T(104));
  EXPECT_TRUE(main().DeviceName.empty());
  EXPECT_TRUE(main().lblDevice->Caption().empty());
  EXPECT_EQ(line_->record().purges, (std::vector<uint32_t>{pf::PURGE_RXCLEAR, pf::PURGE_RXCLEAR}));
  EXPECT_EQ(line_->record().queued, 0u);

  // A purge the port refuses is reported with the system's text.
  line_->Refuse(FakeSerialLine::Step::kPurge);
  Arrive(kNoFrame);
  const std::string refused = "CommRXClear: fake error 31";
  EXPECT_EQ(HistoryCount(refused), 1);
  EXPECT_EQ(main().edRead->Text(), refused);
}

TEST_F(SerialLinkTest, LineErrorsReachTheHistoryAndTheReceivedTextLine) {
  StartOnCom1();
  Arrive(Times(kSample, 3), pf::CE_FRAME | pf::CE_OVERRUN);
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
  StartWithPort("0");
  main().TimerOpen->Tag = 8 | 2;
  main().TimerOpen->SetEnabled(true);
  main().WatchdogTicks = 3;
  EXPECT_EQ(main().pnlMask->Left(), 0);

  EXPECT_TRUE(main().ParseFrame(Times(kSample, 4)));
  EXPECT_EQ(main().WatchdogTicks, 0);
  EXPECT_EQ(main().ConnectionWord, 0x0428);
  EXPECT_EQ(main().pnlMask->Left(), -800);
  EXPECT_EQ(main().lblSeriell->Caption(), T(14));
  EXPECT_EQ(main().LastMessage, T(14));
  EXPECT_EQ(HistoryCount(T(14)), 1);
  // The lost link's window request is taken back; the other one stays.
  EXPECT_EQ(main().TimerOpen->Tag, 2);
  EXPECT_TRUE(main().TimerOpen->Running());

  main().ParseFrame(Times(kSample, 4));
  EXPECT_EQ(HistoryCount(T(14)), 1);
  EXPECT_EQ(main().ConnectionWord, 0x0428);

  // After a link loss, also a text without a frame brings the link up.
  main().LinkUp = false;
  main().ConnectionWord = 0x0111;
  main().pnlMask->SetLeft(0);
  main().TimerOpen->Tag = 8;
  main().WatchdogTicks = 7;
  EXPECT_FALSE(main().ParseFrame("no frame here"));
  EXPECT_EQ(main().WatchdogTicks, 0);
  EXPECT_EQ(main().ConnectionWord, 0x0421);
  EXPECT_EQ(main().pnlMask->Left(), -800);
  EXPECT_EQ(HistoryCount(T(14)), 2);
  EXPECT_EQ(main().TimerOpen->Tag, 0);
  EXPECT_FALSE(main().TimerOpen->Running());

  // A mask put back while the link is up is moved aside again.
  main().pnlMask->SetLeft(0);
  main().ParseFrame(Times(kSample, 4));
  EXPECT_EQ(main().pnlMask->Left(), -800);
  EXPECT_EQ(HistoryCount(T(14)), 2);
}

TEST_F(SerialLinkTest, ChargeItemsFollowTheFrameLength) {
  StartWithPort("0");
  main().LED_FULL->Hide();
  main().ParseFrame(Times(kCharge, 3));
  EXPECT_TRUE(main().Has28CharFrames);
  EXPECT_FALSE(main().Has42CharFrames);
  EXPECT_TRUE(main().labVoll->Visible());
  EXPECT_TRUE(main().labFull->Visible());
  EXPECT_FALSE(main().LED_FULL->Visible());
  main().Over85State = true;
  main().ParseFrame(Times(kCharge, 3));
  EXPECT_TRUE(main().LED_FULL->Visible());
  // Shown by the charge state, hidden only by frames without the charge word.
  main().Over85State = false;
  main().ParseFrame(Times(kCharge, 3));
  EXPECT_TRUE(main().LED_FULL->Visible());

  main().ParseFrame(Times(kLong, 2));
  EXPECT_FALSE(main().Has28CharFrames);
  EXPECT_TRUE(main().Has42CharFrames);
  EXPECT_EQ(main().FrameText, kLong);
  for (vcl::TControl* item :
       {static_cast<vcl::TControl*>(main().LED_FULL), static_cast<vcl::TControl*>(main().labVoll),
        static_cast<vcl::TControl*>(main().labFull)})
    EXPECT_FALSE(item->Visible()) << item->Name();
  // A text without a frame leaves the lengths as they were.
  main().ParseFrame(kNoFrame);
  EXPECT_TRUE(main().Has42CharFrames);

  main().ParseFrame(Times(kCharge, 3));
  main().ParseFrame(Times(kSample, 4));
  EXPECT_FALSE(main().Has28CharFrames || main().Has42CharFrames);
  EXPECT_FALSE(main().labFull->Visible());
}

TEST_F(SerialLinkTest, TheWatchdogShowsTheDataAtItsFirstTickAfterAText) {
  StartWithPort("0");
  main().btnUpDown->Click();
  ASSERT_TRUE(main().btnUpDown->Down());
  main().TimerVerbindung->SetEnabled(true);

  main().ParseFrame(Times(kSample, 4));
  Advance(1000);
  EXPECT_TRUE(main().LinkOk);
  EXPECT_FALSE(main().TimerVerbindung->Running());
  EXPECT_EQ(main().ConnectionWord, 0x0228);
  EXPECT_EQ(main().LED_Connection->PictureIndex(), 2);
  EXPECT_EQ(main().edRead->Text(), "*****--ALARM--DC_OK--");

  // Valid frames every second: the data field and the LED alternate.
  main().ParseFrame(Times(kSample, 4));
  Advance(1000);
  EXPECT_EQ(main().ConnectionWord, 0x0828);
  EXPECT_EQ(main().LED_Connection->PictureIndex(), 0);
  main().ParseFrame(Times(kSample, 4));
  Advance(1000);
  EXPECT_EQ(main().ConnectionWord, 0x0228);

  // Silence changes nothing after the first tick.
  Advance(1000);
  EXPECT_EQ(main().ConnectionWord, 0x0228);
  EXPECT_EQ(main().WatchdogTicks, 2);

  // Texts without a frame: nothing shown, then yellow, the field settles on 4.
  main().ParseFrame(kNoFrame);
  Advance(1000);
  EXPECT_EQ(main().ConnectionWord, 0x0828);
  EXPECT_EQ(main().LED_Connection->PictureIndex(), 0);
  EXPECT_TRUE(main().edRead->Text().empty());
  EXPECT_TRUE(main().ReceivedText.empty());
  for (int second = 0; second < 2; ++second) {
    main().ParseFrame(kNoFrame);
    Advance(1000);
    EXPECT_EQ(main().ConnectionWord, 0x0428);
    EXPECT_EQ(main().LED_Connection->PictureIndex(), 1);
  }
}

}  // namespace
