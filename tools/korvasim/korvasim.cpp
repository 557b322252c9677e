// korvasim: plays the UPS module on a pseudo-terminal. It prints the device
// path of its terminal on the first line of its standard output, then repeats
// its status frame at the pace of 9600 baud 8N1, switches frames on a script
// or on commands from its standard input, and records what it receives.
// It ends on "quit" and when its standard input ends.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <fstream>
#include <optional>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "Commands.h"

namespace korvasim {
namespace {

using Clock = std::chrono::steady_clock;

// 9600 baud, 10 bits a byte: 960 bytes a second, written 16 at a time.
constexpr uint64_t kBytesPerSecond = 960;
constexpr size_t kChunkBytes = 16;
// The module at rest: not buffering, buffer ready, input in order.
constexpr char kRestingFrame[] = "*****\r\nBUFRD\r\nDC_OK\r\n";

void Say(const std::string& text) {
  std::fprintf(stderr, "korvasim: %s\n", text.c_str());
  std::fflush(stderr);
}

uint64_t MsSince(Clock::time_point start, Clock::time_point now) {
  return static_cast<uint64_t>(
      std::chrono::duration_cast<std::chrono::milliseconds>(now - start).count());
}

class Descriptor {
 public:
  explicit Descriptor(int fd = -1) : fd_(fd) {}
  ~Descriptor() {
    if (fd_ >= 0)
      ::close(fd_);
  }
  Descriptor(Descriptor&& other) noexcept : fd_(std::exchange(other.fd_, -1)) {}
  Descriptor& operator=(Descriptor&& other) noexcept {
    std::swap(fd_, other.fd_);
    return *this;
  }
  int get() const { return fd_; }

 private:
  int fd_;
};

// The pseudo-terminal: the module's end (the master) and a kept-open device
// end, so the terminal stays raw and never hangs up between the program's opens.
struct Terminal {
  Descriptor master;
  Descriptor keeper;
  std::string path;
};

std::optional<Terminal> OpenTerminal() {
  Terminal terminal{
      Descriptor(posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC)), Descriptor(), {}};
  const int master = terminal.master.get();
  if (master < 0 || grantpt(master) != 0 || unlockpt(master) != 0)
    return std::nullopt;
  const char* path = ptsname(master);
  if (!path)
    return std::nullopt;
  terminal.path = path;
  terminal.keeper = Descriptor(::open(path, O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC));
  termios settings{};
  if (terminal.keeper.get() < 0 || tcgetattr(terminal.keeper.get(), &settings) != 0)
    return std::nullopt;
  cfmakeraw(&settings);
  cfsetispeed(&settings, B9600);
  cfsetospeed(&settings, B9600);
  if (tcsetattr(terminal.keeper.get(), TCSANOW, &settings) != 0)
    return std::nullopt;
  return terminal;
}

// The frame being sent and the pace of sending it.
class Stream {
 public:
  explicit Stream(Clock::time_point now) { Restart(now); }

  void Play(const std::string& frame, Clock::time_point now) {
    if (silent_) {
      frame_ = frame;
      position_ = 0;
      silent_ = false;
      Restart(now);
    } else {
      // A frame under way is finished first, as the module would.
      next_ = frame;
    }
  }
  void Silence() {
    silent_ = true;
    next_.reset();
  }

  // Writes what the pace allows by now; bytes the terminal cannot take
  // (nobody reads it) are dropped, as a line nobody listens to drops them.
  void Send(int master, Clock::time_point now) {
    if (silent_)
      return;
    const uint64_t allowed = MsSince(start_, now) * kBytesPerSecond / 1000;
    if (allowed > sent_ + kBytesPerSecond)  // far behind (a suspended process): no burst
      sent_ = allowed - kChunkBytes;
    while (sent_ + kChunkBytes <= allowed) {
      const std::string chunk = NextChunk();
      (void)::write(master, chunk.data(), chunk.size());
      sent_ += chunk.size();
    }
  }

  // When the next chunk is due; nothing while silent.
  std::optional<Clock::time_point> NextDue() const {
    if (silent_)
      return std::nullopt;
    return start_ + std::chrono::milliseconds((sent_ + kChunkBytes) * 1000 / kBytesPerSecond + 1);
  }

 private:
  void Restart(Clock::time_point now) {
    start_ = now;
    sent_ = 0;
  }

  std::string NextChunk() {
    std::string chunk;
    while (chunk.size() < kChunkBytes) {
      if (position_ == frame_.size()) {
        position_ = 0;
        if (next_) {
          frame_ = *next_;
          next_.reset();
        }
      }
      const size_t take = std::min(kChunkBytes - chunk.size(), frame_.size() - position_);
      chunk.append(frame_, position_, take);
      position_ += take;
    }
    return chunk;
  }

  std::string frame_ = kRestingFrame;
  std::optional<std::string> next_;
  size_t position_ = 0;
  bool silent_ = false;
  Clock::time_point start_;
  uint64_t sent_ = 0;
};

struct Options {
  std::optional<std::string> script;
  std::optional<std::string> record;
};

std::optional<Options> ParseOptions(int argc, char** argv) {
  Options options;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if ((arg == "--script" || arg == "--record") && i + 1 < argc)
      (arg == "--script" ? options.script : options.record) = argv[++i];
    else
      return std::nullopt;
  }
  return options;
}

