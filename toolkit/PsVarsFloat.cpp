// Unit PsVars: the float variables.
#include "toolkit/PsVarsFloat.h"

#include <algorithm>
#include <cmath>
#include <exception>

#include "toolkit/psRTTI.h"

namespace toolkit {
namespace {

constexpr TPsVarPropTypes kStatistics = {vpMean, vpStdDev, vpMin, vpMax};
constexpr TPsVarPropTypes kSpecs = {vpAlarmLow, vpAlarmHigh, vpWarnLow, vpWarnHigh, vpSetpoint};

bool IsStatistic(TPsVarPropType prop) {
  return kStatistics.Contains(prop);
}

}  // namespace

bool PsFloatInRange(double value, double min, double max, bool inclusive) {
  const bool aboveMin = !IsValidDouble(min) || (inclusive ? value >= min : value > min);
  const bool belowMax = !IsValidDouble(max) || (inclusive ? value <= max : value < max);
  return aboveMin && belowMax;
}

const TPsTypeInfo& VarStatsModeTypeInfo() {
  static const TPsTypeInfo type = EnumerationType("TPsVarStatsMode", {"smNone", "smSimple"});
  return type;
}

// ---- TPsCustomFloat ------------------------------------------------------------------

TPsCustomFloat::TPsCustomFloat(vcl::TComponent* owner, std::string className)
    : TPsVar(owner, std::move(className)) {}

const TPsClassMeta& TPsCustomFloat::ClassMeta() {
  static const TPsClassMeta meta =
      TPsClassMetaBuilder<TPsCustomFloat>("TPsCustomFloat", &TPsVar::ClassMeta()).Build();
  return meta;
}

double TPsCustomFloat::Value() const {
  return PropQuality(vpValue) == vpqBad ? PsBadDouble : value_;
}

void TPsCustomFloat::SetValue(double value) {
  const TPsVarQuality quality = IsValidDouble(value) ? vpqGood : vpqBad;
  double vetted = value;
  TPsVarQuality vettedQuality = quality;
  const bool accepted = CanChangeFloat(vpValue, vetted, vettedQuality);
  const vcl::TDateTime now = NowUTC();
  bool counted = false;
  {
    const auto lock = LockProps();
    if (accepted) {
      value_ = vetted;
      UpdateProp(vpValue, vettedQuality, now);
    }
    // What the vetting refused or altered is not counted; a value set again
    // unchanged is.
    counted = PropQuality(vpValue) == quality && (quality == vpqBad || value_ == value);
    if (counted)
      AddToStats(value);
  }
  if (accepted || counted)
    Changed();
}

void TPsCustomFloat::AddValue(double delta) {
  if (!IsValidDouble(delta))
    return;
  SetValue(Quality() != vpqBad ? value_ + delta : delta);
}

void TPsCustomFloat::Add(const TPsCustomFloat& other) {
  AddValue(other.Value());
}

void TPsCustomFloat::SetEngUnit(const std::string& value) {
  SetTextProp(vpEngUnit, engUnit_, value, vpqBad);
}

void TPsCustomFloat::SetFloatProp(TPsVarPropType prop, double& field, double value) {
  TPsVarQuality quality = IsValidDouble(value) ? vpqGood : vpqBad;
  if (CanChangeFloat(prop, value, quality))
    StoreProp(prop, quality, [&] { field = value; });
}

void TPsCustomFloat::SetAlarmHigh(double value) {
  SetFloatProp(vpAlarmHigh, alarmHigh_, value);
}

void TPsCustomFloat::SetAlarmLow(double value) {
  SetFloatProp(vpAlarmLow, alarmLow_, value);
}

void TPsCustomFloat::SetWarnHigh(double value) {
  SetFloatProp(vpWarnHigh, warnHigh_, value);
}

void TPsCustomFloat::SetWarnLow(double value) {
  SetFloatProp(vpWarnLow, warnLow_, value);
}

void TPsCustomFloat::SetSetpoint(double value) {
  SetFloatProp(vpSetpoint, setpoint_, value);
}

void TPsCustomFloat::ClearSpecs() {
  InternalInvalidateProps(kSpecs);
  Changed();
}

double TPsCustomFloat::GetDiff() const {
  return PropQuality(vpDiff) == vpqBad ? PsBadDouble : Value() - setpoint_;
}

void TPsCustomFloat::SetDiff(double value) {
  SetValue(PropQuality(vpSetpoint) != vpqBad ? setpoint_ + value : value);
}

// ---- Range ------------------------------------------------------------------------

double TPsCustomFloat::RangeMin() const {
  const auto lock = LockProps();
  return rangeMin_;
}

double TPsCustomFloat::RangeMax() const {
  const auto lock = LockProps();
  return rangeMax_;
}

void TPsCustomFloat::SetRangeMin(double value) {
  SetRangeBound(rangeMin_, value);
}

void TPsCustomFloat::SetRangeMax(double value) {
  SetRangeBound(rangeMax_, value);
}

void TPsCustomFloat::SetRangeBound(double& field, double value) {
  {
    const auto lock = LockProps();
    if (std::isnan(value) || value == field)
      return;
    field = value;
  }
  RangeChanged();
}

void TPsCustomFloat::ClearRange() {
  {
    const auto lock = LockProps();
    rangeMin_ = PsBadDouble;
    rangeMax_ = PsBadDouble;
  }
  RangeChanged();
}

bool TPsCustomFloat::IsValueInRange(bool inclusive) const {
  return PsFloatInRange(Value(), RangeMin(), RangeMax(), inclusive);
}

bool TPsCustomFloat::InRange(TPsVarPropType prop, const PsVariant& value) const {
  switch (prop) {
    case vpValue:
    case vpAlarmLow:
    case vpAlarmHigh:
    case vpWarnLow:
    case vpWarnHigh:
    case vpSetpoint:
      return PsFloatInRange(value.AsDouble(), RangeMin(), RangeMax(), true);
    default:
      return TPsVar::InRange(prop, value);
  }
}

std::string TPsCustomFloat::GetRangeErrorText(TPsVarPropType prop, const PsVariant& value) const {
  return vcl::Format("Value %s out of range Variable=%s, VarProp=%s, Valid range = [%g,%g]",
                     VariantToText(value, false), ComponentPath(this), PsVarPropTypeName(prop),
                     RangeMin(), RangeMax());
}

// ---- Alarm state ------------------------------------------------------------------

double TPsCustomFloat::Limit(TPsVarPropType prop, double field) const {
  return PropQuality(prop) == vpqBad ? PsBadDouble : field;
}

TPsVarAlarmState TPsCustomFloat::DoGetAlarmStateForValue(const PsVariant& value) const {
  const double number = GetVarPropValueAsFloat(vpValue, value);
  if (!IsValidDouble(number))
    return asNormal;
  // A value on a limit is outside. Two valid limits with nothing between
  // them never trigger; one undefined limit leaves the other on its own.
  const auto outside = [number](double low, double high) {
    if (IsValidDouble(low) && IsValidDouble(high) && low >= high)
      return false;
    return !PsFloatInRange(number, low, high, false);
  };
  if (AlarmMode() != amOff && outside(Limit(vpAlarmLow, alarmLow_), Limit(vpAlarmHigh, alarmHigh_)))
    return asAlarm;
  if (AlarmMode() == amAlarmsAndWarnings &&
      outside(Limit(vpWarnLow, warnLow_), Limit(vpWarnHigh, warnHigh_)))
    return asWarning;
  return asNormal;
}

// ---- Statistics -------------------------------------------------------------------

void TPsCustomFloat::SetStatsMode(TPsVarStatsMode value) {
  {
    const auto lock = LockProps();
    if (value == statsMode_)
      return;
    statsMode_ = value;
    StampStats(vpqBad, 0);
  }
  Changed();
}

void TPsCustomFloat::StampStats(TPsVarQuality quality, vcl::TDateTime timestamp) {
  kStatistics.ForEach([&](TPsVarPropType prop) { UpdateProp(prop, quality, timestamp); });
}

void TPsCustomFloat::ClearStats(bool addPresent) {
  {
    const auto lock = LockProps();
    count_ = 0;
    mean_ = 0;
    squaredDeviations_ = 0;
    StampStats(vpqBad, 0);
    if (addPresent && Quality() == vpqGood)
      AddToStats(value_);
  }
  Changed();
}

void TPsCustomFloat::CheckStats(const char* quantity) const {
  if (statsMode_ == smNone) {
    throw EPsStatsError(
        vcl::Format("%s not available: StatsMode not set for variable \"%s\"", quantity, Name()));
  }
}

double TPsCustomFloat::GetMean() const {
  CheckStats("Mean");
  return count_ >= 1 && std::isfinite(mean_) ? mean_ : PsBadDouble;
}

double TPsCustomFloat::GetStdDev() const {
  CheckStats("StdDev");
  if (count_ < 2)
    return PsBadDouble;
  // Rounding may leave the sum a hair below 0.
  const double variance = squaredDeviations_ / (count_ - 1);
  if (!std::isfinite(variance))
    return PsBadDouble;
  return variance > 0 ? std::sqrt(variance) : 0.0;
}

void TPsCustomFloat::StampMeanAndStdDev(vcl::TDateTime stamp) {
  // Samples near the double's limits can leave the sums beyond it: such a
  // mean or deviation is no value.
  UpdateProp(vpMean, std::isfinite(mean_) ? vpqGood : vpqBad, stamp);
  if (count_ > 1)
    UpdateProp(vpStdDev, std::isfinite(squaredDeviations_) ? vpqGood : vpqBad, stamp);
}

double TPsCustomFloat::GetMin() const {
  CheckStats("Min");
  return min_;
}

double TPsCustomFloat::GetMax() const {
  CheckStats("Max");
  return max_;
}

void TPsCustomFloat::AddToStats(double sample) {
  if (statsMode_ != smSimple)
    return;
  const vcl::TDateTime stamp = GetPropTimeStamp(vpValue);
  const auto lock = LockProps();
  if (!IsValidDouble(sample)) {
    // Statistics that have a value keep it.
    if (!PropHasValue(vpMean))
      StampStats(vpqBad, stamp);
    return;
  }
  if (count_ == INT32_MAX)
    throw vcl::EIntOverflow("Integer overflow");
  ++count_;
  const double delta = sample - mean_;
  mean_ += delta / count_;
  squaredDeviations_ += delta * (sample - mean_);
  StampMeanAndStdDev(stamp);
  if (PropQuality(vpMin) == vpqBad || sample < min_) {
    min_ = sample;
    UpdateProp(vpMin, vpqGood, stamp);
  }
  if (PropQuality(vpMax) == vpqBad || sample > max_) {
    max_ = sample;
    UpdateProp(vpMax, vpqGood, stamp);
  }
}

void TPsCustomFloat::RemoveFromStats(double sample) {
  if (!IsValidDouble(sample) || count_ < 1)
    return;
  const vcl::TDateTime stamp = GetPropTimeStamp(vpValue);
  {
    const auto lock = LockProps();
    if (count_ == 1) {
      count_ = 0;
      mean_ = 0;
      squaredDeviations_ = 0;
      StampStats(vpqBad, stamp);
    } else {
      // Welford's step backwards.
      const double remainingMean = (count_ * mean_ - sample) / (count_ - 1);
      const double remaining = squaredDeviations_ - (sample - remainingMean) * (sample - mean_);
      // Rounding may leave it a hair below 0; a sum beyond the range stays.
      squaredDeviations_ = std::isfinite(remaining) ? std::max(0.0, remaining) : remaining;
      mean_ = remainingMean;
      --count_;
      if (count_ == 1) {
        squaredDeviations_ = 0;
        StampMeanAndStdDev(stamp);  // the mean alone, of one sample
        UpdateProp(vpStdDev, vpqBad, stamp);
        min_ = max_ = mean_;
        UpdateProp(vpMin, PropQuality(vpMean), stamp);
        UpdateProp(vpMax, PropQuality(vpMean), stamp);
      } else {
        StampMeanAndStdDev(stamp);
        // The extreme that went is no longer sure to be one.
        if (sample == min_)
          UpdateProp(vpMin, vpqUncertain, stamp);
        if (sample == max_)
          UpdateProp(vpMax, vpqUncertain, stamp);
      }
    }
  }
  Changed();
}

// ---- Properties -------------------------------------------------------------------

bool TPsCustomFloat::IsPropSupported(TPsVarPropType prop) const {
  return prop == vpEngUnit || kSpecs.Contains(prop) || IsStatistic(prop) ||
         TPsVar::IsPropSupported(prop);
}

TPsVarDataType TPsCustomFloat::GetPropDataType(TPsVarPropType prop) const {
  if (prop == vpValue || (prop >= vpAlarmLow && prop <= vpMax))
    return vdtDouble;
  return TPsVar::GetPropDataType(prop);
}

PsVariant TPsCustomFloat::GetPropValueGood(TPsVarPropType prop) const {
  try {
    switch (prop) {
      case vpValue:
        return Value();
      case vpEngUnit:
        return engUnit_;
      case vpAlarmLow:
        return alarmLow_;
      case vpAlarmHigh:
        return alarmHigh_;
      case vpWarnLow:
        return warnLow_;
      case vpWarnHigh:
        return warnHigh_;
      case vpSetpoint:
        return setpoint_;
      case vpDiff:
        return GetDiff();
      case vpMean:
        return GetMean();
      case vpStdDev:
        return GetStdDev();
      case vpMin:
        return GetMin();
      case vpMax:
        return GetMax();
      default:
        return TPsVar::GetPropValueGood(prop);
    }
  } catch (const std::exception&) {
    return PsBadDouble;
  }
}

void TPsCustomFloat::SetPropValueGood(TPsVarPropType prop, const PsVariant& value) {
  switch (prop) {
    case vpValue:
      SetValue(value.AsDouble());
      return;
    case vpEngUnit:
      SetEngUnit(value.AsText());
      return;
    case vpAlarmLow:
      SetAlarmLow(value.AsDouble());
      return;
    case vpAlarmHigh:
      SetAlarmHigh(value.AsDouble());
      return;
    case vpWarnLow:
      SetWarnLow(value.AsDouble());
      return;
    case vpWarnHigh:
      SetWarnHigh(value.AsDouble());
      return;
    case vpSetpoint:
      SetSetpoint(value.AsDouble());
      return;
    case vpDiff:
      SetDiff(value.AsDouble());
      return;
    case vpMean:
    case vpStdDev:
    case vpMin:
    case vpMax:
      throw EPsReadOnly("Statistics cannot be changed with PropValue");
    default:
      TPsVar::SetPropValueGood(prop, value);
  }
}

void TPsCustomFloat::SetPropAsStringGood(TPsVarPropType prop, const std::string& value) {
  if (prop == vpValue && !value.empty())
    SetValue(vcl::StrToFloat(value));
  else
    TPsVar::SetPropAsStringGood(prop, value);
}

// ---- The difference from the setpoint -------------------------------------------------

void TPsCustomFloat::UpdateProp(TPsVarPropType prop, TPsVarQuality quality,
                                vcl::TDateTime timestamp) {
  TPsVar::UpdateProp(prop, quality, timestamp);
  // The difference is followed only once it has been written itself.
  if ((prop != vpValue && prop != vpSetpoint) || !PropHasValue(vpDiff))
    return;
  if (PropHasValue(vpValue)) {
    TPsVar::UpdateProp(vpDiff, std::min(PropQuality(vpValue), PropQuality(vpSetpoint)),
                       GetPropTimeStamp(prop));
  } else {
    InternalInvalidateProp(vpDiff);
  }
}

void TPsCustomFloat::InternalInvalidateProp(TPsVarPropType prop) {
  TPsVar::InternalInvalidateProp(prop);
  if ((prop == vpValue || prop == vpSetpoint) && PropHasValue(vpDiff))
    TPsVar::InternalInvalidateProp(vpDiff);
}

void TPsCustomFloat::KeepFields(TPsVarFieldKeeper& keeper) {
  TPsVar::KeepFields(keeper);
  keeper.Keep(alarmHigh_);
  keeper.Keep(alarmLow_);
  keeper.Keep(engUnit_);
  keeper.Keep(setpoint_);
  keeper.Keep(warnHigh_);
  keeper.Keep(warnLow_);
  keeper.Keep(max_);
  keeper.Keep(min_);
  keeper.Keep(mean_);
  keeper.Keep(squaredDeviations_);
  keeper.Keep(count_);
  keeper.Keep(value_);
}

// ---- TPsFloat -----------------------------------------------------------------------

TPsFloat::TPsFloat(vcl::TComponent* owner) : TPsCustomFloat(owner, "TPsFloat") {}

const TPsClassMeta& TPsFloat::ClassMeta() {
  static const TPsClassMeta meta =
      TPsClassMetaBuilder<TPsFloat>("TPsFloat", &TPsCustomFloat::ClassMeta())
          .Float("AlarmHigh", &TPsCustomFloat::AlarmHigh, &TPsCustomFloat::SetAlarmHigh)
          .Float("AlarmLow", &TPsCustomFloat::AlarmLow, &TPsCustomFloat::SetAlarmLow)
          .String("DisplayFormat", &TPsVar::DisplayFormat, &TPsVar::SetDisplayFormat)
          .String("EngUnit", &TPsCustomFloat::EngUnit, &TPsCustomFloat::SetEngUnit)
          .Float("RangeMax", &TPsCustomFloat::RangeMax, &TPsCustomFloat::SetRangeMax)
          .Float("RangeMin", &TPsCustomFloat::RangeMin, &TPsCustomFloat::SetRangeMin)
          .Enumeration("RangeMode", VarRangeModeTypeInfo(), &TPsVar::RangeMode,
                       &TPsVar::SetRangeMode)
          .Float("Setpoint", &TPsCustomFloat::Setpoint, &TPsCustomFloat::SetSetpoint)
          .Enumeration("StatsMode", VarStatsModeTypeInfo(), &TPsCustomFloat::StatsMode,
                       &TPsCustomFloat::SetStatsMode)
          .Float("WarnHigh", &TPsCustomFloat::WarnHigh, &TPsCustomFloat::SetWarnHigh)
          .Float("WarnLow", &TPsCustomFloat::WarnLow, &TPsCustomFloat::SetWarnLow)
          .Event("OnGetAlarmState")
          .Event("OnRangeChange")
          .Event("OnRangeError")
          .Build();
  return meta;
}

}  // namespace toolkit
