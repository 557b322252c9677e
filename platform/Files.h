// Files as the settings file and its write protection need them, with the
// Windows attribute bits. On POSIX, paths may use '\\' or '/', and a path
// whose exact spelling does not exist is resolved case-insensitively.
#pragma once

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>

namespace platform {

inline constexpr uint32_t kInvalidFileAttributes = 0xFFFFFFFF;
inline constexpr uint32_t kFileAttributeReadOnly = 0x01;
inline constexpr uint32_t kFileAttributeDirectory = 0x10;
inline constexpr uint32_t kFileAttributeArchive = 0x20;

class Files {
 public:
  virtual ~Files() = default;

  // The whole file, or nothing when it cannot be opened.
  virtual std::optional<std::string> ReadAll(const std::string& path) = 0;
  // Writes a sibling temporary file and renames it over `path`, so readers
  // see the old or the new content, never a part. False when anything fails;
  // the old file is then unchanged.
  virtual bool ReplaceAll(const std::string& path, const std::string& bytes) = 0;

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

}  // namespace platform
