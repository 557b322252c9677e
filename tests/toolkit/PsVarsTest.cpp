// The process variable: its property kinds, validity, numbering, how a
// change is vetted, applied and announced, and the conversions of its reads.
#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <limits>
#include <memory>
#include <string>
#include <vector>

#include "ExpectError.h"
#include "PsVarsTestSupport.h"
#include "toolkit/Debugs.h"
#include "toolkit/PsVarList.h"
#include "toolkit/PsVarsDateTime.h"
#include "toolkit/PsVarsState.h"

namespace {

using namespace toolkit;
using korva_test::ExpectError;
using vars_test::Announcements;
using vars_test::kNow;

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

// Collects the trace lines written while it is installed.
struct TraceLines : DebugWriter {
  explicit TraceLines(std::vector<std::string>* lines) : lines_(lines) {}
  void Write(std::string_view line) override { lines_->emplace_back(line); }
  std::vector<std::string>* lines_;
};

class PsVarTest : public vars_test::VarsTest {
 protected:
  PsVarTest() : x_(Make<TPsInteger>("PsX")) {}
  TPsInteger* x_;
};

TEST_F(PsVarTest, AFreshVariableIsBadInEveryKind) {
  for (int i = 0; i < PsVarPropTypeCount; ++i) {
    const auto prop = static_cast<TPsVarPropType>(i);
    // The name set its caption, which is good now.
    if (prop == vpCaption)
      continue;
    EXPECT_EQ(x_->PropQuality(prop), vpqBad) << i;
    EXPECT_EQ(x_->GetPropTimeStamp(prop), 0) << i;
    EXPECT_TRUE(x_->GetPropValue(prop).IsEmpty()) << i;
  }
  EXPECT_EQ(x_->GetPropAsFloat(vpValue), -1234567.09);
  EXPECT_EQ(x_->GetPropAsInteger(vpValue), 195935983);
  EXPECT_EQ(x_->GetPropAsString(vpValue), "#BAD");
  EXPECT_EQ(x_->GetPropAsDateTime(vpValue), -0.5);
  ExpectError<EPsException>([&] { x_->GetPropAsBool(vpValue); }, "Bad Quality");
  ExpectError<EPsException>([&] { x_->NewestProp({}); },
                            "NewestProp cannot be defined when Props is empty");
  EXPECT_EQ(x_->Caption(), "PsX");
  EXPECT_EQ(x_->PropQuality(vpCaption), vpqGood);
  // The others are neither writable nor held by any kind.
  TPsBool b(nullptr);
  TPsString s(nullptr);
  for (const TPsVar* variable : std::vector<const TPsVar*>{x_, &b, &s}) {
    for (TPsVarPropType prop : {vpOther, vpOther2}) {
      EXPECT_TRUE(variable->IsPropReadOnly(prop));
      EXPECT_FALSE(variable->IsPropSupported(prop));
    }
  }
  EXPECT_EQ(PsVarPropTypeName(vpOther2), "Other");
  EXPECT_EQ(PsVarPropTypeName(vpAlarmHelp), "Alarm Help");
  EXPECT_EQ(PsVarAlarmStateName(asUnknown), "Unkownn");
  EXPECT_EQ(PsVarStatsModeName(smSimple), "Full");
}

TEST_F(PsVarTest, TimestampsFollowTheRule) {
  struct Case {
    double given, stored;
  } cases[] = {{-5, 0}, {kNaN, 0}, {0, kNow}, {45000.5, 45000.5}};
  for (const Case& c : cases) {
    x_->UpdateProp(vpAlarmText, vpqGood, c.given);
    EXPECT_EQ(x_->GetPropTimeStamp(vpAlarmText), c.stored) << c.given;
  }
}

TEST(PsVarValidityTest, MarkersAndLimitsAreInvalid) {
  for (double day : {-1.0, 0.0, -657434.0, 2958465.99999, 1.5})
    EXPECT_TRUE(IsValidDate(day)) << day;
  for (double day : {-0.5, -657434.1, 2958466.0, kNaN})
    EXPECT_FALSE(IsValidDate(day)) << day;
  struct Case {
    PsVariant value;
    TPsVarQuality quality;
  } cases[] = {
      {PsVariant(), vpqBad},
      {PsVariant::Null(), vpqBad},
      {195935983, vpqBad},
      {int64_t{195935983}, vpqBad},
      {uint32_t{195935983}, vpqBad},
      {195935984, vpqGood},
      {-1234567.09, vpqBad},
      {std::numeric_limits<double>::infinity(), vpqBad},
      {PsVariant::Single(-1234567.125f), vpqBad},
      {PsVariant::Single(-1234567.0f), vpqGood},
      {PsVariant::Date(-0.5), vpqBad},
      {"#BAD", vpqBad},
      {"", vpqUncertain},  // the empty text takes the quality given for it
      {"x", vpqGood},
      {false, vpqGood},
      {PsVariant::Array({{0, -1}}, varInteger), vpqBad},
      {PsVariant::Array({{0, 0}}, varInteger), vpqGood},
  };
  for (const Case& c : cases)
    EXPECT_EQ(IsValidValue(c.value, vpqUncertain), c.quality) << VariantToText(c.value, true);
  EXPECT_EQ(static_cast<float>(-1234567.09), PsBadSingle);
}

TEST_F(PsVarTest, NumbersAreUniqueAndCaptionsFollowNames) {
  auto* a = Make<TPsBool>("PsA");
  auto* b = Make<TPsBool>("PsB");
  EXPECT_EQ(b->ID(), a->ID() + 1);
  EXPECT_EQ(TPsVar::LastID(), b->ID());
  // A number above any given so far, whatever other tests made.
  const int32_t above = TPsVar::LastID() + 1000;
  a->SetID(above);
  EXPECT_EQ(Make<TPsBool>("PsC")->ID(), above + 1);

  // One taken over by an owner that already holds its number is renumbered.
  vcl::TComponent other(nullptr);
  auto* d = new TPsBool(&other);
  d->SetID(b->ID());
  form_->InsertComponent(d);
  EXPECT_EQ(d->ID(), above + 3);

  // Variables read from a stream keep the numbers stored with them.
  form_->BeginLoading();
  EXPECT_EQ(Make<TPsBool>("PsLoaded")->ID(), 0);
  form_->EndLoading();

  a->SetName("PsRenamed");
  EXPECT_EQ(a->Caption(), "PsRenamed");
  a->SetCaption("Level");
  a->SetName("PsAgain");
  EXPECT_EQ(a->Caption(), "Level");
}

TEST_F(PsVarTest, TimestampsNotAboveZeroAreIgnoredAndTraced) {
  std::vector<std::string> lines;
  SetDebugWriter(std::make_unique<TraceLines>(&lines));
  int handlers = 0;
  x_->OnChanging = [&](vcl::TObject*, TPsVarPropType, PsVariant&, TPsVarQuality&,
                       TPsVarChangingResponse&) { ++handlers; };
  x_->OnChange = [&](vcl::TObject*, TPsVarPropTypes) { ++handlers; };
  for (double stamp : {0.0, -1.0, kNaN})
    x_->SetPropValueAt(vpValue, 5, vpqGood, stamp);
  SetDebugWriter(nullptr);
  EXPECT_EQ(handlers, 0);
  EXPECT_FALSE(x_->PropHasValue(vpValue));
  std::vector<std::string> ignored;
  for (const std::string& line : lines) {
    if (line.rfind("IGNORED", 0) == 0)
      ignored.push_back(line);
  }
  ASSERT_EQ(ignored.size(), 3u);
  EXPECT_EQ(ignored[0],
            "IGNORED Variable PsX change to value 5 with Timestamp=30.12.1899 00:00:00.000");
  EXPECT_EQ(ignored[2], "IGNORED Variable PsX change to value 5 with Timestamp=NAN");
}

TEST_F(PsVarTest, SetPropValueAtStampsWhatChangedWithTheCallersTime) {
  Announcements heard;
  heard.Listen(*x_);
  x_->SetPropValueAt(vpValue, 5, vpqUncertain, 44000.5);
  EXPECT_EQ(x_->Value(), 5);
  EXPECT_EQ(x_->Quality(), vpqUncertain);
  EXPECT_EQ(x_->TimeStamp(), 44000.5);
  ASSERT_EQ(heard.sets.size(), 1u);
  EXPECT_TRUE(heard.sets[0].Contains(vpValue));

  // The same value and quality later: no change, the old stamp stays.
  x_->SetPropValueAt(vpValue, 5.0, vpqUncertain, 44001.0);
  EXPECT_EQ(x_->TimeStamp(), 44000.5);
  EXPECT_EQ(heard.sets.size(), 1u);

  // A property never set, set empty and bad, is stamped: it has a value now.
  x_->SetPropValueAt(vpAlarmText, PsVariant(), vpqBad, 44002.0);
  EXPECT_EQ(x_->GetPropTimeStamp(vpAlarmText), 44002.0);
  ASSERT_EQ(heard.sets.size(), 2u);
  EXPECT_TRUE(heard.sets[1].Contains(vpAlarmText));

  // A value the kind cannot store makes the property bad, without an error.
  x_->SetPropValueAt(vpValue, "not a number", vpqGood, 44003.0);
  EXPECT_EQ(x_->Quality(), vpqBad);
  EXPECT_EQ(x_->TimeStamp(), 44003.0);
}

TEST_F(PsVarTest, ChangingHandlersVetEveryChange) {
  TPsVarChangingResponse answer = crAccept;
  int asked = 0;
  x_->OnChanging = [&](vcl::TObject*, TPsVarPropType, PsVariant&, TPsVarQuality&,
                       TPsVarChangingResponse& response) {
    ++asked;
    response = answer;
  };
  // Without changing events the handler is still asked, but only a
  // rejection counts.
  answer = crRequested;
  x_->SetPropValueAt(vpValue, 1, vpqGood, 44000.0, false);
  EXPECT_GT(asked, 0);
  EXPECT_EQ(x_->Value(), 1);
  answer = crReject;
  ExpectError<EPsVarChangeReject>([&] { x_->SetPropValueAt(vpValue, 5, vpqGood, 44001.0, false); },
                                  "VarProp change rejected: PsX[Value] Value:5  Quality:Good");
  EXPECT_EQ(x_->Value(), 1);
  // A request stops the change silently.
  answer = crRequested;
  x_->SetValue(7);
  x_->SetPropValueAt(vpValue, 8, vpqGood, 44002.0);
  EXPECT_EQ(x_->Value(), 1);
  // Any other error of a handler becomes a rejection that names it.
  x_->OnChanging = [](vcl::TObject*, TPsVarPropType, PsVariant&, TPsVarQuality&,
                      TPsVarChangingResponse&) { throw vcl::EConvertError("boom"); };
  ExpectError<EPsVarChangeReject>(
      [&] { x_->SetValue(5); },
      "VarProp change rejected: PsX[Value] Value:5  Quality:Good; EConvertError: boom");
}

// A variable just made, or just loaded, has collected nothing: its first
// announcement lists only what changed (a variable list that follows the
// form hears a new variable from its start).
TEST_F(PsVarTest, AFreshVariablesFirstAnnouncementListsOnlyWhatChanged) {
  TPsVarList list;
  list.Attach(form_);
  std::vector<TPsVarPropTypes> heard;
  list.ChangeSlot().OnVarChange = [&](TPsVar*, TPsVarPropTypes props) { heard.push_back(props); };
  const std::vector<std::function<TPsVar*()>> kinds = {
      [&] { return Make<TPsBool>("PsBool"); },     [&] { return Make<TPsInteger>("PsInteger"); },
      [&] { return Make<TPsString>("PsString"); }, [&] { return Make<TPsFloat>("PsFloat"); },
      [&] { return Make<TPsDateTime>("PsDate"); }, [&] { return Make<TPsState>("PsState"); },
      [&] { return Make<TPsBitSet>("PsBits"); }};
  for (const auto& make : kinds) {
    heard.clear();
    TPsVar* variable = make();
    // The name is the caption's first value.
    EXPECT_EQ(heard, std::vector<TPsVarPropTypes>{{vpCaption}}) << variable->ClassName();
  }
  auto* loaded = Make<TPsFloat>("PsLoaded");
  heard.clear();
  loaded->BeginLoading();
  loaded->EndLoading();
  EXPECT_TRUE(heard.empty());
  loaded->SetDescription("first");
  EXPECT_EQ(heard, std::vector<TPsVarPropTypes>{{vpDescription}});
}

// What follows a change: OnValueChange for the value alone, and the alarm
// state stamped with the newest of the value and the limits it came from.
TEST_F(PsVarTest, WhatFollowsAChangeOfTheValueOrALimit) {
  int valueChanges = 0;
  x_->OnValueChange = [&](vcl::TObject*) { ++valueChanges; };
  x_->SetDescription("not the value");
  x_->SetAlarmMode(amAlarms);
  EXPECT_EQ(valueChanges, 0);
  x_->SetValue(1);
  EXPECT_EQ(valueChanges, 1);

  auto* f = Make<TPsFloat>("PsLevel");
  f->SetAlarmMode(amAlarms);
  f->SetValue(15);
  EXPECT_EQ(f->GetPropAsInteger(vpAlarmState), asNormal);
  EXPECT_EQ(f->GetPropTimeStamp(vpAlarmState), kNow);
  clock_.SetNow(kNow + 1);
  f->SetAlarmLow(10);
  clock_.SetNow(kNow + 2);
  f->SetAlarmHigh(12);
  EXPECT_EQ(f->GetPropAsInteger(vpAlarmState), asAlarm);
  EXPECT_EQ(f->GetPropTimeStamp(vpAlarmState), kNow + 2);
}

// The handlers may leave an invalid value that they left good: the second
// validity test makes it bad before anything is stored.
TEST_F(PsVarTest, AnInvalidValueLeftByAHandlerIsBad) {
  x_->OnChanging = [](vcl::TObject*, TPsVarPropType, PsVariant& value, TPsVarQuality&,
                      TPsVarChangingResponse&) {
    if (value.AsInt32() == 5)
      value = PsBadInteger;
  };
  x_->SetPropValueAt(vpValue, 5, vpqGood, 44000.0);
  EXPECT_EQ(x_->Quality(), vpqBad);
  EXPECT_EQ(x_->TimeStamp(), 44000.0);
  EXPECT_EQ(x_->GetPropAsInteger(vpValue), PsBadInteger);
}

TEST_F(PsVarTest, BracketsCollectChangesIntoOneAnnouncement) {
  Announcements heard;
  heard.Listen(*x_);
  x_->BeginUpdate();
  x_->BeginUpdate();
  x_->SetValue(3);
  x_->SetDescription("level");
  x_->SetEngUnit("V");
  x_->EndUpdate();
  EXPECT_TRUE(heard.sets.empty());
  x_->EndUpdate();
  ASSERT_EQ(heard.sets.size(), 1u);
  EXPECT_EQ(heard.sets[0], (TPsVarPropTypes{vpValue, vpEngUnit, vpDescription}));

  x_->SetAlarmMode(amAlarms);
  ASSERT_EQ(heard.sets.size(), 2u);
  // The alarm state joins: the value is good and alarms are on now.
  EXPECT_EQ(heard.sets[1],
            (TPsVarPropTypes{vpAlarmState, vpAlarmLow, vpAlarmHigh, vpWarnLow, vpWarnHigh}));
  EXPECT_EQ(x_->GetPropTimeStamp(vpAlarmState), x_->TimeStamp());

  ExpectError<EPsException>([&] { x_->EndUpdate(); },
                            "TPsInteger.EndUpdate: no matching BeginUpdate!");
  EXPECT_EQ(x_->UpdateCount(), 0);
  x_->SetValue(4);
  EXPECT_EQ(heard.sets.size(), 3u);
}

TEST_F(PsVarTest, SlotsAreAskedAndToldByTheirKind) {
  TPsVarChangeSlot watcher;
  TPsVarChangeSlot interceptor;
  interceptor.Intercepting = true;
  std::vector<std::string> log;
  watcher.OnVarChanging = [&](TPsVar*, TPsVarPropType, PsVariant& value, TPsVarQuality&,
                              TPsVarChangingResponse& response) {
    log.push_back("watcher asked " + value.AsText());
    value = 99;
    response = crReject;  // a copy: no effect
  };
  watcher.OnVarChange = [&](TPsVar*, TPsVarPropTypes) { log.push_back("watcher told"); };
  interceptor.OnVarChanging = [&](TPsVar*, TPsVarPropType, PsVariant& value, TPsVarQuality&,
                                  TPsVarChangingResponse&) {
    log.push_back("interceptor asked " + value.AsText());
    value = value.AsInt32() * 10;
  };
  interceptor.OnVarChange = [&](TPsVar*, TPsVarPropTypes) { log.push_back("interceptor told"); };
  watcher.Connect(x_->ChangeSignal());
  interceptor.Connect(x_->ChangeSignal());

  x_->SetValue(2);
  EXPECT_EQ(x_->Value(), 20);
  EXPECT_EQ(log,
            (std::vector<std::string>{"interceptor asked 2", "watcher asked 20", "watcher told"}));

  // An inactive slot is still asked, but not told.
  log.clear();
  watcher.SetActive(false);
  x_->SetValue(3);
  EXPECT_EQ(log, (std::vector<std::string>{"interceptor asked 3", "watcher asked 30"}));
}

TEST_F(PsVarTest, ReadOnlyAndUnsupportedKindsRefuseWrites) {
  x_->SetReadOnly(true);
  ExpectError<EPsReadOnly>([&] { x_->SetValue(1); }, "PsX is read-only");
  ExpectError<EPsReadOnly>([&] { x_->SetPropValueGood(vpSetpoint, 1); },
                           "Setpoint cannot be changed for TPsInteger");
  // The signal accepts variables only.
  vcl::TComponent plain(nullptr);
  ExpectError<EPsException>([&] { TPsVarChangeSignal signal(&plain); },
                            "TPsVarChangeSignal.Create: Only PsVars are accepted as owners.");
}

TEST_F(PsVarTest, RangeErrorsByMode) {
  x_->SetRangeMin(0);
  x_->SetRangeMax(10);
  x_->SetRangeMode(rmException);
  ExpectError<EPsRangeError>([&] { x_->SetValue(11); },
                             "Value 11 out of range Variable=Form1.PsX, VarProp=Value");
  EXPECT_FALSE(x_->PropHasValue(vpValue));
  x_->OnRangeError = [](vcl::TObject*, TPsVarPropType, const PsVariant&, std::string&,
                        bool& raiseError) { raiseError = false; };
  x_->SetValue(11);
  EXPECT_EQ(x_->GetPropValue(vpValue).AsInt32(), 11);
  x_->SetRangeMode(rmUndefine);
  x_->SetValue(12);
  EXPECT_EQ(x_->Value(), 12);
  EXPECT_EQ(x_->Quality(), vpqBad);
}

TEST_F(PsVarTest, ReadsConvertByTheirOwnRules) {
  struct IntegerCase {
    double value;
    int64_t integer;
  } rounding[] = {{2.5, 3}, {-2.5, -3}, {0.49, 0}, {2147483647.4, 2147483647}};
  for (const IntegerCase& c : rounding) {
    EXPECT_EQ(x_->GetVarPropValueAsInteger(vpValue, c.value), c.integer) << c.value;
    EXPECT_EQ(x_->GetVarPropValueAsInt64(vpValue, c.value), c.integer) << c.value;
  }
  EXPECT_EQ(x_->GetVarPropValueAsLongWord(vpValue, 2.5), 3u);
  EXPECT_EQ(x_->GetVarPropValueAsLongWord(vpValue, 4294967295.0), 4294967295u);
  EXPECT_EQ(x_->GetVarPropValueAsLongWord(vpValue, "7"), 7u);
  ExpectError<EPsVarException>([&] { x_->GetVarPropValueAsLongWord(vpValue, -1); },
                               "Cannot convert value -1 to LongWord");
  ExpectError<EPsVarException>([&] { x_->GetVarPropValueAsLongWord(vpValue, -0.5); },
                               "Cannot convert value -0.5 to LongWord");
  ExpectError<EPsVarException>([&] { x_->GetVarPropValueAsLongWord(vpValue, "-3"); },
                               "Cannot convert value -3 to LongWord");
  // Numbers that do not fit never wrap.
  EXPECT_THROW(x_->GetVarPropValueAsInteger(vpValue, 3e9), vcl::EVariantOverflowError);
  EXPECT_THROW(x_->GetVarPropValueAsLongWord(vpValue, 5e9), vcl::EVariantOverflowError);
  EXPECT_THROW(x_->GetVarPropValueAsLongWord(vpValue, int64_t{5000000000}),
               vcl::EVariantOverflowError);
  EXPECT_THROW(x_->GetVarPropValueAsInt64(vpValue, 1e20), vcl::EVariantOverflowError);
  EXPECT_THROW(x_->GetVarPropValueAsInteger(vpValue, kNaN), vcl::EVariantOverflowError);

  EXPECT_TRUE(x_->GetVarPropValueAsBool(vpValue, PsVariant::ArrayOf({2, 0})));
  ExpectError<EPsException>([&] { x_->GetVarPropValueAsBool(vpValue, PsVariant::Error(1)); },
                            "Cannot convert Value to Boolean");
  EXPECT_EQ(x_->GetVarPropValueAsDateTime(vpValue, "05.03.2024 12:00"), 45356.5);
}

TEST_F(PsVarTest, TextsOfArraysAndAlarmStates) {
  EXPECT_EQ(x_->GetVarPropValueAsString(vpValue, PsVariant::ArrayOf({1, "a;b", 2.5})),
            "1;\"a;b\";2.5");
  PsVariant table = PsVariant::Array({{0, 1}, {1, 2}}, varInteger);
  table.PutElement({0, 1}, 1);
  table.PutElement({0, 2}, 2);
  table.PutElement({1, 1}, 3);
  table.PutElement({1, 2}, 4);
  EXPECT_EQ(x_->GetVarPropValueAsString(vpValue, table), "1;2\r\n3;4\r\n");
  EXPECT_EQ(
      x_->GetVarPropValueAsString(vpValue, PsVariant::Array({{0, 0}, {0, 0}, {0, 0}}, varInteger)),
      "3-dim array of Variant");
  EXPECT_EQ(x_->GetVarPropValueAsString(vpAlarmState, 2), "Alarm");
  EXPECT_EQ(x_->GetVarPropValueAsString(vpAlarmState, 7), "7");
  EXPECT_EQ(x_->GetVarPropValueAsString(vpAlarmState, "Warning"), "Warning");
  ExpectError<EPsRangeError>([&] { x_->GetVarPropValueAsString(vpAlarmState, "xyz"); }, "No match");
  EXPECT_EQ(x_->VarToText(PsVariant::Date(1.5), vpqBad), "31.12.1899 12:00:00");
  EXPECT_EQ(x_->VarToText(true, vpqBad), "True");
  EXPECT_EQ(x_->VarToText(kNaN, vpqBad), "#BAD");
}

TEST_F(PsVarTest, ReadsAsDataTypes) {
  EXPECT_EQ(TPsVar::PsBadValueAsDataType(vdtSingle).VarType(), varSingle);
  EXPECT_EQ(TPsVar::PsBadValueAsDataType(vdtSingle).AsDouble(), -1234567.125);
  EXPECT_EQ(TPsVar::PsBadValueAsDataType(vdtBoolean).VarType(), varBoolean);
  EXPECT_FALSE(TPsVar::PsBadValueAsDataType(vdtBoolean).AsBool());
  EXPECT_EQ(TPsVar::PsBadValueAsDataType(vdtByte).VarType(), varByte);
  EXPECT_EQ(TPsVar::PsBadValueAsDataType(vdtByte).AsInt32(), 0);
  // The marker does not fit a smallint: 0, not an overflow.
  EXPECT_EQ(TPsVar::PsBadValueAsDataType(vdtSmallint).AsInt32(), 0);
  EXPECT_EQ(TPsVar::PsBadValueAsDataType(vdtLongWord).AsInt64(), 195935983);
  EXPECT_EQ(TPsVar::PsBadValueAsDataType(vdtOleStr).AsText(), "#BAD");
  EXPECT_TRUE(TPsVar::PsBadValueAsDataType(vdtDispatch).IsEmpty());
  EXPECT_EQ(x_->GetPropAsDataType(vpValue, vdtDate).AsDouble(), -0.5);

  x_->SetValue(34952);
  EXPECT_THROW(x_->GetPropAsDataType(vpValue, vdtSmallint), vcl::EVariantOverflowError);
  x_->SetValue(20480);
  const PsVariant text = x_->GetPropAsDataType(vpValue, vdtOleStr);
  EXPECT_EQ(text.VarType(), varOleStr);
  EXPECT_EQ(text.AsText(), "20480");
  EXPECT_EQ(x_->GetPropAsDataType(vpValue, vdtDefault).VarType(), varInteger);
  EXPECT_EQ(x_->GetPropAsDataType(vpValue, vdtWord).VarType(), varWord);

  const PsVariant items = x_->GetVarPropValueAsArray(vpValue, "1;2;3", vdtInteger);
  EXPECT_EQ(items.VarType(), varArray | varInteger);
  ASSERT_EQ(items.ElementCount(), 3);
  EXPECT_EQ(items.ElementAt(2).AsInt32(), 3);
  const PsVariant doubles =
      x_->GetVarPropValueAsArray(vpValue, PsVariant::ArrayOf({1, "2"}), vdtDouble);
  EXPECT_EQ(doubles.VarType(), varArray | varDouble);
  EXPECT_EQ(doubles.ElementAt(1).AsDouble(), 2.0);
  EXPECT_EQ(x_->GetPropAsArray(vpValue, vdtDefault).ElementAt(0).AsInt32(), 20480);
  x_->Undefine(vpValue, 0);
  EXPECT_EQ(x_->GetPropAsArray(vpValue, vdtDouble).ElementCount(), 0);
}

TEST_F(PsVarTest, ChangesMadeWhileAnnouncingAreAnnounced) {
  Announcements heard;
  heard.Listen(*x_);
  auto listen = x_->OnChange;
  x_->OnChange = [&](vcl::TObject* sender, TPsVarPropTypes props) {
    listen(sender, props);
    if (props.Contains(vpValue))
      x_->SetDescription("set while announcing");
  };
  x_->SetValue(1);
  ASSERT_EQ(heard.sets.size(), 2u);
  EXPECT_EQ(heard.sets[1], TPsVarPropTypes{vpDescription});

  // A handler that changes something every time gives up after 16 rounds.
  int rounds = 0;
  x_->OnChange = [&](vcl::TObject*, TPsVarPropTypes) {
    ++rounds;
    x_->SetDescription(std::to_string(rounds));
  };
  ExpectError<EPsVarException>([&] { x_->SetValue(2); },
                               "PsX: changes made while announcing do not settle");
  EXPECT_EQ(rounds, 16);
  EXPECT_EQ(x_->UpdateCount(), 0);
  EXPECT_TRUE(x_->ChangedProps().Empty());
  heard.Listen(*x_);
  x_->SetValue(3);
  EXPECT_EQ(heard.sets.back(), TPsVarPropTypes{vpValue});
}

TEST_F(PsVarTest, BracketsCloseOnEveryPath) {
  Announcements heard;
  heard.Listen(*x_);
  // The second vetting, after the value is stored, rejects.
  int asked = 0;
  x_->OnChanging = [&](vcl::TObject*, TPsVarPropType, PsVariant&, TPsVarQuality&,
                       TPsVarChangingResponse& response) {
    if (++asked == 2)
      response = crReject;
  };
  EXPECT_THROW(x_->SetPropValueAt(vpValue, 4, vpqGood, 44000.0), EPsVarChangeReject);
  EXPECT_EQ(x_->UpdateCount(), 0);
  x_->OnChanging = nullptr;
  heard.sets.clear();
  x_->SetValue(5);
  ASSERT_EQ(heard.sets.size(), 1u);

  // A copy that fails midway closes its bracket too.
  auto* source = Make<TPsInteger>("PsSource");
  source->SetValue(9);
  source->SetDescription("from the source");
  x_->SetReadOnly(true);
  heard.sets.clear();
  EXPECT_THROW(x_->Assign(source), EPsReadOnly);
  EXPECT_EQ(x_->UpdateCount(), 0);
  x_->SetAlarmText("later");
  EXPECT_FALSE(heard.sets.empty());
}

// A change that the last vetting (after the store) rejects leaves nothing
// behind: value, quality, timestamp, what the value fed (statistics, the bit
// count) and the announcements are those from before.
TEST_F(PsVarTest, AChangeRejectedAfterItsStoreIsUndone) {
  struct Case {
    const char* name;
    TPsVar* variable;
    TPsVarPropType prop;
    PsVariant before;
    PsVariant after;
  };
  auto* real = Make<TPsFloat>("PsReal");
  real->SetStatsMode(smSimple);
  auto* bits = Make<TPsBitSet>("PsBits");
  const std::vector<Case> cases = {
      {"integer", x_, vpValue, 3, 4},
      {"float", real, vpValue, 1.5, 2.5},
      {"unit", real, vpEngUnit, "V", "mV"},
      {"text", Make<TPsString>("PsText"), vpValue, "a", "b"},
      {"description", x_, vpDescription, "old", "new"},
      {"bits", bits, vpValue, 5, PsVariant::ArrayOf({true, false, false, true})},
  };
  const auto statistics = [real] {
    return real->GetPropAsString(vpMean) + " " + std::to_string(real->StatsCount()) + " " +
           std::to_string(real->GetPropTimeStamp(vpMean));
  };
  Announcements heard;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    c.variable->SetPropValueAt(c.prop, c.before, vpqGood, 44000.0);
    const PsVariant stored = c.variable->GetPropValue(c.prop);
    const std::string statisticsBefore = statistics();
    heard.sets.clear();
    heard.Listen(*c.variable);
    int asked = 0;
    c.variable->OnChanging = [&](vcl::TObject*, TPsVarPropType, PsVariant&, TPsVarQuality&,
                                 TPsVarChangingResponse& response) {
      if (++asked == 2)
        response = crReject;
    };
    EXPECT_THROW(c.variable->SetPropValueAt(c.prop, c.after, vpqUncertain, 44001.0),
                 EPsVarChangeReject);
    EXPECT_EQ(asked, 2);
    EXPECT_TRUE(VariantsEqual(c.variable->GetPropValue(c.prop), stored, true));
    EXPECT_EQ(c.variable->PropQuality(c.prop), vpqGood);
    EXPECT_EQ(c.variable->GetPropTimeStamp(c.prop), 44000.0);
    EXPECT_TRUE(heard.sets.empty());
    EXPECT_TRUE(c.variable->ChangedProps().Empty());
    EXPECT_EQ(c.variable->UpdateCount(), 0);
    EXPECT_EQ(statistics(), statisticsBefore);
    EXPECT_EQ(bits->BitCount(), 32);
    // Later changes go through and are announced.
    c.variable->OnChanging = nullptr;
    c.variable->SetPropValueAt(c.prop, c.after, vpqUncertain, 44002.0);
    EXPECT_EQ(c.variable->PropQuality(c.prop), vpqUncertain);
    EXPECT_EQ(heard.sets.size(), 1u);
  }
  EXPECT_EQ(bits->BitCount(), 4);
}

