// Unit PsVars, the variable link.
#include <optional>

#include "toolkit/PsVars.h"
#include "toolkit/psRTTI.h"
#include "vcl/SysUtils.h"

namespace toolkit {
namespace {

int Sign(int value) {
  return (value > 0) - (value < 0);
}

}  // namespace

TPsVarLink::TPsVarLink() : slot_(std::make_unique<TPsVarChangeSlot>()) {
  slot_->OnVarChange = [this](TPsVar* sender, TPsVarPropTypes props) { VarChange(sender, props); };
  slot_->OnVarChanging = [this](TPsVar* sender, TPsVarPropType prop, PsVariant& value,
                                TPsVarQuality& quality, TPsVarChangingResponse& response) {
    VarChanging(sender, prop, value, quality, response);
  };
  slot_->OnVarConfigChange = [this](TPsVar* sender) { VarConfigChange(sender); };
  slot_->OnDisconnect = [this](TPsSignal* signal) { SlotDisconnect(signal); };
  slot_->OnActivate = [this](TPsSignal* signal) { SlotActivate(signal); };
  slot_->OnDeactivate = [this](TPsSignal* signal) { SlotActivate(signal); };
  SetActive(true);
}

TPsVarLink::~TPsVarLink() {
  OnChange = nullptr;
  OnAfterChange = nullptr;
  OnVarDestroy = nullptr;
  // Leaving the variable is no news for anyone while the link goes.
  slot_->OnDisconnect = nullptr;
  slot_.reset();
}

const TPsClassMeta& TPsVarLink::ClassMeta() {
  static const TPsClassMeta meta =
      TPsClassMetaBuilder<TPsVarLink>("TPsVarLink", &TPsPersistent::ClassMeta())
          .Object("Variable", TPsVar::ClassMeta(), &TPsVarLink::Variable, &TPsVarLink::SetVariable)
          .Enumeration("VarProp", VarPropTypeInfo(), &TPsVarLink::VarProp, &TPsVarLink::SetVarProp)
          .Build();
  return meta;
}

void TPsVarLink::SetVariable(TPsVar* variable) {
  if (variable == variable_)
    return;
  TPsVar* old = variable_;
  BlankVariable();
  if (old && old->ChangeSignal()) {
    retargeting_ = true;
    slot_->Disconnect(old->ChangeSignal());
    retargeting_ = false;
  }
  if (variable && variable->ChangeSignal())
    slot_->Connect(variable->ChangeSignal());
  {
    const std::lock_guard lock(variableLock_);
    variable_ = variable;
  }
  ConfigChanged();
}

void TPsVarLink::SetVarProp(TPsVarPropType prop) {
  if (prop == varProp_)
    return;
  varProp_ = prop;
  ConfigChanged();
}

bool TPsVarLink::Active() const {
  return slot_->Active();
}

void TPsVarLink::SetActive(bool value) {
  slot_->SetActive(value);
  ConfigChanged();
}

void TPsVarLink::Lock() {
  if (lockCount_++ == 0)
    SetLocking(true);
}

void TPsVarLink::UnLock() {
  if (lockCount_ == 0)
    return;
  if (--lockCount_ == 0)
    SetLocking(false);
}

// ---- Reads ----------------------------------------------------------------------

bool TPsVarLink::HasValue() const {
  return variable_ && variable_->PropHasValue(varProp_);
}

TPsVarQuality TPsVarLink::GetQuality() const {
  return variable_ ? variable_->PropQuality(varProp_) : vpqBad;
}

vcl::TDateTime TPsVarLink::GetTimestamp() const {
  return variable_ ? variable_->GetPropTimeStamp(varProp_) : 0;
}

PsVariant TPsVarLink::GetValue() const {
  return variable_ ? variable_->GetPropValue(varProp_) : PsVariant::Null();
}

double TPsVarLink::GetAsFloat() const {
  return variable_ ? variable_->GetPropAsFloat(varProp_) : PsBadDouble;
}

TPsVarDataType TPsVarLink::GetDataType() const {
  return variable_ ? variable_->GetPropDataType(varProp_) : vdtDefault;
}

bool TPsVarLink::GetIsArray() const {
  return variable_ && variable_->PropIsArray(varProp_);
}

void TPsVarLink::RequireVariable() const {
  if (!variable_)
    throw EPsException("Variable not assigned.");
}

std::string TPsVarLink::GetAsStringGood() const {
  RequireVariable();
  return variable_->GetPropAsString(varProp_);
}

PsVariant TPsVarLink::GetAsDataType(TPsVarDataType dataType, bool asArray) const {
  RequireVariable();
  return asArray ? variable_->GetPropAsArray(varProp_, dataType)
                 : variable_->GetPropAsDataType(varProp_, dataType);
}

TPsVarSnapshot TPsVarLink::GetSnapshot(TPsVarDataType dataType, bool asArray) const {
  // Held to the end of the conversion: the variable is not left, nor
  // freed, before the read is over.
  const std::lock_guard lock(variableLock_);
  RequireVariable();
  return SnapshotAs(*variable_, varProp_, dataType, asArray);
}

TPsVarSnapshot TPsVarLink::SnapshotAs(const TPsVar& variable, TPsVarPropType prop,
                                      TPsVarDataType dataType, bool asArray) {
  TPsVarSnapshot snapshot = variable.GetPropSnapshot(prop);
  snapshot.Value =
      asArray ? variable.ConvertPropArray(prop, snapshot.Quality, snapshot.Value, dataType)
              : variable.ConvertPropValue(prop, snapshot.Quality, snapshot.Value, dataType);
  return snapshot;
}

// ---- Writes ---------------------------------------------------------------------

void TPsVarLink::SetValue(const PsVariant& value) {
  if (!variable_ || (!PassBadValues && !VarHasValue(value)))
    return;
  const Locker lock(*this);
  variable_->SetPropValue(varProp_, value);
}

void TPsVarLink::SetAsDataType(const PsVariant& value, TPsVarDataType dataType, bool asArray,
                               bool useLock) {
  if (!variable_)
    return;
  std::optional<Locker> lock;
  if (useLock)
    lock.emplace(*this);
  if (asArray)
    variable_->SetPropAsArray(varProp_, value, dataType);
  else
    variable_->SetPropAsDataType(varProp_, value, dataType);
}

// ---- Events ---------------------------------------------------------------------

void TPsVarLink::Changed() {
  if (OnChange)
    OnChange(GetOwnerOrSelf());
  if (OnAfterChange)
    OnAfterChange(GetOwnerOrSelf());
}

void TPsVarLink::Changing(PsVariant& value, TPsVarQuality& quality,
                          TPsVarChangingResponse& response) {
  if (OnChanging)
    OnChanging(GetOwnerOrSelf(), value, quality, response);
}

void TPsVarLink::DoBadValue() {
  if (OnBadValue)
    OnBadValue(GetOwnerOrSelf());
}

void TPsVarLink::VarChange(TPsVar* /*sender*/, TPsVarPropTypes props) {
  if (Locked() || !props.Contains(varProp_))
    return;
  const bool bad = GetQuality() == vpqBad;
  if (PassBadValues || !bad)
    Changed();
  if (bad)
    DoBadValue();
}

void TPsVarLink::VarChanging(TPsVar* /*sender*/, TPsVarPropType prop, PsVariant& value,
                             TPsVarQuality& quality, TPsVarChangingResponse& response) {
  if (Locked() || prop != varProp_)
    return;
  Changing(value, quality, response);
}

void TPsVarLink::VarConfigChange(TPsVar* /*sender*/) {
  ConfigChanged();
}

void TPsVarLink::SlotDisconnect(TPsSignal* /*signal*/) {
  if (retargeting_)
    return;
  BlankVariable();
  ConfigChanged();
  VarDestroy();
}

void TPsVarLink::BlankVariable() {
  const std::lock_guard lock(variableLock_);
  variable_ = nullptr;
}

void TPsVarLink::VarDestroy() {
  if (OnVarDestroy)
    OnVarDestroy(GetOwnerOrSelf());
}

// ---- Copies and comparison ----------------------------------------------------------

void TPsVarLink::Assign(const vcl::TPersistent* source) {
  if (const auto* other = dynamic_cast<const TPsVarLink*>(source)) {
    SetVarProp(other->VarProp());
    SetActive(other->Active());
    SetVariable(other->Variable());
    return;
  }
  TPsPersistent::Assign(source);
}

int TPsVarLink::Compare(const TPsPersistent* other, vcl::TStringList* differences) const {
  const auto* link = dynamic_cast<const TPsVarLink*>(other);
  if (!link)
    throw vcl::EAssertionFailed("TPsVarLink.Compare needs another TPsVarLink");
  if (!variable_)
    return -1;
  if (!link->variable_)
    return 1;
  const int byKind = Sign(static_cast<int>(varProp_) - static_cast<int>(link->varProp_));
  if (variable_ != link->variable_) {
    const int byPath =
        Sign(vcl::CompareText(ComponentPath(variable_), ComponentPath(link->variable_)));
    if (byPath != 0)
      return byPath;
    return byKind != 0 ? byKind : 1;
  }
  if (byKind == 0 && differences) {
    differences->Add("Variable");
    differences->Add("VarProp");
  }
  return byKind;
}

}  // namespace toolkit
