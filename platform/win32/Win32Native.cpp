// Win32 primitives behind the portable wrappers: libraries, the named mutex,
// message boxes and sound.
#include <windows.h>

#include <string>

#include "platform/Files.h"
#include "platform/MessageBoxes.h"
#include "platform/Native.h"
#include "platform/Process.h"
#include "platform/Services.h"
#include "platform/Sound.h"

namespace platform {
namespace native {

namespace {

LoadFailure FailureOf(DWORD error) {
  switch (error) {
    case ERROR_MOD_NOT_FOUND:
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
      return LoadFailure::NotFound;
    case ERROR_BAD_EXE_FORMAT:
      return LoadFailure::WrongArchitecture;
    default:
      return LoadFailure::Other;
  }
}

}  // namespace

void* OpenLibrary(const std::string& name, LoadFailure& failure) {
  HMODULE library = nullptr;
  if (name.find_first_of("\\/:") != std::string::npos) {
    library = LoadLibraryA(name.c_str());
  } else {
    // A bare name: the program's folder and the system's, never the current
    // folder or PATH, where anyone may have put a library of that name.
    library = LoadLibraryExA(name.c_str(), nullptr, LOAD_LIBRARY_SEARCH_DEFAULT_DIRS);
    // A system without the safe search: the same two folders by full path.
    if (!library && GetLastError() == ERROR_INVALID_PARAMETER) {
      for (const std::string& folder : {ProgramFolder(), SystemDirectory() + "\\"}) {
        library = LoadLibraryExA((folder + name).c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
        if (library || GetLastError() != ERROR_MOD_NOT_FOUND)
          break;
      }
    }
  }
  if (!library)
    failure = FailureOf(GetLastError());
  return reinterpret_cast<void*>(library);
}

void* LibrarySymbol(void* library, const char* name) {
  return reinterpret_cast<void*>(GetProcAddress(static_cast<HMODULE>(library), name));
}

void CloseLibrary(void* library) {
  FreeLibrary(static_cast<HMODULE>(library));
}

intptr_t CreateNamedMutex(const std::string& name, bool& alreadyExisted) {
  HANDLE mutex = CreateMutexA(nullptr, TRUE, name.c_str());
  const DWORD error = GetLastError();
  // A mutex that exists but may not be opened (its holder runs elevated, or
  // as another user) is taken all the same.
  alreadyExisted = error == ERROR_ALREADY_EXISTS || (!mutex && error == ERROR_ACCESS_DENIED);
  if (!mutex)
    return -1;
  return reinterpret_cast<intptr_t>(mutex);
}

void CloseNamedMutex(intptr_t handle) {
  CloseHandle(reinterpret_cast<HANDLE>(handle));
}

}  // namespace native

namespace {

class Win32MessageBoxes final : public MessageBoxes {
 public:
  int Show(const std::string& text, const std::string& caption, uint32_t flags) override {
    return MessageBoxA(GetActiveWindow(), text.c_str(), caption.c_str(), NativeBoxStyle(flags));
  }
};

class Win32Sound final : public Sound {
 public:
  void Beep(uint32_t frequencyHz, uint32_t durationMs) override { ::Beep(frequencyHz, durationMs); }
  void MessageBeep(uint32_t type) override { ::MessageBeep(type); }
};

}  // namespace

MessageBoxes& NativeMessageBoxes() {
  static Win32MessageBoxes boxes;
  return boxes;
}

Sound& NativeSound() {
  static Win32Sound sound;
  return sound;
}

}  // namespace platform
