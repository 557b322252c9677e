// A user's hand for the Windows program under Wine: waits for a window of a
// class to be shown, or closes it as its close box would (WM_CLOSE), tells
// whether a window is there at all, and whether a hot key is taken; presses a
// button of a window and moves its tabs on.
//
//   close_window wait   <class> <ms>     0 when a visible window of the class shows within
//                                        ms (and its program then waits for input)
//   close_window close  <class>          0 when WM_CLOSE was posted to one
//   close_window gone   <class> <ms>     0 when no window of the class is left within ms
//   close_window there  <class> <ms>     0 when a window of the class, shown or not, is there
//                                        within ms
//   close_window post   <class> <msg> <wParam> <lParam>
//                                        0 when the message was posted to one (numbers in
//                                        C notation: 0x8400)
//   close_window hidden <class> <ms>     0 when no window of the class shows within ms
//   close_window taken  Alt+<letter>     0 when another program holds that hot key
//   close_window click  <class> <text>   0 when the button with that text in a window of
//                                        the class was pressed (as its click notifies)
//   close_window tab    <class>          0 when the tabs in a window of the class were
//                                        moved on to the next page (the right arrow key)
//   close_window trayloss <class>        0 when the shell took tray icon 1 of a window of
//                                        the class away (as a shell that restarts loses it)
//   close_window taskbar                 0 when every top-level window heard that the
//                                        shell's task bar is new ("TaskbarCreated")
//   close_window endsession <class>      0 when a window of the class answered the end
//                                        of the session (WM_QUERYENDSESSION, then
//                                        WM_ENDSESSION as the restart manager sends it)
//   close_window text   <class>          0 when a window of the class is there; prints the
//                                        texts of its static controls (a message box's
//                                        message), one a line
#include <windows.h>
// After windows.h, which it needs.
#include <shellapi.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

bool Visible(const char* windowClass) {
  HWND window = FindWindowA(windowClass, nullptr);
  return window && IsWindowVisible(window);
}

// Lets the window's program finish what it does (painting) until it waits for input.
void WaitUntilIdle(const char* windowClass, DWORD ms) {
  DWORD processId = 0;
  GetWindowThreadProcessId(FindWindowA(windowClass, nullptr), &processId);
  if (HANDLE process = OpenProcess(SYNCHRONIZE | PROCESS_QUERY_INFORMATION, FALSE, processId)) {
    WaitForInputIdle(process, ms);
    CloseHandle(process);
  }
}

template <class Condition>
bool Within(DWORD ms, Condition condition) {
  const ULONGLONG deadline = GetTickCount64() + ms;
  for (;;) {
    if (condition())
      return true;
    if (GetTickCount64() >= deadline)
      return false;
    Sleep(100);
  }
}

