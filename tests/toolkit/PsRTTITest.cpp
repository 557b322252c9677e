// Property access by name: the wrappers of every kind, the property lists,
// the CSV rows and the application registry.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "ExpectError.h"
#include "RttiTestClasses.h"
#include "toolkit/PsUtils.h"
#include "toolkit/psRTTI.h"
#include "vcl/Forms.h"

namespace {

using namespace rtti_test;
using korva_test::ExpectError;
using toolkit::EPsRTTIException;
using toolkit::EPsRTTIReadOnlyError;
using toolkit::PsApplication;
using toolkit::PsVariant;
using toolkit::TPsClassProperties;
using toolkit::TPsInstanceProperties;
using toolkit::TPsRTTIProp;

// Form1 owns Level (a variable) and Other (a plain component); Part sits on
// Form1 too and has a component property of its own.
class TPartComponent : public vcl::TComponent {
 public:
  explicit TPartComponent(vcl::TComponent* owner) : vcl::TComponent(owner, "TPartComponent") {}
  static const TPsClassMeta& ClassMeta() {
    using T = TPartComponent;
    static const TPsClassMeta meta =
        TPsClassMetaBuilder<T>("TPartComponent", &toolkit::ComponentClassMeta())
            .Object("Partner", TTestVar::ClassMeta(), &T::Partner, &T::Partner)
            .Build();
    return meta;
  }
  TTestVar* Partner = nullptr;
};

// An unsigned 32-bit property, whose range (0..4294967295) reads as
// MinValue > MaxValue, and a subrange 0..255.
class TCounts : public TPsPersistent {
 public:
  std::string ClassName() const override { return "TCounts"; }
  static const TPsClassMeta& ClassMeta() {
    using T = TCounts;
    static const toolkit::TPsTypeInfo cardinal{"Cardinal", toolkit::tkInteger, 0, -1, {}, nullptr};
    static const toolkit::TPsTypeInfo byte{"Byte", toolkit::tkInteger, 0, 255, {}, nullptr};
    static const TPsClassMeta meta = TPsClassMetaBuilder<T>("TCounts", &TPsPersistent::ClassMeta())
                                         .Integer("Total", &T::Total, &T::Total, cardinal)
                                         .Integer("Small", &T::Small, &T::Small, byte)
                                         .Build();
    return meta;
  }
  uint32_t Total = 0;
  int32_t Small = 0;
};

class PsRTTITest : public testing::Test {
 protected:
  PsRTTITest() {
    form1_ = new vcl::TComponent(&vcl::Application());
    form1_->SetName("Form1");
    level_ = new TTestVar(form1_);
    level_->SetName("Level");
    other_ = new vcl::TComponent(form1_);
    other_->SetName("Other");
  }

  TPsRTTIProp& Prop(const std::string& name) {
    const int index = props_.IndexOf(name);
    EXPECT_GE(index, 0) << name;
    return *props_.Props(index);
  }

