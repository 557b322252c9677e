// Unit PsComUtils: the COM helpers the OPC server is built from (reference-
// counted objects, class factories, connection points, the guard that keeps
// exceptions inside interface methods) and the small COM utilities of the
// toolkit: the OLE error with its result code, process security, readable
// interface names, the checked interface cast, network credentials and the
// conversions between Boolean and the platform's 32-bit BOOL.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <type_traits>
#include <utility>
#include <vector>

#include "opcserver/ServerProcess.h"
#include "platform/com/ComHandles.h"
#include "vcl/Classes.h"
#include "vcl/SysUtils.h"

namespace opcserver {

using platform::com::ComPtr;
using platform::com::IidOf;
using platform::com::WideString;
using platform::com::WideView;

// --- OLE errors -----------------------------------------------------------------

// The system's text for a result code; "OLE-Fehler %.8x" where it has none.
std::string OleErrorText(HRESULT code);

// A failed COM call's result code with its message: without one, the code's
// text (OleErrorText).
class EOleSysError : public vcl::Exception {
 public:
  EOleSysError(const std::string& message, HRESULT errorCode);
  std::string ClassName() const override { return "EOleSysError"; }
  HRESULT ErrorCode() const { return errorCode_; }

 private:
  HRESULT errorCode_;
};

// Raises EOleSysError for a failed result.
void OleCheck(HRESULT result);

// --- No exception crosses an interface method ------------------------------

// The result code for the exception being handled (inside a catch block):
// ExceptionToResult's, E_FAIL for what is no std::exception.
HRESULT CurrentExceptionToResult() noexcept;

// Runs an interface method's body and answers its result; any exception,
// of any type, becomes its result code. A body without a result answers S_OK.
template <class Body>
HRESULT ComGuard(Body&& body) noexcept {
  try {
    if constexpr (std::is_void_v<std::invoke_result_t<Body>>) {
      std::forward<Body>(body)();
      return S_OK;
    } else {
      return std::forward<Body>(body)();
    }
  } catch (...) {
    return CurrentExceptionToResult();
  }
}

// --- Reference-counted objects ------------------------------------------------

// Objects of classes built on ComObject that are alive, for leak checks.
int64_t LiveComObjects();

namespace detail {
void CountComObject(int delta);
// Made for a class object, which does not hold the server process: it lives
// as long as its registration, whether clients come or not.
struct ClassObjectTag {};
}  // namespace detail

// A COM object implementing `Interfaces` (the first is its IUnknown). It
// starts without references; the last Release frees it. Aggregation is not
// supported: objects are made by their class factory or by the server.
// While it lives it holds a server process that COM started (ServerProcess.h).
template <class First, class... Rest>
class ComObject : public First, public Rest... {
 public:
  ComObject(const ComObject&) = delete;
  ComObject& operator=(const ComObject&) = delete;

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppvObject) override {
    if (!ppvObject)
      return E_POINTER;
    *ppvObject = nullptr;
    if (IsEqualIID(riid, IID_IUnknown))
      *ppvObject = static_cast<IUnknown*>(static_cast<First*>(this));
    else
      Find<First, Rest...>(riid, ppvObject);
    if (!*ppvObject)
      return E_NOINTERFACE;
    AddRef();
    return S_OK;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return ++references_; }
  ULONG STDMETHODCALLTYPE Release() override {
    const ULONG left = --references_;
    if (left == 0)
      delete this;
    return left;
  }

  ULONG RefCount() const { return references_; }
  // A reference, unless the object is already being freed (no reference
  // left): for holders of a plain pointer that the object's end clears.
  bool TryAddRef() {
    ULONG count = references_;
    while (count != 0)
      if (references_.compare_exchange_weak(count, count + 1))
        return true;
    return false;
  }

 protected:
  ComObject() : holdsProcess_(HoldServerProcess()) { detail::CountComObject(1); }
  explicit ComObject(detail::ClassObjectTag) : holdsProcess_(false) { detail::CountComObject(1); }
  virtual ~ComObject() {
    detail::CountComObject(-1);
    if (holdsProcess_)
      ReleaseServerProcess();
  }

