// Win32 primitives behind the portable wrappers: libraries, the named mutex,
// message boxes and sound.
#include <windows.h>

#include <string>

#include "platform/MessageBoxes.h"
#include "platform/Native.h"
#include "platform/Services.h"
#include "platform/Sound.h"

namespace platform {
namespace native {

void* OpenLibrary(const std::string& name) {
  return reinterpret_cast<void*>(LoadLibraryA(name.c_str()));
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
