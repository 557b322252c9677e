// Starting a program the way the shell's "open" does: a file, its parameters
// and a working directory, answered with the shell's numbers (above 32 when
// the program was started, else the reason). Tests install a recording
// stand-in, so nothing is started by them unless they mean it.
#pragma once

#include <mutex>
#include <string>
#include <vector>

#include "platform/Services.h"

// The Windows headers make ShellExecute a macro; here it is the method's name.
#ifdef ShellExecute
#undef ShellExecute
#endif

namespace platform {

// Show commands.
inline constexpr int kSwShowNormal = 1;

// The shell's result numbers; every number above 32 means success.
inline constexpr int kShellStarted = 42;
inline constexpr int kShellOutOfResources = 0;
inline constexpr int kShellFileNotFound = 2;
inline constexpr int kShellPathNotFound = 3;
inline constexpr int kShellAccessDenied = 5;
inline constexpr int kShellOutOfMemory = 8;
inline constexpr int kShellBadFormat = 11;
inline constexpr int kShellNoAssociation = 31;

class Processes {
 public:
  virtual ~Processes() = default;
  // Starts `file` with the verb `verb` ("" is the default verb, "open").
  // A file without a folder is looked for in `directory`, which becomes the
  // program's working directory. Returns at once; the program runs on its own.
  // Windows: ShellExecuteA. POSIX: posix_spawn of an executable file, never
  // through a shell; the names are resolved without regard to case and with
  // '\\' as a separator; `parameters` are split at blanks, double quotes
  // group; a missing file gives 2, a missing folder 3, a file that cannot be
  // executed 5, a verb other than the default 31.
  virtual int ShellExecute(const std::string& verb, const std::string& file,
                           const std::string& parameters, const std::string& directory,
                           int showCommand) = 0;
};

Processes& NativeProcesses();

template <>
inline Processes*& ScopedService<Processes>::Slot() {
  static Processes* installed = nullptr;
  return installed;
}

// The installed stand-in (a test's) or the system's.
inline Processes& processes() {
  Processes* installed = ScopedService<Processes>::Slot();
  return installed ? *installed : NativeProcesses();
}

// The folder of the system's own programs (Windows: GetSystemDirectoryA;
// POSIX: "/usr/bin").
std::string SystemDirectory();

// A start as ShellExecute takes it.
struct ShellCall {
  std::string file;
  std::string parameters;
  std::string directory;
};
// Opens the text file at `path` in the user's editor. Windows: notepad.exe
// in the system folder with the path as its parameters. POSIX: the program
// VISUAL names, else EDITOR, else xdg-open (its first word; a name without a
// folder is looked for on PATH), its other words, then the path as one last
// parameter.
ShellCall TextEditorCall(const std::string& path);

// Starts nothing: records every request and answers with `result`.
class RecordingProcesses final : public Processes {
 public:
  struct Request {
    std::string verb;
    std::string file;
    std::string parameters;
    std::string directory;
    int showCommand;
  };

  int ShellExecute(const std::string& verb, const std::string& file, const std::string& parameters,
                   const std::string& directory, int showCommand) override {
    std::lock_guard lock(mutex_);
    requests_.push_back(Request{verb, file, parameters, directory, showCommand});
    return result_;
  }

  void SetResult(int result) {
    std::lock_guard lock(mutex_);
    result_ = result;
  }
  std::vector<Request> requests() const {
    std::lock_guard lock(mutex_);
    return requests_;
  }
  void Clear() {
    std::lock_guard lock(mutex_);
    requests_.clear();
  }

 private:
  mutable std::mutex mutex_;
  std::vector<Request> requests_;
  int result_ = kShellStarted;
};

}  // namespace platform
