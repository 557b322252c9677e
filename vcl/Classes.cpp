#include "vcl/Classes.h"

#include <algorithm>
#include <iterator>
#include <unordered_set>
#include <utility>

namespace vcl {
namespace {

bool IsIdentifier(const std::string& name) {
  if (name.empty())
    return false;
  auto alpha = [](char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == '_'; };
  if (!alpha(name[0]))
    return false;
  return std::all_of(name.begin(), name.end(),
                     [&](char c) { return alpha(c) || (c >= '0' && c <= '9'); });
}

// Lists hold an item once. The search starts at the end, where the latest
// item is: components are freed last first, so each is found at once.
void Erase(std::vector<TComponent*>& list, const TComponent* item) {
  const auto found = std::find(list.rbegin(), list.rend(), item);
  if (found != list.rend())
    list.erase(std::next(found).base());
}

}  // namespace

// One round of news to the owned components. A component that leaves the
// owner while the round is under way is noted, so that the round passes it
// over without touching it: it may be freed already.
struct TComponent::NewsRound {
  explicit NewsRound(TComponent& owner) : owner(owner), outer(owner.newsRounds_) {
    owner.newsRounds_ = this;
  }
  ~NewsRound() { owner.newsRounds_ = outer; }
  NewsRound(const NewsRound&) = delete;
  NewsRound& operator=(const NewsRound&) = delete;

  TComponent& owner;
  NewsRound* outer;
  std::unordered_set<const TComponent*> left;
};

void TPersistent::Assign(const TPersistent* source) {
  if (!source)
    AssignError(nullptr);
  source->AssignTo(this);
}

void TPersistent::AssignTo(TPersistent* dest) const {
  dest->AssignError(this);
}

void TPersistent::AssignError(const TPersistent* source) const {
  throw EConvertError(
      Format("Cannot assign a %s to a %s", source ? source->ClassName() : "nil", ClassName()));
}

TComponent::TComponent(TComponent* owner, std::string className)
    : className_(std::move(className)) {
  if (owner)
    owner->InsertComponent(this);
}

TComponent::~TComponent() {
  // Reached through Free (BeforeDestruction has run) or a plain delete.
  destroying_ = true;
  DestroyComponents();
  AnnounceEnd();
}

void TComponent::BeforeDestruction() {
  DestroyComponents();
  AnnounceEnd();
}

void TComponent::AnnounceEnd() {
  while (!freeNotifies_.empty()) {
    TComponent* other = freeNotifies_.back();
    freeNotifies_.pop_back();
    Erase(other->freeNotifies_, this);
    other->Notification(this, TOperation::opRemove);
  }
  if (owner_)
    owner_->RemoveComponent(this);
}

void TComponent::DestroyComponents() {
  // Each freed component takes itself out of the list (RemoveComponent).
  // None of them outlives this one, so the others need not hear of it: that
  // would cost every remaining component a call for each one freed.
  const bool wasFreeing = std::exchange(freeingComponents_, true);
  while (!components_.empty())
    Free(components_.back());
  freeingComponents_ = wasFreeing;
}

void TComponent::EndLoading() {
  Loaded();
  loading_ = false;
}

void TComponent::SetName(const std::string& name) {
  if (name == name_)
    return;
  if (!name.empty() && !IsIdentifier(name)) {
    throw EComponentError("'" + name + "' is not a valid component name");
  }
  if (owner_)
    owner_->ValidateRename(this, name);
  name_ = name;
}

void TComponent::ValidateRename(TComponent* component, const std::string& newName) const {
  if (newName.empty())
    return;
  for (TComponent* other : components_) {
    if (other != component && SameText(other->name_, newName)) {
      throw EComponentError("A component named " + newName + " already exists");
    }
  }
}

TComponent* TComponent::FindComponent(const std::string& name) const {
  if (name.empty())
    return nullptr;
  for (TComponent* component : components_) {
    if (SameText(component->name_, name))
      return component;
  }
  return nullptr;
}

void TComponent::InsertComponent(TComponent* component) {
  if (!component || component->owner_ == this)
    return;
  ValidateRename(component, component->name_);
  if (component->owner_)
    component->owner_->RemoveComponent(component);
  Insert(component);
  Notification(component, TOperation::opInsert);
}

void TComponent::AnnounceInsertion() {
  if (owner_)
    owner_->Notification(this, TOperation::opInsert);
}

void TComponent::RemoveComponent(TComponent* component) {
  if (!component || component->owner_ != this)
    return;
  Remove(component);
  Notification(component, TOperation::opRemove);
}

void TComponent::Insert(TComponent* component) {
  components_.push_back(component);
  if (component->hearsAllOwnerNews_)
    allNewsHearers_.push_back(component);
  component->owner_ = this;
  for (NewsRound* round = newsRounds_; round; round = round->outer)
    round->left.erase(component);
}

void TComponent::Remove(TComponent* component) {
  Erase(components_, component);
  if (component->hearsAllOwnerNews_)
    Erase(allNewsHearers_, component);
  component->owner_ = nullptr;
  for (NewsRound* round = newsRounds_; round; round = round->outer)
    round->left.insert(component);
}

void TComponent::HearAllOwnerNews() {
  if (hearsAllOwnerNews_)
    return;
  hearsAllOwnerNews_ = true;
  if (owner_)
    owner_->allNewsHearers_.push_back(this);
}

void TComponent::FreeNotification(TComponent* other) {
  if (!other || other == this || other == owner_)
    return;
  if (std::find(freeNotifies_.begin(), freeNotifies_.end(), other) == freeNotifies_.end()) {
    freeNotifies_.push_back(other);
    other->freeNotifies_.push_back(this);
  }
}

void TComponent::RemoveFreeNotification(TComponent* other) {
  if (!other)
    return;
  Erase(freeNotifies_, other);
  Erase(other->freeNotifies_, this);
}

void TComponent::Notification(TComponent* component, TOperation operation) {
  if (operation == TOperation::opRemove)
    RemoveFreeNotification(component);
  TellOwned(freeingComponents_ ? allNewsHearers_ : components_, component, operation);
}

void TComponent::TellOwned(const std::vector<TComponent*>& listeners, TComponent* component,
                           TOperation operation) {
  if (listeners.empty())
    return;
  // A copy: a component told of the news may free or insert others.
  const std::vector<TComponent*> due = listeners;
  NewsRound round(*this);
  for (TComponent* child : due) {
    if (child != component && !round.left.contains(child))
      child->Notification(component, operation);
  }
}

void Free(TComponent* component) {
  if (!component || component->destroying_)
    return;
  component->destroying_ = true;
  component->BeforeDestruction();
  delete component;
}

void FreeObject(TObject* object) {
  if (auto* component = dynamic_cast<TComponent*>(object))
    Free(component);
  else
    delete object;
}

}  // namespace vcl
