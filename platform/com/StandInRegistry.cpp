// HKEY_CLASSES_ROOT of the stand-in: keys by path, each with named values,
// in memory for the life of the process. Open keys are handles of our own.
// Every change is written down in order, and writes can be refused, for the
// tests of what registers.
#include <algorithm>
#include <cstring>
#include <map>
#include <memory>
#include <mutex>
#include <vector>

#include "platform/com/Com.h"

using platform::com::WideString;

struct HKEY__ {
  WideString path;     // folded, without leading or trailing separators
  WideString spelled;  // the same as the callers wrote it
};

namespace {

struct Value {
  DWORD type;
  std::vector<BYTE> data;
};

struct Key {
  WideString name;                     // the last part of its path, as first written
  std::map<WideString, Value> values;  // by folded name
};

struct Registry {
  std::mutex mutex;
  std::map<WideString, Key> keys;  // by folded path
  std::map<HKEY__*, std::unique_ptr<HKEY__>> handles;
  std::vector<std::string> journal;
  bool writesDenied = false;
};

Registry& TheRegistry() {
  static Registry registry;
  return registry;
}

WideString Fold(const WideString& text) {
  WideString folded(text);
  for (auto& c : folded)
    if (c >= 'a' && c <= 'z')
      c = static_cast<OLECHAR>(c - 32);
  return folded;
}

WideString Trimmed(LPCWSTR sub) {
  WideString rest(sub ? sub : OLESTR(""));
  while (!rest.empty() && rest.front() == '\\')
    rest.erase(rest.begin());
  while (!rest.empty() && rest.back() == '\\')
    rest.pop_back();
  return rest;
}

// The key `sub` below the key `parent`, as spelled and folded; false for an
// unknown handle.
bool Resolve(Registry& registry, HKEY parent, LPCWSTR sub, HKEY__& key) {
  key = {};
  if (parent != HKEY_CLASSES_ROOT) {
    const auto found = registry.handles.find(parent);
    if (found == registry.handles.end())
      return false;
    key = *found->second;
  }
  const WideString rest = Trimmed(sub);
  if (!rest.empty()) {
    key.spelled = key.spelled.empty() ? rest : key.spelled + OLESTR("\\") + rest;
    key.path = Fold(key.spelled);
  }
  return true;
}

HKEY NewHandle(Registry& registry, const HKEY__& key) {
  auto handle = std::make_unique<HKEY__>(key);
  HKEY raw = handle.get();
  registry.handles.emplace(raw, std::move(handle));
  return raw;
}

// The open key's entry, or null with the reason in `status`.
Key* OpenKey(Registry& registry, HKEY hKey, LSTATUS& status, HKEY__* resolved = nullptr) {
  HKEY__ key;
  status = ERROR_INVALID_HANDLE;
  if (!Resolve(registry, hKey, nullptr, key))
    return nullptr;
  if (resolved)
    *resolved = key;
  const auto found = registry.keys.find(key.path);
  status = found == registry.keys.end() ? ERROR_FILE_NOT_FOUND : ERROR_SUCCESS;
  return found == registry.keys.end() ? nullptr : &found->second;
}

bool IsPrefixOf(const WideString& key, const WideString& path) {
  return path.size() > key.size() && path.compare(0, key.size(), key) == 0 &&
         path[key.size()] == '\\';
}

void Note(Registry& registry, const char* what, const WideString& path,
          const WideString* valueName = nullptr) {
  std::string line = std::string(what) + " " + platform::com::WideToUtf8(path);
  if (valueName)
    line += " [" + platform::com::WideToUtf8(*valueName) + "]";
  registry.journal.push_back(std::move(line));
}

}  // namespace

LSTATUS RegCreateKeyExW(HKEY hKey, LPCWSTR lpSubKey, DWORD, LPWSTR, DWORD, REGSAM, void*,
                        PHKEY phkResult, LPDWORD lpdwDisposition) {
  if (!phkResult)
    return ERROR_INVALID_PARAMETER;
  Registry& registry = TheRegistry();
  const std::lock_guard<std::mutex> lock(registry.mutex);
  HKEY__ key;
  if (!Resolve(registry, hKey, lpSubKey, key))
    return ERROR_INVALID_HANDLE;
  if (registry.writesDenied)
    return ERROR_ACCESS_DENIED;
  // Every key on the way exists once its child does.
  // (Folding keeps every separator in its place.)
  bool created = false;
  for (size_t start = 0; !key.path.empty() && start <= key.path.size();) {
    const size_t end = std::min(key.path.find('\\', start), key.path.size());
    const WideString name = key.spelled.substr(start, end - start);
    created = registry.keys.try_emplace(key.path.substr(0, end), Key{name, {}}).second;
    start = end + 1;
  }
  if (lpdwDisposition)
    *lpdwDisposition = created ? REG_CREATED_NEW_KEY : REG_OPENED_EXISTING_KEY;
  Note(registry, "key", key.spelled);
  *phkResult = NewHandle(registry, key);
  return ERROR_SUCCESS;
}

