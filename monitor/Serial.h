// Unit Serial: TSerial, the component that owns one COM port, sets it up from
// its properties, reads and writes it, and runs the event thread TSerThread,
// which waits for communication events and posts them to the owner form as
// WM_COMMEVENT messages.
//
// A posted WM_COMMEVENT carries exactly one event bit in wParam. lParam is 0,
// except with EV_ERR: there it carries the error word the event thread took
// from the port when it posted (ClearError clears the word, so reading it
// again on the main thread would find it empty). Use PostedErrorWord.
//
// When the port's wait fails while nobody asked the thread to stop, the
// device went away under the open handle (unplugged, resumed from sleep):
// the thread posts WM_COMMBROKEN once, with the system's code in wParam, and
// ends. The port stays Active until it is closed; Broken tells it apart.
//
// Threads: the event thread only waits on the port and posts. Everything else
// runs on the main thread, except ToggleRTS, which the shutdown pulses may call
// from their own thread; the port itself is safe from any thread.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "platform/SerialPort.h"
#include "vcl/Classes.h"
#include "vcl/Messages.h"

namespace monitor {

// The main window dispatches the events under this number.
inline constexpr uint32_t WM_COMMEVENT = 0x8401;
// The event thread ended because the port broke.
inline constexpr uint32_t WM_COMMBROKEN = 0x8402;

enum TBaudrate {
  br_000110,
  br_000300,
  br_000600,
  br_001200,
  br_002400,
  br_004800,
  br_009600,
  br_014400,
  br_019200,
  br_038400,
  br_056000,
  br_057600,
  br_115200,
  br_128000,
  br_256000
};
inline constexpr std::array<uint32_t, 15> kBaudrates = {110,   300,   600,    1200,   2400,
                                                        4800,  9600,  14400,  19200,  38400,
                                                        56000, 57600, 115200, 128000, 256000};

enum TDataBits { db_4, db_5, db_6, db_7, db_8 };
// The ordinals are the system's parity codes.
enum class TParityBit { none, odd, even, mark, space };
// The ordinals are the system's stop-bit codes (1, 1.5, 2).
enum TStopBits { sb_1, sb_15, sb_2 };
enum TThreadPriority { tpIdle, tpLowest, tpLower, tpNormal, tpHigher, tpHighest, tpTimeCritical };

// The error word an EV_ERR message brought along (0 for other events).
inline uint32_t PostedErrorWord(const vcl::TMessage& message) {
  return message.WParam == platform::EV_ERR ? static_cast<uint32_t>(message.LParam) : 0;
}

class TSerThread;

class TSerial : public vcl::TComponent {
 public:
  // The owner must be a form: its window receives the events. Without one
  // the component works, but its events go nowhere.
  explicit TSerial(vcl::TComponent* owner);
  ~TSerial() override;
  void BeforeDestruction() override;

  // Opens and sets up the port; starts the event thread when asked. False,
  // doing nothing, when already open or COMPort < 1.
  virtual bool Open(bool startThread);
  // Stops the event thread and closes the port. Waits a short, bounded time
  // for the woken thread to end; a thread that has not ended by then (its
  // driver ignored the cleared mask) has its wait aborted, and the port is
  // released as the thread ends.
  virtual void Close();
  virtual int WriteBuf(const void* buffer, int count);
  virtual int ReadBuf(void* buffer, int count);
  virtual int WriteStr(const std::string& text);
  // The bytes actually read of what the input queue held; empty when closed.
  virtual void ReadStr(std::string& text);

  // Both 0 unless open and the port answers; then the queue counts. The error
  // word read with them is kept (CommError). False when the port refused.
  bool GetQueueCounts(uint32_t& inQueue, uint32_t& outQueue);
  uint32_t InQueCount();
  uint32_t CommError() const;
  // Inverts RTSActive and applies it (or the handshake). True at once when
  // closed. When the port refuses, RTSActive and the line stay as they were,
  // the port stays open (LastSystemError says why) and the result is False.
  bool ToggleRTS();
  bool Purge(uint32_t flags);
  // The system's code and text for the last failure of the port (or of the
  // last open attempt).
  uint32_t LastSystemError() const;
  std::string LastSystemErrorText() const;
  // The port handle's value, or -1 (the invalid handle) while closed.
  intptr_t Handle() const;
  // Open, but its event thread ended on a failed wait: the device went away.
  bool Broken() const;

