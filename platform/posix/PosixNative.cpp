// POSIX primitives behind the portable wrappers: dlopen for libraries, a
// lock file for the named mutex, and the recording stand-ins for message
// boxes and sound (this desktop has no tray or speaker of ours).
#include <dlfcn.h>
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "platform/Files.h"
#include "platform/MessageBoxes.h"
#include "platform/Native.h"
#include "platform/Services.h"
#include "platform/Sound.h"
#include "platform/posix/LockDirectory.h"

namespace platform {
namespace native {

void* OpenLibrary(const std::string& name, LoadFailure& failure) {
  const std::string path = files().Resolve(name);
  void* library = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (!library) {
    // The loader says why only in words.
    const char* said = dlerror();
    const std::string reason = said ? said : "";
    failure = reason.find("wrong ELF class") != std::string::npos ? LoadFailure::WrongArchitecture
              : reason.find("No such file") != std::string::npos  ? LoadFailure::NotFound
                                                                  : LoadFailure::Other;
  }
  return library;
}

void* LibrarySymbol(void* library, const char* name) {
  return dlsym(library, name);
}

void CloseLibrary(void* library) {
  dlclose(library);
}

std::string LockDirectory() {
  for (const char* variable : {"KORVA_LOCK_DIR", "XDG_RUNTIME_DIR", "TMPDIR"}) {
    const char* value = std::getenv(variable);
    if (value && *value)
      return value;
  }
  return "/tmp";
}

intptr_t CreateNamedMutex(const std::string& name, bool& alreadyExisted) {
  alreadyExisted = false;
  const std::string path = LockDirectory() + "/" + name + "-" + std::to_string(getuid()) + ".lock";
  const int fd = open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
  if (fd < 0)
    return -1;
  if (flock(fd, LOCK_EX | LOCK_NB) != 0)
    alreadyExisted = true;
  return fd;
}

void CloseNamedMutex(intptr_t handle) {
  close(static_cast<int>(handle));
}

}  // namespace native

namespace {
// Nobody can press a button here: the box answers with its default button and
// its text goes to the standard error, so a user still reads it.
class ConsoleMessageBoxes final : public ScriptedMessageBoxes {
 public:
  int Show(const std::string& text, const std::string& caption, uint32_t flags) override {
    std::fprintf(stderr, "%s: %s\n", caption.c_str(), text.c_str());
    return ScriptedMessageBoxes::Show(text, caption, flags);
  }
};
}  // namespace

MessageBoxes& NativeMessageBoxes() {
  static ConsoleMessageBoxes boxes;
  return boxes;
}

Sound& NativeSound() {
  static RecordingSound sound;
  return sound;
}

}  // namespace platform
