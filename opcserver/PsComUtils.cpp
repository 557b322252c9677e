#include "opcserver/PsComUtils.h"

#include "opcserver/PsOPC.h"

namespace opcserver {
namespace {

using platform::com::RegistryKey;

std::atomic<int64_t> liveComObjects{0};

// The default value of a key below HKEY_CLASSES_ROOT, if it is a text.
WideString ReadDefaultText(const WideString& path) {
  RegistryKey key;
  if (RegOpenKeyExW(HKEY_CLASSES_ROOT, path.c_str(), 0, KEY_READ, key.Receive()) != ERROR_SUCCESS)
    return {};
  DWORD type = REG_NONE;
  DWORD size = 0;
  if (RegQueryValueExW(key.Get(), nullptr, nullptr, &type, nullptr, &size) != ERROR_SUCCESS ||
      type != REG_SZ)
    return {};
  WideString text(size / sizeof(OLECHAR) + 1, 0);
  size = static_cast<DWORD>(text.size() * sizeof(OLECHAR));
  if (RegQueryValueExW(key.Get(), nullptr, nullptr, &type, reinterpret_cast<BYTE*>(text.data()),
                       &size) != ERROR_SUCCESS)
    return {};
  // The stored text may or may not carry its terminating zero.
  text.resize(platform::com::WideLength(text.c_str()));
  return text;
}

}  // namespace

std::string OleErrorText(HRESULT code) {
  std::string text = platform::com::SystemMessageText(code);
  return text.empty() ? vcl::Format("OLE-Fehler %.8x", code) : text;
}

EOleSysError::EOleSysError(const std::string& message, HRESULT errorCode)
    : vcl::Exception(message.empty() ? OleErrorText(errorCode) : message), errorCode_(errorCode) {}

void OleCheck(HRESULT result) {
  if (FAILED(result))
    throw EOleSysError("", result);
}

HRESULT CurrentExceptionToResult() noexcept {
  try {
    throw;
  } catch (const std::exception& error) {
    return ExceptionToResult(error);
  } catch (...) {
    return E_FAIL;
  }
}

int64_t LiveComObjects() {
  return liveComObjects;
}

void detail::CountComObject(int delta) {
  liveComObjects += delta;
}

HRESULT ComClassFactory::CreateInstance(IUnknown* pUnkOuter, REFIID riid, void** ppvObject) {
  return ComGuard([&] {
    if (!ppvObject)
      return E_POINTER;
    *ppvObject = nullptr;
    if (pUnkOuter)
      return CLASS_E_NOAGGREGATION;
    const ComPtr<IUnknown> object = CreateObject();
    if (!object)
      return E_UNEXPECTED;
    return object->QueryInterface(riid, ppvObject);
  });
}

HRESULT ComClassFactory::LockServer(BOOL fLock) {
  if (fLock) {
    if (HoldServerProcess())
      ++heldLocks_;
    return S_OK;
  }
  // An unlock without its lock must not end the process under other clients.
  LONG held = heldLocks_;
  while (held > 0 && !heldLocks_.compare_exchange_weak(held, held - 1)) {
  }
  if (held > 0)
    ReleaseServerProcess();
  return S_OK;
}

HRESULT PsInitComSecurity(BYTE authenticationLevel, BYTE impersonationLevel) {
  return CoInitializeSecurity(nullptr, -1, nullptr, nullptr, authenticationLevel,
                              impersonationLevel, nullptr, EOAC_NONE, nullptr);
}

std::string GetInterfaceName(REFIID iid) {
  const WideString name = ReadDefaultText(OLESTR("Interface\\") + platform::com::GuidToWide(iid));
  return name.empty() ? platform::com::GuidToString(iid) : platform::com::WideToUtf8(name);
}

void CheckedInterfaceCast(IUnknown* source, REFIID iid, void** dest) {
  *dest = nullptr;
  if (!source)
    throw vcl::EIntfCastError(vcl::Format("Cannot cast nil to %s.", GetInterfaceName(iid)));
  const HRESULT result = source->QueryInterface(iid, dest);
  if (FAILED(result) || !*dest) {
    // What a failed answer left there is no reference.
    *dest = nullptr;
    throw vcl::EIntfCastError(vcl::Format("Interface %s not supported: %s", GetInterfaceName(iid),
                                          OleErrorText(FAILED(result) ? result : E_NOINTERFACE)));
  }
}

TPsNetworkCredentials::TPsNetworkCredentials() : identity_{} {
  identity_.Flags = SEC_WINNT_AUTH_IDENTITY_UNICODE;
}

TPsNetworkCredentials::TPsNetworkCredentials(const TPsNetworkCredentials& source)
    : TPsNetworkCredentials() {
  Assign(&source);
}

TPsNetworkCredentials& TPsNetworkCredentials::operator=(const TPsNetworkCredentials& source) {
  Assign(&source);
  return *this;
}

void TPsNetworkCredentials::Assign(const vcl::TPersistent* source) {
  const auto* credentials = dynamic_cast<const TPsNetworkCredentials*>(source);
  if (!credentials) {
    vcl::TPersistent::Assign(source);
    return;
  }
  SetDomain(credentials->domain_);
  SetUser(credentials->user_);
  SetPassword(credentials->password_);
}

void TPsNetworkCredentials::SetDomain(WideView value) {
  Store(domain_, identity_.Domain, identity_.DomainLength, value);
}

void TPsNetworkCredentials::SetUser(WideView value) {
  Store(user_, identity_.User, identity_.UserLength, value);
}

void TPsNetworkCredentials::SetPassword(WideView value) {
  Store(password_, identity_.Password, identity_.PasswordLength, value);
}

void TPsNetworkCredentials::Store(WideString& text, USHORT*& reference, ULONG& length,
                                  WideView value) {
  if (text == value)
    return;
  text.assign(value);
  length = static_cast<ULONG>(text.size());
  reference = text.empty() ? nullptr : reinterpret_cast<USHORT*>(text.data());
}

void TPsNetworkCredentials::GetClientCredentials() {
  DWORD authenticationService = 0;
  DWORD authorizationService = 0;
  DWORD authenticationLevel = 0;
  DWORD impersonationLevel = 0;
  RPC_AUTHZ_HANDLE privileges = nullptr;
  DWORD capabilities = 0;
  OleCheck(CoQueryClientBlanket(&authenticationService, &authorizationService, nullptr,
                                &authenticationLevel, &impersonationLevel, &privileges,
                                &capabilities));
  if (authenticationService == RPC_C_AUTHN_WINNT)
    SetUser(platform::com::WideView(
        static_cast<const OLECHAR*>(privileges),
        platform::com::WideLength(static_cast<const OLECHAR*>(privileges))));
}

void TPsNetworkCredentials::ApplyCredentials(IUnknown* proxy) {
  DWORD authenticationService = 0;
  DWORD authorizationService = 0;
  LPOLESTR principalName = nullptr;
  DWORD authenticationLevel = 0;
  DWORD impersonationLevel = 0;
  DWORD capabilities = 0;
  const HRESULT queried =
      CoQueryProxyBlanket(proxy, &authenticationService, &authorizationService, &principalName,
                          &authenticationLevel, &impersonationLevel, nullptr, &capabilities);
  const platform::com::TaskMemPtr<OLECHAR> principal(principalName);
  OleCheck(queried);
  OleCheck(CoSetProxyBlanket(proxy, RPC_C_AUTHN_WINNT, authorizationService, principal.get(),
                             RPC_C_AUTHN_LEVEL_CONNECT, RPC_C_IMP_LEVEL_IMPERSONATE, &identity_,
                             capabilities));
}

void TPsNetworkCredentials::GetInterface(IUnknown* source, REFIID iid, void** dest) {
  *dest = nullptr;
  ComPtr<IUnknown> found;
  CheckedInterfaceCast(source, iid, found.ReceiveVoid());
  ApplyCredentials(found.Get());
  *dest = found.Detach();
}

}  // namespace opcserver
