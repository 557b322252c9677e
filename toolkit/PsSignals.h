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
#include <stdexcept>
#include <unordered_map>
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

// One side's connections, in connection order. A short list is searched; a
// long one finds and takes out an entry in constant time through an index
// of positions, so a variable that feeds many items costs what the items
// do. A removal from a long list leaves a hole, closed once the holes
// outnumber the entries.
template <class T>
class ConnectionList {
 public:
  size_t size() const { return count_; }
  bool Contains(const T* entry) const {
    if (!entry)
      return false;
    if (!indexed_)
      return std::find(entries_.begin(), entries_.end(), entry) != entries_.end();
    return positions_.count(entry) != 0;
  }
  void Append(T* entry) {
    entries_.push_back(entry);
    ++count_;
    if (indexed_)
      positions_.emplace(entry, entries_.size() - 1);
    else if (count_ > kShort)
      Reindex();
  }
  // Nothing when the entry is not listed.
  void Remove(const T* entry) {
    if (!indexed_) {
      const auto found = std::find(entries_.begin(), entries_.end(), entry);
      if (found != entries_.end()) {
        entries_.erase(found);
        --count_;
      }
      return;
    }
    const auto found = positions_.find(entry);
    if (found == positions_.end())
      return;
    entries_[found->second] = nullptr;
    positions_.erase(found);
    --count_;
    if (entries_.size() - count_ > count_)
      Compact();
  }
  // The entry at `index` among the listed ones; std::out_of_range beyond.
  T* At(size_t index) const {
    if (index >= count_)
      throw std::out_of_range("connection index out of range");
    if (entries_.size() == count_)
      return entries_[index];
    for (T* entry : entries_)
      if (entry && index-- == 0)
        return entry;
    return nullptr;
  }
  // `visit` with each entry, in order.
  template <class Visit>
  void ForEach(Visit&& visit) const {
    for (T* entry : entries_)
      if (entry)
        visit(entry);
  }

 private:
  // Longer lists are indexed.
  static constexpr size_t kShort = 8;

  void Compact() {
    std::erase(entries_, nullptr);
    if (entries_.size() > kShort) {
      Reindex();
    } else {
      indexed_ = false;
      positions_.clear();
    }
  }
  void Reindex() {
    indexed_ = true;
    positions_.clear();
    for (size_t position = 0; position < entries_.size(); ++position)
      positions_.emplace(entries_[position], position);
  }

  // Holes (none) only while indexed.
  std::vector<T*> entries_;
  std::unordered_map<const T*, size_t> positions_;
  size_t count_ = 0;
  bool indexed_ = false;
};

// A copy of a short list without a heap allocation.
template <class T>
class Snapshot {
 public:
  explicit Snapshot(const ConnectionList<T>& list) : size_(list.size()) {
    if (size_ > local_.size())
      heap_.reserve(size_);
    size_t next = 0;
    list.ForEach([&](T* entry) {
      if (size_ <= local_.size())
        local_[next++] = entry;
      else
        heap_.push_back(entry);
    });
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

  signals_detail::ConnectionList<TPsSignal> signals_;
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
  signals_detail::ConnectionList<TPsSlot> slots_;
  bool active_ = false;
  std::atomic<bool> destroying_{false};
  signals_detail::WalkGuard<TPsSignal>* walks_ = nullptr;
};

}  // namespace toolkit
