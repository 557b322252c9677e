#include "opcserver/PsOPCProviderItems.h"

#include <string>
#include <vector>

#include "opcserver/PsOPC.h"
#include "opcserver/PsOPCProvider.h"
#include "opcserver/PsOPCProviderGroups.h"
#include "toolkit/Debugs.h"
#include "toolkit/PsUtils.h"
#include "toolkit/PsVarsBasic.h"
#include "toolkit/PsVarsFloat.h"
#include "toolkit/PsVarsState.h"

namespace opcserver {
namespace {

using platform::com::Utf8ToWide;
using platform::com::WideToUtf8;
using toolkit::PsVariant;
using toolkit::TPsVarDataType;

// The toolkit's type of a VARTYPE and whether it asks for an array.
TPsVarDataType DataTypeOf(VARTYPE type) {
  return toolkit::VarTypeToPsVarDataType(type & VT_TYPEMASK);
}
bool IsArrayType(VARTYPE type) {
  return (type & VT_ARRAY) != 0;
}

// A variant array of `count` VARIANTs from index 0, filled by `fill`.
template <class Fill>
void VariantArray(VARIANT& target, LONG count, Fill&& fill) {
  SAFEARRAY* array = SafeArrayCreateVector(VT_VARIANT, 0, static_cast<ULONG>(count));
  if (!array)
    throw vcl::EOutOfMemory("Out of memory");
  platform::com::SafeArrayPtr owner(array);
  for (LONG i = 0; i < count; ++i) {
    platform::com::OleVariant element;
    fill(i, *element);
    OleCheck(SafeArrayPutElement(array, &i, element.Get()));
  }
  target.vt = VT_ARRAY | VT_VARIANT;
  target.parray = owner.release();
}

// The item state as the variable gives it, read under the link's lock and
// applied after it.
struct StateRead {
  bool Linked = false;
  // The value in the item's type; with an error, only the time stamp.
  toolkit::TPsVarSnapshot Snapshot;
  HRESULT Error = S_OK;
};

StateRead ReadState(const toolkit::TPsVarLink& link, TPsVarDataType dataType, bool asArray) {
  return link.ReadVariable([&](const toolkit::TPsVar* variable, toolkit::TPsVarPropType prop) {
    StateRead read;
    read.Linked = variable != nullptr;
    if (!variable)
      return read;
    try {
      read.Snapshot = toolkit::TPsVarLink::SnapshotAs(*variable, prop, dataType, asArray);
    } catch (const std::exception& error) {
      read.Error = ExceptionToResult(error);
      read.Snapshot = toolkit::TPsVarSnapshot{};
      try {
        read.Snapshot.Timestamp = variable->GetPropSnapshot(prop).Timestamp;
      } catch (const std::exception&) {
        // No time stamp either: the error stands.
      }
    }
    return read;
  });
}

// What an item's attributes tell of its variable's range or states, read
// as one under the link's lock.
struct EUDescription {
  OPCEUTYPE Type = OPC_NOENUM;
  // OPC_ANALOG: RangeMin and RangeMax, doubles for a float, 32-bit integers
  // for an integer.
  std::vector<PsVariant> Range;
  // OPC_ENUMERATED: the state texts in list order.
  std::vector<std::string> States;
};

EUDescription DescribeEU(const toolkit::TPsVarLink& link) {
  return link.ReadVariable([](const toolkit::TPsVar* variable, toolkit::TPsVarPropType) {
    EUDescription eu;
    if (const auto* state = dynamic_cast<const toolkit::TPsCustomState*>(variable)) {
      eu.Type = OPC_ENUMERATED;
      eu.States = state->StateNames();
    } else if (variable && variable->RangeMode() != toolkit::rmNone) {
      if (const auto* number = dynamic_cast<const toolkit::TPsCustomFloat*>(variable))
        eu.Range = {PsVariant(number->RangeMin()), PsVariant(number->RangeMax())};
      else if (const auto* integer = dynamic_cast<const toolkit::TPsInteger*>(variable))
        eu.Range = {PsVariant(integer->GetRangeMin()), PsVariant(integer->GetRangeMax())};
      if (!eu.Range.empty())
        eu.Type = OPC_ANALOG;
    }
    return eu;
  });
}

// The EU info of `eu` into `info` (empty).
void FillEUInfo(const EUDescription& eu, VARIANT& info) {
  switch (eu.Type) {
    case OPC_ANALOG:
      VariantArray(info, static_cast<LONG>(eu.Range.size()), [&](LONG i, VARIANT& element) {
        PsVariantToVariant(eu.Range[static_cast<size_t>(i)], element);
      });
      break;
    case OPC_ENUMERATED: {
      SAFEARRAY* array = SafeArrayCreateVector(VT_BSTR, 0, static_cast<ULONG>(eu.States.size()));
      if (!array)
        throw vcl::EOutOfMemory("Out of memory");
      platform::com::SafeArrayPtr owner(array);
      for (LONG i = 0; i < static_cast<LONG>(eu.States.size()); ++i) {
        platform::com::OleVariant text;
        PsVariantToVariant(PsVariant(eu.States[static_cast<size_t>(i)]), *text);
        OleCheck(SafeArrayPutElement(array, &i, text.Get()->bstrVal));
      }
      info.vt = VT_ARRAY | VT_BSTR;
      info.parray = owner.release();
      break;
    }
    default:
      break;
  }
}

}  // namespace

// ---- TPsOPCCustomItem ---------------------------------------------------------------

TPsOPCCustomItem::TPsOPCCustomItem() {
  VariantInit(&state_.vDataValue);
}

TPsOPCCustomItem::~TPsOPCCustomItem() {
  VariantClear(&state_.vDataValue);
}

std::string TPsOPCCustomItem::GetAccessPath() const {
  const std::lock_guard lock(lock_);
  return accessPath_;
}

std::string TPsOPCCustomItem::GetItemID() const {
  const std::lock_guard lock(lock_);
  return itemID_;
}

HRESULT TPsOPCCustomItem::Error() const {
  const std::lock_guard lock(lock_);
  return error_;
}

VARTYPE TPsOPCCustomItem::GetDataType() {
  const VARTYPE requested = requestedDataType_;
  return requested != VT_EMPTY ? requested : GetCanonicalDataType();
}

void TPsOPCCustomItem::SetAccessPath(const std::string& path) {
  {
    const std::lock_guard lock(lock_);
    if (path == accessPath_)
      return;
    accessPath_ = path;
  }
  Config();
}

void TPsOPCCustomItem::SetItemID(const std::string& itemID) {
  {
    const std::lock_guard lock(lock_);
    if (itemID == itemID_)
      return;
    itemID_ = itemID;
  }
  Config();
}

void TPsOPCCustomItem::SetActive(bool active) {
  if (active_.exchange(active ? 1 : 0) != (active ? 1 : 0))
    SetItemActive();
}

void TPsOPCCustomItem::SetClientHandle(OPCHANDLE handle) {
  if (clientHandle_.exchange(handle) != handle)
    SetItemClientHandle();
}

void TPsOPCCustomItem::SetDataType(VARTYPE dataType) {
  if (dataType != GetDataType())
    SetRequestedDataType(dataType);
}

void TPsOPCCustomItem::SetRequestedDataType(VARTYPE dataType) {
  if (dataType == requestedDataType_)
    return;
  SetItemDataType(dataType);
  requestedDataType_ = dataType;
}

bool IsValidDataType(VARTYPE dataType) {
  switch (DataTypeOf(dataType)) {
    case toolkit::vdtNull:
    // No value converts to these: an item of one would fail every read.
    case toolkit::vdtDispatch:
    case toolkit::vdtUnknown:
    case toolkit::vdtDecimal:
    case toolkit::vdtUndefined:
    case toolkit::vdtUnsupported:
      return false;
    default:
      return true;
  }
}

// ---- TPsOPCProviderItem -------------------------------------------------------------

TPsOPCProviderItem::TPsOPCProviderItem(TPsOPCProviderGroup* group)
    : link_(std::make_unique<toolkit::TPsVarLink>()), group_(group) {
  if (!group)
    throw vcl::EAssertionFailed("TPsOPCProviderItem: no group");
  link_->SetActive(false);
  link_->OnChange = [this](vcl::TObject*) { SetItemState(); };
  link_->OnConfigChanged = [this](vcl::TObject*) { VarConfig(); };
}

TPsOPCProviderItem::~TPsOPCProviderItem() {
  const std::lock_guard lock(lock_);
  active_ = 0;
  link_->OnChange = nullptr;
  link_->OnConfigChanged = nullptr;
  link_->SetActive(false);
  link_.reset();
}

TPsOPCProviderGroup* TPsOPCProviderItem::Group() const {
  const std::lock_guard lock(lock_);
  return group_;
}

void TPsOPCProviderItem::SetGroup(TPsOPCProviderGroup* group) {
  const std::lock_guard lock(lock_);
  group_ = group;
}

TPsOPCProvider* TPsOPCProviderItem::Server() const {
  const std::lock_guard lock(lock_);
  if (!group_ || group_->Deleted())
    return nullptr;
  TPsOPCProviderClient* client = group_->Client();
  return client ? client->Provider() : nullptr;
}

HRESULT TPsOPCProviderItem::ValidateItemDef(const OPCITEMDEF& definition,
                                            toolkit::TPsVar*& variable,
                                            toolkit::TPsVarPropType& varProp) {
  variable = nullptr;
  varProp = toolkit::vpValue;
  if (!definition.szItemID)
    return E_FAIL;
  try {
    TPsOPCProvider* server = Server();
    if (!server)
      return E_FAIL;
    vcl::TComponent* component = nullptr;
    server->FindItem(WideToUtf8(definition.szItemID), component, varProp);
    variable = dynamic_cast<toolkit::TPsVar*>(component);
    if (!variable)
      return OPC_E_INVALIDITEMID;
  } catch (...) {
    variable = nullptr;
    return CurrentExceptionToResult();
  }
  // Only the empty access path is known.
  if (definition.szAccessPath && definition.szAccessPath[0] != 0)
    return OPC_E_UNKNOWNPATH;
  if (!IsValidDataType(definition.vtRequestedDataType))
    return OPC_E_BADTYPE;
  return S_OK;
}

HRESULT TPsOPCProviderItem::SetOPCItemDef(const OPCITEMDEF& definition) {
  toolkit::TPsVar* variable = nullptr;
  toolkit::TPsVarPropType varProp = toolkit::vpValue;
  const HRESULT result = ValidateItemDef(definition, variable, varProp);
  if (FAILED(result))
    return result;
  {
    const std::lock_guard lock(lock_);
    itemID_ = WideToUtf8(definition.szItemID);
    accessPath_.clear();
    active_ = definition.bActive ? 1 : 0;
    clientHandle_ = definition.hClient;
    blobSize_ = definition.dwBlobSize;
    requestedDataType_ = definition.vtRequestedDataType;
    state_.hClient = definition.hClient;
    link_->SetActive(false);
    link_->SetVariable(variable);
    link_->SetVarProp(varProp);
    link_->SetActive(GetActive());
    canonicalDataType_ = VT_EMPTY;
  }
  Config();
  SetItemState();
  return result;
}

OPCITEMDEF TPsOPCProviderItem::GetOPCItemDef(const platform::com::WideString& itemID) const {
  const std::lock_guard lock(lock_);
  OPCITEMDEF definition{};
  definition.szAccessPath = nullptr;
  definition.szItemID = const_cast<LPWSTR>(itemID.c_str());
  definition.bActive = active_;
  definition.hClient = clientHandle_;
  definition.dwBlobSize = blobSize_;
  definition.pBlob = nullptr;
  definition.vtRequestedDataType = requestedDataType_;
  return definition;
}

void TPsOPCProviderItem::UpdateAccessRights() {
  const std::lock_guard lock(lock_);
  if (itemID_.empty())
    return;
  TPsOPCProvider* server = Server();
  if (!server)
    return;
  // The server's rule reads the variable: the link keeps it meanwhile.
  link_->ReadVariable([&](toolkit::TPsVar* variable, toolkit::TPsVarPropType prop) {
    if (variable)
      accessRights_ = server->GetComponentAccessRights(variable, prop) & 127;
  });
}

VARTYPE TPsOPCProviderItem::GetCanonicalDataType() {
  const std::lock_guard lock(lock_);
  if (canonicalDataType_ == VT_EMPTY) {
    canonicalDataType_ = link_->ReadVariable(
        [](const toolkit::TPsVar* variable, toolkit::TPsVarPropType prop) -> VARTYPE {
          if (!variable)
            return VT_EMPTY;
          return toolkit::PsVarDataTypeToVarType(variable->GetPropDataType(prop),
                                                 variable->PropIsArray(prop));
        });
  }
  return canonicalDataType_;
}

void TPsOPCProviderItem::VarConfig() {
  {
    // The variable may be of another type now: found anew when asked.
    const std::lock_guard lock(lock_);
    canonicalDataType_ = VT_EMPTY;
  }
  Config();
}

void TPsOPCProviderItem::SetItemActive() {
  {
    const std::lock_guard lock(lock_);
    link_->SetActive(GetActive());
  }
  SetItemState();
}

void TPsOPCProviderItem::SetItemClientHandle() {
  const std::lock_guard lock(lock_);
  state_.hClient = clientHandle_;
}

void TPsOPCProviderItem::SetItemDataType(VARTYPE dataType) {
  if (!IsValidDataType(dataType))
    throw vcl::EVariantTypeCastError(vcl::Format("DataType %d not supported", dataType));
  {
    const std::lock_guard lock(lock_);
    requestedDataType_ = dataType;
  }
  SetItemState();
}

FILETIME TPsOPCProviderItem::ConvertTime(vcl::TDateTime utc) const {
  // Under the item lock: the group stays while it is the item's.
  return group_ ? group_->ConvertTimeStamp(utc) : ToFileTime(utc);
}

void TPsOPCProviderItem::SetItemStateValue(WORD quality, const PsVariant& value, HRESULT error,
                                           vcl::TDateTime timeStamp) {
  error_ = error;
  state_.ftTimeStamp = ConvertTime(timeStamp);
  state_.wQuality = quality;
  VariantClear(&state_.vDataValue);
  // A bad value is no value.
  if ((quality & OPC_QUALITY_MASK) != OPC_QUALITY_BAD)
    PsVariantToVariant(value, state_.vDataValue);
}

void TPsOPCProviderItem::SetItemState() {
  {
    const std::lock_guard lock(lock_);
    const VARTYPE type = GetDataType();
    // Read as one: the main thread may free the variable meanwhile.
    const StateRead read = ReadState(*link_, DataTypeOf(type), IsArrayType(type));
    if (!read.Linked) {
      VariantClear(&state_.vDataValue);
      state_ = OPCITEMSTATE{};
      VariantInit(&state_.vDataValue);
    } else {
      HRESULT error = read.Error;
      if (error == S_OK) {
        try {
          SetItemStateValue(PsVarQualityToOPCQuality(read.Snapshot.Quality), read.Snapshot.Value,
                            S_OK, read.Snapshot.Timestamp);
        } catch (const std::exception& failure) {
          error = ExceptionToResult(failure);
        }
      }
      if (error != S_OK) {
        try {
          SetItemStateValue(0, PsVariant(), error, read.Snapshot.Timestamp);
        } catch (const std::exception& again) {
          // A time stamp beyond file times: the state keeps the error.
          error_ = ExceptionToResult(again);
        }
      }
    }
  }
  Change();
}

void TPsOPCProviderItem::Change() {
  if (!GetActive())
    return;
  if (const TChangeEvent::THandler handler = OnChange.Get())
    handler(this);
}

HRESULT TPsOPCProviderItem::GetItemState(OPCITEMSTATE& state, OPCDATASOURCE source) {
  // Before the lock: the refresh tells the group, whose lock comes first.
  if (source == OPC_DS_DEVICE)
    SetItemState();
  const std::lock_guard lock(lock_);
  state.hClient = state_.hClient;
  state.ftTimeStamp = state_.ftTimeStamp;
  state.wQuality = state_.wQuality;
  state.wReserved = 0;
  OleCheck(VariantCopy(&state.vDataValue, &state_.vDataValue));
  if (source == OPC_DS_CACHE && (!GetActive() || !group_ || !group_->Active())) {
    state.ftTimeStamp = ConvertTime(toolkit::NowUTC());
    state.wQuality = OPC_QUALITY_OUT_OF_SERVICE;
    VariantClear(&state.vDataValue);
  }
  return error_;
}

HRESULT TPsOPCProviderItem::SetValue(const VARIANT& value) {
  try {
    // Not under the item lock: the variable tells its other items of the
    // write, and each takes its own lock.
    const VARTYPE type = GetDataType();
    // Written without the link's lock: the item hears its own write and
    // holds the new value at once.
    link_->SetAsDataType(VariantToPsVariant(value), DataTypeOf(type), IsArrayType(type), false);
    return S_OK;
  } catch (...) {
    return CurrentExceptionToResult();
  }
}

void TPsOPCProviderItem::GetItemResult(OPCITEMRESULT& result) {
  result = OPCITEMRESULT{};
  result.hServer = ServerHandle();
  result.vtCanonicalDataType = GetCanonicalDataType();
  result.dwAccessRights = GetAccessRights();
}

OPCEUTYPE TPsOPCProviderItem::GetEUType() const {
  const std::lock_guard lock(lock_);
  return DescribeEU(*link_).Type;
}

void TPsOPCProviderItem::GetEUInfo(VARIANT& info) const {
  const std::lock_guard lock(lock_);
  VariantClear(&info);
  FillEUInfo(DescribeEU(*link_), info);
}

void TPsOPCProviderItem::GetItemAttributes(OPCITEMATTRIBUTES& attributes) {
  const std::lock_guard lock(lock_);
  attributes = OPCITEMATTRIBUTES{};
  VariantInit(&attributes.vEUInfo);
  attributes.szItemID = platform::com::WideToTaskMem(Utf8ToWide(itemID_));
  if (!attributes.szItemID)
    throw vcl::EOutOfMemory("Out of memory");
  try {
    attributes.bActive = active_;
    attributes.hClient = clientHandle_;
    attributes.hServer = serverHandle_;
    attributes.dwAccessRights = accessRights_;
    attributes.dwBlobSize = blobSize_;
    attributes.vtRequestedDataType = requestedDataType_;
    attributes.vtCanonicalDataType = GetCanonicalDataType();
    // Type and info of one read.
    const EUDescription eu = DescribeEU(*link_);
    attributes.dwEUType = eu.Type;
    FillEUInfo(eu, attributes.vEUInfo);
  } catch (...) {
    CoTaskMemFree(attributes.szItemID);
    attributes.szItemID = nullptr;
    throw;
  }
}

}  // namespace opcserver
