// The state the system's service control manager reports for a service
// (dwCurrentState: 1 stopped, 2 start pending, 3 stop pending, 4 running,
// 5 continue pending, 6 pause pending, 7 paused). Windows asks the manager.
// POSIX has none: the file "<service>.state" in the folder KORVA_SERVICE_DIR
// names (else $XDG_RUNTIME_DIR, else /tmp) holds the state as a decimal
// number, written by whatever plays the service. Tests install a scripted one.
#pragma once

#include <cstdint>
#include <string>

#include "platform/Services.h"

namespace platform {

class ServiceManager {
 public:
  virtual ~ServiceManager() = default;
  // The state of `service` on `machine` (empty: this one); 0 when there is
  // no answer: the manager or the service cannot be opened, the query fails,
  // or (POSIX) the file is missing or holds no number.
  virtual uint32_t QueryServiceState(const std::string& machine, const std::string& service) = 0;
};

ServiceManager& NativeServiceManager();

template <>
inline ServiceManager*& ScopedService<ServiceManager>::Slot() {
  static ServiceManager* installed = nullptr;
  return installed;
}

// The installed stand-in (a test's) or the system's.
inline ServiceManager& serviceManager() {
  ServiceManager* installed = ScopedService<ServiceManager>::Slot();
  return installed ? *installed : NativeServiceManager();
}

// Answers every query with the state a test set, and counts the queries.
class ScriptedServiceManager final : public ServiceManager {
 public:
  uint32_t QueryServiceState(const std::string&, const std::string& service) override {
    ++queries;
    lastService = service;
    return state;
  }

  uint32_t state = 0;
  int queries = 0;
  std::string lastService;
};

}  // namespace platform
