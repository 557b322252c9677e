// The string tree: paths and their index, the text form, changes with their
// events and parents, and the copies.
#include <gtest/gtest.h>

#include <functional>
#include <random>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "TestFolder.h"
#include "platform/Text.h"
#include "toolkit/PsClasses.h"

namespace {

using toolkit::TPsStringList;
using toolkit::TPsStringTree;
using V = std::vector<std::string>;

// One node as (name, level, parent).
struct Shape {
  std::string name;
  int level;
  int parent;
  bool operator==(const Shape&) const = default;
};
using Shapes = std::vector<Shape>;

void PrintTo(const Shape& shape, std::ostream* out) {
  *out << "{" << shape.name << "," << shape.level << "," << shape.parent << "}";
}

Shapes ShapeOf(const TPsStringTree& tree) {
  Shapes shapes;
  for (int i = 0; i < tree.Count(); ++i)
    shapes.push_back({tree.GetNodeName(i), tree.GetLevel(i), tree.GetParentID(i)});
  return shapes;
}

// The nearest node before each one with a lower level.
void ExpectParentsFollowLevels(const TPsStringTree& tree) {
  for (int i = 0; i < tree.Count(); ++i) {
    int parent = i - 1;
    while (parent >= 0 && tree.GetLevel(parent) >= tree.GetLevel(i))
      --parent;
    ASSERT_EQ(tree.GetParentID(i), parent) << "node " << i;
  }
}

void Load(TPsStringTree& tree, const std::string& text) {
  std::istringstream stream(text);
  tree.LoadFromStream(stream);
}

std::string Save(const TPsStringTree& tree) {
  std::ostringstream stream;
  tree.SaveToStream(stream);
  return stream.str();
}

V Lines(const vcl::TStringList& list) {
  V lines;
  for (int i = 0; i < list.Count(); ++i)
    lines.push_back(list.Strings(i));
  return lines;
}

// A data object that counts its end.
struct Counted : vcl::TObject {
  explicit Counted(int* freed) : freed(freed) {}
  ~Counted() override { ++*freed; }
  int* freed;
};

TEST(PsStringTreeTest, PathTextsQuoteAndAreFoundIgnoringCase) {
  TPsStringTree tree;
  const int a = tree.AddChild(-1, "a");
  const int bc = tree.AddChild(a, "b/c");
  const int its = tree.AddChild(a, "it's");
  const int empty = tree.AddChild(-1, "");
  const int under = tree.AddChild(empty, "x");
  EXPECT_EQ(tree.GetPathText(bc), "a/'b/c'");
  EXPECT_EQ(tree.GetPathText(its), "a/'it''s'");
  EXPECT_EQ(tree.GetPathText(empty), "''");
  EXPECT_EQ(tree.GetPathText(under), "/x");
  EXPECT_EQ(tree.GetPathText(-1), "");
  const std::pair<std::string, int> lookups[] = {
      {"A/'B/C'", bc}, {"a/b/c", -1}, {"a/'IT''S'", its}, {"''", empty},
      {"/X", under},   {"a", a},      {"", -1},           {"b", -1},
  };
  for (const auto& [path, index] : lookups)
    EXPECT_EQ(tree.IndexOfPath(path), index) << path;

  // Letters beyond A-Z are one in both cases too, as the user's locale has
  // them (the narrow encoding may lack some on Windows: those are left out).
  for (const auto& [name, other] : {std::pair{u"\u00C4rger", u"\u00E4RGER"},
                                    std::pair{u"\u03A3\u03BF\u03C6", u"\u03C3\u039F\u03A6"},
                                    std::pair{u"\u0416\u0443\u043A", u"\u0436\u0423\u041A"}}) {
    const std::string narrow = platform::Utf16ToNarrow(name);
    const std::string otherCase = platform::Utf16ToNarrow(other);
    if (platform::NarrowToUtf16(narrow) != name || platform::NarrowToUtf16(otherCase) != other)
      continue;
    const int node = tree.AddChild(bc, narrow);
    EXPECT_EQ(tree.IndexOfPath("a/'b/c'/" + otherCase), node) << narrow;
    EXPECT_EQ(tree.IndexOfChild(bc, otherCase), -1) << narrow;
    tree.Delete(node);
  }

  // The index follows changes; the first node of a path wins.
  const int twin = tree.AddChild(-1, "A");
  EXPECT_EQ(tree.IndexOfPath("a"), a);
  tree.Delete(a);
  EXPECT_EQ(tree.IndexOfPath("a"), twin - 1);
  tree.SetPathSeparator('.');
  EXPECT_EQ(tree.IndexOfPath(".x"), under - 1);
  EXPECT_THROW(tree.SetQuoteChar('.'), toolkit::EPsException);
  EXPECT_THROW(tree.SetPathSeparator('\0'), toolkit::EPsException);
  EXPECT_EQ(tree.PathSeparator(), '.');
}

TEST(PsStringTreeTest, PathsSplitIntoNames) {
  TPsStringTree tree;
  const struct {
    std::string path;
    V names;
    std::string last;
  } cases[] = {
      {"a/'b/c'", {"a", "b/c"}, "b/c"},
      {"'it''s'", {"it's"}, "it's"},
      {"/a", {"a"}, "a"},
      {"//h/a", {"/h", "a"}, "a"},
      {"a/b/", {"a", "b"}, ""},
      {"a//b", {"a", "", "b"}, "b"},
      {" a / b", {" a ", " b"}, " b"},
  };
  for (const auto& c : cases) {
    TPsStringList names;
    tree.PathToSequence(c.path, &names);
    EXPECT_EQ(Lines(names), c.names) << c.path;
    EXPECT_EQ(tree.LevelFromPath(c.path), static_cast<int>(c.names.size()) - 1) << c.path;
    EXPECT_EQ(tree.NameFromPath(c.path), c.last) << c.path;
  }
  for (const std::string path : {"/", ""}) {
    TPsStringList names;
    EXPECT_THROW(tree.PathToSequence(path, &names), vcl::EStringListError) << path;
  }
  vcl::TStringList plain;
  try {
    tree.PathToSequence("a", &plain);
    ADD_FAILURE();
  } catch (const toolkit::EPsException& error) {
    EXPECT_STREQ(error.what(), "Sequence must be a valid TPsStringList");
  }
}

TEST(PsStringTreeTest, TextLinesBecomeNodesByTheirLastNameAndDepth) {
  const struct {
    std::string text;
    char comment;
    Shapes shape;
  } cases[] = {
      {"x\r\nx/y\r\nz\r\n", '\0', {{"x", 0, -1}, {"y", 1, 0}, {"z", 0, -1}}},
      {"x\nq/y\rz", '\0', {{"x", 0, -1}, {"y", 1, 0}, {"z", 0, -1}}},
      {"x\nx/y #note\n  #only a comment\n#\n", '#', {{"x", 0, -1}, {"y ", 1, 0}, {"  ", 0, -1}}},
      {"/a\n//h/a\na/b/\n", '\0', {{"a", 0, -1}, {"a", 1, 0}, {"", 1, 0}}},
      {"\n\nk\n\n", '\0', {{"k", 0, -1}}},
  };
  for (const auto& c : cases) {
    TPsStringTree tree;
    tree.CommentChar = c.comment;
    Load(tree, c.text);
    EXPECT_EQ(ShapeOf(tree), c.shape) << c.text;
  }
}

TEST(PsStringTreeTest, AFailingTextLeavesTheTreeAsItWas) {
  TPsStringTree tree;
  Load(tree, "k\nk/a\n");
  int events = 0;
  tree.OnChanging = [&](vcl::TObject*) { ++events; };
  for (const std::string text : {"x\n/\ny\n", "x\n//\n/\n"}) {
    EXPECT_THROW(Load(tree, text), vcl::EStringListError) << text;
    EXPECT_EQ(ShapeOf(tree), (Shapes{{"k", 0, -1}, {"a", 1, 0}}));
  }
  EXPECT_EQ(events, 0);
}

TEST(PsStringTreeTest, SavedTextGivesBackNamesLevelsAndParents) {
  TPsStringTree tree;
  const int korva = tree.AddChild(-1, "Korva");
  tree.AddChild(korva, "Device");
  tree.AddChild(korva, "a/b");
  tree.AddChild(tree.AddChild(-1, "it's"), "");
  EXPECT_EQ(Save(tree), "Korva\r\nKorva/Device\r\nKorva/'a/b'\r\n'it''s'\r\n'it''s'/\r\n");
  TPsStringTree back;
  Load(back, Save(tree));
  // The empty name comes back at its parent's level.
  const Shapes loaded{
      {"Korva", 0, -1}, {"Device", 1, 0}, {"a/b", 1, 0}, {"it's", 0, -1}, {"", 0, -1}};
  EXPECT_EQ(ShapeOf(back), loaded);

  korva_test::TestFolder folder;
  const std::string file = folder.File("tree.txt");
  tree.SaveToFile(file);
  back.Clear();
  back.LoadFromFile(file);
  EXPECT_EQ(ShapeOf(back), loaded);
  EXPECT_THROW(back.LoadFromFile(folder.File("missing.txt")), vcl::EFOpenError);
  EXPECT_THROW(tree.SaveToFile(folder.File("missing/tree.txt")), vcl::EFCreateError);
}

// Whatever level the first node has, and however far levels step, the text
// and the copies give back the same names and levels.
TEST(PsStringTreeTest, TreesThatStartDeeperSaveAndCopyWhole) {
  TPsStringTree tree;
  tree.AddObject("x", 1, nullptr);
  tree.AddObject("y", 0, nullptr);
  tree.AddObject("z", 2, nullptr);
  tree.AddObject("w", 0, nullptr);
  const Shapes shape{{"x", 1, -1}, {"y", 0, -1}, {"z", 2, 1}, {"w", 0, -1}};
  ASSERT_EQ(ShapeOf(tree), shape);
  EXPECT_EQ(Save(tree), "x/x\r\ny\r\ny/z/z\r\nw\r\n");
  TPsStringTree back;
  Load(back, Save(tree));
  EXPECT_EQ(ShapeOf(back), shape);
  TPsStringTree copy;
  copy.Assign(&tree);
  EXPECT_EQ(ShapeOf(copy), shape);
  vcl::TStringList list;
  list.Assign(&tree);
  copy.Assign(&list);
  EXPECT_EQ(ShapeOf(copy), shape);
}

TEST(PsStringTreeTest, AddObjectWithPathReusesParentsButNotTheLastName) {
  TPsStringTree tree;
  vcl::TObject first, second;
  EXPECT_EQ(tree.AddObjectWithPath("a/b/c", &first), 2);
  EXPECT_EQ(tree.AddObjectWithPath("a/b/c", &second), 3);
  EXPECT_EQ(ShapeOf(tree), (Shapes{{"a", 0, -1}, {"b", 1, 0}, {"c", 2, 1}, {"c", 2, 1}}));
  EXPECT_EQ(tree.GetObj(3), &second);
  EXPECT_EQ(tree.IndexOfPath("a/b/c"), 2);
  EXPECT_EQ(tree.AddObjectWithPath("", nullptr), 4);
  EXPECT_EQ(tree.AddObjectWithPath("a//d", nullptr), 4) << "an empty name is the first child";
  EXPECT_EQ(tree.GetPathText(4), "a/b/d");
  EXPECT_THROW(tree.AddObjectWithPath("/", nullptr), vcl::EStringListError);
  EXPECT_EQ(tree.Count(), 6);
}

TEST(PsStringTreeTest, QueriesOfChildren) {
  TPsStringTree tree;
  // r (0) > [b (1) > leaf c (2)], leaf d (3), leaf d (4); e (5)
  Load(tree, "r\nr/b\nr/b/c\nr/d\nr/d\ne\n");
  EXPECT_EQ(tree.IndexOfChild(0, "d"), 3);
  EXPECT_EQ(tree.IndexOfChild(0, "c"), -1);
  EXPECT_EQ(tree.IndexOfChild(-1, "e"), 5);
  EXPECT_EQ(tree.IndexOfChild(0, ""), -1);
  EXPECT_EQ(tree.FirstChild(0), 1);
  EXPECT_EQ(tree.FirstChild(2), -1);
  EXPECT_EQ(tree.LastChild(0, -1), 4);
  EXPECT_EQ(tree.LastChild(1, 0), 2);
  EXPECT_EQ(tree.LastChild(-1, 0), 5);
  EXPECT_EQ(tree.LastChild(2, -1), -2);
  EXPECT_THROW(tree.GetNodeName(6), vcl::EStringListError);

  // Children are found by their exact name (item IDs count case); the
  // last child at a depth is the last node not deeper than it.
  TPsStringTree cased;
  // k > [a > b > c], A
  Load(cased, "k\nk/a\nk/a/b\nk/a/b/c\nk/A\n");
  EXPECT_EQ(cased.IndexOfChild(0, "A"), 4);
  EXPECT_EQ(cased.IndexOfChild(0, "a"), 1);
  EXPECT_EQ(cased.IndexOfChild(1, "B"), -1);
  EXPECT_EQ(cased.LastChild(1, 0), 2);
  EXPECT_EQ(cased.LastChild(1, 1), 3);
  EXPECT_EQ(cased.LastChild(1, -1), 3);
  EXPECT_EQ(cased.LastChild(0, 1), 4);
  EXPECT_THROW(tree.GetObj(-1), vcl::EStringListError);

  vcl::TStringList list;
  tree.GetChildren(list, 0, {toolkit::tnLeaf}, 0, false);
  EXPECT_EQ(Lines(list), (V{"d", "d"}));
  tree.GetChildren(list, 0, toolkit::tnAnyNode, -1, true);
  EXPECT_EQ(Lines(list), (V{"b", "b/c", "d", "d"}));
  tree.GetChildren(list, 2, toolkit::tnAnyNode, -1, true);
  EXPECT_TRUE(Lines(list).empty());
  tree.AssignToStrings(&list, true, 1, {toolkit::tnBranch}, -1);
  EXPECT_EQ(Lines(list), (V{"b"}));
  try {
    tree.AssignToStrings(nullptr, true, 0, toolkit::tnAnyNode, -1);
    ADD_FAILURE();
  } catch (const vcl::EAssertionFailed& error) {
    EXPECT_STREQ(error.what(), "TPsStringTree.AssignToStrings: Strings must be assigned!");
  }
}

TEST(PsStringTreeTest, ParentsFollowLevelsAfterInsertionsAndDeletions) {
  TPsStringTree tree;
  tree.AddObject("b", 1, nullptr);
  tree.InsertObject(0, "a", nullptr, 0);
  EXPECT_EQ(ShapeOf(tree), (Shapes{{"a", 0, -1}, {"b", 1, 0}}));

  // a (0), deep (2), x (1) > y (2): without x, y hangs under a, not under deep.
  tree.Clear();
  tree.AddObject("a", 0, nullptr);
  tree.AddObject("deep", 2, nullptr);
  tree.AddObject("x", 1, nullptr);
  tree.AddObject("y", 2, nullptr);
  tree.Delete(2);
  EXPECT_EQ(ShapeOf(tree), (Shapes{{"a", 0, -1}, {"deep", 2, 0}, {"y", 2, 0}}));

  // Random changes of every kind against the rule.
  std::mt19937 random(14);
  for (int step = 0; step < 2000; ++step) {
    const int count = tree.Count();
    switch (random() % 5) {
      case 0:
      case 1:
        tree.InsertObject(static_cast<int>(random() % (count + 1)), "n", nullptr,
                          static_cast<int>(random() % 4));
        break;
      case 2:
        tree.AddChild(static_cast<int>(random() % (count + 1)) - 1, "c");
        break;
      case 3:
        if (count > 0)
          tree.Delete(static_cast<int>(random() % count));
        break;
      default:
        if (count > 0)
          tree.DeleteSubTree(static_cast<int>(random() % count), random() % 2 == 0);
    }
    ExpectParentsFollowLevels(tree);
    if (testing::Test::HasFatalFailure())
      FAIL() << "after step " << step;
  }
}

TEST(PsStringTreeTest, EachChangeFiresOnePairAfterItIsComplete) {
  TPsStringTree tree;
  Load(tree, "r\nr/leaf\nr/b\nr/b/c\n");
  V events;
  tree.OnChanging = [&](vcl::TObject* sender) {
    EXPECT_EQ(sender, &tree);
    events.push_back("changing");
  };
  vcl::TObject data;
  // What a handler finds of the node carrying `data`: its parent and
  // whether its path finds it.
  tree.OnChange = [&](vcl::TObject*) {
    std::string event = "change " + std::to_string(tree.Count());
    const int added = tree.IndexOfObject(&data);
    if (added >= 0)
      event += " data under " + std::to_string(tree.GetParentID(added)) +
               (tree.IndexOfPath("r/b/new") == added ? " found" : "");
    events.push_back(event);
  };
  const struct {
    const char* what;
    std::function<void()> change;
    V events;
  } cases[] = {
      {"child-only delete of a leaf", [&] { tree.DeleteSubTree(1, true); }, {}},
      {"insert",
       [&] { tree.AddChildObject(2, "new", &data); },
       {"changing", "change 5 data under 2 found"}},
      {"subtree", [&] { tree.DeleteSubTree(2, false); }, {"changing", "change 2"}},
      {"leaf", [&] { tree.DeleteSubTree(1, false); }, {"changing", "change 1"}},
      {"clear", [&] { tree.Clear(); }, {"changing", "change 0"}},
      {"clear empty", [&] { tree.Clear(); }, {"changing", "change 0"}},
      {"object", [&] { tree.SetObj(tree.AddChild(-1, "x"), &data); }, {"changing", "change 1"}},
  };
  for (const auto& c : cases) {
    events.clear();
    c.change();
    EXPECT_EQ(events, c.events) << c.what;
  }
}

TEST(PsStringTreeTest, OwnedDataObjectsAreFreedWithTheirNodes) {
  int freed = 0;
  {
    TPsStringTree tree;
    tree.OwnsObjects = true;
    for (int i = 0; i < 5; ++i)
      tree.AddObject("n", i % 2, new Counted(&freed));
    tree.Delete(0);
    EXPECT_EQ(freed, 1);
    tree.DeleteSubTree(1, false);  // the node and its child
    EXPECT_EQ(freed, 3);
  }
  EXPECT_EQ(freed, 5);
  TPsStringTree notOwning;
  Counted kept(&freed);
  notOwning.AddObject("n", 0, &kept);
  notOwning.Clear();
  EXPECT_EQ(freed, 5);
}

// A tree-view node collection that records its nodes as "parent:caption".
struct RecordingTreeView : vcl::TPersistent, toolkit::IPsTreeView, toolkit::IPsTreeNodes {
  void Clear() override { nodes.clear(); }
  int AddChildObject(int parent, const std::string& caption, vcl::TObject* data) override {
    nodes.push_back(std::to_string(parent) + ":" + caption + (data ? "*" : ""));
    return static_cast<int>(nodes.size()) - 1;
  }
  void SetHasChildren(int node, bool hasChildren) override {
    if (hasChildren)
      nodes[static_cast<size_t>(node)] += "+";
  }
  toolkit::IPsTreeNodes& Items() override { return *this; }
  V nodes{"stale"};
};

TEST(PsStringTreeTest, CopiesIntoTreesListsAndTreeViews) {
  TPsStringTree tree;
  vcl::TObject data;
  Load(tree, "r\nr/b\nr/b/c\nr/d\ne\n");
  tree.SetObj(2, &data);

  TPsStringTree copy;
  copy.Assign(&tree);
  EXPECT_EQ(ShapeOf(copy), ShapeOf(tree));
  EXPECT_EQ(copy.GetObj(2), &data);
  tree.AssignToTree(&copy, 1, toolkit::tnAnyNode, -1);
  EXPECT_EQ(ShapeOf(copy), (Shapes{{"b", 0, -1}, {"c", 1, 0}}));
  tree.AssignToTree(&copy, 0, {toolkit::tnLeaf}, 0);
  EXPECT_EQ(ShapeOf(copy), (Shapes{{"d", 1, -1}}));
  tree.AssignToTree(&tree, -1, toolkit::tnAnyNode, -1);
  EXPECT_EQ(tree.Count(), 5) << "a tree copied into itself keeps its nodes";
  try {
    tree.AssignToTree(nullptr, -1, toolkit::tnAnyNode, -1);
    ADD_FAILURE();
  } catch (const vcl::EAssertionFailed& error) {
    EXPECT_STREQ(error.what(), "TPsStringTree.AssignToTree: Tree must be assigned!");
  }

  vcl::TStringList list;
  list.Assign(&tree);
  EXPECT_EQ(Lines(list), (V{"r", "r/b", "r/b/c", "r/d", "e"}));
  EXPECT_EQ(list.Objects(2), &data);
  copy.Assign(&list);
  EXPECT_EQ(ShapeOf(copy), ShapeOf(tree));

  RecordingTreeView view;
  view.Assign(&tree);
  EXPECT_EQ(view.nodes, (V{"-1:r+", "0:b+", "1:c*", "0:d", "-1:e"}));
  tree.AssignToTreeNodes(view, "Root");
  EXPECT_EQ(view.nodes, (V{"-1:Root", "0:r+", "1:b+", "2:c*", "1:d", "0:e"}));
}

}  // namespace
