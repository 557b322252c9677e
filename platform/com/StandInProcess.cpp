// The process side of the stand-in: apartments counted per thread, the
// security call, the class table, the server reference count, call
// blankets and clipboard format names.
#include <algorithm>
#include <mutex>
#include <vector>

#include "platform/com/Com.h"
#include "platform/com/StandInCategories.h"

namespace {

struct Apartment {
  int initializations = 0;
  DWORD model = COINIT_MULTITHREADED;
};
thread_local Apartment apartment;

struct ClassEntry {
  DWORD cookie;
  CLSID clsid;
  IUnknown* object;  // one reference held
};

struct Process {
  std::mutex mutex;
  std::optional<comstandin::SecurityCall> security;
  std::vector<ClassEntry> classes;
  DWORD lastCookie = 0;
  ULONG serverReferences = 0;
  // The count fell to 0: the class table takes no further activations.
  bool classObjectsSuspended = false;
  comstandin::ClientBlanket clientBlanket;
  std::vector<platform::com::WideString> clipboardFormats;
};

Process& TheProcess() {
  static Process process;
  return process;
}

constexpr UINT kFirstClipboardFormat = 0xC000;
constexpr UINT kLastClipboardFormat = 0xFFFF;

OLECHAR FoldCase(OLECHAR c) {
  return c >= 'a' && c <= 'z' ? static_cast<OLECHAR>(c - 32) : c;
}

bool SameTextIgnoringCase(const platform::com::WideString& a, LPCWSTR b, size_t length) {
  if (a.size() != length)
    return false;
  for (size_t i = 0; i < length; ++i)
    if (FoldCase(a[i]) != FoldCase(b[i]))
      return false;
  return true;
}

}  // namespace

HRESULT CoInitializeEx(LPVOID, DWORD dwCoInit) {
  const DWORD model = dwCoInit & COINIT_APARTMENTTHREADED;
  if (apartment.initializations > 0 && apartment.model != model)
    return RPC_E_CHANGED_MODE;
  apartment.model = model;
  return apartment.initializations++ == 0 ? S_OK : S_FALSE;
}

HRESULT CoInitialize(LPVOID pvReserved) {
  return CoInitializeEx(pvReserved, COINIT_APARTMENTTHREADED);
}

void CoUninitialize() {
  if (apartment.initializations > 0)
    --apartment.initializations;
}

HRESULT CoInitializeSecurity(PSECURITY_DESCRIPTOR pSecDesc, LONG cAuthSvc,
                             SOLE_AUTHENTICATION_SERVICE*, void*, DWORD dwAuthnLevel,
                             DWORD dwImpLevel, void* pAuthList, DWORD dwCapabilities, void*) {
  // As on Windows: only from a thread that has entered an apartment.
  if (apartment.initializations == 0)
    return CO_E_NOTINITIALIZED;
  Process& process = TheProcess();
  const std::lock_guard<std::mutex> lock(process.mutex);
  if (process.security)
    return RPC_E_TOO_LATE;
  process.security = comstandin::SecurityCall{pSecDesc,   cAuthSvc,  dwAuthnLevel,
                                              dwImpLevel, pAuthList, dwCapabilities};
  return S_OK;
}

HRESULT CoRegisterClassObject(REFCLSID rclsid, IUnknown* pUnk, DWORD, DWORD, LPDWORD lpdwRegister) {
  if (!pUnk || !lpdwRegister)
    return E_INVALIDARG;
  pUnk->AddRef();
  Process& process = TheProcess();
  const std::lock_guard<std::mutex> lock(process.mutex);
  *lpdwRegister = ++process.lastCookie;
  process.classes.push_back({*lpdwRegister, rclsid, pUnk});
  return S_OK;
}

HRESULT CoRevokeClassObject(DWORD dwRegister) {
  IUnknown* object = nullptr;
  {
    Process& process = TheProcess();
    const std::lock_guard<std::mutex> lock(process.mutex);
    const auto found = std::find_if(process.classes.begin(), process.classes.end(),
                                    [&](const ClassEntry& e) { return e.cookie == dwRegister; });
    if (found == process.classes.end())
      return CO_E_OBJNOTREG;
    object = found->object;
    process.classes.erase(found);
  }
  object->Release();
  return S_OK;
}

HRESULT CoGetClassObject(REFCLSID rclsid, DWORD dwClsContext, COSERVERINFO*, REFIID riid,
                         LPVOID* ppv) {
  if (!ppv)
    return E_INVALIDARG;
  *ppv = nullptr;
  if (!(dwClsContext & (CLSCTX_INPROC_SERVER | CLSCTX_LOCAL_SERVER)))
    return REGDB_E_CLASSNOTREG;
  IUnknown* object = nullptr;
  {
    Process& process = TheProcess();
    const std::lock_guard<std::mutex> lock(process.mutex);
    const auto found =
        std::find_if(process.classes.begin(), process.classes.end(),
                     [&](const ClassEntry& e) { return IsEqualCLSID(e.clsid, rclsid); });
    if (found != process.classes.end() && !process.classObjectsSuspended)
      object = found->object;
    else if (dwClsContext & CLSCTX_INPROC_SERVER)
      object = comstandin::BuiltInClass(rclsid);
    if (!object)
      return REGDB_E_CLASSNOTREG;
    object->AddRef();
  }
  const HRESULT hr = object->QueryInterface(riid, ppv);
  object->Release();
  return hr;
}

