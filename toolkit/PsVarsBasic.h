// Unit PsVars, the three simplest kinds of variable: TPsBool (two states with
// texts of their own, an alarm state for each, edge events), TPsString (a
// text; the empty text is a good value) and TPsCustomInteger/TPsInteger (a
// 32-bit value with an optional range; TPsInteger adds a unit). Each stores
// its value in SetValue, the one place every value write ends in.
#pragma once

#include <cstdint>
#include <string>

#include "toolkit/PsVars.h"

namespace toolkit {

class TPsBool : public TPsVar {
 public:
  explicit TPsBool(vcl::TComponent* owner);
  static const TPsClassMeta& ClassMeta();

  bool Value() const { return value_; }
  // Always a good value.
  virtual void SetValue(bool value);

  TPsVarAlarmState AlarmStateFalse() const { return alarmStateFalse_; }
  TPsVarAlarmState AlarmStateTrue() const { return alarmStateTrue_; }
  // The low limits (False) or the high ones (True) count as changed, good.
  void SetAlarmStateFalse(TPsVarAlarmState state);
  void SetAlarmStateTrue(TPsVarAlarmState state);
  // Shown for and read as the value; empty: the toolkit's "False"/"True".
  std::string StringValueFalse() const;
  std::string StringValueTrue() const;
  void SetStringValueFalse(const std::string& text);
  void SetStringValueTrue(const std::string& text);

  // After OnChange, when the value changed with good quality.
  vcl::TNotifyEvent OnFallingEdge;
  vcl::TNotifyEvent OnRisingEdge;

  TPsVarDataType GetPropDataType(TPsVarPropType prop) const override;
  PsVariant GetPropValueGood(TPsVarPropType prop) const override;
  void SetPropAsStringGood(TPsVarPropType prop, const std::string& value) override;
  void SetPropValueGood(TPsVarPropType prop, const PsVariant& value) override;
  std::string BoolToStr(bool value) const override;
  double GetVarPropValueAsFloat(TPsVarPropType prop, const PsVariant& value) const override;
  int64_t GetVarPropValueAsInt64(TPsVarPropType prop, const PsVariant& value) const override;
  int32_t GetVarPropValueAsInteger(TPsVarPropType prop, const PsVariant& value) const override;
  std::string GetVarPropValueAsString(TPsVarPropType prop, const PsVariant& value) const override;
  // EPsRangeError "Cannot convert empty string to boolean"; then, ignoring
  // ASCII case: StringValueFalse, "False", StringValueTrue, "True"; then the
  // standard conversion.
  bool StrToBool(const std::string& text) const override;

 protected:
  void DoChange(TPsVarPropTypes props) override;
  void KeepFields(TPsVarFieldKeeper& keeper) override;
  TPsVarAlarmState DoGetAlarmStateForValue(const PsVariant& value) const override;

 private:
  void SetLimitState(TPsVarAlarmState& field, TPsVarAlarmState state, TPsVarPropType alarm,
                     TPsVarPropType warning);
  void SetStringValue(std::string& field, const std::string& text);

  bool value_ = false;
  TPsVarAlarmState alarmStateFalse_ = asNormal;
  TPsVarAlarmState alarmStateTrue_ = asNormal;
  std::string stringValueFalse_;
  std::string stringValueTrue_;
};

class TPsString : public TPsVar {
 public:
  explicit TPsString(vcl::TComponent* owner);
  static const TPsClassMeta& ClassMeta();

  // On the main thread; other threads read snapshots.
  const std::string& Value() const { return value_; }
  // "#BAD" is a bad value, any other text (the empty one too) good.
  virtual void SetValue(const std::string& value);

  TPsVarDataType GetPropDataType(TPsVarPropType prop) const override;
  PsVariant GetPropValueGood(TPsVarPropType prop) const override;
  // vpValue: a byte or shortint array gives its bytes (as many as its first
  // dimension), trimmed of blanks and control characters; another array
  // its text; any other value its text, untrimmed.
  void SetPropValueGood(TPsVarPropType prop, const PsVariant& value) override;

 protected:
  void KeepFields(TPsVarFieldKeeper& keeper) override;

 private:
  std::string value_;
};

class TPsCustomInteger : public TPsVar {
 public:
  static const TPsClassMeta& ClassMeta();

  int32_t Value() const { return value_; }
  // PsBadInteger is a bad value, any other good.
  virtual void SetValue(int32_t value);
  // The value plus `delta` when good (EIntOverflow beyond 32 bits, the value
  // kept), else `delta`.
  void AddValue(int32_t delta);

  // A range holds while RangeMin < RangeMax; both bounds inclusive.
  virtual int32_t GetRangeMin() const { return rangeMin_; }
  virtual int32_t GetRangeMax() const { return rangeMax_; }
  virtual void SetRangeMin(int32_t value);
  virtual void SetRangeMax(int32_t value);

  TPsVarDataType GetPropDataType(TPsVarPropType prop) const override;
  PsVariant GetPropValueGood(TPsVarPropType prop) const override;
  void SetPropAsStringGood(TPsVarPropType prop, const std::string& value) override;
  void SetPropValueGood(TPsVarPropType prop, const PsVariant& value) override;
  bool InRange(TPsVarPropType prop, const PsVariant& value) const override;

 protected:
  TPsCustomInteger(vcl::TComponent* owner, std::string className);
  void KeepFields(TPsVarFieldKeeper& keeper) override;

 private:
  int32_t value_ = PsBadInteger;
  int32_t rangeMin_ = 0;
  int32_t rangeMax_ = -1;
};

class TPsInteger : public TPsCustomInteger {
 public:
  explicit TPsInteger(vcl::TComponent* owner);
  static const TPsClassMeta& ClassMeta();

  const std::string& EngUnit() const { return engUnit_; }
  // An empty text is a bad unit.
  void SetEngUnit(const std::string& value);

  bool IsPropSupported(TPsVarPropType prop) const override;
  PsVariant GetPropValueGood(TPsVarPropType prop) const override;
  void SetPropValueGood(TPsVarPropType prop, const PsVariant& value) override;

 protected:
  void KeepFields(TPsVarFieldKeeper& keeper) override;

 private:
  std::string engUnit_;
};

}  // namespace toolkit
