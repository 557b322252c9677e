// A group's items: definitions, data types, reads from cache and device,
// writes committed on the main thread, attributes and the item enumerator;
// hostile counts and pointers; reads and item changes on several threads.
#include <atomic>
#include <chrono>
#include <functional>
#include <thread>

#include "OPCGroupTestSupport.h"
#include "opcserver/PsOPCEnumerators.h"
#include "opcserver/PsOPCProviderItems.h"

namespace {

using korva_test::ItemDefs;
using opcserver::ComPtr;

constexpr OPCHANDLE kUnknown = 999999;

class PsOPCItemTest : public korva_test::OPCGroupTest {
 protected:
  PsOPCItemTest() { group = AddGroup("G"); }

  std::vector<HRESULT> Errors(HRESULT (IOPCItemMgt::*call)(DWORD, OPCHANDLE*, HRESULT**),
                              std::vector<OPCHANDLE> handles, HRESULT* result) {
    HRESULT* errors = nullptr;
    *result = (group.Get()->*call)(static_cast<DWORD>(handles.size()), handles.data(), &errors);
    std::vector<HRESULT> list;
    if (errors)
      list.assign(errors, errors + handles.size());
    CoTaskMemFree(errors);
    return list;
  }
  HRESULT SetActive(OPCHANDLE handle, BOOL active) {
    HRESULT* errors = nullptr;
    const HRESULT result = group->SetActiveState(1, &handle, active, &errors);
    CoTaskMemFree(errors);
    return result;
  }
  HRESULT SetDatatype(OPCHANDLE handle, VARTYPE type, HRESULT* error) {
    HRESULT* errors = nullptr;
    const HRESULT result = group->SetDatatypes(1, &handle, &type, &errors);
    *error = errors ? errors[0] : E_UNEXPECTED;
    CoTaskMemFree(errors);
    return result;
  }
  ComPtr<IEnumOPCItemAttributes> Enumerate() {
    ComPtr<IEnumOPCItemAttributes> items;
    group->CreateEnumerator(IID_IEnumOPCItemAttributes,
                            reinterpret_cast<LPUNKNOWN*>(items.Receive()));
    return items;
  }
  struct Attributes {
    std::string id;
    OPCEUTYPE euType = OPC_NOENUM;
    std::string euInfo;
    VARTYPE euElementType = VT_EMPTY;
    VARTYPE canonical = VT_EMPTY;
    DWORD rights = 0;
  };
  // The EU info's elements joined by "|" ("#EMPTY" for none): free of the
  // locale's list separator.
  static std::string EUInfoText(const VARIANT& info, VARTYPE& elementType) {
    const toolkit::PsVariant value = opcserver::VariantToPsVariant(info);
    elementType = VT_EMPTY;
    if (!value.IsArray())
      return toolkit::VariantToText(value, false);
    std::string text;
    for (int64_t i = 0; i < value.ElementCount(); ++i) {
      const toolkit::PsVariant element = value.ElementAt(i);
      elementType = element.VarType();
      if (i)
        text += '|';
      text += element.AsText();
    }
    return text;
  }
  static std::vector<Attributes> Next(IEnumOPCItemAttributes* items, ULONG celt, HRESULT* result) {
    OPCITEMATTRIBUTES* list = nullptr;
    ULONG fetched = 0;
    *result = items->Next(celt, &list, &fetched);
    std::vector<Attributes> attributes;
    for (ULONG i = 0; i < fetched; ++i) {
      Attributes element;
      element.id = platform::com::WideToUtf8(list[i].szItemID);
      element.euType = list[i].dwEUType;
      element.euInfo = EUInfoText(list[i].vEUInfo, element.euElementType);
      element.canonical = list[i].vtCanonicalDataType;
      element.rights = list[i].dwAccessRights;
      attributes.push_back(element);
      CoTaskMemFree(list[i].szItemID);
      VariantClear(&list[i].vEUInfo);
    }
    CoTaskMemFree(list);
    return attributes;
  }