HRESULT CoCreateInstance(REFCLSID rclsid, IUnknown* pUnkOuter, DWORD dwClsContext, REFIID riid,
                         LPVOID* ppv) {
  if (!ppv)
    return E_INVALIDARG;
  *ppv = nullptr;
  IClassFactory* factory = nullptr;
  HRESULT hr = CoGetClassObject(rclsid, dwClsContext, nullptr, IID_IClassFactory,
                                reinterpret_cast<void**>(&factory));
  if (FAILED(hr))
    return hr;
  hr = factory->CreateInstance(pUnkOuter, riid, ppv);
  factory->Release();
  return hr;
}

ULONG CoAddRefServerProcess() {
  Process& process = TheProcess();
  const std::lock_guard<std::mutex> lock(process.mutex);
  return ++process.serverReferences;
}

ULONG CoReleaseServerProcess() {
  Process& process = TheProcess();
  const std::lock_guard<std::mutex> lock(process.mutex);
  if (process.serverReferences > 0 && --process.serverReferences == 0)
    process.classObjectsSuspended = true;
  return process.serverReferences;
}

HRESULT CoResumeClassObjects() {
  Process& process = TheProcess();
  const std::lock_guard<std::mutex> lock(process.mutex);
  process.classObjectsSuspended = false;
  return S_OK;
}

HRESULT CoQueryClientBlanket(DWORD* pAuthnSvc, DWORD* pAuthzSvc, LPOLESTR* pServerPrincName,
                             DWORD* pAuthnLevel, DWORD* pImpLevel, RPC_AUTHZ_HANDLE* pPrivs,
                             DWORD* pCapabilities) {
  comstandin::ClientBlanket blanket;
  {
    Process& process = TheProcess();
    const std::lock_guard<std::mutex> lock(process.mutex);
    blanket = process.clientBlanket;
  }
  if (FAILED(blanket.result))
    return blanket.result;
  if (pAuthnSvc)
    *pAuthnSvc = blanket.authenticationService;
  if (pAuthzSvc)
    *pAuthzSvc = RPC_C_AUTHZ_NONE;
  if (pServerPrincName)
    *pServerPrincName = nullptr;
  if (pAuthnLevel)
    *pAuthnLevel = blanket.authenticationLevel;
  if (pImpLevel)
    *pImpLevel = blanket.impersonationLevel;
  if (pPrivs)
    *pPrivs = const_cast<OLECHAR*>(blanket.privileges);
  if (pCapabilities)
    *pCapabilities = EOAC_NONE;
  return blanket.result;
}

HRESULT CoQueryProxyBlanket(IUnknown*, DWORD*, DWORD*, LPOLESTR*, DWORD*, DWORD*,
                            RPC_AUTH_IDENTITY_HANDLE*, DWORD*) {
  return E_NOINTERFACE;
}

HRESULT CoSetProxyBlanket(IUnknown*, DWORD, DWORD, OLECHAR*, DWORD, DWORD, RPC_AUTH_IDENTITY_HANDLE,
                          DWORD) {
  return E_NOINTERFACE;
}

UINT RegisterClipboardFormatW(LPCWSTR lpszFormat) {
  const size_t length = platform::com::WideLength(lpszFormat);
  if (length == 0)
    return 0;
  Process& process = TheProcess();
  const std::lock_guard<std::mutex> lock(process.mutex);
  auto& names = process.clipboardFormats;
  for (size_t i = 0; i < names.size(); ++i)
    if (SameTextIgnoringCase(names[i], lpszFormat, length))
      return kFirstClipboardFormat + static_cast<UINT>(i);
  if (kFirstClipboardFormat + names.size() > kLastClipboardFormat)
    return 0;
  names.emplace_back(lpszFormat, length);
  return kFirstClipboardFormat + static_cast<UINT>(names.size() - 1);
}

namespace comstandin {

std::optional<SecurityCall> RecordedSecurity() {
  Process& process = TheProcess();
  const std::lock_guard<std::mutex> lock(process.mutex);
  return process.security;
}

void ForgetSecurity() {
  Process& process = TheProcess();
  const std::lock_guard<std::mutex> lock(process.mutex);
  process.security.reset();
}

void SetClientBlanket(const ClientBlanket& blanket) {
  Process& process = TheProcess();
  const std::lock_guard<std::mutex> lock(process.mutex);
  process.clientBlanket = blanket;
}

ULONG ServerProcessReferences() {
  Process& process = TheProcess();
  const std::lock_guard<std::mutex> lock(process.mutex);
  return process.serverReferences;
}

}  // namespace comstandin
