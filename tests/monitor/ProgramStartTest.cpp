// Starting a configured command line: where the program file ends, what its
// folder and parameters are, and what the user is told when nothing or the
// wrong thing can be started; the shell asked on a thread of its own, so that
// a start it holds up stops no timer. No program is started: a stand-in
// records.

#include <cctype>
#include <filesystem>
#include <thread>

#include "BackgroundStarts.h"
#include "TestFolder.h"
#include "TestLanguage.h"
#include "monitor/Globfunc.h"
#include "monitor/ProgramStart.h"
#include "monitor/lang.h"
#include "platform/Process.h"
#include "vcl/VclTestEnvironment.h"

namespace {

using monitor::ProgramCall;
using monitor::RunProgram;
using monitor::SplitCommandLine;

class ProgramStartTest : public korva_test::VclTest {
 protected:
  ProgramStartTest() {
    vcl::Application().SetTitle("DI-ZOD");
    library_.Load(2);
  }
  ~ProgramStartTest() override { EXPECT_TRUE(korva_test::FinishProgramStarts()); }

  korva_test::TestLanguage language_;
  monitor::LanguageDll library_;
  platform::RecordingProcesses processes_;
  platform::ScopedService<platform::Processes> processesGuard_{processes_};
};

void ExpectCall(std::string_view commandLine, const ProgramCall& expected) {
  SCOPED_TRACE(std::string(commandLine));
  const std::optional<ProgramCall> call = SplitCommandLine(commandLine);
  ASSERT_TRUE(call.has_value());
  EXPECT_EQ(call->file, expected.file);
  EXPECT_EQ(call->directory, expected.directory);
  EXPECT_EQ(call->parameters, expected.parameters);
}

TEST(SplitCommandLineTest, FileFolderAndParametersAreUpperCasedAndCut) {
  ExpectCall("c:\\programs\\tool.exe -x /y", {"TOOL.EXE", "C:\\PROGRAMS\\", "-X /Y"});
  ExpectCall("  D:\\A B\\Run.js   word \t", {"RUN.JS", "D:\\A B\\", "WORD"});
  ExpectCall("/opt/korva/notify.bat on battery", {"NOTIFY.BAT", "/OPT/KORVA/", "ON BATTERY"});
  // The table's order decides: ".EXE" before ".BAT".
  ExpectCall("c:\\tools\\x.bat c:\\y.exe", {"Y.EXE", "C:\\TOOLS\\X.BAT C:\\", ""});
  EXPECT_FALSE(SplitCommandLine("c:\\notes.txt").has_value());
  EXPECT_FALSE(SplitCommandLine(" \t ").has_value());
}

TEST_F(ProgramStartTest, StartsTheProgramOrSaysWhyNot) {
  EXPECT_TRUE(RunProgram("c:\\korva\\alarm.exe /quiet now"));
  ASSERT_TRUE(korva_test::FinishProgramStarts());
  ASSERT_EQ(processes_.requests().size(), 1u);
  const platform::RecordingProcesses::Request request = processes_.requests()[0];
  EXPECT_EQ(request.verb + "|" + request.file + "|" + request.parameters + "|" + request.directory,
            "|ALARM.EXE|/QUIET NOW|C:\\KORVA\\");
  EXPECT_EQ(request.showCommand, platform::kSwShowNormal);

  // Nothing to start: said, except for an empty command.
  EXPECT_FALSE(RunProgram(""));
  EXPECT_TRUE(boxes_.shown().empty());
  EXPECT_FALSE(RunProgram("c:\\notes.txt now"));
  ASSERT_EQ(boxes_.shown().size(), 1u);
  EXPECT_EQ(boxes_.shown()[0].text, "T70\r\nc:\\notes.txt now");
  EXPECT_EQ(boxes_.shown()[0].caption, "DI-ZOD");
  EXPECT_EQ(boxes_.shown()[0].flags, platform::kMbOk | platform::kMbIconInformation);

  // A failed start shows the text for its number; unknown numbers show nothing.
  boxes_.Clear();
  for (const int result : {platform::kShellFileNotFound, 27, 33}) {
    processes_.SetResult(result);
    EXPECT_TRUE(RunProgram("c:\\program.exe"));
    ASSERT_TRUE(korva_test::FinishProgramStarts());
  }
  ASSERT_EQ(boxes_.shown().size(), 2u);
  EXPECT_EQ(boxes_.shown()[0].text, "T74");
  EXPECT_EQ(boxes_.shown()[0].caption, "DI-ZOD");
  EXPECT_EQ(boxes_.shown()[0].flags, platform::kMbOk);
  EXPECT_EQ(boxes_.shown()[1].text, "");
  EXPECT_EQ(processes_.requests().size(), 4u);
}

TEST_F(ProgramStartTest, AStartTheShellHoldsUpStopsNoTimerAndLaterMessagesWaitTheirTurn) {
  korva_test::HeldShell shell;
  platform::ScopedService<platform::Processes> installed(shell);
  shell.Answer("ELEVATED.EXE", platform::kShellAccessDenied, true);
  shell.Answer("GONE.EXE", platform::kShellFileNotFound);
  int ticks = 0;
  const auto timer = loop().SetTimer(100, [&ticks] { ++ticks; });

  // The program waits for the user's consent: the main thread goes on.
  EXPECT_TRUE(RunProgram("\\\\server\\tools\\elevated.exe"));
  ASSERT_TRUE(shell.WaitAsked(1));
  Advance(1000);
  EXPECT_EQ(ticks, 10);
  EXPECT_TRUE(shell.Holding());

  // A later start is answered at once; its message comes after the earlier one's.
  EXPECT_TRUE(RunProgram("c:\\gone.exe"));
  ASSERT_TRUE(shell.WaitAsked(2));
  Advance(100);
  EXPECT_TRUE(boxes_.shown().empty());
  shell.Release();
  ASSERT_TRUE(korva_test::FinishProgramStarts());
  ASSERT_EQ(boxes_.shown().size(), 2u);
  EXPECT_EQ(boxes_.shown()[0].text, "T78");
  EXPECT_EQ(boxes_.shown()[1].text, "T74");
  for (const std::thread::id thread : shell.Threads())
    EXPECT_NE(thread, std::this_thread::get_id());
  loop().KillTimer(timer);
}

#ifndef _WIN32
TEST_F(ProgramStartTest, OnPosixAnExecutableFileIsAProgramWhateverItsName) {
  korva_test::TestFolder folder;
  const std::string script = folder.File("onbattery.sh");
  korva_test::TestFolder::Put(script, "#!/bin/sh\n");
  std::filesystem::permissions(script, std::filesystem::perms::owner_all);
  korva_test::TestFolder::Put(folder.File("notes.txt"), "");

  EXPECT_TRUE(RunProgram(script + " --now  please"));
  ASSERT_TRUE(korva_test::FinishProgramStarts());
  ASSERT_EQ(processes_.requests().size(), 1u);
  const platform::RecordingProcesses::Request request = processes_.requests()[0];
  std::string upperFolder = folder.path().string() + "/";
  for (char& c : upperFolder)
    c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  EXPECT_EQ(request.file + "|" + request.parameters + "|" + request.directory,
            "ONBATTERY.SH|--NOW  PLEASE|" + upperFolder);
  EXPECT_TRUE(monitor::IsExecutablePath(script));

  // A file without execute permission is no program.
  EXPECT_FALSE(RunProgram(folder.File("notes.txt") + " x"));
  EXPECT_FALSE(monitor::IsExecutablePath(folder.File("notes.txt")));
  ASSERT_EQ(boxes_.shown().size(), 1u);
  EXPECT_EQ(boxes_.shown()[0].text, "T70\r\n" + folder.File("notes.txt") + " x");
  EXPECT_EQ(processes_.requests().size(), 1u);
}
#endif

}  // namespace
