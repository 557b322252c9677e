// The class library's headers come before <windows.h>, which defines several
// of their names (WM_CLOSE, VK_RETURN, PostMessage, ...) as macros. Below
// them, those names are Windows' own.
#include "platform/win32/vcl/Win32Backend.h"

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <map>
#include <memory>
#include <set>
#include <stdexcept>
#include <string>
#include <unordered_map>
#include <vector>

#include "platform/EventLoop.h"
#include "vcl/Buttons.h"
#include "vcl/CheckBox.h"
#include "vcl/ComCtrls.h"
#include "vcl/ComboBox.h"
#include "vcl/Dialogs.h"
#include "vcl/ExtCtrls.h"
#include "vcl/Forms.h"
#include "vcl/GroupBox.h"
#include "vcl/Memo.h"
#include "vcl/Menus.h"
#include "vcl/PageControl.h"
#include "vcl/RichEdit.h"
#include "vcl/Screen.h"
#include "vcl/StdCtrls.h"
#include "vcl/UpDown.h"

// clang-format off
#include <windows.h>
#include <commctrl.h>
#include <commdlg.h>
#include <shellapi.h>
#include "platform/win32/SystemCalls.h"
#include "platform/win32/Win32Apartment.h"
// clang-format on

namespace vcl::win32 {
namespace {

constexpr char kApplicationClass[] = "TApplication";
constexpr char kContainerClass[] = "TKorvaContainer";
constexpr char kOldProcProp[] = "KorvaOldProc";
// The height of a drop-down list's open list, below its edit part.
constexpr int kComboListHeight = 200;

COLORREF ToColorRef(TColor color) {
  if ((color & 0xFF000000) == clSystemColor)
    return GetSysColor(static_cast<int>(color & 0xFF));
  return color & 0xFFFFFF;
}

TShiftState KeyShift() {
  TShiftState shift = 0;
  if (GetKeyState(VK_SHIFT) < 0)
    shift |= ssShift;
  if (GetKeyState(VK_CONTROL) < 0)
    shift |= ssCtrl;
  if (GetKeyState(VK_MENU) < 0)
    shift |= ssAlt;
  return shift;
}

TShiftState MouseShift(WPARAM keys) {
  TShiftState shift = 0;
  if (keys & MK_SHIFT)
    shift |= ssShift;
  if (keys & MK_CONTROL)
    shift |= ssCtrl;
  if (GetKeyState(VK_MENU) < 0)
    shift |= ssAlt;
  if (keys & MK_LBUTTON)
    shift |= ssLeft;
  if (keys & MK_RBUTTON)
    shift |= ssRight;
  if (keys & MK_MBUTTON)
    shift |= ssMiddle;
  return shift;
}

int LowSigned(LPARAM value) {
  return static_cast<short>(LOWORD(value));
}
int HighSigned(LPARAM value) {
  return static_cast<short>(HIWORD(value));
}

std::string WindowText(HWND hwnd) {
  const int length = GetWindowTextLengthA(hwnd);
  std::string text(static_cast<size_t>(length) + 1, '\0');
  const int copied = GetWindowTextA(hwnd, text.data(), length + 1);
  text.resize(static_cast<size_t>(std::max(copied, 0)));
  return text;
}

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

// What the backend keeps for one control's native window.
struct Native {
  HWND hwnd = nullptr;
  HFONT font = nullptr;
  std::vector<HWND> radios;  // radio group
};

struct FormNative {
  HWND hwnd = nullptr;
  HWND tooltip = nullptr;
};

// An icon the backend keeps; freed with it when it was loaded for it alone.
class KeptIcon {
 public:
  KeptIcon(HICON icon, bool owned) : icon_(icon), owned_(owned) {}
  ~KeptIcon() {
    if (owned_ && icon_)
      DestroyIcon(icon_);
  }
  KeptIcon(KeptIcon&& other) noexcept : icon_(other.icon_), owned_(other.owned_) {
    other.icon_ = nullptr;
  }
  KeptIcon& operator=(KeptIcon&&) = delete;
  KeptIcon(const KeptIcon&) = delete;
  KeptIcon& operator=(const KeptIcon&) = delete;
  HICON get() const { return icon_; }

 private:
  HICON icon_;
  bool owned_;
};

class Win32Backend;
Win32Backend* current = nullptr;

class Win32Backend final : public Backend {
 public:
  Win32Backend();
  ~Win32Backend() override;
  Win32Backend(const Win32Backend&) = delete;
  Win32Backend& operator=(const Win32Backend&) = delete;

  TWindowHandle CreateFormHandle(TForm& form) override;
  void DestroyFormHandle(TForm& form, TWindowHandle handle) override;
  void FormShown(TForm& form) override;
  void FormHidden(TForm& form) override;
  void BringToFront(TForm& form) override;
  void RunModal(TForm& form) override;
  void DefaultHandler(TForm& form, TMessage& message) override;
  TPoint NonClientSize(const TForm& form) override;

  void ParentChanged(TControl& control) override;
  void Changed(TControl& control, TProperty property) override;
  void ControlDestroyed(TControl& control) override;

  void Popup(TPopupMenu& menu, int x, int y) override;

  bool PostFormMessage(TWindowHandle handle, uint32_t msg, uintptr_t wParam,
                       intptr_t lParam) override {
    return PostMessageA(reinterpret_cast<HWND>(handle), msg, wParam, lParam) != 0;
  }
  intptr_t SendFormMessage(TWindowHandle handle, uint32_t msg, uintptr_t wParam,
                           intptr_t lParam) override {
    return SendMessageA(reinterpret_cast<HWND>(handle), msg, wParam, lParam);
  }

  void ApplicationTitleChanged(const std::string& title) override {
    SetWindowTextA(application_, title.c_str());
  }
  TWindowHandle ApplicationHandle() override {
    return reinterpret_cast<TWindowHandle>(application_);
  }

  bool AddTrayIcon(TForm& form, const TrayIconData& icon) override {
    NOTIFYICONDATAA data = TrayData(form, icon);
    if (!data.hWnd)
      return false;
    HearFromLowerIntegrity(data.hWnd, icon.callbackMessage);
    return NotifyShell(NIM_ADD, data) || NotifyShell(NIM_MODIFY, data);
  }

  bool ModifyTrayIcon(TForm& form, const TrayIconData& icon) override {
    NOTIFYICONDATAA data = TrayData(form, icon);
    return data.hWnd && NotifyShell(NIM_MODIFY, data);
  }

  void RemoveTrayIcon(TForm& form, uint32_t id) override {
    NOTIFYICONDATAA data = TrayData(form, TrayIconData{id, 0, TTrayIconImage::Main, {}});
    if (data.hWnd)
      NotifyShell(NIM_DELETE, data);
  }

  uint32_t TaskbarCreatedMessage() override { return taskbarCreated_; }

  bool RegisterHotKey(TForm& form, int id, uint32_t modifiers, uint16_t virtualKey) override {
    HWND hwnd = FormWindow(form);
    return hwnd && ::RegisterHotKey(hwnd, id, modifiers, virtualKey);
  }

  void UnregisterHotKey(TForm& form, int id) override {
    if (HWND hwnd = FormWindow(form))
      ::UnregisterHotKey(hwnd, id);
  }

