// SIGTERM and SIGINT as the system's request to end the program (SIGTERM, what
// a system shutdown sends, as the end of the session). The handler only
// writes a byte to a pipe; a watcher thread turns it into a task on the main
// loop, so the program ends the way its own close command ends it.
#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>

#include "platform/EventLoop.h"
#include "platform/System.h"
#include "platform/TerminationRequest.h"
#include "platform/Thread.h"
#include "platform/posix/UniqueFd.h"

namespace platform {
namespace {

constexpr char kInterrupted = 'i';
constexpr char kTerminated = 't';
constexpr char kStop = 'q';

// Shared with the signal handler: lock-free atomics only.
std::atomic<int> wakeFd{-1};
static_assert(std::atomic<int>::is_always_lock_free);

extern "C" void OnTerminationSignal(int signal) {
  const int savedErrno = errno;
  if (termination::MarkPending()) {
    const int fd = wakeFd.load();
    if (fd >= 0) {
      const char byte = signal == SIGTERM ? kTerminated : kInterrupted;
      [[maybe_unused]] const ssize_t written = write(fd, &byte, 1);
    }
  }
  errno = savedErrno;
}

constexpr int kSignals[] = {SIGTERM, SIGINT};

class TerminationWatcher {
 public:
  TerminationWatcher() {
    int fds[2];
    if (pipe2(fds, O_CLOEXEC) != 0)
      return;
    readEnd_ = posix::UniqueFd(fds[0]);
    writeEnd_ = posix::UniqueFd(fds[1]);
    fcntl(writeEnd_.get(), F_SETFL, O_NONBLOCK);  // a handler must never block
    wakeFd.store(writeEnd_.get());
    thread_ = WorkerThread([this] { Watch(); });
    struct sigaction action {};
    action.sa_handler = OnTerminationSignal;
    action.sa_flags = SA_RESTART;
    sigemptyset(&action.sa_mask);
    for (int signal : kSignals)
      sigaction(signal, &action, nullptr);
    // A reader that went away (the history echo piped into a program that
    // ended) must cost a failed write, never the monitor itself.
    ::signal(SIGPIPE, SIG_IGN);
  }

  ~TerminationWatcher() {
    if (!writeEnd_)
      return;
    // Back to the default first, so no handler writes to a closed pipe.
    struct sigaction standard {};
    standard.sa_handler = SIG_DFL;
    sigemptyset(&standard.sa_mask);
    for (int signal : kSignals)
      sigaction(signal, &standard, nullptr);
    wakeFd.store(-1);
    [[maybe_unused]] const ssize_t written = write(writeEnd_.get(), &kStop, 1);
    thread_.Join();
  }

  TerminationWatcher(const TerminationWatcher&) = delete;
  TerminationWatcher& operator=(const TerminationWatcher&) = delete;

 private:
  void Watch() {
    for (;;) {
      char byte;
      const ssize_t n = read(readEnd_.get(), &byte, 1);
      if (n < 0 && errno == EINTR)
        continue;
      if (n <= 0 || byte == kStop)
        return;
      termination::PostPending(byte == kTerminated);
    }
  }

  posix::UniqueFd readEnd_;
  posix::UniqueFd writeEnd_;
  WorkerThread thread_;
};

}  // namespace

void OnTerminationRequest(std::function<void()> request) {
  // The main loop first: the watcher, made after it, is gone before it at exit.
  MainLoop();
  termination::SetRequest(std::move(request));
  static TerminationWatcher watcher;
}

void OnSessionEndRequest(std::function<void()> request) {
  termination::SetSessionEndRequest(std::move(request));
}

}  // namespace platform
