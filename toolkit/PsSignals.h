// Unit PsSignals: a small many-to-many notification mechanism. A TPsSignal
// belongs to an owner and lists the TPsSlots connected to it; each slot lists
// the signals it is connected to. Either side connects or disconnects and the
// other side's list follows, so a slot is in a signal's list exactly when the
// signal is in the slot's. Connections may be made and ended on any thread:
// the lists of all signals and slots share one lock, held only while a list
// is read or changed, never while a handler runs (except the disconnect
// notification of a connection that the signal's side ends). Signals are
// emitted and freed on one thread; a slot is freed on that thread too.
//
// Walks over the lists (emission, activation, disconnecting all) go over a
// snapshot and skip entries disconnected meanwhile, so a handler may
// disconnect or free any slot, or the signal itself, while it is told.
// Freeing either side never throws: a handler's error then goes to
// DebugException and the remaining disconnections still happen.
#pragma once

#include <algorithm>
#include <array>
#include <atomic>
#include <cstddef>
#include <functional>
#include <mutex>
#include <vector>

#include "vcl/Classes.h"

namespace toolkit {

class TPsSignal;
class TPsSlot;

using TPsSignalEvent = std::function<void(TPsSignal* signal)>;

namespace signals_detail {

// Guards the connection lists of every signal and slot.
std::recursive_mutex& ConnectionMutex();

// Marks a walk over a list of `Owner` as over when the owner is freed during
// it. Walks nest on the stack; the owner keeps the innermost.
template <class Owner>
class WalkGuard {
 public:
  explicit WalkGuard(Owner& owner) : owner_(owner), outer_(owner.walks_) { owner.walks_ = this; }
  ~WalkGuard() {
    if (alive_)
      owner_.walks_ = outer_;
  }
  WalkGuard(const WalkGuard&) = delete;
  WalkGuard& operator=(const WalkGuard&) = delete;
  bool alive() const { return alive_; }
  // The owner's destructor: every walk over it ends.
  static void EndAll(WalkGuard* innermost) {
    for (WalkGuard* walk = innermost; walk; walk = walk->outer_)
      walk->alive_ = false;
  }

 private:
  Owner& owner_;
  WalkGuard* outer_;
  bool alive_ = true;
};

// A copy of a short list without a heap allocation.
template <class T>
class Snapshot {
 public:
  explicit Snapshot(const std::vector<T*>& list) : size_(list.size()) {
    if (size_ <= local_.size()) {
      std::copy(list.begin(), list.end(), local_.begin());
    } else {
      heap_ = list;
    }
  }
  size_t size() const { return size_; }
  T* operator[](size_t index) const { return heap_.empty() ? local_[index] : heap_[index]; }

 private:
  size_t size_;
  std::array<T*, 8> local_{};
  std::vector<T*> heap_;
};

}  // namespace signals_detail

class TPsSlot : public vcl::TObject {
 public:
  // Active, connected to nothing.
  TPsSlot();
  // Inactive at once (no handler runs), then disconnected from every signal,
  // the last first, each firing OnDisconnect.
  ~TPsSlot() override;
  TPsSlot(const TPsSlot&) = delete;
  TPsSlot& operator=(const TPsSlot&) = delete;

  bool Active() const { return active_; }
  // Stores the flag; tells nobody.
  virtual void SetActive(bool value);

  bool IsConnected(const TPsSignal* signal) const;
  // Nothing for no signal, one already connected, or while either side is
  // being freed; else both lists gain the other side.
  virtual void Connect(TPsSignal* signal);
  // Nothing unless connected; else both lists lose the other side, then
  // OnDisconnect runs with the signal.
  virtual void Disconnect(TPsSignal* signal);
  // Disconnect for every connected signal, the last first.
  void DisconnectAll();
  // OnSignal with `sender` while the slot is active.
  void DoSignal(vcl::TObject* sender);

  int SignalCount() const;
  TPsSignal* Signals(int index) const;

  // With the signal: it became active or inactive (whatever this slot's own
  // flag), or the slot was disconnected from it.
  TPsSignalEvent OnActivate;
  TPsSignalEvent OnDeactivate;
  TPsSignalEvent OnDisconnect;
  // The plain notification, with the signal's owner.
  vcl::TNotifyEvent OnSignal;

 private:
  friend class TPsSignal;
  friend class signals_detail::WalkGuard<TPsSlot>;

  std::vector<TPsSignal*> signals_;
  std::atomic<bool> active_{false};
  std::atomic<bool> destroying_{false};
  signals_detail::WalkGuard<TPsSlot>* walks_ = nullptr;
};

class TPsSignal : public vcl::TObject {
 public:
  // Active, no slot; `owner` (not owned) is the sender slots are given.
  explicit TPsSignal(vcl::TObject* owner);
  // Disconnects every slot, the last first (each fires OnDisconnect); the
  // slots themselves stay.
  ~TPsSignal() override;
  TPsSignal(const TPsSignal&) = delete;
  TPsSignal& operator=(const TPsSignal&) = delete;

  vcl::TObject* Owner() const { return owner_; }
  bool Active() const { return active_; }
  // When the value differs: stores it, then tells every slot, the first
  // first (OnActivate or OnDeactivate).
  virtual void SetActive(bool value);

  bool IsConnected(const TPsSlot* slot) const;
  // The mirror images of the slot's operations.
  virtual void Connect(TPsSlot* slot);
  virtual void Disconnect(TPsSlot* slot);
  virtual void DisconnectAll();

  int SlotCount() const;
  TPsSlot* Slots(int index) const;

  // Calls `visit` with every slot connected when the walk starts, in
  // connection order (`lastFirst`: the reverse), skipping slots disconnected
  // meanwhile; stops when the signal is freed. For emitters.
  template <class Visit>
  void ForEachSlot(Visit&& visit, bool lastFirst = false) {
    std::unique_lock lock(signals_detail::ConnectionMutex());
    const signals_detail::Snapshot<TPsSlot> snapshot(slots_);
    lock.unlock();
    const signals_detail::WalkGuard<TPsSignal> walk(*this);
    for (size_t step = 0; step < snapshot.size() && walk.alive(); ++step) {
      TPsSlot* slot = snapshot[lastFirst ? snapshot.size() - 1 - step : step];
      if (IsConnected(slot))
        visit(slot);
    }
  }

 private:
  friend class TPsSlot;
  friend class signals_detail::WalkGuard<TPsSignal>;

  vcl::TObject* owner_;
  std::vector<TPsSlot*> slots_;
  bool active_ = false;
  std::atomic<bool> destroying_{false};
  signals_detail::WalkGuard<TPsSignal>* walks_ = nullptr;
};

}  // namespace toolkit
