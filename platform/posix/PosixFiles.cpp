// Files on POSIX with Windows' view of them: '\\' separates folders, names
// match without regard to case when the exact spelling is missing, and the
// read-only attribute is a file without write bits (checked by us, since
// root may write to any file).
#include <dirent.h>
#include <fcntl.h>
#include <strings.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <optional>
#include <sstream>
#include <string>
#include <utility>

#include "platform/Files.h"
#include "platform/Services.h"

namespace platform {
namespace {

std::string WithSlashes(std::string path) {
  for (char& c : path) {
    if (c == '\\')
      c = '/';
  }
  return path;
}

bool Exists(const std::string& path) {
  struct stat st;
  return lstat(path.c_str(), &st) == 0;
}

// Finds `name` in `dir` ignoring case; the first match in directory order.
std::string MatchInDirectory(const std::string& dir, const std::string& name) {
  DIR* handle = opendir(dir.empty() ? "." : dir.c_str());
  if (!handle)
    return name;
  std::string found = name;
  while (dirent* entry = readdir(handle)) {
    if (strcasecmp(entry->d_name, name.c_str()) == 0) {
      found = entry->d_name;
      break;
    }
  }
  closedir(handle);
  return found;
}

std::string ResolveCaseInsensitive(const std::string& raw) {
  const std::string path = WithSlashes(raw);
  if (path.empty() || Exists(path))
    return path;
  std::string resolved = path[0] == '/' ? "/" : "";
  std::stringstream parts(path);
  std::string part;
  bool first = true;
  while (std::getline(parts, part, '/')) {
    if (part.empty())
      continue;
    const std::string dir = resolved;
    std::string candidate =
        (resolved.empty() || resolved.back() == '/') ? resolved + part : resolved + "/" + part;
    if (!Exists(candidate)) {
      const std::string matched = MatchInDirectory(dir.empty() ? "." : dir, part);
      candidate = (resolved.empty() || resolved.back() == '/') ? resolved + matched
                                                               : resolved + "/" + matched;
    }
    resolved = candidate;
    first = false;
  }
  if (first)
    return path;
  if (path.back() == '/' && resolved.back() != '/')
    resolved += '/';
  return resolved;
}

// A file without any write bit counts as read-only, also for root, who could
// write to it all the same.
bool IsReadOnlyFile(const std::string& path) {
  struct stat st;
  return stat(path.c_str(), &st) == 0 && !S_ISDIR(st.st_mode) &&
         (st.st_mode & (S_IWUSR | S_IWGRP | S_IWOTH)) == 0;
}

bool WriteAllTo(int fd, const std::string& bytes) {
  size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t n = write(fd, bytes.data() + done, bytes.size() - done);
    if (n < 0 && errno == EINTR)
      continue;
    if (n <= 0)
      return false;
    done += static_cast<size_t>(n);
  }
  return true;
}

// The temporary file a replacement is written to, beside its target: a name
// of its own, created by us alone (O_EXCL, which never follows a link), so in
// a folder others may write to nobody can plant a link that turns the write
// elsewhere. Removed unless it took the target's place.
class TemporarySibling {
 public:
  explicit TemporarySibling(const std::string& target) : path_(target + ".korva-XXXXXX") {
    fd_ = mkostemp(path_.data(), O_CLOEXEC);
    if (fd_ < 0)
      path_.clear();
  }
  ~TemporarySibling() {
    if (fd_ >= 0)
      close(fd_);
    if (!path_.empty())
      unlink(path_.c_str());
  }
  TemporarySibling(const TemporarySibling&) = delete;
  TemporarySibling& operator=(const TemporarySibling&) = delete;

  // -1 when it could not be created.
  int fd() const { return fd_; }
  // A failed close may have lost written data.
  bool Close() { return close(std::exchange(fd_, -1)) == 0; }
  bool RenameTo(const std::string& target) {
    if (rename(path_.c_str(), target.c_str()) != 0)
      return false;
    path_.clear();
    return true;
  }

 private:
  std::string path_;
  int fd_ = -1;
};

thread_local FileError lastError;

// Records why a replacement failed; always false.
bool Failed(int code, const char* reason = nullptr) {
  lastError = FileError{static_cast<uint32_t>(code), code == EBUSY || code == EAGAIN,
                        reason ? reason : std::strerror(code)};
  return false;
}

// The name `path` comes to after its symbolic links (a chain of them too,
// each relative to its own folder): what opening it would write to. A link
// that names nothing gives the name it names. Nothing for a loop.
std::optional<std::string> FollowLinks(std::string path) {
  constexpr int kMaxLinks = 40;  // as the kernel allows
  for (int hop = 0; hop <= kMaxLinks; ++hop) {
    struct stat st;
    if (lstat(path.c_str(), &st) != 0 || !S_ISLNK(st.st_mode))
      return path;
    std::string target(PATH_MAX, '\0');
    const ssize_t length = readlink(path.c_str(), target.data(), target.size());
    if (length <= 0)
      return path;
    target.resize(static_cast<size_t>(length));
    const size_t slash = path.find_last_of('/');
    if (target.front() != '/' && slash != std::string::npos)
      target = path.substr(0, slash + 1) + target;
    path = std::move(target);
  }
  return std::nullopt;
}

class PosixFiles final : public Files {
 public:
  std::optional<std::string> ReadAll(const std::string& path) override {
    std::ifstream in(Resolve(path), std::ios::binary);
    if (!in)
      return std::nullopt;
    std::ostringstream content;
    content << in.rdbuf();
    if (in.bad())
      return std::nullopt;
    return content.str();
  }

