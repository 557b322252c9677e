// Item properties of the provider window's items: what an item offers, the
// values and the item IDs of its properties, and the calls that fail
// without handing anything out.
#include "OPCServerTestSupport.h"
#include "opcserver/PsOPC.h"
#include "toolkit/PsUtils.h"
#include "toolkit/PsVarsFloat.h"
#include "toolkit/PsVarsState.h"

namespace {

using korva_test::TakeTexts;
using opcserver::ComPtr;

class PsOPCItemPropertiesTest : public korva_test::OPCProviderWindowTest {
 protected:
  PsOPCItemPropertiesTest() { properties = client.As<IOPCItemProperties>(); }
  ~PsOPCItemPropertiesTest() override { properties.Reset(); }

  struct Offered {
    std::vector<DWORD> ids;
    std::vector<std::string> descriptions;
    std::vector<VARTYPE> types;
  };
  Offered Offers(const char* itemID, HRESULT expected = S_OK) {
    DWORD count = 99;
    DWORD* ids = nullptr;
    LPWSTR* descriptions = nullptr;
    VARTYPE* types = nullptr;
    const platform::com::WideString id = platform::com::Utf8ToWide(itemID);
    EXPECT_EQ(properties->QueryAvailableProperties(const_cast<LPWSTR>(Wide(id)), &count, &ids,
                                                   &descriptions, &types),
              expected)
        << itemID;
    Offered offered;
    if (expected != S_OK) {
      EXPECT_EQ(count, 0u);
      EXPECT_FALSE(ids || descriptions || types);
      return offered;
    }
    offered.ids.assign(ids, ids + count);
    offered.types.assign(types, types + count);
    offered.descriptions = TakeTexts(descriptions, count);
    CoTaskMemFree(ids);
    CoTaskMemFree(types);
    return offered;
  }
  // The values of the properties, each as a text after its variant type;
  // the call's result in `result`.
  std::vector<std::string> Values(const char* itemID, std::vector<DWORD> ids,
                                  HRESULT* result = nullptr) {
    VARIANT* values = reinterpret_cast<VARIANT*>(&values);
    HRESULT* errors = reinterpret_cast<HRESULT*>(&errors);
    const platform::com::WideString id = platform::com::Utf8ToWide(itemID);
    const HRESULT answer = properties->GetItemProperties(
        const_cast<LPWSTR>(Wide(id)), static_cast<DWORD>(ids.size()), ids.data(), &values, &errors);
    if (result)
      *result = answer;
    std::vector<std::string> texts;
    if (answer != S_OK) {
      EXPECT_FALSE(values || errors) << "a failed call hands nothing out";
      return texts;
    }
    for (size_t i = 0; i < ids.size(); ++i) {
      EXPECT_EQ(errors[i], S_OK);
      texts.push_back(std::to_string(values[i].vt) + ":" +
                      opcserver::VariantToPsVariant(values[i]).AsText());
      VariantClear(&values[i]);
    }
    CoTaskMemFree(values);
    CoTaskMemFree(errors);
    return texts;
  }
  // The new item IDs, or the failure's code alone.
  std::vector<std::string> Lookup(const char* itemID, std::vector<DWORD> ids) {
    LPWSTR* itemIDs = reinterpret_cast<LPWSTR*>(&itemIDs);
    HRESULT* errors = reinterpret_cast<HRESULT*>(&errors);
    const platform::com::WideString id = platform::com::Utf8ToWide(itemID);
    const HRESULT answer =
        properties->LookupItemIDs(const_cast<LPWSTR>(Wide(id)), static_cast<DWORD>(ids.size()),
                                  ids.data(), &itemIDs, &errors);
    if (answer != S_OK) {
      EXPECT_FALSE(itemIDs || errors) << "a failed call hands nothing out";
      return {vcl::Format("$%x", static_cast<uint32_t>(answer))};
    }
    CoTaskMemFree(errors);
    return TakeTexts(itemIDs, ids.size());
  }
  static LPCWSTR Wide(const platform::com::WideString& text) {
    return reinterpret_cast<LPCWSTR>(text.c_str());
  }

