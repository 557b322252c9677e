// The COM port component on a real terminal device: a pseudo-terminal stands
// in for COM1 (KORVA_COM1), its master end plays the module. Then the module
// simulator, started as a program, on its own pseudo-terminal. Linux only.
#ifdef __linux__

#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>
#include <vector>

#include "monitor/Serial.h"
#include "platform/EventLoop.h"
#include "vcl/VclTestEnvironment.h"

extern char** environ;

namespace {

using monitor::TSerial;
using monitor::WM_COMMEVENT;
namespace pf = platform;
namespace fs = std::filesystem;

const std::string kFrame = "*****\r\nALARM\r\nDC_OK\r\n";
constexpr uint32_t kWaitMs = 5000;

class EventSink : public vcl::TForm {
 public:
  explicit EventSink(vcl::TComponent* owner) : vcl::TForm(owner, "TEventSink") {}
  void WndProc(vcl::TMessage& message) override {
    if (message.Msg == WM_COMMEVENT)
      events.push_back(message.WParam);
    else
      vcl::TForm::WndProc(message);
  }
  std::vector<uintptr_t> events;
};

// Real time matters here: the loop runs on the system's clock.
class SerialPtyTest : public korva_test::VclTest {
 protected:
  SerialPtyTest() {
    virtualLoop_ = pf::ReplaceMainLoop(std::make_unique<pf::EventLoop>(pf::NewNativeWaiter()));
    master_ = posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK);
    if (master_ >= 0 && grantpt(master_) == 0 && unlockpt(master_) == 0)
      setenv("KORVA_COM1", ptsname(master_), 1);
    sink_ = vcl::Application().CreateForm<EventSink>();
    serial_ = new TSerial(sink_);
    serial_->OnError = [](vcl::TObject*) {};
    serial_->OnEventChar = [](vcl::TObject*) {};
    serial_->SetCOMPort(1);
  }
  void SetUp() override {
    if (master_ < 0)
      GTEST_SKIP() << "no pseudo-terminal here";
  }
  ~SerialPtyTest() override {
    vcl::Free(sink_);
    unsetenv("KORVA_COM1");
    if (master_ >= 0)
      close(master_);
    pf::ReplaceMainLoop(std::move(virtualLoop_));
  }

