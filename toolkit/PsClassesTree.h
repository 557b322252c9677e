// Unit PsClasses, the string tree: named nodes kept as one list in
// depth-first order, each with a level, the index of its parent and a data
// object the tree does not interpret; nodes are found by index, by name under
// a parent, or by their path text ("a/'b/c'"). Included by PsClasses.h.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <iosfwd>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "vcl/Classes.h"

namespace toolkit {

class TPsStringTree;

// A node's record. ParentID names the nearest node before it with a lower
// level (-1: none, the invisible root).
class TPsStringTreeNode : public vcl::TObject {
 public:
  TPsStringTreeNode(TPsStringTree* tree, int parentID) : Tree(tree), ParentID(parentID) {}
  // The tree's nodes are made through this (see GetTreeNodeClass).
  static std::unique_ptr<TPsStringTreeNode> Create(TPsStringTree* tree, int parentID) {
    return std::make_unique<TPsStringTreeNode>(tree, parentID);
  }
  // " DataObject", " Level" and " ParentID" after `name`, to the trace hooks.
  virtual void DebugDump(std::string_view name) const;

  vcl::TObject* DataObject = nullptr;
  int32_t Level = 0;
  TPsStringTree* Tree;
  int32_t ParentID;
};

// The class of a tree's nodes: its Create.
using TPsStringTreeNodeClass = std::unique_ptr<TPsStringTreeNode> (*)(TPsStringTree* tree,
                                                                      int parentID);

enum TPsStringTreeNodeType { tnBranch, tnLeaf };

class TPsStringTreeNodeTypes {
 public:
  constexpr TPsStringTreeNodeTypes() = default;
  constexpr TPsStringTreeNodeTypes(std::initializer_list<TPsStringTreeNodeType> types) {
    for (TPsStringTreeNodeType type : types)
      bits_ |= 1u << type;
  }
  constexpr bool Contains(TPsStringTreeNodeType type) const { return (bits_ >> type) & 1u; }

 private:
  unsigned bits_ = 0;
};

inline constexpr TPsStringTreeNodeTypes tnAnyNode{tnBranch, tnLeaf};

// The node collection of a tree view, which the tree can fill; korvamon
// shows no tree view. Nodes are known by the handles it gives out.
class IPsTreeNodes {
 public:
  virtual ~IPsTreeNodes() = default;
  virtual void Clear() = 0;
  // A node with the caption and the data, the last child of `parent` (-1:
  // a top node); returns its handle.
  virtual int AddChildObject(int parent, const std::string& caption, vcl::TObject* data) = 0;
  virtual void SetHasChildren(int node, bool hasChildren) = 0;
};

// A tree-view control: its node collection.
class IPsTreeView {
 public:
  virtual ~IPsTreeView() = default;
  virtual IPsTreeNodes& Items() = 0;
};

// Index -1 is the invisible root above the top level (level -1, path empty,
// with children whenever the tree is not empty); every index at or beyond
// the count has the level -1 too. Operations that read a node raise the
// string list's index error for an index outside the tree.
//
// Every change of the node list fires OnChanging before and OnChange after
// it (Clear and DeleteSubTree: one pair for the whole), OnChange once the
// change is complete: data object set, parents renumbered, path index
// dropped. The tree takes its lock only through Lock and UnLock.
class TPsStringTree : public vcl::TPersistent {
 public:
  TPsStringTree();
  ~TPsStringTree() override;
  TPsStringTree(const TPsStringTree&) = delete;
  TPsStringTree& operator=(const TPsStringTree&) = delete;
  std::string ClassName() const override { return "TPsStringTree"; }

  // Starts a comment in text being read; #0: lines have no comments.
  char CommentChar = '\0';
  // Deleting a node frees its data object.
  bool OwnsObjects = false;
  vcl::TNotifyEvent OnChange;
  vcl::TNotifyEvent OnChanging;

