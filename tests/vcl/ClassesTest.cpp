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