  TPoint CursorPos() override {
    POINT point{};
    GetCursorPos(&point);
    return TPoint{point.x, point.y};
  }
  bool IsKeyDown(uint16_t virtualKey) override {
    return (GetAsyncKeyState(virtualKey) & 0x8000) != 0;
  }
  bool KeyStateDown(uint16_t virtualKey) override { return GetKeyState(virtualKey) < 0; }
  void ScreenCursorChanged(TCursor cursor) override {
    ::SetCursor(LoadCursorA(
        nullptr, reinterpret_cast<LPCSTR>(cursor == crHourGlass ? IDC_WAIT : IDC_ARROW)));
  }
  bool ExecuteOpenDialog(TOpenDialog& dialog) override;
  TPoint ScreenSize() override {
    return TPoint{GetSystemMetrics(SM_CXSCREEN), GetSystemMetrics(SM_CYSCREEN)};
  }

  static LRESULT CALLBACK ApplicationProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam);
  static LRESULT CALLBACK FormProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam);
  static LRESULT CALLBACK ContainerProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam);
  static LRESULT CALLBACK ChildProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam);

 private:
  void RegisterFormClass(const std::string& name);
  HWND FormWindow(const TForm& form) const;
  static bool NotifyShell(DWORD what, NOTIFYICONDATAA& data) {
    return platform::win32::systemCalls().shellNotifyIcon(what, &data) != FALSE;
  }
  NOTIFYICONDATAA TrayData(const TForm& form, const TrayIconData& icon) {
    NOTIFYICONDATAA data{};
    data.cbSize = sizeof data;
    data.hWnd = FormWindow(form);
    data.uID = icon.id;
    data.uFlags = NIF_MESSAGE | NIF_ICON | NIF_TIP;
    data.uCallbackMessage = icon.callbackMessage;
    // The notification area draws the small size: a large image would be shrunk.
    data.hIcon = SmallIcon(icon.image);
    lstrcpynA(data.szTip, icon.tip.c_str(), sizeof data.szTip);
    return data;
  }
  // The program's icon resources: 1 is the main icon, 2 the window's own
  // (the main one where the program has none; the system's, which is
  // shared, where it has neither), at the size of two system metrics.
  // `owned` tells whether the caller is to free it.
  HICON ProgramIcon(TTrayIconImage image, int widthMetric, int heightMetric, UINT flags,
                    bool& owned) const {
    const int width = GetSystemMetrics(widthMetric);
    const int height = GetSystemMetrics(heightMetric);
    auto load = [&](HINSTANCE from, LPCSTR name, UINT how) {
      return static_cast<HICON>(
          platform::win32::systemCalls().loadImage(from, name, IMAGE_ICON, width, height, how));
    };
    owned = !(flags & LR_SHARED);
    HICON icon =
        image == TTrayIconImage::Window ? load(instance_, MAKEINTRESOURCEA(2), flags) : nullptr;
    if (!icon)
      icon = load(instance_, MAKEINTRESOURCEA(1), flags);
    if (icon)
      return icon;
    owned = false;
    return load(nullptr, reinterpret_cast<LPCSTR>(IDI_APPLICATION), LR_SHARED);
  }
  // The large icon is shared: loaded once by the system, never freed.
  HICON LargeIcon(TTrayIconImage image) const {
    bool owned = false;
    return ProgramIcon(image, SM_CXICON, SM_CYICON, LR_SHARED, owned);
  }
  // A shared icon is the image first loaded of its resource, whatever size
  // is asked for later (Windows keeps one per resource): the small one is
  // loaded apart, once, and kept until the backend ends.
  HICON SmallIcon(TTrayIconImage image) {
    auto kept = smallIcons_.find(image);
    if (kept == smallIcons_.end()) {
      bool owned = false;
      HICON icon = ProgramIcon(image, SM_CXSMICON, SM_CYSMICON, 0, owned);
      kept = smallIcons_.emplace(image, KeptIcon(icon, owned)).first;
    }
    return kept->second.get();
  }
  // A program that runs elevated hears nothing from programs of a lower
  // integrity level, the shell among them, but what it lets through: the
  // shell's word that its task bar is new (and has lost the icons), and the
  // icon's callback message, which brings its mouse messages and a later
  // instance's request to show the window.
  void HearFromLowerIntegrity(HWND window, UINT callbackMessage) const {
    for (HWND hwnd : {window, application_}) {
      for (UINT message : {taskbarCreated_, callbackMessage}) {
        if (hwnd && message)
          platform::win32::systemCalls().changeWindowMessageFilterEx(hwnd, message, MSGFLT_ALLOW,
                                                                     nullptr);
      }
    }
  }
  HWND ParentWindow(TWinControl* parent) const;
  TControl* ControlOf(HWND hwnd) const;

  void CreateNative(TControl& control);
  void CreateChildren(TWinControl& parent);
  void ForgetNative(const TControl& control);
  void ForgetTree(TWinControl& parent);
  void DestroyNative(TControl& control);

  void ApplyFont(TControl& control, Native& native);
  void ApplyEnabled(TControl& control);
  void FillCombo(TComboBox& combo, Native& native);
  void BuildTabs(TPageControl& pages, Native& native);
  void PlaceNative(TControl& control, HWND hwnd);
  void BuildRadios(TRadioGroup& group, Native& native);
  void CheckRadios(TRadioGroup& group, Native& native);
  void UpdateStatusBar(TStatusBar& bar, Native& native);
  void UpdateTool(TControl& control);

  HBRUSH Brush(COLORREF color);
  TColor BackgroundOf(const TControl& control) const;
  // Control notifications, colours and owner drawing, sent to a form or a container.
  bool HandleCommon(UINT msg, WPARAM wParam, LPARAM lParam, LRESULT& result);
  void PaintImage(TImage& image, HDC dc, const RECT& rect);
  void PaintContainer(TWinControl& control, HWND hwnd);
  bool HandleKey(TControl& control, WPARAM key);

  HINSTANCE instance_;
  HWND application_ = nullptr;
  // Registered once; the shell sends it to every top-level window.
  UINT taskbarCreated_ = RegisterWindowMessageA("TaskbarCreated");
  std::set<std::string> classes_;
  std::map<TTrayIconImage, KeptIcon> smallIcons_;
  std::unordered_map<const TControl*, Native> natives_;
  std::unordered_map<HWND, TControl*> controls_;
  std::unordered_map<HWND, int> radioIndex_;
  std::unordered_map<const TForm*, FormNative> forms_;
  std::map<COLORREF, HBRUSH> brushes_;
  std::string hintText_;
  bool swallowChar_ = false;
};

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

// ---------------------------------------------------------------- forms

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

void Win32Backend::RunModal(TForm& form) {
  HWND self = FormWindow(form);
  HWND active = GetActiveWindow();
  struct Others {
    HWND self;
    std::vector<HWND> windows;
  } others{self, {}};
  EnumThreadWindows(
      GetCurrentThreadId(),
      [](HWND hwnd, LPARAM data) -> BOOL {
        auto* list = reinterpret_cast<Others*>(data);
        if (hwnd != list->self && IsWindowVisible(hwnd) && IsWindowEnabled(hwnd)) {
          list->windows.push_back(hwnd);
        }
        return TRUE;
      },
      reinterpret_cast<LPARAM>(&others));
  for (HWND hwnd : others.windows)
    EnableWindow(hwnd, FALSE);
  auto enableAgain = [&] {
    for (HWND hwnd : others.windows) {
      if (IsWindow(hwnd))
        EnableWindow(hwnd, TRUE);
    }
    if (active && IsWindow(active) && active != self)
      SetActiveWindow(active);
  };
  try {
    form.ModalLoop();
  } catch (...) {
    enableAgain();
    throw;
  }
  enableAgain();
}

