// udpflood: korvamon under a flood of datagrams. The program runs here as it
// runs on its own (its windows, the native loop, a private settings file and
// log) with a receive and a send port; a second thread sends it datagrams of
// random bytes and lengths at the given rate for the given time. Every second
// the tool notes the process's resident memory; every tick of the connection
// watchdog is timed. At the end it sends "USV_CLOSE" and the program must end.
// It reports, and fails (status 1) when the memory grew by more than 4 MiB,
// a watchdog tick came more than 1.5 s after the one before, or the close
// command did not end the program within 5 s.
//   udpflood [--seconds S] [--rate N]
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "monitor/Globfunc.h"
#include "monitor/History.h"
#include "monitor/UDPInterface.h"
#include "monitor/main.h"
#include "platform/CommandLine.h"
#include "platform/EventLoop.h"
#include "program/Startup.h"
#include "vcl/Forms.h"

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

constexpr long kMostGrowthKiB = 4096;
constexpr double kLongestTickGapMs = 1500;
constexpr auto kCloseBound = std::chrono::seconds(5);

long ResidentKiB() {
  std::ifstream status("/proc/self/status");
  for (std::string line; std::getline(status, line);) {
    if (line.rfind("VmRSS:", 0) == 0)
      return std::atol(line.c_str() + 6);
  }
  return -1;
}

// A port nothing is bound to now.
int FreePort() {
  const int probe = socket(AF_INET, SOCK_DGRAM, 0);
  sockaddr_in at{};
  at.sin_family = AF_INET;
  socklen_t size = sizeof at;
  bind(probe, reinterpret_cast<sockaddr*>(&at), sizeof at);
  getsockname(probe, reinterpret_cast<sockaddr*>(&at), &size);
  close(probe);
  return ntohs(at.sin_port);
}

// Sends `rate` datagrams a second to 127.0.0.1:`port` until `stop`, in
// batches of a millisecond's worth.
void Flood(int port, long rate, const std::atomic<bool>& stop, std::atomic<long>& sent) {
  const int out = socket(AF_INET, SOCK_DGRAM, 0);
  sockaddr_in to{};
  to.sin_family = AF_INET;
  to.sin_port = htons(static_cast<uint16_t>(port));
  to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  std::mt19937 random(114);
  std::vector<char> bytes(512);
  const long perBatch = std::max(1L, rate / 1000);
  auto next = Clock::now();
  while (!stop) {
    for (long i = 0; i < perBatch; ++i) {
      const size_t size = random() % bytes.size();
      for (size_t b = 0; b < size; ++b)
        bytes[b] = static_cast<char>(random());
      if (sendto(out, bytes.data(), size, 0, reinterpret_cast<sockaddr*>(&to), sizeof to) >= 0)
        ++sent;
    }
    next += std::chrono::milliseconds(1);
    std::this_thread::sleep_until(next);
  }
  close(out);
}

}  // namespace

