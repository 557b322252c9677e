// COM ports on POSIX: a termios device behind the Windows port model. "COMn"
// is /dev/ttyS(n-1) unless KORVA_COM<n> names another device (n = 1..8).
//
// Incoming bytes go into an input queue of the size SetupQueues asks for, as
// the Windows driver does: bytes beyond it are dropped with CE_RXOVER; the
// event character raises EV_RXFLAG; line errors marked by the terminal
// (PARMRK), or counted by the driver, raise EV_ERR with CE_FRAME, CE_RXPARITY
// or CE_OVERRUN, and a break EV_BREAK with CE_BREAK. Transmit and
// modem-status events are not reported here.
//
// The terminal's own input buffer holds the bytes until someone looks: every
// operation that reports the queue, its events or its errors first takes in
// what the device holds, and a wait or read that has to block polls the
// device, one thread at a time. So a module that streams costs no wake-up
// between the event thread's looks, and what the looks report is what a
// driver filling its queue all along would report.
//
// RTS and DTR levels go through TIOCMBIS/TIOCMBIC. A device without modem
// lines (a pseudo-terminal) still opens and carries data; but a later change
// of the RTS level that the device refuses fails SetState, since a signal
// meant for the module would otherwise be lost without a word. DTR is applied
// where the device has it; nothing here depends on it.
#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>
#ifdef __linux__
#include <linux/serial.h>
#endif

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <mutex>
#include <optional>
#include <string>
#include <utility>

#include "platform/SerialPort.h"

namespace platform {
namespace {

using Clock = std::chrono::steady_clock;

// The default queue of a freshly opened Windows port.
constexpr uint32_t kDefaultQueueBytes = 4096;

std::optional<int> PortNumber(const std::string& name) {
  if (name.size() != 4 || name.compare(0, 3, "COM") != 0)
    return std::nullopt;
  const char digit = name[3];
  if (digit < '1' || digit > '8')
    return std::nullopt;
  return digit - '0';
}

std::optional<std::string> DevicePath(const std::string& name) {
  const std::optional<int> number = PortNumber(name);
  if (!number)
    return std::nullopt;
  const std::string variable = "KORVA_COM" + std::to_string(*number);
  if (const char* path = std::getenv(variable.c_str()); path && *path)
    return std::string(path);
  return "/dev/ttyS" + std::to_string(*number - 1);
}

std::optional<speed_t> SpeedOf(uint32_t baud) {
  switch (baud) {
    case 110:
      return B110;
    case 300:
      return B300;
    case 600:
      return B600;
    case 1200:
      return B1200;
    case 2400:
      return B2400;
    case 4800:
      return B4800;
    case 9600:
      return B9600;
    case 19200:
      return B19200;
    case 38400:
      return B38400;
    case 57600:
      return B57600;
    case 115200:
      return B115200;
    default:
      return std::nullopt;
  }
}

std::optional<tcflag_t> CharacterSize(uint8_t byteSize) {
  switch (byteSize) {
    case 5:
      return CS5;
    case 6:
      return CS6;
    case 7:
      return CS7;
    case 8:
      return CS8;
    default:
      return std::nullopt;
  }
}

class UniqueDescriptor {
 public:
  UniqueDescriptor() = default;
  explicit UniqueDescriptor(int fd) : fd_(fd) {}
  ~UniqueDescriptor() { Reset(); }
  UniqueDescriptor(UniqueDescriptor&& other) noexcept : fd_(std::exchange(other.fd_, -1)) {}
  UniqueDescriptor& operator=(UniqueDescriptor&& other) noexcept {
    if (this != &other) {
      Reset();
      fd_ = std::exchange(other.fd_, -1);
    }
    return *this;
  }
  int get() const { return fd_; }
  void Reset() {
    if (fd_ >= 0)
      ::close(fd_);
    fd_ = -1;
  }

 private:
  int fd_ = -1;
};

// The driver's line-error counters, where the device keeps them.
struct LineCounts {
  int frame = 0;
  int parity = 0;
  int overrun = 0;
  int brk = 0;
};

std::optional<LineCounts> ReadLineCounts(int fd) {
#ifdef __linux__
  serial_icounter_struct counts{};
  if (ioctl(fd, TIOCGICOUNT, &counts) != 0)
    return std::nullopt;
  return LineCounts{counts.frame, counts.parity, counts.overrun + counts.buf_overrun, counts.brk};
#else
  (void)fd;
  return std::nullopt;
#endif
}

struct Pipe {
  UniqueDescriptor read;
  UniqueDescriptor write;