TEST_F(PsVarTest, AssignCopiesWhatTheTargetCanTake) {
  auto* a = Make<TPsBool>("PsA");
  auto* b = Make<TPsBool>("PsB");
  for (TPsBool* v : {a, b}) {
    v->SetAlarmMode(amAlarms);
    v->SetValue(true);
    ASSERT_EQ(v->PropQuality(vpAlarmState), vpqGood);
  }
  a->SetValue(false);
  a->SetDescription("copied");
  b->Assign(a);
  EXPECT_FALSE(b->Value());
  EXPECT_EQ(b->Description(), "copied");
  EXPECT_EQ(b->Caption(), "PsA");
  // A bad kind of the source is bad here too.
  EXPECT_EQ(b->PropQuality(vpAlarmText), vpqBad);
  EXPECT_TRUE(b->PropHasValue(vpAlarmText));
  vcl::TStringList notAVariable;
  EXPECT_THROW(b->Assign(&notAVariable), vcl::EConvertError);
}

TEST_F(PsVarTest, SetPropQualityRestampsUnlessAskedToWait) {
  x_->SetValue(5);
  clock_.SetNow(kNow + 1);
  TPsVarChangingResponse answer = crRequested;
  x_->OnChanging = [&](vcl::TObject*, TPsVarPropType, PsVariant&, TPsVarQuality&,
                       TPsVarChangingResponse& response) { response = answer; };
  x_->SetPropQuality(vpValue, vpqUncertain);
  EXPECT_EQ(x_->Quality(), vpqGood);
  EXPECT_EQ(x_->TimeStamp(), kNow);
  // The same quality is no change, but it is stamped anew.
  x_->SetPropQuality(vpValue, vpqGood);
  EXPECT_EQ(x_->TimeStamp(), kNow + 1);
  answer = crAccept;
  x_->SetPropQuality(vpValue, vpqUncertain);
  EXPECT_EQ(x_->Quality(), vpqUncertain);
  // A handler that alters the value stores it instead.
  x_->OnChanging = [](vcl::TObject*, TPsVarPropType, PsVariant& value, TPsVarQuality&,
                      TPsVarChangingResponse&) { value = 6; };
  x_->SetPropQuality(vpValue, vpqGood);
  EXPECT_EQ(x_->Value(), 6);
  EXPECT_EQ(x_->Quality(), vpqGood);
}

