// The string tree of unit PsClasses.
#include <algorithm>
#include <climits>
#include <istream>
#include <optional>
#include <ostream>
#include <sstream>

#include "platform/Files.h"
#include "platform/Services.h"
#include "platform/Text.h"
#include "toolkit/Debugs.h"
#include "toolkit/PsClasses.h"

namespace toolkit {
namespace {

// The path index's one order, for its sorting and its lookups: the user's
// locale's, ignoring case.
bool LessText(const std::string& a, const std::string& b) {
  return platform::LocaleCompareText(a, b) < 0;
}

bool SameText(const std::string& a, const std::string& b) {
  return platform::LocaleCompareText(a, b) == 0;
}

// A list that reads and writes delimited text with these characters; raises
// as TPsStringList does for a pair that could not be split back.
void ConfigureList(TPsStringList& list, char separator, char quoteChar) {
  list.SetQuoteChar('\0');
  list.SetDelimiter(separator);
  list.SetQuoteChar(quoteChar);
}

}  // namespace

void TPsStringTreeNode::DebugDump(std::string_view name) const {
  if (!ActiveDebugWriter())
    return;
  const std::string prefix(name);
  DebugValuePtr(prefix + " DataObject", DataObject);
  DebugValueInt(prefix + " Level", Level);
  DebugValueInt(prefix + " ParentID", ParentID);
}

struct TPsStringTree::PlannedLine {
  std::string text;  // the path, or the node's name
  int level = 0;
  vcl::TObject* object = nullptr;
};

TPsStringTree::TPsStringTree() {
  DebugScope scope("TPsStringTree.Create", this);
}

TPsStringTree::~TPsStringTree() {
  OnChange = nullptr;
  OnChanging = nullptr;
  TPsStringTree::Clear();
}

void TPsStringTree::BeginUpdate() {
  if (updateCount_++ == 0) {
    try {
      Changing();
    } catch (...) {
      --updateCount_;
      throw;
    }
  }
}

void TPsStringTree::EndUpdate() {
  if (--updateCount_ == 0)
    Changed();
}

void TPsStringTree::Changed() {
  if (OnChange)
    OnChange(this);
}

void TPsStringTree::Changing() {
  if (OnChanging)
    OnChanging(this);
}

void TPsStringTree::SetPathSeparator(char separator) {
  SetPathDelimiters(separator, quoteChar_);
}

void TPsStringTree::SetQuoteChar(char quoteChar) {
  SetPathDelimiters(pathSeparator_, quoteChar);
}

void TPsStringTree::SetPathDelimiters(char separator, char quoteChar) {
  // A list takes the pair first, and refuses one it could not split back.
  TPsStringList probe;
  ConfigureList(probe, separator, quoteChar);
  if (separator != pathSeparator_ || quoteChar != quoteChar_)
    pathIndexValid_ = false;
  pathSeparator_ = separator;
  quoteChar_ = quoteChar;
}

void TPsStringTree::PrepareSequence(vcl::TStringList& list) const {
  if (auto* delimited = dynamic_cast<TPsStringList*>(&list))
    ConfigureList(*delimited, pathSeparator_, quoteChar_);
}

void TPsStringTree::CheckIndex(int index, int count) const {
  if (index < 0 || index >= count)
    throw vcl::EStringListError(vcl::Format("List index out of bounds (%d)", index));
}

const TPsStringTreeNode& TPsStringTree::Node(int index) const {
  CheckIndex(index, Count());
  return *nodes_[static_cast<size_t>(index)].node;
}

// ---- Queries -------------------------------------------------------------------

int TPsStringTree::GetLevel(int index) const {
  if (index < 0 || index >= Count())
    return -1;
  return nodes_[static_cast<size_t>(index)].node->Level;
}

const std::string& TPsStringTree::GetNodeName(int index) const {
  static const std::string none;
  if (index < 0)
    return none;
  CheckIndex(index, Count());
  return nodes_[static_cast<size_t>(index)].name;
}

vcl::TObject* TPsStringTree::GetObj(int index) const {
  return Node(index).DataObject;
}

void TPsStringTree::SetObj(int index, vcl::TObject* object) {
  CheckIndex(index, Count());
  nodes_[static_cast<size_t>(index)].node->DataObject = object;
}

int TPsStringTree::GetParentID(int index) const {
  if (index < 0)
    return index;
  return Node(index).ParentID;
}

bool TPsStringTree::HasChildren(int index) const {
  return index + 1 < Count() && GetLevel(index) < GetLevel(index + 1);
}

int TPsStringTree::FirstChild(int index) const {
  return HasChildren(index) ? index + 1 : -1;
}

int TPsStringTree::LastChild(int index, int depth) const {
  if (!HasChildren(index))
    return -2;
  const int64_t childLevel = static_cast<int64_t>(GetLevel(index)) + 1;
  const int64_t deepest = depth < 0 ? INT64_MAX : childLevel + depth;
  int last = -2;
  for (int next = index + 1; next < Count() && GetLevel(next) >= childLevel; ++next) {
    if (GetLevel(next) <= deepest)
      last = next;
  }
  return last;
}

int TPsStringTree::IndexOfChild(int parentIndex, const std::string& name) const {
  if (name.empty() || parentIndex < -1 || parentIndex >= Count())
    return -1;
  const int parentLevel = GetLevel(parentIndex);
  for (int next = parentIndex + 1; next < Count(); ++next) {
    const Entry& entry = nodes_[static_cast<size_t>(next)];
    if (parentIndex >= 0 && entry.node->Level <= parentLevel)
      break;
    if (entry.node->ParentID == parentIndex && entry.name == name)
      return next;
  }
  return -1;
}

int TPsStringTree::IndexOfObject(const vcl::TObject* object) const {
  for (size_t i = 0; i < nodes_.size(); ++i) {
    if (nodes_[i].node->DataObject == object)
      return static_cast<int>(i);
  }
  return -1;
}

void TPsStringTree::BuildPathIndex() const {
  // Each node's path is its parent's path, the separator and its own name,
  // quoted as the delimited text quotes it; one empty name alone is quoted.
  TPsStringList single;
  ConfigureList(single, pathSeparator_, quoteChar_);
  single.Add("");
  const std::string emptyTopName = single.GetDelimitedText();
  std::vector<std::string> joined(nodes_.size());
  pathIndex_.clear();
  pathIndex_.reserve(nodes_.size());
  for (size_t i = 0; i < nodes_.size(); ++i) {
    const std::string& name = nodes_[i].name;
    std::string quoted;
    if (!name.empty()) {
      single.SetStrings(0, name);
      quoted = single.GetDelimitedText();
    }
    const int parent = nodes_[i].node->ParentID;
    if (parent < 0) {
      joined[i] = quoted;
      pathIndex_.emplace_back(name.empty() ? emptyTopName : quoted, static_cast<int>(i));
    } else {
      joined[i] = joined[static_cast<size_t>(parent)] + pathSeparator_ + quoted;
      pathIndex_.emplace_back(joined[i], static_cast<int>(i));
    }
  }
  std::stable_sort(pathIndex_.begin(), pathIndex_.end(),
                   [](const auto& a, const auto& b) { return LessText(a.first, b.first); });
  // The first node in tree order keeps a path text that occurs again.
  pathIndex_.erase(
      std::unique(pathIndex_.begin(), pathIndex_.end(),
                  [](const auto& a, const auto& b) { return SameText(a.first, b.first); }),
      pathIndex_.end());
  pathIndexValid_ = true;
}

int TPsStringTree::IndexOfPath(const std::string& path) const {
  if (!pathIndexValid_)
    BuildPathIndex();
  const auto found =
      std::lower_bound(pathIndex_.begin(), pathIndex_.end(), path,
                       [](const std::pair<std::string, int>& entry, const std::string& text) {
                         return LessText(entry.first, text);
                       });
  if (found == pathIndex_.end() || !SameText(found->first, path))
    return -1;
  return found->second;
}

void TPsStringTree::GetPathSequence(vcl::TStringList& sequence, int index) const {
  sequence.Clear();
  if (index < 0 || index >= Count())
    return;
  std::vector<int> chain;
  for (int node = index; node >= 0; node = nodes_[static_cast<size_t>(node)].node->ParentID)
    chain.push_back(node);
  vcl::TUpdateScope update(sequence);
  for (auto node = chain.rbegin(); node != chain.rend(); ++node)
    sequence.Add(nodes_[static_cast<size_t>(*node)].name);
  update.End();
}

std::string TPsStringTree::GetPathText(int index) const {
  TPsStringList sequence;
  PrepareSequence(sequence);
  GetPathSequence(sequence, index);
  return sequence.GetDelimitedText();
}

void TPsStringTree::PathToSequence(const std::string& path, vcl::TStringList* sequence) const {
  auto* names = dynamic_cast<TPsStringList*>(sequence);
  if (!names)
    throw EPsException("Sequence must be a valid TPsStringList");
  PrepareSequence(*names);
  names->SetDelimitedText(path);
  // A name that is missing here raises the list's index error.
  if (names->Strings(0).empty()) {
    names->Delete(0);
    if (names->Strings(0).empty()) {
      names->Delete(0);
      names->SetStrings(0, pathSeparator_ + names->Strings(0));
    }
  }
  if (names->Strings(names->Count() - 1).empty())
    names->Delete(names->Count() - 1);
}

std::string TPsStringTree::NameFromPath(const std::string& path) const {
  TPsStringList names;
  PrepareSequence(names);
  names.SetDelimitedText(path);
  return names.Strings(names.Count() - 1);
}

int TPsStringTree::LevelFromPath(const std::string& path) const {
  TPsStringList names;
  PathToSequence(path, &names);
  return names.Count() - 1;
}

void TPsStringTree::GetChildren(vcl::TStringList& strings, int index,
                                TPsStringTreeNodeTypes nodeTypes, int depth, bool fullPath) const {
  strings.Clear();
  if (HasChildren(index))
    AssignToStrings(&strings, fullPath, index + 1, nodeTypes, depth);
}

// ---- Changes -------------------------------------------------------------------

int TPsStringTree::FindParent(int index, int level) const {
  // Nodes between a node and its parent are at least as deep as the node,
  // so the walk may jump along parents.
  int candidate = index - 1;
  while (candidate >= 0 && nodes_[static_cast<size_t>(candidate)].node->Level >= level)
    candidate = nodes_[static_cast<size_t>(candidate)].node->ParentID;
  return candidate;
}

int TPsStringTree::InsertObject(int index, const std::string& name, vcl::TObject* object,
                                int level) {
  DebugScope scope("TPsStringTree.InsertObject", this);
  CheckIndex(index, Count() + 1);
  std::unique_ptr<TPsStringTreeNode> node = GetTreeNodeClass()(this, FindParent(index, level));
  node->Level = level;
  node->DataObject = object;
  vcl::TUpdateScope update(*this);
  nodes_.insert(nodes_.begin() + index, Entry{name, std::move(node)});
  // Parents behind the new node move up by one; the nodes that follow it
  // deeper than it and had their parent before it are now its children.
  bool below = true;
  for (size_t i = static_cast<size_t>(index) + 1; i < nodes_.size(); ++i) {
    TPsStringTreeNode& next = *nodes_[i].node;
    below = below && next.Level > level;
    if (next.ParentID >= index)
      ++next.ParentID;
    else if (below)
      next.ParentID = index;
  }
  pathIndexValid_ = false;
  update.End();
  return index;
}

int TPsStringTree::AddObject(const std::string& name, int level, vcl::TObject* object) {
  return InsertObject(Count(), name, object, level);
}

int TPsStringTree::AddChildObject(int parentIndex, const std::string& name, vcl::TObject* object) {
  DebugScope scope("TPsStringTree.AddChildObject", this);
  if (parentIndex != -1)
    CheckIndex(parentIndex, Count());
  int position = parentIndex + 1;
  if (parentIndex == -1)
    position = Count();
  else if (HasChildren(parentIndex))
    position = LastChild(parentIndex, -1) + 1;
  return InsertObject(position, name, object, GetLevel(parentIndex) + 1);
}

int TPsStringTree::AddObjectWithPath(const std::string& path, vcl::TObject* object) {
  DebugScope scope("TPsStringTree.AddObjectWithPath", this);
  if (path.empty())
    return AddChildObject(-1, "", object);
  TPsStringList names;
  PathToSequence(path, &names);
  int parent = -1;
  for (int i = 0; i + 1 < names.Count(); ++i) {
    const std::string& name = names.Strings(i);
    int child = name.empty() ? FirstChild(parent) : IndexOfChild(parent, name);
    if (child < 0)
      child = AddChild(parent, name);
    parent = child;
  }
  return AddChildObject(parent, names.Strings(names.Count() - 1), object);
}

std::vector<TPsStringTree::PlannedLine> TPsStringTree::PlanLines(const vcl::TStringList& strings,
                                                                 bool withPath) const {
  std::vector<PlannedLine> lines;
  lines.reserve(static_cast<size_t>(strings.Count()));
  TPsStringList names;
  for (int i = 0; i < strings.Count(); ++i) {
    PlannedLine line{strings.Strings(i), 0, strings.Objects(i)};
    if (CommentChar != '\0') {
      const size_t comment = line.text.find(CommentChar);
      if (comment != std::string::npos)
        line.text.resize(comment);
    }
    if (line.text.empty() && !line.object)
      continue;
    if (withPath) {
      if (!line.text.empty())
        PathToSequence(line.text, &names);
    } else {
      line.level = LevelFromPath(line.text);
      line.text = NameFromPath(line.text);
    }
    lines.push_back(std::move(line));
  }
  return lines;
}

void TPsStringTree::AddPlanned(const std::vector<PlannedLine>& lines, bool withPath) {
  for (const PlannedLine& line : lines) {
    if (withPath)
      AddObjectWithPath(line.text, line.object);
    else
      AddObject(line.text, line.level, line.object);
  }
}

void TPsStringTree::AddStrings(const vcl::TStringList& strings, bool withPath) {
  DebugScope scope("TPsStringTree.AddStrings", this);
  AddPlanned(PlanLines(strings, withPath), withPath);
}

void TPsStringTree::DoDelete(int index, int count) {
  const auto first = nodes_.begin() + index;
  const auto last = first + count;
  if (OwnsObjects) {
    for (auto entry = first; entry != last; ++entry) {
      if (entry->node->DataObject)
        orphans_.push_back(entry->node->DataObject);
    }
  }
  nodes_.erase(first, last);
  for (size_t i = static_cast<size_t>(index); i < nodes_.size(); ++i) {
    TPsStringTreeNode& next = *nodes_[i].node;
    if (next.ParentID >= index + count)
      next.ParentID -= count;
    else if (next.ParentID >= index)
      next.ParentID = FindParent(index, next.Level);
  }
  pathIndexValid_ = false;
}

void TPsStringTree::FreeOrphans() {
  // Freed once the tree is whole again: a data object's end may look at it.
  std::vector<vcl::TObject*> orphans;
  orphans.swap(orphans_);
  for (vcl::TObject* orphan : orphans)
    vcl::FreeObject(orphan);
}

void TPsStringTree::Delete(int index) {
  DebugScope scope("TPsStringTree.Delete", this);
  CheckIndex(index, Count());
  vcl::TUpdateScope update(*this);
  DoDelete(index, 1);
  FreeOrphans();
  update.End();
}

void TPsStringTree::DeleteSubTree(int index, bool childrenOnly) {
  DebugScope scope("TPsStringTree.DeleteSubTree", this);
  if (index == -1) {
    Clear();
    return;
  }
  CheckIndex(index, Count());
  if (childrenOnly && !HasChildren(index))
    return;
  const int level = GetLevel(index);
  const int start = childrenOnly ? index + 1 : index;
  int end = start + 1;
  while (end < Count() && GetLevel(end) > level)
    ++end;
  vcl::TUpdateScope update(*this);
  DoDelete(start, end - start);
  FreeOrphans();
  update.End();
}

void TPsStringTree::Clear() {
  DebugScope scope("TPsStringTree.Clear", this);
  vcl::TUpdateScope update(*this);
  DoDelete(0, Count());
  FreeOrphans();
  update.End();
}

// ---- Copies ----------------------------------------------------------------------

void TPsStringTree::Assign(const vcl::TPersistent* source) {
  DebugScope scope("TPsStringTree.Assign", this);
  if (const auto* strings = dynamic_cast<const vcl::TStringList*>(source)) {
    const std::vector<PlannedLine> lines = PlanLines(*strings, false);
    Clear();
    AddPlanned(lines, false);
    return;
  }
  vcl::TPersistent::Assign(source);
}

void TPsStringTree::AssignTo(vcl::TPersistent* dest) const {
  if (auto* tree = dynamic_cast<TPsStringTree*>(dest))
    AssignToTree(tree, -1, tnAnyNode, -1);
  else if (auto* strings = dynamic_cast<vcl::TStringList*>(dest))
    AssignToStrings(strings, true, 0, tnAnyNode, -1);
  else if (auto* nodes = dynamic_cast<IPsTreeNodes*>(dest))
    AssignToTreeNodes(*nodes, "");
  else if (auto* view = dynamic_cast<IPsTreeView*>(dest))
    AssignToTreeNodes(view->Items(), "");
  else
    vcl::TPersistent::AssignTo(dest);
}

void TPsStringTree::AssignToStrings(vcl::TStringList* strings, bool fullPath, int startIndex,
                                    TPsStringTreeNodeTypes nodeTypes, int depth) const {
  if (!strings)
    throw vcl::EAssertionFailed("TPsStringTree.AssignToStrings: Strings must be assigned!");
  vcl::TUpdateScope update(*strings);
  strings->Clear();
  const int start = std::max(0, startIndex);
  // From the first node on it is the whole tree with paths from the top
  // level, also when the first node stands deeper: a lower node after it
  // is no end, and the path's missing names are filled in below.
  const int base = start == 0 ? 0 : GetLevel(start);
  const int64_t deepest = depth < 0 ? INT64_MAX : static_cast<int64_t>(base) + depth;
  TPsStringList pathStack;
  PrepareSequence(pathStack);
  for (int i = start; i < Count() && GetLevel(i) >= base; ++i) {
    const Entry& entry = nodes_[static_cast<size_t>(i)];
    if (entry.node->Level > deepest)
      continue;
    const TPsStringTreeNodeType type = HasChildren(i) ? tnBranch : tnLeaf;
    if (fullPath && (type == tnBranch || nodeTypes.Contains(tnLeaf))) {
      const int relative = entry.node->Level - base;
      while (pathStack.Count() > relative)
        pathStack.Delete(pathStack.Count() - 1);
      while (pathStack.Count() <= relative)
        pathStack.Add(entry.name);
    }
    if (nodeTypes.Contains(type))
      strings->AddObject(fullPath ? pathStack.GetDelimitedText() : entry.name,
                         entry.node->DataObject);
  }
  update.End();
}

void TPsStringTree::AssignToTree(TPsStringTree* tree, int startIndex,
                                 TPsStringTreeNodeTypes nodeTypes, int depth) const {
  if (!tree)
    throw vcl::EAssertionFailed("TPsStringTree.AssignToTree: Tree must be assigned!");
  // Gathered first: the destination may be this tree.
  std::vector<PlannedLine> copies;
  if (!nodes_.empty() && startIndex < Count()) {
    const int start = std::max(0, startIndex);
    // The whole tree keeps its levels, whatever the first node's.
    const int base = startIndex < 0 ? 0 : GetLevel(start);
    const int childLevel = GetLevel(startIndex) + 1;
    const int64_t deepest = depth < 0 ? INT64_MAX : static_cast<int64_t>(childLevel) + depth;
    for (int i = start; i < Count() && (i == start || GetLevel(i) >= childLevel); ++i) {
      const Entry& entry = nodes_[static_cast<size_t>(i)];
      if (entry.node->Level > deepest || !nodeTypes.Contains(HasChildren(i) ? tnBranch : tnLeaf))
        continue;
      copies.push_back({entry.name, entry.node->Level - base, entry.node->DataObject});
    }
  }
  tree->Clear();
  tree->AddPlanned(copies, false);
}

void TPsStringTree::AssignToTreeNodes(IPsTreeNodes& treeNodes,
                                      const std::string& rootCaption) const {
  treeNodes.Clear();
  const int top = rootCaption.empty() ? -1 : treeNodes.AddChildObject(-1, rootCaption, nullptr);
  std::vector<int> viewNodes(nodes_.size());
  for (size_t i = 0; i < nodes_.size(); ++i) {
    const TPsStringTreeNode& node = *nodes_[i].node;
    const int parent = node.ParentID < 0 ? top : viewNodes[static_cast<size_t>(node.ParentID)];
    viewNodes[i] = treeNodes.AddChildObject(parent, nodes_[i].name, node.DataObject);
    if (HasChildren(static_cast<int>(i)))
      treeNodes.SetHasChildren(viewNodes[i], true);
  }
}

// ---- Text form -------------------------------------------------------------------

void TPsStringTree::LoadFromStream(std::istream& stream) {
  DebugScope scope("TPsStringTree.LoadFromStream", this);
  vcl::TStringList lines;
  lines.LoadFromStream(stream);
  Assign(&lines);
}

void TPsStringTree::SaveToStream(std::ostream& stream) const {
  vcl::TStringList lines;
  AssignToStrings(&lines, true, 0, tnAnyNode, -1);
  lines.SaveToStream(stream);
}

void TPsStringTree::LoadFromFile(const std::string& fileName) {
  const std::optional<std::string> bytes = platform::files().ReadAll(fileName);
  if (!bytes)
    throw vcl::EFOpenError(vcl::Format("Cannot open file \"%s\"", fileName));
  std::istringstream stream(*bytes);
  LoadFromStream(stream);
}

void TPsStringTree::SaveToFile(const std::string& fileName) const {
  std::ostringstream stream;
  SaveToStream(stream);
  if (!platform::files().ReplaceAll(fileName, stream.str()))
    throw vcl::EFCreateError(vcl::Format("Cannot create file \"%s\"", fileName));
}

// ---- Trace -----------------------------------------------------------------------

void TPsStringTree::DebugDump(std::string_view name, bool withNodes) const {
  if (!ActiveDebugWriter())
    return;
  const std::string prefix(name);
  DebugValueInt(prefix + " Count", Count());
  for (int i = 0; i < Count(); ++i) {
    const Entry& entry = nodes_[static_cast<size_t>(i)];
    DebugValueStr(vcl::Format("%s String[%d]", prefix, i), entry.name);
    DebugObject(vcl::Format("%s Objects[%d]", prefix, i), entry.node->DataObject);
  }
  if (withNodes) {
    for (int i = 0; i < Count(); ++i)
      DebugDumpNode(i, prefix);
  }
}

void TPsStringTree::DebugDumpNode(int index, std::string_view name) const {
  Node(index).DebugDump(vcl::Format("%s Nodes[%d]", name, index));
}

}  // namespace toolkit