  void ListPorts(std::vector<std::string>& list, bool probe) const;
  int FirstPort(bool probe);
  const std::vector<std::string>& Ports();

  bool Active() const;
  void SetActive(bool active);
  int COMPort() const { return comPort_; }
  void SetCOMPort(int port);
  TParityBit ParityBit() const { return parityBit_; }
  void SetParityBit(TParityBit parity);
  bool ParityCheck() const { return parityBit_ != TParityBit::none; }
  int BufSizeTrm() const { return bufSizeTrm_; }
  void SetBufSizeTrm(int size);
  int BufSizeRec() const { return bufSizeRec_; }
  void SetBufSizeRec(int size);
  int XOffLimit() const { return xOffLimit_; }
  void SetXOffLimit(int limit);
  int XOnLimit() const { return xOnLimit_; }
  void SetXOnLimit(int limit);

  TBaudrate Baudrate = br_009600;
  TDataBits DataBits = db_8;
  TStopBits StopBits = sb_1;
  bool HandshakeRtsCts = true;
  bool HandshakeDtrDsr = false;
  bool HandshakeXOnXOff = false;
  bool RTSActive = false;
  char XOnChar = 17;
  char XOffChar = 19;
  char ErrorChar = 0;
  char EofChar = 10;
  char EventChar = 10;
  bool ContinueOnXOff = false;
  bool UseErrorChar = false;
  bool EliminateNullChar = false;
  bool AbortOnError = false;
  // Kept for the settings; the event thread runs at normal priority and
  // pauses as it always does.
  TThreadPriority ThreadPriority = tpNormal;
  int ThreadSleepTime = 0;

  // Which of these are assigned decides the event mask; the owner's message
  // handler calls them.
  vcl::TNotifyEvent OnBreak;
  vcl::TNotifyEvent OnCts;
  vcl::TNotifyEvent OnDsr;
  vcl::TNotifyEvent OnError;
  vcl::TNotifyEvent OnRing;
  vcl::TNotifyEvent OnDcd;
  vcl::TNotifyEvent OnRxChar;
  vcl::TNotifyEvent OnEventChar;
  vcl::TNotifyEvent OnTxEmpty;

  // The control block and event mask Open applies, from the properties.
  platform::DeviceControlBlock ControlBlock() const;
  uint32_t EventMask() const;

 private:
  std::shared_ptr<platform::SerialPort> Port() const;

  vcl::TWindowHandle target_ = 0;
  mutable std::mutex mutex_;  // port_, block_, thread_, lastSystemError_, commError_
  std::shared_ptr<platform::SerialPort> port_;
  std::unique_ptr<TSerThread> thread_;
  platform::DeviceControlBlock block_;
  uint32_t lastSystemError_ = 0;
  uint32_t commError_ = 0;
  std::vector<std::string> ports_;

  int comPort_ = 0;
  TParityBit parityBit_ = TParityBit::none;
  int bufSizeTrm_ = 128;
  int bufSizeRec_ = 512;
  int xOffLimit_ = 401;
  int xOnLimit_ = 20;
};

// The event thread. It holds the port with the component, so the port stays
// open until the thread has let go of it; it never calls the component.
class TSerThread {
 public:
  TSerThread(std::shared_ptr<platform::SerialPort> port, vcl::TWindowHandle target);
  // Lets a thread that did not end in time run out on its own.
  ~TSerThread();
  TSerThread(const TSerThread&) = delete;
  TSerThread& operator=(const TSerThread&) = delete;

  // Asks the thread to stop; it ends on its next wake-up or pause.
  void Terminate();
  // Waits at most `ms` for the thread to end; true when it has (it is joined).
  bool WaitFor(uint32_t ms);
  // It ended on a failed wait, not asked to.
  bool Failed() const;

  // The pause after each wake-up.
  static constexpr uint32_t kPauseMs = 100;
  // Frames are only worth reporting with this much queued.
  static constexpr uint32_t kMinQueued = 63;

 private:
  struct Shared;
  static void Execute(const std::shared_ptr<Shared>& shared);

  std::shared_ptr<Shared> shared_;
};

}  // namespace monitor
