// Unit PsVars, the date-time variable: a float variable whose value is a
// day count since 30 December 1899 with the time of day as its fraction. It
// keeps the float's storage, vetting and range test; integers and texts that
// are no valid date make the value undefined, and it offers only the base
// set of properties.
#pragma once

#include <cstdint>
#include <string>

#include "toolkit/PsVarsFloat.h"

namespace toolkit {

class TPsDateTime : public TPsCustomFloat {
 public:
  explicit TPsDateTime(vcl::TComponent* owner);
  static const TPsClassMeta& ClassMeta();

  // The range bounds under the names of dates.
  vcl::TDateTime MinDate() const { return RangeMin(); }
  vcl::TDateTime MaxDate() const { return RangeMax(); }
  void SetMinDate(vcl::TDateTime value) { SetRangeMin(value); }
  void SetMaxDate(vcl::TDateTime value) { SetRangeMax(value); }

  bool IsPropSupported(TPsVarPropType prop) const override;
  TPsVarDataType GetPropDataType(TPsVarPropType prop) const override;
  // vpValue: a date; -0.5 while the value is bad.
  PsVariant GetPropValueGood(TPsVarPropType prop) const override;
  std::string GetRangeErrorText(TPsVarPropType prop, const PsVariant& value) const override;
  // An integer that is the marker or no valid day count undefines the
  // property; any other is stored.
  void SetPropAsIntegerGood(TPsVarPropType prop, int32_t value) override;
  void SetPropAsInt64Good(TPsVarPropType prop, int64_t value) override;
  void SetPropAsLongWordGood(TPsVarPropType prop, uint32_t value) override;
  // vpValue: a non-empty text as a date and time of the locale, else as a
  // number (EConvertError for neither); no valid date undefines the value.
  void SetPropAsStringGood(TPsVarPropType prop, const std::string& value) override;
  // vpValue: a good number as a date's text.
  std::string GetVarPropValueAsString(TPsVarPropType prop, const PsVariant& value) const override;
  // The whole days of a date and time of the locale.
  int32_t StrToInt(const std::string& text) const override;

 private:
  void SetWholeDays(TPsVarPropType prop, int64_t days);
};

}  // namespace toolkit
