// Unit Globfunc of korvatray: whether a program runs, found by the file name
// of its program, and the state the service control manager reports for a
// service.
#pragma once

#include <cstdint>
#include <string>

namespace tray {

// True when a running process's program file has this name, compared
// without regard to case ("korvamon.exe" finds "KORVAMON.EXE"). A scan the
// system refuses finds nothing.
bool IsProcessRunning(const std::string& fileName);

// The service's dwCurrentState (1 stopped ... 7 paused); 0 when there is no
// answer: the manager or the service cannot be opened, or the query fails.
// An empty machine name is the local machine.
uint32_t GetServiceState(const std::string& machine, const std::string& serviceName);

}  // namespace tray
