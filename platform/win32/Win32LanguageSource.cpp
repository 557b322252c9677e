// Language libraries on Windows: resource-only DLLs mapped as data, so no
// code of theirs runs, with their texts read by LoadStringA in the ANSI code
// page. A relative path is taken from the program's folder, whatever the
// current directory is.
#include <windows.h>
// The interface's method has the name that windows.h makes a macro of.
#undef LoadString

#include <string>

#include "platform/Files.h"
#include "platform/LanguageSource.h"
#include "platform/Services.h"

namespace platform {
namespace {

bool IsAbsolute(const std::string& path) {
  if (!path.empty() && (path[0] == '\\' || path[0] == '/'))
    return true;
  return path.size() >= 2 && path[1] == ':';
}

class Win32Languages final : public LanguageSource {
 public:
  Handle Load(const std::string& path) override {
    if (path.empty())
      return nullptr;
    const std::string full = IsAbsolute(path) ? path : ProgramFolder() + path;
    return LoadLibraryExA(full.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
  }

  int LoadString(Handle library, uint32_t id, char* buffer, int bufferSize) override {
    if (buffer == nullptr || bufferSize < 1)
      return 0;
    buffer[0] = '\0';
    if (library == nullptr || id > 0xFFFF)
      return 0;
    return LoadStringA(static_cast<HMODULE>(library), id, buffer, bufferSize);
  }

  void Free(Handle library) override {
    if (library)
      FreeLibrary(static_cast<HMODULE>(library));
  }
};

}  // namespace

LanguageSource& NativeLanguageSource() {
  static Win32Languages source;
  return source;
}

}  // namespace platform
