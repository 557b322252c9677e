// Persistent items, the component nexus, and keyed lists with their CSV and
// component-stream forms.
#include <gtest/gtest.h>

#include <memory>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "ExpectError.h"
#include "RttiTestClasses.h"
#include "TestFolder.h"
#include "platform/Text.h"
#include "toolkit/PsVars.h"
#include "vcl/ClassesFiler.h"
#include "vcl/Forms.h"

namespace {

using namespace rtti_test;
using korva_test::ExpectError;
using toolkit::EPsException;
using toolkit::EPsRTTIException;
using toolkit::PsVariant;
using toolkit::TPsComponentNexus;
using toolkit::TPsPersistentList;
using V = std::vector<std::string>;

// The lines a list saves, without their CR LF.
V Saved(TPsPersistentList& list) {
  std::ostringstream out;
  list.SaveToStream(out);
  vcl::TStringList lines;
  std::istringstream in(out.str());
  lines.LoadFromStream(in);
  V result;
  for (int i = 0; i < lines.Count(); ++i)
    result.push_back(lines.Strings(i));
  return result;
}

void Load(TPsPersistentList& list, const std::string& text) {
  std::istringstream in(text);
  list.LoadFromStream(in);
}

class PsPersistentTest : public testing::Test {
 protected:
  PsPersistentTest() {
    RegisterTestClasses();
    form_ = new vcl::TComponent(&vcl::Application());
    form_->SetName("DataForm");
    level_ = new TTestVar(form_);
    level_->SetName("Level");
    alarm_ = new TTestVarKind(form_);
    alarm_->SetName("Alarm");
  }

