// What the group tests stand on: a running server with the provider
// window's address space ("Korva" and its ten read-only items) and a test
// module ("Test") of writable variables (an integer, a ranged float and a
// state variable), a manual clock in central European time, one client, and
// helpers that add groups and items and read and write them.
#pragma once

#include <string>
#include <vector>

#include "OPCServerTestSupport.h"
#include "opcserver/PsOPC.h"
#include "opcserver/PsOPCProviderGroups.h"
#include "opcserver/opc_provider.h"
#include "toolkit/Clock.h"
#include "toolkit/PsVarsBasic.h"
#include "toolkit/PsVarsFloat.h"
#include "toolkit/PsVarsState.h"

namespace korva_test {

// 1 March 2023, 12:00 UTC (winter time in central Europe).
inline constexpr vcl::TDateTime kGroupTestNow = 44986.5;

inline platform::com::WideString Wide(const std::string& text) {
  return platform::com::Utf8ToWide(text);
}

// Item definitions whose texts live as long as the list.
class ItemDefs {
 public:
  // `id` "<null>" gives a null item ID.
  ItemDefs& Add(const std::string& id, VARTYPE type = VT_EMPTY, const std::string& path = "",
                BOOL active = TRUE) {
    texts_.push_back(Wide(id));
    texts_.push_back(Wide(path));
    OPCITEMDEF definition{};
    definition.bActive = active;
    definition.hClient = static_cast<OPCHANDLE>(100 + definitions_.size());
    definition.vtRequestedDataType = type;
    definitions_.push_back(definition);
    nulls_.push_back(id == "<null>");
    return *this;
  }
  OPCITEMDEF* Get() {
    // The texts' addresses are fixed once every definition is in.
    for (size_t i = 0; i < definitions_.size(); ++i) {
      definitions_[i].szItemID = nulls_[i] ? nullptr : texts_[2 * i].data();
      definitions_[i].szAccessPath = texts_[2 * i + 1].data();
    }
    return definitions_.data();
  }
  DWORD Count() const { return static_cast<DWORD>(definitions_.size()); }

 private:
  std::vector<platform::com::WideString> texts_;
  std::vector<OPCITEMDEF> definitions_;
  std::vector<bool> nulls_;
};

struct Added {
  HRESULT result = E_FAIL;
  std::vector<HRESULT> errors;
  std::vector<OPCITEMRESULT> results;
};

// One read item: its state and error.
struct ReadValue {
  OPCHANDLE client = 0;
  WORD quality = 0;
  vcl::TDateTime time = 0;
  std::string value;  // "#EMPTY" when empty
  VARTYPE type = VT_EMPTY;
  HRESULT error = S_OK;
};

class OPCGroupTest : public OPCServerTest {
 protected:
  OPCGroupTest() {
    clock_.SetNow(kGroupTestNow);
    clock_.SetZone(*platform::ParseTzRule("CET-1CEST,M3.5.0,M10.5.0/3"));
    provider_ = vcl::Application().CreateForm<opcserver::TOPCProvider>(&server());
    status = provider_->PsStatus;
    bat = provider_->PsBAT;
    device = provider_->PsDevice;
    status->SetValue(0x5000);
    bat->SetValue(true);
    device->SetValue("UPS");
    // The window keeps its own values read-only; the test module's are writable.
    const auto windowRights = server().OnGetAccessRights;
    server().OnGetAccessRights = [this, windowRights](
                                     vcl::TObject* sender, vcl::TComponent* component,
                                     toolkit::TPsVarPropType varProp, DWORD& rights) {
      if (component->Owner() == provider_)
        windowRights(sender, component, varProp, rights);
    };
    test_ = new vcl::TComponent(nullptr);
    test_->SetName("Test");
    setpoint = Make<toolkit::TPsInteger>("Setpoint");
    setpoint->SetRangeMin(0);
    setpoint->SetRangeMax(100);
    setpoint->SetRangeMode(toolkit::rmException);
    setpoint->SetValue(50);
    voltage = Make<toolkit::TPsFloat>("Voltage");
    voltage->SetRangeMin(0);
    voltage->SetRangeMax(30);
    voltage->SetRangeMode(toolkit::rmException);
    voltage->SetValue(24);
    mode = Make<toolkit::TPsState>("Mode");
    for (const char* name : {"Off", "Mains", "Battery"})
      static_cast<toolkit::TPsStateItem*>(mode->States()->Add())->SetName(name);
    opcserver::TPsOPCProviderAddressSpace& space = server().AddressSpace();
    const int root = space.AddChildObject(-1, "Test", test_);
    for (toolkit::TPsVar* variable : std::vector<toolkit::TPsVar*>{setpoint, voltage, mode})
      space.AddChildObject(root, variable->Name(), variable);
    Run();
    client = Connect();
  }
  ~OPCGroupTest() override {
    client.Reset();
    Run();
    server().OnGetAccessRights = nullptr;
    delete test_;
    // Before the server goes: the window lets go of the server as it ends.
    delete provider_;
  }

  // The monitor's way of changing the status word.
  void SetStatus(int32_t value) { status->SetValue(value); }

  template <class Kind>
  Kind* Make(const std::string& name) {
    auto* variable = new Kind(test_);
    variable->SetName(name);
    return variable;
  }

  // A group of `client` asked for IOPCItemMgt; null when AddGroup fails.
  ComPtr<IOPCItemMgt> AddGroup(const std::string& name, BOOL active = TRUE, DWORD rate = 1000,
                               LONG* bias = nullptr, HRESULT* result = nullptr,
                               IOPCServer* owner = nullptr) {
    ComPtr<IOPCItemMgt> group;
    OPCHANDLE serverHandle = 0;
    DWORD revised = 0;
    const platform::com::WideString wide = Wide(name);
    const HRESULT answer =
        (owner ? owner : client.Get())
            ->AddGroup(wide.c_str(), active, rate, 7, bias, nullptr, 0, &serverHandle, &revised,
                       IID_IOPCItemMgt, reinterpret_cast<LPUNKNOWN*>(group.Receive()));
    if (result)
      *result = answer;
    return group;
  }

