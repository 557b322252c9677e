// Browsing a client's copy of the address space: positions, the three
// kinds of lists, the name filter and item IDs; the string enumerator.
#include "OPCServerTestSupport.h"
#include "opcserver/PsOPC.h"

namespace {

using opcserver::ComPtr;

const std::vector<std::string> kTen = {"Device", "last_Message", "Received", "Status", "Connection",
                                       "DC_OK",  "BAT",          "BAT85",    "ALARM",  "AKKU"};

class PsOPCBrowseTest : public korva_test::OPCProviderWindowTest {
 protected:
  PsOPCBrowseTest() { browse = client.As<IOPCBrowseServerAddressSpace>(); }
  ~PsOPCBrowseTest() override { browse.Reset(); }

  // The names a browse call lists; its result in `result`.
  std::vector<std::string> Browse(OPCBROWSETYPE type, const char16_t* filter = u"",
                                  HRESULT* result = nullptr, VARTYPE dataType = VT_EMPTY,
                                  DWORD accessRights = 0) {
    ComPtr<IEnumString> names;
    const HRESULT answer = browse->BrowseOPCItemIDs(type, reinterpret_cast<LPCWSTR>(filter),
                                                    dataType, accessRights, names.Receive());
    if (result)
      *result = answer;
    return korva_test::AllTexts(names.Get());
  }
  std::string ItemID(const char16_t* name) {
    LPWSTR id = nullptr;
    if (browse->GetItemID(const_cast<LPWSTR>(reinterpret_cast<LPCWSTR>(name)), &id) != S_OK)
      return "failed";
    const std::string text = platform::com::WideToUtf8(id);
    CoTaskMemFree(id);
    return text;
  }
  HRESULT Move(OPCBROWSEDIRECTION direction, const char16_t* name = u"") {
    return browse->ChangeBrowsePosition(direction, reinterpret_cast<LPCWSTR>(name));
  }

