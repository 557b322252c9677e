// HKEY_CLASSES_ROOT of the stand-in: keys by path, each with named values,
// in memory for the life of the process. Open keys are handles of our own.
#include <cstring>
#include <map>
#include <memory>
#include <mutex>
#include <vector>

#include "platform/com/Com.h"

using platform::com::WideString;

struct HKEY__ {
  WideString path;  // folded, without leading or trailing separators
};

namespace {

struct Value {
  DWORD type;
  std::vector<BYTE> data;
};

struct Registry {
  std::mutex mutex;
  // Key path -> value name -> value; both folded to upper case.
  std::map<WideString, std::map<WideString, Value>> keys;
  std::map<HKEY__*, std::unique_ptr<HKEY__>> handles;
};

Registry& TheRegistry() {
  static Registry registry;
  return registry;
}

WideString Fold(LPCWSTR text) {
  WideString folded(text ? text : OLESTR(""));
  for (auto& c : folded)
    if (c >= 'a' && c <= 'z')
      c = static_cast<OLECHAR>(c - 32);
  return folded;
}

// The path of `sub` below the key `parent`; false for an unknown handle.
bool ResolvePath(Registry& registry, HKEY parent, LPCWSTR sub, WideString& path) {
  if (parent == HKEY_CLASSES_ROOT) {
    path.clear();
  } else {
    const auto found = registry.handles.find(parent);
    if (found == registry.handles.end())
      return false;
    path = found->second->path;
  }
  WideString rest = Fold(sub);
  while (!rest.empty() && rest.front() == '\\')
    rest.erase(rest.begin());
  while (!rest.empty() && rest.back() == '\\')
    rest.pop_back();
  if (!rest.empty())
    path = path.empty() ? rest : path + OLESTR("\\") + rest;
  return true;
}

HKEY NewHandle(Registry& registry, const WideString& path) {
  auto handle = std::make_unique<HKEY__>(HKEY__{path});
  HKEY raw = handle.get();
  registry.handles.emplace(raw, std::move(handle));
  return raw;
}

// The values of an open key, or null with the reason in `status`.
std::map<WideString, Value>* KeyValues(Registry& registry, HKEY hKey, LSTATUS& status) {
  WideString path;
  status = ERROR_INVALID_HANDLE;
  if (!ResolvePath(registry, hKey, nullptr, path))
    return nullptr;
  const auto key = registry.keys.find(path);
  status = key == registry.keys.end() ? ERROR_FILE_NOT_FOUND : ERROR_SUCCESS;
  return key == registry.keys.end() ? nullptr : &key->second;
}

bool IsPrefixOf(const WideString& key, const WideString& path) {
  return path.size() > key.size() && path.compare(0, key.size(), key) == 0 &&
         path[key.size()] == '\\';
}

}  // namespace

LSTATUS RegCreateKeyExW(HKEY hKey, LPCWSTR lpSubKey, DWORD, LPWSTR, DWORD, REGSAM, void*,
                        PHKEY phkResult, LPDWORD lpdwDisposition) {
  if (!phkResult)
    return ERROR_INVALID_PARAMETER;
  Registry& registry = TheRegistry();
  const std::lock_guard<std::mutex> lock(registry.mutex);
  WideString path;
  if (!ResolvePath(registry, hKey, lpSubKey, path))
    return ERROR_INVALID_HANDLE;
  // Every key on the way exists once its child does.
  bool created = false;
  for (size_t end = 0; !path.empty() && end != WideString::npos;) {
    end = path.find('\\', end + 1);
    created = registry.keys.try_emplace(path.substr(0, end)).second;
  }
  if (lpdwDisposition)
    *lpdwDisposition = created ? REG_CREATED_NEW_KEY : REG_OPENED_EXISTING_KEY;
  *phkResult = NewHandle(registry, path);
  return ERROR_SUCCESS;
}

LSTATUS RegOpenKeyExW(HKEY hKey, LPCWSTR lpSubKey, DWORD, REGSAM, PHKEY phkResult) {
  if (!phkResult)
    return ERROR_INVALID_PARAMETER;
  Registry& registry = TheRegistry();
  const std::lock_guard<std::mutex> lock(registry.mutex);
  WideString path;
  if (!ResolvePath(registry, hKey, lpSubKey, path))
    return ERROR_INVALID_HANDLE;
  if (!path.empty() && !registry.keys.count(path))
    return ERROR_FILE_NOT_FOUND;
  *phkResult = NewHandle(registry, path);
  return ERROR_SUCCESS;
}

LSTATUS RegCloseKey(HKEY hKey) {
  if (hKey == HKEY_CLASSES_ROOT)
    return ERROR_SUCCESS;
  Registry& registry = TheRegistry();
  const std::lock_guard<std::mutex> lock(registry.mutex);
  return registry.handles.erase(hKey) ? ERROR_SUCCESS : ERROR_INVALID_HANDLE;
}

LSTATUS RegSetValueExW(HKEY hKey, LPCWSTR lpValueName, DWORD, DWORD dwType, const BYTE* lpData,
                       DWORD cbData) {
  if (!lpData && cbData != 0)
    return ERROR_INVALID_PARAMETER;
  Registry& registry = TheRegistry();
  const std::lock_guard<std::mutex> lock(registry.mutex);
  LSTATUS status = ERROR_SUCCESS;
  auto* values = KeyValues(registry, hKey, status);
  if (!values)
    return status;
  (*values)[Fold(lpValueName)] = Value{dwType, std::vector<BYTE>(lpData, lpData + cbData)};
  return ERROR_SUCCESS;
}

LSTATUS RegQueryValueExW(HKEY hKey, LPCWSTR lpValueName, LPDWORD, LPDWORD lpType, BYTE* lpData,
                         LPDWORD lpcbData) {
  if (lpData && !lpcbData)
    return ERROR_INVALID_PARAMETER;
  Registry& registry = TheRegistry();
  const std::lock_guard<std::mutex> lock(registry.mutex);
  LSTATUS status = ERROR_SUCCESS;
  const auto* values = KeyValues(registry, hKey, status);
  if (!values)
    return status;
  const auto value = values->find(Fold(lpValueName));
  if (value == values->end())
    return ERROR_FILE_NOT_FOUND;
  if (lpType)
    *lpType = value->second.type;
  const auto size = static_cast<DWORD>(value->second.data.size());
  if (lpData) {
    if (*lpcbData < size)
      status = ERROR_MORE_DATA;
    else
      std::memcpy(lpData, value->second.data.data(), size);
  }
  if (lpcbData)
    *lpcbData = size;
  return status;
}

LSTATUS RegDeleteKeyW(HKEY hKey, LPCWSTR lpSubKey) {
  Registry& registry = TheRegistry();
  const std::lock_guard<std::mutex> lock(registry.mutex);
  WideString path;
  if (!ResolvePath(registry, hKey, lpSubKey, path))
    return ERROR_INVALID_HANDLE;
  const auto key = registry.keys.find(path);
  if (path.empty() || key == registry.keys.end())
    return ERROR_FILE_NOT_FOUND;
  const auto child = registry.keys.lower_bound(path + OLESTR("\\"));
  if (child != registry.keys.end() && IsPrefixOf(path, child->first))
    return ERROR_ACCESS_DENIED;
  registry.keys.erase(key);
  return ERROR_SUCCESS;
}

namespace comstandin {

void ClearRegistry() {
  Registry& registry = TheRegistry();
  const std::lock_guard<std::mutex> lock(registry.mutex);
  registry.keys.clear();
}

}  // namespace comstandin
