// Settings written on Windows while the system's replacement fails in each
// way its contract allows (the old file already gone, or moved to the
// backup's name; the replaced file held by a scanner or locked): the file
// never ends up missing or with fewer keys than before, the failures that
// pass are tried again, and no copy is left beside it.
#ifdef _WIN32

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <string_view>

#include "TestFolder.h"
#include "common/IniFile.h"
#include "platform/win32/SystemCalls.h"

namespace {

using korva_test::TestFolder;

// ReplaceFileA failing `failures` times as its contract says it leaves the
// files for `code`, on the real files, then the system's own. Moves of a
// file whose name ends in `stuckSuffix` are refused, as where a scanner
// holds it.
struct Contract {
  DWORD code = 0;
  int failures = 0;
  int replaces = 0;
  std::string stuckSuffix;
} contract;

BOOL WINAPI ReplaceAsContract(LPCSTR replaced, LPCSTR replacement, LPCSTR backup, DWORD flags,
                              LPVOID exclude, LPVOID reserved) {
  ++contract.replaces;
  if (contract.failures == 0)
    return ReplaceFileA(replaced, replacement, backup, flags, exclude, reserved);
  --contract.failures;
  if (contract.code == ERROR_UNABLE_TO_MOVE_REPLACEMENT && !backup) {
    // The replaced file is gone; the replacement keeps its name.
    DeleteFileA(replaced);
  } else if (contract.code == ERROR_UNABLE_TO_MOVE_REPLACEMENT_2) {
    // The replaced file lives on under the backup's name, or under one
    // that nobody was told.
    MoveFileA(replaced, backup ? backup : (std::string(replaced) + ".elsewhere").c_str());
  }
  // Every other failure leaves both files under their own names.
  SetLastError(contract.code);
  return FALSE;
}

BOOL WINAPI MoveAsContract(LPCSTR from, LPCSTR to, DWORD flags) {
  if (!contract.stuckSuffix.empty() && std::string_view(from).ends_with(contract.stuckSuffix)) {
    SetLastError(ERROR_ACCESS_DENIED);
    return FALSE;
  }
  return MoveFileExA(from, to, flags);
}

constexpr int kAlways = 1000;

TEST(IniFileWin32Test, NoFailureOfTheReplacementLosesTheSettingsFile) {
  struct Case {
    const char* name;
    DWORD code;
    int failures;
    const char* stuckSuffix;
    bool written;
    int replaces;
  };
  const int tries = common::IniFile::kReplaceTries;
  const Case cases[] = {
      {"the replaced file cannot be removed", ERROR_UNABLE_TO_REMOVE_REPLACED, kAlways, "", false,
       tries},
      {"... for a moment", ERROR_UNABLE_TO_REMOVE_REPLACED, 2, "", true, 3},
      {"the replacement cannot be moved", ERROR_UNABLE_TO_MOVE_REPLACEMENT, kAlways, "", false,
       tries},
      {"the replacement cannot be moved, the old file is moved away",
       ERROR_UNABLE_TO_MOVE_REPLACEMENT_2, kAlways, "", true, 1},
      {"... and the new content cannot be moved either", ERROR_UNABLE_TO_MOVE_REPLACEMENT_2,
       kAlways, ".tmp", false, tries},
      {"access denied, as a scanner does to a file just written", ERROR_ACCESS_DENIED, 2, "", true,
       3},
      {"access denied for good", ERROR_ACCESS_DENIED, kAlways, "", false, tries},
      {"a sharing violation", ERROR_SHARING_VIOLATION, 2, "", true, 3},
      {"a lock violation", ERROR_LOCK_VIOLATION, 2, "", true, 3},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TestFolder folder;
    const std::string path = folder.File("korvamon.INI");
    const std::string before = "[COM]\r\nCOMPORT=3\r\n[ACTION]\r\nShutdownSignal=1\r\n";
    TestFolder::Put(path, before);
    contract = {c.code, c.failures, 0, c.stuckSuffix};
    platform::win32::ScopedSystemCalls restored;
    platform::win32::systemCalls().replaceFile = ReplaceAsContract;
    platform::win32::systemCalls().moveFileEx = MoveAsContract;

    const common::IniFile ini(path);
    bool written = true;
    try {
      ini.WriteString("COM", "COMPORT", "4");
    } catch (const common::EIniFileException&) {
      written = false;
    }
    EXPECT_EQ(written, c.written);
    EXPECT_EQ(contract.replaces, c.replaces);
    EXPECT_EQ(TestFolder::Get(path),
              written ? "[COM]\r\nCOMPORT=4\r\n[ACTION]\r\nShutdownSignal=1\r\n" : before);
    for (const auto& entry : std::filesystem::directory_iterator(folder.path()))
      EXPECT_EQ(entry.path().filename(), "korvamon.INI");
  }
}

}  // namespace

#endif  // _WIN32
