// Unit PsVars, the float variables: TPsCustomFloat holds a double with an
// engineering unit, a range, a setpoint and the difference from it, alarm and
// warning limits from which its alarm state follows, and running statistics
// (mean, standard deviation, minimum, maximum) over the values it was given.
// TPsFloat publishes it. Every derived quantity is a property kind of its own
// with its quality and timestamp.
#pragma once

#include <cstdint>
#include <string>

#include "toolkit/PsVars.h"

namespace toolkit {

// The range test: a bound that is no valid number places no limit on its
// side; `inclusive` admits the bounds themselves. Neither the order of the
// bounds nor the validity of `value` is looked at.
bool PsFloatInRange(double value, double min, double max, bool inclusive);

// The statistics mode as a published property type.
const TPsTypeInfo& VarStatsModeTypeInfo();

class TPsCustomFloat : public TPsVar {
 public:
  static const TPsClassMeta& ClassMeta();

  // The value; the marker when vpValue is bad.
  double Value() const;
  // Stores the value as vetted; a value that passed the vetting unaltered
  // (also one set again unchanged) is counted in the statistics.
  virtual void SetValue(double value);
  // The value plus `delta` (or `delta` when there is no value); nothing for
  // an invalid `delta`.
  void AddValue(double delta);
  void SubtractValue(double delta) { AddValue(-delta); }
  virtual void Add(const TPsCustomFloat& other);

  const std::string& EngUnit() const { return engUnit_; }
  // "#BAD" and the empty text are a bad unit.
  virtual void SetEngUnit(const std::string& value);
  double AlarmHigh() const { return alarmHigh_; }
  double AlarmLow() const { return alarmLow_; }
  double WarnHigh() const { return warnHigh_; }
  double WarnLow() const { return warnLow_; }
  double Setpoint() const { return setpoint_; }
  // Vetted; an invalid number is stored as a bad limit.
  void SetAlarmHigh(double value);
  void SetAlarmLow(double value);
  void SetWarnHigh(double value);
  void SetWarnLow(double value);
  virtual void SetSetpoint(double value);
  // The limits and the setpoint bad, stamped now; the numbers stay.
  virtual void ClearSpecs();

  // value - setpoint; the marker while vpDiff is bad.
  virtual double GetDiff() const;
  // Sets the value to the setpoint plus `value` (just `value` without a
  // setpoint).
  virtual void SetDiff(double value);

  // The bounds are read by other threads too: under the lock. A new bound
  // that equals the old one (or is NaN) changes nothing.
  double RangeMin() const;
  double RangeMax() const;
  void SetRangeMin(double value);
  void SetRangeMax(double value);
  // Both bounds undefined: every value is in range.
  virtual void ClearRange();
  // The present value by the range test.
  bool IsValueInRange(bool inclusive) const;

  TPsVarStatsMode StatsMode() const { return statsMode_; }
  // The four statistics bad, stamped now; what was counted stays.
  void SetStatsMode(TPsVarStatsMode value);
  // Forgets what was counted; with `addPresent`, a good present value is
  // counted anew.
  virtual void ClearStats(bool addPresent);
  // EPsStatsError `<quantity> not available: StatsMode not set for variable
  // "<name>"` without statistics; the marker when too few were counted.
  virtual double GetMean() const;
  virtual double GetStdDev() const;
  virtual double GetMin() const;
  virtual double GetMax() const;
  int32_t StatsCount() const { return count_; }
  // One sample more or less, stamped with the value's timestamp.
  virtual void AddToStats(double sample);
  virtual void RemoveFromStats(double sample);

  bool IsPropSupported(TPsVarPropType prop) const override;
  TPsVarDataType GetPropDataType(TPsVarPropType prop) const override;
  // A quantity that cannot be read gives the marker.
  PsVariant GetPropValueGood(TPsVarPropType prop) const override;
  // The statistics raise EPsReadOnly "Statistics cannot be changed with
  // PropValue".
  void SetPropValueGood(TPsVarPropType prop, const PsVariant& value) override;
  // vpValue: a non-empty text as a number of the locale.
  void SetPropAsStringGood(TPsVarPropType prop, const std::string& value) override;
  // The value, the limits and the setpoint against the range, inclusive.
  bool InRange(TPsVarPropType prop, const PsVariant& value) const override;
  std::string GetRangeErrorText(TPsVarPropType prop, const PsVariant& value) const override;
  // The difference follows the value and the setpoint once it was written.
  void UpdateProp(TPsVarPropType prop, TPsVarQuality quality, vcl::TDateTime timestamp) override;

 protected:
  TPsCustomFloat(vcl::TComponent* owner, std::string className);

  // A pair of limits with one side undefined limits on the other side alone.
  TPsVarAlarmState DoGetAlarmStateForValue(const PsVariant& value) const override;
  void InternalInvalidateProp(TPsVarPropType prop) override;
  void KeepFields(TPsVarFieldKeeper& keeper) override;

 private:
  // A limit or the setpoint, vetted as a float.
  void SetFloatProp(TPsVarPropType prop, double& field, double value);
  void SetRangeBound(double& field, double value);
  // The limit as the property reads it: the marker while it is bad.
  double Limit(TPsVarPropType prop, double field) const;
  void CheckStats(const char* quantity) const;
  // The four statistics with `quality` and `timestamp`.
  void StampStats(TPsVarQuality quality, vcl::TDateTime timestamp);
  // The mean, and with two samples or more the deviation: good while finite.
  void StampMeanAndStdDev(vcl::TDateTime stamp);

  double alarmHigh_ = 0;
  double alarmLow_ = 0;
  std::string engUnit_;
  double rangeMax_ = 0;
  double rangeMin_ = 0;
  double setpoint_ = 0;
  TPsVarStatsMode statsMode_ = smNone;
  double warnHigh_ = 0;
  double warnLow_ = 0;
  double max_ = PsBadDouble;
  double min_ = PsBadDouble;
  // Welford's running mean and sum of squared deviations from it.
  double mean_ = 0;
  double squaredDeviations_ = 0;
  int32_t count_ = 0;
  double value_ = PsBadDouble;
};

class TPsFloat : public TPsCustomFloat {
 public:
  explicit TPsFloat(vcl::TComponent* owner);
  static const TPsClassMeta& ClassMeta();
};

}  // namespace toolkit
