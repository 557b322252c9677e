// What one history line costs the UDP interface with ten trace listeners:
// ten datagrams handed to the system, none of them waiting.
#include <benchmark/benchmark.h>

#include <random>
#include <string>

#include "monitor/UDPInterface.h"
#include "platform/UdpSocket.h"
#include "vcl/Forms.h"

namespace {

// A socket on a free port found by trying: the port and the socket.
std::unique_ptr<platform::UdpSocket> BindSomewhere(int32_t& port) {
  std::mt19937 random(std::random_device{}());
  for (int attempt = 0; attempt < 100; ++attempt) {
    port = static_cast<int32_t>(20000 + random() % 30000);
    uint32_t error = 0;
    if (auto socket = platform::BindUdpSocket(port, error))
      return socket;
  }
  return nullptr;
}

void BM_SendToTracePeers(benchmark::State& state) {
  vcl::ScopedApplication application;
  // Every listener's datagrams end in one sink on every interface.
  int32_t sinkPort = 0;
  const std::unique_ptr<platform::UdpSocket> sink = BindSomewhere(sinkPort);
  auto* udp = new monitor::TdmUDP(&vcl::Application());
  udp->TXPort = sinkPort;
  int32_t rx = 0;
  BindSomewhere(rx);  // a free port, given back at once
  udp->RXPort = rx;
  if (!sink || !udp->StartUdpServer()) {
    state.SkipWithError("no free UDP ports");
    return;
  }
  for (int i = 1; i <= state.range(0); ++i)
    udp->TracePeers.push_back("127.0.0." + std::to_string(i));
  const std::string line = "[08.12.2026 14:05:09]\tDC_LO / on battery";
  for (auto _ : state)
    udp->SendToTracePeers(line);
  state.SetItemsProcessed(state.iterations() * state.range(0));
}
BENCHMARK(BM_SendToTracePeers)->Arg(10);

}  // namespace