TEST_F(PsVarTest, AnInactiveVariableAppliesButTellsNobody) {
  Announcements heard;
  heard.Listen(*x_);
  int asked = 0;
  x_->OnChanging = [&](vcl::TObject*, TPsVarPropType, PsVariant&, TPsVarQuality&,
                       TPsVarChangingResponse&) { ++asked; };
  x_->SetActive(false);
  x_->SetValue(3);
  EXPECT_EQ(x_->Value(), 3);
  EXPECT_EQ(asked, 0);
  EXPECT_TRUE(heard.sets.empty());
  x_->SetActive(true);
  EXPECT_TRUE(heard.sets.empty());
  x_->Clear();
  ASSERT_EQ(heard.sets.size(), 1u);
  EXPECT_EQ(heard.sets[0], TPsVarPropTypes::All());
  EXPECT_EQ(x_->TimeStamp(), kNow);
}

TEST_F(PsVarTest, ChangesWhileLoadingAreAnnouncedWhenItEnds) {
  Announcements heard;
  heard.Listen(*x_);
  int ranges = 0;
  x_->OnRangeChange = [&](vcl::TObject*) { ++ranges; };
  x_->BeginLoading();
  x_->SetValue(3);
  x_->SetRangeMax(5);
  EXPECT_TRUE(heard.sets.empty());
  EXPECT_EQ(ranges, 0);
  x_->EndLoading();
  ASSERT_EQ(heard.sets.size(), 1u);
  EXPECT_TRUE(heard.sets[0].Contains(vpValue));
  EXPECT_EQ(ranges, 1);
  EXPECT_EQ(x_->Value(), 3);
}

TEST_F(PsVarTest, SlotsMeetAWholeVariableWhenItIsFreed) {
  TPsVarChangeSlot slot;
  std::string seen;
  slot.OnDisconnect = [&](TPsSignal* signal) {
    seen = dynamic_cast<TPsVar*>(signal->Owner())->ClassName();
  };
  slot.Connect(x_->ChangeSignal());
  vcl::Free(x_);
  EXPECT_EQ(seen, "TPsInteger");
}

}  // namespace