  static std::optional<Pipe> Make() {
    int ends[2];
    if (pipe2(ends, O_CLOEXEC | O_NONBLOCK) != 0)
      return std::nullopt;
    return Pipe{UniqueDescriptor(ends[0]), UniqueDescriptor(ends[1])};
  }
  void Signal() const {
    const char byte = 1;
    (void)::write(write.get(), &byte, 1);
  }
};

class PosixSerialPort final : public SerialPort {
 public:
  // `stop` is signalled once, by Close; `wake` whenever the thread polling
  // the device must look at the port's state again.
  PosixSerialPort(UniqueDescriptor device, Pipe stop, Pipe wake)
      : device_(std::move(device)), stop_(std::move(stop)), wake_(std::move(wake)) {
    lineCounts_ = ReadLineCounts(device_.get());
  }
  ~PosixSerialPort() override { Close(); }

  bool SetupQueues(uint32_t inQueue, uint32_t /*outQueue*/) override {
    std::lock_guard lock(mutex_);
    if (!Usable())
      return Fail(EBADF);
    if (inQueue == 0)
      return Fail(EINVAL);
    inQueueSize_ = inQueue;
    return true;
  }

  bool SetState(const DeviceControlBlock& block) override {
    std::lock_guard lock(mutex_);
    if (!Usable())
      return Fail(EBADF);
    const std::optional<speed_t> speed = SpeedOf(block.baudRate);
    const std::optional<tcflag_t> size = CharacterSize(block.byteSize);
    const bool stopBitsValid = block.stopBits == ONESTOPBIT ||
                               (block.stopBits == ONE5STOPBITS && block.byteSize == 5) ||
                               (block.stopBits == TWOSTOPBITS && block.byteSize != 5);
    if (!speed || !size || block.parity > SPACEPARITY || !stopBitsValid ||
        block.rtsControl > RTS_CONTROL_TOGGLE || block.dtrControl > DTR_CONTROL_HANDSHAKE)
      return Fail(EINVAL);

    termios settings{};
    if (tcgetattr(device_.get(), &settings) != 0)
      return Fail(errno);
    settings.c_iflag &=
        ~(IGNBRK | BRKINT | IGNPAR | ISTRIP | INLCR | IGNCR | ICRNL | IXON | IXOFF | IXANY | INPCK);
    // Marks show line errors and breaks in the data, where the reader finds them.
    settings.c_iflag |= PARMRK;
    if (block.parityCheck)
      settings.c_iflag |= INPCK;
    if (block.xonXoffOut)
      settings.c_iflag |= IXON;
    if (block.xonXoffIn)
      settings.c_iflag |= IXOFF;
    settings.c_oflag &= ~OPOST;
    settings.c_lflag &= ~(ECHO | ECHONL | ICANON | ISIG | IEXTEN);
    settings.c_cflag &= ~(CSIZE | PARENB | PARODD | CSTOPB | CRTSCTS);
#ifdef CMSPAR
    settings.c_cflag &= ~CMSPAR;
#endif
    settings.c_cflag |= *size | CREAD | CLOCAL;
    switch (block.parity) {
      case ODDPARITY:
        settings.c_cflag |= PARENB | PARODD;
        break;
      case EVENPARITY:
        settings.c_cflag |= PARENB;
        break;
#ifdef CMSPAR
      case MARKPARITY:
        settings.c_cflag |= PARENB | PARODD | CMSPAR;
        break;
      case SPACEPARITY:
        settings.c_cflag |= PARENB | CMSPAR;
        break;
#else
      case MARKPARITY:
      case SPACEPARITY:
        return Fail(EINVAL);
#endif
      default:
        break;
    }
    if (block.stopBits != ONESTOPBIT)
      settings.c_cflag |= CSTOPB;
    if (block.ctsOutFlow || block.rtsControl == RTS_CONTROL_HANDSHAKE)
      settings.c_cflag |= CRTSCTS;
    settings.c_cc[VSTART] = static_cast<cc_t>(block.xonChar);
    settings.c_cc[VSTOP] = static_cast<cc_t>(block.xoffChar);
    settings.c_cc[VMIN] = 1;
    settings.c_cc[VTIME] = 0;
    cfsetispeed(&settings, *speed);
    cfsetospeed(&settings, *speed);

    // What arrived so far was received under the old settings.
    TakeInput();
    // The RTS level first: when a change of it is refused, nothing has changed.
    if (block.rtsControl == RTS_CONTROL_ENABLE || block.rtsControl == RTS_CONTROL_DISABLE) {
      int bits = TIOCM_RTS;
      const bool levelChanges = stateApplied_ && block.rtsControl != block_.rtsControl;
      if (ioctl(device_.get(), block.rtsControl == RTS_CONTROL_ENABLE ? TIOCMBIS : TIOCMBIC,
                &bits) != 0 &&
          levelChanges)
        return Fail(errno);
    }
    if (tcsetattr(device_.get(), TCSANOW, &settings) != 0)
      return Fail(errno);
    if (block.dtrControl != DTR_CONTROL_HANDSHAKE) {
      int bits = TIOCM_DTR;
      (void)ioctl(device_.get(), block.dtrControl == DTR_CONTROL_ENABLE ? TIOCMBIS : TIOCMBIC,
                  &bits);
    }
    block_ = block;
    stateApplied_ = true;
    return true;
  }

