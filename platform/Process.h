// Starting a program the way the shell's "open" does: a file, its parameters
// and a working directory, answered with the shell's numbers (above 32 when
// the program was started, else the reason). Tests install a recording
// stand-in, so nothing is started by them unless they mean it.
#pragma once

#include <cstdint>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "platform/Services.h"

// The Windows headers make ShellExecute and CreateProcess macros; here they
// are the methods' names.
#ifdef ShellExecute
#undef ShellExecute
#endif
#ifdef CreateProcess
#undef CreateProcess
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

// One process of a scan: its id, its parent's, and the names its program
// file goes by (Windows: the snapshot's file name; POSIX, where programs have
// no extension: its name and its program file's, each also with ".exe").
struct RunningProcess {
  uint32_t id = 0;
  uint32_t parentId = 0;
  std::vector<std::string> names;
};

class Processes {
 public:
  virtual ~Processes() = default;
  // Starts `file` with the verb `verb` ("" is the default verb, "open").
  // A file without a folder is looked for in `directory`, which becomes the
  // program's working directory. Returns once the program is started (or
  // not); it runs on its own. That may take as long as the shell needs (a
  // consent prompt, a share that does not answer): call it off the main
  // thread. Windows: ShellExecuteExA in a single-threaded apartment, the
  // start made before it returns. POSIX: posix_spawn of an executable file, never
  // through a shell; the names are resolved without regard to case and with
  // '\\' as a separator; `parameters` are split at blanks, double quotes
  // group; a missing file gives 2, a missing folder 3, a file that cannot be
  // executed 5, a verb other than the default 31.
  virtual int ShellExecute(const std::string& verb, const std::string& file,
                           const std::string& parameters, const std::string& directory,
                           int showCommand) = 0;

  // Starts the program file `applicationName` with `commandLine`, whose first
  // word names the program again, as CreateProcessA does: handles inherited,
  // normal priority, the caller's environment and working directory. False
  // when it could not be started. POSIX: posix_spawn, never through a shell;
  // the file's name resolved without regard to case, and when it ends in
  // ".exe" and names no file, tried without the extension; the command line
  // split at blanks, double quotes grouping; the child is reaped.
  virtual bool CreateProcess(const std::string& applicationName,
                             const std::string& commandLine) = 0;

  // The processes running now (Windows: a Tool Help snapshot; POSIX: /proc,
  // a process that ends during the scan left out). Nothing when the system
  // refused the scan.
  virtual std::optional<std::vector<RunningProcess>> RunningProcesses() = 0;
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

// The folder of the system's own programs and libraries, without a closing
// separator (Windows: GetSystemDirectoryA, empty when unknown; POSIX:
// "/usr/bin").
std::string SystemDirectory();

// A start as ShellExecute takes it.
struct ShellCall {
  std::string file;
  std::string parameters;
  std::string directory;
};
// Opens the text file at `path` in the user's editor. Windows: notepad.exe
// in the system folder with the path, quoted, as its parameters. POSIX: the program
// VISUAL names, else EDITOR, else xdg-open (its first word; a name without a
// folder is looked for on PATH), its other words, then the path as one last
// parameter.
ShellCall TextEditorCall(const std::string& path);

// Starts nothing: records every request and answers with `result`; its
// scan finds the processes a test lists.
class RecordingProcesses final : public Processes {
 public:
  struct Creation {
    std::string applicationName;
    std::string commandLine;
  };
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

  bool CreateProcess(const std::string& applicationName, const std::string& commandLine) override {
    std::lock_guard lock(mutex_);
    creations_.push_back(Creation{applicationName, commandLine});
    return true;
  }

  std::optional<std::vector<RunningProcess>> RunningProcesses() override {
    std::lock_guard lock(mutex_);
    return running_;
  }
  // Processes of these names run (nothing: the scan fails).
  void SetRunning(std::optional<std::vector<std::string>> names) {
    std::lock_guard lock(mutex_);
    if (!names) {
      running_.reset();
      return;
    }
    running_.emplace();
    for (std::string& name : *names)
      running_->push_back(RunningProcess{static_cast<uint32_t>(running_->size() + 100), 1, {name}});
  }
  std::vector<Creation> creations() const {
    std::lock_guard lock(mutex_);
    return creations_;
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
    creations_.clear();
  }

 private:
  mutable std::mutex mutex_;
  std::vector<Request> requests_;
  std::vector<Creation> creations_;
  std::optional<std::vector<RunningProcess>> running_{std::in_place};
  int result_ = kShellStarted;
};

}  // namespace platform
