// korvatray in the test's process, as its entry starts it: on the virtual
// clock and the headless backend, in the "Tn" language, with a scripted
// service state and process scan and a process start that only records.
// On POSIX also with real processes: the scan finds a program by its file
// name, the start runs the monitor from the program's folder once and leaves
// no zombie, the service state comes from its file, and the built program
// shows the state on its standard output and ends when asked.
#include <sstream>
#include <string>
#include <vector>

#include "TestFolder.h"
#include "monitor/TestLanguage.h"
#include "platform/Process.h"
#include "platform/ServiceManager.h"
#include "tray/Tray.h"
#include "vcl/VclTestEnvironment.h"

#ifndef _WIN32
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>

#include "monitor/RealTime.h"
#include "tray/Globfunc.h"
#endif

namespace {

using korva_test::TestFolder;
using vcl::TTrayIconImage;

// The program lives in the test's folder.
class ProgramInFolder final : public korva_test::ForwardingFiles {
 public:
  explicit ProgramInFolder(std::string program) : program_(std::move(program)) {}
  std::string ExecutablePath() override { return program_; }

 private:
  std::string program_;
};

// The tray window with the messages it posts to itself recorded.
class RecordingTray : public tray::TKorvaTray {
 public:
  using TKorvaTray::TKorvaTray;
  void WndProc(vcl::TMessage& message) override {
    if (message.Msg != tray::WM_TRAYNOTIFY)
      received.push_back(message);
    TKorvaTray::WndProc(message);
  }
  std::vector<vcl::TMessage> received;
};

class TrayTest : public korva_test::VclTest {
 protected:
  TrayTest() { tray::SetTipEcho(&echo_); }
  ~TrayTest() override {
    tray::EndProgram();
    tray::SetTipEcho(previousEcho_);
  }

  void Start(const std::string& settings = "") {
    if (!settings.empty())
      TestFolder::Put(folder_.File("USV_Korva_D.INI"), settings);
    tray::PrepareApplication();
    vcl::Application().CreateForm(tray_);
    tray::KorvaTray = tray_;
  }
  // The icon as the shell shows it: "tip main" or "tip window".
  std::string Shown() {
    if (headless().trayIcons.size() != 1)
      return std::to_string(headless().trayIcons.size()) + " icons";
    const auto& icon = headless().trayIcons[0];
    return icon.tip + (icon.image == TTrayIconImage::Main ? " main" : " window");
  }
  void Click(intptr_t mouse) { vcl::SendMessage(tray_->Handle(), 0x8400, 1, mouse); }

  TestFolder folder_;
  ProgramInFolder files_{folder_.File("korvatray")};
  korva_test::TestLanguage language_;
  platform::ScriptedServiceManager services_;
  platform::RecordingProcesses processes_;
  std::ostringstream echo_;
  RecordingTray* tray_ = nullptr;

