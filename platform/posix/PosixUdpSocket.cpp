// UDP sockets on POSIX. The socket never blocks: a wait is a poll() on it
// and on an eventfd that Stop makes readable for good.
#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "platform/UdpSocket.h"
#include "platform/posix/UniqueFd.h"

namespace platform {
namespace {

using posix::UniqueFd;

class PosixUdpSocket final : public UdpSocket {
 public:
  PosixUdpSocket(UniqueFd socket, UniqueFd stop)
      : socket_(std::move(socket)), stop_(std::move(stop)) {}

  Received Receive(char* buffer, size_t capacity, size_t& size, std::string& sender,
                   uint32_t& error) override {
    for (;;) {
      pollfd fds[2] = {{stop_.get(), POLLIN, 0}, {socket_.get(), POLLIN, 0}};
      if (poll(fds, 2, -1) < 0) {
        if (errno == EINTR)
          continue;
        error = static_cast<uint32_t>(errno);
        return Received::Failed;
      }
      if (fds[0].revents != 0)
        return Received::Stopped;
      sockaddr_in from{};
      socklen_t fromSize = sizeof from;
      // A longer datagram is cut to the buffer; its rest is dropped.
      const ssize_t n = recvfrom(socket_.get(), buffer, capacity, MSG_DONTWAIT,
                                 reinterpret_cast<sockaddr*>(&from), &fromSize);
      if (n >= 0) {
        size = static_cast<size_t>(n);
        char text[INET_ADDRSTRLEN] = {};
        sender = inet_ntop(AF_INET, &from.sin_addr, text, sizeof text) ? text : "";
        return Received::Datagram;
      }
      if (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR || errno == ECONNREFUSED)
        continue;
      error = static_cast<uint32_t>(errno);
      return Received::Failed;
    }
  }

  bool SendTo(std::string_view bytes, const std::string& address, int32_t port,
              uint32_t& error) override {
    sockaddr_in to{};
    to.sin_family = AF_INET;
    if (!IsUdpPort(port) || inet_pton(AF_INET, address.c_str(), &to.sin_addr) != 1) {
      error = EINVAL;
      return false;
    }
    to.sin_port = htons(static_cast<uint16_t>(port));
    const ssize_t sent =
        sendto(socket_.get(), bytes.data(), bytes.size(), MSG_DONTWAIT | MSG_NOSIGNAL,
               reinterpret_cast<sockaddr*>(&to), sizeof to);
    if (sent < 0) {
      error = static_cast<uint32_t>(errno);
      return false;
    }
    return true;
  }

  void Stop() override {
    const uint64_t one = 1;
    [[maybe_unused]] const ssize_t written = write(stop_.get(), &one, sizeof one);
  }

 private:
  UniqueFd socket_;
  UniqueFd stop_;
};

}  // namespace

std::unique_ptr<UdpSocket> BindUdpSocket(int32_t port, uint32_t& error) {
  if (!IsUdpPort(port)) {
    error = EINVAL;
    return nullptr;
  }
  UniqueFd socket(::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0));
  UniqueFd stop(eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK));
  if (!socket || !stop) {
    error = static_cast<uint32_t>(errno);
    return nullptr;
  }
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_ANY);
  address.sin_port = htons(static_cast<uint16_t>(port));
  if (bind(socket.get(), reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
    error = static_cast<uint32_t>(errno);
    return nullptr;
  }
  return std::make_unique<PosixUdpSocket>(std::move(socket), std::move(stop));
}

std::string SocketErrorText(uint32_t code) {
  return std::strerror(static_cast<int>(code));
}

}  // namespace platform
