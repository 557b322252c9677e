// The forms' own windows. Each form is a real top-level window, so that the
// system gives it what a window has (a title bar, Alt+Tab, a task bar button
// for the main form); its styles follow the form's border, and a tooltip
// window per form shows its controls' hints. This is what the class library
// asks of the windows; what they hear is Win32BackendMessages'.
#include <stdexcept>
#include <string>

#include "platform/win32/vcl/Win32BackendImpl.h"

namespace vcl::win32::detail {
namespace {

void FormStyles(const TForm& form, DWORD& style, DWORD& exStyle) {
  style = WS_CLIPCHILDREN | WS_CLIPSIBLINGS;
  exStyle = 0;
  bool boxes = false;
  switch (form.BorderStyle) {
    case bsNone:
      style |= WS_POPUP;
      return;
    case bsSingle:
      style |= WS_CAPTION;
      boxes = true;
      break;
    case bsSizeable:
      style |= WS_CAPTION | WS_THICKFRAME;
      boxes = true;
      break;
    case bsDialog:
      style |= WS_CAPTION | DS_MODALFRAME;
      exStyle |= WS_EX_DLGMODALFRAME;
      break;
    case bsToolWindow:
      style |= WS_CAPTION;
      exStyle |= WS_EX_TOOLWINDOW;
      break;
    case bsSizeToolWin:
      style |= WS_CAPTION | WS_THICKFRAME;
      exStyle |= WS_EX_TOOLWINDOW;
      break;
  }
  if (form.BorderIcons & biSystemMenu) {
    style |= WS_SYSMENU;
    if (boxes && (form.BorderIcons & biMinimize))
      style |= WS_MINIMIZEBOX;
    if (boxes && (form.BorderIcons & biMaximize))
      style |= WS_MAXIMIZEBOX;
  }
}

}  // namespace

void Win32Backend::RegisterFormClass(const std::string& name) {
  if (classes_.count(name))
    return;
  WNDCLASSEXA form{};
  form.cbSize = sizeof(form);
  form.style = CS_DBLCLKS;
  form.lpfnWndProc = FormProc;
  form.hInstance = instance_;
  // The program's icon (resource 1) in both of its sizes: the large one for
  // Alt+Tab, the small one drawn for the title bar rather than shrunk.
  form.hIcon = LargeIcon(TTrayIconImage::Main);
  form.hIconSm = SmallIcon(TTrayIconImage::Main);
  form.hCursor = LoadCursorA(nullptr, reinterpret_cast<LPCSTR>(IDC_ARROW));
  form.lpszClassName = name.c_str();
  if (!RegisterClassExA(&form) && GetLastError() != ERROR_CLASS_ALREADY_EXISTS) {
    throw std::runtime_error("RegisterClassExA failed for " + name);
  }
  classes_.insert(name);
}

TWindowHandle Win32Backend::CreateFormHandle(TForm& form) {
  const std::string& className = form.ClassName();
  RegisterFormClass(className);
  DWORD style = 0;
  DWORD exStyle = 0;
  FormStyles(form, style, exStyle);
  if (!form.Enabled())
    style |= WS_DISABLED;
  // Forms other than the main one belong to the application's window, as in
  // the class library: no task bar button of their own, always above it.
  HWND owner = Application().MainForm() == &form ? nullptr : application_;
  HWND hwnd =
      CreateWindowExA(exStyle, className.c_str(), form.Caption().c_str(), style, form.Left(),
                      form.Top(), form.Width(), form.Height(), owner, nullptr, instance_, &form);
  if (!hwnd)
    throw std::runtime_error("CreateWindowExA failed for " + className);
  FormNative& native = forms_[&form];
  native.hwnd = hwnd;

  native.tooltip =
      CreateWindowExA(WS_EX_TOPMOST, TOOLTIPS_CLASSA, nullptr,
                      WS_POPUP | TTS_ALWAYSTIP | TTS_NOPREFIX, CW_USEDEFAULT, CW_USEDEFAULT,
                      CW_USEDEFAULT, CW_USEDEFAULT, hwnd, nullptr, instance_, nullptr);
  if (native.tooltip) {
    const TApplication& application = Application();
    SendMessageA(native.tooltip, TTM_SETMAXTIPWIDTH, 0, 400);
    SendMessageA(native.tooltip, TTM_SETDELAYTIME, TTDT_INITIAL, application.HintPause);
    SendMessageA(native.tooltip, TTM_SETDELAYTIME, TTDT_RESHOW, application.HintShortPause);
    SendMessageA(native.tooltip, TTM_SETDELAYTIME, TTDT_AUTOPOP, application.HintHidePause);
    SendMessageA(native.tooltip, TTM_SETTIPBKCOLOR, ToColorRef(application.HintColor), 0);
  }
  CreateChildren(form);
  return reinterpret_cast<TWindowHandle>(hwnd);
}

void Win32Backend::DestroyFormHandle(TForm& form, TWindowHandle handle) {
  HWND hwnd = reinterpret_cast<HWND>(handle);
  ForgetTree(form);
  forms_.erase(&form);
  // The form no longer hears its window's last messages.
  SetWindowLongPtrA(hwnd, GWLP_USERDATA, 0);
  DestroyWindow(hwnd);
}

void Win32Backend::FormShown(TForm& form) {
  HWND hwnd = FormWindow(form);
  if (!hwnd)
    return;
  ShowWindow(hwnd, IsIconic(hwnd) ? SW_RESTORE : SW_SHOW);
  UpdateWindow(hwnd);
  // The focus the form's show event chose, now that its windows show.
  if (TWinControl* active = form.ActiveControl(); active && active->NativeHandle())
    ::SetFocus(reinterpret_cast<HWND>(active->NativeHandle()));
}

void Win32Backend::FormHidden(TForm& form) {
  if (HWND hwnd = FormWindow(form))
    ShowWindow(hwnd, SW_HIDE);
}

void Win32Backend::BringToFront(TForm& form) {
  HWND hwnd = FormWindow(form);
  if (!hwnd)
    return;
  if (IsIconic(hwnd))
    ShowWindow(hwnd, SW_RESTORE);
  BringWindowToTop(hwnd);
  // Sharing the foreground thread's input for the moment lets a window woken
  // by a timer come forward.
  const DWORD own = GetCurrentThreadId();
  HWND foregroundWindow = GetForegroundWindow();
  const DWORD foreground =
      foregroundWindow ? GetWindowThreadProcessId(foregroundWindow, nullptr) : 0;
  const bool attached =
      ShareForegroundInput(own, foreground, foreground != 0 && IsHungAppWindow(foregroundWindow)) &&
      AttachThreadInput(own, foreground, TRUE);
  SetForegroundWindow(hwnd);
  if (attached)
    AttachThreadInput(own, foreground, FALSE);
}

TPoint Win32Backend::NonClientSize(const TForm& form) {
  DWORD style = 0;
  DWORD exStyle = 0;
  FormStyles(form, style, exStyle);
  RECT rect{0, 0, 0, 0};
  AdjustWindowRectEx(&rect, style, FALSE, exStyle);
  return TPoint{rect.right - rect.left, rect.bottom - rect.top};
}

}  // namespace vcl::win32::detail
