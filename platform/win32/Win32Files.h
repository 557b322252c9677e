// The files of the Windows build, with the two system calls that put a new
// file in place of an old one behind an interface of their own: each outcome
// the system's contract allows them (the old file already gone, or moved to
// the backup's name, when they fail) can then be played by a test.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "platform/Files.h"

namespace platform::win32 {

class FileCalls {
 public:
  virtual ~FileCalls() = default;
  // ReplaceFileA(replaced, replacement, backup; none when empty), merge
  // errors ignored: 0, or the system's error code.
  virtual uint32_t Replace(const std::string& replaced, const std::string& replacement,
                           const std::string& backup) = 0;
  // MoveFileExA(from, to), written through, never over an existing file: 0,
  // or the system's error code.
  virtual uint32_t Move(const std::string& from, const std::string& to) = 0;
};

// The system's own calls.
FileCalls& NativeFileCalls();

// Files whose replacements make their calls through `calls`, which must
// outlive them.
std::unique_ptr<Files> NewWin32Files(FileCalls& calls);

}  // namespace platform::win32
