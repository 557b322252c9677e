// Unit PsConnectors: TPsVarLinkList, a persistent keyed list of variable
// links. It hears each link's changes, vetting and the end of its variable,
// passes them on as list events, switches all links on or off together and
// counts its links by quality.
#pragma once

#include <cstdint>
#include <functional>
#include <unordered_map>

#include "toolkit/PsClassesPersistent.h"
#include "toolkit/PsVarsLink.h"

namespace opcserver {

using TPsVarLinkEvent = std::function<void(vcl::TObject* sender, toolkit::TPsVarLink* link)>;
using TPsVarLinkChangingEvent =
    std::function<void(toolkit::TPsVarLink* link, toolkit::PsVariant& value, bool& cancel,
                       toolkit::TPsVarQuality& quality)>;

class TPsVarLinkList : public toolkit::TPsPersistentList {
 public:
  // Of TPsVarLink items by default. A link's variable is no component of
  // its item: a freed variable reaches the link through its own slot.
  explicit TPsVarLinkList(
      vcl::TObject* owner,
      const toolkit::TPsClassMeta* itemClass = &toolkit::TPsVarLink::ClassMeta(),
      bool ownsItems = true);
  // Its own items cleared here, while its ItemFinish is still reachable;
  // every link it let go has the handlers back that it had before.
  ~TPsVarLinkList() override;
  std::string ClassName() const override { return "TPsVarLinkList"; }
  static const toolkit::TPsClassMeta& ClassMeta();

  toolkit::TPsVarLink* GetLinks(int index) const;
  // An owning list adds a new link copying `link`; another adds `link`.
  toolkit::TPsVarLink* AddLink(toolkit::TPsVarLink* link);
  // From another link list: cleared, then each of its links added in order
  // (AddLink). Anything else as the persistent list assigns it.
  void Assign(const vcl::TPersistent* source) override;
  // Each link of `source` at index + its position there, as AddLink adds
  // it: copies into an owning list.
  virtual void InsertLinks(int index, const TPsVarLinkList& source);
  // Active of every link, in list order.
  virtual void ActivateAll(bool active);

  // Links of good and of uncertain quality; -1 while not known.
  int32_t GoodCount() const { return goodCount_; }
  int32_t UncertainCount() const { return uncertainCount_; }
  void InvalidateStatistics() { goodCount_ = -1; }
  // Counts the links by their present quality: known from now on.
  void UpdateStatistics();

  // A link whose variable is freed leaves the list.
  bool DeleteOnVariableDestroy = false;
  TPsVarLinkEvent OnLinkChange;
  TPsVarLinkChangingEvent OnLinkChanging;
  TPsVarLinkEvent OnLinkConfig;
  TPsVarLinkEvent OnLinkFinish;
  TPsVarLinkEvent OnLinkInit;

  // Binds the link to this list (LinkInit, the configuration handler),
  // keeping the handlers it replaces.
  void ItemInit(toolkit::TPsPersistent* item) override;
  void ItemConfig(toolkit::TPsPersistent* item) override;
  // LinkFinish; then each handler of the link that is still this list's is
  // given back what it was before ItemInit: a link outlives a list that
  // does not own it, and another list may have bound it first.
  void ItemFinish(toolkit::TPsPersistent* item) override;

 protected:
  // Hooks the link's change, vetting and variable end to the list.
  virtual void LinkInit(toolkit::TPsVarLink* link);
  virtual void LinkConfig(toolkit::TPsVarLink* link);
  virtual void LinkFinish(toolkit::TPsVarLink* link);
  virtual void LinkChange(toolkit::TPsVarLink* link);
  // OnLinkChanging; then, for a change not cancelled while the counts are
  // known, the link moves from its present quality's count to the new one's.
  virtual void LinkChanging(toolkit::TPsVarLink* link, toolkit::PsVariant& value, bool& cancel,
                            toolkit::TPsVarQuality& quality);
  virtual void LinkVariableDestroy(toolkit::TPsVarLink* link);

 private:
  // AddLink at a place.
  toolkit::TPsVarLink* InsertLink(int index, toolkit::TPsVarLink* link);

  // A link's handlers from before this list bound it.
  struct TBinding {
    vcl::TNotifyEvent OnChange;
    toolkit::TPsVarLinkChangingEvent OnChanging;
    vcl::TNotifyEvent OnVarDestroy;
    vcl::TNotifyEvent OnConfigChanged;
  };
  // The link's change handler is this list's.
  bool Binds(const toolkit::TPsVarLink* link) const;
  void Unbind(toolkit::TPsVarLink* link);

  // By link, for the links this list bound and has not let go.
  std::unordered_map<const toolkit::TPsVarLink*, TBinding> bindings_;
  int32_t goodCount_ = -1;
  int32_t uncertainCount_ = 0;
};

// Makes TPsVarLinkList creatable by name (the OPC server's start).
void RegisterConnectorClasses();

}  // namespace opcserver
