// Programs started by the shell (from a single-threaded apartment) or by
// CreateProcessA, and the process scan of a Tool Help snapshot.
#include "platform/win32/SystemCalls.h"
// After windows.h, which it needs.
#include <tlhelp32.h>

#include "platform/Process.h"
#include "platform/win32/Win32Apartment.h"

namespace platform {
namespace {

// The shell's number for a failure it reported only by its error code.
int ShellNumberOf(DWORD error) {
  switch (error) {
    case ERROR_FILE_NOT_FOUND:
      return SE_ERR_FNF;
    case ERROR_PATH_NOT_FOUND:
      return SE_ERR_PNF;
    case ERROR_ACCESS_DENIED:
    case ERROR_CANCELLED:  // the user declined the consent prompt
      return SE_ERR_ACCESSDENIED;
    case ERROR_NOT_ENOUGH_MEMORY:
    case ERROR_OUTOFMEMORY:
      return SE_ERR_OOM;
    case ERROR_BAD_FORMAT:
      return ERROR_BAD_FORMAT;
    case ERROR_NO_ASSOCIATION:
      return SE_ERR_NOASSOC;
    default:
      return kShellOutOfResources;
  }
}

// ShellExecuteExA, answered with ShellExecuteA's numbers. The start is made
// before the call returns, since the calling thread ends right after it and
// work the shell left to it would go with it; a failure comes back as a
// number, whose text the program shows itself, not in a box of the shell's.
int StartWithShell(const std::string& verb, const std::string& file, const std::string& parameters,
                   const std::string& directory, int showCommand) {
  SHELLEXECUTEINFOA start{};
  start.cbSize = sizeof start;
  start.fMask = SEE_MASK_NOASYNC | SEE_MASK_FLAG_NO_UI;
  start.lpVerb = verb.empty() ? nullptr : verb.c_str();
  start.lpFile = file.c_str();
  start.lpParameters = parameters.empty() ? nullptr : parameters.c_str();
  start.lpDirectory = directory.empty() ? nullptr : directory.c_str();
  start.nShow = showCommand;
  const bool started = win32::systemCalls().shellExecuteEx(&start) != FALSE;
  const DWORD error = GetLastError();
  const INT_PTR number = reinterpret_cast<INT_PTR>(start.hInstApp);
  if (started)
    return number > 32 ? static_cast<int>(number) : kShellStarted;
  return number > 0 && number <= 32 ? static_cast<int>(number) : ShellNumberOf(error);
}

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
    int result = kShellOutOfResources;
    win32::RunInSingleThreadedApartment(
        [&] { result = StartWithShell(verb, file, parameters, directory, showCommand); });
    return result;
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
