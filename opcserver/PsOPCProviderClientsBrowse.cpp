// Browsing of unit PsOPCProviderClients: a client's copy of the address
// space with its browse position, and the name filter.
#include <string_view>

#include "opcserver/PsOPC.h"
#include "opcserver/PsOPCProviderClients.h"
#include "toolkit/Debugs.h"
#include "vcl/SysUtils.h"

namespace opcserver {
namespace {

using platform::com::WideToUtf8;

[[noreturn]] void NotAValidPosition() {
  throw EPsOPCProviderError("Not a valid position.", E_INVALIDARG);
}

}  // namespace

bool IsMatch(std::string_view name, std::string_view filter) {
  const size_t star = filter.find('*');
  if (star == std::string_view::npos)
    return name == filter;
  if (filter == "*")
    return true;
  if (star == 0) {
    std::string_view rest = filter.substr(1);
    if (rest.find('*') == std::string_view::npos) {
      const size_t found = name.find(rest);
      return found != std::string_view::npos && found + rest.size() == name.size();
    }
    rest.remove_suffix(1);
    return name.find(rest) != std::string_view::npos;
  }
  if (star == filter.size() - 1)
    return name.substr(0, star) == filter.substr(0, star);
  return false;
}

TPsOPCProviderClientAddressSpace::TPsOPCProviderClientAddressSpace(TPsOPCProviderClient& client,
                                                                   TPsOPCProvider& server)
    : TPsOPCProviderAddressSpace(&server), client_(client), server_(server) {
  SetAutoAddModules(false);
  SetWatchComponents(false);
  TPsOPCProviderAddressSpace& original = server_.AddressSpace();
  {
    const TreeLock lock(original);
    SetPathSeparator(original.PathSeparator());
    SetQuoteChar(original.QuoteChar());
  }
  Refresh(true);
}

HRESULT TPsOPCProviderClientAddressSpace::QueryInterface(REFIID riid, void** ppvObject) {
  return client_.QueryInterface(riid, ppvObject);
}

ULONG TPsOPCProviderClientAddressSpace::AddRef() {
  return client_.AddRef();
}

ULONG TPsOPCProviderClientAddressSpace::Release() {
  return client_.Release();
}

bool TPsOPCProviderClientAddressSpace::NeedsRefresh() {
  TPsOPCProviderAddressSpace& original = server_.AddressSpace();
  original.Refresh(false);
  return TPsOPCProviderAddressSpace::NeedsRefresh() || ChangeCount() < original.ChangeCount();
}

void TPsOPCProviderClientAddressSpace::DoRefresh() {
  TPsOPCProviderAddressSpace& original = server_.AddressSpace();
  const TreeLock lock(original);
  original.AssignToTree(this, -1, toolkit::tnAnyNode, -1);
  SetChange(original.ChangeTime(), original.ChangeCount());
  position_ = -1;
}

void TPsOPCProviderClientAddressSpace::Delete(int index) {
  TPsOPCProviderAddressSpace::Delete(index);
  if (index == position_)
    position_ = -1;
}

HRESULT TPsOPCProviderClientAddressSpace::QueryOrganization(OPCNAMESPACETYPE* pNameSpaceType) {
  if (!pNameSpaceType)
    return E_INVALIDARG;
  *pNameSpaceType = OPC_NS_HIERARCHIAL;
  return S_OK;
}

HRESULT TPsOPCProviderClientAddressSpace::ChangeBrowsePosition(OPCBROWSEDIRECTION dwBrowseDirection,
                                                               LPCWSTR szString) {
  return ComGuard([&] {
    const TPsOPCProviderClient::ServerCall call(client_);
    call.Required();
    const std::string name = WideToUtf8(szString);
    const TreeLock lock(*this);
    if (position_ == -1)
      Refresh(false);
    switch (dwBrowseDirection) {
      case OPC_BROWSE_UP:
        if (position_ == -1)
          return E_FAIL;
        position_ = GetParentID(position_);
        break;
      case OPC_BROWSE_DOWN: {
        const int child = IndexOfChild(position_, name);
        if (child < 0 || !HasChildren(child))
          NotAValidPosition();
        position_ = child;
        break;
      }
      case OPC_BROWSE_TO: {
        if (name.empty()) {
          position_ = -1;
          break;
        }
        const int node = IndexOfPath(name);
        if (node < 0 || !HasChildren(node))
          NotAValidPosition();
        position_ = node;
        break;
      }
      default:
        return E_INVALIDARG;
    }
    if (position_ == -1)
      Refresh(false);
    return S_OK;
  });
}

HRESULT TPsOPCProviderClientAddressSpace::BrowseOPCItemIDs(OPCBROWSETYPE dwBrowseFilterType,
                                                           LPCWSTR szFilterCriteria,
                                                           VARTYPE vtDataTypeFilter,
                                                           DWORD dwAccessRightsFilter,
                                                           LPENUMSTRING* ppIEnumString) {
  return ComGuard([&] {
    if (!ppIEnumString)
      return E_INVALIDARG;
    *ppIEnumString = nullptr;
    const TPsOPCProviderClient::ServerCall call(client_);
    call.Required();
    const TreeLock lock(*this);
    if (position_ == -1)
      Refresh(false);
    if (dwBrowseFilterType != OPC_BRANCH && dwBrowseFilterType != OPC_LEAF &&
        dwBrowseFilterType != OPC_FLAT)
      return E_INVALIDARG;
    // The nodes below the position follow it, deeper than it.
    const int childLevel = GetLevel(position_) + 1;
    std::vector<std::string> names;
    for (int node = position_ + 1; node < Count() && GetLevel(node) >= childLevel; ++node) {
      const bool branch = HasChildren(node);
      if (dwBrowseFilterType == OPC_FLAT) {
        if (!branch)
          names.push_back(GetPathText(node));
      } else if (GetLevel(node) == childLevel && branch == (dwBrowseFilterType == OPC_BRANCH)) {
        names.push_back(GetNodeName(node));
      }
    }
    const std::string filter = vcl::LowerCase(WideToUtf8(szFilterCriteria));
    if (!filter.empty()) {
      std::string pattern;
      for (char c : filter)
        if (c != '[' && c != ']')
          pattern += c;
      std::erase_if(
          names, [&](const std::string& name) { return !IsMatch(vcl::LowerCase(name), pattern); });
    }
    if (dwAccessRightsFilter == OPC_WRITEABLE || vtDataTypeFilter != VT_EMPTY) {
      TPsOPCProvider& server = call.Required();
      const std::string path =
          position_ == -1 ? std::string() : GetPathText(position_) + PathSeparator();
      std::erase_if(names, [&](const std::string& name) {
        const std::string itemID = dwBrowseFilterType == OPC_FLAT ? name : path + name;
        vcl::TComponent* component = nullptr;
        toolkit::TPsVarPropType varProp = toolkit::vpValue;
        server.FindItem(itemID, component, varProp);
        if (dwAccessRightsFilter == OPC_WRITEABLE &&
            server.GetComponentAccessRights(component, varProp) == OPC_READABLE)
          return true;
        return vtDataTypeFilter != VT_EMPTY &&
               server.GetComponentDataType(component, varProp) != vtDataTypeFilter;
      });
    }
    const HRESULT result = names.empty() ? S_FALSE : S_OK;
    *ppIEnumString = MakeComObject<TPsStringsEnumerator>(std::move(names)).Detach();
    return result;
  });
}

HRESULT TPsOPCProviderClientAddressSpace::GetItemID(LPWSTR szItemDataID, LPWSTR* szItemID) {
  return ComGuard([&] {
    if (!szItemID)
      return E_INVALIDARG;
    *szItemID = nullptr;
    const TPsOPCProviderClient::ServerCall call(client_);
    call.Required();
    const std::string name = WideToUtf8(szItemDataID);
    const TreeLock lock(*this);
    int node = position_;
    if (!name.empty()) {
      node = IndexOfChild(position_, name);
      if (node < 0)
        node = IndexOfPath(name);
      if (node < 0)
        throw EPsOPCProviderError(E_INVALIDARG, "No such item, \"%s\"", name);
    }
    *szItemID = platform::com::WideToTaskMem(platform::com::Utf8ToWide(GetPathText(node)));
    return *szItemID ? S_OK : E_OUTOFMEMORY;
  });
}

HRESULT TPsOPCProviderClientAddressSpace::BrowseAccessPaths(LPCWSTR, LPENUMSTRING* ppIEnumString) {
  if (ppIEnumString)
    *ppIEnumString = nullptr;
  return E_NOTIMPL;
}

}  // namespace opcserver