int main(int argc, char** argv) {
  int seconds = 10;
  long rate = 100000;
  for (int i = 1; i + 1 < argc; i += 2) {
    const std::string option = argv[i];
    if (option == "--seconds") {
      seconds = std::atoi(argv[i + 1]);
    } else if (option == "--rate") {
      rate = std::atol(argv[i + 1]);
    } else {
      std::fprintf(stderr, "usage: udpflood [--seconds S] [--rate N]\n");
      return 2;
    }
  }

  const fs::path folder =
      fs::temp_directory_path() / ("korva-udpflood-" + std::to_string(getpid()));
  fs::create_directories(folder);
  std::ofstream(folder / "korvamon.INI")
      << "[CHECK]\r\nLanguage=E\r\nHistoryPath=" << (folder / "korvamon.log").string()
      << "\r\n[COM]\r\nCOMPORT=0\r\n";
  setenv("KORVA_LOCK_DIR", folder.c_str(), 1);
  monitor::ScopedSettingsFilePath settings((folder / "korvamon.INI").string());
  monitor::SetHistoryEcho(nullptr);
  const int rx = FreePort();
  const platform::ScopedCommandLine line(
      {"korvamon", std::to_string(rx), std::to_string(FreePort())});

  if (!monitor::PassSingleInstanceGuard()) {
    std::fprintf(stderr, "udpflood: the single-instance guard refused\n");
    return 1;
  }
  program::CreateProgramWindows();
  if (!monitor::dmUDP || !monitor::dmUDP->UDPServer) {
    std::fprintf(stderr, "udpflood: korvamon has no UDP server on port %d\n", rx);
    return 1;
  }

  // Every watchdog tick is timed, then handled as always.
  std::vector<Clock::time_point> ticks;
  vcl::TTimer* watchdog = monitor::frmKorvamon->TimerConnection;
  const vcl::TNotifyEvent tick = watchdog->OnTimer();
  watchdog->SetOnTimer([&ticks, tick](vcl::TObject* sender) {
    ticks.push_back(Clock::now());
    tick(sender);
  });
  std::vector<long> memory;
  platform::EventLoop& loop = platform::MainLoop();
  const auto sample = loop.SetTimer(1000, [&memory] { memory.push_back(ResidentKiB()); });

  std::atomic<bool> stop{false};
  std::atomic<long> sent{0};
  std::thread flood(Flood, rx, rate, std::cref(stop), std::ref(sent));
  const auto floodEnd = loop.SetTimer(static_cast<uint32_t>(seconds) * 1000, [&] { stop = true; });
  loop.RunWhile([&] { return !stop; });
  flood.join();
  loop.KillTimer(floodEnd);
  loop.KillTimer(sample);
  const uint64_t dropped = monitor::dmUDP->UDPServer->Dropped();

  // The close command, sent until heard: the flood's tail may still crowd it out.
  const int out = socket(AF_INET, SOCK_DGRAM, 0);
  sockaddr_in to{};
  to.sin_family = AF_INET;
  to.sin_port = htons(static_cast<uint16_t>(rx));
  to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  const auto closeStart = Clock::now();
  const auto resend = loop.SetTimer(
      100, [&] { sendto(out, "USV_CLOSE", 9, 0, reinterpret_cast<sockaddr*>(&to), sizeof to); });
  loop.RunWhile(
      [&] { return !vcl::Application().Terminated() && Clock::now() - closeStart < kCloseBound; });
  loop.KillTimer(resend);
  close(out);
  const bool closed = vcl::Application().Terminated();
  const double closeMs =
      std::chrono::duration<double, std::milli>(Clock::now() - closeStart).count();
  program::EndProgram();

  double longestGap = 0;
  for (size_t i = 1; i < ticks.size(); ++i)
    longestGap = std::max(
        longestGap, std::chrono::duration<double, std::milli>(ticks[i] - ticks[i - 1]).count());
  const long first = memory.empty() ? -1 : memory.front();
  const long most = memory.empty() ? -1 : *std::max_element(memory.begin(), memory.end());
  std::printf("udpflood: %ld datagrams in %d s (%ld/s asked), %llu dropped while 256 waited\n",
              sent.load(), seconds, rate, static_cast<unsigned long long>(dropped));
  std::printf("udpflood: resident memory %ld KiB after 1 s, at most %ld KiB\n", first, most);
  std::printf("udpflood: %zu watchdog ticks, longest gap %.0f ms\n", ticks.size(), longestGap);
  std::printf("udpflood: USV_CLOSE %s after %.0f ms\n",
              closed ? "ended korvamon" : "did not end korvamon", closeMs);
  std::error_code ignored;
  fs::remove_all(folder, ignored);

  const bool flat = first > 0 && most - first <= kMostGrowthKiB;
  const bool steady =
      ticks.size() + 1 >= static_cast<size_t>(seconds) && longestGap <= kLongestTickGapMs;
  return flat && steady && closed ? 0 : 1;
}