  bool SetEventMask(uint32_t mask) override {
    {
      std::lock_guard lock(mutex_);
      if (!Usable())
        return Fail(EBADF);
      // Events of what arrived before the change are dropped with it.
      TakeInput();
      mask_ = mask;
      pending_ = 0;
      ++maskChanges_;
      WakePoller();
    }
    changed_.notify_all();
    return true;
  }

  bool WaitEvent(uint32_t& events) override {
    events = 0;
    std::unique_lock lock(mutex_);
    if (!Usable())
      return Fail(EBADF);
    if (mask_ == 0)
      return Fail(EINVAL);
    const uint64_t maskAtStart = maskChanges_;
    TakeInput();
    for (;;) {
      if (closing_ || aborted_)
        return Fail(EBADF);
      if (maskChanges_ != maskAtStart)
        return true;
      if ((pending_ & mask_) != 0) {
        events = pending_ & mask_;
        pending_ = 0;
        return true;
      }
      if (broken_)
        return Fail(EIO);
      AwaitInput(lock, std::nullopt);
    }
  }

  bool ClearError(uint32_t& errors, CommStatus& status) override {
    std::lock_guard lock(mutex_);
    errors = 0;
    status = {};
    if (!Usable())
      return Fail(EBADF);
    TakeInput();
    // A device that hung up does not answer, as a driver whose device went away.
    if (broken_)
      return Fail(EIO);
    errors = std::exchange(errors_, 0);
    status.inQueue = static_cast<uint32_t>(queue_.size());
    // Only a write leaves bytes to ask the driver about.
    if (outputMayWait_) {
      int unsent = 0;
      if (ioctl(device_.get(), TIOCOUTQ, &unsent) == 0 && unsent > 0)
        status.outQueue = static_cast<uint32_t>(unsent);
      else
        outputMayWait_ = false;
    }
    return true;
  }

  bool Read(void* buffer, uint32_t count, uint32_t& done) override {
    done = 0;
    std::unique_lock lock(mutex_);
    if (!Usable())
      return Fail(EBADF);
    if (queue_.size() < count)
      TakeInput();
    if (block_.abortOnError && errors_ != 0)
      return Fail(ECANCELED);
    const uint64_t abortsAtStart = readAborts_;
    const Clock::time_point deadline = Clock::now() + LineTime(count);
    auto* out = static_cast<unsigned char*>(buffer);
    for (;;) {
      while (done < count && !queue_.empty()) {
        out[done++] = queue_.front();
        queue_.pop_front();
      }
      if (done == count)
        return true;
      if (closing_ || broken_ || readAborts_ != abortsAtStart || Clock::now() >= deadline)
        return Fail(closing_ ? EBADF : ETIMEDOUT);
      AwaitInput(lock, deadline);
    }
  }

