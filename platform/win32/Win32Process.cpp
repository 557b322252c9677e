// Programs started by the shell (from a single-threaded apartment) or by
// CreateProcessA, and the process scan of a Tool Help snapshot.
#include <windows.h>
// After windows.h, which they need.
#include <shellapi.h>
#include <tlhelp32.h>

#include "platform/Process.h"
#include "platform/win32/Win32Apartment.h"

namespace platform {
namespace {

// Closes a kernel handle with the scope.
class Handle {
 public:
  explicit Handle(HANDLE handle) : handle_(handle) {}
  ~Handle() {
    if (handle_ && handle_ != INVALID_HANDLE_VALUE)
      CloseHandle(handle_);
  }
  Handle(const Handle&) = delete;
  Handle& operator=(const Handle&) = delete;
  HANDLE get() const { return handle_; }
  bool valid() const { return handle_ && handle_ != INVALID_HANDLE_VALUE; }

 private:
  HANDLE handle_;
};

class Win32Processes final : public Processes {
 public:
  int ShellExecute(const std::string& verb, const std::string& file, const std::string& parameters,
                   const std::string& directory, int showCommand) override {
    HINSTANCE result = nullptr;
    win32::RunInSingleThreadedApartment([&] {
      result = ShellExecuteA(nullptr, verb.empty() ? nullptr : verb.c_str(), file.c_str(),
                             parameters.empty() ? nullptr : parameters.c_str(),
                             directory.empty() ? nullptr : directory.c_str(), showCommand);
    });
    return static_cast<int>(reinterpret_cast<INT_PTR>(result));
  }

  bool CreateProcess(const std::string& applicationName, const std::string& commandLine) override {
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION started{};
    std::string line = commandLine;  // the system may write into it
    if (!CreateProcessA(applicationName.c_str(), line.data(), nullptr, nullptr, TRUE,
                        NORMAL_PRIORITY_CLASS, nullptr, nullptr, &startup, &started))
      return false;
    // The program runs on its own; its handles are not ours to keep.
    CloseHandle(started.hThread);
    CloseHandle(started.hProcess);
    return true;
  }

  std::optional<std::vector<RunningProcess>> RunningProcesses() override {
    const Handle snapshot(CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
    if (!snapshot.valid())
      return std::nullopt;
    PROCESSENTRY32 entry{};
    entry.dwSize = sizeof entry;
    if (!Process32First(snapshot.get(), &entry))
      return std::nullopt;
    std::vector<RunningProcess> running;
    do {
      running.push_back(RunningProcess{
          entry.th32ProcessID, entry.th32ParentProcessID, {std::string(entry.szExeFile)}});
      entry.dwSize = sizeof entry;
    } while (Process32Next(snapshot.get(), &entry));
    return running;
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
  // Quoted: a path with blanks ("Program Files") is one parameter.
  return {"notepad.exe", "\"" + path + "\"", SystemDirectory()};
}

}  // namespace platform
