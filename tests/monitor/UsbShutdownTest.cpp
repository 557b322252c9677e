// The shutdown command over USB in the running program, on the fake D2XX
// library: the timer's 'R' repeated while the module answers with frames,
// the session end's 'S', their count and failure lines, and the shutdown
// that follows; an acknowledgement evaluated on the main thread.

#include "FakeFtdi.h"

namespace {

const char* const kModule = "device KORVA DI-ZOD 40 K2";
const char* const kShortBattery = "frame *BAT*\\r\\nBUFRD\\r\\nDC_LO\\r\\n";
const char* const kLongBattery =
    "frame *BAT*\\r\\nBUFRD\\r\\nDC_LO\\r\\nBA<85\\r\\nRTS40\\r\\n-----\\r\\n";
const char* const kLongAcknowledged =
    "frame *BAT*\\r\\nBUFRD\\r\\nDC_LO\\r\\nBA<85\\r\\nRTS40\\r\\nSDREC\\r\\n";

using UsbShutdownTest = korva_test::UsbProgramTest;

TEST_F(UsbShutdownTest, TheCommandIsRepeatedWhileFramesAnswerAndCounted) {
  struct Case {
    const char* repeat;
    std::vector<const char*> script;
    size_t written;
    const char* count;
    uint64_t waited;
  };
  const Case cases[] = {
      {"3", {kModule, kShortBattery}, 3, "T142T1433/3", 0},
      {"3", {kModule, kShortBattery, "after 600 ms silence"}, 1, "T142T1431/3", 2000},
      {"0", {kModule, kShortBattery}, 0, "T142T1430/0", 0},
      // Refused bytes are not counted as sent.
      {"3", {kModule, kShortBattery, "after 1000 ms fail FT_Write 4"}, 0, "T142T1430/3", 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.repeat) + ", " + c.script.back());
    NewFake();
    for (const char* line : c.script)
      fake().Script({line});
    StartOnUsb(std::string("[CHECK]\r\nRepeatAbschaltung=") + c.repeat + "\r\n");
    At(1100);
    const uint64_t before = loop().NowMs();
    main().SendUsbShutdownCommand();
    if (c.waited) {
      EXPECT_EQ(loop().NowMs() - before, c.waited);
    }
    EXPECT_EQ(fake().Calls("FT_SetTimeouts(1000, 1000) = 0").size(), 1u);
    EXPECT_EQ(fake().Calls("FT_SetDtr() = 0").size(), 1u);
    EXPECT_EQ(Writes("R").size(), c.written);
    EXPECT_EQ(HistoryTexts().back(), c.count);
  }
}

TEST_F(UsbShutdownTest, AFailedSetUpIsReportedWithWhatWasWritten) {
  fake().Script({kModule, kShortBattery, "after 1000 ms fail FT_SetDtr 4"});
  StartOnUsb("[CHECK]\r\nRepeatAbschaltung=3\r\n");
  At(1100);
  main().SendUsbShutdownCommand();
  EXPECT_EQ(HistoryFrom("T142T1430/3"),
            (std::vector<std::string>{"T142T1430/3", "T56USB: T52 CountSend: 0; Result: 4"}));
  EXPECT_EQ(main().StatBar->Panels()[0].Text(), "T56USB: T52");
  EXPECT_TRUE(Writes("R").empty());
}

TEST_F(UsbShutdownTest, TheBatteryTimeEndsInTheCommandAndTheShutdownOrInRepeatsUntilSdrec) {
  // A short-frame module: the command, then the shutdown at once.
  fake().Script({kModule, kShortBattery});
  StartOnUsb(
      "[CHECK]\r\nRepeatAbschaltung=1\r\n[START]\r\nShutDownMinutes=0\r\nShutDownSeconds=1\r\n");
  At(1600);
  EXPECT_EQ(Writes("R"), std::vector<uint64_t>{1501});
  EXPECT_EQ(power_.exitRequests(), std::vector<uint32_t>{5});
  EXPECT_TRUE(main().UsbShutdownSent);

  // A long-frame module: every 2 s until it acknowledges.
  NewFake();
  power_.ClearRequests();
  fake().Script({kModule, kLongBattery, std::string("after 6000 ms ") + kLongAcknowledged});
  StartOnUsb(
      "[CHECK]\r\nRepeatAbschaltung=1\r\n[START]\r\nShutDownMinutes=0\r\nShutDownSeconds=1\r\n");
  At(5900);
  EXPECT_EQ(Writes("R"), (std::vector<uint64_t>{1501, 3501, 5501}));
  EXPECT_TRUE(power_.exitRequests().empty());
  // The acknowledgement is evaluated on the main thread, which closes the
  // link and joins the polling thread.
  At(6600);
  EXPECT_EQ(power_.exitRequests(), std::vector<uint32_t>{5});
  EXPECT_FALSE(main().UsbThread);
  EXPECT_EQ(fake().Calls("FT_Close() = 0").size(), 1u);
}

TEST_F(UsbShutdownTest, TheSessionEndSendsItsCommandUnlessTheTimerSentOne) {
  fake().Script({kModule, kShortBattery});
  StartOnUsb("[CHECK]\r\nRepeatAbschaltung=2\r\n[ACTION]\r\nWINDOWSSDSIGNAL=1\r\n");
  At(1100);
  EXPECT_EQ(vcl::SendMessage(main().Handle(), vcl::WM_QUERYENDSESSION, 0, 0), 1);
  EXPECT_EQ(Writes("S").size(), 2u);
  EXPECT_EQ(HistoryTexts().back(), "T144T1432/2");

  main().UsbShutdownSent = true;
  EXPECT_EQ(vcl::SendMessage(main().Handle(), vcl::WM_QUERYENDSESSION, 0, 0), 1);
  EXPECT_EQ(Writes("S").size(), 2u);
}

}  // namespace
