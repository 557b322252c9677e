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
#include <string>

#include "toolkit/PsClasses.h"
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

  // Under the tree's lock, when forced or needed: DoRefresh, OnRefresh, and
  // no refresh needed any more.
  void Refresh(bool force);
  vcl::TNotifyEvent OnRefresh;

 protected:
  // The server's: every module of the application at the root, when
  // AutoAddModules.
  virtual void DoRefresh();
  // The tree's change events, then the change time.
  void Changed() override;
  void SetNeedsRefresh() { needsRefresh_ = true; }
  // A copy takes over its original's change time and count.
  void SetChange(vcl::TDateTime time, uint64_t count);

 private:
  TPsOPCProvider* server_;
  std::atomic<bool> autoAddModules_{true};
  std::atomic<bool> watchComponents_{true};
  std::atomic<bool> propertyLeaves_{false};
  std::atomic<bool> needsRefresh_{true};
  std::atomic<vcl::TDateTime> changeTime_{0};
  std::atomic<uint64_t> changeCount_{0};
};

}  // namespace opcserver