  ComPtr<IOPCItemMgt> group;
};

TEST_F(PsOPCItemTest, DefinitionsAreValidatedOneByOne) {
  ItemDefs definitions;
  definitions.Add("Korva/Nothing")
      .Add("Korva/Status")
      .Add("Korva/BAT", VT_EMPTY, "x")
      .Add("Korva/BAT", VT_NULL)
      .Add("Korva/BAT", VT_UI8)
      .Add("<null>")
      .Add("Korva")
      .Add("Korva/BAT")
      .Add("Korva/Device");
  const auto added = AddItems(group.Get(), definitions);
  EXPECT_EQ(added.result, S_FALSE);
  const std::vector<HRESULT> expected = {OPC_E_UNKNOWNITEMID, S_OK,          OPC_E_UNKNOWNPATH,
                                         OPC_E_BADTYPE,       OPC_E_BADTYPE, E_FAIL,
                                         OPC_E_INVALIDITEMID, S_OK,          S_OK};
  EXPECT_EQ(added.errors, expected);
  const std::vector<VARTYPE> canonical = {0, VT_I4, 0, 0, 0, 0, 0, VT_BOOL, VT_BSTR};
  for (size_t i = 0; i < canonical.size(); ++i) {
    EXPECT_EQ(added.results[i].vtCanonicalDataType, canonical[i]) << i;
    EXPECT_EQ(added.results[i].hServer != 0, canonical[i] != 0) << i;
  }
  EXPECT_EQ(added.results[1].dwAccessRights, static_cast<DWORD>(OPC_READABLE));

  // Validating adds nothing and hands out no handle.
  ItemDefs check;
  check.Add("Test/Setpoint");
  const auto validated = AddItems(group.Get(), check, true);
  EXPECT_EQ(validated.result, S_OK);
  EXPECT_EQ(validated.results[0].hServer, static_cast<OPCHANDLE>(-1));
  EXPECT_EQ(validated.results[0].dwAccessRights, static_cast<DWORD>(OPC_READABLE | OPC_WRITEABLE));
  HRESULT result = S_OK;
  EXPECT_EQ(Next(Enumerate().Get(), 10, &result).size(), 3u);

  // Removing: one known, one unknown handle.
  const auto errors =
      Errors(&IOPCItemMgt::RemoveItems, {added.results[1].hServer, kUnknown}, &result);
  EXPECT_EQ(result, S_FALSE);
  EXPECT_EQ(errors, (std::vector<HRESULT>{S_OK, OPC_E_INVALIDHANDLE}));
  Run();  // the removed item is freed on the main thread
  EXPECT_EQ(Next(Enumerate().Get(), 10, &result).size(), 2u);
}

// Many items come and go: the rest keep the order they were added in, seen
// one by one (an enumerator's way) and in whole-group walks (a clone takes
// its items from one), and removed ones are gone from every lookup.
TEST_F(PsOPCItemTest, ItemsKeepTheirOrderAsManyComeAndGo) {
  opcserver::TPsOPCProviderGroup& impl = *static_cast<opcserver::TPsOPCProviderGroup*>(group.Get());
  std::vector<OPCHANDLE> server;    // by client handle - 100
  std::vector<OPCHANDLE> expected;  // client handles, in order
  const auto add = [&](int count) {
    ItemDefs definitions;
    for (int i = 0; i < count; ++i)
      definitions.Add("Test/Setpoint").Get()[i].hClient =
          static_cast<OPCHANDLE>(100 + server.size() + static_cast<size_t>(i));
    const auto added = AddItems(group.Get(), definitions);
    ASSERT_EQ(added.result, S_OK);
    for (const OPCITEMRESULT& result : added.results) {
      expected.push_back(static_cast<OPCHANDLE>(100 + server.size()));
      server.push_back(result.hServer);
    }
  };
  const auto remove = [&](const std::function<bool(OPCHANDLE)>& which) {
    std::vector<OPCHANDLE> handles;
    for (OPCHANDLE client : expected)
      if (which(client))
        handles.push_back(server[client - 100]);
    std::erase_if(expected, which);
    HRESULT result = E_FAIL;
    EXPECT_EQ(Errors(&IOPCItemMgt::RemoveItems, handles, &result),
              std::vector<HRESULT>(handles.size(), S_OK));
    // Gone: a second removal does not find them.
    EXPECT_EQ(Errors(&IOPCItemMgt::RemoveItems, handles, &result),
              std::vector<HRESULT>(handles.size(), OPC_E_INVALIDHANDLE));
    for (OPCHANDLE handle : handles)
      EXPECT_EQ(impl.FindItem(handle), nullptr);
  };
  const auto inOrder = [](opcserver::TPsOPCProviderGroup& of) {
    std::vector<OPCHANDLE> clients;
    for (int i = 0; i < of.GetItemCount(); ++i)
      clients.push_back(of.GetItems(i)->GetClientHandle());
    return clients;
  };
  add(40);
  remove([](OPCHANDLE client) { return client % 2 == 1; });
  {
    // Walked while the removed ones still leave holes.
    ComPtr<IOPCItemMgt> clone;
    ASSERT_EQ(opcserver::CheckedCast<IOPCGroupStateMgt>(group.Get())
                  ->CloneGroup(OLESTR("Clone"), IID_IOPCItemMgt,
                               reinterpret_cast<LPUNKNOWN*>(clone.Receive())),
              S_OK);
    EXPECT_EQ(inOrder(*static_cast<opcserver::TPsOPCProviderGroup*>(clone.Get())), expected);
  }
  EXPECT_EQ(inOrder(impl), expected);
  remove([](OPCHANDLE client) { return client % 4 != 0; });
  add(5);
  remove([](OPCHANDLE client) { return client < 110; });
  EXPECT_EQ(inOrder(impl), expected);
  EXPECT_EQ(expected,
            (std::vector<OPCHANDLE>{112, 116, 120, 124, 128, 132, 136, 140, 141, 142, 143, 144}));
  for (size_t i = 0; i < expected.size(); ++i)
    EXPECT_EQ(impl.FindItem(server[expected[i] - 100])->GetClientHandle(), expected[i]);
  Run();
}

TEST_F(PsOPCItemTest, AnItemRemovedOnAnotherThreadIsFreedOnTheMainThread) {
  toolkit::TPsVarChangeSignal& changes = *voltage->ChangeSignal();
  const int before = changes.SlotCount();
  OPCHANDLE handle = AddItem(group.Get(), "Test/Voltage");
  EXPECT_EQ(changes.SlotCount(), before + 1);  // the item's link
  HRESULT result = E_FAIL;
  std::thread([&] {
    HRESULT* errors = nullptr;
    result = group->RemoveItems(1, &handle, &errors);
    CoTaskMemFree(errors);
  }).join();
  EXPECT_EQ(result, S_OK);
  EXPECT_EQ(changes.SlotCount(), before + 1);  // not yet freed
  Run();
  EXPECT_EQ(changes.SlotCount(), before);
}

TEST_F(PsOPCItemTest, HostileCountsAndPointersAreRefusedBeforeAnythingIsAllocated) {
  OPCITEMRESULT* results = reinterpret_cast<OPCITEMRESULT*>(1);
  HRESULT* errors = reinterpret_cast<HRESULT*>(1);
  ItemDefs one;
  one.Add("Korva/Status");
  EXPECT_EQ(group->AddItems(0, one.Get(), &results, &errors), E_INVALIDARG);
  EXPECT_EQ(results, nullptr);
  EXPECT_EQ(errors, nullptr);
  EXPECT_EQ(group->AddItems(70000, one.Get(), &results, &errors), E_INVALIDARG);
  EXPECT_EQ(group->ValidateItems(1, nullptr, FALSE, &results, &errors), E_INVALIDARG);

  OPCHANDLE handle = AddItem(group.Get(), "Korva/Status");
  VARTYPE type = VT_BSTR;
  OPCHANDLE clientHandle = 5;
  const ComPtr<IOPCSyncIO> io = opcserver::CheckedCast<IOPCSyncIO>(group.Get());
  OPCITEMSTATE* states = nullptr;
  VARIANT value = Int(1);
  for (DWORD count : {0u, 65537u, 0xFFFFFFFFu}) {
    EXPECT_EQ(group->RemoveItems(count, &handle, &errors), E_INVALIDARG) << count;
    EXPECT_EQ(group->SetActiveState(count, &handle, TRUE, &errors), E_INVALIDARG) << count;
    EXPECT_EQ(group->SetClientHandles(count, &handle, &clientHandle, &errors), E_INVALIDARG);
    // SetDatatypes reads only the caller's array.
    EXPECT_EQ(group->SetDatatypes(count, &handle, &type, &errors), E_INVALIDARG) << count;
    EXPECT_EQ(io->Read(OPC_DS_CACHE, count, &handle, &states, &errors), E_INVALIDARG) << count;
    EXPECT_EQ(io->Write(count, &handle, &value, &errors), E_INVALIDARG) << count;
    EXPECT_EQ(errors, nullptr);
  }
  EXPECT_EQ(group->RemoveItems(1, nullptr, &errors), E_INVALIDARG);
  EXPECT_EQ(group->SetClientHandles(1, &handle, nullptr, &errors), E_INVALIDARG);
  EXPECT_EQ(group->SetDatatypes(1, &handle, nullptr, &errors), E_INVALIDARG);
  EXPECT_EQ(io->Read(OPC_DS_CACHE, 1, nullptr, &states, &errors), E_INVALIDARG);
  // A source other than the cache and the device.
  for (const OPCDATASOURCE source : {OPCDATASOURCE(0), OPCDATASOURCE(3)})
    EXPECT_EQ(io->Read(source, 1, &handle, &states, &errors), E_INVALIDARG);
  EXPECT_EQ(io->Write(1, &handle, nullptr, &errors), E_INVALIDARG);
  EXPECT_EQ(states, nullptr);

  ComPtr<IUnknown> none;
  EXPECT_EQ(group->CreateEnumerator(IID_IEnumUnknown, none.Receive()), E_INVALIDARG);
  EXPECT_FALSE(none);
  // Only the interfaces the group serves.
  for (const IID* iid : {&IID_IOPCBrowseServerAddressSpace, &IID_IOPCItemProperties})
    EXPECT_EQ(group->QueryInterface(*iid, none.ReceiveVoid()), E_NOINTERFACE);
  // Without a sink the asynchronous side is not connected.
  const ComPtr<IOPCAsyncIO2> async = opcserver::CheckedCast<IOPCAsyncIO2>(group.Get());
  BOOL enabled = FALSE;
  EXPECT_EQ(async->SetEnable(TRUE), CONNECT_E_NOCONNECTION);
  EXPECT_EQ(async->GetEnable(&enabled), CONNECT_E_NOCONNECTION);
  DWORD cancelID = 0;
  EXPECT_EQ(async->Read(1, &handle, 7, &cancelID, &errors), CONNECT_E_NOCONNECTION);
  EXPECT_EQ(async->Cancel2(7), E_FAIL);
}

// A type no value converts to would leave an item that fails every read: it
// is refused when the item is defined and when its type is set.
TEST_F(PsOPCItemTest, TypesNoValueConvertsToAreRefused) {
  const OPCHANDLE handle = AddItem(group.Get(), "Test/Setpoint");
  const struct {
    VARTYPE type;
    HRESULT error;
  } cases[] = {{VT_DISPATCH, OPC_E_BADTYPE},
               {VT_UNKNOWN, OPC_E_BADTYPE},
               {VT_DECIMAL, OPC_E_BADTYPE},
               {15, OPC_E_BADTYPE},
               {VT_ARRAY | VT_DECIMAL, OPC_E_BADTYPE},
               {VT_ERROR, S_OK},
               {VT_VARIANT, S_OK},
               {VT_I1, S_OK},
               {VT_I8, S_OK}};
  for (const auto& c : cases) {
    ItemDefs definition;
    definition.Add("Test/Setpoint", c.type);
    EXPECT_EQ(AddItems(group.Get(), definition, true).errors, std::vector<HRESULT>{c.error})
        << c.type;
    HRESULT error = E_UNEXPECTED;
    SetDatatype(handle, c.type, &error);
    EXPECT_EQ(error, c.error) << c.type;
    if (c.error == S_OK) {
      EXPECT_EQ(Read(group.Get(), OPC_DS_CACHE, {handle})[0].error, S_OK) << c.type;
    }
  }
}

TEST_F(PsOPCItemTest, ValuesAreConvertedToTheRequestedType) {
  const OPCHANDLE handle = AddItem(group.Get(), "Korva/Status");
  HRESULT error = E_FAIL;
  EXPECT_EQ(SetDatatype(handle, VT_BSTR, &error), S_OK);
  EXPECT_EQ(error, S_OK);
  auto values = Read(group.Get(), OPC_DS_CACHE, {handle});
  EXPECT_EQ(values[0].type, VT_BSTR);
  EXPECT_EQ(values[0].value, "20480");

  // A type the item refuses leaves the one it has.
  EXPECT_EQ(SetDatatype(handle, VT_UI8, &error), S_FALSE);
  EXPECT_EQ(error, OPC_E_BADTYPE);
  EXPECT_EQ(Read(group.Get(), OPC_DS_CACHE, {handle})[0].type, VT_BSTR);

  // A value that does not fit: bad, no value, the conversion's error.
  SetStatus(0x8888);
  EXPECT_EQ(SetDatatype(handle, VT_I2, &error), S_OK);
  values = Read(group.Get(), OPC_DS_CACHE, {handle});
  EXPECT_EQ(values[0].quality, 0x00);
  EXPECT_EQ(values[0].type, VT_EMPTY);
  EXPECT_EQ(values[0].error, OPC_E_RANGE);
  SetStatus(0x1000);
  EXPECT_EQ(Read(group.Get(), OPC_DS_CACHE, {handle})[0].value, "4096");
}

TEST_F(PsOPCItemTest, CacheAndDeviceReadsAnswerPerItem) {
  clock_.SetNow(korva_test::kGroupTestNow - 1);  // the values' time: a day ago
  bat->SetValue(false);
  SetStatus(0x4000);
  clock_.SetNow(korva_test::kGroupTestNow);
  const vcl::TDateTime localNow = korva_test::kGroupTestNow + 1.0 / 24;
  const OPCHANDLE active = AddItem(group.Get(), "Korva/BAT");
  const OPCHANDLE inactive = AddItem(group.Get(), "Korva/Status", VT_EMPTY, FALSE);
  HRESULT result = E_FAIL;
  auto values = Read(group.Get(), OPC_DS_CACHE, {active, inactive, kUnknown}, &result);
  EXPECT_EQ(result, S_FALSE);
  EXPECT_EQ(values[0].quality, OPC_QUALITY_GOOD);
  EXPECT_EQ(values[0].value, "False");
  EXPECT_NEAR(values[0].time, localNow - 1, 1e-6);
  EXPECT_EQ(values[1].quality, OPC_QUALITY_OUT_OF_SERVICE);
  EXPECT_EQ(values[1].type, VT_EMPTY);
  EXPECT_NEAR(values[1].time, localNow, 1e-6);
  EXPECT_EQ(values[2].client, static_cast<OPCHANDLE>(-1));
  EXPECT_EQ(values[2].error, OPC_E_INVALIDHANDLE);

  // From the device, the inactive item's own value, time and quality.
  values = Read(group.Get(), OPC_DS_DEVICE, {inactive}, &result);
  EXPECT_EQ(result, S_OK);
  EXPECT_EQ(values[0].quality, OPC_QUALITY_GOOD);
  EXPECT_EQ(values[0].value, "16384");
  EXPECT_NEAR(values[0].time, localNow - 1, 1e-6);

  // An inactive group reads out of service from the cache.
  BOOL off = FALSE;
  opcserver::CheckedCast<IOPCGroupStateMgt>(group.Get())
      ->SetState(nullptr, nullptr, &off, nullptr, nullptr, nullptr, nullptr);
  EXPECT_EQ(Read(group.Get(), OPC_DS_CACHE, {active})[0].quality, OPC_QUALITY_OUT_OF_SERVICE);
  EXPECT_EQ(Read(group.Get(), OPC_DS_DEVICE, {active})[0].value, "False");
}

TEST_F(PsOPCItemTest, WritesAreCommittedOnTheMainThreadOrFailPerItem) {
  const OPCHANDLE readOnly = AddItem(group.Get(), "Korva/Status");
  const OPCHANDLE writable = AddItem(group.Get(), "Test/Voltage");
  HRESULT result = E_FAIL;
  EXPECT_EQ(Write(group.Get(), {readOnly}, {Int(7)}, &result),
            std::vector<HRESULT>{OPC_E_BADRIGHTS});
  EXPECT_EQ(result, S_FALSE);
  EXPECT_EQ(status->Value(), 0x5000);

  // From another thread: the value changes on the main thread.
  std::thread::id changedOn;
  voltage->OnChange = [&](vcl::TObject*, toolkit::TPsVarPropTypes) {
    changedOn = std::this_thread::get_id();
  };
  std::atomic<bool> done{false};
  std::vector<HRESULT> errors;
  std::thread writer([&] {
    errors = Write(group.Get(), {writable, kUnknown}, {Double(27.5), Int(1)}, &result);
    done = true;
  });
  while (!done)
    loop().ProcessMessages();
  writer.join();
  EXPECT_EQ(errors, (std::vector<HRESULT>{S_OK, OPC_E_INVALIDHANDLE}));
  EXPECT_EQ(result, S_FALSE);
  EXPECT_EQ(voltage->Value(), 27.5);
  EXPECT_EQ(changedOn, std::this_thread::get_id());
  voltage->OnChange = nullptr;
  // The item holds what was written.
  EXPECT_EQ(Read(group.Get(), OPC_DS_CACHE, {writable})[0].value, "27.5");

  VARIANT empty;
  VariantInit(&empty);
  const struct {
    VARIANT value;
    HRESULT error;
  } cases[] = {{Double(30.5), OPC_E_RANGE},
               {Int(-1), OPC_E_RANGE},
               {Text("abc"), OPC_E_BADTYPE},
               {empty, OPC_E_BADTYPE},
               {Double(12), S_OK}};
  double expected = 27.5;
  for (const auto& c : cases) {
    EXPECT_EQ(Write(group.Get(), {writable}, {c.value}, &result), std::vector<HRESULT>{c.error});
    EXPECT_EQ(result, c.error == S_OK ? S_OK : S_FALSE);
    if (c.error == S_OK)
      expected = 12;
    EXPECT_EQ(voltage->Value(), expected);
  }

  // Once the server has let the client go, nothing is committed: every
  // accepted entry fails.
  server().DoDisconnect(server().GetClients(0).Get());
  EXPECT_EQ(Write(group.Get(), {writable, readOnly, writable}, {Int(1), Int(1), Int(2)}, &result),
            (std::vector<HRESULT>{E_FAIL, OPC_E_BADRIGHTS, E_FAIL}));
  EXPECT_EQ(result, S_FALSE);
  EXPECT_EQ(voltage->Value(), 12);
}

TEST_F(PsOPCItemTest, AttributesDescribeRangesAndStates) {
  const struct {
    const char* id;
    OPCEUTYPE euType;
    const char* euInfo;
    VARTYPE euElementType;
    VARTYPE canonical;
  } cases[] = {{"Test/Voltage", OPC_ANALOG, "0|30", VT_R8, VT_R8},
               {"Test/Setpoint", OPC_ANALOG, "0|100", VT_I4, VT_I4},
               {"Test/Mode", OPC_ENUMERATED, "Off|Mains|Battery", VT_BSTR, VT_I4},
               {"Korva/BAT", OPC_NOENUM, "#EMPTY", VT_EMPTY, VT_BOOL},
               {"Korva/Device", OPC_NOENUM, "#EMPTY", VT_EMPTY, VT_BSTR}};
  for (const auto& c : cases)
    AddItem(group.Get(), c.id);
  HRESULT result = E_FAIL;
  const auto attributes = Next(Enumerate().Get(), std::size(cases), &result);
  EXPECT_EQ(result, S_OK);
  ASSERT_EQ(attributes.size(), std::size(cases));
  for (size_t i = 0; i < std::size(cases); ++i) {
    EXPECT_EQ(attributes[i].id, cases[i].id);
    EXPECT_EQ(attributes[i].euType, cases[i].euType) << cases[i].id;
    EXPECT_EQ(attributes[i].euInfo, cases[i].euInfo) << cases[i].id;
    EXPECT_EQ(attributes[i].euElementType, cases[i].euElementType) << cases[i].id;
    EXPECT_EQ(attributes[i].canonical, cases[i].canonical) << cases[i].id;
  }
  // Without a range a number is no analog value.
  voltage->SetRangeMode(toolkit::rmNone);
  const auto unranged = Next(Enumerate().Get(), 1, &result);
  ASSERT_EQ(unranged.size(), 1u);
  EXPECT_EQ(unranged[0].euType, OPC_NOENUM);
  EXPECT_EQ(unranged[0].euInfo, "#EMPTY");
}

// Rights follow the variable as it is configured: an item made while its
// variable is read-only takes writes once it is not, and an inactive item
// finds the rights anew when it is active again.
TEST_F(PsOPCItemTest, AnItemsAccessRightsFollowItsVariable) {
  const auto rights = [this] {
    HRESULT result = E_FAIL;
    std::vector<DWORD> list;
    for (const Attributes& item : Next(Enumerate().Get(), 10, &result))
      list.push_back(item.rights);
    return list;
  };
  constexpr DWORD kReadWrite = OPC_READABLE | OPC_WRITEABLE;
  setpoint->SetReadOnly(true);
  const OPCHANDLE first = AddItem(group.Get(), "Test/Setpoint");
  EXPECT_EQ(rights(), std::vector<DWORD>{OPC_READABLE});
  setpoint->SetReadOnly(false);
  const OPCHANDLE second = AddItem(group.Get(), "Test/Setpoint");
  EXPECT_EQ(rights(), (std::vector<DWORD>{kReadWrite, kReadWrite}));
  EXPECT_EQ(Write(group.Get(), {first}, {Int(7)}), std::vector<HRESULT>{S_OK});
  EXPECT_EQ(setpoint->Value(), 7);

  setpoint->SetReadOnly(true);
  EXPECT_EQ(rights(), (std::vector<DWORD>{OPC_READABLE, OPC_READABLE}));
  EXPECT_EQ(Write(group.Get(), {second}, {Int(8)}), std::vector<HRESULT>{OPC_E_BADRIGHTS});

  ASSERT_EQ(SetActive(second, FALSE), S_OK);
  setpoint->SetReadOnly(false);  // unheard by the inactive item
  EXPECT_EQ(rights(), (std::vector<DWORD>{kReadWrite, OPC_READABLE}));
  ASSERT_EQ(SetActive(second, TRUE), S_OK);
  EXPECT_EQ(rights(), (std::vector<DWORD>{kReadWrite, kReadWrite}));
}

// The main thread switches a variable's read-only flag while another
// thread reads the rights it gives: an item's, found anew each time the
// item is switched on, and the access rights property's.
TEST_F(PsOPCItemTest, RightsAreReadWhileTheMainThreadSwitchesReadOnly) {
  const OPCHANDLE item = AddItem(group.Get(), "Test/Setpoint");
  const ComPtr<IOPCItemProperties> properties = client.As<IOPCItemProperties>();
  const platform::com::WideString id = korva_test::Wide("Test/Setpoint");
  std::atomic<bool> done{false};
  std::thread reader([&] {
    for (int i = 0; i < 300; ++i) {
      SetActive(item, i % 2);
      DWORD rightsProperty = 5;
      VARIANT* values = nullptr;
      HRESULT* errors = nullptr;
      ASSERT_EQ(properties->GetItemProperties(const_cast<LPWSTR>(id.c_str()), 1, &rightsProperty,
                                              &values, &errors),
                S_OK);
      EXPECT_TRUE(values[0].lVal == OPC_READABLE ||
                  values[0].lVal == (OPC_READABLE | OPC_WRITEABLE));
      CoTaskMemFree(values);
      CoTaskMemFree(errors);
    }
    done = true;
  });
  for (int i = 0; !done; ++i) {
    setpoint->SetReadOnly(i % 2 == 0);
    loop().ProcessMessages();
  }
  reader.join();
}

// The main thread frees the variable of an item while another thread reads
// the item: from the device, its attributes, its rights and type found anew
// as it is switched off and on, and from the cache. Round by round the free
// falls on each of these steps in turn.
TEST_F(PsOPCItemTest, ItemsAreReadWhileTheMainThreadFreesTheirVariables) {
  opcserver::TPsOPCProviderAddressSpace& space = server().AddressSpace();
  const int root = space.IndexOfItemID("Test");
  ASSERT_GE(root, 0);
  const std::vector<std::function<void(OPCHANDLE)>> steps = {
      [&](OPCHANDLE item) { Read(group.Get(), OPC_DS_DEVICE, {item}); },
      [&](OPCHANDLE) {
        HRESULT result = S_OK;
        Next(Enumerate().Get(), 10, &result);
      },
      [&](OPCHANDLE item) {
        for (const BOOL active : {FALSE, TRUE})
          SetActive(item, active);
      },
      [&](OPCHANDLE item) { Read(group.Get(), OPC_DS_CACHE, {item}); },
  };
  // The item asked for and the reader's place: the item it reads and the
  // step it is at. Relaxed: the hand-over must not order the reads before
  // the frees.
  constexpr auto kRelaxed = std::memory_order_relaxed;
  const auto at = [&](OPCHANDLE item, size_t step) { return uint64_t{item} * 8 + step; };
  const size_t done = steps.size();
  std::atomic<OPCHANDLE> asked{0};
  std::atomic<uint64_t> place{0};
  std::thread reader([&] {
    for (OPCHANDLE last = 0;;) {
      const OPCHANDLE item = asked.load(kRelaxed);
      if (item == last) {
        std::this_thread::yield();
        continue;
      }
      if (item == kUnknown)
        return;
      last = item;
      for (size_t step = 0; step < steps.size(); ++step) {
        place.store(at(item, step), kRelaxed);
        steps[step](item);
      }
      place.store(at(item, done), kRelaxed);
    }
  });
  // Places only grow: items get ever larger handles.
  const auto awaitReader = [&](uint64_t reached) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (place.load(kRelaxed) < reached && std::chrono::steady_clock::now() < deadline)
      std::this_thread::yield();
    EXPECT_GE(place.load(kRelaxed), reached);
  };
  for (size_t round = 0; round < 200; ++round) {
    auto* variable = Make<toolkit::TPsFloat>("Gone");
    variable->SetRangeMax(30);
    variable->SetRangeMode(toolkit::rmException);
    variable->SetValue(static_cast<double>(round % 30));
    space.AddVariable(root, variable);
    const OPCHANDLE item = AddItem(group.Get(), "Test/Gone");
    asked.store(item, kRelaxed);
    awaitReader(at(item, round % steps.size()));
    vcl::Free(variable);
    awaitReader(at(item, done));
    HRESULT result = S_OK;
    EXPECT_EQ(Errors(&IOPCItemMgt::RemoveItems, {item}, &result), std::vector<HRESULT>{S_OK});
    Run();
  }
  asked.store(kUnknown, kRelaxed);
  reader.join();
}

