// korvatray: the tray program's entry. The application and its window, which
// is never shown, are made; the message loop runs until the window closes
// (when the system asks the program to end, or its window is closed from
// outside); the end takes the tray icon away.
#include <memory>

#include "platform/System.h"
#include "tray/Tray.h"
#include "vcl/Backend.h"

#ifdef _WIN32
#include "platform/win32/vcl/Win32Backend.h"
#endif

int main() {
#ifdef _WIN32
  // The real tray icon and menu; installed before any window exists.
  const std::unique_ptr<vcl::Backend> windows = vcl::win32::NewBackend();
  vcl::SetBackend(windows.get());
#endif

  platform::OnTerminationRequest(&tray::CloseOnRequest);
  tray::CreateProgramWindows();
  tray::RunProgram();
  tray::EndProgram();

#ifdef _WIN32
  vcl::SetBackend(nullptr);
#endif
  return 0;
}
