// Reaching the running instance on Windows: its application window is found
// by class and title, its form by class, and the request is a window message.
#include <windows.h>

#include "platform/Instance.h"

namespace platform {
namespace {

// A running instance that is busy (a box on its screen, a long handler) or
// hung must not hold the later one up for longer than this.
constexpr UINT kAnswerTimeoutMs = 2000;

HWND FindLiveWindow(const char* className, const char* title) {
  HWND window = FindWindowA(className, title);
  return window && IsWindow(window) ? window : nullptr;
}

// Window messages need no listener: the running instance's window procedure
// receives them.
class WindowMessageRequests final : public InstanceRequests {};

}  // namespace

bool SendToRunningInstance(const std::string& appTitle, const std::string& formClass, uint32_t msg,
                           uintptr_t wParam, intptr_t lParam) {
  if (!FindLiveWindow("TApplication", appTitle.c_str()))
    return false;
  HWND form = FindLiveWindow(formClass.c_str(), nullptr);
  if (!form)
    return false;
  DWORD_PTR result = 0;
  if (!SendMessageTimeoutA(form, msg, static_cast<WPARAM>(wParam), static_cast<LPARAM>(lParam),
                           SMTO_ABORTIFHUNG, kAnswerTimeoutMs, &result))
    return false;
  BringWindowToTop(form);
  SetForegroundWindow(form);
  return true;
}

std::unique_ptr<InstanceRequests> InstanceRequests::Listen(const std::string&, Deliver) {
  return std::make_unique<WindowMessageRequests>();
}

}  // namespace platform
