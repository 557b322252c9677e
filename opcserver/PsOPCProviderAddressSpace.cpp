// The server's address space of unit PsOPCProvider.
#include "opcserver/PsOPCProviderAddressSpace.h"

#include "opcserver/PsOPCProvider.h"
#include "toolkit/Debugs.h"
#include "toolkit/PsUtils.h"

namespace opcserver {

TPsOPCProviderAddressSpace::TPsOPCProviderAddressSpace(TPsOPCProvider* server) : server_(server) {
  SetPathSeparator('.');
}

void TPsOPCProviderAddressSpace::SetAutoAddModules(bool value) {
  if (autoAddModules_.exchange(value) != value)
    needsRefresh_ = true;
}

void TPsOPCProviderAddressSpace::SetWatchComponents(bool value) {
  if (watchComponents_.exchange(value) != value && value)
    needsRefresh_ = true;
}

void TPsOPCProviderAddressSpace::SetPropertyLeaves(bool value) {
  if (propertyLeaves_.exchange(value) != value)
    needsRefresh_ = true;
}

bool TPsOPCProviderAddressSpace::NeedsRefresh() {
  return needsRefresh_;
}

void TPsOPCProviderAddressSpace::Refresh(bool force) {
  const toolkit::DebugScope trace("TPsOPCProviderAddressSpace.Refresh", this);
  const TreeLock lock(*this);
  if (!force && !NeedsRefresh())
    return;
  DoRefresh();
  if (OnRefresh)
    OnRefresh(this);
  needsRefresh_ = false;
}

void TPsOPCProviderAddressSpace::DoRefresh() {}

void TPsOPCProviderAddressSpace::Changed() {
  toolkit::TPsStringTree::Changed();
  const TreeLock lock(*this);
  changeTime_ = toolkit::NowUTC();
  ++changeCount_;
}

void TPsOPCProviderAddressSpace::SetChange(vcl::TDateTime time, uint64_t count) {
  changeTime_ = time;
  changeCount_ = count;
}

}  // namespace opcserver
