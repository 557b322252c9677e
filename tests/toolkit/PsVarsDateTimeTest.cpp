// The date-time variable.
#include <gtest/gtest.h>

#include <string>

#include "ExpectError.h"
#include "PsVarsTestSupport.h"
#include "toolkit/PsVarsDateTime.h"
#include "toolkit/psRTTI.h"

namespace {

using namespace toolkit;
using korva_test::ExpectError;

using PsDateTimeTest = vars_test::VarsTest;

TEST_F(PsDateTimeTest, TextsAndIntegersThatAreNoDateUndefine) {
  auto* d = Make<TPsDateTime>("PsD");
  EXPECT_EQ(d->Quality(), vpqBad);
  EXPECT_EQ(d->GetPropValueGood(vpValue).AsDouble(), -0.5);
  EXPECT_EQ(d->GetPropValueGood(vpValue).VarType(), varDate);
  EXPECT_EQ(d->GetPropDataType(vpValue), vdtDate);

  // The settings read "dd.mm.yyyy" dates with '.' as the decimal separator.
  struct Case {
    const char* text;
    bool good;
    double stored;
  } texts[] = {{"0.5", true, 0.5},
               {"-0.25", false, 0},
               {"-1", true, -1},
               {"05.03.2024 12:00", true, 45356.5},
               {"3000000", false, 0}};
  for (const Case& c : texts) {
    d->SetPropAsString(vpValue, "1");
    d->SetPropAsString(vpValue, c.text);
    EXPECT_EQ(d->Quality(), c.good ? vpqGood : vpqBad) << c.text;
    EXPECT_EQ(d->Value(), c.good ? c.stored : PsBadDouble) << c.text;
  }
  EXPECT_THROW(d->SetPropAsString(vpValue, "noon"), vcl::EConvertError);

  struct Integer {
    int64_t days;
    bool good;
  } integers[] = {
      {44000, true}, {3000000, false}, {PsBadInteger, false}, {-657434, true}, {-657435, false}};
  for (const Integer& c : integers) {
    for (int way = 0; way < 3; ++way) {
      d->SetPropAsString(vpValue, "1");
      if (way == 0)
        d->SetPropAsInt64(vpValue, c.days);
      else if (way == 1 && c.days >= 0)
        d->SetPropAsLongWordGood(vpValue, static_cast<uint32_t>(c.days));
      else
        d->SetPropAsIntegerGood(vpValue, static_cast<int32_t>(c.days));
      EXPECT_EQ(d->Quality(), c.good ? vpqGood : vpqBad) << c.days << " way " << way;
      EXPECT_EQ(d->Value(), c.good ? static_cast<double>(c.days) : PsBadDouble)
          << c.days << " way " << way;
    }
  }
  d->SetPropAsInt64(vpValue, 44000);
  EXPECT_EQ(d->GetPropAsString(vpValue), "18.06.2020");
  EXPECT_EQ(d->GetVarPropValueAsString(vpValue, "any text"), "any text");
  EXPECT_EQ(d->StrToInt("05.03.2024 12:00"), 45356);
  EXPECT_EQ(d->StrToInt("29.12.1899 18:00"), -1);
}

TEST_F(PsDateTimeTest, OnlyTheBasePropertiesAndDatesAsRange) {
  auto* d = Make<TPsDateTime>("PsD");
  auto* f = Make<TPsFloat>("PsF");
  EXPECT_FALSE(d->IsPropSupported(vpAlarmHigh));
  EXPECT_TRUE(f->IsPropSupported(vpAlarmHigh));
  EXPECT_TRUE(d->IsPropReadOnly(vpEngUnit));
  EXPECT_TRUE(d->IsPropSupported(vpCaption));

  d->SetMinDate(44000);
  d->SetMaxDate(44000.5);
  EXPECT_EQ(d->RangeMin(), 44000);
  EXPECT_EQ(d->RangeMax(), 44000.5);
  d->SetRangeMode(rmException);
  d->SetValue(44000.25);
  ExpectError<EPsRangeError>(
      [&] { d->SetValue(44001); },
      "Date '19.06.2020 00:00:00.000' out of range, Variable=Form1.PsD, VarProp=Value, "
      "Valid range=[18.06.2020 00:00:00.000,18.06.2020 12:00:00.000]");
  EXPECT_EQ(d->Value(), 44000.25);

  const TPsClassMeta* meta = FindClass("TPsDateTime");
  ASSERT_NE(meta, nullptr);
  vcl::Owned<vcl::TComponent> created(static_cast<vcl::TComponent*>(meta->Create(nullptr)));
  EXPECT_EQ(created->ClassName(), "TPsDateTime");
}

}  // namespace
