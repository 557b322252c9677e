// The class library's Win32 backend from the inside, shared by its parts:
// the class itself, what it keeps for each window, and the few names and
// helpers that more than one part needs. Only the Win32Backend*.cpp files
// include it; the rest of the program sees Win32Backend.h.
//
// The class library's headers come before <windows.h>, which defines several
// of their names (WM_CLOSE, VK_RETURN, PostMessage, ...) as macros. Below
// them, those names are Windows' own.
#pragma once

#include "platform/win32/vcl/Win32Backend.h"

#include <cstdint>
#include <map>
#include <set>
#include <string>
#include <unordered_map>
#include <vector>

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
// clang-format on

namespace vcl::win32::detail {

// The window class of panels, radio groups and other containers.
inline constexpr char kContainerClass[] = "TKorvaContainer";
// Where a subclassed control keeps the window procedure it had.
inline constexpr char kOldProcProp[] = "KorvaOldProc";

inline COLORREF ToColorRef(TColor color) {
  if ((color & 0xFF000000) == clSystemColor)
    return GetSysColor(static_cast<int>(color & 0xFF));
  return color & 0xFFFFFF;
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

  bool AddTrayIcon(TForm& form, const TrayIconData& icon) override;
  bool ModifyTrayIcon(TForm& form, const TrayIconData& icon) override;
  void RemoveTrayIcon(TForm& form, uint32_t id) override;

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
  // The tray icon and the program's icons (Win32BackendTray).
  static bool NotifyShell(DWORD what, NOTIFYICONDATAA& data);
  NOTIFYICONDATAA TrayData(const TForm& form, const TrayIconData& icon);
  HICON ProgramIcon(TTrayIconImage image, int widthMetric, int heightMetric, UINT flags,
                    bool& owned) const;
  HICON LargeIcon(TTrayIconImage image) const;
  HICON SmallIcon(TTrayIconImage image);
  void HearFromLowerIntegrity(HWND window, UINT callbackMessage) const;

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

// The backend installed; the window procedures, which Windows calls without
// it, find it here.
inline Win32Backend* current = nullptr;

}  // namespace vcl::win32::detail
