// The module simulator (korvasim, built beside the test programs) as a child
// process: the test writes its commands and reads the path of its terminal.
// Closing its input ends it; one that does not end in time is killed.
// POSIX only.
#pragma once

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

extern char** environ;

namespace korva_test {

class KorvasimProcess {
 public:
  // Where the build puts it: beside the running test program.
  static std::filesystem::path Program() {
    return std::filesystem::read_symlink("/proc/self/exe").parent_path() / "korvasim";
  }

  // Its standard error goes to `errors` (a file path), or nowhere.
  explicit KorvasimProcess(const std::string& errors = "/dev/null") {
    int input[2];
    int output[2];
    if (pipe(input) != 0)
      return;
    if (pipe(output) != 0) {
      close(input[0]);
      close(input[1]);
      return;
    }
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, input[0], 0);
    posix_spawn_file_actions_adddup2(&actions, output[1], 1);
    posix_spawn_file_actions_addopen(&actions, 2, errors.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                     0644);
    posix_spawn_file_actions_addclose(&actions, input[1]);
    posix_spawn_file_actions_addclose(&actions, output[0]);
    std::string path = Program().string();
    std::vector<char*> argv = {path.data(), nullptr};
    if (posix_spawn(&pid_, path.c_str(), &actions, nullptr, argv.data(), environ) != 0)
      pid_ = -1;
    posix_spawn_file_actions_destroy(&actions);
    close(input[0]);
    close(output[1]);
    input_ = input[1];
    output_ = output[0];
  }
  ~KorvasimProcess() {
    if (input_ >= 0)
      close(input_);
    if (output_ >= 0)
      close(output_);
    if (pid_ <= 0)
      return;
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (waitpid(pid_, nullptr, WNOHANG) != pid_) {
      if (std::chrono::steady_clock::now() > end) {
        kill(pid_, SIGKILL);
        waitpid(pid_, nullptr, 0);
        return;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
  }
  KorvasimProcess(const KorvasimProcess&) = delete;
  KorvasimProcess& operator=(const KorvasimProcess&) = delete;

  bool Started() const { return pid_ > 0; }

  // The first line of its output: its terminal's path (empty when none came
  // within five seconds).
  std::string TerminalPath() {
    std::string line;
    char c = 0;
    pollfd fd{output_, POLLIN, 0};
    while (poll(&fd, 1, 5000) > 0 && read(output_, &c, 1) == 1 && c != '\n')
      line += c;
    return line;
  }

  // One command line ("frame TEXT", "silence", "quit"), without its line end.
  bool Send(const std::string& command) {
    const std::string line = command + "\n";
    return write(input_, line.data(), line.size()) == static_cast<ssize_t>(line.size());
  }

 private:
  pid_t pid_ = -1;
  int input_ = -1;
  int output_ = -1;
};

}  // namespace korva_test
