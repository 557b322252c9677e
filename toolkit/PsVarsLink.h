// Unit PsVars, the variable link: binds one property kind of one variable to
// a client object. It follows the variable through a change slot, passes on
// the announcements of its own kind, and reads and writes the kind for the
// client. Writes through the link are not heard back by it.
#pragma once

#include <memory>
#include <mutex>
#include <string>
#include <utility>

#include "toolkit/PsClasses.h"
#include "toolkit/PsVars.h"

namespace toolkit {

using TPsVarLinkChangingEvent =
    std::function<void(vcl::TObject* sender, PsVariant& value, TPsVarQuality& quality,
                       TPsVarChangingResponse& response)>;

class TPsVarLink : public TPsPersistent {
 public:
  // Active, on vpValue of no variable, passing bad values.
  TPsVarLink();
  ~TPsVarLink() override;
  std::string ClassName() const override { return "TPsVarLink"; }
  static const TPsClassMeta& ClassMeta();

  // The sender of every event is GetOwnerOrSelf.
  vcl::TNotifyEvent OnBadValue;
  vcl::TNotifyEvent OnChange;
  TPsVarLinkChangingEvent OnChanging;
  vcl::TNotifyEvent OnAfterChange;
  // The linked variable went away (it was freed); Variable is none by then.
  vcl::TNotifyEvent OnVarDestroy;
  // With it, a change to a bad quality reaches OnChange too, and empty or
  // null values are written.
  bool PassBadValues = true;

  TPsVar* Variable() const { return variable_; }
  // Follows the new variable from now on (nothing is sent for its present
  // state); ConfigChanged.
  void SetVariable(TPsVar* variable);
  TPsVarPropType VarProp() const { return varProp_; }
  virtual void SetVarProp(TPsVarPropType prop);
  bool Active() const;
  // The slot's flag; ConfigChanged whether it changed or not.
  virtual void SetActive(bool value);

  // While locked the link hears nothing of its variable.
  void Lock();
  void UnLock();
  bool Locked() const { return lockCount_ != 0; }

  // Reads of VarProp; without a variable: False, bad, 0, Null, the double
  // marker, vdtDefault, False.
  virtual bool HasValue() const;
  virtual TPsVarQuality GetQuality() const;
  virtual vcl::TDateTime GetTimestamp() const;
  virtual PsVariant GetValue() const;
  virtual double GetAsFloat() const;
  bool IsBad() const { return GetQuality() == vpqBad; }
  TPsVarDataType GetDataType() const;
  bool GetIsArray() const;
  // These raise EPsException "Variable not assigned." without a variable.
  virtual std::string GetAsStringGood() const;
  PsVariant GetAsDataType(TPsVarDataType dataType, bool asArray) const;
  // What GetAsDataType gives, with the quality and timestamp it was read
  // with: one snapshot under the variable's leaf lock, converted after it.
  // For other threads than the main one, also while the main thread moves
  // the link to another variable or frees its variable.
  TPsVarSnapshot GetSnapshot(TPsVarDataType dataType, bool asArray) const;
  // What GetSnapshot gives of `variable`'s property.
  static TPsVarSnapshot SnapshotAs(const TPsVar& variable, TPsVarPropType prop,
                                   TPsVarDataType dataType, bool asArray);
  // Runs `read` with the variable (null without one) and the kind, under
  // the lock that GetSnapshot holds: the main thread neither leaves nor
  // frees the variable meanwhile. For other threads than the main one, to
  // read what a snapshot does not hold; `read` reads the variable and takes
  // no lock but its leaf lock. Its result.
  template <class Read>
  decltype(auto) ReadVariable(Read&& read) const {
    const std::lock_guard lock(variableLock_);
    return std::forward<Read>(read)(variable_, varProp_);
  }

  // Writes through the locked link (not heard back); errors of the
  // variable pass on, the link unlocked.
  virtual void SetValue(const PsVariant& value);
  void SetAsDataType(const PsVariant& value, TPsVarDataType dataType, bool asArray, bool useLock);

  void Assign(const vcl::TPersistent* source) override;
  // -1 without a variable, 1 when only the other has none; two variables by
  // path (ignoring case), then kind; the same variable by kind, and when
  // equal "Variable" and "VarProp" are added to `differences`.
  int Compare(const TPsPersistent* other, vcl::TStringList* differences) const override;

 protected:
  virtual void Changed();
  virtual void Changing(PsVariant& value, TPsVarQuality& quality, TPsVarChangingResponse& response);
  void DoBadValue();
  // The slot's receivers.
  virtual void VarChange(TPsVar* sender, TPsVarPropTypes props);
  virtual void VarChanging(TPsVar* sender, TPsVarPropType prop, PsVariant& value,
                           TPsVarQuality& quality, TPsVarChangingResponse& response);
  virtual void VarConfigChange(TPsVar* sender);
  virtual void VarDestroy();
  virtual void SlotActivate(TPsSignal* /*signal*/) {}
  // Runs when the lock count goes from 0 to 1 and back.
  virtual void SetLocking(bool /*locking*/) {}

 private:
  // Holds the lock for a scope.
  class Locker {
   public:
    explicit Locker(TPsVarLink& link) : link_(link) { link_.Lock(); }
    ~Locker() { link_.UnLock(); }
    Locker(const Locker&) = delete;
    Locker& operator=(const Locker&) = delete;

   private:
    TPsVarLink& link_;
  };
  void SlotDisconnect(TPsSignal* signal);
  // Waits for a snapshot read of another thread to end.
  void BlankVariable();
  void RequireVariable() const;

  int lockCount_ = 0;
  std::unique_ptr<TPsVarChangeSlot> slot_;
  TPsVar* variable_ = nullptr;
  // Held by snapshot reads and ReadVariable, and by the main thread while
  // it changes variable_: never while the link connects, disconnects or
  // calls out, so the only lock taken under it is the variable's leaf lock.
  mutable std::mutex variableLock_;
  TPsVarPropType varProp_ = vpValue;
  // Set while SetVariable leaves the old variable: that is no destruction.
  bool retargeting_ = false;
};

}  // namespace toolkit