TPoint Win32Backend::NonClientSize(const TForm& form) {
  DWORD style = 0;
  DWORD exStyle = 0;
  FormStyles(form, style, exStyle);
  RECT rect{0, 0, 0, 0};
  AdjustWindowRectEx(&rect, style, FALSE, exStyle);
  return TPoint{rect.right - rect.left, rect.bottom - rect.top};
}

// The application's window owns the other forms' windows: closing it as the
// system would (destroying it) would take them along. A close request to it
// closes the main form instead, which ends the program in order.
LRESULT CALLBACK Win32Backend::ApplicationProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
  if (msg == WM_CLOSE) {
    Guarded([] {
      if (TForm* main = Application().MainForm())
        main->Close();
    });
    return 0;
  }
  return DefWindowProcA(hwnd, msg, wParam, lParam);
}

LRESULT CALLBACK Win32Backend::FormProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
  if (msg == WM_NCCREATE) {
    auto* create = reinterpret_cast<CREATESTRUCTA*>(lParam);
    SetWindowLongPtrA(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(create->lpCreateParams));
    if (current)
      current->forms_[static_cast<TForm*>(create->lpCreateParams)].hwnd = hwnd;
  }
  auto* form = reinterpret_cast<TForm*>(GetWindowLongPtrA(hwnd, GWLP_USERDATA));
  if (!form || !current)
    return DefWindowProcA(hwnd, msg, wParam, lParam);
  TMessage message{msg, wParam, lParam, 0};
  bool failed = false;
  Guarded([&] {
    try {
      form->WndProc(message);
    } catch (...) {
      failed = true;
      throw;
    }
  });
  if (failed)
    return DefWindowProcA(hwnd, msg, wParam, lParam);
  return message.Result;
}

void Win32Backend::DefaultHandler(TForm& form, TMessage& message) {
  HWND hwnd = FormWindow(form);
  const UINT msg = message.Msg;
  const WPARAM wParam = message.WParam;
  const LPARAM lParam = message.LParam;
  if (!hwnd) {
    message.Result = 0;
    return;
  }
  LRESULT result = 0;
  if (HandleCommon(msg, wParam, lParam, result)) {
    message.Result = result;
    return;
  }
  switch (msg) {
    case WM_ERASEBKGND: {
      RECT rect;
      GetClientRect(hwnd, &rect);
      FillRect(reinterpret_cast<HDC>(wParam), &rect, Brush(ToColorRef(form.Color())));
      message.Result = 1;
      return;
    }
    case WM_ACTIVATE:
      if (LOWORD(wParam) == WA_INACTIVE) {
        form.Deactivate();
      } else {
        form.Activate();
      }
      break;
    case WM_KEYDOWN:
      if (!HandleKey(form, wParam)) {
        message.Result = 0;
        return;
      }
      break;
    case WM_CHAR:
      if (swallowChar_) {
        swallowChar_ = false;
        message.Result = 0;
        return;
      }
      break;
    case WM_MOUSEMOVE:
      form.MouseMove(MouseShift(wParam), LowSigned(lParam), HighSigned(lParam));
      break;
    case WM_LBUTTONUP:
      // A click on the form's own background (its controls take theirs).
      form.Click();
      break;
    case WM_WINDOWPOSCHANGED: {
      RECT rect;
      if (!IsIconic(hwnd) && GetWindowRect(hwnd, &rect)) {
        NativeUpdate fromWindow(form);
        form.SetBounds(rect.left, rect.top, rect.right - rect.left, rect.bottom - rect.top);
      }
      break;
    }
    default:
      break;
  }
  message.Result = DefWindowProcA(hwnd, msg, wParam, lParam);
}

// ---------------------------------------------------------------- controls

void Win32Backend::CreateChildren(TWinControl& parent) {
  const std::vector<TControl*> children = parent.ControlList();
  for (TControl* child : children)
    CreateNative(*child);
}

void Win32Backend::CreateNative(TControl& control) {
  if (natives_.count(&control) || dynamic_cast<TForm*>(&control))
    return;
  HWND parent = ParentWindow(control.Parent());
  if (!parent)
    return;

  const char* windowClass = kContainerClass;
  DWORD style = WS_CHILD | WS_CLIPSIBLINGS;
  DWORD exStyle = 0;
  bool subclass = true;
  if (control.Visible())
    style |= WS_VISIBLE;
  if (!control.EffectiveEnabled())
    style |= WS_DISABLED;

  if (auto* button = dynamic_cast<TButton*>(&control)) {
    windowClass = "BUTTON";
    style |= WS_TABSTOP | (button->Default ? BS_DEFPUSHBUTTON : BS_PUSHBUTTON);
  } else if (dynamic_cast<TSpeedButton*>(&control)) {
    windowClass = "BUTTON";
    style |= BS_CHECKBOX | BS_PUSHLIKE;
  } else if (dynamic_cast<TCheckBox*>(&control)) {
    // Not an automatic box: the class library toggles it on BN_CLICKED.
    windowClass = "BUTTON";
    style |= WS_TABSTOP | BS_CHECKBOX;
  } else if (dynamic_cast<TComboBox*>(&control)) {
    windowClass = "COMBOBOX";
    style |= WS_TABSTOP | WS_VSCROLL | CBS_DROPDOWNLIST;
  } else if (dynamic_cast<TUpDown*>(&control)) {
    windowClass = UPDOWN_CLASSA;
    style |= UDS_ARROWKEYS | UDS_NOTHOUSANDS;
  } else if (dynamic_cast<TPageControl*>(&control)) {
    windowClass = WC_TABCONTROLA;
    style |= WS_TABSTOP | WS_CLIPCHILDREN;
  } else if (auto* label = dynamic_cast<TLabel*>(&control)) {
    windowClass = "STATIC";
    style |= SS_NOTIFY;
    switch (label->Alignment) {
      case taCenter:
        style |= SS_CENTER;
        break;
      case taRightJustify:
        style |= SS_RIGHT;
        break;
      case taLeftJustify:
        style |= label->WordWrap ? SS_LEFT : SS_LEFTNOWORDWRAP;
        break;
    }
  } else if (auto* edit = dynamic_cast<TEdit*>(&control)) {
    windowClass = "EDIT";
    style |= WS_TABSTOP | (edit->ReadOnly() ? ES_READONLY : 0);
    if (auto* memo = dynamic_cast<TMemo*>(edit)) {
      style |= ES_MULTILINE | ES_AUTOVSCROLL | (memo->VerticalScrollBar ? WS_VSCROLL : 0);
    } else {
      style |= ES_AUTOHSCROLL;
    }
    exStyle |= WS_EX_CLIENTEDGE;
  } else if (auto* rich = dynamic_cast<TRichEdit*>(&control)) {
    // A multi-line edit. It stays enabled: a disabled edit greys its text,
    // and read-only already keeps the user from changing it.
    windowClass = "EDIT";
    style &= ~static_cast<DWORD>(WS_DISABLED);
    style |= ES_MULTILINE | ES_AUTOVSCROLL | WS_VSCROLL | (rich->ReadOnly() ? ES_READONLY : 0);
    if (rich->BorderStyle != bsNone)
      exStyle |= WS_EX_CLIENTEDGE;
  } else if (dynamic_cast<TImage*>(&control)) {
    windowClass = "STATIC";
    style |= SS_OWNERDRAW | SS_NOTIFY;
  } else if (dynamic_cast<TStatusBar*>(&control)) {
    windowClass = STATUSCLASSNAMEA;
    style |= CCS_NOPARENTALIGN | CCS_NORESIZE | CCS_NODIVIDER;
  } else if (dynamic_cast<TWinControl*>(&control)) {
    // Panels, radio groups and windowed controls without a native kind of
    // their own: a container that paints itself and passes its children's
    // notifications on.
    style |= WS_CLIPCHILDREN;
    subclass = false;
  } else {
    return;  // a painting-only control without a native kind
  }

  HWND hwnd = CreateWindowExA(exStyle, windowClass, control.Caption().c_str(), style,
                              control.Left(), control.Top(), control.Width(), control.Height(),
                              parent, nullptr, instance_, nullptr);
  if (!hwnd)
    return;
  PlaceNative(control, hwnd);
  // Later siblings lie above earlier ones, as in the class library.
  SetWindowPos(hwnd, HWND_TOP, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
  Native& native = natives_[&control];
  native.hwnd = hwnd;
  controls_[hwnd] = &control;
  control.SetNativeHandle(reinterpret_cast<TWindowHandle>(hwnd));
  if (subclass) {
    SetPropA(hwnd, kOldProcProp,
             reinterpret_cast<HANDLE>(
                 SetWindowLongPtrA(hwnd, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&ChildProc))));
  }
  ApplyFont(control, native);

  if (auto* speed = dynamic_cast<TSpeedButton*>(&control)) {
    SendMessageA(hwnd, BM_SETCHECK, speed->Down() ? BST_CHECKED : BST_UNCHECKED, 0);
  } else if (auto* box = dynamic_cast<TCheckBox*>(&control)) {
    SendMessageA(hwnd, BM_SETCHECK, box->Checked() ? BST_CHECKED : BST_UNCHECKED, 0);
  } else if (auto* combo = dynamic_cast<TComboBox*>(&control)) {
    FillCombo(*combo, native);
  } else if (auto* upDown = dynamic_cast<TUpDown*>(&control)) {
    SendMessageA(hwnd, UDM_SETRANGE32, static_cast<WPARAM>(upDown->Min()), upDown->Max());
    SendMessageA(hwnd, UDM_SETPOS32, 0, upDown->Position());
  } else if (auto* pages = dynamic_cast<TPageControl*>(&control)) {
    BuildTabs(*pages, native);
  } else if (auto* edit = dynamic_cast<TEdit*>(&control)) {
    SendMessageA(hwnd, EM_LIMITTEXT, static_cast<WPARAM>(std::max(edit->MaxLength, 0)), 0);
  } else if (auto* bar = dynamic_cast<TStatusBar*>(&control)) {
    UpdateStatusBar(*bar, native);
  } else if (auto* group = dynamic_cast<TRadioGroup*>(&control)) {
    BuildRadios(*group, native);
  }
  UpdateTool(control);
  if (auto* windowed = dynamic_cast<TWinControl*>(&control))
    CreateChildren(*windowed);
}

