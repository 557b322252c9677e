// The COM port component on a scripted port: setter rules, the port's set-up,
// the event thread's posts, a port that breaks, a wait that outlives Close,
// no use after close; on Linux also on a pseudo-terminal and against the
// module simulator.

#include <chrono>
#include <cstdlib>
#include <thread>

#include "TestFolder.h"
#include "monitor/FakeSerialPort.h"
#include "monitor/Serial.h"
#include "platform/SerialPort.h"
#include "vcl/VclTestEnvironment.h"

#ifdef __linux__
#include <fcntl.h>
#include <unistd.h>

#include <fstream>
#include <future>
#include <set>

#include "RealTime.h"
#endif

namespace {

using korva_test::FakeSerialLine;
using monitor::TSerial;
using monitor::WM_COMMEVENT;
namespace pf = platform;

// Records the event thread's posts.
class EventSink : public vcl::TForm {
 public:
  explicit EventSink(vcl::TComponent* owner) : vcl::TForm(owner, "TEventSink") {}
  void WndProc(vcl::TMessage& message) override {
    if (message.Msg == WM_COMMEVENT || message.Msg == monitor::WM_COMMBROKEN)
      received.push_back(message);
    else
      vcl::TForm::WndProc(message);
  }
  std::vector<uintptr_t> Events() const {
    std::vector<uintptr_t> events;
    for (const vcl::TMessage& message : received)
      events.push_back(message.WParam);
    return events;
  }
  std::vector<vcl::TMessage> received;
};

class SerialTest : public korva_test::VclTest {
 protected:
  SerialTest() {
    sink_ = vcl::Application().CreateForm<EventSink>();
    serial_ = new TSerial(sink_);
    line_ = ports_.Attach("COM2");
  }
  ~SerialTest() override { vcl::Free(sink_); }

  // The main window's settings: the defaults, RTS high, errors and frames.
  void SetUpAsMainWindow(int port = 2) {
    serial_->RTSActive = true;
    serial_->OnError = [](vcl::TObject*) {};
    serial_->OnEventChar = [](vcl::TObject*) {};
    serial_->SetCOMPort(port);
  }
  void OpenWithThread() {
    SetUpAsMainWindow();
    ASSERT_TRUE(serial_->Open(true));
    ASSERT_TRUE(line_->WaitForWaits(1));
  }
  // Lets the event thread handle what arrived and come back to its wait,
  // then delivers what it posted.
  void ThreadCycle(int waits) {
    ASSERT_TRUE(line_->WaitForWaits(waits));
    loop().ProcessMessages();
  }
  // Delivers the event thread's posts until one has come (five seconds at most).
  bool PostArrives() {
    for (int i = 0; i < 500 && sink_->received.empty(); ++i) {
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
      loop().ProcessMessages();
    }
    return !sink_->received.empty();
  }
  void ExpectNoUseAfterClose() {
    const FakeSerialLine::Record record = line_->record();
    EXPECT_EQ(record.usesAfterClose, 0);
    EXPECT_EQ(record.closedWhileBusy, 0);
  }

