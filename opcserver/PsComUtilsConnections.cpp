// Connection points of PsComUtils: each point keeps its sinks with a
// reference; enumerators work on a snapshot taken when they are made.
#include <algorithm>

#include "opcserver/PsComUtils.h"

namespace opcserver {
namespace {

// A standard enumerator over a snapshot of items; Hand gives the caller
// one item with a reference of its own.
template <class Interface, class Item, class Out, Out (*Hand)(const Item&)>
class SnapshotEnumerator : public ComObject<Interface> {
 public:
  SnapshotEnumerator(std::vector<Item> items, size_t position)
      : items_(std::move(items)), position_(position) {}

  HRESULT STDMETHODCALLTYPE Next(ULONG celt, Out* rgelt, ULONG* pceltFetched) override {
    if (!rgelt || (celt > 1 && !pceltFetched))
      return E_POINTER;
    ULONG fetched = 0;
    while (fetched < celt && position_ < items_.size())
      rgelt[fetched++] = Hand(items_[position_++]);
    if (pceltFetched)
      *pceltFetched = fetched;
    return fetched == celt ? S_OK : S_FALSE;
  }
  HRESULT STDMETHODCALLTYPE Skip(ULONG celt) override {
    const size_t left = items_.size() - position_;
    position_ += std::min<size_t>(celt, left);
    return celt <= left ? S_OK : S_FALSE;
  }
  HRESULT STDMETHODCALLTYPE Reset() override {
    position_ = 0;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE Clone(Interface** ppEnum) override {
    return ComGuard([&] {
      if (!ppEnum)
        return E_POINTER;
      *ppEnum = MakeComObject<SnapshotEnumerator>(items_, position_).Detach();
      return S_OK;
    });
  }

 private:
  const std::vector<Item> items_;
  size_t position_;
};

struct Connected {
  ComPtr<IUnknown> sink;
  DWORD cookie;
};

CONNECTDATA HandConnection(const Connected& item) {
  item.sink->AddRef();
  return {item.sink.Get(), item.cookie};
}

IConnectionPoint* HandPoint(const ComPtr<IConnectionPoint>& point) {
  point->AddRef();
  return point.Get();
}

using ConnectionEnumerator =
    SnapshotEnumerator<IEnumConnections, Connected, CONNECTDATA, &HandConnection>;
using PointEnumerator = SnapshotEnumerator<IEnumConnectionPoints, ComPtr<IConnectionPoint>,
                                           IConnectionPoint*, &HandPoint>;

}  // namespace

ConnectionPoint::ConnectionPoint(ConnectionPoints& list, const IID& iid, ConnectKind kind,
                                 ConnectEvent onConnect)
    : list_(list), iid_(iid), kind_(kind), onConnect_(std::move(onConnect)) {}

HRESULT ConnectionPoint::QueryInterface(REFIID riid, void** ppvObject) {
  if (!ppvObject)
    return E_POINTER;
  *ppvObject = nullptr;
  if (!IsEqualIID(riid, IID_IUnknown) && !IsEqualIID(riid, IID_IConnectionPoint))
    return E_NOINTERFACE;
  *ppvObject = static_cast<IConnectionPoint*>(this);
  AddRef();
  return S_OK;
}

ULONG ConnectionPoint::AddRef() {
  return list_.Container().AddRef();
}

ULONG ConnectionPoint::Release() {
  return list_.Container().Release();
}

HRESULT ConnectionPoint::GetConnectionInterface(IID* pIID) {
  if (!pIID)
    return E_POINTER;
  *pIID = iid_;
  return S_OK;
}

HRESULT ConnectionPoint::GetConnectionPointContainer(IConnectionPointContainer** ppCPC) {
  if (!ppCPC)
    return E_POINTER;
  *ppCPC = &list_.Container();
  (*ppCPC)->AddRef();
  return S_OK;
}

HRESULT ConnectionPoint::Advise(IUnknown* pUnkSink, DWORD* pdwCookie) {
  return ComGuard([&] {
    if (!pdwCookie)
      return E_POINTER;
    *pdwCookie = 0;
    if (!pUnkSink)
      return E_POINTER;
    ComPtr<IUnknown> sink;
    if (FAILED(pUnkSink->QueryInterface(iid_, sink.ReceiveVoid())) || !sink)
      return CONNECT_E_CANNOTCONNECT;
    DWORD cookie = 0;
    {
      // The place is taken before the notification, which runs unlocked.
      const std::lock_guard<std::mutex> lock(mutex_);
      if (kind_ == ConnectKind::Single && !connections_.empty())
        return CONNECT_E_ADVISELIMIT;
      cookie = ++lastCookie_;
      if (cookie == 0)
        cookie = ++lastCookie_;
      connections_.push_back({cookie, sink, SinkState::Joining});
    }
    try {
      if (onConnect_)
        onConnect_(sink.Get(), true);
    } catch (...) {
      Drop(cookie);
      throw;
    }
    const std::lock_guard<std::mutex> lock(mutex_);
    for (auto& connection : connections_)
      if (connection.cookie == cookie)
        connection.state = SinkState::Connected;
    *pdwCookie = cookie;
    return S_OK;
  });
}

HRESULT ConnectionPoint::Unadvise(DWORD dwCookie) {
  return ComGuard([&] {
    ComPtr<IUnknown> sink;
    {
      const std::lock_guard<std::mutex> lock(mutex_);
      const auto found =
          std::find_if(connections_.begin(), connections_.end(), [&](const Connection& c) {
            return c.cookie == dwCookie && c.state == SinkState::Connected;
          });
      if (found == connections_.end())
        return CONNECT_E_NOCONNECTION;
      found->state = SinkState::Leaving;
      sink = found->sink;
    }
    // The sink goes whatever the notification does.
    struct DropOnExit {
      ConnectionPoint& point;
      DWORD cookie;
      ~DropOnExit() { point.Drop(cookie); }
    } drop{*this, dwCookie};
    if (onConnect_)
      onConnect_(sink.Get(), false);
    return S_OK;
  });
}

HRESULT ConnectionPoint::EnumConnections(IEnumConnections** ppEnum) {
  return ComGuard([&] {
    if (!ppEnum)
      return E_POINTER;
    *ppEnum = nullptr;
    std::vector<Connected> items;
    {
      const std::lock_guard<std::mutex> lock(mutex_);
      for (const auto& connection : connections_)
        if (connection.state == SinkState::Connected)
          items.push_back({connection.sink, connection.cookie});
    }
    *ppEnum = MakeComObject<ConnectionEnumerator>(std::move(items), 0).Detach();
    return S_OK;
  });
}

size_t ConnectionPoint::SinkCount() const {
  const std::lock_guard<std::mutex> lock(mutex_);
  return connections_.size();
}

std::vector<ComPtr<IUnknown>> ConnectionPoint::ConnectedSinks() const {
  std::vector<ComPtr<IUnknown>> sinks;
  const std::lock_guard<std::mutex> lock(mutex_);
  for (const auto& connection : connections_)
    if (connection.state == SinkState::Connected)
      sinks.push_back(connection.sink);
  return sinks;
}

void ConnectionPoint::Drop(DWORD cookie) {
  ComPtr<IUnknown> released;  // released after the lock is given back
  const std::lock_guard<std::mutex> lock(mutex_);
  const auto found = std::find_if(connections_.begin(), connections_.end(),
                                  [&](const Connection& c) { return c.cookie == cookie; });
  if (found != connections_.end()) {
    released = std::move(found->sink);
    connections_.erase(found);
  }
}

ConnectionPoint& ConnectionPoints::Add(const IID& iid, ConnectKind kind, ConnectEvent onConnect) {
  points_.push_back(std::make_unique<ConnectionPoint>(*this, iid, kind, std::move(onConnect)));
  return *points_.back();
}

HRESULT ConnectionPoints::EnumConnectionPoints(IEnumConnectionPoints** ppEnum) {
  return ComGuard([&] {
    if (!ppEnum)
      return E_POINTER;
    *ppEnum = nullptr;
    std::vector<ComPtr<IConnectionPoint>> items;
    for (const auto& point : points_)
      items.emplace_back(point.get());
    *ppEnum = MakeComObject<PointEnumerator>(std::move(items), 0).Detach();
    return S_OK;
  });
}

HRESULT ConnectionPoints::FindConnectionPoint(REFIID riid, IConnectionPoint** ppCP) {
  if (!ppCP)
    return E_POINTER;
  *ppCP = nullptr;
  for (const auto& point : points_) {
    if (IsEqualIID(point->Iid(), riid)) {
      *ppCP = point.get();
      point->AddRef();
      return S_OK;
    }
  }
  return CONNECT_E_NOCONNECTION;
}

}  // namespace opcserver
