// The UDP server of the data module: a socket bound to its port on every
// interface, and a thread that waits on it and hands each datagram (its first
// BufferSize bytes and its sender's address) to OnUDPRead on the main thread.
// Sends go out from the same socket and never block.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>

#include "platform/Thread.h"
#include "platform/UdpSocket.h"
#include "vcl/Classes.h"

namespace monitor {

// Datagrams waiting for the main thread; more are dropped, as a full socket
// buffer would drop them, so a flood costs no memory.
inline constexpr size_t kMostWaitingDatagrams = 256;

class TUdpServer : public vcl::TComponent {
 public:
  using TUdpReadEvent = std::function<void(const std::string& data, const std::string& peer)>;

  explicit TUdpServer(vcl::TComponent* owner);
  ~TUdpServer() override;

  size_t BufferSize = 8192;
  int32_t DefaultPort = 0;
  TUdpReadEvent OnUDPRead;

  // Binds DefaultPort and starts waiting. False, with the system's code, when
  // the port cannot be bound; the server then stays inactive.
  bool Activate(uint32_t& error);
  // Stops the waiting thread and closes the socket; datagrams still waiting
  // for the main thread are dropped. Nothing when inactive.
  void Deactivate();
  bool Active() const { return socket_ != nullptr; }
  // Datagrams taken from the socket that wait for the main thread, and those
  // dropped since the start because too many waited.
  size_t Waiting() const;
  uint64_t Dropped() const;

  // One datagram to address:port. False, with the system's code, when it
  // could not be sent at once (or the server is inactive).
  bool SendBuffer(const std::string& address, int32_t port, std::string_view bytes,
                  uint32_t& error);

 private:
  struct Inbox;
  static void ReceiveUntilStopped(platform::UdpSocket& socket, const std::shared_ptr<Inbox>& inbox,
                                  size_t bufferSize);
  static void HandleOne(Inbox& inbox);

  std::unique_ptr<platform::UdpSocket> socket_;
  std::shared_ptr<Inbox> inbox_;
  platform::WorkerThread receiver_;
};

}  // namespace monitor
