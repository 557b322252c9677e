// The UDP interface of the running program on real loopback sockets: the
// ports from the command line, the three commands, the trace listeners and
// their lines byte for byte, hostile datagrams, a taken receive port, failing
// sends, and the bound on datagrams waiting for the main thread.

#include <chrono>
#include <random>
#include <thread>

#include "KorvamonTestProgram.h"
#include "TestUdp.h"
#include "monitor/UDPInterface.h"
#include "monitor/config.h"
#include "platform/CommandLine.h"
#include "platform/UdpSocket.h"
#include "platform/WallClock.h"

namespace {

using korva_test::TestUdpSocket;
using monitor::dmUDP;
using Peers = std::vector<std::string>;

const platform::LocalTime kNow{2026, 12, 8, 14, 5, 9};
const std::string kStamp = "[08.12.2026 14:05:09]";
const std::string kConfirmStamp = "[08:12:2026 14:05:09]";

// Polls `done` in real time, the loop's posted work handled in between; for
// what another thread or the network brings, never for a timer.
bool Within(const std::function<bool()>& done) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
  while (!done()) {
    if (std::chrono::steady_clock::now() > deadline)
      return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  return true;
}

// Records each box and, like a timer firing while it is up, adds a history
// line from inside it.
class BoxWithTimers : public platform::ScriptedMessageBoxes {
 public:
  int Show(const std::string& text, const std::string& caption, uint32_t flags) override {
    const int answer = ScriptedMessageBoxes::Show(text, caption, flags);
    if (monitor::frmKorvamon)
      monitor::frmKorvamon->LogHistory("while the box is up");
    return answer;
  }
};

class UdpInterfaceTest : public korva_test::KorvamonTextTest {
 protected:
  ~UdpInterfaceTest() override { program::EndProgram(); }

  // korvamon started with these parameters after its name.
  void StartWithParameters(const std::vector<std::string>& parameters) {
    std::vector<std::string> words = {"korvamon"};
    words.insert(words.end(), parameters.begin(), parameters.end());
    commandLine_.emplace(words);
    StartWith();
  }
  // Listening on a free port and sending to `txPort` (the listener's port).
  void StartListening(int txPort = 0) {
    ASSERT_TRUE(listener_.Bound());
    rx_ = TestUdpSocket::FreePort();
    const int tx = txPort ? txPort : listener_.port();
    StartWithParameters({std::to_string(rx_), std::to_string(tx)});
    ASSERT_NE(dmUDP->UDPServer, nullptr);
  }

  monitor::TUdpServer& Server() { return *dmUDP->UDPServer; }
  // Sends `bytes` from `from` and has korvamon handle it once its thread took
  // it. The thread posts its work just after it counts the datagram as
  // waiting, so the loop is run until the datagram is no longer waiting.
  void Command(TestUdpSocket& from, const std::string& bytes) {
    ASSERT_TRUE(from.Send(bytes, rx_));
    ASSERT_TRUE(Within([&] { return Server().Waiting() > 0; })) << bytes.size();
    ASSERT_TRUE(Within([&] {
      loop().ProcessMessages();
      return Server().Waiting() == 0;
    })) << bytes.size();
  }
  std::vector<std::string> Received(TestUdpSocket& at) {
    std::vector<std::string> all;
    while (std::optional<std::string> datagram = at.Receive(100))
      all.push_back(*datagram);
    return all;
  }
  void ClickWithF1() {
    // The number, as Windows' own headers (for the sockets) name the key too.
    constexpr uint16_t kF1 = 0x70;
    headless().keysDown.insert(kF1);
    monitor::frmConfig->FormClick(monitor::frmConfig);
    headless().keysDown.clear();
  }