 private:
  platform::ScopedService<platform::Files> filesGuard_{files_};
  platform::ScopedService<platform::ServiceManager> servicesGuard_{services_};
  platform::ScopedService<platform::Processes> processesGuard_{processes_};
  std::ostream* previousEcho_ = tray::SetTipEcho(nullptr);
};

TEST_F(TrayTest, TheIconShowsTheServiceStateEverySecondAndTheMainIconWhileItRuns) {
  Start();
  const auto& icon = headless().trayIcons.at(0);
  EXPECT_EQ(
      icon.formClass + " " + std::to_string(icon.id) + " " + std::to_string(icon.callbackMessage),
      "TKorvaTray 1 33792");
  EXPECT_EQ(vcl::Application().Title(), "Korva Tray");
  EXPECT_EQ(tray_->Width() + tray_->Height(), 0);
  EXPECT_EQ(tray_->mnuShow->Caption, "T17");
  EXPECT_EQ(tray_->ProgramDir, folder_.File(""));

  services_.state = 4;
  Advance(999);
  EXPECT_EQ(Shown(), "Korva Tray window");
  EXPECT_EQ(services_.queries, 0);

  const std::vector<std::pair<uint32_t, const char*>> states = {
      {4, "T212 main"},   {1, "T215 window"}, {2, "T213 window"},
      {3, "T214 window"}, {5, "T209 window"}, {6, "T210 window"},
      {7, "T211 window"}, {0, "T216 window"}, {9, "Korva Tray window"},
  };
  std::string expectedEcho = "Korva Tray\n";
  for (const auto& [state, shown] : states) {
    services_.state = state;
    Advance(state == 4 ? 1 : 1000);
    EXPECT_EQ(Shown(), shown) << "state " << state;
    expectedEcho += std::string(shown).substr(0, std::string(shown).rfind(' ')) + "\n";
  }
  EXPECT_EQ(services_.lastService, "Service_Korva");
  EXPECT_EQ(services_.queries, static_cast<int>(states.size()));
  // A tip is echoed when it changes, not with every tick.
  Advance(3000);
  EXPECT_EQ(echo_.str(), expectedEcho);
  EXPECT_FALSE(tray_->Visible());

  tray::EndProgram();
  EXPECT_TRUE(headless().trayIcons.empty());
}

TEST_F(TrayTest, ALongTextIsCutToTheTipsLength) {
  language_.Set(216, std::string(200, 'x'));
  Start();
  Advance(1000);
  EXPECT_EQ(tray_->TrayIcon->Tip, std::string(127, 'x'));
#ifndef _WIN32
  // A two-byte character at bytes 126 and 127 stays whole: it goes.
  EXPECT_EQ(tray::CutTip(std::string(126, 'a') + "\xC3\xA9" + "b"), std::string(126, 'a'));
  EXPECT_EQ(tray::CutTip(std::string(125, 'a') + "\xC3\xA9" + "b"),
            std::string(125, 'a') + "\xC3\xA9");
#endif
}

TEST_F(TrayTest, TheWholeLanguageValueChoosesTheLibrary) {
  const std::vector<std::pair<const char*, const char*>> cases = {
      {"f", "FRA\\french.dll"},  {"G", "DEU\\deutsch.dll"}, {"i", "ITA\\italian.dll"},
      {"E", "ENG\\english.dll"}, {"X", "ENG\\english.dll"}, {"German", "ENG\\english.dll"},
      {"", "ENG\\english.dll"},
  };
  for (const auto& [value, library] : cases) {
    Start(std::string("[CHECK]\r\nLANGUAGE=") + value + "\r\n");
    EXPECT_EQ(tray_->LanguageDllName, library) << value;
    tray::EndProgram();
  }
  std::remove(folder_.File("USV_Korva_D.INI").c_str());
  Start();
  EXPECT_EQ(tray_->LanguageCode, 2);
}

TEST_F(TrayTest, WithoutItsLibraryEveryTextIsTheFallback) {
  language_.loadable = false;
  Start("[CHECK]\r\nLanguage=G\r\n");
  Advance(1000);
  EXPECT_EQ(tray_->mnuShow->Caption, "No entry in language-dll");
  EXPECT_EQ(Shown(), "No entry in language-dll window");
}

TEST_F(TrayTest, ClicksReachTheirHandlers) {
  Start();
  Click(0x202);
  loop().ProcessMessages();
  ASSERT_EQ(tray_->received.size(), 2u);
  for (size_t i = 0; i < 2; ++i) {
    const vcl::TMessage& message = tray_->received[i];
    EXPECT_EQ(message.Msg, i == 0 ? 0x201u : 0x202u);
    EXPECT_EQ(message.WParam + static_cast<uintptr_t>(message.LParam), 0u);
  }

  headless().cursorPos = {700, 500};
  Click(0x205);
  EXPECT_EQ(tray_->PopupMenu->PopupCount(), 1);
  EXPECT_EQ(tray_->PopupMenu->PopupPoint().X, 700);
  EXPECT_EQ(tray_->PopupMenu->PopupPoint().Y, 500);

  // Button-down messages and the others are not korvatray's.
  for (intptr_t mouse : {0x200, 0x201, 0x204, 0x206})
    Click(mouse);
  loop().ProcessMessages();
  EXPECT_EQ(tray_->received.size(), 2u);
  EXPECT_EQ(tray_->PopupMenu->PopupCount(), 1);
  EXPECT_TRUE(processes_.creations().empty());
}

TEST_F(TrayTest, ADoubleClickStartsKorvamonOnceUnlessItRuns) {
  Start();
  processes_.SetRunning(std::vector<std::string>{"explorer.exe", "KORVAMON.EXE"});
  Click(0x203);
  tray_->mnuShow->Click();
  EXPECT_TRUE(processes_.creations().empty());

  processes_.SetRunning(std::vector<std::string>{"explorer.exe", "korvamon.exe.bak"});
  Click(0x203);
  const std::string program = folder_.File("korvamon.exe");
  ASSERT_EQ(processes_.creations().size(), 1u);
  EXPECT_EQ(processes_.creations()[0].applicationName, program);
  EXPECT_EQ(processes_.creations()[0].commandLine, "\"" + program + "\"");

  // A scan the system refuses finds nothing running.
  processes_.SetRunning(std::nullopt);
  tray_->mnuShow->Click();
  EXPECT_EQ(processes_.creations().size(), 2u);
}

TEST_F(TrayTest, TheIconComesBackAfterTheShellLostIt) {
  Start();
  EXPECT_EQ(headless().trayIconAdds, 1);
  // The shell starts anew and says so.
  headless().trayIcons.clear();
  vcl::SendMessage(tray_->Handle(), vcl::HeadlessBackend::kTaskbarCreated, 0, 0);
  EXPECT_EQ(Shown(), "Korva Tray window");
  EXPECT_EQ(headless().trayIconAdds, 2);

  // The shell lost it without a word: the next tick's change is refused.
  headless().trayIcons.clear();
  services_.state = 4;
  Advance(1000);
  EXPECT_EQ(Shown(), "T212 main");
  EXPECT_EQ(headless().trayIconAdds, 3);
  Advance(1000);
  EXPECT_EQ(headless().trayIconAdds, 3);
}

#ifndef _WIN32

namespace fs = std::filesystem;
using korva_test::ChildProcess;

bool Within(const std::function<bool()>& done) {
  return ChildProcess::Within(std::chrono::seconds(10), done);
}

TEST(TrayProcessTest, TheScanFindsAProgramByItsFileNameWhileItRuns) {
  TestFolder folder;
  // Names of this test's own, as other programs of the machine may run: one
  // with the extension in capitals, one without it, as POSIX programs are.
  const std::string id = std::to_string(getpid());
  const std::string query = "k" + id + ".exe";
  korva_test::ChildOptions options;
  options.arguments = {"30"};
  for (const std::string& program : {"K" + id + ".EXE", "k" + id}) {
    SCOPED_TRACE(program);
    fs::copy_file("/bin/sleep", folder.path() / program);
    EXPECT_FALSE(tray::IsProcessRunning(query));
    auto sleeper = std::make_unique<ChildProcess>(folder.path() / program, options);
    ASSERT_TRUE(sleeper->Started());
    EXPECT_TRUE(Within([&] { return tray::IsProcessRunning(query); }));
    sleeper->Signal(SIGKILL);
    sleeper.reset();
    EXPECT_FALSE(tray::IsProcessRunning(query));
  }
}

TEST(TrayProcessTest, TheServiceStateComesFromItsFile) {
  TestFolder folder;
  setenv("KORVA_SERVICE_DIR", folder.path().c_str(), 1);
  const std::string file = folder.File("Service_Korva.state");
  const std::vector<std::pair<const char*, uint32_t>> cases = {
      {"4\n", 4}, {" 7 ", 7}, {"9", 9},  {"abc", 0},
      {"", 0},    {"4x", 0},  {"-1", 0}, {"99999999999", 0},
  };
  for (const auto& [text, state] : cases) {
    TestFolder::Put(file, text);
    EXPECT_EQ(tray::GetServiceState("", "Service_Korva"), state) << text;
  }
  fs::remove(file);
  EXPECT_EQ(tray::GetServiceState("", "Service_Korva"), 0u);
  unsetenv("KORVA_SERVICE_DIR");
}

// Real starts; the scan sees only this test's children, as other programs
// of the machine may be called korvamon.
class OwnChildren final : public platform::Processes {
 public:
  int ShellExecute(const std::string&, const std::string&, const std::string&, const std::string&,
                   int) override {
    return 0;
  }
  bool CreateProcess(const std::string& applicationName, const std::string& commandLine) override {
    ++starts;
    return native_.CreateProcess(applicationName, commandLine);
  }
  std::optional<std::vector<platform::RunningProcess>> RunningProcesses() override {
    auto all = native_.RunningProcesses();
    std::erase_if(*all, [](const platform::RunningProcess& process) {
      return process.parentId != static_cast<uint32_t>(getpid());
    });
    return all;
  }
  int starts = 0;

