// Unit ServerRegistration: the server's keys, in the order COM servers and
// OPC clients have always found them written and removed.
#include "opcserver/ServerRegistration.h"

#include <vector>

#include "opcserver/OPCDA.h"
#include "opcserver/ServerIdentity.h"
#include "platform/Text.h"

namespace opcserver {

namespace {

using platform::com::GuidToWide;
using platform::com::RegistryKey;
using platform::com::WideToUtf8;

WideString Wide(const std::string& narrow) {
  const std::u16string utf16 = platform::NarrowToUtf16(narrow);
  return WideString(utf16.begin(), utf16.end());
}

[[noreturn]] void Fail(const char* what, const WideString& path, LSTATUS status) {
  const HRESULT code = HRESULT_FROM_WIN32(status);
  throw EOleRegistrationError(
      std::string(what) + " HKEY_CLASSES_ROOT\\" + WideToUtf8(path) + ": " + OleErrorText(code),
      code);
}

void WriteValue(const WideString& path, const OLECHAR* name, const WideString& data) {
  RegistryKey key;
  LSTATUS status =
      RegCreateKeyExW(HKEY_CLASSES_ROOT, path.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE,
                      KEY_WRITE, nullptr, key.Receive(), nullptr);
  if (status == ERROR_SUCCESS)
    status = RegSetValueExW(key.Get(), name, 0, REG_SZ, reinterpret_cast<const BYTE*>(data.c_str()),
                            static_cast<DWORD>((data.size() + 1) * sizeof(OLECHAR)));
  if (status != ERROR_SUCCESS)
    Fail("Cannot write the registry key", path, status);
}

// The names of the key's subkeys.
std::vector<WideString> Subkeys(HKEY key) {
  std::vector<WideString> names;
  OLECHAR name[256];
  for (DWORD index = 0;; ++index) {
    DWORD length = 256;
    if (RegEnumKeyExW(key, index, name, &length, nullptr, nullptr, nullptr, nullptr) !=
        ERROR_SUCCESS)
      return names;
    names.emplace_back(name, length);
  }
}

// A missing key is passed over; one that holds keys stays (what is ours
// below it has gone first, so what is left is another program's).
void DeleteKey(const WideString& path) {
  {
    RegistryKey key;
    const LSTATUS status =
        RegOpenKeyExW(HKEY_CLASSES_ROOT, path.c_str(), 0, KEY_READ, key.Receive());
    if (status == ERROR_FILE_NOT_FOUND)
      return;
    if (status == ERROR_SUCCESS && !Subkeys(key.Get()).empty())
      return;
  }
  const LSTATUS status = RegDeleteKeyW(HKEY_CLASSES_ROOT, path.c_str());
  if (status != ERROR_SUCCESS && status != ERROR_FILE_NOT_FOUND)
    Fail("Cannot delete the registry key", path, status);
}

// The key with every key below it.
void DeleteKeyTree(const WideString& path) {
  std::vector<WideString> children;
  {
    RegistryKey key;
    if (RegOpenKeyExW(HKEY_CLASSES_ROOT, path.c_str(), 0, KEY_READ, key.Receive()) == ERROR_SUCCESS)
      children = Subkeys(key.Get());
  }
  for (const WideString& child : children)
    DeleteKeyTree(path + OLESTR("\\") + child);
  DeleteKey(path);
}

bool KeyExists(const WideString& path) {
  RegistryKey key;
  return RegOpenKeyExW(HKEY_CLASSES_ROOT, path.c_str(), 0, KEY_READ, key.Receive()) ==
         ERROR_SUCCESS;
}

// OPC clients find servers by the categories their classes implement.
void UpdateCategories(REFCLSID clsid, bool doRegister) {
  ComPtr<ICatRegister> manager;
  HRESULT result = CoCreateInstance(CLSID_StdComponentCategoriesMgr, nullptr, CLSCTX_INPROC_SERVER,
                                    IidOf<ICatRegister>(), manager.ReceiveVoid());
  if (SUCCEEDED(result)) {
    CATID categories[] = {CATID_OPCDAServer10, CATID_OPCDAServer20};
    result = doRegister ? manager->RegisterClassImplCategories(clsid, 2, categories)
                        : manager->UnRegisterClassImplCategories(clsid, 2, categories);
  }
  if (FAILED(result))
    throw EOleRegistrationError(std::string(doRegister ? "Cannot register" : "Cannot unregister") +
                                    " the OPC categories of " + platform::com::GuidToString(clsid) +
                                    ": " + OleErrorText(result),
                                result);
}

WideString FileName(WideView path) {
  const size_t separator = path.find_last_of(OLESTR("\\/"));
  return WideString(separator == WideView::npos ? path : path.substr(separator + 1));
}

}  // namespace

ServerRegistration KorvaServerRegistration() {
  ServerRegistration server;
  OleCheck(CLSIDFromString(platform::com::Utf8ToWide(kServerClassId).c_str(), &server.ClassID));
  server.ServerName = kServerName;
  server.Description = kServerDescription;
  server.Vendor = kServerVendor;
  server.ProgramPath = platform::com::ProgramFilePath();
  return server;
}

WideString LocalServerCommand(WideView programPath) {
  const OLECHAR blank = ' ';
  if (programPath.find(blank) == WideView::npos)
    return WideString(programPath);
  const WideString shortPath = platform::com::ShortPathName(programPath);
  if (shortPath.find(blank) == WideString::npos)
    return shortPath;
  return OLESTR("\"") + shortPath + OLESTR("\"");
}

void UpdateServerRegistry(const ServerRegistration& server, bool doRegister) {
  const WideString progId = Wide(server.ServerName);
  if (progId.empty() || progId.find('\\') != WideString::npos)
    throw EOleRegistrationError("Invalid ProgID '" + server.ServerName + "'", E_INVALIDARG);
  const WideString exeName = FileName(server.ProgramPath);
  if (exeName.empty())
    throw EOleRegistrationError("No program file to register", E_INVALIDARG);
  const WideString clsid = GuidToWide(server.ClassID);
  const WideString classKey = OLESTR("CLSID\\") + clsid;
  const WideString appIdKey = OLESTR("AppID\\") + exeName;

  if (doRegister) {
    // The class object's own entries, then the OPC server's.
    const WideString description = Wide(server.Description);
    WriteValue(classKey, nullptr, description);
    WriteValue(classKey + OLESTR("\\LocalServer32"), nullptr,
               LocalServerCommand(server.ProgramPath));
    WriteValue(progId, nullptr, description);
    WriteValue(progId + OLESTR("\\Clsid"), nullptr, clsid);
    WriteValue(classKey + OLESTR("\\ProgID"), nullptr, progId);
    UpdateCategories(server.ClassID, true);
    WriteValue(progId + OLESTR("\\OPC\\Vendor"), nullptr, Wide(server.Vendor));
    WriteValue(appIdKey, OLESTR("AppID"), clsid);
    return;
  }

  const WideString categoriesKey = classKey + OLESTR("\\Implemented Categories");
  if (KeyExists(categoriesKey))
    UpdateCategories(server.ClassID, false);
  DeleteKey(categoriesKey);
  DeleteKey(classKey + OLESTR("\\AppID"));
  DeleteKeyTree(progId + OLESTR("\\OPC"));
  DeleteKey(progId);
  DeleteKey(appIdKey);
  DeleteKey(classKey + OLESTR("\\ProgID"));
  DeleteKey(progId + OLESTR("\\Clsid"));
  DeleteKey(progId);
  DeleteKey(classKey + OLESTR("\\LocalServer32"));
  DeleteKey(classKey);
}

void UpdateKorvaServerRegistry(bool doRegister) {
  UpdateServerRegistry(KorvaServerRegistration(), doRegister);
}

}  // namespace opcserver