// Writes in turn through two items of one variable: each item holds what
// the other wrote, and no item holds its lock while the variable tells the
// other one (ThreadSanitizer would see the two locks taken in both orders).
TEST_F(PsOPCItemTest, WritesInTurnThroughTwoItemsOfOneVariableReachBoth) {
  const OPCHANDLE items[] = {AddItem(group.Get(), "Test/Setpoint"),
                             AddItem(group.Get(), "Test/Setpoint")};
  for (const int32_t value : {7, 8, 9}) {
    EXPECT_EQ(Write(group.Get(), {items[value % 2]}, {Int(value)}), std::vector<HRESULT>{S_OK});
    EXPECT_EQ(setpoint->Value(), value);
    for (const korva_test::ReadValue& read : Read(group.Get(), OPC_DS_CACHE, {items[0], items[1]}))
      EXPECT_EQ(read.value, std::to_string(value));
  }
}

// A device read tells the group of the refreshed item after the item's
// lock is given back: asked outside the group's lock too, the item takes
// no lock of its group while it holds its own (ThreadSanitizer would see
// the two taken in both orders).
TEST_F(PsOPCItemTest, ADeviceReadTellsTheGroupAfterLeavingTheItemLock) {
  auto& impl = *static_cast<opcserver::TPsOPCProviderGroup*>(group.Get());
  const OPCHANDLE handle = AddItem(group.Get(), "Test/Setpoint");
  OPCITEMSTATE state{};
  VariantInit(&state.vDataValue);
  setpoint->SetValue(42);
  EXPECT_EQ(impl.FindItem(handle)->GetItemState(state, OPC_DS_DEVICE), S_OK);
  EXPECT_EQ(state.vDataValue.lVal, 42);
  VariantClear(&state.vDataValue);
  EXPECT_EQ(Read(group.Get(), OPC_DS_CACHE, {handle})[0].value, "42");
}

