// Programs started by the shell.
#include <windows.h>
// After windows.h, which it needs.
#include <shellapi.h>

#include "platform/Process.h"

namespace platform {
namespace {

class Win32Processes final : public Processes {
 public:
  int ShellExecute(const std::string& verb, const std::string& file, const std::string& parameters,
                   const std::string& directory, int showCommand) override {
    HINSTANCE result = ShellExecuteA(nullptr, verb.empty() ? nullptr : verb.c_str(), file.c_str(),
                                     parameters.empty() ? nullptr : parameters.c_str(),
                                     directory.empty() ? nullptr : directory.c_str(), showCommand);
    return static_cast<int>(reinterpret_cast<INT_PTR>(result));
  }
};

}  // namespace

Processes& NativeProcesses() {
  static Win32Processes processes;
  return processes;
}

std::string SystemDirectory() {
  char buffer[MAX_PATH + 1];
  const UINT n = GetSystemDirectoryA(buffer, sizeof buffer);
  return n > 0 && n < sizeof buffer ? std::string(buffer, n) : std::string();
}

ShellCall TextEditorCall(const std::string& path) {
  return {"notepad.exe", path, SystemDirectory()};
}

}  // namespace platform
