// The reason a program with windows ends at once, where its starter sees it:
// its standard error when that was redirected, else the console of the
// program that started it (a command prompt), else a message box.
#include <windows.h>

#include "platform/MessageBoxes.h"
#include "platform/Services.h"
#include "platform/StarterMessage.h"

namespace platform {
namespace {

bool WriteAllTo(HANDLE handle, const std::string& text) {
  DWORD written = 0;
  return WriteFile(handle, text.data(), static_cast<DWORD>(text.size()), &written, nullptr) &&
         written == text.size();
}

// A handle that leads to a file, a pipe or a console.
bool Leads(HANDLE handle) {
  return handle != nullptr && handle != INVALID_HANDLE_VALUE &&
         GetFileType(handle) != FILE_TYPE_UNKNOWN;
}

// The console of the program that started this one, which a command prompt
// shows (after its prompt, where it did not wait). False where it had none.
bool WriteToStartersConsole(const std::string& text) {
  if (!AttachConsole(ATTACH_PARENT_PROCESS))
    return false;
  const HANDLE console = CreateFileA("CONOUT$", GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                     nullptr, OPEN_EXISTING, 0, nullptr);
  const bool written = console != INVALID_HANDLE_VALUE && WriteAllTo(console, text);
  if (console != INVALID_HANDLE_VALUE)
    CloseHandle(console);
  FreeConsole();
  return written;
}

}  // namespace

void TellStarter(const std::string& text, const std::string& caption) {
  const HANDLE errors = GetStdHandle(STD_ERROR_HANDLE);
  if (Leads(errors) && WriteAllTo(errors, text))
    return;
  if (WriteToStartersConsole(text))
    return;
  messageBoxes().Show(text, caption, kMbOk | kMbIconError);
}

}  // namespace platform
