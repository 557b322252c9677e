// The shutdown sequence in the running program: the battery time runs out,
// the module is told ("*R37F" or the RTS pulse train, its edges timed on the
// stepping pulse clock) and the system asked to shut down through the
// recording power stand-in; the repeats for modules that acknowledge, the
// flags, the shutdown order prepared at start, and what goes wrong.

#include <thread>

#include "KorvamonTestProgram.h"

namespace {

using korva_test::Repeat;
using korva_test::StampedTexts;

std::string Frame(const std::string& battery, const std::string& dc, const std::string& charge,
                  const std::string& rating = "", const std::string& reply = "-----") {
  std::string frame = battery + "\r\nBUFRD\r\n" + dc + "\r\n";
  if (!charge.empty())
    frame += charge + "\r\n";
  if (!rating.empty())
    frame += rating + "\r\n" + reply + "\r\n";
  return frame;
}

// Blocks as the link reads them: 84 characters or more.
const std::string kShortMains = Repeat(Frame("*****", "DC_OK", ""), 4);
const std::string kShortBattery = Repeat(Frame("*BAT*", "DC_LO", ""), 4);
// 42 characters; the reply field must not read "*****", which is the mains word.
std::string LongBlock(const std::string& battery, const std::string& dc, const std::string& rating,
                      const std::string& reply = "-----") {
  return Repeat(Frame(battery, dc, "BA<85", rating, reply), 2);
}

// The edge lines of a train on an idle processor, as the stepping clock times it.
std::vector<std::string> EdgeLines() {
  const int gaps[] = {1, 37, 37, 221, 221, 221, 37};
  std::vector<std::string> lines;
  for (int edge = 1; edge <= 7; ++edge) {
    const std::string gap = std::to_string(gaps[edge - 1]);
    lines.push_back(std::string("T112 ") + (edge % 2 ? "L-H: " : "H-L: ") + std::to_string(edge) +
                    ", T114: " + gap + "ms .. " + gap + "ms, T116: " + gap);
  }
  return lines;
}

class ShutdownTest : public korva_test::KorvamonTextTest {
 protected:
  static constexpr uint64_t kBatteryAt = 2500;