  ComPtr<IOPCItemProperties> properties;
};

std::string Code(HRESULT code) {
  return vcl::Format("$%x", static_cast<uint32_t>(code));
}

TEST_F(PsOPCItemPropertiesTest, AnItemOffersTheSixStandardProperties) {
  const std::vector<DWORD> six = {1, 2, 3, 4, 5, 6};
  const Offered bat = Offers("Korva/BAT");
  EXPECT_EQ(bat.ids, six);
  EXPECT_EQ(bat.descriptions,
            (std::vector<std::string>{"Canonical Data Type", "Current Value", "Quality",
                                      "Timestamp", "Access Rights", "Scan Rate"}));
  EXPECT_EQ(bat.types, (std::vector<VARTYPE>{VT_I2, VT_BOOL, VT_I2, VT_DATE, VT_I4, VT_R4}));
  EXPECT_EQ(Offers("Korva/Status").types[1], VT_I4);
  EXPECT_EQ(Offers("Korva/Device").types[1], VT_BSTR);
  EXPECT_TRUE(Offers("Korva").ids.empty()) << "a window has no standard properties";
  Offers("Korva/Nothing", OPC_E_UNKNOWNITEMID);
  Offers("", OPC_E_INVALIDITEMID);
}

TEST_F(PsOPCItemPropertiesTest, ValuesComeInTheTypesOfTheirRows) {
  window->PsStatus->SetValue(0x1111);
  EXPECT_EQ(Values("Korva/Status", {1, 2}), (std::vector<std::string>{"2:3", "3:4369"}));
  const std::vector<std::string> rest = Values("Korva/Status", {3, 5, 6});
  EXPECT_EQ(rest, (std::vector<std::string>{"2:192", "3:1", "4:0"}));
  window->PsBAT->SetValue(true);
  EXPECT_EQ(Values("Korva/BAT", {2, 1}), (std::vector<std::string>{"11:True", "2:11"}));
  window->PsDevice->SetValue("DI-ZOD");
  EXPECT_EQ(Values("Korva/Device", {2}), std::vector<std::string>{"8:DI-ZOD"});
  VARIANT* values = nullptr;
  HRESULT* errors = nullptr;
  DWORD four = 4;
  ASSERT_EQ(properties->GetItemProperties(const_cast<LPWSTR>(OLESTR("Korva/Status")), 1, &four,
                                          &values, &errors),
            S_OK);
  EXPECT_EQ(values[0].vt, VT_DATE);
  EXPECT_DOUBLE_EQ(values[0].date, window->PsStatus->TimeStamp());
  CoTaskMemFree(values);
  CoTaskMemFree(errors);
}

// Property 4 is the time stamp of the item's own property, as it is (UTC).
TEST_F(PsOPCItemPropertiesTest, TheTimestampIsThatOfTheItemsProperty) {
  const vcl::TDateTime valueTime = 44000.25;
  const vcl::TDateTime captionTime = 44100.75;
  auto* stamped = new toolkit::TPsInteger(window);
  stamped->SetName("PsStamped");
  stamped->SetPropValueAt(toolkit::vpValue, toolkit::PsVariant(7), toolkit::vpqGood, valueTime);
  stamped->SetPropValueAt(toolkit::vpCaption, toolkit::PsVariant("Stamped"), toolkit::vpqGood,
                          captionTime);
  // With a leaf for each of its properties.
  opcserver::TPsOPCProviderAddressSpace& space = server().AddressSpace();
  space.SetPropertyLeaves(true);
  space.AddVariable(space.IndexOfPath("Korva"), stamped, "Stamped");
  for (const auto& [itemID, time] :
       {std::pair{"Korva/Stamped", valueTime}, std::pair{"Korva/Stamped/vpCaption", captionTime}}) {
    VARIANT* values = nullptr;
    HRESULT* errors = nullptr;
    DWORD four = 4;
    const platform::com::WideString id = platform::com::Utf8ToWide(itemID);
    ASSERT_EQ(
        properties->GetItemProperties(const_cast<LPWSTR>(Wide(id)), 1, &four, &values, &errors),
        S_OK)
        << itemID;
    EXPECT_EQ(values[0].vt, VT_DATE);
    EXPECT_EQ(values[0].date, time) << itemID;
    CoTaskMemFree(values);
    CoTaskMemFree(errors);
  }
}

// Floats offer their unit, ranges and limits, and a state variable gives
// the names of its last and first state as its range.
TEST_F(PsOPCItemPropertiesTest, FloatsAndStatesOfferTheirOwnRows) {
  auto* volts = new toolkit::TPsFloat(window);
  volts->SetName("PsVolts");
  volts->SetRangeMin(0);
  volts->SetRangeMax(30);
  volts->SetEngUnit("V");
  volts->SetAlarmHigh(28);
  volts->SetWarnHigh(26);
  volts->SetWarnLow(20);
  volts->SetAlarmLow(18);
  auto* mode = new toolkit::TPsState(window);
  mode->SetName("PsMode");
  for (const char* name : {"Off", "Mains", "Battery"})
    static_cast<toolkit::TPsStateItem*>(mode->States()->Add())->SetName(name);
  auto* none = new toolkit::TPsState(window);
  none->SetName("PsNone");
  opcserver::TPsOPCProviderAddressSpace& space = server().AddressSpace();
  const int korva = space.IndexOfPath("Korva");
  space.AddVariable(korva, volts, "Volts");
  space.AddVariable(korva, mode, "Mode");
  space.AddVariable(korva, none, "None");
  space.SetPropertyLeaves(true);

  EXPECT_EQ(Offers("Korva/Volts").ids,
            (std::vector<DWORD>{1, 2, 3, 4, 5, 6, 100, 101, 102, 103, 104, 105, 108, 300, 301, 307,
                                308, 309, 310}));
  EXPECT_EQ(Values("Korva/Volts", {100, 102, 103, 104, 105, 307, 308, 309, 310}),
            (std::vector<std::string>{"8:V", "5:30", "5:0", "5:30", "5:0", "5:28", "5:26", "5:20",
                                      "5:18"}));
  EXPECT_EQ(Offers("Korva/Mode").ids, (std::vector<DWORD>{1, 2, 3, 4, 5, 6, 101, 108, 300, 301}));
  EXPECT_EQ(Values("Korva/Mode", {102, 103}), (std::vector<std::string>{"8:Battery", "8:Off"}));
  EXPECT_EQ(Values("Korva/None", {102, 103}), (std::vector<std::string>{"8:", "8:"}));
  HRESULT result = S_OK;
  for (DWORD id : {104u, 105u}) {
    Values("Korva/Mode", {id}, &result);
    EXPECT_EQ(result, E_INVALIDARG) << "a state has no float range: " << id;
  }
  Values("Korva/BAT", {102}, &result);
  EXPECT_EQ(result, E_INVALIDARG) << "a flag has no range";
}

TEST_F(PsOPCItemPropertiesTest, FailedCallsHandNothingOut) {
  HRESULT result = S_OK;
  struct Case {
    const char* itemID;
    std::vector<DWORD> ids;
    HRESULT expected;
  };
  const Case cases[] = {
      {"Korva/Status", {101}, OPC_E_INVALID_PID},  {"Korva/Status", {1, 2, 101}, OPC_E_INVALID_PID},
      {"Korva/Nothing", {1}, OPC_E_UNKNOWNITEMID}, {"", {1}, OPC_E_INVALIDITEMID},
      {"Korva/Status", {}, E_INVALIDARG},
  };
  for (const Case& c : cases) {
    Values(c.itemID, c.ids, &result);
    EXPECT_EQ(Code(result), Code(c.expected)) << c.itemID << " " << c.ids.size();
  }
  // Hostile arguments: too many entries, nothing to read from or write to.
  std::vector<DWORD> many(70000, 1);
  VARIANT* values = reinterpret_cast<VARIANT*>(&values);
  HRESULT* errors = nullptr;
  LPWSTR status = const_cast<LPWSTR>(OLESTR("Korva/Status"));
  EXPECT_EQ(properties->GetItemProperties(status, 70000, many.data(), &values, &errors),
            E_INVALIDARG);
  EXPECT_EQ(values, nullptr);
  EXPECT_EQ(properties->GetItemProperties(nullptr, 1, many.data(), &values, &errors), E_INVALIDARG);
  EXPECT_EQ(properties->GetItemProperties(status, 1, nullptr, &values, &errors), E_INVALIDARG);
  EXPECT_EQ(properties->GetItemProperties(status, 1, many.data(), nullptr, &errors), E_INVALIDARG);
  LPWSTR* itemIDs = nullptr;
  EXPECT_EQ(properties->LookupItemIDs(status, 70000, many.data(), &itemIDs, &errors), E_INVALIDARG);
  EXPECT_EQ(properties->LookupItemIDs(status, 0, many.data(), &itemIDs, &errors), E_INVALIDARG);
  EXPECT_EQ(properties->LookupItemIDs(status, 1, many.data(), nullptr, &errors), E_INVALIDARG);
  DWORD count = 0;
  EXPECT_EQ(properties->QueryAvailableProperties(status, &count, nullptr, nullptr, nullptr),
            E_INVALIDARG);
  DWORD* ids = nullptr;
  LPWSTR* descriptions = nullptr;
  VARTYPE* types = nullptr;
  EXPECT_EQ(properties->QueryAvailableProperties(nullptr, &count, &ids, &descriptions, &types),
            E_INVALIDARG);

  // No standard property has an item ID of its own, and every property of
  // these items is a standard one.
  EXPECT_EQ(Lookup("Korva/Status", {5}), std::vector<std::string>{Code(OPC_E_INVALID_PID)});
  EXPECT_EQ(Lookup("Korva/Status", {101}), std::vector<std::string>{Code(OPC_E_INVALID_PID)});
  EXPECT_EQ(Lookup("Korva/Nothing", {101}), std::vector<std::string>{Code(OPC_E_UNKNOWNITEMID)});
}

TEST_F(PsOPCItemPropertiesTest, ItemsWithPropertyLeavesOfferTheirKindsRows) {
  // With property leaves an item without a property name offers every row
  // its component's class has.
  server().AddressSpace().SetPropertyLeaves(true);
  EXPECT_EQ(Offers("Korva/BAT").ids,
            (std::vector<DWORD>{1, 2, 3, 4, 5, 6, 101, 106, 107, 108, 300, 301}));
  EXPECT_EQ(Offers("Korva/Status").ids.size(), 10u);
  EXPECT_EQ(Offers("Korva").ids, std::vector<DWORD>{101});
  window->PsBAT->SetStringValueTrue("on");
  window->PsBAT->SetAlarmHelp("call the service");
  EXPECT_EQ(Values("Korva/BAT", {101, 106, 107, 108, 301}),
            (std::vector<std::string>{"8:BAT", "8:on",
                                      "8:", "3:" + std::to_string(toolkit::GetLocalUTCOffset()),
                                      "8:call the service"}));
  EXPECT_EQ(Values("Korva/Status", {102, 103}), (std::vector<std::string>{"5:-1", "5:0"}));
  EXPECT_EQ(Values("Korva", {101}), std::vector<std::string>{"8:OPCProvider"});
  HRESULT result = S_OK;
  Values("Korva", {1}, &result);
  EXPECT_EQ(result, E_INVALIDARG) << "a window has no type";
  Values("Korva/Status", {104}, &result);
  EXPECT_EQ(result, E_INVALIDARG) << "an integer has no float range";

  EXPECT_EQ(
      Lookup("Korva/BAT", {101, 300}),
      (std::vector<std::string>{"OPCProvider/PsBAT/vpCaption", "OPCProvider/PsBAT/vpAlarmState"}));
  // Computed properties have none.
  EXPECT_EQ(Lookup("Korva/BAT", {301}), std::vector<std::string>{Code(E_FAIL)});
  EXPECT_EQ(Lookup("Korva/BAT", {3}), std::vector<std::string>{Code(OPC_E_INVALID_PID)});
  EXPECT_EQ(Lookup("Korva/BAT", {999}), std::vector<std::string>{Code(OPC_E_INVALID_PID)});
}

}  // namespace
