// Files through the Win32 API; a write goes to a sibling temporary file that
// then replaces the target, so a reader never sees half a file.
#include <windows.h>

#include <algorithm>
#include <string>

#include "platform/Files.h"
#include "platform/Services.h"

namespace platform {
namespace {

bool IsReadOnlyFile(const std::string& path) {
  const DWORD attributes = GetFileAttributesA(path.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY) &&
         !(attributes & FILE_ATTRIBUTE_DIRECTORY);
}

class Win32Files final : public Files {
 public:
  std::optional<std::string> ReadAll(const std::string& path) override {
    HANDLE file = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                              nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
      return std::nullopt;
    std::string content;
    char buffer[8192];
    DWORD got = 0;
    bool ok = true;
    while ((ok = ReadFile(file, buffer, sizeof buffer, &got, nullptr)) && got > 0)
      content.append(buffer, got);
    CloseHandle(file);
    if (!ok)
      return std::nullopt;
    return content;
  }

  bool ReplaceAll(const std::string& path, const std::string& bytes) override {
    const std::string temp = path + ".korva-tmp";
    HANDLE file = CreateFileA(temp.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
      return false;
    bool ok = true;
    size_t done = 0;
    while (ok && done < bytes.size()) {
      DWORD written = 0;
      const DWORD chunk = static_cast<DWORD>(std::min<size_t>(bytes.size() - done, 1 << 20));
      ok = WriteFile(file, bytes.data() + done, chunk, &written, nullptr) && written > 0;
      done += written;
    }
    if (ok)
      ok = FlushFileBuffers(file);
    if (!CloseHandle(file))
      ok = false;
    if (ok)
      ok = MoveFileExA(temp.c_str(), path.c_str(),
                       MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH);
    if (!ok)
      DeleteFileA(temp.c_str());
    return ok;
  }

  Appended AppendAll(const std::string& path, const std::string& bytes) override {
    // Windows refuses to write a read-only file; said here as well, since a
    // compatibility layer running as the superuser may not.
    if (IsReadOnlyFile(path))
      return {};
    HANDLE file = CreateFileA(path.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE,
                              nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
      return {};
    bool ok = true;
    size_t done = 0;
    while (ok && done < bytes.size()) {
      DWORD written = 0;
      const DWORD chunk = static_cast<DWORD>(std::min<size_t>(bytes.size() - done, 1 << 20));
      ok = WriteFile(file, bytes.data() + done, chunk, &written, nullptr) && written > 0;
      done += written;
    }
    return {ok, !CloseHandle(file)};
  }

  std::optional<uint64_t> FileSize(const std::string& path) override {
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (!GetFileAttributesExA(path.c_str(), GetFileExInfoStandard, &data) ||
        (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY))
      return std::nullopt;
    return (uint64_t{data.nFileSizeHigh} << 32) | data.nFileSizeLow;
  }

  std::optional<std::string> ReadRange(const std::string& path, uint64_t offset,
                                       size_t count) override {
    HANDLE file = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                              nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
      return std::nullopt;
    LARGE_INTEGER position;
    position.QuadPart = static_cast<LONGLONG>(offset);
    std::string bytes(count, '\0');
    size_t done = 0;
    bool ok = SetFilePointerEx(file, position, nullptr, FILE_BEGIN) != 0;
    while (ok && done < count) {
      DWORD got = 0;
      const DWORD chunk = static_cast<DWORD>(std::min<size_t>(count - done, 1 << 20));
      ok = ReadFile(file, bytes.data() + done, chunk, &got, nullptr) != 0;
      if (got == 0)
        break;
      done += got;
    }
    CloseHandle(file);
    if (!ok)
      return std::nullopt;
    bytes.resize(done);
    return bytes;
  }

  bool RenameReplacing(const std::string& from, const std::string& to) override {
    if (IsReadOnlyFile(to))
      return false;
    return MoveFileExA(from.c_str(), to.c_str(), MOVEFILE_REPLACE_EXISTING) != 0;
  }

  bool IsProgramFile(const std::string&) override { return false; }

  uint32_t GetAttributes(const std::string& path) override {
    return GetFileAttributesA(path.c_str());
  }

  bool SetAttributes(const std::string& path, uint32_t attributes) override {
    return SetFileAttributesA(path.c_str(), attributes) != 0;
  }

  std::optional<std::chrono::system_clock::time_point> LastWriteTime(
      const std::string& path) override {
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (!GetFileAttributesExA(path.c_str(), GetFileExInfoStandard, &data))
      return std::nullopt;
    // FILETIME counts 100 ns steps from 1601; the system clock counts from 1970.
    const uint64_t ticks =
        (uint64_t{data.ftLastWriteTime.dwHighDateTime} << 32) | data.ftLastWriteTime.dwLowDateTime;
    constexpr uint64_t kFrom1601To1970 = 116444736000000000ULL;
    using namespace std::chrono;
    const auto sinceEpoch = duration<int64_t, std::ratio<1, 10'000'000>>(
        static_cast<int64_t>(ticks) - static_cast<int64_t>(kFrom1601To1970));
    return system_clock::time_point(duration_cast<system_clock::duration>(sinceEpoch));
  }

  std::string Resolve(const std::string& path) override { return path; }

  std::string ExecutablePath() override {
    char buffer[MAX_PATH * 4];
    const DWORD n = GetModuleFileNameA(nullptr, buffer, sizeof buffer);
    return std::string(buffer, n);
  }
};

}  // namespace

Files& NativeFiles() {
  static Win32Files files;
  return files;
}

}  // namespace platform
