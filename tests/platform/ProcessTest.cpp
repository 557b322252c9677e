// Starting programs through the shell's numbers: a harmless program of the
// test's own, found without regard to case and with backslashes, gets its
// parameters and working directory and leaves no zombie behind; missing
// files, folders and programs that cannot run give the shell's error numbers.
// On Windows the shell is asked in a single-threaded apartment and waited
// for; its answers, also those Wine never gives, become the shell's numbers.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

// The system's headers first: platform/Process.h takes back their macros.
#ifdef _WIN32
#include <objbase.h>

#include "platform/win32/SystemCalls.h"
#else
#include <sys/types.h>
#include <unistd.h>
#endif

#include "TestFolder.h"
#include "platform/Process.h"

namespace {

namespace fs = std::filesystem;

class ProcessTest : public testing::Test {
 protected:
  ProcessTest() { fs::create_directories(dir_ / "Run Here"); }

  platform::Processes& processes = platform::NativeProcesses();
  korva_test::TestFolder folder_;
  const fs::path& dir_ = folder_.path();
};

TEST_F(ProcessTest, MissingFileAndFolderGiveTheShellsNumbers) {
  const std::string folder = (dir_ / "Run Here").string();
  EXPECT_EQ(processes.ShellExecute("", "no-such-program.exe", "", folder, platform::kSwShowNormal),
            platform::kShellFileNotFound);
#ifndef _WIN32
  EXPECT_EQ(
      processes.ShellExecute("", "x.exe", "", (dir_ / "absent").string(), platform::kSwShowNormal),
      platform::kShellPathNotFound);
  EXPECT_EQ(processes.ShellExecute("", (dir_ / "absent" / "x.exe").string(), "", "",
                                   platform::kSwShowNormal),
            platform::kShellPathNotFound);
  std::ofstream(dir_ / "Run Here" / "plain.exe") << "not a program\n";
  EXPECT_EQ(processes.ShellExecute("", "PLAIN.EXE", "", folder, platform::kSwShowNormal),
            platform::kShellAccessDenied);
  EXPECT_EQ(processes.ShellExecute("", "Run Here", "", dir_.string(), platform::kSwShowNormal),
            platform::kShellAccessDenied);
  EXPECT_EQ(processes.ShellExecute("print", "PLAIN.EXE", "", folder, platform::kSwShowNormal),
            platform::kShellNoAssociation);
#endif
}

#ifdef _WIN32

// What the shell was asked, and where.
struct ShellCallSeen {
  std::thread::id thread;
  int apartment = -1;  // none
  ULONG mask = 0;
};
std::vector<ShellCallSeen> shellCallsSeen;
BOOL shellAnswer = FALSE;
INT_PTR shellNumber = 0;
DWORD shellError = 0;

BOOL WINAPI SeeShellCall(SHELLEXECUTEINFOA* start) {
  ShellCallSeen seen{std::this_thread::get_id(), -1, start->fMask};
  APTTYPE apartment{};
  APTTYPEQUALIFIER qualifier{};
  if (SUCCEEDED(CoGetApartmentType(&apartment, &qualifier)))
    seen.apartment = apartment;
  shellCallsSeen.push_back(seen);
  start->hInstApp = reinterpret_cast<HINSTANCE>(shellNumber);
  SetLastError(shellError);
  return shellAnswer;
}

TEST_F(ProcessTest, TheShellIsAskedInASingleThreadedApartmentAndWaitedForBeforeTheThreadEnds) {
  platform::win32::ScopedSystemCalls restored;
  platform::win32::systemCalls().shellExecuteEx = SeeShellCall;
  shellCallsSeen.clear();
  shellAnswer = TRUE;
  shellNumber = 42;
  // A start's own thread, in no apartment yet: the shell is asked right there.
  std::thread::id starter;
  std::thread([&] {
    starter = std::this_thread::get_id();
    EXPECT_EQ(processes.ShellExecute("", "tool.exe", "", "", platform::kSwShowNormal), 42);
  }).join();
  // The main thread, which the OPC server puts into the multithreaded
  // apartment: on a thread of its own.
  ASSERT_TRUE(SUCCEEDED(CoInitializeEx(nullptr, COINIT_MULTITHREADED)));
  EXPECT_EQ(processes.ShellExecute("", "tool.exe", "", "", platform::kSwShowNormal), 42);
  CoUninitialize();
  ASSERT_EQ(shellCallsSeen.size(), 2u);
  EXPECT_EQ(shellCallsSeen[0].thread, starter);
  EXPECT_NE(shellCallsSeen[1].thread, std::this_thread::get_id());
  for (const ShellCallSeen& seen : shellCallsSeen) {
    EXPECT_TRUE(seen.apartment == APTTYPE_STA || seen.apartment == APTTYPE_MAINSTA)
        << seen.apartment;
    EXPECT_EQ(seen.mask & (SEE_MASK_NOASYNC | SEE_MASK_FLAG_NO_UI),
              static_cast<ULONG>(SEE_MASK_NOASYNC | SEE_MASK_FLAG_NO_UI));
  }
}

TEST_F(ProcessTest, TheShellsAnswersBecomeItsNumbersAndADeclinedConsentIsAccessDenied) {
  platform::win32::ScopedSystemCalls restored;
  platform::win32::systemCalls().shellExecuteEx = SeeShellCall;
  struct Case {
    BOOL answer;
    INT_PTR number;
    DWORD error;
    int expected;
  };
  for (const Case& c : {Case{TRUE, 42, 0, 42}, Case{TRUE, 0, 0, platform::kShellStarted},
                        Case{FALSE, SE_ERR_FNF, ERROR_FILE_NOT_FOUND, 2},
                        Case{FALSE, 0, ERROR_CANCELLED, 5}, Case{FALSE, 0, ERROR_PATH_NOT_FOUND, 3},
                        Case{FALSE, 0, ERROR_NO_ASSOCIATION, 31}, Case{FALSE, 0, 0, 0}}) {
    SCOPED_TRACE(std::to_string(c.number) + " " + std::to_string(c.error));
    shellAnswer = c.answer;
    shellNumber = c.number;
    shellError = c.error;
    EXPECT_EQ(processes.ShellExecute("", "x.exe", "", "", platform::kSwShowNormal), c.expected);
  }
}
#endif

#ifndef _WIN32

// Zombie children of this process, from /proc.
int ZombieChildren() {
  int zombies = 0;
  std::error_code error;
  for (const auto& entry : fs::directory_iterator("/proc", error)) {
    std::ifstream stat(entry.path() / "stat");
    std::string line;
    if (!std::getline(stat, line))
      continue;
    // "pid (name) state ppid ...": the name may hold blanks and parentheses.
    const size_t close = line.rfind(')');
    if (close == std::string::npos || close + 4 > line.size())
      continue;
    const char state = line[close + 2];
    const long parent = std::strtol(line.c_str() + close + 4, nullptr, 10);
    if (state == 'Z' && parent == static_cast<long>(getpid()))
      ++zombies;
  }
  return zombies;
}

template <class Condition>
bool WaitFor(Condition condition) {
  // A started program runs in real time: poll for its trace, bounded.
  for (int i = 0; i < 1000; ++i) {
    if (condition())
      return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return condition();
}

TEST_F(ProcessTest, StartsAProgramInItsFolderWithItsParametersAndReapsIt) {
  const fs::path folder = dir_ / "Run Here";
  const fs::path program = folder / "probe.bat";
  std::ofstream(program)
      << "#!/bin/sh\n"
         "{ pwd -P; for word in \"$@\"; do echo \"[$word]\"; done; } > trace.tmp\n"
         "mv trace.tmp trace.txt\n";
  fs::permissions(program, fs::perms::owner_all);

  // As a Windows user writes it: upper case, backslashes.
  std::string windowsFolder = folder.string();
  for (char& c : windowsFolder)
    c = c == '/' ? '\\' : static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  const int result = processes.ShellExecute("", "PROBE.BAT", "-A  \"TWO WORDS\" B", windowsFolder,
                                            platform::kSwShowNormal);
  EXPECT_GT(result, 32);

  const fs::path trace = folder / "trace.txt";
  ASSERT_TRUE(WaitFor([&] { return fs::exists(trace); }));
  std::ifstream in(trace);
  const std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  EXPECT_EQ(text, fs::canonical(folder).string() + "\n[-A]\n[TWO WORDS]\n[B]\n");
  EXPECT_TRUE(WaitFor([] { return ZombieChildren() == 0; }));
}

#endif

}  // namespace