LSTATUS RegOpenKeyExW(HKEY hKey, LPCWSTR lpSubKey, DWORD, REGSAM, PHKEY phkResult) {
  if (!phkResult)
    return ERROR_INVALID_PARAMETER;
  Registry& registry = TheRegistry();
  const std::lock_guard<std::mutex> lock(registry.mutex);
  HKEY__ key;
  if (!Resolve(registry, hKey, lpSubKey, key))
    return ERROR_INVALID_HANDLE;
  if (!key.path.empty() && !registry.keys.count(key.path))
    return ERROR_FILE_NOT_FOUND;
  *phkResult = NewHandle(registry, key);
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
  HKEY__ resolved;
  Key* key = OpenKey(registry, hKey, status, &resolved);
  if (!key)
    return status;
  if (registry.writesDenied)
    return ERROR_ACCESS_DENIED;
  const WideString name(lpValueName ? lpValueName : OLESTR(""));
  key->values[Fold(name)] = Value{dwType, std::vector<BYTE>(lpData, lpData + cbData)};
  Note(registry, "value", resolved.spelled, &name);
  return ERROR_SUCCESS;
}

LSTATUS RegQueryValueExW(HKEY hKey, LPCWSTR lpValueName, LPDWORD, LPDWORD lpType, BYTE* lpData,
                         LPDWORD lpcbData) {
  if (lpData && !lpcbData)
    return ERROR_INVALID_PARAMETER;
  Registry& registry = TheRegistry();
  const std::lock_guard<std::mutex> lock(registry.mutex);
  LSTATUS status = ERROR_SUCCESS;
  const Key* key = OpenKey(registry, hKey, status);
  if (!key)
    return status;
  const auto value = key->values.find(Fold(WideString(lpValueName ? lpValueName : OLESTR(""))));
  if (value == key->values.end())
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

LSTATUS RegEnumKeyExW(HKEY hKey, DWORD dwIndex, LPWSTR lpName, LPDWORD lpcchName, LPDWORD, LPWSTR,
                      LPDWORD, FILETIME*) {
  if (!lpName || !lpcchName)
    return ERROR_INVALID_PARAMETER;
  Registry& registry = TheRegistry();
  const std::lock_guard<std::mutex> lock(registry.mutex);
  HKEY__ key;
  if (!Resolve(registry, hKey, nullptr, key))
    return ERROR_INVALID_HANDLE;
  if (!key.path.empty() && !registry.keys.count(key.path))
    return ERROR_FILE_NOT_FOUND;
  const WideString prefix = key.path.empty() ? WideString() : key.path + OLESTR("\\");
  DWORD index = 0;
  for (auto child = registry.keys.lower_bound(prefix);
       child != registry.keys.end() && child->first.compare(0, prefix.size(), prefix) == 0;
       ++child) {
    if (child->first.find('\\', prefix.size()) != WideString::npos)
      continue;  // a grandchild
    if (index++ != dwIndex)
      continue;
    const WideString& name = child->second.name;
    if (*lpcchName <= name.size())
      return ERROR_MORE_DATA;
    std::memcpy(lpName, name.c_str(), (name.size() + 1) * sizeof(OLECHAR));
    *lpcchName = static_cast<DWORD>(name.size());
    return ERROR_SUCCESS;
  }
  return ERROR_NO_MORE_ITEMS;
}

LSTATUS RegDeleteKeyW(HKEY hKey, LPCWSTR lpSubKey) {
  Registry& registry = TheRegistry();
  const std::lock_guard<std::mutex> lock(registry.mutex);
  HKEY__ resolved;
  if (!Resolve(registry, hKey, lpSubKey, resolved))
    return ERROR_INVALID_HANDLE;
  const auto key = registry.keys.find(resolved.path);
  if (resolved.path.empty() || key == registry.keys.end())
    return ERROR_FILE_NOT_FOUND;
  if (registry.writesDenied)
    return ERROR_ACCESS_DENIED;
  const auto child = registry.keys.lower_bound(resolved.path + OLESTR("\\"));
  if (child != registry.keys.end() && IsPrefixOf(resolved.path, child->first))
    return ERROR_ACCESS_DENIED;
  registry.keys.erase(key);
  Note(registry, "delete", resolved.spelled);
  return ERROR_SUCCESS;
}

namespace comstandin {

void ClearRegistry() {
  Registry& registry = TheRegistry();
  const std::lock_guard<std::mutex> lock(registry.mutex);
  registry.keys.clear();
  registry.journal.clear();
  registry.writesDenied = false;
}

std::vector<std::string> RegistryJournal() {
  Registry& registry = TheRegistry();
  const std::lock_guard<std::mutex> lock(registry.mutex);
  return registry.journal;
}

void DenyRegistryWrites(bool denied) {
  Registry& registry = TheRegistry();
  const std::lock_guard<std::mutex> lock(registry.mutex);
  registry.writesDenied = denied;
}

}  // namespace comstandin