  char PathSeparator() const { return pathSeparator_; }
  // EPsException for #0 or the quote character: such paths cannot be split.
  virtual void SetPathSeparator(char separator);
  char QuoteChar() const { return quoteChar_; }
  // EPsException for the path separator; #0 quotes nothing.
  virtual void SetQuoteChar(char quoteChar);

  // ---- Queries ----
  int Count() const { return static_cast<int>(nodes_.size()); }
  int GetLevel(int index) const;
  // Empty for a negative index.
  const std::string& GetNodeName(int index) const;
  // A node's data object (GetObject would be a macro under the Windows headers).
  vcl::TObject* GetObj(int index) const;
  void SetObj(int index, vcl::TObject* object);
  // A negative index is returned as it is.
  int GetParentID(int index) const;
  bool HasChildren(int index) const;
  virtual bool IsLeaf(int index) const { return !HasChildren(index); }
  // index + 1 when the node has children, else -1.
  int FirstChild(int index) const;
  // The last node of the subtree no deeper than `depth` levels below the
  // node's children (negative: any); -2 for a node without children.
  int LastChild(int index, int depth) const;
  // The first direct child named exactly `name`; -1 when none or `name` is
  // empty.
  int IndexOfChild(int parentIndex, const std::string& name) const;
  int IndexOfObject(const vcl::TObject* object) const;
  // The first node whose path text equals `path` ignoring case as the
  // user's locale does, from an index of every path built on the first call
  // after a change.
  int IndexOfPath(const std::string& path) const;
  // The names from the top level down to the node; empty outside the tree.
  void GetPathSequence(vcl::TStringList& sequence, int index) const;
  // The path sequence as delimited text (PathSeparator, QuoteChar).
  std::string GetPathText(int index) const;
  // The names of a path text: a leading separator is dropped (two give the
  // first name a separator in front: "//h/x" is "/h", "x"), so is a trailing
  // one. `sequence` must be a TPsStringList (EPsException "Sequence must be
  // a valid TPsStringList"); a path without a name raises the index error.
  void PathToSequence(const std::string& path, vcl::TStringList* sequence) const;
  // The last name of the delimited text ("a/b/" gives "").
  std::string NameFromPath(const std::string& path) const;
  // The number of names PathToSequence gives, less one.
  int LevelFromPath(const std::string& path) const;
  // Clears `strings`; when the node has children, AssignToStrings from its
  // first child.
  void GetChildren(vcl::TStringList& strings, int index, TPsStringTreeNodeTypes nodeTypes,
                   int depth, bool fullPath) const;

  // ---- Changes ----
  // Inserts a node at `index` (0 to Count) whose parent is the nearest node
  // before it with a lower level; returns `index`.
  virtual int InsertObject(int index, const std::string& name, vcl::TObject* object, int level);
  int AddObject(const std::string& name, int level, vcl::TObject* object);
  // The last child of `parentIndex` (-1: a top-level node at the end).
  int AddChildObject(int parentIndex, const std::string& name, vcl::TObject* object);
  int AddChild(int parentIndex, const std::string& name) {
    return AddChildObject(parentIndex, name, nullptr);
  }
  // Adds a node under the path, making missing parents (each name but the
  // last is the first child of that name; an empty name is the first
  // child); the last name is always a new node. An empty path adds a
  // top-level node with an empty name. Returns the new node's index.
  int AddObjectWithPath(const std::string& path, vcl::TObject* object);
  // One node per line, in order, comments cut and empty lines skipped: with
  // `withPath` through AddObjectWithPath, else appended at the level of its
  // path with the path's last name. A line that fails fails the whole call
  // before anything is added.
  void AddStrings(const vcl::TStringList& strings, bool withPath);
  // Removes one node; its descendants stay, each under the nearest node
  // before it with a lower level.
  virtual void Delete(int index);
  // Removes the node with its subtree, or only the subtree below it; -1
  // clears the tree.
  void DeleteSubTree(int index, bool childrenOnly);
  virtual void Clear();

