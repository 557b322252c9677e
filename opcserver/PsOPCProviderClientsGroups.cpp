// The client object's groups: AddGroup, GetGroupByName, RemoveGroup and
// CreateGroupEnumerator, unique names, and the group list's bookkeeping with
// the server's group count.
//
// Lock order: the group list's lock, then a group's lock. A group's name has
// a leaf lock of its own, so the list reads names without the group lock.
#include <thread>

#include "opcserver/PsOPC.h"
#include "opcserver/PsOPCEnumerators.h"
#include "opcserver/PsOPCProvider.h"
#include "opcserver/PsOPCProviderClients.h"
#include "opcserver/PsOPCProviderGroups.h"
#include "toolkit/Debugs.h"
#include "toolkit/PsUtils.h"

namespace opcserver {
namespace {

using platform::com::WideToUtf8;

bool ListsGroups(OPCENUMSCOPE scope) {
  return scope == OPC_ENUM_PRIVATE_CONNECTIONS || scope == OPC_ENUM_ALL_CONNECTIONS ||
         scope == OPC_ENUM_PRIVATE || scope == OPC_ENUM_ALL;
}

}  // namespace

int TPsOPCProviderClient::IndexOfName(const std::string& name) const {
  const std::lock_guard lock(groupsLock_);
  for (size_t i = 0; i < groups_.size(); ++i)
    if (!groups_[i]->Deleted() && groups_[i]->GroupName() == name)
      return static_cast<int>(i);
  return -1;
}

std::string TPsOPCProviderClient::UniqueGroupName() const {
  const std::lock_guard lock(groupsLock_);
  // "Group" and the letter 'A' + the group count; while that is taken, the
  // next letter, which may pass 'Z' once (to "Group["). Letters past '~'
  // would be no text.
  if (groups_.size() <= static_cast<size_t>('~' - 'A')) {
    for (char letter = static_cast<char>('A' + groups_.size());; ++letter) {
      const std::string name = std::string("Group") + letter;
      if (IndexOfName(name) < 0)
        return name;
      if (letter > 'Z')
        break;
    }
  }
  // Where no letter is left: the lowest free number (one of the first
  // count + 1 is free).
  for (size_t number = 1;; ++number) {
    const std::string name = vcl::Format("Group%d", static_cast<int64_t>(number));
    if (IndexOfName(name) < 0)
      return name;
  }
}

int TPsOPCProviderClient::GetGroupCount() {
  const std::lock_guard lock(groupsLock_);
  return static_cast<int>(groups_.size());
}

ComPtr<TPsOPCProviderGroup> TPsOPCProviderClient::GetGroups(int index) {
  const std::lock_guard lock(groupsLock_);
  if (index < 0 || index >= static_cast<int>(groups_.size()))
    throw vcl::EListError(vcl::Format("List index out of bounds (%d)", index));
  return ComPtr<TPsOPCProviderGroup>(groups_[static_cast<size_t>(index)]);
}

void TPsOPCProviderClient::RenameGroup(TPsOPCProviderGroup* group, const std::string& name) {
  const std::lock_guard lock(groupsLock_);
  const int found = IndexOfName(name);
  if (found >= 0 && groups_[static_cast<size_t>(found)] != group)
    throw EPsOPCProviderGroupDuplicateName(vcl::Format("Name %s already in use.", name));
  group->StoreName(name);
}

void TPsOPCProviderClient::DropGroup(TPsOPCProviderGroup* group, TPsOPCProvider* server) {
  ComPtr<TPsOPCProviderGroup> released;
  {
    const std::lock_guard lock(groupsLock_);
    const auto listed = std::find(groups_.begin(), groups_.end(), group);
    if (listed == groups_.end())
      return;
    if (server)
      server->RemoveGroup(this, group);
    group->FinishGroup();
    std::this_thread::yield();
    groups_.erase(listed);
    group->ClearOwner();
    released = ComPtr<TPsOPCProviderGroup>::Adopt(group);
  }
  // Released outside the list lock: the group may end here.
}

void TPsOPCProviderClient::DropRemovedGroup(TPsOPCProviderGroup* group) {
  const ServerCall call(*this);
  {
    const std::lock_guard lock(groupsLock_);
    // Held again meanwhile: it stays until the next release.
    if (group->RefCount() != 1)
      return;
  }
  DropGroup(group, call.Get());
}

void TPsOPCProviderClient::RemoveAllGroups() {
  const ServerCall call(*this);
  for (;;) {
    TPsOPCProviderGroup* first = nullptr;
    {
      const std::lock_guard lock(groupsLock_);
      if (groups_.empty())
        return;
      first = groups_.front();
    }
    try {
      DropGroup(first, call.Get());
    } catch (const std::exception& error) {
      toolkit::DebugException(error);
      ComPtr<TPsOPCProviderGroup> released;
      const std::lock_guard lock(groupsLock_);
      const auto listed = std::find(groups_.begin(), groups_.end(), first);
      if (listed != groups_.end()) {
        groups_.erase(listed);
        first->ClearOwner();
        released = ComPtr<TPsOPCProviderGroup>::Adopt(first);
      }
    }
  }
}

HRESULT TPsOPCProviderClient::AddGroup(LPCWSTR szName, BOOL bActive, DWORD dwRequestedUpdateRate,
                                       OPCHANDLE hClientGroup, LONG* pTimeBias,
                                       FLOAT* pPercentDeadband, DWORD dwLCID,
                                       OPCHANDLE* phServerGroup, DWORD* pRevisedUpdateRate,
                                       REFIID riid, LPUNKNOWN* ppUnk) {
  return ComGuard([&] {
    if (!phServerGroup || !pRevisedUpdateRate || !ppUnk)
      return E_INVALIDARG;
    *ppUnk = nullptr;
    const ServerCall call(*this);
    TPsOPCProvider& server = call.Required();
    std::string name = szName ? WideToUtf8(szName) : std::string();
    HRESULT result = S_OK;
    {
      // The check, the name and the append under one hold of the list.
      const std::lock_guard lock(groupsLock_);
      if (!name.empty() && IndexOfName(name) >= 0) {
        result = OPC_E_DUPLICATENAME;
      } else {
        if (name.empty())
          name = UniqueGroupName();
        TPsOPCProviderGroup::TInitialState state;
        state.name = name;
        state.active = bActive != 0;
        state.updateRate = dwRequestedUpdateRate;
        state.clientHandle = hClientGroup;
        state.timeBias = pTimeBias;
        state.localTimeWithoutBias = server.LocalTimeWithoutBias;
        state.percentDeadband = pPercentDeadband;
        state.lcid = dwLCID;
        ComPtr<TPsOPCProviderGroup> group = MakeComObject<TPsOPCProviderGroup>(this, state);
        result = group->QueryInterface(riid, reinterpret_cast<void**>(ppUnk));
        if (SUCCEEDED(result)) {
          groups_.push_back(group.Detach());
          TPsOPCProviderGroup* added = groups_.back();
          added->SetServerHandle(server.AddGroup(this, added));
          *phServerGroup = added->ServerHandle();
          *pRevisedUpdateRate = added->UpdateRate();
        }
      }
    }
    Log("IOPCServer.AddGroup(Name=%s, RequestedUpdateRate=%d): Result=$%x", name,
        dwRequestedUpdateRate, result);
    return result;
  });
}

HRESULT TPsOPCProviderClient::GetGroupByName(LPCWSTR szName, REFIID riid, LPUNKNOWN* ppUnk) {
  return ComGuard([&] {
    if (!ppUnk)
      return E_INVALIDARG;
    *ppUnk = nullptr;
    if (!szName)
      return E_INVALIDARG;
    const std::lock_guard lock(groupsLock_);
    const int found = IndexOfName(WideToUtf8(szName));
    if (found < 0 || groups_[static_cast<size_t>(found)]->RefCount() < 1)
      return E_INVALIDARG;
    return groups_[static_cast<size_t>(found)]->QueryInterface(riid,
                                                               reinterpret_cast<void**>(ppUnk));
  });
}

HRESULT TPsOPCProviderClient::RemoveGroup(OPCHANDLE hServerGroup, BOOL bForce) {
  return ComGuard([&] {
    const ServerCall call(*this);
    std::string name = "Unknown";
    HRESULT result = E_INVALIDARG;
    TPsOPCProviderGroup* found = nullptr;
    {
      const std::lock_guard lock(groupsLock_);
      for (TPsOPCProviderGroup* group : groups_)
        if (group->ServerHandle() == hServerGroup && (bForce || !group->Deleted())) {
          found = group;
          break;
        }
      if (found) {
        name = found->GroupName();
        if (!bForce && found->RefCount() >= 2) {
          // Still held by the client program: finished now, gone from the
          // list with its last outside reference.
          found->removalPending_ = true;
          found->FinishGroup();
          result = OPC_S_INUSE;
        } else {
          result = S_OK;
        }
      }
    }
    if (result == S_OK)
      DropGroup(found, call.Get());
    else if (result == OPC_S_INUSE && found->RefCount() == 1)
      // The last outside reference went while the group was being finished.
      DropRemovedGroup(found);
    Log("IOPCServer.RemoveGroup(%s, Force=%s): Result=$%x", name, toolkit::BoolToText(bForce != 0),
        result);
    return result;
  });
}

HRESULT TPsOPCProviderClient::CreateGroupEnumerator(OPCENUMSCOPE dwScope, REFIID riid,
                                                    LPUNKNOWN* ppUnk) {
  return ComGuard([&] {
    if (!ppUnk)
      return E_INVALIDARG;
    *ppUnk = nullptr;
    const bool unknowns = IsEqualIID(riid, IID_IEnumUnknown);
    if (!unknowns && !IsEqualIID(riid, IID_IEnumString))
      return E_NOINTERFACE;
    std::vector<ComPtr<IUnknown>> groups;
    std::vector<std::string> names;
    if (ListsGroups(dwScope)) {
      const std::lock_guard lock(groupsLock_);
      for (TPsOPCProviderGroup* group : groups_) {
        std::string name = group->GroupName();
        if (group->Deleted() || name.empty())
          continue;
        groups.emplace_back(static_cast<IOPCGroupStateMgt*>(group));
        names.push_back(std::move(name));
      }
    }
    const HRESULT result = names.empty() ? S_FALSE : S_OK;
    if (unknowns)
      *ppUnk = static_cast<IEnumUnknown*>(
          MakeComObject<TPsUnknownEnumerator>(std::move(groups)).Detach());
    else
      *ppUnk =
          static_cast<IEnumString*>(MakeComObject<TPsStringsEnumerator>(std::move(names)).Detach());
    return result;
  });
}

}  // namespace opcserver
