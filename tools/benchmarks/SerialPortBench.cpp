// What one block of frames costs on its way through the serial port: written
// to a pseudo-terminal, taken from it into the port's input queue, announced
// by the event character, counted and read, as the main window does.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <stdlib.h>
#include <unistd.h>

#include <memory>
#include <string>

#include "platform/SerialPort.h"

namespace {

const std::string kBlock = [] {
  const std::string frame = "*****\r\nALARM\r\nDC_OK\r\n";
  return frame + frame + frame + frame;
}();

void BM_PortBlockRoundTrip(benchmark::State& state) {
  const int master = posix_openpt(O_RDWR | O_NOCTTY);
  if (master < 0 || grantpt(master) != 0 || unlockpt(master) != 0) {
    state.SkipWithError("no pseudo-terminal");
    return;
  }
  setenv("KORVA_COM8", ptsname(master), 1);
  uint32_t error = 0;
  std::shared_ptr<platform::SerialPort> port = platform::NativeSerialPorts().Open("COM8", error);
  platform::DeviceControlBlock block;
  block.eventChar = '\n';
  if (!port || !port->SetupQueues(512, 128) || !port->SetState(block) ||
      !port->SetEventMask(platform::EV_RXFLAG)) {
    state.SkipWithError("the port does not open");
    close(master);
    return;
  }
  std::string text(kBlock.size(), '\0');
  for (auto _ : state) {
    if (write(master, kBlock.data(), kBlock.size()) != static_cast<ssize_t>(kBlock.size())) {
      state.SkipWithError("write failed");
      break;
    }
    uint32_t errors = 0;
    platform::CommStatus status;
    uint32_t events = 0;
    while (port->ClearError(errors, status) && status.inQueue < kBlock.size())
      port->WaitEvent(events);
    uint32_t done = 0;
    port->Read(text.data(), static_cast<uint32_t>(text.size()), done);
    benchmark::DoNotOptimize(text.data());
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * kBlock.size()));
  port->Close();
  close(master);
  unsetenv("KORVA_COM8");
}
BENCHMARK(BM_PortBlockRoundTrip);

}  // namespace