void Win32Backend::ForgetNative(const TControl& control) {
  auto it = natives_.find(&control);
  if (it == natives_.end())
    return;
  Native& native = it->second;
  controls_.erase(native.hwnd);
  for (HWND radio : native.radios) {
    controls_.erase(radio);
    radioIndex_.erase(radio);
  }
  if (native.font)
    DeleteObject(native.font);
  natives_.erase(it);
}

void Win32Backend::ForgetTree(TWinControl& parent) {
  for (TControl* child : parent.ControlList()) {
    if (auto* windowed = dynamic_cast<TWinControl*>(child))
      ForgetTree(*windowed);
    ForgetNative(*child);
    child->SetNativeHandle(0);
  }
}

void Win32Backend::DestroyNative(TControl& control) {
  auto it = natives_.find(&control);
  if (it == natives_.end())
    return;
  HWND hwnd = it->second.hwnd;
  if (auto* windowed = dynamic_cast<TWinControl*>(&control))
    ForgetTree(*windowed);
  ForgetNative(control);
  control.SetNativeHandle(0);
  DestroyWindow(hwnd);  // and the windows of its children with it
}

void Win32Backend::ParentChanged(TControl& control) {
  if (dynamic_cast<TForm*>(&control))
    return;
  DestroyNative(control);
  CreateNative(control);
}

void Win32Backend::ControlDestroyed(TControl& control) {
  // Called from the control's destructor: only its TControl part is whole.
  auto it = natives_.find(&control);
  if (it == natives_.end())
    return;
  HWND hwnd = it->second.hwnd;
  ForgetNative(control);
  if (IsWindow(hwnd))
    DestroyWindow(hwnd);
}

void Win32Backend::ApplyFont(TControl& control, Native& native) {
  const TFont& font = control.Font();
  HFONT created = CreateFontA(
      font.Height, 0, 0, 0, (font.Style & fsBold) ? FW_BOLD : FW_NORMAL,
      (font.Style & fsItalic) ? TRUE : FALSE, (font.Style & fsUnderline) ? TRUE : FALSE,
      (font.Style & fsStrikeOut) ? TRUE : FALSE, DEFAULT_CHARSET, OUT_DEFAULT_PRECIS,
      CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY, DEFAULT_PITCH | FF_DONTCARE, font.Name.c_str());
  SendMessageA(native.hwnd, WM_SETFONT, reinterpret_cast<WPARAM>(created), TRUE);
  for (HWND radio : native.radios) {
    SendMessageA(radio, WM_SETFONT, reinterpret_cast<WPARAM>(created), TRUE);
  }
  if (native.font)
    DeleteObject(native.font);
  native.font = created;
}

void Win32Backend::ApplyEnabled(TControl& control) {
  auto it = natives_.find(&control);
  if (it != natives_.end() && !dynamic_cast<TRichEdit*>(&control))
    EnableWindow(it->second.hwnd, control.EffectiveEnabled() ? TRUE : FALSE);
  if (auto* windowed = dynamic_cast<TWinControl*>(&control)) {
    for (TControl* child : windowed->ControlList())
      ApplyEnabled(*child);
  }
}

// Where a control's window goes: its bounds, but a page fills its page
// control's display area as the native tabs measure it, and a drop-down list
// reserves room for its open list.
void Win32Backend::PlaceNative(TControl& control, HWND hwnd) {
  int left = control.Left();
  int top = control.Top();
  int width = control.Width();
  int height = control.Height();
  if (auto* page = dynamic_cast<TTabSheet*>(&control)) {
    auto tabs = page->PageControl() ? natives_.find(page->PageControl()) : natives_.end();
    if (tabs != natives_.end()) {
      RECT area;
      GetClientRect(tabs->second.hwnd, &area);
      SendMessageA(tabs->second.hwnd, TCM_ADJUSTRECT, FALSE, reinterpret_cast<LPARAM>(&area));
      left = area.left;
      top = area.top;
      width = area.right - area.left;
      height = area.bottom - area.top;
    }
  } else if (dynamic_cast<TComboBox*>(&control)) {
    height += kComboListHeight;
  }
  SetWindowPos(hwnd, nullptr, left, top, width, height, SWP_NOZORDER | SWP_NOACTIVATE);
}

