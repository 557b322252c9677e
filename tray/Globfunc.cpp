#include "tray/Globfunc.h"

#include <optional>
#include <vector>

#include "platform/Process.h"
#include "platform/ServiceManager.h"

namespace tray {
namespace {

std::string UpperAscii(std::string text) {
  for (char& c : text) {
    if (c >= 'a' && c <= 'z')
      c = static_cast<char>(c - 'a' + 'A');
  }
  return text;
}

}  // namespace

bool IsProcessRunning(const std::string& fileName) {
  const std::optional<std::vector<platform::RunningProcess>> processes =
      platform::processes().RunningProcesses();
  if (!processes)
    return false;
  const std::string wanted = UpperAscii(fileName);
  for (const platform::RunningProcess& process : *processes) {
    for (const std::string& name : process.names) {
      if (UpperAscii(name) == wanted)
        return true;
    }
  }
  return false;
}

uint32_t GetServiceState(const std::string& machine, const std::string& serviceName) {
  return platform::serviceManager().QueryServiceState(machine, serviceName);
}

}  // namespace tray
