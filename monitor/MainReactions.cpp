// The main window's reactions to device events once their delays are over:
// the window-open requests collected in TimerOpen (with their beep tune), the
// six program timers that start the configured command lines. The delays are
// armed by the evaluation's reactions and by the watchdog; the shutdown timer
// is the shutdown sequence's (MainShutdown).
#include <optional>

#include "monitor/Globfunc.h"
#include "monitor/ProgramStart.h"
#include "monitor/ReactionSwitches.h"
#include "monitor/Settings.h"
#include "monitor/main.h"

namespace monitor {
namespace {

// Requests are ignored during the watchdog's first four ticks of the start.
constexpr int kStartTicksDeaf = 4;

// TimerOpen never runs shorter than this.
constexpr uint32_t kOpenFloorBelowMs = 60;
constexpr uint32_t kOpenFloorMs = 100;

// The tune every request plays: four short tones, then a long one.
constexpr int32_t kOpenTuneSeed = 102;
constexpr int32_t kOpenTuneShortTones = 4;

// The settings row (switch and delay) that lets an event's request open the
// window. DC input events (1, 128) have none: they never open it.
std::optional<OpenEvent> OpenEventOf(uint32_t bit) {
  switch (bit) {
    case 2:
    case 256:
      return OpenEvent::Batt;
    case 4:
    case 512:
      return OpenEvent::Alarm;
    case 8:
      return OpenEvent::NoConn;
    case 16:
      return OpenEvent::Akku;
    case 32:
    case 4096:
      return OpenEvent::Full;
    default:
      return std::nullopt;
  }
}

bool AnyWindowOpening(const ReactionSwitches& switches) {
  for (bool open : switches.openWindow) {
    if (open)
      return true;
  }
  return false;
}

// A program timer fires once: it stops before its program starts.
void StartTimerProgram(vcl::TTimer& timer, const std::string& commandLine) {
  timer.SetEnabled(false);
  RunProgram(commandLine);
}

std::string ConfiguredProgram(ProgramEvent event) {
  return Settings::Current().ProgramCommand(event);
}

}  // namespace

void TfrmKorvamon::RequestOpenWindow(uint32_t bit) {
  if (StartPhase && StartTicks < kStartTicksDeaf)
    return;
  const ReactionSwitches switches = CurrentReactionSwitches();
  const std::optional<OpenEvent> event = OpenEventOf(bit);
  if (event && switches.OpenWindow(*event)) {
    TimerOpen->Tag |= static_cast<int>(bit);
    // The first request since TimerOpen was idle sets the delay; later ones
    // wait for it.
    if (!TimerOpen->Enabled()) {
      uint32_t interval = Settings::Current().OpenDelayMs(*event);
      if (interval < kOpenFloorBelowMs)
        interval = kOpenFloorMs;
      TimerOpen->SetInterval(interval);
      TimerOpen->SetEnabled(true);
    }
  }
  if (switches.playSound)
    PlayBeepPattern(kOpenTuneSeed, kOpenTuneShortTones);
}

void TfrmKorvamon::TimerOpenTimer(vcl::TObject*) {
  TimerOpen->SetEnabled(false);
  TimerOpen->Tag = 0;
  if (!AnyWindowOpening(CurrentReactionSwitches()))
    return;
  if (Visible())
    BringToForeground();
  else
    Show();
}

void TfrmKorvamon::BringToForeground() {
  BringToFront();
}

void TfrmKorvamon::TimerAppStartTimer(vcl::TObject*) {
  // The dialog's field as it stands, saved or not.
  StartTimerProgram(*TimerAppStart, CurrentReactionSwitches().batteryProgram);
}

void TfrmKorvamon::TimerVerbindungTimer(vcl::TObject*) {
  StartTimerProgram(*TimerVerbindung, ConfiguredProgram(ProgramEvent::NoConnect));
}

void TfrmKorvamon::TimerAlarmTimer(vcl::TObject*) {
  StartTimerProgram(*TimerAlarm, ConfiguredProgram(ProgramEvent::Alarm));
}

void TfrmKorvamon::TimerAkkuTimer(vcl::TObject*) {
  StartTimerProgram(*TimerAkku, ConfiguredProgram(ProgramEvent::Akku));
}

void TfrmKorvamon::TimerOver85Timer(vcl::TObject*) {
  StartTimerProgram(*TimerOver85, ConfiguredProgram(ProgramEvent::Over85));
}

void TfrmKorvamon::TimerUnder85Timer(vcl::TObject*) {
  StartTimerProgram(*TimerUnder85, ConfiguredProgram(ProgramEvent::Under85));
}

}  // namespace monitor