 private:
  template <class Interface, class... More>
  void Find(REFIID riid, void** ppvObject) {
    if (IsEqualIID(riid, IidOf<Interface>()))
      *ppvObject = static_cast<Interface*>(this);
    else if constexpr (sizeof...(More) > 0)
      Find<More...>(riid, ppvObject);
  }

  std::atomic<ULONG> references_{0};
  const bool holdsProcess_;
};

// A new object of class T with one reference, held by the result.
template <class T, class... Args>
ComPtr<T> MakeComObject(Args&&... args) {
  return ComPtr<T>(new T(std::forward<Args>(args)...));
}

// An enumerator's Clone: a new object of class T made from `args` into `out`;
// E_INVALIDARG for a null `out`, E_UNEXPECTED (and null) when it cannot be made.
template <class T, class Interface, class... Args>
HRESULT NewEnumeratorInto(Interface** out, Args&&... args) {
  if (!out)
    return E_INVALIDARG;
  *out = nullptr;
  try {
    *out = MakeComObject<T>(std::forward<Args>(args)...).Detach();
    return S_OK;
  } catch (...) {
    return E_UNEXPECTED;
  }
}

// A class object: CreateInstance refuses aggregation and hands out a new
// object from CreateObject; LockServer holds the server process as an
// object does, and an unlock lets go only of what a lock took.
class ComClassFactory : public ComObject<IClassFactory> {
 public:
  HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown* pUnkOuter, REFIID riid,
                                           void** ppvObject) override;
  HRESULT STDMETHODCALLTYPE LockServer(BOOL fLock) override;

 protected:
  ComClassFactory() : ComObject(detail::ClassObjectTag{}) {}
  // A new object with one reference, held by the result; may throw.
  virtual ComPtr<IUnknown> CreateObject() = 0;

 private:
  std::atomic<LONG> heldLocks_{0};
};

// --- Connection points -------------------------------------------------------------

enum class ConnectKind { Single, Multiple };

// Told when a sink connects (true) or disconnects (false), while it is still
// counted by the point. An exception on connecting refuses the connection.
using ConnectEvent = std::function<void(IUnknown* sink, bool connecting)>;

class ConnectionPoints;

// One outgoing interface of a container. Its references are the
// container's: it lives as long as the container's connection-point list.
class ConnectionPoint final : public IConnectionPoint {
 public:
  ConnectionPoint(ConnectionPoints& list, const IID& iid, ConnectKind kind, ConnectEvent onConnect);
  ConnectionPoint(const ConnectionPoint&) = delete;
  ConnectionPoint& operator=(const ConnectionPoint&) = delete;

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppvObject) override;
  ULONG STDMETHODCALLTYPE AddRef() override;
  ULONG STDMETHODCALLTYPE Release() override;

  HRESULT STDMETHODCALLTYPE GetConnectionInterface(IID* pIID) override;
  HRESULT STDMETHODCALLTYPE GetConnectionPointContainer(IConnectionPointContainer** ppCPC) override;
  // The sink is asked for the point's interface; that interface is kept.
  HRESULT STDMETHODCALLTYPE Advise(IUnknown* pUnkSink, DWORD* pdwCookie) override;
  HRESULT STDMETHODCALLTYPE Unadvise(DWORD dwCookie) override;
  HRESULT STDMETHODCALLTYPE EnumConnections(IEnumConnections** ppEnum) override;

  const IID& Iid() const { return iid_; }
  // The connected sinks (each the point's interface), in connection order.
  template <class Sink>
  std::vector<ComPtr<Sink>> Sinks() const {
    std::vector<ComPtr<Sink>> sinks;
    for (const auto& sink : ConnectedSinks())
      sinks.emplace_back(static_cast<Sink*>(sink.Get()));
    return sinks;
  }
  // Sinks connected, connecting or disconnecting.
  size_t SinkCount() const;

 private:
  enum class SinkState { Joining, Connected, Leaving };
  struct Connection {
    DWORD cookie;
    ComPtr<IUnknown> sink;
    SinkState state;
  };
  std::vector<ComPtr<IUnknown>> ConnectedSinks() const;
  void Drop(DWORD cookie);

  ConnectionPoints& list_;
  const IID iid_;
  const ConnectKind kind_;
  const ConnectEvent onConnect_;
  mutable std::mutex mutex_;
  std::vector<Connection> connections_;
  DWORD lastCookie_ = 0;
};

