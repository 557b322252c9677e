// The Boolean, string and integer variables.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "ExpectError.h"
#include "PsVarsTestSupport.h"
#include "toolkit/psRTTI.h"

namespace {

using namespace toolkit;
using korva_test::ExpectError;
using vars_test::Announcements;

using PsKindsTest = vars_test::VarsTest;

TEST_F(PsKindsTest, IntegersWithAndWithoutARange) {
  auto* x = Make<TPsInteger>("PsX");
  EXPECT_EQ(x->Value(), 195935983);
  EXPECT_EQ(x->Quality(), vpqBad);
  EXPECT_TRUE(x->InRange(vpValue, 5));
  x->AddValue(5);
  EXPECT_EQ(x->Value(), 5);
  x->AddValue(-7);
  EXPECT_EQ(x->Value(), -2);
  x->SetValue(195935983);
  EXPECT_EQ(x->Quality(), vpqBad);
  x->SetValue(2147483647);
  ExpectError<vcl::EIntOverflow>([&] { x->AddValue(1); }, "Integer overflow");
  EXPECT_EQ(x->Value(), 2147483647);

  struct Case {
    int32_t min, max, value;
    bool inRange;
  } cases[] = {{0, 10, 0, true},
               {0, 10, 10, true},
               {0, 10, 11, false},
               {0, 10, -1, false},
               {10, 10, 99, true},
               {0, 10, 195935983, true},
               {195935983, 200000000, 5, true},
               {-5, 195935983, 300000000, true}};
  for (const Case& c : cases) {
    x->SetRangeMin(c.min);
    x->SetRangeMax(c.max);
    EXPECT_EQ(x->InRange(vpValue, c.value), c.inRange) << c.min << ".." << c.max << " " << c.value;
  }

  // Other kinds of values: Booleans as 0 and 1, texts as numbers.
  x->SetPropValue(vpValue, true);
  EXPECT_EQ(x->Value(), 1);
  x->SetPropAsString(vpValue, "$10");
  EXPECT_EQ(x->Value(), 16);
  EXPECT_THROW(x->SetPropValue(vpValue, "ten"), vcl::EVariantTypeCastError);
}

TEST_F(PsKindsTest, TheIntegersUnit) {
  auto* x = Make<TPsInteger>("PsX");
  EXPECT_TRUE(x->IsPropSupported(vpEngUnit));
  EXPECT_FALSE(x->IsPropReadOnly(vpEngUnit));
  EXPECT_TRUE(x->GetPropValueGood(vpEngUnit).IsEmpty());
  x->SetPropValue(vpEngUnit, "V");
  EXPECT_EQ(x->GetPropValueGood(vpEngUnit).AsText(), "V");
  x->SetEngUnit("");
  EXPECT_EQ(x->PropQuality(vpEngUnit), vpqBad);
  auto* b = Make<TPsBool>("PsB");
  EXPECT_TRUE(b->IsPropReadOnly(vpEngUnit));
}

TEST_F(PsKindsTest, StringsFromTextsAndArrays) {
  auto* s = Make<TPsString>("PsS");
  s->SetValue("");
  EXPECT_EQ(s->Quality(), vpqGood);
  EXPECT_TRUE(s->PropHasValue(vpValue));
  s->SetValue("#BAD");
  EXPECT_EQ(s->Quality(), vpqBad);

  PsVariant bytes = PsVariant::Array({{1, 6}}, varByte);
  const std::string text = " ab c\t";
  for (int i = 0; i < 6; ++i)
    bytes.PutElement({i + 1}, static_cast<int32_t>(static_cast<unsigned char>(text[i])));
  PsVariant shortints = bytes.CastTo(varArray | varShortInt);
  PsVariant numbers = PsVariant::Array({{0, 1}}, varInteger);
  numbers.PutElement({0}, 72);
  numbers.PutElement({1}, 105);
  struct Case {
    PsVariant value;
    std::string stored;
  } cases[] = {
      {bytes, "ab c"},
      {shortints, "ab c"},
      {numbers, "[72;105]"},  // their text, not their memory
      {PsVariant::Array({{0, -1}}, varInteger), ""},
      {PsVariant::Date(1.5), "31.12.1899 12:00:00"},
      {" as it is ", " as it is "},
  };
  for (const Case& c : cases) {
    s->SetPropValueGood(vpValue, c.value);
    EXPECT_EQ(s->Value(), c.stored) << VariantToText(c.value, true);
  }
}

TEST_F(PsKindsTest, BooleansReadTheirOwnTexts) {
  auto* b = Make<TPsBool>("PsB");
  b->SetStringValueTrue("On");
  for (const char* text : {"on", "ON", "True", "true", "1"})
    EXPECT_TRUE(b->StrToBool(text)) << text;
  for (const char* text : {"false", "0"})
    EXPECT_FALSE(b->StrToBool(text)) << text;
  ExpectError<EPsRangeError>([&] { b->StrToBool(""); }, "Cannot convert empty string to boolean");
  EXPECT_THROW(b->StrToBool("maybe"), vcl::EConvertError);
  // The False text is tested first.
  b->SetStringValueFalse("True");
  EXPECT_FALSE(b->StrToBool("true"));

  b->SetPropValue(vpValue, "ON");
  EXPECT_TRUE(b->Value());
  EXPECT_EQ(b->GetPropAsString(vpValue), "On");
  EXPECT_EQ(b->GetPropAsInteger(vpValue), 1);
  EXPECT_EQ(b->GetPropAsFloat(vpValue), 1.0);
  b->SetStringValueTrue("");
  EXPECT_EQ(b->GetPropAsString(vpValue), "True");
  b->SetPropValue(vpValue, 0.0);
  EXPECT_FALSE(b->Value());
  EXPECT_EQ(b->GetPropAsDataType(vpValue, vdtDefault).VarType(), varBoolean);
}

TEST_F(PsKindsTest, BooleanAlarmStatesAndEdges) {
  auto* b = Make<TPsBool>("PsB");
  Announcements heard;
  heard.Listen(*b);
  b->SetAlarmStateTrue(asAlarm);
  ASSERT_EQ(heard.sets.size(), 1u);
  EXPECT_EQ(heard.sets[0], (TPsVarPropTypes{vpAlarmHigh, vpWarnHigh}));
  EXPECT_EQ(b->PropQuality(vpAlarmHigh), vpqGood);
  b->SetAlarmStateTrue(asAlarm);
  EXPECT_EQ(heard.sets.size(), 1u);

  b->SetAlarmMode(amAlarms);
  std::vector<std::string> edges;
  b->OnRisingEdge = [&](vcl::TObject*) { edges.push_back("rising"); };
  b->OnFallingEdge = [&](vcl::TObject*) { edges.push_back("falling"); };
  b->SetValue(true);
  EXPECT_EQ(b->GetPropValue(vpAlarmState).AsInt32(), asAlarm);
  b->SetValue(false);
  EXPECT_EQ(b->GetPropValue(vpAlarmState).AsInt32(), asNormal);
  // Uncertain: no edge; good again with the same value: its edge.
  b->SetPropValueAt(vpValue, false, vpqUncertain, 44000.0);
  b->SetPropQuality(vpValue, vpqGood);
  EXPECT_EQ(edges, (std::vector<std::string>{"rising", "falling", "falling"}));
}

TEST_F(PsKindsTest, KindsAreCreatedByName) {
  for (const char* name : {"TPsBool", "TPsInteger", "TPsString"}) {
    const TPsClassMeta* meta = FindClass(name);
    ASSERT_NE(meta, nullptr) << name;
    vcl::Owned<vcl::TComponent> created(static_cast<vcl::TComponent*>(meta->Create(nullptr)));
    EXPECT_EQ(created->ClassName(), name);
    EXPECT_TRUE(TPsVar::ClassMeta().IsA(created.get()));
  }
  EXPECT_FALSE(TPsVar::ClassMeta().CanCreate());
  TPsInteger x(nullptr);
  TPsInstanceProperties props(&x);
  EXPECT_EQ(props.GetHeader(),
            "Name;Tag;Active;AlarmHelp;AlarmMode;AlarmText;Caption;Description;ID;ReadOnly;"
            "DisplayFormat;EngUnit;RangeMax;RangeMin;RangeMode");
  props.Props(props.IndexOf("RangeMode"))->SetAsString("rmUndefine");
  EXPECT_EQ(x.RangeMode(), rmUndefine);
}

}  // namespace
