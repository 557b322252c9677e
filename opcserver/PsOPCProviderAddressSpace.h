// Unit PsOPCProvider, the address space: the server's tree of names whose
// nodes carry the windows and process variables they stand for. The
// provider window fills it; the server resolves item IDs against it. Every
// client browses a copy of its own (TPsOPCProviderClientAddressSpace).
//
// Threads: the tree is changed on the main thread, under its lock; client
// copies read it from COM threads under the same lock.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

#include "toolkit/PsClasses.h"
#include "toolkit/PsClassesPersistent.h"
#include "toolkit/PsVars.h"
#include "vcl/Classes.h"
#include "vcl/SysUtils.h"

namespace opcserver {

class TPsOPCProvider;

// Holds a tree's lock for its lifetime.
class TreeLock {
 public:
  explicit TreeLock(toolkit::TPsStringTree& tree) : tree_(tree) { tree_.Lock(); }
  ~TreeLock() { tree_.UnLock(); }
  TreeLock(const TreeLock&) = delete;
  TreeLock& operator=(const TreeLock&) = delete;

 private:
  toolkit::TPsStringTree& tree_;
};

class TPsOPCProviderAddressSpace : public toolkit::TPsStringTree {
 public:
  // Separator '.', every switch at its default, needing a refresh.
  explicit TPsOPCProviderAddressSpace(TPsOPCProvider* server);
  ~TPsOPCProviderAddressSpace() override;
  std::string ClassName() const override { return "TPsOPCProviderAddressSpace"; }

  TPsOPCProvider* Server() const { return server_; }

  // On refresh, every window and data module of the application is added
  // with its variables.
  bool AutoAddModules() const { return autoAddModules_; }
  void SetAutoAddModules(bool value);
  // Components created and destroyed are followed: a new module or variable
  // asks for a refresh, a removed one loses its node.
  bool WatchComponents() const { return watchComponents_; }
  void SetWatchComponents(bool value);
  // Each added variable gets one leaf per property kind.
  bool PropertyLeaves() const { return propertyLeaves_; }
  void SetPropertyLeaves(bool value);
  // An unnamed module is named "<%s.Name not defined>" with its class name.
  std::atomic<bool> UndefinedNames{true};

  // Whether Refresh has something to do.
  virtual bool NeedsRefresh();
  // The moment (UTC) of the last change of the tree, and the number of
  // changes so far: copies compare the number, which two changes within
  // one millisecond still tell apart.
  vcl::TDateTime ChangeTime() const { return changeTime_; }
  uint64_t ChangeCount() const { return changeCount_; }

  // The first node, in tree order, whose path text is exactly `itemID`
  // (item IDs, unlike the tree's paths, tell case apart); -1 when none.
  // Found through an index of every node's path text, made on the first
  // call after the tree or its path characters changed. Under the tree's
  // lock.
  int IndexOfItemID(const std::string& itemID);

  // Under the tree's lock, when forced or needed: DoRefresh, OnRefresh, and
  // no refresh needed any more.
  void Refresh(bool force);
  vcl::TNotifyEvent OnRefresh;

  // ---- Filling the tree (main thread)
  // A window or data module as a child of the parent node, named `name`,
  // else by its own name (see UndefinedNames); -1 for any other component or
  // no name. A child of that name already there is the result. With
  // `addComponents` its modules and variables follow below it, and a node
  // left without children goes again (-1).
  int AddModule(vcl::TComponent* component, int parentIndex, bool addComponents,
                const std::string& name = "");
  // AddModule with its components for each component the owner owns.
  void AddModules(vcl::TComponent* owner, int parentIndex);
  // The variable as a child of the parent node (with its property leaves
  // when PropertyLeaves); -1 when the parent has a child of that name.
  int AddVariable(int parentIndex, toolkit::TPsVar* variable, const std::string& name = "");
  // AddVariable for each process variable the owner owns.
  void AddVariables(vcl::TComponent* owner, int parentIndex);

  // Whether the component is a window or a data module (a component the
  // application owns).
  static bool IsModule(const vcl::TComponent* component);

 protected:
  // What the tree's components tell: a new module or variable asks for a
  // refresh when WatchComponents; a component that goes takes its nodes
  // along, whether watched or not (the tree never holds a freed one).
  void Notification(vcl::TComponent* component, vcl::TOperation operation);

  // The server's: every module of the application at the root, when
  // AutoAddModules.
  virtual void DoRefresh();
  // The tree's change events, then the change time.
  void Changed() override;
  void SetNeedsRefresh() { needsRefresh_ = true; }
  // A copy takes over its original's change time and count.
  void SetChange(vcl::TDateTime time, uint64_t count);

 private:
  std::string NodeName(const vcl::TComponent* component, const std::string& name) const;
  // Made on first use, on the main thread.
  toolkit::TPsComponentNexus& OwnNexus();

  TPsOPCProvider* server_;
  // Told when a variable of the tree goes, and when a module goes.
  std::unique_ptr<toolkit::TPsComponentNexus> nexus_;
  // One per module node, owned by its module: told of its components.
  std::vector<toolkit::TPsComponentNexus*> moduleNexus_;
  std::atomic<bool> autoAddModules_{true};
  std::atomic<bool> watchComponents_{true};
  std::atomic<bool> propertyLeaves_{false};
  std::atomic<bool> needsRefresh_{true};
  std::atomic<vcl::TDateTime> changeTime_{0};
  std::atomic<uint64_t> changeCount_{0};
  // Path text -> node, and what the texts were made of: the change count
  // and the path characters.
  std::unordered_map<std::string, int> itemIDIndex_;
  struct IndexedAs {
    uint64_t changeCount;
    char separator;
    char quote;
    bool operator==(const IndexedAs&) const = default;
  };
  std::optional<IndexedAs> itemIDIndexedAs_;
};

}  // namespace opcserver
