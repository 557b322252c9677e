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
