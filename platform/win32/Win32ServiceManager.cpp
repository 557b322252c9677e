// The service state from the service control manager.
#include <windows.h>

#include "platform/ServiceManager.h"

namespace platform {
namespace {

// Closes a service or manager handle with the scope.
class ServiceHandle {
 public:
  explicit ServiceHandle(SC_HANDLE handle) : handle_(handle) {}
  ~ServiceHandle() {
    if (handle_)
      CloseServiceHandle(handle_);
  }
  ServiceHandle(const ServiceHandle&) = delete;
  ServiceHandle& operator=(const ServiceHandle&) = delete;
  SC_HANDLE get() const { return handle_; }
  explicit operator bool() const { return handle_ != nullptr; }

 private:
  SC_HANDLE handle_;
};

class Win32ServiceManager final : public ServiceManager {
 public:
  uint32_t QueryServiceState(const std::string& machine, const std::string& service) override {
    const ServiceHandle manager(
        OpenSCManagerA(machine.empty() ? nullptr : machine.c_str(), nullptr, GENERIC_READ));
    if (!manager)
      return 0;
    const ServiceHandle opened(OpenServiceA(manager.get(), service.c_str(), GENERIC_READ));
    if (!opened)
      return 0;
    SERVICE_STATUS status{};
    if (!QueryServiceStatus(opened.get(), &status))
      return 0;
    return status.dwCurrentState;
  }
};

}  // namespace

ServiceManager& NativeServiceManager() {
  static Win32ServiceManager manager;
  return manager;
}

}  // namespace platform