TEST_F(PsOPCItemTest, TheEnumeratorStaysWithinItsItemsAndKeepsItsGroup) {
  AddItem(group.Get(), "Test/Setpoint");
  AddItem(group.Get(), "Korva/BAT");
  const ComPtr<IEnumOPCItemAttributes> items = Enumerate();
  HRESULT result = E_FAIL;
  auto attributes = Next(items.Get(), 3, &result);
  EXPECT_EQ(result, S_FALSE);
  EXPECT_EQ(attributes.size(), 2u);
  EXPECT_TRUE(Next(items.Get(), 3, &result).empty());
  EXPECT_EQ(result, S_FALSE);

  // A huge count asks only for what follows; a null count only for one.
  EXPECT_EQ(items->Reset(), S_OK);
  EXPECT_EQ(Next(items.Get(), 0xFFFFFFFF, &result).size(), 2u);
  OPCITEMATTRIBUTES* list = nullptr;
  EXPECT_EQ(items->Next(2, &list, nullptr), E_INVALIDARG);
  EXPECT_EQ(items->Reset(), S_OK);
  EXPECT_EQ(items->Next(1, &list, nullptr), S_OK);
  ASSERT_NE(list, nullptr);
  CoTaskMemFree(list[0].szItemID);
  VariantClear(&list[0].vEUInfo);
  CoTaskMemFree(list);
  EXPECT_EQ(items->Skip(1), S_OK);
  EXPECT_EQ(items->Skip(0xFFFFFFFF), S_FALSE);
  EXPECT_TRUE(Next(items.Get(), 1, &result).empty());

  // A clone starts at the first; the enumerator keeps its group.
  ComPtr<IEnumOPCItemAttributes> clone;
  EXPECT_EQ(items->Clone(clone.Receive()), S_OK);
  group.Reset();
  attributes = Next(clone.Get(), 1, &result);
  EXPECT_EQ(result, S_OK);
  ASSERT_EQ(attributes.size(), 1u);
  EXPECT_EQ(attributes[0].id, "Test/Setpoint");
}