void Win32Backend::FillCombo(TComboBox& combo, Native& native) {
  SendMessageA(native.hwnd, CB_RESETCONTENT, 0, 0);
  for (const std::string& item : combo.Items())
    SendMessageA(native.hwnd, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(item.c_str()));
  SendMessageA(native.hwnd, CB_SETCURSEL, static_cast<WPARAM>(combo.ItemIndex()), 0);
}

void Win32Backend::BuildTabs(TPageControl& pages, Native& native) {
  SendMessageA(native.hwnd, TCM_DELETEALLITEMS, 0, 0);
  for (int i = 0; i < pages.PageCount(); ++i) {
    std::string caption = pages.Pages(i)->Caption();
    TCITEMA item{};
    item.mask = TCIF_TEXT;
    item.pszText = caption.data();
    SendMessageA(native.hwnd, TCM_INSERTITEMA, static_cast<WPARAM>(i),
                 reinterpret_cast<LPARAM>(&item));
  }
  SendMessageA(native.hwnd, TCM_SETCURSEL, static_cast<WPARAM>(pages.ActivePageIndex()), 0);
  // The row of tabs may have grown or shrunk: the pages follow it.
  for (int i = 0; i < pages.PageCount(); ++i) {
    auto page = natives_.find(pages.Pages(i));
    if (page != natives_.end())
      PlaceNative(*pages.Pages(i), page->second.hwnd);
  }
}

// The file-open dialog on a thread of its own: the Explorer-style dialog
// needs a single-threaded apartment, and the main thread belongs to the
// multithreaded one (the OPC server's). The main thread keeps handling its
// timers and messages meanwhile, with the dialog's owner taking no input, as
// a modal dialog has it.
bool Win32Backend::ExecuteOpenDialog(TOpenDialog& dialog) {
  // What the dialog's thread works on. It outlives this call when the
  // program ends while the dialog is open.
  struct Browse {
    std::string filter;
    std::string initialDir;
    std::string title;
    std::vector<char> file = std::vector<char>(32768, '\0');
    OPENFILENAMEA request{};
    std::atomic<DWORD> thread{0};
    std::atomic<bool> chosen{false};
    std::atomic<bool> done{false};
  };
  auto browse = std::make_shared<Browse>();
  // The filter as the dialog wants it: each '|' a NUL, and two NULs at the end.
  browse->filter = dialog.Filter;
  std::replace(browse->filter.begin(), browse->filter.end(), '|', '\0');
  browse->filter.append(2, '\0');
  browse->initialDir = dialog.InitialDir;
  browse->title = dialog.Title;
  lstrcpynA(browse->file.data(), dialog.FileName.c_str(), static_cast<int>(browse->file.size()));
  HWND owner = GetActiveWindow();
  OPENFILENAMEA& request = browse->request;
  request.lStructSize = sizeof request;
  request.hwndOwner = owner;
  request.lpstrFilter = dialog.Filter.empty() ? nullptr : browse->filter.c_str();
  request.lpstrFile = browse->file.data();
  request.nMaxFile = static_cast<DWORD>(browse->file.size());
  request.lpstrInitialDir = browse->initialDir.empty() ? nullptr : browse->initialDir.c_str();
  request.lpstrTitle = browse->title.empty() ? nullptr : browse->title.c_str();
  // The program's working folder stays where it was.
  request.Flags = OFN_HIDEREADONLY | OFN_ENABLESIZING | OFN_EXPLORER | OFN_NOCHANGEDIR;

  const bool ownerTookInput = owner && IsWindowEnabled(owner);
  auto giveInputBack = [&] {
    if (ownerTookInput && IsWindow(owner)) {
      EnableWindow(owner, TRUE);
      SetActiveWindow(owner);
    }
  };
  if (ownerTookInput)
    EnableWindow(owner, FALSE);
  platform::EventLoop& loop = platform::MainLoop();
  try {
    platform::win32::StartInSingleThreadedApartment([browse, link = loop.Link()] {
      browse->thread = GetCurrentThreadId();
      browse->chosen = platform::win32::systemCalls().getOpenFileName(&browse->request) != FALSE;
      browse->done = true;
      link->Post([] {});  // the main thread looks again
    });
  } catch (...) {
    giveInputBack();
    throw;
  }
  loop.RunWhile([&browse] { return !browse->done; });
  if (!browse->done && browse->thread) {
    // The program ends: the dialog is cancelled, and its thread ends by itself.
    EnumThreadWindows(
        browse->thread,
        [](HWND hwnd, LPARAM) -> BOOL {
          PostMessageA(hwnd, WM_CLOSE, 0, 0);
          return TRUE;
        },
        0);
  }
  giveInputBack();
  if (!browse->done || !browse->chosen)
    return false;
  dialog.FileName = browse->file.data();
  return true;
}

void Win32Backend::BuildRadios(TRadioGroup& group, Native& native) {
  for (HWND radio : native.radios) {
    controls_.erase(radio);
    radioIndex_.erase(radio);
    DestroyWindow(radio);
  }
  native.radios.clear();

  const int width = group.Width();
  const int height = group.Height();
  const int count = static_cast<int>(group.Items().size());
  const int columns = std::max(group.Columns, 1);
  const int rows = std::max((count + columns - 1) / columns, 1);
  const int top = 16;
  const int rowHeight = std::max((height - top - 6) / rows, 1);
  const int columnWidth = std::max((width - 16) / columns, 1);
  for (int i = 0; i < count; ++i) {
    const int row = i % rows;
    const int column = i / rows;
    HWND radio = CreateWindowExA(0, "BUTTON", group.Items()[i].c_str(),
                                 WS_CHILD | WS_VISIBLE | WS_TABSTOP | BS_RADIOBUTTON,
                                 8 + column * columnWidth, top + row * rowHeight, columnWidth - 4,
                                 std::min(rowHeight, 20), native.hwnd, nullptr, instance_, nullptr);
    if (!radio)
      continue;
    SetWindowPos(radio, HWND_TOP, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
    SetPropA(radio, kOldProcProp,
             reinterpret_cast<HANDLE>(
                 SetWindowLongPtrA(radio, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&ChildProc))));
    native.radios.push_back(radio);
    controls_[radio] = &group;
    radioIndex_[radio] = i;
  }
  if (native.font) {
    for (HWND window : native.radios) {
      SendMessageA(window, WM_SETFONT, reinterpret_cast<WPARAM>(native.font), TRUE);
    }
  }
  CheckRadios(group, native);
}

void Win32Backend::CheckRadios(TRadioGroup& group, Native& native) {
  for (size_t i = 0; i < native.radios.size(); ++i) {
    const bool chosen = static_cast<int>(i) == group.ItemIndex();
    SendMessageA(native.radios[i], BM_SETCHECK, chosen ? BST_CHECKED : BST_UNCHECKED, 0);
  }
}

