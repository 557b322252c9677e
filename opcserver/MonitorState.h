// What the OPC provider window reads of the monitor: the main window's
// device and link state. A unit of its own, free of the COM headers, whose
// Windows macros would clash with the monitor's names.
#pragma once

#include <cstdint>
#include <string>

namespace opcserver {

struct TMonitorState {
  int32_t StatusWord = 0;
  int32_t ConnectionWord = 0;
  std::string DeviceName;
  std::string LastMessage;
  std::string ReceivedText;
};

// The main window's state into `state`; false (and `state` untouched)
// while there is no main window. Main thread.
bool ReadMonitorState(TMonitorState& state);

}  // namespace opcserver