  // A group's state as GetState reports it.
  struct GroupState {
    std::string name;
    DWORD rate = 0;
    LONG bias = 0;
    OPCHANDLE serverHandle = 0;
  };
  static GroupState GetState(IUnknown* group) {
    ComPtr<IOPCGroupStateMgt> state;
    group->QueryInterface(IID_IOPCGroupStateMgt, state.ReceiveVoid());
    GroupState result;
    BOOL active = FALSE;
    LPWSTR name = nullptr;
    FLOAT deadband = 0;
    LCID lcid = 0;
    OPCHANDLE clientHandle = 0;
    EXPECT_EQ(state->GetState(&result.rate, &active, &name, &result.bias, &deadband, &lcid,
                              &clientHandle, &result.serverHandle),
              S_OK);
    result.name = platform::com::WideToUtf8(name);
    CoTaskMemFree(name);
    return result;
  }
  static std::string NameOf(IUnknown* group) { return GetState(group).name; }

  static Added AddItems(IOPCItemMgt* group, ItemDefs& definitions, bool validate = false) {
    Added added;
    OPCITEMRESULT* results = nullptr;
    HRESULT* errors = nullptr;
    added.result =
        validate
            ? group->ValidateItems(definitions.Count(), definitions.Get(), FALSE, &results, &errors)
            : group->AddItems(definitions.Count(), definitions.Get(), &results, &errors);
    if (results)
      added.results.assign(results, results + definitions.Count());
    if (errors)
      added.errors.assign(errors, errors + definitions.Count());
    CoTaskMemFree(results);
    CoTaskMemFree(errors);
    return added;
  }
  // The server handle of one new item.
  static OPCHANDLE AddItem(IOPCItemMgt* group, const std::string& id, VARTYPE type = VT_EMPTY,
                           BOOL active = TRUE) {
    ItemDefs definitions;
    definitions.Add(id, type, "", active);
    const Added added = AddItems(group, definitions);
    EXPECT_EQ(added.result, S_OK) << id;
    return added.results.empty() ? 0 : added.results[0].hServer;
  }

  static std::vector<ReadValue> Read(IOPCItemMgt* group, OPCDATASOURCE source,
                                     std::vector<OPCHANDLE> handles, HRESULT* result = nullptr) {
    const ComPtr<IOPCSyncIO> io = opcserver::CheckedCast<IOPCSyncIO>(group);
    OPCITEMSTATE* states = nullptr;
    HRESULT* errors = nullptr;
    const HRESULT answer =
        io->Read(source, static_cast<DWORD>(handles.size()), handles.data(), &states, &errors);
    if (result)
      *result = answer;
    std::vector<ReadValue> values;
    for (size_t i = 0; states && i < handles.size(); ++i) {
      ReadValue value;
      value.client = states[i].hClient;
      value.quality = states[i].wQuality;
      const uint64_t fileTime = (uint64_t{states[i].ftTimeStamp.dwHighDateTime} << 32) |
                                states[i].ftTimeStamp.dwLowDateTime;
      value.time = fileTime ? toolkit::FileTimeToDateTime(fileTime) : 0;
      value.type = states[i].vDataValue.vt;
      value.value =
          toolkit::VariantToText(opcserver::VariantToPsVariant(states[i].vDataValue), false);
      value.error = errors[i];
      values.push_back(value);
    }
    if (states)
      opcserver::TPsOPCAlloc::FreeItemStateList(states, static_cast<int64_t>(handles.size()));
    CoTaskMemFree(errors);
    return values;
  }

  static std::vector<HRESULT> Write(IOPCItemMgt* group, std::vector<OPCHANDLE> handles,
                                    std::vector<VARIANT> values, HRESULT* result = nullptr) {
    const ComPtr<IOPCSyncIO> io = opcserver::CheckedCast<IOPCSyncIO>(group);
    HRESULT* errors = nullptr;
    const HRESULT answer =
        io->Write(static_cast<DWORD>(handles.size()), handles.data(), values.data(), &errors);
    if (result)
      *result = answer;
    std::vector<HRESULT> list;
    if (errors)
      list.assign(errors, errors + handles.size());
    CoTaskMemFree(errors);
    for (VARIANT& value : values)
      VariantClear(&value);
    return list;
  }

  static VARIANT Int(int32_t value) {
    VARIANT variant;
    VariantInit(&variant);
    variant.vt = VT_I4;
    variant.lVal = value;
    return variant;
  }
  static VARIANT Double(double value) {
    VARIANT variant;
    VariantInit(&variant);
    variant.vt = VT_R8;
    variant.dblVal = value;
    return variant;
  }
  static VARIANT Text(const std::string& text) {
    VARIANT variant;
    VariantInit(&variant);
    opcserver::PsVariantToVariant(toolkit::PsVariant(text), variant);
    return variant;
  }

  toolkit::ManualClock clock_;
  platform::ScopedService<toolkit::Clock> installed_{clock_};
  toolkit::TPsInteger* status;
  toolkit::TPsBool* bat;
  toolkit::TPsString* device;
  toolkit::TPsInteger* setpoint;
  toolkit::TPsFloat* voltage;
  toolkit::TPsState* mode;
  ComPtr<IOPCServer> client;

 private:
  opcserver::TOPCProvider* provider_;
  vcl::TComponent* test_;
};

}  // namespace korva_test