  platform::ManualWallClock clock_{kNow};
  platform::ScopedService<platform::WallClock> clockGuard_{clock_};
  std::optional<platform::ScopedCommandLine> commandLine_;
  TestUdpSocket listener_;
  int rx_ = 0;
};

TEST_F(UdpInterfaceTest, TheFirstTwoParametersAreThePorts) {
  const struct {
    std::vector<std::string> parameters;
    int32_t rx, tx;
  } cases[] = {
      // 17408 may be taken here: only the ports are looked at.
      {{"abc", "5000"}, 17408, 5000},
      {{"5000", "x"}, 5000, 17409},
      {{"5000", "5001", "REGSERVER"}, 5000, 5001},
      {{" 5002 ", "+5003"}, 5002, 5003},
      {{"7000"}, 0, 0},
      {{}, 0, 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::PrintToString(c.parameters));
    StartWithParameters(c.parameters);
    EXPECT_EQ(dmUDP->RXPort, c.rx);
    EXPECT_EQ(dmUDP->TXPort, c.tx);
    if (c.parameters.size() < 2) {
      EXPECT_EQ(dmUDP->UDPServer, nullptr);
    }

    boxes_.Clear();
    monitor::frmConfig->FormClick(monitor::frmConfig);
    EXPECT_TRUE(boxes_.shown().empty());
    ClickWithF1();
    EXPECT_EQ(BoxTexts(), std::vector<std::string>{"RXPort: " + std::to_string(c.rx) +
                                                   "  TXPort: " + std::to_string(c.tx)});
  }
}

TEST_F(UdpInterfaceTest, AListenerGetsItsConfirmationsAndEveryLineByteForByte) {
  StartListening();
  Command(listener_, "xx usv_trace_start");
  EXPECT_EQ(dmUDP->TracePeers, Peers{"127.0.0.1"});
  EXPECT_EQ(listener_.Receive(), kConfirmStamp + "\tT390");

  main().LogHistory("on battery  ");
  main().LogHistory("");
  EXPECT_EQ(listener_.Receive(), kStamp + "\ton battery  ");
  EXPECT_EQ(listener_.Receive(), kStamp + "\t");

  // A second start gets no reply and no second entry: the stop removes the only one.
  Command(listener_, "USV_TRACE_START");
  EXPECT_EQ(dmUDP->TracePeers, Peers{"127.0.0.1"});
  clock_.Set({2027, 1, 2, 3, 4, 5});
  Command(listener_, "USV_TRACE_STOP");
  EXPECT_EQ(listener_.Receive(), "[02:01:2027 03:04:05]\tT392");
  EXPECT_TRUE(dmUDP->TracePeers.empty());

  main().LogHistory("no longer sent");
  EXPECT_EQ(Received(listener_), std::vector<std::string>{});
}

TEST_F(UdpInterfaceTest, TwoLoopbackListenersGetEveryLineAndAStrangersStopChangesNothing) {
  const int tx = TestUdpSocket::FreePort();
  TestUdpSocket first("127.0.0.1", tx, true);
  TestUdpSocket second("127.0.0.2", tx, true);
  TestUdpSocket stranger("127.0.0.3");
  ASSERT_TRUE(first.Bound() && second.Bound() && stranger.Bound());
  std::string from;
  ASSERT_TRUE(second.Send("from?", tx) && first.Receive(5000, &from));
  if (from != "127.0.0.2")
    GTEST_SKIP() << "this system sends from " << from << " whatever loopback address is bound";
  StartListening(tx);
  Command(first, "USV_TRACE_START");
  Command(second, "USV_TRACE_START");
  Command(stranger, "USV_TRACE_STOP");
  EXPECT_EQ(dmUDP->TracePeers, (Peers{"127.0.0.1", "127.0.0.2"}));

  main().LogHistory("one");
  main().LogHistory("two");
  for (TestUdpSocket* at : {&first, &second}) {
    EXPECT_EQ(Received(*at), (std::vector<std::string>{kConfirmStamp + "\tT390", kStamp + "\tone",
                                                       kStamp + "\ttwo"}));
  }
}

TEST_F(UdpInterfaceTest, TheCloseCommandIsLoggedAndEndsTheProgramWithItsLinesSent) {
  StartListening();
  Command(listener_, "USV_TRACE_START");
  Command(listener_, "a Usv_Close b");
  EXPECT_TRUE(vcl::Application().Terminated());
  const std::vector<std::string> closing = {"UDP-RX-Message from 127.0.0.1: USV_CLOSE", "T110",
                                            std::string(76, '*'), ""};
  const std::vector<std::string> texts = HistoryTexts();
  ASSERT_GE(texts.size(), closing.size());
  EXPECT_EQ(std::vector<std::string>(texts.end() - 4, texts.end()), closing);
  std::vector<std::string> sent = {kConfirmStamp + "\tT390"};
  for (const std::string& text : closing)
    sent.push_back(kStamp + "\t" + text);
  EXPECT_EQ(Received(listener_), sent);
  program::EndProgram();

  // Close comes first among the commands; once the program ends, no further
  // command is handled, though both came in one round.
  vcl::ScopedApplication nextRun;
  loop().ResetTerminated();
  StartListening();
  ASSERT_TRUE(listener_.Send("USV_TRACE_START USV_CLOSE", rx_));
  ASSERT_TRUE(listener_.Send("USV_CLOSE", rx_));
  ASSERT_TRUE(Within([&] { return Server().Waiting() == 2; }));
  loop().ProcessMessages();
  EXPECT_TRUE(vcl::Application().Terminated());
  EXPECT_TRUE(dmUDP->TracePeers.empty());
  EXPECT_EQ(HistoryCount("UDP-RX-Message from 127.0.0.1: USV_CLOSE"), 1);
  EXPECT_EQ(HistoryCount("T110"), 1);
  program::EndProgram();
}

TEST_F(UdpInterfaceTest, OnlyTheFirst128BytesUpToAZeroByteCount) {
  StartListening();
  const std::string start = "USV_TRACE_START";
  const struct {
    std::string data;
    bool registers;
  } cases[] = {
      {"", false},
      {std::string(128 - start.size(), 'x') + start, true},  // 128 bytes, no zero
      {std::string(129 - start.size(), 'x') + start, false},
      {"x" + std::string(1, '\0') + start, false},
      {"\xE4\xF6\xFC\x80\xFF usv_trace_start \xC0", true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.data.size());
    dmUDP->OnUdpRead(c.data, "127.0.0.1");
    EXPECT_EQ(dmUDP->TracePeers.size(), c.registers ? 1u : 0u);
    dmUDP->TraceStop("127.0.0.1");
  }
}

TEST_F(UdpInterfaceTest, HostileDatagramsChangeNothingAndACommandStillWorksAfterThem) {
  StartListening();
  std::mt19937 random(11);
  std::string noise(65507, '\0');
  for (char& c : noise)
    c = static_cast<char>(random());
  const std::vector<std::string> hostile = {
      "",
      noise,
      std::string(125, ' ') + "USV_CLOSE",
      std::string("ab\0USV_CLOSE", 12),
      std::string(128, 'Z'),
      "\x80\x9F\xA0\xFF\xFE usv_clos\xC5 usv_trace\xDFstart",
  };
  const size_t lines = History().size();
  for (const std::string& datagram : hostile)
    Command(listener_, datagram);
  EXPECT_FALSE(vcl::Application().Terminated());
  EXPECT_EQ(History().size(), lines);
  EXPECT_TRUE(dmUDP->TracePeers.empty());
  EXPECT_TRUE(boxes_.shown().empty());

  Command(listener_, "USV_TRACE_START");
  EXPECT_EQ(listener_.Receive(), kConfirmStamp + "\tT390");
}

TEST_F(UdpInterfaceTest, ATakenReceivePortIsReportedOnceAndTheModuleIsStillWatched) {
  TestUdpSocket taken("0.0.0.0");
  ASSERT_TRUE(taken.Bound());
  const std::string port = std::to_string(taken.port());
  commandLine_.emplace(std::vector<std::string>{"korvamon", port, "6000"});
  StartOnCom1();

  EXPECT_EQ(dmUDP->UDPServer, nullptr);
  const std::string report = main().StatBar->Panels()[0].Text();
  const std::string words = "UDP receive port " + port + " could not be opened: ";
  EXPECT_EQ(report.substr(0, words.size()), words);
  EXPECT_GT(report.size(), words.size());
  EXPECT_EQ(HistoryCount(report), 1);
  ClickWithF1();
  EXPECT_EQ(BoxTexts(), std::vector<std::string>{"RXPort: " + port + "  TXPort: 6000"});

  const std::string frame = "*****\r\nALARM\r\nDC_OK\r\n";
  Arrive(korva_test::Repeat(frame, 4));
  EXPECT_TRUE(main().FrameValid);
  EXPECT_EQ(main().ReceivedText, frame);
}

TEST_F(UdpInterfaceTest, AFailingListenerIsShownOnceUntilASendToItSucceeds) {
  BoxWithTimers boxes;
  const platform::ScopedService<platform::MessageBoxes> boxesGuard(boxes);
  ASSERT_TRUE(listener_.Bound());
  rx_ = TestUdpSocket::FreePort();
  StartWithParameters({std::to_string(rx_), "0"});
  ASSERT_NE(dmUDP->UDPServer, nullptr);

  // The confirmation fails already; twenty lines and those added while the
  // box is up fail too, but show nothing more.
  Command(listener_, "USV_TRACE_START");
  for (int i = 0; i < 20; ++i)
    main().LogHistory("line " + std::to_string(i));
  ASSERT_EQ(boxes.shown().size(), 1u);
  EXPECT_EQ(boxes.shown()[0].text, "T394");
  EXPECT_EQ(boxes.shown()[0].flags, platform::kMbOk | platform::kMbIconError);
  EXPECT_EQ(dmUDP->TracePeers, Peers{"127.0.0.1"});

  dmUDP->TXPort = listener_.port();
  main().LogHistory("through");
  EXPECT_EQ(listener_.Receive(), kStamp + "\tthrough");
  dmUDP->TXPort = 0;
  main().LogHistory("failing again");
  EXPECT_EQ(boxes.shown().size(), 2u);
  EXPECT_EQ(HistoryCount("T394"), 0);
  EXPECT_EQ(HistoryCount("while the box is up"), 2);
}

TEST_F(UdpInterfaceTest, AtMost256DatagramsWaitForTheMainThread) {
  StartListening();
  TestUdpSocket flood;
  for (int i = 0; i < 20000 && Server().Dropped() == 0; ++i) {
    ASSERT_TRUE(flood.Send("noise", rx_));
    if (i % 64 == 63)
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  ASSERT_GT(Server().Dropped(), 0u);
  EXPECT_EQ(Server().Waiting(), monitor::kMostWaitingDatagrams);

  // Noise still on its way crowds out what comes with it, as in any flood:
  // the command is sent again until it is heard.
  int round = 0;
  EXPECT_TRUE(Within([&] {
    if (round++ % 20 == 0)
      listener_.Send("USV_TRACE_START", rx_);
    loop().ProcessMessages();
    return dmUDP->TracePeers == Peers{"127.0.0.1"};
  }));
}

}  // namespace
