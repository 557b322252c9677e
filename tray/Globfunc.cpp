#include "tray/Globfunc.h"

#include <optional>
#include <vector>

#include "platform/Process.h"
#include "platform/ServiceManager.h"
#include "vcl/SysUtils.h"

namespace tray {

bool IsProcessRunning(const std::string& fileName) {
  const std::optional<std::vector<platform::RunningProcess>> processes =
      platform::processes().RunningProcesses();
  if (!processes)
    return false;
  for (const platform::RunningProcess& process : *processes) {
    for (const std::string& name : process.names) {
      if (vcl::SameText(name, fileName))
        return true;
    }
  }
  return false;
}

uint32_t GetServiceState(const std::string& machine, const std::string& serviceName) {
  return platform::serviceManager().QueryServiceState(machine, serviceName);
}

}  // namespace tray