  bool ReplaceAll(const std::string& path, const std::string& bytes) override {
    // A link stays and its file is replaced; a device, pipe or socket is no
    // file to put another in place of.
    const std::optional<std::string> followed = FollowLinks(Resolve(path));
    if (!followed)
      return Failed(ELOOP);
    const std::string& target = *followed;
    struct stat st;
    mode_t mode = 0644;
    if (stat(target.c_str(), &st) == 0) {
      if (S_ISDIR(st.st_mode))
        return Failed(EISDIR);
      if (!S_ISREG(st.st_mode))
        return Failed(EINVAL, "Not a regular file");
      mode = st.st_mode & 07777;
    }
    TemporarySibling temp(target);
    if (temp.fd() < 0)
      return Failed(errno);
    if (fchmod(temp.fd(), mode) != 0 || !WriteAllTo(temp.fd(), bytes) || fsync(temp.fd()) != 0 ||
        !temp.Close())
      return Failed(errno);
    return temp.RenameTo(target) || Failed(errno);
  }

  FileError LastError() override { return lastError; }

  Appended AppendAll(const std::string& path, const std::string& bytes) override {
    const std::string target = Resolve(path);
    if (IsReadOnlyFile(target))
      return {};
    const int fd = open(target.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
    if (fd < 0)
      return {};
    const bool written = WriteAllTo(fd, bytes);
    return {written, close(fd) != 0};
  }

  std::optional<uint64_t> FileSize(const std::string& path) override {
    struct stat st;
    if (stat(Resolve(path).c_str(), &st) != 0 || !S_ISREG(st.st_mode))
      return std::nullopt;
    return static_cast<uint64_t>(st.st_size);
  }

  std::optional<std::string> ReadRange(const std::string& path, uint64_t offset,
                                       size_t count) override {
    const int fd = open(Resolve(path).c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
      return std::nullopt;
    std::string bytes(count, '\0');
    size_t done = 0;
    bool ok = true;
    while (done < count) {
      const ssize_t n =
          pread(fd, bytes.data() + done, count - done, static_cast<off_t>(offset + done));
      if (n < 0 && errno == EINTR)
        continue;
      if (n < 0) {
        ok = false;
        break;
      }
      if (n == 0)
        break;
      done += static_cast<size_t>(n);
    }
    close(fd);
    if (!ok)
      return std::nullopt;
    bytes.resize(done);
    return bytes;
  }

  bool RenameReplacing(const std::string& from, const std::string& to) override {
    const std::string source = Resolve(from);
    const std::string target = Resolve(to);
    // Windows refuses to replace a read-only file; rename() would not.
    if (IsReadOnlyFile(target))
      return false;
    return rename(source.c_str(), target.c_str()) == 0;
  }

  bool IsProgramFile(const std::string& path) override {
    const std::string target = Resolve(path);
    struct stat st;
    return stat(target.c_str(), &st) == 0 && S_ISREG(st.st_mode) &&
           access(target.c_str(), X_OK) == 0;
  }

  uint32_t GetAttributes(const std::string& path) override {
    struct stat st;
    if (stat(Resolve(path).c_str(), &st) != 0)
      return kInvalidFileAttributes;
    if (S_ISDIR(st.st_mode))
      return kFileAttributeDirectory;
    uint32_t attributes = kFileAttributeArchive;
    if ((st.st_mode & (S_IWUSR | S_IWGRP | S_IWOTH)) == 0)
      attributes |= kFileAttributeReadOnly;
    return attributes;
  }

  bool SetAttributes(const std::string& path, uint32_t attributes) override {
    const std::string target = Resolve(path);
    struct stat st;
    if (stat(target.c_str(), &st) != 0)
      return false;
    mode_t mode = st.st_mode & 07777;
    if (attributes & kFileAttributeReadOnly)
      mode &= ~(S_IWUSR | S_IWGRP | S_IWOTH);
    else
      mode |= S_IWUSR;
    return chmod(target.c_str(), mode) == 0;
  }

  std::optional<std::chrono::system_clock::time_point> LastWriteTime(
      const std::string& path) override {
    struct stat st;
    if (stat(Resolve(path).c_str(), &st) != 0)
      return std::nullopt;
    using namespace std::chrono;
    return system_clock::time_point(duration_cast<system_clock::duration>(
        seconds(st.st_mtim.tv_sec) + nanoseconds(st.st_mtim.tv_nsec)));
  }

  std::string Resolve(const std::string& path) override { return ResolveCaseInsensitive(path); }

  std::string ExecutablePath() override {
    char buffer[PATH_MAX];
    const ssize_t n = readlink("/proc/self/exe", buffer, sizeof buffer - 1);
    if (n <= 0)
      return {};
    return std::string(buffer, static_cast<size_t>(n));
  }
};

}  // namespace

Files& NativeFiles() {
  static PosixFiles files;
  return files;
}

}  // namespace platform
