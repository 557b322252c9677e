// Unit PsVars: the variable list.
#include "toolkit/PsVarList.h"

#include <algorithm>

#include "toolkit/psRTTI.h"

namespace toolkit {

// Told when a listed variable is freed, so that the list lets go of it
// whoever owns it.
class TPsVarList::FreeWatch : public vcl::TComponent {
 public:
  explicit FreeWatch(TPsVarList& list)
      : vcl::TComponent(nullptr, "TPsVarListFreeWatch"), list_(list) {}

 protected:
  void Notification(vcl::TComponent* component, vcl::TOperation operation) override {
    vcl::TComponent::Notification(component, operation);
    if (operation == vcl::TOperation::opRemove)
      list_.Forget(component);
  }

 private:
  TPsVarList& list_;
};

TPsVarList::TPsVarList(bool ownsObjects)
    : ownsObjects_(ownsObjects),
      slot_(std::make_unique<TPsVarChangeSlot>()),
      freeWatch_(new FreeWatch(*this)) {}

TPsVarList::~TPsVarList() {
  Detach();
  Clear();
}

TPsVar* TPsVarList::GetItems(int index) const {
  if (index < 0 || index >= Count())
    throw vcl::EListError(vcl::Format("List index out of bounds (%d)", index));
  return items_[static_cast<size_t>(index)];
}

int TPsVarList::IndexOf(const TPsVar* variable) const {
  const auto found = std::find(items_.begin(), items_.end(), variable);
  return found == items_.end() ? -1 : static_cast<int>(found - items_.begin());
}

int TPsVarList::Add(TPsVar* variable) {
  if (Duplicates != vcl::dupAccept) {
    if (const int index = IndexOf(variable); index >= 0) {
      if (Duplicates == vcl::dupError) {
        throw EPsVarListError(
            vcl::Format("List does not accept Duplicates and Variable '%s' is already in the list",
                        ComponentPath(variable)));
      }
      return index;
    }
  }
  items_.push_back(variable);
  if (variable) {
    variable->FreeNotification(freeWatch_.get());
    if (TPsVarChangeSignal* signal = variable->ChangeSignal())
      slot_->Connect(signal);
  }
  return Count() - 1;
}

void TPsVarList::AddVariables(vcl::TComponent* component) {
  if (!component)
    return;
  for (int i = 0; i < component->ComponentCount(); ++i) {
    if (auto* variable = dynamic_cast<TPsVar*>(component->Components(i)))
      Add(variable);
  }
}

int TPsVarList::Remove(TPsVar* variable) {
  const int index = IndexOf(variable);
  if (index < 0)
    return -1;
  items_.erase(items_.begin() + index);
  Release(variable);
  return index;
}

void TPsVarList::Clear() {
  while (!items_.empty()) {
    TPsVar* variable = items_.back();
    items_.pop_back();
    Release(variable);
  }
}

void TPsVarList::Release(TPsVar* variable) {
  if (!variable || IndexOf(variable) >= 0)
    return;
  variable->RemoveFreeNotification(freeWatch_.get());
  if (TPsVarChangeSignal* signal = variable->ChangeSignal())
    slot_->Disconnect(signal);
  if (ownsObjects_)
    vcl::Free(variable);
}

void TPsVarList::Forget(vcl::TComponent* component) {
  items_.erase(std::remove_if(items_.begin(), items_.end(),
                              [component](TPsVar* item) { return item == component; }),
               items_.end());
}

void TPsVarList::Attach(vcl::TComponent* component) {
  if (component == attached_)
    return;
  DropNexus();
  Clear();
  attached_ = nullptr;
  if (!component)
    return;
  nexus_ = new TPsComponentNexus(component);
  nexus_->OnNotification = [this](vcl::TComponent* item, vcl::TOperation operation) {
    HandleNotification(item, operation);
  };
  attached_ = component;
  AddVariables(component);
}

void TPsVarList::DropNexus() {
  TPsComponentNexus* nexus = nexus_;
  if (!nexus)
    return;
  nexus_ = nullptr;
  nexus->OnNotification = nullptr;
  if (attached_)
    attached_->RemoveFreeNotification(nexus);
  vcl::Free(nexus);
}

void TPsVarList::HandleNotification(vcl::TComponent* component, vcl::TOperation operation) {
  if (component == nexus_) {
    // The followed component is going: its nexus is freed with it.
    if (operation == vcl::TOperation::opRemove) {
      nexus_ = nullptr;
      attached_ = nullptr;
    }
    return;
  }
  auto* variable = dynamic_cast<TPsVar*>(component);
  if (!variable)
    return;
  if (operation == vcl::TOperation::opInsert) {
    if (IndexOf(variable) < 0)
      Add(variable);
  } else {
    Remove(variable);
  }
}

}  // namespace toolkit
