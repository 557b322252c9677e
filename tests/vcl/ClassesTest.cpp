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
  };
  std::vector<Heard> heard;

 protected:
  void Notification(TComponent* component, TOperation operation) override {
    heard.push_back({component, operation});
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
}

TEST(ComponentTest, PlainDeleteAlsoFreesOwnedComponents) {
  std::vector<std::string> freed;
  auto* owner = new Probe(nullptr, "owner", &freed);
  new Probe(owner, "a", &freed);
  new Probe(owner, "b", &freed);
  delete owner;
  // The subclass's destructor body runs first here; Free (above) runs
  // BeforeDestruction, which frees the owned ones while the owner is whole.
  EXPECT_EQ(freed, (std::vector<std::string>{"owner", "b", "a"}));
}

TEST(ComponentTest, NamesAreUniqueWithinTheOwnerIgnoringCase) {
  vcl::Owned<TComponent> owner(new TComponent(nullptr));
  auto* a = new TComponent(owner.get());
  auto* b = new TComponent(owner.get());
  a->SetName("btnHide");
  EXPECT_THROW(b->SetName("BTNHIDE"), vcl::EComponentError);
  EXPECT_EQ(b->Name(), "");
  EXPECT_THROW(b->SetName("btnHide"), vcl::EComponentError);
  b->SetName("btnHide2");
  EXPECT_EQ(owner->FindComponent("BtnHide"), a);
  EXPECT_EQ(owner->FindComponent("btnhide2"), b);
  EXPECT_EQ(owner->FindComponent("nothing"), nullptr);
  // Renaming to its own name in another case is fine.
  a->SetName("BTNHIDE");
  EXPECT_EQ(a->Name(), "BTNHIDE");
}

TEST(ComponentTest, EmptyNamesMayRepeatAndInvalidNamesAreRefused) {
  vcl::Owned<TComponent> owner(new TComponent(nullptr));
  auto* a = new TComponent(owner.get());
  new TComponent(owner.get());
  EXPECT_THROW(a->SetName("1abc"), vcl::EComponentError);
  EXPECT_THROW(a->SetName("with space"), vcl::EComponentError);
  EXPECT_EQ(a->Name(), "");
  EXPECT_EQ(owner->FindComponent(""), nullptr);
}

TEST(ComponentTest, TheSameNameUnderDifferentOwnersIsFine) {
  vcl::Owned<TComponent> one(new TComponent(nullptr));
  vcl::Owned<TComponent> two(new TComponent(nullptr));
  (new TComponent(one.get()))->SetName("Timer");
  auto* other = new TComponent(two.get());
  other->SetName("timer");
  // But moving it under the first owner clashes and is refused.
  EXPECT_THROW(one->InsertComponent(other), vcl::EComponentError);
  EXPECT_EQ(other->Owner(), two.get());
}

TEST(ComponentTest, FreeingAChildNotifiesTheOwnerWhichForgetsIt) {
  vcl::Owned<Probe> owner(new Probe(nullptr, "owner"));
  auto* child = new Probe(owner.get(), "child");
  child->SetName("Child");
  auto* sibling = new Probe(owner.get(), "sibling");
  ASSERT_EQ(owner->heard.size(), 2u);
  EXPECT_EQ(owner->heard[0].operation, TOperation::opInsert);
  owner->heard.clear();

  vcl::Free(child);
  ASSERT_EQ(owner->heard.size(), 1u);
  EXPECT_EQ(owner->heard[0].component, child);
  EXPECT_EQ(owner->heard[0].operation, TOperation::opRemove);
  EXPECT_EQ(owner->ComponentCount(), 1);
  EXPECT_EQ(owner->Components(0), sibling);
  EXPECT_EQ(owner->FindComponent("Child"), nullptr);
  // The owner passes the news on to the components it still owns.
  ASSERT_EQ(sibling->heard.size(), 1u);
  EXPECT_EQ(sibling->heard[0].component, child);
  EXPECT_EQ(sibling->heard[0].operation, TOperation::opRemove);
}

TEST(ComponentTest, FreeNotificationTellsAComponentThatIsNotTheOwner) {
  vcl::Owned<Probe> watcher(new Probe(nullptr, "watcher"));
  auto* watched = new Probe(nullptr, "watched");
  watched->FreeNotification(watcher.get());
  vcl::Free(watched);
  ASSERT_EQ(watcher->heard.size(), 1u);
  EXPECT_EQ(watcher->heard[0].component, watched);
  EXPECT_EQ(watcher->heard[0].operation, TOperation::opRemove);
}

TEST(ComponentTest, AFreedWatcherIsNotToldLater) {
  auto* watcher = new Probe(nullptr, "watcher");
  vcl::Owned<Probe> watched(new Probe(nullptr, "watched"));
  watched->FreeNotification(watcher);
  vcl::Free(watcher);
  watched.reset();  // would touch the freed watcher if it were still listed
  SUCCEED();
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

}  // namespace
