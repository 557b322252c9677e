// The Win32 wait: MsgWaitForMultipleObjectsEx on an event that other threads
// set to wake the loop, returning also when window messages arrive, which
// DispatchNative then hands to their windows.
//
// A hidden message-only window carries the same wake-up, and a native timer
// at the loop's next deadline, into native modal loops (a system message box,
// a popup menu, the file dialog): there they reach the window procedure,
// which runs the loop's pending work. Without it the watchdog and the
// reaction timers would stand still while such a box is on the screen.
#include <windows.h>

#include <atomic>
#include <functional>
#include <stdexcept>

#include "platform/Waiter.h"

namespace platform {
namespace {

constexpr UINT kWakeMessage = WM_APP + 0x3A1;
constexpr UINT_PTR kDeadlineTimer = 1;
constexpr char kWindowClass[] = "KorvaLoopWake";

class Win32Waiter final : public Waiter {
 public:
  Win32Waiter() : wake_(CreateEventA(nullptr, FALSE, FALSE, nullptr)) {
    if (!wake_)
      throw std::runtime_error("CreateEventA failed");
    WNDCLASSA windowClass{};
    windowClass.lpfnWndProc = &Win32Waiter::WindowProc;
    windowClass.hInstance = GetModuleHandleA(nullptr);
    windowClass.lpszClassName = kWindowClass;
    RegisterClassA(&windowClass);  // fails harmlessly when a second loop registers it again
    window_ = CreateWindowExA(0, kWindowClass, "", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                              GetModuleHandleA(nullptr), nullptr);
    if (window_)
      SetWindowLongPtrA(window_, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
  }
  ~Win32Waiter() override {
    if (window_)
      DestroyWindow(window_);
    CloseHandle(wake_);
  }
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

  void Wake() override {
    // The wake message alone wakes the wait (it is input), and one in the
    // queue is enough: it is re-armed when handled. The event is only for a
    // loop without its window, so a wake-up never comes twice.
    if (window_) {
      if (wakePosted_.exchange(true) || PostMessageA(window_, kWakeMessage, 0, 0))
        return;
      wakePosted_ = false;
    }
    SetEvent(wake_);
  }

  void Sleep(uint32_t ms) override { ::Sleep(ms); }

  void SleepAnsweringSent(uint32_t ms) override {
    const ULONGLONG end = GetTickCount64() + ms;
    for (ULONGLONG now = GetTickCount64(); now < end; now = GetTickCount64()) {
      // Peeking hands the sent messages to their windows; posted ones stay queued.
      MSG msg;
      PeekMessageA(&msg, nullptr, 0, 0, PM_NOREMOVE | PM_QS_SENDMESSAGE);
      MsgWaitForMultipleObjectsEx(0, nullptr, static_cast<DWORD>(end - now), QS_SENDMESSAGE,
                                  MWMO_INPUTAVAILABLE);
    }
  }

  bool DispatchNative() override {
    MSG msg;
    bool quit = false;
    while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
      if (msg.message == WM_QUIT) {
        quit = true;
        continue;
      }
      if (msg.hwnd == window_ && window_) {
        // Our own loop runs its work right after this pump; nothing to dispatch.
        if (msg.message == kWakeMessage)
          wakePosted_ = false;
        continue;
      }
      TranslateMessage(&msg);
      DispatchMessageA(&msg);
    }
    return quit;
  }

  void SetForeignLoopHandler(std::function<void()> handle) override {
    foreignLoop_ = std::move(handle);
  }

  void NextDeadlineChanged(std::optional<uint64_t> deadlineMs) override {
    if (!window_)
      return;
    if (!deadlineMs) {
      KillTimer(window_, kDeadlineTimer);
      return;
    }
    const uint64_t now = NowMs();
    const uint64_t left = *deadlineMs > now ? *deadlineMs - now : 0;
    const UINT delay = left > 0x7FFFFFFF ? 0x7FFFFFFF : static_cast<UINT>(left);
    SetTimer(window_, kDeadlineTimer, delay < USER_TIMER_MINIMUM ? USER_TIMER_MINIMUM : delay,
             nullptr);
  }

 private:
  // Reached only from a native modal loop: our own pump consumes these messages.
  static LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    auto* self = reinterpret_cast<Win32Waiter*>(GetWindowLongPtrA(window, GWLP_USERDATA));
    if (self && (message == kWakeMessage || (message == WM_TIMER && wParam == kDeadlineTimer))) {
      if (message == kWakeMessage)
        self->wakePosted_ = false;
      if (self->foreignLoop_)
        self->foreignLoop_();
      return 0;
    }
    return DefWindowProcA(window, message, wParam, lParam);
  }

  HANDLE wake_;
  HWND window_ = nullptr;
  std::atomic<bool> wakePosted_{false};
  std::function<void()> foreignLoop_;
};

}  // namespace

std::unique_ptr<Waiter> NewNativeWaiter() {
  return std::make_unique<Win32Waiter>();
}

}  // namespace platform