// An item is bound to its group on a COM thread after its link already
// hears the variable, which the main thread changes meanwhile (under
// ThreadSanitizer the handler's assignment and its call meet).
TEST_F(PsOPCItemTest, ItemsBoundWhileTheirVariableChangesAreHeardWhole) {
  std::atomic<bool> done{false};
  std::thread adder([&] {
    for (int i = 0; i < 300; ++i)
      AddItem(group.Get(), "Test/Setpoint");
    done = true;
  });
  for (int i = 0; !done; ++i)
    setpoint->SetValue(i % 100);
  adder.join();
}

TEST_F(PsOPCItemTest, ThreadsReadWhileTheMainThreadWritesAndItemsComeAndGo) {
  std::vector<OPCHANDLE> handles = {AddItem(group.Get(), "Korva/Status"),
                                    AddItem(group.Get(), "Korva/BAT"),
                                    AddItem(group.Get(), "Korva/Device")};
  std::atomic<int> running{6};
  std::vector<std::thread> threads;
  for (int i = 0; i < 4; ++i)
    threads.emplace_back([&] {
      for (int round = 0; round < 200; ++round)
        for (const auto& value : Read(group.Get(), OPC_DS_DEVICE, handles))
          EXPECT_EQ(value.error, S_OK);
      --running;
    });
  // Items added and removed while others switch the active state.
  threads.emplace_back([&] {
    for (int i = 0; i < 200; ++i) {
      OPCHANDLE handle = AddItem(group.Get(), "Test/Setpoint");
      HRESULT* errors = nullptr;
      group->RemoveItems(1, &handle, &errors);
      CoTaskMemFree(errors);
    }
    --running;
  });
  threads.emplace_back([&] {
    for (int i = 0; i < 200; ++i) {
      HRESULT* errors = nullptr;
      group->SetActiveState(static_cast<DWORD>(handles.size()), handles.data(), i % 2, &errors);
      CoTaskMemFree(errors);
    }
    --running;
  });
  // The main thread's scan meanwhile.
  for (int i = 0; running > 0; ++i) {
    SetStatus(i);
    bat->SetValue(i % 2 == 0);
    device->SetValue(std::to_string(i));
    setpoint->SetValue(i % 100);
    loop().ProcessMessages();
  }
  for (std::thread& thread : threads)
    thread.join();
  Run();
}

}  // namespace
