// korvatray on real windows and the real service manager (Windows build,
// under Wine): its icon is there, and after the first second its tip is the
// English text of an unknown state, for Wine has no "Service_Korva".
#ifdef _WIN32

#include <gtest/gtest.h>

#include <memory>
#include <optional>

#include "platform/EventLoop.h"
#include "platform/win32/vcl/Win32Backend.h"
#include "tray/Tray.h"
#include "vcl/Forms.h"

// clang-format off
#include <windows.h>
#include <shellapi.h>
// clang-format on

namespace {

bool ShellHasIcon(HWND hwnd) {
  NOTIFYICONDATAA data{};
  data.cbSize = sizeof data;
  data.hWnd = hwnd;
  data.uID = tray::kTrayIconId;
  return Shell_NotifyIconA(NIM_MODIFY, &data);
}

TEST(TrayWin32Test, TheIconTellsTheUnknownStateInEnglish) {
  auto loop =
      platform::ReplaceMainLoop(std::make_unique<platform::EventLoop>(platform::NewNativeWaiter()));
  auto backend = vcl::win32::NewBackend();
  vcl::Backend* previous = vcl::SetBackend(backend.get());
  std::optional<vcl::ScopedApplication> application(std::in_place);
  std::ostream* echo = tray::SetTipEcho(nullptr);

  tray::CreateProgramWindows();
  HWND hwnd = reinterpret_cast<HWND>(tray::KorvaTray->Handle());
  EXPECT_TRUE(ShellHasIcon(hwnd));
  EXPECT_FALSE(IsWindowVisible(hwnd));
  platform::MainLoop().RunFor(1500);
  EXPECT_EQ(tray::KorvaTray->TrayIcon->Tip, "KORVA service: state unknown or not installed");
  EXPECT_EQ(tray::KorvaTray->mnuShow->Caption, "Show window");
  EXPECT_TRUE(ShellHasIcon(hwnd));

  tray::EndProgram();
  EXPECT_FALSE(ShellHasIcon(hwnd));

  tray::SetTipEcho(echo);
  application.reset();
  vcl::SetBackend(previous == &vcl::Headless() ? nullptr : previous);
  backend.reset();
  platform::ReplaceMainLoop(std::move(loop));
}

}  // namespace

#endif
