// Files as the settings file, its write protection and the log file need
// them, with the Windows attribute bits. On POSIX, paths may use '\\' or '/',
// and a path whose exact spelling does not exist is resolved
// case-insensitively.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

namespace platform {

inline constexpr uint32_t kInvalidFileAttributes = 0xFFFFFFFF;
inline constexpr uint32_t kFileAttributeReadOnly = 0x01;
inline constexpr uint32_t kFileAttributeDirectory = 0x10;
inline constexpr uint32_t kFileAttributeArchive = 0x20;

// What became of an append: whether the bytes were written (the file could
// be opened and written), and whether closing it failed afterwards, which
// may lose what was written.
struct Appended {
  bool written = false;
  bool closeFailed = false;
  bool ok() const { return written && !closeFailed; }
};

// Why a replacement failed: the system's code and its message, and whether
// the failure passes by itself (another program held the file a moment: a
// virus scanner, a backup, an editor), so that trying again a little later
// may succeed.
struct FileError {
  uint32_t code = 0;
  bool transient = false;
  std::string reason;
};

class Files {
 public:
  virtual ~Files() = default;

  // The whole file, or nothing when it cannot be opened.
  virtual std::optional<std::string> ReadAll(const std::string& path) = 0;
  // Writes a sibling temporary file and puts it in place of `path`, so
  // readers see the old or the new content, never a part. On Windows an
  // existing file is replaced so that it keeps its security and attributes,
  // and where its folder takes no new file (a user granted Modify on the file
  // alone) the file is rewritten where it is. A symbolic link stays: the
  // file it leads to is replaced (or created). Anything but a regular file
  // (a folder, device, pipe or socket) is refused. False when anything
  // fails; the old file is then unchanged, and LastError tells why.
  virtual bool ReplaceAll(const std::string& path, const std::string& bytes) = 0;
  // Why this thread's last ReplaceAll failed.
  virtual FileError LastError() = 0;

  // Adds `bytes` at the end of the file, creating it when missing. Not
  // written when it cannot be opened or written (a read-only file too). The
  // cost does not depend on the file's size.
  virtual Appended AppendAll(const std::string& path, const std::string& bytes) = 0;
  // The file's size in bytes; nothing for a missing file or a folder.
  virtual std::optional<uint64_t> FileSize(const std::string& path) = 0;
  // Up to `count` bytes from `offset` on (fewer near the end, none past it);
  // nothing when the file cannot be read.
  virtual std::optional<std::string> ReadRange(const std::string& path, uint64_t offset,
                                               size_t count) = 0;
  // Gives `from` the name `to`, replacing a file of that name unless it is
  // read-only. False when anything fails; both files are then as they were.
  virtual bool RenameReplacing(const std::string& from, const std::string& to) = 0;

  // An existing file the platform runs as a program whatever its name:
  // POSIX: a regular file with execute permission; Windows: none (a program
  // file is known there by its extension).
  virtual bool IsProgramFile(const std::string& path) = 0;

  // kInvalidFileAttributes for a missing file.
  virtual uint32_t GetAttributes(const std::string& path) = 0;
  virtual bool SetAttributes(const std::string& path, uint32_t attributes) = 0;

  // When the file was last written; nothing for a missing file.
  virtual std::optional<std::chrono::system_clock::time_point> LastWriteTime(
      const std::string& path) = 0;

  // The path as the platform finds it (case-insensitive lookup on POSIX).
  virtual std::string Resolve(const std::string& path) = 0;

  // Full path of the running program.
  virtual std::string ExecutablePath() = 0;
};

// The folder of the running program, as the installed Files report its path,
// with its closing separator (a backslash or a slash, as the path has it);
// empty when the path names no folder. The program's own files (settings,
// languages, logs) lie there.
std::string ProgramFolder();

}  // namespace platform
