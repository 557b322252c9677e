#include "platform/win32/Win32Pdh.h"

#include <string>

#include "platform/Process.h"
#include "platform/win32/SystemCalls.h"

namespace platform::win32 {
namespace {

template <class Function>
void Bind(HMODULE library, Function& function, const char* name) {
  function = reinterpret_cast<Function>(reinterpret_cast<void*>(GetProcAddress(library, name)));
}

// The library's full path in the system's folder; empty when that is unknown.
std::string SystemLibrary(const char* name) {
  const std::string folder = SystemDirectory();
  return folder.empty() ? folder : folder + "\\" + name;
}

}  // namespace

Pdh::~Pdh() {
  if (library)
    FreeLibrary(library);
}

bool Pdh::Load() {
  if (library)
    return true;
  // By its full path: a bare name would be looked for in the program's
  // folder first. What it needs in turn is looked for in its own folder.
  const std::string path = SystemLibrary("pdh.dll");
  if (path.empty())
    return false;
  library = systemCalls().loadLibraryEx(path.c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
  if (!library)
    return false;
  Bind(library, openQuery, "PdhOpenQuery");
  Bind(library, closeQuery, "PdhCloseQuery");
  Bind(library, addCounter, "PdhAddCounterA");
  Bind(library, removeCounter, "PdhRemoveCounter");
  Bind(library, collectQueryData, "PdhCollectQueryData");
  Bind(library, validatePath, "PdhValidatePathA");
  Bind(library, getFormattedCounterValue, "PdhGetFormattedCounterValue");
  Bind(library, makeCounterPath, "PdhMakeCounterPath");
  return true;
}

}  // namespace platform::win32
