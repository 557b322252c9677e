// The Win32 wait: MsgWaitForMultipleObjectsEx on an event that other threads
// set to wake the loop, returning also when window messages arrive, which
// DispatchNative then hands to their windows.
#include <windows.h>

#include <stdexcept>

#include "platform/Waiter.h"

namespace platform {
namespace {

class Win32Waiter final : public Waiter {
 public:
  Win32Waiter() : wake_(CreateEventA(nullptr, FALSE, FALSE, nullptr)) {
    if (!wake_)
      throw std::runtime_error("CreateEventA failed");
  }
  ~Win32Waiter() override { CloseHandle(wake_); }
  Win32Waiter(const Win32Waiter&) = delete;
  Win32Waiter& operator=(const Win32Waiter&) = delete;

  uint64_t NowMs() override { return GetTickCount64(); }

  void WaitUntil(std::optional<uint64_t> deadlineMs) override {
    DWORD timeout = INFINITE;
    if (deadlineMs) {
      const uint64_t now = NowMs();
      const uint64_t left = *deadlineMs > now ? *deadlineMs - now : 0;
      timeout = left >= INFINITE ? INFINITE - 1 : static_cast<DWORD>(left);
    }
    MsgWaitForMultipleObjectsEx(1, &wake_, timeout, QS_ALLINPUT, MWMO_INPUTAVAILABLE);
  }

  void Wake() override { SetEvent(wake_); }

  void Sleep(uint32_t ms) override { ::Sleep(ms); }

  bool DispatchNative() override {
    MSG msg;
    bool quit = false;
    while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
      if (msg.message == WM_QUIT) {
        quit = true;
        continue;
      }
      TranslateMessage(&msg);
      DispatchMessageA(&msg);
    }
    return quit;
  }

 private:
  HANDLE wake_;
};

}  // namespace

std::unique_ptr<Waiter> NewNativeWaiter() {
  return std::make_unique<Win32Waiter>();
}

}  // namespace platform