  // Handles messages until `done` holds, at most kWaitMs.
  bool RunUntil(const std::function<bool()>& done) {
    bool expired = false;
    const auto timer = loop().SetTimer(kWaitMs, [&] { expired = true; });
    loop().RunWhile([&] { return !done() && !expired; });
    loop().KillTimer(timer);
    return done();
  }
  // Lets real time pass in small steps until `done` holds, at most kWaitMs
  // (for what no message announces: a file written by another process).
  bool PollUntil(const std::function<bool()>& done) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(kWaitMs);
    while (!done() && std::chrono::steady_clock::now() < end)
      loop().RunFor(10);
    return done();
  }

  void WriteToPort(const std::string& bytes) {
    ASSERT_EQ(write(master_, bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
  }
  std::string ReadFromPort(size_t count) {
    std::string bytes;
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(kWaitMs);
    while (bytes.size() < count && std::chrono::steady_clock::now() < end) {
      pollfd fd{master_, POLLIN, 0};
      if (poll(&fd, 1, 100) > 0) {
        char chunk[256];
        const ssize_t got = read(master_, chunk, sizeof chunk);
        if (got > 0)
          bytes.append(chunk, static_cast<size_t>(got));
      }
    }
    return bytes;
  }

  int master_ = -1;
  EventSink* sink_ = nullptr;
  TSerial* serial_ = nullptr;

 private:
  std::unique_ptr<pf::EventLoop> virtualLoop_;
};

TEST_F(SerialPtyTest, FramesArriveAsEventCharacterPostsAndAreReadWhole) {
  ASSERT_TRUE(serial_->Open(true));
  WriteToPort(kFrame + kFrame + kFrame + kFrame);
  ASSERT_TRUE(RunUntil([&] { return !sink_->events.empty(); }));
  ASSERT_TRUE(RunUntil([&] { return serial_->InQueCount() == 84; }));
  for (uintptr_t event : sink_->events)
    EXPECT_EQ(event, pf::EV_RXFLAG);
  std::string text;
  serial_->ReadStr(text);
  EXPECT_EQ(text, kFrame + kFrame + kFrame + kFrame);
  EXPECT_EQ(serial_->InQueCount(), 0u);

  EXPECT_EQ(serial_->WriteStr("*R37F"), 5);
  EXPECT_EQ(ReadFromPort(5), "*R37F");
}

TEST_F(SerialPtyTest, TheInputQueueHoldsItsSizeAndReportsTheOverflow) {
  serial_->SetBufSizeRec(16);
  ASSERT_TRUE(serial_->Open(false));
  WriteToPort(std::string(40, 'x'));
  uint32_t errors = 0;
  ASSERT_TRUE(PollUntil([&] {
    const bool full = serial_->InQueCount() == 16;
    errors |= serial_->CommError();
    return full && errors != 0;
  }));
  EXPECT_EQ(errors, pf::CE_RXOVER);
  ASSERT_TRUE(serial_->Purge(pf::PURGE_RXCLEAR));
  EXPECT_EQ(serial_->InQueCount(), 0u);
}

TEST_F(SerialPtyTest, APortIsExclusiveAndARefusedRtsLevelClosesIt) {
  serial_->HandshakeRtsCts = false;
  ASSERT_TRUE(serial_->Open(true));
  auto second = vcl::Owned<TSerial>(new TSerial(nullptr));
  second->SetCOMPort(1);
  EXPECT_FALSE(second->Open(false));

  // A pseudo-terminal has no modem lines.
  EXPECT_FALSE(serial_->ToggleRTS());
  EXPECT_FALSE(serial_->Active());
  EXPECT_EQ(serial_->Handle(), -1);
  // Released: the other one gets it now.
  EXPECT_TRUE(second->Open(false));
}

TEST_F(SerialPtyTest, AHangUpEndsTheEventThreadQuietly) {
  ASSERT_TRUE(serial_->Open(true));
  close(master_);
  master_ = -1;
  std::string text;
  serial_->ReadStr(text);
  EXPECT_EQ(text, "");
  serial_->Close();
  EXPECT_FALSE(serial_->Active());
}

// The simulator as a child process with its standard input, output and error
// in our hands; ended with "quit", or killed when it does not end in time.
class Simulator {
 public:
  Simulator(const fs::path& program, const fs::path& folder) {
    int input[2];
    int output[2];
    if (pipe(input) != 0 || pipe(output) != 0)
      return;
    const std::string record = (folder / "record").string();
    const std::string errors = (folder / "stderr").string();
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, input[0], 0);
    posix_spawn_file_actions_adddup2(&actions, output[1], 1);
    posix_spawn_file_actions_addopen(&actions, 2, errors.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                     0644);
    posix_spawn_file_actions_addclose(&actions, input[1]);
    posix_spawn_file_actions_addclose(&actions, output[0]);
    std::string path = program.string();
    std::string recordOption = "--record";
    std::vector<char*> argv = {path.data(), recordOption.data(), const_cast<char*>(record.c_str()),
                               nullptr};
    if (posix_spawn(&pid_, path.c_str(), &actions, nullptr, argv.data(), environ) != 0)
      pid_ = -1;
    posix_spawn_file_actions_destroy(&actions);
    close(input[0]);
    close(output[1]);
    input_ = input[1];
    output_ = output[0];
  }
  ~Simulator() {
    if (input_ >= 0)
      close(input_);
    if (output_ >= 0)
      close(output_);
    if (pid_ > 0 && !Ended(kWaitMs)) {
      kill(pid_, SIGKILL);
      waitpid(pid_, nullptr, 0);
    }
  }

  // The first line of its output: the terminal's path.
  std::string FirstLine() {
    std::string line;
    char c = 0;
    pollfd fd{output_, POLLIN, 0};
    while (poll(&fd, 1, static_cast<int>(kWaitMs)) > 0 && read(output_, &c, 1) == 1 && c != '\n')
      line += c;
    return line;
  }
  void Send(const std::string& command) {
    ASSERT_EQ(write(input_, command.data(), command.size()), static_cast<ssize_t>(command.size()));
  }
  // Waits for the child to end on its own; true when it did.
  bool Ended(uint32_t ms) {
    for (uint32_t waited = 0; waited <= ms; waited += 10) {
      if (waitpid(pid_, &status_, WNOHANG) == pid_) {
        pid_ = -1;
        return true;
      }
      usleep(10'000);
    }
    return false;
  }
  int status() const { return status_; }

 private:
  pid_t pid_ = -1;
  int input_ = -1;
  int output_ = -1;
  int status_ = 0;
};

std::string FileText(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

TEST_F(SerialPtyTest, TheSimulatorPlaysTheModuleAndRecordsTheShutdownCommand) {
  const fs::path program = fs::read_symlink("/proc/self/exe").parent_path() / "korvasim";
  if (!fs::exists(program))
    GTEST_SKIP() << "korvasim is not built";
  char folderTemplate[] = "/tmp/korvasim-test-XXXXXX";
  ASSERT_NE(mkdtemp(folderTemplate), nullptr);
  const fs::path folder = folderTemplate;
  {
    Simulator simulator(program, folder);
    const std::string path = simulator.FirstLine();
    ASSERT_EQ(path.rfind("/dev/", 0), 0u) << path;
    setenv("KORVA_COM1", path.c_str(), 1);

    ASSERT_TRUE(serial_->Open(true));
    std::string received;
    auto receive = [&](const std::string& wanted) {
      return RunUntil([&] {
        if (serial_->InQueCount() >= 84) {
          std::string block;
          serial_->ReadStr(block);
          received += block;
        }
        return received.find(wanted) != std::string::npos;
      });
    };
    EXPECT_TRUE(receive("*****\r\nBUFRD\r\nDC_OK\r\n*****"));

    const std::string longFrame = "*BAT*\r\nBUFRD\r\nDC_LO\r\nBA<85\r\n";
    simulator.Send("frame *BAT*\\r\\nBUFRD\\r\\nDC_LO\\r\\nBA<85\\r\\n\n");
    simulator.Send("switch it off\n");
    EXPECT_TRUE(receive(longFrame + longFrame));

    EXPECT_EQ(serial_->WriteStr("*R37F"), 5);
    EXPECT_TRUE(PollUntil([&] { return FileText(folder / "record") == "*R37F"; }));
    simulator.Send("quit\n");
    EXPECT_TRUE(simulator.Ended(kWaitMs));
    EXPECT_TRUE(WIFEXITED(simulator.status()) && WEXITSTATUS(simulator.status()) == 0);
    serial_->Close();
  }
  const std::string errors = FileText(folder / "stderr");
  EXPECT_NE(errors.find("ignored \"switch it off\": unknown command"), std::string::npos) << errors;
  EXPECT_NE(errors.find("received \"*R37F\""), std::string::npos) << errors;
  fs::remove_all(folder);
}

}  // namespace

#endif  // __linux__