void Win32Backend::UpdateStatusBar(TStatusBar& bar, Native& native) {
  if (bar.SimplePanel()) {
    SendMessageA(native.hwnd, SB_SIMPLE, TRUE, 0);
    SendMessageA(native.hwnd, SB_SETTEXTA, SB_SIMPLEID,
                 reinterpret_cast<LPARAM>(bar.SimpleText().c_str()));
    return;
  }
  SendMessageA(native.hwnd, SB_SIMPLE, FALSE, 0);
  const TStatusPanels& panels = bar.Panels();
  const int count = std::max(panels.Count(), 1);
  // Right edges; the last panel reaches to the end, as in the class library.
  std::vector<int> edges;
  int position = 0;
  for (int i = 0; i + 1 < panels.Count(); ++i) {
    position += panels[i].Width();
    edges.push_back(position);
  }
  edges.push_back(-1);
  SendMessageA(native.hwnd, SB_SETPARTS, static_cast<WPARAM>(count),
               reinterpret_cast<LPARAM>(edges.data()));
  for (int i = 0; i < panels.Count(); ++i) {
    SendMessageA(native.hwnd, SB_SETTEXTA, static_cast<WPARAM>(i),
                 reinterpret_cast<LPARAM>(panels[i].Text().c_str()));
  }
}

void Win32Backend::UpdateTool(TControl& control) {
  TForm* form = control.ParentForm();
  auto formIt = form ? forms_.find(form) : forms_.end();
  auto nativeIt = natives_.find(&control);
  if (formIt == forms_.end() || !formIt->second.tooltip || nativeIt == natives_.end())
    return;
  TOOLINFOA tool{};
  tool.cbSize = TTTOOLINFOA_V2_SIZE;
  tool.uFlags = TTF_IDISHWND | TTF_SUBCLASS;
  tool.hwnd = formIt->second.hwnd;
  tool.uId = reinterpret_cast<UINT_PTR>(nativeIt->second.hwnd);
  tool.lpszText = LPSTR_TEXTCALLBACKA;
  SendMessageA(formIt->second.tooltip, TTM_DELTOOLA, 0, reinterpret_cast<LPARAM>(&tool));
  if (control.ShowHint() && !control.Hint().empty()) {
    SendMessageA(formIt->second.tooltip, TTM_ADDTOOLA, 0, reinterpret_cast<LPARAM>(&tool));
  }
}

void Win32Backend::Changed(TControl& control, TProperty property) {
  if (auto* form = dynamic_cast<TForm*>(&control)) {
    HWND hwnd = FormWindow(*form);
    if (!hwnd)
      return;
    switch (property) {
      case TProperty::Caption:
        SetWindowTextA(hwnd, form->Caption().c_str());
        break;
      case TProperty::Bounds:
        SetWindowPos(hwnd, nullptr, form->Left(), form->Top(), form->Width(), form->Height(),
                     SWP_NOZORDER | SWP_NOACTIVATE);
        break;
      case TProperty::Enabled:
        EnableWindow(hwnd, form->Enabled() ? TRUE : FALSE);
        break;
      case TProperty::Color:
        InvalidateRect(hwnd, nullptr, TRUE);
        break;
      default:
        break;
    }
    return;
  }
  auto it = natives_.find(&control);
  if (it == natives_.end())
    return;
  Native& native = it->second;
  HWND hwnd = native.hwnd;
  switch (property) {
    case TProperty::Caption:
      // A drop-down list shows its chosen item, not a text of its own.
      if (dynamic_cast<TComboBox*>(&control))
        break;
      SetWindowTextA(hwnd, control.Caption().c_str());
      InvalidateRect(hwnd, nullptr, TRUE);
      break;
    case TProperty::Bounds:
      PlaceNative(control, hwnd);
      if (auto* group = dynamic_cast<TRadioGroup*>(&control))
        BuildRadios(*group, native);
      if (auto* pages = dynamic_cast<TPageControl*>(&control))
        BuildTabs(*pages, native);
      break;
    case TProperty::Visible:
      ShowWindow(hwnd, control.Visible() ? SW_SHOWNA : SW_HIDE);
      break;
    case TProperty::Enabled:
      ApplyEnabled(control);
      break;
    case TProperty::Checked:
      if (auto* box = dynamic_cast<TCheckBox*>(&control))
        SendMessageA(hwnd, BM_SETCHECK, box->Checked() ? BST_CHECKED : BST_UNCHECKED, 0);
      break;
    case TProperty::Position:
      if (auto* upDown = dynamic_cast<TUpDown*>(&control)) {
        SendMessageA(hwnd, UDM_SETRANGE32, static_cast<WPARAM>(upDown->Min()), upDown->Max());
        SendMessageA(hwnd, UDM_SETPOS32, 0, upDown->Position());
      }
      break;
    case TProperty::Focus: {
      TForm* form = control.ParentForm();
      HWND formWindow = form ? FormWindow(*form) : nullptr;
      if (formWindow && IsWindowVisible(formWindow))
        ::SetFocus(hwnd);
      break;
    }
    case TProperty::Font:
      ApplyFont(control, native);
      InvalidateRect(hwnd, nullptr, TRUE);
      break;
    case TProperty::Color:
    case TProperty::Picture:
      InvalidateRect(hwnd, nullptr, TRUE);
      break;
    case TProperty::Hint:
      UpdateTool(control);
      break;
    case TProperty::ReadOnly:
      if (auto* edit = dynamic_cast<TEdit*>(&control)) {
        SendMessageA(hwnd, EM_SETREADONLY, edit->ReadOnly() ? TRUE : FALSE, 0);
      } else if (auto* rich = dynamic_cast<TRichEdit*>(&control)) {
        SendMessageA(hwnd, EM_SETREADONLY, rich->ReadOnly() ? TRUE : FALSE, 0);
      }
      break;
    case TProperty::Down:
      if (auto* speed = dynamic_cast<TSpeedButton*>(&control)) {
        SendMessageA(hwnd, BM_SETCHECK, speed->Down() ? BST_CHECKED : BST_UNCHECKED, 0);
      }
      break;
    case TProperty::Items:
      if (auto* group = dynamic_cast<TRadioGroup*>(&control))
        BuildRadios(*group, native);
      if (auto* combo = dynamic_cast<TComboBox*>(&control))
        FillCombo(*combo, native);
      if (auto* pages = dynamic_cast<TPageControl*>(&control))
        BuildTabs(*pages, native);
      break;
    case TProperty::ItemIndex:
      if (auto* group = dynamic_cast<TRadioGroup*>(&control))
        CheckRadios(*group, native);
      if (auto* combo = dynamic_cast<TComboBox*>(&control))
        SendMessageA(hwnd, CB_SETCURSEL, static_cast<WPARAM>(combo->ItemIndex()), 0);
      if (auto* pages = dynamic_cast<TPageControl*>(&control))
        SendMessageA(hwnd, TCM_SETCURSEL, static_cast<WPARAM>(pages->ActivePageIndex()), 0);
      break;
    case TProperty::Panels:
      if (auto* bar = dynamic_cast<TStatusBar*>(&control))
        UpdateStatusBar(*bar, native);
      break;
    default:
      break;
  }
}

// ---------------------------------------------------------------- messages

HBRUSH Win32Backend::Brush(COLORREF color) {
  auto it = brushes_.find(color);
  if (it != brushes_.end())
    return it->second;
  HBRUSH brush = CreateSolidBrush(color);
  brushes_.emplace(color, brush);
  return brush;
}

TColor Win32Backend::BackgroundOf(const TControl& control) const {
  auto* label = dynamic_cast<const TLabel*>(&control);
  const bool seeThrough = (label && label->Transparent) || dynamic_cast<const TImage*>(&control);
  if (seeThrough && control.Parent())
    return control.Parent()->Color();
  return control.Color();
}

