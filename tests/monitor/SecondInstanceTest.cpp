// korvamon as separate processes: the built program, copied with its language
// folders into a private folder with its own settings file and lock folder.
// A second start asks its question and ends at once, writing nothing; its Yes
// reaches the running instance; the running one ends cleanly when the system
// asks it to. Every wait is bounded, and only processes started here are
// ever signalled.
#ifndef _WIN32

#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <functional>
#include <optional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "IniTestFolder.h"
#include "TestEnvironment.h"
#include "platform/Files.h"
#include "platform/Instance.h"
#include "platform/NamedMutex.h"
#include "platform/Services.h"

extern char** environ;

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;
using korva_test::IniTestFolder;

constexpr auto kBound = std::chrono::seconds(15);

// The program and its language folders, as installed, beside the test program.
fs::path BuiltProgramFolder() {
  return fs::path(platform::files().ExecutablePath()).parent_path();
}

// Polls `done` until it holds or the bound passes; `between` runs in each round.
bool Within(const std::function<bool()>& done, const std::function<void()>& between = {}) {
  const auto deadline = Clock::now() + kBound;
  while (!done()) {
    if (Clock::now() > deadline)
      return false;
    if (between)
      between();
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  return true;
}

class Process {
 public:
  Process(const fs::path& program, const std::vector<std::string>& environment,
          const fs::path& output) {
    std::vector<char*> env;
    for (const std::string& entry : environment)
      env.push_back(const_cast<char*>(entry.c_str()));
    env.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, output.c_str(),
                                     O_WRONLY | O_CREAT | O_TRUNC, 0600);
    posix_spawn_file_actions_adddup2(&actions, STDOUT_FILENO, STDERR_FILENO);
    const std::string path = program.string();
    char* argv[] = {const_cast<char*>(path.c_str()), nullptr};
    if (posix_spawn(&pid_, path.c_str(), &actions, nullptr, argv, env.data()) != 0)
      pid_ = -1;
    posix_spawn_file_actions_destroy(&actions);
  }
  ~Process() {
    if (Running()) {
      kill(pid_, SIGKILL);
      waitpid(pid_, nullptr, 0);
    }
  }
  Process(const Process&) = delete;
  Process& operator=(const Process&) = delete;

  bool Started() const { return pid_ > 0; }
  bool Running() {
    if (pid_ <= 0 || status_)
      return false;
    int status = 0;
    if (waitpid(pid_, &status, WNOHANG) == pid_) {
      status_ = status;
      return false;
    }
    return true;
  }
  // The exit status once it ended by itself within the bound.
  std::optional<int> Ended(const std::function<void()>& between = {}) {
    if (!Within([this] { return !Running(); }, between) || !status_ || !WIFEXITED(*status_))
      return std::nullopt;
    return WEXITSTATUS(*status_);
  }
  void Signal(int signal) {
    if (Running())
      kill(pid_, signal);
  }

 private:
  pid_t pid_ = -1;
  std::optional<int> status_;
};

class SecondInstanceTest : public korva_test::VirtualTimeTest {
 protected:
  SecondInstanceTest() {
    const fs::path built = BuiltProgramFolder();
    program_ = folder_.path() / "korvamon";
    fs::copy_file(built / "korvamon", program_);
    for (const char* language : {"DEU", "ENG", "FRA", "ITA"})
      fs::copy(built / language, folder_.path() / language, fs::copy_options::recursive);
    for (char** entry = environ; *entry; ++entry) {
      if (std::string(*entry).rfind("KORVA_LOCK_DIR=", 0) != 0)
        environment_.push_back(*entry);
    }
    environment_.push_back("KORVA_LOCK_DIR=" + folder_.path().string());
    setenv("KORVA_LOCK_DIR", folder_.path().c_str(), 1);
  }
  ~SecondInstanceTest() override { unsetenv("KORVA_LOCK_DIR"); }

  void Given(const std::string& ini) { IniTestFolder::Put(Ini(), ini); }
  std::string Ini() const { return (folder_.path() / "korvamon.INI").string(); }
  fs::path Socket() const {
    return folder_.path() / ("DI-ZOD-" + std::to_string(getuid()) + ".sock");
  }

