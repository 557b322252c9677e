// Variable link lists: copies of links, counts by quality, switching all
// links, links leaving with their variables, creation by name.
#include <gtest/gtest.h>

#include <memory>

#include "opcserver/PsConnectors.h"
#include "toolkit/PsVarsBasic.h"
#include "toolkit/psRTTI.h"

namespace {

using opcserver::TPsVarLinkList;
using toolkit::TPsVarLink;

class PsConnectorsTest : public ::testing::Test {
 protected:
  PsConnectorsTest() {
    for (auto& variable : variables)
      variable = new toolkit::TPsInteger(&owner);
  }
  TPsVarLink* AddLink(TPsVarLinkList& list, toolkit::TPsVar* variable,
                      toolkit::TPsVarPropType prop = toolkit::vpValue) {
    auto* link = static_cast<TPsVarLink*>(list.Add());
    link->SetVariable(variable);
    link->SetVarProp(prop);
    return link;
  }

  vcl::TComponent owner{nullptr};
  toolkit::TPsInteger* variables[3] = {};
};

TEST_F(PsConnectorsTest, AssignCopiesIntoAnOwningListAndSharesIntoAnotherOne) {
  TPsVarLinkList source(nullptr);
  AddLink(source, variables[0]);
  AddLink(source, variables[1], toolkit::vpCaption)->SetActive(false);
  AddLink(source, variables[2], toolkit::vpAlarmHigh);

  TPsVarLinkList copies(nullptr);
  AddLink(copies, variables[2]);
  copies.Assign(&source);
  ASSERT_EQ(copies.Count(), 3);
  ASSERT_EQ(source.Count(), 3);
  for (int i = 0; i < 3; ++i) {
    EXPECT_NE(copies.GetLinks(i), source.GetLinks(i));
    EXPECT_EQ(copies.GetLinks(i)->Variable(), variables[i]);
    EXPECT_EQ(copies.GetLinks(i)->VarProp(), source.GetLinks(i)->VarProp());
    EXPECT_EQ(copies.GetLinks(i)->Active(), i != 1);
  }

  TPsVarLinkList shared(nullptr, &TPsVarLink::ClassMeta(), false);
  shared.Assign(&source);
  ASSERT_EQ(shared.Count(), 3);
  EXPECT_EQ(shared.GetLinks(2), source.GetLinks(2));
  shared.Clear();
  EXPECT_EQ(source.GetLinks(2)->Variable(), variables[2]) << "the links stay their owner's";
}

// An owning list frees its links: what it takes from another list are
// copies, also when they go in at a place, and also from itself.
TEST_F(PsConnectorsTest, LinksInsertedIntoAnOwningListAreCopies) {
  TPsVarLinkList source(nullptr);
  AddLink(source, variables[0]);
  AddLink(source, variables[1], toolkit::vpCaption);
  {
    TPsVarLinkList owning(nullptr);
    AddLink(owning, variables[2]);
    owning.InsertLinks(0, source);
    ASSERT_EQ(owning.Count(), 3);
    for (int i = 0; i < 2; ++i) {
      EXPECT_NE(owning.GetLinks(i), source.GetLinks(i));
      EXPECT_EQ(owning.GetLinks(i)->Variable(), variables[i]);
      EXPECT_EQ(owning.GetLinks(i)->VarProp(), source.GetLinks(i)->VarProp());
    }
    EXPECT_EQ(owning.GetLinks(2)->Variable(), variables[2]);
    owning.InsertLinks(1, owning);
    ASSERT_EQ(owning.Count(), 6);
    EXPECT_EQ(owning.GetLinks(1)->Variable(), variables[0]);
    EXPECT_EQ(owning.GetLinks(3)->Variable(), variables[2]);
    EXPECT_NE(owning.GetLinks(1), owning.GetLinks(0));
  }
  ASSERT_EQ(source.Count(), 2) << "the source keeps its own";
  EXPECT_EQ(source.GetLinks(1)->Variable(), variables[1]);

  TPsVarLinkList shared(nullptr, &TPsVarLink::ClassMeta(), false);
  shared.InsertLinks(0, source);
  ASSERT_EQ(shared.Count(), 2);
  EXPECT_EQ(shared.GetLinks(1), source.GetLinks(1));
}

TEST_F(PsConnectorsTest, CountsFollowQualitiesOnlyWhileKnown) {
  TPsVarLinkList list(nullptr);
  EXPECT_EQ(list.GoodCount(), -1);
  AddLink(list, variables[0]);
  TPsVarLink* second = AddLink(list, variables[1]);
  list.UpdateStatistics();
  EXPECT_EQ(list.GoodCount(), 0) << "no value yet: bad, not counted";
  variables[0]->SetValue(5);
  variables[1]->SetValue(6);
  EXPECT_EQ(list.GoodCount(), 2);
  variables[1]->SetPropQuality(toolkit::vpValue, toolkit::vpqUncertain);
  EXPECT_EQ(list.GoodCount(), 1);
  EXPECT_EQ(list.UncertainCount(), 1);
  variables[0]->SetValue(7);
  EXPECT_EQ(list.GoodCount(), 1) << "a good value after a good one";

  second->SetVarProp(toolkit::vpCaption);
  EXPECT_EQ(list.GoodCount(), -1) << "a link changed its configuration";
  variables[0]->SetPropQuality(toolkit::vpValue, toolkit::vpqUncertain);
  EXPECT_EQ(list.GoodCount(), -1);
  list.UpdateStatistics();
  AddLink(list, variables[2]);
  EXPECT_EQ(list.GoodCount(), -1) << "a link joined";
}

// A change the vetting cancels moves no count.
TEST_F(PsConnectorsTest, ACancelledChangeLeavesTheCounts) {
  TPsVarLinkList list(nullptr);
  TPsVarLink* vetoed = AddLink(list, variables[0]);
  AddLink(list, variables[1]);
  list.UpdateStatistics();
  list.OnLinkChanging = [&](TPsVarLink* link, toolkit::PsVariant&, bool& cancel,
                            toolkit::TPsVarQuality&) { cancel = link == vetoed; };
  variables[0]->SetValue(5);
  EXPECT_EQ(list.GoodCount(), 0);
  variables[1]->SetValue(6);
  EXPECT_EQ(list.GoodCount(), 1);
}

TEST_F(PsConnectorsTest, EventsSwitchesAndVariablesThatGo) {
  std::vector<std::string> heard;  // outlives the list, which finishes its links
  TPsVarLinkList list(nullptr);
  list.ActivateAll(false);
  EXPECT_EQ(list.Count(), 0);
  list.OnLinkInit = [&](vcl::TObject*, TPsVarLink*) { heard.push_back("init"); };
  list.OnLinkChange = [&](vcl::TObject*, TPsVarLink* link) {
    heard.push_back("change " + link->Variable()->Name());
  };
  list.OnLinkFinish = [&](vcl::TObject*, TPsVarLink*) { heard.push_back("finish"); };
  variables[0]->SetName("A");
  variables[1]->SetName("B");
  AddLink(list, variables[0]);
  AddLink(list, variables[1]);
  variables[1]->SetValue(1);
  list.ActivateAll(false);
  EXPECT_FALSE(list.GetLinks(0)->Active() || list.GetLinks(1)->Active());
  variables[0]->SetValue(1);
  list.ActivateAll(true);
  variables[0]->SetValue(2);
  EXPECT_EQ(heard, (std::vector<std::string>{"init", "init", "change B", "change A"}));

  list.DeleteOnVariableDestroy = true;
  vcl::FreeObject(variables[1]);
  ASSERT_EQ(list.Count(), 1);
  EXPECT_EQ(heard.back(), "finish");
  list.DeleteOnVariableDestroy = false;
  vcl::FreeObject(variables[0]);
  ASSERT_EQ(list.Count(), 1);
  EXPECT_EQ(list.GetLinks(0)->Variable(), nullptr);
}

// A list gives a link back the handlers it had when it lets the link go or
// is freed: links that a shared list made outlive it without calling into
// it, and the owning list of a link that a shared list bound hears it again.
TEST_F(PsConnectorsTest, LinksOutliveTheListsThatBoundThem) {
  std::vector<std::string> heard;
  TPsVarLinkList owning(nullptr);
  owning.OnLinkChange = [&](vcl::TObject*, TPsVarLink*) { heard.push_back("owning"); };
  TPsVarLink* owned = AddLink(owning, variables[0]);
  std::unique_ptr<TPsVarLink> made;
  {
    TPsVarLinkList shared(nullptr, &TPsVarLink::ClassMeta(), false);
    shared.OnLinkChange = [&](vcl::TObject*, TPsVarLink*) { heard.push_back("shared"); };
    made.reset(AddLink(shared, variables[1]));
    shared.AddLink(owned);
    shared.ItemInit(owned);
    shared.ItemInit(owned);  // bound twice, given back once
    variables[0]->SetValue(1);
    variables[1]->SetValue(1);
  }
  variables[0]->SetValue(2);
  variables[1]->SetValue(2);
  made->SetVarProp(toolkit::vpCaption);
  vcl::FreeObject(variables[1]);
  EXPECT_EQ(made->Variable(), nullptr);
  EXPECT_EQ(heard, (std::vector<std::string>{"shared", "shared", "owning"}));

  // Let go by Delete, or as its variable goes, a link is no longer the
  // list's to hear.
  TPsVarLinkList kept(nullptr, &TPsVarLink::ClassMeta(), false);
  kept.DeleteOnVariableDestroy = true;
  kept.OnLinkChange = [&](vcl::TObject*, TPsVarLink*) { heard.push_back("kept"); };
  made.reset(AddLink(kept, variables[2]));
  const std::unique_ptr<TPsVarLink> other(AddLink(kept, variables[0]));
  kept.Delete(0);
  variables[2]->SetValue(3);
  vcl::FreeObject(variables[0]);
  EXPECT_EQ(kept.Count(), 0);
  other->SetVariable(variables[2]);
  variables[2]->SetValue(4);
  EXPECT_EQ(heard.size(), 3u);
}

TEST_F(PsConnectorsTest, TheListIsMadeByItsName) {
  opcserver::RegisterConnectorClasses();
  const toolkit::TPsClassMeta* meta = toolkit::FindClass("TPsVarLinkList");
  ASSERT_NE(meta, nullptr);
  std::unique_ptr<vcl::TObject> made(meta->Create(nullptr));
  auto* list = dynamic_cast<TPsVarLinkList*>(made.get());
  ASSERT_NE(list, nullptr);
  EXPECT_EQ(list->ItemClass(), &TPsVarLink::ClassMeta());
  EXPECT_TRUE(list->OwnsItems);
}

}  // namespace
