// The delimited string list and the string table.
#include <gtest/gtest.h>

#include <map>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "toolkit/PsClasses.h"

namespace {

using toolkit::EPsException;
using toolkit::EPsStringTableError;
using toolkit::TPsStringList;
using toolkit::TPsStringTable;
using V = std::vector<std::string>;

V Lines(const vcl::TStringList& list) {
  V lines;
  for (int i = 0; i < list.Count(); ++i)
    lines.push_back(list.Strings(i));
  return lines;
}

// The list separator is ';' in these tests, whatever the machine's.
class PsStringListTest : public testing::Test {
 protected:
  vcl::ScopedFormatSettings settings_{vcl::TFormatSettings{}};
};

TEST_F(PsStringListTest, JoinsAndSplitsDelimitedLines) {
  const std::string nulDelimited("a\0;b", 4);
  struct Case {
    V values;
    std::string line;
  };
  // Both ways: the values join to the line and the line splits to the values.
  const Case both[] = {
      {{"a", "b;c", ""}, "a;'b;c';"},
      {{""}, "''"},
      {{}, ""},
      {{"x y"}, "x y"},
      {{"a", "", "b"}, "a;;b"},
      {{"", "a"}, ";a"},
      {{"it's", ";"}, "'it''s';';'"},
      {{nulDelimited}, "'" + nulDelimited + "'"},  // NUL is data: quoted, nothing lost
      {{std::string("x\0y", 3), "z"}, std::string("x\0y;z", 5)},
  };
  for (const Case& c : both) {
    TPsStringList list;
    list.SetQuoteChar('\'');
    for (const std::string& value : c.values)
      list.Add(value);
    EXPECT_EQ(list.GetDelimitedText(), c.line);
    TPsStringList back;
    back.SetQuoteChar('\'');
    back.SetDelimitedText(c.line);
    EXPECT_EQ(Lines(back), c.values) << c.line;
  }
  // Lines that only split.
  const Case split[] = {
      {{"ab", "cd", "e"}, "'ab'cd;e"},
      {{"x;y"}, "'x;y"},
      {{"a", ""}, "a;"},
      {{" a ", "\t"}, " a ;\t"},
  };
  for (const Case& c : split) {
    TPsStringList list;
    list.SetQuoteChar('\'');
    list.SetDelimitedText(c.line);
    EXPECT_EQ(Lines(list), c.values) << c.line;
  }
}

TEST_F(PsStringListTest, WithoutQuotingNothingIsQuotedAndOneEmptyLineIsTheEmptyText) {
  TPsStringList list;
  list.SetQuoteChar('\0');
  list.Add("a;b");
  list.Add("\"q\"");
  EXPECT_EQ(list.GetDelimitedText(), "a;b;\"q\"");
  list.SetDelimitedText("\"x;y\"");
  EXPECT_EQ(Lines(list), (V{"\"x", "y\""}));
  list.Clear();
  list.Add("");
  EXPECT_EQ(list.GetDelimitedText(), "");
  list.SetDelimitedText(std::string(1, '\0'));  // NUL starts no quote
  EXPECT_EQ(Lines(list), (V{std::string(1, '\0')}));
}

TEST_F(PsStringListTest, SettersRefuseDelimitersThatCannotSplitBack) {
  TPsStringList list;
  EXPECT_EQ(list.QuoteChar(), '"');
  EXPECT_EQ(list.Delimiter(), ';');
  EXPECT_THROW(list.SetDelimiter('\0'), EPsException);
  EXPECT_THROW(list.SetDelimiter('"'), EPsException);
  EXPECT_THROW(list.SetQuoteChar(';'), EPsException);
  EXPECT_EQ(list.Delimiter(), ';');
  EXPECT_EQ(list.QuoteChar(), '"');
  list.SetDelimiter(',');
  list.SetQuoteChar(';');
  EXPECT_EQ(list.QuoteChar(), ';');
}

// Records its own end.
struct Tracked : vcl::TObject {
  explicit Tracked(std::vector<int>* freed, int id) : freed(freed), id(id) {}
  ~Tracked() override { freed->push_back(id); }
  std::vector<int>* freed;
  int id;
};

TEST_F(PsStringListTest, OwnedObjectsAreFreedWithTheirLines) {
  std::vector<int> freed;
  {
    TPsStringList list;
    list.OwnsObjects = true;
    for (int id = 1; id <= 4; ++id)
      list.AddObject("x", new Tracked(&freed, id));
    list.Delete(1);
    EXPECT_EQ(freed, (std::vector<int>{2}));
    list.Clear();
    EXPECT_EQ(freed, (std::vector<int>{2, 1, 3, 4}));
    list.AddObject("y", new Tracked(&freed, 5));
  }
  EXPECT_EQ(freed, (std::vector<int>{2, 1, 3, 4, 5}));
  Tracked kept(&freed, 6);
  {
    TPsStringList list;  // not owning
    list.AddObject("z", &kept);
    list.Clear();
  }
  EXPECT_EQ(freed.size(), 5u);
}

// A grid of cells, as a window control would take them.
struct Grid : vcl::TPersistent, toolkit::IPsStringGrid {
  int rows = 0;
  int columns = 1;
  std::map<std::pair<int, int>, std::string> cells;
  int RowCount() const override { return rows; }
  void SetRowCount(int value) override { rows = value; }
  int ColCount() const override { return columns; }
  void SetColCount(int value) override { columns = value; }
  void SetCells(int col, int row, const std::string& text) override { cells[{col, row}] = text; }
};

class PsStringTableTest : public PsStringListTest {};

TEST_F(PsStringTableTest, CellsGrowTheTableAndRowsKeepTheirValues) {
  TPsStringTable table;
  table.SetCells(2, 3, "x");
  EXPECT_EQ(Lines(table), (V{"", "", "", ";;x"}));
  EXPECT_EQ(table.GetText(), "\r\n\r\n\r\n;;x\r\n");
  table.SetCells(0, 3, "a;b");
  EXPECT_EQ(table.Strings(3), "\"a;b\";;x");
  EXPECT_EQ(table.GetCells(0, 3), "a;b");
  table.GetRow(1).Add("direct");  // a change of the row list writes its row
  EXPECT_EQ(table.Strings(1), "direct");

  const std::pair<int, int> outside[] = {{3, 3}, {0, 0}, {0, 9}, {-1, 3}, {0, -1}};
  for (auto [col, row] : outside) {
    try {
      table.GetCells(col, row);
      ADD_FAILURE() << col << "," << row;
    } catch (const EPsStringTableError& error) {
      EXPECT_EQ(error.what(), vcl::Format("Table index out of bounds (%d, %d)", col, row));
    }
  }
  // Negative indexes change nothing.
  const V before = Lines(table);
  EXPECT_THROW(table.SetCells(-1, 0, "y"), EPsStringTableError);
  EXPECT_THROW(table.SetCells(0, -2, "y"), EPsStringTableError);
  EXPECT_EQ(Lines(table), before);

  Grid grid;
  grid.Assign(&table);
  EXPECT_EQ(grid.rows, 4);
  EXPECT_EQ(grid.columns, 3);
  EXPECT_EQ(grid.cells.size(), 4u);
  EXPECT_EQ((grid.cells[{0, 3}]), "a;b");
  EXPECT_EQ((grid.cells[{0, 1}]), "direct");
  vcl::TStringList other;
  other.Assign(&table);  // into a plain list: its lines
  EXPECT_EQ(Lines(other), Lines(table));
}

TEST_F(PsStringTableTest, AddRowHonoursDuplicates) {
  TPsStringTable table;
  table.AddRow({"a", "b"});
  table.AddRow({"A", "B"});  // equal ignoring case: ignored
  EXPECT_EQ(Lines(table), (V{"a;b"}));
  table.Duplicates = vcl::dupError;
  try {
    table.AddRow({"a", "b"});
    ADD_FAILURE();
  } catch (const EPsStringTableError& error) {
    EXPECT_STREQ(error.what(), "Row with ColValues [a;b] already exists.");
  }
  table.Duplicates = vcl::dupAccept;
  table.AddRow({"a", "b"});
  table.AddRow({"c;d", "", "it's \"q\""});
  EXPECT_EQ(Lines(table), (V{"a;b", "a;b", "\"c;d\";;\"it's \"\"q\"\"\""}));
  EXPECT_EQ(table.GetCells(2, 2), "it's \"q\"");
}

TEST_F(PsStringTableTest, ChangesOutsideTheCacheForgetIt) {
  // Each change is made while row 2 is cached; then a cell of row 2 is
  // written: a stale cache would write the old row's values over another.
  struct Case {
    const char* name;
    void (*change)(TPsStringTable&);
    V expected;
  };
  const Case cases[] = {
      {"delete before", [](TPsStringTable& t) { t.Delete(0); }, {"r1", "r2", "r3;w"}},
      {"delete cached", [](TPsStringTable& t) { t.Delete(2); }, {"r0", "r1", "r3;w"}},
      {"insert", [](TPsStringTable& t) { t.Insert(0, "new"); }, {"new", "r0", "r1;w", "r2", "r3"}},
      {"exchange", [](TPsStringTable& t) { t.Exchange(1, 2); }, {"r0", "r2", "r1;w", "r3"}},
      {"direct write", [](TPsStringTable& t) { t.SetStrings(2, "s"); }, {"r0", "r1", "s;w", "r3"}},
      {"clear", [](TPsStringTable& t) { t.Clear(); }, {"", "", ";w"}},
      {"load",
       [](TPsStringTable& t) {
         std::istringstream stream("l0\nl1\nl2\n");
         t.LoadFromStream(stream);
       },
       {"l0", "l1", "l2;w"}},
  };
  for (const Case& c : cases) {
    TPsStringTable table;
    table.SetText("r0\r\nr1\r\nr2\r\nr3\r\n");
    EXPECT_EQ(table.GetCells(0, 2), "r2");
    c.change(table);
    table.SetCells(1, 2, "w");
    EXPECT_EQ(Lines(table), c.expected) << c.name;
  }
  {
    TPsStringTable table;
    table.SetText("r0\r\nr1\r\nr2\r\n");
    table.GetRow(2);
    table.Delete(0);
    table.SetCells(1, 1, "w");
    EXPECT_EQ(Lines(table), (V{"r1", "r2;w"}));
    EXPECT_EQ(table.GetCells(0, 0), "r1");
  }
  // A handler that changes the lines while a row is written back.
  TPsStringTable table;
  table.SetText("r0\r\nr1\r\n");
  table.OnChange = [&](vcl::TObject*) {
    if (table.Count() == 2) {
      table.OnChange = nullptr;
      table.Insert(0, "top");
    }
  };
  table.SetCells(1, 1, "w");
  table.SetCells(2, 1, "v");
  EXPECT_EQ(Lines(table), (V{"top", "r0;;v", "r1;w"}));
}

}  // namespace
