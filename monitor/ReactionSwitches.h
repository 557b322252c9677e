// The switches the reactions follow, as the settings dialog holds them: its
// start, shutdown and window-open boxes, the beep box, the session-end
// signal, the shutdown repeat count and the battery program's command line.
// The reactions read these, not the settings file, so a change the user makes
// in the dialog counts at once, even when it is never saved. The dialog
// publishes a new copy whenever it loads the file or the user changes one of
// them; any thread may read the latest copy.
#pragma once

#include <array>
#include <cstdint>
#include <string>

#include "monitor/Settings.h"

namespace monitor {

struct ReactionSwitches {
  // By ProgramEvent: DC_LOW_Start, AlarmStart, NoConnect, Akku, Over85, Under85.
  std::array<bool, 6> startProgram{};
  // By OpenEvent: the battery, alarm, battery-replacement, link-lost and
  // charge-level rows.
  std::array<bool, 5> openWindow{};
  bool shutdownAfterBattery = false;   // DC_LOW_ShutDown
  bool playSound = false;              // PlaySound
  bool windowsShutdownSignal = false;  // WINDOWSSDSIGNAL
  int32_t shutdownRepeat = 1;          // RepeatAbschaltung
  std::string batteryProgram;          // the command line of [START] DC_LOW

  bool StartProgram(ProgramEvent event) const {
    return startProgram.at(static_cast<std::size_t>(event));
  }
  bool OpenWindow(OpenEvent event) const { return openWindow.at(static_cast<std::size_t>(event)); }
  bool operator==(const ReactionSwitches&) const = default;
};

// The latest copy the dialog published (all off before it first loads).
ReactionSwitches CurrentReactionSwitches();
void PublishReactionSwitches(const ReactionSwitches& switches);

}  // namespace monitor
