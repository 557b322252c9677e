// Unit PsVars, the variable list: distinct process variables, optionally
// those a container component owns, kept up to date as the container gains
// and loses variables. One change slot is connected to every listed
// variable, so that one listener hears the changes of all of them. A listed
// variable that is freed drops out of the list.
#pragma once

#include <memory>
#include <vector>

#include "toolkit/PsClassesPersistent.h"
#include "toolkit/PsVars.h"
#include "vcl/Classes.h"

namespace toolkit {

class TPsVarList : public vcl::TObject {
 public:
  // Empty, dupIgnore; `ownsObjects`: taking a variable out frees it.
  explicit TPsVarList(bool ownsObjects = false);
  // Detaches and clears.
  ~TPsVarList() override;
  TPsVarList(const TPsVarList&) = delete;
  TPsVarList& operator=(const TPsVarList&) = delete;

  // What Add does with a variable that is listed already.
  vcl::TDuplicates Duplicates = vcl::dupIgnore;
  bool OwnsObjects() const { return ownsObjects_; }

  int Count() const { return static_cast<int>(items_.size()); }
  // EListError "List index out of bounds (%d)" outside 0..Count-1.
  TPsVar* GetItems(int index) const;
  int IndexOf(const TPsVar* variable) const;
  // dupIgnore: the index of a listed variable; dupError: EPsVarListError
  // naming it. Else appends it, connects the change slot, returns its index.
  int Add(TPsVar* variable);
  // Add for every variable `component` owns, in its order.
  void AddVariables(vcl::TComponent* component);
  // Takes the first entry of `variable` out; its index, or -1.
  int Remove(TPsVar* variable);
  void Clear();

  // Follows `component`: the list is cleared and refilled with the variables
  // it owns, and follows its insertions and removals from then on. The same
  // component again changes nothing; none stops following.
  void Attach(vcl::TComponent* component);
  void Detach() { Attach(nullptr); }
  vcl::TComponent* Attached() const { return attached_; }

  // Connected to the change signal of every listed variable.
  TPsVarChangeSlot& ChangeSlot() const { return *slot_; }

  // The followed component's news: its nexus going, variables inserted or
  // removed.
  virtual void HandleNotification(vcl::TComponent* component, vcl::TOperation operation);

 private:
  class FreeWatch;

  // After an entry of `variable` went: unless it is still listed, no longer
  // watched nor heard, and freed when the list owns it.
  void Release(TPsVar* variable);
  // A variable being freed: all its entries out.
  void Forget(vcl::TComponent* component);
  // Frees the nexus without hearing of it.
  void DropNexus();

  std::vector<TPsVar*> items_;
  bool ownsObjects_;
  vcl::TComponent* attached_ = nullptr;
  // Owned by the attached component; freed by the list.
  TPsComponentNexus* nexus_ = nullptr;
  std::unique_ptr<TPsVarChangeSlot> slot_;
  vcl::Owned<FreeWatch> freeWatch_;
};

}  // namespace toolkit
