// The program as a COM server, in the stand-in: its path, no short names,
// and its type library registered from the attributes the program states
// (there are no resources here to read them from).
#include <cstdio>

#include "platform/Files.h"
#include "platform/Services.h"
#include "platform/com/Com.h"

namespace platform::com {

namespace {

WideString VersionKey(const TypeLibraryAttributes& library) {
  char version[16];
  std::snprintf(version, sizeof version, "%x.%x", library.majorVersion, library.minorVersion);
  return OLESTR("TypeLib\\") + GuidToWide(library.libid) + OLESTR("\\") + Utf8ToWide(version);
}

LSTATUS SetDefault(const WideString& path, WideView text) {
  HKEY key = nullptr;
  LSTATUS status = RegCreateKeyExW(HKEY_CLASSES_ROOT, path.c_str(), 0, nullptr,
                                   REG_OPTION_NON_VOLATILE, KEY_WRITE, nullptr, &key, nullptr);
  if (status != ERROR_SUCCESS)
    return status;
  const WideString value(text);
  status = RegSetValueExW(key, nullptr, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                          static_cast<DWORD>((value.size() + 1) * sizeof(OLECHAR)));
  RegCloseKey(key);
  return status;
}

}  // namespace

WideString ProgramFilePath() {
  return Utf8ToWide(files().ExecutablePath());
}

WideString ShortPathName(WideView path) {
  return WideString(path);
}

HRESULT RegisterTypeLibrary(const TypeLibraryAttributes& library, WideView program) {
  const WideString key = VersionKey(library);
  const size_t separator = program.find_last_of(OLESTR("\\/"));
  const WideView folder = program.substr(0, separator == WideView::npos ? 0 : separator);
  for (const auto& [path, text] : {std::pair<WideString, WideView>{key, library.helpText},
                                   {key + OLESTR("\\0\\win64"), program},
                                   {key + OLESTR("\\FLAGS"), OLESTR("0")},
                                   {key + OLESTR("\\HELPDIR"), folder}}) {
    const LSTATUS status = SetDefault(path, text);
    if (status != ERROR_SUCCESS)
      return HRESULT_FROM_WIN32(status);
  }
  return S_OK;
}

HRESULT UnregisterTypeLibrary(const TypeLibraryAttributes& library) {
  const WideString key = VersionKey(library);
  for (const WideString& path : {key + OLESTR("\\0\\win64"), key + OLESTR("\\0"),
                                 key + OLESTR("\\FLAGS"), key + OLESTR("\\HELPDIR"), key}) {
    const LSTATUS status = RegDeleteKeyW(HKEY_CLASSES_ROOT, path.c_str());
    if (status != ERROR_SUCCESS && status != ERROR_FILE_NOT_FOUND)
      return HRESULT_FROM_WIN32(status);
  }
  // The library's key goes with its last version.
  const WideString libraryKey = OLESTR("TypeLib\\") + GuidToWide(library.libid);
  RegDeleteKeyW(HKEY_CLASSES_ROOT, libraryKey.c_str());
  return S_OK;
}

}  // namespace platform::com