  korva_test::FakeSerialPorts ports_;
  pf::ScopedService<pf::SerialPorts> portsGuard_{ports_};
  std::shared_ptr<FakeSerialLine> line_;
  EventSink* sink_ = nullptr;
  TSerial* serial_ = nullptr;
};

TEST_F(SerialTest, SettersKeepPortNumbersAndQueueLimitsInRange) {
  serial_->SetCOMPort(5);
  EXPECT_EQ(serial_->COMPort(), 0);
  serial_->SetCOMPort(3);
  serial_->SetCOMPort(-1);
  EXPECT_EQ(serial_->COMPort(), 3);
  serial_->SetCOMPort(0);
  EXPECT_EQ(serial_->COMPort(), 0);

  serial_->SetBufSizeRec(10);
  EXPECT_EQ(serial_->BufSizeRec(), 16);
  EXPECT_EQ(serial_->XOffLimit(), 16);
  EXPECT_EQ(serial_->XOnLimit(), 15);
  serial_->SetBufSizeTrm(3);
  EXPECT_EQ(serial_->BufSizeTrm(), 16);

  serial_->SetXOffLimit(100);  // never above the input queue
  EXPECT_EQ(serial_->XOffLimit(), 16);
  serial_->SetXOffLimit(2);  // never at or below the XON limit
  EXPECT_EQ(serial_->XOffLimit(), 16);
  serial_->SetXOnLimit(20);
  EXPECT_EQ(serial_->XOnLimit(), 15);
  serial_->SetXOnLimit(-4);
  EXPECT_EQ(serial_->XOnLimit(), 0);

  EXPECT_FALSE(serial_->ParityCheck());
  serial_->SetParityBit(monitor::TParityBit::even);
  EXPECT_TRUE(serial_->ParityCheck());
}

TEST_F(SerialTest, PortsListsFourPortsAndFirstPortResetsTheChoice) {
  EXPECT_EQ(serial_->Ports(), (std::vector<std::string>{"COM1", "COM2", "COM3", "COM4"}));
  serial_->SetCOMPort(4);
  EXPECT_EQ(serial_->FirstPort(false), 1);
  EXPECT_EQ(serial_->COMPort(), 0);
  // Probing lists only the ports the system has.
  EXPECT_EQ(serial_->FirstPort(true), 2);
  EXPECT_EQ(serial_->Ports(), std::vector<std::string>{"COM2"});
}

TEST_F(SerialTest, OpenSetsThePortUpFromTheProperties) {
  SetUpAsMainWindow();
  ASSERT_TRUE(serial_->Open(false));
  EXPECT_TRUE(serial_->Active());

  const FakeSerialLine::Record record = line_->record();
  EXPECT_EQ(record.inQueueSize, 512u);
  EXPECT_EQ(record.outQueueSize, 128u);
  pf::DeviceControlBlock expected;  // 9600 baud, 8 data bits, no parity, one stop bit
  expected.ctsOutFlow = true;
  expected.rtsControl = pf::RTS_CONTROL_HANDSHAKE;
  expected.xonLimit = 20;
  expected.xoffLimit = 401;
  expected.eventChar = expected.eofChar = '\n';
  EXPECT_EQ(record.states, std::vector<pf::DeviceControlBlock>{expected});
  EXPECT_EQ(record.masks, std::vector<uint32_t>{pf::EV_RXFLAG | pf::EV_ERR});

  // Already open: nothing happens.
  EXPECT_FALSE(serial_->Open(false));
  EXPECT_EQ(line_->record().opens, 1);

  // The other settings reach the block as the system numbers them.
  serial_->Close();
  serial_->Baudrate = monitor::br_115200;
  serial_->DataBits = monitor::db_7;
  serial_->SetParityBit(monitor::TParityBit::mark);
  serial_->StopBits = monitor::sb_2;
  serial_->HandshakeRtsCts = false;
  serial_->HandshakeDtrDsr = true;
  serial_->HandshakeXOnXOff = true;
  ASSERT_TRUE(serial_->Open(false));
  expected.baudRate = 115200;
  expected.byteSize = 7;
  expected.parity = pf::MARKPARITY;
  expected.parityCheck = true;
  expected.stopBits = pf::TWOSTOPBITS;
  expected.ctsOutFlow = false;
  expected.rtsControl = pf::RTS_CONTROL_DISABLE;  // RTSActive is not applied on open
  expected.dtrControl = pf::DTR_CONTROL_HANDSHAKE;
  expected.dsrOutFlow = expected.xonXoffIn = expected.xonXoffOut = true;
  EXPECT_EQ(line_->record().states.back(), expected);
}

TEST_F(SerialTest, OpenFailsCleanlyAndLeavesThePortClosed) {
  EXPECT_FALSE(serial_->Open(true));  // no port chosen

  serial_->SetCOMPort(1);  // no such device
  EXPECT_FALSE(serial_->Open(true));
  EXPECT_FALSE(serial_->Active());
  EXPECT_EQ(serial_->Handle(), -1);
  EXPECT_EQ(serial_->LastSystemError(), 2u);

  serial_->SetCOMPort(2);
  for (auto step : {FakeSerialLine::Step::kSetupQueues, FakeSerialLine::Step::kSetState,
                    FakeSerialLine::Step::kSetEventMask}) {
    line_->Refuse(step);
    EXPECT_FALSE(serial_->Open(true));
    EXPECT_FALSE(serial_->Active());
    line_->Refuse(step, false);
  }
  const FakeSerialLine::Record record = line_->record();
  EXPECT_EQ(record.opens, 3);
  EXPECT_EQ(record.closes, 3);
  EXPECT_FALSE(record.open);

  // A port that another program holds is busy.
  auto other = vcl::Owned<TSerial>(new TSerial(nullptr));
  other->SetCOMPort(2);
  ASSERT_TRUE(other->Open(false));
  EXPECT_FALSE(serial_->Open(false));
  EXPECT_EQ(serial_->LastSystemError(), 5u);
}

TEST_F(SerialTest, AClosedPortReadsNothingWritesNothingAndTogglesNothing) {
  serial_->RTSActive = true;
  EXPECT_TRUE(serial_->ToggleRTS());
  EXPECT_TRUE(serial_->RTSActive);
  std::string text = "old";
  serial_->ReadStr(text);
  EXPECT_EQ(text, "");
  EXPECT_EQ(serial_->WriteStr("*R37F"), 0);
  EXPECT_EQ(serial_->InQueCount(), 0u);
  EXPECT_FALSE(serial_->Purge(pf::PURGE_RXCLEAR));
  serial_->Close();  // closing twice is harmless
}

TEST_F(SerialTest, EventCharacterIsPostedOnlyWithSixtyThreeBytesQueued) {
  OpenWithThread();
  line_->Receive(std::string(61, 'x') + "\n");  // 62 queued
  ThreadCycle(2);
  EXPECT_TRUE(sink_->received.empty());

  line_->Receive("\n");  // 63 queued
  ThreadCycle(3);
  EXPECT_EQ(sink_->Events(), std::vector<uintptr_t>{pf::EV_RXFLAG});
  EXPECT_EQ(sink_->received[0].LParam, 0);
  // Line errors, too, wait for a full queue.
  serial_->Purge(pf::PURGE_RXCLEAR);
  line_->RaiseLineError(pf::CE_FRAME);
  ThreadCycle(4);
  EXPECT_EQ(sink_->received.size(), 1u);
}

TEST_F(SerialTest, EventsArePostedOneBitEachInTheirOrderWithTheErrorWordCaptured) {
  OpenWithThread();
  line_->Receive(std::string(70, 'x') + "\n", pf::CE_FRAME | pf::CE_OVERRUN);
  ThreadCycle(2);
  ASSERT_EQ(sink_->Events(), (std::vector<uintptr_t>{pf::EV_RXFLAG, pf::EV_ERR}));
  EXPECT_EQ(sink_->received[0].LParam, 0);
  // The thread's read cleared the port's word: the message carries it.
  EXPECT_EQ(monitor::PostedErrorWord(sink_->received[1]), 0x0Au);
  EXPECT_EQ(monitor::PostedErrorWord(sink_->received[0]), 0u);
  EXPECT_EQ(line_->record().errors, 0u);

  // Every event, as a component with every handler assigned asks for them.
  serial_->Close();
  sink_->received.clear();
  serial_->OnRxChar = serial_->OnTxEmpty = serial_->OnBreak = serial_->OnRing = serial_->OnCts =
      serial_->OnDsr = serial_->OnDcd = [](vcl::TObject*) {};
  ASSERT_TRUE(serial_->Open(true));
  ASSERT_TRUE(line_->WaitForWaits(3));
  line_->Receive(std::string(63, 'x'), 0, 0x05FF);
  ThreadCycle(4);
  EXPECT_EQ(sink_->Events(), (std::vector<uintptr_t>{pf::EV_RXCHAR, pf::EV_TXEMPTY, pf::EV_BREAK,
                                                     pf::EV_RING, pf::EV_CTS, pf::EV_DSR,
                                                     pf::EV_RXFLAG, pf::EV_RLSD, pf::EV_ERR}));
}

TEST_F(SerialTest, CloseStopsTheWaitingThreadBeforeThePortIsClosed) {
  OpenWithThread();
  serial_->Close();
  EXPECT_FALSE(serial_->Active());
  const FakeSerialLine::Record record = line_->record();
  EXPECT_EQ(record.closes, 1);
  // The thread's last act, the purge, came before the close.
  EXPECT_EQ(record.purges, std::vector<uint32_t>{pf::PURGE_RXABORT | pf::PURGE_RXCLEAR});
  ExpectNoUseAfterClose();

  // Closing while the thread is busy with an event, then reopening at once.
  for (int round = 0; round < 20; ++round) {
    ASSERT_TRUE(serial_->Open(true));
    line_->Receive(std::string(80, 'x') + "\n");
    serial_->Close();
  }
  ExpectNoUseAfterClose();
  EXPECT_EQ(line_->record().closes, 21);

  // Freeing the owner closes the port too.
  ASSERT_TRUE(serial_->Open(true));
  vcl::FreeAndNil(sink_);
  EXPECT_FALSE(line_->record().open);
  ExpectNoUseAfterClose();
}

TEST_F(SerialTest, APortThatBreaksIsReportedOnceAndAWaitThatOutlivesCloseIsAborted) {
  // The device goes away under the open handle: the thread says so and ends.
  OpenWithThread();
  line_->Break();
  ASSERT_TRUE(PostArrives());
  ASSERT_EQ(sink_->received.size(), 1u);
  EXPECT_EQ(sink_->received[0].Msg, monitor::WM_COMMBROKEN);
  EXPECT_EQ(sink_->received[0].WParam, 31u);  // the port's last error
  EXPECT_TRUE(serial_->Active() && serial_->Broken());
  serial_->Close();
  EXPECT_FALSE(serial_->Active() || serial_->Broken());

  // Closed on purpose, it says nothing.
  ASSERT_TRUE(serial_->Open(true));
  ASSERT_TRUE(line_->WaitForWaits(2));
  serial_->Close();
  loop().ProcessMessages();
  EXPECT_EQ(sink_->received.size(), 1u);

  // A driver whose wait goes on when the mask is cleared: after its second,
  // Close aborts the wait, and the thread lets the port go as it ends.
  line_->IgnoreMaskChanges();
  ASSERT_TRUE(serial_->Open(true));
  ASSERT_TRUE(line_->WaitForWaits(3));
  serial_->Close();
  EXPECT_FALSE(serial_->Active());
  EXPECT_EQ(line_->record().aborts, 1);
  ASSERT_TRUE(line_->WaitForCloses(3));
  EXPECT_TRUE(serial_->Open(false));  // free for the next open
  loop().ProcessMessages();
  EXPECT_EQ(sink_->received.size(), 1u);
  ExpectNoUseAfterClose();
}

TEST_F(SerialTest, ReadStrYieldsOnlyTheBytesActuallyRead) {
  SetUpAsMainWindow();
  ASSERT_TRUE(serial_->Open(false));
  const std::string frames = "*****\r\nALARM\r\nDC_OK\r\n";
  line_->Receive(frames + frames + frames + frames);
  line_->LimitReads(30);
  std::string text;
  serial_->ReadStr(text);
  EXPECT_EQ(text, (frames + frames).substr(0, 30));
  line_->LimitReads(UINT32_MAX);
  serial_->ReadStr(text);
  EXPECT_EQ(text, (frames + frames + frames + frames).substr(30));

  EXPECT_EQ(serial_->WriteStr("*R37F"), 5);
  EXPECT_EQ(line_->record().written, "*R37F");
}

TEST_F(SerialTest, ToggleRtsInvertsTheLevelAndARefusalKeepsTheLevelAndThePort) {
  SetUpAsMainWindow();
  serial_->HandshakeRtsCts = false;
  OpenWithThread();
  EXPECT_TRUE(serial_->ToggleRTS());
  EXPECT_FALSE(serial_->RTSActive);
  EXPECT_EQ(line_->record().states.back().rtsControl, pf::RTS_CONTROL_DISABLE);
  EXPECT_TRUE(serial_->ToggleRTS());
  EXPECT_EQ(line_->record().states.back().rtsControl, pf::RTS_CONTROL_ENABLE);

  line_->Refuse(FakeSerialLine::Step::kSetState);
  for (int attempt = 0; attempt < 2; ++attempt) {
    EXPECT_FALSE(serial_->ToggleRTS());
    EXPECT_TRUE(serial_->RTSActive);
  }
  EXPECT_NE(serial_->LastSystemError(), 0u);
  // The frames go on arriving, and the port goes on working.
  EXPECT_TRUE(serial_->Active());
  EXPECT_EQ(line_->record().closes, 0);
  line_->Receive(std::string(70, 'x') + "\n");
  ThreadCycle(2);
  EXPECT_EQ(sink_->Events(), std::vector<uintptr_t>{pf::EV_RXFLAG});
  EXPECT_EQ(serial_->WriteStr("*R37F"), 5);
  line_->Refuse(FakeSerialLine::Step::kSetState, false);
  EXPECT_TRUE(serial_->ToggleRTS());
  EXPECT_FALSE(serial_->RTSActive);
  EXPECT_EQ(line_->record().states.back().rtsControl, pf::RTS_CONTROL_DISABLE);
  serial_->Close();
  ExpectNoUseAfterClose();
}

TEST_F(SerialTest, QueueCountsKeepTheErrorWordTheyRead) {
  SetUpAsMainWindow();
  ASSERT_TRUE(serial_->Open(false));
  line_->Receive("abc");
  line_->RaiseLineError(pf::CE_RXPARITY);
  uint32_t in = 0;
  uint32_t out = 7;
  EXPECT_TRUE(serial_->GetQueueCounts(in, out));
  EXPECT_EQ(in, 3u);
  EXPECT_EQ(out, 0u);
  EXPECT_EQ(serial_->CommError(), pf::CE_RXPARITY);

  line_->Refuse(FakeSerialLine::Step::kClearError);
  EXPECT_FALSE(serial_->GetQueueCounts(in, out));
  EXPECT_EQ(in, 0u);
  line_->Refuse(FakeSerialLine::Step::kPurge);
  EXPECT_FALSE(serial_->Purge(pf::PURGE_RXCLEAR));
  EXPECT_EQ(serial_->LastSystemErrorText(), "fake error 31");
}

// The real ports: a port that is not there cannot be opened.
TEST_F(SerialTest, AMissingRealPortFailsToOpenAndStaysClosed) {
  pf::ScopedService<pf::SerialPorts> native(pf::NativeSerialPorts());
#ifndef _WIN32
  setenv("KORVA_COM4", "/nonexistent/korva-serial-test", 1);
#endif
  serial_->SetCOMPort(4);
  EXPECT_FALSE(serial_->Open(true));
  EXPECT_FALSE(serial_->Active());
  EXPECT_EQ(serial_->Handle(), -1);
  EXPECT_NE(serial_->LastSystemError(), 0u);
  const std::string reason = serial_->LastSystemErrorText();
  EXPECT_FALSE(reason.empty());
  EXPECT_EQ(reason.find_first_of("\r\n"), std::string::npos) << reason;  // one line
#ifndef _WIN32
  unsetenv("KORVA_COM4");
#endif
}

#ifdef __linux__

const std::string kFrame = "*****\r\nALARM\r\nDC_OK\r\n";
constexpr uint32_t kWaitMs = 5000;

// Real time matters here: the loop runs on the system's clock.
class SerialPtyTest : public SerialTest {
 protected:
  SerialPtyTest() {
    master_ = posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK);
    if (master_ >= 0 && grantpt(master_) == 0 && unlockpt(master_) == 0)
      setenv("KORVA_COM1", ptsname(master_), 1);
    SetUpAsMainWindow(1);
    // A runtime may start a helper thread with the first thread (ThreadSanitizer
    // does): one started and joined here brings it up, and the thread counts
    // leave out every thread there is now.
    std::thread([] {}).join();
    threadsBefore_ = ThreadIds();
  }
  void SetUp() override {
    if (master_ < 0)
      GTEST_SKIP() << "no pseudo-terminal here";
  }
  ~SerialPtyTest() override {
    vcl::FreeAndNil(sink_);  // the port closes while the loop it posts to is there
    unsetenv("KORVA_COM1");
    if (master_ >= 0)
      close(master_);
  }

