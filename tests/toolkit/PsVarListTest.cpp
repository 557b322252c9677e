// The variable list: following a container, duplicates, variables that are
// freed or taken out, the shared change slot.
#include <gtest/gtest.h>

#include <vector>

#include "ExpectError.h"
#include "PsVarsTestSupport.h"
#include "toolkit/PsVarList.h"

namespace {

using namespace toolkit;
using korva_test::ExpectError;

std::vector<TPsVar*> Items(const TPsVarList& list) {
  std::vector<TPsVar*> items;
  for (int i = 0; i < list.Count(); ++i)
    items.push_back(list.GetItems(i));
  return items;
}

using Vars = std::vector<TPsVar*>;

class PsVarListTest : public vars_test::VarsTest {
 protected:
  vcl::TComponent* NewContainer() { return new vcl::TComponent(&vcl::Application()); }
};

TEST_F(PsVarListTest, FollowsItsContainer) {
  auto* a = Make<TPsFloat>("PsA");
  new vcl::TComponent(form_, "TButton");
  auto* b = Make<TPsBool>("PsB");
  TPsVarList list;
  list.Attach(form_);
  EXPECT_EQ(Items(list), (Vars{a, b}));
  auto* c = Make<TPsInteger>("PsC");
  EXPECT_EQ(Items(list), (Vars{a, b, c}));
  vcl::Free(a);
  EXPECT_EQ(Items(list), (Vars{b, c}));
  list.Attach(form_);
  EXPECT_EQ(Items(list), (Vars{b, c}));
  const int formComponents = form_->ComponentCount();

  vcl::TComponent* other = NewContainer();
  auto* d = new TPsString(other);
  list.Attach(other);
  EXPECT_EQ(Items(list), (Vars{d}));
  EXPECT_EQ(form_->ComponentCount(), formComponents - 1);  // its nexus went
  Make<TPsBool>("PsE");
  EXPECT_EQ(Items(list), (Vars{d}));

  // The container freed: the list forgets it and its nexus.
  vcl::Free(other);
  EXPECT_EQ(list.Attached(), nullptr);
  EXPECT_EQ(list.Count(), 0);
  list.Attach(form_);
  EXPECT_EQ(list.Count(), 3);
  list.Detach();
  EXPECT_EQ(list.Count(), 0);
  EXPECT_EQ(form_->ComponentCount(), formComponents);
  ExpectError<vcl::EListError>([&] { list.GetItems(0); }, "List index out of bounds (0)");
}

TEST_F(PsVarListTest, Duplicates) {
  auto* a = Make<TPsFloat>("PsA");
  auto* b = Make<TPsFloat>("PsB");
  TPsVarList list;
  EXPECT_EQ(list.Add(a), 0);
  EXPECT_EQ(list.Add(b), 1);
  EXPECT_EQ(list.Add(a), 0);
  list.Duplicates = vcl::dupError;
  ExpectError<EPsVarListError>(
      [&] { list.Add(a); },
      "List does not accept Duplicates and Variable 'Form1.PsA' is already in the list");
  list.Duplicates = vcl::dupAccept;
  EXPECT_EQ(list.Add(a), 2);
  EXPECT_EQ(list.Remove(a), 0);
  EXPECT_EQ(Items(list), (Vars{b, a}));
  // A variable freed leaves the list, though the list does not follow its owner.
  list.Add(a);
  vcl::Free(a);
  EXPECT_EQ(Items(list), (Vars{b}));
  EXPECT_EQ(list.Remove(a), -1);
}

TEST_F(PsVarListTest, OnlyListedVariablesReachTheSlot) {
  auto* a = Make<TPsFloat>("PsA");
  auto* b = Make<TPsFloat>("PsB");
  std::vector<TPsVar*> heard;
  TPsVarList list;
  list.ChangeSlot().OnVarChange = [&](TPsVar* sender, TPsVarPropTypes) { heard.push_back(sender); };
  list.Attach(form_);
  list.Duplicates = vcl::dupAccept;
  list.Add(a);
  a->SetValue(1);
  b->SetValue(1);
  list.Remove(a);  // still listed once
  a->SetValue(2);
  list.Remove(a);
  a->SetValue(3);
  list.Detach();
  b->SetValue(2);
  EXPECT_EQ(heard, (Vars{a, b, a}));
}

TEST_F(PsVarListTest, AnOwningListFreesWhatItLetsGo) {
  auto* a = Make<TPsFloat>("PsA");
  auto* b = Make<TPsFloat>("PsB");
  {
    TPsVarList list(true);
    list.Add(a);
    list.Add(b);
    list.Remove(a);
    EXPECT_EQ(form_->FindComponent("PsA"), nullptr);
    EXPECT_EQ(form_->FindComponent("PsB"), b);
  }
  EXPECT_EQ(form_->ComponentCount(), 0);
}

}  // namespace
