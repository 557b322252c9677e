// Files through the Win32 API; a write goes to a sibling temporary file that
// then replaces the target, so a reader never sees half a file, and no
// failure of the replacement leaves the target without one of its two
// contents.
#include "platform/win32/SystemCalls.h"

#include <algorithm>
#include <atomic>
#include <optional>
#include <string>

#include "platform/Files.h"
#include "platform/Services.h"
#include "platform/win32/Win32ErrorText.h"
#include "platform/win32/Win32FileTime.h"

namespace platform {
namespace win32 {
namespace {

bool IsReadOnlyFile(const std::string& path) {
  const DWORD attributes = GetFileAttributesA(path.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY) &&
         !(attributes & FILE_ATTRIBUTE_DIRECTORY);
}

thread_local FileError lastError;

// Records why a replacement failed; always false. A sharing or lock
// violation passes when the other program lets go of the file; so does a
// refused access, which virus scanners and indexers cause on a file just
// written, and a replacement that could not be moved in place. The system's
// text goes into a sentence of ours, in parentheses: without its period.
bool Failed(DWORD code) {
  const bool transient = code == ERROR_SHARING_VIOLATION || code == ERROR_LOCK_VIOLATION ||
                         code == ERROR_ACCESS_DENIED || code == ERROR_UNABLE_TO_REMOVE_REPLACED ||
                         code == ERROR_UNABLE_TO_MOVE_REPLACEMENT ||
                         code == ERROR_UNABLE_TO_MOVE_REPLACEMENT_2;
  lastError = FileError{code, transient, ErrorText(code, FinalPeriod::Drop)};
  return false;
}

bool WriteAllTo(HANDLE file, const std::string& bytes) {
  size_t done = 0;
  while (done < bytes.size()) {
    DWORD written = 0;
    const DWORD chunk = static_cast<DWORD>(std::min<size_t>(bytes.size() - done, 1 << 20));
    if (!WriteFile(file, bytes.data() + done, chunk, &written, nullptr) || written == 0)
      return false;
    done += written;
  }
  return true;
}

bool Exists(const std::string& path) {
  return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

// Records a refusal of ours; always false.
bool Refused(const char* reason) {
  lastError = FileError{ERROR_INVALID_NAME, false, reason};
  return false;
}

// A DOS device (CON, PRN, AUX, NUL, COM1-9, LPT1-9, whatever the extension)
// or a name in the device namespace: opening it reaches the device itself,
// a serial port perhaps, so it is told by its name alone.
bool IsDeviceName(const std::string& path) {
  if (path.rfind("\\\\.\\", 0) == 0 || path.rfind("//./", 0) == 0)
    return true;
  const size_t folder = path.find_last_of("\\/:");
  std::string name = path.substr(folder == std::string::npos ? 0 : folder + 1);
  name = name.substr(0, name.find('.'));
  while (!name.empty() && name.back() == ' ')
    name.pop_back();
  for (char& c : name)
    c = (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c;
  if (name == "CON" || name == "PRN" || name == "AUX" || name == "NUL")
    return true;
  return name.size() == 4 && (name.rfind("COM", 0) == 0 || name.rfind("LPT", 0) == 0) &&
         name[3] >= '1' && name[3] <= '9';
}

// The file a symbolic link (a reparse point) leads to, or the path itself
// for anything else; nothing when the link leads nowhere.
std::optional<std::string> FollowLink(const std::string& path) {
  const DWORD attributes = GetFileAttributesA(path.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES || !(attributes & FILE_ATTRIBUTE_REPARSE_POINT))
    return path;
  HANDLE file = CreateFileA(path.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                            nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (file == INVALID_HANDLE_VALUE)
    return std::nullopt;
  std::string target(MAX_PATH, '\0');
  DWORD length = GetFinalPathNameByHandleA(file, target.data(), static_cast<DWORD>(target.size()),
                                           FILE_NAME_NORMALIZED | VOLUME_NAME_DOS);
  if (length >= target.size()) {
    target.resize(length + 1);
    length = GetFinalPathNameByHandleA(file, target.data(), static_cast<DWORD>(target.size()),
                                       FILE_NAME_NORMALIZED | VOLUME_NAME_DOS);
  }
  CloseHandle(file);
  if (length == 0 || length >= target.size())
    return std::nullopt;
  target.resize(length);
  // "\\?\UNC\server\share" and "\\?\C:\..." back to their plain forms.
  if (target.rfind("\\\\?\\UNC\\", 0) == 0)
    return "\\\\" + target.substr(8);
  if (target.rfind("\\\\?\\", 0) == 0)
    return target.substr(4);
  return target;
}

// A name beside `path` that no other writer, of this process or another, uses.
std::string UniqueSibling(const std::string& path, const char* extension) {
  static std::atomic<unsigned> counter{0};
  return path + ".korva-" + std::to_string(GetCurrentProcessId()) + "-" +
         std::to_string(++counter) + extension;
}

// ReplaceFileA and MoveFileExA through the system calls' table, where a test
// can play each way their contract lets them fail: 0, or the system's error
// code.
DWORD Replace(const std::string& replaced, const std::string& replacement,
              const std::string& backup) {
  return systemCalls().replaceFile(replaced.c_str(), replacement.c_str(), backup.c_str(),
                                   REPLACEFILE_IGNORE_MERGE_ERRORS, nullptr, nullptr)
             ? 0
             : GetLastError();
}
// Written through, never over an existing file.
DWORD Move(const std::string& from, const std::string& to) {
  return systemCalls().moveFileEx(from.c_str(), to.c_str(), MOVEFILE_WRITE_THROUGH)
             ? 0
             : GetLastError();
}

// How often, and how far apart, the content is moved back under the file's
// name when a replacement left the name empty: a scanner may hold the
// fresh file for a moment.
constexpr int kRestoreTries = 10;
constexpr DWORD kRestorePauseMs = 100;

// Writes the file over where it is: readers may see it half written, so this
// is only for a file whose folder takes no temporary file.
bool RewriteInPlace(const std::string& path, const std::string& bytes) {
  HANDLE file = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE)
    return Failed(GetLastError());
  const bool ok = WriteAllTo(file, bytes) && SetEndOfFile(file) && FlushFileBuffers(file);
  const DWORD error = ok ? 0 : GetLastError();
  if (!CloseHandle(file) && ok)
    return Failed(GetLastError());
  return ok || Failed(error);
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
    // A device is never written; a link stays and its file is replaced.
    if (IsDeviceName(path))
      return Refused("Not a regular file");
    const std::optional<std::string> followed = FollowLink(path);
    if (!followed)
      return Failed(GetLastError());
    return ReplaceFileAt(*followed, bytes);
  }

  FileError LastError() override { return lastError; }

  Appended AppendAll(const std::string& path, const std::string& bytes) override {
    // Windows refuses to write a read-only file; said here as well, since a
    // compatibility layer running as the superuser may not.
    if (IsReadOnlyFile(path))
      return {};
    HANDLE file = CreateFileA(path.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE,
                              nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
      return {};
    const bool ok = WriteAllTo(file, bytes);
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
    return FromFileTime(data.ftLastWriteTime);
  }

  std::string Resolve(const std::string& path) override { return path; }

  std::string ExecutablePath() override {
    char buffer[MAX_PATH * 4];
    const DWORD n = GetModuleFileNameA(nullptr, buffer, sizeof buffer);
    return std::string(buffer, n);
  }

 private:
  // Replaces the file at `path`, a regular file or none, through a sibling
  // temporary file.
  bool ReplaceFileAt(const std::string& path, const std::string& bytes) {
    const bool exists = Exists(path);
    const std::string temp = UniqueSibling(path, ".tmp");
    HANDLE file = CreateFileA(temp.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
      const DWORD error = GetLastError();
      // The folder takes no new file, but the file itself may be changed (a
      // user granted Modify on it alone): it is rewritten where it is.
      if (error == ERROR_ACCESS_DENIED && exists)
        return RewriteInPlace(path, bytes);
      return Failed(error);
    }
    bool ok = WriteAllTo(file, bytes) && FlushFileBuffers(file);
    DWORD error = ok ? 0 : GetLastError();
    if (!CloseHandle(file) && ok) {
      ok = false;
      error = GetLastError();
    }
    if (!ok) {
      DeleteFileA(temp.c_str());
      return Failed(error);
    }
    if (!exists) {
      error = Move(temp, path);
      if (error != 0) {
        DeleteFileA(temp.c_str());
        return Failed(error);
      }
      return true;
    }
    return PutInPlace(path, temp);
  }

  // ReplaceFile keeps the replaced file's security, attributes and streams,
  // which a renamed temporary file would lose. It is given a backup name:
  // without one, a failure may leave the old file under a name nobody knows
  // (ERROR_UNABLE_TO_MOVE_REPLACEMENT_2) or deleted already
  // (ERROR_UNABLE_TO_MOVE_REPLACEMENT), with the new content only in the
  // temporary file.
  bool PutInPlace(const std::string& path, const std::string& temp) {
    const std::string backup = UniqueSibling(path, ".bak");
    const DWORD error = Replace(path, temp, backup);
    if (error == 0) {
      DeleteFileA(backup.c_str());
      return true;
    }
    if (!Exists(path))
      return Restore(path, temp, backup, error);
    // The old or the new content is in place, whole: the copies may go.
    DeleteFileA(temp.c_str());
    DeleteFileA(backup.c_str());
    return Failed(error);
  }

  // The file's name is empty after a failed replacement. The temporary file
  // holds the content asked for: it goes there; only where it cannot, the
  // old content comes back from the backup. Neither copy is ever deleted
  // before one of them is in place; where neither can be put there, both
  // stay beside the file.
  bool Restore(const std::string& path, const std::string& temp, const std::string& backup,
               DWORD error) {
    for (int attempt = 1; attempt <= kRestoreTries; ++attempt) {
      if (Move(temp, path) == 0) {
        DeleteFileA(backup.c_str());
        return true;
      }
      if (Exists(backup) && Move(backup, path) == 0) {
        DeleteFileA(temp.c_str());
        return Failed(error);
      }
      if (attempt < kRestoreTries)
        Sleep(kRestorePauseMs);
    }
    return Failed(error);
  }
};

}  // namespace
}  // namespace win32

Files& NativeFiles() {
  static win32::Win32Files files;
  return files;
}

}  // namespace platform