  std::unique_ptr<Process> Run(const std::string& outputName) {
    auto process = std::make_unique<Process>(program_, environment_, folder_.path() / outputName);
    EXPECT_TRUE(process->Started());
    return process;
  }
  std::string Output(const std::string& outputName) const {
    return IniTestFolder::Get((folder_.path() / outputName).string());
  }

  IniTestFolder folder_;
  fs::path program_;
  std::vector<std::string> environment_;
};

const std::string kFrenchQuestion =
    "korvamon: Une instance de KORVA-DI-ZOD est d\xC3\xA9j\xC3\xA0 en cours !\r\n"
    "Le d\xC3\xA9marrage de plusieurs instances de cette application n'est pas permissible.\r\n"
    "\r\nAfficher instance en cours ?\n";
const std::string kEnglishQuestion =
    "korvamon: An instance of KORVA-DI-ZOD already is running !\r\n"
    "The application cannot be started repeatedly.\r\n\r\nShow running instance ?\n";

TEST_F(SecondInstanceTest, ASecondProgramAsksEndsAndWritesNothingWhileTheFirstRunsOn) {
  Given("[CHECK]\r\nLanguage=f\r\n");
  auto first = Run("first.out");
  // Up once it listens for later instances and has written its history path.
  ASSERT_TRUE(Within([&] {
    return fs::exists(Socket()) &&
           IniTestFolder::Get(Ini()).find("HistoryPath") != std::string::npos;
  })) << Output("first.out");
  const std::string settings = IniTestFolder::Get(Ini());

  auto second = Run("second.out");
  EXPECT_EQ(second->Ended(), 0);
  EXPECT_EQ(Output("second.out"), kFrenchQuestion);
  EXPECT_EQ(IniTestFolder::Get(Ini()), settings);
  EXPECT_TRUE(first->Running());
  // The first one shows nothing but its history lines on its output.
  std::istringstream firstOutput(Output("first.out"));
  for (std::string line; std::getline(firstOutput, line);)
    EXPECT_TRUE(line.size() >= 22 && line[0] == '[' && line[21] == '\t') << line;

  first->Signal(SIGTERM);
  EXPECT_EQ(first->Ended(), 0);
  EXPECT_FALSE(fs::exists(Socket()));
}

TEST_F(SecondInstanceTest, TheSecondProgramsYesAsksTheRunningOneToShowItsWindow) {
  // This test plays the running instance: it holds the mutex and listens.
  const platform::NamedMutex running = platform::NamedMutex::Create("KORVA-MUTEX");
  ASSERT_FALSE(running.alreadyExisted());
  struct Request {
    std::string formClass;
    uint32_t msg;
    uintptr_t wParam;
    intptr_t lParam;
  };
  std::vector<Request> requests;
  const auto listener = platform::InstanceRequests::Listen(
      "DI-ZOD", [&](const std::string& formClass, uint32_t msg, uintptr_t wParam, intptr_t lParam) {
        requests.push_back({formClass, msg, wParam, lParam});
      });
  ASSERT_TRUE(listener);
  Given("[CHECK]\r\nLanguage=english\r\n");
  const std::string settings = IniTestFolder::Get(Ini());

  auto second = Run("second.out");
  EXPECT_EQ(second->Ended([&] { loop().ProcessMessages(); }), 0);
  loop().ProcessMessages();
  EXPECT_EQ(Output("second.out"), kEnglishQuestion);
  ASSERT_EQ(requests.size(), 1u);
  EXPECT_EQ(requests[0].formClass, "TfrmKorvamon");
  EXPECT_EQ(requests[0].msg, 0x8400u);
  EXPECT_EQ(requests[0].wParam, 0x100u);
  EXPECT_EQ(requests[0].lParam, 0x203);
  EXPECT_EQ(IniTestFolder::Get(Ini()), settings);
}

TEST_F(SecondInstanceTest, TheProgramEndsCleanlyWhenTheSystemAsks) {
  Given("[CHECK]\r\nLanguage=E\r\n");
  for (int signal : {SIGTERM, SIGINT}) {
    SCOPED_TRACE(signal);
    auto program = Run("program.out");
    ASSERT_TRUE(Within([&] { return fs::exists(Socket()); })) << Output("program.out");
    program->Signal(signal);
    EXPECT_EQ(program->Ended(), 0);
    EXPECT_FALSE(fs::exists(Socket()));
  }
}

}  // namespace

#endif  // _WIN32
