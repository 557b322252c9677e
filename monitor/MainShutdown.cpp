// The shutdown sequence: when the battery time is over, the module is told
// that the PC goes down ("*R37F" or the RTS pulse train on the serial link,
// the USB command over USB), and Windows is shut down, at once or, for a
// module with 42-character frames, when the module acknowledges with "SDREC".
// Also what the start prepares for it: the shutdown privilege and the
// process's place in the system's shutdown order.
#include <cstdio>
#include <string>

#include "monitor/Abschaltsignal.h"
#include "monitor/Globfunc.h"
#include "monitor/PDH.h"
#include "monitor/ReactionSwitches.h"
#include "monitor/Settings.h"
#include "monitor/main.h"
#include "platform/Power.h"
#include "platform/PulseClock.h"

namespace monitor {
namespace {

// A module with 42-character frames is signalled again at this interval or
// longer until it acknowledges; the pulse train at most this many times.
constexpr uint32_t kRepeatFloorMs = 2000;
constexpr int kMostPulseTrains = 10;
// The per-edge lines are left out from this processor load on.
constexpr double kBusyLoad = 8.0;
// The module's serial shutdown command.
constexpr const char* kSerialShutdownCommand = "*R37F";

// The process's place in the shutdown order: told among the first, or the last.
constexpr uint32_t kShutdownLevelFirst = 0x3FE;
constexpr uint32_t kShutdownLevelLast = 0x101;

std::string LoadLine(double load) {
  if (load <= -0.5)
    return GetLangString(65);
  char number[32];
  std::snprintf(number, sizeof number, "%3.1f", load);
  return GetLangString(65) + " " + GetLangString(66) + " " + number + " " + GetLangString(67);
}

}  // namespace

void TfrmKorvamon::TimerShutDownTimer(vcl::TObject*) {
  TimerShutDown->SetEnabled(false);
  if (!ShutdownSignalEnabled) {
    if (CurrentReactionSwitches().shutdownAfterBattery)
      ShutdownWindows();
    return;
  }
  if (UsbMode) {
    SendUsbShutdownCommand();
    UsbShutdownSent = true;
    if (!Has42CharFrames)
      ShutdownWindows();
  } else if (FrameText.find("TPS") == std::string::npos) {
    StartShutdownPulse();
  } else {
    SendSerialShutdownCommand();
  }
  // Only "SDREC" ends the repeats of a module that can acknowledge.
  if (Has42CharFrames && ShutdownRetries < kMostPulseTrains) {
    if (TimerShutDown->Interval() < kRepeatFloorMs)
      TimerShutDown->SetInterval(kRepeatFloorMs);
    TimerShutDown->SetEnabled(true);
  }
}

void TfrmKorvamon::SendSerialShutdownCommand() {
  SComm->WriteStr(kSerialShutdownCommand);
}

void TfrmKorvamon::StartShutdownPulse() {
  // A train still under way is not cut short; the next firing tries again.
  if (PulseThread && !PulseThread->Finished())
    return;
  platform::Power& power = platform::power();
  power.SetPriorityClass(platform::kHighPriorityClass);
  const std::string priority = GetLangString(68) + " " + std::to_string(power.PriorityClass());
  StatBar->Panels()[0].SetText(priority);
  LogHistory(priority);
  ++ShutdownRetries;
  const double load = GetCpuLoad();
  LogHistory(LoadLine(load));

  // ToggleRTS drives the line itself only without the handshake.
  SComm->HandshakeRtsCts = false;
  // A train that ended but whose end is not handled yet.
  StopShutdownPulse();
  auto pulse = std::make_unique<TAbschaltimpuls>(*SComm, platform::pulseClock());
  pulse->LogEdges = load < kBusyLoad;
  pulse->EdgeLabel = GetLangString(112);
  pulse->TimingLabel = GetLangString(114);
  pulse->SpinLabel = GetLangString(116);
  // The thread never waits for this one: its lines and its end are posted.
  const vcl::TWindowHandle window = Handle();
  const uint64_t train = ++pulseTrains_;
  pulse->OnLine = [window](const std::string& line) {
    PostToMainWindow(window, [line](TfrmKorvamon& main) { main.LogHistory(line); });
  };
  pulse->OnDone = [window, train](bool done) {
    PostToMainWindow(window, [train, done](TfrmKorvamon& main) {
      // The end of a train that was stopped meanwhile is no longer news.
      if (main.PulseThread && main.pulseTrains_ == train)
        main.PulseTrainDone(done);
    });
  };
  PulseThread = std::move(pulse);
  PulseThread->Start();
}

void TfrmKorvamon::PulseTrainDone(bool done) {
  if (!done)
    return;
  StopShutdownPulse();
  if (!Has42CharFrames)
    ShutdownWindows();
}

void TfrmKorvamon::StopShutdownPulse() {
  StopThread(PulseThread);
}

void TfrmKorvamon::ShutdownWindows() {
  // Frames handled during its own close waits may ask again: one request.
  if (shuttingDown_)
    return;
  const ScopedFlag scope(shuttingDown_);
  CloseSerialLink();
  CloseUsbLink();
  // The force bit is or-ed in: added, it would turn "shut down, forced" (5) into 9.
  const uint32_t flags =
      static_cast<uint32_t>(Settings::Current().ShutDownFlag()) | platform::kEwxForce;
  platform::Power& power = platform::power();
  if (platform::GetOsVersion().platformId == platform::kPlatformNt) {
    // Without the privilege the system refuses the shutdown: the line says
    // which one is missing before that happens.
    std::string error;
    if (power.EnableShutdownPrivilege(error) != platform::Power::Privilege::Enabled)
      LogHistory(std::string(platform::Power::kShutdownPrivilege) + ": " + error);
  }
  LogHistory(GetLangString(140));
  std::string error;
  if (!power.ExitSession(flags, error))
    LogHistory("ExitWindowsEx(" + std::to_string(flags) + "): " + error);
}

void TfrmKorvamon::PrepareShutdown() {
  platform::Power& power = platform::power();
  // The place in the shutdown order is taken once the token was adjusted,
  // also when it lacks the privilege, which setting the place does not need.
  std::string error;
  if (power.EnableShutdownPrivilege(error) == platform::Power::Privilege::Failed)
    return;
  const int32_t position = Settings::Current().ExtShutdownPosition();
  uint32_t level = kShutdownLevelFirst;
  if (position == 0) {
    // Windows 98, 95 and Me tell the first processes early enough.
    level = WindowsVersion >= 5 && WindowsVersion <= 7 ? kShutdownLevelFirst : kShutdownLevelLast;
  } else if (position == 2) {
    level = kShutdownLevelLast;
  }
  power.SetShutdownParameters(level, platform::kShutdownNoRetry);
}

}  // namespace monitor