bool Win32Backend::HandleKey(TControl& control, WPARAM key) {
  auto* windowed = dynamic_cast<TWinControl*>(&control);
  if (!windowed)
    windowed = control.ParentForm();
  if (!windowed)
    return true;
  const uint16_t left = windowed->KeyDown(static_cast<uint16_t>(key), KeyShift());
  if (left == 0) {
    swallowChar_ = true;  // its character message is on its way already
    return false;
  }
  return true;
}

// Control notifications and colours, for forms and containers alike; false for
// any other message.
bool Win32Backend::HandleCommon(UINT msg, WPARAM wParam, LPARAM lParam, LRESULT& result) {
  switch (msg) {
    case WM_COMMAND: {
      HWND child = reinterpret_cast<HWND>(lParam);
      TControl* control = child ? ControlOf(child) : nullptr;
      if (!control)
        return false;
      const WORD code = HIWORD(wParam);
      result = 0;
      if (auto* group = dynamic_cast<TRadioGroup*>(control);
          group && child != natives_[group].hwnd) {
        if (code == BN_CLICKED)
          group->ClickItem(radioIndex_[child]);
      } else if (auto* edit = dynamic_cast<TEdit*>(control)) {
        if (code == EN_CHANGE) {
          NativeUpdate typed(*edit);
          edit->SetText(WindowText(child));
        }
      } else if (dynamic_cast<TButton*>(control) || dynamic_cast<TSpeedButton*>(control) ||
                 dynamic_cast<TCheckBox*>(control)) {
        if (code == BN_CLICKED)
          control->Click();
      } else if (auto* combo = dynamic_cast<TComboBox*>(control)) {
        if (code == CBN_SELCHANGE) {
          const int index = static_cast<int>(SendMessageA(child, CB_GETCURSEL, 0, 0));
          NativeUpdate chosen(*combo);
          combo->SelectItem(index);
        }
      } else if (code == STN_CLICKED) {
        control->Click();
      }
      return true;
    }
    case WM_CTLCOLORSTATIC:
    case WM_CTLCOLOREDIT:
    case WM_CTLCOLORBTN: {
      TControl* control = ControlOf(reinterpret_cast<HWND>(lParam));
      if (!control)
        return false;
      HDC dc = reinterpret_cast<HDC>(wParam);
      const COLORREF background = ToColorRef(BackgroundOf(*control));
      SetTextColor(dc, ToColorRef(control->Font().Color));
      SetBkColor(dc, background);
      result = reinterpret_cast<LRESULT>(Brush(background));
      return true;
    }
    case WM_DRAWITEM: {
      auto* item = reinterpret_cast<DRAWITEMSTRUCT*>(lParam);
      auto* image = dynamic_cast<TImage*>(ControlOf(item->hwndItem));
      if (!image)
        return false;
      PaintImage(*image, item->hDC, item->rcItem);
      result = TRUE;
      return true;
    }
    case WM_NOTIFY: {
      auto* header = reinterpret_cast<NMHDR*>(lParam);
      if (header->code == TCN_SELCHANGE) {
        auto* pages = dynamic_cast<TPageControl*>(ControlOf(header->hwndFrom));
        if (!pages)
          return false;
        const int index = static_cast<int>(SendMessageA(header->hwndFrom, TCM_GETCURSEL, 0, 0));
        NativeUpdate chosen(*pages);
        pages->SelectTab(index);
        result = 0;
        return true;
      }
      if (header->code == UDN_DELTAPOS) {
        auto* upDown = dynamic_cast<TUpDown*>(ControlOf(header->hwndFrom));
        if (!upDown)
          return false;
        const int delta = reinterpret_cast<NMUPDOWN*>(lParam)->iDelta;
        if (delta != 0)
          upDown->ClickButton(delta > 0 ? btNext : btPrev);
        // The class library moved the position (or kept it): the native
        // control follows it rather than making a change of its own.
        result = 1;
        return true;
      }
      if (header->code != TTN_GETDISPINFOA)
        return false;
      auto* info = reinterpret_cast<NMTTDISPINFOA*>(lParam);
      TControl* control = ControlOf(reinterpret_cast<HWND>(header->idFrom));
      std::string text;
      if (!control || !Application().HintFor(*control, text))
        text.clear();
      // The hint hook breaks lines with CR alone; the tooltip wants CR LF.
      hintText_.clear();
      for (size_t i = 0; i < text.size(); ++i) {
        hintText_ += text[i];
        if (text[i] == '\r' && (i + 1 >= text.size() || text[i + 1] != '\n'))
          hintText_ += '\n';
      }
      info->lpszText = hintText_.data();
      info->hinst = nullptr;
      result = 0;
      return true;
    }
    default:
      return false;
  }
}

void Win32Backend::PaintImage(TImage& image, HDC dc, const RECT& rect) {
  const COLORREF background = ToColorRef(BackgroundOf(image));
  FillRect(dc, &rect, Brush(background));
  const TBitmap& picture = image.Picture();
  if (picture.Empty())
    return;
  const int width = picture.Width();
  const int height = picture.Height();
  const TColor transparent = picture.TransparentColor();
  std::vector<uint32_t> bits(static_cast<size_t>(width) * height);
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width; ++x) {
      TColor color = picture.Pixel(x, y);
      if (image.Transparent() && color == transparent)
        color = background;
      bits[static_cast<size_t>(y) * width + x] =
          ((color & 0xFF) << 16) | (color & 0xFF00) | ((color >> 16) & 0xFF);
    }
  }
  BITMAPINFO info{};
  info.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
  info.bmiHeader.biWidth = width;
  info.bmiHeader.biHeight = -height;  // top row first
  info.bmiHeader.biPlanes = 1;
  info.bmiHeader.biBitCount = 32;
  info.bmiHeader.biCompression = BI_RGB;
  int x = rect.left;
  int y = rect.top;
  int drawWidth = width;
  int drawHeight = height;
  if (image.Stretch) {
    drawWidth = rect.right - rect.left;
    drawHeight = rect.bottom - rect.top;
  } else if (image.Center) {
    x += (rect.right - rect.left - width) / 2;
    y += (rect.bottom - rect.top - height) / 2;
  }
  StretchDIBits(dc, x, y, drawWidth, drawHeight, 0, 0, width, height, bits.data(), &info,
                DIB_RGB_COLORS, SRCCOPY);
}

