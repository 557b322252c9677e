#include "opcserver/PsConnectors.h"

#include <algorithm>
#include <limits>
#include <vector>

#include "toolkit/psRTTI.h"
#include "vcl/SysUtils.h"

namespace opcserver {
namespace {

using toolkit::TPsVarLink;
using toolkit::TPsVarQuality;

// A handler a list sets on a link, which the list knows again as its own.
template <class... Args>
struct Bound {
  const TPsVarLinkList* List;
  std::function<void(Args...)> Call;
  void operator()(Args... args) const { Call(args...); }
};
using BoundNotify = Bound<vcl::TObject*>;
using BoundChanging =
    Bound<vcl::TObject*, toolkit::PsVariant&, TPsVarQuality&, toolkit::TPsVarChangingResponse&>;

template <class Handler, class Event>
bool IsBoundBy(const Event& event, const TPsVarLinkList* list) {
  const Handler* bound = event.template target<Handler>();
  return bound && bound->List == list;
}

// `event` := `before` when it is still `list`'s.
template <class Handler, class Event>
void GiveBack(Event& event, Event& before, const TPsVarLinkList* list) {
  if (IsBoundBy<Handler>(event, list))
    event = std::move(before);
}

// `count` moved by `step`; a count leaving the integer range is an error.
void Move(int32_t& count, int step) {
  const int64_t moved = int64_t{count} + step;
  if (moved < 0 || moved > std::numeric_limits<int32_t>::max())
    throw vcl::ERangeError("Range check error");
  count = static_cast<int32_t>(moved);
}

}  // namespace

TPsVarLinkList::TPsVarLinkList(vcl::TObject* owner, const toolkit::TPsClassMeta* itemClass,
                               bool ownsItems)
    : toolkit::TPsPersistentList(owner, itemClass, ownsItems) {
  std::erase(ComponentClasses(), &toolkit::TPsVar::ClassMeta());
}

TPsVarLinkList::~TPsVarLinkList() {
  try {
    Clear();
  } catch (...) {
    // A handler's error does not keep the list alive.
  }
  // What a failed Clear left listed is let go all the same.
  for (int i = 0; i < Count(); ++i)
    Unbind(GetLinks(i));
}

const toolkit::TPsClassMeta& TPsVarLinkList::ClassMeta() {
  static const toolkit::TPsClassMeta meta =
      toolkit::TPsClassMetaBuilder<TPsVarLinkList>("TPsVarLinkList",
                                                   &toolkit::TPsPersistentList::ClassMeta())
          .Build();
  return meta;
}

TPsVarLink* TPsVarLinkList::GetLinks(int index) const {
  return static_cast<TPsVarLink*>(Items(index));
}

TPsVarLink* TPsVarLinkList::AddLink(TPsVarLink* link) {
  return InsertLink(Count(), link);
}

TPsVarLink* TPsVarLinkList::InsertLink(int index, TPsVarLink* link) {
  // An owning list frees its links: another list's own become copies.
  if (!OwnsItems)
    return static_cast<TPsVarLink*>(Insert(index, link));
  auto* copy = static_cast<TPsVarLink*>(Insert(index, nullptr));
  copy->Assign(link);
  return copy;
}

void TPsVarLinkList::Assign(const vcl::TPersistent* source) {
  const auto* other = dynamic_cast<const TPsVarLinkList*>(source);
  if (!other) {
    toolkit::TPsPersistentList::Assign(source);
    return;
  }
  if (other == this)
    return;
  Clear();
  for (int i = 0; i < other->Count(); ++i)
    AddLink(other->GetLinks(i));
}

void TPsVarLinkList::InsertLinks(int index, const TPsVarLinkList& source) {
  // Taken first: the source may be this list, growing as they go in.
  std::vector<TPsVarLink*> links;
  for (int i = 0; i < source.Count(); ++i)
    links.push_back(source.GetLinks(i));
  for (size_t i = 0; i < links.size(); ++i)
    InsertLink(index + static_cast<int>(i), links[i]);
}

void TPsVarLinkList::ActivateAll(bool active) {
  for (int i = 0; i < Count(); ++i)
    GetLinks(i)->SetActive(active);
}

void TPsVarLinkList::UpdateStatistics() {
  int32_t good = 0;
  int32_t uncertain = 0;
  for (int i = 0; i < Count(); ++i) {
    const TPsVarQuality quality = GetLinks(i)->GetQuality();
    if (quality == toolkit::vpqGood)
      ++good;
    else if (quality == toolkit::vpqUncertain)
      ++uncertain;
  }
  goodCount_ = good;
  uncertainCount_ = uncertain;
}

void TPsVarLinkList::ItemInit(toolkit::TPsPersistent* item) {
  auto* link = static_cast<TPsVarLink*>(item);
  // Bound again: what it had before this list is kept from the first time.
  if (!Binds(link)) {
    bindings_.insert_or_assign(link, TBinding{link->OnChange, link->OnChanging, link->OnVarDestroy,
                                              link->OnConfigChanged});
  }
  try {
    LinkInit(link);
    toolkit::TPsPersistentList::ItemInit(item);
    // The base's binding, as one this list knows again.
    link->OnConfigChanged = BoundNotify{this, [this, link](vcl::TObject*) { ItemConfig(link); }};
  } catch (...) {
    Unbind(link);
    throw;
  }
}

void TPsVarLinkList::ItemConfig(toolkit::TPsPersistent* item) {
  LinkConfig(static_cast<TPsVarLink*>(item));
  toolkit::TPsPersistentList::ItemConfig(item);
}

void TPsVarLinkList::ItemFinish(toolkit::TPsPersistent* item) {
  auto* link = static_cast<TPsVarLink*>(item);
  try {
    LinkFinish(link);
    toolkit::TPsPersistentList::ItemFinish(item);
  } catch (...) {
    Unbind(link);
    throw;
  }
  Unbind(link);
}

bool TPsVarLinkList::Binds(const TPsVarLink* link) const {
  return IsBoundBy<BoundNotify>(link->OnChange, this);
}

void TPsVarLinkList::Unbind(TPsVarLink* link) {
  const auto found = bindings_.find(link);
  if (found == bindings_.end())
    return;
  TBinding before = std::move(found->second);
  bindings_.erase(found);
  // A handler that another list (or the link's user) set since stays.
  GiveBack<BoundNotify>(link->OnChange, before.OnChange, this);
  GiveBack<BoundChanging>(link->OnChanging, before.OnChanging, this);
  GiveBack<BoundNotify>(link->OnVarDestroy, before.OnVarDestroy, this);
  GiveBack<BoundNotify>(link->OnConfigChanged, before.OnConfigChanged, this);
}

void TPsVarLinkList::LinkInit(TPsVarLink* link) {
  link->OnChange = BoundNotify{this, [this, link](vcl::TObject*) { LinkChange(link); }};
  link->OnChanging = BoundChanging{
      this, [this, link](vcl::TObject*, toolkit::PsVariant& value, TPsVarQuality& quality,
                         toolkit::TPsVarChangingResponse& response) {
        bool cancel = response == toolkit::crReject;
        LinkChanging(link, value, cancel, quality);
        if (cancel)
          response = toolkit::crReject;
      }};
  link->OnVarDestroy =
      BoundNotify{this, [this, link](vcl::TObject*) { LinkVariableDestroy(link); }};
  InvalidateStatistics();
  if (OnLinkInit)
    OnLinkInit(this, link);
}

void TPsVarLinkList::LinkConfig(TPsVarLink* link) {
  InvalidateStatistics();
  if (OnLinkConfig)
    OnLinkConfig(this, link);
}

void TPsVarLinkList::LinkFinish(TPsVarLink* link) {
  if (OnLinkFinish)
    OnLinkFinish(this, link);
}

void TPsVarLinkList::LinkChange(TPsVarLink* link) {
  if (OnLinkChange)
    OnLinkChange(this, link);
}

void TPsVarLinkList::LinkChanging(TPsVarLink* link, toolkit::PsVariant& value, bool& cancel,
                                  TPsVarQuality& quality) {
  if (OnLinkChanging)
    OnLinkChanging(link, value, cancel, quality);
  if (cancel || goodCount_ < 0)
    return;
  const TPsVarQuality present = link->GetQuality();
  if (present == quality)
    return;
  // Bad links are not counted.
  const auto count = [this](TPsVarQuality q) -> int32_t* {
    return q == toolkit::vpqGood        ? &goodCount_
           : q == toolkit::vpqUncertain ? &uncertainCount_
                                        : nullptr;
  };
  if (int32_t* old = count(present))
    Move(*old, -1);
  if (int32_t* now = count(quality))
    Move(*now, +1);
}

void TPsVarLinkList::LinkVariableDestroy(TPsVarLink* link) {
  if (!DeleteOnVariableDestroy)
    return;
  const int index = IndexOf(link);
  if (index >= 0)
    Delete(index);
}

void RegisterConnectorClasses() {
  toolkit::RegisterClass(TPsVarLinkList::ClassMeta());
}

}  // namespace opcserver
