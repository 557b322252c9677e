// A COM port as the Windows comm API shows it: opened by name ("COM1"),
// exclusive, set up from a device control block, with an input queue of its
// own, an event mask and a wait for communication events, the error word and
// queue counts, reads, writes and purges. Numbers (event bits, error bits,
// purge flags, parity and control codes) are the ones Windows uses.
//
// Every operation is safe from any thread and on a closed port (it then fails
// with the platform's "bad handle" error). A read, a write and a wait each
// complete before they return; none shares its completion record with another.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "platform/Services.h"

namespace platform {

// Event bits of the mask and of a completed wait.
inline constexpr uint32_t EV_RXCHAR = 0x0001;
inline constexpr uint32_t EV_RXFLAG = 0x0002;
inline constexpr uint32_t EV_TXEMPTY = 0x0004;
inline constexpr uint32_t EV_CTS = 0x0008;
inline constexpr uint32_t EV_DSR = 0x0010;
inline constexpr uint32_t EV_RLSD = 0x0020;
inline constexpr uint32_t EV_BREAK = 0x0040;
inline constexpr uint32_t EV_ERR = 0x0080;
inline constexpr uint32_t EV_RING = 0x0100;
inline constexpr uint32_t EV_RX80FULL = 0x0400;

// Bits of the communication error word.
inline constexpr uint32_t CE_RXOVER = 0x0001;
inline constexpr uint32_t CE_OVERRUN = 0x0002;
inline constexpr uint32_t CE_RXPARITY = 0x0004;
inline constexpr uint32_t CE_FRAME = 0x0008;
inline constexpr uint32_t CE_BREAK = 0x0010;
inline constexpr uint32_t CE_TXFULL = 0x0100;
inline constexpr uint32_t CE_IOE = 0x0400;
inline constexpr uint32_t CE_MODE = 0x8000;

// Purge flags.
inline constexpr uint32_t PURGE_TXABORT = 0x0001;
inline constexpr uint32_t PURGE_RXABORT = 0x0002;
inline constexpr uint32_t PURGE_TXCLEAR = 0x0004;
inline constexpr uint32_t PURGE_RXCLEAR = 0x0008;

// Parity, stop-bit and line-control codes of the device control block.
inline constexpr uint8_t NOPARITY = 0;
inline constexpr uint8_t ODDPARITY = 1;
inline constexpr uint8_t EVENPARITY = 2;
inline constexpr uint8_t MARKPARITY = 3;
inline constexpr uint8_t SPACEPARITY = 4;
inline constexpr uint8_t ONESTOPBIT = 0;
inline constexpr uint8_t ONE5STOPBITS = 1;
inline constexpr uint8_t TWOSTOPBITS = 2;
inline constexpr uint8_t DTR_CONTROL_DISABLE = 0;
inline constexpr uint8_t DTR_CONTROL_ENABLE = 1;
inline constexpr uint8_t DTR_CONTROL_HANDSHAKE = 2;
inline constexpr uint8_t RTS_CONTROL_DISABLE = 0;
inline constexpr uint8_t RTS_CONTROL_ENABLE = 1;
inline constexpr uint8_t RTS_CONTROL_HANDSHAKE = 2;
inline constexpr uint8_t RTS_CONTROL_TOGGLE = 3;

// The line settings a port is given in one piece. On Windows it is laid over
// what the text "baud=9600 parity=N data=8 stop=1" builds; fields it does not
// name keep that text's values.
struct DeviceControlBlock {
  uint32_t baudRate = 9600;
  uint8_t byteSize = 8;
  uint8_t parity = NOPARITY;
  uint8_t stopBits = ONESTOPBIT;
  bool binary = true;
  bool parityCheck = false;
  bool ctsOutFlow = false;
  bool dsrOutFlow = false;
  uint8_t dtrControl = DTR_CONTROL_DISABLE;
  bool continueOnXoff = false;
  bool xonXoffOut = false;
  bool xonXoffIn = false;
  bool replaceErrorChar = false;
  bool stripNull = false;
  uint8_t rtsControl = RTS_CONTROL_DISABLE;
  bool abortOnError = false;
  uint16_t xonLimit = 0;
  uint16_t xoffLimit = 0;
  char xonChar = 0x11;
  char xoffChar = 0x13;
  char errorChar = 0;
  char eofChar = 0;
  char eventChar = 0;

  bool operator==(const DeviceControlBlock&) const = default;
};

// The queue counts of ClearError.
struct CommStatus {
  uint32_t inQueue = 0;
  uint32_t outQueue = 0;
};

class SerialPort {
 public:
  virtual ~SerialPort() = default;

  // Sizes of the input and output queues in bytes.
  virtual bool SetupQueues(uint32_t inQueue, uint32_t outQueue) = 0;
  // Applies the whole control block, or nothing of it.
  virtual bool SetState(const DeviceControlBlock& block) = 0;
  // Chooses the events a wait reports. Completes a wait in progress with no
  // events, as the system does when the mask changes under it.
  virtual bool SetEventMask(uint32_t mask) = 0;
  // Blocks until an event of the mask occurs (events = its bits; events that
  // occurred since the last wait count), or until the mask is changed
  // (events = 0). False when the port is closed, broken or the mask is 0.
  virtual bool WaitEvent(uint32_t& events) = 0;
  // Takes the error word (clearing it) and the queue counts.
  virtual bool ClearError(uint32_t& errors, CommStatus& status) = 0;
  // Read and Write wait for their own completion, at most the time the bytes
  // take on the line plus a second; `done` is what was actually transferred.
  virtual bool Read(void* buffer, uint32_t count, uint32_t& done) = 0;
  virtual bool Write(const void* buffer, uint32_t count, uint32_t& done) = 0;
  virtual bool Purge(uint32_t flags) = 0;
  // Ends waits, reads and writes in progress, then releases the device.
  // Calling it again does nothing.
  virtual void Close() = 0;
  // Ends the wait, read or write in progress without waiting for it to
  // finish (a driver may ignore the cleared mask, or hang); every later
  // operation fails. The device is released when the port is closed or its
  // last owner lets it go.
  virtual void Abort() = 0;

  // The handle's value as the system gives it (for messages only).
  virtual intptr_t Handle() const = 0;
  // The system's code for the last failure of this port.
  virtual uint32_t LastError() const = 0;
};

// Opens ports by name and knows the system's error texts.
class SerialPorts {
 public:
  virtual ~SerialPorts() = default;
  // "COMn", read and write, not shared. Null when the port is missing or
  // busy; `error` then holds the system's code.
  virtual std::shared_ptr<SerialPort> Open(const std::string& name, uint32_t& error) = 0;
  // Whether the system knows a port of this name.
  virtual bool Exists(const std::string& name) = 0;
  // The system's message for an error code, at most 255 characters, on one
  // line (no line break at its end).
  virtual std::string ErrorText(uint32_t code) = 0;
};

// The platform's ports (termios devices on POSIX, the comm API on Windows).
SerialPorts& NativeSerialPorts();

template <>
inline SerialPorts*& ScopedService<SerialPorts>::Slot() {
  static SerialPorts* installed = nullptr;
  return installed;
}

// The installed ports (a test's fake) or the native ones.
inline SerialPorts& serialPorts() {
  SerialPorts* installed = ScopedService<SerialPorts>::Slot();
  return installed ? *installed : NativeSerialPorts();
}

}  // namespace platform
