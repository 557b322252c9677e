#include "monitor/USB_Status.h"

#include <cstdio>

#include "monitor/D2XXUnit.h"
#include "monitor/FrameParser.h"
#include "monitor/lang.h"
#include "platform/EventLoop.h"
#include "platform/WorkerClock.h"

namespace monitor {
namespace {

// A longer time between two reads is reported.
constexpr uint64_t kSlowCycleMs = 3024;
// The read and write timeouts while polling.
constexpr uint32_t kReadTimeoutMs = 250;
constexpr uint32_t kWriteTimeoutMs = 0;

}  // namespace

TUSB_Status::TUSB_Status(Handlers handlers, std::atomic<bool>& replySeen)
    : handlers_(std::move(handlers)), replySeen_(replySeen) {
  struct Step {
    FT_STATUS (*call)();
    const char* label;
  };
  for (const Step& step : {Step{&FtResetDevice, "Reset_USB_Device: "},
                           Step{&FtSetBaudRate, "Set_USB_Device_BaudRate: "},
                           Step{&FtSetDataCharacteristics, "Set_USB_Device_DataCharacteristics: "},
                           Step{&FtSetFlowControl, "Set_USB_Device_FlowControl: "}}) {
    if (const FT_STATUS status = step.call(); status != FT_OK)
      Show(GetLangString(55) + step.label + FtStatusName(status));
  }
  platform::workerClock().Enter();
  thread_ = platform::WorkerThread([this] {
    Execute();
    platform::workerClock().Leave();
  });
}

TUSB_Status::~TUSB_Status() {
  Terminate();
  WaitFor();
}

void TUSB_Status::Terminate() {
  terminated_ = true;
  platform::workerClock().Interrupt();
}

void TUSB_Status::Show(const std::string& text) {
  if (handlers_.ShowStatus)
    handlers_.ShowStatus(text);
}

void TUSB_Status::Execute() {
  platform::WorkerClock& clock = platform::workerClock();
  platform::EventLoop& loop = platform::MainLoop();
  uint64_t lastRead = loop.NowMs();
  FtSetTimeouts(kReadTimeoutMs, kWriteTimeoutMs);
  FtSetRts();
  while (!terminated_) {
    clock.Pause(kFirstPauseMs, terminated_);
    clock.Pause(kCyclePauseMs, terminated_);
    if (terminated_)
      return;
    uint32_t rx = 0, tx = 0, event = 0;
    if (FtGetStatus(rx, tx, event) != FT_OK || rx < kBlockBytes)
      continue;
    std::string text;
    FtReadText(text, kBlockBytes);
    const uint64_t now = loop.NowMs();
    if (now - lastRead > kSlowCycleMs) {
      char line[64];
      std::snprintf(line, sizeof line, "Zykluszeit USBThread: %.3g s.",
                    static_cast<double>(now - lastRead) / 1000.0);
      Show(line);
    }
    lastRead = now;
    if (FindFrame(text).valid)
      replySeen_ = true;
    if (handlers_.Received)
      handlers_.Received(text);
    PurgeUsbRx();
  }
}

void TUSB_Status::PurgeUsbRx() {
  if (terminated_)
    return;
  if (const FT_STATUS status = FtPurge(true, false); status != FT_OK)
    Show("USB RXClear: " + FtErrorText("FT_Purge", status));
}

}  // namespace monitor
