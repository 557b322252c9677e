// Windows that take the input from the others. A modal form disables every
// other window of its thread while its loop runs, and gives them back even
// when the loop throws; the file-open dialog needs a single-threaded
// apartment, which the main thread cannot enter, so it runs on a thread of
// its own while the main loop goes on with its timers.
#include <algorithm>
#include <atomic>
#include <memory>
#include <string>
#include <vector>

#include "platform/EventLoop.h"
#include "platform/win32/Win32Apartment.h"
#include "platform/win32/vcl/Win32BackendImpl.h"

namespace vcl::win32::detail {

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

}  // namespace vcl::win32::detail
