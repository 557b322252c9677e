// The UDP sockets on the real stack, on loopback and free ports: a long
// datagram keeps its first bytes and the socket its use, a send that met no
// listener leaves nothing behind, Stop ends a wait, and ports outside
// 1..65535 are never used.

#include <gtest/gtest.h>

#include <chrono>
#include <future>
#include <thread>

#include "TestUdp.h"
#include "platform/UdpSocket.h"

#ifdef _WIN32
#include <algorithm>
#include <cstring>
#include <vector>

#include "platform/win32/SystemCalls.h"
#endif

namespace {

using korva_test::TestUdpSocket;
using Received = platform::UdpSocket::Received;

struct Receipt {
  Received result = Received::Failed;
  std::string bytes;
  std::string sender;
};

// One Receive into `capacity` bytes, given up (by Stop) after five seconds.
Receipt ReceiveWithin(platform::UdpSocket& socket, size_t capacity) {
  auto receipt = std::async(std::launch::async, [&socket, capacity] {
    Receipt r;
    std::string buffer(capacity, '\0');
    size_t size = 0;
    uint32_t error = 0;
    r.result = socket.Receive(buffer.data(), capacity, size, r.sender, error);
    r.bytes = buffer.substr(0, size);
    return r;
  });
  if (receipt.wait_for(std::chrono::seconds(5)) != std::future_status::ready)
    socket.Stop();
  return receipt.get();
}

class UdpSocketTest : public testing::Test {
 protected:
  void SetUp() override {
    for (int attempt = 0; attempt < 5 && !socket_; ++attempt) {
      port_ = TestUdpSocket::FreePort();
      uint32_t error = 0;
      socket_ = platform::BindUdpSocket(port_, error);
    }
    ASSERT_TRUE(socket_);
    ASSERT_TRUE(peer_.Bound());
  }

  int port_ = 0;
  std::unique_ptr<platform::UdpSocket> socket_;
  TestUdpSocket peer_;
};

TEST_F(UdpSocketTest, ALongDatagramAndASendThatMetNoListenerLeaveTheSocketWaiting) {
  std::string longest(65507, '\0');
  for (size_t i = 0; i < longest.size(); ++i)
    longest[i] = static_cast<char>('a' + i % 26);
  ASSERT_TRUE(peer_.Send(longest, port_));
  const Receipt first = ReceiveWithin(*socket_, 128);
  EXPECT_EQ(first.result, Received::Datagram);
  EXPECT_EQ(first.bytes, longest.substr(0, 128));
  EXPECT_EQ(first.sender, "127.0.0.1");

  // Nothing listens there: the system hears so, and must not tell the wait.
  uint32_t error = 0;
  ASSERT_TRUE(socket_->SendTo("anyone?", "127.0.0.1", TestUdpSocket::FreePort(), error));
  ASSERT_TRUE(socket_->SendTo("to the peer", "127.0.0.1", peer_.port(), error));
  EXPECT_EQ(peer_.Receive(), "to the peer");

  ASSERT_TRUE(peer_.Send("still here", port_));
  const Receipt next = ReceiveWithin(*socket_, 128);
  EXPECT_EQ(next.result, Received::Datagram);
  EXPECT_EQ(next.bytes, "still here");
}

TEST_F(UdpSocketTest, StopEndsAWaitInProgressAndEveryLaterOne) {
  auto waiting = std::async(std::launch::async, [this] {
    char buffer[16];
    size_t size = 0;
    std::string sender;
    uint32_t error = 0;
    return socket_->Receive(buffer, sizeof buffer, size, sender, error);
  });
  EXPECT_EQ(waiting.wait_for(std::chrono::milliseconds(50)), std::future_status::timeout);
  socket_->Stop();
  ASSERT_EQ(waiting.wait_for(std::chrono::seconds(5)), std::future_status::ready);
  EXPECT_EQ(waiting.get(), Received::Stopped);

  ASSERT_TRUE(peer_.Send("late", port_));
  EXPECT_EQ(ReceiveWithin(*socket_, 16).result, Received::Stopped);
}

#ifdef _WIN32
// The options set on sockets, and whether the socket was bound by then.
struct OptionSet {
  int level;
  int name;
  int value;
  bool bound;
};
std::vector<OptionSet> optionsSet;
int WSAAPI SeeOptionSet(SOCKET socket, int level, int name, const char* value, int size) {
  sockaddr_in at{};
  int atSize = sizeof at;
  const bool bound = getsockname(socket, reinterpret_cast<sockaddr*>(&at), &atSize) == 0;
  int number = 0;
  memcpy(&number, value, std::min<size_t>(sizeof number, static_cast<size_t>(size)));
  optionsSet.push_back({level, name, number, bound});
  return setsockopt(socket, level, name, value, size);
}

TEST_F(UdpSocketTest, NoOtherProgramMayBindTheSamePortToTakeItsCommands) {
  // Windows lets a socket that asks for the reuse of an address share the
  // port of one that did not claim it for itself, on every interface or on
  // one: the commands to the port would reach the other program. (Wine
  // refuses the thief either way.)
  for (const char* address : {"0.0.0.0", "127.0.0.1"}) {
    SCOPED_TRACE(address);
    const TestUdpSocket thief(address, port_, true);
    EXPECT_FALSE(thief.Bound());
  }
  // So the port is claimed before the socket is bound.
  platform::win32::ScopedSystemCalls restored;
  platform::win32::systemCalls().setSocketOption = SeeOptionSet;
  optionsSet.clear();
  socket_.reset();
  uint32_t error = 0;
  socket_ = platform::BindUdpSocket(port_, error);
  ASSERT_TRUE(socket_) << platform::SocketErrorText(error);
  ASSERT_EQ(optionsSet.size(), 1u);
  EXPECT_EQ(optionsSet[0].level, SOL_SOCKET);
  EXPECT_EQ(optionsSet[0].name, SO_EXCLUSIVEADDRUSE);
  EXPECT_NE(optionsSet[0].value, 0);
  EXPECT_FALSE(optionsSet[0].bound);
}
#endif

TEST_F(UdpSocketTest, ATakenPortAndPortsOutside16BitsAreRefused) {
  uint32_t error = 0;
  EXPECT_FALSE(platform::BindUdpSocket(port_, error));
  EXPECT_NE(error, 0u);
  EXPECT_FALSE(platform::SocketErrorText(error).empty());

  // 65536 + n would be port n if it were cut to 16 bits.
  for (const int32_t port : {0, -1, 65536, 65536 + peer_.port()}) {
    SCOPED_TRACE(port);
    error = 0;
    EXPECT_FALSE(platform::BindUdpSocket(port, error));
    EXPECT_NE(error, 0u);
    EXPECT_FALSE(socket_->SendTo("cut?", "127.0.0.1", port, error));
  }
  EXPECT_FALSE(socket_->SendTo("where?", "localhost", peer_.port(), error));
  EXPECT_EQ(peer_.Receive(100), std::nullopt);
}

}  // namespace
