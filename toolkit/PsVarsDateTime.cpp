// Unit PsVars: the date-time variable.
#include "toolkit/PsVarsDateTime.h"

#include <cmath>

#include "toolkit/psRTTI.h"

namespace toolkit {
namespace {

// The display text of a date (with milliseconds).
std::string DateText(vcl::TDateTime value) {
  return VariantToText(PsVariant::Date(value), false);
}

}  // namespace

TPsDateTime::TPsDateTime(vcl::TComponent* owner) : TPsCustomFloat(owner, "TPsDateTime") {}

const TPsClassMeta& TPsDateTime::ClassMeta() {
  static const TPsClassMeta meta =
      TPsClassMetaBuilder<TPsDateTime>("TPsDateTime", &TPsCustomFloat::ClassMeta())
          .DateTime("MaxDate", &TPsDateTime::MaxDate, &TPsDateTime::SetMaxDate)
          .DateTime("MinDate", &TPsDateTime::MinDate, &TPsDateTime::SetMinDate)
          .Enumeration("RangeMode", VarRangeModeTypeInfo(), &TPsVar::RangeMode,
                       &TPsVar::SetRangeMode)
          .Event("OnGetAlarmState")
          .Event("OnRangeChange")
          .Event("OnRangeError")
          .Build();
  return meta;
}

bool TPsDateTime::IsPropSupported(TPsVarPropType prop) const {
  return TPsVar::IsPropSupported(prop);
}

TPsVarDataType TPsDateTime::GetPropDataType(TPsVarPropType prop) const {
  return prop == vpValue ? vdtDate : TPsCustomFloat::GetPropDataType(prop);
}

PsVariant TPsDateTime::GetPropValueGood(TPsVarPropType prop) const {
  if (prop != vpValue)
    return TPsCustomFloat::GetPropValueGood(prop);
  return PsVariant::Date(PropQuality(vpValue) == vpqBad ? PsBadDate : Value());
}

std::string TPsDateTime::GetRangeErrorText(TPsVarPropType prop, const PsVariant& value) const {
  return vcl::Format("Date '%s' out of range, Variable=%s, VarProp=%s, Valid range=[%s,%s]",
                     DateText(GetVarPropValueAsFloat(prop, value)), ComponentPath(this),
                     PsVarPropTypeName(prop), DateText(MinDate()), DateText(MaxDate()));
}

void TPsDateTime::SetWholeDays(TPsVarPropType prop, int64_t days) {
  if (days != PsBadInteger && IsValidDate(static_cast<double>(days)))
    SetPropValueGood(prop, PsVariant(days));
  else
    Undefine(prop, 0);
}

void TPsDateTime::SetPropAsIntegerGood(TPsVarPropType prop, int32_t value) {
  SetWholeDays(prop, value);
}

void TPsDateTime::SetPropAsInt64Good(TPsVarPropType prop, int64_t value) {
  SetWholeDays(prop, value);
}

void TPsDateTime::SetPropAsLongWordGood(TPsVarPropType prop, uint32_t value) {
  SetWholeDays(prop, value);
}

void TPsDateTime::SetPropAsStringGood(TPsVarPropType prop, const std::string& value) {
  if (prop != vpValue || value.empty()) {
    TPsCustomFloat::SetPropAsStringGood(prop, value);
    return;
  }
  vcl::TDateTime date = 0;
  if (!vcl::TryStrToDateTime(value, date))
    date = vcl::StrToFloat(value);
  if (IsValidDate(date))
    SetValue(date);
  else
    Undefine(vpValue, 0);
}

std::string TPsDateTime::GetVarPropValueAsString(TPsVarPropType prop,
                                                 const PsVariant& value) const {
  if (prop != vpValue || value.IsArray() || IsValidValue(value, EmptyTextQuality()) != vpqGood)
    return TPsCustomFloat::GetVarPropValueAsString(prop, value);
  if (VariantClass(value) == vcString)
    return value.AsText();
  return DateTimeToStr(GetVarPropValueAsFloat(prop, value));
}

int32_t TPsDateTime::StrToInt(const std::string& text) const {
  const double days = std::trunc(vcl::StrToDateTime(text));
  if (!(days >= INT32_MIN && days <= INT32_MAX))
    throw vcl::ERangeError("Range check error");
  return static_cast<int32_t>(days);
}

}  // namespace toolkit