  ComPtr<IOPCBrowseServerAddressSpace> browse;
};

TEST_F(PsOPCBrowseTest, TheRootHoldsOneBranchAndKorvaTheTenLeaves) {
  OPCNAMESPACETYPE organization{};
  EXPECT_EQ(browse->QueryOrganization(&organization), S_OK);
  EXPECT_EQ(organization, OPC_NS_HIERARCHIAL);

  EXPECT_EQ(Browse(OPC_BRANCH), std::vector<std::string>{"Korva"});
  HRESULT result = S_OK;
  EXPECT_TRUE(Browse(OPC_LEAF, u"", &result).empty());
  EXPECT_EQ(result, S_FALSE);
  std::vector<std::string> ids;
  for (const std::string& name : kTen)
    ids.push_back("Korva/" + name);
  EXPECT_EQ(Browse(OPC_FLAT), ids);

  EXPECT_EQ(Move(OPC_BROWSE_DOWN, u"Korva"), S_OK);
  EXPECT_EQ(Browse(OPC_LEAF), kTen);
  EXPECT_TRUE(Browse(OPC_BRANCH).empty());
  EXPECT_EQ(Browse(OPC_FLAT), ids);
}

TEST_F(PsOPCBrowseTest, FiltersMatchAsTheirStarsSay) {
  ASSERT_EQ(Move(OPC_BROWSE_DOWN, u"Korva"), S_OK);
  using Names = std::vector<std::string>;
  EXPECT_EQ(Browse(OPC_LEAF, u"bat*"), (Names{"BAT", "BAT85"}));
  EXPECT_EQ(Browse(OPC_LEAF, u"*85"), Names{"BAT85"});
  EXPECT_EQ(Browse(OPC_LEAF, u"*a*"),
            (Names{"last_Message", "Status", "BAT", "BAT85", "ALARM", "AKKU"}));
  EXPECT_TRUE(Browse(OPC_LEAF, u"B*T").empty());
  EXPECT_EQ(Browse(OPC_LEAF, u"[BAT]"), Names{"BAT"});
  EXPECT_EQ(Browse(OPC_LEAF, u"*"), kTen);
  EXPECT_EQ(Browse(OPC_FLAT, u"korva/d*"), (Names{"Korva/Device", "Korva/DC_OK"}));
  ComPtr<IEnumString> names;
  EXPECT_EQ(browse->BrowseOPCItemIDs(OPC_LEAF, nullptr, VT_EMPTY, 0, names.Receive()), S_OK);
  EXPECT_EQ(korva_test::AllTexts(names.Get()), kTen);
  EXPECT_EQ(browse->BrowseOPCItemIDs(static_cast<OPCBROWSETYPE>(4), nullptr, VT_EMPTY, 0,
                                     names.Receive()),
            E_INVALIDARG);
  EXPECT_FALSE(names);
  EXPECT_EQ(browse->BrowseOPCItemIDs(OPC_LEAF, nullptr, VT_EMPTY, 0, nullptr), E_INVALIDARG);
}

TEST(IsMatchTest, TheFirstStarDecidesTheKindOfFilter) {
  struct Case {
    const char* name;
    const char* filter;
    bool matches;
  };
  const Case cases[] = {
      {"bat", "bat", true},    {"bat85", "bat", false}, {"anything", "*", true},
      {"bat85", "bat*", true}, {"xbat", "bat*", false}, {"bat85", "*85", true},
      {"aba", "*a", false},    {"ab", "*a*", true},     {"b", "*a*", false},
      {"bat", "b*t", false},   {"a*x", "*a*b", true},   {"ab", "*a*b", false},
      {"", "*", true},         {"", "", true},
  };
  for (const Case& c : cases)
    EXPECT_EQ(opcserver::IsMatch(c.name, c.filter), c.matches) << c.name << " / " << c.filter;
}

TEST_F(PsOPCBrowseTest, ThePositionMovesOnlyToBranches) {
  EXPECT_EQ(Move(OPC_BROWSE_UP), E_FAIL);
  EXPECT_EQ(Move(OPC_BROWSE_DOWN, u"korva"), E_INVALIDARG);
  EXPECT_EQ(Move(OPC_BROWSE_DOWN, u"Korva"), S_OK);
  EXPECT_EQ(Move(OPC_BROWSE_DOWN, u"Status"), E_INVALIDARG);
  EXPECT_EQ(Move(OPC_BROWSE_TO, u"Korva/Status"), E_INVALIDARG);
  EXPECT_EQ(Move(static_cast<OPCBROWSEDIRECTION>(7)), E_INVALIDARG);
  EXPECT_EQ(Browse(OPC_LEAF).size(), 10u) << "the position stayed";
  EXPECT_EQ(Move(OPC_BROWSE_TO, u""), S_OK);
  EXPECT_EQ(Browse(OPC_BRANCH), std::vector<std::string>{"Korva"});
  EXPECT_EQ(Move(OPC_BROWSE_TO, u"Korva"), S_OK);
  EXPECT_EQ(Move(OPC_BROWSE_UP), S_OK);
  EXPECT_EQ(Browse(OPC_BRANCH), std::vector<std::string>{"Korva"});
  EXPECT_EQ(browse->ChangeBrowsePosition(OPC_BROWSE_DOWN, nullptr), E_INVALIDARG);
}

TEST_F(PsOPCBrowseTest, ItemIDsAreTheNodesPaths) {
  EXPECT_EQ(ItemID(u""), "");
  ASSERT_EQ(Move(OPC_BROWSE_DOWN, u"Korva"), S_OK);
  EXPECT_EQ(ItemID(u"Status"), "Korva/Status");
  EXPECT_EQ(ItemID(u""), "Korva");
  EXPECT_EQ(ItemID(u"Korva/BAT85"), "Korva/BAT85");
  EXPECT_EQ(ItemID(u"X"), "failed");
  LPWSTR id = reinterpret_cast<LPWSTR>(&id);
  EXPECT_EQ(browse->GetItemID(const_cast<LPWSTR>(OLESTR("X")), &id), E_INVALIDARG);
  EXPECT_EQ(id, nullptr);
  EXPECT_EQ(browse->GetItemID(nullptr, nullptr), E_INVALIDARG);
  ComPtr<IEnumString> paths;
  EXPECT_EQ(browse->BrowseAccessPaths(OLESTR("Korva/BAT"), paths.Receive()), E_NOTIMPL);
  EXPECT_FALSE(paths);
}

TEST_F(PsOPCBrowseTest, TheCopyFollowsTheServersTreeWhenItReturnsToTheRoot) {
  ASSERT_EQ(Move(OPC_BROWSE_DOWN, u"Korva"), S_OK);
  opcserver::TPsOPCProviderAddressSpace& space = server().AddressSpace();
  space.AddChild(space.IndexOfPath("Korva"), "Extra");
  EXPECT_EQ(Browse(OPC_LEAF).size(), 10u) << "a copy below the root stays as it is";
  EXPECT_EQ(Move(OPC_BROWSE_UP), S_OK);
  EXPECT_EQ(Browse(OPC_FLAT).back(), "Korva/Extra");
  // The browse interface shares the client's identity and count.
  EXPECT_EQ(browse.As<IUnknown>().Get(), browse.As<IOPCServer>().As<IUnknown>().Get());
}

TEST_F(PsOPCBrowseTest, AStringEnumeratorSkipsResetsAndClonesFromTheStart) {
  const ComPtr<IEnumString> strings(opcserver::MakeComObject<opcserver::TPsStringsEnumerator>(
                                        std::vector<std::string>{"a", "b", "c"})
                                        .Get());
  LPOLESTR texts[3] = {};
  ULONG fetched = 9;
  EXPECT_EQ(strings->Next(2, texts, nullptr), E_INVALIDARG);
  ASSERT_EQ(strings->Next(1, texts, nullptr), S_OK);
  CoTaskMemFree(texts[0]);
  ComPtr<IEnumString> clone;
  ASSERT_EQ(strings->Clone(clone.Receive()), S_OK);
  EXPECT_EQ(korva_test::AllTexts(clone.Get()), (std::vector<std::string>{"a", "b", "c"}));
  EXPECT_EQ(strings->Skip(5), S_FALSE);
  EXPECT_EQ(strings->Next(3, texts, &fetched), S_FALSE);
  EXPECT_EQ(fetched, 0u);
  EXPECT_EQ(strings->Reset(), S_OK);
  EXPECT_EQ(strings->Skip(0xFFFFFFFF), S_FALSE);
  EXPECT_EQ(strings->Reset(), S_OK);
  ASSERT_EQ(strings->Next(3, texts, &fetched), S_OK);
  ASSERT_EQ(fetched, 3u);
  EXPECT_EQ(platform::com::WideToUtf8(texts[2]), "c");
  for (LPOLESTR text : texts)
    CoTaskMemFree(text);
}

TEST_F(PsOPCBrowseTest, DataTypeAndRightsFiltersAskTheServerOfEachItem) {
  using Names = std::vector<std::string>;
  const Names flags = {"DC_OK", "BAT", "BAT85", "ALARM", "AKKU"};
  HRESULT result = S_OK;
  EXPECT_TRUE(Browse(OPC_BRANCH, u"", &result, VT_BOOL).empty()) << "Korva is no variable";
  EXPECT_EQ(result, S_FALSE);
  EXPECT_EQ(Browse(OPC_FLAT, u"", nullptr, VT_I4), (Names{"Korva/Status", "Korva/Connection"}));
  ASSERT_EQ(Move(OPC_BROWSE_DOWN, u"Korva"), S_OK);
  EXPECT_EQ(Browse(OPC_LEAF, u"", nullptr, VT_BOOL), flags);
  EXPECT_EQ(Browse(OPC_LEAF, u"", nullptr, VT_BSTR), (Names{"Device", "last_Message", "Received"}));
  EXPECT_EQ(Browse(OPC_LEAF, u"b*", nullptr, VT_BOOL), (Names{"BAT", "BAT85"}));
  for (DWORD rights : {0u, 1u, 3u})
    EXPECT_EQ(Browse(OPC_LEAF, u"", nullptr, VT_EMPTY, rights), kTen) << rights;
  EXPECT_TRUE(Browse(OPC_LEAF, u"", &result, VT_EMPTY, OPC_WRITEABLE).empty());
  EXPECT_EQ(result, S_FALSE);
}

// The error code an item ID gives, S_OK when it names something.
HRESULT FindResult(opcserver::TPsOPCProvider& server, const std::string& itemID,
                   vcl::TComponent** component = nullptr,
                   toolkit::TPsVarPropType* varProp = nullptr) {
  vcl::TComponent* found = nullptr;
  toolkit::TPsVarPropType prop = toolkit::vpOther;
  try {
    server.FindItem(itemID, found, prop);
  } catch (const std::exception& error) {
    return opcserver::ExceptionToResult(error);
  }
  if (component)
    *component = found;
  if (varProp)
    *varProp = prop;
  return S_OK;
}

TEST_F(PsOPCBrowseTest, ItemIDsNameTreeNodesExactly) {
  vcl::TComponent* component = nullptr;
  toolkit::TPsVarPropType varProp = toolkit::vpOther;
  EXPECT_EQ(FindResult(server(), "Korva/Status", &component, &varProp), S_OK);
  EXPECT_EQ(component, window->PsStatus);
  EXPECT_EQ(varProp, toolkit::vpValue);
  EXPECT_EQ(FindResult(server(), "Korva", &component), S_OK);
  EXPECT_EQ(component, window);
  for (const char* unknown : {"Korva/status", "korva/Status", "Korva/Nothing",
                              "Korva/Status/vpCaption", "Korva/Status/", "/"})
    EXPECT_EQ(FindResult(server(), unknown), OPC_E_UNKNOWNITEMID) << unknown;
  EXPECT_EQ(FindResult(server(), ""), OPC_E_INVALIDITEMID);

  // Item IDs follow the tree as it changes, and its separator.
  opcserver::TPsOPCProviderAddressSpace& space = server().AddressSpace();
  const int extra = space.AddChildObject(space.IndexOfItemID("Korva"), "Extra", window->PsBAT);
  EXPECT_EQ(FindResult(server(), "Korva/Extra", &component), S_OK);
  EXPECT_EQ(component, window->PsBAT);
  space.SetPathSeparator('.');
  EXPECT_EQ(FindResult(server(), "Korva/Extra"), OPC_E_UNKNOWNITEMID);
  EXPECT_EQ(FindResult(server(), "Korva.Extra", &component), S_OK);
  space.SetPathSeparator('/');
  space.Delete(extra);
  EXPECT_EQ(FindResult(server(), "Korva/Extra"), OPC_E_UNKNOWNITEMID);
  EXPECT_EQ(FindResult(server(), "Korva/Status", &component), S_OK);
  EXPECT_EQ(component, window->PsStatus);

  // A handler may answer what the tree does not hold.
  server().OnFindItem = [this](vcl::TObject*, const std::string& itemID, vcl::TComponent*& found,
                               toolkit::TPsVarPropType& prop) {
    if (itemID == "Korva/Status/vpCaption" && !found) {
      found = window->PsStatus;
      EXPECT_EQ(prop, toolkit::vpCaption);
    }
  };
  EXPECT_EQ(FindResult(server(), "Korva/Status/vpCaption", &component, &varProp), S_OK);
  EXPECT_EQ(varProp, toolkit::vpCaption);
  EXPECT_EQ(server().VarPropToItemID(toolkit::vpCaption, window->PsStatus),
            "OPCProvider/PsStatus/vpCaption");
  EXPECT_EQ(server().VarPropToItemID(toolkit::vpAlarmHigh, nullptr), "vpAlarmHigh");
}

TEST_F(PsOPCBrowseTest, ClientsReadEveryItemAndWriteNone) {
  struct Case {
    toolkit::TPsVarPropType prop;
    DWORD window;    // with the provider window's handler
    DWORD variable;  // the variable's own rights
  };
  const Case cases[] = {{toolkit::vpValue, 1, 3},   {toolkit::vpAlarmHigh, 3, 3},
                        {toolkit::vpWarnLow, 3, 3}, {toolkit::vpSetpoint, 3, 3},
                        {toolkit::vpCaption, 1, 1}, {toolkit::vpMean, 1, 1}};
  for (const Case& c : cases)
    EXPECT_EQ(server().GetComponentAccessRights(window->PsStatus, c.prop), c.window) << c.prop;
  EXPECT_EQ(server().GetComponentAccessRights(window, toolkit::vpValue), 1u);
  const auto handler = std::exchange(server().OnGetAccessRights, nullptr);
  for (const Case& c : cases)
    EXPECT_EQ(server().GetComponentAccessRights(window->PsStatus, c.prop), c.variable) << c.prop;
  window->PsStatus->SetReadOnly(true);
  EXPECT_EQ(server().GetComponentAccessRights(window->PsStatus, toolkit::vpValue), 1u);
  server().ReadOnly = true;
  EXPECT_EQ(server().GetComponentAccessRights(window->PsStatus, toolkit::vpAlarmHigh), 1u);
  server().OnGetAccessRights = handler;

  EXPECT_EQ(server().GetComponentDataType(window->PsStatus, toolkit::vpValue), VT_I4);
  EXPECT_EQ(server().GetComponentDataType(window->PsBAT, toolkit::vpValue), VT_BOOL);
  EXPECT_EQ(server().GetComponentDataType(window->PsDevice, toolkit::vpValue), VT_BSTR);
  EXPECT_EQ(server().GetComponentDataType(window, toolkit::vpValue), VT_EMPTY);
}

TEST_F(PsOPCBrowseTest, ModulesBringTheirVariablesAndTakeThemAlongWhenFreed) {
  opcserver::TPsOPCProviderAddressSpace& space = server().AddressSpace();
  auto* module = new vcl::TForm(nullptr);
  auto* flag = new toolkit::TPsBool(module);
  flag->SetName("B");
  auto* empty = new vcl::TForm(nullptr);
  space.SetPropertyLeaves(true);
  EXPECT_EQ(space.AddModule(empty, -1, true), -1) << "a module without variables";
  EXPECT_EQ(space.AddModule(flag, -1, true), -1) << "no module";
  const int node = space.AddModule(module, -1, true);
  ASSERT_GE(node, 0);
  EXPECT_EQ(space.GetNodeName(node), "<TForm.Name not defined>");
  EXPECT_EQ(space.AddModule(module, -1, true), node) << "added once";
  // The variable, then one leaf per property kind below it.
  EXPECT_EQ(space.GetNodeName(node + 1), "B");
  EXPECT_EQ(space.GetNodeName(node + 2), "vpValue");
  EXPECT_EQ(space.GetNodeName(node + 1 + toolkit::PsVarPropTypeCount), "vpOther2");
  EXPECT_EQ(space.GetLevel(node + 1 + toolkit::PsVarPropTypeCount), 2);
  const int count = space.Count();
  EXPECT_EQ(space.GetObj(count - 1), flag);

  vcl::TComponent* component = nullptr;
  toolkit::TPsVarPropType varProp = toolkit::vpValue;
  EXPECT_EQ(server().FindItem("<TForm.Name not defined>/B", component, varProp),
            opcserver::ikAllProperties);
  EXPECT_EQ(server().FindItem("<TForm.Name not defined>/B/vpAlarmHelp", component, varProp),
            opcserver::ikStandardProperties);
  EXPECT_EQ(component, flag);
  EXPECT_EQ(varProp, toolkit::vpAlarmHelp);

  vcl::FreeObject(window->PsAKKU);
  EXPECT_EQ(space.Count(), count - 1);
  vcl::FreeObject(module);
  EXPECT_EQ(space.Count(), count - 1 - 2 - toolkit::PsVarPropTypeCount);
  EXPECT_EQ(FindResult(server(), "Korva/AKKU"), OPC_E_UNKNOWNITEMID);
  vcl::FreeObject(empty);
}

}  // namespace
