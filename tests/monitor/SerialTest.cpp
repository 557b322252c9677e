// The COM port component on a scripted port: its setter rules, the set-up it
// gives the port, what the event thread posts and when, and that nothing uses
// a port after it was closed.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "monitor/FakeSerialPort.h"
#include "monitor/Serial.h"
#include "platform/SerialPort.h"
#include "vcl/VclTestEnvironment.h"

namespace {

using korva_test::FakeSerialLine;
using monitor::TSerial;
using monitor::WM_COMMEVENT;
namespace pf = platform;

class EventSink : public vcl::TForm {
 public:
  explicit EventSink(vcl::TComponent* owner) : vcl::TForm(owner, "TEventSink") {}
  void WndProc(vcl::TMessage& message) override {
    if (message.Msg == WM_COMMEVENT)
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
  void SetUpAsMainWindow() {
    serial_->RTSActive = true;
    serial_->OnError = [](vcl::TObject*) {};
    serial_->OnEventChar = [](vcl::TObject*) {};
    serial_->SetCOMPort(2);
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
  ASSERT_EQ(record.states.size(), 1u);
  const pf::DeviceControlBlock& block = record.states[0];
  EXPECT_EQ(block.baudRate, 9600u);
  EXPECT_EQ(block.byteSize, 8);
  EXPECT_EQ(block.parity, pf::NOPARITY);
  EXPECT_EQ(block.stopBits, pf::ONESTOPBIT);
  EXPECT_TRUE(block.binary);
  EXPECT_FALSE(block.parityCheck);
  EXPECT_TRUE(block.ctsOutFlow);
  EXPECT_EQ(block.rtsControl, pf::RTS_CONTROL_HANDSHAKE);
  EXPECT_FALSE(block.dsrOutFlow);
  EXPECT_EQ(block.dtrControl, pf::DTR_CONTROL_DISABLE);
  EXPECT_FALSE(block.xonXoffIn || block.xonXoffOut);
  EXPECT_EQ(block.xonLimit, 20);
  EXPECT_EQ(block.xoffLimit, 401);
  EXPECT_EQ(block.xonChar, 17);
  EXPECT_EQ(block.xoffChar, 19);
  EXPECT_EQ(block.eventChar, '\n');
  EXPECT_EQ(block.eofChar, '\n');
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
  const pf::DeviceControlBlock other = line_->record().states.back();
  EXPECT_EQ(other.baudRate, 115200u);
  EXPECT_EQ(other.byteSize, 7);
  EXPECT_EQ(other.parity, pf::MARKPARITY);
  EXPECT_TRUE(other.parityCheck);
  EXPECT_EQ(other.stopBits, pf::TWOSTOPBITS);
  EXPECT_EQ(other.rtsControl, pf::RTS_CONTROL_DISABLE);  // RTSActive is not applied on open
  EXPECT_EQ(other.dtrControl, pf::DTR_CONTROL_HANDSHAKE);
  EXPECT_TRUE(other.dsrOutFlow && other.xonXoffIn && other.xonXoffOut);
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
    line_->Allow(step);
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

TEST_F(SerialTest, ToggleRtsInvertsTheLevelAndARefusalClosesThePortForGood) {
  SetUpAsMainWindow();
  serial_->HandshakeRtsCts = false;
  OpenWithThread();
  EXPECT_TRUE(serial_->ToggleRTS());
  EXPECT_FALSE(serial_->RTSActive);
  EXPECT_EQ(line_->record().states.back().rtsControl, pf::RTS_CONTROL_DISABLE);
  EXPECT_TRUE(serial_->ToggleRTS());
  EXPECT_EQ(line_->record().states.back().rtsControl, pf::RTS_CONTROL_ENABLE);

  line_->Refuse(FakeSerialLine::Step::kSetState);
  EXPECT_FALSE(serial_->ToggleRTS());
  EXPECT_FALSE(serial_->Active());
  EXPECT_EQ(serial_->Handle(), -1);
  EXPECT_EQ(line_->record().closes, 1);
  ExpectNoUseAfterClose();
  // Nothing goes on using it.
  EXPECT_EQ(serial_->WriteStr("*R37F"), 0);
  EXPECT_TRUE(serial_->ToggleRTS());
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
class NativeSerialTest : public korva_test::VclTest {};

TEST_F(NativeSerialTest, AMissingPortFailsToOpenAndStaysClosed) {
#ifndef _WIN32
  setenv("KORVA_COM4", "/nonexistent/korva-serial-test", 1);
#endif
  auto serial = vcl::Owned<TSerial>(new TSerial(nullptr));
  serial->SetCOMPort(4);
  EXPECT_FALSE(serial->Open(true));
  EXPECT_FALSE(serial->Active());
  EXPECT_EQ(serial->Handle(), -1);
  EXPECT_NE(serial->LastSystemError(), 0u);
  EXPECT_FALSE(serial->LastSystemErrorText().empty());
#ifndef _WIN32
  unsetenv("KORVA_COM4");
#endif
}

}  // namespace