  // From a string list: Clear, then AddStrings without paths (a failing
  // line leaves the tree as it was). Else the source assigns itself.
  void Assign(const vcl::TPersistent* source) override;
  // Clears `strings` and adds one line per node of the subtree from
  // `startIndex` (and the nodes after it at its level; from 0 or below: the
  // whole tree, relative to level 0), each of a type in `nodeTypes`, at
  // most `depth` levels down (negative: any), as its path relative to
  // `startIndex`'s level (`fullPath`; names missing between levels are the
  // node's own) or its name; with its data object.
  void AssignToStrings(vcl::TStringList* strings, bool fullPath, int startIndex,
                       TPsStringTreeNodeTypes nodeTypes, int depth) const;
  // Clears `tree` and copies the node at `startIndex` (-1: the whole tree)
  // with its subtree into it, levels counted from that node.
  void AssignToTree(TPsStringTree* tree, int startIndex, TPsStringTreeNodeTypes nodeTypes,
                    int depth) const;
  // One view node per tree node under its parent's, below one top node with
  // `rootCaption` unless it is empty; branches marked as having children.
  void AssignToTreeNodes(IPsTreeNodes& treeNodes, const std::string& rootCaption) const;

  // The text form: one line per node, its full path, ended by CR LF.
  // Loading reads lines ended by CR LF, LF or CR and assigns them; a failing
  // line leaves the tree as it was.
  virtual void LoadFromStream(std::istream& stream);
  virtual void SaveToStream(std::ostream& stream) const;
  // EFOpenError "Cannot open file \"%s\"", EFCreateError "Cannot create file \"%s\"".
  virtual void LoadFromFile(const std::string& fileName);
  virtual void SaveToFile(const std::string& fileName) const;

  // For callers that share the tree between threads; recursive.
  void Lock() { lock_.lock(); }
  void UnLock() { lock_.unlock(); }

  // The count, each name and data object and, `withNodes`, each node's own
  // dump, to the trace hooks.
  void DebugDump(std::string_view name, bool withNodes) const;

 protected:
  // Into a TPsStringTree (the whole tree), a string list (full paths), or a
  // tree view or its node collection.
  void AssignTo(vcl::TPersistent* dest) const override;
  virtual void Changed();
  virtual void Changing();
  virtual void DebugDumpNode(int index, std::string_view name) const;
  virtual TPsStringTreeNodeClass GetTreeNodeClass() const { return &TPsStringTreeNode::Create; }

 private:
  struct Entry {
    std::string name;
    std::unique_ptr<TPsStringTreeNode> node;
  };
  struct PlannedLine;

  void CheckIndex(int index, int count) const;
  const TPsStringTreeNode& Node(int index) const;
  // The nearest node before `index` whose level is below `level`, or -1.
  int FindParent(int index, int level) const;
  // Removes `count` nodes from `index` on and renumbers the parents after
  // them; the owned data objects wait in `orphans_`.
  void DoDelete(int index, int count);
  void FreeOrphans();
  // The path separator and quote character, refused as the setters say; a
  // change rebuilds the path index.
  void SetPathDelimiters(char separator, char quoteChar);
  // One OnChanging before the outermost update and one OnChange after it
  // (vcl::TUpdateScope).
  void BeginUpdate();
  void EndUpdate();
  template <class>
  friend class vcl::TUpdateScope;
  void PrepareSequence(vcl::TStringList& list) const;
  std::vector<PlannedLine> PlanLines(const vcl::TStringList& strings, bool withPath) const;
  void AddPlanned(const std::vector<PlannedLine>& lines, bool withPath);
  void BuildPathIndex() const;

  std::recursive_mutex lock_;
  char pathSeparator_ = '/';
  char quoteChar_ = '\'';
  std::vector<Entry> nodes_;
  std::vector<vcl::TObject*> orphans_;
  int updateCount_ = 0;
  // Path texts with their node, sorted ignoring case; the first node of
  // each text only.
  mutable std::vector<std::pair<std::string, int>> pathIndex_;
  mutable bool pathIndexValid_ = false;
};

}  // namespace toolkit
