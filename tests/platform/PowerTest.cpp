// The system's power controls as the platform has them: the processor load
// (scripted /proc/stat on POSIX; pdh.dll or nothing under Wine) and the
// process's place in the shutdown order, read back from the system.
#include <gtest/gtest.h>

#include "TestFolder.h"
#include "platform/Power.h"

#ifdef _WIN32
#include <vector>

#include "platform/win32/SystemCalls.h"
#include "platform/win32/Win32Pdh.h"
#else
#include "platform/posix/ProcStat.h"
#endif

namespace {

TEST(PowerTest, TheProcessorLoadIsAPercentageOrUnmeasured) {
  const double load = platform::NativePower().ProcessorLoad();
  EXPECT_TRUE(load == -1.0 || (load >= 0.0 && load <= 100.0)) << load;
}

TEST(PowerTest, TheShutdownLevelSetIsTheOneTheSystemReports) {
  platform::Power& power = platform::NativePower();
  ASSERT_TRUE(power.SetShutdownParameters(0x3FE, platform::kShutdownNoRetry));
  uint32_t level = 0, flags = 0;
  ASSERT_TRUE(power.ShutdownParameters(level, flags));
  EXPECT_EQ(level, 0x3FEu);
  EXPECT_EQ(flags, platform::kShutdownNoRetry);
}

#ifdef _WIN32

// How the token's adjustment goes.
BOOL adjusted = TRUE;
DWORD adjustError = ERROR_SUCCESS;
BOOL WINAPI AdjustAsTold(HANDLE, BOOL, PTOKEN_PRIVILEGES, DWORD, PTOKEN_PRIVILEGES, PDWORD) {
  SetLastError(adjustError);
  return adjusted;
}

TEST(PowerTest, ATokenWithoutTheShutdownPrivilegeIsToldFromOneThatHasIt) {
  using Privilege = platform::Power::Privilege;
  platform::win32::ScopedSystemCalls restored;
  platform::win32::systemCalls().adjustTokenPrivileges = AdjustAsTold;
  struct Case {
    BOOL adjusted;
    DWORD error;
    Privilege expected;
    const char* said;
  };
  // Windows adjusts a token that lacks the privilege and says so only in the error code.
  for (const Case& c :
       {Case{TRUE, ERROR_SUCCESS, Privilege::Enabled, ""},
        Case{TRUE, ERROR_NOT_ALL_ASSIGNED, Privilege::NotHeld, "AdjustTokenPrivileges: "},
        Case{FALSE, ERROR_ACCESS_DENIED, Privilege::Failed, "AdjustTokenPrivileges: "}}) {
    SCOPED_TRACE(c.error);
    adjusted = c.adjusted;
    adjustError = c.error;
    std::string error;
    EXPECT_EQ(platform::NativePower().EnableShutdownPrivilege(error), c.expected);
    EXPECT_EQ(error.rfind(c.said, 0), 0u) << error;
    if (c.error != ERROR_SUCCESS) {
      const std::string code = std::string("(").append(std::to_string(c.error)).append(")");
      EXPECT_NE(error.find(code), std::string::npos) << error;
    }
  }
}

std::vector<std::string> librariesLoaded;
HMODULE WINAPI SeeLibraryLoaded(LPCSTR name, HANDLE file, DWORD flags) {
  librariesLoaded.push_back(name);
  return LoadLibraryExA(name, file, flags);
}

TEST(PowerTest, TheCountersLibraryIsLoadedOnceFromTheSystemsFolderOnly) {
  platform::win32::ScopedSystemCalls restored;
  platform::win32::systemCalls().loadLibraryEx = SeeLibraryLoaded;
  librariesLoaded.clear();
  platform::win32::Pdh pdh;
  ASSERT_TRUE(pdh.Load());
  EXPECT_TRUE(pdh.Usable());
  EXPECT_TRUE(pdh.Load());
  char folder[MAX_PATH + 1] = {};
  const UINT length = GetSystemDirectoryA(folder, MAX_PATH);
  EXPECT_EQ(librariesLoaded, std::vector<std::string>{std::string(folder, length) + "\\pdh.dll"});
}

#else

TEST(PowerTest, TheLoadOfProcessorZeroComesFromTwoReadingsOfProcStat) {
  korva_test::TestFolder folder;
  const std::string stat = folder.File("stat");
  const std::string before =
      "cpu  900 0 900 9000 0 0 0 0 0 0\n"
      "cpu0 100 20 30 800 40 5 5 0 0 0\n"
      "cpu1 1 1 1 1 1 1 1 1 0 0\n";
  // 40 busy and 120 idle (iowait counts as idle) jiffies later.
  const std::string after =
      "cpu  999 0 999 9999 0 0 0 0 0 0\n"
      "cpu0 120 20 40 900 60 10 10 0 0 0\n";
  struct Case {
    const char* name;
    std::string first;
    std::string second;
    double load;
  };
  for (const Case& c :
       {Case{"busy", before, after, 25.0}, Case{"no time", before, before, 0.0},
        Case{"unreadable", "", "", -1.0}, Case{"no cpu0", "cpu 1 2 3 4\n", "", -1.0},
        Case{"cut short", before, "cpu0 1 2\n", -1.0}}) {
    SCOPED_TRACE(c.name);
    std::filesystem::remove(stat);
    if (!c.first.empty())
      korva_test::TestFolder::Put(stat, c.first);
    EXPECT_EQ(platform::posix::ProcessorLoadFromStat(
                  stat, [&] { korva_test::TestFolder::Put(stat, c.second); }),
              c.load);
  }
}

#endif

}  // namespace
