#include <functional>
#include <string>
#include <vector>

#include "VclTestEnvironment.h"
#include "vcl/Classes.h"

namespace {

using vcl::TComponent;
using vcl::TOperation;

// Writes its name into a shared log when it is freed, and records the
// notifications it receives.
class Probe : public TComponent {
 public:
  Probe(TComponent* owner, std::string label, std::vector<std::string>* freed = nullptr)
      : TComponent(owner, "TProbe"), label_(std::move(label)), freed_(freed) {}
  ~Probe() override {
    if (freed_)
      freed_->push_back(label_);
  }

  struct Heard {
    TComponent* component;
    TOperation operation;
    bool probe;  // the component was still known as a Probe
  };
  std::vector<Heard> heard;

 protected:
  void Notification(TComponent* component, TOperation operation) override {
    heard.push_back({component, operation, dynamic_cast<Probe*>(component) != nullptr});
    TComponent::Notification(component, operation);
  }

 private:
  std::string label_;
  std::vector<std::string>* freed_;
};

TEST(ComponentTest, OwnedComponentsAreFreedWithTheirOwnerLastFirst) {
  std::vector<std::string> freed;
  auto* owner = new Probe(nullptr, "owner", &freed);
  new Probe(owner, "first", &freed);
  auto* second = new Probe(owner, "second", &freed);
  new Probe(second, "grandchild", &freed);
  new Probe(owner, "third", &freed);
  EXPECT_EQ(owner->ComponentCount(), 3);
  vcl::Free(owner);
  EXPECT_EQ(freed, (std::vector<std::string>{"third", "grandchild", "second", "first", "owner"}));

  // A plain delete runs the subclass's destructor body first; Free (above)
  // frees the owned ones while the owner is whole.
  freed.clear();
  owner = new Probe(nullptr, "owner", &freed);
  new Probe(owner, "a", &freed);
  delete owner;
  EXPECT_EQ(freed, (std::vector<std::string>{"owner", "a"}));
}

TEST(ComponentTest, NamesAreValidAndUniqueWithinTheOwnerIgnoringCase) {
  vcl::Owned<TComponent> owner(new TComponent(nullptr));
  auto* a = new TComponent(owner.get());
  auto* b = new TComponent(owner.get());
  a->SetName("btnHide");
  EXPECT_THROW(b->SetName("BTNHIDE"), vcl::EComponentError);
  EXPECT_EQ(b->Name(), "");  // empty names may repeat
  for (const char* invalid : {"1abc", "with space"})
    EXPECT_THROW(b->SetName(invalid), vcl::EComponentError) << invalid;
  b->SetName("btnHide2");
  EXPECT_EQ(owner->FindComponent("BtnHide"), a);
  EXPECT_EQ(owner->FindComponent("btnhide2"), b);
  EXPECT_EQ(owner->FindComponent(""), nullptr);
  // Renaming to its own name in another case is fine.
  a->SetName("BTNHIDE");
  EXPECT_EQ(a->Name(), "BTNHIDE");

  // Another owner may have the same name, but moving it here clashes.
  vcl::Owned<TComponent> two(new TComponent(nullptr));
  auto* other = new TComponent(two.get());
  other->SetName("btnhide");
  EXPECT_THROW(owner->InsertComponent(other), vcl::EComponentError);
  EXPECT_EQ(other->Owner(), two.get());
}

TEST(ComponentTest, FreeingAComponentNotifiesItsOwnerTheOwnedAndItsWatchers) {
  vcl::Owned<Probe> owner(new Probe(nullptr, "owner"));
  auto* child = new Probe(owner.get(), "child");
  child->SetName("Child");
  auto* sibling = new Probe(owner.get(), "sibling");
  vcl::Owned<Probe> watcher(new Probe(nullptr, "watcher"));
  child->FreeNotification(watcher.get());
  ASSERT_EQ(owner->heard.size(), 2u);
  EXPECT_EQ(owner->heard[0].operation, TOperation::opInsert);
  owner->heard.clear();

  vcl::Free(child);
  // The owner forgets it and passes the news on to the components it still
  // owns; all of them hear it while the child is whole, of its own class.
  for (Probe* told : {owner.get(), sibling, watcher.get()}) {
    ASSERT_EQ(told->heard.size(), 1u);
    EXPECT_EQ(told->heard[0].component, child);
    EXPECT_EQ(told->heard[0].operation, TOperation::opRemove);
    EXPECT_TRUE(told->heard[0].probe);
  }
  EXPECT_EQ(owner->ComponentCount(), 1);
  EXPECT_EQ(owner->FindComponent("Child"), nullptr);

  // A watcher freed first is not told later.
  sibling->FreeNotification(watcher.get());
  watcher.reset();
  vcl::Free(sibling);  // would touch the freed watcher if it were still listed
}

// Writes "<label> heard <label> go" into a shared log for every removal it
// is told of; one that hears all its owner's news says so at its creation.
class Listener : public TComponent {
 public:
  Listener(TComponent* owner, std::string label, std::vector<std::string>& log,
           bool hearsAll = false)
      : TComponent(owner, "TListener"), label(std::move(label)), log_(log) {
    if (hearsAll)
      HearAllOwnerNews();
  }
  const std::string label;
  // Runs when this one is told that `component` goes.
  std::function<void(TComponent* component)> onRemoval;

