// UDP sockets on Windows (Winsock 2, started once). The socket is tied to an
// event by WSAEventSelect, which also makes it non-blocking: a wait is on that
// event and on a stop event, so Stop ends it without closing the socket under
// the waiting thread, and a send never blocks the main thread.
#include "platform/win32/SystemCalls.h"
// After winsock2.h, which it needs.
#include <ws2tcpip.h>

#include <atomic>

#include "platform/UdpSocket.h"
#include "platform/win32/Win32ErrorText.h"

namespace platform {
namespace {

// Windows reports a send that met no listener as a failure of the next
// receive on the socket, unless this control switches that off.
constexpr DWORD kUdpConnectionReset = _WSAIOW(IOC_VENDOR, 12);

bool WinsockStarted(uint32_t& error) {
  static const int started = [] {
    WSADATA data;
    return WSAStartup(MAKEWORD(2, 2), &data);
  }();
  error = static_cast<uint32_t>(started);
  return started == 0;
}

class Win32UdpSocket final : public UdpSocket {
 public:
  Win32UdpSocket(SOCKET socket, WSAEVENT readable, WSAEVENT stop)
      : socket_(socket), readable_(readable), stop_(stop) {}
  ~Win32UdpSocket() override {
    closesocket(socket_);
    WSACloseEvent(readable_);
    WSACloseEvent(stop_);
  }
  Win32UdpSocket(const Win32UdpSocket&) = delete;
  Win32UdpSocket& operator=(const Win32UdpSocket&) = delete;

  Received Receive(char* buffer, size_t capacity, size_t& size, std::string& sender,
                   uint32_t& error) override {
    for (;;) {
      if (stopped_.load())
        return Received::Stopped;
      // Reset before the read: a datagram that comes after it sets the event
      // again, so none is left waiting unnoticed.
      WSAResetEvent(readable_);
      sockaddr_in from{};
      int fromSize = sizeof from;
      const int n = recvfrom(socket_, buffer, static_cast<int>(capacity), 0,
                             reinterpret_cast<sockaddr*>(&from), &fromSize);
      const int failure = n == SOCKET_ERROR ? WSAGetLastError() : 0;
      if (n != SOCKET_ERROR || failure == WSAEMSGSIZE) {
        // A longer datagram fails with WSAEMSGSIZE and fills the buffer.
        size = n == SOCKET_ERROR ? capacity : static_cast<size_t>(n);
        char text[INET_ADDRSTRLEN] = {};
        sender = inet_ntop(AF_INET, &from.sin_addr, text, sizeof text) ? text : "";
        return Received::Datagram;
      }
      if (failure == WSAECONNRESET || failure == WSAEINTR)
        continue;
      if (failure != WSAEWOULDBLOCK) {
        error = static_cast<uint32_t>(failure);
        return Received::Failed;
      }
      WSAEVENT events[2] = {stop_, readable_};
      const DWORD woken = WSAWaitForMultipleEvents(2, events, FALSE, WSA_INFINITE, FALSE);
      if (woken == WSA_WAIT_FAILED) {
        error = static_cast<uint32_t>(WSAGetLastError());
        return Received::Failed;
      }
    }
  }

  bool SendTo(std::string_view bytes, const std::string& address, int32_t port,
              uint32_t& error) override {
    sockaddr_in to{};
    to.sin_family = AF_INET;
    if (!IsUdpPort(port) || inet_pton(AF_INET, address.c_str(), &to.sin_addr) != 1) {
      error = WSAEINVAL;
      return false;
    }
    to.sin_port = htons(static_cast<u_short>(port));
    if (sendto(socket_, bytes.data(), static_cast<int>(bytes.size()), 0,
               reinterpret_cast<sockaddr*>(&to), sizeof to) == SOCKET_ERROR) {
      error = static_cast<uint32_t>(WSAGetLastError());
      return false;
    }
    return true;
  }

  void Stop() override {
    stopped_.store(true);
    WSASetEvent(stop_);
  }

 private:
  SOCKET socket_;
  WSAEVENT readable_;
  WSAEVENT stop_;
  std::atomic<bool> stopped_{false};
};

}  // namespace

std::unique_ptr<UdpSocket> BindUdpSocket(int32_t port, uint32_t& error) {
  if (!IsUdpPort(port)) {
    error = WSAEINVAL;
    return nullptr;
  }
  if (!WinsockStarted(error))
    return nullptr;
  const SOCKET socket = ::socket(AF_INET, SOCK_DGRAM, IPPROTO_UDP);
  if (socket == INVALID_SOCKET) {
    error = static_cast<uint32_t>(WSAGetLastError());
    return nullptr;
  }
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_ANY);
  address.sin_port = htons(static_cast<u_short>(port));
  WSAEVENT readable = WSA_INVALID_EVENT;
  WSAEVENT stop = WSA_INVALID_EVENT;
  // The port is this socket's alone: otherwise Windows lets another program
  // bind it too, asking to reuse the address, and take the commands sent to it.
  const BOOL exclusive = TRUE;
  if (win32::systemCalls().setSocketOption(socket, SOL_SOCKET, SO_EXCLUSIVEADDRUSE,
                                           reinterpret_cast<const char*>(&exclusive),
                                           sizeof exclusive) == SOCKET_ERROR ||
      bind(socket, reinterpret_cast<sockaddr*>(&address), sizeof address) == SOCKET_ERROR ||
      (readable = WSACreateEvent()) == WSA_INVALID_EVENT ||
      (stop = WSACreateEvent()) == WSA_INVALID_EVENT ||
      WSAEventSelect(socket, readable, FD_READ) == SOCKET_ERROR) {
    error = static_cast<uint32_t>(WSAGetLastError());
    if (stop != WSA_INVALID_EVENT)
      WSACloseEvent(stop);
    if (readable != WSA_INVALID_EVENT)
      WSACloseEvent(readable);
    closesocket(socket);
    return nullptr;
  }
  // Where the control is unknown the receive loop skips the reports anyway.
  BOOL report = FALSE;
  DWORD returned = 0;
  WSAIoctl(socket, kUdpConnectionReset, &report, sizeof report, nullptr, 0, &returned, nullptr,
           nullptr);
  return std::make_unique<Win32UdpSocket>(socket, readable, stop);
}

std::string SocketErrorText(uint32_t code) {
  std::string text = win32::ErrorText(code);
  if (text.empty())
    return "Winsock error " + std::to_string(code);
  return text;
}

}  // namespace platform
