// The state and bit-set variables, their items and item lists.
#include <gtest/gtest.h>

#include <atomic>
#include <cmath>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "ExpectError.h"
#include "PsVarsTestSupport.h"
#include "toolkit/PsVarsState.h"
#include "toolkit/psRTTI.h"
#include "vcl/ClassesFiler.h"

namespace {

using namespace toolkit;
using korva_test::ExpectError;

class PsStateTest : public vars_test::VarsTest {
 protected:
  // A state variable with A (0, normal), B (1, warning), C (5, alarm).
  TPsState* MakeABC() {
    auto* s = Make<TPsState>("PsS");
    s->SetAlarmMode(amAlarms);
    const struct {
      int32_t value;
      const char* name;
      TPsVarAlarmState alarm;
    } items[] = {{0, "A", asNormal}, {1, "B", asWarning}, {5, "C", asAlarm}};
    for (const auto& item : items) {
      auto* added = static_cast<TPsStateItem*>(s->States()->Add());
      added->SetValue(item.value);
      added->SetName(item.name);
      added->SetAlarmState(item.alarm);
    }
    return s;
  }

  static std::vector<int32_t> Values(const TPsStateItemlist& list) {
    std::vector<int32_t> values;
    for (int i = 0; i < list.Count(); ++i)
      values.push_back(list.GetItems(i)->StateValue());
    return values;
  }
};

TEST_F(PsStateTest, StatesByNameAndNumber) {
  TPsState* s = MakeABC();
  EXPECT_EQ(s->RangeMode(), rmException);
  struct Case {
    const char* text;
    int32_t value;
    const char* reads;
    TPsVarAlarmState alarm;
  } cases[] = {{"B", 1, "B", asWarning},
               {"5", 5, "C", asAlarm},
               {"3", 3, "3", asUnknown},
               {"A", 0, "A", asNormal}};
  for (const Case& c : cases) {
    s->SetPropAsString(vpValue, c.text);
    EXPECT_EQ(s->Value(), c.value) << c.text;
    EXPECT_EQ(s->GetPropAsString(vpValue), c.reads) << c.text;
    EXPECT_EQ(s->GetPropValue(vpAlarmState).AsInt32(), c.alarm) << c.text;
  }
  // Names are exact: "b" is read as a number and is none.
  EXPECT_THROW(s->SetPropAsString(vpValue, "b"), vcl::EConvertError);
  EXPECT_EQ(s->Value(), 0);

  // Conversions of values other than the stored one.
  EXPECT_EQ(s->GetVarPropValueAsInteger(vpValue, "C"), 5);
  EXPECT_EQ(s->GetVarPropValueAsString(vpValue, "C"), "C");
  EXPECT_EQ(s->GetVarPropValueAsString(vpValue, "1"), "B");
  EXPECT_EQ(s->GetVarPropValueAsString(vpValue, "zz"), "zz");
  EXPECT_EQ(s->GetVarPropValueAsString(vpValue, PsBadInteger), "#BAD");
  static_cast<TPsStateItem*>(s->States()->GetItems(1))->SetName("");
  EXPECT_EQ(s->GetVarPropValueAsString(vpValue, 1), "1");
  EXPECT_EQ(s->InternalIndex(5), 2);
  EXPECT_EQ(s->InternalIndex(3), -1);
  EXPECT_EQ(s->StateNames(), (std::vector<std::string>{"A", "", "C"}));
}

TEST_F(PsStateTest, ItemValuesAreKeysInNumericOrder) {
  TPsStateItemlist list(nullptr);
  for (int i = 0; i < 3; ++i)
    list.Add();
  EXPECT_EQ(Values(list), (std::vector<int32_t>{0, 1, 2}));
  auto* third = static_cast<TPsStateItem*>(list.GetItems(2));
  ExpectError<vcl::Exception>([&] { third->SetValue(1); }, "Duplicate state value: 1");
  EXPECT_EQ(third->Value(), 2);
  EXPECT_EQ(list.FindValue(2), third);

  // Any two 32-bit values, the sign among them, order by number.
  list.Clear();
  for (int32_t value : {-10, -5, 3, 10000000, -20000000, INT32_MIN, INT32_MAX})
    static_cast<TPsStateItem*>(list.Add())->SetValue(value);
  EXPECT_EQ(Values(list),
            (std::vector<int32_t>{INT32_MIN, -20000000, -10, -5, 3, 10000000, INT32_MAX}));
  EXPECT_EQ(TPsStateItemlist::ValueToKey(INT32_MIN), "0000000000");
  EXPECT_EQ(TPsStateItemlist::ValueToKey(-1), "2147483647");
  EXPECT_EQ(TPsStateItemlist::ValueToKey(INT32_MAX), "4294967295");
  // After the largest value there is none for a new item.
  EXPECT_THROW(list.Add(), EPsRangeError);
  EXPECT_EQ(list.Count(), 7);
  EXPECT_EQ(list.IndexOfName(""), 0);
  EXPECT_EQ(list.IndexOfName("x"), -1);
}

TEST_F(PsStateTest, ItemChangesReachTheVariable) {
  TPsState* s = MakeABC();
  int configs = 0;
  int ranges = 0;
  TPsVarChangeSlot slot;
  slot.OnVarConfigChange = [&](TPsVar*) { ++configs; };
  slot.OnVarRangeChange = [&](TPsVar*) { ++ranges; };
  slot.Connect(s->ChangeSignal());

  auto* b = static_cast<TPsStateItem*>(s->States()->GetItems(1));
  b->SetName("Bee");
  EXPECT_EQ(std::make_pair(configs, ranges), std::make_pair(1, 0));
  b->SetAlarmState(asAlarm);
  EXPECT_EQ(std::make_pair(configs, ranges), std::make_pair(2, 0));
  b->SetValue(2);
  EXPECT_GT(configs, 2);
  EXPECT_GT(ranges, 0);
  const int before = ranges;
  s->States()->Add();
  EXPECT_GT(ranges, before);
  EXPECT_EQ(s->StateNames(), (std::vector<std::string>{"A", "Bee", "C", ""}));
  s->SetValue(2);
  EXPECT_EQ(s->GetPropAsString(vpValue), "Bee");

  // With a range in force, a new item's value and a changed one widen it.
  s->SetRangeMin(0);
  s->SetRangeMax(6);
  EXPECT_EQ(static_cast<TPsStateItem*>(s->States()->Add())->Value(), 7);
  EXPECT_EQ(s->GetRangeMax(), 7);
  b->SetValue(-4);
  EXPECT_EQ(s->GetRangeMin(), -4);
  // A copy of the list takes its values without widening for new items'
  // first values.
  TPsState copy(nullptr);
  copy.SetRangeMin(-4);
  copy.SetRangeMax(7);
  copy.SetStates(s->States());
  EXPECT_EQ(Values(*copy.States()), Values(*s->States()));
  EXPECT_EQ(std::make_pair(copy.GetRangeMin(), copy.GetRangeMax()), std::make_pair(-4, 7));
  EXPECT_EQ(copy.StateNames(), s->StateNames());
}

TEST_F(PsStateTest, ItemListsInCsvAndStreams) {
  TPsState* s = MakeABC();
  std::stringstream csv;
  s->States()->SaveToStream(csv);
  EXPECT_EQ(csv.str(), "AlarmState;Name;Value\r\nasNormal;A;0\r\nasWarning;B;1\r\nasAlarm;C;5\r\n");
  TPsStateItemlist loaded(nullptr);
  loaded.LoadFromStream(csv);
  EXPECT_EQ(Values(loaded), (std::vector<int32_t>{0, 1, 5}));

  // A bit item reads the number older streams stored as "Value".
  std::stringstream stream;
  vcl::TWriter writer(stream);
  writer.WriteListBegin();
  writer.WritePropName("Value");
  writer.WriteInteger(7);
  writer.WriteListEnd();
  vcl::TReader reader(stream);
  TPsBitItem item;
  TPsReader::ReadPersistent(reader, item);
  EXPECT_EQ(item.BitNr(), 7);
  std::stringstream written;
  vcl::TWriter again(written);
  TPsWriter::WritePersistent(again, item);
  EXPECT_EQ(written.str().find("Value"), std::string::npos);
}

TEST_F(PsStateTest, BitSetTexts) {
  auto* bits = Make<TPsBitSet>("PsBits");
  bits->SetBitCount(4);
  EXPECT_EQ(bits->GetBitMask(), 15u);
  EXPECT_EQ(bits->RangeMode(), rmException);
  ExpectError<EPsRangeError>([&] { bits->SetValue(16); },
                             "Value 16 out of range Variable=Form1.PsBits, VarProp=Value");
  bits->SetValue(5);
  EXPECT_EQ(bits->GetPropAsString(vpValue), "Bit0;Bit2");
  // Bits at BitCount and above are no part of the text.
  EXPECT_EQ(bits->GetVarPropValueAsString(vpValue, PsVariant(int32_t{0x35})), "Bit0;Bit2");
  EXPECT_EQ(bits->GetPropDataType(vpValue), vdtLongWord);
  EXPECT_EQ(bits->GetPropValue(vpValue).VarType(), varLongWord);

  // Texts back to values: the default names, item names, and a name of no
  // bit, which stores nothing.
  auto* two = static_cast<TPsBitItem*>(bits->States()->Add());
  two->SetBitNr(3);
  two->SetName("Three");
  struct Case {
    const char* text;
    uint32_t value;
  } cases[] = {{"Bit0;Bit2", 5}, {"", 0}, {"Three;Bit1", 10}, {"\"Bit2\"", 4}};
  for (const Case& c : cases) {
    bits->SetPropAsStringGood(vpValue, c.text);
    EXPECT_EQ(bits->GetPropAsLongWord(vpValue), c.value) << c.text;
    bits->SetPropAsStringGood(vpValue, bits->GetPropAsString(vpValue));
    EXPECT_EQ(bits->GetPropAsLongWord(vpValue), c.value) << "round trip of " << c.text;
  }
  EXPECT_THROW(bits->SetPropAsStringGood(vpValue, "Bit1;three"), vcl::EStringListError);
  EXPECT_THROW(bits->SetPropAsStringGood(vpValue, "Bit3"), vcl::EStringListError);
  EXPECT_EQ(bits->Value(), 4);
  // Reading a text as a number ignores case and unknown names, and takes
  // masks in decimal.
  EXPECT_EQ(bits->GetVarPropValueAsLongWord(vpValue, "bit0;nothing;8"), 9u);
  EXPECT_EQ(bits->GetVarPropValueAsLongWord(vpValue, "THREE;bit2"), 12u);
  EXPECT_EQ(bits->GetVarPropValueAsInteger(vpValue, 255), 15);
}

TEST_F(PsStateTest, StrictBitSets) {
  auto* bits = Make<TPsBitSet>("PsBits");
  bits->SetValue(15);
  bits->SetBitCount(3);
  bits->SetStrictStates(true);
  ASSERT_EQ(bits->States()->Count(), 3);
  for (int i = 0; i < 3; ++i) {
    EXPECT_EQ(bits->States()->GetItems(i)->BitNr(), i);
    EXPECT_EQ(bits->States()->GetItems(i)->Name(), "Bit" + std::to_string(i));
  }
  EXPECT_EQ(bits->GetPropAsString(vpValue), "Bit0;Bit1;Bit2");
  EXPECT_EQ(bits->GetPropAsLongWord(vpValue), 7u);
  EXPECT_THROW(bits->SetPropAsStringGood(vpValue, "Bit3"), vcl::EStringListError);
  // An item moved to BitCount keeps its bit in the number, but the text
  // names bits below BitCount only.
  bits->States()->GetItems(2)->SetBitNr(3);
  EXPECT_EQ(bits->BitCount(), 3);
  bits->SetValue(0b1011);
  EXPECT_EQ(bits->GetPropAsLongWord(vpValue), 0b1011u);
  EXPECT_EQ(bits->GetPropAsString(vpValue), "Bit0;Bit1");
  // The mask is the items' bits; fewer bits delete the last items.
  bits->States()->GetItems(2)->SetBitNr(9);
  EXPECT_EQ(bits->GetBitMask(), 0x203u);
  bits->SetBitCount(1);
  EXPECT_EQ(bits->States()->Count(), 1);
  EXPECT_EQ(bits->GetBitMask(), 1u);
}

TEST_F(PsStateTest, BitSetsFromArraysAndNumbers) {
  auto* bits = Make<TPsBitSet>("PsBits");
  for (int32_t low : {0, 1, -3}) {
    bits->SetBitCount(32);
    bits->SetValue(0);
    PsVariant array = PsVariant::Array({{low, low + 3}}, varBoolean);
    array.PutElementAt(0, true);
    array.PutElementAt(2, true);
    bits->SetPropValue(vpValue, array);
    EXPECT_EQ(bits->Value(), 5) << "low bound " << low;
    EXPECT_EQ(bits->BitCount(), 4) << "low bound " << low;
  }
  bits->SetPropValueGood(vpValue, PsVariant::Array({{0, -1}}, varBoolean));
  EXPECT_EQ(bits->Value(), 5);
  ExpectError<EPsException>(
      [&] {
        bits->SetPropValueGood(vpValue, PsVariant::Array({{0, 32}}, varBoolean));
      },
      "Max BitCount is 32");

  bits->SetBitCount(32);
  struct Case {
    PsVariant value;
    uint32_t stored;
  } cases[] = {{int64_t{0x100000005}, 5},
               {PsVariant(4294967295.0), 0xFFFFFFFFu},
               {PsVariant(7.9), 7},
               {PsVariant(true), 1},
               {PsVariant("Bit4"), 16}};
  for (const Case& c : cases) {
    bits->SetPropValueGood(vpValue, c.value);
    EXPECT_EQ(static_cast<uint32_t>(bits->Value()), c.stored) << VariantToText(c.value, true);
  }
  for (double beyond : {4294967296.0, -1.0, std::nan("")})
    EXPECT_THROW(bits->SetPropValueGood(vpValue, beyond), vcl::ERangeError) << beyond;
  EXPECT_EQ(bits->Value(), 16);
}

TEST_F(PsStateTest, BitsStayWithin32) {
  auto* bits = Make<TPsBitSet>("PsBits");
  bits->SetBitCount(4);
  ExpectError<EPsException>([&] { bits->SetBitCount(33); }, "Max BitCount is 32");
  EXPECT_EQ(bits->BitCount(), 4);
  EXPECT_EQ(std::make_pair(bits->GetRangeMin(), bits->GetRangeMax()), std::make_pair(0, 15));
  ExpectError<EPsRangeError>([&] { bits->InternalIndex(16); }, "Index out of range: 16 [0-15]");

  auto* item = static_cast<TPsBitItem*>(bits->States()->Add());
  item->SetBitNr(31);
  for (int32_t wrong : {32, -1})
    EXPECT_THROW(item->SetBitNr(wrong), EPsRangeError) << wrong;
  EXPECT_EQ(item->BitNr(), 31);
  // An item beyond BitCount widens it; a new item after bit 31 takes the
  // lowest free bit.
  EXPECT_EQ(bits->BitCount(), 32);
  EXPECT_EQ(static_cast<TPsBitItem*>(bits->States()->Add())->BitNr(), 0);

  struct Case {
    int32_t rangeMax;
    int32_t bitCount;
  } cases[] = {{1, 1}, {2, 2}, {15, 5}, {16, 5}, {INT32_MAX, 32}};
  for (const Case& c : cases) {
    bits->SetRangeMax(c.rangeMax);
    EXPECT_EQ(bits->BitCount(), c.bitCount) << c.rangeMax;
  }
  EXPECT_THROW(bits->SetRangeMax(0), EPsRangeError);
  EXPECT_EQ(std::make_pair(bits->GetRangeMin(), bits->GetRangeMax()),
            std::make_pair(INT32_MIN, INT32_MAX));

  // With an item for every bit there is none left for another.
  while (bits->States()->Count() < 32)
    bits->States()->Add();
  ExpectError<EPsException>([&] { bits->States()->Add(); }, "Max BitCount is 32");
  EXPECT_EQ(bits->States()->Count(), 32);
}

TEST_F(PsStateTest, BitSetAlarmStates) {
  auto* bits = Make<TPsBitSet>("PsBits");
  bits->SetAlarmMode(amAlarms);
  const TPsVarAlarmState states[] = {asNormal, asWarning, asUnknown, asAlarm};
  for (TPsVarAlarmState state : states)
    static_cast<TPsBitItem*>(bits->States()->Add())->SetAlarmState(state);
  struct Case {
    int32_t value;
    TPsVarAlarmState alarm;
  } cases[] = {{0, asNormal}, {1, asNormal}, {4, asNormal}, {2, asWarning},
               {10, asAlarm}, {8, asAlarm},  {16, asNormal}};
  for (const Case& c : cases) {
    bits->SetValue(c.value);
    EXPECT_EQ(bits->GetPropValue(vpAlarmState).AsInt32(), c.alarm) << c.value;
  }
}

TEST_F(PsStateTest, KindsAreCreatedByName) {
  for (const char* name : {"TPsState", "TPsBitSet"}) {
    const TPsClassMeta* meta = FindClass(name);
    ASSERT_NE(meta, nullptr) << name;
    vcl::Owned<vcl::TComponent> created(static_cast<vcl::TComponent*>(meta->Create(nullptr)));
    EXPECT_EQ(created->ClassName(), name);
  }
  TPsBitSet bits(nullptr);
  TPsInstanceProperties props(&bits);
  props.Props(props.IndexOf("BitCount"))->SetAsString("6");
  EXPECT_EQ(bits.BitCount(), 6);

  // A freed image list is let go.
  auto* images = new vcl::TComponent(form_);
  bits.SetImages(images);
  delete images;
  EXPECT_EQ(bits.Images(), nullptr);
}

// Conversions on another thread read the states while the main thread
// renames them.
TEST_F(PsStateTest, StateTextsOnAnotherThread) {
  TPsState* s = MakeABC();
  s->SetValue(1);
  TPsVarLink link;
  link.SetVariable(s);
  std::atomic<bool> done = false;
  std::string failure;
  std::thread reader([&] {
    while (!done) {
      const std::string text = link.GetSnapshot(vdtOleStr, false).Value.AsText();
      if (text != "B" && text != "Bee") {
        failure = text;
        return;
      }
    }
  });
  auto* b = s->States()->GetItems(1);
  for (int i = 0; i < 2000; ++i)
    b->SetName(i % 2 ? "B" : "Bee");
  done = true;
  reader.join();
  EXPECT_EQ(failure, "");
}

}  // namespace