std::optional<std::string> ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in)
    return std::nullopt;
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

class Simulator {
 public:
  Simulator(Terminal terminal, std::deque<TimedAction> script, int record)
      : terminal_(std::move(terminal)),
        script_(std::move(script)),
        record_(record),
        started_(Clock::now()),
        stream_(started_) {}

  int Run() {
    for (;;) {
      const Clock::time_point now = Clock::now();
      while (!script_.empty() && script_.front().afterMs <= MsSince(started_, now)) {
        const Action action = script_.front().action;
        script_.pop_front();
        if (!Apply(action, now))
          return 0;
      }
      stream_.Send(terminal_.master.get(), now);

      pollfd fds[2] = {{STDIN_FILENO, POLLIN, 0}, {terminal_.master.get(), POLLIN, 0}};
      if (poll(fds, 2, Timeout(now)) < 0 && errno != EINTR) {
        Say(std::string("poll failed: ") + std::strerror(errno));
        return 1;
      }
      if (fds[1].revents & POLLIN)
        Record();
      if (fds[0].revents & (POLLIN | POLLHUP | POLLERR)) {
        if (!ReadCommands())
          return 0;
      }
    }
  }

 private:
  // False for quit.
  bool Apply(const Action& action, Clock::time_point now) {
    switch (action.kind) {
      case Action::kQuit:
        return false;
      case Action::kSilence:
        stream_.Silence();
        break;
      case Action::kFrame:
        stream_.Play(action.frame, now);
        break;
    }
    return true;
  }

  int Timeout(Clock::time_point now) const {
    std::optional<Clock::time_point> due = stream_.NextDue();
    if (!script_.empty()) {
      const Clock::time_point scripted =
          started_ + std::chrono::milliseconds(script_.front().afterMs);
      due = due ? std::min(*due, scripted) : scripted;
    }
    if (!due)
      return -1;
    if (*due <= now)
      return 0;
    return static_cast<int>(std::chrono::ceil<std::chrono::milliseconds>(*due - now).count());
  }

  void Record() {
    char bytes[256];
    const ssize_t got = ::read(terminal_.master.get(), bytes, sizeof bytes);
    if (got <= 0)
      return;
    if (record_ >= 0)
      (void)::write(record_, bytes, static_cast<size_t>(got));
    Say("received \"" + EncodeBytes(std::string_view(bytes, static_cast<size_t>(got))) + "\"");
  }

  // False when the input ended or asked to quit.
  bool ReadCommands() {
    char bytes[512];
    const ssize_t got = ::read(STDIN_FILENO, bytes, sizeof bytes);
    if (got < 0)
      return errno == EINTR || errno == EAGAIN;
    if (got == 0)
      return false;
    pending_.append(bytes, static_cast<size_t>(got));
    for (size_t end; (end = pending_.find('\n')) != std::string::npos;) {
      const std::string line = pending_.substr(0, end);
      pending_.erase(0, end + 1);
      const Parsed<Action> command = ParseCommand(line);
      if (command.value) {
        if (!Apply(*command.value, Clock::now()))
          return false;
      } else if (!command.error.empty()) {
        Say("ignored \"" + EncodeBytes(line) + "\": " + command.error);
      }
    }
    if (pending_.size() > 4096) {
      Say("ignored a line longer than 4096 bytes");
      pending_.clear();
    }
    return true;
  }

  Terminal terminal_;
  std::deque<TimedAction> script_;
  int record_;
  std::string pending_;
  Clock::time_point started_;
  Stream stream_;
};

int Main(int argc, char** argv) {
  signal(SIGPIPE, SIG_IGN);
  const std::optional<Options> options = ParseOptions(argc, argv);
  if (!options) {
    std::fprintf(stderr, "usage: korvasim [--script FILE] [--record FILE]\n");
    return 2;
  }
  std::deque<TimedAction> script;
  if (options->script) {
    const std::optional<std::string> text = ReadFile(*options->script);
    if (!text) {
      Say("cannot read the script " + *options->script);
      return 2;
    }
    std::vector<std::string> errors;
    for (TimedAction& action : ParseScript(*text, errors))
      script.push_back(std::move(action));
    for (const std::string& error : errors)
      Say(*options->script + ", ignored " + error);
  }
  Descriptor record;
  if (options->record) {
    record = Descriptor(::open(options->record->c_str(),
                               O_WRONLY | O_CREAT | O_TRUNC | O_APPEND | O_CLOEXEC, 0644));
    if (record.get() < 0) {
      Say("cannot write the record " + *options->record + ": " + std::strerror(errno));
      return 2;
    }
  }
  std::optional<Terminal> terminal = OpenTerminal();
  if (!terminal) {
    Say(std::string("cannot open a pseudo-terminal: ") + std::strerror(errno));
    return 1;
  }
  std::printf("%s\n", terminal->path.c_str());
  std::fflush(stdout);
  return Simulator(std::move(*terminal), std::move(script), record.get()).Run();
}

}  // namespace
}  // namespace korvasim

int main(int argc, char** argv) {
  return korvasim::Main(argc, argv);
}
