// The class library's Win32 backend, its life: what every window needs
// before the first form is made (the common controls, the application's
// hidden window, which owns the other forms, and the containers' window
// class), and what goes with the backend at its end, so that a later backend
// starts clean. The lookups between the class library's objects and their
// windows are here because every part needs them. Each concern has a file of
// its own: Win32BackendForms, -Messages, -Controls, -Paint, -Dialogs, -Tray
// and -Menus.
#include <memory>
#include <string>

#include "platform/win32/vcl/Win32BackendImpl.h"

namespace vcl::win32::detail {
namespace {

constexpr char kApplicationClass[] = "TApplication";

}  // namespace

Win32Backend::Win32Backend() : instance_(GetModuleHandleA(nullptr)) {
  INITCOMMONCONTROLSEX common{
      sizeof(common), ICC_BAR_CLASSES | ICC_STANDARD_CLASSES | ICC_TAB_CLASSES | ICC_UPDOWN_CLASS};
  InitCommonControlsEx(&common);

  WNDCLASSEXA application{};
  application.cbSize = sizeof(application);
  application.lpfnWndProc = ApplicationProc;
  application.hInstance = instance_;
  application.lpszClassName = kApplicationClass;
  RegisterClassExA(&application);
  application_ =
      CreateWindowExA(0, kApplicationClass, Application().Title().c_str(),
                      WS_POPUP | WS_CAPTION | WS_CLIPSIBLINGS | WS_SYSMENU | WS_MINIMIZEBOX, 0, 0,
                      0, 0, nullptr, nullptr, instance_, nullptr);

  WNDCLASSEXA container{};
  container.cbSize = sizeof(container);
  container.style = CS_DBLCLKS;
  container.lpfnWndProc = ContainerProc;
  container.hInstance = instance_;
  container.hCursor = LoadCursorA(nullptr, reinterpret_cast<LPCSTR>(IDC_ARROW));
  container.lpszClassName = kContainerClass;
  RegisterClassExA(&container);
  current = this;
}

Win32Backend::~Win32Backend() {
  if (current == this)
    current = nullptr;
  if (application_)
    DestroyWindow(application_);
  // The classes hold the small icons, which go with the backend: a later
  // backend registers them again with icons of its own.
  for (const std::string& name : classes_)
    UnregisterClassA(name.c_str(), instance_);
  for (auto& [color, brush] : brushes_)
    DeleteObject(brush);
  for (auto& [control, native] : natives_) {
    if (native.font)
      DeleteObject(native.font);
  }
}

HWND Win32Backend::FormWindow(const TForm& form) const {
  auto it = forms_.find(&form);
  return it == forms_.end() ? nullptr : it->second.hwnd;
}

HWND Win32Backend::ParentWindow(TWinControl* parent) const {
  if (!parent)
    return nullptr;
  if (auto* form = dynamic_cast<TForm*>(parent))
    return FormWindow(*form);
  auto it = natives_.find(parent);
  return it == natives_.end() ? nullptr : it->second.hwnd;
}

TControl* Win32Backend::ControlOf(HWND hwnd) const {
  auto it = controls_.find(hwnd);
  return it == controls_.end() ? nullptr : it->second;
}

}  // namespace vcl::win32::detail

namespace vcl::win32 {

bool ShareForegroundInput(uint32_t ownThread, uint32_t foregroundThread, bool foregroundHung) {
  return foregroundThread != 0 && foregroundThread != ownThread && !foregroundHung;
}

std::unique_ptr<Backend> NewBackend() {
  return std::make_unique<detail::Win32Backend>();
}

}  // namespace vcl::win32
