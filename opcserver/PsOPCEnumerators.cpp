#include "opcserver/PsOPCEnumerators.h"

#include <algorithm>

#include "opcserver/PsOPC.h"
#include "opcserver/PsOPCProviderGroups.h"
#include "opcserver/PsOPCProviderItems.h"
#include "toolkit/Debugs.h"

namespace opcserver {

HRESULT SkipIndex(uint64_t& index, ULONG celt, uint64_t count) {
  if (index + celt <= count) {
    index += celt;
    return S_OK;
  }
  index = count;
  return S_FALSE;
}

// ---- TPsOPCItemAttributesEnumerator -------------------------------------------------

TPsOPCItemAttributesEnumerator::TPsOPCItemAttributesEnumerator(TPsOPCProviderGroup* group)
    : group_(group) {}

HRESULT TPsOPCItemAttributesEnumerator::Next(ULONG celt, OPCITEMATTRIBUTES** ppItemArray,
                                             ULONG* pceltFetched) {
  return ComGuard([&] {
    if (pceltFetched)
      *pceltFetched = 0;
    if (!ppItemArray || (!pceltFetched && celt != 1))
      return E_INVALIDARG;
    *ppItemArray = nullptr;
    const std::lock_guard lock(mutex_);
    group_->Lock();
    struct Unlock {
      TPsOPCProviderGroup& group;
      ~Unlock() { group.Unlock(); }
    } unlock{*group_.Get()};
    const uint64_t count = static_cast<uint64_t>(group_->GetItemCount());
    const uint64_t fetched = std::min<uint64_t>(celt, count - std::min(count, index_));
    OPCITEMATTRIBUTES* list = nullptr;
    if (fetched > 0)
      TPsOPCAlloc::AllocList(list, static_cast<int64_t>(fetched));
    ULONG filled = 0;
    try {
      for (; filled < fetched; ++filled) {
        toolkit::DebugValueInt64("FIndex", static_cast<int64_t>(index_ + filled));
        group_->GetItems(static_cast<int>(index_ + filled))->GetItemAttributes(list[filled]);
      }
    } catch (...) {
      // Nothing is handed out by a call that fails.
      for (ULONG i = 0; i < filled; ++i) {
        CoTaskMemFree(list[i].szItemID);
        VariantClear(&list[i].vEUInfo);
      }
      TPsOPCAlloc::FreeList(list);
      throw;
    }
    index_ += fetched;
    *ppItemArray = list;
    if (pceltFetched)
      *pceltFetched = filled;
    return filled == celt ? S_OK : S_FALSE;
  });
}

HRESULT TPsOPCItemAttributesEnumerator::Skip(ULONG celt) {
  return ComGuard([&] {
    const std::lock_guard lock(mutex_);
    return SkipIndex(index_, celt, static_cast<uint64_t>(group_->GetItemCount()));
  });
}

HRESULT TPsOPCItemAttributesEnumerator::Reset() {
  const std::lock_guard lock(mutex_);
  index_ = 0;
  return S_OK;
}

HRESULT TPsOPCItemAttributesEnumerator::Clone(IEnumOPCItemAttributes** ppEnumItemAttributes) {
  return NewEnumeratorInto<TPsOPCItemAttributesEnumerator>(ppEnumItemAttributes, group_.Get());
}

// ---- TPsUnknownEnumerator ---------------------------------------------------------

TPsUnknownEnumerator::TPsUnknownEnumerator(std::vector<ComPtr<IUnknown>> items)
    : items_(std::move(items)) {}

HRESULT TPsUnknownEnumerator::Next(ULONG celt, IUnknown** rgelt, ULONG* pceltFetched) {
  if (pceltFetched)
    *pceltFetched = 0;
  if (!rgelt || (!pceltFetched && celt != 1))
    return E_INVALIDARG;
  const std::lock_guard lock(mutex_);
  ULONG fetched = 0;
  while (fetched < celt && index_ < items_.size()) {
    toolkit::DebugValueInt64("FIndex", static_cast<int64_t>(index_));
    IUnknown* item = items_[static_cast<size_t>(index_)].Get();
    item->AddRef();
    rgelt[fetched++] = item;
    ++index_;
  }
  if (pceltFetched)
    *pceltFetched = fetched;
  return fetched == celt ? S_OK : S_FALSE;
}

HRESULT TPsUnknownEnumerator::Skip(ULONG celt) {
  const std::lock_guard lock(mutex_);
  return SkipIndex(index_, celt, items_.size());
}

HRESULT TPsUnknownEnumerator::Reset() {
  const std::lock_guard lock(mutex_);
  index_ = 0;
  return S_OK;
}

HRESULT TPsUnknownEnumerator::Clone(IEnumUnknown** ppEnum) {
  return NewEnumeratorInto<TPsUnknownEnumerator>(ppEnum, items_);
}

}  // namespace opcserver
