// Unit Serial: the COM port component and its event thread.
#include "monitor/Serial.h"

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <thread>

#include "vcl/Forms.h"

namespace monitor {

using platform::SerialPort;

namespace {

constexpr int kMinQueueBytes = 16;
constexpr int kPortCount = 4;
// Close waits this long at most for the woken event thread; it needs microseconds.
constexpr uint32_t kCloseWaitMs = 1000;

// Event bits in the order their messages are posted.
constexpr std::array<uint32_t, 10> kPostOrder = {
    platform::EV_RXCHAR, platform::EV_TXEMPTY, platform::EV_BREAK,  platform::EV_RING,
    platform::EV_CTS,    platform::EV_DSR,     platform::EV_RXFLAG, platform::EV_RLSD,
    platform::EV_ERR,    platform::EV_RX80FULL};

vcl::TWindowHandle OwnerWindow(vcl::TComponent* owner) {
  auto* form = dynamic_cast<vcl::TForm*>(owner);
  return form ? form->Handle() : 0;
}

}  // namespace

// ------------------------------------------------------------------ TSerThread

struct TSerThread::Shared {
  Shared(std::shared_ptr<SerialPort> p, vcl::TWindowHandle t) : port(std::move(p)), target(t) {}

  std::shared_ptr<SerialPort> port;
  const vcl::TWindowHandle target;
  std::mutex mutex;
  std::condition_variable changed;
  bool terminated = false;
  bool finished = false;
  bool failed = false;
  std::thread thread;
};

TSerThread::TSerThread(std::shared_ptr<SerialPort> port, vcl::TWindowHandle target)
    : shared_(std::make_shared<Shared>(std::move(port), target)) {
  shared_->thread = std::thread(&TSerThread::Execute, shared_);
}

TSerThread::~TSerThread() {
  Terminate();
  std::unique_lock lock(shared_->mutex);
  if (!shared_->thread.joinable())
    return;
  if (shared_->finished) {
    lock.unlock();
    shared_->thread.join();
  } else {
    // It holds what it uses (the port, this state); it ends on its own.
    shared_->thread.detach();
  }
}

void TSerThread::Terminate() {
  {
    std::lock_guard lock(shared_->mutex);
    shared_->terminated = true;
  }
  shared_->changed.notify_all();
}

bool TSerThread::Failed() const {
  std::lock_guard lock(shared_->mutex);
  return shared_->failed;
}

bool TSerThread::WaitFor(uint32_t ms) {
  std::unique_lock lock(shared_->mutex);
  if (!shared_->changed.wait_for(lock, std::chrono::milliseconds(ms),
                                 [&] { return shared_->finished; }))
    return false;
  lock.unlock();
  if (shared_->thread.joinable())
    shared_->thread.join();
  return true;
}

void TSerThread::Execute(const std::shared_ptr<Shared>& shared) {
  SerialPort& port = *shared->port;
  auto terminated = [&] {
    std::lock_guard lock(shared->mutex);
    return shared->terminated;
  };
  while (!terminated()) {
    uint32_t events = 0;
    if (!port.WaitEvent(events)) {
      // Not woken by Close: the device went away under the handle.
      if (!terminated()) {
        {
          std::lock_guard lock(shared->mutex);
          shared->failed = true;
        }
        vcl::PostMessage(shared->target, WM_COMMBROKEN, port.LastError(), 0);
      }
      break;
    }
    // Woken by Close: the port is not ours to use any more, beyond the purge.
    if (terminated())
      break;
    uint32_t errors = 0;
    platform::CommStatus status;
    if (port.ClearError(errors, status) && status.inQueue >= kMinQueued) {
      for (uint32_t bit : kPostOrder) {
        if (events & bit) {
          const intptr_t lParam = bit == platform::EV_ERR ? static_cast<intptr_t>(errors) : 0;
          vcl::PostMessage(shared->target, WM_COMMEVENT, bit, lParam);
        }
      }
    }
    std::unique_lock lock(shared->mutex);
    shared->changed.wait_for(lock, std::chrono::milliseconds(kPauseMs),
                             [&] { return shared->terminated; });
  }
  port.Purge(platform::PURGE_RXABORT | platform::PURGE_RXCLEAR);
  std::lock_guard lock(shared->mutex);
  shared->finished = true;
  shared->changed.notify_all();
}

// --------------------------------------------------------------------- TSerial

TSerial::TSerial(vcl::TComponent* owner)
    : vcl::TComponent(owner, "TSerial"), target_(OwnerWindow(owner)) {}

TSerial::~TSerial() {
  Close();
}

void TSerial::BeforeDestruction() {
  Close();
  vcl::TComponent::BeforeDestruction();
}

std::shared_ptr<SerialPort> TSerial::Port() const {
  std::lock_guard lock(mutex_);
  return port_;
}

bool TSerial::Active() const {
  return Port() != nullptr;
}

void TSerial::SetActive(bool active) {
  if (active)
    Open(true);
  else
    Close();
}

platform::DeviceControlBlock TSerial::ControlBlock() const {
  platform::DeviceControlBlock block;
  block.baudRate = kBaudrates.at(static_cast<size_t>(Baudrate));
  block.byteSize = static_cast<uint8_t>(static_cast<int>(DataBits) + 4);
  block.parity = static_cast<uint8_t>(parityBit_);
  block.stopBits = static_cast<uint8_t>(StopBits);
  block.binary = true;
  block.parityCheck = ParityCheck();
  block.ctsOutFlow = HandshakeRtsCts;
  block.dsrOutFlow = HandshakeDtrDsr;
  block.dtrControl =
      HandshakeDtrDsr ? platform::DTR_CONTROL_HANDSHAKE : platform::DTR_CONTROL_DISABLE;
  block.continueOnXoff = ContinueOnXOff;
  block.xonXoffOut = HandshakeXOnXOff;
  block.xonXoffIn = HandshakeXOnXOff;
  block.replaceErrorChar = UseErrorChar;
  block.stripNull = EliminateNullChar;
  // RTSActive is not applied here; only ToggleRTS sets a level.
  block.rtsControl =
      HandshakeRtsCts ? platform::RTS_CONTROL_HANDSHAKE : platform::RTS_CONTROL_DISABLE;
  block.abortOnError = AbortOnError;
  block.xonLimit = static_cast<uint16_t>(xOnLimit_);
  block.xoffLimit = static_cast<uint16_t>(xOffLimit_);
  block.xonChar = XOnChar;
  block.xoffChar = XOffChar;
  block.errorChar = ErrorChar;
  block.eofChar = EofChar;
  block.eventChar = EventChar;
  return block;
}

uint32_t TSerial::EventMask() const {
  uint32_t mask = 0;
  auto add = [&mask](const vcl::TNotifyEvent& event, uint32_t bit) {
    if (event)
      mask |= bit;
  };
  add(OnBreak, platform::EV_BREAK);
  add(OnCts, platform::EV_CTS);
  add(OnDsr, platform::EV_DSR);
  add(OnError, platform::EV_ERR);
  add(OnRing, platform::EV_RING);
  add(OnDcd, platform::EV_RLSD);
  add(OnRxChar, platform::EV_RXCHAR);
  add(OnEventChar, platform::EV_RXFLAG);
  add(OnTxEmpty, platform::EV_TXEMPTY);
  return mask;
}

bool TSerial::Open(bool startThread) {
  if (Active() || comPort_ < 1)
    return false;
  const std::string name = "COM" + std::to_string(comPort_ % 10);
  uint32_t error = 0;
  std::shared_ptr<SerialPort> port = platform::serialPorts().Open(name, error);
  const platform::DeviceControlBlock block = ControlBlock();
  if (port) {
    const bool ready =
        port->SetupQueues(static_cast<uint32_t>(bufSizeRec_), static_cast<uint32_t>(bufSizeTrm_)) &&
        port->SetState(block) && port->SetEventMask(EventMask());
    if (!ready) {
      error = port->LastError();
      port->Close();
      port.reset();
    }
  }
  std::lock_guard lock(mutex_);
  lastSystemError_ = error;
  if (!port)
    return false;
  port_ = port;
  block_ = block;
  if (startThread)
    thread_ = std::make_unique<TSerThread>(port, target_);
  return true;
}

void TSerial::Close() {
  std::shared_ptr<SerialPort> port;
  std::unique_ptr<TSerThread> thread;
  {
    std::lock_guard lock(mutex_);
    port = std::move(port_);
    thread = std::move(thread_);
  }
  if (!port)
    return;
  if (thread) {
    thread->Terminate();
    // A cleared mask completes the thread's wait.
    port->SetEventMask(0);
    // Only once the thread has let go is the port closed. A driver that
    // ignores the cleared mask keeps the wait going: it is aborted without
    // waiting for it, and the thread, the port's last owner, releases the
    // port as it ends.
    if (!thread->WaitFor(kCloseWaitMs)) {
      port->Abort();
      return;
    }
  }
  port->Close();
}

int TSerial::WriteBuf(const void* buffer, int count) {
  std::shared_ptr<SerialPort> port = Port();
  if (!port || count <= 0)
    return 0;
  uint32_t done = 0;
  if (!port->Write(buffer, static_cast<uint32_t>(count), done)) {
    std::lock_guard lock(mutex_);
    lastSystemError_ = port->LastError();
  }
  return static_cast<int>(done);
}

int TSerial::ReadBuf(void* buffer, int count) {
  std::shared_ptr<SerialPort> port = Port();
  if (!port || count <= 0)
    return 0;
  uint32_t done = 0;
  if (!port->Read(buffer, static_cast<uint32_t>(count), done)) {
    std::lock_guard lock(mutex_);
    lastSystemError_ = port->LastError();
  }
  return static_cast<int>(done);
}

int TSerial::WriteStr(const std::string& text) {
  return WriteBuf(text.data(), static_cast<int>(text.size()));
}

void TSerial::ReadStr(std::string& text) {
  text.clear();
  if (!Active())
    return;
  text.resize(InQueCount());
  text.resize(static_cast<size_t>(ReadBuf(text.data(), static_cast<int>(text.size()))));
}

bool TSerial::GetQueueCounts(uint32_t& inQueue, uint32_t& outQueue) {
  inQueue = 0;
  outQueue = 0;
  std::shared_ptr<SerialPort> port = Port();
  if (!port)
    return false;
  uint32_t errors = 0;
  platform::CommStatus status;
  const bool ok = port->ClearError(errors, status);
  std::lock_guard lock(mutex_);
  if (!ok) {
    lastSystemError_ = port->LastError();
    return false;
  }
  commError_ = errors;
  inQueue = status.inQueue;
  outQueue = status.outQueue;
  return true;
}

uint32_t TSerial::InQueCount() {
  uint32_t inQueue = 0;
  uint32_t outQueue = 0;
  GetQueueCounts(inQueue, outQueue);
  return inQueue;
}

uint32_t TSerial::CommError() const {
  std::lock_guard lock(mutex_);
  return commError_;
}

bool TSerial::ToggleRTS() {
  std::shared_ptr<SerialPort> port = Port();
  if (!port)
    return true;
  platform::DeviceControlBlock block;
  {
    std::lock_guard lock(mutex_);
    block = block_;
    block.rtsControl = HandshakeRtsCts ? platform::RTS_CONTROL_HANDSHAKE
                       : !RTSActive    ? platform::RTS_CONTROL_ENABLE
                                       : platform::RTS_CONTROL_DISABLE;
  }
  const bool applied = port->SetState(block);
  std::lock_guard lock(mutex_);
  if (!applied) {
    // A line without RTS control (a pseudo-terminal, some adapters) still
    // carries the module's frames: the port stays open and the level as it
    // was. A port that is really gone is noticed by its event thread.
    lastSystemError_ = port->LastError();
    return false;
  }
  block_ = block;
  RTSActive = !RTSActive;
  return true;
}

bool TSerial::Purge(uint32_t flags) {
  std::shared_ptr<SerialPort> port = Port();
  if (!port)
    return false;
  if (port->Purge(flags))
    return true;
  std::lock_guard lock(mutex_);
  lastSystemError_ = port->LastError();
  return false;
}

uint32_t TSerial::LastSystemError() const {
  std::lock_guard lock(mutex_);
  return lastSystemError_;
}

std::string TSerial::LastSystemErrorText() const {
  return platform::serialPorts().ErrorText(LastSystemError());
}

intptr_t TSerial::Handle() const {
  std::shared_ptr<SerialPort> port = Port();
  return port ? port->Handle() : -1;
}

bool TSerial::Broken() const {
  std::lock_guard lock(mutex_);
  return port_ && thread_ && thread_->Failed();
}

void TSerial::ListPorts(std::vector<std::string>& list, bool probe) const {
  list.clear();
  for (int n = 1; n <= kPortCount; ++n) {
    const std::string name = "COM" + std::to_string(n);
    if (!probe || platform::serialPorts().Exists(name))
      list.push_back(name);
  }
}

int TSerial::FirstPort(bool probe) {
  ListPorts(ports_, probe);
  comPort_ = 0;
  if (ports_.empty())
    return 0;
  return std::stoi(ports_.front().substr(3));
}

const std::vector<std::string>& TSerial::Ports() {
  if (ports_.empty())
    ListPorts(ports_, false);
  return ports_;
}

void TSerial::SetCOMPort(int port) {
  if (port < 0)
    return;
  comPort_ = 0;
  const std::vector<std::string>& listed = Ports();
  if (std::find(listed.begin(), listed.end(), "COM" + std::to_string(port)) != listed.end())
    comPort_ = port;
}

void TSerial::SetParityBit(TParityBit parity) {
  parityBit_ = parity;
}

void TSerial::SetBufSizeTrm(int size) {
  bufSizeTrm_ = std::max(size, kMinQueueBytes);
}

void TSerial::SetBufSizeRec(int size) {
  bufSizeRec_ = std::max(size, kMinQueueBytes);
  if (xOffLimit_ > bufSizeRec_)
    xOffLimit_ = bufSizeRec_;
  if (xOnLimit_ >= xOffLimit_)
    xOnLimit_ = xOffLimit_ - 1;
}

void TSerial::SetXOffLimit(int limit) {
  xOffLimit_ = std::min(std::max(limit, xOnLimit_ + 1), bufSizeRec_);
}

void TSerial::SetXOnLimit(int limit) {
  xOnLimit_ = std::max(limit < xOffLimit_ ? limit : xOffLimit_ - 1, 0);
}

}  // namespace monitor
