// The server's address space of unit PsOPCProvider.
#include "opcserver/PsOPCProviderAddressSpace.h"

#include <algorithm>

#include "opcserver/PsOPC.h"
#include "opcserver/PsOPCProvider.h"
#include "toolkit/Debugs.h"
#include "toolkit/PsUtils.h"
#include "toolkit/psRTTI.h"
#include "vcl/Forms.h"

namespace opcserver {

TPsOPCProviderAddressSpace::TPsOPCProviderAddressSpace(TPsOPCProvider* server) : server_(server) {
  SetPathSeparator('.');
}

TPsOPCProviderAddressSpace::~TPsOPCProviderAddressSpace() {
  // Quiet first: freeing a nexus tells its handler of its own end.
  for (toolkit::TPsComponentNexus* nexus : std::exchange(moduleNexus_, {})) {
    nexus->OnNotification = nullptr;
    delete nexus;
  }
  if (nexus_)
    nexus_->OnNotification = nullptr;
  nexus_.reset();
}

bool TPsOPCProviderAddressSpace::IsModule(const vcl::TComponent* component) {
  return dynamic_cast<const vcl::TForm*>(component) ||
         (component && dynamic_cast<const vcl::TApplication*>(component->Owner()));
}

std::string TPsOPCProviderAddressSpace::NodeName(const vcl::TComponent* component,
                                                 const std::string& name) const {
  if (!name.empty())
    return name;
  if (!component->Name().empty() || !UndefinedNames)
    return component->Name();
  return vcl::Format("<%s.Name not defined>", component->ClassName());
}

int TPsOPCProviderAddressSpace::AddModule(vcl::TComponent* component, int parentIndex,
                                          bool addComponents, const std::string& name) {
  if (!component)
    throw EPsOPCProviderAddressSpaceException("AddModule: no component given");
  if (!IsModule(component))
    return -1;
  const std::string nodeName = NodeName(component, name);
  if (nodeName.empty())
    return -1;
  const TreeLock lock(*this);
  int node = IndexOfChild(parentIndex, nodeName);
  if (node < 0) {
    node = AddChildObject(parentIndex, nodeName, component);
    auto* nexus = new toolkit::TPsComponentNexus(component);
    nexus->OnNotification = [this](vcl::TComponent* other, vcl::TOperation operation) {
      Notification(other, operation);
    };
    moduleNexus_.push_back(nexus);
    component->FreeNotification(&OwnNexus());
  }
  if (addComponents) {
    AddModules(component, node);
    AddVariables(component, node);
    if (!HasChildren(node)) {
      Delete(node);
      return -1;
    }
  }
  return node;
}

void TPsOPCProviderAddressSpace::AddModules(vcl::TComponent* owner, int parentIndex) {
  for (int i = 0; i < owner->ComponentCount(); ++i)
    AddModule(owner->Components(i), parentIndex, true);
}

int TPsOPCProviderAddressSpace::AddVariable(int parentIndex, toolkit::TPsVar* variable,
                                            const std::string& name) {
  if (!variable)
    throw EPsOPCProviderAddressSpaceException("AddVariable: no variable given");
  const std::string nodeName = NodeName(variable, name);
  if (nodeName.empty())
    return -1;
  const TreeLock lock(*this);
  if (IndexOfChild(parentIndex, nodeName) >= 0)
    return -1;
  const int node = AddChildObject(parentIndex, nodeName, variable);
  variable->FreeNotification(&OwnNexus());
  if (PropertyLeaves())
    for (const std::string& propName : toolkit::VarPropTypeInfo().EnumNames)
      AddChildObject(node, propName, variable);
  return node;
}

void TPsOPCProviderAddressSpace::AddVariables(vcl::TComponent* owner, int parentIndex) {
  for (int i = 0; i < owner->ComponentCount(); ++i)
    if (auto* variable = dynamic_cast<toolkit::TPsVar*>(owner->Components(i)))
      AddVariable(parentIndex, variable);
}

toolkit::TPsComponentNexus& TPsOPCProviderAddressSpace::OwnNexus() {
  if (!nexus_) {
    nexus_ = std::make_unique<toolkit::TPsComponentNexus>(nullptr);
    nexus_->OnNotification = [this](vcl::TComponent* component, vcl::TOperation operation) {
      Notification(component, operation);
    };
  }
  return *nexus_;
}

void TPsOPCProviderAddressSpace::Notification(vcl::TComponent* component,
                                              vcl::TOperation operation) {
  if (component == nexus_.get())
    return;
  const auto nexus = std::find(moduleNexus_.begin(), moduleNexus_.end(), component);
  if (nexus != moduleNexus_.end()) {
    if (operation == vcl::TOperation::opRemove)
      moduleNexus_.erase(nexus);
    return;
  }
  if (operation == vcl::TOperation::opInsert) {
    if (WatchComponents() && (IsModule(component) || dynamic_cast<toolkit::TPsVar*>(component)))
      needsRefresh_ = true;
    return;
  }
  const TreeLock lock(*this);
  // A node (with its subtree) for each place the component was added at.
  for (int node = IndexOfObject(component); node >= 0; node = IndexOfObject(component))
    DeleteSubTree(node, false);
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

void TPsOPCProviderAddressSpace::DoRefresh() {
  if (AutoAddModules())
    AddModules(&vcl::Application(), -1);
}

int TPsOPCProviderAddressSpace::IndexOfItemID(const std::string& itemID) {
  const TreeLock lock(*this);
  const IndexedAs now{changeCount_, PathSeparator(), QuoteChar()};
  if (itemIDIndexedAs_ != now) {
    itemIDIndex_.clear();
    itemIDIndex_.reserve(static_cast<size_t>(Count()));
    for (int node = 0; node < Count(); ++node)
      itemIDIndex_.emplace(GetPathText(node), node);
    itemIDIndexedAs_ = now;
  }
  const auto found = itemIDIndex_.find(itemID);
  return found == itemIDIndex_.end() ? -1 : found->second;
}

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