  vcl::ScopedFormatSettings settings_{vcl::TFormatSettings{}};
  vcl::ScopedApplication application_;
  vcl::TComponent* form_;
  TTestVar* level_;
  TTestVar* alarm_;
};

TEST_F(PsPersistentTest, ItemsReportTheirConfigurationThroughTheirOwner) {
  TPairItem item;
  vcl::TObject* sender = nullptr;
  item.ConfigChanged();  // no callback: nothing
  item.OnConfigChanged = [&](vcl::TObject* s) { sender = s; };
  item.ConfigChanged();
  EXPECT_EQ(sender, &item);
  TDataObject owner;
  item.SetOwner(&owner);
  item.ConfigChanged();
  EXPECT_EQ(sender, &owner);
  EXPECT_EQ(item.GetOwnerOrSelf(), &owner);

  TPairItem other;
  vcl::TStringList differences;
  EXPECT_FALSE(item.HasDifferences(&other, &differences));
  EXPECT_FALSE(item.HasDifferences(&other, nullptr));
}

TEST_F(PsPersistentTest, ARemovalClearsOnlyThePropertiesThatReferToIt) {
  TKindsItem item;
  item.SetVariable(level_);
  item.Partner = alarm_;
  item.Notification(level_, vcl::TOperation::opInsert);
  EXPECT_EQ(item.Variable(), level_);
  item.Notification(level_, vcl::TOperation::opRemove);
  EXPECT_EQ(item.Variable(), nullptr);
  EXPECT_EQ(item.Partner, alarm_);

  // A read-only property cannot be cleared: it is left as it is.
  TFixedParts parts;
  parts.Variable = level_;
  parts.Fixed = level_;
  EXPECT_NO_THROW(parts.Notification(level_, vcl::TOperation::opRemove));
  EXPECT_EQ(parts.Variable, nullptr);
  EXPECT_EQ(parts.Fixed, level_);
}

TEST_F(PsPersistentTest, ANexusRelaysItsOwnersNewsAndItsOwnEnd) {
  std::vector<std::pair<vcl::TComponent*, vcl::TOperation>> calls;
  auto* nexus = new TPsComponentNexus(form_);
  nexus->OnNotification = [&](vcl::TComponent* c, vcl::TOperation op) {
    calls.emplace_back(c, op);
  };
  auto* added = new vcl::TComponent(form_);
  ASSERT_EQ(calls.size(), 1u);
  EXPECT_EQ(calls[0], std::make_pair(added, vcl::TOperation::opInsert));

  calls.clear();
  vcl::Free(form_);
  // The owner frees its components last first: the one added after the
  // nexus goes before it, and the nexus hears of it although the owner's
  // other components do not.
  ASSERT_EQ(calls.size(), 2u);
  EXPECT_EQ(calls[0], std::make_pair(added, vcl::TOperation::opRemove));
  EXPECT_EQ(calls[1],
            std::make_pair(static_cast<vcl::TComponent*>(nexus), vcl::TOperation::opRemove));

  // A handler that fails while its nexus goes does not stop the free.
  auto* owner = new vcl::TComponent(nullptr);
  auto* failing = new TPsComponentNexus(owner);
  new vcl::TComponent(owner);
  failing->OnNotification = [](vcl::TComponent*, vcl::TOperation) {
    throw vcl::Exception("handler failed");
  };
  EXPECT_NO_THROW(vcl::Free(owner));
}

// A list of pair items with the locale's ';' and a row per item.
class PsPersistentListTest : public PsPersistentTest {
 protected:
  TPsPersistentList list_{nullptr, &TPairItem::ClassMeta(), true};
};

TEST_F(PsPersistentListTest, SavesAHeaderAndARowPerItem) {
  EXPECT_EQ(Saved(list_), V({"Variable;VarProp"}));
  auto* first = static_cast<TPairItem*>(list_.Add());
  first->Variable = level_;
  auto* second = static_cast<TPairItem*>(list_.Add());
  second->VarProp = vpOther2;
  EXPECT_EQ(Saved(list_), V({"Variable;VarProp", "DataForm.Level;vpValue", ";vpOther2"}));

  TPsPersistentList copy(nullptr, &TPairItem::ClassMeta(), true);
  Load(copy, "\"Variable\";\"VarProp\"\nDataForm.Alarm;vpMax\r");
  EXPECT_EQ(Saved(copy), V({"Variable;VarProp", "DataForm.Alarm;vpMax"}));
  Load(copy, "Variable;VarProp\r\n");
  EXPECT_EQ(copy.Count(), 0);
  copy.Delimiter = ',';
  Load(copy, "Variable,VarProp\r\nDataForm.Level,vpMin\r\n");
  EXPECT_EQ(static_cast<TPairItem*>(copy.Items(0))->VarProp, vpMin);
}

TEST_F(PsPersistentListTest, FilesHoldTheSameRows) {
  korva_test::TestFolder folder;
  static_cast<TPairItem*>(list_.Add())->Variable = level_;
  list_.SaveToFile(folder.File("links.csv"));
  EXPECT_EQ(korva_test::TestFolder::Get(folder.File("links.csv")),
            "Variable;VarProp\r\nDataForm.Level;vpValue\r\n");
  TPsPersistentList back(nullptr, &TPairItem::ClassMeta(), true);
  back.LoadFromFile(folder.File("links.csv"));
  EXPECT_EQ(Saved(back), Saved(list_));
  EXPECT_THROW(back.LoadFromFile(folder.File("missing.csv")), vcl::EFOpenError);
  EXPECT_EQ(back.Count(), 1);
}

// Texts with line breaks, quotes and the delimiter, and control characters,
// come back from the stream and the file as they were saved.
TEST_F(PsPersistentListTest, RowsWithLineBreaksLoadBackTheSameItems) {
  TPsPersistentList rows(nullptr, &TRowItem::ClassMeta(), true);
  const V texts = {"one\r\ntwo", "lf\nonly", "cr\ronly", "\"quoted\"\r\n;", "\n", "plain"};
  for (const std::string& text : texts) {
    auto* item = static_cast<TRowItem*>(rows.Add());
    item->Text = text;
    item->Letter = '\t';
  }
  std::ostringstream out;
  rows.SaveToStream(out);
  EXPECT_NE(out.str().find(";\"one\r\ntwo\";"), std::string::npos) << out.str();
  const auto expectSameItems = [&](const TPsPersistentList& back) {
    ASSERT_EQ(back.Count(), static_cast<int>(texts.size()));
    for (int i = 0; i < back.Count(); ++i) {
      EXPECT_EQ(static_cast<TRowItem*>(back.Items(i))->Text, texts[static_cast<size_t>(i)]);
      EXPECT_EQ(static_cast<TRowItem*>(back.Items(i))->Letter, '\t');
    }
  };
  TPsPersistentList back(nullptr, &TRowItem::ClassMeta(), true);
  Load(back, out.str());
  expectSameItems(back);
  korva_test::TestFolder folder;
  rows.SaveToFile(folder.File("rows.csv"));
  TPsPersistentList fromFile(nullptr, &TRowItem::ClassMeta(), true);
  fromFile.LoadFromFile(folder.File("rows.csv"));
  expectSameItems(fromFile);
}

// A line break ends a row but inside a quoted field: one that begins with a
// double quote, as the delimited text reads it.
TEST(CSVRowsTest, LineBreaksEndRowsOutsideQuotedFields) {
  const std::pair<std::string, V> cases[] = {
      {"", {}},
      {"\r\n", {""}},
      {"a\r\nb\nc\rd", {"a", "b", "c", "d"}},
      {"\"x\r\ny\";z\nw", {"\"x\r\ny\";z", "w"}},
      {"ab\"c\nd", {"ab\"c", "d"}},
      {"\"a\"\"\nb\"\n", {"\"a\"\"\nb\""}},
      {"\"a\"\"b\nc\"", {"\"a\"\"b\nc\""}},
      {"\"a\"\n\"b\"", {"\"a\"", "\"b\""}},
      {"x;\"y\nz\"\r\n", {"x;\"y\nz\""}},
      {"\"open\nto the end", {"\"open\nto the end"}},
  };
  for (const auto& [text, expected] : cases) {
    vcl::TStringList rows;
    rows.Add("before");
    toolkit::CSVRows(text, ';', rows);
    V got;
    for (int i = 0; i < rows.Count(); ++i)
      got.push_back(rows.Strings(i));
    EXPECT_EQ(got, expected) << text;
  }
}

TEST_F(PsPersistentListTest, AFailedLoadLeavesTheListAsItWas) {
  Load(list_, "Variable;VarProp\r\nDataForm.Level;vpMin\r\n");
  TPsPersistent* kept = list_.Items(0);
  int finished = 0;
  list_.OnItemFinish = [&](vcl::TObject*, TPsPersistent* item) {
    EXPECT_NE(item, kept);
    ++finished;
  };

  const std::string expected =
      "The stream does not include compatible data. Expected first row: Variable;VarProp";
  struct Case {
    std::string text;
    std::string message;  // empty: any error
  };
  const Case cases[] = {
      {"", expected},
      {"variable;varprop\r\n", expected},
      {"VarProp;Variable\r\n", expected},
      {"Variable;VarProp\r\nDataForm.Level\r\n", "List index out of bounds (1)"},
      {"Variable;VarProp\r\n;vpValue\r\nDataForm.Nothing;vpValue\r\n",
       "Component \"DataForm.Nothing\" not found"},
      {"Variable;VarProp\r\n;vpValue\r\n;x\r\n", ""},
      {"Variable;VarProp\r\n\r\n", ""},
  };
  for (const Case& c : cases) {
    try {
      Load(list_, c.text);
      ADD_FAILURE() << "loaded: " << c.text;
    } catch (const vcl::Exception& error) {
      if (!c.message.empty()) {
        EXPECT_EQ(std::string(error.what()), c.message);
      }
    }
    ASSERT_EQ(list_.Count(), 1) << c.text;
    EXPECT_EQ(list_.Items(0), kept);
    EXPECT_EQ(static_cast<TPairItem*>(kept)->VarProp, vpMin);
  }
  // The new items of the failed loads were finished again: 1 + 2 + 2 + 1.
  EXPECT_EQ(finished, 6);
  list_.OnItemFinish = nullptr;
}

TEST_F(PsPersistentListTest, KeysAreUniqueWithoutRegardToCase) {
  TNamedList named;
  TNamedItem abc;
  abc.SetName("abc");
  named.Add(&abc);
  TNamedItem upper;
  upper.SetName("ABC");
  ExpectError<EPsException>([&] { named.Add(&upper); }, "Insert failed: Key 'ABC' already exists.");
  int index = 0;
  EXPECT_EQ(named.Find("ABC", index), &abc);
  EXPECT_EQ(index, 0);
  EXPECT_EQ(named.Find("abd", index), nullptr);
  EXPECT_EQ(index, -1);
  TPairItem stranger;
  ExpectError<EPsException>([&] { named.Add(&stranger); },
                            "TPsVarLinkList.Insert: Link is not of expected class.");
  named.OwnsItems = false;
  named.Clear();

  // Letters beyond A-Z are one in both cases too, as the user's locale has
  // them, whether the list searches from the start or by bisection.
  const std::string anger = platform::Utf16ToNarrow(u"\u00C4rger");
  const std::string angerUpper = platform::Utf16ToNarrow(u"\u00E4RGER");
  if (platform::NarrowToUtf16(anger) == u"\u00C4rger") {  // the narrow encoding has it
    for (const bool sorted : {false, true}) {
      TNamedList umlauts(sorted);
      umlauts.OwnsItems = false;
      TNamedItem first;
      first.SetName(anger);
      umlauts.Add(&first);
      TNamedItem second;
      second.SetName(angerUpper);
      EXPECT_THROW(umlauts.Add(&second), EPsException) << sorted;
      EXPECT_EQ(umlauts.Find(angerUpper, index), &first) << sorted;
      second.SetName("arger");
      EXPECT_EQ(umlauts.Add(&second), &second) << sorted;
      EXPECT_EQ(umlauts.Count(), 2) << sorted;
    }
  }

  // An item whose initialisation fails is freed again (the sanitizers see it).
  named.OnItemInit = [](vcl::TObject*, TPsPersistent*) { throw vcl::Exception("no"); };
  EXPECT_THROW(named.Add(), vcl::Exception);
  EXPECT_EQ(named.Count(), 0);

  // The base key is the item's identity in full width.
  TPairItem* item = static_cast<TPairItem*>(list_.Add());
  EXPECT_EQ(
      list_.GetItemKey(item),
      vcl::IntToHex(static_cast<int64_t>(reinterpret_cast<uintptr_t>(item)), 2 * sizeof(void*)));
  EXPECT_EQ(list_.IndexOf(item), 0);
}

TEST_F(PsPersistentListTest, SortedListsKeepKeyOrderThroughRenames) {
  TNamedList sorted(true);
  std::vector<std::string> order;
  sorted.OnItemInit = [&](vcl::TObject* sender, TPsPersistent*) {
    EXPECT_EQ(sender, &sorted);
    order.push_back("init");
  };
  Load(sorted, "Name;Value\r\nd;4\r\nb;2\r\n");
  auto* c = static_cast<TNamedItem*>(sorted.Insert(0, nullptr));
  c->SetName("c");
  EXPECT_EQ(sorted.IndexOf(c), 1);
  EXPECT_EQ(Saved(sorted), V({"Name;Value", "b;2", "c;0", "d;4"}));
  EXPECT_EQ(order.size(), 3u);

  int configs = 0;
  sorted.OnItemConfig = [&](vcl::TObject*, TPsPersistent* item) {
    EXPECT_EQ(item, c);
    ++configs;
  };
  c->SetName("a");
  EXPECT_EQ(sorted.IndexOf(c), 0);
  EXPECT_EQ(configs, 1);
  ExpectError<vcl::Exception>([&] { c->SetName("d"); },
                              "Update failed: Item for Key d already exists.");
}

// A sorted list moves an item to its new key only from the entry that
// holds it: an old key that names another item's entry changes nothing.
TEST_F(PsPersistentListTest, ASortedKeyMovesOnlyFromTheEntryThatHoldsTheItem) {
  TNamedList sorted(true);
  Load(sorted, "Name;Value\r\na;1\r\nb;2\r\n");
  TNamedItem* a = sorted.Named(0);
  TNamedItem* b = sorted.Named(1);
  b->OnConfigChanged = nullptr;  // the list does not hear of the rename
  b->SetName("c");
  sorted.UpdateKeyValue(b, "a");
  EXPECT_EQ(sorted.Count(), 2);
  EXPECT_EQ(sorted.Items(sorted.IndexOfKey("a")), a);
  EXPECT_EQ(sorted.Items(sorted.IndexOfKey("b")), b);
  EXPECT_EQ(sorted.IndexOfKey("c"), -1);
  sorted.UpdateKeyValue(b, "b");
  EXPECT_EQ(sorted.Items(sorted.IndexOfKey("c")), b);
  EXPECT_EQ(sorted.IndexOfKey("b"), -1);
}

TEST_F(PsPersistentListTest, RemovalsReachItemsForDerivedComponentClassesToo) {
  // The list learns of the form's components through a nexus, as its users do.
  TPsPersistentList kinds(nullptr, &TKindsItem::ClassMeta(), true);
  auto* nexus = new TPsComponentNexus(form_);
  nexus->OnNotification = [&](vcl::TComponent* c, vcl::TOperation op) {
    kinds.Notification(c, op);
  };
  auto* item = static_cast<TKindsItem*>(kinds.Add());
  item->SetVariable(level_);
  item->Partner = alarm_;
  vcl::Free(alarm_);  // a TTestVarKind, where the properties name TTestVar
  EXPECT_EQ(item->Partner, nullptr);
  EXPECT_EQ(item->Variable(), level_);
  // Components of other classes and other operations are not passed on.
  item->Partner = level_;
  kinds.Notification(form_, vcl::TOperation::opRemove);
  kinds.Notification(level_, vcl::TOperation::opInsert);
  EXPECT_EQ(item->Partner, level_);
  kinds.NotifyOperations.insert(vcl::TOperation::opInsert);
  kinds.Notification(level_, vcl::TOperation::opInsert);  // items ignore insertions
  EXPECT_EQ(item->Partner, level_);
  nexus->OnNotification = nullptr;
}

TEST_F(PsPersistentListTest, ARemovalReachesOnlyTheItemsStillListedWhenTheirTurnComes) {
  TPsPersistentList links(nullptr, &toolkit::TPsVarLink::ClassMeta(), false);
  toolkit::TPsInteger variable(nullptr);
  std::vector<std::unique_ptr<toolkit::TPsVarLink>> made;
  for (int i = 0; i < 3; ++i) {
    made.emplace_back(static_cast<toolkit::TPsVarLink*>(links.Add()));
    made.back()->SetVariable(&variable);
  }
  toolkit::TPsVarLink* second = made[1].get();
  // The first link, cleared, has the list drop the second before its turn.
  links.OnItemConfig = [&](vcl::TObject*, TPsPersistent* item) {
    if (item == made[0].get() && links.IndexOf(second) >= 0)
      links.Delete(links.IndexOf(second));
  };
  links.Notification(&variable, vcl::TOperation::opRemove);
  EXPECT_EQ(made[0]->Variable(), nullptr);
  EXPECT_EQ(second->Variable(), &variable);
  EXPECT_EQ(made[2]->Variable(), nullptr);
  links.OnItemConfig = nullptr;
  links.Clear();

  // The key list knows what it holds through every change.
  toolkit::TPsKeyList keys;
  TPairItem a;
  TPairItem b;
  keys.AddObject("a", &a);
  keys.InsertObject(0, "b", &b);
  keys.AddObject("a2", &a);
  keys.Delete(2);
  EXPECT_TRUE(keys.HoldsObject(&a));
  keys.Delete(1);
  EXPECT_FALSE(keys.HoldsObject(&a));
  EXPECT_TRUE(keys.HoldsObject(&b));
  keys.Clear();
  EXPECT_FALSE(keys.HoldsObject(&b));
}

TEST_F(PsPersistentListTest, AssignsFromListsAndStringLists) {
  Load(list_, "Variable;VarProp\r\nDataForm.Level;vpMin\r\n;vpMax\r\n");
  TPsPersistentList copy(nullptr, &TPairItem::ClassMeta(), true);
  copy.Assign(&list_);
  EXPECT_EQ(Saved(copy), Saved(list_));
  EXPECT_NE(copy.Items(0), list_.Items(0));
  copy.Assign(&copy);
  EXPECT_EQ(copy.Count(), 2);

  vcl::TStringList rows;
  rows.Assign(&list_);
  EXPECT_EQ(rows.Count(), 2);
  EXPECT_EQ(rows.Objects(1), list_.Items(1));
  TPsPersistentList fromRows(nullptr, &TPairItem::ClassMeta(), true);
  fromRows.Assign(&rows);  // the rows' objects are items: copied
  EXPECT_EQ(Saved(fromRows), Saved(list_));
  EXPECT_THROW(TPsPersistentList(nullptr, nullptr, true), vcl::Exception);
}

TEST_F(PsPersistentListTest, TheComponentStreamCarriesTheItems) {
  TPsPersistentList kinds(nullptr, &TKindsItem::ClassMeta(), true);
  std::ostringstream empty;
  vcl::TWriter(empty).WriteDefinedProperties(kinds);
  EXPECT_EQ(empty.str(), "");

  for (int i = 0; i < 2; ++i) {
    auto* item = static_cast<TKindsItem*>(kinds.Add());
    item->Number = 10 + i;
    item->Text = i ? "x;\"y\"" : "";
    item->VarProp = vpAlarmHigh;
    item->Enabled = i == 1;
    item->Stamp = 45000.25;
    item->Extra = i ? PsVariant(int32_t(5)) : PsVariant("five");
    item->SetVariable(i ? level_ : nullptr);
    item->Colours = 5;
    item->Big = int64_t(1) << 40;
  }
  std::ostringstream out;
  vcl::TWriter writer(out);
  writer.WriteListBegin();
  writer.WriteDefinedProperties(kinds);
  writer.WriteListEnd();

  TPsPersistentList back(nullptr, &TKindsItem::ClassMeta(), true);
  std::istringstream in(out.str());
  vcl::TReader reader(in);
  reader.ReadListBegin();
  reader.ReadDefinedProperties(back);
  EXPECT_EQ(Saved(back), Saved(kinds));
  ASSERT_EQ(back.Count(), 2);
  EXPECT_EQ(static_cast<TKindsItem*>(back.Items(1))->Colours, 5u);
  EXPECT_EQ(static_cast<TKindsItem*>(back.Items(1))->Big, int64_t(1) << 40);

  // A stream cut short anywhere fails and leaves the list as it was.
  const std::string whole = out.str();
  for (size_t length = 0; length < whole.size(); length += 7) {
    std::istringstream cut(whole.substr(0, length));
    vcl::TReader cutReader(cut);
    EXPECT_THROW(
        {
          cutReader.ReadListBegin();
          cutReader.ReadDefinedProperties(back);
        },
        vcl::Exception)
        << length;
    EXPECT_EQ(back.Count(), 2);
  }

  // "Items" that is no collection.
  std::ostringstream wrong;
  vcl::TWriter wrongWriter(wrong);
  wrongWriter.WritePropName("Items");
  wrongWriter.WriteInteger(2);
  std::istringstream wrongIn(wrong.str());
  vcl::TReader wrongReader(wrongIn);
  const std::string name = wrongReader.ReadPropName();
  ExpectError<vcl::EReadError>([&] { wrongReader.ReadDefinedProperty(back, name); },
                               "Cannot read property.");
}

}  // namespace
