// libFuzzer target: the string tree's text form. Any text loads or raises the
// string list's index error with the tree left as it was; after a load every
// node's parent is the nearest node before it with a lower level, and every
// node's path text finds a node of that path at or before it; the saved
// tree loads back to the same names and levels.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <sstream>
#include <string>
#include <tuple>
#include <vector>

#include "toolkit/PsClasses.h"

namespace {

using Shape = std::vector<std::tuple<std::string, int, int, const vcl::TObject*>>;

Shape ShapeOf(const toolkit::TPsStringTree& tree) {
  Shape shape;
  for (int i = 0; i < tree.Count(); ++i)
    shape.emplace_back(tree.GetNodeName(i), tree.GetLevel(i), tree.GetParentID(i), tree.GetObj(i));
  return shape;
}

bool HasEmptyName(const toolkit::TPsStringTree& tree) {
  for (int i = 0; i < tree.Count(); ++i) {
    if (tree.GetNodeName(i).empty())
      return true;
  }
  return false;
}

void Check(bool condition) {
  if (!condition)
    std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1)
    return 0;
  toolkit::TPsStringTree tree;
  // The first byte: the comment character (odd: none).
  tree.CommentChar = (data[0] & 1) ? '\0' : static_cast<char>(data[0] >> 1);
  vcl::TObject marker;
  tree.AddObjectWithPath("before/load", &marker);
  const Shape before = ShapeOf(tree);

  std::istringstream text(std::string(reinterpret_cast<const char*>(data + 1), size - 1));
  try {
    tree.LoadFromStream(text);
  } catch (const vcl::EStringListError&) {
    Check(ShapeOf(tree) == before);
    return 0;
  }
  for (int i = 0; i < tree.Count(); ++i) {
    int parent = i - 1;
    while (parent >= 0 && tree.GetLevel(parent) >= tree.GetLevel(i))
      --parent;
    Check(tree.GetParentID(i) == parent);
    const std::string path = tree.GetPathText(i);
    const int found = tree.IndexOfPath(path);
    Check(found >= 0 && found <= i && vcl::SameText(tree.GetPathText(found), path));
  }

  // The saved text loads again, or fails whole; without empty names (whose
  // lines lose their trailing separator) it gives back the same nodes,
  // levels and parents (neither tree holds objects after a load).
  std::stringstream saved;
  tree.SaveToStream(saved);
  toolkit::TPsStringTree again;
  try {
    again.LoadFromStream(saved);
  } catch (const vcl::EStringListError&) {
    Check(again.Count() == 0);
  }
  if (!HasEmptyName(tree))
    Check(ShapeOf(again) == ShapeOf(tree));
  return 0;
}