  bool Write(const void* buffer, uint32_t count, uint32_t& done) override {
    done = 0;
    std::unique_lock writing(writeMutex_);
    uint64_t abortsAtStart = 0;
    {
      std::lock_guard lock(mutex_);
      if (!Usable())
        return Fail(EBADF);
      TakeInput();
      if (block_.abortOnError && errors_ != 0)
        return Fail(ECANCELED);
      abortsAtStart = writeAborts_;
      ++busy_;
    }
    const bool ok = WriteAll(static_cast<const unsigned char*>(buffer), count, done, abortsAtStart);
    std::lock_guard lock(mutex_);
    --busy_;
    if (done > 0)
      outputMayWait_ = true;
    changed_.notify_all();
    return ok;
  }

  bool Purge(uint32_t flags) override {
    {
      std::lock_guard lock(mutex_);
      if (!Usable())
        return Fail(EBADF);
      if (flags & PURGE_RXABORT) {
        ++readAborts_;
        WakePoller();
      }
      if (flags & PURGE_TXABORT)
        ++writeAborts_;
      if (flags & PURGE_RXCLEAR) {
        // The events of what was received stand; only the bytes go.
        TakeInput();
        tcflush(device_.get(), TCIFLUSH);
        queue_.clear();
      }
      if (flags & PURGE_TXCLEAR)
        tcflush(device_.get(), TCOFLUSH);
    }
    changed_.notify_all();
    return true;
  }

  void Close() override {
    {
      std::lock_guard lock(mutex_);
      if (closing_)
        return;
      closing_ = true;
    }
    changed_.notify_all();
    stop_.Signal();
    std::unique_lock lock(mutex_);
    changed_.wait(lock, [&] { return busy_ == 0 && !polling_; });
    flock(device_.get(), LOCK_UN);
    device_.Reset();
    stop_ = {};
    wake_ = {};
  }

  void Abort() override {
    {
      std::lock_guard lock(mutex_);
      if (closing_)
        return;
      aborted_ = true;
      ++readAborts_;
      ++writeAborts_;
      WakePoller();
    }
    changed_.notify_all();
  }

  intptr_t Handle() const override {
    std::lock_guard lock(mutex_);
    return closing_ ? -1 : device_.get();
  }

  uint32_t LastError() const override {
    std::lock_guard lock(mutex_);
    return lastError_;
  }

 private:
  bool Usable() const {
    return !closing_ && !aborted_ && device_.get() >= 0;
  }

  bool Fail(int code) {
    lastError_ = static_cast<uint32_t>(code);
    return false;
  }

  // How long `count` bytes take on the line at the present rate, plus a second.
  std::chrono::milliseconds LineTime(uint32_t count) const {
    const uint64_t bitsPerByte = 2u + block_.byteSize + (block_.parity != NOPARITY ? 1u : 0u);
    const uint64_t baud = std::max<uint32_t>(block_.baudRate, 1);
    return std::chrono::milliseconds(1000 + uint64_t{count} * bitsPerByte * 1000 / baud);
  }

  bool WriteAll(const unsigned char* data, uint32_t count, uint32_t& done, uint64_t aborts) {
    Clock::time_point deadline;
    {
      std::lock_guard lock(mutex_);
      deadline = Clock::now() + LineTime(count);
    }
    while (done < count) {
      const ssize_t written = ::write(device_.get(), data + done, count - done);
      if (written > 0) {
        done += static_cast<uint32_t>(written);
        continue;
      }
      if (written < 0 && errno != EAGAIN && errno != EINTR) {
        std::lock_guard lock(mutex_);
        return Fail(errno);
      }
      const auto left =
          std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
      {
        std::lock_guard lock(mutex_);
        if (closing_ || writeAborts_ != aborts || left.count() <= 0)
          return Fail(closing_ ? EBADF : ETIMEDOUT);
      }
      // Short slices so a purge or Close ends a write stuck on flow control soon.
      pollfd fds[2] = {{device_.get(), POLLOUT, 0}, {stop_.read.get(), POLLIN, 0}};
      (void)poll(fds, 2, static_cast<int>(std::min<int64_t>(left.count(), 50)));
    }
    return true;
  }