// The first window below `parent` of `childClass` (and, when given, with that text).
HWND FindDescendant(HWND parent, const char* childClass, const char* text) {
  struct Search {
    const char* childClass;
    const char* text;
    HWND found;
  } search{childClass, text, nullptr};
  EnumChildWindows(
      parent,
      [](HWND child, LPARAM data) -> BOOL {
        auto* wanted = reinterpret_cast<Search*>(data);
        char name[64] = {};
        GetClassNameA(child, name, sizeof name);
        if (lstrcmpiA(name, wanted->childClass) != 0)
          return TRUE;
        char caption[256] = {};
        GetWindowTextA(child, caption, sizeof caption);
        if (wanted->text && std::strcmp(caption, wanted->text) != 0)
          return TRUE;
        wanted->found = child;
        return FALSE;
      },
      reinterpret_cast<LPARAM>(&search));
  return search.found;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 2 && std::strcmp(argv[1], "taskbar") == 0)
    return PostMessageA(HWND_BROADCAST, RegisterWindowMessageA("TaskbarCreated"), 0, 0) ? 0 : 1;
  if (argc < 3) {
    std::fprintf(stderr, "usage: close_window <command> <class or key> [ms or text]\n");
    return 2;
  }
  const char* command = argv[1];
  const char* windowClass = argv[2];
  const DWORD ms = argc > 3 ? static_cast<DWORD>(std::strtoul(argv[3], nullptr, 10)) : 0;
  if (std::strcmp(command, "wait") == 0) {
    if (!Within(ms, [&] { return Visible(windowClass); }))
      return 1;
    WaitUntilIdle(windowClass, ms);
    return 0;
  }
  if (std::strcmp(command, "hidden") == 0)
    return Within(ms, [&] { return !Visible(windowClass); }) ? 0 : 1;
  if (std::strcmp(command, "click") == 0) {
    if (argc < 4)
      return 2;
    // The button's notification to its parent, as a click sends it: it
    // works whether or not the window is in the foreground.
    HWND button = FindDescendant(FindWindowA(windowClass, nullptr), "Button", argv[3]);
    return button && PostMessageA(GetParent(button), WM_COMMAND,
                                  MAKEWPARAM(GetDlgCtrlID(button), BN_CLICKED),
                                  reinterpret_cast<LPARAM>(button))
               ? 0
               : 1;
  }
  if (std::strcmp(command, "tab") == 0) {
    HWND tabs = FindDescendant(FindWindowA(windowClass, nullptr), "SysTabControl32", nullptr);
    return tabs && PostMessageA(tabs, WM_KEYDOWN, VK_RIGHT, 1) &&
                   PostMessageA(tabs, WM_KEYUP, VK_RIGHT, 0xC0000001)
               ? 0
               : 1;
  }
  if (std::strcmp(command, "there") == 0)
    return Within(ms, [&] { return FindWindowA(windowClass, nullptr) != nullptr; }) ? 0 : 1;
  if (std::strcmp(command, "post") == 0) {
    if (argc < 6)
      return 2;
    HWND window = FindWindowA(windowClass, nullptr);
    return window && PostMessageA(window, static_cast<UINT>(std::strtoul(argv[3], nullptr, 0)),
                                  std::strtoul(argv[4], nullptr, 0),
                                  static_cast<LPARAM>(std::strtol(argv[5], nullptr, 0)))
               ? 0
               : 1;
  }
  if (std::strcmp(command, "gone") == 0)
    return Within(ms, [&] { return FindWindowA(windowClass, nullptr) == nullptr; }) ? 0 : 1;
  if (std::strcmp(command, "taken") == 0) {
    if (std::strncmp(windowClass, "Alt+", 4) != 0 || std::strlen(windowClass) != 5)
      return 2;
    const UINT key = static_cast<unsigned char>(windowClass[4]);
    if (!RegisterHotKey(nullptr, 1, MOD_ALT, key))
      return 0;
    UnregisterHotKey(nullptr, 1);
    return 1;
  }
  if (std::strcmp(command, "trayloss") == 0) {
    NOTIFYICONDATAA icon{};
    icon.cbSize = sizeof icon;
    icon.hWnd = FindWindowA(windowClass, nullptr);
    icon.uID = 1;
    return icon.hWnd && Shell_NotifyIconA(NIM_DELETE, &icon) ? 0 : 1;
  }
  if (std::strcmp(command, "endsession") == 0) {
    HWND window = FindWindowA(windowClass, nullptr);
    DWORD_PTR answer = 0;
    constexpr LPARAM kCloseApp = 0x1;  // ENDSESSION_CLOSEAPP
    return window &&
                   SendMessageTimeoutA(window, WM_QUERYENDSESSION, 0, kCloseApp, SMTO_NORMAL, 10000,
                                       &answer) &&
                   SendMessageTimeoutA(window, WM_ENDSESSION, TRUE, kCloseApp, SMTO_NORMAL, 10000,
                                       &answer)
               ? 0
               : 1;
  }
  if (std::strcmp(command, "close") == 0) {
    HWND window = FindWindowA(windowClass, nullptr);
    return window && PostMessageA(window, WM_CLOSE, 0, 0) ? 0 : 1;
  }
  if (std::strcmp(command, "text") == 0) {
    HWND window = FindWindowA(windowClass, nullptr);
    if (!window)
      return 1;
    EnumChildWindows(
        window,
        [](HWND child, LPARAM) -> BOOL {
          char name[64] = {};
          GetClassNameA(child, name, sizeof name);
          char text[4096] = {};
          if (lstrcmpiA(name, "Static") == 0 && GetWindowTextA(child, text, sizeof text) > 0)
            std::printf("%s\n", text);
          return TRUE;
        },
        0);
    return 0;
  }
  std::fprintf(stderr, "close_window: unknown command %s\n", command);
  return 2;
}
