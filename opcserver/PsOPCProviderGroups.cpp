#include "opcserver/PsOPCProviderGroups.h"

#include <algorithm>
#include <cmath>

#include "opcserver/PsOPC.h"
#include "opcserver/PsOPCEnumerators.h"
#include "opcserver/PsOPCProvider.h"
#include "opcserver/PsOPCProviderItems.h"
#include "opcserver/PsOPCTransactions.h"
#include "platform/EventLoop.h"
#include "platform/com/ComHandles.h"
#include "toolkit/Debugs.h"
#include "toolkit/PsClasses.h"
#include "toolkit/PsUtils.h"
#include "vcl/Forms.h"

namespace opcserver {
namespace {

using platform::com::Utf8ToWide;
using platform::com::WideToUtf8;

constexpr DWORD kMinUpdateRate = 10;

// Per-item calls take at most this many entries.
bool BadCount(DWORD count) {
  return count == 0 || count > static_cast<DWORD>(TPsOPCAlloc::MaxListCount);
}

}  // namespace

// ---- Life -------------------------------------------------------------------------

TPsOPCProviderGroup::TPsOPCProviderGroup(TPsOPCProviderClient* client, const TInitialState& state)
    : owner_(client), client_(client), gate_(std::make_shared<ChangeGate>()) {
  gate_->group = this;
  StoreName(state.name);
  active_ = state.active;
  updateRate_ = state.updateRate;
  clientHandle_ = state.clientHandle;
  lcid_ = state.lcid;
  if (state.timeBias) {
    timeBias_ = *state.timeBias;
    useLocalTime_ = false;
  } else {
    timeBias_ = 0;
    useLocalTime_ = state.localTimeWithoutBias;
  }
  if (state.percentDeadband)
    percentDeadband_ = *state.percentDeadband;
}

TPsOPCProviderGroup::~TPsOPCProviderGroup() {
  const toolkit::DebugScope trace("TPsOPCProviderGroup.Destroy", this);
  {
    // No item change reaches the group from now on; those in progress end first.
    std::unique_lock lock(gate_->mutex);
    gate_->group = nullptr;
    gate_->idle.wait(lock, [this] { return gate_->inProgress == 0; });
  }
  {
    const GroupLock lock(*this);
    destroying_ = true;
    try {
      FinishGroup();
    } catch (const std::exception& error) {
      toolkit::DebugException(error);
    }
  }
  // No thread outlives the group; none is waited for under its lock, and
  // one that ends its group from inside its own call is not waited for.
  FinishStoppedThreads();
}

HRESULT TPsOPCProviderGroup::QueryInterface(REFIID riid, void** ppvObject) {
  toolkit::DebugValueStr("TPsOPCProviderGroup.QueryInterface", GetInterfaceName(riid));
  return ComObject::QueryInterface(riid, ppvObject);
}

ULONG TPsOPCProviderGroup::Release() {
  ComPtr<TPsOPCProviderClient> owner;
  if (removalPending_)
    owner = HoldOwner();
  const ULONG left = ComObject::Release();
  // Only the client's reference is left: the group leaves its list.
  if (left == 1 && owner)
    owner->DropRemovedGroup(this);
  return left;
}

ComPtr<TPsOPCProviderClient> TPsOPCProviderGroup::HoldOwner() {
  const std::lock_guard lock(ownerMutex_);
  if (owner_ && owner_->TryAddRef())
    return ComPtr<TPsOPCProviderClient>::Adopt(owner_);
  return nullptr;
}

void TPsOPCProviderGroup::ClearOwner() {
  const std::lock_guard lock(ownerMutex_);
  owner_ = nullptr;
}

// ---- State ------------------------------------------------------------------------

std::string TPsOPCProviderGroup::GroupName() const {
  const std::lock_guard lock(nameMutex_);
  return groupName_;
}

void TPsOPCProviderGroup::StoreName(const std::string& name) {
  const std::lock_guard lock(nameMutex_);
  groupName_ = name;
}

LONG TPsOPCProviderGroup::GetTimeBias() const {
  // Windows' sign: UTC = local time + bias.
  return useLocalTime_ ? -toolkit::GetLocalUTCOffset() : timeBias_.load();
}

FILETIME TPsOPCProviderGroup::ConvertTimeStamp(vcl::TDateTime utc) const {
  // No time stays no time.
  if (utc == 0 || std::isnan(utc))
    return FILETIME{};
  const vcl::TDateTime local =
      useLocalTime_ ? toolkit::UTCToLocalTime(utc) : utc - timeBias_ / 60.0 / 24.0;
  return ToFileTime(local);
}

void TPsOPCProviderGroup::SetActive(bool active) {
  if (active_.exchange(active) == active)
    return;
  UpdateItemsActiveState();
  StateChange();
}

void TPsOPCProviderGroup::SetEnabled(bool enabled) {
  const GroupLock lock(*this);
  if (enabled_.exchange(enabled) == enabled)
    return;
  if (enabled)
    CreateDataChangeTransaction();
  else
    ClearDataChangeTransaction();
}

void TPsOPCProviderGroup::SetGroupName(const std::string& name) {
  if (name == GroupName())
    return;
  if (name.empty())
    throw EPsOPCProviderInvalidArg("Empty name not allowed.");
  // Held for the call: its last reference may go on another thread meanwhile.
  const ComPtr<TPsOPCProviderClient> client = Client() ? HoldOwner() : nullptr;
  if (!client) {
    StoreName(name);
    return;
  }
  client->RenameGroup(this, name);
}

void TPsOPCProviderGroup::SetUpdateRate(DWORD rate) {
  rate = std::max(rate, kMinUpdateRate);
  if (updateRate_.exchange(rate) != rate)
    StateChange();
}

void TPsOPCProviderGroup::SetTimeBias(LONG bias) {
  if (!useLocalTime_ && timeBias_ == bias)
    return;
  timeBias_ = bias;
  useLocalTime_ = false;
  StateChange();
  SetItemStates();
}

void TPsOPCProviderGroup::SetPercentDeadband(FLOAT deadband) {
  if (percentDeadband_.exchange(deadband) != deadband)
    StateChange();
}

void TPsOPCProviderGroup::SetLCID(LCID lcid) {
  if (lcid_.exchange(lcid) != lcid)
    StateChange();
}

void TPsOPCProviderGroup::StateChange() {
  {
    // The thread computes its wait anew, with the new rate.
    const GroupLock lock(*this);
    if (callbackThread_ && active_)
      callbackThread_->WakeUp();
  }
  if (OnStateChange)
    OnStateChange(this);
}

void TPsOPCProviderGroup::SetItemStates() {
  const GroupLock lock(*this);
  for (TPsOPCProviderItem* item : items_)
    item->SetItemState();
}

void TPsOPCProviderGroup::UpdateItemsActiveState() {
  const GroupLock lock(*this);
  ClearDataChangeTransaction();
  SetItemStates();
  AckAllItems();
  if (callbackThread_)
    callbackThread_->RequestUpdate();
}

// ---- Pending data change ------------------------------------------------------------

void TPsOPCProviderGroup::ClearDataChangeTransaction() {
  const GroupLock lock(*this);
  if (dataChangeTransaction_)
    dataChangeTransaction_->Clear();
}

void TPsOPCProviderGroup::AckAllItems() {
  const GroupLock lock(*this);
  if (!callbackConnected_ || !enabled_ || !active_)
    return;
  CreateDataChangeTransaction();
  for (TPsOPCProviderItem* item : items_)
    if (item->GetActive())
      dataChangeTransaction_->AckItem(item, false);
}

void TPsOPCProviderGroup::ItemChange(TPsOPCProviderItem* item) {
  if (destroying_)
    return;
  const GroupLock lock(*this);
  if (!callbackConnected_ || !active_ || !enabled_ || FindItem(item->ServerHandle()) != item)
    return;
  CreateDataChangeTransaction();
  if (static_cast<int64_t>(items_.size()) > dataChangeTransaction_->Capacity())
    dataChangeTransaction_->SetCapacity(static_cast<int64_t>(items_.size()));
  const bool first = dataChangeTransaction_->Count() == 0;
  dataChangeTransaction_->AckItem(item, false);
  // A thread with nothing pending sleeps until the first change.
  if (first && callbackThread_)
    callbackThread_->WakeUp();
}

void TPsOPCProviderGroup::BindItem(TPsOPCProviderItem* item) {
  item->OnChange = [gate = gate_](TPsOPCProviderItem* changed) {
    TPsOPCProviderGroup* group = nullptr;
    {
      const std::lock_guard lock(gate->mutex);
      group = gate->group;
      if (!group)
        return;
      ++gate->inProgress;
    }
    try {
      group->ItemChange(changed);
    } catch (const std::exception& error) {
      toolkit::DebugException(error);
    }
    const std::lock_guard lock(gate->mutex);
    if (--gate->inProgress == 0)
      gate->idle.notify_all();
  };
}

// ---- Items ------------------------------------------------------------------------

int TPsOPCProviderGroup::GetItemCount() {
  const GroupLock lock(*this);
  return static_cast<int>(items_.size());
}

TPsOPCProviderItem* TPsOPCProviderGroup::GetItems(int index) {
  const GroupLock lock(*this);
  if (index < 0 || index >= static_cast<int>(items_.size()))
    throw vcl::EListError(vcl::Format("List index out of bounds (%d)", index));
  return items_.At(static_cast<size_t>(index));
}

TPsOPCProviderItem* TPsOPCProviderGroup::FindItem(OPCHANDLE serverHandle) {
  const GroupLock lock(*this);
  return items_.Find(serverHandle);
}

std::string TPsOPCProviderGroup::ItemIDOf(OPCHANDLE serverHandle) {
  const GroupLock lock(*this);
  TPsOPCProviderItem* item = FindItem(serverHandle);
  return item ? item->GetItemID() : std::string();
}

void TPsOPCProviderGroup::LogText(const std::string& text) {
  const GroupLock lock(*this);
  if (TPsOPCProviderClient* client = Client())
    client->Log("%s: %s", GroupName(), text);
}

void TPsOPCProviderGroup::DoRequest(const std::string& name, const HRESULT* errors,
                                    const OPCHANDLE* handles, DWORD count, HRESULT result) {
  if (OnRequest)
    OnRequest(this, name, errors, handles, count);
  Log("%s (Handles:[%s], Errors:[%s]) Result=$%x", name, HandleListText(handles, count),
      ErrorListText(errors, count), result);
}

HRESULT TPsOPCProviderGroup::ForEachItem(DWORD count, const OPCHANDLE* serverHandles,
                                         const std::string& name, bool passMissing,
                                         const TItemStep& step, HRESULT** errors) {
  *errors = nullptr;
  if (BadCount(count) || !serverHandles) {
    DoRequest(name, nullptr, nullptr, 0, E_INVALIDARG);
    return E_INVALIDARG;
  }
  HRESULT* list = nullptr;
  TPsOPCAlloc::AllocList(list, count);
  HRESULT result = S_OK;
  try {
    const GroupLock lock(*this);
    for (DWORD i = 0; i < count; ++i) {
      TPsOPCProviderItem* item = FindItem(serverHandles[i]);
      list[i] = item || passMissing ? step(item, i) : OPC_E_INVALIDHANDLE;
      if (FAILED(list[i]))
        result = S_FALSE;
    }
  } catch (...) {
    TPsOPCAlloc::FreeList(list);
    throw;
  }
  *errors = list;
  DoRequest(name, list, serverHandles, count, result);
  return result;
}

HRESULT TPsOPCProviderGroup::AddOrValidateItems(DWORD count, OPCITEMDEF* definitions, bool add,
                                                OPCITEMRESULT** results, HRESULT** errors) {
  if (!results || !errors)
    return E_INVALIDARG;
  *results = nullptr;
  *errors = nullptr;
  if (deleted_)
    return E_FAIL;
  if (BadCount(count) || !definitions)
    return E_INVALIDARG;
  OPCITEMRESULT* resultList = nullptr;
  HRESULT* errorList = nullptr;
  TPsOPCAlloc::AllocList(resultList, count);
  HRESULT result = S_OK;
  toolkit::TPsStringList lines;
  try {
    TPsOPCAlloc::AllocList(errorList, count);
    const GroupLock lock(*this);
    TPsOPCProvider* server = Client() ? Client()->Provider() : nullptr;
    for (DWORD i = 0; i < count; ++i) {
      auto item = std::make_unique<TPsOPCProviderItem>(this);
      errorList[i] = server ? item->SetOPCItemDef(definitions[i]) : E_FAIL;
      if (FAILED(errorList[i])) {
        result = S_FALSE;
        RemoveItemAsync(item.release());
        continue;
      }
      if (!add) {
        item->GetItemResult(resultList[i]);
        resultList[i].hServer = static_cast<OPCHANDLE>(-1);
        RemoveItemAsync(item.release());
        continue;
      }
      item->SetServerHandle(server->NextHandle());
      item->GetItemResult(resultList[i]);
      TPsOPCProviderItem* added = item.release();
      items_.Add(added, added->ServerHandle());
      BindItem(added);
      ItemChange(added);
      added->UpdateAccessRights();
      lines.Add(vcl::Format("%s (ClientHandle=%d ServerHandle=%d)", added->GetItemID(),
                            added->GetClientHandle(), added->ServerHandle()));
    }
  } catch (...) {
    TPsOPCAlloc::FreeList(resultList);
    TPsOPCAlloc::FreeList(errorList);
    throw;
  }
  *results = resultList;
  *errors = errorList;
  if (add)
    Log("IOPCItemMgt.AddItems(%s): Result=$%x", lines.GetDelimitedText(), result);
  return result;
}

void TPsOPCProviderGroup::RemoveItemAsync(TPsOPCProviderItem* item) {
  const GroupLock lock(*this);
  ReleaseItem(item, items_.Remove(item, item->ServerHandle()));
}

void TPsOPCProviderGroup::ReleaseItem(TPsOPCProviderItem* item, bool listed) {
  item->SetActive(false);
  // Its pending change goes with it, whatever client handle it has.
  if (listed && dataChangeTransaction_)
    dataChangeTransaction_->RemoveItem(item);
  item->OnChange = nullptr;
  TPsOPCProviderClient* client = Client();
  TPsOPCProvider* server = client ? client->Provider() : nullptr;
  item->SetGroup(nullptr);
  // The item's variable announces its changes on the main thread: the
  // item is freed there.
  if (server && !platform::MainLoop().IsLoopThread() &&
      vcl::PostMessage(server->Window(), kFreeObjectMessage,
                       reinterpret_cast<uintptr_t>(static_cast<vcl::TObject*>(item)), 0))
    return;
  delete item;
}

void TPsOPCProviderGroup::ChangeClientHandle(TPsOPCProviderItem* item, OPCHANDLE handle) {
  const GroupLock lock(*this);
  // A pending change goes out under the handle the client knows from now on.
  const bool pending = dataChangeTransaction_ && dataChangeTransaction_->RemoveItem(item);
  item->SetClientHandle(handle);
  if (pending)
    dataChangeTransaction_->AckItem(item, false);
}

void TPsOPCProviderGroup::Clear() {
  const GroupLock lock(*this);
  for (TPsOPCProviderItem* item : items_.TakeAll())
    ReleaseItem(item, true);
}

void TPsOPCProviderGroup::FinishGroup() {
  const GroupLock lock(*this);
  callbackConnected_ = false;
  DisconnectCallback();
  deleted_ = true;
  Clear();
  client_ = nullptr;
}

HRESULT TPsOPCProviderGroup::CheckStatus(bool async, const std::string& name) {
  if (deleted_)
    return E_FAIL;
  if (async && !callbackConnected_) {
    Log("%s: No callback!", name);
    return CONNECT_E_NOCONNECTION;
  }
  return S_OK;
}

// ---- IOPCItemMgt --------------------------------------------------------------------

HRESULT TPsOPCProviderGroup::AddItems(DWORD dwCount, OPCITEMDEF* pItemArray,
                                      OPCITEMRESULT** ppAddResults, HRESULT** ppErrors) {
  return ComGuard(
      [&] { return AddOrValidateItems(dwCount, pItemArray, true, ppAddResults, ppErrors); });
}

HRESULT TPsOPCProviderGroup::ValidateItems(DWORD dwCount, OPCITEMDEF* pItemArray, BOOL,
                                           OPCITEMRESULT** ppValidationResults,
                                           HRESULT** ppErrors) {
  return ComGuard([&] {
    return AddOrValidateItems(dwCount, pItemArray, false, ppValidationResults, ppErrors);
  });
}

HRESULT TPsOPCProviderGroup::RemoveItems(DWORD dwCount, OPCHANDLE* phServer, HRESULT** ppErrors) {
  return ComGuard([&] {
    if (!ppErrors)
      return E_INVALIDARG;
    *ppErrors = nullptr;
    const HRESULT result = ForEachItem(
        dwCount, phServer, "IOPCItemMgt.RemoveItems", false,
        [this](TPsOPCProviderItem* item, DWORD) {
          RemoveItemAsync(item);
          return S_OK;
        },
        ppErrors);
    Log("IOPCItemMgt.RemoveItems(%d Items [%s]): Result=$%x", dwCount,
        HandleListText(BadCount(dwCount) ? nullptr : phServer, dwCount), result);
    return result;
  });
}

HRESULT TPsOPCProviderGroup::SetActiveState(DWORD dwCount, OPCHANDLE* phServer, BOOL bActive,
                                            HRESULT** ppErrors) {
  return ComGuard([&] {
    if (!ppErrors)
      return E_INVALIDARG;
    *ppErrors = nullptr;
    if (deleted_)
      return E_FAIL;
    const bool active = bActive != 0;
    const GroupLock lock(*this);
    const HRESULT result = ForEachItem(
        dwCount, phServer, vcl::Format("IOPCItemMgt.SetActiveState(%d)", bActive), false,
        [active](TPsOPCProviderItem* item, DWORD) {
          item->SetActive(active);
          return S_OK;
        },
        ppErrors);
    if (SUCCEEDED(result))
      UpdateItemsActiveState();
    return result;
  });
}

HRESULT TPsOPCProviderGroup::SetClientHandles(DWORD dwCount, OPCHANDLE* phServer,
                                              OPCHANDLE* phClient, HRESULT** ppErrors) {
  return ComGuard([&] {
    if (!ppErrors)
      return E_INVALIDARG;
    *ppErrors = nullptr;
    if (deleted_)
      return E_FAIL;
    if (!phClient)
      return E_INVALIDARG;
    return ForEachItem(
        dwCount, phServer, "IOPCItemMgt.SetClientHandles", false,
        [this, phClient](TPsOPCProviderItem* item, DWORD position) {
          ChangeClientHandle(item, phClient[position]);
          return S_OK;
        },
        ppErrors);
  });
}

HRESULT TPsOPCProviderGroup::SetDatatypes(DWORD dwCount, OPCHANDLE* phServer,
                                          VARTYPE* pRequestedDatatypes, HRESULT** ppErrors) {
  return ComGuard([&] {
    if (!ppErrors)
      return E_INVALIDARG;
    *ppErrors = nullptr;
    if (deleted_)
      return E_FAIL;
    if (!pRequestedDatatypes)
      return E_INVALIDARG;
    const HRESULT result = ForEachItem(
        dwCount, phServer, "IOPCItemMgt.SetDatatypes", false,
        [pRequestedDatatypes](TPsOPCProviderItem* item, DWORD position) {
          // One refused type does not stop the others.
          try {
            item->SetDataType(pRequestedDatatypes[position]);
            return S_OK;
          } catch (...) {
            return CurrentExceptionToResult();
          }
        },
        ppErrors);
    for (DWORD i = 0; *ppErrors && i < dwCount; ++i)
      toolkit::DebugValueStr("SetDatatypes Error", vcl::Format("$%x", (*ppErrors)[i]));
    return result;
  });
}

HRESULT TPsOPCProviderGroup::CreateEnumerator(REFIID riid, LPUNKNOWN* ppUnk) {
  return ComGuard([&] {
    if (!ppUnk)
      return E_INVALIDARG;
    *ppUnk = nullptr;
    if (!IsEqualIID(riid, IID_IEnumOPCItemAttributes))
      return E_INVALIDARG;
    const ComPtr<TPsOPCItemAttributesEnumerator> enumerator =
        MakeComObject<TPsOPCItemAttributesEnumerator>(this);
    *ppUnk = static_cast<IEnumOPCItemAttributes*>(enumerator.Get());
    (*ppUnk)->AddRef();
    return GetItemCount() > 0 ? S_OK : S_FALSE;
  });
}

// ---- IOPCGroupStateMgt ------------------------------------------------------------

HRESULT TPsOPCProviderGroup::GetState(DWORD* pUpdateRate, BOOL* pActive, LPWSTR* ppName,
                                      LONG* pTimeBias, FLOAT* pPercentDeadband, DWORD* pLCID,
                                      OPCHANDLE* phClientGroup, OPCHANDLE* phServerGroup) {
  return ComGuard([&] {
    if (!pUpdateRate || !pActive || !ppName || !pTimeBias || !pPercentDeadband || !pLCID ||
        !phClientGroup || !phServerGroup)
      return E_INVALIDARG;
    *ppName = nullptr;
    LPWSTR name = platform::com::WideToTaskMem(Utf8ToWide(GroupName()));
    if (!name)
      return E_OUTOFMEMORY;
    *pUpdateRate = updateRate_;
    *pActive = active_ ? 1 : 0;
    *ppName = name;
    *pTimeBias = GetTimeBias();
    *pPercentDeadband = percentDeadband_;
    *pLCID = lcid_;
    *phClientGroup = clientHandle_;
    *phServerGroup = serverHandle_;
    return S_OK;
  });
}

HRESULT TPsOPCProviderGroup::SetState(DWORD* pRequestedUpdateRate, DWORD* pRevisedUpdateRate,
                                      BOOL* pActive, LONG* pTimeBias, FLOAT* pPercentDeadband,
                                      DWORD* pLCID, OPCHANDLE* phClientGroup) {
  return ComGuard([&] {
    if (deleted_)
      return E_FAIL;
    HRESULT result = S_OK;
    vcl::TStringList applied;
    if (pRequestedUpdateRate) {
      SetUpdateRate(*pRequestedUpdateRate);
      if (pRevisedUpdateRate)
        *pRevisedUpdateRate = updateRate_;
      if (*pRequestedUpdateRate != updateRate_)
        result = OPC_S_UNSUPPORTEDRATE;
      applied.Add(vcl::Format("pRequestedUpdateRate=%d", *pRequestedUpdateRate));
    }
    if (pTimeBias) {
      SetTimeBias(*pTimeBias);
      applied.Add(vcl::Format("pTimeBias=%d", *pTimeBias));
    }
    if (pPercentDeadband) {
      SetPercentDeadband(*pPercentDeadband);
      applied.Add(vcl::Format("pPercentDeadBand=%g", static_cast<double>(*pPercentDeadband)));
    }
    if (pLCID) {
      SetLCID(*pLCID);
      applied.Add(vcl::Format("pLCID=%d", *pLCID));
    }
    if (phClientGroup) {
      clientHandle_ = *phClientGroup;
      applied.Add(vcl::Format("phClientGroup=%d", *phClientGroup));
    }
    if (pActive) {
      SetActive(*pActive != 0);
      applied.Add(vcl::Format("pActive=%s", toolkit::BoolToText(active_)));
    }
    Log("IOPCGroupStateMgt.SetState(%s): Result=$%x", applied.CommaText(), result);
    return result;
  });
}

HRESULT TPsOPCProviderGroup::SetName(LPCWSTR szName) {
  return ComGuard([&] {
    if (deleted_)
      return E_FAIL;
    if (!szName)
      return E_INVALIDARG;
    Log("IOPCGroupStateMgt.SetName(%s)", GroupName());
    SetGroupName(WideToUtf8(szName));
    return S_OK;
  });
}

HRESULT TPsOPCProviderGroup::CloneGroup(LPCWSTR szName, REFIID riid, LPUNKNOWN* ppUnk) {
  return ComGuard([&] {
    if (!ppUnk)
      return E_INVALIDARG;
    *ppUnk = nullptr;
    // Held for the call: its last reference may go on another thread meanwhile.
    const ComPtr<TPsOPCProviderClient> client = Client() ? HoldOwner() : nullptr;
    if (deleted_ || !client)
      return E_FAIL;
    // A clone of a group in local time is in local time too: a bias would
    // hold the offset of today for time stamps of every season.
    LONG timeBias = timeBias_;
    LONG* bias = useLocalTime_ ? nullptr : &timeBias;
    FLOAT deadband = percentDeadband_;
    OPCHANDLE serverGroup = 0;
    DWORD revisedRate = 0;
    ComPtr<IUnknown> clone;
    HRESULT result =
        static_cast<IOPCServer*>(client.Get())
            ->AddGroup(szName ? szName : OLESTR(""), FALSE, updateRate_, clientHandle_, bias,
                       &deadband, lcid_, &serverGroup, &revisedRate, riid, clone.Receive());
    if (FAILED(result))
      return result;
    // The definitions of the items, each pointing at a copy of its ID.
    std::vector<platform::com::WideString> itemIDs;
    std::vector<OPCITEMDEF> definitions;
    {
      const GroupLock lock(*this);
      itemIDs.reserve(items_.size());
      for (TPsOPCProviderItem* item : items_) {
        itemIDs.push_back(Utf8ToWide(item->GetItemID()));
        definitions.push_back(item->GetOPCItemDef(itemIDs.back()));
      }
    }
    if (!definitions.empty()) {
      const ComPtr<IOPCItemMgt> items = CheckedCast<IOPCItemMgt>(clone.Get());
      OPCITEMRESULT* results = nullptr;
      HRESULT* errors = nullptr;
      result = items->AddItems(static_cast<DWORD>(definitions.size()), definitions.data(), &results,
                               &errors);
      CoTaskMemFree(results);
      CoTaskMemFree(errors);
      if (FAILED(result)) {
        // A clone without its items is no clone.
        static_cast<IOPCServer*>(client.Get())->RemoveGroup(serverGroup, TRUE);
        return result;
      }
    }
    *ppUnk = clone.Detach();
    return result;
  });
}

// ---- IOPCSyncIO ------------------------------------------------------------------

HRESULT TPsOPCProviderGroup::Read(OPCDATASOURCE dwSource, DWORD dwCount, OPCHANDLE* phServer,
                                  OPCITEMSTATE** ppItemValues, HRESULT** ppErrors) {
  return ComGuard([&] {
    if (!ppItemValues || !ppErrors)
      return E_INVALIDARG;
    *ppItemValues = nullptr;
    *ppErrors = nullptr;
    if (BadCount(dwCount) || !phServer || !IsDataSource(dwSource))
      return E_INVALIDARG;
    const std::string name = "IOPCSyncIO.Read";
    HRESULT result = CheckStatus(false, name);
    if (FAILED(result))
      return result;
    TPsOPCProviderTransaction transaction(this, 0, tkRead);
    transaction.Source = dwSource;
    transaction.SetCapacity(dwCount);
    HRESULT* errors = nullptr;
    {
      const GroupLock lock(*this);
      result = ForEachItem(
          dwCount, phServer, name, true,
          [&transaction](TPsOPCProviderItem* item, DWORD) {
            return transaction.Error(transaction.AckItem(item, true));
          },
          &errors);
    }
    OPCITEMSTATE* states = nullptr;
    try {
      TPsOPCAlloc::AllocItemStateList(states, dwCount);
      for (int32_t i = 0; i < transaction.Count(); ++i) {
        states[i].hClient = transaction.ClientHandle(i);
        states[i].ftTimeStamp = transaction.TimeStamp(i);
        states[i].wQuality = transaction.Quality(i);
        OleCheck(VariantCopy(&states[i].vDataValue, &transaction.Value(i)));
      }
    } catch (...) {
      TPsOPCAlloc::FreeItemStateList(states, dwCount);
      TPsOPCAlloc::FreeList(errors);
      throw;
    }
    *ppItemValues = states;
    *ppErrors = errors;
    result = transaction.MasterError();
    Log("%s: Result=$%x", name, result);
    return result;
  });
}

HRESULT TPsOPCProviderGroup::Write(DWORD dwCount, OPCHANDLE* phServer, VARIANT* pItemValues,
                                   HRESULT** ppErrors) {
  return ComGuard([&] {
    if (!ppErrors)
      return E_INVALIDARG;
    *ppErrors = nullptr;
    if (BadCount(dwCount) || !phServer || !pItemValues)
      return E_INVALIDARG;
    const std::string name = "IOPCSyncIO.Write";
    HRESULT result = CheckStatus(false, name);
    if (FAILED(result))
      return result;
    TPsOPCProviderWriteTransaction transaction(this, 0);
    transaction.SetCapacity(dwCount);
    HRESULT* errors = nullptr;
    {
      const GroupLock lock(*this);
      result = ForEachItem(
          dwCount, phServer, name, true,
          [&transaction, pItemValues](TPsOPCProviderItem* item, DWORD position) {
            platform::com::OleVariant value;
            const HRESULT error = AcceptWrite(item, pItemValues[position], *value);
            // Synchronous: one entry per request position.
            transaction.SetError(transaction.Add(item, *value), error);
            return error;
          },
          &errors);
    }
    try {
      if (transaction.Count() > 0 && !SynchronizeTransaction(transaction)) {
        // Nothing reached the variables.
        for (int32_t i = 0; i < transaction.Count(); ++i)
          if (SUCCEEDED(transaction.Error(i)))
            transaction.SetError(i, E_FAIL);
      }
      for (int32_t i = 0; i < transaction.Count(); ++i)
        errors[i] = transaction.Error(i);
    } catch (...) {
      TPsOPCAlloc::FreeList(errors);
      throw;
    }
    *ppErrors = errors;
    result = transaction.MasterError();
    Log("%s: Result=$%x", name, result);
    return result;
  });
}

HRESULT TPsOPCProviderGroup::AcceptWrite(TPsOPCProviderItem* item, const VARIANT& value,
                                         VARIANT& copy) {
  if (!item)
    return OPC_E_INVALIDHANDLE;
  if ((item->GetAccessRights() & OPC_WRITEABLE) == 0)
    return OPC_E_BADRIGHTS;
  // The write is committed on the main thread: by then the caller's memory,
  // which a reference points into, may be gone.
  const HRESULT copied = CopyCallersValue(value, copy);
  if (FAILED(copied))
    return copied;
  if (copy.vt == VT_EMPTY || copy.vt == VT_NULL) {
    VariantClear(&copy);
    return OPC_E_BADTYPE;
  }
  return S_OK;
}

vcl::TWindowHandle TPsOPCProviderGroup::ServerWindow() {
  const GroupLock lock(*this);
  TPsOPCProviderClient* client = Client();
  TPsOPCProvider* server = client ? client->Provider() : nullptr;
  return server ? server->Window() : 0;
}

bool TPsOPCProviderGroup::SynchronizeTransaction(TPsOPCProviderWriteTransaction& transaction) {
  const vcl::TWindowHandle window = ServerWindow();
  if (!window)
    return false;
  // Outside the group lock: the main thread takes it to find the items.
  vcl::SendMessage(window, kCommitMessage, reinterpret_cast<uintptr_t>(this),
                   reinterpret_cast<intptr_t>(&transaction));
  return transaction.Committed;
}

void TPsOPCProviderGroup::FinishTransaction(TPsOPCProviderWriteTransaction& transaction) {
  const GroupLock lock(*this);
  for (int32_t i = 0; i < transaction.Count(); ++i) {
    if (FAILED(transaction.Error(i)))
      continue;
    try {
      TPsOPCProviderItem* item = FindItem(transaction.ServerHandle(i));
      if (!item)
        throw EPsOPCProviderInvalidArg("Item removed");
      transaction.SetError(i, item->SetValue(transaction.Value(i)));
    } catch (...) {
      transaction.SetError(i, CurrentExceptionToResult());
    }
  }
  transaction.Committed = true;
}

// ---- IOPCAsyncIO2 (the reads, writes and refreshes are with the callbacks) ---------

HRESULT TPsOPCProviderGroup::SetEnable(BOOL bEnable) {
  return ComGuard([&] {
    const std::string name = vcl::Format("IOPCGroupStateMgt.SetEnable(%d)", bEnable);
    const HRESULT result = CheckStatus(true, name);
    if (FAILED(result))
      return result;
    SetEnabled(bEnable != 0);
    Log("%s: OK", name);
    return S_OK;
  });
}

HRESULT TPsOPCProviderGroup::GetEnable(BOOL* pbEnable) {
  if (!pbEnable)
    return E_INVALIDARG;
  if (!callbackConnected_)
    return CONNECT_E_NOCONNECTION;
  *pbEnable = enabled_ ? 1 : 0;
  return S_OK;
}

}  // namespace opcserver
