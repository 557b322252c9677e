// The string list: sorted and unsorted lists, duplicates, change events,
// the text forms, streams and files, and assignment between persistents.
#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

#include "TestFolder.h"
#include "vcl/Classes.h"

namespace {

using vcl::TStringList;

std::vector<std::string> Lines(const TStringList& list) {
  std::vector<std::string> lines;
  for (int i = 0; i < list.Count(); ++i)
    lines.push_back(list.Strings(i));
  return lines;
}

using V = std::vector<std::string>;

TEST(StringListTest, UnsortedListsKeepOrderAndObjects) {
  TStringList list;
  vcl::TObject a, b;
  list.Add("one");
  list.AddObject("two", &a);
  list.Insert(0, "zero");
  list.Insert(3, "three");
  EXPECT_EQ(Lines(list), (V{"zero", "one", "two", "three"}));
  list.Exchange(0, 3);
  list.SetObjects(0, &b);
  EXPECT_EQ(Lines(list), (V{"three", "one", "two", "zero"}));
  EXPECT_EQ(list.IndexOf("TWO"), 2);  // ignoring case unless asked
  list.SetCaseSensitive(true);
  EXPECT_EQ(list.IndexOf("TWO"), -1);
  EXPECT_EQ(list.IndexOfObject(&a), 2);
  EXPECT_EQ(list.Objects(0), &b);
  list.Add("one");  // an unsorted list accepts duplicates whatever Duplicates says
  list.Delete(1);
  EXPECT_EQ(Lines(list), (V{"three", "two", "zero", "one"}));

  for (int bad : {-1, 4}) {
    try {
      list.Strings(bad);
      ADD_FAILURE();
    } catch (const vcl::EStringListError& error) {
      EXPECT_EQ(error.what(), "List index out of bounds (" + std::to_string(bad) + ")");
    }
    EXPECT_THROW(list.Delete(bad), vcl::EStringListError);
  }
  EXPECT_THROW(list.Insert(5, "x"), vcl::EStringListError);
  EXPECT_THROW(list.Exchange(0, 4), vcl::EStringListError);
  EXPECT_EQ(list.Count(), 4);
}

TEST(StringListTest, SortedListsInsertInOrderAndFindByBisection) {
  TStringList list;
  list.Add("delta");
  list.Add("Bravo");
  list.Add("alpha");
  list.SetSorted(true);
  EXPECT_EQ(Lines(list), (V{"alpha", "Bravo", "delta"}));
  EXPECT_EQ(list.Add("charlie"), 2);
  EXPECT_EQ(list.Add("BRAVO"), 1);  // dupIgnore: the index of the one there
  EXPECT_EQ(list.Count(), 4);
  int index = -1;
  EXPECT_TRUE(list.Find("CHARLIE", index));
  EXPECT_EQ(index, 2);
  EXPECT_FALSE(list.Find("beta", index));
  EXPECT_EQ(index, 1);
  EXPECT_FALSE(list.Find("zulu", index));
  EXPECT_EQ(index, 4);

  list.Duplicates = vcl::dupError;
  try {
    list.Add("alpha");
    ADD_FAILURE();
  } catch (const vcl::EStringListError& error) {
    EXPECT_STREQ(error.what(), "String list does not allow duplicates");
  }
  list.Duplicates = vcl::dupAccept;
  list.Add("Alpha");  // before its equals
  EXPECT_EQ(Lines(list), (V{"Alpha", "alpha", "Bravo", "charlie", "delta"}));
  EXPECT_TRUE(list.Find("ALPHA", index));
  EXPECT_EQ(index, 0);  // the first of equals

  for (auto change :
       {+[](TStringList& l) { l.Insert(0, "x"); }, +[](TStringList& l) { l.SetStrings(0, "x"); }}) {
    try {
      change(list);
      ADD_FAILURE();
    } catch (const vcl::EStringListError& error) {
      EXPECT_STREQ(error.what(), "Operation not allowed on sorted list");
    }
  }
  // Case-sensitive order is byte order.
  list.SetCaseSensitive(true);
  EXPECT_EQ(Lines(list), (V{"Alpha", "Bravo", "alpha", "charlie", "delta"}));
}

TEST(StringListTest, AnUpdateAnnouncesItsChangesOnce) {
  TStringList list;
  std::vector<std::string> events;
  list.OnChanging = [&](vcl::TObject* sender) {
    EXPECT_EQ(sender, &list);
    events.push_back("changing " + std::to_string(list.Count()));
  };
  list.OnChange = [&](vcl::TObject*) {
    events.push_back("change " + std::to_string(list.Count()));
  };
  list.Add("a");
  EXPECT_EQ(events, (V{"changing 0", "change 1"}));
  events.clear();
  list.BeginUpdate();
  list.BeginUpdate();
  list.Add("b");
  list.SetText("x\r\ny\r\nz");
  list.EndUpdate();
  EXPECT_EQ(events, (V{"changing 1"}));
  list.EndUpdate();
  list.EndUpdate();  // unmatched: nothing
  EXPECT_EQ(events, (V{"changing 1", "change 3"}));
  events.clear();
  list.Clear();
  list.Clear();  // nothing to clear: no events
  EXPECT_EQ(events, (V{"changing 3", "change 0"}));
}

// An update scope closes its update on every way out: End hands a change
// handler's error to the caller; a scope left by an error keeps that error
// and hands the closing's to its error event.
TEST(StringListTest, AnUpdateScopeClosesOnEveryPath) {
  TStringList list;
  list.SetSorted(true);
  list.Duplicates = vcl::dupError;
  V events;
  list.OnChange = [&](vcl::TObject*) {
    events.push_back("change " + std::to_string(list.Count()));
  };
  EXPECT_THROW(list.SetText("b\na\nb"), vcl::EStringListError);
  EXPECT_EQ(list.UpdateCount(), 0);
  EXPECT_EQ(events, (V{"change 2"}));

  list.OnChange = [](vcl::TObject*) { throw vcl::EAbort("handler"); };
  {
    vcl::TUpdateScope update(list);
    list.Add("c");
    EXPECT_THROW(update.End(), vcl::EAbort);
  }
  EXPECT_EQ(list.UpdateCount(), 0);

  static std::string closeError;
  closeError.clear();
  try {
    vcl::TUpdateScope update(list, [](const std::exception& error) { closeError = error.what(); });
    list.Add("d");
    throw vcl::EConvertError("first");
  } catch (const vcl::EConvertError& error) {
    EXPECT_STREQ(error.what(), "first");
  }
  EXPECT_EQ(closeError, "handler");
  EXPECT_EQ(list.UpdateCount(), 0);
  EXPECT_EQ(Lines(list), (V{"a", "b", "c", "d"}));
}

TEST(StringListTest, TextSplitsAtEveryLineBreakAndKeepsNul) {
  TStringList list;
  const std::string nul("a\0b", 3);
  list.SetText("1\r\n2\n3\r4\r\n\r\n" + nul);
  EXPECT_EQ(Lines(list), (V{"1", "2", "3", "4", "", nul}));
  EXPECT_EQ(list.Text(), "1\r\n2\r\n3\r\n4\r\n\r\n" + nul + "\r\n");
  list.SetText("last\r\n");
  EXPECT_EQ(Lines(list), (V{"last"}));
  list.SetText("\n");
  EXPECT_EQ(Lines(list), (V{""}));
  list.SetText("");
  EXPECT_EQ(list.Count(), 0);
}

TEST(StringListTest, CommaTextQuotesWhatReadingWouldSplit) {
  TStringList list;
  const std::string nul("x\0y", 3);
  for (const std::string& line :
       {std::string("plain"), std::string("with blank"), std::string("a,b"),
        std::string("say \"hi\""), std::string(), nul})
    list.Add(line);
  const std::string text = list.CommaText();
  EXPECT_EQ(text, "plain,\"with blank\",\"a,b\",\"say \"\"hi\"\"\",," + std::string("\"x\0y\"", 5));
  TStringList back;
  back.SetCommaText(text);
  EXPECT_EQ(Lines(back), Lines(list));
  // Blanks outside quotes separate values; a trailing comma adds an empty one.
  back.SetCommaText("  a b ,\"c\"d,");
  EXPECT_EQ(Lines(back), (V{"a", "b", "c", "d", ""}));
  back.SetCommaText("\"\"");
  EXPECT_EQ(Lines(back), (V{""}));
  EXPECT_EQ(back.CommaText(), "\"\"");
}

TEST(StringListTest, StreamsFilesAndAssignment) {
  TStringList list;
  list.SetText("one\r\ntwo");
  std::stringstream stream;
  list.SaveToStream(stream);
  TStringList read;
  read.LoadFromStream(stream);
  EXPECT_EQ(Lines(read), (V{"one", "two"}));

  korva_test::TestFolder folder;
  const std::string path = folder.File("lines.txt");
  list.SaveToFile(path);
  EXPECT_EQ(korva_test::TestFolder::Get(path), "one\r\ntwo\r\n");
  TStringList loaded;
  loaded.LoadFromFile(path);
  EXPECT_EQ(Lines(loaded), (V{"one", "two"}));
  try {
    loaded.LoadFromFile(folder.File("missing.txt"));
    ADD_FAILURE();
  } catch (const vcl::EFOpenError& error) {
    EXPECT_EQ(error.what(), "Cannot open file \"" + folder.File("missing.txt") + "\"");
  }
  EXPECT_EQ(Lines(loaded), (V{"one", "two"}));
  EXPECT_THROW(list.SaveToFile(folder.File("no/such/folder/x.txt")), vcl::EFCreateError);

  // Assign copies lines and objects; the source may be the list itself.
  vcl::TObject object;
  list.SetObjects(1, &object);
  TStringList copy;
  copy.Add("old");
  copy.Assign(&list);
  EXPECT_EQ(Lines(copy), (V{"one", "two"}));
  EXPECT_EQ(copy.Objects(1), &object);
  copy.AddStrings(copy);
  EXPECT_EQ(Lines(copy), (V{"one", "two", "one", "two"}));

  vcl::TPersistent other;
  try {
    copy.Assign(&other);
    ADD_FAILURE();
  } catch (const vcl::EConvertError& error) {
    EXPECT_STREQ(error.what(), "Cannot assign a TPersistent to a TStringList");
  }
  EXPECT_THROW(copy.Assign(nullptr), vcl::EConvertError);
  EXPECT_EQ(copy.Count(), 4);
}

}  // namespace