// The connection points of one container, which forwards the two methods
// of IConnectionPointContainer to it and owns it.
class ConnectionPoints {
 public:
  explicit ConnectionPoints(IConnectionPointContainer& container) : container_(container) {}
  ConnectionPoints(const ConnectionPoints&) = delete;
  ConnectionPoints& operator=(const ConnectionPoints&) = delete;

  ConnectionPoint& Add(const IID& iid, ConnectKind kind, ConnectEvent onConnect = nullptr);

  HRESULT EnumConnectionPoints(IEnumConnectionPoints** ppEnum);
  HRESULT FindConnectionPoint(REFIID riid, IConnectionPoint** ppCP);

  IConnectionPointContainer& Container() const { return container_; }

 private:
  IConnectionPointContainer& container_;
  std::vector<std::unique_ptr<ConnectionPoint>> points_;
};

// --- Security, names, casts, credentials ------------------------------------------

// CoInitializeSecurity for the process: no security descriptor, the
// authentication services the platform chooses, the two levels, no
// capabilities. Answers the platform's result; a second call fails there.
HRESULT PsInitComSecurity(BYTE authenticationLevel, BYTE impersonationLevel);

// The interface's registered name (the default value of
// HKEY_CLASSES_ROOT\Interface\{iid}); without one, the IID's braced text.
std::string GetInterfaceName(REFIID iid);

// Asks `source` for `iid` into *dest (null on failure). A missing source
// raises EIntfCastError "Cannot cast nil to %s.", a missing interface
// "Interface %s not supported: %s" with the interface's name and the
// answer's text.
void CheckedInterfaceCast(IUnknown* source, REFIID iid, void** dest);
template <class Interface>
ComPtr<Interface> CheckedCast(IUnknown* source) {
  ComPtr<Interface> result;
  CheckedInterfaceCast(source, IidOf<Interface>(), result.ReceiveVoid());
  return result;
}

inline bool BOOLToBoolean(BOOL value) {
  return value != 0;
}
inline BOOL BooleanToBOOL(bool value) {
  return value ? 1 : 0;
}

// A caller's domain, user and password, with the identity record a proxy's
// security blanket takes. The record points at this object's own texts: an
// empty text leaves its reference null and its length 0.
class TPsNetworkCredentials : public vcl::TPersistent {
 public:
  TPsNetworkCredentials();
  TPsNetworkCredentials(const TPsNetworkCredentials& source);
  TPsNetworkCredentials& operator=(const TPsNetworkCredentials& source);

  std::string ClassName() const override { return "TPsNetworkCredentials"; }
  // From other credentials: Domain, User and Password in this order,
  // through their setters; anything else as every persistent object.
  void Assign(const vcl::TPersistent* source) override;

  const WideString& Domain() const { return domain_; }
  const WideString& User() const { return user_; }
  const WideString& Password() const { return password_; }
  void SetDomain(WideView value);
  void SetUser(WideView value);
  void SetPassword(WideView value);

  const COAUTHIDENTITY& Identity() const { return identity_; }

  // Inside a COM call: the caller's account name as User when the call is
  // authenticated by the platform's own service (a null name as empty);
  // otherwise nothing changes. A failed query raises EOleSysError.
  void GetClientCredentials();
  // Sets the proxy's blanket to the platform's own authentication at the
  // connect level, impersonation, and this identity, keeping its other
  // settings. A failure raises EOleSysError; what is not a proxy fails.
  void ApplyCredentials(IUnknown* proxy);
  // The checked cast, then ApplyCredentials on its result; on failure
  // *dest is null and holds no reference.
  void GetInterface(IUnknown* source, REFIID iid, void** dest);

 private:
  void Store(WideString& text, USHORT*& reference, ULONG& length, WideView value);

  WideString domain_;
  WideString user_;
  WideString password_;
  COAUTHIDENTITY identity_;
};

}  // namespace opcserver
