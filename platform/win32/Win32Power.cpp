// The power controls on Windows: the real priority class, token privilege,
// shutdown parameters and ExitWindowsEx; the processor load through pdh.dll,
// bound once and kept until the program ends.
#include "platform/win32/SystemCalls.h"
// After windows.h, which it needs.
#include <pdh.h>

#include <mutex>

#include "platform/Power.h"
#include "platform/win32/Win32ErrorText.h"
#include "platform/win32/Win32Pdh.h"

namespace platform {
namespace {

// The processor time of processor 0, as a German system names the counter;
// elsewhere the path is unknown and the load stays unmeasured.
constexpr const char* kCounterPath = "\\Prozessor(0)\\Prozessorzeit (%)";
constexpr DWORD kLoadIntervalMs = 300;

// The history names the code beside the system's text.
std::string SystemErrorText(DWORD code) {
  return win32::ErrorText(code) + " (" + std::to_string(code) + ")";
}

class Token {
 public:
  Token() {
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_ADJUST_PRIVILEGES | TOKEN_QUERY, &handle_))
      handle_ = nullptr;
  }
  ~Token() {
    if (handle_)
      CloseHandle(handle_);
  }
  Token(const Token&) = delete;
  Token& operator=(const Token&) = delete;
  HANDLE get() const { return handle_; }

 private:
  HANDLE handle_ = nullptr;
};

class Win32Power final : public Power {
 public:
  bool SetPriorityClass(uint32_t priorityClass) override {
    return ::SetPriorityClass(GetCurrentProcess(), priorityClass) != FALSE;
  }
  uint32_t PriorityClass() override { return ::GetPriorityClass(GetCurrentProcess()); }

  Privilege EnableShutdownPrivilege(std::string& error) override {
    const Token token;
    if (!token.get()) {
      error = "OpenProcessToken: " + SystemErrorText(GetLastError());
      return Privilege::Failed;
    }
    LUID luid{};
    if (!LookupPrivilegeValueA(nullptr, kShutdownPrivilege, &luid)) {
      error = "LookupPrivilegeValueA: " + SystemErrorText(GetLastError());
      return Privilege::Failed;
    }
    TOKEN_PRIVILEGES wanted{};
    wanted.PrivilegeCount = 1;
    wanted.Privileges[0].Luid = luid;
    wanted.Privileges[0].Attributes = SE_PRIVILEGE_ENABLED;
    TOKEN_PRIVILEGES previous{};
    DWORD previousSize = 0;
    if (!win32::systemCalls().adjustTokenPrivileges(token.get(), FALSE, &wanted, sizeof previous,
                                                    &previous, &previousSize)) {
      error = "AdjustTokenPrivileges: " + SystemErrorText(GetLastError());
      return Privilege::Failed;
    }
    // The call succeeds also for a token that does not hold the privilege;
    // only its error code tells.
    if (const DWORD code = GetLastError(); code == ERROR_NOT_ALL_ASSIGNED) {
      error = "AdjustTokenPrivileges: " + SystemErrorText(code);
      return Privilege::NotHeld;
    }
    return Privilege::Enabled;
  }

  bool SetShutdownParameters(uint32_t level, uint32_t flags) override {
    return SetProcessShutdownParameters(level, flags) != FALSE;
  }
  bool ShutdownParameters(uint32_t& level, uint32_t& flags) override {
    DWORD l = 0, f = 0;
    if (!GetProcessShutdownParameters(&l, &f))
      return false;
    level = l;
    flags = f;
    return true;
  }

  bool ExitSession(uint32_t flags, std::string& error) override {
    if (ExitWindowsEx(flags, 0))
      return true;
    error = SystemErrorText(GetLastError());
    return false;
  }

  bool BindProcessorLoad() override {
    std::lock_guard lock(mutex_);
    return pdh_.Load();
  }

  double ProcessorLoad() override {
    std::lock_guard lock(mutex_);
    if (!pdh_.Load() || !pdh_.Usable())
      return -1.0;
    PDH_HQUERY query = nullptr;
    if (pdh_.openQuery(nullptr, 0, &query) != ERROR_SUCCESS)
      return -1.0;
    double load = -1.0;
    PDH_HCOUNTER counter = nullptr;
    if (pdh_.validatePath(kCounterPath) == ERROR_SUCCESS &&
        pdh_.addCounter(query, kCounterPath, 0, &counter) == ERROR_SUCCESS) {
      PDH_FMT_COUNTERVALUE value{};
      pdh_.collectQueryData(query);
      pdh_.getFormattedCounterValue(counter, PDH_FMT_DOUBLE, nullptr, &value);
      Sleep(kLoadIntervalMs);
      pdh_.collectQueryData(query);
      if (pdh_.getFormattedCounterValue(counter, PDH_FMT_DOUBLE, nullptr, &value) == ERROR_SUCCESS)
        load = value.doubleValue;
    }
    pdh_.closeQuery(query);
    return load;
  }

 private:
  std::mutex mutex_;
  win32::Pdh pdh_;
};

}  // namespace

Power& NativePower() {
  static Win32Power power;
  return power;
}

}  // namespace platform