  // Before the property lists below are made.
  const bool registered_ = [] {
    RegisterTestClasses();
    toolkit::RegisterClass(TPartComponent::ClassMeta());
    toolkit::RegisterClass(TCounts::ClassMeta());
    return true;
  }();
  vcl::ScopedFormatSettings settings_{vcl::TFormatSettings{}};
  vcl::ScopedApplication application_;
  vcl::TComponent* form1_;
  TTestVar* level_;
  vcl::TComponent* other_;
  TKindsItem item_;
  TPsInstanceProperties props_{&item_};
};

TEST_F(PsRTTITest, ListsTheListedKindsInDeclarationOrder) {
  const std::vector<std::string> listed = {"Number", "Letter",   "VarProp", "Ratio", "Data",
                                           "Wide",   "Text",     "Note",    "Extra", "Enabled",
                                           "Stamp",  "Variable", "Partner", "Size"};
  TPsClassProperties classProps(&TKindsItem::ClassMeta());
  ASSERT_EQ(classProps.Count(), static_cast<int>(listed.size()));
  for (int i = 0; i < classProps.Count(); ++i) {
    EXPECT_EQ(classProps.GetPropertyText(i), listed[i]);
    EXPECT_EQ(props_.Props(i)->Name(), listed[i]);
  }
  EXPECT_EQ(props_.GetPropertyText(0), "Number=0");
  // The wrapper kind follows the declared type: Boolean and TDateTime are
  // told apart from other enumerations and floats, components from objects.
  EXPECT_NE(dynamic_cast<toolkit::TPsBooleanRTTIProp*>(&Prop("Enabled")), nullptr);
  EXPECT_EQ(dynamic_cast<toolkit::TPsBooleanRTTIProp*>(&Prop("VarProp")), nullptr);
  EXPECT_NE(dynamic_cast<toolkit::TPsDateTimeRTTIProp*>(&Prop("Stamp")), nullptr);
  EXPECT_EQ(dynamic_cast<toolkit::TPsDateTimeRTTIProp*>(&Prop("Ratio")), nullptr);
  EXPECT_NE(dynamic_cast<toolkit::TPsComponentRTTIProp*>(&Prop("Variable")), nullptr);
  EXPECT_EQ(dynamic_cast<toolkit::TPsComponentRTTIProp*>(&Prop("Data")), nullptr);

  TPsClassProperties pair(&TPairItem::ClassMeta());
  EXPECT_EQ(pair.Items(1)->Name(), "VarProp");
  for (int index : {2, 5}) {
    ExpectError<EPsRTTIException>(
        [&] { pair.Items(index); },
        vcl::Format("TPsClassProperties: Invalid property index %d (valid: 0-1", index));
  }
  ExpectError<EPsRTTIException>([&] { pair.Items(-1); },
                                "TPsClassProperties: Invalid property index -1 (valid: 0-1");
  EXPECT_THROW(TPsClassProperties(nullptr), vcl::EAssertionFailed);
  vcl::TComponent unregistered(nullptr);
  EXPECT_THROW(TPsInstanceProperties{&unregistered}, vcl::EAssertionFailed);
}

// A subrange refuses what lies outside it; an unsigned 32-bit property
// takes every 32-bit value.
TEST_F(PsRTTITest, OrdinalWritesKeepToTheirRangeButUnsignedOnesTakeAll) {
  TCounts counts;
  TPsInstanceProperties props(&counts);
  TPsRTTIProp& total = *props.Props(props.IndexOf("Total"));
  TPsRTTIProp& small = *props.Props(props.IndexOf("Small"));
  total.SetAsString("-1");
  EXPECT_EQ(counts.Total, 0xFFFFFFFFu);
  total.SetAsVariant(PsVariant(INT32_MIN));
  EXPECT_EQ(counts.Total, 0x80000000u);
  small.SetAsString("255");
  for (const char* outside : {"256", "-1"}) {
    ExpectError<EPsRTTIException>(
        [&] { small.SetAsString(outside); },
        vcl::Format("Property \"Small\": Value %s out of range (0..255)", outside));
  }
  EXPECT_EQ(counts.Small, 255);
}

TEST_F(PsRTTITest, EnumerationsTakeNamesAndNumbersWithinTheirRange) {
  TPsRTTIProp& varProp = Prop("VarProp");
  varProp.SetAsString("VPVALUE");
  EXPECT_EQ(varProp.GetAsString(), "vpValue");
  varProp.SetAsString("1");
  EXPECT_EQ(item_.VarProp, vpCaption);
  varProp.SetAsString("0");
  EXPECT_EQ(item_.VarProp, vpValue);
  varProp.SetAsString("vpother2");
  EXPECT_EQ(item_.VarProp, vpOther2);
  ExpectError<EPsRTTIException>([&] { varProp.SetAsString("19"); },
                                "Property \"VarProp\": Value 19 out of range (0..18)");
  ExpectError<EPsRTTIException>([&] { varProp.SetAsVariant(PsVariant(-1)); },
                                "Property \"VarProp\": Value -1 out of range (0..18)");
  EXPECT_EQ(item_.VarProp, vpOther2);
  EXPECT_THROW(varProp.SetAsString("vpNothing"), vcl::EConvertError);
  item_.VarProp = 25;
  EXPECT_EQ(varProp.GetAsString(), "Invalid <25>");
  EXPECT_EQ(varProp.GetAsVariant().AsInt32(), 25);

  vcl::TStringList names;
  names.Add("stale");
  varProp.GetValues(names);
  ASSERT_EQ(names.Count(), 19);
  EXPECT_EQ(names.Strings(18), "vpOther2");
  Prop("Number").GetValues(names);
  EXPECT_EQ(names.Count(), 0);
}

TEST_F(PsRTTITest, BooleansCharactersAndNumbers) {
  TPsRTTIProp& enabled = Prop("Enabled");
  struct BoolCase {
    PsVariant value;
    bool expected;
  };
  const BoolCase bools[] = {{PsVariant("true"), true},     {PsVariant(false), false},
                            {PsVariant("1"), true},        {PsVariant("False"), false},
                            {PsVariant(int32_t(7)), true}, {PsVariant(), false}};
  for (const BoolCase& c : bools) {
    item_.Enabled = !c.expected;
    enabled.SetAsVariant(c.value);
    EXPECT_EQ(item_.Enabled, c.expected) << toolkit::VariantToText(c.value, true);
    EXPECT_EQ(enabled.GetAsString(), c.expected ? "True" : "False");
    EXPECT_EQ(enabled.GetAsVariant().VarType(), toolkit::varBoolean);
  }
  enabled.SetAsString("true");
  EXPECT_TRUE(item_.Enabled);

  TPsRTTIProp& letter = Prop("Letter");
  letter.SetAsString("A");
  EXPECT_EQ(item_.Letter, 'A');
  letter.SetAsString("66");
  EXPECT_EQ(item_.Letter, 'B');
  EXPECT_EQ(letter.GetAsString(), "B");
  EXPECT_EQ(letter.GetAsVariant().AsInt32(), 66);
  ExpectError<vcl::EConvertError>([&] { letter.SetAsString(""); },
                                  "'' is not a valid integer value");
  ExpectError<EPsRTTIException>([&] { letter.SetAsString("256"); },
                                "Property \"Letter\": Value 256 out of range (0..255)");
  letter.SetAsString("\xFF");
  EXPECT_EQ(letter.GetAsVariant().AsInt32(), 255);
  EXPECT_EQ(letter.GetAsString(), "\xFF");
  // A control character reads as its code: it cannot stand in a CSV row.
  letter.SetAsString("13");
  EXPECT_EQ(letter.GetAsString(), "13");
  letter.SetAsString("\t");
  EXPECT_EQ(letter.GetAsString(), "09");
  // Every code comes back from its text: a tab is no '9'.
  for (int32_t code = 0; code <= 255; ++code) {
    letter.SetAsVariant(PsVariant(code));
    const std::string text = letter.GetAsString();
    letter.SetAsVariant(PsVariant(0x20));
    letter.SetAsString(text);
    EXPECT_EQ(letter.GetAsVariant().AsInt32(), code) << text;
  }
  // A wide character beyond one byte reads and writes as its code.
  Prop("Wide").SetAsString("9786");
  EXPECT_EQ(item_.Wide, 9786);
  EXPECT_EQ(Prop("Wide").GetAsString(), "9786");

  TPsRTTIProp& number = Prop("Number");
  number.SetAsString("$1F");
  EXPECT_EQ(item_.Number, 31);
  number.SetAsVariant(PsVariant(-5));
  EXPECT_EQ(number.GetAsString(), "-5");
  number.Clear();
  EXPECT_EQ(item_.Number, 0);

  Prop("Ratio").SetAsString("1.5E3");
  EXPECT_EQ(item_.Ratio, 1500.0);
  EXPECT_EQ(Prop("Ratio").GetAsString(), "1500");
  EXPECT_THROW(Prop("Ratio").SetAsString("x"), vcl::EConvertError);
}

TEST_F(PsRTTITest, DateTimesTakeLocaleTextsAndDayCounts) {
  TPsRTTIProp& stamp = Prop("Stamp");
  stamp.SetAsString("05.03.2024 14:03:07");
  EXPECT_DOUBLE_EQ(item_.Stamp, vcl::EncodeDate(2024, 3, 5) + vcl::EncodeTime(14, 3, 7, 0));
  EXPECT_EQ(stamp.GetAsString(), "05.03.2024 14:03:07");
  stamp.SetAsString("45000.5");
  EXPECT_EQ(item_.Stamp, 45000.5);
  stamp.SetAsVariant(PsVariant("06.03.2024"));
  EXPECT_EQ(stamp.GetAsString(), "06.03.2024");
  stamp.SetAsVariant(PsVariant::Date(2.25));
  EXPECT_EQ(item_.Stamp, 2.25);
  EXPECT_EQ(stamp.GetAsVariant().VarType(), toolkit::varDate);
  stamp.Clear();
  EXPECT_EQ(item_.Stamp, 0.0);
  // A day count must be a date of the years 1 to 9999, or it could not be shown.
  stamp.SetAsString("2958465.5");
  EXPECT_EQ(stamp.GetAsString(), "31.12.9999 12:00:00");
  ExpectError<vcl::EConvertError>([&] { stamp.SetAsString("2958466"); },
                                  "'2958466' is not a valid date and time");
  ExpectError<vcl::EConvertError>([&] { stamp.SetAsString("-693594"); },
                                  "'-693594' is not a valid date and time");
  EXPECT_EQ(item_.Stamp, 2958465.5);
  EXPECT_THROW(stamp.SetAsString("tomorrow"), vcl::EConvertError);
}

TEST_F(PsRTTITest, TextsAndVariants) {
  Prop("Text").SetAsVariant(PsVariant(int32_t(12)));
  EXPECT_EQ(item_.Text, "12");
  Prop("Text").Clear();
  EXPECT_EQ(item_.Text, "");
  Prop("Extra").SetAsString("abc");
  EXPECT_EQ(item_.Extra.VarType(), toolkit::varString);
  EXPECT_EQ(Prop("Extra").GetAsString(), "abc");
  // No value leaves a variant property as it is (its Clear does nothing).
  Prop("Extra").SetAsVariant(PsVariant::Null());
  EXPECT_EQ(item_.Extra.AsText(), "abc");
  item_.Extra = PsVariant();
  EXPECT_EQ(Prop("Extra").GetAsString(), "");

  // Equal values of one type are equal; another type never is.
  TKindsItem other;
  TPsInstanceProperties otherProps(&other);
  item_.Number = other.Number = 3;
  EXPECT_TRUE(Prop("Number").Equals(otherProps.Props(0)));
  other.Number = 4;
  EXPECT_FALSE(Prop("Number").Equals(otherProps.Props(0)));
  EXPECT_FALSE(Prop("Number").Equals(nullptr));
  item_.Text = other.Note = "x";  // equal texts, but a string is no wide string
  EXPECT_FALSE(Prop("Text").Equals(otherProps.Props(otherProps.IndexOf("Note"))));
}

TEST_F(PsRTTITest, ComponentsByPathAndObjectsByIdentity) {
  TPsRTTIProp& variable = Prop("Variable");
  EXPECT_EQ(variable.GetAsString(), "");
  variable.SetAsString("form1.LEVEL");
  EXPECT_EQ(item_.Variable(), level_);
  EXPECT_EQ(variable.GetAsString(), "Form1.Level");
  EXPECT_EQ(PsApplication()->GetComponentName(level_), "Form1.Level");
  EXPECT_EQ(PsApplication()->GetComponentName(form1_), "Form1");
  EXPECT_EQ(PsApplication()->GetComponentName(nullptr), "(none)");
  variable.SetAsString("(none)");
  EXPECT_EQ(item_.Variable(), nullptr);

  // "Level" alone: not from the application, only beside a wrapped component.
  ExpectError<EPsRTTIException>([&] { variable.SetAsString("Level"); },
                                "Component \"Level\" not found");
  auto* part = new TPartComponent(form1_);
  TPsInstanceProperties partProps(part);
  const int partner = partProps.IndexOf("Partner");
  partProps.Props(partner)->SetAsString("Level");
  EXPECT_EQ(part->Partner, level_);
  EXPECT_EQ(partProps.GetPropertyText(partner), "Partner=Form1.Level");
  EXPECT_EQ(partProps.GetHeader(), "Name;Tag;Partner");

  ExpectError<EPsRTTIException>([&] { variable.SetAsString("Form1.Other"); },
                                "Object 'Form1.Other' is not a 'TTestVar'");
  ExpectError<EPsRTTIException>([&] { variable.SetAsVariant(PsVariant(int32_t(5))); },
                                "Property \"Variable\" cannot take an object from \"5\"");

  // An object's identity carries the address's full width.
  TDataObject data;
  item_.Data = &data;
  const std::string identity = Prop("Data").GetAsString();
  EXPECT_EQ(identity, "$" + vcl::IntToHex(static_cast<int64_t>(reinterpret_cast<uintptr_t>(&data)),
                                          2 * sizeof(void*)));
  EXPECT_EQ(identity.size(), 1 + 2 * sizeof(void*));
  ExpectError<EPsRTTIException>(
      [&] { Prop("Data").SetAsString(identity); },
      "Property \"Data\" cannot take an object from \"" + identity + "\"");
  ExpectError<EPsRTTIException>([&] { Prop("Data").SetAsVariant(PsVariant("x")); },
                                "Property \"Data\" cannot take an object from \"x\"");
  EXPECT_EQ(item_.Data, &data);
  Prop("Data").SetAsString("");
  EXPECT_EQ(item_.Data, nullptr);
}

// A write to a read-only object property fails as read-only before any
// path is looked up or any object or number is looked at.
TEST_F(PsRTTITest, ReadOnlyObjectPropertiesRefuseWritesBeforeLookingAnythingUp) {
  TFixedParts fixed;
  TDataObject data;
  fixed.Fixed = level_;
  fixed.Data = &data;
  TPsInstanceProperties props(&fixed);
  for (const std::string name : {"Fixed", "Data"}) {
    TPsRTTIProp& prop = *props.Props(props.IndexOf(name));
    const std::vector<std::function<void()>> writes = {
        [&] { prop.SetAsString("Form1.Level"); },
        [&] { prop.SetAsString("Form1.Nothing"); },
        [&] { prop.SetAsString(""); },
        [&] { prop.SetAsString("(none)"); },
        [&] { prop.SetAsVariant(PsVariant(5)); },
        [&] { prop.SetAsVariant(PsVariant()); },
        [&] { prop.SetAsString(prop.GetAsString()); },
        [&] { prop.Clear(); }};
    for (const auto& write : writes)
      ExpectError<EPsRTTIReadOnlyError>(write, name + " is ReadOnly");
  }
  EXPECT_EQ(fixed.Fixed, level_);
  EXPECT_EQ(fixed.Data, &data);
}

TEST_F(PsRTTITest, ReadOnlyPropertiesReadButRefuseEveryWrite) {
  TPsRTTIProp& size = Prop("Size");
  EXPECT_EQ(size.GetAsString(), "42");
  EXPECT_EQ(size.GetAsVariant().AsInt32(), 42);
  const std::vector<std::function<void()>> writes = {
      [&] { size.SetAsString("1"); }, [&] { size.SetAsVariant(PsVariant(int32_t(1))); },
      [&] { size.SetAsVariant(PsVariant()); }, [&] { size.Clear(); }};
  for (const auto& write : writes)
    ExpectError<EPsRTTIReadOnlyError>(write, "Size is ReadOnly");
}

TEST_F(PsRTTITest, ValuesTextQuotesOnlyWhatItMustAndSetsInOrder) {
  item_.Number = 7;
  item_.Letter = 'x';
  item_.VarProp = vpMin;
  item_.Ratio = 0.5;
  item_.Wide = 'A';
  item_.Text = "a;b";
  item_.Note = "say \"hi\"";
  item_.Extra = PsVariant("a,b");
  item_.Enabled = true;
  item_.Stamp = 45000.5;
  item_.SetVariable(level_);
  EXPECT_EQ(props_.GetValuesText(), "7;x;vpMin;0.5;$" + std::string(2 * sizeof(void*), '0') +
                                        ";A;\"a;b\";\"say \"\"hi\"\"\";a,b;True;"
                                        "15.03.2023 12:00:00;Form1.Level;;42");
  props_.SetDelimiter(',');
  EXPECT_EQ(props_.GetHeader(),
            "Number,Letter,VarProp,Ratio,Data,Wide,Text,Note,Extra,Enabled,Stamp,Variable,"
            "Partner,Size");

  // Values go in order; a missing one stops with the values before it set.
  props_.SetDelimiter(';');
  ExpectError<vcl::EStringListError>([&] { props_.SetValuesText("5;y"); },
                                     "List index out of bounds (2)");
  EXPECT_EQ(item_.Number, 5);
  EXPECT_EQ(item_.Letter, 'y');
  EXPECT_EQ(item_.VarProp, vpMin);
}

TEST_F(PsRTTITest, FindComponentWalksThePathWithoutRecursion) {
  struct Case {
    std::string path;
    char separator;
    vcl::TComponent* expected;
  };
  const Case cases[] = {
      {"form1.LEVEL", '.', level_},
      {"Form1", '.', form1_},
      {".Form1", '.', form1_},
      {"Form1/Level", '/', level_},
      {"Form1.Level", '/', nullptr},
      {"Form2.Level", '.', nullptr},
      {"Form1.", '.', nullptr},
      {"..Level", '.', nullptr},
      {"", '.', nullptr},
      {std::string(100000, '/'), '/', nullptr},
      {std::string(100000, '/') + "Form1", '/', nullptr},
  };
  for (const Case& c : cases)
    EXPECT_EQ(PsApplication()->FindComponent(c.path, c.separator), c.expected) << c.path.size();

  // Deeper levels are found, though a path names one owner only.
  auto* deep = new TTestVarKind(level_);
  deep->SetName("Deep");
  EXPECT_EQ(PsApplication()->FindComponent("Form1.Level.Deep", '.'), deep);
  EXPECT_EQ(PsApplication()->GetComponentName(deep), "Level.Deep");

  vcl::TStringList found;
  PsApplication()->FindComponents(TTestVar::ClassMeta(), found);
  ASSERT_EQ(found.Count(), 2);
  EXPECT_EQ(found.Strings(0), "Form1.Level");
  EXPECT_EQ(found.Objects(0), level_);
  EXPECT_EQ(found.Strings(1), "Level.Deep");
}

TEST_F(PsRTTITest, RegistryCreatesComponentsByClassName) {
  const TPsClassMeta* meta = toolkit::FindClass("ttestvar");
  ASSERT_EQ(meta, &TTestVar::ClassMeta());
  vcl::TComponent* made = PsApplication()->CreateComponent(*meta, form1_, 1, 2, 3, 4);
  EXPECT_EQ(made->Owner(), form1_);
  EXPECT_NE(dynamic_cast<TTestVar*>(made), nullptr);
  EXPECT_EQ(toolkit::ClassMetaOf(*made), meta);
  EXPECT_EQ(toolkit::FindClass("TPsPersistentList"), &toolkit::TPsPersistentList::ClassMeta());
  EXPECT_EQ(toolkit::FindClass("TNothing"), nullptr);
  EXPECT_THROW(PsApplication()->CreateComponent(TKindsItem::ClassMeta(), form1_, 0, 0, 0, 0),
               EPsRTTIException);
  EXPECT_TRUE(toolkit::NullRTTIProp()->IsNull());
  EXPECT_EQ(toolkit::NullRTTIProp()->GetAsString(), "NullRTTIProp");
}

}  // namespace
