// Unit PsOPCProviderGroups, the group's item list: the items in the order
// they were added, found by server handle, and taken out in constant time,
// so that removing many items of a large group costs what the items do.
//
// A removed item leaves a hole, closed once the holes outnumber the items or
// before an item is read by position; walks skip the holes. Not locked: the
// group's lock guards it.
#pragma once

#include <cstddef>
#include <iterator>
#include <unordered_map>
#include <vector>

#include "opcserver/OPCDA.h"

namespace opcserver {

class TPsOPCProviderItem;

class TPsOPCProviderItemList {
 public:
  // Walks the listed items in order.
  class const_iterator {
   public:
    using iterator_category = std::forward_iterator_tag;
    using value_type = TPsOPCProviderItem*;
    using difference_type = std::ptrdiff_t;
    using pointer = TPsOPCProviderItem* const*;
    using reference = TPsOPCProviderItem* const&;

    const_iterator() = default;
    reference operator*() const { return *slot_; }
    const_iterator& operator++() {
      ++slot_;
      SkipHoles();
      return *this;
    }
    const_iterator operator++(int) {
      const_iterator before = *this;
      ++*this;
      return before;
    }
    bool operator==(const const_iterator& other) const { return slot_ == other.slot_; }

   private:
    friend class TPsOPCProviderItemList;
    const_iterator(pointer slot, pointer end) : slot_(slot), end_(end) { SkipHoles(); }
    void SkipHoles() {
      while (slot_ != end_ && !*slot_)
        ++slot_;
    }
    pointer slot_ = nullptr;
    pointer end_ = nullptr;
  };

  size_t size() const { return count_; }
  bool empty() const { return count_ == 0; }
  const_iterator begin() const {
    return const_iterator(slots_.data(), slots_.data() + slots_.size());
  }
  const_iterator end() const {
    return const_iterator(slots_.data() + slots_.size(), slots_.data() + slots_.size());
  }

  // Appends an item that has its server handle.
  void Add(TPsOPCProviderItem* item, OPCHANDLE serverHandle) {
    positions_[serverHandle] = slots_.size();
    slots_.push_back(item);
    handles_.push_back(serverHandle);
    ++count_;
  }
  // Whether the item with the server handle was listed; it is not any more.
  bool Remove(const TPsOPCProviderItem* item, OPCHANDLE serverHandle) {
    const auto found = positions_.find(serverHandle);
    if (found == positions_.end() || slots_[found->second] != item)
      return false;
    slots_[found->second] = nullptr;
    positions_.erase(found);
    --count_;
    if (slots_.size() - count_ > count_)
      Compact();
    return true;
  }
  // The item with the server handle, or none.
  TPsOPCProviderItem* Find(OPCHANDLE serverHandle) const {
    const auto found = positions_.find(serverHandle);
    return found == positions_.end() ? nullptr : slots_[found->second];
  }
  // The item at `index` (below size()) among the listed ones.
  TPsOPCProviderItem* At(size_t index) {
    if (slots_.size() != count_)
      Compact();
    return slots_[index];
  }
  // Every item, in order; the list is empty afterwards.
  std::vector<TPsOPCProviderItem*> TakeAll() {
    Compact();
    std::vector<TPsOPCProviderItem*> items;
    items.swap(slots_);
    handles_.clear();
    positions_.clear();
    count_ = 0;
    return items;
  }

 private:
  // Closes the holes; the positions follow the items.
  void Compact() {
    size_t kept = 0;
    for (size_t slot = 0; slot < slots_.size(); ++slot) {
      if (!slots_[slot])
        continue;
      slots_[kept] = slots_[slot];
      handles_[kept] = handles_[slot];
      positions_[handles_[kept]] = kept;
      ++kept;
    }
    slots_.resize(kept);
    handles_.resize(kept);
  }

  // The items with holes (none) where items were taken out, and their
  // server handles.
  std::vector<TPsOPCProviderItem*> slots_;
  std::vector<OPCHANDLE> handles_;
  // Server handle -> slot.
  std::unordered_map<OPCHANDLE, size_t> positions_;
  size_t count_ = 0;
};

}  // namespace opcserver
