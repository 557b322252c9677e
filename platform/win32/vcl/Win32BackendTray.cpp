// The tray icon and the program's icons. The shell is reached through the
// system calls' table, so that a test can stand in for it; the small icon is
// loaded apart from the shared cache, since the notification area and the
// title bar would otherwise get the large image shrunk. The forms' window
// classes take their icons from here too.
#include "platform/win32/vcl/Win32BackendImpl.h"

namespace vcl::win32::detail {

bool Win32Backend::AddTrayIcon(TForm& form, const TrayIconData& icon) {
  NOTIFYICONDATAA data = TrayData(form, icon);
  if (!data.hWnd)
    return false;
  HearFromLowerIntegrity(data.hWnd, icon.callbackMessage);
  return NotifyShell(NIM_ADD, data) || NotifyShell(NIM_MODIFY, data);
}

bool Win32Backend::ModifyTrayIcon(TForm& form, const TrayIconData& icon) {
  NOTIFYICONDATAA data = TrayData(form, icon);
  return data.hWnd && NotifyShell(NIM_MODIFY, data);
}

void Win32Backend::RemoveTrayIcon(TForm& form, uint32_t id) {
  NOTIFYICONDATAA data = TrayData(form, TrayIconData{id, 0, TTrayIconImage::Main, {}});
  if (data.hWnd)
    NotifyShell(NIM_DELETE, data);
}

bool Win32Backend::NotifyShell(DWORD what, NOTIFYICONDATAA& data) {
  return platform::win32::systemCalls().shellNotifyIcon(what, &data) != FALSE;
}

NOTIFYICONDATAA Win32Backend::TrayData(const TForm& form, const TrayIconData& icon) {
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
HICON Win32Backend::ProgramIcon(TTrayIconImage image, int widthMetric, int heightMetric, UINT flags,
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
HICON Win32Backend::LargeIcon(TTrayIconImage image) const {
  bool owned = false;
  return ProgramIcon(image, SM_CXICON, SM_CYICON, LR_SHARED, owned);
}

// A shared icon is the image first loaded of its resource, whatever size
// is asked for later (Windows keeps one per resource): the small one is
// loaded apart, once, and kept until the backend ends.
HICON Win32Backend::SmallIcon(TTrayIconImage image) {
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
void Win32Backend::HearFromLowerIntegrity(HWND window, UINT callbackMessage) const {
  for (HWND hwnd : {window, application_}) {
    for (UINT message : {taskbarCreated_, callbackMessage}) {
      if (hwnd && message)
        platform::win32::systemCalls().changeWindowMessageFilterEx(hwnd, message, MSGFLT_ALLOW,
                                                                   nullptr);
    }
  }
}

}  // namespace vcl::win32::detail
