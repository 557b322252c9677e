// The float variables: statistics, alarm limits, range, the difference from
// the setpoint, the property interface.
#include <gtest/gtest.h>

#include <atomic>
#include <cmath>
#include <limits>
#include <string>
#include <thread>
#include <vector>

#include "ExpectError.h"
#include "PsVarsTestSupport.h"
#include "toolkit/psRTTI.h"

namespace {

using namespace toolkit;
using korva_test::ExpectError;
using vars_test::kNow;

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr TPsVarPropTypes kStatistics = {vpMean, vpStdDev, vpMin, vpMax};

class PsFloatTest : public vars_test::VarsTest {
 protected:
  TPsFloat* f_ = Make<TPsFloat>("PsF");
};

TEST_F(PsFloatTest, StatisticsOfSamples) {
  struct Case {
    std::vector<double> samples;
    double mean, stdDev;  // stdDev NaN: not good
    double min, max;
  } cases[] = {
      {{1, 2, 3, 4}, 2.5, 1.2909944487358056, 1, 4},
      // The sums of squares would make this variance negative.
      {{0.1, 0.1, 0.1}, 0.1, 0, 0.1, 0.1},
      {{7}, 7, kNaN, 7, 7},
      {{-3, -3}, -3, 0, -3, -3},  // the same value twice counts twice
      {{1e9 + 4, 1e9 + 7, 1e9 + 13, 1e9 + 16}, 1e9 + 10, std::sqrt(30.0), 1e9 + 4, 1e9 + 16},
  };
  for (const Case& c : cases) {
    auto* f = Make<TPsFloat>("");
    f->SetStatsMode(smSimple);
    for (double sample : c.samples)
      f->SetValue(sample);
    const std::string row =
        std::to_string(c.samples.size()) + " from " + std::to_string(c.samples[0]);
    EXPECT_EQ(f->StatsCount(), static_cast<int>(c.samples.size())) << row;
    EXPECT_DOUBLE_EQ(f->GetMean(), c.mean) << row;
    EXPECT_EQ(f->GetMin(), c.min) << row;
    EXPECT_EQ(f->GetMax(), c.max) << row;
    kStatistics.ForEach([&](TPsVarPropType prop) {
      const bool good = prop != vpStdDev || !std::isnan(c.stdDev);
      EXPECT_EQ(f->PropQuality(prop), good ? vpqGood : vpqBad) << row << " " << prop;
      if (good) {
        EXPECT_EQ(f->GetPropTimeStamp(prop), f->TimeStamp()) << row << " " << prop;
      }
    });
    if (std::isnan(c.stdDev)) {
      EXPECT_EQ(f->GetStdDev(), PsBadDouble) << row;
    } else {
      EXPECT_NEAR(f->GetPropValue(vpStdDev).AsDouble(), c.stdDev, 1e-12) << row;
    }
  }
  EXPECT_EQ(Make<TPsFloat>("PsG")->GetPropAsFloat(vpMean), PsBadDouble);
}

// Samples near the double's limits whose sums leave its range give a mean
// or deviation that is no value: bad, and read as the marker, never good.
TEST_F(PsFloatTest, StatisticsBeyondTheDoublesRangeAreNeverGood) {
  constexpr double kMax = std::numeric_limits<double>::max();
  struct Case {
    std::vector<double> samples;
    bool goodMean, goodStdDev;
  } cases[] = {
      {{1e308, -1e308}, false, false},
      {{-1e308, 1e308, 1}, false, false},
      {{1e200, -1e200}, true, false},
      {{kMax, kMax}, true, true},
  };
  for (const Case& c : cases) {
    auto* f = Make<TPsFloat>("");
    f->SetStatsMode(smSimple);
    for (double sample : c.samples)
      f->SetValue(sample);
    const std::string row = std::to_string(c.samples[0]);
    EXPECT_EQ(f->PropQuality(vpMean), c.goodMean ? vpqGood : vpqBad) << row;
    EXPECT_EQ(f->PropQuality(vpStdDev), c.goodStdDev ? vpqGood : vpqBad) << row;
    EXPECT_TRUE(std::isfinite(f->GetMean())) << row;
    EXPECT_TRUE(std::isfinite(f->GetStdDev())) << row;
    if (!c.goodMean) {
      EXPECT_EQ(f->GetMean(), PsBadDouble) << row;
    }
    if (!c.goodStdDev) {
      EXPECT_EQ(f->GetStdDev(), PsBadDouble) << row;
    }
  }
  // Taking a sample back out does not make such a mean good either.
  f_->SetStatsMode(smSimple);
  f_->SetValue(-1e308);
  f_->SetValue(1e308);
  f_->SetValue(2);
  f_->RemoveFromStats(2);
  EXPECT_EQ(f_->PropQuality(vpMean), vpqBad);
  EXPECT_EQ(f_->PropQuality(vpStdDev), vpqBad);
  f_->RemoveFromStats(1e308);
  EXPECT_EQ(f_->PropQuality(vpMean), vpqBad);
  EXPECT_EQ(f_->PropQuality(vpMin), vpqBad);
}

TEST_F(PsFloatTest, AnInvalidSampleMarksOnlyFreshStatistics) {
  // As a variable loaded with its mode: the statistics were never stamped.
  f_->BeginLoading();
  f_->SetStatsMode(smSimple);
  f_->EndLoading();
  EXPECT_FALSE(f_->PropHasValue(vpMean));
  clock_.SetNow(kNow + 1);
  f_->SetValue(kNaN);
  EXPECT_EQ(f_->Quality(), vpqBad);
  kStatistics.ForEach([&](TPsVarPropType prop) {
    EXPECT_EQ(f_->PropQuality(prop), vpqBad);
    EXPECT_EQ(f_->GetPropTimeStamp(prop), kNow + 1);
  });
  f_->SetValue(4);
  clock_.SetNow(kNow + 2);
  f_->SetValue(kNaN);
  EXPECT_EQ(f_->StatsCount(), 1);
  EXPECT_EQ(f_->PropQuality(vpMean), vpqGood);
  EXPECT_EQ(f_->GetPropTimeStamp(vpMean), kNow + 1);
}

// A value the vetting alters, or makes bad, is stored and announced, but it
// is not what was given: it is not counted.
TEST_F(PsFloatTest, AValueTheVettingAltersIsAnnouncedButNotCounted) {
  f_->SetStatsMode(smSimple);
  vars_test::Announcements heard;
  heard.Listen(*f_);
  f_->OnChanging = [](vcl::TObject*, TPsVarPropType, PsVariant& value, TPsVarQuality&,
                      TPsVarChangingResponse&) { value = 7.0; };
  f_->SetValue(5);
  EXPECT_EQ(f_->Value(), 7);
  f_->OnChanging = nullptr;
  f_->SetRangeMode(rmUndefine);  // the range 0..0
  f_->SetValue(5);
  EXPECT_EQ(f_->Quality(), vpqBad);
  EXPECT_EQ(f_->StatsCount(), 0);
  ASSERT_EQ(heard.sets.size(), 2u);
  for (TPsVarPropTypes props : heard.sets)
    EXPECT_TRUE(props.Contains(vpValue));
}

TEST_F(PsFloatTest, SamplesAreRemovedOneByOne) {
  f_->SetStatsMode(smSimple);
  for (double sample : {1, 2, 3, 4})
    f_->SetValue(sample);
  struct Step {
    double removed;
    int count;
    double mean, stdDev;
    TPsVarQuality min, max;
  } steps[] = {
      {4, 3, 2, 1, vpqGood, vpqUncertain},  // the maximum that went stays, uncertain
      {1, 2, 2.5, std::sqrt(0.5), vpqUncertain, vpqUncertain},
      {2, 1, 3, kNaN, vpqGood, vpqGood},  // the one left is both extremes
      {3, 0, kNaN, kNaN, vpqBad, vpqBad},
  };
  for (const Step& s : steps) {
    f_->RemoveFromStats(s.removed);
    EXPECT_EQ(f_->StatsCount(), s.count) << s.removed;
    EXPECT_EQ(f_->PropQuality(vpMin), s.min) << s.removed;
    EXPECT_EQ(f_->PropQuality(vpMax), s.max) << s.removed;
    EXPECT_EQ(f_->PropQuality(vpMean), std::isnan(s.mean) ? vpqBad : vpqGood) << s.removed;
    EXPECT_EQ(f_->PropQuality(vpStdDev), std::isnan(s.stdDev) ? vpqBad : vpqGood) << s.removed;
    if (!std::isnan(s.mean)) {
      EXPECT_DOUBLE_EQ(f_->GetMean(), s.mean) << s.removed;
    }
    if (!std::isnan(s.stdDev)) {
      EXPECT_NEAR(f_->GetStdDev(), s.stdDev, 1e-12) << s.removed;
    }
  }
  EXPECT_EQ(f_->GetMin(), 3);
  EXPECT_EQ(f_->GetMax(), 3);
  f_->RemoveFromStats(3);  // nothing left to remove
  EXPECT_EQ(f_->StatsCount(), 0);

  // Clearing keeps the present value on request; the mode alone keeps the count.
  f_->SetValue(8);
  f_->SetValue(9);
  f_->ClearStats(true);
  EXPECT_EQ(f_->StatsCount(), 1);
  EXPECT_EQ(f_->GetMean(), 9);
  f_->SetStatsMode(smNone);
  ExpectError<EPsStatsError>([&] { f_->GetMean(); },
                             "Mean not available: StatsMode not set for variable \"PsF\"");
  ExpectError<EPsStatsError>([&] { f_->GetMax(); },
                             "Max not available: StatsMode not set for variable \"PsF\"");
  EXPECT_EQ(f_->GetPropValueGood(vpMean).AsDouble(), PsBadDouble);
  f_->SetStatsMode(smSimple);
  EXPECT_EQ(f_->PropQuality(vpMean), vpqBad);
  EXPECT_EQ(f_->StatsCount(), 1);
}

TEST_F(PsFloatTest, AlarmStateFromTheLimits) {
  struct Case {
    TPsVarAlarmMode mode;
    double alarmLow, alarmHigh, warnLow, warnHigh;  // NaN: never set
    double value;
    TPsVarAlarmState state;
  } cases[] = {
      {amAlarms, 10, 20, kNaN, kNaN, 10, asAlarm},  // a value on a limit is outside
      {amAlarms, 10, 20, kNaN, kNaN, 20, asAlarm},
      {amAlarms, 10, 20, kNaN, kNaN, 15, asNormal},
      {amAlarms, 10, 20, 12, 18, 11, asNormal},  // warnings not asked for
      {amAlarmsAndWarnings, 10, 20, 12, 18, 12, asWarning},
      {amAlarmsAndWarnings, 10, 20, 12, 18, 11, asWarning},
      {amAlarmsAndWarnings, 10, 20, 12, 18, 9, asAlarm},
      {amAlarmsAndWarnings, 10, 20, 12, 18, 15, asNormal},
      // One limit of a pair alone limits its side.
      {amAlarms, 10, kNaN, kNaN, kNaN, 5, asAlarm},
      {amAlarms, 10, kNaN, kNaN, kNaN, 15, asNormal},
      {amAlarms, kNaN, 20, kNaN, kNaN, 25, asAlarm},
      {amAlarms, kNaN, 20, kNaN, kNaN, 15, asNormal},
      {amAlarmsAndWarnings, kNaN, kNaN, kNaN, 18, 19, asWarning},
      // Two limits with nothing between them never trigger.
      {amAlarms, 0, 0, kNaN, kNaN, 5, asNormal},
      {amAlarms, 20, 10, kNaN, kNaN, 25, asNormal},
  };
  for (const Case& c : cases) {
    auto* f = Make<TPsFloat>("");
    f->SetAlarmMode(c.mode);
    const auto set = [](double limit, auto setter) {
      if (!std::isnan(limit))
        setter(limit);
    };
    set(c.alarmLow, [f](double v) { f->SetAlarmLow(v); });
    set(c.alarmHigh, [f](double v) { f->SetAlarmHigh(v); });
    set(c.warnLow, [f](double v) { f->SetWarnLow(v); });
    set(c.warnHigh, [f](double v) { f->SetWarnHigh(v); });
    f->SetValue(c.value);
    EXPECT_EQ(f->GetPropAsInteger(vpAlarmState), c.state)
        << c.mode << " [" << c.alarmLow << "," << c.alarmHigh << "] [" << c.warnLow << ","
        << c.warnHigh << "] " << c.value;
  }
  // A limit made bad is undefined again.
  f_->SetAlarmMode(amAlarms);
  f_->SetAlarmLow(10);
  f_->SetAlarmHigh(20);
  f_->SetValue(25);
  EXPECT_EQ(f_->GetPropAsInteger(vpAlarmState), asAlarm);
  f_->SetAlarmHigh(kNaN);
  EXPECT_EQ(f_->PropQuality(vpAlarmHigh), vpqBad);
  EXPECT_EQ(f_->GetPropAsInteger(vpAlarmState), asNormal);
}

TEST_F(PsFloatTest, TheRange) {
  struct Case {
    double min, max, value;
    bool inclusive, inRange;
  } cases[] = {
      {0, 10, 10, true, true},
      {0, 10, 10, false, false},
      {0, 10, 0, false, false},
      {0, 10, 5, false, true},
      {0, 0, 0, true, true},
      {0, 0, 1e-9, true, false},
      {PsBadDouble, 10, -1e300, true, true},
      {0, kNaN, 1e300, true, true},
      {5, 1, 3, true, false},  // the order of the bounds is not looked at
  };
  for (const Case& c : cases) {
    EXPECT_EQ(PsFloatInRange(c.value, c.min, c.max, c.inclusive), c.inRange)
        << c.min << ".." << c.max << " " << c.value << " " << c.inclusive;
  }

  int rangeChanges = 0;
  f_->OnRangeChange = [&](vcl::TObject*) { ++rangeChanges; };
  f_->SetValue(10);
  f_->SetRangeMin(0);  // unchanged
  f_->SetRangeMax(10);
  f_->SetRangeMax(kNaN);  // a NaN never differs
  EXPECT_EQ(f_->RangeMax(), 10);
  EXPECT_EQ(rangeChanges, 1);
  EXPECT_TRUE(f_->IsValueInRange(true));
  EXPECT_FALSE(f_->IsValueInRange(false));
  f_->ClearRange();
  EXPECT_EQ(rangeChanges, 2);
  EXPECT_EQ(f_->RangeMin(), PsBadDouble);
  EXPECT_TRUE(f_->IsValueInRange(false));
  EXPECT_TRUE(f_->InRange(vpSetpoint, -1e300));

  f_->SetRangeMin(0);
  f_->SetRangeMax(20);
  f_->SetRangeMode(rmException);
  ExpectError<EPsRangeError>(
      [&] { f_->SetValue(25); },
      "Value 25 out of range Variable=Form1.PsF, VarProp=Value, Valid range = [0,20]");
  ExpectError<EPsRangeError>(
      [&] { f_->SetWarnHigh(-0.5); },
      "Value -0.5 out of range Variable=Form1.PsF, VarProp=High Warning Limit, Valid range = "
      "[0,20]");
  EXPECT_EQ(f_->Value(), 10);
  EXPECT_NO_THROW(f_->SetPropValue(vpDescription, "any text"));
  f_->SetRangeMode(rmUndefine);
  f_->SetValue(25);
  EXPECT_EQ(f_->Quality(), vpqBad);
}

TEST_F(PsFloatTest, TheDifferenceFollowsOnceWritten) {
  f_->SetSetpoint(10);
  f_->SetValue(15);
  EXPECT_FALSE(f_->PropHasValue(vpDiff));  // not followed before it was written
  f_->SetPropValueAt(vpDiff, 2.0, vpqGood, kNow);
  EXPECT_EQ(f_->Value(), 12);
  EXPECT_EQ(f_->GetPropValue(vpDiff).AsDouble(), 2);
  f_->SetPropValueAt(vpValue, 12.5, vpqUncertain, kNow + 1);
  f_->SetSetpoint(11);
  EXPECT_EQ(f_->GetPropValue(vpDiff).AsDouble(), 1.5);
  EXPECT_EQ(f_->PropQuality(vpDiff), vpqUncertain);  // the lower of the two
  EXPECT_EQ(f_->GetPropTimeStamp(vpDiff), kNow);
  // A difference without a setpoint is the value itself.
  f_->ClearSpecs();
  EXPECT_EQ(f_->Setpoint(), 11);
  EXPECT_EQ(f_->PropQuality(vpDiff), vpqBad);
  f_->SetDiff(3);
  EXPECT_EQ(f_->Value(), 3);
  EXPECT_EQ(f_->GetDiff(), PsBadDouble);
}

TEST_F(PsFloatTest, ValuesByAdditionAndAsTexts) {
  f_->AddValue(2.5);  // no value yet: the delta itself
  f_->SubtractValue(1);
  EXPECT_EQ(f_->Value(), 1.5);
  f_->AddValue(kNaN);
  f_->AddValue(PsBadDouble);
  EXPECT_EQ(f_->Value(), 1.5);
  auto* g = Make<TPsFloat>("PsG");
  g->SetValue(2);
  f_->Add(*g);
  EXPECT_EQ(f_->Value(), 3.5);

  f_->SetPropAsString(vpValue, "-1.25");
  EXPECT_EQ(f_->Value(), -1.25);
  EXPECT_THROW(f_->SetPropAsString(vpValue, "1,5x"), vcl::EConvertError);
  EXPECT_EQ(f_->Value(), -1.25);
  {
    vcl::TFormatSettings comma;
    comma.DecimalSeparator = ',';
    vcl::ScopedFormatSettings local(comma);
    f_->SetPropAsString(vpValue, "0,5");
  }
  EXPECT_EQ(f_->Value(), 0.5);
  f_->SetPropValue(vpValue, PsVariant::Single(0.25f));
  EXPECT_EQ(f_->Value(), 0.25);
}

TEST_F(PsFloatTest, ThePropertyInterface) {
  struct Case {
    TPsVarPropType prop;
    bool supported;
    TPsVarDataType type;
  } cases[] = {
      {vpValue, true, vdtDouble},    {vpEngUnit, true, vdtOleStr},
      {vpAlarmLow, true, vdtDouble}, {vpSetpoint, true, vdtDouble},
      {vpDiff, false, vdtDouble},    {vpStdDev, true, vdtDouble},
      {vpMax, true, vdtDouble},      {vpDescription, true, vdtOleStr},
      {vpOther, false, vdtDefault},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(f_->IsPropSupported(c.prop), c.supported) << c.prop;
    EXPECT_EQ(f_->GetPropDataType(c.prop), c.type) << c.prop;
  }

  // Each writable kind reaches its own field.
  struct Write {
    TPsVarPropType prop;
    double (TPsCustomFloat::*read)() const;
  } writes[] = {{vpAlarmLow, &TPsCustomFloat::AlarmLow},
                {vpAlarmHigh, &TPsCustomFloat::AlarmHigh},
                {vpWarnLow, &TPsCustomFloat::WarnLow},
                {vpWarnHigh, &TPsCustomFloat::WarnHigh},
                {vpSetpoint, &TPsCustomFloat::Setpoint}};
  double number = 1;
  for (const Write& w : writes) {
    f_->SetPropValue(w.prop, number);
    EXPECT_EQ((f_->*w.read)(), number) << w.prop;
    EXPECT_EQ(f_->GetPropAsFloat(w.prop), number) << w.prop;
    EXPECT_EQ(f_->PropQuality(w.prop), vpqGood) << w.prop;
    number += 1;
  }
  f_->SetPropValue(vpEngUnit, "bar");
  EXPECT_EQ(f_->GetPropAsString(vpEngUnit), "bar");
  f_->SetEngUnit("");
  EXPECT_EQ(f_->PropQuality(vpEngUnit), vpqBad);
  for (TPsVarPropType prop : {vpMean, vpStdDev, vpMin, vpMax}) {
    ExpectError<EPsReadOnly>([&] { f_->SetPropValueGood(prop, 1.0); },
                             "Statistics cannot be changed with PropValue");
  }

  const TPsClassMeta* meta = FindClass("TPsFloat");
  ASSERT_NE(meta, nullptr);
  vcl::Owned<vcl::TComponent> created(static_cast<vcl::TComponent*>(meta->Create(nullptr)));
  EXPECT_TRUE(TPsCustomFloat::ClassMeta().IsA(created.get()));
  EXPECT_FALSE(TPsCustomFloat::ClassMeta().CanCreate());
  TPsInstanceProperties props(f_);
  props.Props(props.IndexOf("StatsMode"))->SetAsString("smSimple");
  EXPECT_EQ(f_->StatsMode(), smSimple);
  props.Props(props.IndexOf("RangeMax"))->SetAsString("7.5");
  EXPECT_EQ(f_->RangeMax(), 7.5);
}

// Another thread reads the statistics while samples come in: each snapshot
// is the statistic of one whole sample, with that sample's timestamp.
TEST_F(PsFloatTest, StatisticsSnapshotsOnAnotherThread) {
  f_->SetStatsMode(smSimple);
  constexpr int kWrites = 20000;
  std::atomic<bool> done = false;
  std::atomic<int> good = 0;
  std::string failure;
  std::thread reader([&] {
    while (!done) {
      const TPsVarSnapshot max = f_->GetPropSnapshot(vpMax);
      const TPsVarSnapshot mean = f_->GetPropSnapshot(vpMean);
      if (max.Timestamp == 0 || mean.Timestamp == 0)
        continue;
      const double maxWrite = max.Timestamp - kNow;
      const double meanWrite = mean.Timestamp - kNow;
      if (max.Value.AsDouble() != maxWrite ||
          std::abs(mean.Value.AsDouble() - meanWrite / 2) > 1e-6) {
        failure = "max " + max.Value.AsText() + ", mean " + mean.Value.AsText();
        return;
      }
      ++good;
    }
  });
  // On until the reader has seen some, however late it starts.
  for (int write = 0; write < kWrites || (good < 100 && write < 100 * kWrites); ++write) {
    clock_.SetNow(kNow + write);
    f_->SetValue(write);
  }
  done = true;
  reader.join();
  EXPECT_EQ(failure, "");
  EXPECT_GT(good, 0);
}

}  // namespace