void Win32Backend::PaintContainer(TWinControl& control, HWND hwnd) {
  PAINTSTRUCT paint;
  HDC dc = BeginPaint(hwnd, &paint);
  RECT rect;
  GetClientRect(hwnd, &rect);
  FillRect(dc, &rect, Brush(ToColorRef(control.Color())));
  auto it = natives_.find(&control);
  HGDIOBJ oldFont = nullptr;
  if (it != natives_.end() && it->second.font)
    oldFont = SelectObject(dc, it->second.font);
  SetTextColor(dc, ToColorRef(control.Font().Color));
  SetBkMode(dc, TRANSPARENT);
  if (dynamic_cast<TRadioGroup*>(&control) || dynamic_cast<TGroupBox*>(&control)) {
    // A group frame: an etched line half a text line down, the caption on it.
    TEXTMETRICA metrics{};
    GetTextMetricsA(dc, &metrics);
    RECT frame = rect;
    frame.top += metrics.tmHeight / 2;
    DrawEdge(dc, &frame, EDGE_ETCHED, BF_RECT);
    const std::string& caption = control.Caption();
    if (!caption.empty()) {
      SIZE size{};
      GetTextExtentPoint32A(dc, caption.c_str(), static_cast<int>(caption.size()), &size);
      RECT label{6, 0, 6 + size.cx + 4, metrics.tmHeight};
      FillRect(dc, &label, Brush(ToColorRef(control.Color())));
      label.left += 2;
      DrawTextA(dc, caption.c_str(), -1, &label, DT_LEFT | DT_TOP | DT_SINGLELINE);
    }
  }
  if (auto* panel = dynamic_cast<TPanel*>(&control)) {
    auto edge = [](TBevelCut cut, bool outer) -> UINT {
      switch (cut) {
        case bvLowered:
          return outer ? BDR_SUNKENOUTER : BDR_SUNKENINNER;
        case bvRaised:
          return outer ? BDR_RAISEDOUTER : BDR_RAISEDINNER;
        default:
          return 0;
      }
    };
    if (UINT outer = edge(panel->BevelOuter, true)) {
      DrawEdge(dc, &rect, outer, BF_RECT);
      InflateRect(&rect, -panel->BevelWidth, -panel->BevelWidth);
    }
    if (UINT inner = edge(panel->BevelInner, false)) {
      DrawEdge(dc, &rect, inner, BF_RECT);
      InflateRect(&rect, -panel->BevelWidth, -panel->BevelWidth);
    }
    if (!panel->Caption().empty()) {
      DrawTextA(dc, panel->Caption().c_str(), -1, &rect, DT_CENTER | DT_VCENTER | DT_SINGLELINE);
    }
  }
  if (oldFont)
    SelectObject(dc, oldFont);
  EndPaint(hwnd, &paint);
}

LRESULT CALLBACK Win32Backend::ContainerProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
  Win32Backend* self = current;
  auto* control = self ? dynamic_cast<TWinControl*>(self->ControlOf(hwnd)) : nullptr;
  if (!control)
    return DefWindowProcA(hwnd, msg, wParam, lParam);
  LRESULT result = 0;
  bool handled = false;
  Guarded([&] {
    if (self->HandleCommon(msg, wParam, lParam, result)) {
      handled = true;
      return;
    }
    switch (msg) {
      case WM_ERASEBKGND:
        handled = true;
        result = 1;
        break;
      case WM_PAINT:
        self->PaintContainer(*control, hwnd);
        handled = true;
        break;
      case WM_MOUSEMOVE:
        control->MouseMove(MouseShift(wParam), LowSigned(lParam), HighSigned(lParam));
        break;
      default:
        break;
    }
  });
  return handled ? result : DefWindowProcA(hwnd, msg, wParam, lParam);
}

LRESULT CALLBACK Win32Backend::ChildProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
  auto old = reinterpret_cast<WNDPROC>(GetPropA(hwnd, kOldProcProp));
  if (msg == WM_NCDESTROY)
    RemovePropA(hwnd, kOldProcProp);
  Win32Backend* self = current;
  TControl* control = self ? self->ControlOf(hwnd) : nullptr;
  if (control && msg == WM_LBUTTONDOWN) {
    // The control takes the press first (focus, capture); then the class
    // library's handler, which may move the focus and so cancel the click.
    const LRESULT result = old ? CallWindowProcA(old, hwnd, msg, wParam, lParam)
                               : DefWindowProcA(hwnd, msg, wParam, lParam);
    if (self->ControlOf(hwnd) == control) {
      Guarded([&] {
        control->MouseDown(mbLeft, MouseShift(wParam), LowSigned(lParam), HighSigned(lParam));
      });
    }
    return result;
  }
  if (control) {
    bool passOn = true;
    Guarded([&] {
      switch (msg) {
        case WM_SETFOCUS:
          if (auto* windowed = dynamic_cast<TWinControl*>(control)) {
            NativeUpdate focused(*windowed);
            windowed->SetFocus();
          }
          break;
        case WM_KEYDOWN:
          passOn = self->HandleKey(*control, wParam);
          break;
        case WM_CHAR:
          if (self->swallowChar_) {
            self->swallowChar_ = false;
            passOn = false;
          }
          break;
        case WM_MOUSEMOVE:
          control->MouseMove(MouseShift(wParam), LowSigned(lParam), HighSigned(lParam));
          break;
        case WM_LBUTTONDBLCLK:
          control->DblClick();
          break;
        default:
          break;
      }
    });
    if (!passOn)
      return 0;
  }
  return old ? CallWindowProcA(old, hwnd, msg, wParam, lParam)
             : DefWindowProcA(hwnd, msg, wParam, lParam);
}

// ---------------------------------------------------------------- menus

void Win32Backend::Popup(TPopupMenu& menu, int x, int y) {
  std::vector<TMenuItem*> commands;
  std::function<HMENU(TMenuItem&)> build = [&](TMenuItem& parent) {
    HMENU hmenu = CreatePopupMenu();
    for (int i = 0; i < parent.Count(); ++i) {
      TMenuItem* item = parent.Items(i);
      if (!item->Visible)
        continue;
      if (item->IsLine()) {
        AppendMenuA(hmenu, MF_SEPARATOR, 0, nullptr);
        continue;
      }
      UINT flags = MF_STRING;
      if (!item->Enabled)
        flags |= MF_GRAYED;
      if (item->Checked)
        flags |= MF_CHECKED;
      if (item->Count() > 0) {
        AppendMenuA(hmenu, flags | MF_POPUP, reinterpret_cast<UINT_PTR>(build(*item)),
                    item->Caption.c_str());
        continue;
      }
      commands.push_back(item);
      const UINT id = static_cast<UINT>(commands.size());
      AppendMenuA(hmenu, flags, id, item->Caption.c_str());
      if (item->Default)
        SetMenuDefaultItem(hmenu, id, FALSE);
    }
    return hmenu;
  };
  HMENU hmenu = build(*menu.Items());
  HWND owner = application_;
  if (auto* form = dynamic_cast<TForm*>(menu.Owner()))
    owner = reinterpret_cast<HWND>(form->Handle());
  // A menu of a hidden window closes when the user clicks elsewhere only
  // when that window is in the foreground.
  SetForegroundWindow(owner);
  const UINT chosen = static_cast<UINT>(TrackPopupMenu(
      hmenu, TPM_RETURNCMD | TPM_RIGHTBUTTON | TPM_LEFTALIGN, x, y, 0, owner, nullptr));
  PostMessageA(owner, WM_NULL, 0, 0);
  DestroyMenu(hmenu);
  if (chosen == 0 || chosen > commands.size())
    return;
  // The item may have gone while the menu was open: click it only when it is
  // still one of the menu's.
  TMenuItem* item = commands[chosen - 1];
  std::vector<TMenuItem*> now;
  std::function<void(TMenuItem&)> collect = [&](TMenuItem& parent) {
    for (int i = 0; i < parent.Count(); ++i) {
      now.push_back(parent.Items(i));
      collect(*parent.Items(i));
    }
  };
  collect(*menu.Items());
  if (std::find(now.begin(), now.end(), item) != now.end())
    item->Click();
}

}  // namespace

bool ShareForegroundInput(uint32_t ownThread, uint32_t foregroundThread, bool foregroundHung) {
  return foregroundThread != 0 && foregroundThread != ownThread && !foregroundHung;
}

std::unique_ptr<Backend> NewBackend() {
  return std::make_unique<Win32Backend>();
}

}  // namespace vcl::win32
