// The running instance's mailbox on POSIX: a local stream socket in the user's
// lock folder, named after the application title. A later instance connects,
// sends one fixed-size request and waits for a one-byte receipt; the running
// instance hands the request to its main loop. Nothing leaves this machine.
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <optional>

#include "platform/EventLoop.h"
#include "platform/Instance.h"
#include "platform/Thread.h"
#include "platform/posix/InstanceRequest.h"
#include "platform/posix/LockDirectory.h"
#include "platform/posix/UniqueFd.h"

namespace platform {
namespace {

using posix::InstanceRequest;
using posix::UniqueFd;
using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

constexpr unsigned char kReceipt = 'K';
using Wire = posix::InstanceRequestWire;

// The listener serves one peer at a time: a peer that connects and stays
// silent holds the others up no longer than this.
constexpr milliseconds kRequestTimeout{500};
constexpr milliseconds kSendTimeout{1000};
// Long enough to outlast one silent peer served before us.
constexpr milliseconds kReceiptTimeout{3000};

// One socket per application title and user; characters that do not belong in
// a file name become '_'. Nothing when the path is too long for a socket.
std::optional<sockaddr_un> SocketAddress(const std::string& appTitle) {
  std::string name;
  for (unsigned char c : appTitle) {
    const bool plain = (c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') ||
                       c == '-' || c == '_' || c == '.';
    name += plain ? static_cast<char>(c) : '_';
  }
  const std::string path =
      native::LockDirectory() + "/" + name + "-" + std::to_string(getuid()) + ".sock";
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  if (path.size() >= sizeof address.sun_path)
    return std::nullopt;
  std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
  return address;
}

int Connect(int fd, const sockaddr_un& address) {
  return connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address);
}

// Waits until `fd` is ready for `events`; false at the deadline, on an error,
// or when `stopFd` (if any) becomes readable.
bool WaitReady(int fd, short events, Clock::time_point deadline, int stopFd = -1) {
  for (;;) {
    const auto left = std::chrono::duration_cast<milliseconds>(deadline - Clock::now()).count();
    pollfd fds[2] = {{fd, events, 0}, {stopFd, POLLIN, 0}};
    const int ready = poll(fds, 2, left > 0 ? static_cast<int>(left) : 0);
    if (ready < 0 && errno == EINTR)
      continue;
    if (ready <= 0 || fds[1].revents != 0)
      return false;
    return fds[0].revents != 0;  // a hang-up or error shows in the read or write that follows
  }
}

bool IsRetryable(int error) {
  return error == EINTR || error == EAGAIN || error == EWOULDBLOCK;
}

// Exactly one request's worth of bytes within the time limit, or nothing.
std::optional<Wire> ReadRequest(int fd, int stopFd) {
  Wire wire;
  size_t got = 0;
  const auto deadline = Clock::now() + kRequestTimeout;
  while (got < wire.size()) {
    if (!WaitReady(fd, POLLIN, deadline, stopFd))
      return std::nullopt;
    const ssize_t n = recv(fd, wire.data() + got, wire.size() - got, MSG_DONTWAIT);
    if (n == 0 || (n < 0 && !IsRetryable(errno)))
      return std::nullopt;
    if (n > 0)
      got += static_cast<size_t>(n);
  }
  unsigned char more;
  if (recv(fd, &more, 1, MSG_DONTWAIT | MSG_PEEK) > 0)
    return std::nullopt;  // longer than any request
  return wire;
}

class SocketRequests final : public InstanceRequests {
 public:
  SocketRequests(UniqueFd listener, UniqueFd stop, std::string path, struct stat bound,
                 Deliver deliver)
      : listener_(std::move(listener)),
        stop_(std::move(stop)),
        path_(std::move(path)),
        bound_(bound),
        deliver_(std::move(deliver)) {
    thread_ = WorkerThread([this] { Serve(); });
  }

  ~SocketRequests() override {
    alive_->store(false);
    const uint64_t one = 1;
    [[maybe_unused]] const ssize_t written = write(stop_.get(), &one, sizeof one);
    thread_.Join();
    // The name is ours to remove only while it is still the socket we bound.
    struct stat now;
    if (lstat(path_.c_str(), &now) == 0 && now.st_dev == bound_.st_dev &&
        now.st_ino == bound_.st_ino)
      unlink(path_.c_str());
  }

  SocketRequests(const SocketRequests&) = delete;
  SocketRequests& operator=(const SocketRequests&) = delete;

 private:
  void Serve() {
    for (;;) {
      pollfd fds[2] = {{listener_.get(), POLLIN, 0}, {stop_.get(), POLLIN, 0}};
      if (poll(fds, 2, -1) < 0) {
        if (errno == EINTR)
          continue;
        return;
      }
      if (fds[1].revents != 0 || (fds[0].revents & (POLLERR | POLLNVAL)) != 0)
        return;
      if ((fds[0].revents & POLLIN) != 0) {
        UniqueFd peer(accept4(listener_.get(), nullptr, nullptr, SOCK_CLOEXEC));
        if (peer)
          Answer(peer.get());
      }
    }
  }