 private:
  platform::Processes& native_ = platform::NativeProcesses();
};

class TrayStartTest : public TrayTest {
 protected:
  OwnChildren children_;
  platform::ScopedService<platform::Processes> childrenGuard_{children_};
};

TEST_F(TrayStartTest, ADoubleClickStartsTheMonitorOnceAndItIsReaped) {
  const std::string started = folder_.File("started");
  const std::string release = folder_.File("release");
  // POSIX programs have no extension: "korvamon.exe" is found as "korvamon".
  TestFolder::Put(folder_.File("korvamon"), "#!/bin/sh\necho $$ >> '" + started +
                                                "'\nwhile [ ! -e '" + release +
                                                "' ]; do sleep 0.05; done\n");
  chmod(folder_.File("korvamon").c_str(), 0755);
  Start();

  Click(0x203);
  ASSERT_TRUE(Within([&] { return !TestFolder::Get(started).empty(); }));
  ASSERT_TRUE(Within([&] { return !children_.RunningProcesses()->empty(); }));
  Click(0x203);
  EXPECT_EQ(children_.starts, 1);

  TestFolder::Put(release, "");
  const std::string pid = TestFolder::Get(started).substr(0, TestFolder::Get(started).find('\n'));
  // Gone from the process table: ended and reaped, no zombie left.
  EXPECT_TRUE(Within([&] { return !fs::exists("/proc/" + pid); }));
  EXPECT_EQ(TestFolder::Get(started), pid + "\n");
}

TEST(TrayProgramTest, TheBuiltProgramTellsTheStateAndEndsWhenAsked) {
  TestFolder folder;
  setenv("KORVA_SERVICE_DIR", folder.path().c_str(), 1);
  const std::string file = folder.File("Service_Korva.state");
  ChildProcess program(korva_test::BuiltProgram("korvatray"));
  unsetenv("KORVA_SERVICE_DIR");
  ASSERT_TRUE(program.Started());
  EXPECT_EQ(program.ReadLine(), "Korva Tray");
  EXPECT_EQ(program.ReadLine(), "KORVA service: state unknown or not installed");
  TestFolder::Put(file, "4\n");
  EXPECT_EQ(program.ReadLine(), "KORVA service is running");
  fs::remove(file);
  EXPECT_EQ(program.ReadLine(), "KORVA service: state unknown or not installed");
  program.Signal(SIGTERM);
  EXPECT_EQ(program.Ended(), 0);
}

#endif

}  // namespace
