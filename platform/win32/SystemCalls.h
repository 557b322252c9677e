// The system calls of the Win32 code whose outcome on real Windows Wine does
// not show: the shell's start (a consent prompt, a share that does not
// answer), the file-open dialog and its apartment, the cache of shared icons,
// the filter on messages from programs of a lower integrity level, the
// token's privileges, where a system library is loaded from, a port claimed
// by one socket alone, and the replacement and move of a file, whose
// failures leave the files in ways Wine never does. The code makes them through this table, so
// that a test can put a stand-in in one place and see the code handle what
// Windows would answer.
#pragma once

#include <winsock2.h>
// After winsock2.h, which must come first.
#include <windows.h>
// After windows.h, which they need.
#include <commdlg.h>
#include <shellapi.h>

namespace platform::win32 {

struct SystemCalls {
  decltype(&::ShellExecuteExA) shellExecuteEx = &::ShellExecuteExA;
  decltype(&::GetOpenFileNameA) getOpenFileName = &::GetOpenFileNameA;
  decltype(&::LoadImageA) loadImage = &::LoadImageA;
  decltype(&::Shell_NotifyIconA) shellNotifyIcon = &::Shell_NotifyIconA;
  decltype(&::ChangeWindowMessageFilterEx) changeWindowMessageFilterEx =
      &::ChangeWindowMessageFilterEx;
  decltype(&::AdjustTokenPrivileges) adjustTokenPrivileges = &::AdjustTokenPrivileges;
  decltype(&::LoadLibraryExA) loadLibraryEx = &::LoadLibraryExA;
  decltype(&::setsockopt) setSocketOption = &::setsockopt;
  decltype(&::ReplaceFileA) replaceFile = &::ReplaceFileA;
  decltype(&::MoveFileExA) moveFileEx = &::MoveFileExA;
};

// The table the Win32 code calls through.
SystemCalls& systemCalls();

// Puts the table back as it was when the scope ends.
class ScopedSystemCalls {
 public:
  ScopedSystemCalls() : saved_(systemCalls()) {}
  ~ScopedSystemCalls() { systemCalls() = saved_; }
  ScopedSystemCalls(const ScopedSystemCalls&) = delete;
  ScopedSystemCalls& operator=(const ScopedSystemCalls&) = delete;

 private:
  const SystemCalls saved_;
};

}  // namespace platform::win32