  // A request that is garbled, too long or too slow is dropped without a receipt.
  void Answer(int peer) {
    const std::optional<Wire> wire = ReadRequest(peer, stop_.get());
    std::optional<InstanceRequest> request =
        wire ? posix::DecodeInstanceRequest(*wire) : std::nullopt;
    if (!request)
      return;
    // Posted before the receipt, so a sender that got its receipt knows the
    // request is queued. Requests still queued when the listener goes are dropped.
    MainLoop().Post([deliver = deliver_, alive = alive_, request = std::move(*request)] {
      if (alive->load())
        deliver(request.formClass, request.msg, static_cast<uintptr_t>(request.wParam),
                static_cast<intptr_t>(request.lParam));
    });
    send(peer, &kReceipt, 1, MSG_NOSIGNAL | MSG_DONTWAIT);
  }

  UniqueFd listener_;
  UniqueFd stop_;
  std::string path_;
  struct stat bound_;
  Deliver deliver_;
  std::shared_ptr<std::atomic<bool>> alive_ = std::make_shared<std::atomic<bool>>(true);
  WorkerThread thread_;
};

// Someone accepts connections at the address (a live instance, or one too
// busy to take more).
bool SomeoneListens(const sockaddr_un& address) {
  UniqueFd probe(socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0));
  if (!probe)
    return false;
  return Connect(probe.get(), address) == 0 || errno == EAGAIN || errno == EINPROGRESS;
}

// The listening socket's peer runs as this user (the lock folder may be /tmp).
bool PeerIsThisUser(int fd) {
  ucred credentials{};
  socklen_t size = sizeof credentials;
  return getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &credentials, &size) == 0 &&
         credentials.uid == getuid();
}

bool SendAll(int fd, const Wire& wire) {
  size_t sent = 0;
  const auto deadline = Clock::now() + kSendTimeout;
  while (sent < wire.size()) {
    if (!WaitReady(fd, POLLOUT, deadline))
      return false;
    const ssize_t n = send(fd, wire.data() + sent, wire.size() - sent, MSG_NOSIGNAL);
    if (n < 0 && !IsRetryable(errno))
      return false;
    if (n > 0)
      sent += static_cast<size_t>(n);
  }
  return true;
}

bool AwaitReceipt(int fd) {
  const auto deadline = Clock::now() + kReceiptTimeout;
  for (;;) {
    if (!WaitReady(fd, POLLIN, deadline))
      return false;
    unsigned char answer = 0;
    const ssize_t n = recv(fd, &answer, 1, 0);
    if (n == 1)
      return answer == kReceipt;
    if (n == 0 || !IsRetryable(errno))
      return false;
  }
}

}  // namespace

bool SendToRunningInstance(const std::string& appTitle, const std::string& formClass, uint32_t msg,
                           uintptr_t wParam, intptr_t lParam) {
  const std::optional<Wire> wire = posix::EncodeInstanceRequest(
      {formClass, msg, uint64_t{wParam}, static_cast<uint64_t>(lParam)});
  const std::optional<sockaddr_un> address = SocketAddress(appTitle);
  if (!wire || !address)
    return false;
  UniqueFd fd(socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0));
  // A local connect completes at once or not at all (refused, missing, or a
  // full queue): there is nothing to wait for.
  if (!fd || Connect(fd.get(), *address) != 0)
    return false;
  return PeerIsThisUser(fd.get()) && SendAll(fd.get(), *wire) && AwaitReceipt(fd.get());
}

std::unique_ptr<InstanceRequests> InstanceRequests::Listen(const std::string& appTitle,
                                                           Deliver deliver) {
  const std::optional<sockaddr_un> address = SocketAddress(appTitle);
  if (!address || !deliver || SomeoneListens(*address))
    return nullptr;
  const std::string path = address->sun_path;
  // Left behind by an instance that died: no one answered on it above.
  struct stat existing;
  if (lstat(path.c_str(), &existing) == 0 && S_ISSOCK(existing.st_mode))
    unlink(path.c_str());

  UniqueFd listener(socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0));
  if (!listener ||
      bind(listener.get(), reinterpret_cast<const sockaddr*>(&*address), sizeof *address) != 0)
    return nullptr;
  struct stat bound;
  UniqueFd stop(eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK));
  if (chmod(path.c_str(), 0600) != 0 || listen(listener.get(), 8) != 0 ||
      lstat(path.c_str(), &bound) != 0 || !stop) {
    unlink(path.c_str());
    return nullptr;
  }
  MainLoop();  // made here, on the caller's thread, not by the listener's first post
  return std::make_unique<SocketRequests>(std::move(listener), std::move(stop), path, bound,
                                          std::move(deliver));
}

}  // namespace platform
