// COM ports on Windows: the overlapped comm API. The wait, the reads and the
// writes each have their own completion record and event and wait for their
// own completion; Close ends whatever is in progress before the handle goes.
//
// The seam's constants share their names with the system's macros; its
// header comes first, and below <windows.h> the names are the system's own.
#include "platform/SerialPort.h"

#include <windows.h>

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <mutex>
#include <string>

#include "platform/win32/Win32ErrorText.h"

namespace platform {
namespace {

// The base every control block is laid over, before the fields are set.
constexpr char kBaseSettings[] = "baud=9600 parity=N data=8 stop=1";

class Event {
 public:
  Event() : handle_(CreateEventA(nullptr, TRUE, FALSE, nullptr)) {}
  ~Event() {
    if (handle_)
      CloseHandle(handle_);
  }
  Event(const Event&) = delete;
  Event& operator=(const Event&) = delete;
  HANDLE get() const { return handle_; }

 private:
  HANDLE handle_;
};

class Win32SerialPort final : public SerialPort {
 public:
  explicit Win32SerialPort(HANDLE handle) : handle_(handle) {}
  ~Win32SerialPort() override { Close(); }

  bool Ready() const {
    return closing_.get() && waitEvent_.get() && readEvent_.get() && writeEvent_.get();
  }

  bool SetupQueues(uint32_t inQueue, uint32_t outQueue) override {
    InUse use(*this);
    if (!use)
      return Fail(ERROR_INVALID_HANDLE);
    return SetupComm(handle_, inQueue, outQueue) || Fail(GetLastError());
  }

  bool SetState(const DeviceControlBlock& block) override {
    InUse use(*this);
    if (!use)
      return Fail(ERROR_INVALID_HANDLE);
    DCB dcb{};
    dcb.DCBlength = sizeof(DCB);
    if (!BuildCommDCBA(kBaseSettings, &dcb))
      return Fail(GetLastError());
    dcb.BaudRate = block.baudRate;
    dcb.ByteSize = block.byteSize;
    dcb.Parity = block.parity;
    dcb.StopBits = block.stopBits;
    dcb.fBinary = block.binary;
    dcb.fParity = block.parityCheck;
    dcb.fOutxCtsFlow = block.ctsOutFlow;
    dcb.fOutxDsrFlow = block.dsrOutFlow;
    dcb.fDtrControl = block.dtrControl;
    dcb.fTXContinueOnXoff = block.continueOnXoff;
    dcb.fOutX = block.xonXoffOut;
    dcb.fInX = block.xonXoffIn;
    dcb.fErrorChar = block.replaceErrorChar;
    dcb.fNull = block.stripNull;
    dcb.fRtsControl = block.rtsControl;
    dcb.fAbortOnError = block.abortOnError;
    dcb.XonLim = block.xonLimit;
    dcb.XoffLim = block.xoffLimit;
    dcb.XonChar = block.xonChar;
    dcb.XoffChar = block.xoffChar;
    dcb.ErrorChar = block.errorChar;
    dcb.EofChar = block.eofChar;
    dcb.EvtChar = block.eventChar;
    if (!SetCommState(handle_, &dcb))
      return Fail(GetLastError());
    std::lock_guard lock(mutex_);
    block_ = block;
    return true;
  }

  bool SetEventMask(uint32_t mask) override {
    InUse use(*this);
    if (!use)
      return Fail(ERROR_INVALID_HANDLE);
    return SetCommMask(handle_, mask) || Fail(GetLastError());
  }

  bool WaitEvent(uint32_t& events) override {
    events = 0;
    InUse use(*this);
    if (!use)
      return Fail(ERROR_INVALID_HANDLE);
    std::lock_guard waiting(waitMutex_);
    OVERLAPPED overlapped{};
    overlapped.hEvent = waitEvent_.get();
    ResetEvent(overlapped.hEvent);
    DWORD mask = 0;
    if (!WaitCommEvent(handle_, &mask, &overlapped)) {
      if (GetLastError() != ERROR_IO_PENDING)
        return Fail(GetLastError());
      if (!Completed(overlapped, INFINITE))
        return Fail(ERROR_OPERATION_ABORTED);
    }
    DWORD unused = 0;
    if (!GetOverlappedResult(handle_, &overlapped, &unused, FALSE))
      return Fail(GetLastError());
    events = mask;
    return true;
  }

  bool ClearError(uint32_t& errors, CommStatus& status) override {
    errors = 0;
    status = {};
    InUse use(*this);
    if (!use)
      return Fail(ERROR_INVALID_HANDLE);
    DWORD word = 0;
    COMSTAT comStat{};
    if (!ClearCommError(handle_, &word, &comStat))
      return Fail(GetLastError());
    errors = word;
    status.inQueue = comStat.cbInQue;
    status.outQueue = comStat.cbOutQue;
    return true;
  }

  bool Read(void* buffer, uint32_t count, uint32_t& done) override {
    std::lock_guard reading(readMutex_);
    return Transfer(readEvent_, count, done, [&](OVERLAPPED& overlapped) {
      return ReadFile(handle_, buffer, count, nullptr, &overlapped);
    });
  }

  bool Write(const void* buffer, uint32_t count, uint32_t& done) override {
    std::lock_guard writing(writeMutex_);
    return Transfer(writeEvent_, count, done, [&](OVERLAPPED& overlapped) {
      return WriteFile(handle_, buffer, count, nullptr, &overlapped);
    });
  }

