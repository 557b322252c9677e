#include "toolkit/PsSignals.h"

#include <exception>
#include <stdexcept>

#include "toolkit/Debugs.h"

namespace toolkit {
namespace {

// Runs one disconnection of a side being freed: its error must not escape
// the destructor nor stop the others.
template <class Disconnection>
void DisconnectFreeing(Disconnection&& disconnection) noexcept {
  try {
    disconnection();
  } catch (const std::exception& error) {
    DebugException(error);
  } catch (...) {
    DebugException(std::runtime_error("unknown exception while disconnecting"));
  }
}

using Lock = std::lock_guard<std::recursive_mutex>;

}  // namespace

std::recursive_mutex& signals_detail::ConnectionMutex() {
  static std::recursive_mutex mutex;
  return mutex;
}

// ---- TPsSlot -----------------------------------------------------------------

TPsSlot::TPsSlot() {
  DebugScope scope("TPsSlot.Create", this);
  SetActive(true);
}

TPsSlot::~TPsSlot() {
  destroying_ = true;
  active_ = false;
  std::unique_lock lock(signals_detail::ConnectionMutex());
  const signals_detail::Snapshot<TPsSignal> snapshot(signals_);
  lock.unlock();
  for (size_t step = snapshot.size(); step-- > 0;) {
    TPsSignal* signal = snapshot[step];
    if (IsConnected(signal))
      DisconnectFreeing([&] { TPsSlot::Disconnect(signal); });
  }
  signals_detail::WalkGuard<TPsSlot>::EndAll(walks_);
}

void TPsSlot::SetActive(bool value) {
  active_ = value;
}

bool TPsSlot::IsConnected(const TPsSignal* signal) const {
  const Lock lock(signals_detail::ConnectionMutex());
  return signals_.Contains(signal);
}

int TPsSlot::SignalCount() const {
  const Lock lock(signals_detail::ConnectionMutex());
  return static_cast<int>(signals_.size());
}

TPsSignal* TPsSlot::Signals(int index) const {
  const Lock lock(signals_detail::ConnectionMutex());
  return signals_.At(static_cast<size_t>(index));
}

void TPsSlot::Connect(TPsSignal* signal) {
  const Lock lock(signals_detail::ConnectionMutex());
  if (!signal || IsConnected(signal) || destroying_ || signal->destroying_)
    return;
  DebugScope scope("TPsSlot.Connect", this);
  signals_.Append(signal);
  signal->Connect(this);
}

void TPsSlot::Disconnect(TPsSignal* signal) {
  {
    const Lock lock(signals_detail::ConnectionMutex());
    if (!IsConnected(signal))
      return;
    DebugScope scope("TPsSlot.Disconnect", this);
    signals_.Remove(signal);
    signal->Disconnect(this);
  }
  if (OnDisconnect)
    OnDisconnect(signal);
}

void TPsSlot::DisconnectAll() {
  DebugScope scope("TPsSlot.DisconnectAll", this);
  std::unique_lock lock(signals_detail::ConnectionMutex());
  const signals_detail::Snapshot<TPsSignal> snapshot(signals_);
  lock.unlock();
  const signals_detail::WalkGuard<TPsSlot> walk(*this);
  for (size_t step = snapshot.size(); step-- > 0 && walk.alive();) {
    if (IsConnected(snapshot[step]))
      Disconnect(snapshot[step]);
  }
}

void TPsSlot::DoSignal(vcl::TObject* sender) {
  if (active_ && OnSignal)
    OnSignal(sender);
}

// ---- TPsSignal ---------------------------------------------------------------

TPsSignal::TPsSignal(vcl::TObject* owner) : owner_(owner) {
  DebugScope scope("TPsSignal.Create", this);
  SetActive(true);
}

TPsSignal::~TPsSignal() {
  destroying_ = true;
  std::unique_lock lock(signals_detail::ConnectionMutex());
  const signals_detail::Snapshot<TPsSlot> snapshot(slots_);
  lock.unlock();
  for (size_t step = snapshot.size(); step-- > 0;) {
    TPsSlot* slot = snapshot[step];
    if (IsConnected(slot))
      DisconnectFreeing([&] { slot->Disconnect(this); });
  }
  signals_detail::WalkGuard<TPsSignal>::EndAll(walks_);
}

void TPsSignal::SetActive(bool value) {
  if (value == active_)
    return;
  DebugScope scope("TPsSignal.SetActive", this);
  active_ = value;
  ForEachSlot([&](TPsSlot* slot) {
    const TPsSignalEvent& handler = value ? slot->OnActivate : slot->OnDeactivate;
    if (handler)
      handler(this);
  });
}

bool TPsSignal::IsConnected(const TPsSlot* slot) const {
  const Lock lock(signals_detail::ConnectionMutex());
  return slots_.Contains(slot);
}

int TPsSignal::SlotCount() const {
  const Lock lock(signals_detail::ConnectionMutex());
  return static_cast<int>(slots_.size());
}

TPsSlot* TPsSignal::Slots(int index) const {
  const Lock lock(signals_detail::ConnectionMutex());
  return slots_.At(static_cast<size_t>(index));
}

void TPsSignal::Connect(TPsSlot* slot) {
  const Lock lock(signals_detail::ConnectionMutex());
  if (!slot || IsConnected(slot) || destroying_ || slot->destroying_)
    return;
  DebugScope scope("TPsSignal.Connect", this);
  slots_.Append(slot);
  slot->Connect(this);
}

void TPsSignal::Disconnect(TPsSlot* slot) {
  {
    const Lock lock(signals_detail::ConnectionMutex());
    if (!IsConnected(slot))
      return;
    DebugScope scope("TPsSignal.Disconnect", this);
    slots_.Remove(slot);
  }
  // The slot's side, and its notification, outside the lock.
  slot->Disconnect(this);
}

void TPsSignal::DisconnectAll() {
  DebugScope scope("TPsSignal.DisconnectAll", this);
  ForEachSlot([&](TPsSlot* slot) { slot->Disconnect(this); }, true);
}

}  // namespace toolkit
