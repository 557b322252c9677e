// The OPC provider window in the running program: the ten items follow the
// main window's state on the scan timer, and they outlive the server's
// shutdown at the program's end.
#include <functional>

#include "KorvamonTestProgram.h"
#include "opcserver/OPCServerTestSupport.h"
#include "opcserver/opc_provider.h"

namespace {

using OPCProviderWindowTest = korva_test::KorvamonTest;

TEST_F(OPCProviderWindowTest, TheTenItemsFollowTheMainWindowOnEachScan) {
  Start();
  opcserver::TOPCProvider& window = *opcserver::OPCProvider;
  EXPECT_EQ(window.TimerScan->Interval(), 100u);
  struct StatusCase {
    int32_t word;
    bool bat, bat85, dcok, alarm, akku;
  };
  const StatusCase statuses[] = {
      {0x5000, false, false, false, true, true},  {0x4000, false, false, false, true, true},
      {0x1000, false, false, false, true, false}, {0x8888, false, false, false, false, false},
      {0x0422, true, true, true, false, false},
  };
  for (const StatusCase& c : statuses) {
    main().StatusWord = c.word;
    Advance(100);
    EXPECT_EQ(window.PsStatus->Value(), c.word);
    EXPECT_EQ(window.PsBAT->Value(), c.bat) << std::hex << c.word;
    EXPECT_EQ(window.PsBAT85->Value(), c.bat85) << std::hex << c.word;
    EXPECT_EQ(window.PsDCOK->Value(), c.dcok) << std::hex << c.word;
    EXPECT_EQ(window.PsALARM->Value(), c.alarm) << std::hex << c.word;
    EXPECT_EQ(window.PsAKKU->Value(), c.akku) << std::hex << c.word;
  }
  EXPECT_EQ(window.PsStatus->Value(), 0x0422);
  main().StatusWord = 0x8888;
  Advance(100);
  EXPECT_EQ(window.PsStatus->GetPropAsString(toolkit::vpValue), "34952");

  const std::pair<int32_t, int32_t> connections[] = {
      {0x0888, 1}, {0x0111, 0}, {0x0420, 0}, {0x0220, 2}, {0x0100, 0}};
  // The main window's watchdog changes the connection word as time passes:
  // one tick of the scan timer's own, with no time passing.
  const auto tick = [&] { window.TimerScan->OnTimer()(window.TimerScan); };
  for (const auto& [word, value] : connections) {
    main().ConnectionWord = word;
    tick();
    EXPECT_EQ(window.PsConnection->Value(), value) << std::hex << word;
  }

  main().DeviceName = "DI-ZOD Gerät \xE2\x82\xAC";
  main().LastMessage = "Netzausfall: Überbrückung";
  main().ReceivedText = "S:0422";
  Advance(100);
  EXPECT_EQ(window.PsDevice->Value(), "DI-ZOD Gerät \xE2\x82\xAC");
  EXPECT_EQ(window.PslastMessage->Value(), "Netzausfall: Überbrückung");
  EXPECT_EQ(window.PsReceive->Value(), "S:0422");

  // A scan that finds nothing new announces nothing: clients see no change.
  int changes = 0;
  for (int i = 0; i < window.ComponentCount(); ++i)
    if (auto* variable = dynamic_cast<toolkit::TPsVar*>(window.Components(i)))
      variable->OnChange = [&](vcl::TObject*, toolkit::TPsVarPropTypes) { ++changes; };
  tick();
  EXPECT_EQ(changes, 0);
  main().ReceivedText = "S:0423";
  tick();
  EXPECT_EQ(changes, 1);
}

// The main thread wakes for the link's blocks anyway: a scan rides along
// with such a wake from 1 ms after the last one, and comes at its own 100 ms
// without one.
TEST_F(OPCProviderWindowTest, TheScanRidesAlongWithOtherWakesOrComesAtItsOwnTime) {
  Start();
  opcserver::TOPCProvider& window = *opcserver::OPCProvider;
  const auto restartScan = [&] {
    window.TimerScan->SetEnabled(false);
    window.TimerScan->SetEnabled(true);
  };
  const auto postAt = [&](uint32_t ms) {
    clock().Jump(ms);
    loop().Post([] {});
    loop().ProcessMessages();
  };
  restartScan();
  main().StatusWord = 0x0422;
  postAt(0);
  EXPECT_NE(window.PsStatus->Value(), 0x0422) << "in the millisecond of the last scan";
  postAt(1);
  EXPECT_EQ(window.PsStatus->Value(), 0x0422) << "in a wake 1 ms after it";

  // Without other wakes, at its own time: at most 100 ms after the early one.
  main().StatusWord = 0x0424;
  clock().Jump(99);
  EXPECT_EQ(window.PsStatus->Value(), 0x0422);
  Advance(1);
  EXPECT_EQ(window.PsStatus->Value(), 0x0424);
}

TEST_F(OPCProviderWindowTest, ClientsAreToldOfTheEndWhileTheItemsStillExist) {
  Start();
  loop().ProcessMessages();
  opcserver::ComPtr<IOPCServer> client;
  ASSERT_EQ(
      opcserver::OPCServer->Factory().CreateInstance(nullptr, IID_IOPCServer, client.ReceiveVoid()),
      S_OK);
  std::vector<std::string> heard;
  bool itemsThere = false;
  const auto sink = opcserver::MakeComObject<korva_test::ShutdownSink>(heard, "sink");
  sink->OnRequest = [&] {
    itemsThere = opcserver::OPCProvider && opcserver::OPCProvider->PsStatus;
  };
  opcserver::ComPtr<IConnectionPoint> point;
  ASSERT_EQ(client.As<IConnectionPointContainer>()->FindConnectionPoint(IID_IOPCShutdown,
                                                                        point.Receive()),
            S_OK);
  DWORD cookie = 0;
  ASSERT_EQ(point->Advise(static_cast<IOPCShutdown*>(sink.Get()), &cookie), S_OK);
  program::EndProgram();
  EXPECT_EQ(heard, std::vector<std::string>{"sink:"});
  EXPECT_TRUE(itemsThere);
  EXPECT_EQ(opcserver::OPCProvider, nullptr);
}

}  // namespace
