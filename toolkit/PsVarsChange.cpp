// Unit PsVars, how a change of a variable passes: vetting, applying with a
// quality and a timestamp, announcing; the update brackets; the setters of
// the texts and of the configuration.
#include <exception>
#include <optional>

#include "toolkit/Debugs.h"
#include "toolkit/PsVars.h"
#include "toolkit/psRTTI.h"

namespace toolkit {
namespace {

// Runs a step of an error path: its own error goes to DebugException, so
// that the error under way passes on.
template <class Step>
void Quietly(Step&& step) {
  try {
    step();
  } catch (const std::exception& error) {
    DebugException(error);
  } catch (...) {
  }
}

// Changes of these kinds run the statistics hook.
constexpr TPsVarPropTypes kStatisticsKinds = {vpValue, vpMean, vpStdDev, vpMin, vpMax};
constexpr TPsVarPropTypes kLimits = {vpAlarmLow, vpAlarmHigh, vpWarnLow, vpWarnHigh};
// The alarm state takes the newest timestamp of these.
constexpr TPsVarPropTypes kAlarmInputs = {vpValue, vpAlarmLow, vpAlarmHigh, vpWarnLow, vpWarnHigh};
// Read-only in every kind: a copy leaves them to the target.
constexpr TPsVarPropTypes kAlwaysReadOnly = {vpAlarmState, vpMean,  vpStdDev, vpMin,
                                             vpMax,        vpOther, vpOther2};
// Handlers that keep changing what is being announced give up after this.
constexpr int kMaxAnnouncingRounds = 16;

std::string ExceptionClassName(const std::exception& error) {
  if (const auto* known = dynamic_cast<const vcl::Exception*>(&error))
    return known->ClassName();
  return "Exception";
}

}  // namespace

// ---- Vetting --------------------------------------------------------------------

bool TPsVar::IsSamePropValue(TPsVarPropType prop, const PsVariant& value, TPsVarQuality quality,
                             const std::vector<int32_t>* indices) const {
  if (!PropHasValue(prop) || quality_[prop] != quality)
    return false;
  if (quality == vpqBad)
    return true;
  const PsVariant current = GetPropValueGood(prop);
  if (indices && current.IsArray() && current.DimCount() == 1) {
    PsVariant candidate = current;
    for (size_t i = 0; i < indices->size(); ++i) {
      candidate.PutElement({(*indices)[i]},
                           value.IsArray() ? value.ElementAt(static_cast<int64_t>(i)) : value);
    }
    return VariantsEqual(current, candidate, false);
  }
  return VariantsEqual(current, value, false);
}

TPsVar::Vetting TPsVar::Vet(TPsVarPropType prop, PsVariant& value, TPsVarQuality& quality,
                            const std::vector<int32_t>* indices) {
  if (IsSamePropValue(prop, value, quality, indices))
    return Vetting::Unchanged;
  // Inside SetPropValueAt the change has been vetted already.
  if (propUpdateCount_[prop] == 0) {
    if (IsPropReadOnly(prop))
      throw EPsReadOnly(vcl::Format("%s is read-only", caption_));
    if (DoChanging(prop, value, quality) != crAccept)
      return Vetting::Refused;
  }
  CheckRange(prop, value, quality);
  return Vetting::Allowed;
}

bool TPsVar::CanChange(TPsVarPropType prop, PsVariant& value, TPsVarQuality& quality,
                       const std::vector<int32_t>* indices) {
  return Vet(prop, value, quality, indices) == Vetting::Allowed;
}

namespace {

// CanChange of a typed value: the value as a variant, and back as the
// handlers left it; an emptied one makes the quality bad.
template <class T, class Read>
bool CanChangeTyped(TPsVar& variable, TPsVarPropType prop, T& value, TPsVarQuality& quality,
                    Read read) {
  PsVariant candidate(value);
  const bool allowed = variable.CanChange(prop, candidate, quality);
  if (VarHasValue(candidate))
    value = read(candidate);
  else
    quality = vpqBad;
  return allowed;
}

}  // namespace

bool TPsVar::CanChangeFloat(TPsVarPropType prop, double& value, TPsVarQuality& quality) {
  return CanChangeTyped(*this, prop, value, quality,
                        [](const PsVariant& v) { return v.AsDouble(); });
}

bool TPsVar::CanChangeInteger(TPsVarPropType prop, int32_t& value, TPsVarQuality& quality) {
  return CanChangeTyped(*this, prop, value, quality,
                        [](const PsVariant& v) { return v.AsInt32(); });
}

bool TPsVar::CanChangeString(TPsVarPropType prop, std::string& value, TPsVarQuality& quality) {
  return CanChangeTyped(*this, prop, value, quality, [](const PsVariant& v) { return v.AsText(); });
}

TPsVarChangingResponse TPsVar::DoChanging(TPsVarPropType prop, PsVariant& value,
                                          TPsVarQuality& quality) {
  TPsVarChangingResponse response = crAccept;
  if (!Active())
    return response;
  try {
    if (OnChanging)
      OnChanging(this, prop, value, quality, response);
    if (response == crAccept)
      signal_->EmitChanging(prop, value, response, quality);
    if (response == crReject)
      throw EPsVarChangeReject(RejectMessage(prop, value, quality, ""));
  } catch (const EPsVarChangeReject&) {
    throw;
  } catch (const std::exception& error) {
    throw EPsVarChangeReject(RejectMessage(prop, value, quality,
                                           "; " + ExceptionClassName(error) + ": " + error.what()));
  }
  return response;
}

std::string TPsVar::RejectMessage(TPsVarPropType prop, const PsVariant& value,
                                  TPsVarQuality quality, const std::string& cause) const {
  return vcl::Format("VarProp change rejected: %s[%s] Value:%s  Quality:%s%s", Name(),
                     PsVarPropTypeName(prop), VariantToText(value, false),
                     PsVarQualityName(quality), cause) +
         DebugInfoText();
}

void TPsVar::CheckRange(TPsVarPropType prop, const PsVariant& value, TPsVarQuality& quality) {
  if (rangeMode_ != rmNone && quality != vpqBad && !InRange(prop, value))
    RangeError(prop, value, quality);
}

bool TPsVar::InRange(TPsVarPropType /*prop*/, const PsVariant& /*value*/) const {
  return true;
}

void TPsVar::RangeError(TPsVarPropType prop, const PsVariant& value, TPsVarQuality& quality) {
  switch (rangeMode_) {
    case rmException: {
      std::string text = GetRangeErrorText(prop, value);
      bool raiseError = true;
      if (OnRangeError)
        OnRangeError(this, prop, value, text, raiseError);
      if (raiseError)
        throw EPsRangeError(text);
      break;
    }
    case rmUndefine:
      quality = vpqBad;
      break;
    default:
      break;
  }
}

std::string TPsVar::GetRangeErrorText(TPsVarPropType prop, const PsVariant& value) const {
  return vcl::Format("Value %s out of range Variable=%s, VarProp=%s", VariantToText(value, false),
                     ComponentPath(this), PsVarPropTypeName(prop));
}

// ---- Applying -------------------------------------------------------------------

void TPsVar::UpdateProp(TPsVarPropType prop, TPsVarQuality quality, vcl::TDateTime timestamp) {
  vcl::TDateTime stamp = timestamp;
  if (!(timestamp >= 0))  // negative or NaN: never set
    stamp = 0;
  else if (timestamp == 0)
    stamp = NowUTC();
  {
    const auto lock = LockProps();
    quality_[prop] = quality;
    timestamp_[prop] = stamp;
  }
  changedProps_.Include(prop);
}

void TPsVar::SetPropValueAt(TPsVarPropType prop, const PsVariant& value, TPsVarQuality quality,
                            vcl::TDateTime timestamp, bool doChangingEvents,
                            TPsVarDataType dataType, bool asArray) {
  const DebugScope scope("TPsVar.SetPropValueAt", this);
  if (!(timestamp > 0)) {
    if (ActiveDebugWriter()) {
      DebugWrite("IGNORED Variable %s change to value %s with Timestamp=%s", Name(),
                 VariantToText(value, false), VariantToText(PsVariant::Date(timestamp), false));
    }
    return;
  }
  const TPsVarQuality emptyQuality = PropEmptyTextQuality(prop);
  PsVariant candidate = value;
  if (quality != vpqBad && IsValidValue(candidate, emptyQuality) == vpqBad)
    quality = vpqBad;
  const TPsVarChangingResponse response = DoChanging(prop, candidate, quality);
  if (doChangingEvents && response != crAccept)
    return;
  // The handlers may have left an invalid value.
  if (quality != vpqBad && IsValidValue(candidate, emptyQuality) == vpqBad)
    quality = vpqBad;
  // A new timestamp alone is no change.
  if (PropHasValue(prop) && quality_[prop] == quality &&
      (quality == vpqBad || VariantsEqual(GetPropValueGood(prop), candidate, false)))
    return;

  // The last vetting comes after the store: what it rejects goes back.
  std::optional<TPsVarFieldKeeper> kept;
  if (MayVet()) {
    kept.emplace(propLock_);
    KeepFields(*kept);
  }
  BeginUpdateProp(prop);
  if (quality_[prop] != quality || !PropHasValue(prop))
    UpdateProp(prop, quality, timestamp);
  if (quality != vpqBad) {
    // The kind's setter stores it, stamped now; EndUpdateProp gives the
    // caller's timestamp. A value it cannot store makes the property bad.
    try {
      if (asArray)
        SetPropAsArray(prop, candidate, dataType);
      else if (dataType == vdtDefault && GetPropIsArray(prop) && candidate.IsArray())
        SetPropAsArray(prop, candidate, dataType);
      else
        SetPropAsDataType(prop, candidate, dataType);
    } catch (const std::exception& error) {
      quality = vpqBad;
      DebugException(error);
    } catch (...) {
      quality = vpqBad;
    }
  }
  EndUpdateProp(prop, quality, timestamp, kept ? &*kept : nullptr);
}

bool TPsVar::MayVet() const {
  return Active() && (OnChanging || signal_->SlotCount() > 0);
}

void TPsVar::KeepFields(TPsVarFieldKeeper& keeper) {
  keeper.Keep(alarmHelp_);
  keeper.Keep(alarmState_);
  keeper.Keep(alarmText_);
  keeper.Keep(caption_);
  keeper.Keep(description_);
  keeper.Keep(quality_);
  keeper.Keep(timestamp_);
  keeper.Keep(changedProps_);
}

void TPsVarFieldKeeper::Restore() {
  {
    const std::lock_guard lock(leafLock_);
    for (auto field = fields_.rbegin(); field != fields_.rend(); ++field)
      (*field)();
  }
  for (auto undo = afterwards_.rbegin(); undo != afterwards_.rend(); ++undo)
    (*undo)();
  fields_.clear();
  afterwards_.clear();
}

void TPsVar::Undefine(TPsVarPropType prop, vcl::TDateTime timestamp) {
  if (timestamp == 0)
    timestamp = NowUTC();
  SetPropValueAt(prop, PsVariant::Null(), vpqBad, timestamp, true, vdtDefault, false);
}

void TPsVar::SetPropQuality(TPsVarPropType prop, TPsVarQuality quality) {
  PsVariant candidate = quality == vpqBad ? PsVariant() : GetPropValue(prop);
  const PsVariant current = candidate;
  const Vetting vetting = Vet(prop, candidate, quality, nullptr);
  // A handler that asked for the change to wait gets no re-stamp either.
  if (vetting == Vetting::Refused)
    return;
  if (vetting == Vetting::Allowed && VarHasValue(candidate) &&
      !VariantsEqual(candidate, current, true)) {
    SetPropValue(prop, candidate);
    return;
  }
  UpdateProp(prop, quality, 0);
  Changed();
}

void TPsVar::SetTextProp(TPsVarPropType prop, std::string& field, std::string value,
                         TPsVarQuality emptyQuality) {
  TPsVarQuality quality = StringQuality(value, emptyQuality);
  if (CanChangeString(prop, value, quality))
    StoreProp(prop, quality, [&] { field = std::move(value); });
}

void TPsVar::SetCaption(const std::string& value) {
  SetTextProp(vpCaption, caption_, value, vpqBad);
}

void TPsVar::SetDescription(const std::string& value) {
  SetTextProp(vpDescription, description_, value, vpqGood);
}

void TPsVar::SetAlarmText(const std::string& value) {
  SetTextProp(vpAlarmText, alarmText_, value, vpqBad);
}

void TPsVar::SetAlarmHelp(const std::string& value) {
  SetTextProp(vpAlarmHelp, alarmHelp_, value, vpqBad);
}

// ---- Update brackets -------------------------------------------------------------

void TPsVar::BeginUpdate() {
  ++updateCount_;
}

void TPsVar::EndUpdate() {
  if (updateCount_ <= 0) {
    updateCount_ = 0;
    throw EPsException(ClassName() + ".EndUpdate: no matching BeginUpdate!");
  }
  if (--updateCount_ == 0)
    Changed();
}

void TPsVar::BeginUpdateProp(TPsVarPropType prop) {
  BeginUpdate();
  ++propUpdateCount_[prop];
}

void TPsVar::EndUpdateProp(TPsVarPropType prop, TPsVarQuality quality, vcl::TDateTime timestamp,
                           TPsVarFieldKeeper* kept) {
  if (propUpdateCount_[prop] > 0)
    --propUpdateCount_[prop];
  try {
    if (propUpdateCount_[prop] == 0 && changedProps_.Contains(prop)) {
      PsVariant current = GetPropValue(prop);
      DoChanging(prop, current, quality);
      UpdateProp(prop, quality, timestamp);
    }
  } catch (...) {
    // Nothing of a rejected change stays, nor is announced.
    if (kept)
      Quietly([kept] { kept->Restore(); });
    Quietly([this] { EndUpdate(); });
    throw;
  }
  EndUpdate();
}

// ---- Announcing -----------------------------------------------------------------

void TPsVar::Changed() {
  if (updateCount_ > 0 || changedProps_.Empty() || Loading() || Destroying())
    return;
  const DebugScope scope("TPsVar.Changed", this);
  // Changes made by handlers are collected for the next round meanwhile.
  updateCount_ = 1;
  struct Closer {
    TPsVar& variable;
    ~Closer() {
      variable.updateCount_ = 0;
      variable.changedProps_ = {};
    }
  } closer{*this};
  for (int round = 1;; ++round) {
    if (ActiveDebugWriter())
      DebugDump(Name());
    if (changedProps_.Intersects(kStatisticsKinds))
      Update();
    UpdateAlarmState();
    const TPsVarPropTypes props = changedProps_;
    changedProps_ = {};
    DoChange(props);
    if (changedProps_.Empty())
      return;
    if (round == kMaxAnnouncingRounds) {
      throw EPsVarException(vcl::Format("%s: changes made while announcing do not settle", Name()));
    }
  }
}

void TPsVar::DoChange(TPsVarPropTypes props) {
  if (!Active())
    return;
  signal_->EmitChange(props);
  if (OnChange)
    OnChange(this, props);
  if (props.Contains(vpValue) && OnValueChange)
    OnValueChange(this);
}

void TPsVar::ConfigChanged() {
  if (signal_)
    signal_->EmitConfigChange();
}

void TPsVar::RangeChanged() {
  if (!Loading())
    DoRangeChange();
}

void TPsVar::DoRangeChange() {
  if (!Active())
    return;
  signal_->EmitRangeChange();
  if (OnRangeChange)
    OnRangeChange(this);
}

void TPsVar::UpdateAlarmState() {
  TPsVarQuality quality = alarmMode_ != amOff ? quality_[vpValue] : vpqBad;
  TPsVarAlarmState state = alarmState_;
  if (quality != vpqBad) {
    try {
      state = GetAlarmStateForValue(GetPropValue(vpValue));
    } catch (const std::exception& error) {
      DebugException(error);
      quality = vpqBad;
      state = asUnknown;
    }
  }
  if (quality_[vpAlarmState] == quality && state == alarmState_)
    return;
  const vcl::TDateTime stamp = timestamp_[NewestProp(kAlarmInputs)];
  const auto lock = LockProps();
  alarmState_ = state;
  UpdateProp(vpAlarmState, quality, stamp);
}

TPsVarAlarmState TPsVar::GetAlarmStateForValue(const PsVariant& value) {
  TPsVarAlarmState state = asNormal;
  if (IsValidValue(value, emptyTextQuality_) == vpqBad)
    state = asUnknown;
  else if (alarmMode_ != amOff)
    state = DoGetAlarmStateForValue(value);
  if (OnGetAlarmState)
    OnGetAlarmState(this, state);
  return state;
}

TPsVarAlarmState TPsVar::DoGetAlarmStateForValue(const PsVariant& /*value*/) const {
  return asNormal;
}

TPsVarPropType TPsVar::NewestProp(TPsVarPropTypes props) const {
  if (props.Empty())
    throw EPsException("NewestProp cannot be defined when Props is empty");
  bool found = false;
  TPsVarPropType newest = vpValue;
  props.ForEach([&](TPsVarPropType prop) {
    if (!found || timestamp_[prop] > timestamp_[newest]) {
      newest = prop;
      found = true;
    }
  });
  return newest;
}

// ---- Validity of the whole variable ------------------------------------------------

void TPsVar::InternalInvalidateProp(TPsVarPropType prop) {
  UpdateProp(prop, vpqBad, -1.0);
  if (prop == vpValue && PropHasValue(vpAlarmState))
    UpdateProp(vpAlarmState, vpqBad, -1.0);
}

void TPsVar::InternalInvalidateProps(TPsVarPropTypes props) {
  props.ForEach([this](TPsVarPropType prop) { UpdateProp(prop, vpqBad, 0); });
}

void TPsVar::ResetValidity() {
  const TPsVarPropTypes changed = changedProps_;
  for (int prop = 0; prop < PsVarPropTypeCount; ++prop) {
    if (quality_[prop] == vpqBad)
      InternalInvalidateProp(static_cast<TPsVarPropType>(prop));
  }
  changedProps_ = changed;
}

void TPsVar::Clear() {
  InternalInvalidateProps(TPsVarPropTypes::All());
  Changed();
}

void TPsVar::CopyProps(TPsVarPropTypes props, const TPsVar* source) {
  WithUpdate([&] {
    (props - kAlwaysReadOnly).ForEach([&](TPsVarPropType prop) {
      if (IsPropSupported(prop))
        SetPropValue(prop, source->GetPropValue(prop));
    });
  });
}

// ---- Configuration ----------------------------------------------------------------

bool TPsVar::Active() const {
  return signal_ && signal_->Active();
}

void TPsVar::SetActive(bool value) {
  if (!signal_ || value == signal_->Active())
    return;
  signal_->SetActive(value);
  ConfigChanged();
}

void TPsVar::SetAlarmMode(TPsVarAlarmMode value) {
  if (value == alarmMode_)
    return;
  alarmMode_ = value;
  changedProps_ = changedProps_ + kLimits;
  ConfigChanged();
  Changed();
}

void TPsVar::SetDisplayFormat(const std::string& value) {
  if (value == displayFormat_)
    return;
  displayFormat_ = value;
  ConfigChanged();
}

void TPsVar::SetReadOnly(bool value) {
  if (readOnly_.exchange(value) == value)
    return;
  ConfigChanged();
}

void TPsVar::SetRangeMode(TPsVarRangeMode value) {
  if (value == rangeMode_)
    return;
  rangeMode_ = value;
  RangeChanged();
}

}  // namespace toolkit