  static bool RunUntil(const std::function<bool()>& done) {
    return korva_test::ScopedNativeLoop::RunUntil(done, kWaitMs);
  }
  // Lets real time pass in small steps until `done` holds, at most kWaitMs
  // (for what no message announces: a file written by another process).
  bool PollUntil(const std::function<bool()>& done) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(kWaitMs);
    while (!done() && std::chrono::steady_clock::now() < end)
      loop().RunFor(10);
    return done();
  }
  void WriteToPort(const std::string& bytes) {
    ASSERT_EQ(write(master_, bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
  }
  static std::set<std::string> ThreadIds() {
    std::set<std::string> ids;
    for (const auto& task : std::filesystem::directory_iterator("/proc/self/task"))
      ids.insert(task.path().filename());
    return ids;
  }
  // Waits, at most kWaitMs, until this process has `count` threads besides
  // those there were at the start, and all of them are blocked in a wait.
  bool WaitUntilOtherThreadsWait(size_t count) const {
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(kWaitMs);
    while (std::chrono::steady_clock::now() < end) {
      size_t waiting = 0, others = 0;
      for (const auto& task : std::filesystem::directory_iterator("/proc/self/task")) {
        if (threadsBefore_.count(task.path().filename()) != 0)
          continue;
        ++others;
        std::string stat;
        std::getline(std::ifstream(task.path() / "stat"), stat);
        const size_t name = stat.rfind(')');
        if (name != std::string::npos && stat.compare(name, 3, ") S") == 0)
          ++waiting;
      }
      if (others == count && waiting == count)
        return true;
      std::this_thread::yield();
    }
    return false;
  }
  std::string ReadFromPort(size_t count) {
    std::string bytes;
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(kWaitMs);
    while (bytes.size() < count && std::chrono::steady_clock::now() < end) {
      pollfd fd{master_, POLLIN, 0};
      char chunk[256];
      const ssize_t got = poll(&fd, 1, 100) > 0 ? read(master_, chunk, sizeof chunk) : 0;
      if (got > 0)
        bytes.append(chunk, static_cast<size_t>(got));
    }
    return bytes;
  }

  korva_test::ScopedNativeLoop nativeLoop_;
  pf::ScopedService<pf::SerialPorts> nativePorts_{pf::NativeSerialPorts()};
  int master_ = -1;
  std::set<std::string> threadsBefore_;
};

TEST_F(SerialPtyTest, FramesArriveAsEventCharacterPostsAndAreReadWhole) {
  ASSERT_TRUE(serial_->Open(true));
  WriteToPort(kFrame + kFrame + kFrame + kFrame);
  ASSERT_TRUE(RunUntil([&] { return !sink_->received.empty(); }));
  ASSERT_TRUE(RunUntil([&] { return serial_->InQueCount() == 84; }));
  for (uintptr_t event : sink_->Events())
    EXPECT_EQ(event, pf::EV_RXFLAG);
  std::string text;
  serial_->ReadStr(text);
  EXPECT_EQ(text, kFrame + kFrame + kFrame + kFrame);
  EXPECT_EQ(serial_->InQueCount(), 0u);

  EXPECT_EQ(serial_->WriteStr("*R37F"), 5);
  EXPECT_EQ(ReadFromPort(5), "*R37F");
}

// The port has no thread of its own: the bytes wait in the terminal until
// someone looks. The event thread waits in the terminal, and Close ends that
// wait at once.
TEST_F(SerialPtyTest, OnlyTheEventThreadWaitsOnThePortAndCloseEndsItsWaitAtOnce) {
  ASSERT_TRUE(serial_->Open(false));
  EXPECT_TRUE(WaitUntilOtherThreadsWait(0));
  serial_->Close();

  ASSERT_TRUE(serial_->Open(true));
  ASSERT_TRUE(WaitUntilOtherThreadsWait(1));
  serial_->Close();
  EXPECT_TRUE(WaitUntilOtherThreadsWait(0));
  // Released within Close, not left to a thread that outlived it.
  auto other = vcl::Owned<TSerial>(new TSerial(nullptr));
  other->SetCOMPort(1);
  EXPECT_TRUE(other->Open(false));
}

TEST_F(SerialPtyTest, AReadWaitsForTheBytesItAsksForBesideTheWaitingEventThread) {
  ASSERT_TRUE(serial_->Open(true));
  ASSERT_TRUE(WaitUntilOtherThreadsWait(1));
  const std::string frames = kFrame + kFrame + kFrame + kFrame;
  std::string block(frames.size(), '\0');
  auto reading = std::async(std::launch::async, [&] {
    return serial_->ReadBuf(block.data(), static_cast<int>(block.size()));
  });
  ASSERT_TRUE(WaitUntilOtherThreadsWait(2));
  WriteToPort(frames);
  EXPECT_EQ(reading.get(), static_cast<int>(frames.size()));
  EXPECT_EQ(block, frames);
}

TEST_F(SerialPtyTest, TheInputQueueHoldsItsSizeAndReportsTheOverflow) {
  serial_->SetBufSizeRec(16);
  ASSERT_TRUE(serial_->Open(false));
  WriteToPort(std::string(40, 'x'));
  uint32_t errors = 0;
  ASSERT_TRUE(PollUntil([&] {
    const bool full = serial_->InQueCount() == 16;
    errors |= serial_->CommError();
    return full && errors != 0;
  }));
  EXPECT_EQ(errors, pf::CE_RXOVER);
  ASSERT_TRUE(serial_->Purge(pf::PURGE_RXCLEAR));
  EXPECT_EQ(serial_->InQueCount(), 0u);
}

TEST_F(SerialPtyTest, APortIsExclusiveAndARefusedRtsLevelLeavesItReadingFrames) {
  serial_->HandshakeRtsCts = false;
  serial_->RTSActive = false;  // raising it needs a modem line
  ASSERT_TRUE(serial_->Open(true));
  auto second = vcl::Owned<TSerial>(new TSerial(nullptr));
  second->SetCOMPort(1);
  EXPECT_FALSE(second->Open(false));

  // A pseudo-terminal has no modem lines.
  EXPECT_FALSE(serial_->ToggleRTS());
  EXPECT_FALSE(serial_->RTSActive);
  EXPECT_TRUE(serial_->Active());
  EXPECT_FALSE(second->Open(false));
  WriteToPort(kFrame + kFrame + kFrame + kFrame);
  ASSERT_TRUE(RunUntil([&] { return !sink_->received.empty(); }));
  ASSERT_TRUE(RunUntil([&] { return serial_->InQueCount() == 84; }));
  std::string text;
  serial_->ReadStr(text);
  EXPECT_EQ(text, kFrame + kFrame + kFrame + kFrame);
  // Released when closed: the other one gets it now.
  serial_->Close();
  EXPECT_TRUE(second->Open(false));
}

TEST_F(SerialPtyTest, AHangUpEndsTheEventThreadWithItsReportThatThePortBroke) {
  ASSERT_TRUE(serial_->Open(true));
  close(master_);
  master_ = -1;
  ASSERT_TRUE(RunUntil([&] { return !sink_->received.empty(); }));
  EXPECT_EQ(sink_->received[0].Msg, monitor::WM_COMMBROKEN);
  EXPECT_TRUE(serial_->Broken());
  uint32_t inQueue = 0;
  uint32_t outQueue = 0;
  EXPECT_FALSE(serial_->GetQueueCounts(inQueue, outQueue));  // as a device gone away
  std::string text;
  serial_->ReadStr(text);
  EXPECT_EQ(text, "");
  serial_->Close();
  EXPECT_FALSE(serial_->Active());
}

TEST_F(SerialPtyTest, TheSimulatorPlaysTheModuleAndRecordsTheShutdownCommand) {
  const auto program = korva_test::BuiltProgram("korvasim");
  if (!std::filesystem::exists(program))
    GTEST_SKIP() << "korvasim is not built";
  korva_test::TestFolder folder;
  const std::string record = folder.File("record"), errors = folder.File("stderr");
  {
    korva_test::ChildOptions options;
    options.arguments = {"--record", record};
    options.errors = errors;
    korva_test::ChildProcess simulator(program, options);
    const std::string path = simulator.ReadLine();
    ASSERT_EQ(path.rfind("/dev/", 0), 0u) << path;
    setenv("KORVA_COM1", path.c_str(), 1);

    ASSERT_TRUE(serial_->Open(true));
    std::string received;
    auto receive = [&](const std::string& wanted) {
      return RunUntil([&] {
        if (serial_->InQueCount() >= 84) {
          std::string block;
          serial_->ReadStr(block);
          received += block;
        }
        return received.find(wanted) != std::string::npos;
      });
    };
    EXPECT_TRUE(receive("*****\r\nBUFRD\r\nDC_OK\r\n*****"));

    const std::string longFrame = "*BAT*\r\nBUFRD\r\nDC_LO\r\nBA<85\r\n";
    simulator.Send("frame *BAT*\\r\\nBUFRD\\r\\nDC_LO\\r\\nBA<85\\r\\n");
    simulator.Send("switch it off");
    EXPECT_TRUE(receive(longFrame + longFrame));

    EXPECT_EQ(serial_->WriteStr("*R37F"), 5);
    EXPECT_TRUE(PollUntil([&] { return korva_test::TestFolder::Get(record) == "*R37F"; }));
    simulator.Send("quit");
    EXPECT_EQ(simulator.Ended(), 0);
    serial_->Close();
  }
  const std::string said = korva_test::TestFolder::Get(errors);
  EXPECT_NE(said.find("ignored \"switch it off\": unknown command"), std::string::npos) << said;
  EXPECT_NE(said.find("received \"*R37F\""), std::string::npos) << said;
}

#endif  // __linux__

}  // namespace
