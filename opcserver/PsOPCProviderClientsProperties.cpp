// Item properties of unit PsOPCProviderClients: the table of the properties
// an item offers, their values and the item IDs that stand for them.
// Variables are read through snapshots: these calls run on COM threads
// while the main thread writes.
#include <array>
#include <string>
#include <utility>
#include <vector>

#include "opcserver/PsOPC.h"
#include "opcserver/PsOPCProviderClients.h"
#include "toolkit/Debugs.h"
#include "toolkit/PsUtils.h"
#include "toolkit/PsVarsBasic.h"
#include "toolkit/PsVarsFloat.h"
#include "toolkit/PsVarsState.h"

namespace opcserver {
namespace {

using platform::com::Utf8ToWide;
using platform::com::WideToTaskMem;
using platform::com::WideToUtf8;
using toolkit::PsVariant;
using toolkit::TPsVar;
using toolkit::TPsVarPropType;

enum class TAppliesTo { Variable, Float, Component, Bool };

struct TPsOPCItemProperty {
  DWORD ID;
  VARTYPE DataType;  // VT_EMPTY: the variable's own type
  const char* Description;
  TAppliesTo AppliesTo;
  TPsVarPropType VarProp;  // vpOther and vpOther2: computed
};

using toolkit::vpOther;
using toolkit::vpOther2;

// Kind 2 items offer the first six rows, kind 1 items all.
constexpr std::array<TPsOPCItemProperty, 21> kItemProperties = {{
    {1, VT_I2, "Canonical Data Type", TAppliesTo::Variable, vpOther2},
    {2, VT_EMPTY, "Current Value", TAppliesTo::Variable, toolkit::vpValue},
    {3, VT_I2, "Quality", TAppliesTo::Variable, vpOther2},
    {4, VT_DATE, "Timestamp", TAppliesTo::Variable, vpOther2},
    {5, VT_I4, "Access Rights", TAppliesTo::Variable, vpOther2},
    {6, VT_R4, "Scan Rate", TAppliesTo::Variable, vpOther2},
    {100, VT_BSTR, "Engineering Unit", TAppliesTo::Float, toolkit::vpEngUnit},
    {101, VT_BSTR, "Variable Description", TAppliesTo::Component, toolkit::vpCaption},
    {102, VT_R8, "Max. Possible Value", TAppliesTo::Float, vpOther},
    {103, VT_R8, "Min. Possible Value", TAppliesTo::Float, vpOther},
    {104, VT_R8, "Max. Possible Value", TAppliesTo::Float, vpOther},
    {105, VT_R8, "Min. Possible Value", TAppliesTo::Float, vpOther},
    {106, VT_BSTR, "Label for closed state", TAppliesTo::Bool, vpOther},
    {107, VT_BSTR, "Label for open state", TAppliesTo::Bool, vpOther},
    {108, VT_I4, "Timezone difference (minutes)", TAppliesTo::Variable, vpOther},
    {300, VT_BSTR, "Current Alarm State", TAppliesTo::Variable, toolkit::vpAlarmState},
    {301, VT_BSTR, "Alarm Quick Help", TAppliesTo::Variable, vpOther},
    {307, VT_R8, "High Alarm Limit", TAppliesTo::Float, toolkit::vpAlarmHigh},
    {308, VT_R8, "High Warning Limit", TAppliesTo::Float, toolkit::vpWarnHigh},
    {309, VT_R8, "Low Warning Limit", TAppliesTo::Float, toolkit::vpWarnLow},
    {310, VT_R8, "Low Alarm Limit", TAppliesTo::Float, toolkit::vpAlarmLow},
}};

size_t RowCount(TPsOPCItemKind kind) {
  return kind == ikAllProperties ? kItemProperties.size() : 6;
}

const TPsOPCItemProperty* FindRow(TPsOPCItemKind kind, DWORD id) {
  for (size_t row = 0; row < RowCount(kind); ++row)
    if (kItemProperties[row].ID == id)
      return &kItemProperties[row];
  return nullptr;
}

bool Applies(const TPsOPCItemProperty& row, const vcl::TComponent* component) {
  switch (row.AppliesTo) {
    case TAppliesTo::Variable:
      return dynamic_cast<const TPsVar*>(component) != nullptr;
    case TAppliesTo::Float:
      return dynamic_cast<const toolkit::TPsCustomFloat*>(component) != nullptr;
    case TAppliesTo::Bool:
      return dynamic_cast<const toolkit::TPsBool*>(component) != nullptr;
    case TAppliesTo::Component:
      return true;
  }
  return false;
}

[[noreturn]] void Unsupported(DWORD id) {
  throw EPsOPCProviderError(E_INVALIDARG, "Unsupported ItemProperty, %d", static_cast<int>(id));
}

// The name of a state variable's first or last state; empty without states.
std::string StateName(const toolkit::TPsCustomState& state, bool last) {
  const std::vector<std::string> names = state.StateNames();
  if (names.empty())
    return std::string();
  return last ? names.back() : names.front();
}

// A state variable's range is the names of its states: texts, which keep
// their type where the row asks for a number.
bool KeepsItsType(DWORD id, const vcl::TComponent* component) {
  return (id == 102 || id == 103) &&
         dynamic_cast<const toolkit::TPsCustomState*>(component) != nullptr;
}

[[noreturn]] void InvalidProperty(DWORD id) {
  throw EPsOPCProviderError(OPC_E_INVALID_PID, "Invalid property: %d", static_cast<int>(id));
}

// The variant type a value of the toolkit's has as a COM variant.
VARTYPE VarTypeOf(const PsVariant& value) {
  platform::com::OleVariant variant;
  PsVariantToVariant(value, *variant);
  return variant->vt;
}

// The item, its kind first; EPsOPCProviderError E_INVALIDARG without one.
struct TItem {
  TPsOPCItemKind Kind;
  vcl::TComponent* Component = nullptr;
  TPsVarPropType VarProp = toolkit::vpValue;
};

TItem ResolveItem(TPsOPCProvider& server, LPCWSTR itemID) {
  if (!itemID)
    throw EPsOPCProviderError("No item ID given", E_INVALIDARG);
  TItem item{};
  item.Kind = server.FindItem(WideToUtf8(itemID), item.Component, item.VarProp);
  return item;
}

// Clears the two lists a per-property call returns; E_INVALIDARG when one
// of them or the asked ids are missing, or no id or too many are asked for.
template <class T>
HRESULT StartPropertyLists(T** values, HRESULT** errors, const DWORD* ids, DWORD count) {
  if (values)
    *values = nullptr;
  if (errors)
    *errors = nullptr;
  if (!values || !errors || !ids || count == 0 || count > TPsOPCAlloc::MaxListCount)
    return E_INVALIDARG;
  return S_OK;
}

// Frees the out arrays of a failed call unless released.
template <class T>
struct TaskList {
  T* list = nullptr;
  ~TaskList() { TPsOPCAlloc::FreeList(list); }
  T* Release() { return std::exchange(list, nullptr); }
};

}  // namespace

PsVariant GetComponentPropertyValue(TPsOPCProvider& server, DWORD id, vcl::TComponent* component,
                                    TPsVarPropType varProp) {
  auto* variable = dynamic_cast<TPsVar*>(component);
  if (!variable) {
    if (id != 101)
      Unsupported(id);
    return PsVariant(component->Name());
  }
  const auto property = [&](TPsVarPropType prop) { return variable->GetPropSnapshot(prop).Value; };
  switch (id) {
    case 1:
      return PsVariant::Smallint(static_cast<int16_t>(VarTypeOf(property(varProp))));
    case 2:
      return property(toolkit::vpValue);
    case 3:
      return PsVariant::Smallint(static_cast<int16_t>(
          PsVarQualityToOPCQuality(variable->GetPropSnapshot(varProp).Quality)));
    case 4:
      return PsVariant::Date(variable->GetPropSnapshot(varProp).Timestamp);
    case 5:
      return PsVariant(static_cast<int32_t>(server.GetComponentAccessRights(variable, varProp)));
    case 6:
      return PsVariant(0.0);
    case 100:
      return property(toolkit::vpEngUnit);
    case 101:
      return property(toolkit::vpCaption);
    case 102:
    case 103:
      if (const auto* state = dynamic_cast<const toolkit::TPsCustomState*>(variable))
        return PsVariant(StateName(*state, id == 102));
      if (const auto* number = dynamic_cast<const toolkit::TPsCustomInteger*>(variable))
        return PsVariant(id == 102 ? number->GetRangeMax() : number->GetRangeMin());
      [[fallthrough]];
    case 104:
    case 105:
      if (const auto* number = dynamic_cast<const toolkit::TPsCustomFloat*>(variable))
        return PsVariant(id == 102 || id == 104 ? number->RangeMax() : number->RangeMin());
      Unsupported(id);
    case 106:
    case 107:
      if (const auto* flag = dynamic_cast<const toolkit::TPsBool*>(variable))
        return PsVariant(id == 106 ? flag->StringValueTrue() : flag->StringValueFalse());
      Unsupported(id);
    case 108:
      return PsVariant(toolkit::GetLocalUTCOffset());
    case 300: {
      const PsVariant state = property(toolkit::vpAlarmState);
      return PsVariant(variable->GetVarPropValueAsString(toolkit::vpAlarmState, state));
    }
    case 301:
      return property(toolkit::vpAlarmHelp);
    case 307:
      return property(toolkit::vpAlarmHigh);
    case 308:
      return property(toolkit::vpWarnHigh);
    case 309:
      return property(toolkit::vpWarnLow);
    case 310:
      return property(toolkit::vpAlarmLow);
    default:
      Unsupported(id);
  }
}

HRESULT TPsOPCProviderClient::QueryAvailableProperties(LPWSTR szItemID, DWORD* pdwCount,
                                                       DWORD** ppPropertyIDs,
                                                       LPWSTR** ppDescriptions,
                                                       VARTYPE** ppvtDataTypes) {
  return ComGuard([&] {
    if (pdwCount)
      *pdwCount = 0;
    if (ppPropertyIDs)
      *ppPropertyIDs = nullptr;
    if (ppDescriptions)
      *ppDescriptions = nullptr;
    if (ppvtDataTypes)
      *ppvtDataTypes = nullptr;
    if (!pdwCount || !ppPropertyIDs || !ppDescriptions || !ppvtDataTypes)
      return E_INVALIDARG;
    const ServerCall call(*this);
    TPsOPCProvider& server = call.Required();
    const TItem item = ResolveItem(server, szItemID);
    const size_t rows = RowCount(item.Kind);
    TaskList<DWORD> ids;
    TaskList<LPWSTR> descriptions;
    TaskList<VARTYPE> types;
    TPsOPCAlloc::AllocList(ids.list, static_cast<int64_t>(rows));
    TPsOPCAlloc::AllocList(descriptions.list, static_cast<int64_t>(rows));
    TPsOPCAlloc::AllocList(types.list, static_cast<int64_t>(rows));
    DWORD count = 0;
    try {
      for (size_t row = 0; row < rows; ++row) {
        const TPsOPCItemProperty& property = kItemProperties[row];
        if (!Applies(property, item.Component))
          continue;
        VARTYPE type = property.DataType;
        if (type == VT_EMPTY)
          type = server.GetComponentDataType(item.Component, property.VarProp);
        ids.list[count] = property.ID;
        types.list[count] = type;
        descriptions.list[count] = WideToTaskMem(Utf8ToWide(property.Description));
        if (!descriptions.list[count])
          throw vcl::EOutOfMemory("Out of memory");
        ++count;
      }
    } catch (...) {
      for (DWORD i = 0; i < count; ++i)
        CoTaskMemFree(descriptions.list[i]);
      throw;
    }
    *pdwCount = count;
    *ppPropertyIDs = ids.Release();
    *ppDescriptions = descriptions.Release();
    *ppvtDataTypes = types.Release();
    return S_OK;
  });
}

HRESULT TPsOPCProviderClient::GetItemProperties(LPWSTR szItemID, DWORD dwCount,
                                                DWORD* pdwPropertyIDs, VARIANT** ppvData,
                                                HRESULT** ppErrors) {
  return ComGuard([&] {
    const HRESULT refused = StartPropertyLists(ppvData, ppErrors, pdwPropertyIDs, dwCount);
    if (refused != S_OK)
      return refused;
    const ServerCall call(*this);
    TPsOPCProvider& server = call.Required();
    TaskList<HRESULT> errors;
    TaskList<VARIANT> values;
    TPsOPCAlloc::AllocList(errors.list, dwCount);
    TPsOPCAlloc::AllocList(values.list, dwCount);
    try {
      const TItem item = ResolveItem(server, szItemID);
      for (DWORD i = 0; i < dwCount; ++i) {
        const TPsOPCItemProperty* row = FindRow(item.Kind, pdwPropertyIDs[i]);
        if (!row)
          InvalidProperty(pdwPropertyIDs[i]);
        PsVariant value =
            GetComponentPropertyValue(server, pdwPropertyIDs[i], item.Component, item.VarProp);
        if (row->DataType != VT_EMPTY && !KeepsItsType(row->ID, item.Component))
          value = value.CastTo(row->DataType);
        PsVariantToVariant(value, values.list[i]);
        errors.list[i] = S_OK;
      }
    } catch (...) {
      for (DWORD i = 0; i < dwCount; ++i)
        VariantClear(&values.list[i]);
      throw;
    }
    *ppvData = values.Release();
    *ppErrors = errors.Release();
    return S_OK;
  });
}

HRESULT TPsOPCProviderClient::LookupItemIDs(LPWSTR szItemID, DWORD dwCount, DWORD* pdwPropertyIDs,
                                            LPWSTR** ppszNewItemIDs, HRESULT** ppErrors) {
  return ComGuard([&] {
    const HRESULT refused = StartPropertyLists(ppszNewItemIDs, ppErrors, pdwPropertyIDs, dwCount);
    if (refused != S_OK)
      return refused;
    const ServerCall call(*this);
    TPsOPCProvider& server = call.Required();
    TaskList<HRESULT> errors;
    TaskList<LPWSTR> itemIDs;
    TPsOPCAlloc::AllocList(errors.list, dwCount);
    TPsOPCAlloc::AllocList(itemIDs.list, dwCount);
    try {
      const TItem item = ResolveItem(server, szItemID);
      for (DWORD i = 0; i < dwCount; ++i) {
        const DWORD id = pdwPropertyIDs[i];
        if (id < 7)
          throw EPsOPCProviderError("ItemID  not available for standard properties",
                                    OPC_E_INVALID_PID);
        const TPsOPCItemProperty* row = FindRow(item.Kind, id);
        if (!row)
          InvalidProperty(id);
        if (row->VarProp == vpOther || row->VarProp == vpOther2)
          throw EPsOPCProviderError(row->VarProp == vpOther ? E_FAIL : OPC_E_INVALID_PID,
                                    "No ItemID available for \"%s\"", WideToUtf8(szItemID));
        itemIDs.list[i] =
            WideToTaskMem(Utf8ToWide(server.VarPropToItemID(row->VarProp, item.Component)));
        if (!itemIDs.list[i])
          throw vcl::EOutOfMemory("Out of memory");
      }
    } catch (...) {
      for (DWORD i = 0; i < dwCount; ++i)
        CoTaskMemFree(itemIDs.list[i]);
      throw;
    }
    *ppszNewItemIDs = itemIDs.Release();
    *ppErrors = errors.Release();
    return S_OK;
  });
}

}  // namespace opcserver
