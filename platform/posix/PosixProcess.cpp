// Programs started with posix_spawn, as the shell's "open" and CreateProcessA
// would start them on Windows: names resolved without regard to case, '\\' as
// a separator, the shell's result numbers. Nothing is ever run through a
// shell. Each child runs in a session of its own and is reaped by a waiting
// thread, so it neither dies with a terminal's Ctrl+C nor stays behind as a
// zombie. The process scan reads /proc.
#include <dirent.h>
#include <signal.h>
#include <spawn.h>
#include <strings.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "platform/Files.h"
#include "platform/Process.h"

extern char** environ;

namespace platform {
namespace {

bool IsSeparator(char c) {
  return c == '/' || c == '\\';
}

bool IsFolder(const std::string& path) {
  struct stat st;
  return stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

std::string FolderOf(const std::string& path) {
  const size_t slash = path.find_last_of('/');
  if (slash == std::string::npos)
    return ".";
  return slash == 0 ? "/" : path.substr(0, slash);
}

// Blanks separate the parameters; double quotes group blanks into one and
// are dropped.
std::vector<std::string> SplitParameters(const std::string& parameters) {
  std::vector<std::string> words;
  std::string word;
  bool inWord = false;
  bool quoted = false;
  for (const char c : parameters) {
    if (c == '"') {
      quoted = !quoted;
      inWord = true;
    } else if (!quoted && (c == ' ' || c == '\t')) {
      if (inWord)
        words.push_back(word);
      word.clear();
      inWord = false;
    } else {
      word += c;
      inWord = true;
    }
  }
  if (inWord)
    words.push_back(word);
  return words;
}

// One parameter, whatever blanks it holds.
std::string Quoted(const std::string& word) {
  return '"' + word + '"';
}

// A program named without a folder, found as a shell would find it; as it
// was when no folder of PATH holds it (the start then reports it missing).
std::string FindOnPath(const std::string& name) {
  if (name.find('/') != std::string::npos)
    return name;
  const char* path = std::getenv("PATH");
  const std::string folders = path ? path : "/usr/local/bin:/usr/bin:/bin";
  size_t begin = 0;
  while (begin <= folders.size()) {
    const size_t end = std::min(folders.find(':', begin), folders.size());
    const std::string folder = folders.substr(begin, end - begin);
    const std::string candidate = (folder.empty() ? "." : folder) + "/" + name;
    struct stat st;
    if (stat(candidate.c_str(), &st) == 0 && S_ISREG(st.st_mode) &&
        access(candidate.c_str(), X_OK) == 0)
      return candidate;
    begin = end + 1;
  }
  return name;
}

int ShellNumberOf(int error) {
  switch (error) {
    case ENOENT:
      return kShellFileNotFound;
    case ENOTDIR:
      return kShellPathNotFound;
    case EACCES:
    case EPERM:
      return kShellAccessDenied;
    case ENOEXEC:
      return kShellBadFormat;
    case ENOMEM:
    case EAGAIN:
    case E2BIG:
      return kShellOutOfMemory;
    default:
      return kShellOutOfResources;
  }
}

// Frees the spawn attributes and file actions with the scope.
class SpawnSetup {
 public:
  SpawnSetup() {
    posix_spawnattr_init(&attributes);
    posix_spawn_file_actions_init(&actions);
  }
  ~SpawnSetup() {
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attributes);
  }
  SpawnSetup(const SpawnSetup&) = delete;
  SpawnSetup& operator=(const SpawnSetup&) = delete;

  posix_spawnattr_t attributes;
  posix_spawn_file_actions_t actions;
};

// Starts `path` with `words` as its arguments (the first names the program)
// in `folder` (empty: the caller's), in a session of its own, with the
// signals a fresh shell gives; a thread reaps it. The spawn's error number.
int Spawn(const std::string& path, std::vector<std::string>& words, const std::string& folder) {
  std::vector<char*> argv;
  for (std::string& word : words)
    argv.push_back(word.data());
  argv.push_back(nullptr);

  SpawnSetup setup;
  // The program starts as if from a fresh shell: no blocked or ignored signals.
  sigset_t none;
  sigemptyset(&none);
  sigset_t standard;
  sigemptyset(&standard);
  for (int signal : {SIGPIPE, SIGINT, SIGTERM, SIGHUP, SIGCHLD})
    sigaddset(&standard, signal);
  posix_spawnattr_setsigmask(&setup.attributes, &none);
  posix_spawnattr_setsigdefault(&setup.attributes, &standard);
  posix_spawnattr_setflags(&setup.attributes,
                           POSIX_SPAWN_SETSID | POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);
  if (!folder.empty())
    posix_spawn_file_actions_addchdir_np(&setup.actions, folder.c_str());
  pid_t child = 0;
  const int error =
      posix_spawn(&child, path.c_str(), &setup.actions, &setup.attributes, argv.data(), environ);
  if (error != 0)
    return error;
  std::thread([child] {
    int status = 0;
    while (waitpid(child, &status, 0) < 0 && errno == EINTR) {
    }
  }).detach();
  return 0;
}

bool IsExecutableFile(const std::string& path) {
  struct stat st;
  return stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode) && access(path.c_str(), X_OK) == 0;
}

bool EndsWithExe(const std::string& name) {
  return name.size() > 4 && strcasecmp(name.c_str() + name.size() - 4, ".exe") == 0;
}

std::string BaseName(const std::string& path) {
  const size_t slash = path.find_last_of('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

// The names a process goes by: its name (which the kernel cuts to 15 bytes)
// and its program file's, each also with ".exe". Nothing when it has ended.
std::optional<RunningProcess> ReadProcess(const std::string& folder, uint32_t id) {
  std::ifstream status(folder + "/stat");
  std::string line;
  if (!std::getline(status, line))
    return std::nullopt;
  // "pid (name) state ppid ...": the name may hold blanks and parentheses.
  const size_t open = line.find('(');
  const size_t close = line.rfind(')');
  if (open == std::string::npos || close == std::string::npos || close < open ||
      close + 4 >= line.size())
    return std::nullopt;
  RunningProcess process;
  process.id = id;
  std::from_chars(line.c_str() + close + 4, line.c_str() + line.size(), process.parentId);
  const std::string name = line.substr(open + 1, close - open - 1);
  std::vector<std::string> bases = {name};
  char target[4096];
  const ssize_t length = readlink((folder + "/exe").c_str(), target, sizeof target - 1);
  if (length > 0) {
    std::string program(target, static_cast<size_t>(length));
    constexpr std::string_view kDeleted = " (deleted)";
    if (program.ends_with(kDeleted))
      program.resize(program.size() - kDeleted.size());
    if (std::string base = BaseName(program); base != name)
      bases.push_back(base);
  }
  for (const std::string& base : bases) {
    process.names.push_back(base);
    process.names.push_back(base + ".exe");
  }
  return process;
}

class PosixProcesses final : public Processes {
 public:
  int ShellExecute(const std::string& verb, const std::string& file, const std::string& parameters,
                   const std::string& directory, int /*showCommand*/) override {
    if (!verb.empty() && strcasecmp(verb.c_str(), "open") != 0)
      return kShellNoAssociation;
    Files& names = files();
    std::string folder;
    if (!directory.empty()) {
      folder = names.Resolve(directory);
      if (!IsFolder(folder))
        return kShellPathNotFound;
    }
    if (file.empty())
      return kShellFileNotFound;
    const bool hasFolder = file.find_first_of("/\\") != std::string::npos;
    std::string path = file;
    if (!IsSeparator(file[0]) && !folder.empty())
      path = folder + "/" + file;
    else if (!hasFolder)
      path = "./" + file;
    path = names.Resolve(path);

    struct stat st;
    if (stat(path.c_str(), &st) != 0)
      return IsFolder(FolderOf(path)) ? kShellFileNotFound : kShellPathNotFound;
    if (!S_ISREG(st.st_mode) || access(path.c_str(), X_OK) != 0)
      return kShellAccessDenied;

    std::vector<std::string> words = SplitParameters(parameters);
    words.insert(words.begin(), path);
    const int error = Spawn(path, words, folder);
    if (error != 0)
      return ShellNumberOf(error);
    return kShellStarted;
  }

  bool CreateProcess(const std::string& applicationName, const std::string& commandLine) override {
    Files& names = files();
    std::string path = names.Resolve(applicationName);
    if (!IsExecutableFile(path) && EndsWithExe(applicationName)) {
      const std::string bare = names.Resolve(applicationName.substr(0, applicationName.size() - 4));
      if (IsExecutableFile(bare))
        path = bare;
    }
    if (!IsExecutableFile(path))
      return false;
    std::vector<std::string> words = SplitParameters(commandLine);
    if (words.empty())
      words.push_back(path);
    return Spawn(path, words, {}) == 0;
  }

  std::optional<std::vector<RunningProcess>> RunningProcesses() override {
    const std::unique_ptr<DIR, int (*)(DIR*)> proc(opendir("/proc"), closedir);
    if (!proc)
      return std::nullopt;
    std::vector<RunningProcess> running;
    while (const dirent* entry = readdir(proc.get())) {
      uint32_t id = 0;
      const char* name = entry->d_name;
      const char* end = name + std::char_traits<char>::length(name);
      const auto [stop, error] = std::from_chars(name, end, id);
      if (error != std::errc() || stop != end)
        continue;
      if (auto process = ReadProcess(std::string("/proc/") + name, id))
        running.push_back(std::move(*process));
    }
    return running;
  }
};

}  // namespace

Processes& NativeProcesses() {
  static PosixProcesses processes;
  return processes;
}

std::string SystemDirectory() {
  return "/usr/bin";
}

ShellCall TextEditorCall(const std::string& path) {
  std::string command = "xdg-open";
  for (const char* variable : {"VISUAL", "EDITOR"}) {
    const char* value = std::getenv(variable);
    if (value && !SplitParameters(value).empty()) {
      command = value;
      break;
    }
  }
  const std::vector<std::string> words = SplitParameters(command);
  std::string parameters;
  for (size_t i = 1; i < words.size(); ++i)
    parameters += Quoted(words[i]) + " ";
  parameters += Quoted(path);
  return {FindOnPath(words[0]), parameters, ""};
}

}  // namespace platform
