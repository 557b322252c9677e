// libFuzzer target: path texts of the string tree, with any separator and
// quote character the tree accepts. Any path splits into names or raises
// the string list's index error; with quoting on, a node added by a path
// whose last name is not empty has a path text that splits into the same
// names and is found again by the path index.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "toolkit/PsClasses.h"

namespace {

std::vector<std::string> Lines(const vcl::TStringList& list) {
  std::vector<std::string> lines;
  for (int i = 0; i < list.Count(); ++i)
    lines.push_back(list.Strings(i));
  return lines;
}

void Check(bool condition) {
  if (!condition)
    std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 2)
    return 0;
  toolkit::TPsStringTree tree;
  try {
    tree.SetQuoteChar('\0');
    tree.SetPathSeparator(static_cast<char>(data[0]));
    tree.SetQuoteChar(static_cast<char>(data[1]));
  } catch (const toolkit::EPsException&) {
    return 0;
  }
  const std::string path(reinterpret_cast<const char*>(data + 2), size - 2);

  toolkit::TPsStringList names;
  try {
    tree.PathToSequence(path, &names);
  } catch (const vcl::EStringListError&) {
    try {
      tree.AddObjectWithPath(path, nullptr);
      Check(path.empty());
    } catch (const vcl::EStringListError&) {
    }
    Check(tree.Count() == (path.empty() ? 1 : 0));
    return 0;
  }
  Check(names.Count() > 0 && !names.Strings(0).empty());
  Check(tree.LevelFromPath(path) == names.Count() - 1);

  const int added = tree.AddObjectWithPath(path, nullptr);
  Check(added == names.Count() - 1 && tree.Count() == names.Count());
  Check(tree.GetLevel(added) == added);
  // Without quoting a name that holds the separator cannot come back.
  if (names.Strings(names.Count() - 1).empty() || tree.QuoteChar() == '\0')
    return 0;
  const std::string text = tree.GetPathText(added);
  toolkit::TPsStringList back;
  tree.PathToSequence(text, &back);
  Check(Lines(back) == Lines(names));
  Check(tree.IndexOfPath(text) == added);
  return 0;
}
