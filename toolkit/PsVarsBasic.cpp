// Unit PsVars: the Boolean, string and integer variables.
#include "toolkit/PsVarsBasic.h"

#include <algorithm>

#include "toolkit/psRTTI.h"

namespace toolkit {
namespace {

// Without leading and trailing blanks and control characters.
std::string TrimControls(std::string_view text) {
  const auto kept = [](char c) { return static_cast<unsigned char>(c) > ' '; };
  const auto first = std::find_if(text.begin(), text.end(), kept);
  const auto last = std::find_if(text.rbegin(), text.rend(), kept).base();
  return first < last ? std::string(first, last) : std::string();
}

}  // namespace

// ---- TPsBool ------------------------------------------------------------------

TPsBool::TPsBool(vcl::TComponent* owner) : TPsVar(owner, "TPsBool") {}

const TPsClassMeta& TPsBool::ClassMeta() {
  static const TPsClassMeta meta =
      TPsClassMetaBuilder<TPsBool>("TPsBool", &TPsVar::ClassMeta())
          .Enumeration("AlarmStateFalse", VarAlarmStateTypeInfo(), &TPsBool::AlarmStateFalse,
                       &TPsBool::SetAlarmStateFalse)
          .Enumeration("AlarmStateTrue", VarAlarmStateTypeInfo(), &TPsBool::AlarmStateTrue,
                       &TPsBool::SetAlarmStateTrue)
          .Event("OnFallingEdge")
          .Event("OnGetAlarmState")
          .Event("OnRisingEdge")
          .String("StringValueFalse", &TPsBool::StringValueFalse, &TPsBool::SetStringValueFalse)
          .String("StringValueTrue", &TPsBool::StringValueTrue, &TPsBool::SetStringValueTrue)
          .Build();
  return meta;
}

void TPsBool::SetValue(bool value) {
  PsVariant candidate(value);
  TPsVarQuality quality = vpqGood;
  if (!CanChange(vpValue, candidate, quality))
    return;
  if (VarHasValue(candidate))
    value = candidate.AsBool();
  else
    quality = vpqBad;
  StoreProp(vpValue, quality, [&] { value_ = value; });
}

void TPsBool::SetAlarmStateFalse(TPsVarAlarmState state) {
  SetLimitState(alarmStateFalse_, state, vpAlarmLow, vpWarnLow);
}

void TPsBool::SetAlarmStateTrue(TPsVarAlarmState state) {
  SetLimitState(alarmStateTrue_, state, vpAlarmHigh, vpWarnHigh);
}

void TPsBool::SetLimitState(TPsVarAlarmState& field, TPsVarAlarmState state, TPsVarPropType alarm,
                            TPsVarPropType warning) {
  if (state == field)
    return;
  field = state;
  const vcl::TDateTime now = NowUTC();
  UpdateProp(alarm, vpqGood, now);
  UpdateProp(warning, vpqGood, now);
  Changed();
}

// The texts are read by conversions on other threads too: under the lock.
std::string TPsBool::StringValueFalse() const {
  const auto lock = LockProps();
  return stringValueFalse_;
}

std::string TPsBool::StringValueTrue() const {
  const auto lock = LockProps();
  return stringValueTrue_;
}

void TPsBool::SetStringValueFalse(const std::string& text) {
  SetStringValue(stringValueFalse_, text);
}

void TPsBool::SetStringValueTrue(const std::string& text) {
  SetStringValue(stringValueTrue_, text);
}

void TPsBool::SetStringValue(std::string& field, const std::string& text) {
  {
    const auto lock = LockProps();
    if (text == field)
      return;
    field = text;
  }
  ConfigChanged();
}

void TPsBool::DoChange(TPsVarPropTypes props) {
  TPsVar::DoChange(props);
  // A change of quality alone fires the present value's edge too.
  if (!Active() || !props.Contains(vpValue) || Quality() != vpqGood)
    return;
  const vcl::TNotifyEvent& edge = value_ ? OnRisingEdge : OnFallingEdge;
  if (edge)
    edge(this);
}

void TPsBool::KeepFields(TPsVarFieldKeeper& keeper) {
  TPsVar::KeepFields(keeper);
  keeper.Keep(value_);
}

TPsVarAlarmState TPsBool::DoGetAlarmStateForValue(const PsVariant& value) const {
  return GetVarPropValueAsBool(vpValue, value) ? alarmStateTrue_ : alarmStateFalse_;
}

TPsVarDataType TPsBool::GetPropDataType(TPsVarPropType prop) const {
  return prop == vpValue ? vdtBoolean : TPsVar::GetPropDataType(prop);
}

PsVariant TPsBool::GetPropValueGood(TPsVarPropType prop) const {
  return prop == vpValue ? PsVariant(value_) : TPsVar::GetPropValueGood(prop);
}

void TPsBool::SetPropAsStringGood(TPsVarPropType prop, const std::string& value) {
  if (prop == vpValue)
    SetValue(StrToBool(value));
  else
    TPsVar::SetPropAsStringGood(prop, value);
}

void TPsBool::SetPropValueGood(TPsVarPropType prop, const PsVariant& value) {
  if (prop != vpValue)
    TPsVar::SetPropValueGood(prop, value);
  else if (VariantClass(value) == vcString)
    SetPropAsStringGood(vpValue, value.AsText());
  else
    SetValue(GetVarPropValueAsBool(vpValue, value));
}

std::string TPsBool::BoolToStr(bool value) const {
  std::string text = value ? StringValueTrue() : StringValueFalse();
  return text.empty() ? TPsVar::BoolToStr(value) : text;
}

double TPsBool::GetVarPropValueAsFloat(TPsVarPropType prop, const PsVariant& value) const {
  if (prop == vpValue && IsValidValue(value, EmptyTextQuality()) == vpqGood)
    return GetVarPropValueAsBool(prop, value) ? 1 : 0;
  return TPsVar::GetVarPropValueAsFloat(prop, value);
}

int64_t TPsBool::GetVarPropValueAsInt64(TPsVarPropType prop, const PsVariant& value) const {
  if (prop == vpValue && IsValidValue(value, EmptyTextQuality()) == vpqGood)
    return GetVarPropValueAsBool(prop, value) ? 1 : 0;
  return TPsVar::GetVarPropValueAsInt64(prop, value);
}

int32_t TPsBool::GetVarPropValueAsInteger(TPsVarPropType prop, const PsVariant& value) const {
  if (prop == vpValue && IsValidValue(value, EmptyTextQuality()) == vpqGood)
    return GetVarPropValueAsBool(prop, value) ? 1 : 0;
  return TPsVar::GetVarPropValueAsInteger(prop, value);
}

std::string TPsBool::GetVarPropValueAsString(TPsVarPropType prop, const PsVariant& value) const {
  if (prop == vpValue)
    return BoolToStr(GetVarPropValueAsBool(prop, value));
  return TPsVar::GetVarPropValueAsString(prop, value);
}

bool TPsBool::StrToBool(const std::string& text) const {
  if (text.empty())
    throw EPsRangeError("Cannot convert empty string to boolean");
  const std::string falseText = StringValueFalse();
  const std::string trueText = StringValueTrue();
  if (vcl::SameText(text, falseText) || vcl::SameText(text, PsBooleanName(false)))
    return false;
  if (vcl::SameText(text, trueText) || vcl::SameText(text, PsBooleanName(true)))
    return true;
  return TPsVar::StrToBool(text);
}

// ---- TPsString ------------------------------------------------------------------

TPsString::TPsString(vcl::TComponent* owner) : TPsVar(owner, "TPsString") {
  emptyTextQuality_ = vpqGood;
}

const TPsClassMeta& TPsString::ClassMeta() {
  static const TPsClassMeta meta = TPsClassMetaBuilder<TPsString>("TPsString", &TPsVar::ClassMeta())
                                       .Event("OnGetAlarmState")
                                       .Build();
  return meta;
}

void TPsString::SetValue(const std::string& value) {
  std::string text = value;
  TPsVarQuality quality = StringQuality(text, emptyTextQuality_);
  if (CanChangeString(vpValue, text, quality))
    StoreProp(vpValue, quality, [&] { value_ = std::move(text); });
}

TPsVarDataType TPsString::GetPropDataType(TPsVarPropType prop) const {
  return prop == vpValue ? vdtOleStr : TPsVar::GetPropDataType(prop);
}

PsVariant TPsString::GetPropValueGood(TPsVarPropType prop) const {
  return prop == vpValue ? PsVariant(value_) : TPsVar::GetPropValueGood(prop);
}

void TPsString::SetPropValueGood(TPsVarPropType prop, const PsVariant& value) {
  if (prop != vpValue) {
    TPsVar::SetPropValueGood(prop, value);
  } else if (!value.IsArray()) {
    SetValue(value.AsText());
  } else if (value.ElementCount() == 0) {
    SetValue("");
  } else if (const uint16_t element = value.VarType() & varTypeMask;
             element == varByte || element == varShortInt) {
    // The bytes of the first dimension's length, from the start of the data.
    const std::string_view bytes = value.RawElements();
    SetValue(TrimControls(bytes.substr(0, static_cast<size_t>(VarArrayLength(value)))));
  } else {
    SetValue(VarArrayToText(value, '\0', '\r'));
  }
}

void TPsString::KeepFields(TPsVarFieldKeeper& keeper) {
  TPsVar::KeepFields(keeper);
  keeper.Keep(value_);
}

// ---- TPsCustomInteger ---------------------------------------------------------------

TPsCustomInteger::TPsCustomInteger(vcl::TComponent* owner, std::string className)
    : TPsVar(owner, std::move(className)) {}

const TPsClassMeta& TPsCustomInteger::ClassMeta() {
  static const TPsClassMeta meta =
      TPsClassMetaBuilder<TPsCustomInteger>("TPsCustomInteger", &TPsVar::ClassMeta()).Build();
  return meta;
}

void TPsCustomInteger::KeepFields(TPsVarFieldKeeper& keeper) {
  TPsVar::KeepFields(keeper);
  keeper.Keep(value_);
}

void TPsCustomInteger::SetValue(int32_t value) {
  TPsVarQuality quality = IsValidInteger(value) ? vpqGood : vpqBad;
  if (CanChangeInteger(vpValue, value, quality))
    StoreProp(vpValue, quality, [&] { value_ = value; });
}

void TPsCustomInteger::AddValue(int32_t delta) {
  if (Quality() == vpqBad) {
    SetValue(delta);
    return;
  }
  const int64_t sum = int64_t{value_} + delta;
  if (sum < INT32_MIN || sum > INT32_MAX)
    throw vcl::EIntOverflow("Integer overflow");
  SetValue(static_cast<int32_t>(sum));
}

void TPsCustomInteger::SetRangeMin(int32_t value) {
  if (value == rangeMin_)
    return;
  rangeMin_ = value;
  RangeChanged();
}

void TPsCustomInteger::SetRangeMax(int32_t value) {
  if (value == rangeMax_)
    return;
  rangeMax_ = value;
  RangeChanged();
}

TPsVarDataType TPsCustomInteger::GetPropDataType(TPsVarPropType prop) const {
  return prop == vpValue ? vdtInteger : TPsVar::GetPropDataType(prop);
}

PsVariant TPsCustomInteger::GetPropValueGood(TPsVarPropType prop) const {
  return prop == vpValue ? PsVariant(value_) : TPsVar::GetPropValueGood(prop);
}

void TPsCustomInteger::SetPropAsStringGood(TPsVarPropType prop, const std::string& value) {
  if (prop == vpValue)
    SetValue(TPsVar::StrToInt(value));
  else
    TPsVar::SetPropAsStringGood(prop, value);
}

void TPsCustomInteger::SetPropValueGood(TPsVarPropType prop, const PsVariant& value) {
  if (prop != vpValue)
    TPsVar::SetPropValueGood(prop, value);
  else if (VariantClass(value) == vcBoolean)
    SetValue(value.AsBool() ? 1 : 0);
  else
    SetValue(value.AsInt32());
}

bool TPsCustomInteger::InRange(TPsVarPropType prop, const PsVariant& value) const {
  if (prop != vpValue)
    return TPsVar::InRange(prop, value);
  const int32_t min = GetRangeMin();
  const int32_t max = GetRangeMax();
  if (min >= max)
    return true;
  const int32_t number = value.AsInt32();
  if (number == PsBadInteger)
    return true;
  if (min != PsBadInteger && number < min)
    return false;
  return max == PsBadInteger || number <= max;
}

// ---- TPsInteger -------------------------------------------------------------------

TPsInteger::TPsInteger(vcl::TComponent* owner) : TPsCustomInteger(owner, "TPsInteger") {}

const TPsClassMeta& TPsInteger::ClassMeta() {
  static const TPsClassMeta meta =
      TPsClassMetaBuilder<TPsInteger>("TPsInteger", &TPsCustomInteger::ClassMeta())
          .String("DisplayFormat", &TPsVar::DisplayFormat, &TPsVar::SetDisplayFormat)
          .String("EngUnit", &TPsInteger::EngUnit, &TPsInteger::SetEngUnit)
          .Integer("RangeMax", &TPsCustomInteger::GetRangeMax, &TPsCustomInteger::SetRangeMax)
          .Integer("RangeMin", &TPsCustomInteger::GetRangeMin, &TPsCustomInteger::SetRangeMin)
          .Enumeration("RangeMode", VarRangeModeTypeInfo(), &TPsVar::RangeMode,
                       &TPsVar::SetRangeMode)
          .Event("OnGetAlarmState")
          .Event("OnRangeChange")
          .Event("OnRangeError")
          .Build();
  return meta;
}

void TPsInteger::SetEngUnit(const std::string& value) {
  SetTextProp(vpEngUnit, engUnit_, value, vpqBad);
}

bool TPsInteger::IsPropSupported(TPsVarPropType prop) const {
  return prop == vpEngUnit || TPsCustomInteger::IsPropSupported(prop);
}

PsVariant TPsInteger::GetPropValueGood(TPsVarPropType prop) const {
  if (PropQuality(prop) == vpqBad)
    return PsVariant();
  return prop == vpEngUnit ? PsVariant(engUnit_) : TPsCustomInteger::GetPropValueGood(prop);
}

void TPsInteger::SetPropValueGood(TPsVarPropType prop, const PsVariant& value) {
  if (prop == vpEngUnit)
    SetEngUnit(value.AsText());
  else
    TPsCustomInteger::SetPropValueGood(prop, value);
}

void TPsInteger::KeepFields(TPsVarFieldKeeper& keeper) {
  TPsCustomInteger::KeepFields(keeper);
  keeper.Keep(engUnit_);
}

}  // namespace toolkit
