// The program as a COM server on Windows: its path and short path, and the
// type library of its TYPELIB resource, registered by the platform.
#include <cstdio>

#include "platform/com/Com.h"

namespace platform::com {

WideString ProgramFilePath() {
  WideString path(MAX_PATH, L'\0');
  for (;;) {
    const DWORD length = GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size()));
    if (length == 0)
      return {};
    if (length < path.size()) {
      path.resize(length);
      return path;
    }
    path.resize(path.size() * 2);
  }
}

WideString ShortPathName(WideView path) {
  const WideString full(path);
  const DWORD needed = GetShortPathNameW(full.c_str(), nullptr, 0);
  if (needed == 0)
    return full;
  WideString shortPath(needed, L'\0');
  const DWORD length = GetShortPathNameW(full.c_str(), shortPath.data(), needed);
  if (length == 0 || length >= needed)
    return full;
  shortPath.resize(length);
  return shortPath;
}

HRESULT RegisterTypeLibrary(const TypeLibraryAttributes&, WideView program) {
  ITypeLib* library = nullptr;
  const HRESULT result = LoadTypeLibEx(WideString(program).c_str(), REGKIND_REGISTER, &library);
  if (library)
    library->Release();
  return result;
}

HRESULT UnregisterTypeLibrary(const TypeLibraryAttributes& library) {
  // The platform refuses to unregister what is not registered.
  wchar_t version[16];
  std::swprintf(version, 16, L"%x.%x", library.majorVersion, library.minorVersion);
  const WideString key = L"TypeLib\\" + GuidToWide(library.libid) + L"\\" + version;
  HKEY opened = nullptr;
  const LSTATUS status = RegOpenKeyExW(HKEY_CLASSES_ROOT, key.c_str(), 0, KEY_READ, &opened);
  if (status == ERROR_FILE_NOT_FOUND)
    return S_OK;
  if (status == ERROR_SUCCESS)
    RegCloseKey(opened);
  return UnRegisterTypeLib(library.libid, library.majorVersion, library.minorVersion, LANG_NEUTRAL,
                           sizeof(void*) == 8 ? SYS_WIN64 : SYS_WIN32);
}

}  // namespace platform::com
