// UDP over IPv4: one socket bound to a port on every interface, which one
// thread waits on for datagrams while another sends from it. Winsock on
// Windows, BSD sockets on POSIX.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

namespace platform {

// The ports a socket may be bound to or send to; no other number is cut to
// 16 bits to make one.
inline bool IsUdpPort(int32_t port) {
  return port >= 1 && port <= 65535;
}

class UdpSocket {
 public:
  enum class Received { Datagram, Stopped, Failed };

  virtual ~UdpSocket() = default;

  // Waits for the next datagram. Its first `capacity` bytes go to `buffer`
  // (the rest of a longer one is lost), `size` is how many, `sender` the
  // sender's address ("127.0.0.1"). Stopped once Stop was called, also while
  // waiting. Failed when the system refused for another reason (`error`);
  // the socket is still usable. A send that found no listener leaves no
  // error behind for this wait.
  virtual Received Receive(char* buffer, size_t capacity, size_t& size, std::string& sender,
                           uint32_t& error) = 0;

  // Hands one datagram for `address`:`port` to the system without waiting.
  // False, with the system's code, when it is not taken at once, the address
  // is not an IPv4 address in text, or the port is outside 1..65535.
  virtual bool SendTo(std::string_view bytes, const std::string& address, int32_t port,
                      uint32_t& error) = 0;

  // Ends a Receive in progress and every later one. Any thread.
  virtual void Stop() = 0;
};

// A socket bound to `port` on every interface; null when it cannot be bound
// (`error` is the system's code). A port outside 1..65535 is never bound.
std::unique_ptr<UdpSocket> BindUdpSocket(int32_t port, uint32_t& error);

// The system's message for a socket error code.
std::string SocketErrorText(uint32_t code);

}  // namespace platform
