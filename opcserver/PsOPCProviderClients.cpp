#include "opcserver/PsOPCProviderClients.h"

#include <algorithm>

#include "opcserver/PsOPC.h"
#include "platform/Files.h"
#include "platform/Services.h"
#include "toolkit/Debugs.h"
#include "toolkit/PsUtils.h"

namespace opcserver {
namespace {

using platform::com::TaskMemPtr;
using platform::com::Utf8ToWide;
using platform::com::WideToTaskMem;
using platform::com::WideToUtf8;

std::atomic<uint64_t> lastSerial{0};

// A task-allocated wide copy of a UTF-8 text; EOutOfMemory when none is left.
LPWSTR TaskText(const std::string& text) {
  LPWSTR copy = WideToTaskMem(Utf8ToWide(text));
  if (!copy)
    throw vcl::EOutOfMemory("Out of memory");
  return copy;
}

}  // namespace

void SetStatusVersion(OPCSERVERSTATUS& status, const std::optional<std::array<uint16_t, 4>>& words,
                      int32_t fallback) {
  // The third number of the version stands in the fourth word.
  status.wMajorVersion = words ? (*words)[0] : static_cast<WORD>(fallback);
  status.wMinorVersion = words ? (*words)[1] : 0;
  status.wBuildNumber = words ? (*words)[3] : 0;
}

// ---- TPsStringsEnumerator --------------------------------------------------------

TPsStringsEnumerator::TPsStringsEnumerator(std::vector<std::string> strings)
    : strings_(std::move(strings)) {}

HRESULT TPsStringsEnumerator::Next(ULONG celt, LPOLESTR* rgelt, ULONG* pceltFetched) {
  return ComGuard([&] {
    if (pceltFetched)
      *pceltFetched = 0;
    if (!rgelt || (!pceltFetched && celt != 1))
      return E_INVALIDARG;
    const std::lock_guard lock(mutex_);
    ULONG fetched = 0;
    try {
      while (fetched < celt && index_ < strings_.size()) {
        toolkit::DebugValueInt64("FIndex", static_cast<int64_t>(index_));
        toolkit::DebugValueStr("FStringList[FIndex]", strings_[index_]);
        rgelt[fetched] = TaskText(strings_[index_]);
        ++fetched;
        ++index_;
      }
    } catch (...) {
      // Nothing is handed out by a call that fails.
      for (ULONG i = 0; i < fetched; ++i) {
        CoTaskMemFree(rgelt[i]);
        rgelt[i] = nullptr;
      }
      index_ -= fetched;
      throw;
    }
    if (pceltFetched)
      *pceltFetched = fetched;
    return fetched == celt ? S_OK : S_FALSE;
  });
}

HRESULT TPsStringsEnumerator::Skip(ULONG celt) {
  const std::lock_guard lock(mutex_);
  const uint64_t wanted = static_cast<uint64_t>(index_) + celt;
  if (wanted <= strings_.size()) {
    index_ = static_cast<size_t>(wanted);
    return S_OK;
  }
  index_ = strings_.size();
  return S_FALSE;
}

HRESULT TPsStringsEnumerator::Reset() {
  const std::lock_guard lock(mutex_);
  index_ = 0;
  return S_OK;
}

HRESULT TPsStringsEnumerator::Clone(IEnumString** ppEnum) {
  return NewEnumeratorInto<TPsStringsEnumerator>(ppEnum, strings_);
}

// ---- TPsOPCProviderClient: life, server, name --------------------------------

TPsOPCProviderClient::ServerCall::ServerCall(const TPsOPCProviderClient& client) {
  const std::lock_guard lock(client.lock_);
  provider_ = client.provider_;
  if (provider_)
    provider_->EnterCall();
}

TPsOPCProviderClient::ServerCall::~ServerCall() {
  if (provider_)
    provider_->LeaveCall();
}

TPsOPCProvider& TPsOPCProviderClient::ServerCall::Required() const {
  if (!provider_)
    throw EOleSysError("The client has no server.", E_FAIL);
  return *provider_;
}

TPsOPCProviderClient::TPsOPCProviderClient() : serial_(++lastSerial) {
  const toolkit::DebugScope trace("TPsOPCProviderClient.Initialize", this);
  try {
    TPsNetworkCredentials credentials;
    credentials.GetClientCredentials();
    userName_ = WideToUtf8(credentials.User());
  } catch (const std::exception& error) {
    // A call that is not authenticated leaves the user unknown.
    toolkit::DebugException(error);
  }
}

TPsOPCProviderClient::~TPsOPCProviderClient() {
  const toolkit::DebugScope trace("TPsOPCProviderClient.Destroy", this);
  RemoveAllGroups();
  points_.reset();
  addressSpace_.reset();
  try {
    SetProvider(nullptr);
  } catch (const std::exception& error) {
    toolkit::DebugException(error);
  }
}

HRESULT TPsOPCProviderClient::QueryInterface(REFIID riid, void** ppvObject) {
  if (!ppvObject || !IsEqualIID(riid, IID_IOPCBrowseServerAddressSpace))
    return ComObject::QueryInterface(riid, ppvObject);
  return ComGuard([&] {
    *ppvObject = nullptr;
    const ServerCall call(*this);
    TPsOPCProviderClientAddressSpace* space = nullptr;
    {
      const std::lock_guard lock(lock_);
      if (!addressSpace_ && call.Get())
        addressSpace_ = std::make_unique<TPsOPCProviderClientAddressSpace>(*this, *call.Get());
      space = addressSpace_.get();
    }
    if (!space)
      return E_NOINTERFACE;
    if (call.Get())
      space->Refresh(false);
    *ppvObject = static_cast<IOPCBrowseServerAddressSpace*>(space);
    AddRef();
    return S_OK;
  });
}

ULONG TPsOPCProviderClient::Release() {
  const ServerCall call(*this);
  const ULONG left = ComObject::Release();
  // Only the server's reference is left: the server lets the client go
  // (on the main thread). `this` may be gone by now; the server names the
  // client without touching it unless it is still listed.
  if (left == 1 && call.Get())
    call.Get()->RemoveClient(this);
  return left;
}

std::string TPsOPCProviderClient::ClientName() const {
  const std::lock_guard lock(lock_);
  return name_;
}

void TPsOPCProviderClient::SetName(const std::string& name) {
  const std::lock_guard lock(lock_);
  name_ = name;
}

TPsOPCProvider* TPsOPCProviderClient::Provider() const {
  const std::lock_guard lock(lock_);
  return provider_;
}

void TPsOPCProviderClient::SetProvider(TPsOPCProvider* provider) {
  TPsOPCProvider* old = nullptr;
  {
    const std::lock_guard lock(lock_);
    if (provider == provider_)
      return;
    old = provider_;
    provider_ = provider;
  }
  if (old)
    old->RemoveClient(this);
  if (!provider)
    return;
  try {
    provider->AddClient(this);
  } catch (...) {
    const std::lock_guard lock(lock_);
    if (provider_ == provider)
      provider_ = nullptr;
    throw;
  }
}

void TPsOPCProviderClient::Detach() {
  const std::lock_guard lock(lock_);
  provider_ = nullptr;
}

void TPsOPCProviderClient::ClientUpdated() {
  const std::lock_guard lock(lock_);
  lastUpdate_ = toolkit::NowUTC();
}

vcl::TDateTime TPsOPCProviderClient::LastUpdateTime() const {
  const std::lock_guard lock(lock_);
  return lastUpdate_;
}

// ---- Shutdown point -----------------------------------------------------------------

ConnectionPoints& TPsOPCProviderClient::Points() {
  const std::lock_guard lock(lock_);
  if (!points_) {
    points_ = std::make_unique<ConnectionPoints>(*this);
    shutdownPoint_ =
        &points_->Add(IID_IOPCShutdown, ConnectKind::Multiple, [this](IUnknown*, bool connecting) {
          Log("Shutdown callback %s", connecting ? "connected" : "disconnected");
        });
  }
  return *points_;
}

void TPsOPCProviderClient::Shutdown(const std::string& reason) {
  const toolkit::DebugScope trace("TPsOPCProviderClient.Shutdown", this);
  std::vector<ComPtr<IOPCShutdown>> sinks;
  {
    const std::lock_guard lock(lock_);
    if (shutdownPoint_)
      sinks = shutdownPoint_->Sinks<IOPCShutdown>();
  }
  const platform::com::WideString text = Utf8ToWide(reason);
  // A sink that fails (a client gone) does not keep the others from hearing it.
  for (auto sink = sinks.rbegin(); sink != sinks.rend(); ++sink)
    (*sink)->ShutdownRequest(text.c_str());
}

size_t TPsOPCProviderClient::ShutdownSinkCount() {
  const std::lock_guard lock(lock_);
  return shutdownPoint_ ? shutdownPoint_->SinkCount() : 0;
}

HRESULT TPsOPCProviderClient::EnumConnectionPoints(IEnumConnectionPoints** ppEnum) {
  if (!ppEnum)
    return E_INVALIDARG;
  return ComGuard([&] { return Points().EnumConnectionPoints(ppEnum); });
}

HRESULT TPsOPCProviderClient::FindConnectionPoint(REFIID riid, IConnectionPoint** ppCP) {
  if (!ppCP)
    return E_INVALIDARG;
  return ComGuard([&] { return Points().FindConnectionPoint(riid, ppCP); });
}

HRESULT TPsOPCProviderClient::InterfaceSupportsErrorInfo(REFIID riid) {
  for (const IID* iid :
       {&IID_IOPCServer, &IID_IOPCCommon, &IID_IOPCItemProperties,
        &IID_IOPCBrowseServerAddressSpace, &IID_IConnectionPointContainer, &IID_ISupportErrorInfo})
    if (IsEqualIID(riid, *iid))
      return S_OK;
  return S_FALSE;
}

// ---- IOPCServer -----------------------------------------------------------------------

HRESULT TPsOPCProviderClient::GetErrorString(HRESULT dwError, LCID, LPWSTR* ppString) {
  return GetErrorString(dwError, ppString);
}

HRESULT TPsOPCProviderClient::GetStatus(OPCSERVERSTATUS** ppServerStatus) {
  return ComGuard([&] {
    const toolkit::DebugScope trace("TPsOPCProviderClient.GetStatus", this);
    if (!ppServerStatus)
      return E_INVALIDARG;
    *ppServerStatus = nullptr;
    const ServerCall call(*this);
    if (!call.Get())
      return E_FAIL;
    TPsOPCProvider& server = *call.Get();
    TaskMemPtr<OPCSERVERSTATUS> status(
        static_cast<OPCSERVERSTATUS*>(CoTaskMemAlloc(sizeof(OPCSERVERSTATUS))));
    if (!status)
      return E_OUTOFMEMORY;
    *status = OPCSERVERSTATUS{};
    {
      server.Lock();
      struct UnlockOnExit {
        TPsOPCProvider& server;
        ~UnlockOnExit() { server.Unlock(); }
      } unlock{server};
      status->ftStartTime = ToFileTime(server.StartTime());
      status->dwServerState = server.State();
      status->dwGroupCount = static_cast<DWORD>(server.GroupCount());
      status->dwBandWidth = 0;
      status->szVendorInfo = TaskText(server.VendorInfo);
    }
    // From here on the vendor text goes with the block.
    struct FreeVendorInfo {
      OPCSERVERSTATUS* status;
      ~FreeVendorInfo() {
        if (status)
          CoTaskMemFree(status->szVendorInfo);
      }
    } freeVendorInfo{status.get()};
    status->ftCurrentTime = ToFileTime(toolkit::NowUTC());
    status->ftLastUpdateTime = ToFileTime(LastUpdateTime());
    std::array<uint16_t, 4> words{};
    const bool versioned = toolkit::PsGetFileVersion(platform::files().ExecutablePath(), words[0],
                                                     words[1], words[2], words[3]);
    SetStatusVersion(*status, versioned ? std::optional(words) : std::nullopt, server.Version);
    freeVendorInfo.status = nullptr;
    *ppServerStatus = status.release();
    Log("GetStatus");
    return S_OK;
  });
}

// ---- IOPCCommon -----------------------------------------------------------------------

HRESULT TPsOPCProviderClient::SetLocaleID(LCID dwLcid) {
  return dwLcid == LOCALE_SYSTEM_DEFAULT ? S_OK : E_INVALIDARG;
}

HRESULT TPsOPCProviderClient::GetLocaleID(LCID* pdwLcid) {
  if (!pdwLcid)
    return E_INVALIDARG;
  *pdwLcid = LocaleID();
  return S_OK;
}

HRESULT TPsOPCProviderClient::QueryAvailableLocaleIDs(DWORD* pdwCount, LCID** pdwLcid) {
  return ComGuard([&] {
    if (pdwCount)
      *pdwCount = 0;
    if (pdwLcid)
      *pdwLcid = nullptr;
    if (!pdwCount || !pdwLcid)
      return E_INVALIDARG;
    TPsOPCAlloc::AllocList(*pdwLcid, 1);
    (*pdwLcid)[0] = LOCALE_SYSTEM_DEFAULT;
    *pdwCount = 1;
    return S_OK;
  });
}

HRESULT TPsOPCProviderClient::GetErrorString(HRESULT dwError, LPWSTR* ppString) {
  return ComGuard([&] {
    if (!ppString)
      return E_INVALIDARG;
    *ppString = nullptr;
    *ppString = TaskText(GetReason(dwError));
    return S_OK;
  });
}

HRESULT TPsOPCProviderClient::SetClientName(LPCWSTR szName) {
  return ComGuard([&] {
    if (!szName)
      return E_INVALIDARG;
    const std::string name = WideToUtf8(szName);
    Log("IOPCServer.SetClientName(\"%s\")", name);
    SetName(name);
    return S_OK;
  });
}

}  // namespace opcserver
