// The USB link in the running program, on the fake D2XX library and the
// virtual clock: finding and opening the module, the set-up and polling
// calls, reading one block a cycle, the failures the link reports, losing
// and regaining the device with the watchdog, and texts of a closed link.

#include "FakeFtdi.h"
#include "monitor/D2XXUnit.h"
#include "monitor/DeviceList.h"
#include "monitor/config.h"
#include "opcserver/opc_provider.h"

namespace {

using korva_test::FakeCall;

const char* const kMains = "frame *****\\r\\nBUFRD\\r\\nDC_OK\\r\\n";
const char* const kBattery = "frame *BAT*\\r\\nBUFRD\\r\\nDC_LO\\r\\n";
const char* const kModule = "device KORVA DI-ZOD 40 K2";

std::vector<std::string> Texts(const std::vector<FakeCall>& calls) {
  std::vector<std::string> texts;
  for (const FakeCall& call : calls)
    texts.push_back(call.call);
  return texts;
}

class UsbLinkTest : public korva_test::UsbProgramTest {
 protected:
  std::string Panel() { return main().StatBar->Panels()[0].Text(); }
  // The calls from the first with this text on.
  std::vector<std::string> CallsFrom(const std::string& first) const {
    const std::vector<std::string> all = Texts(fake().Log());
    return std::vector<std::string>(std::find(all.begin(), all.end(), first), all.end());
  }
  long Count(const std::string& prefix) const {
    return static_cast<long>(fake().Calls(prefix).size());
  }
  std::vector<uint64_t> Times(const std::string& prefix) const {
    std::vector<uint64_t> times;
    for (const FakeCall& call : fake().Calls(prefix))
      times.push_back(call.at);
    return times;
  }
  long HistoryStarting(const std::string& prefix) const {
    const std::vector<std::string> texts = HistoryTexts();
    return std::count_if(texts.begin(), texts.end(),
                         [&](const std::string& text) { return text.starts_with(prefix); });
  }
};

TEST_F(UsbLinkTest, FindsTheModuleAmongTheDevicesSetsItUpAndPollsOncePerCycle) {
  fake().Script({"device FT232R USB UART A1", kModule, kMains});
  StartOnUsb();
  EXPECT_EQ(main().DeviceName, "KORVA DI-ZOD 40");
  EXPECT_EQ(main().lblDevice->Caption(), "KORVA DI-ZOD 40");
  EXPECT_TRUE(main().UsbMode);
  EXPECT_EQ(Panel(), "T56USBT57");
  // The choice is made by the description: the device list is never shown.
  EXPECT_EQ(monitor::frmDeviceList->Caption() + monitor::frmDeviceList->lblDeviceSelect->Caption(),
            "T45T46");
  EXPECT_FALSE(monitor::frmDeviceList->Visible());
  Advance(1002);
  EXPECT_EQ(CallsFrom("FT_OpenEx(\"K2\", 1) = 0"),
            (std::vector<std::string>{
                "FT_OpenEx(\"K2\", 1) = 0", "FT_ResetDevice() = 0", "FT_ClrRts() = 0",
                "FT_ClrDtr() = 0", "FT_ResetDevice() = 0", "FT_SetBaudRate(9600) = 0",
                "FT_SetDataCharacteristics(8, 0, 0) = 0", "FT_SetFlowControl(0x100, 0, 0) = 0",
                "FT_SetTimeouts(250, 0) = 0", "FT_SetRts() = 0", "FT_GetStatus() = 0 480",
                "FT_Read(84) = 0 84", "FT_Purge(1) = 0", "FT_GetStatus() = 0 481",
                "FT_Read(84) = 0 84", "FT_Purge(1) = 0"}));
  EXPECT_EQ(Times("FT_GetStatus"), (std::vector<uint64_t>{501, 1002}));
  // The block as the parser sees it: line ends as dots.
  EXPECT_EQ(main().FrameText, "*****..BUFRD..DC_OK..");
  EXPECT_TRUE(main().ReplySeen);
}

TEST_F(UsbLinkTest, TakesTheFirstDescriptionWithTheProductWordWholeAndCaseSensitive) {
  const std::string longest = "KORVA" + std::string(58, 'x');
  struct Case {
    std::string description;
    std::string taken;
  };
  for (const Case& c : {Case{longest, longest}, Case{"MY KORVA BOX", "MY KORVA BOX"},
                        Case{"Korva DI-ZOD 40", ""}}) {
    SCOPED_TRACE(c.description);
    fake().Script({"device " + c.description + " S9"});
    StartOnUsb();
    EXPECT_EQ(main().DeviceName, c.taken);
    EXPECT_EQ(Count("FT_OpenEx(\"S9\", 1) = 0"), c.taken.empty() ? 0 : 1);
    NewFake();
  }
}

TEST_F(UsbLinkTest, NoDeviceIsReportedInTheHistoryAndTheStatusBar) {
  StartOnUsb();
  // At the start there is no history yet: the port choice tries again.
  EXPECT_EQ(HistoryCount("List_USB_Devices - Device Not Found...."), 0);
  {
    const vcl::ScopedModalAnswer choice([](vcl::TForm&) {
      monitor::frmConfig->cboxCOM->SelectItem(0);
      monitor::frmConfig->btnAbbrechen->Click();
    });
    main().btnKonfig->Click();
  }
  EXPECT_EQ(HistoryCount("List_USB_Devices - Device Not Found...."), 1);
  EXPECT_EQ(Panel(), "T56USBT58 T64FT_OK");
  EXPECT_EQ(sound_.messageBeeps().back(), 0u);
  EXPECT_FALSE(main().UsbThread);
}

TEST_F(UsbLinkTest, ACycleReadsOneBlockOnlyWhenOneIsThereAndEvaluatesItAtOnce) {
  // 83 bytes have arrived at the first look, 200 at the second.
  fake().Script({kModule, "after 414 ms frame *****\\r\\nBUFRD\\r\\nDC_OK\\r\\n",
                 "after 1100 ms silence", "after 1210 ms frame *****\\r\\nBUFRD\\r\\nDC_OK\\r\\n",
                 std::string("after 2000 ms ") + kBattery});
  StartOnUsb();
  Advance(501);
  EXPECT_EQ(Texts(fake().Calls("FT_")).back(), "FT_GetStatus() = 0 83");
  EXPECT_EQ(Count("FT_Read"), 0);
  Advance(501);
  EXPECT_EQ(Count("FT_Read(84) = 0 84"), 1);
  EXPECT_EQ(Count("FT_Purge(1) = 0"), 1);
  EXPECT_EQ(HistoryCount("T14"), 1);
  // One battery block is enough over USB.
  At(3006);
  EXPECT_EQ(HistoryCount("*BAT* / T8"), 1);
  EXPECT_EQ(main().StatusWord & 0x0F00, 0x0400);
}

TEST_F(UsbLinkTest, ABlockIsReadFromEightyFourBytesOnAndKeptThroughAnIoError) {
  struct Case {
    const char* name;
    std::vector<std::string> script;
    const char* status;
    std::vector<std::string> reads;
    std::string frame;
  };
  // The module's bytes come at 960 a second: from 413 ms on, 84 wait at 501 ms.
  const Case cases[] = {
      {"83 waiting", {std::string("after 414 ms ") + kMains}, "FT_GetStatus() = 0 83", {}, ""},
      {"84 waiting",
       {std::string("after 413 ms ") + kMains},
       "FT_GetStatus() = 0 84",
       {"FT_Read(84) = 0 84"},
       "*****..BUFRD..DC_OK.."},
      {"a read broken off",
       {kMains, "fail FT_Read 4"},
       "FT_GetStatus() = 0 480",
       {"FT_Read(84) = 4 84"},
       "*****..BUFRD..DC_OK.."},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    NewFake();
    fake().Script({kModule});
    for (const std::string& line : c.script)
      fake().Script({line});
    StartOnUsb();
    Advance(501);
    EXPECT_EQ(Texts(fake().Calls("FT_GetStatus")), std::vector<std::string>{c.status});
    EXPECT_EQ(Texts(fake().Calls("FT_Read")), c.reads);
    EXPECT_EQ(main().FrameText, c.frame);
    EXPECT_EQ(main().LinkUp, !c.frame.empty());
  }
}

TEST_F(UsbLinkTest, FailuresOfTheSetUpThePurgeAndASlowCycleAreShownAndPollingGoesOn) {
  // Silent from 4050 ms to 7050 ms: the reads at 4008 ms and 7515 ms are 3.5 s apart.
  fake().Script({kModule, kMains, "fail FT_SetBaudRate 7", "fail FT_Purge 4",
                 "after 600 ms fail FT_Purge 0", "after 4050 ms silence",
                 "after 7050 ms frame *****\\r\\nBUFRD\\r\\nDC_OK\\r\\n"});
  StartOnUsb();
  Advance(501);
  EXPECT_EQ(HistoryCount("T55Set_USB_Device_BaudRate: FT_INVALID_BAUD_RATE"), 1);
  EXPECT_EQ(HistoryCount("USB RXClear: FT_Purge - General IO Error..."), 1);
  At(8000);
  EXPECT_EQ(HistoryStarting("Zykluszeit USBThread: "), 1);
  EXPECT_EQ(HistoryCount("Zykluszeit USBThread: 3.51 s."), 1);
  EXPECT_EQ(Count("FT_Read(84)"), 9);
  EXPECT_EQ(Count("FT_Close"), 0);
}

TEST_F(UsbLinkTest, OpeningAnOpenLinkStopsItsPollingAndTheNextCallOpensItAgain) {
  fake().Script({kModule, kMains});
  StartOnUsb();
  main().OpenUsbLink();
  EXPECT_EQ(Panel(), "T56USBT59");
  EXPECT_FALSE(main().UsbThread);
  EXPECT_EQ(Count("FT_Close() = 0"), 1);
  main().OpenUsbLink();
  EXPECT_EQ(Panel(), "T56USBT57");
  EXPECT_TRUE(main().UsbThread);
  EXPECT_EQ(Count("FT_OpenEx(\"K2\", 1) = 0"), 2);
}

TEST_F(UsbLinkTest, AVanishedDeviceIsClosedRetriedLostAndFoundAgain) {
  fake().Script({kModule, kMains, "after 10600 ms vanish", "after 40000 ms return"});
  StartOnUsb();
  At(10600);
  EXPECT_EQ(Times("FT_Read").back(), 10521u);

  // The fourth silent tick closes the link, after its half-second wait.
  At(13999);
  EXPECT_EQ(Count("FT_Close"), 0);
  At(14000);
  EXPECT_EQ(Times("FT_Close() = 0"), std::vector<uint64_t>{14500});
  EXPECT_FALSE(main().UsbThread);
  EXPECT_EQ(main().LED_Connection->PictureIndex(), 1);

  // Reopened every five ticks: nothing is listed.
  const std::string notFound = "List_USB_Devices - Device Not Found....";
  for (uint64_t retry : {19000u, 24000u, 29000u}) {
    At(retry - 1);
    const long before = HistoryCount(notFound);
    At(retry);
    EXPECT_EQ(HistoryCount(notFound), before + 1) << retry;
    At(retry + 1000);
    EXPECT_EQ(main().StatusWord, 0x8888) << retry;
    EXPECT_EQ(main().ConnectionWord, 0x0188) << retry;
  }
  At(30999);
  EXPECT_EQ(HistoryCount("T13"), 0);
  At(31000);
  EXPECT_EQ(HistoryCount("T13"), 1);
  EXPECT_EQ(main().ConnectionWord, 0x0111);

  // The open failure is written once per run, after the fourth retry.
  const std::string failed = "T56USBT58 T64FT_DEVICE_NOT_OPENED";
  At(33999);
  EXPECT_EQ(HistoryCount(failed), 0);
  At(34000);
  EXPECT_EQ(HistoryCount(failed), 1);
  At(39000);
  EXPECT_EQ(HistoryCount(failed), 1);

  At(44000);
  EXPECT_EQ(Times("FT_OpenEx(\"K2\", 1) = 0").back(), 44000u);
  At(44501);
  EXPECT_EQ(main().ConnectionWord, 0x0428);
  EXPECT_EQ(HistoryCount("T14"), 2);
}

TEST_F(UsbLinkTest, ASilentDeviceGivenUpIsClosedWithItsLineEveryTenSeconds) {
  fake().Script({kModule, kMains, "after 2000 ms silence"});
  StartOnUsb();
  // Closed at the fourth silent tick, opened at the ninth; then each retry
  // finds it open and closes it, the next one opens it again.
  At(23000);
  EXPECT_EQ(HistoryCount("T13"), 1);
  EXPECT_EQ(HistoryCount("T56USBT61"), 0);
  // Given up: each close tells it, and the device opened meanwhile is no
  // longer named.
  At(27000);
  EXPECT_EQ(HistoryCount("T56USBT61"), 1);
  EXPECT_EQ(main().StatBar->Panels()[0].Text(), "T56USBT59");
  At(32000);
  EXPECT_EQ(main().DeviceName, "KORVA DI-ZOD 40");
  At(37000);
  EXPECT_EQ(HistoryCount("T56USBT61"), 2);
  EXPECT_TRUE(main().DeviceName.empty() && main().lblDevice->Caption().empty());
  EXPECT_EQ(Times("FT_Close() = 0"), (std::vector<uint64_t>{6500, 16500, 26500, 36500}));
}

TEST_F(UsbLinkTest, ADeviceListedAgainIsShownOnlyOnceItOpens) {
  fake().Script({kModule, kMains, "after 10600 ms vanish", "after 16000 ms fail FT_OpenEx 3",
                 "after 16000 ms return", "after 21000 ms fail FT_OpenEx 0"});
  StartOnUsb();
  const opcserver::TOPCProvider& items = *opcserver::OPCProvider;
  struct Step {
    uint64_t at;
    const char* open;
    std::string shown;
  };
  // Closed at 14 s (the device stays named until the watchdog gives up on
  // it); listed again at 19 s but not opened; opened at 24 s.
  const Step steps[] = {{1000, "FT_OpenEx(\"K2\", 1) = 0", "KORVA DI-ZOD 40"},
                        {19100, "FT_OpenEx(\"K2\", 1) = 3", ""},
                        {24100, "FT_OpenEx(\"K2\", 1) = 0", "KORVA DI-ZOD 40"}};
  for (const Step& step : steps) {
    At(step.at);
    SCOPED_TRACE(step.at);
    EXPECT_EQ(Texts(fake().Calls("FT_OpenEx")).back(), step.open);
    EXPECT_EQ(main().DeviceName, step.shown);
    EXPECT_EQ(main().lblDevice->Caption(), step.shown);
    EXPECT_EQ(items.PsDevice->Value(), step.shown);
  }
}

TEST_F(UsbLinkTest, ATextOfALinkThatIsClosingIsDropped) {
  fake().Script({kModule, kMains});
  StartOnUsb();
  // The first cycle's text is posted; the link closes before it is handled.
  clock().Jump(501);
  ASSERT_EQ(Count("FT_Read(84) = 0 84"), 1);
  main().CloseUsbLink();
  loop().ProcessMessages();
  EXPECT_FALSE(main().LinkUp);
  EXPECT_EQ(HistoryCount("T14"), 0);
  EXPECT_FALSE(main().UsbThread);
}

TEST_F(UsbLinkTest, WithoutTheLibraryTheUserIsToldAndTheRetriesFindNothing) {
  monitor::UseFtd2xx(platform::DynamicLibrary());
  StartOnUsb();
  ASSERT_FALSE(monitor::Ftd2xxLoaded());
  ASSERT_EQ(BoxTexts().size(), 1u);
  EXPECT_EQ(BoxTexts()[0].rfind("Cannot open the USB-library ftd2xx.dll", 0), 0u);
  At(30000);
  EXPECT_EQ(HistoryCount("List_USB_Devices - Device Not Found...."), 5);
  EXPECT_EQ(monitor::FtDeviceCount(), 0u);
}

TEST_F(UsbLinkTest, ALibraryWithoutPurgeIsReportedAsAnOtherError) {
  NewFake(true);
  fake().Script({kModule, kMains});
  StartOnUsb();
  Advance(501);
  EXPECT_EQ(HistoryCount("USB RXClear: FT_Purge - other error..."), 1);
}

}  // namespace