  // Starts on COM1 and brings the module to battery operation (the third
  // battery block in a row); times count from that report.
  void OnBattery(const std::string& settings, const std::string& mains,
                 const std::string& battery) {
    StartOnCom1(settings);
    power_.ClearRequests();
    battery_ = battery;
    for (uint64_t at : {500u, 1000u})
      Feed(at, mains);
    for (uint64_t at : {uint64_t{1500}, uint64_t{2000}, kBatteryAt})
      Feed(at, battery);
    ASSERT_TRUE(main().OnBattery);
    start_ += kBatteryAt;
  }
  // A block at `at`, handed over as the link's read hands it to the parser.
  void Feed(uint64_t at, const std::string& block) {
    At(at);
    if (main().ParseFrame(block) && !main().Evaluating)
      main().EvaluateFrameSerial(main().FrameText);
  }
  // The module goes on sending its battery frames, twice a second, until `ms`.
  void Keep(uint64_t ms) {
    for (uint64_t at = (loop().NowMs() - start_) / 500 * 500 + 500; at < ms; at += 500)
      Feed(at, battery_);
    At(ms);
  }
  // Handles what the pulse thread posts until `done` holds (in real time, bounded).
  bool Until(const std::function<bool()>& done) {
    for (int round = 0; round < 5000 && !done(); ++round) {
      loop().ProcessMessages();
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    loop().ProcessMessages();
    return done();
  }
  bool TrainOver() {
    return Until([&] { return !main().PulseThread; });
  }
  // The history from the first line with this text on.
  std::vector<std::string> HistoryFrom(const std::string& text) const {
    const std::vector<std::string> texts = HistoryTexts();
    const auto first = std::find(texts.begin(), texts.end(), text);
    return std::vector<std::string>(first, texts.end());
  }
  // The RTS levels set by the pulse train (the set-up at open uses the handshake).
  std::vector<std::pair<uint64_t, uint8_t>> RtsChanges() const {
    const auto record = line_->record();
    std::vector<std::pair<uint64_t, uint8_t>> changes;
    for (size_t i = 0; i < record.states.size(); ++i) {
      if (record.states[i].rtsControl != platform::RTS_CONTROL_HANDSHAKE)
        changes.emplace_back(record.stateTimes[i], record.states[i].rtsControl);
    }
    return changes;
  }
  std::vector<uint64_t> WriteTimes(const std::string& bytes) const {
    std::vector<uint64_t> times;
    for (const auto& [at, written] : line_->record().writes) {
      if (written == bytes)
        times.push_back(at - start_);
    }
    return times;
  }
  void StampWithLoopClock() {
    line_->StampWith([this] { return loop().NowMs(); });
  }

  std::string battery_;
};

TEST_F(ShutdownTest, AShortFrameModuleGetsOnePulseTrainThenTheSystemIsShutDown) {
  OnBattery("[START]\r\nShutDownMinutes=0\r\nShutDownSeconds=2\r\n", kShortMains, kShortBattery);
  line_->StampWith([this] { return pulseClock_.NowMs(); });
  Keep(1999);
  EXPECT_TRUE(HistoryFrom("T68 128").empty());
  At(2000);
  ASSERT_TRUE(TrainOver());

  const auto rts = RtsChanges();
  ASSERT_EQ(rts.size(), 8u);
  EXPECT_EQ(rts.front().second, platform::RTS_CONTROL_DISABLE);
  EXPECT_EQ(rts.back().second, platform::RTS_CONTROL_ENABLE);
  std::vector<uint64_t> gaps;
  for (size_t i = 1; i < rts.size(); ++i)
    gaps.push_back(rts[i].first - rts[i - 1].first);
  EXPECT_EQ(gaps, (std::vector<uint64_t>{291, 37, 37, 221, 221, 221, 37}));

  std::vector<std::string> expected = {"T68 128", "T65"};
  for (const std::string& line : EdgeLines())
    expected.push_back(line);
  expected.insert(expected.end(), {"T56COM1T61", "T140"});
  EXPECT_EQ(HistoryFrom("T68 128"), expected);
  EXPECT_EQ(power_.exitRequests(), std::vector<uint32_t>{5});
  EXPECT_EQ(power_.PriorityClass(), platform::kHighPriorityClass);
  EXPECT_EQ(main().ShutdownRetries, 1);
  EXPECT_EQ(line_->record().usesAfterClose, 0);
}

TEST_F(ShutdownTest, ABusyProcessorIsLoggedAndSilencesTheEdgeLines) {
  struct Case {
    double load;
    const char* line;
    size_t edgeLines;
  };
  for (const Case c : {Case{12.5, "T65 T66 12.5 T67", 0}, Case{5.0, "T65 T66 5.0 T67", 7}}) {
    SCOPED_TRACE(c.line);
    power_.SetLoad(c.load);
    OnBattery("[START]\r\nShutDownMinutes=0\r\nShutDownSeconds=1\r\n", kShortMains, kShortBattery);
    Keep(1000);
    ASSERT_TRUE(TrainOver());
    const std::vector<std::string> history = HistoryFrom("T68 128");
    ASSERT_GE(history.size(), 2u);
    EXPECT_EQ(history[1], c.line);
    const auto edges = std::count_if(history.begin(), history.end(), [](const std::string& line) {
      return line.starts_with("T112");
    });
    EXPECT_EQ(static_cast<size_t>(edges), c.edgeLines);
    EXPECT_EQ(RtsChanges().size(), 8u);
  }
}

TEST_F(ShutdownTest, AModuleThatCanAcknowledgeIsToldAgainUntilItSaysSdrec) {
  struct Case {
    const char* delay;
    std::vector<uint64_t> commands;
  };
  for (const Case& c : {Case{"1", {1000, 3000, 5000, 7000}}, Case{"5", {5000, 10000, 15000}}}) {
    SCOPED_TRACE(c.delay);
    OnBattery(std::string("[START]\r\nShutDownMinutes=0\r\nShutDownSeconds=") + c.delay + "\r\n",
              LongBlock("*****", "DC_OK", "TPS40"), LongBlock("*BAT*", "DC_LO", "TPS40"));
    StampWithLoopClock();
    Keep(c.commands.back());
    EXPECT_EQ(WriteTimes("*R37F"), c.commands);
    EXPECT_TRUE(RtsChanges().empty());
    EXPECT_TRUE(power_.exitRequests().empty());

    Arrive(LongBlock("*BAT*", "DC_LO", "TPS40", "SDREC"));
    EXPECT_EQ(power_.exitRequests(), std::vector<uint32_t>{5});
  }
}

TEST_F(ShutdownTest, WithoutTheCommandTheModuleGetsTenTrainsTwoSecondsApartAndWaits) {
  OnBattery("[START]\r\nShutDownMinutes=0\r\nShutDownSeconds=1\r\n",
            LongBlock("*****", "DC_OK", "RTS40"), LongBlock("*BAT*", "DC_LO", "RTS40"));
  StampWithLoopClock();
  for (uint64_t at = 1000; at <= 25000; at += 2000) {
    Keep(at);
    ASSERT_TRUE(TrainOver());
  }
  // Every train's eight RTS changes at its firing.
  const auto rts = RtsChanges();
  ASSERT_EQ(rts.size(), 80u);
  for (size_t train = 0; train < 10; ++train)
    EXPECT_EQ(rts[train * 8].first - start_, 1000 + 2000 * train);
  EXPECT_EQ(main().ShutdownRetries, 10);
  EXPECT_FALSE(main().TimerShutDown->Enabled());
  EXPECT_TRUE(power_.exitRequests().empty());

  Arrive(LongBlock("*BAT*", "DC_LO", "RTS40", "SDREC"));
  EXPECT_EQ(power_.exitRequests(), std::vector<uint32_t>{5});
}

TEST_F(ShutdownTest, AnAcknowledgementDuringATrainStopsAndJoinsItBeforeThePortCloses) {
  OnBattery("[START]\r\nShutDownMinutes=0\r\nShutDownSeconds=1\r\n",
            LongBlock("*****", "DC_OK", "RTS40"), LongBlock("*BAT*", "DC_LO", "RTS40"));
  // The train stops between its third and fourth edge.
  pulseClock_.HoldAt(pulseClock_.NowMs() + 500);
  bool pulseGoneAtClose = false;
  line_->OnClose([&] { pulseGoneAtClose = monitor::frmKorvamon && !main().PulseThread; });
  Keep(1000);
  ASSERT_TRUE(Until([&] { return pulseClock_.Held(); }));

  Arrive(LongBlock("*BAT*", "DC_LO", "RTS40", "SDREC"));
  EXPECT_TRUE(pulseGoneAtClose);
  EXPECT_EQ(line_->record().usesAfterClose, 0);
  EXPECT_EQ(RtsChanges().size(), 4u);
  EXPECT_EQ(power_.exitRequests(), std::vector<uint32_t>{5});
  // The stopped train's end never comes: nothing more is asked.
  pulseClock_.Release();
  Advance(5000);
  EXPECT_EQ(power_.exitRequests().size(), 1u);
  line_->OnClose(nullptr);
}

TEST_F(ShutdownTest, AClosedPortOrARefusedRtsIsReportedOnceAndTheShutdownFollows) {
  struct Case {
    const char* name;
    std::function<void()> breakPort;
    const char* line;
    const char* closing;
  };
  const Case cases[] = {
      {"closed", [&] { main().SComm->Close(); }, "ShutdownPulse: COM1 - module not signalled",
       "T56COM1T63"},
      // The refusal leaves the port open: the shutdown closes it.
      {"refused", [&] { line_->Refuse(korva_test::FakeSerialLine::Step::kSetState); },
       "ShutdownPulse: COM1 - module not signalled: fake error 31", "T56COM1T61"}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    OnBattery("[START]\r\nShutDownMinutes=0\r\nShutDownSeconds=1\r\n", kShortMains, kShortBattery);
    Keep(500);
    c.breakPort();
    At(1000);
    ASSERT_TRUE(Until([&] { return !power_.exitRequests().empty(); }));
    EXPECT_EQ(HistoryFrom("T68 128"),
              (std::vector<std::string>{"T68 128", "T65", c.line, c.closing, "T140"}));
    EXPECT_EQ(power_.exitRequests(), std::vector<uint32_t>{5});
  }
}

TEST_F(ShutdownTest, ALineThatRefusesRtsIsToldOncePerTrainAndTheModuleIsStillHeard) {
  OnBattery("[START]\r\nShutDownMinutes=0\r\nShutDownSeconds=1\r\n",
            LongBlock("*****", "DC_OK", "RTS40"), LongBlock("*BAT*", "DC_LO", "RTS40"));
  line_->Refuse(korva_test::FakeSerialLine::Step::kSetState);
  // The module's frames come through the port twice a second, four trains long.
  for (uint64_t at = 500; at <= 8000; at += 500) {
    At(at);
    ASSERT_NO_FATAL_FAILURE(Arrive(battery_));
    ASSERT_TRUE(TrainOver());
  }
  const std::string refused = "ShutdownPulse: COM1 - module not signalled: fake error 31";
  EXPECT_EQ(main().ShutdownRetries, 4);
  EXPECT_EQ(HistoryCount(refused), 4);
  EXPECT_EQ(HistoryCount("T65"), 4);
  EXPECT_EQ(HistoryCount("T13"), 0);
  EXPECT_TRUE(RtsChanges().empty());
  EXPECT_TRUE(main().SComm->Active() && main().LinkOk);
  EXPECT_TRUE(power_.exitRequests().empty());

  // Its acknowledgement is read and ends in the shutdown.
  Arrive(LongBlock("*BAT*", "DC_LO", "RTS40", "SDREC"));
  EXPECT_EQ(power_.exitRequests(), std::vector<uint32_t>{5});
  EXPECT_EQ(HistoryFrom(refused).back(), "T140");
  EXPECT_EQ(HistoryCount("T56COM1T61"), 1);
}

TEST_F(ShutdownTest, WithoutTheSignalTheShutdownSwitchAloneDecides) {
  struct Case {
    const char* check;
    size_t requests;
  };
  for (const Case c : {Case{"DC_LOW_ShutDown=1\r\n", 1}, Case{"DC_LOW_ShutDown=0\r\n", 0}}) {
    SCOPED_TRACE(c.check);
    StartOnCom1(std::string("[CHECK]\r\n") + c.check + "[ACTION]\r\nShutdownSignal=0\r\n");
    power_.ClearRequests();
    main().TimerShutDown->SetInterval(50);
    main().TimerShutDown->SetEnabled(true);
    Advance(500);
    EXPECT_FALSE(main().TimerShutDown->Enabled());
    EXPECT_EQ(power_.exitRequests().size(), c.requests);
    EXPECT_TRUE(RtsChanges().empty());
    EXPECT_TRUE(line_->record().written.empty());
  }
  // Closing the window ends the battery time too.
  main().TimerShutDown->SetEnabled(true);
  main().Close();
  EXPECT_FALSE(main().TimerShutDown->Enabled());
}

TEST_F(ShutdownTest, TheForceBitIsOredIntoTheConfiguredFlag) {
  struct Case {
    const char* flag;
    uint32_t requested;
  };
  for (const Case c : {Case{nullptr, 5}, Case{"1", 5}, Case{"0", 4}, Case{"5", 5}, Case{"8", 12},
                       Case{"abc", 5}}) {
    SCOPED_TRACE(c.flag ? c.flag : "none");
    StartWith(c.flag ? std::string("[CHECK]\r\nShutDownFlag=") + c.flag + "\r\n" : "");
    main().ShutdownWindows();
    EXPECT_EQ(power_.exitRequests().back(), c.requested);
  }
}

TEST_F(ShutdownTest, ARefusedRequestIsLoggedAndFramesDuringTheCloseWaitsAskOnce) {
  StartOnCom1();
  Arrive(LongBlock("*****", "DC_OK", "RTS40"));
  power_.RefuseExit("Access is denied. (5)");
  // Acknowledging frames handled while the link closes.
  const std::string acknowledged = LongBlock("*BAT*", "DC_LO", "RTS40", "SDREC");
  for (int i = 0; i < 2; ++i) {
    loop().Post([&] {
      main().ParseFrame(acknowledged);
      main().EvaluateFrameSerial(main().FrameText);
    });
  }
  main().ShutdownWindows();
  EXPECT_EQ(power_.exitRequests().size(), 1u);
  EXPECT_EQ(HistoryFrom("T140"),
            (std::vector<std::string>{"T140", "ExitWindowsEx(5): Access is denied. (5)"}));
  // A later request is a new one.
  main().ShutdownWindows();
  EXPECT_EQ(power_.exitRequests().size(), 2u);
}

TEST_F(ShutdownTest, AMissingShutdownPrivilegeIsNamedBeforeTheSystemIsAsked) {
  using Privilege = platform::Power::Privilege;
  const std::string notHeld =
      "AdjustTokenPrivileges: Not all privileges or groups referenced are assigned to the "
      "caller. (1300)";
  struct Case {
    Privilege answer;
    std::vector<std::string> lines;
  };
  for (const Case& c : {Case{Privilege::Enabled, {"T140"}},
                        Case{Privilege::NotHeld, {"SeShutdownPrivilege: " + notHeld, "T140"}},
                        Case{Privilege::Failed, {"SeShutdownPrivilege: " + notHeld, "T140"}}}) {
    SCOPED_TRACE(c.lines.front());
    StartWith();
    power_.AnswerPrivilege(c.answer, notHeld);
    power_.ClearRequests();
    main().ShutdownWindows();
    const std::vector<std::string> texts = HistoryTexts();
    EXPECT_EQ(
        std::vector<std::string>(texts.end() - static_cast<long>(c.lines.size()), texts.end()),
        c.lines);
    // The system is asked all the same.
    EXPECT_EQ(power_.exitRequests(), std::vector<uint32_t>{5});
  }
}

TEST_F(ShutdownTest, TheStartPlacesTheProcessInTheShutdownOrder) {
  using Privilege = platform::Power::Privilege;
  struct Case {
    const char* position;
    uint8_t windowsVersion;
    Privilege privilege;
    uint32_t level;
  };
  // A token that lacks the privilege was still adjusted: the order needs none.
  for (const Case c :
       {Case{"0", 1, Privilege::Enabled, 0x101}, Case{"0", 5, Privilege::Enabled, 0x3FE},
        Case{"2", 1, Privilege::Enabled, 0x101}, Case{"7", 1, Privilege::Enabled, 0x3FE},
        Case{"2", 1, Privilege::NotHeld, 0x101},
        Case{"7", 1, Privilege::Failed, platform::kDefaultShutdownLevel}}) {
    SCOPED_TRACE(std::string(c.position) + " on " + std::to_string(c.windowsVersion));
    platform::RecordingPower power;
    power.AnswerPrivilege(c.privilege, "refused");
    const platform::ScopedService<platform::Power> installed(power);
    StartWith(std::string("[CHECK]\r\nExtShutdownPosition=") + c.position + "\r\n");
    main().WindowsVersion = c.windowsVersion;
    main().PrepareShutdown();
    uint32_t level = 0, flags = 0;
    ASSERT_TRUE(power.ShutdownParameters(level, flags));
    EXPECT_EQ(level, c.level);
    EXPECT_EQ(flags, c.privilege != Privilege::Failed ? platform::kShutdownNoRetry : 0u);
  }
}

TEST_F(ShutdownTest, TheStartSetsTheSystemsShutdownLevelForReal) {
  // Nothing else reaches the system here: no request is made.
  const platform::ScopedService<platform::Power> native(platform::NativePower());
  StartWith("[CHECK]\r\nExtShutdownPosition=2\r\n");
  uint32_t level = 0, flags = 0;
  ASSERT_TRUE(platform::NativePower().ShutdownParameters(level, flags));
  EXPECT_EQ(level, 0x101u);
  EXPECT_EQ(flags, platform::kShutdownNoRetry);
}

}  // namespace
