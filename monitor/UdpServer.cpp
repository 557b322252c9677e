#include "monitor/UdpServer.h"

#include <chrono>
#include <deque>
#include <mutex>
#include <thread>
#include <vector>

#include "platform/EventLoop.h"
#include "vcl/Forms.h"

namespace monitor {
namespace {

// After a failure that is not about one datagram the thread waits this long
// before it asks again, so a broken socket does not spin.
constexpr auto kPauseAfterFailure = std::chrono::milliseconds(50);

struct Datagram {
  std::string data;
  std::string peer;
};

}  // namespace

// What the waiting thread and the main thread share. Work posted to the main
// loop holds it, so it outlives a server that stops before that work runs.
struct TUdpServer::Inbox {
  explicit Inbox(TUdpServer* owner) : server(owner), loop(platform::MainLoop()) {}

  std::mutex mutex;
  std::deque<Datagram> waiting;
  uint64_t dropped = 0;
  // Main thread only; null once the server has stopped.
  TUdpServer* server;
  platform::EventLoop& loop;
};

TUdpServer::TUdpServer(vcl::TComponent* owner) : vcl::TComponent(owner, "TUdpServer") {}

TUdpServer::~TUdpServer() {
  Deactivate();
}

bool TUdpServer::Activate(uint32_t& error) {
  Deactivate();
  socket_ = platform::BindUdpSocket(DefaultPort, error);
  if (!socket_)
    return false;
  inbox_ = std::make_shared<Inbox>(this);
  receiver_ = platform::WorkerThread([socket = socket_.get(), inbox = inbox_, size = BufferSize] {
    ReceiveUntilStopped(*socket, inbox, size);
  });
  return true;
}

void TUdpServer::Deactivate() {
  if (!socket_)
    return;
  socket_->Stop();
  receiver_.Join();
  socket_.reset();
  {
    std::lock_guard lock(inbox_->mutex);
    inbox_->waiting.clear();
  }
  inbox_->server = nullptr;
  inbox_.reset();
}

size_t TUdpServer::Waiting() const {
  if (!inbox_)
    return 0;
  std::lock_guard lock(inbox_->mutex);
  return inbox_->waiting.size();
}

uint64_t TUdpServer::Dropped() const {
  if (!inbox_)
    return 0;
  std::lock_guard lock(inbox_->mutex);
  return inbox_->dropped;
}

bool TUdpServer::SendBuffer(const std::string& address, int32_t port, std::string_view bytes,
                            uint32_t& error) {
  if (!socket_) {
    error = 0;
    return false;
  }
  return socket_->SendTo(bytes, address, port, error);
}

void TUdpServer::ReceiveUntilStopped(platform::UdpSocket& socket,
                                     const std::shared_ptr<Inbox>& inbox, size_t bufferSize) {
  std::vector<char> buffer(bufferSize);
  for (;;) {
    Datagram datagram;
    size_t size = 0;
    uint32_t error = 0;
    switch (socket.Receive(buffer.data(), buffer.size(), size, datagram.peer, error)) {
      case platform::UdpSocket::Received::Stopped:
        return;
      case platform::UdpSocket::Received::Failed:
        std::this_thread::sleep_for(kPauseAfterFailure);
        continue;
      case platform::UdpSocket::Received::Datagram:
        break;
    }
    datagram.data.assign(buffer.data(), size);
    {
      std::lock_guard lock(inbox->mutex);
      if (inbox->waiting.size() >= kMostWaitingDatagrams) {
        ++inbox->dropped;
        continue;
      }
      inbox->waiting.push_back(std::move(datagram));
    }
    // One piece of work per datagram: the loop handles them in turn with its
    // timers, however fast they come.
    inbox->loop.Post([inbox] { HandleOne(*inbox); });
  }
}

void TUdpServer::HandleOne(Inbox& inbox) {
  Datagram datagram;
  {
    std::lock_guard lock(inbox.mutex);
    if (inbox.waiting.empty())
      return;
    datagram = std::move(inbox.waiting.front());
    inbox.waiting.pop_front();
  }
  if (!inbox.server || !inbox.server->OnUDPRead)
    return;
  // A copy: the handler may free the server it belongs to.
  const TUdpReadEvent handler = inbox.server->OnUDPRead;
  vcl::Guarded([&] { handler(datagram.data, datagram.peer); });
}

}  // namespace monitor
