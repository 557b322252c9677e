// korvamon as separate processes, copied with its languages into a private
// folder: a second start asks and ends writing nothing (one started by COM
// without asking), its Yes reaches the running one, which ends cleanly when
// the system asks it to.
#ifndef _WIN32

#include <signal.h>
#include <unistd.h>

#include <sstream>

#include "RealTime.h"
#include "TestEnvironment.h"
#include "TestFolder.h"
#include "platform/Instance.h"
#include "platform/NamedMutex.h"

namespace {

namespace fs = std::filesystem;
using korva_test::ChildProcess;
using korva_test::TestFolder;

class SecondInstanceTest : public korva_test::VirtualTimeTest {
 protected:
  void Given(const std::string& ini) { program_.Given(ini); }
  std::string Ini() const { return program_.Ini(); }
  bool Up() const {
    return fs::exists(program_.folder().path() / ("DI-ZOD-" + std::to_string(getuid()) + ".sock"));
  }
  static bool Within(const std::function<bool()>& done) {
    return ChildProcess::Within(std::chrono::seconds(15), done);
  }

  std::unique_ptr<ChildProcess> Run(const std::string& outputName,
                                    std::vector<std::string> arguments = {}) {
    auto process = program_.Run(outputName, std::move(arguments));
    EXPECT_TRUE(process->Started());
    return process;
  }
  std::string Output(const std::string& outputName) const { return program_.Output(outputName); }

  korva_test::ProgramCopy program_;
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
    return Up() && TestFolder::Get(Ini()).find("HistoryPath") != std::string::npos;
  })) << Output("first.out");
  const std::string settings = TestFolder::Get(Ini());

  auto second = Run("second.out");
  EXPECT_EQ(second->Ended(), 0);
  EXPECT_EQ(Output("second.out"), kFrenchQuestion);
  EXPECT_EQ(TestFolder::Get(Ini()), settings);
  EXPECT_TRUE(first->Running());
  // Started by COM for a client, it ends without asking anybody.
  auto byCom = Run("by-com.out", {"-Embedding"});
  EXPECT_EQ(byCom->Ended(), 0);
  EXPECT_EQ(Output("by-com.out"), "");
  EXPECT_EQ(TestFolder::Get(Ini()), settings);
  EXPECT_TRUE(first->Running());
  // The first one shows nothing but its history lines on its output.
  std::istringstream firstOutput(Output("first.out"));
  for (std::string line; std::getline(firstOutput, line);)
    EXPECT_TRUE(line.size() >= 22 && line[0] == '[' && line[21] == '\t') << line;

  first->Signal(SIGTERM);
  EXPECT_EQ(first->Ended(), 0);
  EXPECT_FALSE(Up());
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
  const std::string settings = TestFolder::Get(Ini());

  auto second = Run("second.out");
  EXPECT_EQ(second->Ended([&] { loop().ProcessMessages(); }), 0);
  loop().ProcessMessages();
  EXPECT_EQ(Output("second.out"), kEnglishQuestion);
  ASSERT_EQ(requests.size(), 1u);
  EXPECT_EQ(requests[0].formClass, "TfrmKorvamon");
  EXPECT_EQ(requests[0].msg, 0x8400u);
  EXPECT_EQ(requests[0].wParam, 0x100u);
  EXPECT_EQ(requests[0].lParam, 0x203);
  EXPECT_EQ(TestFolder::Get(Ini()), settings);
}

TEST_F(SecondInstanceTest, TheProgramEndsCleanlyWhenTheSystemAsks) {
  Given("[CHECK]\r\nLanguage=E\r\n");
  for (int signal : {SIGTERM, SIGINT}) {
    SCOPED_TRACE(signal);
    auto program = Run("program.out");
    ASSERT_TRUE(Within([&] { return Up(); })) << Output("program.out");
    program->Signal(signal);
    EXPECT_EQ(program->Ended(), 0);
    EXPECT_FALSE(Up());
  }
}

}  // namespace

#endif  // _WIN32