  bool Purge(uint32_t flags) override {
    InUse use(*this);
    if (!use)
      return Fail(ERROR_INVALID_HANDLE);
    return PurgeComm(handle_, flags) || Fail(GetLastError());
  }

  void Close() override {
    {
      std::lock_guard lock(mutex_);
      if (closed_)
        return;
      closed_ = true;
    }
    if (closing_.get())
      SetEvent(closing_.get());
    SetCommMask(handle_, 0);
    std::unique_lock lock(mutex_);
    idle_.wait(lock, [&] { return busy_ == 0; });
    CloseHandle(handle_);
  }

  void Abort() override {
    std::lock_guard lock(mutex_);
    if (closed_)
      return;
    aborted_ = true;
    // The waits end on the closing event; what the driver holds is cancelled.
    if (closing_.get())
      SetEvent(closing_.get());
    CancelIoEx(handle_, nullptr);
  }

  intptr_t Handle() const override {
    std::lock_guard lock(mutex_);
    return closed_ ? -1 : reinterpret_cast<intptr_t>(handle_);
  }

  uint32_t LastError() const override { return lastError_; }

 private:
  // Marks an operation in progress; Close waits for it before the handle goes.
  class InUse {
   public:
    explicit InUse(Win32SerialPort& port) : port_(port) {
      std::lock_guard lock(port_.mutex_);
      entered_ = !port_.closed_ && !port_.aborted_;
      if (entered_)
        ++port_.busy_;
    }
    ~InUse() {
      if (!entered_)
        return;
      std::lock_guard lock(port_.mutex_);
      if (--port_.busy_ == 0)
        port_.idle_.notify_all();
    }
    InUse(const InUse&) = delete;
    InUse& operator=(const InUse&) = delete;
    explicit operator bool() const { return entered_; }

   private:
    Win32SerialPort& port_;
    bool entered_ = false;
  };

  bool Fail(DWORD code) {
    lastError_ = code;
    return false;
  }

  // Waits for an overlapped operation to complete, or for Close, or for the
  // time-out; what did not complete is cancelled and waited out, since the
  // record lives on the caller's stack.
  bool Completed(OVERLAPPED& overlapped, DWORD timeoutMs) {
    const HANDLE handles[2] = {overlapped.hEvent, closing_.get()};
    if (WaitForMultipleObjects(2, handles, FALSE, timeoutMs) == WAIT_OBJECT_0)
      return true;
    CancelIoEx(handle_, &overlapped);
    DWORD unused = 0;
    GetOverlappedResult(handle_, &overlapped, &unused, TRUE);
    return false;
  }

  // How long `count` bytes take on the line at the present rate, plus a second.
  DWORD LineTimeMs(uint32_t count) {
    std::lock_guard lock(mutex_);
    const uint64_t bitsPerByte = 2u + block_.byteSize + (block_.parity != NOPARITY ? 1u : 0u);
    const uint64_t baud = std::max<uint32_t>(block_.baudRate, 1);
    return static_cast<DWORD>(1000 + uint64_t{count} * bitsPerByte * 1000 / baud);
  }

  template <class Start>
  bool Transfer(const Event& event, uint32_t count, uint32_t& done, Start start) {
    done = 0;
    InUse use(*this);
    if (!use)
      return Fail(ERROR_INVALID_HANDLE);
    OVERLAPPED overlapped{};
    overlapped.hEvent = event.get();
    ResetEvent(overlapped.hEvent);
    if (!start(overlapped)) {
      if (GetLastError() != ERROR_IO_PENDING)
        return Fail(GetLastError());
      Completed(overlapped, LineTimeMs(count));
    }
    DWORD transferred = 0;
    const BOOL ok = GetOverlappedResult(handle_, &overlapped, &transferred, TRUE);
    done = transferred;
    return ok || Fail(GetLastError());
  }

  HANDLE handle_;
  Event closing_;
  Event waitEvent_;
  Event readEvent_;
  Event writeEvent_;
  std::mutex waitMutex_;
  std::mutex readMutex_;
  std::mutex writeMutex_;
  mutable std::mutex mutex_;  // closed_, aborted_, busy_, block_
  std::condition_variable idle_;
  bool closed_ = false;
  bool aborted_ = false;
  int busy_ = 0;
  DeviceControlBlock block_;
  std::atomic<uint32_t> lastError_{0};
};

class Win32SerialPorts final : public SerialPorts {
 public:
  std::shared_ptr<SerialPort> Open(const std::string& name, uint32_t& error) override {
    error = 0;
    const HANDLE handle = CreateFileA(name.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                      OPEN_EXISTING, FILE_FLAG_OVERLAPPED, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
      error = GetLastError();
      return nullptr;
    }
    auto port = std::make_shared<Win32SerialPort>(handle);
    if (!port->Ready()) {
      error = GetLastError();
      return nullptr;
    }
    return port;
  }

  bool Exists(const std::string& name) override {
    COMMCONFIG config{};
    DWORD size = sizeof config;
    return GetDefaultCommConfigA(name.c_str(), &config, &size) != FALSE;
  }

  std::string ErrorText(uint32_t code) override {
    std::string text = win32::ErrorText(code);
    if (text.size() > 255)
      text.resize(255);
    return text;
  }
};

}  // namespace

SerialPorts& NativeSerialPorts() {
  static Win32SerialPorts ports;
  return ports;
}

}  // namespace platform