  // Under the lock: moves what the device holds into the input queue. Reads
  // never wait (the device is non-blocking); a read of nothing is a hang-up.
  // While a thread polls the device, only it takes the input, as soon as its
  // poll sees it: taken by another thread, the input would not end its poll.
  void TakeInput() {
    if (closing_ || broken_ || polling_)
      return;
    unsigned char chunk[1024];
    for (;;) {
      const ssize_t got = ::read(device_.get(), chunk, sizeof chunk);
      if (got > 0) {
        Receive(chunk, static_cast<size_t>(got));
        changed_.notify_all();
        if (static_cast<size_t>(got) < sizeof chunk)
          return;
      } else if (got < 0 && errno == EINTR) {
        continue;
      } else {
        // The device went away (a hang-up): waits end and the queue counts
        // are refused; what was queued can still be read.
        if (got == 0 || errno != EAGAIN)
          broken_ = true;
        return;
      }
    }
  }

  // Under the lock, which it lets go meanwhile: returns, with the input
  // taken in, once the device had input, the deadline has passed, or the
  // port's state may have changed for the caller. One thread at a time polls
  // the device; the others wait until it has taken the input in, or has
  // left the device to them.
  void AwaitInput(std::unique_lock<std::mutex>& lock, std::optional<Clock::time_point> deadline) {
    if (polling_) {
      if (deadline)
        changed_.wait_until(lock, *deadline);
      else
        changed_.wait(lock);
      TakeInput();
      return;
    }
    int timeout = -1;
    if (deadline) {
      const auto left = std::chrono::ceil<std::chrono::milliseconds>(*deadline - Clock::now());
      timeout = static_cast<int>(std::clamp<int64_t>(left.count(), 0, 1'000'000));
    }
    polling_ = true;
    lock.unlock();
    pollfd fds[3] = {
        {device_.get(), POLLIN, 0}, {wake_.read.get(), POLLIN, 0}, {stop_.read.get(), POLLIN, 0}};
    const int ready = poll(fds, 3, timeout);
    const bool failed = ready < 0 && errno != EINTR;
    if (fds[1].revents & POLLIN) {
      char signals[64];
      while (::read(wake_.read.get(), signals, sizeof signals) > 0) {
      }
    }
    lock.lock();
    polling_ = false;
    TakeInput();
    if (failed || (fds[0].revents & (POLLHUP | POLLERR | POLLNVAL)) != 0)
      broken_ = true;
    changed_.notify_all();
  }

  // Under the lock: makes the thread polling the device, if any, look again.
  void WakePoller() {
    if (polling_)
      wake_.Signal();
  }

  // Under the lock: takes a chunk apart into data bytes and marked errors.
  void Receive(const unsigned char* data, size_t size) {
    uint32_t events = 0;
    for (size_t i = 0; i < size; ++i) {
      const unsigned char byte = data[i];
      switch (mark_) {
        case Mark::kNone:
          if (byte == 0xFF)
            mark_ = Mark::kEscape;
          else
            Enqueue(byte, events);
          break;
        case Mark::kEscape:
          mark_ = byte == 0x00 ? Mark::kFlagged : Mark::kNone;
          if (byte != 0x00)
            Enqueue(byte, events);  // 0xFF 0xFF is one 0xFF
          break;
        case Mark::kFlagged:
          mark_ = Mark::kNone;
          Marked(byte, events);
          break;
      }
    }
    events |= CountedLineErrors();
    if (queue_.size() * 5 >= uint64_t{inQueueSize_} * 4 && !nearlyFull_) {
      nearlyFull_ = true;
      events |= EV_RX80FULL;
    } else if (queue_.size() * 5 < uint64_t{inQueueSize_} * 4) {
      nearlyFull_ = false;
    }
    pending_ |= events & mask_;
  }

  void Enqueue(unsigned char byte, uint32_t& events) {
    if (byte == 0 && block_.stripNull)
      return;
    if (queue_.size() >= inQueueSize_) {
      errors_ |= CE_RXOVER;
      return;
    }
    queue_.push_back(byte);
    events |= EV_RXCHAR;
    if (byte == static_cast<unsigned char>(block_.eventChar))
      events |= EV_RXFLAG;
  }

  // A byte the terminal marked: a break (0xFF 0x00 0x00) or a byte received
  // with a framing or parity error. Where the driver counts line errors, its
  // counters name them (CountedLineErrors); elsewhere a marked byte counts as
  // a framing error.
  void Marked(unsigned char byte, uint32_t& events) {
    if (byte == 0x00) {
      if (!lineCounts_) {
        errors_ |= CE_BREAK;
        events |= EV_BREAK;
      }
      return;
    }
    if (!lineCounts_) {
      errors_ |= CE_FRAME;
      events |= EV_ERR;
    }
    Enqueue(block_.replaceErrorChar ? static_cast<unsigned char>(block_.errorChar) : byte, events);
  }

