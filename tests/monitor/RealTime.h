// What the tests that run in real time stand on (POSIX only): the loop on the
// system's clock with bounded waits, and programs started as child processes
// (the module simulator, korvamon itself) with their input, output and end in
// the test's hands, and korvamon copied into a folder of its own. Every wait
// is bounded; only processes started here are ever signalled.
#pragma once

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "TestFolder.h"
#include "platform/EventLoop.h"

extern char** environ;

namespace korva_test {

// While it lives, the process-wide loop runs on the system's clock.
class ScopedNativeLoop {
 public:
  ScopedNativeLoop()
      : previous_(platform::ReplaceMainLoop(
            std::make_unique<platform::EventLoop>(platform::NewNativeWaiter()))) {}
  ~ScopedNativeLoop() { platform::ReplaceMainLoop(std::move(previous_)); }
  ScopedNativeLoop(const ScopedNativeLoop&) = delete;
  ScopedNativeLoop& operator=(const ScopedNativeLoop&) = delete;

  // Handles messages and timers until `done` holds, at most `ms`.
  static bool RunUntil(const std::function<bool()>& done, uint32_t ms) {
    platform::EventLoop& loop = platform::MainLoop();
    bool expired = false;
    const auto timer = loop.SetTimer(ms, [&] { expired = true; });
    loop.RunWhile([&] { return !done() && !expired; });
    loop.KillTimer(timer);
    return done();
  }

 private:
  std::unique_ptr<platform::EventLoop> previous_;
};

// A program built beside the running test program.
inline std::filesystem::path BuiltProgram(const std::string& name) {
  return std::filesystem::read_symlink("/proc/self/exe").parent_path() / name;
}

// How a child process starts: its arguments; its standard output goes to a
// pipe the test reads, or to the `output` file, which takes its standard error
// too; else that goes to `errors`. It inherits the test's environment.
struct ChildOptions {
  std::vector<std::string> arguments;
  std::string output;
  std::string errors = "/dev/null";
};

// A child process, its standard input a pipe the test writes. Letting go of
// it closes its input and gives it five seconds to end before it is killed.
class ChildProcess {
 public:
  using Options = ChildOptions;

  explicit ChildProcess(const std::filesystem::path& program, const Options& options = {}) {
    int input[2], output[2];
    if (pipe(input) != 0 || pipe(output) != 0)
      return;  // not started; a test that needs it fails
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, input[0], STDIN_FILENO);
    if (options.output.empty()) {
      posix_spawn_file_actions_adddup2(&actions, output[1], STDOUT_FILENO);
      posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, options.errors.c_str(),
                                       O_WRONLY | O_CREAT | O_TRUNC, 0600);
    } else {
      posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, options.output.c_str(),
                                       O_WRONLY | O_CREAT | O_TRUNC, 0600);
      posix_spawn_file_actions_adddup2(&actions, STDOUT_FILENO, STDERR_FILENO);
    }
    posix_spawn_file_actions_addclose(&actions, input[1]);
    posix_spawn_file_actions_addclose(&actions, output[0]);
    std::string path = program.string();
    std::vector<char*> argv = {path.data()};
    for (const std::string& argument : options.arguments)
      argv.push_back(const_cast<char*>(argument.c_str()));
    argv.push_back(nullptr);
    if (posix_spawn(&pid_, path.c_str(), &actions, nullptr, argv.data(), environ) != 0)
      pid_ = -1;
    posix_spawn_file_actions_destroy(&actions);
    close(input[0]);
    close(output[1]);
    input_ = input[1];
    output_ = output[0];
  }
  ~ChildProcess() {
    if (input_ >= 0)
      close(input_);
    if (output_ >= 0)
      close(output_);
    if (!Within(std::chrono::seconds(5), [this] { return !Running(); })) {
      kill(pid_, SIGKILL);
      waitpid(pid_, nullptr, 0);
    }
  }
  ChildProcess(const ChildProcess&) = delete;
  ChildProcess& operator=(const ChildProcess&) = delete;

  bool Started() const { return pid_ > 0; }
  bool Running() {
    if (pid_ <= 0 || status_)
      return false;
    int status = 0;
    if (waitpid(pid_, &status, WNOHANG) != pid_)
      return true;
    status_ = status;
    return false;
  }
  // Its exit code once it ended by itself within 15 s; `between` runs while it waits.
  std::optional<int> Ended(const std::function<void()>& between = {}) {
    if (!Within(
            std::chrono::seconds(15), [this] { return !Running(); }, between) ||
        !status_ || !WIFEXITED(*status_))
      return std::nullopt;
    return WEXITSTATUS(*status_);
  }
  void Signal(int signal) {
    if (Running())
      kill(pid_, signal);
  }

  // The next line of its output (empty when none came within five seconds).
  std::string ReadLine() {
    std::string line;
    char c = 0;
    pollfd fd{output_, POLLIN, 0};
    while (poll(&fd, 1, 5000) > 0 && read(output_, &c, 1) == 1 && c != '\n')
      line += c;
    return line;
  }
  // One line to its input, the line end added.
  bool Send(const std::string& line) {
    const std::string bytes = line + "\n";
    return write(input_, bytes.data(), bytes.size()) == static_cast<ssize_t>(bytes.size());
  }

  // Polls `done` until it holds or `bound` passes; `between` runs in each round.
  static bool Within(std::chrono::milliseconds bound, const std::function<bool()>& done,
                     const std::function<void()>& between = {}) {
    const auto deadline = std::chrono::steady_clock::now() + bound;
    while (!done()) {
      if (std::chrono::steady_clock::now() > deadline)
        return false;
      if (between)
        between();
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return true;
  }

 private:
  pid_t pid_ = -1;
  int input_ = -1;
  int output_ = -1;
  std::optional<int> status_;
};

// korvamon as installed: the built program and its language folders copied
// into a private folder, beside its own settings file; its lock files there too.
class ProgramCopy {
 public:
  ProgramCopy() {
    namespace fs = std::filesystem;
    const fs::path built = BuiltProgram("korvamon").parent_path();
    program_ = folder_.path() / "korvamon";
    fs::copy_file(built / "korvamon", program_);
    for (const char* language : {"DEU", "ENG", "FRA", "ITA"})
      fs::copy(built / language, folder_.path() / language, fs::copy_options::recursive);
    setenv("KORVA_LOCK_DIR", folder_.path().c_str(), 1);
  }
  ~ProgramCopy() { unsetenv("KORVA_LOCK_DIR"); }
  ProgramCopy(const ProgramCopy&) = delete;
  ProgramCopy& operator=(const ProgramCopy&) = delete;

  const TestFolder& folder() const { return folder_; }
  std::string Ini() const { return folder_.File("korvamon.INI"); }
  void Given(const std::string& ini) const { TestFolder::Put(Ini(), ini); }

  // Started with its standard output and error going to the file `outputName`.
  std::unique_ptr<ChildProcess> Run(const std::string& outputName,
                                    std::vector<std::string> arguments = {}) const {
    ChildOptions options;
    options.output = folder_.File(outputName);
    options.arguments = std::move(arguments);
    return std::make_unique<ChildProcess>(program_, options);
  }
  std::string Output(const std::string& outputName) const {
    return TestFolder::Get(folder_.File(outputName));
  }

 private:
  TestFolder folder_;
  std::filesystem::path program_;
};

}  // namespace korva_test
