// The client's groups: names, removal while held, enumeration and the
// server's count; a group's state, its rate floor, time bias and cloning.
#include <atomic>
#include <thread>

#include "OPCGroupTestSupport.h"
#include "opcserver/PsOPCProviderItems.h"

namespace {

using korva_test::ItemDefs;
using opcserver::ComPtr;

class PsOPCGroupTest : public korva_test::OPCGroupTest {
 protected:
  DWORD GroupCount() {
    OPCSERVERSTATUS* status = nullptr;
    EXPECT_EQ(client->GetStatus(&status), S_OK);
    const DWORD count = status->dwGroupCount;
    CoTaskMemFree(status->szVendorInfo);
    CoTaskMemFree(status);
    return count;
  }
  std::vector<std::string> GroupNames(OPCENUMSCOPE scope, HRESULT* result = nullptr) {
    ComPtr<IEnumString> names;
    const HRESULT answer = client->CreateGroupEnumerator(
        scope, IID_IEnumString, reinterpret_cast<LPUNKNOWN*>(names.Receive()));
    if (result)
      *result = answer;
    return korva_test::AllTexts(names.Get());
  }
  static ComPtr<IOPCGroupStateMgt> State(IOPCItemMgt* group) {
    return opcserver::CheckedCast<IOPCGroupStateMgt>(group);
  }
  static void SetActive(IOPCItemMgt* group) {
    BOOL on = TRUE;
    State(group)->SetState(nullptr, nullptr, &on, nullptr, nullptr, nullptr, nullptr);
  }
};

TEST_F(PsOPCGroupTest, NamesAreUniquePerClientAndUnnamedGroupsGetTheNextFreeOne) {
  HRESULT result = S_OK;
  const auto g1 = AddGroup("G1");
  const auto again = AddGroup("G1", TRUE, 1000, nullptr, &result);
  EXPECT_EQ(result, OPC_E_DUPLICATENAME);
  EXPECT_FALSE(again);
  EXPECT_EQ(NameOf(AddGroup("").Get()), "GroupB");  // one group already: the search starts at B
  EXPECT_EQ(NameOf(AddGroup("").Get()), "GroupC");

  // Another client: its own names, each from its letter of the group count.
  const ComPtr<IOPCServer> other = Connect();
  std::vector<ComPtr<IOPCItemMgt>> groups;
  std::vector<std::string> names;
  for (int i = 0; i < 29; ++i) {
    groups.push_back(AddGroup("", TRUE, 1000, nullptr, nullptr, other.Get()));
    names.push_back(NameOf(groups.back().Get()));
  }
  EXPECT_EQ(names[0], "GroupA");
  EXPECT_EQ(names[25], "GroupZ");
  EXPECT_EQ(names[26], "Group[");
  EXPECT_EQ(names[27], "Group\\");
  EXPECT_EQ(names[28], "Group]");
  // A client-chosen name is text, never a format.
  const auto odd = AddGroup("%n%s");
  State(odd.Get())->SetName(reinterpret_cast<LPCWSTR>(u"%x"));
  Run();
  EXPECT_NE(std::find(logged.begin(), logged.end(),
                      "Client 0: IOPCServer.AddGroup(Name=%n%s, RequestedUpdateRate=1000): "
                      "Result=$0"),
            logged.end());
  EXPECT_NE(
      std::find(logged.begin(), logged.end(), "Client 0: %n%s: IOPCGroupStateMgt.SetName(%n%s)"),
      logged.end());
  // SetName: the current name again, a sibling's, the empty one.
  EXPECT_EQ(State(g1.Get())->SetName(reinterpret_cast<LPCWSTR>(u"G1")), S_OK);
  EXPECT_EQ(State(g1.Get())->SetName(reinterpret_cast<LPCWSTR>(u"GroupB")), OPC_E_DUPLICATENAME);
  EXPECT_EQ(State(g1.Get())->SetName(reinterpret_cast<LPCWSTR>(u"")), E_INVALIDARG);
  EXPECT_EQ(GroupCount(), 33u);
}

// From the letter of the group count on; a number only where no letter is
// left: past "Group[" when the search starts at a letter, and past '~'.
TEST_F(PsOPCGroupTest, AnUnnamedGroupTakesTheFirstFreeLetterFromItsCountThenANumber) {
  std::vector<std::string> fromB;  // GroupB .. Group[
  for (char letter = 'B'; letter <= '['; ++letter)
    fromB.push_back(std::string("Group") + letter);
  std::vector<std::string> fromBAnd1 = fromB;
  fromBAnd1.push_back("Group1");
  std::vector<std::string> fromBAndBackslash = fromB;
  fromBAndBackslash.push_back("Group\\");
  // With 61 groups the letter is '~', the last one that is text.
  std::vector<std::string> many;
  for (int i = 0; i < 61; ++i)
    many.push_back(std::string("N").append(std::to_string(i)));
  std::vector<std::string> tooMany = many;
  tooMany.push_back("Group1");
  const struct {
    std::vector<std::string> named;
    std::string made;
  } cases[] = {{{}, "GroupA"},
               {{}, "GroupA"},  // each client names its own
               {{"GroupB"}, "GroupC"},
               {{"G1", "GroupC"}, "GroupD"},
               {fromB, "Group1"},
               {fromBAnd1, "Group\\"},
               {fromBAndBackslash, "Group1"},
               {many, "Group~"},
               {tooMany, "Group2"}};
  for (const auto& c : cases) {
    const ComPtr<IOPCServer> fresh = Connect();
    std::vector<ComPtr<IOPCItemMgt>> groups;
    for (const std::string& name : c.named)
      groups.push_back(AddGroup(name, TRUE, 1000, nullptr, nullptr, fresh.Get()));
    HRESULT result = E_FAIL;
    const auto made = AddGroup("", TRUE, 1000, nullptr, &result, fresh.Get());
    EXPECT_EQ(result, S_OK);
    ASSERT_TRUE(made);
    EXPECT_EQ(NameOf(made.Get()), c.made) << c.named.size();
  }
}

TEST_F(PsOPCGroupTest, TwoThreadsAddingOneNameMakeOneGroup) {
  for (int round = 0; round < 20; ++round) {
    const ComPtr<IOPCServer> fresh = Connect();
    HRESULT results[2] = {};
    ComPtr<IOPCItemMgt> groups[2];
    std::thread first(
        [&] { groups[0] = AddGroup("G1", TRUE, 1000, nullptr, &results[0], fresh.Get()); });
    groups[1] = AddGroup("G1", TRUE, 1000, nullptr, &results[1], fresh.Get());
    first.join();
    EXPECT_EQ(results[0] + results[1], S_OK + OPC_E_DUPLICATENAME);
    EXPECT_EQ(GroupNames(OPC_ENUM_ALL).size(), 0u);  // the fixture's client has none
  }
}

// The client program lets its client go on one thread while another still
// clones and renames one of its groups: the calls hold the client for as
// long as they use it (under ThreadSanitizer and AddressSanitizer a freed
// client is seen at once).
TEST_F(PsOPCGroupTest, AGroupClonedOrRenamedWhileItsClientGoesKeepsItForTheCall) {
  for (int round = 0; round < 30; ++round) {
    ComPtr<IOPCServer> fresh = Connect();
    const ComPtr<IOPCGroupStateMgt> group =
        State(AddGroup("G", TRUE, 1000, nullptr, nullptr, fresh.Get()).Get());
    std::atomic<int> calls{0};
    std::atomic<bool> gone{false};
    std::thread caller([&] {
      while (!gone) {
        ComPtr<IUnknown> clone;
        group->CloneGroup(nullptr, IID_IUnknown, clone.Receive());
        group->SetName(reinterpret_cast<LPCWSTR>(calls % 2 ? u"G" : u"H"));
        ++calls;
      }
    });
    while (calls < 2)
      std::this_thread::yield();
    fresh.Reset();  // on the main thread, unless a call holds it
    Run();
    gone = true;
    caller.join();
    Run();  // the call's hold was the last
    ComPtr<IUnknown> none;
    EXPECT_EQ(group->CloneGroup(nullptr, IID_IUnknown, none.Receive()), E_FAIL);
  }
}

TEST_F(PsOPCGroupTest, AGroupRemovedWhileHeldLeavesWithItsLastReference) {
  const auto held = AddGroup("Held");
  const auto other = AddGroup("Other");
  const ComPtr<IOPCGroupStateMgt> state = State(held.Get());
  const OPCHANDLE handle = GetState(held.Get()).serverHandle;
  const ComPtr<IOPCServer> second = Connect();
  const auto elsewhere = AddGroup("Held", TRUE, 1000, nullptr, nullptr, second.Get());
  EXPECT_EQ(GroupCount(), 3u);  // of all clients

  EXPECT_EQ(client->RemoveGroup(handle, FALSE), OPC_S_INUSE);
  ComPtr<IUnknown> found;
  EXPECT_EQ(
      client->GetGroupByName(reinterpret_cast<LPCWSTR>(u"Held"), IID_IUnknown, found.Receive()),
      E_INVALIDARG);
  EXPECT_EQ(GroupNames(OPC_ENUM_ALL), std::vector<std::string>{"Other"});
  DWORD rate = 20;
  EXPECT_EQ(state->SetState(&rate, &rate, nullptr, nullptr, nullptr, nullptr, nullptr), E_FAIL);
  EXPECT_EQ(GroupCount(), 3u);
  // The name is free again.
  EXPECT_TRUE(AddGroup("Held"));
  EXPECT_EQ(GroupCount(), 4u);

  const_cast<ComPtr<IOPCItemMgt>&>(held).Reset();
  EXPECT_EQ(GroupCount(), 4u);  // the state interface still holds it
  const_cast<ComPtr<IOPCGroupStateMgt>&>(state).Reset();
  EXPECT_EQ(GroupCount(), 3u);

  // With force a held group goes at once.
  const OPCHANDLE otherHandle = GetState(other.Get()).serverHandle;
  EXPECT_EQ(client->RemoveGroup(otherHandle, TRUE), S_OK);
  EXPECT_EQ(client->RemoveGroup(otherHandle, TRUE), E_INVALIDARG);
  EXPECT_EQ(GroupCount(), 2u);
  EXPECT_EQ(State(other.Get())->SetName(reinterpret_cast<LPCWSTR>(u"X")), E_FAIL);
}

TEST_F(PsOPCGroupTest, GroupEnumeratorsListOnlyPrivateScopes) {
  const auto a = AddGroup("A");
  const auto b = AddGroup("B");
  const struct {
    OPCENUMSCOPE scope;
    HRESULT result;
    size_t count;
  } cases[] = {{OPC_ENUM_PRIVATE_CONNECTIONS, S_OK, 2}, {OPC_ENUM_PUBLIC_CONNECTIONS, S_FALSE, 0},
               {OPC_ENUM_ALL_CONNECTIONS, S_OK, 2},     {OPC_ENUM_PRIVATE, S_OK, 2},
               {OPC_ENUM_PUBLIC, S_FALSE, 0},           {OPC_ENUM_ALL, S_OK, 2}};
  for (const auto& c : cases) {
    HRESULT result = E_FAIL;
    EXPECT_EQ(GroupNames(c.scope, &result).size(), c.count) << c.scope;
    EXPECT_EQ(result, c.result) << c.scope;
  }
  // Every interface the unknown enumerator hands out is the caller's to release.
  ComPtr<IEnumUnknown> unknowns;
  ASSERT_EQ(client->CreateGroupEnumerator(OPC_ENUM_ALL, IID_IEnumUnknown,
                                          reinterpret_cast<LPUNKNOWN*>(unknowns.Receive())),
            S_OK);
  IUnknown* fetched[3] = {};
  ULONG count = 0;
  EXPECT_EQ(unknowns->Next(3, fetched, &count), S_FALSE);
  ASSERT_EQ(count, 2u);
  EXPECT_EQ(NameOf(fetched[1]), "B");
  for (ULONG i = 0; i < count; ++i)
    fetched[i]->Release();
  EXPECT_EQ(unknowns->Next(1, fetched, nullptr), S_FALSE);
  EXPECT_EQ(unknowns->Next(2, fetched, nullptr), E_INVALIDARG);
  ComPtr<IEnumUnknown> clone;
  EXPECT_EQ(unknowns->Clone(clone.Receive()), S_OK);
  EXPECT_EQ(clone->Next(1, fetched, nullptr), S_OK);  // a clone starts at the first
  fetched[0]->Release();
  EXPECT_EQ(clone->Skip(0xFFFFFFFF), S_FALSE);
  ComPtr<IUnknown> none;
  EXPECT_EQ(client->CreateGroupEnumerator(OPC_ENUM_ALL, IID_IOPCItemMgt, none.Receive()),
            E_NOINTERFACE);
}

TEST_F(PsOPCGroupTest, TheUpdateRateIsKeptAsGivenUntilSetStateAppliesItsFloor) {
  const auto group = AddGroup("G", TRUE, 5);
  EXPECT_EQ(GetState(group.Get()).rate, 5u);
  const struct {
    DWORD requested;
    HRESULT result;
    DWORD revised;
  } cases[] = {{5, OPC_S_UNSUPPORTEDRATE, 10}, {10, S_OK, 10}, {250, S_OK, 250}};
  for (const auto& c : cases) {
    DWORD requested = c.requested;
    DWORD revised = 0;
    EXPECT_EQ(State(group.Get())
                  ->SetState(&requested, &revised, nullptr, nullptr, nullptr, nullptr, nullptr),
              c.result);
    EXPECT_EQ(revised, c.revised);
    EXPECT_EQ(GetState(group.Get()).rate, c.revised);
  }
  DWORD rate = 0;
  BOOL active = FALSE;
  EXPECT_EQ(State(group.Get())
                ->GetState(&rate, &active, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr),
            E_INVALIDARG);
}

TEST_F(PsOPCGroupTest, TimeStampsFollowOneBiasConvention) {
  // UTC + 1 in winter: the machine's bias is -60.
  LONG minus60 = -60;
  const auto biased = AddGroup("Biased", TRUE, 1000, &minus60);
  const auto local = AddGroup("Local");
  EXPECT_EQ(GetState(local.Get()).bias, -60);
  EXPECT_EQ(GetState(biased.Get()).bias, -60);
  const vcl::TDateTime expected = korva_test::kGroupTestNow + 1.0 / 24;
  OPCHANDLE item = 0;
  for (const auto* group : {&biased, &local}) {
    item = AddItem(group->Get(), "Korva/Status");
    const auto values = Read(group->Get(), OPC_DS_DEVICE, {item});
    EXPECT_NEAR(values[0].time, expected, 1e-6);
  }
  LONG zero = 0;
  EXPECT_EQ(
      State(local.Get())->SetState(nullptr, nullptr, nullptr, &zero, nullptr, nullptr, nullptr),
      S_OK);
  EXPECT_EQ(GetState(local.Get()).bias, 0);
  // The items held already are stamped anew, as a new one is.
  const auto values = Read(local.Get(), OPC_DS_CACHE, {item, AddItem(local.Get(), "Korva/BAT")});
  EXPECT_NEAR(values[0].time, korva_test::kGroupTestNow, 1e-6);
  EXPECT_NEAR(values[1].time, korva_test::kGroupTestNow, 1e-6);
}

TEST_F(PsOPCGroupTest, AClonesTimeStampsAreTheOriginals) {
  // A value of the summer, read in winter: local time is UTC + 2 then.
  clock_.SetNow(korva_test::kGroupTestNow + 120);
  SetStatus(0x1234);
  clock_.SetNow(korva_test::kGroupTestNow);
  LONG thirty = 30;
  for (LONG* bias : {static_cast<LONG*>(nullptr), &thirty}) {
    const auto original = AddGroup(bias ? "Biased" : "Local", TRUE, 1000, bias);
    const OPCHANDLE item = AddItem(original.Get(), "Korva/Status");
    ComPtr<IOPCItemMgt> clone;
    ASSERT_EQ(
        State(original.Get())
            ->CloneGroup(nullptr, IID_IOPCItemMgt, reinterpret_cast<LPUNKNOWN*>(clone.Receive())),
        S_OK);
    SetActive(clone.Get());
    const auto time = Read(original.Get(), OPC_DS_CACHE, {item})[0].time;
    EXPECT_NEAR(time, korva_test::kGroupTestNow + 120 + (bias ? -0.5 : 2.0) / 24, 1e-6);
    const OPCHANDLE cloned =
        static_cast<opcserver::TPsOPCProviderGroup*>(clone.Get())->GetItems(0)->ServerHandle();
    EXPECT_EQ(Read(clone.Get(), OPC_DS_CACHE, {cloned})[0].time, time);
    EXPECT_EQ(GetState(clone.Get()).bias, GetState(original.Get()).bias);
  }
}

TEST_F(PsOPCGroupTest, CloneCopiesTheItemsOrFailsWithoutLeavingAClone) {
  const auto empty = AddGroup("Empty");
  ComPtr<IUnknown> clone;
  EXPECT_EQ(State(empty.Get())
                ->CloneGroup(reinterpret_cast<LPCWSTR>(u"Copy"), IID_IUnknown, clone.Receive()),
            S_OK);
  ASSERT_TRUE(clone);
  EXPECT_EQ(NameOf(clone.Get()), "Copy");

  const auto full = AddGroup("Full");
  AddItem(full.Get(), "Korva/Status");
  AddItem(full.Get(), "Korva/BAT");
  ComPtr<IOPCItemMgt> copy;
  EXPECT_EQ(
      State(full.Get())
          ->CloneGroup(nullptr, IID_IOPCItemMgt, reinterpret_cast<LPUNKNOWN*>(copy.Receive())),
      S_OK);
  ComPtr<IEnumOPCItemAttributes> items;
  EXPECT_EQ(copy->CreateEnumerator(IID_IEnumOPCItemAttributes,
                                   reinterpret_cast<LPUNKNOWN*>(items.Receive())),
            S_OK);
  // The copy's items are its own, read through their new handles.
  OPCITEMATTRIBUTES* attributes = nullptr;
  ULONG fetched = 0;
  EXPECT_EQ(items->Next(5, &attributes, &fetched), S_FALSE);
  ASSERT_EQ(fetched, 2u);
  EXPECT_EQ(platform::com::WideToUtf8(attributes[1].szItemID), "Korva/BAT");
  for (ULONG i = 0; i < fetched; ++i) {
    CoTaskMemFree(attributes[i].szItemID);
    VariantClear(&attributes[i].vEUInfo);
  }
  CoTaskMemFree(attributes);

  // The clone's AddItems fails (the clone is removed as it is made): no
  // clone is left.
  const DWORD before = GroupCount();
  server().OnAddGroup = [](vcl::TObject*, opcserver::TPsOPCProviderClient*,
                           opcserver::TPsOPCProviderGroup* group) {
    if (group->GroupName() == "Failed")
      group->FinishGroup();
  };
  ComPtr<IUnknown> failed;
  EXPECT_EQ(State(full.Get())
                ->CloneGroup(reinterpret_cast<LPCWSTR>(u"Failed"), IID_IUnknown, failed.Receive()),
            E_FAIL);
  EXPECT_FALSE(failed);
  EXPECT_EQ(GroupCount(), before);

  // A removed group clones nothing.
  EXPECT_EQ(client->RemoveGroup(GetState(empty.Get()).serverHandle, TRUE), S_OK);
  ComPtr<IUnknown> none;
  EXPECT_EQ(State(empty.Get())->CloneGroup(nullptr, IID_IUnknown, none.Receive()), E_FAIL);
  EXPECT_FALSE(none);
}

}  // namespace
