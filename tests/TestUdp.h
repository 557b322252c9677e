// The test's own end of UDP: plain sockets on loopback addresses, written
// here rather than taken from the code under test. Ports are found free at
// run time, since other test programs run beside this one.
#pragma once

#ifdef _WIN32
#include <winsock2.h>
#include <ws2tcpip.h>
#else
#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>
#endif

#include <cstdint>
#include <optional>
#include <string>

namespace korva_test {

class TestUdpSocket {
 public:
#ifdef _WIN32
  using Handle = SOCKET;
  static constexpr Handle kNone = INVALID_SOCKET;
#else
  using Handle = int;
  static constexpr Handle kNone = -1;
#endif

  // Bound to `address`:`port`; port 0 takes a free one. Bound() tells.
  // Sockets on one port and different addresses are `shared` (Wine refuses
  // the second one otherwise); a free port taken by the system never is.
  explicit TestUdpSocket(const std::string& address = "127.0.0.1", int port = 0,
                         bool shared = false) {
#ifdef _WIN32
    static const bool started = [] {
      WSADATA data;
      return WSAStartup(MAKEWORD(2, 2), &data) == 0;
    }();
    if (!started)
      return;
#endif
    socket_ = ::socket(AF_INET, SOCK_DGRAM, IPPROTO_UDP);
    if (socket_ == kNone)
      return;
    if (shared && port != 0) {
      const int on = 1;
      setsockopt(socket_, SOL_SOCKET, SO_REUSEADDR, reinterpret_cast<const char*>(&on), sizeof on);
    }
    sockaddr_in at = Address(address, port);
    if (bind(socket_, reinterpret_cast<sockaddr*>(&at), sizeof at) != 0) {
      Close();
      return;
    }
    socklen_t size = sizeof at;
    getsockname(socket_, reinterpret_cast<sockaddr*>(&at), &size);
    port_ = ntohs(at.sin_port);
  }
  ~TestUdpSocket() {
    Close();
  }
  TestUdpSocket(const TestUdpSocket&) = delete;
  TestUdpSocket& operator=(const TestUdpSocket&) = delete;

  bool Bound() const {
    return socket_ != kNone;
  }
  int port() const {
    return port_;
  }

  bool Send(const std::string& bytes, int port, const std::string& address = "127.0.0.1") {
    const sockaddr_in to = Address(address, port);
    return sendto(socket_, bytes.data(), static_cast<int>(bytes.size()), 0,
                  reinterpret_cast<const sockaddr*>(&to),
                  sizeof to) == static_cast<int>(bytes.size());
  }

  // The next datagram, or nothing when none came within `ms`; `sender` gets
  // the address it came from.
  std::optional<std::string> Receive(int ms = 5000, std::string* sender = nullptr) {
#ifdef _WIN32
    WSAPOLLFD fd{socket_, POLLRDNORM, 0};
    if (WSAPoll(&fd, 1, ms) <= 0)
      return std::nullopt;
#else
    pollfd fd{socket_, POLLIN, 0};
    if (poll(&fd, 1, ms) <= 0)
      return std::nullopt;
#endif
    std::string bytes(65536, '\0');
    sockaddr_in from{};
    socklen_t fromSize = sizeof from;
    const int n = static_cast<int>(recvfrom(socket_, bytes.data(), static_cast<int>(bytes.size()),
                                            0, reinterpret_cast<sockaddr*>(&from), &fromSize));
    if (n < 0)
      return std::nullopt;
    bytes.resize(static_cast<size_t>(n));
    if (sender) {
      char text[INET_ADDRSTRLEN] = {};
      *sender = inet_ntop(AF_INET, &from.sin_addr, text, sizeof text) ? text : "";
    }
    return bytes;
  }

  // A port nothing was bound to a moment ago, on every interface.
  static int FreePort() {
    TestUdpSocket probe("0.0.0.0");
    return probe.port();
  }

 private:
  static sockaddr_in Address(const std::string& address, int port) {
    sockaddr_in at{};
    at.sin_family = AF_INET;
    at.sin_port = htons(static_cast<uint16_t>(port));
    inet_pton(AF_INET, address.c_str(), &at.sin_addr);
    return at;
  }
  void Close() {
    if (socket_ == kNone)
      return;
#ifdef _WIN32
    closesocket(socket_);
#else
    close(socket_);
#endif
    socket_ = kNone;
  }

  Handle socket_ = kNone;
  int port_ = 0;
};

}  // namespace korva_test
