// korvatray beside a real "Service_Korva" (Windows build, under Wine, in a
// prefix of this test's own): the tests' service program is installed with
// the service control manager and driven through every state it reports;
// the tip follows each one in English within its second, the main icon shows
// while the service runs, and once the service is deleted the tip says its
// state is unknown.
#ifdef _WIN32

#include <gtest/gtest.h>

#include <memory>
#include <optional>
#include <string>

#include "platform/EventLoop.h"
#include "platform/Files.h"
#include "platform/win32/vcl/Win32Backend.h"
#include "tray/Tray.h"
#include "vcl/Forms.h"

// clang-format off
#include <windows.h>
// clang-format on

namespace {

constexpr const char* kStepEvent = "Global\\KorvaTestServiceStep";

// A service or manager handle, closed with the scope.
class ServiceHandle {
 public:
  explicit ServiceHandle(SC_HANDLE handle = nullptr) : handle_(handle) {}
  ~ServiceHandle() { Reset(); }
  ServiceHandle(const ServiceHandle&) = delete;
  ServiceHandle& operator=(const ServiceHandle&) = delete;
  void Reset(SC_HANDLE handle = nullptr) {
    if (handle_)
      CloseServiceHandle(handle_);
    handle_ = handle;
  }
  SC_HANDLE get() const { return handle_; }
  explicit operator bool() const { return handle_ != nullptr; }

 private:
  SC_HANDLE handle_;
};

// "Service_Korva" as the tests' service program, installed for the test's
// lifetime: stopped and deleted at its end, as one left by an earlier run
// is before it is installed.
class InstalledService {
 public:
  InstalledService()
      : manager_(OpenSCManagerA(nullptr, nullptr, SC_MANAGER_ALL_ACCESS)),
        step_(CreateEventA(nullptr, FALSE, FALSE, kStepEvent)) {
    if (!manager_)
      return;
    Remove(OpenServiceA(manager_.get(), tray::kServiceName, SERVICE_ALL_ACCESS));
    const std::string command =
        std::string("\"").append(platform::ProgramFolder()).append("korva_test_service.exe\"");
    service_.Reset(CreateServiceA(manager_.get(), tray::kServiceName, tray::kServiceName,
                                  SERVICE_ALL_ACCESS, SERVICE_WIN32_OWN_PROCESS,
                                  SERVICE_DEMAND_START, SERVICE_ERROR_IGNORE, command.c_str(),
                                  nullptr, nullptr, nullptr, nullptr, nullptr));
  }
  ~InstalledService() {
    Remove(service_.get());
    service_.Reset();
    if (step_)
      CloseHandle(step_);
  }
  InstalledService(const InstalledService&) = delete;
  InstalledService& operator=(const InstalledService&) = delete;

  bool Installed() const { return service_ && step_; }
  bool Start() { return StartServiceA(service_.get(), 0, nullptr); }
  bool Control(DWORD control) {
    SERVICE_STATUS status{};
    return ControlService(service_.get(), control, &status);
  }
  // Lets the service settle its pending state.
  void Step() { SetEvent(step_); }
  // Deleted now; gone once the last handle to it is closed.
  bool Delete() {
    const bool deleted = DeleteService(service_.get());
    service_.Reset();
    return deleted;
  }

 private:
  // Stops the service, letting it through its pending states, and deletes it.
  void Remove(SC_HANDLE service) {
    if (!service)
      return;
    SERVICE_STATUS status{};
    if (QueryServiceStatus(service, &status) && status.dwCurrentState != SERVICE_STOPPED) {
      ControlService(service, SERVICE_CONTROL_STOP, &status);
      const ULONGLONG deadline = GetTickCount64() + 20000;
      while (QueryServiceStatus(service, &status) && status.dwCurrentState != SERVICE_STOPPED &&
             GetTickCount64() < deadline) {
        if (step_)
          SetEvent(step_);
        Sleep(50);
      }
    }
    DeleteService(service);
    if (service != service_.get())
      CloseServiceHandle(service);
  }

  ServiceHandle manager_;
  ServiceHandle service_;
  HANDLE step_;
};

class TrayServiceWin32Test : public testing::Test {
 protected:
  TrayServiceWin32Test()
      : loop_(platform::ReplaceMainLoop(
            std::make_unique<platform::EventLoop>(platform::NewNativeWaiter()))),
        backend_(vcl::win32::NewBackend()),
        previous_(vcl::SetBackend(backend_.get())),
        application_(std::in_place),
        echo_(tray::SetTipEcho(nullptr)) {}
  ~TrayServiceWin32Test() override {
    tray::EndProgram();
    tray::SetTipEcho(echo_);
    application_.reset();
    vcl::SetBackend(previous_ == &vcl::Headless() ? nullptr : previous_);
    backend_.reset();
    platform::ReplaceMainLoop(std::move(loop_));
  }

  // Whether the icon shows `tip` with the main icon or the window's within
  // the timer's ticks of the next seconds (as slow as the service's process
  // may start here).
  testing::AssertionResult Shows(const std::string& tip, bool mainIcon) {
    const vcl::TTrayIconImage image =
        mainIcon ? vcl::TTrayIconImage::Main : vcl::TTrayIconImage::Window;
    const uint64_t deadline = platform::MainLoop().NowMs() + 30000;
    vcl::TTrayIcon* icon = tray::KorvaTray->TrayIcon;
    while (icon->Tip != tip || icon->Image != image) {
      if (platform::MainLoop().NowMs() >= deadline)
        return testing::AssertionFailure()
               << "the tip is \"" << icon->Tip << "\" with the "
               << (icon->Image == vcl::TTrayIconImage::Main ? "main" : "window's") << " icon";
      platform::MainLoop().RunFor(100);
    }
    return testing::AssertionSuccess();
  }

 private:
  std::unique_ptr<platform::EventLoop> loop_;
  std::unique_ptr<vcl::Backend> backend_;
  vcl::Backend* previous_;
  std::optional<vcl::ScopedApplication> application_;
  std::ostream* echo_;
};

TEST_F(TrayServiceWin32Test, TheIconFollowsTheServiceThroughEveryState) {
  InstalledService service;
  ASSERT_TRUE(service.Installed()) << GetLastError();
  tray::CreateProgramWindows();

  EXPECT_TRUE(Shows("KORVA service is stopped", false));
  ASSERT_TRUE(service.Start()) << GetLastError();
  EXPECT_TRUE(Shows("KORVA service is starting", false));
  service.Step();
  EXPECT_TRUE(Shows("KORVA service is running", true));

  ASSERT_TRUE(service.Control(SERVICE_CONTROL_PAUSE)) << GetLastError();
  EXPECT_TRUE(Shows("KORVA service is pausing", false));
  service.Step();
  EXPECT_TRUE(Shows("KORVA service is paused", false));
  ASSERT_TRUE(service.Control(SERVICE_CONTROL_CONTINUE)) << GetLastError();
  EXPECT_TRUE(Shows("KORVA service is resuming", false));
  service.Step();
  EXPECT_TRUE(Shows("KORVA service is running", true));

  ASSERT_TRUE(service.Control(SERVICE_CONTROL_STOP)) << GetLastError();
  EXPECT_TRUE(Shows("KORVA service is stopping", false));
  service.Step();
  EXPECT_TRUE(Shows("KORVA service is stopped", false));
  ASSERT_TRUE(service.Delete()) << GetLastError();
  EXPECT_TRUE(Shows("KORVA service: state unknown or not installed", false));
}

}  // namespace

#endif
