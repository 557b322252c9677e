// Unit PsOPCEnumerators: the enumerators a client gets for a group's items
// (IEnumOPCItemAttributes) and for its groups (IEnumUnknown). Each keeps what
// it lists alive while the client holds it; a clone starts at the first
// element.
#pragma once

#include <cstdint>
#include <mutex>
#include <vector>

#include "opcserver/OPCDA.h"
#include "opcserver/PsComUtils.h"

namespace opcserver {

class TPsOPCProviderGroup;

// Over the group's current items, in list order; holds a reference to it.
class TPsOPCItemAttributesEnumerator : public ComObject<IEnumOPCItemAttributes> {
 public:
  explicit TPsOPCItemAttributesEnumerator(TPsOPCProviderGroup* group);

  // A task block for the elements returned (none when none follow);
  // pceltFetched may be null only when celt is 1.
  HRESULT STDMETHODCALLTYPE Next(ULONG celt, OPCITEMATTRIBUTES** ppItemArray,
                                 ULONG* pceltFetched) override;
  HRESULT STDMETHODCALLTYPE Skip(ULONG celt) override;
  HRESULT STDMETHODCALLTYPE Reset() override;
  HRESULT STDMETHODCALLTYPE Clone(IEnumOPCItemAttributes** ppEnumItemAttributes) override;

 private:
  ComPtr<TPsOPCProviderGroup> group_;
  std::mutex mutex_;
  uint64_t index_ = 0;
};

// Over a list of interfaces, each held with one reference.
class TPsUnknownEnumerator : public ComObject<IEnumUnknown> {
 public:
  explicit TPsUnknownEnumerator(std::vector<ComPtr<IUnknown>> items);

  // rgelt holds celt entries; each returned one carries a reference for the
  // caller. pceltFetched may be null only when celt is 1.
  HRESULT STDMETHODCALLTYPE Next(ULONG celt, IUnknown** rgelt, ULONG* pceltFetched) override;
  HRESULT STDMETHODCALLTYPE Skip(ULONG celt) override;
  HRESULT STDMETHODCALLTYPE Reset() override;
  HRESULT STDMETHODCALLTYPE Clone(IEnumUnknown** ppEnum) override;

 private:
  std::mutex mutex_;
  const std::vector<ComPtr<IUnknown>> items_;
  uint64_t index_ = 0;
};

// Skip's rule: advance by `celt` when that does not pass `count` (S_OK),
// else stop at `count` (S_FALSE).
HRESULT SkipIndex(uint64_t& index, ULONG celt, uint64_t count);

}  // namespace opcserver