 protected:
  void Notification(TComponent* component, TOperation operation) override {
    if (operation == TOperation::opRemove) {
      const auto* other = dynamic_cast<Listener*>(component);
      log_.push_back(label + " heard " + (other ? other->label : "?") + " go");
      if (onRemoval)
        onRemoval(component);
    }
    TComponent::Notification(component, operation);
  }

 private:
  std::vector<std::string>& log_;
};

TEST(ComponentTest, AComponentFreedAloneIsToldToEveryOtherOneOwnedInTheirOrder) {
  std::vector<std::string> log;
  vcl::Owned<Listener> owner(new Listener(nullptr, "owner", log));
  auto* a = new Listener(owner.get(), "a", log);
  new Listener(owner.get(), "b", log);
  auto* c = new Listener(owner.get(), "c", log);
  auto* d = new Listener(owner.get(), "d", log);
  // One told of the news gives up another before its turn: that one is not
  // told, being no longer owned, and the round goes on after the news of
  // the one given up.
  a->onRemoval = [&](TComponent* gone) {
    if (gone == d)
      owner->RemoveComponent(c);
  };
  vcl::Free(d);
  EXPECT_EQ(log, (std::vector<std::string>{"owner heard d go", "a heard d go", "owner heard c go",
                                           "a heard c go", "b heard c go", "b heard d go"}));
  vcl::Free(c);
}

TEST(ComponentTest, ComponentsFreedWithTheirOwnerAreToldOnlyToThoseThatAskedOrHearAllItsNews) {
  std::vector<std::string> log;
  auto* owner = new Listener(nullptr, "owner", log);
  auto* a = new Listener(owner, "a", log);
  new Listener(owner, "all", log, true);
  auto* b = new Listener(owner, "b", log);
  new Listener(owner, "c", log);
  b->FreeNotification(a);
  vcl::Free(owner);
  // Freed last first; the owner hears of each, "a" of "b" only, which it
  // asked for, and "all" of those freed before it.
  EXPECT_EQ(log, (std::vector<std::string>{"owner heard c go", "all heard c go", "a heard b go",
                                           "owner heard b go", "all heard b go",
                                           "owner heard all go", "owner heard a go"}));
}

TEST(ComponentTest, RemoveComponentGivesUpOwnershipWithoutFreeing) {
  std::vector<std::string> freed;
  vcl::Owned<Probe> owner(new Probe(nullptr, "owner", &freed));
  auto* child = new Probe(owner.get(), "child", &freed);
  owner->RemoveComponent(child);
  EXPECT_EQ(child->Owner(), nullptr);
  owner.reset();
  EXPECT_EQ(freed, (std::vector<std::string>{"owner"}));
  vcl::Free(child);
}

TEST(ComponentTest, LoadingEndsWithLoadedAndFreeObjectFreesAnyObject) {
  struct Loader : TComponent {
    Loader() : TComponent(nullptr, "TLoader") {}
    bool loadingWhenLoaded = false;
    void Loaded() override {
      loadingWhenLoaded = Loading();
      TComponent::Loaded();
    }
  };
  vcl::Owned<Loader> loader(new Loader);
  loader->BeginLoading();
  EXPECT_TRUE(loader->Loading());
  loader->EndLoading();
  EXPECT_TRUE(loader->loadingWhenLoaded);
  EXPECT_FALSE(loader->Loading());
  EXPECT_EQ(static_cast<vcl::TPersistent*>(loader.get())->ClassName(), "TLoader");

  std::vector<std::string> freed;
  vcl::FreeObject(new Probe(nullptr, "probe", &freed));
  vcl::FreeObject(new vcl::TObject);
  vcl::FreeObject(nullptr);
  EXPECT_EQ(freed, (std::vector<std::string>{"probe"}));
}

}  // namespace