  uint32_t CountedLineErrors() {
    if (!lineCounts_)
      return 0;
    const std::optional<LineCounts> now = ReadLineCounts(device_.get());
    if (!now)
      return 0;
    uint32_t events = 0;
    auto note = [&](int before, int after, uint32_t error, uint32_t event) {
      if (before != after) {
        errors_ |= error;
        events |= event;
      }
    };
    note(lineCounts_->frame, now->frame, CE_FRAME, EV_ERR);
    note(lineCounts_->parity, now->parity, CE_RXPARITY, EV_ERR);
    note(lineCounts_->overrun, now->overrun, CE_OVERRUN, EV_ERR);
    note(lineCounts_->brk, now->brk, CE_BREAK, EV_BREAK);
    lineCounts_ = now;
    return events;
  }

  enum class Mark { kNone, kEscape, kFlagged };

  mutable std::mutex mutex_;
  std::condition_variable changed_;
  std::mutex writeMutex_;
  UniqueDescriptor device_;
  Pipe stop_;
  Pipe wake_;

  DeviceControlBlock block_;
  bool stateApplied_ = false;
  uint32_t inQueueSize_ = kDefaultQueueBytes;
  std::deque<unsigned char> queue_;
  Mark mark_ = Mark::kNone;
  std::optional<LineCounts> lineCounts_;
  bool nearlyFull_ = false;
  uint32_t mask_ = 0;
  uint32_t pending_ = 0;
  uint32_t errors_ = 0;
  uint64_t maskChanges_ = 0;
  uint64_t readAborts_ = 0;
  uint64_t writeAborts_ = 0;
  int busy_ = 0;
  bool polling_ = false;
  bool outputMayWait_ = false;
  bool closing_ = false;
  bool aborted_ = false;
  bool broken_ = false;
  uint32_t lastError_ = 0;
};

class PosixSerialPorts final : public SerialPorts {
 public:
  std::shared_ptr<SerialPort> Open(const std::string& name, uint32_t& error) override {
    error = 0;
    const std::optional<std::string> path = DevicePath(name);
    if (!path) {
      error = ENOENT;
      return nullptr;
    }
    UniqueDescriptor device(::open(path->c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC));
    if (device.get() < 0) {
      error = static_cast<uint32_t>(errno);
      return nullptr;
    }
    termios probe{};
    if (tcgetattr(device.get(), &probe) != 0) {
      error = ENOTTY;
      return nullptr;
    }
    // Not shared: a second opener finds the port busy, as on Windows.
    if (flock(device.get(), LOCK_EX | LOCK_NB) != 0) {
      error = EBUSY;
      return nullptr;
    }
    (void)ioctl(device.get(), TIOCEXCL);
    // Raw until SetState says more: a read of nothing is then only a hang-up,
    // never an empty line or an expired timer.
    probe.c_lflag &= ~ICANON;
    probe.c_cc[VMIN] = 1;
    probe.c_cc[VTIME] = 0;
    (void)tcsetattr(device.get(), TCSANOW, &probe);
    // A freshly opened port starts with empty queues.
    tcflush(device.get(), TCIOFLUSH);
    std::optional<Pipe> stop = Pipe::Make();
    std::optional<Pipe> wake = Pipe::Make();
    if (!stop || !wake) {
      error = static_cast<uint32_t>(errno);
      return nullptr;
    }
    return std::make_shared<PosixSerialPort>(std::move(device), std::move(*stop), std::move(*wake));
  }

  bool Exists(const std::string& name) override {
    const std::optional<std::string> path = DevicePath(name);
    return path && access(path->c_str(), F_OK) == 0;
  }

  std::string ErrorText(uint32_t code) override {
    std::string text = std::strerror(static_cast<int>(code));
    if (text.size() > 255)
      text.resize(255);
    return text;
  }
};

}  // namespace

SerialPorts& NativeSerialPorts() {
  static PosixSerialPorts ports;
  return ports;
}

}  // namespace platform
